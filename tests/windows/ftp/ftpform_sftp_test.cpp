// The FTP window and panel over SFTP against a real sshd started here: the whole session a user
// has (questions, listing, transfers, folders, rename, delete, Cancel) and a server whose listing
// holds names that try to leave the local folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftppanel.h"
#include "windows/ftp/sftpclient.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptesthost.h"
#include "tests/windows/ftp/ftptestutil.h"

using ftptest::SshServer;

namespace {

QString sshDir() { return QDir::homePath() + QStringLiteral("/.ssh"); }
QString knownHosts() { return sshDir() + QStringLiteral("/known_hosts"); }

void removeUserKeys() {
  for (const QString &f : QDir(sshDir()).entryList({QStringLiteral("id_*")}, QDir::Files))
    QFile::remove(sshDir() + QLatin1Char('/') + f);
}

QStringList files(TFtpPanel &p) {
  QStringList out;
  for (int r = p.StringGrid2->FixedRows(); r < p.StringGrid2->RowCount(); ++r) out << p.StringGrid2->Cells(0, r);
  return out;
}

QStringList dirs(TFtpPanel &p) {
  QStringList out;
  for (int r = 0; r < p.RemoteDirList->count(); ++r) out << p.RemoteDirList->item(r)->text();
  return out;
}

// Selects a file's row in the grid, as a click would; false when it is not listed.
bool selectFile(TFtpPanel &p, const QString &name) {
  for (int r = p.StringGrid2->FixedRows(); r < p.StringGrid2->RowCount(); ++r)
    if (p.StringGrid2->Cells(0, r) == name) {
      p.StringGrid2->selectRows(r, r);
      return true;
    }
  return false;
}

void clickDir(TFtpPanel &p, const QString &name) {
  const QList<QListWidgetItem *> items = p.RemoteDirList->findItems(name, Qt::MatchExactly);
  ASSERT_EQ(items.size(), 1) << name.toStdString();
  p.RemoteDirList->setCurrentItem(items.first());
  p.RemoteDirListClick();
}

struct SftpWindow : ::testing::Test {
  void SetUp() override {
    qunsetenv("SSH_AUTH_SOCK");
    removeUserKeys();
    QFile::remove(knownHosts());
    root = testenv::makeDir(QStringLiteral("sftpwinroot"));
    local = testenv::makeDir(QStringLiteral("sftpwinlocal"));
    host.local = host.tree = local;
    profiles = testenv::makeDir(QStringLiteral("sftpwinprofiles")) + QStringLiteral("/profiles.ftp");
  }
  // A window for the site, its fields filled in; the connection is not started.
  std::unique_ptr<TFtpForm> window(const SshServer &s) {
    auto f = std::make_unique<TFtpForm>(host, profiles, &panel);
    f->HostNameEdit->setText(QStringLiteral("127.0.0.1"));
    f->PortEdit->setText(QString::number(s.port()));
    f->UserNameEdit->setText(s.user());
    f->InitialLocalDirEdit->clear();
    return f;
  }
  // Waits until the command that was just started has ended and its listing (if any) is shown.
  bool settle(TFtpForm &f) {
    return testenv::waitFor([&] { return !f.busy(); }, 60000);
  }

  ftptest::RecordingHost host;
  QString root, local, profiles;
  TFtpPanel panel{host};
};

}  // namespace

// A password login with an unknown host key answered Yes (shown with type and fingerprint, then
// stored, so the next session asks nothing), and every panel command on the real server: names with
// blanks, transfers byte for byte, folders, rename, delete, and a cancelled upload that leaves the
// session usable.
TEST_F(SftpWindow, SessionOverSftpRunsEveryPanelCommand) {
  SshServer server(root);
  ASSERT_TRUE(server.start()) << server.error().toStdString();
  if (server.password().isEmpty()) GTEST_SKIP() << "password login needs sshd running as root";
  server.giveToUser(root);
  QDir().mkpath(root + QStringLiteral("/sub"));
  server.giveToUser(root + QStringLiteral("/sub"));
  testenv::writeFile(root + QStringLiteral("/srv file.txt"), "12345");
  server.giveToUser(root + QStringLiteral("/srv file.txt"));

  auto form = window(server);
  host.answers << QStringLiteral("shell box");
  form->NewSiteButClick();
  form->HostNameEdit->setText(QStringLiteral("127.0.0.1"));
  form->UserNameEdit->setText(server.user());
  form->InitialLocalDirEdit->clear();
  form->PortEdit->setText(QStringLiteral("21"));
  form->ProtocolCB->setCurrentIndex(int(TFtpProtocol::Sftp));
  EXPECT_EQ(form->PortEdit->text(), QStringLiteral("22")) << "FTP's default port follows the protocol";
  EXPECT_FALSE(form->UseTlsCB->isEnabled());
  form->PortEdit->setText(QString::number(server.port()));
  form->ProtocolCB->setCurrentIndex(int(TFtpProtocol::Ftp));
  EXPECT_EQ(form->PortEdit->text(), QString::number(server.port())) << "a port the user chose stays";
  form->ProtocolCB->setCurrentIndex(int(TFtpProtocol::Sftp));
  form->SaveProfileCB->setChecked(true);
  form->PasswordEdit->clear();  // the password is asked for once the server wants it

  host.answers << QStringLiteral("yes") << server.password();
  form->ConnectButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return host.panelShown > 0 || !host.messages.isEmpty(); }, 60000));
  ASSERT_GT(host.panelShown, 0) << form->Memo1->toPlainText().toStdString();
  ASSERT_EQ(host.hostKeys.size(), 1);
  EXPECT_TRUE(host.hostKeys[0].contains(QStringLiteral("ssh-ed25519"))) << host.hostKeys[0].toStdString();
  EXPECT_TRUE(host.hostKeys[0].contains(server.hostFingerprint())) << host.hostKeys[0].toStdString();
  EXPECT_TRUE(host.asked.contains(QStringLiteral("SFTP Password")));
  EXPECT_FALSE(form->Memo1->toPlainText().contains(server.password()));
  EXPECT_TRUE(testenv::readFile(knownHosts()).contains(server.hostPublicKey().split(' ').value(1)));
  EXPECT_TRUE(testenv::readFile(profiles).contains("Protocol=sftp"));
  ASSERT_TRUE(settle(*form));
  EXPECT_TRUE(files(panel).contains(QStringLiteral("srv file.txt")));
  EXPECT_TRUE(dirs(panel).contains(QStringLiteral("sub")));
  EXPECT_EQ(panel.StringGrid2->Cells(1, 1), QStringLiteral("5"));
  EXPECT_FALSE(panel.StringGrid2->Cells(2, 1).isEmpty()) << "the date column is filled";

  // Upload (a dropped file with a blank in its name) and download back, byte for byte.
  const QByteArray data = ftptest::pattern(700000, 7);
  const QString up = testenv::writeFile(local + QStringLiteral("/my file.bin"), data);
  panel.uploadDropped({up});
  ASSERT_TRUE(
      testenv::waitFor([&] { return files(panel).contains(QStringLiteral("my file.bin")) && !form->busy(); }, 60000))
      << form->Memo1->toPlainText().toStdString();
  EXPECT_EQ(testenv::readFile(root + QStringLiteral("/my file.bin")), data);
  QFile::remove(up);
  ASSERT_TRUE(selectFile(panel, QStringLiteral("my file.bin")));
  panel.DownloadButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(up) && !form->busy(); }, 60000));
  EXPECT_EQ(testenv::readFile(up), data);
  EXPECT_EQ(QDir(local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"my file.bin"})
      << "the download's private folder is gone";

  // View: the file reaches the viewer program whole (here a copy is its proof).
  const QString viewed = testenv::makeDir(QStringLiteral("viewed")) + QStringLiteral("/seen.bin");
  form->viewerCommand = {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                         QStringLiteral("cp \"$0\" '") + viewed + QLatin1Char('\'')};
  ASSERT_TRUE(selectFile(panel, QStringLiteral("my file.bin")));
  panel.ViewButClick();
  ASSERT_TRUE(
      testenv::waitFor([&] { return testenv::readFile(viewed).size() == data.size() && !form->busy(); }, 30000));
  EXPECT_EQ(testenv::readFile(viewed), data);

  // Folders: make, enter, up, remove.
  host.answers << QStringLiteral("new dir");
  panel.MkDirButClick();
  ASSERT_TRUE(
      testenv::waitFor([&] { return dirs(panel).contains(QStringLiteral("new dir")) && !form->busy(); }, 30000));
  clickDir(panel, QStringLiteral("new dir"));
  ASSERT_TRUE(testenv::waitFor(
      [&] { return panel.RemoteDirEdit->text().endsWith(QStringLiteral("/new dir")) && !form->busy(); }, 30000));
  EXPECT_EQ(files(panel), QStringList{QString()});
  clickDir(panel, QStringLiteral("<up one dir>"));
  ASSERT_TRUE(
      testenv::waitFor([&] { return dirs(panel).contains(QStringLiteral("new dir")) && !form->busy(); }, 30000));
  host.answers << QStringLiteral("new dir");
  panel.RmDirButClick();
  ASSERT_TRUE(
      testenv::waitFor([&] { return !dirs(panel).contains(QStringLiteral("new dir")) && !form->busy(); }, 30000));
  EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/new dir")));

  // Rename, then delete.
  ASSERT_TRUE(selectFile(panel, QStringLiteral("srv file.txt")));
  host.answers << QStringLiteral("renamed file.txt");
  panel.RenameButClick();
  ASSERT_TRUE(testenv::waitFor(
      [&] { return files(panel).contains(QStringLiteral("renamed file.txt")) && !form->busy(); }, 30000));
  EXPECT_EQ(testenv::readFile(root + QStringLiteral("/renamed file.txt")), "12345");
  ASSERT_TRUE(selectFile(panel, QStringLiteral("renamed file.txt")));
  panel.DelRemFileButClick();
  ASSERT_TRUE(testenv::waitFor(
      [&] { return !files(panel).contains(QStringLiteral("renamed file.txt")) && !form->busy(); }, 30000));
  EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/renamed file.txt")));
  EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join(QLatin1Char('\n')).toStdString();

  // Cancel of a large upload: it stops, the panel's commands come back and the session goes on.
  const QString big = local + QStringLiteral("/big.bin");
  {
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(qint64(4) << 30));  // sparse: reads fast, far too long to finish first
  }
  panel.uploadDropped({big});
  ASSERT_TRUE(panel.AbortBut->isVisibleTo(&panel));
  ASSERT_TRUE(testenv::waitFor([&] { return panel.lblProgress->text().toLongLong() > 0; }, 30000));
  panel.AbortBut->click();
  ASSERT_TRUE(testenv::waitFor([&] { return !form->busy(); }, 30000));
  EXPECT_FALSE(panel.AbortBut->isVisibleTo(&panel));
  EXPECT_TRUE(panel.UploadBut->isEnabled());
  EXPECT_TRUE(host.messages.isEmpty()) << "a cancel is not an error: "
                                       << host.messages.join(QLatin1Char('\n')).toStdString();
  EXPECT_LT(QFileInfo(root + QStringLiteral("/big.bin")).size(), qint64(4) << 30);
  QFile::remove(big);
  const QString small = testenv::writeFile(local + QStringLiteral("/after.txt"), "after");
  panel.uploadDropped({small});
  ASSERT_TRUE(
      testenv::waitFor([&] { return files(panel).contains(QStringLiteral("after.txt")) && !form->busy(); }, 30000));
  EXPECT_EQ(testenv::readFile(root + QStringLiteral("/after.txt")), "after");
  form->programClosing();
  form.reset();

  // The same site from the stored profile: known host, no key question; the password is asked again.
  auto again = std::make_unique<TFtpForm>(host, profiles, &panel);
  EXPECT_EQ(again->protocol(), TFtpProtocol::Sftp);
  EXPECT_EQ(again->PortEdit->text(), QString::number(server.port()));
  host.answers << server.password();
  const int shown = host.panelShown;
  again->ConnectButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return host.panelShown > shown; }, 60000))
      << again->Memo1->toPlainText().toStdString();
  EXPECT_EQ(host.hostKeys.size(), 1);
  again->programClosing();
}

// Names a hostile server lists ("../x", absolute, with slashes) are shown, and downloading them all
// from the panel writes nothing: only the plain name lands, and only inside the local folder. A key
// refused at the host-key question leaves no session and nothing stored; a changed key is refused.
TEST_F(SftpWindow, HostileNamesStayInsideAndARefusedKeyIsNotStored) {
  const QString pub = sshDir() + QStringLiteral("/id_ed25519.pub");
  QDir().mkpath(sshDir());
  ASSERT_EQ(ftptest::runTool(QStringLiteral("ssh-keygen"),
                             {"-q", "-t", "ed25519", "-N", "", "-f", sshDir() + QStringLiteral("/id_ed25519")}),
            0);
  const QString script = testenv::sourceDir() + QStringLiteral("/tests/windows/ftp/hostile_sftp.py");
  ASSERT_TRUE(QFileInfo::exists(script)) << "TARNWICK_SOURCE_DIR must name the source tree (ctest sets it)";
  SshServer hostile(root);
  hostile.setSubsystemScript(script);
  ASSERT_TRUE(hostile.start()) << hostile.error().toStdString();
  hostile.authorize(pub);

  auto form = window(hostile);
  form->ProtocolCB->setCurrentIndex(int(TFtpProtocol::Sftp));
  form->PortEdit->setText(QString::number(hostile.port()));
  host.answers << QStringLiteral("no");
  form->ConnectButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return !host.messages.isEmpty(); }, 60000));
  EXPECT_EQ(host.panelShown, 0);
  EXPECT_FALSE(form->sftp() && form->sftp()->isConnected());
  EXPECT_FALSE(testenv::readFile(knownHosts()).contains(hostile.hostPublicKey().split(' ').value(1)));

  host.messages.clear();
  host.answers << QStringLiteral("yes");
  form->ConnectButClick();
  ASSERT_TRUE(
      testenv::waitFor([&] { return (host.panelShown > 0 || !host.messages.isEmpty()) && !form->busy(); }, 60000));
  ASSERT_GT(host.panelShown, 0) << form->Memo1->toPlainText().toStdString();
  const QStringList listed = files(panel);
  for (const char *n : {"../escape.txt", "/tmp/absolute.txt", "a/b.txt", "ok.txt"})
    EXPECT_TRUE(listed.contains(QLatin1String(n))) << n;
  form->ForceLowerCB->setChecked(false);
  panel.StringGrid2->selectRows(1, panel.StringGrid2->RowCount() - 1);
  panel.DownloadButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return !form->busy() && panel.DownloadBut->isEnabled(); }, 60000));
  EXPECT_EQ(QDir(local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"ok.txt"});
  EXPECT_EQ(testenv::readFile(local + QStringLiteral("/ok.txt")), "plain file\n");
  const QString parent = QFileInfo(local).absolutePath();
  EXPECT_FALSE(QFileInfo::exists(parent + QStringLiteral("/escape.txt")));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/absolute.txt")));
  form->programClosing();

  // The same address with another key on record: refused with the loud warning, and only that.
  const QString otherKey = testenv::makeDir(QStringLiteral("otherkey")) + QStringLiteral("/k");
  ASSERT_EQ(ftptest::runTool(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", otherKey}), 0);
  testenv::writeFile(knownHosts(), QStringLiteral("[127.0.0.1]:%1 ").arg(hostile.port()).toUtf8() +
                                       testenv::readFile(otherKey + QStringLiteral(".pub")));
  host.messages.clear();
  const int shown = host.panelShown;
  const qsizetype offered = host.hostKeys.size();
  form->ConnectButClick();
  ASSERT_TRUE(testenv::waitFor([&] { return !host.keyWarnings.isEmpty() && !form->busy(); }, 60000));
  EXPECT_EQ(host.panelShown, shown);
  EXPECT_TRUE(host.messages.isEmpty()) << "the warning is not followed by a second message";
  EXPECT_EQ(host.hostKeys.size(), offered) << "a changed key is never offered for trust";
  form->programClosing();
}
