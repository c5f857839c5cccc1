// The FTP engine against a scripted peer that plays a (mis)behaving server.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include "windows/ftp/ftpcli.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

using ftptest::FakePeer;
using ftptest::Recorder;

namespace {

void aim(TCustomFtpCli &cli, const FakePeer &peer, const QString &host = QStringLiteral("127.0.0.1"))
{
    ASSERT_GT(peer.port(), 0) << "the scripted peer did not start";
    cli.setHostName(host);
    cli.setPort(QString::number(peer.port()));
    cli.setUserName(QStringLiteral("user"));
    cli.setPassWord(QStringLiteral("Pw-Zebra-42"));
}

QString lines(std::initializer_list<const char *> l)
{
    QString s;
    for (const char *x : l)
        s += QString::fromUtf8(x) + QLatin1Char('\n');
    return s;
}

} // namespace

TEST(FtpEngine, MultiLineRepliesSplitPacketsAndQuotedDirectories)
{
    FakePeer peer(lines({">raw 220-first line\\r\\n22", "sleep 0.1", ">raw 0-second line\\r\\n", "sleep 0.1",
                         "> 220 third line", "< USER", "> 230-Welcome", ">    230 indented text is not the end",
                         "> 230 logged in", "< PWD", "> 257 \"/a \"\"q\"\" dir\" is current", "< PWD",
                         "> 257 no quotes here", "< QUIT", "> 221 bye", "close"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    cli.ConnectAsync();
    EXPECT_TRUE(rec.done.isEmpty()) << "OnRequestDone must not fire inside the starting call";
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpConnectAsync), 0));
    EXPECT_EQ(rec.sessionConnected, 1);
    for (const char *l : {"< 220-first line", "< 220-second line", "< 220 third line", "< 230-Welcome",
                          "<    230 indented text is not the end", "< 230 logged in"})
        EXPECT_TRUE(rec.display.contains(QString::fromUtf8(l))) << l;
    // USER was answered 230: no password was asked for or sent.
    EXPECT_FALSE(rec.display.join('\n').contains(QStringLiteral("PASS")));

    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), QStringLiteral("/a \"q\" dir"));
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), QString());
    ASSERT_TRUE(cli.Quit());
    EXPECT_TRUE(testenv::waitFor([&] { return rec.sessionClosed == 1; }));
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(peer.received(), (QStringList{"USER user", "PWD", "PWD", "QUIT"}));
}

TEST(FtpEngine, FailingStepEndsCompositeAndPasswordNeverShows)
{
    FakePeer peer(lines({"> 220 hi", "< USER", "> 331 need password", "< PASS", "> 230 in", "< CWD",
                         "> 550 no such dir", "< SITE X", "> 200 ok", "< SITE Y", "> 502 not implemented",
                         "< QUIT", "> 221 bye", "close"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    cli.setHostDirName(QStringLiteral("nodir"));
    cli.setLocalFileName(testenv::makeDir() + QStringLiteral("/never.bin"));
    cli.ReceiveAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpReceiveAsync), 550));
    EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("550 no such dir"));
    EXPECT_TRUE(cli.Connected()) << "a failed step leaves the session logged in";
    EXPECT_FALSE(QFile::exists(cli.LocalFileName()));

    cli.setLocalFileName(QStringLiteral("SITE X"));
    cli.QuoteAsync();
    ASSERT_TRUE(rec.waitDone(2));
    EXPECT_EQ(rec.done[1], qMakePair(int(ftpQuoteAsync), 0));
    cli.setLocalFileName(QStringLiteral("SITE Y"));
    cli.QuoteAsync();
    ASSERT_TRUE(rec.waitDone(3));
    EXPECT_EQ(rec.done[2], qMakePair(int(ftpQuoteAsync), 502));
    ASSERT_TRUE(cli.Quit());
    ASSERT_TRUE(peer.finished());
    // The dropped steps (PORT, RETR, QUIT of the composite) never ran, not even later.
    EXPECT_EQ(peer.received(), (QStringList{"USER user", "PASS Pw-Zebra-42", "CWD nodir", "SITE X", "SITE Y", "QUIT"}));
    const QString log = rec.display.join('\n') + cli.ErrorMessage() + cli.LastReply();
    EXPECT_FALSE(log.contains(QStringLiteral("Pw-Zebra-42")));
    EXPECT_TRUE(rec.display.contains(QStringLiteral("> PASS ********")));
}

TEST(FtpEngine, CompositeEndingWithQuitKeepsTheReplyBeforeQuit)
{
    FakePeer peer(lines({"> 220 hi", "< USER", "> 331 pw", "< PASS", "> 230 ok", "< SIZE big.iso",
                         "> 213 4294967296", "< QUIT", "> 221 Goodbye", "close"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    cli.setHostFileName(QStringLiteral("big.iso"));
    EXPECT_THROW(cli.CwdAsync(), FtpException);  // not connected (and HostDirName empty)
    cli.FileSizeAsync();  // empty HostDirName: the Cwd step is skipped silently
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpSizeAsync), 0));
    EXPECT_EQ(cli.LastReply(), QStringLiteral("213 4294967296"));
    EXPECT_EQ(cli.ReplySize(), Q_INT64_C(4294967296));
    EXPECT_EQ(cli.State(), TFtpState::Ready);
    ASSERT_TRUE(peer.finished());
    EXPECT_EQ(peer.received(), (QStringList{"USER user", "PASS Pw-Zebra-42", "SIZE big.iso", "QUIT"}));
    try {
        cli.CwdAsync();
        FAIL();
    } catch (const FtpException &e) {
        EXPECT_EQ(e.message(), QStringLiteral("HostDirName emtpy"));
    }
}

TEST(FtpEngine, GreetingRefusedClosesAndReportsTheCode)
{
    FakePeer peer(lines({"> 421 Too many users", "wait"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    cli.OpenAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpOpenAsync), 421));
    EXPECT_EQ(rec.sessionClosed, 1);
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("421 Too many users"));
}

TEST(FtpEngine, PreconditionsRaiseTheirTexts)
{
    TFtpClient cli;
    auto text = [&](auto f) {
        try {
            f();
        } catch (const FtpException &e) {
            return e.message();
        }
        return QStringLiteral("(nothing raised)");
    };
    EXPECT_EQ(text([&] { cli.UserAsync(); }), QStringLiteral("UserName emtpy"));
    EXPECT_EQ(text([&] { cli.PassAsync(); }), QStringLiteral("Password emtpy"));
    cli.setUserName(QStringLiteral("u"));
    EXPECT_EQ(text([&] { cli.UserAsync(); }), QStringLiteral("FTP component not connected"));
    EXPECT_EQ(text([&] { cli.GetAsync(); }), QStringLiteral("FTP component not connected"));
    EXPECT_FALSE(cli.Cwd()) << "a refused synchronous operation returns false";
    EXPECT_EQ(cli.State(), TFtpState::Ready);
    EXPECT_EQ(FtpRequestName(ftpRestartGetAsync), QStringLiteral("RestartGetAsync"));
    EXPECT_EQ(FtpRequestName(0), QStringLiteral("none"));
    EXPECT_EQ(FtpRequestName(40), QStringLiteral("unknown"));
}

TEST(FtpEngine, SilenceEndlessLinesAndGarbageEndWithErrors)
{
    {   // a server that never replies to CWD: the synchronous wait gives up after Timeout
        FakePeer peer(lines({"> 220 hi", "< USER", "> 230 ok", "< CWD", "sleep 30"}));
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        ASSERT_TRUE(cli.Connect());
        cli.setHostDirName(QStringLiteral("slow"));
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(cli.Cwd());
        EXPECT_LT(t.elapsed(), 5000);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
        EXPECT_EQ(cli.ControlSocket()->State(), wsClosed);
        EXPECT_EQ(cli.DataSocket()->State(), wsClosed);
    }
    {   // silence before the greeting, asynchronous use: the request still ends
        FakePeer peer(lines({"sleep 30"}));
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        Recorder rec(cli);
        cli.OpenAsync();
        ASSERT_TRUE(rec.waitDone(1, 5000));
        EXPECT_EQ(rec.done[0].second, 426);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
    }
    {   // an endless line
        FakePeer peer(lines({"> 220 hi", "< USER", "endless"}));
        TFtpClient cli;
        aim(cli, peer);
        Recorder rec(cli);
        cli.ConnectAsync();
        ASSERT_TRUE(rec.waitDone(1, 5000));
        EXPECT_EQ(rec.done[0].second, 500);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("500 Reply line too long"));
        EXPECT_FALSE(cli.Connected());
    }
    {   // a multi-line reply that never ends
        QString script = QStringLiteral("> 220 hi\n< USER\n");
        for (int i = 0; i < 1500; ++i)
            script += QStringLiteral("> 331-more %1\n").arg(i);
        script += QStringLiteral("wait\n");
        FakePeer peer(script);
        TFtpClient cli;
        aim(cli, peer);
        Recorder rec(cli);
        cli.ConnectAsync();
        ASSERT_TRUE(rec.waitDone(1, 5000));
        EXPECT_EQ(rec.done[0].second, 500);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("500 Reply has too many lines"));
    }
    {   // the server hangs up in the middle of a request: an error, never success
        FakePeer peer(lines({"> 220 hi", "< USER", "> 331 pw", "< PASS", "close"}));
        TFtpClient cli;
        aim(cli, peer);
        Recorder rec(cli);
        cli.ConnectAsync();
        ASSERT_TRUE(rec.waitDone(1, 5000));
        EXPECT_EQ(rec.done[0], qMakePair(int(ftpConnectAsync), 421));
        EXPECT_EQ(rec.sessionClosed, 1);
    }
}

// A server that keeps talking without answering must not hold a request open: the deadline moves
// only when a transfer makes progress. Every script here would end in success if it did.
TEST(FtpEngine, OnlyTransferProgressMovesTheReplyDeadline)
{
    {   // a greeting sent one byte at a time, asynchronous Connect
        QString script;
        for (const char c : QByteArray("220-trickling"))
            script += QStringLiteral(">raw %1\nsleep 0.3\n").arg(QLatin1Char(c));
        script += lines({">raw \\r\\n", "> 220 ok", "< USER", "> 230 ok", "wait"});
        FakePeer peer(script);
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        Recorder rec(cli);
        QElapsedTimer t;
        t.start();
        cli.ConnectAsync();
        ASSERT_TRUE(rec.waitDone(1, 10000));
        EXPECT_EQ(rec.done[0], qMakePair(int(ftpConnectAsync), 426));
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
        EXPECT_LT(t.elapsed(), 3000) << "the trickle takes 4 s";
        EXPECT_FALSE(cli.Connected());
    }
    {   // "220-" lines, one every 0.3 s, synchronous Connect
        QString script;
        for (int i = 0; i < 14; ++i)
            script += QStringLiteral("> 220-still here %1\nsleep 0.3\n").arg(i);
        script += lines({"> 220 ok", "< USER", "> 230 ok", "wait"});
        FakePeer peer(script);
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(cli.Connect());
        EXPECT_LT(t.elapsed(), 3000);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
    }
    {   // each reply comes within the timeout, but the request as a whole takes longer
        FakePeer peer(lines({"sleep 0.6", "> 220 hi", "< USER", "sleep 0.6", "> 331 pw", "< PASS", "sleep 0.6",
                             "> 230 ok", "wait"}));
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        EXPECT_FALSE(cli.Connect());
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
    }
    {   // a logged-in session whose CWD reply is "250-" lines, one every 0.3 s
        QString script = lines({"> 220 hi", "< USER", "> 230 ok", "< CWD"});
        for (int i = 0; i < 14; ++i)
            script += QStringLiteral("> 250-thinking %1\nsleep 0.3\n").arg(i);
        script += lines({"> 250 done", "wait"});
        FakePeer peer(script);
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        Recorder rec(cli);
        ASSERT_TRUE(cli.Connect());
        rec.reset();
        cli.setHostDirName(QStringLiteral("slow"));
        QElapsedTimer t;
        t.start();
        cli.CwdAsync();
        ASSERT_TRUE(rec.waitDone(1, 10000));
        EXPECT_EQ(rec.done[0], qMakePair(int(ftpCwdAsync), 426));
        EXPECT_LT(t.elapsed(), 3000);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("426 Timeout"));
    }
    {   // a download that takes several timeouts but keeps moving is not cut off
        QString script = lines({"> 220 hi", "< USER", "> 230 ok", "< PORT", "> 200 ok", "< RETR slow.bin",
                                "> 150 go", "dataconnect"});
        QByteArray expected;
        for (int i = 0; i < 8; ++i) {
            script += QStringLiteral("datasend chunk%1;\nsleep 0.4\n").arg(i);
            expected += "chunk" + QByteArray::number(i) + ';';
        }
        script += lines({"dataclose", "> 226 done", "wait"});
        FakePeer peer(script);
        TFtpClient cli;
        aim(cli, peer);
        cli.setTimeout(1);
        ASSERT_TRUE(cli.Connect());
        const QString local = testenv::makeDir() + QStringLiteral("/slow.bin");
        cli.setHostFileName(QStringLiteral("slow.bin"));
        cli.setLocalFileName(local);
        EXPECT_TRUE(cli.Get()) << cli.ErrorMessage().toStdString();
        EXPECT_EQ(testenv::readFile(local), expected);
    }
}

TEST(FtpEngine, ErrorRepliesAtEachStepOfAReceive)
{
    struct Case {
        const char *failingCommand;
        QStringList script;  // up to and including the failing reply
        int expected;
    };
    const QStringList login = {"> 220 hi", "< USER", "> 331 pw", "< PASS", "> 230 ok"};
    const QList<Case> cases = {
        {"USER", {"> 220 hi", "< USER", "> 530 not you"}, 530},
        {"PASS", {"> 220 hi", "< USER", "> 331 pw", "< PASS", "> 530 Login incorrect."}, 530},
        {"TYPE", login + QStringList{"< CWD", "> 250 ok", "< TYPE", "> 504 no"}, 504},
        {"PORT", login + QStringList{"< CWD", "> 250 ok", "< TYPE", "> 200 ok", "< PORT", "> 500 Illegal PORT"}, 500},
        {"RETR", login + QStringList{"< CWD", "> 250 ok", "< TYPE", "> 200 ok", "< PORT", "> 200 ok", "< RETR",
                                     "> 450 busy"}, 450},
        {"RETR", login + QStringList{"< CWD", "> 250 ok", "< TYPE", "> 200 ok", "< PORT", "> 200 ok", "< RETR",
                                     "> 150 here it comes", "dataconnect", "datasend partial", "sleep 0.2",
                                     "> 451 local error"}, 451},
    };
    for (const Case &c : cases) {
        const QString localDir = testenv::makeDir();
        FakePeer peer(c.script.join('\n') + QStringLiteral("\nwait\n"));
        TFtpClient cli;
        aim(cli, peer);
        Recorder rec(cli);
        cli.setHostDirName(QStringLiteral("d"));
        cli.setHostFileName(QStringLiteral("f"));
        cli.setLocalFileName(localDir + QStringLiteral("/f"));
        cli.ReceiveAsync();
        ASSERT_TRUE(rec.waitDone(1, 5000)) << c.failingCommand;
        EXPECT_EQ(rec.done[0].second, c.expected) << c.failingCommand;
        cli.Abort();
        ASSERT_TRUE(peer.finished());
        const QStringList got = peer.received();
        ASSERT_FALSE(got.isEmpty());
        EXPECT_TRUE(got.last().startsWith(QString::fromLatin1(c.failingCommand))) << got.join('|').toStdString();
        EXPECT_FALSE(got.join('|').contains(QStringLiteral("UNEXPECTED")));
    }
}

TEST(FtpEngine, ActiveModeRestAndCompletionOrder)
{
    const QString dir = testenv::makeDir();
    const QString local = dir + QStringLiteral("/f.bin");
    testenv::writeFile(local, QByteArray(1000, 'a'));
    FakePeer peer(lines({"> 220 hi", "< USER", "> 230 ok",
                         // 1: REST 1000 answered 350, data closes before the 226 arrives
                         "< PORT", "> 200 ok", "< REST 1000", "> 350 Restarting", "< RETR f", "> 150 go",
                         "dataconnect", "datasend TAIL", "dataclose", "sleep 0.3", "> 226 done",
                         // 2: REST answered 200 (no resume): download from 0; the 226 comes before the close
                         "< PORT", "> 200 ok", "< REST 1004", "> 200 whatever", "< RETR f", "> 150 go",
                         "dataconnect", "datasend NEW", "sleep 0.2", "> 226 done", "sleep 0.3", "dataclose",
                         // 3: a listing with no argument, and a third party knocking on the data port first
                         "< PORT", "> 200 ok", "< LIST", "dataconnectfrom 127.0.0.2", "> 150 list",
                         "dataconnect", "datasend line1\\r\\nline2\\r\\n", "dataclose", "> 226 ok",
                         // 4: upload whose go-ahead arrives before the server connects
                         "< PORT", "> 200 ok", "< STOR up.txt", "> 150 send it", "sleep 0.3", "dataconnect",
                         "datarecv", "> 226 stored", "< QUIT", "> 221 bye", "close"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    QList<qint64> counts;
    QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 c, bool &) { counts << c; });
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("f"));
    cli.setLocalFileName(local);

    cli.RestGetAsync();
    ASSERT_TRUE(rec.waitDone(2));
    EXPECT_EQ(rec.done[1], qMakePair(int(ftpRestGetAsync), 0));
    EXPECT_EQ(testenv::readFile(local), QByteArray(1000, 'a') + "TAIL");
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_GE(counts.first(), 1000);
    EXPECT_EQ(cli.ResumeAt(), 0);

    cli.RestGetAsync();
    ASSERT_TRUE(rec.waitDone(3));
    EXPECT_EQ(rec.done[2], qMakePair(int(ftpRestGetAsync), 0));
    EXPECT_EQ(testenv::readFile(local), QByteArray("NEW"));

    cli.setHostFileName(QString());
    const QString listing = dir + QStringLiteral("/list.txt");
    cli.setLocalFileName(listing);
    ASSERT_TRUE(cli.Dir());
    EXPECT_EQ(testenv::readFile(listing), QByteArray("line1\r\nline2\r\n"));
    EXPECT_TRUE(rec.display.contains(QStringLiteral("! Data connection from 127.0.0.2 refused")))
        << rec.display.join('\n').toStdString();

    const QString up = testenv::writeFile(dir + QStringLiteral("/up.txt"), "upload body");
    cli.setHostFileName(QStringLiteral("up.txt"));
    cli.setLocalFileName(up);
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage().toStdString();
    EXPECT_EQ(cli.ByteCount(), 11);
    ASSERT_TRUE(cli.Quit());
    ASSERT_TRUE(peer.finished());
    const QStringList got = peer.received();
    EXPECT_TRUE(got.contains(QStringLiteral("LIST"))) << "no trailing blank after LIST";
    EXPECT_TRUE(got.contains(QStringLiteral("DATA 11 upload body")));
    const QRegularExpression port(QStringLiteral("^PORT 127,0,0,1,\\d+,\\d+$"));
    EXPECT_EQ(got.filter(port).size(), 4);
    EXPECT_FALSE(got.join('|').contains(QStringLiteral("UNEXPECTED"))) << got.join('|').toStdString();
    // Statistics line for every transfer.
    EXPECT_EQ(rec.display.filter(QRegularExpression(QStringLiteral("^! \\d+ bytes received/sent in \\d+ seconds"))).size(), 4);
}

TEST(FtpEngine, RefusedDownloadKeepsTheExistingLocalFile)
{
    const QString dir = testenv::makeDir();
    const QString local = testenv::writeFile(dir + QStringLiteral("/keep.txt"), "precious");
    FakePeer peer(lines({"> 220 hi", "< USER", "> 230 ok", "< PORT", "> 200 ok", "< RETR", "> 550 No such file",
                         "< PORT", "> 200 ok", "< RETR", "> 550 No such file", "wait"}));
    TFtpClient cli;
    aim(cli, peer);
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("missing"));
    cli.setLocalFileName(local);
    EXPECT_FALSE(cli.Get());
    EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("550 No such file"));
    EXPECT_EQ(testenv::readFile(local), QByteArray("precious"));
    EXPECT_EQ(cli.DataSocket()->State(), wsClosed);
    const QString fresh = dir + QStringLiteral("/fresh.txt");
    cli.setLocalFileName(fresh);
    EXPECT_FALSE(cli.Get());
    EXPECT_FALSE(QFile::exists(fresh)) << "a refused download leaves no empty file behind";
}

TEST(FtpEngine, PortNamesTheControlConnectionsLocalAddressForOtherServers)
{
    // A server on 127.0.0.2: the control connection's local address is 127.0.0.1, and the data
    // connection must come from the server's own address.
    FakePeer peer(lines({"> 220 hi", "< USER", "> 230 ok", "< PORT", "> 200 ok", "< NLST", "> 150 go",
                         "dataconnectfrom 127.0.0.1", "dataconnect", "datasend a\\r\\nb\\r\\n", "dataclose",
                         "> 226 done", "wait"}),
                  QStringLiteral("127.0.0.2"));
    TFtpClient cli;
    aim(cli, peer, QStringLiteral("127.0.0.2"));
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    EXPECT_EQ(cli.ControlSocket()->GetXAddr(), QStringLiteral("127.0.0.1"));
    QStringList names;
    cli.setDisplayFileFlag(true);
    QObject::connect(&cli, &TCustomFtpCli::OnDisplayFile, &cli, [&](QString &l) { names << l; });
    cli.LsAsync();
    ASSERT_TRUE(rec.waitDone(2));
    EXPECT_EQ(rec.done[1], qMakePair(int(ftpLsAsync), 0));
    EXPECT_EQ(names, (QStringList{"a", "b"}));
    EXPECT_TRUE(rec.display.contains(QStringLiteral("! Data connection from 127.0.0.1 refused")));
    cli.Abort();
    ASSERT_TRUE(peer.finished());
    const QStringList got = peer.received();
    ASSERT_GE(got.size(), 2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^PORT 127,0,0,1,\\d+,\\d+$")).match(got[1]).hasMatch()) << got[1].toStdString();
}

TEST(FtpEngine, RepliesInUtf8OrLatin1)
{
    FakePeer peer(QStringLiteral("> 220 hi\n< USER\n> 230 ok\n< PWD\n> 257 \"/caf\u00e9 \u00fcber\" utf-8\n"
                                 "< PWD\n>latin1 257 \"/caf\u00e9\" latin-1\nwait\n"));
    TFtpClient cli;
    aim(cli, peer);
    ASSERT_TRUE(cli.Connect());
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), QStringLiteral("/caf\u00e9 \u00fcber"));
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), QStringLiteral("/caf\u00e9"));
}

// Passive mode: the data connection goes to the control connection's peer whatever address a PASV
// reply names (a private address behind NAT, or a third host a hostile server points at); a server
// that refuses EPSV is asked with PASV from then on; bad or unreachable passive answers end the
// request with an error instead of hanging.
TEST(FtpEngine, PassiveModeConnectsToThePeerOnly)
{
    ftptest::ClosedPort closed;
    const QString refused =
        QStringLiteral("> 227 Entering Passive Mode (127,0,0,1,%1,%2)").arg(closed.port() / 256).arg(closed.port() % 256);
    FakePeer peer(lines({"> 220 hi", "< USER", "> 230 in", "< EPSV", "> 500 EPSV not understood", "< PASV",
                         "pasv 203.0.113.9", "dataaccept", "< LIST", "> 150 here it comes",
                         "datasend -rw-r--r-- 1 u g 1 Jan 01 00:00 a.txt\\r\\n", "dataclose", "> 226 done",
                         "< PASV", "pasv 10.0.0.7", "dataaccept", "< STOR up.txt", "> 150 go", "datarecv",
                         "> 226 stored", "< PASV", "> 227 Entering Passive Mode (1,2,3)", "< PASV",
                         "> 227 Entering Passive Mode (127,0,0,1,300,1)", "< PASV",
                         refused.toUtf8().constData(), "< QUIT", "> 221 bye", "close"}));
    TFtpClient cli;
    aim(cli, peer);
    cli.setPassive(true);
    cli.setTimeout(10);
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    EXPECT_TRUE(rec.display.contains(QStringLiteral("! Connected to 127.0.0.1 over IPv4; passive mode data connections, no TLS")))
        << rec.display.join('\n').toStdString();

    QBuffer listing;
    listing.open(QIODevice::ReadWrite);
    cli.setLocalStream(&listing);
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage().toStdString();
    EXPECT_TRUE(listing.data().contains("a.txt"));
    EXPECT_TRUE(rec.display.contains(QStringLiteral("! Passive address 203.0.113.9 replaced by the server's address 127.0.0.1")));

    QBuffer up;
    up.setData("uploaded bytes");
    up.open(QIODevice::ReadOnly);
    cli.setLocalStream(&up);
    cli.setHostFileName(QStringLiteral("up.txt"));
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage().toStdString();

    cli.setLocalStream(&listing);
    cli.setHostFileName(QString());
    EXPECT_FALSE(cli.Dir()) << "a PASV reply without six numbers";
    EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("500 Cannot read the passive mode reply"))) << cli.ErrorMessage().toStdString();
    EXPECT_FALSE(cli.Dir()) << "a port number above 255 in a PASV field";
    EXPECT_FALSE(cli.Dir()) << "nothing listens at the offered port";
    EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("425 "))) << cli.ErrorMessage().toStdString();
    ASSERT_TRUE(cli.Quit());
    ASSERT_TRUE(peer.finished());
    const QStringList got = peer.received();
    EXPECT_EQ(got.filter(QStringLiteral("DATAFROM")), (QStringList{"DATAFROM 127.0.0.1", "DATAFROM 127.0.0.1"}));
    EXPECT_TRUE(got.contains(QStringLiteral("DATA 14 uploaded bytes"))) << got.join('|').toStdString();
    EXPECT_EQ(got.filter(QStringLiteral("EPSV")).size(), 1) << "EPSV is not asked again once refused";
    EXPECT_FALSE(got.join('|').contains(QStringLiteral("UNEXPECTED"))) << got.join('|').toStdString();
}

// TLS asked for: a server that refuses AUTH, or answers it with something that is no TLS, gets
// neither the user name nor the password, and the session ends instead of going on in plain text.
TEST(FtpEngine, TlsRefusedOrBrokenSendsNothingInPlainText)
{
    {
        FakePeer peer(lines({"> 220 hi", "< AUTH TLS", "> 504 Security mechanism not understood", "wait"}));
        TFtpClient cli;
        aim(cli, peer);
        cli.setUseTls(true);
        Recorder rec(cli);
        EXPECT_FALSE(cli.Connect());
        EXPECT_TRUE(cli.TlsRefused()) << rec.display.join('\n').toStdString();
        EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("534 The server does not offer TLS")))
            << cli.ErrorMessage().toStdString();
        EXPECT_TRUE(testenv::waitFor([&] { return !cli.Connected(); }));
        ASSERT_TRUE(peer.finished());
        EXPECT_EQ(peer.received(), QStringList{QStringLiteral("AUTH TLS")});
    }
    {
        FakePeer peer(lines({"> 220 hi", "< AUTH TLS", "> 234 go ahead", "> this is not TLS at all", "wait"}));
        TFtpClient cli;
        aim(cli, peer);
        cli.setUseTls(true);
        EXPECT_FALSE(cli.Connect());
        EXPECT_FALSE(cli.TlsRefused());
        EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("500 TLS handshake failed"))) << cli.ErrorMessage().toStdString();
        ASSERT_TRUE(peer.finished());
        EXPECT_EQ(peer.received(), QStringList{QStringLiteral("AUTH TLS")});
    }
}

// The server resets the connections of a TLS session: the data connection in a listing, a download and an
// upload (then the control connection), or the control connection alone while a command waits for its
// reply. Each is a failed request with its reason, and the program goes on: OpenSSL writes its alerts and
// close_notify itself, and such a write to a reset connection must not raise SIGPIPE, which would end the
// whole process (this test program with it).
TEST(FtpEngine, TlsConnectionResetIsAFailedRequestNotADeadProgram)
{
    const QString pem = ftptest::makeCertificate(testenv::makeDir(QStringLiteral("cert")), QStringLiteral("localhost"),
                                                 QStringLiteral("DNS:localhost,IP:127.0.0.1"));
    ASSERT_FALSE(pem.isEmpty()) << "openssl req failed";
    const QString dir = testenv::makeDir();
    const QString upload = testenv::writeFile(dir + QStringLiteral("/up.bin"), ftptest::pattern(32 << 20, 4));
    const QStringList login = {"> 220 hi", "< AUTH TLS", "> 234 go ahead", "tls " + pem, "< USER", "> 331 password",
                               "< PASS", "> 230 in", "< PBSZ", "> 200 ok", "< PROT", "> 200 ok"};
    const QStringList passive = {"< EPSV", "epsv", "dataaccept"};
    enum Op { List, Download, Upload, Type };
    const struct {
        const char *what;
        Op op;
        QStringList script;
    } cases[] = {
        {"listing", List, passive + QStringList{"< LIST", "> 150 here", "datatls", "datasend a.txt\\r\\n", "datareset", "reset"}},
        {"download", Download,
         passive + QStringList{"< RETR f.bin", "> 150 here", "datatls", "datasend the first bytes", "datareset", "reset"}},
        {"upload", Upload,
         passive + QStringList{"< STOR up.bin", "> 150 go", "datatls", "datarecvsome 65536", "datareset", "reset"}},
        {"upload, control only", Upload, passive + QStringList{"< STOR up.bin", "> 150 go", "datatls", "datarecvsome 65536", "reset"}},
        {"command", Type, {"< TYPE", "reset"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakePeer peer((login + c.script).join(QLatin1Char('\n')) + QLatin1Char('\n'));
        TFtpClient cli;
        aim(cli, peer);
        cli.setUseTls(true);
        cli.setPassive(true);
        cli.setTimeout(20);
        QObject::connect(&cli, &TCustomFtpCli::OnCertificate, &cli,
                         [](const QString &, const QString &, bool, bool &accept) { accept = true; }, Qt::DirectConnection);
        Recorder rec(cli);
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString() << rec.display.join('\n').toStdString();
        QBuffer listing;
        listing.open(QIODevice::ReadWrite);
        bool ok = true;
        switch (c.op) {
        case List:
            cli.setLocalStream(&listing);
            ok = cli.Dir();
            break;
        case Download:
            cli.setHostFileName(QStringLiteral("f.bin"));
            cli.setLocalFileName(dir + QStringLiteral("/f.bin"));
            ok = cli.Get();
            break;
        case Upload:
            cli.setHostFileName(QStringLiteral("up.bin"));
            cli.setLocalFileName(upload);
            ok = cli.Put();
            break;
        case Type:
            ok = cli.TypeSet();
            break;
        }
        EXPECT_FALSE(ok) << "a reset connection reported as success";
        EXPECT_FALSE(cli.ErrorMessage().isEmpty());
        EXPECT_TRUE(testenv::waitFor([&] { return !cli.Connected(); }, 20000)) << "the reset control connection still counts as up";
        ASSERT_TRUE(peer.finished());
        EXPECT_FALSE(peer.received().join('|').contains(QStringLiteral("UNEXPECTED"))) << peer.received().join('|').toStdString();
    }
}

// A server that reads slowly: the socket takes only part of each batch, again and again, and must
// go on exactly after the last byte the stack (or TLS) took, in plain text and in TLS records, in
// both modes. Progress still comes, never backwards, and no more often than once a send block.
TEST(FtpEngine, UploadToASlowReaderArrivesWhole)
{
    const QString pem = ftptest::makeCertificate(testenv::makeDir(QStringLiteral("cert")), QStringLiteral("localhost"),
                                                 QStringLiteral("DNS:localhost,IP:127.0.0.1"));
    ASSERT_FALSE(pem.isEmpty()) << "openssl req failed";
    const QString dir = testenv::makeDir();
    const QByteArray content = ftptest::pattern((4 << 20) + 777, 11);
    const QString upload = testenv::writeFile(dir + QStringLiteral("/up.bin"), content);
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    const QStringList plainLogin = {"> 220 hi", "< USER", "> 331 password", "< PASS", "> 230 in"};
    const QStringList tlsLogin = {"> 220 hi", "< AUTH TLS", "> 234 go ahead", "tls " + pem, "< USER", "> 331 password",
                                  "< PASS", "> 230 in", "< PBSZ", "> 200 ok", "< PROT", "> 200 ok"};
    const struct {
        const char *what;
        bool tls, passive;
        QStringList script;
    } cases[] = {
        {"active", false, false, plainLogin + QStringList{"< PORT", "> 200 ok", "< STOR up.bin", "> 150 go", "dataconnect"}},
        {"passive", false, true, plainLogin + QStringList{"< EPSV", "epsv", "dataaccept", "< STOR up.bin", "> 150 go"}},
        {"active, TLS", true, false,
         tlsLogin + QStringList{"< PORT", "> 200 ok", "< STOR up.bin", "> 150 go", "dataconnect", "datatls"}},
        {"passive, TLS", true, true,
         tlsLogin + QStringList{"< EPSV", "epsv", "dataaccept", "< STOR up.bin", "> 150 go", "datatls"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakePeer peer((c.script + QStringList{"datarecvslow 0.3", "> 226 stored", "wait"}).join(QLatin1Char('\n'))
                      + QLatin1Char('\n'));
        TFtpClient cli;
        aim(cli, peer);
        cli.setUseTls(c.tls);
        cli.setPassive(c.passive);
        cli.setTimeout(30);
        QObject::connect(&cli, &TCustomFtpCli::OnCertificate, &cli,
                         [](const QString &, const QString &, bool, bool &accept) { accept = true; }, Qt::DirectConnection);
        Recorder rec(cli);
        QList<qint64> counts;
        QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 count, bool &) { counts << count; });
        ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString() << rec.display.join('\n').toStdString();
        cli.setHostFileName(QStringLiteral("up.bin"));
        cli.setLocalFileName(upload);
        qint64 held = 0;  // the most the socket ever kept back
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &cli, [&] { held = qMax(held, cli.DataSocket()->BufferedBytes()); });
        look.start(1);
        EXPECT_TRUE(cli.Put()) << cli.ErrorMessage().toStdString() << rec.display.join('\n').toStdString();
        look.stop();
        EXPECT_GT(held, 0) << "the server never held the upload back";
        EXPECT_EQ(cli.ByteCount(), content.size());
        cli.Abort();
        ASSERT_TRUE(peer.finished(20000));
        const QStringList got = peer.received();
        EXPECT_EQ(got.filter(QStringLiteral("DATAMD5")), QStringList{QStringLiteral("DATAMD5 %1 %2").arg(content.size()).arg(md5)})
            << got.join('|').toStdString();
        EXPECT_FALSE(got.join('|').contains(QStringLiteral("UNEXPECTED"))) << got.join('|').toStdString();
        ASSERT_FALSE(counts.isEmpty());
        EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
        EXPECT_EQ(counts.last(), content.size());
        EXPECT_LE(counts.size(), content.size() / cli.SendBlockSize() + 2);
    }
}

// The disk fills up near the end of a download (a file size limit stands in for a full disk, just
// past the last whole 16 KiB of the file): the download fails with its reason, however small the
// part that did not fit.
TEST(FtpEngine, DownloadOntoAFullDiskIsAnError)
{
    const QString dir = testenv::makeDir();
    const qint64 size = 4 * 16384 + 3000;
    FakePeer peer(lines({"> 220 hi", "< USER", "> 230 ok", "< PORT", "> 200 ok", "< RETR", "> 150 here", "dataconnect",
                         "datasendsize 68536", "dataclose", "> 226 done", "wait"}));
    TFtpClient cli;
    aim(cli, peer);
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("f.bin"));
    const QString local = dir + QStringLiteral("/f.bin");
    cli.setLocalFileName(local);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of ending the process
    rlimit full = saved;
    full.rlim_cur = rlim_t(size - 2000);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const bool ok = cli.Get();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedSignal);
    EXPECT_FALSE(ok) << "a download that did not fit was reported as done";
    EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("550 Error writing local file"))) << cli.ErrorMessage().toStdString();
    EXPECT_TRUE(rec.display.contains(QStringLiteral("! Error writing local file")));
    EXPECT_LT(QFileInfo(local).size(), size);
}
