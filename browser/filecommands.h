#pragma once
// The File menu's commands on the browser panes: which items each command addresses (tree focus versus
// list selection, the active pair of the dual layout) and what is done to them. The main window implements
// FileCommandHost and calls the handlers; nothing here knows the main window.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>
#include "browser/transferqueue.h"
#include "browser/undohistory.h"
#include "platform/fileops.h"

class QWidget;
class QMimeData;

namespace platform {
class TTransferRunner;
}

namespace browser {

class TFileAsker;
class TPropertiesDialog;
class TFindFilesDialog;
class TProgressDialog;

// What the commands need of the main window. Pair 0 is the first browser pair (PTShellTree1/PTShellList1),
// pair 1 the second pair of the dual layout. Paths are full native paths.
class FileCommandHost {
 public:
  virtual ~FileCommandHost() = default;
  // True exactly when the second pair's marker animate2 is visible (dual layout with the second pair active).
  virtual bool secondPairActive() const = 0;
  // Whether the pair's folder tree has the input focus.
  virtual bool treeHasFocus(int pair) const = 0;
  // The folder selected in the pair's tree.
  virtual QString treeFolder(int pair) const = 0;
  // The folder the pair's list shows.
  virtual QString listFolder(int pair) const = 0;
  // The full paths of the items selected in the pair's list, in list order.
  virtual QStringList listSelection(int pair) const = 0;
  virtual void selectAll(int pair) = 0;
  // Flips the selected state of every item of the pair's list, repainting suspended (and resumed on error).
  virtual void invertSelection(int pair) = 0;
  // Makes the list show a new item (refill) when automatic refresh may not have yet.
  virtual void refresh(int pair) = 0;
  // Starts in-place editing of the name of the item with this path in the pair's list; the list calls
  // TFileCommands::renameAccepted when the edit is accepted.
  virtual void beginRename(int pair, const QString &path) = 0;
  // Shows the item's folder in the active pair and selects the item (Find Files' "Open Containing Folder").
  virtual void reveal(const QString &path) = 0;
  // Opens the rich text editor window with a new, untitled, empty document.
  virtual void openRichTextEditor() = 0;
  // Parent for dialogs and message boxes.
  virtual QWidget *dialogParent() const = 0;
};

class TFileCommands : public QObject {
  Q_OBJECT
 public:
  // `asker` answers the questions; null means message boxes (TMessageBoxAsker), owned here.
  explicit TFileCommands(FileCommandHost &host, TFileAsker *asker = nullptr, QObject *parent = nullptr);
  ~TFileCommands() override;

  int activePair() const;
  // Target rule of open, copy, move, create shortcut and delete: the active pair's tree folder when that
  // tree has the focus, otherwise the selected items of the pair's list (possibly none).
  QStringList targetItems() const;
  // Applies an accepted in-place edit; reports a refused name and returns false (the list keeps the old name).
  bool renameAccepted(const QString &path, const QString &newName);
  // Transfers still running (each has its progress dialog).
  int runningTransfers() const;
  // Copies and moves wait here for the one before them to end.
  TTransferQueue *transferQueue() const { return queue_; }
  // Copies or moves items into a folder on a worker thread behind a progress dialog, with this object's
  // questions; what paste runs, and what a drop on a pane should run. transferFinished follows.
  void startTransfer(const platform::NativePaths &sources, const QString &targetFolder, bool move);
  // A drop of files from this or another program: copies, or moves for Qt::MoveAction. False when the data
  // holds no local files.
  bool dropFiles(const QMimeData *data, const QString &targetFolder, Qt::DropAction action);
  // What the lists' copies, moves, renames, deletes and new folders did, for Undo.
  const TUndoHistory &undoHistory() const { return undo_; }

 public slots:
  void Open3Click();
  void FindFilesClick();
  void Copy1Click();
  void Cut2Click();
  void Paste1Click();
  void SelectAll1Click();
  void InvertSelection1Click();
  void CreateShortcut1Click();
  void DeleteBtnClick();
  void Rename1Click();
  void ShowPropertiesClick();
  void NewFolder1MitmClick();    // File menu and the NewDir button: the active pair's list
  void NewFolder2MitmClick();    // ListPopup: the first list
  void Lpopup2NewFolderClick();  // ListPopUp2: the second list
  void RtfFile1Click();
  // Takes back the last file operation of the history (asking first when that deletes copies) and says
  // what had to stay as it is.
  void UndoClick();

 signals:
  // A paste has finished (also when cancelled); the lists refresh themselves.
  void transferFinished(const platform::TransferResult &result);
  // The dialogs opened by ShowPropertiesClick and FindFilesClick (non-modal, deleted on close).
  void propertiesShown(browser::TPropertiesDialog *dialog);
  void findFilesShown(browser::TFindFilesDialog *dialog);
  // Delete finished: how many items went to the Trash and how many were deleted for good.
  void deleteFinished(int trashed, int deletedPermanently);
  // The history changed: the Undo item's text and whether there is anything to undo.
  void undoChanged(const QString &caption, bool enabled);

 private:
  void newFolderIn(int pair);
  // `record`: the transfer goes into the undo history (not when it is itself an undo).
  void runTransfer(const platform::NativePaths &sources, const QString &targetFolder, bool move, bool record);
  // The queue's starter: the runner of a job whose turn has come, with its progress window.
  platform::TTransferRunner *startRunner(const TTransferQueue::Job &job);
  void announceUndo();
  void putOnClipboard(bool cut);
  // Archive folders are read-only: true (after telling the user) when one of the items is a member of an
  // archive, or the folder is (or is inside) one.
  bool refusedInArchive(const QString &title, const QStringList &items, const QString &folder = {});
  // Copies members of an archive folder out to a real folder, with progress and Cancel.
  void extractMembers(const QStringList &members, const QString &targetFolder);

  FileCommandHost &host_;
  std::unique_ptr<TFileAsker> ownAsker_;
  TFileAsker *asker_;
  QList<QPointer<platform::TTransferRunner>> runners_;
  struct Extraction;
  QList<std::shared_ptr<Extraction>> extractions_;
  TUndoHistory undo_;
  TTransferQueue *queue_;
};

}  // namespace browser
