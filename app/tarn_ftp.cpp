// The main window's side of the FTP client: the FTP window, the panel that replaces the viewers
// during a session, the menu switching and the drop hook's uploads.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "windows/ftp/ftpcli.h"
#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftphost.h"
#include "windows/ftp/ftppanel.h"
#include "platform/paths.h"
#include "platform/ask.h"

namespace {

// The main window as the FTP window and panel see it.
class TarnFtpHost final : public TFtpHost {
 public:
  explicit TarnFtpHost(TTarn &w) : w(w) {}
  QString localFolder() const override { return w.PTShellList1->FolderPath(); }
  void setLocalFolder(const QString &path) override {
    w.PTShellTree1->SelectPath(path);
    w.PTShellList1->setFolderPath(path);
  }
  QString treeFolder() const override { return w.PTShellTree1->SelectedPath(); }
  QString currentFile() const override { return w.state.CurrentFile; }
  void refreshLocal() override { w.PTShellList1->Refill(); }
  void showMainWindow() override {
    w.raise();
    w.activateWindow();
  }
  void showPanel() override { w.showFtpPanel(true); }
  void restoreMenus() override { w.ftpSessionMenus(false); }
  void openFtpWindow() override { w.FtpClient1Click(w.FtpPanel1->ConnectBut); }
  void viewInEditor(const QString &path) override {
    // No text editor on the desktop: a read-only text window of our own.
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    // Owned by the main window, so it closes with it and never keeps the program running.
    auto *v = new QPlainTextEdit(&w);
    v->setWindowFlag(Qt::Window);
    v->setAttribute(Qt::WA_DeleteOnClose);
    v->setWindowTitle(QStringLiteral("Tarnwick - ") + QFileInfo(path).fileName());
    v->setReadOnly(true);
    v->setPlainText(QString::fromUtf8(f.read(64 * 1024 * 1024)));
    v->resize(640, 480);
    v->show();
  }
  QString askText(const QString &caption, const QString &prompt) override {
    return QInputDialog::getText(dialogParent(), caption, prompt);
  }
  bool askYesNo(const QString &caption, const QString &text) override {
    return ask::warning(dialogParent(), caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  }
  void showMessage(const QString &text) override {
    ask::information(dialogParent(), QStringLiteral("Tarnwick - FTP Client"), text);
  }
  bool trustHostKey(const QString &site, const QString &keyType, const QString &fingerprint) override {
    const QString text =
        QStringLiteral(
            "The server %1 is not in your known hosts, so this program cannot tell whether it is the "
            "server you mean.\n\nKey type: %2\nSHA-256 fingerprint: %3\n\nCompare the fingerprint with "
            "the one the server's administrator gave you. Trust this key and store it in known_hosts?")
            .arg(site, keyType, fingerprint);
    return ask::yes(dialogParent(), QStringLiteral("Unknown SSH Host Key"), text);
  }
  void warnHostKeyChanged(const QString &site, const QString &warning) override {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("SSH HOST KEY CHANGED"),
                    QStringLiteral("WARNING: THE HOST KEY OF %1 HAS CHANGED.\nThe connection was refused.").arg(site),
                    QMessageBox::Ok, dialogParent());
    box.setInformativeText(warning);
    box.exec();
  }
  bool askSecret(const QString &caption, const QString &prompt, QString &secret) override {
    bool ok = false;
    secret = QInputDialog::getText(dialogParent(), caption, prompt, QLineEdit::Password, QString(), &ok);
    return ok;
  }

 private:
  // Questions belong to the FTP window while it shows, else to the main window.
  QWidget *dialogParent() const {
    return w.FtpForm1 && w.FtpForm1->isVisible() ? static_cast<QWidget *>(w.FtpForm1) : static_cast<QWidget *>(&w);
  }
  TTarn &w;
};

}  // namespace

void TTarn::setupFtp() {
  ftpHost_ = std::make_unique<TarnFtpHost>(*this);
  FtpPanel1 = new TFtpPanel(*ftpHost_, FtpPanel);
  auto *lay = new QVBoxLayout(FtpPanel);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(FtpPanel1);
  if (auto *stack = qobject_cast<QStackedLayout *>(Panel1->layout())) stack->addWidget(FtpPanel);
  FtpPanel->hide();

  FtpForm1 = new TFtpForm(*ftpHost_, platform::userFile(QStringLiteral("Tarnwick.Ftp")), FtpPanel1, this);
  connect(FtpPanel1, &TFtpPanel::sessionClosed, this, [this] {
    ftpSessionMenus(false);
    showFtpPanel(false);
  });

  for (const char *name : {"FtpClient1", "FtpClient2"}) {
    QAction *a = item(QLatin1String(name));
    connect(a, &QAction::triggered, this, [this, a] { FtpClient1Click(a); });
  }
  item("FtpClient1")
      ->setStatusTip(QStringLiteral("Opens up an FTP client for Uploading/Downloading files from a server"));
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
