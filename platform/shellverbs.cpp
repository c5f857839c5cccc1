#include "platform/shellverbs.h"
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/clipboard.h"

namespace platform {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("shellverbs", text); }
QString quoted(const NativePath &p) { return "\"" + displayPath(p) + "\""; }
bool present(const NativePath &p) {
  struct stat st;
  return ::lstat(p.constData(), &st) == 0;
}
}  // namespace

NativePaths createLinks(const NativePaths &items, QStringList *errors) {
  NativePaths made;
  for (const NativePath &item : items) {
    const NativePath folder = folderOf(item), name = fileNameOf(item);
    bool ok = false;
    for (int n = 1; n < 1000 && !ok; ++n) {
      const NativePath linkName = "Link to " + name + (n == 1 ? NativePath() : " (" + NativePath::number(n) + ")");
      const NativePath link = joinPath(folder, linkName);
      if (::symlink(name.constData(), link.constData()) == 0) {
        made << link;
        ok = true;
      } else if (errno != EEXIST) {
        if (errors) *errors << tr("Cannot create a link to %1: %2.").arg(quoted(item), errnoText(errno));
        break;
      }
    }
  }
  return made;
}

bool isRunnableProgram(const NativePath &path) {
  struct stat st;
  if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.constData(), X_OK) != 0)
    return false;
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[4] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  return (n >= 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
         (n >= 2 && head[0] == '#' && head[1] == '!');
}

bool openItem(const NativePath &path, QString *error) {
  if (!present(path)) {
    if (error) *error = tr("Cannot open %1: %2.").arg(quoted(path), errnoText(ENOENT));
    return false;
  }
  if (isRunnableProgram(path)) {
    // The program's own path, never through a shell, so leading dashes and spaces mean nothing special.
    if (QProcess::startDetached(fromNative(path), {}, fromNative(folderOf(path)))) return true;
    if (error) *error = tr("Cannot run %1.").arg(quoted(path));
    return false;
  }
  if (QDesktopServices::openUrl(QUrl::fromEncoded(fileUri(path)))) return true;
  if (error) *error = tr("There is no program to open %1.").arg(quoted(path));
  return false;
}

NativePath createNewFolder(const NativePath &folder, QString *error) {
  for (int n = 1; n < 10000; ++n) {
    const NativePath name = n == 1 ? NativePath("New Folder") : "New Folder (" + NativePath::number(n) + ")";
    const NativePath path = joinPath(folder, name);
    if (::mkdir(path.constData(), 0777) == 0) return path;
    if (errno != EEXIST) {
      if (error) *error = tr("Cannot create a folder in %1: %2.").arg(quoted(folder), errnoText(errno));
      return {};
    }
  }
  if (error) *error = tr("Cannot create a folder in %1: too many new folders.").arg(quoted(folder));
  return {};
}

bool renameItem(const NativePath &path, const QString &newName, NativePath *newPath, QString *error) {
  auto fail = [&](const QString &why) {
    if (error) *error = why;
    return false;
  };
  const QString trimmed = newName;
  if (trimmed.isEmpty() || trimmed == "." || trimmed == "..")
    return fail(tr("%1 is not a valid name.").arg("\"" + trimmed + "\""));
  if (trimmed.contains('/') || trimmed.contains(QChar(0)))
    return fail(tr("A name cannot contain the character \"/\"."));
  const NativePath name = toNative(trimmed);
  const NativePath target = joinPath(folderOf(path), name);
  if (target == path) {
    if (newPath) *newPath = path;
    return true;
  }
  if (::renameat2(AT_FDCWD, path.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) != 0) {
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {  // file systems without the flag
      if (present(target)) err = EEXIST;
      else if (::rename(path.constData(), target.constData()) == 0) err = 0;
      else err = errno;
    }
    if (err == EEXIST)
      return fail(tr("Cannot rename %1: an item named %2 already exists.").arg(quoted(path), "\"" + trimmed + "\""));
    if (err) return fail(tr("Cannot rename %1: %2.").arg(quoted(path), errnoText(err)));
  }
  if (newPath) *newPath = target;
  return true;
}

namespace {
void countInto(const NativePath &path, FolderSize &s, const std::atomic<bool> *cancel,
               const std::function<void(const FolderSize &)> &tick, QElapsedTimer &clock, int depth) {
  if (cancel && cancel->load()) return;
  struct stat st;
  if (::lstat(path.constData(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ++s.files;
    s.bytes += st.st_size;
    return;
  }
  ++s.folders;
  if (tick && clock.elapsed() > 200) {
    clock.restart();
    tick(s);
  }
  if (depth > 2000) return;
  DIR *d = ::opendir(path.constData());
  if (!d) return;
  std::vector<NativePath> names;
  while (dirent *e = ::readdir(d)) {
    const NativePath n(e->d_name);
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  for (const NativePath &n : names) countInto(joinPath(path, n), s, cancel, tick, clock, depth + 1);
}
}  // namespace

FolderSize countSize(const NativePaths &items, const std::atomic<bool> *cancel,
                     const std::function<void(const FolderSize &)> &tick) {
  FolderSize s;
  QElapsedTimer clock;
  clock.start();
  for (const NativePath &p : items) countInto(p, s, cancel, tick, clock, 0);
  return s;
}

TFolderSizeCounter::TFolderSizeCounter(QObject *parent) : QObject(parent) {
  qRegisterMetaType<platform::FolderSize>();
}

TFolderSizeCounter::~TFolderSizeCounter() {
  cancelled_.store(true);
  if (thread_) {
    thread_->wait();
    delete thread_;
  }
}

void TFolderSizeCounter::start(const NativePaths &items) {
  if (thread_) return;
  thread_ = QThread::create([this, items] {
    const FolderSize total = countSize(items, &cancelled_, [this](const FolderSize &s) {
      QMetaObject::invokeMethod(this, [this, s] { emit progress(s); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(
        this,
        [this, total] {
          done_ = true;
          result_ = total;
          emit finished(total);
        },
        Qt::QueuedConnection);
  });
  thread_->start();
}

}  // namespace platform
