// Start-up, shutdown and the window-wide hooks of the main window.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <cerrno>
#include <unistd.h>
#include "app/tarn.h"
#include "tools/richform.h"
#include "browser/panerules.h"
#include "controls/dirlabel.h"
#include "hexedit/hexform.h"
#include "viewers/editortab.h"
#include "viewers/htmltab.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "platform/autostart.h"
#include "platform/paths.h"

void TTarn::FormCreate() {
  Reg.RootKey = TMyRegistry::kHKEY_CURRENT_USER;
  Reg.RegPath = QStringLiteral("Software\\Tarnwick2");
  Reg.CanCreate = true;
  state.CurrentFile.clear();
  state.TempFolder = QDir::tempPath().left(255);
  state.SpaceViewRequest = false;
  GetRegSettings();
  Date1->setDate(QDate::currentDate());
  if (!args_.isEmpty() && QFileInfo(args_.first()).isDir()) state.StartFolder = QFileInfo(args_.first()).absoluteFilePath();
  PTShellTree1->SelectPath(state.StartFolder);
  if (!QFileInfo(state.StartFolder).isDir() || ::chdir(QFile::encodeName(state.StartFolder).constData()) != 0) {
    if (QFileInfo(state.StartFolder).isDir() == false) errno = ENOENT;
    startError_ = QStringLiteral("I/O error %1").arg(errno);
    QMessageBox::critical(this, QStringLiteral("Tarnwick"), startError_);
    return;
  }
  state.CurrentFolder = state.StartFolder;
  DirLabel1->setDirName(state.StartFolder);
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
  RefreshExt1Click();
  // The stored "DualFile" set the mark; the layout itself opens now.
  if (checked("DualFileManager1")) {
    item("DualFileManager1")->setChecked(false);
    DualFileManager1Click();
  }
}

void TTarn::FormShow() {
  const int total = RxSplitter1->width();
  setLeftBlockWidth(leftBlockWidth > 0 ? qMin(leftBlockWidth, total - 40) : 312);
  const int height = PTSplitter1->height();
  PTSplitter1->setSizes({treePaneHeight, qMax(0, height - treePaneHeight - PTSplitter1->handleWidth())});
  if (args_.isEmpty()) return;
  // A path with spaces may arrive unquoted as several arguments.
  QString joined;
  for (const QString &a : args_) joined += a + ' ';
  while (joined.endsWith(' ')) joined.chop(1);
  if (QFileInfo(joined).isFile()) {
    Pc1->setCurrentWidget(EditorCmd);
    LoadEditorFile(QFileInfo(joined).absoluteFilePath());
  }
}

bool TTarn::LoadEditorFile(const QString &path) { return EditorTab->LoadFile(path); }

void TTarn::AutoStartClick() {
  const bool on = checked("AutoStart");
  if (!platform::setAutostart(QStringLiteral("Tarnwick"), on, QCoreApplication::applicationFilePath())) {
    item("AutoStart")->setChecked(!on);
    QMessageBox::warning(this, QStringLiteral("Tarnwick"), QStringLiteral("The autostart entry could not be written."));
  }
}

void TTarn::CloseMitmClick() { close(); }

void TTarn::closeEvent(QCloseEvent *e) {
  if (!officeLetsClose()) {
    e->ignore();
    return;
  }
  if (!THexForm::closeInstance() || !TRichForm::closeAll(this) || !closeDbfWindows() || !EditorTab->QueryClose() || !HtmlTab->QueryClose()) {  // the user wanted to save but nothing was saved: keep the window
    e->ignore();
    return;
  }
  if (!checked("TreeView1")) SaveRegSettings();
  ftpProgramClosing();
  QFile::remove(platform::userFile(QStringLiteral("TarnwickFile")));
  e->accept();
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
    if (k->key() == Qt::Key_Space && k->modifiers() == Qt::NoModifier && PTShellList1->hasListFocus() && !checked("DualFileManager1")) {
      state.SpaceViewRequest = true;
      PTShellList1Click();
    }
    // The browser panes' own clipboard keys, as a file manager's lists have them: the focused pair is
    // the one they act on.
    const bool ctrl = k->modifiers() == Qt::ControlModifier;
    const char *command = !ctrl ? nullptr
                          : k->key() == Qt::Key_C ? "Copy1" : k->key() == Qt::Key_X ? "Move1" : k->key() == Qt::Key_V ? "Paste1" : nullptr;
    if (command) {
      for (int pair = 0; pair < 2; ++pair) {
        TPTShellList *list = pair ? PTShellList2 : PTShellList1;
        const QWidget *tree = pair ? PTShellTree2 : PTShellTree1;
        if ((list->hasListFocus() && !list->isEditingName()) || o == tree) {
          markActivePair(pair);
          item(QLatin1String(command))->trigger();
          return true;
        }
      }
    }
    // Alt+F2 switches the HTML tab between page and source.
    if (k->key() == Qt::Key_F2 && k->modifiers() == Qt::AltModifier && Pc1->isVisible() && Pc1->currentWidget() == HtmlCmd) {
      HtmlTab->GoToHtml();
      return true;
    }
  }
  if (o == StatusBar2 && e->type() == QEvent::MouseButtonRelease) StatusBar1DblClick();
  if (o == StatusBar3 && e->type() == QEvent::MouseButtonRelease) TreeRefreshMitmClick();
  if ((o == Panel4 || o == panel2) && e->type() == QEvent::MouseButtonPress && secondPairShown()) {
    const int pair = o == panel2 ? 1 : 0;
    markActivePair(pair);
    setTitle(browser::titleFor((pair ? PTShellTree2 : PTShellTree1)->SelectedPath()));
  }
  if (o == statusBar() && e->type() == QEvent::MouseButtonDblClick) StatusBar1DblClick();
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
