#include "windows/hex/hexfileio.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hexio {

bool readAt(int fd, qint64 pos, void *buf, qint64 n) {
  auto *p = static_cast<char *>(buf);
  while (n > 0) {
    ssize_t r = ::pread(fd, p, static_cast<size_t>(n), pos);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    pos += r;
    n -= r;
  }
  return true;
}

bool writeAt(int fd, qint64 pos, const void *buf, qint64 n) {
  auto *p = static_cast<const char *>(buf);
  while (n > 0) {
    ssize_t r = ::pwrite(fd, p, static_cast<size_t>(n), pos);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    pos += r;
    n -= r;
  }
  return true;
}

qint64 fileSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return st.st_size;
}

QString lastErrorText() { return QString::fromLocal8Bit(std::strerror(errno)); }

namespace {
// Copies [pos, end) from src to dst at the same offsets.
bool copyExtent(int src, int dst, qint64 pos, qint64 end, std::vector<char> &block, bool &useCfr,
                qint64 total, const Progress &progress, bool &cancelled) {
  while (pos < end) {
    qint64 n = std::min<qint64>(end - pos, kMoveBlock);
    if (useCfr) {
      loff_t in = pos, out = pos;
      ssize_t r = ::copy_file_range(src, &in, dst, &out, static_cast<size_t>(n), 0);
      if (r > 0) {
        pos += r;
        if (progress && !progress(pos, total)) return !(cancelled = true);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      useCfr = false;  // not offered here (other file system, old kernel): plain reads and writes
    }
    if (block.empty()) block.resize(kMoveBlock);
    if (!readAt(src, pos, block.data(), n) || !writeAt(dst, pos, block.data(), n)) return false;
    pos += n;
    if (progress && !progress(pos, total)) return !(cancelled = true);
  }
  return true;
}

bool isHole(int fd, qint64 pos, qint64 n) {
  off_t d = ::lseek(fd, pos, SEEK_DATA);
  if (d < 0) return errno == ENXIO;  // no data from pos to the end
  return d >= pos + n;
}

bool allZero(const char *p, qint64 n) {
  for (qint64 i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Makes [pos, pos+n) read as zeros without allocating space: nothing to do over a hole, else a punched hole.
bool makeZeros(int fd, qint64 pos, qint64 n, std::vector<char> &block) {
  if (isHole(fd, pos, n)) return true;
  if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, pos, n) == 0) return true;
  block.assign(static_cast<size_t>(std::min<qint64>(n, kMoveBlock)), 0);
  while (n > 0) {
    qint64 k = std::min<qint64>(n, static_cast<qint64>(block.size()));
    if (!writeAt(fd, pos, block.data(), k)) return false;
    pos += k;
    n -= k;
  }
  return true;
}
}  // namespace

bool clone(int src, int dst) { return ::ioctl(dst, FICLONE, src) == 0; }

namespace {
bool g_tmpFileAllowed = true;
constexpr char kSaveMark[] = ".tarnwick-save-";
constexpr int kRandomChars = 6;
constexpr time_t kStaleAge = 60;

QByteArray randomChars() {
  static const char set[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  QByteArray r;
  for (int i = 0; i < kRandomChars; ++i) r.append(set[QRandomGenerator::global()->bounded(62)]);
  return r;
}

QByteArray folderOf(const QByteArray &path) {
  const int slash = path.lastIndexOf('/');
  return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray saveTempPrefix(const QByteArray &target) {
  const int slash = target.lastIndexOf('/');
  return folderOf(target) + "/." + target.mid(slash + 1) + kSaveMark;
}

// O_TMPFILE where allowed and offered; -1 otherwise.
int openTmpFile(const QByteArray &dir, mode_t mode) {
  return g_tmpFileAllowed ? ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode) : -1;
}

// A new file named prefix + random characters; its name in *name.
int createNamed(const QByteArray &prefix, QByteArray *name) {
  for (int i = 0; i < 100; ++i) {
    *name = prefix + randomChars();
    const int fd = ::open(name->constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}
}  // namespace

void setTmpFileAllowed(bool on) { g_tmpFileAllowed = on; }

int openUnnamed(const QByteArray &dir) {
  int fd = openTmpFile(dir, 0600);
  if (fd >= 0) return fd;
  QByteArray name;
  fd = createNamed(dir + "/.tarnwick-work-", &name);
  if (fd >= 0) ::unlink(name.constData());
  return fd;
}

SaveTemp::~SaveTemp() {
  if (!m_name.isEmpty()) ::unlink(m_name.constData());
  if (m_fd >= 0) ::close(m_fd);
}

bool SaveTemp::create(const QByteArray &target) {
  m_target = target;
  // Naming an unnamed file later goes through /proc; without it the file is named from the start.
  if (::access("/proc/self/fd", X_OK) == 0) m_fd = openTmpFile(folderOf(target), 0600);
  if (m_fd < 0) m_fd = createNamed(saveTempPrefix(target), &m_name);
  if (m_fd < 0) return false;
  // Where locks are not offered the save goes on unlocked: only its age then keeps a clean-up from it.
  (void)::flock(m_fd, LOCK_EX | LOCK_NB);
  return true;
}

bool SaveTemp::commit() {
  if (m_name.isEmpty()) {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    for (int i = 0; i < 100 && m_name.isEmpty(); ++i) {
      const QByteArray name = saveTempPrefix(m_target) + randomChars();
      if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0) m_name = name;
      else if (errno != EEXIST) return false;
    }
    if (m_name.isEmpty()) return false;
  }
  if (::rename(m_name.constData(), m_target.constData()) != 0) return false;
  m_name.clear();
  return true;
}

void removeStaleSaveTemps(const QByteArray &target) {
  const QByteArray dir = folderOf(target);
  const QByteArray prefix = saveTempPrefix(target).mid(dir.size() + 1);
  DIR *d = ::opendir(dir.constData());
  if (!d) return;
  const time_t now = ::time(nullptr);
  while (const dirent *e = ::readdir(d)) {
    const QByteArray name(e->d_name);
    if (!name.startsWith(prefix) || name.size() != prefix.size() + kRandomChars) continue;
    if (!std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
      continue;
    const QByteArray path = dir + '/' + name;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (st.st_mtime > now - kStaleAge) continue;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held;
    // A save that still runs holds the lock; the same file must still be there under that name.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_dev == st.st_dev &&
        held.st_ino == st.st_ino)
      ::unlink(path.constData());
    ::close(fd);
  }
  ::closedir(d);
}

static bool copyContentsOnce(int src, int dst, QString *error, const Progress &progress);

bool copyContents(int src, int dst, QString *error, const Progress &progress) {
  const bool ok = copyContentsOnce(src, dst, error, progress);
  if (progress) {
    const qint64 size = std::max<qint64>(1, fileSize(src));
    progress(size, size);
  }
  return ok;
}

static bool copyContentsOnce(int src, int dst, QString *error, const Progress &progress) {
  const qint64 size = fileSize(src);
  if (size < 0 || ::ftruncate(dst, 0) != 0) {
    if (error) *error = lastErrorText();
    return false;
  }
  if (::ioctl(dst, FICLONE, src) == 0) return true;

  std::vector<char> block;
  bool useCfr = true;
  qint64 pos = 0;
  bool sparseAware = true;
  while (pos < size) {
    qint64 data = pos, hole = size;
    if (sparseAware) {
      off_t d = ::lseek(src, pos, SEEK_DATA);
      if (d < 0 && errno == ENXIO) break;  // the rest is a hole
      if (d < 0) {
        sparseAware = false;  // no hole information: copy everything
      } else {
        data = d;
        off_t h = ::lseek(src, data, SEEK_HOLE);
        hole = h < 0 ? size : std::min<qint64>(h, size);
      }
    }
    bool cancelled = false;
    if (!copyExtent(src, dst, data, hole, block, useCfr, size, progress, cancelled)) {
      if (error) *error = cancelled ? QStringLiteral("Cancelled") : lastErrorText();
      return false;
    }
    pos = hole;
  }
  if (::ftruncate(dst, size) != 0) {
    if (error) *error = lastErrorText();
    return false;
  }
  return true;
}

bool moveRange(int fd, qint64 from, qint64 to, qint64 len) {
  if (len <= 0 || from == to) return true;
  std::vector<char> block(static_cast<size_t>(std::min(len, kMoveBlock)));
  const qint64 step = static_cast<qint64>(block.size());
  std::vector<char> zeros;
  // Zero pieces are not written but left (or made) holes, so that moving a sparse tail by a few bytes does
  // not allocate the whole tail block by block.
  constexpr qint64 kPiece = 64 * 1024;
  auto moveOne = [&](qint64 s, qint64 n) {
    qint64 d = s + (to - from);
    if (isHole(fd, s, n)) return makeZeros(fd, d, n, zeros);
    if (!readAt(fd, s, block.data(), n)) return false;
    for (qint64 off = 0; off < n; off += kPiece) {
      const qint64 k = std::min(kPiece, n - off);
      const bool ok = allZero(block.data() + off, k) ? makeZeros(fd, d + off, k, zeros)
                                                     : writeAt(fd, d + off, block.data() + off, k);
      if (!ok) return false;
    }
    return true;
  };
  if (to > from) {  // shifting up: start with the highest block so nothing is overwritten before it is read
    for (qint64 end = from + len; end > from;) {
      qint64 n = std::min(step, end - from);
      if (!moveOne(end - n, n)) return false;
      end -= n;
    }
  } else {
    for (qint64 s = from; s < from + len;) {
      qint64 n = std::min(step, from + len - s);
      if (!moveOne(s, n)) return false;
      s += n;
    }
  }
  return true;
}
}  // namespace hexio
