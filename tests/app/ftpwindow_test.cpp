// The FTP window and panel in an offscreen main window against real servers started by the test:
// connect with a stored profile, list, change directories, upload the current file and dropped
// files, download into the local folder, view, delete, make and remove a directory, disconnect.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "windows/ftp/ftpcli.h"
#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftppanel.h"
#include "windows/ftp/ftpprofiles.h"
#include "platform/paths.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

using ftptest::Server;

namespace {

QStringList gridNames(TFtpPanel *p)
{
    QStringList out;
    for (int r = p->StringGrid2->FixedRows(); r < p->StringGrid2->RowCount(); ++r)
        if (!p->StringGrid2->Cells(0, r).isEmpty())  // a folder without files shows one empty row
            out << p->StringGrid2->Cells(0, r);
    return out;
}

QStringList dirNames(TFtpPanel *p)
{
    QStringList out;
    for (int r = 0; r < p->RemoteDirList->count(); ++r)
        out << p->RemoteDirList->item(r)->text();
    return out;
}

// Selects the range of grid rows from the first to the last of the named files.
void selectGridRows(TFtpPanel *p, const QStringList &names)
{
    int top = -1, bottom = -1;
    for (int r = p->StringGrid2->FixedRows(); r < p->StringGrid2->RowCount(); ++r)
        if (names.contains(p->StringGrid2->Cells(0, r))) {
            if (top < 0)
                top = r;
            bottom = r;
        }
    ASSERT_GE(top, 1) << names.join(QLatin1Char(' ')).toStdString();
    p->StringGrid2->selectRows(top, bottom);
}

bool menuVisible(TTarn &w, const QString &title)
{
    for (QAction *a : w.menuBar()->actions())
        if (a->text() == title)
            return a->isVisible();
    return false;
}

// Plays the user at the main window's message boxes and input boxes: records each message and
// closes it, answers each question from a list (none left: Cancel). It looks for a new box every
// few milliseconds, also inside the box's own event loop.
class BoxAnswerer {
public:
    QStringList messages, answers, captions;

private:
    testenv::ModalWatcher m_watch{[this](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            messages << box->text();
            box->done(QMessageBox::Ok);
        } else if (auto *input = qobject_cast<QInputDialog *>(modal)) {
            captions << input->windowTitle();
            if (answers.isEmpty()) {
                input->reject();
            } else {
                input->setTextValue(answers.takeFirst());
                input->accept();
            }
        }
    }};
};

class FtpSession : public ::testing::TestWithParam<Server::Kind> {
protected:
    void SetUp() override
    {
        root = testenv::makeDir(QStringLiteral("ftproot"));
        local = testenv::makeDir(QStringLiteral("local"));
        testenv::writeFile(root + QStringLiteral("/hello.txt"), "hello from the server\n");
        testenv::writeFile(root + QStringLiteral("/Page.htm"), "<p>page</p>\n");
        testenv::writeFile(root + QStringLiteral("/pub/inner.txt"), "inner\n");
        testenv::writeFile(local + QStringLiteral("/Index.HTM"), "<h1>index</h1>\n");
        testenv::writeFile(local + QStringLiteral("/big.bin"), ftptest::pattern(3 * 1024 * 1024, 5));
        for (const char *n : {"one.txt", "two.txt", "three.txt"})
            testenv::writeFile(local + QLatin1Char('/') + QLatin1String(n), QByteArray(n));
        server = std::make_unique<Server>(GetParam(), root);
        ASSERT_TRUE(server->start()) << server->error().toStdString();

        // Every session starts from its own profiles file, whatever ran before.
        QFile::remove(platform::userFile(QStringLiteral("Tarnwick.Ftp")));
        TIniFile ini(platform::userFile(QStringLiteral("Tarnwick.Ftp")));
        ASSERT_TRUE(ini.load());
        ini.writeString(QStringLiteral("Profiles"), QStringLiteral("Name0"), QStringLiteral("LOCAL TEST"));
        TFtpProfile p;
        p.hostName = QStringLiteral("127.0.0.1");
        p.port = server->port();
        p.userName = server->user();
        p.password = server->password();
        p.initialLocalDir = local;
        p.slowHost = false;
        p.passive = GetParam() == Server::Vsftpd;  // the window in both modes, one per server
        WriteFtpProfile(ini, QStringLiteral("LOCAL TEST"), p);
        ASSERT_TRUE(ini.save());
    }

    bool waitIdle(TTarn &w, int ms = 20000)
    {
        return testenv::waitFor([&] { return !w.FtpForm1->busy() && w.FtpPanel1->UploadBut->isEnabled(); }, ms);
    }

    QString root, local;
    std::unique_ptr<Server> server;
};

} // namespace

TEST_P(FtpSession, ConnectBrowseTransferAndClose)
{
    TTarn w({local});
    w.show();
    ASSERT_TRUE(testenv::waitFor([&] { return w.PTShellList1->FolderPath() == local; }));
    TFtpForm *form = w.FtpForm1;
    TFtpPanel *panel = w.FtpPanel1;
    BoxAnswerer boxes;
    QStringList &messages = boxes.messages, &answers = boxes.answers;

    // Opening the client switches the menus and shows the window with the stored profile.
    w.item(QStringLiteral("FtpClient1"))->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(w.item(QStringLiteral("FtpClient2"))->isVisible());
    EXPECT_FALSE(menuVisible(w, QStringLiteral("&Tools")));
    EXPECT_FALSE(w.item(QStringLiteral("ZipFile1"))->isEnabled());
    EXPECT_EQ(form->SiteCB->currentText(), QStringLiteral("LOCAL TEST"));
    EXPECT_EQ(form->HostNameEdit->text(), QStringLiteral("127.0.0.1"));

    QTest::mouseClick(form->ConnectBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return w.FtpPanel->isVisible() && gridNames(panel).contains(QStringLiteral("hello.txt")); }, 20000))
        << form->Memo1->toPlainText().toStdString();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(w.Pc1->isVisible());
    // pyftpdlib shows its root as "/", vsftpd (not chrooted here) the folder's full path.
    const QString home = panel->RemoteDirEdit->text();
    if (GetParam() == Server::PyFtpd) {
        EXPECT_EQ(home, QStringLiteral("/"));
        EXPECT_EQ(dirNames(panel), QStringList{QStringLiteral("pub")});
    } else {
        EXPECT_EQ(dirNames(panel), QStringList({QStringLiteral("<up one dir>"), QStringLiteral("pub")}));
    }
    EXPECT_TRUE(panel->UnixListing);
    // The session log is in both places, with the password masked.
    const QString log = panel->Memo1->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Connecting to 127.0.0.1 ...")));
    EXPECT_TRUE(log.contains(QStringLiteral("Parsing directory listing")));
    EXPECT_TRUE(log.contains(QStringLiteral("Done (request=ConnectAsync  error code=0)")));
    if (GetParam() == Server::PyFtpd) {  // vsftpd's anonymous login asks no password
        EXPECT_FALSE(log.contains(server->password()));
        EXPECT_TRUE(log.contains(QStringLiteral("> PASS ") + QString(server->password().size(), QLatin1Char('*'))));
    }
    EXPECT_TRUE(form->Memo1->toPlainText().contains(QStringLiteral("Parsing directory listing")));

    // Into a subdirectory by a click in the list, and back by "<up one dir>".
    panel->RemoteDirList->setCurrentRow(int(dirNames(panel).indexOf(QStringLiteral("pub"))));
    panel->RemoteDirListClick();
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("inner.txt")); }, 20000));
    EXPECT_EQ(panel->RemoteDirEdit->text(), platform::AppendSlash(home) + QStringLiteral("pub"));
    EXPECT_EQ(dirNames(panel).value(0), QStringLiteral("<up one dir>"));
    panel->RemoteDirList->setCurrentRow(0);
    panel->RemoteDirListClick();
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("hello.txt")); }, 20000));
    EXPECT_EQ(panel->RemoteDirEdit->text(), home);
    ASSERT_TRUE(waitIdle(w));

    // Upload the file picked in the local list; its name is lower-cased and ".htm" becomes ".html".
    form->ConvHtmlCB->setChecked(true);
    form->ForceLowerCB->setChecked(true);
    ASSERT_TRUE(testenv::waitFor([&] { return w.PTShellList1->model()->rowOfName(QStringLiteral("Index.HTM")) >= 0; }));
    w.PTShellList1->selectName(QStringLiteral("Index.HTM"));
    w.PTShellList1Click();
    EXPECT_EQ(w.state.CurrentFile, local + QStringLiteral("/Index.HTM"));
    QTest::mouseClick(panel->UploadBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("index.html")); }, 20000))
        << panel->Memo1->toPlainText().toStdString();
    EXPECT_EQ(testenv::readFile(root + QStringLiteral("/index.html")), QByteArray("<h1>index</h1>\n"));
    ASSERT_TRUE(waitIdle(w));

    // A big upload shows its progress.
    w.PTShellList1->selectName(QStringLiteral("big.bin"));
    w.PTShellList1Click();
    QTest::mouseClick(panel->UploadBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("big.bin")); }, 30000));
    ASSERT_TRUE(waitIdle(w));
    EXPECT_EQ(ftptest::md5(root + QStringLiteral("/big.bin")), ftptest::md5(local + QStringLiteral("/big.bin")));
    EXPECT_GT(panel->lblProgress->text().toLongLong(), 0);

    // Dropped files are uploaded, folders among them skipped, the last queued first.
    const int before = int(panel->Memo1->toPlainText().split(QLatin1Char('\n')).size());
    w.filesDropped({local + QStringLiteral("/one.txt"), local, local + QStringLiteral("/two.txt"),
                    local + QStringLiteral("/three.txt")});
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("one.txt")); }, 20000));
    ASSERT_TRUE(waitIdle(w));
    QStringList puts;
    for (const QString &l : panel->Memo1->toPlainText().split(QLatin1Char('\n')).mid(before))
        if (l.startsWith(QStringLiteral("put ")))
            puts << QFileInfo(l.section(QLatin1Char(' '), 1, 1)).fileName();
    EXPECT_EQ(puts, QStringList({QStringLiteral("three.txt"), QStringLiteral("two.txt"), QStringLiteral("one.txt")}));
    EXPECT_TRUE(QFile::exists(root + QStringLiteral("/two.txt")));

    // Download two selected rows into the local list's folder, which shows them.
    selectGridRows(panel, {QStringLiteral("hello.txt"), QStringLiteral("Page.htm")});
    QTest::mouseClick(panel->DownloadBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(local + QStringLiteral("/page.html")) && QFile::exists(local + QStringLiteral("/hello.txt")); }, 20000))
        << panel->Memo1->toPlainText().toStdString();
    ASSERT_TRUE(waitIdle(w));
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/hello.txt")), QByteArray("hello from the server\n"));
    EXPECT_TRUE(testenv::waitFor([&] { return w.PTShellList1->model()->rowOfName(QStringLiteral("page.html")) >= 0; }, 10000));

    // View: the file goes to a temporary file that the viewer program gets.
    const QString viewed = testenv::makeDir(QStringLiteral("viewed")) + QStringLiteral("/copy.txt");
    // The copy appears under its name only when whole, so the wait below never reads it half-written.
    form->viewerCommand = {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                           QStringLiteral("cp \"$0\" '") + viewed + QStringLiteral(".part' && mv '") + viewed +
                               QStringLiteral(".part' '") + viewed + QLatin1Char('\'')};
    selectGridRows(panel, {QStringLiteral("hello.txt")});
    QTest::mouseClick(panel->ViewBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(viewed); }, 20000)) << panel->Memo1->toPlainText().toStdString();
    ASSERT_TRUE(waitIdle(w));
    // Viewing fetches as text: the line ends arrive as CR LF.
    EXPECT_EQ(testenv::readFile(viewed).replace("\r\n", "\n"), QByteArray("hello from the server\n"));
    EXPECT_FALSE(form->ViewMode);

    // Delete without a question; the listing is fetched again.
    selectGridRows(panel, {QStringLiteral("hello.txt")});
    QTest::mouseClick(panel->DelRemFileBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return !gridNames(panel).contains(QStringLiteral("hello.txt")); }, 20000));
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/hello.txt")));
    ASSERT_TRUE(waitIdle(w));

    // Make and remove a directory.
    answers << QStringLiteral("made here");
    QTest::mouseClick(panel->MkDirBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return dirNames(panel).contains(QStringLiteral("made here")); }, 20000))
        << panel->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/made here")).isDir());
    ASSERT_TRUE(waitIdle(w));
    answers << QStringLiteral("made here");
    QTest::mouseClick(panel->RmDirBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return !dirNames(panel).contains(QStringLiteral("made here")); }, 20000));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/made here")));
    ASSERT_TRUE(waitIdle(w));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();

    // A failed CWD is reported and the directory is still asked for again.
    panel->RemoteDirList->clearSelection();
    panel->RemoteDirEdit->setText(QStringLiteral("/no such dir"));
    QTest::mouseClick(panel->ChgDirBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return panel->RemoteDirEdit->text() == home; }, 20000));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.value(0).startsWith(QStringLiteral("Error: ")));
    ASSERT_TRUE(waitIdle(w));

    // Close ends the session and restores the window.
    QTest::mouseClick(panel->CloseBut, Qt::LeftButton);
    EXPECT_FALSE(w.FtpPanel->isVisible());
    EXPECT_TRUE(w.Pc1->isVisible());
    EXPECT_FALSE(w.item(QStringLiteral("FtpClient2"))->isVisible());
    EXPECT_TRUE(menuVisible(w, QStringLiteral("&Tools")));
    EXPECT_TRUE(w.item(QStringLiteral("ZipFile1"))->isEnabled());
    EXPECT_TRUE(testenv::waitFor([&] { return !form->FtpClient1->Connected(); }, 10000));
}

TEST_P(FtpSession, WithoutListingsNamesAreAskedFor)
{
    TTarn w({local});
    w.show();
    TFtpForm *form = w.FtpForm1;
    TFtpPanel *panel = w.FtpPanel1;
    BoxAnswerer boxes;
    QStringList &messages = boxes.messages, &answers = boxes.answers, &captions = boxes.captions;
    w.item(QStringLiteral("FtpClient1"))->trigger();
    form->AutoDirCB->setChecked(false);
    form->InitialDirEdit->setText(QStringLiteral("pub"));
    QTest::mouseClick(form->ConnectBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return w.FtpPanel->isVisible() && panel->RemoteDirEdit->text().endsWith(QStringLiteral("/pub")); }, 20000))
        << form->Memo1->toPlainText().toStdString();
    ASSERT_TRUE(waitIdle(w));
    EXPECT_TRUE(gridNames(panel).isEmpty());  // no listing: only the heading
    EXPECT_FALSE(panel->Memo1->toPlainText().contains(QStringLiteral("LIST")));

    answers << QStringLiteral("inner.txt");
    QTest::mouseClick(panel->DownloadBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(local + QStringLiteral("/inner.txt")); }, 20000));
    ASSERT_TRUE(waitIdle(w));
    EXPECT_EQ(captions, QStringList{QStringLiteral("Download a File")});
    // Cancelling the question does nothing.
    QTest::mouseClick(panel->DelRemFileBut, Qt::LeftButton);
    EXPECT_EQ(captions.last(), QStringLiteral("Delete a File"));
    EXPECT_TRUE(QFile::exists(root + QStringLiteral("/pub/inner.txt")));
    // A remote name that tries to leave the local folder is written inside it.
    EXPECT_EQ(form->localPathFor(QStringLiteral("../../escape.txt")), local + QStringLiteral("/escape.txt"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();

    // Exit from the FTP window ends the session and gives the menus back.
    w.item(QStringLiteral("FtpClient2"))->trigger();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Memo1->toPlainText().contains(QStringLiteral("get inner.txt"))) << "the session's log is kept";
    QTest::mouseClick(form->ExitBut, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(menuVisible(w, QStringLiteral("&Tools")));
    EXPECT_TRUE(testenv::waitFor([&] { return !form->FtpClient1->Connected(); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpSession, ::testing::Values(Server::PyFtpd, Server::Vsftpd),
                         [](const ::testing::TestParamInfo<Server::Kind> &i) {
                             return i.param == Server::PyFtpd ? std::string("pyftpdlib") : std::string("vsftpd");
                         });

TEST(FtpSessionAbort, CancelKeepsTheSessionAndTheWindowResponsive)
{
    const QString root = testenv::makeDir(QStringLiteral("abortroot"));
    const QString local = testenv::makeDir(QStringLiteral("abortlocal"));
    constexpr qint64 kSize = qint64(400) * 1024 * 1024;
    {
        QFile big(root + QStringLiteral("/huge.bin"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(kSize));
    }
    // 8 MB/s: on a fast machine an unthrottled download could end before the Abort click lands.
    qputenv("TARNWICK_FTP_SEND_LIMIT", "8388608");
    Server server(Server::PyFtpd, root);
    const bool started = server.start();
    qunsetenv("TARNWICK_FTP_SEND_LIMIT");
    ASSERT_TRUE(started) << server.error().toStdString();
    TTarn w({local});
    w.show();
    TFtpForm *form = w.FtpForm1;
    TFtpPanel *panel = w.FtpPanel1;
    BoxAnswerer boxes;
    const QStringList &messages = boxes.messages;
    w.item(QStringLiteral("FtpClient1"))->trigger();
    form->HostNameEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(server.port()));
    form->UserNameEdit->setText(server.user());
    form->PasswordEdit->setText(server.password());
    form->InitialLocalDirEdit->setText(local);
    form->UseTlsCB->setChecked(false);  // a plain server
    QTest::mouseClick(form->ConnectBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("huge.bin")); }, 20000));
    ASSERT_TRUE(testenv::waitFor([&] { return !form->busy(); }));

    selectGridRows(panel, {QStringLiteral("huge.bin")});
    QTest::mouseClick(panel->DownloadBut, Qt::LeftButton);
    // While it runs the commands are off, the Abort button is there and the events keep flowing.
    ASSERT_TRUE(testenv::waitFor([&] { return panel->lblProgress->text().toLongLong() > 0; }, 20000));
    EXPECT_FALSE(panel->DownloadBut->isEnabled());
    EXPECT_FALSE(panel->CloseBut->isEnabled());
    EXPECT_TRUE(panel->AbortBut->isVisibleTo(panel));
    QTest::mouseClick(panel->AbortBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return !form->busy() && panel->DownloadBut->isEnabled(); }, 20000));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(panel->Memo1->toPlainText().contains(QStringLiteral("! Abort requested")));
    EXPECT_LT(QFileInfo(local + QStringLiteral("/huge.bin")).size(), kSize);
    EXPECT_FALSE(panel->AbortBut->isVisibleTo(panel));
    // The session goes on.
    EXPECT_TRUE(form->FtpClient1->Connected());
    testenv::writeFile(root + QStringLiteral("/after.txt"), "x");
    panel->RemoteDirList->clearSelection();
    QTest::mouseClick(panel->ChgDirBut, Qt::LeftButton);
    EXPECT_TRUE(testenv::waitFor([&] { return gridNames(panel).contains(QStringLiteral("after.txt")); }, 20000));

    ASSERT_TRUE(testenv::waitFor([&] { return !form->busy(); }));

    // Leaving by the FTP window's Exit in the middle of a download: no message about the
    // interrupted transfer, the buttons come back, and a new connection works.
    selectGridRows(panel, {QStringLiteral("huge.bin")});
    QTest::mouseClick(panel->DownloadBut, Qt::LeftButton);
    ASSERT_TRUE(testenv::waitFor([&] { return form->busy() && !panel->DownloadBut->isEnabled(); }, 20000));
    w.filesDropped({root + QStringLiteral("/after.txt")});
    EXPECT_TRUE(panel->Memo1->toPlainText().contains(QStringLiteral("the dropped files were not sent")));
    w.item(QStringLiteral("FtpClient2"))->trigger();
    QTest::mouseClick(form->ExitBut, Qt::LeftButton);
    EXPECT_FALSE(form->busy());
    EXPECT_FALSE(form->FtpClient1->Connected());
    EXPECT_TRUE(panel->DownloadBut->isEnabled());
    // Every report the ended session had queued is delivered before this marker.
    bool flushed = false;
    QMetaObject::invokeMethod(form->FtpClient1, [&] { flushed = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(testenv::waitFor([&] { return flushed; }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    w.item(QStringLiteral("FtpClient1"))->trigger();
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty()) << "opening the client clears its log";
    QTest::mouseClick(form->ConnectBut, Qt::LeftButton);
    EXPECT_TRUE(testenv::waitFor([&] { return panel->Memo1->toPlainText().contains(QStringLiteral("Parsing directory listing")); }, 20000));
    EXPECT_TRUE(gridNames(panel).contains(QStringLiteral("after.txt")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
}

TEST(FtpProgramEnd, ClosingTheMainWindowSavesTheSortedProfiles)
{
    const QString file = platform::userFile(QStringLiteral("Tarnwick.Ftp"));
    testenv::writeFile(file, "[Profiles]\nName0=ZULU\nName1=ALPHA\n[LastUsed]\nProfile=0\n"
                             "[ZULU]\nHostName=zulu.example\n[ALPHA]\nHostName=alpha.example\n");
    {
        TTarn w({testenv::makeDir(QStringLiteral("closing"))});
        w.show();
        TFtpForm *form = w.FtpForm1;
        ASSERT_EQ(form->SiteCB->currentText(), QStringLiteral("ZULU"));
        form->SaveProfileCB->setChecked(true);
        form->UserNameEdit->setText(QStringLiteral("zed"));
        ASSERT_TRUE(w.close());
        // Saved by the close, while the window still stands.
        TIniFile ini(file);
        ASSERT_TRUE(ini.load());
        EXPECT_EQ(ReadProfileNames(ini), QStringList({QStringLiteral("ALPHA"), QStringLiteral("ZULU")}));
        EXPECT_EQ(ini.readInteger(QStringLiteral("LastUsed"), QStringLiteral("Profile"), -1), 1);
        EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("ZULU")).userName, QStringLiteral("zed"));
    }
    {   // without "Save Changes" the file stays as it was
        const QByteArray before = testenv::readFile(file);
        TTarn w({testenv::makeDir(QStringLiteral("closing"))});
        w.show();
        w.FtpForm1->UserNameEdit->setText(QStringLiteral("other"));
        ASSERT_TRUE(w.close());
        EXPECT_EQ(testenv::readFile(file), before);
    }
    QFile::remove(file);
}
