// Handlers of the first browser pair and viewer dispatch.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <cerrno>
#include <unistd.h>
#include "app/layouts.h"
#include "app/tarn.h"
#include "browser/panerules.h"
#include "controls/archivefolders.h"
#include "controls/dirlabel.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "viewers/dispatch.h"
#include "viewers/editortab.h"
#include "viewers/htmltab.h"
#include "viewers/markdowntab.h"
#include "viewers/pdftab.h"
#include "viewers/mediatab.h"
#include "viewers/officetab.h"
#include "zip/ziptab.h"
#include "browser/sizetexts.h"
#include "platform/volumes.h"
#include "platform/ask.h"

bool TTarn::statusBarHidden() const { return checked("Cbox5"); }

void TTarn::PTShellTree1Change(const QString &path) {
  state.CurrentFolder = path;
  if (QFileInfo(path).isDir()) {
    if (::chdir(QFile::encodeName(path).constData()) != 0) {
      ask::error(this, QStringLiteral("Tarnwick"), QStringLiteral("I/O error %1").arg(errno));
      return;
    }
    DirLabel1->setDirName(path);
  }
  UpOneLevelBtn->setEnabled(PTShellTree1->hasSelectedNode() && PTShellTree1->selectedHasParent());
  if (!statusBarHidden()) StatusBar2Panels[0]->setText(browser::objectCountText(PTShellList1->itemCount()));
  if (!state.ZipAddMode) setTitle(browser::titleFor(path));
}

void TTarn::PTShellList1Change() {
  if (!statusBarHidden()) StatusBar2Panels[0]->setText(browser::objectCountText(PTShellList1->itemCount()));
  // A refilled list has no picked item until the next click, so the file it picked is no longer current:
  // the tools must not open a file the user no longer has selected. Files that came from elsewhere (a drop,
  // a tool window) stay.
  if (PTShellList1->Selected() < 0 && !listPick_.isEmpty() && state.CurrentFile == listPick_) state.CurrentFile.clear();
  // Refills come often with dynamic refresh; they must not wipe the title of a file just clicked or of the
  // editor's file.
  const bool showsFile = windowTitle().startsWith(QLatin1String("Editor Filename - ")) ||
                         (!state.CurrentFile.isEmpty() && windowTitle().contains(state.CurrentFile)) ||
                         (!listPick_.isEmpty() && windowTitle().contains(listPick_));
  const QString shown = PTShellList1->inArchive() ? PTShellList1->FolderPath() : PTShellTree1->SelectedPath();
  if (!state.ZipAddMode && !shown.isEmpty() && !showsFile) setTitle(browser::titleFor(shown));
}

namespace {
// Widths of the Modified column that the program chose, not the user: the first-run value written to the
// settings and the built-in one. They fit its dates only in small fonts, so while the column has one of
// them it is made as wide as its dates in the list's font; any other stored width is the user's and wins.
bool programChosenModifiedWidth(int width) { return width == 90 || width == 110; }
}  // namespace

void TTarn::PTShellList1FillComplete() {
  if (!LargeIconsBtn->isChecked()) {
    PTShellList1->setColumnWidth(0, savedColumnWidths_[0]);
    PTShellList1->setColumnWidth(1, savedColumnWidths_[1]);
    if (PTShellList1->columnCount() > 2) {
      PTShellList1->setColumnWidth(2, savedColumnWidths_[2]);
      const int modified = savedColumnWidths_[3];
      PTShellList1->setColumnWidth(
          3, programChosenModifiedWidth(modified) ? qMax(modified, PTShellList1->modifiedColumnWidth()) : modified);
    }
    if (statusBarHidden()) return;
    if (PTShellList1->columnCaption(1) != QLatin1String("Size")) {
      StatusBar2Panels[1]->clear();
      StatusBar2Panels[2]->clear();
      return;
    }
    StatusBar2Panels[0]->setText(browser::objectCountText(PTShellList1->itemCount()));
  }
  updateSizePanels();
}

void TTarn::updateSizePanels() {
  if (statusBarHidden()) return;
  sizePanels(PTShellList1, StatusBar2Panels);
  if (secondPairShown() && PTShellList2->columnCaption(1) == QLatin1String("Size"))
    sizePanels(PTShellList2, StatusBar3Panels);
}

void TTarn::sizePanels(TPTShellList *list, QLabel *const panels[3]) {
  // The list already holds every listed file's size: no second pass over the folder.
  qint64 total = 0;
  for (int r = 0, n = list->itemCount(); r < n; ++r)
    if (!list->item(r).isDir) total += list->item(r).size;
  panels[1]->setText(sizetexts::SizeText(total));
  panels[2]->setText(sizetexts::GetTheDiskSize(list->FolderPath()));
}

void TTarn::PTShellList1MouseMove() {
  for (int c = 0; c < 4; ++c) savedColumnWidths_[c] = PTShellList1->columnWidth(c);
  if (state.ZipAddMode) return;
  browser::HintState s;
  s.ftpPanelVisible = FtpPanel->isVisible();
  s.treeListView = checked("TreeView1");
  s.viewersDisabled = checked("Cbox4");
  s.runOnDoubleClick = checked("Cbox1");
  listHint_ = browser::firstListHint(s);
  PTShellList1->setStatusTip(listHint_);
  PTShellList1->setToolTip(QString());
}

bool TTarn::isArrowKey(int key) {
  return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

void TTarn::PTShellList1KeyUp(int key) {
  if (isArrowKey(key)) PTShellList1Click();
}

void TTarn::UpOneLevelBtnClick() {
  if (PTShellList1->inArchive()) return PTShellList1->goUp();
  PTShellTree1->GoUp();
}

void TTarn::TreeRefreshMitmClick() {
  PTShellList1->setFolderPath(PTShellList1->FolderPath());
  PTShellTree1->RefreshTree();
  if (!statusBarHidden()) {
    if (PTShellList1->columnCaption(1) != QLatin1String("Size")) {
      StatusBar2Panels[1]->clear();
      StatusBar2Panels[2]->clear();
    } else {
      sizePanels(PTShellList1, StatusBar2Panels);
    }
  }
  if (secondPairShown()) refreshSecondPair();
}

void TTarn::ViewBtnClick(int tag) {
  if (applyStoredViewStyle_) {
    tag = storedViewStyle_;
    applyStoredViewStyle_ = false;
  }
  if (secondPairActive()) return fDetailsBtnClick(tag);
  for (QAction *a : viewItems_) a->setChecked(a->data().toInt() == tag);
  for (QToolButton *b : viewButtons_) b->setChecked(b->property("Tag").toInt() == tag);
  state.CurrentViewStyle = tag;
  PTShellList1->setViewStyle(tag);
}

void TTarn::HideFolders1Click() { toggleHideFolders(HideFolders1, PTShellList1); }

void TTarn::toggleHideFolders(QAction *item, TPTShellList *list) {
  item->setText(item->text() != QLatin1String("&Show Folders") ? QStringLiteral("&Show Folders")
                                                               : QStringLiteral("&Hide Folders"));
  list->Refill();
  list->model()->setFileFilter(list->FileFilter());  // re-applies the add-item hook at once
}

void TTarn::applyListOptions() {
  PTShellList1->setOptions(browser::listOptionsValue(checked("DynamicRefresh1"), checked("ShowHiddenFiles1")));
}

void TTarn::ShowHiddenFiles1Click() {
  applyListOptions();
  PTShellTree1->setShowHidden(checked("ShowHiddenFiles1"));
}

void TTarn::DynamicRefresh1Click() { applyListOptions(); }

void TTarn::Highlightexecutables1Click() {
  state.HighlightExecutables = !state.HighlightExecutables;
  item("Highlightexecutables1")->setChecked(state.HighlightExecutables);
  PTShellList1->currentView()->viewport()->update();
}

void TTarn::ChangeFontClick() {
  bool ok = false;
  const QFont f = QFontDialog::getFont(&ok, PTShellList1->font(), this);
  if (ok) PTShellList1->setFont(f);
}

void TTarn::Edit2Click() {
  if (layouts_->fullScreen()) return;
  activeList()->setFileFilter(Edit2->currentText());
}

void TTarn::RefreshExt1Click() {
  QStringList entries;
  for (int i = 0; i < Edit2->count(); ++i) entries << Edit2->itemText(i);
  QString error;
  const bool existed = QFileInfo::exists(maskListFile());
  if (!browser::refreshMaskListFile(maskListFile(), entries, &error)) {
    StatusBar1Panel->setText(
        QStringLiteral("The file mask list %1 could not be written: %2").arg(maskListFile(), error));
  }
  if (existed) {
    const QString text = Edit2->currentText();
    Edit2->clear();
    Edit2->addItems(entries);
    Edit2->setCurrentText(text);
  }
}

void TTarn::Edit3Click() {
  if (QFileInfo::exists(maskListFile())) LoadEditorFile(maskListFile());
}

void TTarn::CDEvents1AfterArrival(const QString &) {
  // Only a current folder on a CD drive is re-read when media arrive.
  if (!platform::volumeOf(state.CurrentFolder).cdrom) return;
  TreeRefreshMitmClick();
  PTShellList1->setFolderPath(PTShellList1->FolderPath());
}

// ---- Viewer dispatch ----

void TTarn::PTShellList1Click() {
  if (secondPairShown()) {
    layouts_->markActivePair(0);
    setTitle(browser::titleFor(PTShellTree1->SelectedPath()));
  }
  const int row = PTShellList1->Selected();
  if (row < 0) return;
  pickListItem(PTShellList1, PTShellTree1, row);
  if (FtpPanel->isVisible()) return;
  if (PTShellList1->inArchive()) return showArchiveMember(row);
  if (!state.ZipAddMode) setTitle(browser::titleFor(state.CurrentFile));
  if (!QFileInfo(state.CurrentFile).isDir() && !state.CurrentFolder.isEmpty() && !state.ZipAddMode) {
    setTitle(browser::titleFor(state.CurrentFile) + ", " + PTShellList1->ItemSizeText(row) + ", " +
             PTShellList1->ItemModifiedText(row));
    if (!checked("Cbox4") || state.SpaceViewRequest) {
      state.SpaceViewRequest = false;
      if (QFileInfo(state.CurrentFile).isFile()) GetTheFile();
    }
  }
}

void TTarn::pickListItem(TPTShellList *list, TPTShellTree *tree, int row) {
  state.CurrentName = list->ItemDisplayName(row);
  // Inside an archive the tree stays on the archive's own folder; the list knows where it is.
  state.CurrentFolder = list->inArchive() ? list->FolderPath() : tree->SelectedPath();
  state.CurrentExt = viewers::extensionOf(state.CurrentName);
  if (state.CurrentExt.isEmpty()) {
    state.CurrentExt = viewers::extensionOf(list->ItemFileName(row));
    state.CurrentName += state.CurrentExt;
  }
  state.CurrentFile = viewers::currentFileFrom(state.CurrentFolder, state.CurrentName);
  // Only the first list's refills forget its pick (see PTShellList1Change).
  listPick_ = list == PTShellList1 ? state.CurrentFile : QString();
}

// A member is copied out on a worker thread: in a compressed tar, even a small one may sit behind gigabytes
// that must be unpacked first. For the first moments the window only waits (no click gets through); then
// a progress window with Cancel takes over, so a click never freezes the window for minutes.
QString TTarn::extractMemberForViewing(const QString &member, qint64 size, QString *error) {
  std::atomic<bool> cancel{false};
  std::atomic<qint64> done{0};
  QFutureWatcher<QString> watcher;
  QEventLoop loop;
  connect(&watcher, &QFutureWatcher<QString>::finished, &loop, &QEventLoop::quit);
  watcher.setFuture(QtConcurrent::run([&] {
    return TArchiveFolders::shared().extractForViewing(
        member, error, [&done](qint64 d, qint64) { done = d; }, &cancel);
  }));
  QTimer patience;
  patience.setSingleShot(true);
  connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
  patience.start(400);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  QApplication::restoreOverrideCursor();
  patience.stop();
  if (!watcher.isFinished()) {
    QProgressDialog dialog(QStringLiteral("Extracting %1 to view it").arg(QFileInfo(member).fileName()),
                           QStringLiteral("Cancel"), 0, 1000, this);
    dialog.setWindowTitle(QStringLiteral("Archive"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&cancel] { cancel = true; });
    QTimer poll;
    dialog.setRange(0, 0);  // busy until the member's own bytes come: what lies before it is unpacked first
    connect(&poll, &QTimer::timeout, &dialog, [&] {
      if (done > 0 && size > 0) {
        dialog.setRange(0, 1000);
        dialog.setValue(int(qMin<qint64>(999, done * 1000 / size)));
      }
    });
    poll.start(100);
    dialog.show();
    if (!watcher.isFinished()) loop.exec();
  }
  return watcher.result();
}

void TTarn::showArchiveMember(int row) {
  const QString member = state.CurrentFile;
  const TShellItem &it = PTShellList1->item(row);
  if (state.ZipAddMode) return;
  setTitle(it.isDir ? browser::titleFor(member)
                    : browser::titleFor(member) + ", " + PTShellList1->ItemSizeText(row) + ", " +
                          PTShellList1->ItemModifiedText(row));
  if (it.isDir || (checked("Cbox4") && !state.SpaceViewRequest)) return;
  state.SpaceViewRequest = false;
  QString error, copy;
  for (;;) {
    if (!TArchiveFolders::shared().askPassphraseIfWanted(this, {member})) return state.CurrentFile.clear();
    copy = extractMemberForViewing(member, it.size, &error);
    // A passphrase that proved wrong was forgotten: said so, then asked again.
    if (!copy.isEmpty() || error.isEmpty() || !TArchiveFolders::shared().wantsPassphrase({member})) break;
    ask::warning(this, QStringLiteral("Archive"), error);
  }
  if (copy.isEmpty()) {
    state.CurrentFile.clear();
    if (!error.isEmpty()) ask::warning(this, QStringLiteral("Archive"), error);  // empty: the user cancelled
    return;
  }
  state.CurrentFile = copy;
  state.CurrentFolder = QFileInfo(copy).absolutePath();
  listPick_ = copy;
  if (QFileInfo(copy).isFile()) GetTheFile();
}

void TTarn::PTShellList1DblClickOpen(bool &afHandled) {
  const QString folder = PTShellTree1->SelectedPath();
  if (QFileInfo(folder).isDir()) (void)::chdir(QFile::encodeName(folder).constData());
  if (!checked("Cbox1") || state.ZipAddMode) afHandled = true;
  if (state.ZipAddMode) ZipTab->addToSelection(state.CurrentFile, false);
}

void TTarn::GetTheFile() {
  const viewers::ViewerAction a = viewers::decideViewer(state.CurrentExt, checked("Mp3Edit"));
  lastViewerAction = QString::fromLatin1(viewers::actionName(a));
  switch (a) {
    case viewers::ViewerAction::Nothing: break;
    case viewers::ViewerAction::GetExcel: GetExcel(); break;
    case viewers::ViewerAction::GetDBase: GetDBase(); break;
    case viewers::ViewerAction::GetMp3: GetMp3(); break;
    case viewers::ViewerAction::ShowHtml: ShowHtml(); break;
    case viewers::ViewerAction::ShowMultiMedia: ShowMultiMedia(); break;
    case viewers::ViewerAction::ShowImages: ShowImages(); break;
    case viewers::ViewerAction::ShowZip: ShowZip(); break;
    case viewers::ViewerAction::ShowRtf: ShowRtf(); break;
    case viewers::ViewerAction::ShowPdf: ShowPdf(); break;
    case viewers::ViewerAction::ShowMarkdown: ShowMarkdown(); break;
    case viewers::ViewerAction::Editor:
      Pc1->setCurrentWidget(EditorCmd);
      item("ViewHtml")->setEnabled(false);
      LoadEditorFile(state.CurrentFile);
      break;
  }
}

// Viewers that arrive with their own work; until then the click only names the viewer in the status line.
void TTarn::ShowHtml() { HtmlTab->ShowHtml(state.CurrentFile); }

void TTarn::Pc1Change() {
  item("ViewHtml")->setEnabled(Pc1->currentWidget() == HtmlCmd && HtmlTab->editing());
  item("SetTabValue1")->setEnabled(Pc1->currentWidget() == EditorCmd);
}

void TTarn::Viewers1Click() {
  state.CurrentFile.clear();
  EditorTab->ClearViewer();
  HtmlTab->ClearViewer();
  ZipTab->ClearViewer();
  MediaTab->ClearViewer();
  if (PdfTab) PdfTab->ClearViewer();
  if (MarkdownTab) MarkdownTab->ClearViewer();
  OfficeTab->Clear6Click();  // also stops a conversion in progress
  setTitle(browser::titleFor(PTShellTree1->SelectedPath()));
}

void TTarn::filesDropped(const QStringList &paths) {
  if (FtpPanel->isVisible()) return ftpFilesDropped(paths);
  if (checked("DualFileManager1") || paths.isEmpty()) return;
  if (ZipTab->addPanelShown()) {  // the add panel collects every dropped path
    for (const QString &p : paths) ZipTab->addToSelection(p);
    return;
  }
  state.CurrentFile = paths.first().left(4096);
  state.CurrentName = state.CurrentFile;
  state.CurrentExt = viewers::extensionOf(QFileInfo(state.CurrentFile).fileName());
  GetTheFile();
}
