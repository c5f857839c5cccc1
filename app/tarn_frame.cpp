// Start-up, shutdown and the window-wide hooks of the main window.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include "app/layouts.h"
#include "app/tarn.h"
#include "viewers/officetab.h"
#include "windows/rich/richform.h"
#include "browser/panerules.h"
#include "controls/dirlabel.h"
#include "windows/hex/hexform.h"
#include "viewers/editortab.h"
#include "viewers/htmltab.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/savefile.h"
#include "controls/richedit.h"
#include "formats/rtf/rtfcodec.h"
#include "controls/tledit.h"
#include "platform/ask.h"
#include "app/commandline.h"
#include "controls/archivefolders.h"
#include "viewers/dispatch.h"

void TTarn::FormCreate() {
  Reg.RootKey = TMyRegistry::kHKEY_CURRENT_USER;
  Reg.RegPath = QStringLiteral("Software\\Tarnwick2");
  Reg.CanCreate = true;
  state.CurrentFile.clear();
  state.TempFolder = QDir::tempPath().left(255);
  state.SpaceViewRequest = false;
  GetRegSettings();
  Date1->setDate(QDate::currentDate());
  // A folder named on the command line is shown first; the stored start-up folder stays what it was, so a
  // folder opened from another program never becomes the start-up folder when settings are saved on exit.
  const QString named = commandline::target(args_);
  const QString first = QFileInfo(named).isDir() ? named : state.StartFolder;
  PTShellTree1->SelectPath(first);
  if (!QFileInfo(first).isDir() || ::chdir(QFile::encodeName(first).constData()) != 0) {
    if (QFileInfo(first).isDir() == false) errno = ENOENT;
    startError_ = QStringLiteral("I/O error %1").arg(errno);
    ask::error(this, QStringLiteral("Tarnwick"), startError_);
    return;
  }
  state.CurrentFolder = first;
  DirLabel1->setDirName(first);
  setTitle(browser::titleFor(PTShellTree1->SelectedPath()));
  if (checked("Highlightexecutables1")) {
    item("Highlightexecutables1")->setChecked(false);
    Highlightexecutables1Click();
  }
  Pc1->setCurrentWidget(EditorCmd);
  QFile::remove(platform::userFile(QStringLiteral("TarnwickFile")));
  loadFavourites();
  applyStoredViewStyle_ = true;
  EditorTab->SetWordWrap(checked("WordWrap"));
  ViewBtnClick(3);
  restoreFolderTabs();
  RefreshExt1Click();
  // The stored "DualFile" set the mark; the layout itself opens now.
  if (checked("DualFileManager1")) {
    item("DualFileManager1")->setChecked(false);
    layouts_->DualFileManager1Click();
  }
}

void TTarn::FormShow() {
  const int total = RxSplitter1->width();
  layouts_->setLeftBlockWidth(leftBlockWidth > 0 ? qMin(leftBlockWidth, total - 40) : 312);
  const int height = PTSplitter1->height();
  PTSplitter1->setSizes({treePaneHeight, qMax(0, height - treePaneHeight - PTSplitter1->handleWidth())});
  // A dual file manager opened at start-up was split before the window had its size: it takes the first
  // pair's split now.
  if (secondPairShown())
    TLayouts::setPairStyle(PTSplitter2, PTSplitter1->orientation() == Qt::Horizontal, treePaneHeight);
  // A file named on the command line (a path with spaces may arrive unquoted as several arguments).
  const QString named = commandline::target(args_);
  // It opens in the text editor, whatever its type, as it always has; a file handed over by a later start
  // (openFromAnotherStart) is shown by its viewer instead.
  if (QFileInfo(named).isFile()) {
    Pc1->setCurrentWidget(EditorCmd);
    LoadEditorFile(named);
  }
  tellRecoveredText();
}

void TTarn::openPath(const QString &path) {
  const QFileInfo fi(path);
  if (!fi.exists()) return;
  const QString full = QDir::cleanPath(fi.absoluteFilePath());
  if (fi.isDir()) {
    showInFirstList(full, {});
    return;
  }
  const QString folder = QDir::cleanPath(fi.absolutePath());
  showInFirstList(folder, fi.fileName());
  // An archive the list enters by a double click (a tar, 7z, iso, ...; not a zip, which the Zip tab shows)
  // opens as a folder.
  if (fi.isFile() && !state.ZipAddMode && TArchiveFolders::opensAsFolder(fi.fileName()) &&
      PTShellList1->enterArchive(full))
    return;
  // Shown as a click shows it, also with the viewers disabled: the user asked for this file.
  state.CurrentFolder = folder;
  state.CurrentName = fi.fileName();
  state.CurrentExt = viewers::extensionOf(state.CurrentName);
  state.CurrentFile = full;
  listPick_.clear();  // it came from outside the list: a refill keeps it
  if (!fi.isFile() || state.ZipAddMode) return;
  setTitle(browser::titleFor(full));
  GetTheFile();
}

void TTarn::showInFirstList(const QString &folder, const QString &name) {
  if (PTShellTree1->SelectedPath() != folder) PTShellTree1->SelectPath(folder);
  if (PTShellList1->FolderPath() != folder) PTShellList1->setFolderPath(folder);  // out of an archive folder too
  disconnect(selectWhenListed_);  // an earlier name waiting for its list is forgotten
  if (name.isEmpty()) return;
  if (!PTShellList1->model()->isLoading() && PTShellList1->model()->rowOfName(name) >= 0) {
    PTShellList1->selectName(name);
    return;
  }
  // Once the list has it: the fill that is under way, or the next one.
  selectWhenListed_ = connect(PTShellList1, &TPTShellList::OnFillComplete, this, [this, folder, name] {
    disconnect(selectWhenListed_);
    if (PTShellList1->FolderPath() == folder) PTShellList1->selectName(name);
  });
}

void TTarn::openFromAnotherStart(const QStringList &paths) {
  const QString named = commandline::target(paths);
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  if (!named.isEmpty()) openPath(named);
}

bool TTarn::LoadEditorFile(const QString &path) { return EditorTab->LoadFile(path); }

void TTarn::AutoStartClick() {
  const bool on = checked("AutoStart");
  if (!platform::setAutostart(QStringLiteral("Tarnwick"), on, QCoreApplication::applicationFilePath())) {
    item("AutoStart")->setChecked(!on);
    ask::warning(this, QStringLiteral("Tarnwick"), QStringLiteral("The autostart entry could not be written."));
  }
}

void TTarn::CloseMitmClick() { close(); }

void TTarn::closeEvent(QCloseEvent *e) {
  if (ending_) {  // a logout closes the windows too: everything was done by endSession
    e->accept();
    return;
  }
  if (!officeLetsClose()) {
    e->ignore();
    return;
  }
  if (!THexForm::closeInstance() || !TRichForm::closeAll(this) || !closeDbfWindows() || !EditorTab->QueryClose() ||
      !HtmlTab->QueryClose()) {  // the user wanted to save but nothing was saved: keep the window
    e->ignore();
    return;
  }
  if (!checked("TreeView1")) SaveRegSettings();
  ftpProgramClosing();
  QFile::remove(platform::userFile(QStringLiteral("TarnwickFile")));
  e->accept();
}

QString TTarn::recoveryFolder() { return platform::userFile(QStringLiteral("Recovered")); }

void TTarn::endSession() {
  if (ending_) return;
  ending_ = true;
  // An open question is cancelled: its loop returns once this handler is done, and the handler that asked
  // goes on as after Cancel.
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *d = qobject_cast<QDialog *>(top); d && d->isVisible()) d->reject();
  if (OfficeTab) OfficeTab->abortConversion();  // its child's whole group ends before the program does
  keepUnsavedText();
  if (!checked("TreeView1")) SaveRegSettings();
  ftpProgramClosing();
  QFile::remove(platform::userFile(QStringLiteral("TarnwickFile")));
  for (QWidget *top : QApplication::topLevelWidgets()) top->hide();
}

void TTarn::keepUnsavedText() {
  QStringList kept;
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
  const auto keep = [&](const QString &document, const QString &fallbackName, const QByteArray &bytes) {
    const QString dir = recoveryFolder();
    QDir().mkpath(dir);
    const QString name = QFileInfo(document).fileName().isEmpty() ? fallbackName : QFileInfo(document).fileName();
    QString path = dir + '/' + stamp + ' ' + name;
    for (int n = 2; QFileInfo::exists(path); ++n) path = dir + '/' + stamp + QStringLiteral(" (%1) ").arg(n) + name;
    if (platform::saveFileAtomically(path, bytes)) kept << path;
  };
  const auto document = [](TLEdit *e) { return e->HasFileName() ? e->FileName() : QString(); };
  if (LEdit1->IsModified()) keep(document(LEdit1), QStringLiteral("Untitled.txt"), LEdit1->TextBytes());
  if (HtmlTab && HtmlTab->LEdit2->IsModified())
    keep(document(HtmlTab->LEdit2), QStringLiteral("Untitled.htm"), HtmlTab->LEdit2->TextBytes());
  for (TRichForm *f : findChildren<TRichForm *>(QString(), Qt::FindDirectChildrenOnly))
    if (f->editor()->document()->isModified())
      keep(f->fileName() == QLatin1String("Untitled") ? QString() : f->fileName(), QStringLiteral("Untitled.rtf"),
           rtf::writeRtf(f->editor()->document()));
  if (kept.isEmpty()) return;
  std::fprintf(stderr, "Tarnwick: unsaved text kept in %s\n", qPrintable(kept.join(QStringLiteral(", "))));
  Reg.WriteString(QStringLiteral("Settings"), QStringLiteral("RecoveredText"), kept.join('\n'));
  Reg.Close();
}

void TTarn::tellRecoveredText() {
  const QString kept = Reg.ReadString(QStringLiteral("Settings"), QStringLiteral("RecoveredText"), QString());
  if (kept.isEmpty()) return;
  Reg.DeleteValue(QStringLiteral("Settings"), QStringLiteral("RecoveredText"));
  Reg.Close();
  ask::information(this, QStringLiteral("Tarnwick"),
                   QStringLiteral("Tarnwick was ended by the system while text in it was not saved. The "
                                  "files you were editing were left as they were; the unsaved text was "
                                  "kept in:\n\n%1")
                       .arg(kept));
}

void TTarn::setTitle(const QString &text) { setWindowTitle(text); }

bool TTarn::event(QEvent *e) {
  // Long hints reach the status line (the part after "|" when a hint has two parts).
  if (e->type() == QEvent::StatusTip) {
    QString tip = static_cast<QStatusTipEvent *>(e)->tip();
    const int bar = tip.indexOf('|');
    if (bar >= 0) tip = tip.mid(bar + 1);
    if (StatusBar1Panel) StatusBar1Panel->setText(tip);
    return true;
  }
  return QMainWindow::event(e);
}

bool TTarn::eventFilter(QObject *o, QEvent *e) {
  if (e->type() == QEvent::KeyPress && o == QApplication::focusWidget() && isAncestorOf(static_cast<QWidget *>(o))) {
    auto *k = static_cast<QKeyEvent *>(e);
    if (k->key() == Qt::Key_Space && k->modifiers() == Qt::NoModifier && PTShellList1->hasListFocus() &&
        !checked("DualFileManager1")) {
      state.SpaceViewRequest = true;
      PTShellList1Click();
    }
    // The browser panes' own clipboard keys, as a file manager's lists have them: the focused pair is
    // the one they act on.
    const bool ctrl = k->modifiers() == Qt::ControlModifier;
    const char *command = !ctrl                   ? nullptr
                          : k->key() == Qt::Key_C ? "Copy1"
                          : k->key() == Qt::Key_X ? "Move1"
                          : k->key() == Qt::Key_V ? "Paste1"
                                                  : nullptr;
    if (command) {
      for (int pair = 0; pair < 2; ++pair) {
        TPTShellList *list = pair ? PTShellList2 : PTShellList1;
        const QWidget *tree = pair ? PTShellTree2 : PTShellTree1;
        if ((list->hasListFocus() && !list->isEditingName()) || o == tree) {
          layouts_->markActivePair(pair);
          item(QLatin1String(command))->trigger();
          return true;
        }
      }
    }
    // Alt+F2 switches the HTML tab between page and source.
    if (k->key() == Qt::Key_F2 && k->modifiers() == Qt::AltModifier && Pc1->isVisible() &&
        Pc1->currentWidget() == HtmlCmd) {
      HtmlTab->GoToHtml();
      return true;
    }
  }
  // A click on the empty space of a list is a click on the list too (the views report only clicks on an
  // item): in the dual file manager it makes that pair the target, title included.
  if (e->type() == QEvent::MouseButtonRelease && secondPairShown() &&
      static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) {
    for (TPTShellList *list : {PTShellList1, PTShellList2}) {
      QAbstractItemView *view = list->currentView();
      if (o != view->viewport() || view->indexAt(static_cast<QMouseEvent *>(e)->position().toPoint()).isValid())
        continue;
      // After the view has taken the release: it clears the selection then.
      QMetaObject::invokeMethod(this, list == PTShellList1 ? &TTarn::PTShellList1Click : &TTarn::PTShellList2Click,
                                Qt::QueuedConnection);
    }
  }
  if (o == StatusBar2 && e->type() == QEvent::MouseButtonRelease) layouts_->StatusBar1DblClick();
  if (o == StatusBar3 && e->type() == QEvent::MouseButtonRelease) TreeRefreshMitmClick();
  if ((o == Panel4 || o == panel2) && e->type() == QEvent::MouseButtonPress && secondPairShown()) {
    const int pair = o == panel2 ? 1 : 0;
    layouts_->markActivePair(pair);
    setTitle(browser::titleFor((pair ? PTShellTree2 : PTShellTree1)->SelectedPath()));
  }
  if (o == statusBar() && e->type() == QEvent::MouseButtonDblClick) layouts_->StatusBar1DblClick();
  return QMainWindow::eventFilter(o, e);
}

void TTarn::dragEnterEvent(QDragEnterEvent *e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TTarn::dropEvent(QDropEvent *e) {
  QStringList paths;
  for (const QUrl &u : e->mimeData()->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  if (paths.isEmpty()) return;
  e->acceptProposedAction();
  filesDropped(paths);
}

QString TTarn::maskListFile() const { return platform::userFile(QStringLiteral("tarnwick.ext")); }
