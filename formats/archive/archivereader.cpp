#include "formats/archive/archivereader.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace archives {
namespace {

struct Reader {
  struct ::archive *a = archive_read_new();
  ~Reader() { archive_read_free(a); }
};

bool openReader(Reader &r, const QString &path, QString *error, const QByteArray &passphrase = {}) {
  archive_read_support_filter_all(r.a);
  archive_read_support_format_all(r.a);
  if (!passphrase.isEmpty()) archive_read_add_passphrase(r.a, passphrase.constData());
  const QByteArray native = QFile::encodeName(path);
  if (archive_read_open_filename(r.a, native.constData(), 256 * 1024) != ARCHIVE_OK) {
    const char *why = archive_error_string(r.a);
    *error =
        QStringLiteral("%1 cannot be opened as an archive: %2")
            .arg(QDir::toNativeSeparators(path), why ? QString::fromLocal8Bit(why) : QStringLiteral("unknown format"));
    return false;
  }
  return true;
}

QString damaged(const QString &path, struct ::archive *a) {
  const char *why = archive_error_string(a);
  return QStringLiteral("The archive %1 is damaged or cut short: %2")
      .arg(QDir::toNativeSeparators(path), why ? QString::fromLocal8Bit(why) : QStringLiteral("unexpected end"));
}

// The name as listed: without "./" or "/" in front and "/" behind. Safety is judged on the raw name.
QByteArray normalName(const char *raw) {
  QByteArray n(raw ? raw : "");
  for (;;) {
    if (n.startsWith("./"))
      n.remove(0, 2);
    else if (n.startsWith('/'))
      n.remove(0, 1);
    else
      break;
  }
  while (n.endsWith('/')) n.chop(1);
  if (n == ".") n.clear();
  return n;
}

const char *entryName(struct ::archive_entry *e) {
  const char *n = archive_entry_pathname(e);
  return n ? n : archive_entry_pathname_utf8(e);
}

// A stream expanding like a bomb (the packed side is what was read from the file).
bool isBomb(struct ::archive *a, qint64 unpacked, const Limits &limits) {
  if (unpacked > limits.maxUnpackedBytes) return true;
  if (unpacked < limits.ratioCheckAfter) return false;
  const qint64 packed = qMax<qint64>(1, archive_filter_bytes(a, -1));
  return unpacked / packed > limits.maxRatio;
}

QString bombText(const QString &path) {
  return QStringLiteral("The archive %1 expands far beyond its size (a compression bomb?); reading stopped")
      .arg(QDir::toNativeSeparators(path));
}

QString cancelledText() { return QStringLiteral("Cancelled"); }

// Passes over a member that is not wanted. In a compressed stream that means unpacking all of it, which for
// a big member takes long: it goes block by block there, so that Cancel is heard. Elsewhere the reader seeks.
enum class Skip { Done, Cancelled, Damaged };
Skip skipMember(struct ::archive *a, const std::atomic<bool> *cancel) {
  if (!cancel || archive_filter_code(a, 0) == ARCHIVE_FILTER_NONE)
    return archive_read_data_skip(a) < ARCHIVE_WARN ? Skip::Damaged : Skip::Done;
  const void *block = nullptr;
  size_t length = 0;
  la_int64_t offset = 0;
  for (;;) {
    if (cancel->load()) return Skip::Cancelled;
    const int rc = archive_read_data_block(a, &block, &length, &offset);
    if (rc == ARCHIVE_EOF) return Skip::Done;
    if (rc < ARCHIVE_WARN) return Skip::Damaged;
  }
}

}  // namespace

QString Listing::displayPath(int i) const { return QFile::decodeName(path(i)); }

void Listing::add(const QByteArray &p, qint64 size, qint64 mtime, quint8 flags) {
  Member m;
  m.nameOffset = quint32(names_.size());
  m.nameLength = quint32(p.size());
  m.size = size;
  m.mtime = mtime;
  m.order = quint32(members_.size());
  m.flags = flags;
  names_.append(p);
  members_.push_back(m);
}

void Listing::addImpliedFolders() {
  QSet<QByteArray> folders;
  const int real = count();
  for (int i = 0; i < real; ++i)
    if (members_[size_t(i)].flags & IsFolder) folders.insert(path(i));
  std::vector<QByteArray> implied;
  for (int i = 0; i < real; ++i) {
    QByteArray p = path(i);
    for (qsizetype slash = p.lastIndexOf('/'); slash > 0; slash = p.lastIndexOf('/', slash - 1)) {
      QByteArray parent = p.left(slash);
      if (folders.contains(parent)) break;  // its own parents were seen with it
      folders.insert(parent);
      implied.push_back(parent);
    }
  }
  for (const QByteArray &f : implied) add(f, 0, 0, IsFolder | IsImplied);
}

void Listing::buildIndex() {
  sorted_.resize(members_.size());
  for (size_t i = 0; i < sorted_.size(); ++i) sorted_[i] = int(i);
  std::stable_sort(sorted_.begin(), sorted_.end(), [this](int a, int b) { return path(a) < path(b); });
}

int Listing::find(const QByteArray &p) const {
  auto it =
      std::lower_bound(sorted_.begin(), sorted_.end(), p, [this](int a, const QByteArray &v) { return path(a) < v; });
  return it != sorted_.end() && path(*it) == p ? *it : -1;
}

qint64 Listing::bytesUsed() const {
  return qint64(names_.capacity()) + qint64(members_.capacity() * sizeof(Member)) +
         qint64(sorted_.capacity() * sizeof(int)) + qint64(sizeof(*this));
}

std::vector<int> Listing::children(const QByteArray &folder) const {
  std::vector<int> out;
  const QByteArray prefix = folder.isEmpty() ? QByteArray() : folder + '/';
  for (int i = 0, n = count(); i < n; ++i) {
    const QByteArray p = path(i);
    if (p.isEmpty() || !p.startsWith(prefix)) continue;
    const QByteArray rest = QByteArray::fromRawData(p.constData() + prefix.size(), p.size() - prefix.size());
    if (rest.isEmpty() || rest.contains('/') || rest == "..") continue;
    out.push_back(i);
  }
  return out;
}

bool listArchive(const QString &archivePath, Listing *out, QString *error, const Limits &limits,
                 const std::atomic<bool> *cancel) {
  *out = Listing();
  Reader r;
  if (!openReader(r, archivePath, error)) return false;
  // Without a compression filter the reader skips members by seeking; through one it must inflate them,
  // so the bytes are read here where the bomb limits and Cancel can stop them.
  const bool filtered = archive_filter_count(r.a) > 1;
  struct ::archive_entry *e = nullptr;
  for (;;) {
    if (cancel && cancel->load()) return *error = cancelledText(), false;
    const int rc = archive_read_next_header(r.a, &e);
    if (rc == ARCHIVE_EOF) break;
    if (rc < ARCHIVE_WARN) return *error = damaged(archivePath, r.a), false;
    const mode_t type = archive_entry_filetype(e);
    quint8 flags = 0;
    if (type == AE_IFDIR)
      flags |= IsFolder;
    else if (type == AE_IFLNK)
      flags |= IsLink;
    else if (type != AE_IFREG && type != 0)
      flags |= IsSpecial;
    if (archive_entry_is_encrypted(e)) flags |= IsEncrypted;
    QByteArray name = normalName(entryName(e));
    if (name.isEmpty()) continue;  // the archive's own "./"
    out->add(name, (flags & IsFolder) ? 0 : qMax<qint64>(0, archive_entry_size(e)), archive_entry_mtime(e), flags);
    if (filtered && archive_entry_size(e) < (qint64(16) << 20)) {
      // Small members are skipped whole; the limits are checked between them.
      if (archive_read_data_skip(r.a) < ARCHIVE_WARN) return *error = damaged(archivePath, r.a), false;
      if (isBomb(r.a, archive_filter_bytes(r.a, 0), limits)) return *error = bombText(archivePath), false;
    } else if (filtered && !(flags & IsEncrypted)) {
      const void *buf;
      size_t len;
      la_int64_t off;
      int d;
      while ((d = archive_read_data_block(r.a, &buf, &len, &off)) == ARCHIVE_OK) {
        if (isBomb(r.a, archive_filter_bytes(r.a, 0), limits)) return *error = bombText(archivePath), false;
        if (cancel && cancel->load()) return *error = cancelledText(), false;
      }
      if (d < ARCHIVE_WARN) return *error = damaged(archivePath, r.a), false;
    }
  }
  out->addImpliedFolders();
  out->names_.squeeze();
  out->members_.shrink_to_fit();
  out->buildIndex();
  return true;
}

bool isSafeMemberPath(const QByteArray &path) {
  if (path.isEmpty() || path.startsWith('/') || path.contains('\0')) return false;
  for (const QByteArray &c : path.split('/'))
    if (c == "..") return false;
  return true;
}

bool isSafeLinkTarget(const QByteArray &linkPath, const QByteArray &target) {
  if (target.isEmpty() || target.startsWith('/')) return false;
  // Resolved lexically from the link's own folder; every step must stay at or below the top.
  int depth = 0;
  const QList<QByteArray> here = linkPath.split('/');
  for (int i = 0; i + 1 < here.size(); ++i)
    if (!here[i].isEmpty() && here[i] != ".") ++depth;
  for (const QByteArray &c : target.split('/')) {
    if (c.isEmpty() || c == ".") continue;
    if (c == "..") {
      if (--depth < 0) return false;
    } else {
      ++depth;
    }
  }
  return true;
}

namespace {

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  Fd(Fd &&o) noexcept : fd(o.fd) { o.fd = -1; }
  Fd &operator=(Fd &&o) noexcept {
    if (this != &o) {
      reset();
      fd = o.fd;
      o.fd = -1;
    }
    return *this;
  }
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// Opens (making them when asked) the folders of components below root without following any link: a link
// the archive planted cannot lead a later member out of the target.
Fd openFolders(int root, const QList<QByteArray> &components, qsizetype count, bool create, QString *why) {
  Fd cur(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  for (qsizetype i = 0; i < count; ++i) {
    const QByteArray &c = components[i];
    if (c.isEmpty() || c == ".") continue;
    if (create && ::mkdirat(cur.fd, c.constData(), 0755) != 0 && errno != EEXIST) {
      *why = QString::fromLocal8Bit(std::strerror(errno));
      return Fd();
    }
    Fd next(::openat(cur.fd, c.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.fd < 0) {
      *why = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("its path goes through a link or a file")
                                                : QString::fromLocal8Bit(std::strerror(errno));
      return Fd();
    }
    cur = std::move(next);
  }
  return cur;
}

bool writeAll(int fd, const char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

bool chosenMatches(const QSet<QByteArray> &chosen, const QByteArray &path) {
  if (chosen.isEmpty()) return true;
  if (chosen.contains(path)) return true;
  for (qsizetype slash = path.lastIndexOf('/'); slash > 0; slash = path.lastIndexOf('/', slash - 1))
    if (chosen.contains(path.left(slash))) return true;
  return false;
}

}  // namespace

ExtractResult extractMembers(const QString &archivePath, const QList<QByteArray> &chosenList,
                             const QString &targetFolder, const ExtractOptions &opt, const Progress &progress,
                             const std::atomic<bool> *cancel) {
  ExtractResult res;
  const QSet<QByteArray> chosen(chosenList.begin(), chosenList.end());
  Fd root(::open(QFile::encodeName(targetFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.fd < 0) {
    res.error = QStringLiteral("The folder %1 cannot be written: %2")
                    .arg(QDir::toNativeSeparators(targetFolder), QString::fromLocal8Bit(std::strerror(errno)));
    return res;
  }
  Reader r;
  if (!openReader(r, archivePath, &res.error, opt.passphrase)) return res;
  const QByteArray prefix = opt.stripPrefix.isEmpty() ? QByteArray() : opt.stripPrefix + '/';
  qint64 done = 0;
  const auto refuse = [&res](const QByteArray &name, const QString &why) {
    res.refused << QStringLiteral("%1: %2").arg(QFile::decodeName(name), why);
  };
  QSet<QByteArray> madeHere;  // relative paths this run wrote, the only ones a hard link may name
  struct ::archive_entry *e = nullptr;
  std::vector<char> chunk;
  for (;;) {
    if (cancel && cancel->load()) {
      res.cancelled = true;
      res.error = cancelledText();
      return res;
    }
    const int rc = archive_read_next_header(r.a, &e);
    if (rc == ARCHIVE_EOF) break;
    if (rc < ARCHIVE_WARN) return res.error = damaged(archivePath, r.a), res;
    const QByteArray raw(entryName(e) ? entryName(e) : "");
    const QByteArray name = normalName(raw.constData());
    if (name.isEmpty() || !chosenMatches(chosen, name) || (!prefix.isEmpty() && !name.startsWith(prefix))) {
      const Skip skipped = skipMember(r.a, cancel);
      if (skipped == Skip::Cancelled) return res.cancelled = true, res.error = cancelledText(), res;
      if (skipped == Skip::Damaged) return res.error = damaged(archivePath, r.a), res;
      continue;
    }
    const QByteArray rel = name.mid(prefix.size());
    if (raw.startsWith('/') || !isSafeMemberPath(rel) || !isSafeMemberPath(name)) {
      refuse(raw, QStringLiteral("the name leaves the target folder"));
      continue;
    }
    const mode_t type = archive_entry_filetype(e);
    if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
      refuse(raw, QStringLiteral("devices, fifos and sockets are not extracted"));
      continue;
    }
    const bool encrypted = archive_entry_is_data_encrypted(e);
    if (encrypted && opt.passphrase.isEmpty()) {
      refuse(raw, QStringLiteral("the member is encrypted and needs its passphrase"));
      res.needsPassphrase = true;
      continue;
    }
    const QList<QByteArray> parts = rel.split('/');
    QString why;
    Fd dir = openFolders(root.fd, parts, type == AE_IFDIR ? parts.size() : parts.size() - 1, true, &why);
    if (dir.fd < 0) {
      refuse(raw, why);
      continue;
    }
    if (type == AE_IFDIR) {
      madeHere.insert(rel);
      res.written << QFile::decodeName(rel);
      continue;
    }
    const QByteArray leaf = parts.last();
    struct stat st {};
    const bool exists = ::fstatat(dir.fd, leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && (!opt.overwrite || S_ISDIR(st.st_mode))) {
      refuse(raw, QStringLiteral("a file of that name is already there and was kept"));
      continue;
    }
    if (type == AE_IFLNK || archive_entry_hardlink(e)) {
      const char *hard = archive_entry_hardlink(e);
      if (hard) {
        // A hard link may only name a file this extraction wrote (a link to /etc/passwd stays refused).
        const QByteArray tn = normalName(hard);
        const QByteArray trel = tn.startsWith(prefix) ? tn.mid(prefix.size()) : QByteArray();
        if (trel.isEmpty() || !madeHere.contains(trel)) {
          refuse(raw, QStringLiteral("a hard link to something outside what is extracted"));
          continue;
        }
        const QList<QByteArray> tparts = trel.split('/');
        Fd tdir = openFolders(root.fd, tparts, tparts.size() - 1, false, &why);
        if (tdir.fd < 0 || (exists && ::unlinkat(dir.fd, leaf.constData(), 0) != 0) ||
            ::linkat(tdir.fd, tparts.last().constData(), dir.fd, leaf.constData(), 0) != 0) {
          refuse(raw, why.isEmpty() ? QString::fromLocal8Bit(std::strerror(errno)) : why);
          continue;
        }
      } else {
        const QByteArray target(archive_entry_symlink(e) ? archive_entry_symlink(e) : "");
        if (!isSafeLinkTarget(rel, target)) {
          refuse(raw, QStringLiteral("a link pointing outside the target folder"));
          continue;
        }
        if ((exists && ::unlinkat(dir.fd, leaf.constData(), 0) != 0) ||
            ::symlinkat(target.constData(), dir.fd, leaf.constData()) != 0) {
          refuse(raw, QString::fromLocal8Bit(std::strerror(errno)));
          continue;
        }
      }
      madeHere.insert(rel);
      res.written << QFile::decodeName(rel);
      continue;
    }
    // A regular file: written beside under a private name, renamed over the target only when complete.
    const QByteArray part = "." + leaf.left(200) + ".tarnpart";
    Fd out(::openat(dir.fd, part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.fd < 0) {
      res.error = QStringLiteral("%1 cannot be written: %2")
                      .arg(QFile::decodeName(rel), QString::fromLocal8Bit(std::strerror(errno)));
      return res;
    }
    const auto dropPart = [&] { ::unlinkat(dir.fd, part.constData(), 0); };
    qint64 memberBytes = 0;
    const void *buf;
    size_t len;
    la_int64_t off;
    int d;
    bool failed = false;
    while ((d = archive_read_data_block(r.a, &buf, &len, &off)) == ARCHIVE_OK) {
      // Sparse members come in pieces with holes between them.
      if (off != memberBytes && ::lseek(out.fd, off, SEEK_SET) < 0) failed = true;
      if (!failed && !writeAll(out.fd, static_cast<const char *>(buf), len)) failed = true;
      if (failed) {
        res.error = QStringLiteral("%1 cannot be written: %2")
                        .arg(QFile::decodeName(rel), QString::fromLocal8Bit(std::strerror(errno)));
        break;
      }
      memberBytes = off + qint64(len);
      done += qint64(len);
      if (done > opt.limits.maxUnpackedBytes ||
          isBomb(r.a, qMax<qint64>(done, archive_filter_bytes(r.a, 0)), opt.limits) ||
          (done > opt.limits.ratioCheckAfter &&
           done / qMax<qint64>(1, QFileInfo(archivePath).size()) > opt.limits.maxRatio)) {
        res.error = bombText(archivePath);
        failed = true;
        break;
      }
      if (cancel && cancel->load()) {
        res.cancelled = true;
        res.error = cancelledText();
        failed = true;
        break;
      }
      if (progress) progress(done, opt.totalBytes);
    }
    // A member that ends in a warning (libarchive's word for a bad checksum) is as damaged as a cut one.
    if (!failed && d != ARCHIVE_EOF && encrypted && d != ARCHIVE_FATAL) {
      // A wrong passphrase spoils this member only (libarchive checks it before the first byte): the rest go on.
      dropPart();
      refuse(raw, QStringLiteral("the passphrase is not right (or the format's encryption is not supported)"));
      res.needsPassphrase = true;
      continue;
    }
    if (!failed && d != ARCHIVE_EOF) {
      res.error = damaged(archivePath, r.a);
      failed = true;
    }
    if (!failed &&
        ::ftruncate(out.fd, memberBytes < archive_entry_size(e) && archive_entry_size_is_set(e) && d == ARCHIVE_EOF
                                ? archive_entry_size(e)
                                : memberBytes) != 0)
      failed = true;
    if (failed) {
      dropPart();
      if (res.error.isEmpty()) res.error = QString::fromLocal8Bit(std::strerror(errno));
      return res;
    }
    const mode_t perm = (archive_entry_perm(e) & 0755) | 0600;
    ::fchmod(out.fd, perm);
    const struct timespec times[2] = {{archive_entry_mtime(e), 0}, {archive_entry_mtime(e), 0}};
    ::futimens(out.fd, times);
    if (::renameat(dir.fd, part.constData(), dir.fd, leaf.constData()) != 0) {
      dropPart();
      res.error = QStringLiteral("%1 cannot be written: %2")
                      .arg(QFile::decodeName(rel), QString::fromLocal8Bit(std::strerror(errno)));
      return res;
    }
    madeHere.insert(rel);
    res.written << QFile::decodeName(rel);
  }
  res.ok = true;
  return res;
}

const QStringList &archiveSuffixes() {
  static const QStringList s = {"tar.gz", "tar.bz2", "tar.xz", "tar.zst", "tar.lz", "tar.lzma", "tar.z",
                                "tgz",    "tbz",     "tbz2",   "txz",     "tzst",   "tar",      "zip",
                                "7z",     "iso",     "rar",    "cpio",    "xar",    "cab",      "lha",
                                "lzh",    "ar",      "deb",    "jar",     "war",    "apk",      "epub"};
  return s;
}

bool looksLikeArchive(const QString &fileName) {
  const QString lower = fileName.toLower();
  for (const QString &s : archiveSuffixes())
    if (lower.endsWith(QLatin1Char('.') + s) && lower.size() > s.size() + 1) return true;
  return false;
}

}  // namespace archives
