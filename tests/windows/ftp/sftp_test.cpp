// The SFTP engine against OpenSSH's sshd, started here with its own host key and configuration:
// logins (keys, agent, passphrases, passwords), the known-hosts flows, every file operation with
// awkward names, resuming, Cancel, a server that dies mid-transfer, and remote names that try to
// leave the local folder; a server that never answers.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "windows/ftp/sftpclient.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using ftptest::SshServer;

namespace {

QString sshDir() { return QDir::homePath() + QStringLiteral("/.ssh"); }

// A key pair in ~/.ssh (the engine looks there), with an optional passphrase; the public key file.
QString makeUserKey(const QString &name = QStringLiteral("id_ed25519"), const QString &passphrase = {})
{
    QDir().mkpath(sshDir());
    const QString key = sshDir() + QLatin1Char('/') + name;
    QFile::remove(key);
    QFile::remove(key + QStringLiteral(".pub"));
    if (ftptest::runTool(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", passphrase, "-C", "tester", "-f", key}) != 0)
        return {};
    return key + QStringLiteral(".pub");
}

void removeUserKeys()
{
    for (const QString &f : QDir(sshDir()).entryList({QStringLiteral("id_*")}, QDir::Files))
        QFile::remove(sshDir() + QLatin1Char('/') + f);
}

// An engine with recorders and scripted answers to its questions.
struct Client {
    TSftpClient c;
    QList<TSftpResult> results;
    QList<TSftpHostKey> unknownKeys;
    QStringList changedWarnings;
    QList<int> passphraseAttempts;
    QStringList disconnects;
    QStringList logLines;
    QList<qint64> progress;
    bool trustHost = true;
    QStringList passphrases;  // given in order; none left: the question is declined
    std::function<void(qint64)> onProgress;

    explicit Client(const SshServer &s, const QString &host = QStringLiteral("127.0.0.1"))
    {
        c.setHost(host);
        c.setPort(s.port());
        c.setUser(s.user());
        QObject::connect(&c, &TSftpClient::finished, &c, [this](const TSftpResult &r) { results << r; });
        QObject::connect(&c, &TSftpClient::hostKeyUnknown, &c, [this](const TSftpHostKey &k) {
            unknownKeys << k;
            c.answerHostKey(trustHost);
        });
        QObject::connect(&c, &TSftpClient::hostKeyChanged, &c,
                         [this](const TSftpHostKey &, const QString &w) { changedWarnings << w; });
        QObject::connect(&c, &TSftpClient::passphraseRequested, &c, [this](const QString &, int attempt) {
            passphraseAttempts << attempt;
            if (passphrases.isEmpty())
                c.answerPassphrase({}, false);
            else
                c.answerPassphrase(passphrases.takeFirst(), true);
        });
        QObject::connect(&c, &TSftpClient::disconnected, &c, [this](const QString &r) { disconnects << r; });
        QObject::connect(&c, &TSftpClient::log, &c, [this](const QString &l) { logLines << l; });
        QObject::connect(&c, &TSftpClient::progress, &c, [this](qint64 done, qint64) {
            progress << done;
            if (onProgress)
                onProgress(done);
        });
    }
    // Runs one operation to its end.
    TSftpResult call(const std::function<void(TSftpClient &)> &op, int timeoutMs = 60000)
    {
        const qsizetype n = results.size();
        op(c);
        EXPECT_EQ(results.size(), n) << "finished() came from inside the call";
        if (!testenv::waitFor([&] { return results.size() > n; }, timeoutMs)) {
            ADD_FAILURE() << "no result";
            return {};
        }
        return results.last();
    }
    TSftpResult connect() { return call([](TSftpClient &c) { c.connectToHost(); }); }
};

QString knownHosts() { return sshDir() + QStringLiteral("/known_hosts"); }

// The server's own host key, as the engine would store it, so a test can start as a known host.
void trustServer(const SshServer &s)
{
    QFile::remove(knownHosts());
    QDir().mkpath(sshDir());
    testenv::writeFile(knownHosts(), QStringLiteral("[127.0.0.1]:%1 ").arg(s.port()).toUtf8() + s.hostPublicKey() + "\n"
                                         + QStringLiteral("[::1]:%1 ").arg(s.port()).toUtf8() + s.hostPublicKey() + "\n");
}

QByteArray localBytesPath(const QString &folder, const QByteArray &name) { return QFile::encodeName(folder) + '/' + name; }

bool existsBytes(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

// By the name's bytes (a QString name would not keep the ones that are not UTF-8).
QByteArray readBytes(const QByteArray &path)
{
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fd);
    return out;
}

class Sftp : public ::testing::Test {
protected:
    void SetUp() override
    {
        qunsetenv("SSH_AUTH_SOCK");
        removeUserKeys();
        QFile::remove(knownHosts());
        root = testenv::makeDir(QStringLiteral("sftproot"));
        server = std::make_unique<SshServer>(root);
        ASSERT_TRUE(server->start()) << server->error().toStdString();
        local = testenv::makeDir(QStringLiteral("local"));
        userKey = makeUserKey();
        ASSERT_FALSE(userKey.isEmpty());
        server->authorize(userKey);
    }
    // A file of the served folder that the session may change.
    QString serverFile(const QString &rel, const QByteArray &bytes)
    {
        const QString path = root + QLatin1Char('/') + rel;
        testenv::writeFile(path, bytes);
        server->giveToUser(path);
        return path;
    }

    QString root;
    QString local;
    QString userKey;
    std::unique_ptr<SshServer> server;
};

} // namespace

TEST_F(Sftp, LoginWithKeysAgentAndPassphraseOverIpv4Ipv6AndNames)
{
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(); };
    const qsizetype filesBefore = openFiles();
    // Unknown host, trusted: the key's type and OpenSSH's fingerprint are shown, and it is stored.
    {
        Client cl(*server);
        const TSftpResult r = cl.connect();
        ASSERT_TRUE(r.ok) << r.error.toStdString() << server->log().toStdString();
        ASSERT_EQ(cl.unknownKeys.size(), 1);
        EXPECT_EQ(cl.unknownKeys[0].keyType, QStringLiteral("ssh-ed25519"));
        EXPECT_EQ(cl.unknownKeys[0].fingerprint, server->hostFingerprint());
        EXPECT_TRUE(cl.unknownKeys[0].fingerprint.startsWith(QStringLiteral("SHA256:")));
        EXPECT_EQ(r.path, QFile::encodeName(root));
        EXPECT_TRUE(cl.c.isConnected());
        const QByteArray kh = testenv::readFile(knownHosts());
        EXPECT_TRUE(kh.contains(QStringLiteral("[127.0.0.1]:%1").arg(server->port()).toUtf8())) << kh.toStdString();
        EXPECT_TRUE(kh.contains(server->hostPublicKey().split(' ').last()));
        EXPECT_EQ(QFileInfo(knownHosts()).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
        EXPECT_TRUE(cl.call([](TSftpClient &c) { c.disconnectFromHost(); }).ok);
        EXPECT_FALSE(cl.c.isConnected());
        EXPECT_EQ(cl.disconnects, QStringList{QString()});
    }
    EXPECT_EQ(openFiles(), filesBefore);  // the session's socket and our copy of it are closed
    // Known now: no question. Also by name and over IPv6, brackets or not.
    QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("localhost")};
    if (server->hasIpv6())
        hosts << QStringLiteral("::1") << QStringLiteral("[::1]");
    trustServer(*server);
    for (const QString &h : hosts) {
        Client cl(*server, h);
        if (h == QLatin1String("localhost"))
            cl.trustHost = true;  // localhost has its own known_hosts entry
        const TSftpResult r = cl.connect();
        EXPECT_TRUE(r.ok) << h.toStdString() << ": " << r.error.toStdString();
        if (h != QLatin1String("localhost"))
            EXPECT_TRUE(cl.unknownKeys.isEmpty()) << h.toStdString();
    }
    // A protected key: a wrong passphrase is asked again, the right one logs in.
    removeUserKeys();
    server->authorize(makeUserKey(QStringLiteral("id_ed25519"), QStringLiteral("open sesame")));
    {
        Client cl(*server);
        cl.passphrases = {QStringLiteral("wrong"), QStringLiteral("open sesame")};
        const TSftpResult r = cl.connect();
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(cl.passphraseAttempts, QList<int>({1, 2}));
    }
    {
        Client cl(*server);  // declined: no other way in
        const TSftpResult r = cl.connect();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(cl.passphraseAttempts, QList<int>({1}));
        EXPECT_TRUE(r.error.contains(QStringLiteral("Login refused"))) << r.error.toStdString();
        EXPECT_FALSE(cl.c.isConnected());
    }
    // The agent holds the only key.
    removeUserKeys();
    const QString pub = makeUserKey(QStringLiteral("agentkey"));
    server->authorize(pub);
    const QString sock = testenv::makeDir(QStringLiteral("agent")) + QStringLiteral("/sock");
    QProcess agent;
    qint64 agentPid = ftptest::startGuardedProcess(agent, QStringLiteral("ssh-agent"), {"-D", "-a", sock});
    ASSERT_GT(agentPid, 0);
    ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(sock); }, 10000));
    qputenv("SSH_AUTH_SOCK", QFile::encodeName(sock));
    // Listening once it answers (1: no keys yet; 2: nobody there).
    ASSERT_TRUE(testenv::waitFor([] { return ftptest::runTool(QStringLiteral("ssh-add"), {"-l"}) == 1; }, 10000));
    ASSERT_EQ(ftptest::runTool(QStringLiteral("ssh-add"), {sshDir() + QStringLiteral("/agentkey")}), 0);
    QFile::remove(sshDir() + QStringLiteral("/agentkey"));
    {
        Client cl(*server);
        const TSftpResult r = cl.connect();
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_TRUE(cl.logLines.join(QLatin1Char('\n')).contains(QStringLiteral("agent")));
    }
    qunsetenv("SSH_AUTH_SOCK");
    ftptest::stopGuardedProcess(agent, agentPid);
}

TEST_F(Sftp, PasswordLoginAndWrongPassword)
{
    if (server->password().isEmpty())
        GTEST_SKIP() << "password login needs sshd running as root (it reads the shadow passwords)";
    removeUserKeys();
    trustServer(*server);
    {
        Client cl(*server);
        cl.c.setPassword(server->password());
        const TSftpResult r = cl.connect();
        EXPECT_TRUE(r.ok) << r.error.toStdString();
    }
    for (const QString &wrong : {QStringLiteral("nope"), server->password() + QStringLiteral("x"), QString()}) {
        Client cl(*server);
        cl.c.setPassword(wrong);
        const TSftpResult r = cl.connect();
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(cl.c.isConnected());
        EXPECT_TRUE(r.error.contains(QStringLiteral("Login refused for ") + server->user())) << r.error.toStdString();
    }
}

TEST_F(Sftp, HostKeysRefusedAreNotStoredAndChangedKeysAreRefused)
{
    // Unknown and refused: nothing stored, not connected.
    {
        Client cl(*server);
        cl.trustHost = false;
        const TSftpResult r = cl.connect();
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(cl.unknownKeys.size(), 1);
        EXPECT_FALSE(cl.c.isConnected());
        EXPECT_TRUE(r.error.contains(QStringLiteral("not accepted"))) << r.error.toStdString();
        EXPECT_TRUE(testenv::readFile(knownHosts()).isEmpty());
    }
    // Another key on record for this host and port: refused loudly, never asked, never stored.
    const QString other = testenv::makeDir(QStringLiteral("otherkey")) + QStringLiteral("/k");
    ASSERT_EQ(ftptest::runTool(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-f", other}), 0);
    const QList<QByteArray> otherPub = testenv::readFile(other + QStringLiteral(".pub")).split(' ');
    const QByteArray record = QStringLiteral("[127.0.0.1]:%1 ").arg(server->port()).toUtf8() + otherPub[0] + ' ' + otherPub[1] + "\n";
    testenv::writeFile(knownHosts(), "# mine\n" + record);
    {
        Client cl(*server);
        const TSftpResult r = cl.connect();
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(cl.unknownKeys.isEmpty());
        ASSERT_EQ(cl.changedWarnings.size(), 1);
        EXPECT_TRUE(cl.changedWarnings[0].contains(QStringLiteral("REMOTE HOST IDENTIFICATION HAS CHANGED")));
        EXPECT_TRUE(cl.changedWarnings[0].contains(server->hostFingerprint()));
        EXPECT_EQ(r.error, cl.changedWarnings[0]);
        EXPECT_EQ(testenv::readFile(knownHosts()), "# mine\n" + record);
        EXPECT_FALSE(cl.c.isConnected());
    }
    // A key accepted into the user's own file: added to what was there (a last line without its
    // line end included), through a link to where the file really is, with the file's mode kept.
    const QString real = testenv::makeDir(QStringLiteral("dotfiles")) + QStringLiteral("/known_hosts");
    testenv::writeFile(real, "# mine\nother.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIB1aH5L3dkXMLE5XTcq1p4QCGlaB3Q1dm0Yq2m9F8cZ7");
    ::chmod(QFile::encodeName(real).constData(), 0644);
    QFile::remove(knownHosts());
    ASSERT_TRUE(QFile::link(real, knownHosts()));
    {
        Client cl(*server);
        const TSftpResult r = cl.connect();
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(cl.unknownKeys.size(), 1);
    }
    EXPECT_TRUE(QFileInfo(knownHosts()).isSymLink());
    const QList<QByteArray> lines = testenv::readFile(real).split('\n');
    ASSERT_EQ(lines.size(), 4);  // the last is empty: the file ends with a line end
    EXPECT_EQ(lines[0], "# mine");
    EXPECT_TRUE(lines[1].startsWith("other.example ssh-ed25519 "));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("[127.0.0.1]:%1 ssh-ed25519 ").arg(server->port()).toUtf8()));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    {
        Client cl(*server);  // and known from now on
        EXPECT_TRUE(cl.connect().ok);
        EXPECT_TRUE(cl.unknownKeys.isEmpty());
    }
}

TEST_F(Sftp, FileAndFolderOperationsKeepAwkwardNames)
{
    trustServer(*server);
    Client cl(*server);
    ASSERT_TRUE(cl.connect().ok);
    // Blanks, a non-UTF-8 byte sequence and a leading dash, in a folder with blanks.
    const QByteArray dir("dir with  blanks");
    const QByteArray name("f\xff\xfe na\xe9me -x.bin");
    const QByteArray content = ftptest::pattern(300000, 7);
    const QString src = testenv::writeFile(local + QStringLiteral("/src.bin"), content);

    TSftpResult r = cl.call([&](TSftpClient &c) { c.makeDir(dir); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_FALSE(cl.call([&](TSftpClient &c) { c.makeDir(dir); }).ok);  // already there
    r = cl.call([&](TSftpClient &c) { c.changeDir(dir); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.path, QFile::encodeName(root) + '/' + dir);
    EXPECT_EQ(cl.c.currentDir(), r.path);
    r = cl.call([&](TSftpClient &c) { c.upload(src, name); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.bytes, content.size());
    EXPECT_EQ(readBytes(QFile::encodeName(root) + '/' + dir + '/' + name), content);

    r = cl.call([](TSftpClient &c) { c.list(); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    ASSERT_EQ(r.entries.size(), 1);
    const TSftpEntry e = r.entries[0];
    EXPECT_EQ(e.name, name);
    EXPECT_EQ(e.displayName, QString::fromLatin1(name));
    EXPECT_EQ(e.type, TSftpEntry::File);
    EXPECT_EQ(e.size, content.size());
    EXPECT_EQ(e.permissionText(), QStringLiteral("-rw-r--r--"));
    EXPECT_LE(qAbs(e.modified.secsTo(QDateTime::currentDateTimeUtc())), 120);

    r = cl.call([&](TSftpClient &c) { c.download(name, local); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(readBytes(localBytesPath(local, name)), content);

    const QByteArray renamed("re named\xc3\xa9.bin");
    ASSERT_TRUE(cl.call([&](TSftpClient &c) { c.rename(name, renamed); }).ok);
    // Up, and list the folder: it shows as a folder; a link to it shows as a link to a folder.
    ASSERT_TRUE(cl.call([](TSftpClient &c) { c.changeDir(".."); }).ok);
    EXPECT_EQ(cl.c.currentDir(), QFile::encodeName(root));
    ASSERT_EQ(::symlink(dir.constData(), (QFile::encodeName(root) + "/link").constData()), 0);
    r = cl.call([](TSftpClient &c) { c.list(); });
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.entries.size(), 2);
    for (const TSftpEntry &x : r.entries) {
        if (x.name == dir) {
            EXPECT_EQ(x.type, TSftpEntry::Folder);
            EXPECT_TRUE(x.permissionText().startsWith(QLatin1Char('d')));
        } else {
            EXPECT_EQ(x.name, QByteArray("link"));
            EXPECT_EQ(x.type, TSftpEntry::Link);
            EXPECT_TRUE(x.linkToFolder);
        }
    }
    r = cl.call([&](TSftpClient &c) { c.list(dir); });
    ASSERT_EQ(r.entries.size(), 1);
    EXPECT_EQ(r.entries[0].name, renamed);
    EXPECT_EQ(r.entries[0].displayName, QString::fromUtf8(renamed));

    // Failures say what and why, and leave the session usable.
    r = cl.call([&](TSftpClient &c) { c.removeDir(dir); });
    EXPECT_FALSE(r.ok);  // not empty
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("Cannot remove folder"))) << r.error.toStdString();
    r = cl.call([](TSftpClient &c) { c.remove("no such file"); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("no such file"))) << r.error.toStdString();
    r = cl.call([](TSftpClient &c) { c.changeDir("link/../nowhere"); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(cl.c.currentDir(), QFile::encodeName(root));
    r = cl.call([](TSftpClient &c) { c.download("no such file", QString()); });
    EXPECT_FALSE(r.ok);
    // A NUL would cut the name short and act on another file: refused before it reaches the server.
    serverFile(QStringLiteral("keep"), "k");
    r = cl.call([](TSftpClient &c) { c.remove(QByteArray("keep\0x", 6)); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/keep")));
    EXPECT_FALSE(cl.call([](TSftpClient &c) { c.rename(QByteArray("keep"), QByteArray("a\0b", 3)); }).ok);
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/keep")));

    ASSERT_TRUE(cl.call([&](TSftpClient &c) { c.remove(dir + '/' + renamed); }).ok);
    ASSERT_TRUE(cl.call([&](TSftpClient &c) { c.removeDir(dir); }).ok);
    EXPECT_FALSE(existsBytes(QFile::encodeName(root) + '/' + dir));
    EXPECT_TRUE(cl.c.isConnected());
    EXPECT_EQ(cl.c.pending(), 0);
}

TEST_F(Sftp, ResumeAppendsFromWhereEachSideStopped)
{
    trustServer(*server);
    Client cl(*server);
    ASSERT_TRUE(cl.connect().ok);
    const QByteArray content = ftptest::pattern(5 * 1024 * 1024 + 12345, 3);
    // Upload: the server holds the first part; only the rest is sent.
    const QString src = testenv::writeFile(local + QStringLiteral("/up.bin"), content);
    serverFile(QStringLiteral("up.bin"), content.left(1000001));
    TSftpResult r = cl.call([&](TSftpClient &c) { c.upload(src, "up.bin", true); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.resumedFrom, 1000001);
    EXPECT_EQ(r.bytes, content.size() - 1000001);
    EXPECT_EQ(ftptest::md5(root + QStringLiteral("/up.bin")), ftptest::md5(src));
    ASSERT_FALSE(cl.progress.isEmpty());
    EXPECT_EQ(cl.progress.first(), 1000001);  // progress counts the part already there
    EXPECT_EQ(cl.progress.last(), content.size());
    // Resuming an upload to a file that does not exist sends it all.
    r = cl.call([&](TSftpClient &c) { c.upload(src, "fresh.bin", true); });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.resumedFrom, 0);
    EXPECT_EQ(ftptest::md5(root + QStringLiteral("/fresh.bin")), ftptest::md5(src));

    // Download: the local file holds the first part.
    serverFile(QStringLiteral("down.bin"), content);
    testenv::writeFile(local + QStringLiteral("/down.bin"), content.left(777777));
    r = cl.call([&](TSftpClient &c) { c.download("down.bin", local, true); });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.resumedFrom, 777777);
    EXPECT_EQ(r.bytes, content.size() - 777777);
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/down.bin")), content);
    // Already complete: nothing to move.
    r = cl.call([&](TSftpClient &c) { c.download("down.bin", local, true); });
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 0);
    // Without resume a longer local file is replaced, not left with a stale tail.
    testenv::writeFile(local + QStringLiteral("/down.bin"), content + content);
    ASSERT_TRUE(cl.call([&](TSftpClient &c) { c.download("down.bin", local); }).ok);
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/down.bin")), content);

    // A side that is longer than the other cannot be resumed: an error, and both files as they were.
    testenv::writeFile(local + QStringLiteral("/down.bin"), content + "tail");
    r = cl.call([&](TSftpClient &c) { c.download("down.bin", local, true); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("larger"))) << r.error.toStdString();
    EXPECT_EQ(testenv::readFile(local + QStringLiteral("/down.bin")), content + "tail");
    const QString shortSrc = testenv::writeFile(local + QStringLiteral("/short.bin"), content.left(10));
    r = cl.call([&](TSftpClient &c) { c.upload(shortSrc, "up.bin", true); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(ftptest::md5(root + QStringLiteral("/up.bin")), ftptest::md5(src));
}

TEST_F(Sftp, CancelStopsTransfersAndKeepsTheSession)
{
    trustServer(*server);
    Client cl(*server);
    ASSERT_TRUE(cl.connect().ok);
    const qint64 size = 192LL * 1024 * 1024;
    const QString big = root + QStringLiteral("/big.bin");
    ASSERT_EQ(::truncate(QFile::encodeName(testenv::writeFile(big, "x")).constData(), size), 0);
    server->giveToUser(big);

    // Cancelled after the first bytes: cancelled result, what arrived is kept for resuming.
    cl.onProgress = [&](qint64 done) {
        if (done > 0)
            cl.c.cancel();
    };
    TSftpResult r = cl.call([&](TSftpClient &c) { c.download("big.bin", local); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled) << r.error.toStdString();
    EXPECT_GT(r.bytes, 0);
    EXPECT_LT(r.bytes, size);
    EXPECT_EQ(QFileInfo(local + QStringLiteral("/big.bin")).size(), r.bytes);

    // Upload likewise; the remote part stays for resuming.
    const QString src = local + QStringLiteral("/upbig.bin");
    ASSERT_EQ(::truncate(QFile::encodeName(testenv::writeFile(src, "y")).constData(), 64 * 1024 * 1024), 0);
    r = cl.call([&](TSftpClient &c) { c.upload(src, "upbig.bin"); });
    EXPECT_TRUE(r.cancelled) << r.error.toStdString();
    EXPECT_LT(r.bytes, 64 * 1024 * 1024);
    cl.onProgress = nullptr;

    // A cancel asked for before a queued transfer starts stops it too; what comes after runs.
    const QString small = testenv::writeFile(local + QStringLiteral("/small.bin"), "small");
    const qsizetype n = cl.results.size();
    cl.c.upload(small, "queued.bin");
    cl.c.cancel();
    cl.c.list();
    ASSERT_TRUE(testenv::waitFor([&] { return cl.results.size() >= n + 2; }, 30000));
    EXPECT_TRUE(cl.results[n].cancelled);
    // The worker may have opened the remote file before the cancel reached it; it never sends the file.
    EXPECT_LT(QFileInfo(root + QStringLiteral("/queued.bin")).size(), 5);
    // The session is intact after both cancels (the answers still on their way were drained).
    const TSftpResult l = cl.results[n + 1];
    ASSERT_TRUE(l.ok) << l.error.toStdString();
    EXPECT_EQ(l.op, TSftpOp::List);
    r = cl.call([&](TSftpClient &c) { c.download("big.bin", local, true); }, 120000);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(QFileInfo(local + QStringLiteral("/big.bin")).size(), size);
    EXPECT_EQ(ftptest::md5(local + QStringLiteral("/big.bin")), ftptest::md5(big));
}

TEST_F(Sftp, ServerKilledMidTransferIsReportedWithoutBlockingTheCaller)
{
    trustServer(*server);
    const qint64 size = 512LL * 1024 * 1024;
    const QString big = root + QStringLiteral("/big.bin");
    ASSERT_EQ(::truncate(QFile::encodeName(testenv::writeFile(big, "x")).constData(), size), 0);
    Client cl(*server);
    ASSERT_TRUE(cl.connect().ok);

    // The caller's loop keeps turning the whole time: the longest gap between two timer ticks.
    QElapsedTimer tick;
    qint64 longestGap = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (tick.isValid())
            longestGap = qMax(longestGap, tick.elapsed());
        tick.restart();
    });
    timer.start();
    bool killed = false;
    cl.onProgress = [&](qint64 done) {
        if (done > 8 * 1024 * 1024 && !killed) {
            killed = true;
            server->kill();
        }
    };
    TSftpResult r = cl.call([&](TSftpClient &c) { c.download("big.bin", local); });
    timer.stop();
    ASSERT_TRUE(killed);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.cancelled);
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("Download of "))) << r.error.toStdString();
    EXPECT_TRUE(testenv::waitFor([&] { return !cl.disconnects.isEmpty(); }));
    EXPECT_TRUE(cl.disconnects.value(0).contains(QStringLiteral("lost"))) << cl.disconnects.value(0).toStdString();
    EXPECT_FALSE(cl.c.isConnected());
    EXPECT_LT(longestGap, 1000);
    // What arrived stays for resuming, and the log says so, as for FTP downloads.
    const qint64 kept = QFileInfo(local + QStringLiteral("/big.bin")).size();
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, size);
    EXPECT_TRUE(cl.logLines.join(QLatin1Char('\n')).contains(QStringLiteral("Download incomplete: %1 bytes kept").arg(kept)))
        << cl.logLines.join(QLatin1Char('\n')).toStdString();
    // Later operations fail at once, clearly.
    r = cl.call([](TSftpClient &c) { c.list(); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("Not connected"));

    // An upload that loses its server likewise.
    ASSERT_TRUE(server->start());
    server->authorize(userKey);
    trustServer(*server);
    Client up(*server);
    ASSERT_TRUE(up.connect().ok);
    killed = false;
    up.onProgress = [&](qint64 done) {
        if (done > 4 * 1024 * 1024 && !killed) {
            killed = true;
            server->kill();
        }
    };
    const QString upSrc = local + QStringLiteral("/upbig.bin");
    ASSERT_EQ(::truncate(QFile::encodeName(testenv::writeFile(upSrc, "y")).constData(), size), 0);
    r = up.call([&](TSftpClient &c) { c.upload(upSrc, "back.bin"); });
    ASSERT_TRUE(killed);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("Upload of "))) << r.error.toStdString();
    EXPECT_FALSE(up.c.isConnected());
}

TEST_F(Sftp, RemoteNamesNeverLeaveTheLocalFolder)
{
    trustServer(*server);
    // Real remote files reachable under names that would leave the local folder.
    QDir().mkpath(root + QStringLiteral("/sub"));
    server->giveToUser(root + QStringLiteral("/sub"));
    serverFile(QStringLiteral("escape.txt"), "outside");
    serverFile(QStringLiteral("sub/inner.txt"), "inner");
    const QString dest = testenv::makeDir(QStringLiteral("parent")) + QStringLiteral("/dest");
    QDir().mkpath(dest);
    Client cl(*server);
    ASSERT_TRUE(cl.connect().ok);
    ASSERT_TRUE(cl.call([](TSftpClient &c) { c.changeDir("sub"); }).ok);
    const QByteArray absolute = QFile::encodeName(root) + "/escape.txt";
    for (const QByteArray &hostile : {QByteArray("../escape.txt"), absolute, QByteArray("../sub/inner.txt"), QByteArray(".."),
                                      QByteArray("."), QByteArray(), QByteArray("inner.txt\0../../x", 17),
                                      QByteArray("./inner.txt")}) {
        const TSftpResult r = cl.call([&](TSftpClient &c) { c.download(hostile, dest); });
        EXPECT_FALSE(r.ok) << hostile.toStdString();
        EXPECT_TRUE(r.error.contains(QStringLiteral("leave the local folder"))) << r.error.toStdString();
    }
    EXPECT_TRUE(QDir(dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    EXPECT_EQ(QDir(QFileInfo(dest).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"dest"});
    // A plain name still works, and the session is fine.
    const TSftpResult ok = cl.call([&](TSftpClient &c) { c.download("inner.txt", dest); });
    ASSERT_TRUE(ok.ok) << ok.error.toStdString();
    EXPECT_EQ(testenv::readFile(dest + QStringLiteral("/inner.txt")), "inner");

    // A server whose listing itself holds such names (sshd with a hostile SFTP subsystem): they are
    // listed as sent, and downloading each one, as a window would from the list, writes nothing.
    SshServer hostile(root);
    const QString script = testenv::sourceDir() + QStringLiteral("/tests/windows/ftp/hostile_sftp.py");
    ASSERT_TRUE(QFileInfo::exists(script)) << "TARNWICK_SOURCE_DIR must name the source tree (ctest sets it)";
    hostile.setSubsystemScript(script);
    ASSERT_TRUE(hostile.start()) << hostile.error().toStdString();
    hostile.authorize(userKey);
    trustServer(hostile);
    Client h(hostile);
    const TSftpResult hc = h.connect();
    ASSERT_TRUE(hc.ok) << hc.error.toStdString() << hostile.log().toStdString();
    const TSftpResult listing = h.call([](TSftpClient &c) { c.list(); });
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    QList<QByteArray> names;
    for (const TSftpEntry &e : listing.entries)
        names << e.name;
    // "." and ".." are never listed; the rest come as the server sent them.
    EXPECT_EQ(names, QList<QByteArray>({"../escape.txt", "/tmp/absolute.txt", "a/b.txt", "..\\..\\win.txt", "ok.txt"}));
    const QString dest2 = testenv::makeDir(QStringLiteral("parent")) + QStringLiteral("/dest");
    QDir().mkpath(dest2);
    for (const QByteArray &n : names) {
        const TSftpResult r = h.call([&](TSftpClient &c) { c.download(n, dest2); });
        // A backslash is an ordinary character here: that name stays inside as one file.
        const bool plain = n == "ok.txt" || n == "..\\..\\win.txt";
        EXPECT_EQ(r.ok, plain && n == "ok.txt") << n.toStdString() << ": " << r.error.toStdString();
        EXPECT_EQ(TSftpClient::isSafeLocalName(n), plain) << n.toStdString();
    }
    EXPECT_EQ(QDir(dest2).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"ok.txt"});
    EXPECT_EQ(QDir(QFileInfo(dest2).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"dest"});
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/absolute.txt")));
    EXPECT_EQ(testenv::readFile(dest2 + QStringLiteral("/ok.txt")), "plain file\n");
}

TEST(SftpSilentPeer, TimesOutAndTheClientCanGoWhileItWaits)
{
    // Takes connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = silent.nextPendingConnection())
            held << s;
    });
    TSftpClient c;
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(silent.serverPort());
    c.setTimeout(1);
    QList<TSftpResult> results;
    QObject::connect(&c, &TSftpClient::finished, [&](const TSftpResult &r) { results << r; });
    QElapsedTimer clock;
    clock.start();
    c.connectToHost();
    ASSERT_TRUE(testenv::waitFor([&] { return !results.isEmpty(); }, 20000));
    EXPECT_FALSE(results[0].ok);
    EXPECT_TRUE(results[0].error.startsWith(QStringLiteral("SSH connection to 127.0.0.1"))) << results[0].error.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_FALSE(c.isConnected());

    // A client that goes while its connection waits for the server does not wait for the timeout.
    auto waiting = std::make_unique<TSftpClient>();
    waiting->setHost(QStringLiteral("127.0.0.1"));
    waiting->setPort(silent.serverPort());
    waiting->setTimeout(600);
    waiting->connectToHost();
    waiting->list();  // queued behind it: dropped
    ASSERT_TRUE(testenv::waitFor([&] { return held.size() >= 2; }, 10000));
    clock.restart();
    waiting.reset();
    EXPECT_LT(clock.elapsed(), 3000);
    qDeleteAll(held);
}
