#pragma once
// The copy/move engine behind "paste": byte-exact paths, no partial files, questions asked through an
// interface so that a worker thread can run it and a test can answer for the user.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sys/types.h>

namespace platform {

// File names are kept as the bytes the file system holds: a name that is not valid UTF-8 must survive a
// copy, a move and a trip through the clipboard unchanged, which a QString cannot promise.
using NativePath = QByteArray;
using NativePaths = QList<QByteArray>;

NativePath toNative(const QString &path);
QString fromNative(const NativePath &path);  // lossy for bytes that are not UTF-8: do not turn back into a path
// A path for messages: exact, with control characters and bytes that are not UTF-8 shown as \n, \t, \xNN.
QString displayPath(const NativePath &path);
NativePaths toNative(const QStringList &paths);
NativePath fileNameOf(const NativePath &path);  // last component, without trailing separators
NativePath folderOf(const NativePath &path);    // parent folder ("/" for items of the root)
NativePath joinPath(const NativePath &folder, const NativePath &name);

// A name not yet used in the folder for a duplicate of `name`: "name (copy).ext", then "name (copy 2).ext", ...
// Hidden files keep their leading dot in the base (".profile (copy)").
NativePath uniqueCopyName(const NativePath &folder, const NativePath &name);

// The names in a folder, without "." and "..", sorted; false (errno in *err) when it cannot be read whole.
bool readFolderNames(const NativePath &folder, NativePaths *names, int *err = nullptr);

// rename(2) that never replaces an item already at `to` (EEXIST), also where the file system lacks the flag.
int renameNoReplace(const NativePath &from, const NativePath &to);

// The user-visible reason for an errno value.
QString errnoText(int err);

enum class TransferMode { Copy, Move };

struct TransferProgress {
  NativePath currentSource;
  NativePath currentTarget;
  qint64 fileDone = 0;  // bytes of the current file
  qint64 fileTotal = 0;
  qint64 bytesDone = 0;  // bytes of the whole operation
  qint64 bytesTotal = 0;
  int itemsDone = 0;  // files, links and folders finished (or skipped)
  int itemsTotal = 0;
};

enum class ConflictAnswer { Overwrite, Skip, KeepBoth, Cancel };
struct ConflictQuestion {
  NativePath source;
  NativePath target;  // the item already there
  bool sourceIsFolder = false;
  bool targetIsFolder = false;
  qint64 sourceSize = 0;
  qint64 targetSize = 0;
  QDateTime sourceModified;
  QDateTime targetModified;
};
struct ConflictReply {
  ConflictAnswer answer = ConflictAnswer::Cancel;
  bool applyToAll = false;
};

// SkipAll skips this item and every later one that fails, without asking again (a full disk, say).
enum class ErrorAnswer { Retry, Skip, SkipAll, Cancel };
struct ErrorQuestion {
  NativePath path;  // the item the error is about
  QString message;  // complete sentence for the user, naming the item and the reason
  int error = 0;    // errno, 0 for refusals of our own
};

// What the engine asks while it runs. Called on the thread that runs the transfer.
class TransferQuestions {
 public:
  virtual ~TransferQuestions() = default;
  virtual ConflictReply askConflict(const ConflictQuestion &q) = 0;
  virtual ErrorAnswer askError(const ErrorQuestion &q) = 0;
  // Called at the start of every item and after every chunk of data; cheap implementations only.
  virtual void progress(const TransferProgress &p) {}
};

struct TransferResult {
  bool cancelled = false;
  int done = 0;             // top-level and nested files, links and folders written
  int skipped = 0;          // items left out by the user's answer
  int failed = 0;           // items left out after an error the user skipped
  QStringList errors;       // every error message shown, in order
  NativePaths created;      // top-level items made at the target (their final names)
  NativePaths createdFrom;  // the source of each of them, in the same order
  NativePaths replaced;     // those of them that took the place of an item of their name
};

// One copy or move of a list of items into a folder. run() is synchronous; call it on a worker thread
// and cancel() from any thread. Guarantees:
//  - a file appears at the target only complete: data goes to a hidden temporary name in the target folder
//    and is renamed into place after its size was verified; cancel or error removes the temporary file;
//  - a move removes a source only after its copy is complete (and, when it crossed file systems, after the
//    target file system was synced: sources go in batches); inside one file system a move is a rename;
//  - symbolic links are copied as links and never followed; a folder is never copied into itself;
//  - pasting into the folder an item already lives in makes "name (copy)".
class TFileTransfer {
 public:
  TFileTransfer(NativePaths sources, NativePath targetFolder, TransferMode mode);
  TransferResult run(TransferQuestions &questions);
  void cancel();
  bool isCancelled() const { return cancelled_.load(); }
  // A paused transfer stops at its next item or chunk (no partial file is left open for long: a chunk is
  // 8 MB) until resumed or cancelled. Any thread.
  void setPaused(bool paused);
  bool isPaused() const { return paused_.load(); }

 private:
  enum class Step { Done, Skipped, Failed, Cancelled };
  struct Ctx;
  // `freshFolder`: dstFolder was made by this run, so nothing in it can be in the way; `dstDev`: its device.
  Step transferItem(Ctx &c, const NativePath &src, const NativePath &dstFolder, const NativePath &dstName, bool top,
                    bool freshFolder, dev_t dstDev, unsigned char typeHint = 0);
  Step copyTree(Ctx &c, const NativePath &src, const NativePath &dst, bool merge, bool overwrite);
  // `size`: as counted before, or -1 when not looked at yet.
  Step copyFile(Ctx &c, const NativePath &src, const NativePath &dst, bool overwrite, qint64 size);
  Step copyLink(Ctx &c, const NativePath &src, const NativePath &dst, bool overwrite);
  Step removeSource(Ctx &c, const NativePath &src, bool isFolder, qint64 bytes = 0);
  Step flushRemovals(Ctx &c);
  Step askErrorStep(Ctx &c, const NativePath &path, const QString &message, int err, bool *retry);
  void scan(Ctx &c, const NativePath &path, int depth);
  void report(Ctx &c, bool itemStart);

  NativePaths sources_;
  NativePath target_;
  TransferMode mode_;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> paused_{false};
  std::mutex pauseMutex_;
  std::condition_variable resumed_;
};

// A wording used by the dialogs and messages: "Copying" / "Moving".
QString transferVerb(TransferMode mode);

}  // namespace platform

Q_DECLARE_METATYPE(platform::TransferProgress)
Q_DECLARE_METATYPE(platform::TransferResult)
