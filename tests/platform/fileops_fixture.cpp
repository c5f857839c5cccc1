#include "tests/platform/fileops_fixture.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/common/testenv.h"

namespace fotest {

NativePath newDir(const char *hint) { return platform::toNative(testenv::makeDir(QString::fromLatin1(hint))); }

static void makeFolders(const NativePath &folder) {
  struct stat st;
  if (folder.isEmpty() || ::lstat(folder.constData(), &st) == 0) return;
  makeFolders(platform::folderOf(folder));
  ::mkdir(folder.constData(), 0755);
}

void writeBytes(const NativePath &path, const QByteArray &bytes) {
  makeFolders(platform::folderOf(path));
  const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  qint64 done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (n <= 0) break;
    done += n;
  }
  ::close(fd);
}

QByteArray readBytes(const NativePath &path) {
  QByteArray out;
  const int fd = ::open(path.constData(), O_RDONLY);
  if (fd < 0) return out;
  char buf[1 << 16];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
  ::close(fd);
  return out;
}

bool exists(const NativePath &path) {
  struct stat st;
  return ::lstat(path.constData(), &st) == 0;
}

bool isLink(const NativePath &path) {
  struct stat st;
  return ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::set<QByteArray> names(const NativePath &folder) {
  std::set<QByteArray> out;
  DIR *d = ::opendir(folder.constData());
  if (!d) return out;
  while (dirent *e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.insert(QByteArray(e->d_name));
  }
  ::closedir(d);
  return out;
}

bool hasTemporaries(const NativePath &folder) {
  for (const QByteArray &n : names(folder)) {
    if (n.startsWith(".tarnwick-")) return true;
    const NativePath p = platform::joinPath(folder, n);
    struct stat st;
    if (::lstat(p.constData(), &st) == 0 && S_ISDIR(st.st_mode) && hasTemporaries(p)) return true;
  }
  return false;
}

QByteArray pattern(qint64 size, int seed) {
  QByteArray out(size, Qt::Uninitialized);
  quint32 x = 2463534242u + quint32(seed) * 7919u;
  for (qint64 i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = char(x);
  }
  return out;
}

platform::ConflictReply Script::askConflict(const platform::ConflictQuestion &q) {
  conflicts.push_back(q);
  if (conflictReplies.empty()) return {platform::ConflictAnswer::Cancel, false};
  const size_t i = std::min(conflicts.size() - 1, conflictReplies.size() - 1);
  return conflictReplies[i];
}

platform::ErrorAnswer Script::askError(const platform::ErrorQuestion &q) {
  errors.push_back(q);
  return onError;
}

void Script::progress(const platform::TransferProgress &p) {
  if (onProgress) onProgress(p);
}

Tmpfs::Tmpfs(qint64 bytes) {
  char tmpl[] = "/tmp/tarnwick-tmpfs-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    why_ = QStringLiteral("cannot make a mount point");
    return;
  }
  const QByteArray opts = "size=" + QByteArray::number(bytes) + ",mode=0777";
  if (::mount("tarnwick-test", tmpl, "tmpfs", 0, opts.constData()) != 0) {
    why_ = QStringLiteral("cannot mount a tmpfs here (%1); run the tests as root to cover a full disk")
               .arg(QString::fromLocal8Bit(std::strerror(errno)));
    ::rmdir(tmpl);
    return;
  }
  path_ = tmpl;
}

Tmpfs::~Tmpfs() {
  if (path_.isEmpty()) return;
  ::umount2(path_.constData(), MNT_DETACH);
  ::rmdir(path_.constData());
}

SharedDir::SharedDir() {
  char tmpl[] = "/tmp/tarnwick-shared-XXXXXX";
  if (::mkdtemp(tmpl)) {
    ::chmod(tmpl, 0755);
    path_ = tmpl;
  }
}

SharedDir::~SharedDir() {
  if (!path_.isEmpty()) QDir(platform::fromNative(path_)).removeRecursively();
}

bool runningAsRoot() { return ::geteuid() == 0; }

void giveToProbeUser(const NativePath &path) {
  if (runningAsRoot()) {
    if (::chown(path.constData(), 65534, 65534) != 0) std::perror("chown");
  }
}

// The build tree may sit in a folder the unprivileged user cannot enter (root's home): run a copy.
static QString probeForOthers() {
  static SharedDir dir;
  const QString copy = platform::fromNative(dir.path()) + "/fileops_probe";
  if (!QFileInfo::exists(copy)) {
    QFile::copy(testenv::binDir() + "/fileops_probe", copy);
    ::chmod(copy.toLocal8Bit().constData(), 0755);
  }
  return copy;
}

QString runProbe(const QStringList &args, int *rc, bool unprivileged) {
  QString probe = testenv::binDir() + "/fileops_probe";
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (unprivileged && runningAsRoot()) {
    probe = probeForOthers();
    p.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", probe} + args);
  } else {
    p.start(probe, args);
  }
  p.waitForFinished(120000);
  *rc = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAll());
}

}  // namespace fotest
