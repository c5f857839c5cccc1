#include "zip/zipfilecopy.h"

#include "platform/fileops.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zipcopy {

namespace {
// Big enough for the kernel to copy at full speed, small enough for a prompt Cancel and a live window.
constexpr qint64 kBlock = 4 << 20;

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Reads exactly n bytes at offset; false on an error or a short file.
bool preadAll(int fd, qint64 offset, char *buf, qint64 n) {
  while (n > 0) {
    const ssize_t r = ::pread(fd, buf, size_t(n), off_t(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    offset += r;
    buf += r;
    n -= r;
  }
  return true;
}
}  // namespace

SpliceFile::~SpliceFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool SpliceFile::openRead() {
  fd_ = ::open(platform::toNative(path_).constData(), O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

qint64 SpliceFile::size() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? qint64(st.st_size) : -1;
}

qint64 SpliceFile::readSome(qint64 offset, char *buf, qint64 n) const {
  for (;;) {
    const ssize_t r = ::pread(fd_, buf, size_t(n), off_t(offset));
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

bool SpliceFile::readAt(qint64 offset, char *buf, qint64 n) const { return preadAll(fd_, offset, buf, n); }

OutputFile::~OutputFile() {
  if (!renamed_) discard();
}

bool OutputFile::create() {
  const QFileInfo fi(target_);
  QByteArray pattern = platform::toNative(QDir(fi.absolutePath()).filePath(QLatin1Char('.') + fi.fileName() + QStringLiteral(".XXXXXX")));
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  tempNative_ = pattern;
  // mkstemp makes the file private; the finished file gets the usual bits, as any new file would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, mode_t(mode_) & ~mask);
  return true;
}

bool OutputFile::write(const char *data, qint64 n) {
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

bool OutputFile::copyFrom(const SpliceFile &in, qint64 offset, qint64 count, const Progress &progress) {
  if (count < 0) count = qMax<qint64>(0, in.size() - offset);
  bool kernelCopy = true;
  std::vector<char> buf;
  while (count > 0) {
    const qint64 step = qMin(count, kBlock);
    qint64 done = 0;
    if (kernelCopy) {
      loff_t from = offset;
      const ssize_t r = ::copy_file_range(in.fd(), &from, fd_, nullptr, size_t(step), 0);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        // Not on this pair of file systems: plain reads and writes from here on.
        kernelCopy = false;
        continue;
      }
      done = r;
      written_ += r;
    } else {
      if (buf.empty()) buf.resize(size_t(kBlock));
      done = in.readSome(offset, buf.data(), step);
      if (done < 0) return false;
      if (done > 0 && !write(buf.data(), done)) return false;
    }
    if (done == 0) return true;  // the input is shorter than asked: the caller's size check decides
    offset += done;
    count -= done;
    if (progress && !progress(done)) return false;
  }
  return true;
}

bool OutputFile::readBack(qint64 offset, char *buf, qint64 n) const { return preadAll(fd_, offset, buf, n); }

bool OutputFile::finish(QString *error) {
  if (fd_ < 0) return true;
  const bool ok = ::fsync(fd_) == 0;
  const QString why = ok ? QString() : errnoText();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (ok && closed) return true;
  if (error) *error = QStringLiteral("%1 could not be written: %2").arg(QDir::toNativeSeparators(target_), why.isEmpty() ? errnoText() : why);
  return false;
}

void OutputFile::setModified(qint64 secs) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(secs), 0}};
  ::utimensat(AT_FDCWD, tempNative_.constData(), times, 0);
}

bool OutputFile::rename(QString *error) {
  if (::rename(tempNative_.constData(), platform::toNative(target_).constData()) == 0) {
    renamed_ = true;
    return true;
  }
  if (error) *error = QStringLiteral("%1 could not be created: %2").arg(QDir::toNativeSeparators(target_), errnoText());
  return false;
}

void OutputFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempNative_.isEmpty() && !renamed_) ::unlink(tempNative_.constData());
  tempNative_.clear();
}

}  // namespace zipcopy
