// The FTP panel and window without a main window: the listing shown from a saved file, the names
// the commands queue, the name rules of transfers, and a Windows server (scripted) whose DOS
// listing first comes back as an immediate 226.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "windows/ftp/ftpcli.h"
#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftppanel.h"
#include "windows/ftp/ftpviewer.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptesthost.h"
#include "tests/windows/ftp/ftptestutil.h"

namespace {

QStringList column0(TFtpPanel &p)
{
    QStringList out;
    for (int r = p.StringGrid2->FixedRows(); r < p.StringGrid2->RowCount(); ++r)
        out << p.StringGrid2->Cells(0, r);
    return out;
}

QStringList headings(TFtpPanel &p)
{
    QStringList out;
    for (int c = 0; c < p.StringGrid2->ColCount(); ++c)
        out << p.StringGrid2->Cells(c, 0);
    return out;
}

QStringList dirs(TFtpPanel &p)
{
    QStringList out;
    for (int r = 0; r < p.RemoteDirList->count(); ++r)
        out << p.RemoteDirList->item(r)->text();
    return out;
}

struct PanelFixture : ::testing::Test {
    void SetUp() override
    {
        dir = testenv::makeDir(QStringLiteral("panel"));
        host.local = dir;
        form = std::make_unique<TFtpForm>(host, dir + QStringLiteral("/profiles.ftp"), &panel);
    }
    QString listing(const QByteArray &text) { return testenv::writeFile(dir + QStringLiteral("/ftpdir.txt"), text); }
    // Declared before the window and panel, which report into it until they are gone.
    ftptest::RecordingHost host;
    QString dir;
    TFtpPanel panel{host};
    std::unique_ptr<TFtpForm> form;
};

} // namespace

TEST_F(PanelFixture, ListingFileFillsListAndGrid)
{
    panel.RemoteDirEdit->setText(QStringLiteral("/pub"));
    const QString file = listing("total 3\r\n"
                                 "drwxr-xr-x  2 u g  4096 Jan  1 12:00 docs\r\n"
                                 "-rw-r--r--  1 u g    10 Jan  1  2020 b.txt\r\n"
                                 "-rw-r--r--  1 u g     9 Feb  2 10:00 a file.txt\r\n"
                                 "lrwxrwxrwx  1 u g     3 Feb  2 10:00 up -> /srv/data\r\n");
    panel.ParseDir(file);
    EXPECT_EQ(dirs(panel), QStringList({QStringLiteral("<up one dir>"), QStringLiteral("docs"), QStringLiteral("up")}));
    EXPECT_EQ(column0(panel).size(), 2);
    EXPECT_TRUE(column0(panel).contains(QStringLiteral("a file.txt")));
    EXPECT_FALSE(QFile::exists(file)) << "the listing file is deleted after use";
    const QString log = panel.Memo1->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Parsing directory listing")));
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("done.")));
    // A click on the size heading sorts by value (9 before 10), the heading row staying on top.
    panel.StringGrid2->clickSort(1, Qt::LeftButton);
    EXPECT_EQ(column0(panel), QStringList({QStringLiteral("a file.txt"), QStringLiteral("b.txt")}));
    EXPECT_EQ(headings(panel), QStringList({QStringLiteral("File Name"), QStringLiteral("File Size"), QStringLiteral("Date/Time")}));
    // The right button sorts downwards, and the next listing comes sorted the same way.
    panel.StringGrid2->clickSort(1, Qt::RightButton);
    EXPECT_EQ(column0(panel), QStringList({QStringLiteral("b.txt"), QStringLiteral("a file.txt")}));
    panel.ParseDir(listing("-rw-r--r--  1 u g     9 Feb  2 10:00 nine\r\n"
                           "-rw-r--r--  1 u g   100 Feb  2 10:00 hundred\r\n"
                           "-rw-r--r--  1 u g    10 Feb  2 10:00 ten\r\n"));
    EXPECT_EQ(column0(panel), QStringList({QStringLiteral("hundred"), QStringLiteral("ten"), QStringLiteral("nine")}));
    EXPECT_EQ(panel.StringGrid2->Cells(1, 1), QStringLiteral("100"));
    EXPECT_EQ(panel.StringGrid2->Cells(2, 1), QStringLiteral("Feb 2 10:00"));

    // At the root there is no way up; an empty listing leaves one empty row under the heading.
    panel.RemoteDirEdit->setText(QStringLiteral("/"));
    panel.ParseDir(listing(""));
    EXPECT_TRUE(dirs(panel).isEmpty());
    EXPECT_EQ(column0(panel), QStringList{QString()});
    EXPECT_EQ(panel.StringGrid2->RowCount(), 2);
    EXPECT_EQ(panel.StringGrid2->FixedRows(), 1);
    EXPECT_EQ(headings(panel).value(0), QStringLiteral("File Name")) << "the heading is no file row to empty";
    // Refilling keeps the column widths.
    EXPECT_EQ(QList<int>({panel.StringGrid2->ColWidths(0), panel.StringGrid2->ColWidths(1), panel.StringGrid2->ColWidths(2)}),
              QList<int>({150, 64, 80}));
    // A missing file: the same.
    panel.RemoteDirEdit->setText(QStringLiteral("/x"));
    panel.ParseDir(dir + QStringLiteral("/missing.txt"));
    EXPECT_EQ(dirs(panel), QStringList{QStringLiteral("<up one dir>")});
    EXPECT_EQ(column0(panel), QStringList{QString()});
}

TEST_F(PanelFixture, SelectionDecidesWhatIsQueued)
{
    QByteArray text;
    for (int i = 1; i <= 6; ++i)
        text += "-rw-r--r--  1 u g  " + QByteArray::number(i) + " Jan  1 12:00 f" + QByteArray::number(i) + ".txt\r\n";
    panel.RemoteDirEdit->setText(QStringLiteral("/"));
    panel.ParseDir(listing(text));
    ASSERT_EQ(panel.StringGrid2->RowCount(), 7);
    // Rows 3 to 5 of the grid (row 0 is the heading).
    panel.StringGrid2->selectRows(3, 5);
    // Not connected: the transfer cannot start, which is logged; the queue shows what was taken.
    panel.DownloadButClick();
    EXPECT_EQ(form->TransferQueue, QStringList({QStringLiteral("f3.txt"), QStringLiteral("f4.txt"), QStringLiteral("f5.txt")}));
    EXPECT_TRUE(panel.Memo1->toPlainText().contains(QStringLiteral("! ")));
    EXPECT_TRUE(panel.DownloadBut->isEnabled()) << "a refused start leaves the buttons usable";
    panel.ViewButClick();
    EXPECT_EQ(form->TransferQueue, QStringList{QStringLiteral("f3.txt")});
    EXPECT_FALSE(form->ViewMode);
    panel.DelRemFileButClick();
    EXPECT_EQ(form->TransferQueue.size(), 3);
    // Nothing selected: nothing queued.
    panel.StringGrid2->setCurrentIndex({});
    panel.StringGrid2->clearSelection();
    panel.DownloadButClick();
    EXPECT_TRUE(form->TransferQueue.isEmpty());
    // A double click on a file row downloads that row.
    panel.show();
    const QRect cell = panel.StringGrid2->visualRect(panel.StringGrid2->model()->index(1, 0));  // grid row 2
    ASSERT_TRUE(cell.isValid());
    QTest::mouseDClick(panel.StringGrid2->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(form->TransferQueue, QStringList{QStringLiteral("f2.txt")});
    // A new listing drops the selection: a download then takes nothing it was not asked for.
    panel.ParseDir(listing(text));
    panel.DownloadButClick();
    EXPECT_TRUE(form->TransferQueue.isEmpty());
    // Upload takes only a file, never a folder.
    host.current = dir;
    panel.UploadButClick();
    EXPECT_TRUE(form->TransferQueue.isEmpty());
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_F(PanelFixture, ConnectingElsewhereForgetsTheOldFiles)
{
    panel.RemoteDirEdit->setText(QStringLiteral("/"));
    panel.ParseDir(listing("-rw-r--r--  1 u g    10 Jan  1  2020 old.txt\r\n"));
    ASSERT_EQ(column0(panel), QStringList{QStringLiteral("old.txt")});
    // Refused before any network work (bad port), after the old listing was dropped.
    host.answers << QStringLiteral("other");
    form->SaveProfileCB->setChecked(true);
    form->PortEdit->setText(QStringLiteral("0"));
    form->ConnectButClick();
    EXPECT_EQ(host.messages, QStringList{QStringLiteral("'0' is not a valid port number")});
    EXPECT_EQ(column0(panel), QStringList{QString()}) << "no file of the former server stays listed";
    EXPECT_EQ(panel.StringGrid2->Cells(0, 0), QStringLiteral("File Name"));
}

TEST_F(PanelFixture, AdvancedMenuAndBatchButtons)
{
    panel.show();
    EXPECT_TRUE(panel.AdvMenuCB->isChecked());
    EXPECT_TRUE(panel.MkDirBut->isVisible());
    panel.AdvMenuCB->setChecked(false);
    for (QPushButton *b : {panel.RmDirBut, panel.MkDirBut, panel.ViewBut, panel.DelRemFileBut, panel.ConnectBut})
        EXPECT_FALSE(b->isVisible()) << b->objectName().toStdString();
    EXPECT_TRUE(panel.UploadBut->isVisible());
    panel.setButtonsEnabled(false);
    EXPECT_FALSE(panel.UploadBut->isEnabled());
    EXPECT_FALSE(panel.RemoteDirList->isEnabled());
    EXPECT_TRUE(panel.MkDirBut->isEnabled()) << "hidden advanced buttons are left alone";
    panel.setButtonsEnabled(true);
    panel.AdvMenuCB->setChecked(true);
    EXPECT_TRUE(panel.ConnectBut->isVisible());
}

TEST_F(PanelFixture, TransferNamesFollowTheCaseAndHtmlOptions)
{
    form->ForceLowerCB->setChecked(true);
    form->ConvHtmlCB->setChecked(true);
    EXPECT_EQ(form->remoteNameFor(QStringLiteral("/x/Index.HTM")), QStringLiteral("index.html"));
    EXPECT_EQ(form->localPathFor(QStringLiteral("Page.htm")), dir + QStringLiteral("/page.html"));
    form->ForceLowerCB->setChecked(false);
    EXPECT_EQ(form->localPathFor(QStringLiteral("Page.htm")), dir + QStringLiteral("/Page.html"));
    EXPECT_EQ(form->remoteNameFor(QStringLiteral("/x/Index.HTM")), QStringLiteral("Index.html"));
    EXPECT_EQ(form->remoteNameFor(QStringLiteral("/x/.htm")), QStringLiteral(".htm"));
    form->ConvHtmlCB->setChecked(false);
    EXPECT_EQ(form->localPathFor(QStringLiteral("Page.htm")), dir + QStringLiteral("/Page.htm"));
    EXPECT_EQ(form->localPathFor(QStringLiteral("../../etc/passwd")), dir + QStringLiteral("/passwd"));
    EXPECT_EQ(form->localPathFor(QStringLiteral("sub/..")), dir + QStringLiteral("/"));
}

TEST(FtpWindow, WindowsServerDosListingAfterAnEarly226)
{
    const QString dos1 = QStringLiteral("01-05-99  10:30AM                 1234 file.txt");
    const QString dos2 = QStringLiteral("12-31-03  11:59PM                <DIR> My Docs");
    ASSERT_EQ(dos1.indexOf(QStringLiteral("file")), 39);
    ASSERT_EQ(dos2.indexOf(QStringLiteral("My")), 39);
    const QString script = QStringList({
        QStringLiteral("> 220 hi"), QStringLiteral("< USER"), QStringLiteral("> 331 pw"), QStringLiteral("< PASS"),
        QStringLiteral("> 230 ok"), QStringLiteral("< SYST"), QStringLiteral("> 215 Windows_NT"), QStringLiteral("< PWD"),
        QStringLiteral("> 257 \"/\" is current"), QStringLiteral("< TYPE A"), QStringLiteral("> 200 ok"),
        // The first listing ends with 226 at once; it is asked for again.
        QStringLiteral("< PORT"), QStringLiteral("> 200 ok"), QStringLiteral("< LIST"), QStringLiteral("> 226 nothing to send"),
        QStringLiteral("< PORT"), QStringLiteral("> 200 ok"), QStringLiteral("< LIST"), QStringLiteral("> 150 here"),
        QStringLiteral("dataconnect"), QStringLiteral("datasend ") + dos1 + QStringLiteral("\\r\\n") + dos2 + QStringLiteral("\\r\\n"),
        QStringLiteral("dataclose"), QStringLiteral("> 226 ok"), QStringLiteral("< QUIT"), QStringLiteral("> 221 bye"),
        QStringLiteral("close")}).join(QLatin1Char('\n'));
    ftptest::FakePeer peer(script);
    ASSERT_GT(peer.port(), 0);

    const QString dir = testenv::makeDir(QStringLiteral("nt"));
    ftptest::RecordingHost host;
    TFtpPanel panel(host);
    panel.UnixListing = true;  // left from an earlier session
    TFtpForm form(host, dir + QStringLiteral("/profiles.ftp"), &panel);
    form.HostNameEdit->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::number(peer.port()));
    form.UserNameEdit->setText(QStringLiteral("me"));
    form.PasswordEdit->setText(QStringLiteral("Zebra-42"));
    form.InitialLocalDirEdit->clear();
    form.PassiveCB->setChecked(false);  // the script plays an active-mode server without TLS
    form.UseTlsCB->setChecked(false);
    form.ConnectButClick();
    ASSERT_TRUE(testenv::waitFor([&] { return host.panelShown > 0; }, 15000)) << form.Memo1->toPlainText().toStdString();
    EXPECT_FALSE(panel.UnixListing);
    EXPECT_EQ(dirs(panel), QStringList{QStringLiteral("My Docs")});
    ASSERT_EQ(panel.StringGrid2->RowCount(), 2);
    EXPECT_EQ(panel.StringGrid2->Cells(0, 1), QStringLiteral("file.txt"));
    EXPECT_EQ(panel.StringGrid2->Cells(1, 1), QStringLiteral("     1234"));
    EXPECT_EQ(panel.StringGrid2->Cells(2, 1), QStringLiteral("01-05-99 10:30AM"));
    EXPECT_EQ(host.messages, QStringList{QStringLiteral("Message: 226 nothing to send")});
    const QString log = form.Memo1->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("> PASS ********"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Zebra")));
    EXPECT_TRUE(log.contains(QStringLiteral("Done (request=DirAsync  error code=226)")));
    form.disconnectSession();
    ASSERT_TRUE(peer.finished());
    EXPECT_FALSE(peer.received().join(QLatin1Char('|')).contains(QStringLiteral("UNEXPECTED")))
        << peer.received().join(QLatin1Char('|')).toStdString();
}

TEST(FtpViewer, DesktopExecLinesBecomeCommands)
{
    EXPECT_EQ(ftpviewer::execToCommand(QStringLiteral("gedit %U")), QStringList{QStringLiteral("gedit")});
    EXPECT_EQ(ftpviewer::execToCommand(QStringLiteral("\"/opt/my editor/ed\" --new-window %f")),
              QStringList({QStringLiteral("/opt/my editor/ed"), QStringLiteral("--new-window")}));
    EXPECT_EQ(ftpviewer::execToCommand(QStringLiteral("ed --title=100%% %F")),
              QStringList({QStringLiteral("ed"), QStringLiteral("--title=100%")}));
}

// The window's side of TLS, against pyftpdlib: an unverifiable certificate is shown to the user and,
// once trusted, stored with the site (the next connection asks nothing); a server without TLS gets
// the login only after the user agreed to plain FTP, which the site then remembers.
TEST(FtpWindow, TlsCertificateAndPlainFallbackAskTheUserOncePerSite)
{
    const QString root = testenv::makeDir(QStringLiteral("tlsroot"));
    testenv::writeFile(root + QStringLiteral("/secret.txt"), "s");
    const QString pem = ftptest::makeCertificate(testenv::makeDir(QStringLiteral("cert")), QStringLiteral("localhost"),
                                                 QStringLiteral("DNS:localhost,IP:127.0.0.1"));
    ASSERT_FALSE(pem.isEmpty());
    const QString dir = testenv::makeDir(QStringLiteral("tlsprofiles"));
    const QString profiles = dir + QStringLiteral("/profiles.ftp");
    ftptest::RecordingHost host;
    host.tree = dir;

    auto connectTo = [&](TFtpForm &form, const ftptest::Server &s) {
        form.HostNameEdit->setText(QStringLiteral("127.0.0.1"));
        form.PortEdit->setText(QString::number(s.port()));
        form.UserNameEdit->setText(s.user());
        form.PasswordEdit->setText(s.password());
        form.InitialLocalDirEdit->clear();
        form.SaveProfileCB->setChecked(true);
        const int shown = host.panelShown;
        form.ConnectButClick();
        return testenv::waitFor([&] { return host.panelShown > shown || !form.busy(); }, 20000)
               && testenv::waitFor([&] { return host.panelShown > shown; }, 3000);
    };
    {
        ftptest::Server tls(ftptest::Server::PyFtpd, root);
        tls.setTls(pem);
        ASSERT_TRUE(tls.start()) << tls.error().toStdString();
        TFtpPanel panel(host);
        TFtpForm form(host, profiles, &panel);
        host.answers << QStringLiteral("secure site") << QStringLiteral("yes");
        form.NewSiteButClick();
        EXPECT_TRUE(form.UseTlsCB->isChecked()) << "a new site starts with TLS";
        ASSERT_TRUE(connectTo(form, tls)) << form.Memo1->toPlainText().toStdString();
        ASSERT_EQ(host.questions.size(), 1);
        EXPECT_TRUE(host.questions[0].contains(QStringLiteral("could not be verified")));
        EXPECT_TRUE(host.questions[0].contains(QStringLiteral("SHA-256 fingerprint")));
        const QByteArray stored = testenv::readFile(profiles);
        EXPECT_TRUE(stored.contains("TlsFingerprint=")) << stored.toStdString();
        EXPECT_TRUE(stored.contains("UseTls=1"));
        EXPECT_TRUE(form.Memo1->toPlainText().contains(QStringLiteral("! TLS session: TLSv1.2")));
        form.programClosing();
    }
    {
        // The same site again in a new window (as after a restart): the stored certificate asks nothing.
        ftptest::Server tls(ftptest::Server::PyFtpd, root);
        tls.setTls(pem);
        ASSERT_TRUE(tls.start()) << tls.error().toStdString();
        TFtpPanel panel(host);
        TFtpForm form(host, profiles, &panel);
        EXPECT_EQ(form.SiteCB->currentText(), QStringLiteral("SECURE SITE"));
        ASSERT_TRUE(connectTo(form, tls)) << form.Memo1->toPlainText().toStdString();
        EXPECT_EQ(host.questions.size(), 1);
        form.programClosing();
    }
    {
        ftptest::Server plain(ftptest::Server::PyFtpd, root);
        ASSERT_TRUE(plain.start()) << plain.error().toStdString();
        TFtpPanel panel(host);
        TFtpForm form(host, profiles, &panel);
        // No answer: plain FTP is refused, nothing logs in.
        form.HostNameEdit->setText(QStringLiteral("127.0.0.1"));
        form.PortEdit->setText(QString::number(plain.port()));
        form.ConnectButClick();
        ASSERT_TRUE(testenv::waitFor([&] { return host.questions.size() == 2; }, 20000));
        EXPECT_TRUE(host.questions[1].contains(QStringLiteral("without TLS")));
        EXPECT_FALSE(form.Memo1->toPlainText().contains(QStringLiteral("> USER")));
        EXPECT_TRUE(form.UseTlsCB->isChecked());
        host.answers << QStringLiteral("yes");
        ASSERT_TRUE(connectTo(form, plain)) << form.Memo1->toPlainText().toStdString();
        EXPECT_EQ(host.questions.size(), 3);
        EXPECT_FALSE(form.UseTlsCB->isChecked());
        EXPECT_TRUE(testenv::readFile(profiles).contains("UseTls=0"));
        form.programClosing();
    }
}
