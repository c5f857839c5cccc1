#include "platform/savefile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error, SaveAccess access) {
  QSaveFile f(path);
  // Unbuffered: every write reports its own short count, and nothing is left to a flush that can fail unseen.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    if (error) *error = f.errorString();
    return false;
  }
  // The temporary is narrowed before a byte is in it: it takes the old file's mode when opened.
  if (access == SaveAccess::OwnerOnly && ::fchmod(f.handle(), S_IRUSR | S_IWUSR) != 0) {
    if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
    f.cancelWriting();
    return false;
  }
  if (f.write(bytes) != bytes.size() || f.size() != bytes.size() || !f.commit()) {
    if (error) *error = f.errorString();
    f.cancelWriting();
    return false;
  }
  return true;
}

}  // namespace platform

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool writeAll(int fd, const QByteArray &bytes) {
  const char *p = bytes.constData();
  qint64 left = bytes.size();
  while (left > 0) {
    const ssize_t w = ::write(fd, p, size_t(left));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    left -= w;
  }
  return true;
}

// Writes the file itself: the space is reserved first, so that a full disk refuses the save before a byte
// of the old content is overwritten.
bool writeInPlace(const QByteArray &target, const QByteArray &bytes, QString *error) {
  const int fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errnoText();
    return false;
  }
  bool ok = true;
  if (!bytes.isEmpty()) {
    const int r = ::posix_fallocate(fd, 0, off_t(bytes.size()));
    if (r != 0 && r != EOPNOTSUPP && r != EINVAL) {
      errno = r;
      ok = false;
    }
  }
  ok = ok && ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, bytes) && ::ftruncate(fd, off_t(bytes.size())) == 0 &&
       ::fsync(fd) == 0;
  if (!ok && error) *error = errnoText();
  ::close(fd);
  return ok;
}

}  // namespace

bool saveFileKeepingAttributes(const QString &path, const QByteArray &bytes, QString *error) {
  QString name = path;
  struct stat st;
  const QByteArray asked = QFile::encodeName(path);
  const bool viaLink = ::lstat(asked.constData(), &st) == 0 && S_ISLNK(st.st_mode);
  if (viaLink) {
    // The file the link leads to is saved, and the link stays; a link that leads nowhere makes its file.
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : info.symLinkTarget();
    if (!target.isEmpty()) name = target;
  }
  const QByteArray target = QFile::encodeName(name);
  if (::stat(target.constData(), &st) != 0) return saveFileAtomically(name, bytes, error);
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = QStringLiteral("Not a regular file");
    return false;
  }
  // A rename would replace a write-protected file as easily as any other: refused as a write would be.
  if (::access(target.constData(), W_OK) != 0) {
    if (error) *error = errnoText();
    return false;
  }
  if (st.st_nlink > 1) return writeInPlace(target, bytes, error);

  const QByteArray dir = QFile::encodeName(QFileInfo(name).absolutePath());
  QByteArray temp = dir + "/." + QFile::encodeName(QFileInfo(name).fileName()) + ".tarnwick-save-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    // No new file may be made beside it (a folder we may not write): the file itself is written.
    if (errno == EACCES || errno == EPERM || errno == EROFS) return writeInPlace(target, bytes, error);
    if (error) *error = errnoText();
    return false;
  }
  auto fail = [&](bool inPlace) {
    const int saved = errno;
    ::close(fd);
    ::unlink(temp.constData());
    if (inPlace) return writeInPlace(target, bytes, error);
    if (error) *error = QString::fromLocal8Bit(std::strerror(saved));
    return false;
  };
  struct stat made;
  if (::fstat(fd, &made) != 0) return fail(false);
  // A replacement that cannot have the file's owner and group would change them: the file is written in
  // place instead.
  if ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) return fail(true);
  // The mode after the owner: changing the owner clears the set-user-ID and set-group-ID bits.
  if (::fchmod(fd, st.st_mode & 07777) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) return fail(false);
  if (::close(fd) != 0) {
    const int saved = errno;
    ::unlink(temp.constData());
    if (error) *error = QString::fromLocal8Bit(std::strerror(saved));
    return false;
  }
  if (::rename(temp.constData(), target.constData()) != 0) {
    const int saved = errno;
    ::unlink(temp.constData());
    if (error) *error = QString::fromLocal8Bit(std::strerror(saved));
    return false;
  }
  return true;
}

}  // namespace platform

namespace platform {

namespace {
QString errnoString() { return QString::fromLocal8Bit(std::strerror(errno)); }
}  // namespace

StreamingSave::StreamingSave(const QString &target, unsigned mode, SaveAccess access)
    : target_(target), mode_(access == SaveAccess::OwnerOnly ? 0600 : mode) {}

StreamingSave::~StreamingSave() {
  if (!renamed_) discard();
}

bool StreamingSave::open(QString *error) {
  const QFileInfo fi(target_);
  temp_ = QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".tarnwick-save-XXXXXX"));
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    if (error) *error = QStringLiteral("%1 could not be created: %2").arg(target_, errnoString());
    temp_.clear();
    return false;
  }
  // mkstemp makes the file private; the finished file gets the usual bits, as any new file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, mode_t(mode_) & ~mask);
  return true;
}

bool StreamingSave::write(const char *data, qint64 n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, data, size_t(n));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= w;
    written_ += w;
  }
  return true;
}

bool StreamingSave::finish(QString *error) {
  if (fd_ < 0) return !temp_.isEmpty();
  const bool ok = ::fsync(fd_) == 0;
  const QString why = ok ? QString() : errnoString();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (ok && closed) return true;
  if (error) *error = QStringLiteral("%1 could not be written: %2").arg(target_, why.isEmpty() ? errnoString() : why);
  return false;
}

bool StreamingSave::rename(QString *error) {
  if (::rename(temp_.constData(), QFile::encodeName(target_).constData()) == 0) {
    renamed_ = true;
    return true;
  }
  if (error) *error = QStringLiteral("%1 could not be created: %2").arg(target_, errnoString());
  return false;
}

void StreamingSave::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.isEmpty() && !renamed_) ::unlink(temp_.constData());
  temp_.clear();
}

}  // namespace platform
