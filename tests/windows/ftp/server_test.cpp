// The FTP engine against real servers on 127.0.0.1: pyftpdlib (user and password) and vsftpd
// (anonymous with uploads), each started by the test with a temporary root.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <csignal>

#include "windows/ftp/ftpcli.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

using ftptest::Recorder;
using ftptest::Server;

namespace {

constexpr qint64 kBig = 100 * 1024 * 1024;

// How the data connections are made, and over which address family.
enum Mode { Active, Passive, Passive6, Active6 };
using Param = std::tuple<Server::Kind, Mode>;

class FtpServers : public ::testing::TestWithParam<Param> {
protected:
    Server::Kind kind() const { return std::get<0>(GetParam()); }
    Mode mode() const { return std::get<1>(GetParam()); }
    bool v6() const { return mode() == Passive6 || mode() == Active6; }
    bool passive() const { return mode() == Passive || mode() == Passive6; }

    void SetUp() override
    {
        if (v6() && !ftptest::loopback6Available())
            GTEST_SKIP() << "this machine has no IPv6 loopback address ::1";
        root = testenv::makeDir(QStringLiteral("ftproot"));
        local = testenv::makeDir(QStringLiteral("local"));
        server = std::make_unique<Server>(kind(), root);
        server->setAddress(v6() ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }

    void aim(TCustomFtpCli &cli)
    {
        cli.setPassive(passive());
        cli.setHostName(server->address());
        cli.setPort(QString::number(server->port()));
        cli.setUserName(server->user());
        cli.setPassWord(server->password());
        cli.setTimeout(20);
    }

    // A big file on the server side, written once per test that needs it.
    QString bigRemote()
    {
        const QString path = root + QStringLiteral("/big.bin");
        if (!QFile::exists(path))
            testenv::writeFile(path, ftptest::pattern(kBig, 3));
        return path;
    }

    QString root, local;
    std::unique_ptr<Server> server;
};

QString name(const ::testing::TestParamInfo<Param> &i)
{
    static const char *const modes[] = {"active", "passive", "passive_ipv6", "active_ipv6"};
    return (std::get<0>(i.param) == Server::PyFtpd ? QStringLiteral("pyftpdlib_") : QStringLiteral("vsftpd_"))
           + QLatin1String(modes[std::get<1>(i.param)]);
}

} // namespace

TEST_P(FtpServers, LoginSystemAndDirectories)
{
    {
        TFtpClient bad;
        aim(bad);
        if (kind() == Server::PyFtpd)
            bad.setPassWord(QStringLiteral("wrong"));
        else
            bad.setUserName(QStringLiteral("bob"));
        Recorder rec(bad);
        EXPECT_FALSE(bad.Connect());
        EXPECT_TRUE(bad.ErrorMessage().startsWith(QStringLiteral("530"))) << bad.ErrorMessage().toStdString();
        ASSERT_TRUE(rec.waitDone(1));
        EXPECT_EQ(rec.done[0], qMakePair(int(ftpConnectAsync), 530));
        EXPECT_FALSE(rec.display.join('\n').contains(bad.PassWord())) << "password in the log";
    }
    TFtpClient cli;
    aim(cli);
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString();
    ASSERT_TRUE(cli.Syst());
    EXPECT_TRUE(cli.LastReply().startsWith(QStringLiteral("215 UNIX"))) << cli.LastReply().toStdString();
    ASSERT_TRUE(cli.Pwd());
    // vsftpd run as the launching user does not chroot: its home is the real path of the root.
    const QString home = cli.ReplyDir();
    EXPECT_TRUE(home == QStringLiteral("/") || home == root) << home.toStdString();
    const QString base = home == QStringLiteral("/") ? QString() : home;

    cli.setHostFileName(QStringLiteral("sub"));
    ASSERT_TRUE(cli.Mkd()) << cli.ErrorMessage().toStdString();
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/sub")).isDir());
    cli.setHostDirName(QStringLiteral("sub"));
    ASSERT_TRUE(cli.Cwd());
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), base + QStringLiteral("/sub"));
    cli.setHostDirName(QStringLiteral("no-such-dir"));
    EXPECT_FALSE(cli.Cwd());
    EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("550")));
    ASSERT_TRUE(cli.CDup());
    ASSERT_TRUE(cli.Pwd());
    EXPECT_EQ(cli.ReplyDir(), home);

    Recorder rec(cli);
    rec.reset();
    cli.setHostFileName(QStringLiteral("sub"));
    cli.setLocalFileName(QStringLiteral("sub2"));
    cli.RenAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpRenAsync), 0));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/sub2")).isDir());
    cli.setHostFileName(QStringLiteral("sub2"));
    ASSERT_TRUE(cli.Rmd());
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/sub2")));

    testenv::writeFile(root + QStringLiteral("/gone.txt"), "x");
    cli.setHostFileName(QStringLiteral("gone.txt"));
    ASSERT_TRUE(cli.Dele());
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/gone.txt")));
    EXPECT_FALSE(cli.Dele()) << "deleting a missing file fails";
    ASSERT_TRUE(cli.Quit());
    EXPECT_FALSE(cli.Connected());
}

TEST_P(FtpServers, ListingsIntoFilesStreamsAndLines)
{
    testenv::writeFile(root + QStringLiteral("/alpha.txt"), "a");
    testenv::writeFile(root + QStringLiteral("/beta.bin"), "bb");
    QDir(root).mkdir(QStringLiteral("gamma"));
    TFtpClient cli;
    aim(cli);
    ASSERT_TRUE(cli.Connect());
    cli.setLocalFileName(local + QStringLiteral("/list.txt"));
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage().toStdString();
    const QString list = QString::fromUtf8(testenv::readFile(local + QStringLiteral("/list.txt")));
    for (const char *n : {"alpha.txt", "beta.bin", "gamma"})
        EXPECT_TRUE(list.contains(QString::fromLatin1(n))) << list.toStdString();

    Recorder rec(cli);
    rec.reset();
    QBuffer names;
    // The data connection is made the way the mode says, in the address family of the session.
    const QString how = passive() ? QStringLiteral("> EPSV") : v6() ? QStringLiteral("> EPRT |2|::1|")
                                                                    : QStringLiteral("> PORT 127,0,0,1,");
    names.open(QIODevice::ReadWrite);
    cli.setLocalStream(&names);
    cli.LsAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpLsAsync), 0));
    QStringList got = QString::fromUtf8(names.data()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    got.sort();
    EXPECT_EQ(got, (QStringList{"alpha.txt", "beta.bin", "gamma"}));
    EXPECT_TRUE(std::any_of(rec.display.begin(), rec.display.end(), [&](const QString &l) { return l.startsWith(how); }))
        << rec.display.join('\n').toStdString();
    cli.setLocalStream(nullptr);

    QStringList lines;
    QObject::connect(&cli, &TCustomFtpCli::OnDisplayFile, &cli, [&](QString &l) { lines << l; });
    cli.setDisplayFileFlag(true);
    cli.setLocalFileName(QString());
    cli.setHostFileName(QString());
    ASSERT_TRUE(cli.Dir());
    EXPECT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("gamma")).size(), 1);
}

TEST_P(FtpServers, GetPutAppendEmptySmallAndBig)
{
    bigRemote();
    testenv::writeFile(root + QStringLiteral("/empty.dat"), QByteArray());
    testenv::writeFile(root + QStringLiteral("/small.dat"), "hello, world\n");
    TFtpClient cli;
    aim(cli);
    ASSERT_TRUE(cli.Connect());
    ASSERT_TRUE(cli.TypeSet());
    for (const char *n : {"empty.dat", "small.dat", "big.bin"}) {
        const QString name = QString::fromLatin1(n);
        cli.setHostFileName(name);
        cli.setLocalFileName(local + QLatin1Char('/') + name);
        ASSERT_TRUE(cli.Get()) << n << " " << cli.ErrorMessage().toStdString();
        EXPECT_EQ(ftptest::md5(local + QLatin1Char('/') + name), ftptest::md5(root + QLatin1Char('/') + name)) << n;
    }
    EXPECT_EQ(cli.ByteCount(), kBig);
    // An existing local file is replaced by a new download, never appended to.
    testenv::writeFile(local + QStringLiteral("/small.dat"), QByteArray(5000, 'z'));
    cli.setHostFileName(QStringLiteral("small.dat"));
    cli.setLocalFileName(local + QStringLiteral("/small.dat"));
    ASSERT_TRUE(cli.Get());
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/small.dat")), QByteArray("hello, world\n"));

    for (const char *n : {"empty.dat", "small.dat", "big.bin"}) {
        const QString name = QString::fromLatin1(n);
        cli.setHostFileName(QStringLiteral("up-") + name);
        cli.setLocalFileName(local + QLatin1Char('/') + name);
        ASSERT_TRUE(cli.Put()) << n << " " << cli.ErrorMessage().toStdString();
        EXPECT_EQ(ftptest::md5(root + QStringLiteral("/up-") + name), ftptest::md5(local + QLatin1Char('/') + name)) << n;
    }
    Recorder rec(cli);
    rec.reset();
    const QString more = testenv::writeFile(local + QStringLiteral("/more.dat"), "and more\n");
    cli.setHostFileName(QStringLiteral("up-small.dat"));
    cli.setLocalFileName(more);
    cli.AppendAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpAppendAsync), 0));
    EXPECT_EQ(testenv::readFile(root + QStringLiteral("/up-small.dat")), QByteArray("hello, world\nand more\n"));

    // From a stream instead of a file, with the command rewritten on its way out.
    QBuffer body;
    body.setData("from memory\n");
    body.open(QIODevice::ReadOnly);
    cli.setLocalStream(&body);
    cli.setHostFileName(QStringLiteral("placeholder.txt"));
    auto rename = QObject::connect(&cli, &TCustomFtpCli::OnCommand, &cli, [](QString &cmd) {
        cmd.replace(QStringLiteral("placeholder.txt"), QStringLiteral("memory.txt"));
    });
    ASSERT_TRUE(cli.Put());
    QObject::disconnect(rename);
    cli.setLocalStream(nullptr);
    EXPECT_EQ(testenv::readFile(root + QStringLiteral("/memory.txt")), QByteArray("from memory\n"));
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/placeholder.txt")));
    ASSERT_TRUE(cli.Quit());
}

TEST_P(FtpServers, CancelledDownloadIsKeptAndResumes)
{
    const QString big = bigRemote();
    TFtpClient cli;
    aim(cli);
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    ASSERT_TRUE(cli.TypeSet());
    const QString target = local + QStringLiteral("/big.bin");
    cli.setHostFileName(QStringLiteral("big.bin"));
    cli.setLocalFileName(target);
    auto cut = QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli,
                                [](qint64 count, bool &abort) { abort = count > 3 * 1024 * 1024; });
    EXPECT_FALSE(cli.Get()) << "a cancelled download is not a success";
    QObject::disconnect(cut);
    const qint64 kept = QFileInfo(target).size();
    EXPECT_GT(kept, 3 * 1024 * 1024);
    EXPECT_LT(kept, kBig);
    EXPECT_FALSE(rec.display.filter(QStringLiteral("! Download incomplete")).isEmpty());
    EXPECT_TRUE(cli.Connected());

    qint64 firstCount = -1;
    QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 count, bool &) {
        if (firstCount < 0)
            firstCount = count;
    });
    rec.reset();
    cli.RestGetAsync();
    ASSERT_TRUE(rec.waitDone(1, 60000));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpRestGetAsync), 0)) << cli.ErrorMessage().toStdString() << rec.display.join('\n').toStdString();
    EXPECT_GE(firstCount, kept);
    EXPECT_EQ(ftptest::md5(target), ftptest::md5(big));
}

TEST_P(FtpServers, AbortMidTransferThenReconnect)
{
    bigRemote();
    TFtpClient cli;
    aim(cli);
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("big.bin"));
    cli.setLocalFileName(local + QStringLiteral("/big.bin"));
    bool aborted = false;
    QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 count, bool &) {
        if (count > 2 * 1024 * 1024 && !aborted) {
            aborted = true;
            cli.Abort();  // from inside the engine's own progress event
        }
    });
    cli.GetAsync();
    ASSERT_TRUE(rec.waitDone(2, 30000));
    EXPECT_EQ(rec.done[1], qMakePair(int(ftpGetAsync), 426));
    EXPECT_EQ(cli.State(), TFtpState::Ready);
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(cli.DataSocket()->State(), wsClosed);
    ASSERT_TRUE(cli.Connect()) << "the engine is usable again after an abort";
    ASSERT_TRUE(cli.Quit());
}

TEST_P(FtpServers, AsciiTypeConvertsLineEnds)
{
    testenv::writeFile(root + QStringLiteral("/unix.txt"), "x\ny\n");
    const QString dos = testenv::writeFile(local + QStringLiteral("/dos.txt"), "a\r\nb\r\n");
    TFtpClient cli;
    aim(cli);
    ASSERT_TRUE(cli.Connect());
    cli.setBinary(false);
    ASSERT_TRUE(cli.TypeSet());
    cli.setHostFileName(QStringLiteral("unix.txt"));
    cli.setLocalFileName(local + QStringLiteral("/ascii.txt"));
    ASSERT_TRUE(cli.Get());
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/ascii.txt")), QByteArray("x\r\ny\r\n"));
    cli.setHostFileName(QStringLiteral("dos.txt"));
    cli.setLocalFileName(dos);
    ASSERT_TRUE(cli.Put());
    EXPECT_EQ(testenv::readFile(root + QStringLiteral("/dos.txt")), QByteArray("a\nb\n"));
    cli.setBinary(true);
    ASSERT_TRUE(cli.TypeSet());
    cli.setHostFileName(QStringLiteral("unix.txt"));
    cli.setLocalFileName(local + QStringLiteral("/binary.txt"));
    ASSERT_TRUE(cli.Get());
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/binary.txt")), QByteArray("x\ny\n"));
}

TEST_P(FtpServers, CompositeSessionsFromOpenToQuit)
{
    testenv::writeFile(root + QStringLiteral("/d/file.txt"), "inside d\n");
    TCustomFtpCli cli;
    aim(cli);
    if (!v6())
        cli.setHostName(QStringLiteral("localhost"));  // an asynchronous name lookup first
    Recorder rec(cli);
    cli.setHostDirName(QStringLiteral("d"));
    cli.setHostFileName(QStringLiteral("file.txt"));
    cli.setLocalFileName(local + QStringLiteral("/file.txt"));
    cli.ReceiveAsync();
    ASSERT_TRUE(rec.waitDone(1));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpReceiveAsync), 0)) << cli.ErrorMessage().toStdString();
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/file.txt")), QByteArray("inside d\n"));
    EXPECT_FALSE(cli.Connected());
    EXPECT_TRUE(cli.LastReply().startsWith(QStringLiteral("226"))) << cli.LastReply().toStdString();

    const QString up = testenv::writeFile(local + QStringLiteral("/up.txt"), "sent\n");
    cli.setHostFileName(QStringLiteral("up.txt"));
    cli.setLocalFileName(up);
    cli.TransmitAsync();
    ASSERT_TRUE(rec.waitDone(2));
    EXPECT_EQ(rec.done[1], qMakePair(int(ftpPutAsync), 0)) << "a transmit reports the Put step's code";
    EXPECT_EQ(testenv::readFile(root + QStringLiteral("/d/up.txt")), QByteArray("sent\n"));

    cli.setHostFileName(QString());
    cli.setLocalFileName(local + QStringLiteral("/dirlist.txt"));
    cli.DirectoryAsync();
    ASSERT_TRUE(rec.waitDone(3));
    EXPECT_EQ(rec.done[2], qMakePair(int(ftpDirectoryAsync), 0));
    EXPECT_TRUE(testenv::readFile(local + QStringLiteral("/dirlist.txt")).contains("up.txt"));

    cli.setHostFileName(QStringLiteral("up.txt"));
    cli.DeleteAsync();
    ASSERT_TRUE(rec.waitDone(4));
    EXPECT_EQ(rec.done[3], qMakePair(int(ftpDeleteAsync), 0));
    EXPECT_FALSE(QFile::exists(root + QStringLiteral("/d/up.txt")));
}

TEST_P(FtpServers, SynchronousCallsNestedInRequestDone)
{
    // The FTP window chains requests from its request-done handler with synchronous calls.
    testenv::writeFile(root + QStringLiteral("/one.txt"), "1");
    TFtpClient cli;
    aim(cli);
    QStringList chain;
    QObject::connect(&cli, &TCustomFtpCli::OnRequestDone, &cli, [&](int rq, quint16 err) {
        chain << QStringLiteral("%1:%2").arg(FtpRequestName(rq)).arg(err);
        if (rq == ftpConnectAsync && err == 0) {
            chain << QStringLiteral("syst=%1").arg(cli.Syst());
            chain << QStringLiteral("pwd=%1").arg(cli.Pwd());
            cli.setLocalFileName(local + QStringLiteral("/nested-list.txt"));
            chain << QStringLiteral("dir=%1").arg(cli.Dir());
        }
    });
    cli.ConnectAsync();
    ASSERT_TRUE(testenv::waitFor([&] { return chain.size() >= 7; }, 20000)) << chain.join(' ').toStdString();
    EXPECT_EQ(chain.mid(0, 1), QStringList{"ConnectAsync:0"});
    EXPECT_TRUE(chain.contains(QStringLiteral("syst=1")) && chain.contains(QStringLiteral("pwd=1"))
                && chain.contains(QStringLiteral("dir=1"))) << chain.join(' ').toStdString();
    EXPECT_TRUE(chain.contains(QStringLiteral("SystAsync:0")));
    EXPECT_TRUE(chain.contains(QStringLiteral("DirAsync:0")));
    EXPECT_TRUE(testenv::readFile(local + QStringLiteral("/nested-list.txt")).contains("one.txt"));
}

INSTANTIATE_TEST_SUITE_P(Real, FtpServers,
                         ::testing::Combine(::testing::Values(Server::PyFtpd, Server::Vsftpd),
                                            ::testing::Values(Active, Passive, Passive6, Active6)),
                         [](const auto &i) { return name(i).toStdString(); });

// Explicit TLS against servers that require it for login and data, with a self-signed certificate
// the test makes: the user is asked (and can refuse) before anything is sent, an accepted
// certificate carries big transfers both ways and a resume in either data mode, a remembered
// fingerprint asks nothing, another certificate than the remembered one warns.
class FtpsServers : public ::testing::TestWithParam<std::tuple<Server::Kind, bool>> {
protected:
    void SetUp() override
    {
        root = testenv::makeDir(QStringLiteral("ftproot"));
        local = testenv::makeDir(QStringLiteral("local"));
        const QString pem = ftptest::makeCertificate(testenv::makeDir(QStringLiteral("cert")), QStringLiteral("localhost"),
                                                     QStringLiteral("DNS:localhost,IP:127.0.0.1"));
        ASSERT_FALSE(pem.isEmpty()) << "openssl req failed";
        server = std::make_unique<Server>(std::get<0>(GetParam()), root);
        server->setTls(pem);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
    }

    void aim(TCustomFtpCli &cli)
    {
        cli.setUseTls(true);
        cli.setPassive(std::get<1>(GetParam()));
        cli.setHostName(QStringLiteral("127.0.0.1"));
        cli.setPort(QString::number(server->port()));
        cli.setUserName(server->user());
        cli.setPassWord(server->password());
        cli.setTimeout(20);
    }

    QString root, local;
    std::unique_ptr<Server> server;
};

TEST_P(FtpsServers, CertificateQuestionTransfersAndRememberedTrust)
{
    QStringList details;
    QString fingerprint;
    bool changed = false, answer = false;
    auto watch = [&](TCustomFtpCli &c) {
        QObject::connect(&c, &TCustomFtpCli::OnCertificate, &c,
                         [&](const QString &d, const QString &fp, bool ch, bool &accept) {
                             details << d;
                             fingerprint = fp;
                             changed = ch;
                             accept = answer;
                         }, Qt::DirectConnection);
    };
    TFtpClient cli;
    aim(cli);
    watch(cli);
    Recorder rec(cli);
    EXPECT_FALSE(cli.Connect()) << "a refused certificate ends the session";
    ASSERT_EQ(details.size(), 1);
    EXPECT_TRUE(details[0].contains(QStringLiteral("CN = localhost"))) << details[0].toStdString();
    EXPECT_TRUE(details[0].contains(QStringLiteral("Valid from")));
    EXPECT_TRUE(details[0].contains(QStringLiteral("self-signed"))) << details[0].toStdString();
    EXPECT_TRUE(details[0].contains(fingerprint));
    EXPECT_EQ(fingerprint.size(), 32 * 3 - 1);
    EXPECT_FALSE(changed);
    EXPECT_FALSE(rec.display.join('\n').contains(QStringLiteral("> USER"))) << "nothing after AUTH before trust";

    answer = true;
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString();
    EXPECT_EQ(details.size(), 2);
    const QString log = rec.display.join('\n');
    EXPECT_TRUE(log.contains(QStringLiteral("! TLS session: TLSv1."))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("> PROT P")));
    EXPECT_FALSE(log.contains(server->password()));
    ASSERT_TRUE(cli.TypeSet());

    const QByteArray big = ftptest::pattern(kBig, 7);
    testenv::writeFile(root + QStringLiteral("/big.bin"), big);
    cli.setHostFileName(QStringLiteral("big.bin"));
    cli.setLocalFileName(local + QStringLiteral("/big.bin"));
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage().toStdString() << rec.display.mid(rec.display.size() - 12).join('\n').toStdString();
    EXPECT_EQ(ftptest::md5(local + QStringLiteral("/big.bin")), ftptest::md5(root + QStringLiteral("/big.bin")));
    cli.setHostFileName(QStringLiteral("up.bin"));
    ASSERT_TRUE(cli.Put()) << cli.ErrorMessage().toStdString() << rec.display.mid(rec.display.size() - 12).join('\n').toStdString();
    EXPECT_EQ(ftptest::md5(root + QStringLiteral("/up.bin")), ftptest::md5(local + QStringLiteral("/big.bin")));
    // Resume: half a file locally, the rest comes over a new encrypted data connection.
    testenv::writeFile(local + QStringLiteral("/half.bin"), big.left(kBig / 2));
    cli.setHostFileName(QStringLiteral("big.bin"));
    cli.setLocalFileName(local + QStringLiteral("/half.bin"));
    rec.reset();
    cli.RestGetAsync();
    ASSERT_TRUE(rec.waitDone(1, 60000));
    EXPECT_EQ(rec.done[0], qMakePair(int(ftpRestGetAsync), 0)) << cli.ErrorMessage().toStdString() << rec.display.join('\n').toStdString();
    EXPECT_EQ(ftptest::md5(local + QStringLiteral("/half.bin")), ftptest::md5(root + QStringLiteral("/big.bin")));
    QBuffer listing;
    listing.open(QIODevice::ReadWrite);
    cli.setLocalStream(&listing);
    cli.setHostFileName(QString());
    ASSERT_TRUE(cli.Dir());
    EXPECT_TRUE(listing.data().contains("up.bin"));
    cli.setLocalStream(nullptr);
    ASSERT_TRUE(cli.Quit());

    TFtpClient again;
    aim(again);
    watch(again);
    again.setTrustedFingerprint(fingerprint);
    ASSERT_TRUE(again.Connect()) << again.ErrorMessage().toStdString();
    EXPECT_EQ(details.size(), 2) << "a remembered certificate asks nothing";
    ASSERT_TRUE(again.Quit());

    TFtpClient other;
    aim(other);
    watch(other);
    other.setTrustedFingerprint(QStringLiteral("00:11:22"));
    answer = false;
    EXPECT_FALSE(other.Connect());
    ASSERT_EQ(details.size(), 3);
    EXPECT_TRUE(changed) << "another certificate than the trusted one";
}

INSTANTIATE_TEST_SUITE_P(Tls, FtpsServers,
                         ::testing::Combine(::testing::Values(Server::PyFtpd, Server::Vsftpd), ::testing::Bool()),
                         [](const auto &i) {
                             return std::string(std::get<0>(i.param) == Server::PyFtpd ? "pyftpdlib" : "vsftpd")
                                    + (std::get<1>(i.param) ? "_passive" : "_active");
                         });

TEST(FtpServerKilled, MidTransferIsAnErrorAndKeepsThePartialFile)
{
    const QString root = testenv::makeDir(QStringLiteral("ftproot"));
    const QString local = testenv::makeDir(QStringLiteral("local"));
    testenv::writeFile(root + QStringLiteral("/big.bin"), ftptest::pattern(kBig / 2, 5));
    Server server(Server::PyFtpd, root);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    TFtpClient cli;
    cli.setHostName(QStringLiteral("127.0.0.1"));
    cli.setPort(QString::number(server.port()));
    cli.setUserName(server.user());
    cli.setPassWord(server.password());
    Recorder rec(cli);
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("big.bin"));
    cli.setLocalFileName(local + QStringLiteral("/big.bin"));
    bool killed = false;
    QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 count, bool &) {
        if (count > 4 * 1024 * 1024 && !killed) {
            killed = true;
            server.kill();
        }
    });
    EXPECT_FALSE(cli.Get()) << "a transfer cut by the server's death must not report success";
    EXPECT_TRUE(killed);
    ASSERT_TRUE(rec.waitDone(2));
    EXPECT_NE(rec.done[1].second, 0);
    EXPECT_FALSE(cli.ErrorMessage().isEmpty());
    const qint64 kept = QFileInfo(local + QStringLiteral("/big.bin")).size();
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, kBig / 2);
    EXPECT_FALSE(cli.Connected());
}

TEST(FtpServerKilled, UploadCutIsAnError)
{
    const QString root = testenv::makeDir(QStringLiteral("ftproot"));
    const QString local = testenv::makeDir(QStringLiteral("local"));
    const QString src = testenv::writeFile(local + QStringLiteral("/up.bin"), ftptest::pattern(kBig / 2, 9));
    Server server(Server::PyFtpd, root);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    TFtpClient cli;
    cli.setHostName(QStringLiteral("127.0.0.1"));
    cli.setPort(QString::number(server.port()));
    cli.setUserName(server.user());
    cli.setPassWord(server.password());
    ASSERT_TRUE(cli.Connect());
    cli.setHostFileName(QStringLiteral("up.bin"));
    cli.setLocalFileName(src);
    bool killed = false;
    QObject::connect(&cli, &TCustomFtpCli::OnProgress, &cli, [&](qint64 count, bool &) {
        if (count > 4 * 1024 * 1024 && !killed) {
            killed = true;
            server.kill();
        }
    });
    EXPECT_FALSE(cli.Put()) << "an upload cut by the server's death must not report success";
    EXPECT_TRUE(killed);
    EXPECT_FALSE(cli.ErrorMessage().isEmpty());
    EXPECT_EQ(cli.State(), TFtpState::Ready);
    EXPECT_EQ(testenv::readFile(src).size(), kBig / 2) << "the local file is untouched";
}

// A test process that crashes or is killed takes its servers (and their sessions) with it.
TEST(FtpServerGuard, NoServerOutlivesATestProcessThatAbortsOrIsKilled)
{
    for (const char *end : {"abort", "kill"}) {
        SCOPED_TRACE(end);
        const QString pidFile = testenv::makeDir(QStringLiteral("guard")) + QStringLiteral("/pids");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FTP_CHILD_PIDS"), pidFile);
        env.insert(QStringLiteral("FTP_CHILD_END"), QString::fromLatin1(end));
        child.setProcessEnvironment(env);
        child.start(testenv::binDir() + QStringLiteral("/ftp_server_child"), {});
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << output.toStdString();
        QStringList lines = QString::fromUtf8(testenv::readFile(pidFile)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 5) << "root, pyftpdlib, vsftpd and its session, the peer\n" << output.toStdString();
        QDir(lines.takeFirst()).removeRecursively();  // the child's private root, left by its abnormal end
        QList<qint64> pids;
        for (const QString &l : lines)
            pids << l.toLongLong();
        auto running = [&] {
            QStringList alive;
            for (const qint64 pid : pids)
                if (ftptest::processRuns(pid))
                    alive << QString::number(pid);
            return alive;
        };
        EXPECT_TRUE(testenv::waitFor([&] { return running().isEmpty(); }, 10000))
            << "still running: " << running().join(QLatin1Char(' ')).toStdString();
        for (const qint64 pid : pids)  // whatever the outcome, nothing is left behind
            if (ftptest::processRuns(pid))
                ::kill(pid_t(pid), SIGKILL);
    }
}

// vsftpd cannot be told to take any free port: it is given one, and when another program holds
// that port it is started again on a new one, never mistaking the other program for itself.
TEST(FtpServerStart, VsftpdMovesOnWhenItsPortIsTaken)
{
    ftptest::FakePeer stranger(QStringLiteral("> 220 someone else\nwait\n"));
    ASSERT_GT(stranger.port(), 0);
    Server server(Server::Vsftpd, testenv::makeDir(QStringLiteral("ftproot")));
    ASSERT_TRUE(server.start(stranger.port())) << server.error().toStdString();
    EXPECT_NE(server.port(), stranger.port());
    TFtpClient cli;
    cli.setHostName(QStringLiteral("127.0.0.1"));
    cli.setPort(QString::number(server.port()));
    cli.setUserName(server.user());
    cli.setPassWord(server.password());
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString();
    EXPECT_TRUE(cli.LastReply().startsWith(QStringLiteral("230"))) << cli.LastReply().toStdString();
    ASSERT_TRUE(cli.Quit());
}
