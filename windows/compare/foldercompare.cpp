#include "windows/compare/foldercompare.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace comparing {

QString kindText(Kind kind) {
  switch (kind) {
    case Kind::LeftOnly: return QCoreApplication::translate("compare", "Left only");
    case Kind::RightOnly: return QCoreApplication::translate("compare", "Right only");
    case Kind::LeftNewer: return QCoreApplication::translate("compare", "Left newer");
    case Kind::RightNewer: return QCoreApplication::translate("compare", "Right newer");
    case Kind::Different: return QCoreApplication::translate("compare", "Different");
    case Kind::TypeDiffers: return QCoreApplication::translate("compare", "Type differs");
    case Kind::Equal: return QCoreApplication::translate("compare", "Equal");
    case Kind::Unreadable: return QCoreApplication::translate("compare", "Unreadable");
  }
  return {};
}

namespace {

struct Entry {
  QByteArray name;
  unsigned char dtype;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

EntryType typeOf(mode_t m) {
  if (S_ISREG(m)) return EntryType::File;
  if (S_ISDIR(m)) return EntryType::Folder;
  if (S_ISLNK(m)) return EntryType::Link;
  return EntryType::Other;
}

QString cannot(const char *what, const NativePath &path, int err) {
  return QCoreApplication::translate("compare", what).arg(platform::displayPath(path), platform::errnoText(err));
}

class Walker {
 public:
  Walker(const Options &o, const std::atomic<bool> *cancel, const std::function<void(const Progress &)> &progress)
      : opt_(o), cancel_(cancel), progress_(progress) {}

  Result res;

  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  // Reads a folder's entries (fd is duplicated: the directory stream owns its own descriptor).
  bool list(int fd, std::vector<Entry> *out, int *err) {
    const int dupFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR *d = dupFd >= 0 ? ::fdopendir(dupFd) : nullptr;
    if (!d) {
      *err = errno;
      if (dupFd >= 0) ::close(dupFd);
      return false;
    }
    errno = 0;
    while (dirent *e = ::readdir(d)) {
      if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
      out->push_back({QByteArray(e->d_name), e->d_type});
    }
    *err = errno;
    ::closedir(d);
    std::sort(out->begin(), out->end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
    return *err == 0;
  }

  bool statAt(int dirFd, const Entry &e, Side *side, int *err) {
    struct stat st;
    if (::fstatat(dirFd, e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      *err = errno;
      return false;
    }
    side->type = typeOf(st.st_mode);
    side->size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    side->mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
  }

  void tick(const NativePath &rel) {
    if (!progress_ || (++seen_ & 1023)) return;
    prog_.entries = seen_;
    prog_.current = rel;
    progress_(prog_);
  }

  void add(const NativePath &rel, Kind kind, const Side &l, const Side &r, const QString &problem = {}) {
    res.rows.push_back(Row{rel, kind, l, r, problem});
  }

  bool sameTime(const Side &l, const Side &r) const { return qAbs(l.mtimeNs - r.mtimeNs) <= opt_.timeToleranceNs; }
  // Times within the tolerance say nothing about which side is newer.
  Kind byTime(const Side &l, const Side &r) const {
    if (sameTime(l, r)) return Kind::Different;
    return l.mtimeNs > r.mtimeNs ? Kind::LeftNewer : Kind::RightNewer;
  }

  // 0 equal, 1 different, -1 unreadable (problem set).
  int sameContent(int lDir, int rDir, const QByteArray &name, const NativePath &lPath, const NativePath &rPath,
                  QString *problem) {
    Fd l(::openat(lDir, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (l.get() < 0) return *problem = cannot("Cannot read %1: %2.", lPath, errno), -1;
    Fd r(::openat(rDir, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (r.get() < 0) return *problem = cannot("Cannot read %1: %2.", rPath, errno), -1;
    ::posix_fadvise(l.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(r.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    if (opt_.content == ContentMode::Hash) {
      QByteArray a, b;
      if (!hash(l.get(), lPath, &a, problem) || !hash(r.get(), rPath, &b, problem)) return -1;
      return a == b ? 0 : 1;
    }
    constexpr size_t kBlock = 256 * 1024;
    if (bufA_.empty()) bufA_.resize(kBlock), bufB_.resize(kBlock);
    for (;;) {
      if (cancelled()) return 1;
      const ssize_t na = readFull(l.get(), bufA_.data(), kBlock);
      if (na < 0) return *problem = cannot("Cannot read %1: %2.", lPath, errno), -1;
      const ssize_t nb = readFull(r.get(), bufB_.data(), kBlock);
      if (nb < 0) return *problem = cannot("Cannot read %1: %2.", rPath, errno), -1;
      prog_.bytesCompared += na + nb;
      if (na != nb || std::memcmp(bufA_.data(), bufB_.data(), size_t(na)) != 0) return 1;
      if (na == 0) return 0;
    }
  }

  static ssize_t readFull(int fd, char *buf, size_t n) {
    size_t got = 0;
    while (got < n) {
      const ssize_t k = ::read(fd, buf + got, n - got);
      if (k < 0 && errno == EINTR) continue;
      if (k < 0) return -1;
      if (k == 0) break;
      got += size_t(k);
    }
    return ssize_t(got);
  }

  bool hash(int fd, const NativePath &path, QByteArray *out, QString *problem) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    constexpr size_t kBlock = 1024 * 1024;
    if (bufA_.size() < kBlock) bufA_.resize(kBlock), bufB_.resize(kBlock);
    for (;;) {
      if (cancelled()) return *out = QByteArray(), true;
      const ssize_t n = readFull(fd, bufA_.data(), kBlock);
      if (n < 0) return *problem = cannot("Cannot read %1: %2.", path, errno), false;
      if (n == 0) break;
      prog_.bytesCompared += n;
      h.addData(QByteArrayView(bufA_.data(), n));
    }
    *out = h.result();
    return true;
  }

  static QByteArray linkTarget(int dirFd, const QByteArray &name, int *err) {
    QByteArray buf(4096, Qt::Uninitialized);
    const ssize_t n = ::readlinkat(dirFd, name.constData(), buf.data(), size_t(buf.size()));
    if (n < 0) return *err = errno, QByteArray();
    *err = 0;
    buf.truncate(int(n));
    return buf;
  }

  // Compares the folders open as lFd and rFd, whose relative path is `rel` (empty for the roots).
  void walk(int lFd, int rFd, const NativePath &lPath, const NativePath &rPath, const NativePath &rel) {
    std::vector<Entry> le, re;
    int err = 0;
    if (!list(lFd, &le, &err)) {
      add(rel, Kind::Unreadable, {EntryType::Folder}, {EntryType::Folder}, cannot("Cannot list %1: %2.", lPath, err));
      return;
    }
    if (!list(rFd, &re, &err)) {
      add(rel, Kind::Unreadable, {EntryType::Folder}, {EntryType::Folder}, cannot("Cannot list %1: %2.", rPath, err));
      return;
    }
    const NativePath prefix = rel.isEmpty() ? rel : rel + '/';
    size_t i = 0, j = 0;
    while ((i < le.size() || j < re.size()) && !cancelled()) {
      const int c = i == le.size() ? 1 : j == re.size() ? -1 : le[i].name.compare(re[j].name);
      const Entry *l = c <= 0 ? &le[i] : nullptr;
      const Entry *r = c >= 0 ? &re[j] : nullptr;
      if (l) ++i;
      if (r) ++j;
      const QByteArray &name = l ? l->name : r->name;
      const NativePath relName = prefix + name;
      tick(relName);
      // Full paths only for messages and the next level: most entries need neither.
      const auto lp = [&] { return lPath + '/' + name; };
      const auto rp = [&] { return rPath + '/' + name; };
      Side ls, rs;
      // Folders present on both sides need no size or time: their content is what is compared.
      if (l && r && l->dtype == DT_DIR && r->dtype == DT_DIR) {
        ls.type = rs.type = EntryType::Folder;
      } else {
        if (l && !statAt(lFd, *l, &ls, &err)) {
          add(relName, Kind::Unreadable, ls, rs, cannot("Cannot read %1: %2.", lp(), err));
          continue;
        }
        if (r && !statAt(rFd, *r, &rs, &err)) {
          add(relName, Kind::Unreadable, ls, rs, cannot("Cannot read %1: %2.", rp(), err));
          continue;
        }
      }
      if (!l || !r) {
        add(relName, l ? Kind::LeftOnly : Kind::RightOnly, ls, rs);
        continue;
      }
      if (ls.type != rs.type) {
        add(relName, Kind::TypeDiffers, ls, rs);
        continue;
      }
      switch (ls.type) {
        case EntryType::Folder: {
          if (!opt_.recursive) {
            add(relName, Kind::Equal, ls, rs);
            break;
          }
          Fd lSub(::openat(lFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
          if (lSub.get() < 0) {
            add(relName, Kind::Unreadable, ls, rs, cannot("Cannot open %1: %2.", lp(), errno));
            break;
          }
          Fd rSub(::openat(rFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
          if (rSub.get() < 0) {
            add(relName, Kind::Unreadable, ls, rs, cannot("Cannot open %1: %2.", rp(), errno));
            break;
          }
          walk(lSub.get(), rSub.get(), lp(), rp(), relName);
          break;
        }
        case EntryType::Link: {
          int le2 = 0, re2 = 0;
          const QByteArray lt = linkTarget(lFd, name, &le2), rt = linkTarget(rFd, name, &re2);
          if (le2 || re2)
            add(relName, Kind::Unreadable, ls, rs, cannot("Cannot read %1: %2.", le2 ? lp() : rp(), le2 ? le2 : re2));
          else
            add(relName, lt == rt ? Kind::Equal : byTime(ls, rs), ls, rs);
          break;
        }
        case EntryType::File: {
          if (ls.size != rs.size) {
            add(relName, byTime(ls, rs), ls, rs);
            break;
          }
          if (opt_.content == ContentMode::None || ls.size == 0) {
            add(relName, sameTime(ls, rs) ? Kind::Equal : byTime(ls, rs), ls, rs);
            break;
          }
          QString problem;
          const int same = sameContent(lFd, rFd, name, lp(), rp(), &problem);
          if (same < 0)
            add(relName, Kind::Unreadable, ls, rs, problem);
          else
            add(relName, same == 0 ? Kind::Equal : byTime(ls, rs), ls, rs);
          break;
        }
        default:  // devices, pipes, sockets: nothing of theirs to compare or copy
          add(relName, Kind::Equal, ls, rs);
      }
    }
  }

 private:
  Options opt_;
  const std::atomic<bool> *cancel_;
  std::function<void(const Progress &)> progress_;
  Progress prog_;
  qint64 seen_ = 0;
  std::vector<char> bufA_, bufB_;
};

NativePath withoutTrailingSlash(NativePath p) {
  while (p.size() > 1 && p.endsWith('/')) p.chop(1);
  return p;
}

}  // namespace

Result compareTrees(const NativePath &leftRoot, const NativePath &rightRoot, const Options &options,
                    const std::atomic<bool> *cancel, const std::function<void(const Progress &)> &progress) {
  Walker w(options, cancel, progress);
  const NativePath left = withoutTrailingSlash(leftRoot), right = withoutTrailingSlash(rightRoot);
  Fd l(::open(left.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (l.get() < 0) {
    w.res.rootProblem = cannot("Cannot open %1: %2.", left, errno);
    return w.res;
  }
  Fd r(::open(right.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (r.get() < 0) {
    w.res.rootProblem = cannot("Cannot open %1: %2.", right, errno);
    return w.res;
  }
  // "/" joined with a name must not give "//name".
  w.walk(l.get(), r.get(), left == "/" ? NativePath() : left, right == "/" ? NativePath() : right, {});
  w.res.cancelled = w.cancelled();
  return w.res;
}

}  // namespace comparing
