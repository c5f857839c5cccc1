#include "platform/fileops.h"
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <thread>
#include <vector>

namespace platform {

namespace {
constexpr qint64 kChunk = 8 << 20;   // bytes per copy step: the unit of cancel latency and progress
constexpr qint64 kBuffer = 1 << 20;  // read/write fallback buffer
const char kTempPrefix[] = ".tarnwick-";

int lstatPath(const NativePath &p, struct stat *st) { return ::lstat(p.constData(), st); }

NativePath tempNameIn(const NativePath &folder) {
  const quint64 r = QRandomGenerator::global()->generate64();
  return joinPath(folder, QByteArray(kTempPrefix) + QByteArray::number(r, 16) + ".part");
}

bool sameItem(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

QDateTime mtimeOf(const struct stat &st) {
  return QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

// Real path of a folder, or empty when it cannot be resolved.
NativePath realPath(const NativePath &p) {
  char buf[PATH_MAX];
  if (!::realpath(p.constData(), buf)) return {};
  return NativePath(buf);
}

struct DirEntry {
  NativePath name;
  unsigned char type;  // DT_REG, DT_DIR, ... or DT_UNKNOWN where the file system does not say
  bool operator<(const DirEntry &o) const { return name < o.name; }
};

bool readNames(const NativePath &folder, std::vector<DirEntry> *names, int *err) {
  DIR *d = ::opendir(folder.constData());
  if (!d) {
    *err = errno;
    return false;
  }
  errno = 0;
  while (dirent *e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names->push_back({NativePath(e->d_name), e->d_type});
  }
  *err = errno;
  ::closedir(d);
  std::sort(names->begin(), names->end());  // a predictable order for progress and for tests
  return *err == 0;
}

// The process's umask without changing it (umask() would, for a moment, for every thread); when unknown,
// every created file gets its mode set explicitly.
mode_t currentUmask() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray &line : status.readAll().split('\n')) {
      if (line.startsWith("Umask:")) {
        bool ok = false;
        const uint v = line.mid(6).trimmed().toUInt(&ok, 8);
        if (ok) return mode_t(v);
      }
    }
  }
  return 07777;
}

QString display(const NativePath &p) { return QStringLiteral("\"%1\"").arg(displayPath(p)); }
}  // namespace

bool readFolderNames(const NativePath &folder, NativePaths *names, int *err) {
  std::vector<DirEntry> entries;
  int e = 0;
  const bool ok = readNames(folder, &entries, &e);
  if (err) *err = e;
  for (const DirEntry &d : entries) *names << d.name;
  return ok;
}

int renameNoReplace(const NativePath &from, const NativePath &to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  struct stat st;
  if (lstatPath(to, &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(from.constData(), to.constData());
}

QString displayPath(const NativePath &path) {
  QString out;
  const auto *s = reinterpret_cast<const unsigned char *>(path.constData());
  const int n = path.size();
  auto escape = [&out](unsigned char b) {
    if (b == '\n')
      out += QStringLiteral("\\n");
    else if (b == '\t')
      out += QStringLiteral("\\t");
    else
      out += QStringLiteral("\\x") + QString::number(b, 16).rightJustified(2, u'0').toUpper();
  };
  for (int i = 0; i < n;) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7f)
        escape(b);
      else
        out += QChar(b);
      ++i;
      continue;
    }
    const int len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) ok = (s[i + k] & 0xC0) == 0x80;
    if (ok) {
      // Overlong forms and surrogates decode to U+FFFD; the encoded U+FFFD itself is kept.
      const QString ch = QString::fromUtf8(reinterpret_cast<const char *>(s + i), len);
      const bool isReplacement = len == 3 && s[i] == 0xEF && s[i + 1] == 0xBF && s[i + 2] == 0xBD;
      ok = isReplacement || !ch.contains(QChar::ReplacementCharacter);
      if (ok) {
        out += ch;
        i += len;
        continue;
      }
    }
    escape(b);
    ++i;
  }
  return out;
}

NativePath toNative(const QString &path) { return QFile::encodeName(path); }
QString fromNative(const NativePath &path) { return QFile::decodeName(path); }
NativePaths toNative(const QStringList &paths) {
  NativePaths out;
  for (const QString &p : paths) out << toNative(p);
  return out;
}

NativePath fileNameOf(const NativePath &path) {
  NativePath p = path;
  while (p.size() > 1 && p.endsWith('/')) p.chop(1);
  const int slash = p.lastIndexOf('/');
  return slash < 0 ? p : p.mid(slash + 1);
}

NativePath folderOf(const NativePath &path) {
  NativePath p = path;
  while (p.size() > 1 && p.endsWith('/')) p.chop(1);
  const int slash = p.lastIndexOf('/');
  if (slash < 0) return ".";
  if (slash == 0) return "/";
  return p.left(slash);
}

NativePath joinPath(const NativePath &folder, const NativePath &name) {
  if (folder.endsWith('/')) return folder + name;
  return folder + '/' + name;
}

NativePath uniqueCopyName(const NativePath &folder, const NativePath &name) {
  // The extension is what follows the last dot, unless the dot starts the name (hidden files).
  const int dot = name.lastIndexOf('.');
  const bool hasExt = dot > 0;
  const NativePath base = hasExt ? name.left(dot) : name;
  const NativePath ext = hasExt ? name.mid(dot) : NativePath();
  for (int n = 1;; ++n) {
    const NativePath suffix = n == 1 ? NativePath(" (copy)") : " (copy " + NativePath::number(n) + ")";
    const NativePath candidate = base + suffix + ext;
    struct stat st;
    if (lstatPath(joinPath(folder, candidate), &st) != 0) return candidate;
  }
}

QString errnoText(int err) {
  switch (err) {
    case ENOSPC: return QCoreApplication::translate("fileops", "there is not enough space on the disk");
    case EFBIG: return QCoreApplication::translate("fileops", "the file is too large for the destination");
    case EACCES:
    case EPERM: return QCoreApplication::translate("fileops", "access is denied");
    case EROFS: return QCoreApplication::translate("fileops", "the disk is read-only");
    case ENOENT: return QCoreApplication::translate("fileops", "it does not exist");
    case ENAMETOOLONG: return QCoreApplication::translate("fileops", "the name is too long");
    case EDQUOT: return QCoreApplication::translate("fileops", "the disk quota is exhausted");
    default: return QString::fromLocal8Bit(std::strerror(err));
  }
}

QString transferVerb(TransferMode mode) {
  return mode == TransferMode::Move ? QCoreApplication::translate("fileops", "Moving")
                                    : QCoreApplication::translate("fileops", "Copying");
}

struct TFileTransfer::Ctx {
  explicit Ctx(TransferQuestions &questions) : q(questions) {}
  TransferQuestions &q;
  TransferResult res;
  TransferProgress prog;
  bool conflictForAll = false;
  bool skipAllErrors = false;
  ConflictAnswer conflictAllAnswer = ConflictAnswer::Skip;
  std::vector<char> buffer;
  mode_t umask = 0;
  bool anonymousFiles = true;         // O_TMPFILE works on the target so far
  std::atomic<qint64> bytesTotal{0};  // written by the counting thread
  std::atomic<int> itemsTotal{0};
  // A move across file systems removes its sources in batches, each after one sync of the target file
  // system, instead of a sync per file: durable, and not a disk flush for every small file.
  std::vector<std::pair<NativePath, bool>> pendingRemoval;  // (source, is a folder), children first
  qint64 pendingBytes = 0;
  bool pendingNeedsSync = false;
  int syncFd = -1;
  dev_t targetDev = 0;
};

namespace {
// A top-level item made at the target, with what it came from (the undo history pairs them).
void noteCreated(TransferResult &res, const NativePath &src, const NativePath &dst, bool replacedOne) {
  res.created << dst;
  res.createdFrom << src;
  if (replacedOne) res.replaced << dst;
}
}  // namespace

TFileTransfer::TFileTransfer(NativePaths sources, NativePath targetFolder, TransferMode mode)
    : sources_(std::move(sources)), target_(std::move(targetFolder)), mode_(mode) {}

void TFileTransfer::cancel() {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  cancelled_.store(true);
  resumed_.notify_all();
}

void TFileTransfer::setPaused(bool paused) {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  paused_.store(paused);
  resumed_.notify_all();
}

void TFileTransfer::report(Ctx &c, bool) {
  // The totals grow while the count runs beside the copy; they never show less than is done.
  c.prog.itemsTotal = std::max(c.itemsTotal.load(), c.prog.itemsDone);
  c.prog.bytesTotal = std::max(c.bytesTotal.load(), c.prog.bytesDone);
  c.q.progress(c.prog);
  if (paused_.load()) {
    std::unique_lock<std::mutex> lock(pauseMutex_);
    resumed_.wait(lock, [this] { return !paused_.load() || cancelled_.load(); });
  }
}

void TFileTransfer::scan(Ctx &c, const NativePath &path, int depth) {
  struct stat st;
  if (lstatPath(path, &st) != 0) return;
  ++c.itemsTotal;
  if (S_ISREG(st.st_mode)) c.bytesTotal += st.st_size;
  if (!S_ISDIR(st.st_mode) || depth > 2000) return;
  std::vector<DirEntry> names;
  int err = 0;
  readNames(path, &names, &err);
  for (const DirEntry &n : names) {
    if (isCancelled()) return;
    scan(c, joinPath(path, n.name), depth + 1);
  }
}

TFileTransfer::Step TFileTransfer::askErrorStep(Ctx &c, const NativePath &path, const QString &message, int err,
                                                bool *retry) {
  *retry = false;
  c.res.errors << message;
  if (c.skipAllErrors) {
    ++c.res.failed;
    return Step::Failed;
  }
  ErrorQuestion q{path, message, err};
  switch (c.q.askError(q)) {
    case ErrorAnswer::Retry: *retry = true; return Step::Failed;
    case ErrorAnswer::SkipAll: c.skipAllErrors = true; [[fallthrough]];
    case ErrorAnswer::Skip: ++c.res.failed; return Step::Failed;
    case ErrorAnswer::Cancel: cancel(); return Step::Cancelled;
  }
  return Step::Failed;
}

TransferResult TFileTransfer::run(TransferQuestions &questions) {
  Ctx c(questions);
  c.umask = currentUmask();
  struct stat tst;
  for (;;) {
    int err;
    if (::stat(target_.constData(), &tst) == 0) {
      if (S_ISDIR(tst.st_mode)) break;
      err = ENOTDIR;
    } else {
      err = errno;
    }
    bool retry = false;
    const QString msg = QCoreApplication::translate("fileops", "The destination folder %1 cannot be used: %2.")
                            .arg(display(target_), errnoText(err));
    if (askErrorStep(c, target_, msg, err, &retry) == Step::Cancelled || !retry) {
      c.res.cancelled = isCancelled();
      return c.res;
    }
  }

  c.targetDev = tst.st_dev;
  if (mode_ == TransferMode::Move) c.syncFd = ::open(target_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Totals for the progress bars, counted on a second thread so that copying starts at once. A move inside
  // one file system is a rename per item; there it counts items.
  std::thread counter([this, &c, dev = tst.st_dev] {
    for (const NativePath &s : sources_) {
      struct stat st;
      if (mode_ == TransferMode::Move && lstatPath(s, &st) == 0 && st.st_dev == dev) {
        ++c.itemsTotal;
        continue;
      }
      scan(c, s, 0);
    }
  });
  report(c, true);

  for (const NativePath &s : sources_) {
    if (isCancelled()) break;
    const Step step = transferItem(c, s, target_, fileNameOf(s), true, false, tst.st_dev);
    if (step == Step::Cancelled) break;
  }
  counter.join();
  const bool cancelledBeforeFlush = isCancelled();
  flushRemovals(c);  // also after a cancel: what was moved completely leaves its old place
  if (c.syncFd >= 0) ::close(c.syncFd);
  c.res.cancelled = cancelledBeforeFlush || isCancelled();
  c.prog.currentSource.clear();
  c.prog.currentTarget.clear();
  report(c, true);
  return c.res;
}

TFileTransfer::Step TFileTransfer::transferItem(Ctx &c, const NativePath &src, const NativePath &dstFolder,
                                                const NativePath &dstNameIn, bool top, bool freshFolder, dev_t dstDev,
                                                unsigned char typeHint) {
  if (isCancelled()) return Step::Cancelled;
  // The common case of a folder copy, a plain file into a folder this run made: no conflict is possible and
  // the file's own descriptor tells the rest, so no separate look at it first.
  if (!top && freshFolder && mode_ == TransferMode::Copy && typeHint == DT_REG) {
    const NativePath dst = joinPath(dstFolder, dstNameIn);
    c.prog.currentSource = src;
    c.prog.currentTarget = dst;
    c.prog.fileDone = 0;
    c.prog.fileTotal = 0;
    report(c, true);
    const Step step = copyFile(c, src, dst, false, -1);
    if (step != Step::Done) return step;
    ++c.res.done;
    ++c.prog.itemsDone;
    report(c, false);
    return Step::Done;
  }
  struct stat st;
  bool retry = false;
  for (;;) {
    if (lstatPath(src, &st) == 0) break;
    const int err = errno;
    const Step s = askErrorStep(
        c, src, QCoreApplication::translate("fileops", "Cannot read %1: %2.").arg(display(src), errnoText(err)), err,
        &retry);
    if (!retry) return s;
  }
  const bool isDir = S_ISDIR(st.st_mode);
  NativePath dstName = dstNameIn;
  NativePath dst = joinPath(dstFolder, dstName);
  c.prog.currentSource = src;
  c.prog.currentTarget = dst;
  c.prog.fileDone = 0;
  c.prog.fileTotal = S_ISREG(st.st_mode) ? st.st_size : 0;
  report(c, true);

  auto finishSkipped = [&](qint64 bytes) {
    c.prog.bytesDone += bytes;
    ++c.prog.itemsDone;
    ++c.res.skipped;
    report(c, false);
    return Step::Skipped;
  };

  if (top) {
    struct stat fst;
    if (::stat(dstFolder.constData(), &fst) != 0) {
      const int err = errno;
      askErrorStep(c, dstFolder,
                   QCoreApplication::translate("fileops", "Cannot open the folder %1: %2.")
                       .arg(display(dstFolder), errnoText(err)),
                   err, &retry);
      return isCancelled() ? Step::Cancelled : Step::Failed;
    }
    dstDev = fst.st_dev;
    struct stat sparent;
    const bool sameFolder = ::stat(folderOf(src).constData(), &sparent) == 0 && sameItem(sparent, fst);
    if (sameFolder) {
      if (mode_ == TransferMode::Move) {  // moving an item to where it already is changes nothing
        ++c.prog.itemsDone;
        report(c, false);
        return Step::Done;
      }
      dstName = uniqueCopyName(dstFolder, dstName);
      dst = joinPath(dstFolder, dstName);
      c.prog.currentTarget = dst;
    }
    if (isDir) {
      const NativePath realSrc = realPath(src);
      const NativePath realDst = realPath(dstFolder);
      if (!realSrc.isEmpty() && (realDst == realSrc || realDst.startsWith(realSrc + '/') || realSrc == "/")) {
        const QString msg =
            QCoreApplication::translate("fileops", "Cannot %1 %2: the destination folder is inside the source folder.")
                .arg(mode_ == TransferMode::Move ? QCoreApplication::translate("fileops", "move")
                                                 : QCoreApplication::translate("fileops", "copy"),
                     display(src));
        askErrorStep(c, src, msg, 0, &retry);
        return isCancelled() ? Step::Cancelled : Step::Failed;
      }
    }
  }

  bool overwrite = false, merge = false;
  struct stat dt;
  if (!freshFolder && lstatPath(dst, &dt) == 0) {
    if (sameItem(st, dt)) {  // reached through another path to the same folder
      if (mode_ == TransferMode::Move) return finishSkipped(0);
      dstName = uniqueCopyName(dstFolder, dstName);
      dst = joinPath(dstFolder, dstName);
    } else {
      ConflictReply reply;
      if (c.conflictForAll) {
        reply.answer = c.conflictAllAnswer;
      } else {
        ConflictQuestion q{src, dst, isDir, S_ISDIR(dt.st_mode), st.st_size, dt.st_size, mtimeOf(st), mtimeOf(dt)};
        reply = c.q.askConflict(q);
        if (reply.applyToAll && reply.answer != ConflictAnswer::Cancel) {
          c.conflictForAll = true;
          c.conflictAllAnswer = reply.answer;
        }
      }
      switch (reply.answer) {
        case ConflictAnswer::Cancel: cancel(); return Step::Cancelled;
        case ConflictAnswer::Skip: return finishSkipped(S_ISREG(st.st_mode) ? st.st_size : 0);
        case ConflictAnswer::KeepBoth:
          dstName = uniqueCopyName(dstFolder, dstName);
          dst = joinPath(dstFolder, dstName);
          break;
        case ConflictAnswer::Overwrite:
          if (isDir && S_ISDIR(dt.st_mode)) {
            merge = true;
          } else if (!isDir && !S_ISDIR(dt.st_mode)) {
            overwrite = true;
          } else {
            askErrorStep(c, dst,
                         QCoreApplication::translate(
                             "fileops", "Cannot replace %1: a file and a folder cannot replace each other.")
                             .arg(display(dst)),
                         0, &retry);
            return isCancelled() ? Step::Cancelled : Step::Failed;
          }
          break;
      }
    }
    c.prog.currentTarget = dst;
  }

  // Inside one file system a move is a rename (a merge moves the children one by one).
  if (mode_ == TransferMode::Move && st.st_dev == dstDev && !merge) {
    for (;;) {
      const int rc = overwrite ? ::rename(src.constData(), dst.constData()) : renameNoReplace(src, dst);
      if (rc == 0) {
        ++c.res.done;
        ++c.prog.itemsDone;
        if (top) noteCreated(c.res, src, dst, overwrite);
        report(c, false);
        return Step::Done;
      }
      const int err = errno;
      if (err == EXDEV) break;  // a mount point on the way: fall back to copy and remove
      const Step s = askErrorStep(
          c, src, QCoreApplication::translate("fileops", "Cannot move %1: %2.").arg(display(src), errnoText(err)), err,
          &retry);
      if (!retry) return s;
    }
  }

  Step step;
  if (isDir) {
    if (!merge) {
      for (;;) {
        if (::mkdir(dst.constData(), 0700) == 0) break;
        const int err = errno;
        const Step s = askErrorStep(
            c, dst, QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err)),
            err, &retry);
        if (!retry) return s;
      }
      ++c.res.done;
      if (top) noteCreated(c.res, src, dst, false);
    }
    ++c.prog.itemsDone;
    std::vector<DirEntry> names;
    for (;;) {
      int err = 0;
      names.clear();
      if (readNames(src, &names, &err)) break;
      const Step s = askErrorStep(
          c, src,
          QCoreApplication::translate("fileops", "Cannot read the folder %1: %2.").arg(display(src), errnoText(err)),
          err, &retry);
      if (!retry) {
        if (!merge) {  // leave what we made the same mode as the source even though it stays empty
          ::chmod(dst.constData(), st.st_mode & 07777);
        }
        return s;
      }
    }
    bool allDone = true;
    for (const DirEntry &n : names) {
      const Step s = transferItem(c, joinPath(src, n.name), dst, n.name, false, !merge, dstDev, n.type);
      if (s == Step::Cancelled) {
        allDone = false;
        break;
      }
      if (s != Step::Done) allDone = false;
    }
    if (!merge) {
      ::chmod(dst.constData(), st.st_mode & 07777);
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::utimensat(AT_FDCWD, dst.constData(), times, AT_SYMLINK_NOFOLLOW);
    }
    if (isCancelled()) return Step::Cancelled;
    if (mode_ == TransferMode::Move && allDone) return removeSource(c, src, true);
    return allDone ? Step::Done : Step::Failed;
  }

  if (S_ISLNK(st.st_mode)) {
    step = copyLink(c, src, dst, overwrite);
  } else if (S_ISREG(st.st_mode)) {
    step = copyFile(c, src, dst, overwrite, st.st_size);
  } else if (S_ISFIFO(st.st_mode)) {
    for (;;) {
      const NativePath tmp = tempNameIn(dstFolder);
      if (::mkfifo(tmp.constData(), st.st_mode & 07777) == 0) {
        if ((overwrite ? ::rename(tmp.constData(), dst.constData()) : renameNoReplace(tmp, dst)) == 0) {
          step = Step::Done;
          break;
        }
        ::unlink(tmp.constData());
      }
      const int err = errno;
      step = askErrorStep(
          c, dst, QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err)),
          err, &retry);
      if (!retry) break;
    }
  } else {
    step = askErrorStep(c, src,
                        QCoreApplication::translate("fileops", "Cannot copy %1: devices and sockets cannot be copied.")
                            .arg(display(src)),
                        0, &retry);
  }
  if (step != Step::Done) return step;
  ++c.res.done;
  ++c.prog.itemsDone;
  if (top) noteCreated(c.res, src, dst, overwrite);
  report(c, false);
  if (mode_ == TransferMode::Move) {
    if (!S_ISREG(st.st_mode)) c.pendingNeedsSync = true;  // a link or pipe made by copying
    return removeSource(c, src, false, S_ISREG(st.st_mode) ? st.st_size : 0);
  }
  return Step::Done;
}

TFileTransfer::Step TFileTransfer::removeSource(Ctx &c, const NativePath &src, bool isFolder, qint64 bytes) {
  c.pendingRemoval.emplace_back(src, isFolder);
  c.pendingBytes += bytes;
  if (c.pendingRemoval.size() >= 1000 || c.pendingBytes >= (qint64(256) << 20)) return flushRemovals(c);
  return Step::Done;
}

TFileTransfer::Step TFileTransfer::flushRemovals(Ctx &c) {
  if (c.pendingRemoval.empty()) return Step::Done;
  const auto pending = std::move(c.pendingRemoval);
  c.pendingRemoval.clear();
  c.pendingBytes = 0;
  bool retry = false;
  if (c.pendingNeedsSync) {
    c.pendingNeedsSync = false;
    for (;;) {
      if (c.syncFd < 0 || ::syncfs(c.syncFd) == 0) break;
      const int err = errno;
      const Step s = askErrorStep(c, target_,
                                  QCoreApplication::translate("fileops",
                                                              "The copies in %1 cannot be made safe on the disk: %2. "
                                                              "The originals are kept.")
                                      .arg(display(target_), errnoText(err)),
                                  err, &retry);
      if (!retry) return s;
    }
  }
  Step result = Step::Done;
  for (const auto &[src, isFolder] : pending) {
    for (;;) {
      if ((isFolder ? ::rmdir(src.constData()) : ::unlink(src.constData())) == 0) break;
      const int err = errno;
      // A folder still holding something the user chose to keep stays where it is.
      if (isFolder && (err == ENOTEMPTY || err == EEXIST)) break;
      const Step s = askErrorStep(
          c, src,
          QCoreApplication::translate("fileops", "%1 was copied but cannot be removed from its old place: %2.")
              .arg(display(src), errnoText(err)),
          err, &retry);
      if (retry) continue;
      if (s == Step::Cancelled) return s;
      result = Step::Failed;
      break;
    }
  }
  return result;
}

TFileTransfer::Step TFileTransfer::copyLink(Ctx &c, const NativePath &src, const NativePath &dst, bool overwrite) {
  bool retry = false;
  for (;;) {
    int err = 0;
    QString what;
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = ::readlink(src.constData(), buf.data(), buf.size() - 1);
    if (n < 0) {
      err = errno;
      what = QCoreApplication::translate("fileops", "Cannot read %1: %2.").arg(display(src), errnoText(err));
    } else {
      buf[n] = 0;
      const NativePath tmp = tempNameIn(folderOf(dst));
      if (::symlink(buf.data(), tmp.constData()) == 0) {
        struct stat st;
        if (lstatPath(src, &st) == 0) {
          const struct timespec times[2] = {st.st_atim, st.st_mtim};
          ::utimensat(AT_FDCWD, tmp.constData(), times, AT_SYMLINK_NOFOLLOW);
        }
        if ((overwrite ? ::rename(tmp.constData(), dst.constData()) : renameNoReplace(tmp, dst)) == 0)
          return Step::Done;
        err = errno;
        ::unlink(tmp.constData());
      } else {
        err = errno;
      }
      what = QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err));
    }
    const Step s = askErrorStep(c, src, what, err, &retry);
    if (!retry) return s;
  }
}

TFileTransfer::Step TFileTransfer::copyFile(Ctx &c, const NativePath &src, const NativePath &dst, bool overwrite,
                                            qint64 size) {
  const qint64 bytesBefore = c.prog.bytesDone;
  bool retry = false;
  for (;;) {
    c.prog.bytesDone = bytesBefore;
    c.prog.fileDone = 0;
    int err = 0;
    QString what;
    NativePath tmp;
    int in = ::open(src.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    int out = -1;
    bool anonymous = false;
    struct stat st;
    if (in < 0 || ::fstat(in, &st) != 0) {
      err = errno;
      what = QCoreApplication::translate("fileops", "Cannot read %1: %2.").arg(display(src), errnoText(err));
    } else {
      c.prog.fileTotal = st.st_size;
      size = st.st_size;
      // Preferably a file without a name until it is complete (nothing can be left behind, not even after a
      // crash); where the file system cannot, a hidden temporary name that is renamed at the end.
      if (!overwrite && c.anonymousFiles) {
        out = ::open(folderOf(dst).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777);
        anonymous = out >= 0;
        if (!anonymous && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) c.anonymousFiles = false;
      }
      if (!anonymous) {
        tmp = tempNameIn(folderOf(dst));
        out = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
      }
      if (out < 0) {
        err = errno;
        what = QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err));
        tmp.clear();
      }
    }
    if (out >= 0) {
      bool useRange = true;
      qint64 done = 0;
      bool readFailed = false;
      // Up to the size seen at open: a file that shrinks meanwhile is caught below, one that grows is copied as
      // it was (and the loop saves the extra call that would only return 0 on every small file).
      while (done < size) {
        if (isCancelled()) break;
        ssize_t n;
        if (useRange) {
          n = ::copy_file_range(in, nullptr, out, nullptr, size_t(std::min(kChunk, size - done)), 0);
          if (n < 0 && done == 0 &&
              (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
            useRange = false;
            continue;
          }
          if (n < 0) {
            err = errno;
            break;
          }
        } else {
          if (c.buffer.empty()) c.buffer.resize(kBuffer);
          qint64 chunkDone = 0;
          n = 0;
          while (chunkDone < kChunk && done + chunkDone < size) {
            const ssize_t r = ::read(in, c.buffer.data(), size_t(std::min<qint64>(kBuffer, size - done - chunkDone)));
            if (r < 0) {
              if (errno == EINTR) continue;
              err = errno;
              readFailed = true;
              break;
            }
            if (r == 0) break;
            ssize_t w = 0;
            while (w < r) {
              const ssize_t k = ::write(out, c.buffer.data() + w, size_t(r - w));
              if (k < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
              }
              w += k;
            }
            if (err) break;
            chunkDone += r;
          }
          n = ssize_t(chunkDone);
          if (err) break;
        }
        if (n == 0) break;
        done += n;
        c.prog.fileDone = done;
        c.prog.bytesDone = bytesBefore + done;
        report(c, false);
      }
      if (isCancelled()) {
        ::close(out);
        ::close(in);
        if (!anonymous) ::unlink(tmp.constData());
        c.prog.bytesDone = bytesBefore;
        return Step::Cancelled;
      }
      struct stat ost;
      if (err) {
        what = readFailed
                   ? QCoreApplication::translate("fileops", "Cannot read %1: %2.").arg(display(src), errnoText(err))
                   : QCoreApplication::translate("fileops", "Cannot write %1: %2.").arg(display(dst), errnoText(err));
      } else if (done != size || (mode_ == TransferMode::Move && (::fstat(out, &ost) != 0 || ost.st_size != size))) {
        // The size check a move relies on before it removes the source; a copy counts what the kernel wrote.
        err = 0;
        what = QCoreApplication::translate("fileops", "%1 changed while it was being copied; the copy was removed.")
                   .arg(display(src));
      } else {
        if ((st.st_mode & 07777 & ~c.umask) != (st.st_mode & 07777)) ::fchmod(out, st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
        // A move deletes the source later, after a sync of the target's file system; a file on another file
        // system (a mount inside the target) is synced on its own.
        if (mode_ == TransferMode::Move) {
          c.pendingNeedsSync = true;
          if (ost.st_dev != c.targetDev && ::fsync(out) != 0) {
            err = errno;
            what = QCoreApplication::translate("fileops", "Cannot write %1: %2.").arg(display(dst), errnoText(err));
          }
        }
      }
      bool linked = false;
      if (what.isEmpty() && anonymous) {
        // Giving the finished file its name; fails like an exclusive create when the name is taken.
        char proc[48];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out);
        if (::linkat(out, "", AT_FDCWD, dst.constData(), AT_EMPTY_PATH) == 0 ||
            ::linkat(AT_FDCWD, proc, AT_FDCWD, dst.constData(), AT_SYMLINK_FOLLOW) == 0) {
          linked = true;
        } else {
          err = errno;
          if (err == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {  // no /proc: named files from now on
            c.anonymousFiles = false;
            ::close(out);
            ::close(in);
            continue;
          }
          what = QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err));
        }
      }
      const int closeRc = ::close(out);
      if (!err && what.isEmpty() && closeRc != 0) {
        err = errno;
        what = QCoreApplication::translate("fileops", "Cannot write %1: %2.").arg(display(dst), errnoText(err));
        if (linked) ::unlink(dst.constData());
        linked = false;
      }
      if (linked) {
        ::close(in);
        return Step::Done;
      }
      if (what.isEmpty() && !anonymous) {
        if ((overwrite ? ::rename(tmp.constData(), dst.constData()) : renameNoReplace(tmp, dst)) == 0) {
          ::close(in);
          return Step::Done;
        }
        err = errno;
        what = QCoreApplication::translate("fileops", "Cannot create %1: %2.").arg(display(dst), errnoText(err));
      }
      if (!anonymous) ::unlink(tmp.constData());
    }
    if (in >= 0) ::close(in);
    c.prog.bytesDone = bytesBefore;
    const Step s = askErrorStep(c, src, what, err, &retry);
    if (!retry) {
      c.prog.bytesDone = bytesBefore + std::max<qint64>(size, 0);  // the overall bar moves past the skipped file
      return s;
    }
  }
}

}  // namespace platform
