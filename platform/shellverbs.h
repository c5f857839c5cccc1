#pragma once
// The remaining shell verbs: "link", "open", new folder, rename in place, and counting a folder's size
// on a worker thread (the properties sheet). Copy, cut and paste are clipboard.h and fileops.h; delete is trash.h.
#include <QObject>
#include <atomic>
#include "platform/fileops.h"

class QThread;

namespace platform {

// "link": a symbolic link beside each item, named "Link to NAME" ("Link to NAME (2)", ...), pointing at the
// item's name so that the pair can be moved together. Returns the links made; failures go to *errors.
NativePaths createLinks(const NativePaths &items, QStringList *errors);

// True for a regular executable file that is a program (ELF) or a script ("#!"); data files that merely
// carry the execute bit (common on FAT volumes) are opened by association instead.
bool isRunnableProgram(const NativePath &path);
// "open": runs a program in its own folder, opens a folder or any other file with the desktop's association.
bool openItem(const NativePath &path, QString *error);

// "New Folder", "New Folder (2)", ... in the folder; returns the new folder's path or empty with *error set.
NativePath createNewFolder(const NativePath &folder, QString *error);

// Renames an item within its folder. Refuses empty names, "." and "..", names with "/" and names already
// taken (no silent replacement). On success *newPath is the new full path.
bool renameItem(const NativePath &path, const QString &newName, NativePath *newPath, QString *error);

struct FolderSize {
  qint64 bytes = 0;
  int files = 0;
  int folders = 0;
};

// Adds up the sizes below some items on a worker thread; links are counted, never followed.
class TFolderSizeCounter : public QObject {
  Q_OBJECT
 public:
  explicit TFolderSizeCounter(QObject *parent = nullptr);
  ~TFolderSizeCounter() override;  // stops and waits for the worker
  void start(const NativePaths &items);
  void cancel() { cancelled_.store(true); }
  bool isRunning() const { return thread_ != nullptr && !done_; }
  FolderSize result() const { return result_; }

 signals:
  void progress(const platform::FolderSize &sofar);  // a few times a second
  void finished(const platform::FolderSize &total);

 private:
  QThread *thread_ = nullptr;
  std::atomic<bool> cancelled_{false};
  bool done_ = false;
  FolderSize result_;
};

// Synchronous count, for callers already on a worker thread.
FolderSize countSize(const NativePaths &items, const std::atomic<bool> *cancel = nullptr,
                     const std::function<void(const FolderSize &)> &tick = {});

}  // namespace platform

Q_DECLARE_METATYPE(platform::FolderSize)
