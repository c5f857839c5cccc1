#include "browser/filecommands.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <functional>
#include <QtConcurrent/QtConcurrentRun>
#include "browser/filecommands_asker.h"
#include "controls/archivefolders.h"
#include <QFuture>
#include <QMap>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include "browser/findfilesdialog.h"
#include "browser/progressdialog.h"
#include "browser/propertiesdialog.h"
#include "platform/clipboard.h"
#include "platform/fileops_runner.h"
#include "platform/shellverbs.h"
#include "platform/trash.h"

namespace browser {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("TFileCommands", text); }

// Runs work on a pool thread and waits for it with the event loop running (no user input meanwhile).
void runOffThread(const std::function<void()> &work) {
  QFutureWatcher<void> watcher;
  QEventLoop loop;
  QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
  watcher.setFuture(QtConcurrent::run(work));
  if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  watcher.waitForFinished();
}
const int kNamesShown = 10;  // items named in a delete confirmation before "and N more"

QString itemList(const QStringList &paths) {
  QStringList lines;
  for (int i = 0; i < paths.size() && i < kNamesShown; ++i)
    lines << platform::displayPath(platform::toNative(paths[i]));
  if (paths.size() > kNamesShown) lines << tr("... and %1 more").arg(paths.size() - kNamesShown);
  return lines.join('\n');
}
}  // namespace

TFileCommands::TFileCommands(FileCommandHost &host, TFileAsker *asker, QObject *parent)
    : QObject(parent),
      host_(host),
      asker_(asker),
      queue_(new TTransferQueue([this](const TTransferQueue::Job &job) { return startRunner(job); }, this)) {
  if (!asker_) {
    ownAsker_ = std::make_unique<TMessageBoxAsker>();
    asker_ = ownAsker_.get();
  }
}

struct TFileCommands::Extraction {
  std::atomic<bool> cancel{false};
  std::atomic<qint64> done{0};
  QFuture<archives::ExtractResult> future;
};

TFileCommands::~TFileCommands() {
  for (const auto &r : runners_) delete r.data();  // cancels and waits: no partial files
  for (const auto &x : extractions_) {
    x->cancel = true;
    x->future.waitForFinished();
  }
}

bool TFileCommands::refusedInArchive(const QString &title, const QStringList &items, const QString &folder) {
  QStringList paths = items;
  if (!folder.isEmpty()) paths << folder;
  for (const QString &p : paths) {
    if (p == folder ? !TArchiveFolders::isArchiveFolder(p) : !TArchiveFolders::isMember(p)) continue;
    asker_->setParentWidget(host_.dialogParent());
    asker_->inform(title, TArchiveFolders::readOnlyMessage());
    return true;
  }
  return false;
}

void TFileCommands::extractMembers(const QStringList &members, const QString &targetFolder) {
  if (!TArchiveFolders::shared().askPassphraseIfWanted(host_.dialogParent(), members)) return;
  auto x = std::make_shared<Extraction>();
  const qint64 total = TArchiveFolders::shared().totalSize(members);
  x->future = QtConcurrent::run([x, members, targetFolder] {
    return TArchiveFolders::shared().extractTo(
        members, targetFolder, [x](qint64 done, qint64) { x->done = done; }, &x->cancel);
  });
  extractions_ << x;
  auto *dialog = new QProgressDialog(tr("Copying from the archive to %1").arg(targetFolder), tr("Cancel"), 0, 1000,
                                     host_.dialogParent());
  dialog->setWindowTitle(tr("Copy"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setMinimumDuration(400);  // quick copies do not flash a dialog
  dialog->setAutoClose(false);
  dialog->setAutoReset(false);
  connect(dialog, &QProgressDialog::canceled, dialog, [x] { x->cancel = true; });
  auto *poll = new QTimer(dialog);
  poll->setInterval(100);
  connect(poll, &QTimer::timeout, this, [this, x, total, dialog] {
    if (total > 0) dialog->setValue(int(qMin<qint64>(999, x->done * 1000 / total)));
    if (!x->future.isFinished()) return;
    const archives::ExtractResult r = x->future.result();
    extractions_.removeAll(x);
    dialog->close();
    QStringList problems;
    if (!r.ok && !r.cancelled) problems << r.error;
    if (!r.refused.isEmpty()) problems << tr("Not copied:") << r.refused.mid(0, kNamesShown);
    if (!problems.isEmpty()) {
      asker_->setParentWidget(host_.dialogParent());
      asker_->inform(tr("Copy"), problems.join('\n'));
    }
    platform::TransferResult done;
    done.cancelled = r.cancelled;
    done.done = int(r.written.size());
    done.failed = int(r.refused.size()) + (r.ok || r.cancelled ? 0 : 1);
    done.errors = problems;
    emit transferFinished(done);
  });
  poll->start();
}

int TFileCommands::activePair() const { return host_.secondPairActive() ? 1 : 0; }

QStringList TFileCommands::targetItems() const {
  const int pair = activePair();
  if (host_.treeHasFocus(pair)) {
    const QString folder = host_.treeFolder(pair);
    return folder.isEmpty() ? QStringList() : QStringList{folder};
  }
  return host_.listSelection(pair);
}

int TFileCommands::runningTransfers() const {
  int n = 0;
  for (const auto &r : runners_)
    if (r && r->isRunning()) ++n;
  return n;
}

void TFileCommands::Open3Click() {
  asker_->setParentWidget(host_.dialogParent());
  for (const QString &path : targetItems()) {
    QString error;
    if (!platform::openItem(platform::toNative(path), &error)) asker_->inform(tr("Open"), error);
  }
}

void TFileCommands::FindFilesClick() {
  auto *dialog = new TFindFilesDialog(host_.treeFolder(activePair()), host_.dialogParent());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->onReveal = [this](const QString &path) { host_.reveal(path); };
  dialog->show();
  emit findFilesShown(dialog);
}

void TFileCommands::putOnClipboard(bool cut) {
  const QStringList items = targetItems();
  if (items.isEmpty()) return;
  if (cut && refusedInArchive(tr("Cut"), items)) return;
  platform::putFilesOnClipboard(platform::toNative(items), cut);
}

void TFileCommands::Copy1Click() { putOnClipboard(false); }
void TFileCommands::Cut2Click() { putOnClipboard(true); }

void TFileCommands::Paste1Click() {
  const platform::ClipboardFiles files = platform::filesOnClipboard();
  if (files.isEmpty()) return;
  const QString folder = host_.listFolder(activePair());
  if (folder.isEmpty()) return;
  startTransfer(files.paths, folder, files.cut);
}

bool TFileCommands::dropFiles(const QMimeData *data, const QString &targetFolder, Qt::DropAction action) {
  const platform::ClipboardFiles files = platform::filesFromMimeData(data);
  if (files.isEmpty() || targetFolder.isEmpty()) return false;
  startTransfer(files.paths, targetFolder, action == Qt::MoveAction);
  return true;
}

void TFileCommands::startTransfer(const platform::NativePaths &sources, const QString &targetFolder, bool move) {
  asker_->setParentWidget(host_.dialogParent());
  if (refusedInArchive(tr("Paste"), {}, targetFolder)) return;
  QStringList members;
  for (const platform::NativePath &s : sources)
    if (TArchiveFolders::isMember(platform::fromNative(s))) members << platform::fromNative(s);
  if (!members.isEmpty()) {
    if (move || members.size() != sources.size()) {
      asker_->inform(tr("Paste"), move ? TArchiveFolders::readOnlyMessage()
                                       : tr("Members of an archive are copied on their own, not with other files."));
      return;
    }
    return extractMembers(members, targetFolder);
  }
  runTransfer(sources, targetFolder, move, true);
}

void TFileCommands::runTransfer(const platform::NativePaths &sources, const QString &targetFolder, bool move,
                                bool record) {
  queue_->add(sources, platform::toNative(targetFolder),
              move ? platform::TransferMode::Move : platform::TransferMode::Copy, false, record ? 1 : 0);
}

platform::TTransferRunner *TFileCommands::startRunner(const TTransferQueue::Job &job) {
  const platform::TransferMode mode = job.mode;
  const bool move = mode == platform::TransferMode::Move, record = job.tag == 1;
  const platform::NativePaths sources = job.sources;
  auto *runner = new platform::TTransferRunner(sources, job.target, mode, asker_, this);
  auto *dialog = new TProgressDialog(runner, host_.dialogParent());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setQueue(queue_, job.id);
  runners_ << runner;
  connect(
      runner, &platform::TTransferRunner::finished, this,
      [this, runner, move, mode, sources, record](const platform::TransferResult &result) {
        const platform::TransferResult r = result;
        runners_.removeAll(runner);
        runner->deleteLater();
        // Moved items are no longer where the clipboard says; a copy can be pasted again.
        if (move && !r.cancelled && r.failed == 0 && r.skipped == 0 && platform::filesOnClipboard().paths == sources)
          platform::clearClipboard();
        if (record && !r.created.isEmpty()) {
          // The copies' trees are looked at now, so that Undo can tell they are unchanged.
          UndoStep step;
          runOffThread([&] { step = TUndoHistory::transferStep(r, mode); });
          undo_.add(std::move(step));
          announceUndo();
        }
        emit transferFinished(r);
      });
  // A job that waited has been asked for a while ago: its window shows at once.
  dialog->showDelayed(job.waited ? 0 : 400);
  runner->start();
  return runner;
}

void TFileCommands::SelectAll1Click() { host_.selectAll(activePair()); }
void TFileCommands::InvertSelection1Click() { host_.invertSelection(activePair()); }

void TFileCommands::CreateShortcut1Click() {
  const QStringList items = targetItems();
  if (items.isEmpty() || refusedInArchive(tr("Create Shortcut"), items)) return;
  QStringList errors;
  platform::createLinks(platform::toNative(items), &errors);
  if (!errors.isEmpty()) {
    asker_->setParentWidget(host_.dialogParent());
    asker_->inform(tr("Create Shortcut"), errors.join('\n'));
  }
}

void TFileCommands::DeleteBtnClick() {
  const QStringList items = targetItems();
  if (items.isEmpty() || refusedInArchive(tr("Delete"), items)) return;
  asker_->setParentWidget(host_.dialogParent());
  const QString question = items.size() == 1 ? tr("Are you sure you want to move \"%1\" to the Trash?")
                                                   .arg(platform::displayPath(platform::toNative(items[0])))
                                             : tr("Are you sure you want to move these %1 items to the Trash?\n\n%2")
                                                   .arg(items.size())
                                                   .arg(itemList(items));
  if (!asker_->confirm(tr("Confirm Delete"), question)) return;

  // Trashing is a rename per item, but thousands of items or a slow disk must not freeze the window: the
  // work runs on a worker while the event loop keeps painting; the questions come afterwards.
  int trashed = 0, deleted = 0;
  QList<platform::TrashOutcome> failed, done;
  QList<platform::NativePath> failedPaths, donePaths;
  runOffThread([&] {
    for (const QString &item : items) {
      const platform::NativePath path = platform::toNative(item);
      const platform::TrashOutcome t = platform::moveToTrash(path);
      if (t.ok) {
        ++trashed;
        done << t;
        donePaths << path;
      } else {
        failed << t;
        failedPaths << path;
      }
    }
  });
  if (trashed > 0) {
    undo_.add(TUndoHistory::trashStep(done, donePaths));
    announceUndo();
  }
  QStringList problems;
  bool permanentForAll = false, stop = false;
  for (int i = 0; i < failed.size() && !stop; ++i) {
    const platform::NativePath &path = failedPaths[i];
    if (!failed[i].trashUnavailable) {  // the item itself cannot be removed: deleting for good would fail too
      problems << failed[i].error;
      continue;
    }
    if (!permanentForAll) {
      const auto choice = asker_->confirmPermanentDelete(tr("%1\n\nDelete \"%2\" permanently? It cannot be restored.")
                                                             .arg(failed[i].error, platform::displayPath(path)));
      if (choice == TFileAsker::PermanentDelete::Cancel) {
        stop = true;
        continue;
      }
      if (choice == TFileAsker::PermanentDelete::No) continue;
      if (choice == TFileAsker::PermanentDelete::YesToAll) permanentForAll = true;
    }
    QString error;
    runOffThread([&] { platform::deletePermanently(path, &error); });
    if (error.isEmpty())
      ++deleted;
    else
      problems << error;
  }
  if (!problems.isEmpty()) asker_->inform(tr("Delete"), problems.join('\n'));
  emit deleteFinished(trashed, deleted);
}

void TFileCommands::Rename1Click() {
  const int pair = activePair();
  const QStringList selected = host_.listSelection(pair);
  if (selected.isEmpty() || refusedInArchive(tr("Rename"), selected)) return;
  host_.beginRename(pair, selected.first());
}

bool TFileCommands::renameAccepted(const QString &path, const QString &newName) {
  if (refusedInArchive(tr("Rename"), {path})) return false;
  QString error;
  platform::NativePath renamed;
  if (platform::renameItem(platform::toNative(path), newName, &renamed, &error)) {
    if (renamed != platform::toNative(path)) {
      undo_.addRename(platform::toNative(path), renamed);
      announceUndo();
    }
    return true;
  }
  asker_->setParentWidget(host_.dialogParent());
  asker_->inform(tr("Rename"), error);
  return false;
}

void TFileCommands::ShowPropertiesClick() {
  const int pair = activePair();
  QStringList paths = host_.listSelection(pair);
  if (paths.isEmpty()) paths << host_.listFolder(pair);
  if (paths.first().isEmpty()) return;
  auto *dialog = new TPropertiesDialog(paths, host_.dialogParent());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &TPropertiesDialog::renamed, this, [this, pair] { host_.refresh(pair); });
  dialog->show();
  emit propertiesShown(dialog);
}

void TFileCommands::newFolderIn(int pair) {
  const QString folder = host_.listFolder(pair);
  if (folder.isEmpty() || refusedInArchive(tr("New Folder"), {}, folder)) return;
  QString error;
  const platform::NativePath made = platform::createNewFolder(platform::toNative(folder), &error);
  if (made.isEmpty()) {
    asker_->setParentWidget(host_.dialogParent());
    asker_->inform(tr("New Folder"), error);
    return;
  }
  undo_.addNewFolder(made);
  announceUndo();
  host_.refresh(pair);
  host_.beginRename(pair, platform::fromNative(made));
}

void TFileCommands::NewFolder1MitmClick() { newFolderIn(activePair()); }
void TFileCommands::NewFolder2MitmClick() { newFolderIn(0); }
void TFileCommands::Lpopup2NewFolderClick() { newFolderIn(1); }

void TFileCommands::RtfFile1Click() { host_.openRichTextEditor(); }

void TFileCommands::announceUndo() { emit undoChanged(undo_.caption(), !undo_.isEmpty()); }

void TFileCommands::UndoClick() {
  if (undo_.isEmpty()) return;
  asker_->setParentWidget(host_.dialogParent());
  const QString question = undo_.confirmation();
  if (!question.isEmpty() && !asker_->confirm(tr("Undo"), question)) return;
  const UndoStep step = undo_.takeLast();
  announceUndo();
  TUndoHistory::Outcome out;
  runOffThread([&] { out = TUndoHistory::undo(step); });
  // What must cross disks to go back is moved with progress and Cancel, like any move.
  QMap<platform::NativePath, platform::NativePaths> moves;
  for (const UndoStep::Item &it : out.moves) moves[platform::folderOf(it.before)] << it.now;
  for (auto m = moves.cbegin(); m != moves.cend(); ++m)
    runTransfer(m.value(), platform::fromNative(m.key()), true, false);
  host_.refresh(0);
  host_.refresh(1);
  if (!out.problems.isEmpty()) asker_->inform(tr("Undo"), out.problems.join('\n'));
}

}  // namespace browser
