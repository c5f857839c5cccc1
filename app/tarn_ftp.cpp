// The main window's side of the FTP client: the FTP window, the panel that replaces the viewers
// during a session, the menu switching and the drop hook's uploads.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "ftp/ftpcli.h"
#include "ftp/ftpform.h"
#include "ftp/ftppanel.h"
#include "platform/paths.h"

void TTarn::setupFtp() {
  FtpPanel1 = new TFtpPanel(FtpPanel);
  auto *lay = new QVBoxLayout(FtpPanel);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(FtpPanel1);
  if (auto *stack = qobject_cast<QStackedLayout *>(Panel1->layout())) stack->addWidget(FtpPanel);
  FtpPanel->hide();

  FtpForm1 = new TFtpForm(platform::userFile(QStringLiteral("Tarnwick.Ftp")), FtpPanel1, this);
  FtpForm1->host.localFolder = [this] { return PTShellList1->FolderPath(); };
  FtpForm1->host.setLocalFolder = [this](const QString &path) {
    PTShellTree1->SelectPath(path);
    PTShellList1->setFolderPath(path);
  };
  FtpForm1->host.treeFolder = [this] { return PTShellTree1->SelectedPath(); };
  FtpForm1->host.refreshLocal = [this] { PTShellList1->Refill(); };
  FtpForm1->host.showMainWindow = [this] {
    raise();
    activateWindow();
  };
  FtpForm1->host.showPanel = [this] { showFtpPanel(true); };
  FtpForm1->host.restoreMenus = [this] { ftpSessionMenus(false); };
  FtpForm1->host.viewInEditor = [this](const QString &path) { viewFtpFile(path); };
  FtpPanel1->currentFile = [this] { return state.CurrentFile; };
  FtpPanel1->openFtpWindow = [this] { FtpClient1Click(FtpPanel1->ConnectBut); };
  connect(FtpPanel1, &TFtpPanel::sessionClosed, this, [this] {
    ftpSessionMenus(false);
    showFtpPanel(false);
  });

  for (const char *name : {"FtpClient1", "FtpClient2"}) {
    QAction *a = item(QLatin1String(name));
    disconnect(a, &QAction::triggered, this, &TTarn::notBuiltYet);
    connect(a, &QAction::triggered, this, [this, a] { FtpClient1Click(a); });
  }
  item("FtpClient1")->setStatusTip(QStringLiteral("Opens up an FTP client for Uploading/Downloading files from a server"));
}

void TTarn::FtpClient1Click(QObject *sender) {
  if (sender != item("FtpClient2")) {
    ftpSessionMenus(true);
    FtpForm1->Memo1->clear();
  }
  FtpForm1->show();
  FtpForm1->raise();
  FtpForm1->activateWindow();
}

void TTarn::ftpSessionMenus(bool session) {
  item("FtpClient2")->setVisible(session);
  // The top-level menus that make no sense while the viewers are replaced by the FTP panel.
  static const QStringList hidden = {QStringLiteral("&View"), QStringLiteral("&Options"), QStringLiteral("E&ditor"),
                                     QStringLiteral("&Tools")};
  for (QAction *a : menuBar()->actions())
    if (a->menu() && hidden.contains(a->text())) {
      a->setVisible(!session);
      a->setEnabled(!session);
    }
  item("HelpTopics1")->setEnabled(!session);
  item("ZipFile1")->setEnabled(!session);
}

void TTarn::showFtpPanel(bool show) {
  auto *stack = qobject_cast<QStackedLayout *>(Panel1->layout());
  if (show) {
    if (!FtpPanel->isHidden()) return;
    if (stack && stack->currentWidget() != FtpPanel) ftpPrevViewer_ = stack->currentWidget();
    if (stack) stack->setCurrentWidget(FtpPanel);
    FtpPanel->show();
  } else {
    if (stack && stack->currentWidget() == FtpPanel) stack->setCurrentWidget(ftpPrevViewer_ ? ftpPrevViewer_ : Pc1);
    FtpPanel->hide();
  }
}

void TTarn::ftpProgramClosing() { FtpForm1->programClosing(); }

void TTarn::ftpFilesDropped(const QStringList &paths) { FtpPanel1->uploadDropped(paths); }

void TTarn::viewFtpFile(const QString &path) {
  // No text editor on the desktop: a read-only text window of our own.
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return;
  // Owned by the main window, so it closes with it and never keeps the program running.
  auto *w = new QPlainTextEdit(this);
  w->setWindowFlag(Qt::Window);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setWindowTitle(QStringLiteral("Tarnwick - ") + QFileInfo(path).fileName());
  w->setReadOnly(true);
  w->setPlainText(QString::fromUtf8(f.read(64 * 1024 * 1024)));
  w->resize(640, 480);
  w->show();
}
