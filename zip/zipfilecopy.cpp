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

bool OutputFile::copyFrom(const SpliceFile &in, qint64 offset, qint64 count, const Progress &progress) {
  if (count < 0) count = qMax<qint64>(0, in.size() - offset);
  bool kernelCopy = true;
  std::vector<char> buf;
  while (count > 0) {
    const qint64 step = qMin(count, kBlock);
    qint64 done = 0;
    if (kernelCopy) {
      loff_t from = offset;
      const ssize_t r = ::copy_file_range(in.fd(), &from, save_.fd(), nullptr, size_t(step), 0);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        // Not on this pair of file systems: plain reads and writes from here on.
        kernelCopy = false;
        continue;
      }
      done = r;
      save_.added(r);
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

bool OutputFile::readBack(qint64 offset, char *buf, qint64 n) const { return preadAll(save_.fd(), offset, buf, n); }

void OutputFile::setModified(qint64 secs) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(secs), 0}};
  ::utimensat(AT_FDCWD, save_.tempPath().constData(), times, 0);
}

}  // namespace zipcopy
