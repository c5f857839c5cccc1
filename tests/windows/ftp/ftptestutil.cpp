#include "tests/windows/ftp/ftptestutil.h"

#include <iostream>

#include <QCryptographicHash>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "tests/common/testenv.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <sys/stat.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ftptest {

namespace {

// Process groups of the servers and peers this process started and has not stopped yet. A fixed
// table of plain integers, so that a signal handler can read it.
constexpr int kMaxGroups = 64;
volatile sig_atomic_t g_groups[kMaxGroups];
struct sigaction g_oldActions[NSIG];
pid_t g_testPid = 0;

void killGroups()
{
    for (int i = 0; i < kMaxGroups; ++i) {
        const pid_t g = pid_t(g_groups[i]);
        if (g > 0)
            ::kill(-g, SIGKILL);
    }
}

// A fatal signal ends the servers first, then takes its former course (a core dump, the end).
void onFatalSignal(int sig)
{
    killGroups();
    ::sigaction(sig, &g_oldActions[sig], nullptr);
    ::raise(sig);
}

// Installed with the first server: no server outlives its test process, however it ends. A normal
// end and the catchable fatal signals stop them here; SIGKILL is covered in the child itself.
void installGuard()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    g_testPid = ::getpid();
    std::atexit(killGroups);
    for (const int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        struct sigaction sa {};
        sa.sa_handler = onFatalSignal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, &g_oldActions[sig]);
    }
}

void addGroup(pid_t g)
{
    for (int i = 0; i < kMaxGroups; ++i)
        if (g_groups[i] == 0) {
            g_groups[i] = g;
            return;
        }
}

void removeGroup(pid_t g)
{
    for (int i = 0; i < kMaxGroups; ++i)
        if (g_groups[i] == g)
            g_groups[i] = 0;
}

// Starts a server or peer in a process group of its own that dies with this process: the child
// asks the kernel for SIGKILL when its parent goes (even by SIGKILL), and the guard above ends the
// whole group (vsftpd's session processes too) at exit and on fatal signals.
// Returns the process id (also the group's), 0 when it did not start.
pid_t startGuarded(QProcess &proc, const QString &program, const QStringList &args)
{
    installGuard();
    proc.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != g_testPid)  // the test process died before the line above
            ::_exit(127);
    });
    proc.start(program, args);
    if (!proc.waitForStarted(5000))
        return 0;
    const pid_t pid = pid_t(proc.processId());
    addGroup(pid);
    return pid;
}

// Also when the process itself has ended: its group may still hold session processes.
void stopGuarded(QProcess &proc, pid_t &pid)
{
    if (pid > 0) {
        ::kill(-pid, SIGKILL);
        removeGroup(pid);
        pid = 0;
    }
    if (proc.state() != QProcess::NotRunning)
        proc.waitForFinished(5000);
}

// Connects to address:port (127.0.0.1 or ::1) and reads the first line; empty when nothing answers there.
QByteArray greetingAt(int port, bool v6)
{
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage ss{};
    socklen_t slen;
    if (v6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(quint16(port));
        a->sin6_addr = in6addr_loopback;
        slen = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(quint16(port));
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        slen = sizeof *a;
    }
    QByteArray line;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&ss), slen) == 0) {
        timeval tv{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char c;
        while (!line.endsWith('\n') && line.size() < 512 && ::recv(fd, &c, 1, 0) == 1)
            line += c;
    }
    ::close(fd);
    return line.trimmed();
}

} // namespace

ClosedPort::ClosedPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
}

ClosedPort::~ClosedPort() { ::close(m_fd); }

Server::Server(Kind kind, const QString &root) : m_kind(kind), m_root(root) {}

Server::~Server()
{
    if (m_proc)
        stopGuarded(*m_proc, m_pid);
}

QString Server::user() const
{
    return m_kind == PyFtpd ? QStringLiteral("tester") : QStringLiteral("anonymous");
}

QString Server::password() const
{
    return m_kind == PyFtpd ? QStringLiteral("S3cret-pw") : QStringLiteral("guest@example.org");
}

QString makeCertificate(const QString &dir, const QString &commonName, const QString &altNames)
{
    const QString pem = dir + QStringLiteral("/") + commonName + QStringLiteral(".pem");
    const QString key = dir + QStringLiteral("/") + commonName + QStringLiteral(".key");
    const QString crt = dir + QStringLiteral("/") + commonName + QStringLiteral(".crt");
    QProcess p;
    p.start(QStringLiteral("openssl"),
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt, "-days", "2", "-subj",
             "/CN=" + commonName, "-addext", "subjectAltName=" + altNames});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    testenv::writeFile(pem, testenv::readFile(crt) + testenv::readFile(key));
    return pem;
}

bool loopback6Available()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}


bool Server::start(int firstPort)
{
    m_proc = std::make_unique<QProcess>();
    m_proc->setProcessChannelMode(QProcess::SeparateChannels);
    if (m_kind == PyFtpd) {
        // It binds port 0 itself and prints the port it got: no other program can take it first.
        m_pid = startGuarded(*m_proc, QStringLiteral("/usr/bin/python3"),
                             {testenv::sourceDir() + QStringLiteral("/tests/windows/ftp/pyftpd_server.py"), m_root, user(),
                              password(), m_address, m_tlsPem});
        if (!m_pid || !m_proc->waitForReadyRead(10000)) {
            m_error = QStringLiteral("pyftpdlib did not start: ") + QString::fromLocal8Bit(m_proc->readAllStandardError());
            return false;
        }
        m_port = m_proc->readLine().trimmed().toInt();
        return m_port > 0;
    }
    // vsftpd: anonymous sessions with uploads, run as the launching user (works as root and not).
    // It cannot bind port 0, so it gets a port that was free a moment ago; when something else took
    // it meanwhile, vsftpd exits (or a stranger answers without our banner) and a new port is tried.
    m_confDir = testenv::makeDir(QStringLiteral("vsftpd"));
    for (int attempt = 0; attempt < 10; ++attempt) {
        int port = attempt == 0 ? firstPort : 0;
        if (port == 0) {
            ClosedPort probe;
            port = probe.port();
        }
        const QByteArray banner = "vsftpd ready " + QByteArray::number(::getpid()) + '-' + QByteArray::number(port) + '-'
                                  + QByteArray::number(attempt);
        const QString conf = m_confDir + QStringLiteral("/vsftpd.conf");
        const bool v6 = m_address.contains(QLatin1Char(':'));
        QStringList lines = {
            v6 ? "listen=NO" : "listen=YES", v6 ? "listen_ipv6=YES" : "listen_ipv6=NO",
            (v6 ? "listen_address6=" : "listen_address=") + m_address, QStringLiteral("listen_port=%1").arg(port),
            "run_as_launching_user=YES", "anonymous_enable=YES", "no_anon_password=YES",
            "anon_root=" + m_root, "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
            "anon_other_write_enable=YES", "anon_umask=022", "local_enable=NO", "seccomp_sandbox=NO",
            "port_enable=YES", "connect_from_port_20=NO", "background=NO", "xferlog_enable=NO",
            "secure_chroot_dir=" + m_confDir, "allow_writeable_chroot=YES", "ascii_upload_enable=YES",
            "ascii_download_enable=YES", "syslog_enable=NO", "vsftpd_log_file=" + m_confDir + "/log",
            "ftpd_banner=" + QString::fromLatin1(banner)};
        if (!m_tlsPem.isEmpty())
            lines << "ssl_enable=YES" << "allow_anon_ssl=YES" << "force_anon_logins_ssl=YES"
                  << "force_anon_data_ssl=YES" << "require_ssl_reuse=YES" << "rsa_cert_file=" + m_tlsPem
                  << "rsa_private_key_file=" + m_tlsPem;
        testenv::writeFile(conf, lines.join(QLatin1Char('\n')).toUtf8() + "\n");
        m_proc = std::make_unique<QProcess>();
        m_pid = startGuarded(*m_proc, QStringLiteral("/usr/sbin/vsftpd"), {conf});
        if (!m_pid) {
            m_error = QStringLiteral("vsftpd did not start");
            return false;
        }
        // Ours answers with its own banner; a refused connection means it is not listening yet.
        QByteArray greeting;
        testenv::waitFor([&] {
            greeting = greetingAt(port, v6);
            return !greeting.isEmpty() || m_proc->state() == QProcess::NotRunning;
        }, 10000);
        if (greeting == "220 " + banner) {
            m_port = port;
            return true;
        }
        m_error = QStringLiteral("vsftpd on port %1: %2 %3").arg(port).arg(QString::fromLatin1(greeting),
                  QString::fromLocal8Bit(m_proc->readAllStandardError() + m_proc->readAllStandardOutput()));
        stopGuarded(*m_proc, m_pid);
    }
    return false;
}

qint64 startGuardedProcess(QProcess &proc, const QString &program, const QStringList &args)
{
    return startGuarded(proc, program, args);
}

void stopGuardedProcess(QProcess &proc, qint64 &pid)
{
    pid_t p = pid_t(pid);
    stopGuarded(proc, p);
    pid = p;
}

int runTool(const QString &program, const QStringList &args, const QByteArray &input, QByteArray *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

namespace {

bool procStat(qint64 pid, char &state, qint64 &ppid, qint64 &pgrp);

// Every process below pid, found through the parents in /proc.
QList<qint64> descendants(qint64 pid)
{
    QList<qint64> out;
    QList<qint64> todo{pid};
    while (!todo.isEmpty()) {
        const qint64 parent = todo.takeFirst();
        for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool ok = false;
            const qint64 p = name.toLongLong(&ok);
            char state;
            qint64 ppid, pgrp;
            if (ok && procStat(p, state, ppid, pgrp) && ppid == parent && !out.contains(p)) {
                out << p;
                todo << p;
            }
        }
    }
    return out;
}

constexpr const char *kSshUser = "tarnsftp";

} // namespace

SshServer::SshServer(const QString &root) : m_root(root) {}

SshServer::~SshServer() { kill(); }

void SshServer::kill()
{
    if (!m_proc)
        return;
    if (m_pid > 0)
        for (const qint64 p : descendants(m_pid))
            ::kill(pid_t(p), SIGKILL);
    stopGuarded(*m_proc, m_pid);
}

QString SshServer::log() const { return QString::fromLocal8Bit(testenv::readFile(m_dir + QStringLiteral("/sshd.log"))); }

void SshServer::authorize(const QString &publicKeyFile)
{
    QFile f(authorizedKeysFile());
    if (f.open(QIODevice::Append))
        f.write(testenv::readFile(publicKeyFile).trimmed() + "\n");
}

QByteArray SshServer::hostPublicKey() const
{
    const QList<QByteArray> parts = testenv::readFile(m_dir + QStringLiteral("/host_ed25519.pub")).trimmed().split(' ');
    return parts.size() >= 2 ? parts[0] + ' ' + parts[1] : QByteArray();
}

QString SshServer::hostFingerprint() const
{
    QByteArray out;
    runTool(QStringLiteral("ssh-keygen"), {"-l", "-E", "sha256", "-f", m_dir + QStringLiteral("/host_ed25519.pub")}, {}, &out);
    const QList<QByteArray> parts = out.split(' ');
    return parts.size() >= 2 ? QString::fromLatin1(parts[1]) : QString();
}

void SshServer::giveToUser(const QString &path) const
{
    if (::geteuid() != 0)
        return;
    if (const passwd *pw = ::getpwnam(kSshUser))
        ::lchown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid);
}

bool SshServer::start()
{
    m_dir = testenv::makeDir(QStringLiteral("sshd"));
    const bool root = ::geteuid() == 0;
    if (root) {
        // A user of its own, never root: what the tests do with files runs with a user's rights.
        // A shell, since sshd runs a subsystem other than its own through it.
        if (!::getpwnam(kSshUser)
            && runTool(QStringLiteral("/usr/sbin/useradd"), {"--system", "--no-create-home", "--home-dir", "/nonexistent",
                                                            "--shell", "/bin/sh", kSshUser}) != 0) {
            m_error = QStringLiteral("useradd failed");
            return false;
        }
        if (QByteArray(::getpwnam(kSshUser)->pw_shell) != "/bin/sh")
            runTool(QStringLiteral("/usr/sbin/usermod"), {"--shell", "/bin/sh", kSshUser});
        m_user = QString::fromLatin1(kSshUser);
        m_password = QString::fromLatin1(pattern(12, int(::getpid())).toHex()) + QStringLiteral("-Pw");
        if (runTool(QStringLiteral("/usr/sbin/chpasswd"), {}, (m_user + QLatin1Char(':') + m_password + QLatin1Char('\n')).toUtf8()) != 0) {
            m_error = QStringLiteral("chpasswd failed");
            return false;
        }
        QDir().mkpath(QStringLiteral("/run/sshd"));  // its privilege separation folder
        // The user must pass through the private test folders to reach root.
        for (QString d = QFileInfo(m_root).absoluteFilePath(); d.startsWith(testenv::root()); d = QFileInfo(d).absolutePath()) {
            struct stat st {};
            if (::stat(QFile::encodeName(d).constData(), &st) == 0)
                ::chmod(QFile::encodeName(d).constData(), (st.st_mode & 07777) | 0111);
            if (d == testenv::root())
                break;
        }
        giveToUser(m_root);
    } else {
        m_user = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
        m_password.clear();
    }
    const QString hostKey = m_dir + QStringLiteral("/host_ed25519");
    if (runTool(QStringLiteral("ssh-keygen"), {"-q", "-t", "ed25519", "-N", "", "-C", "test-host", "-f", hostKey}) != 0) {
        m_error = QStringLiteral("ssh-keygen failed");
        return false;
    }
    testenv::writeFile(authorizedKeysFile(), {});
    ::chmod(QFile::encodeName(authorizedKeysFile()).constData(), 0644);
    m_v6 = loopback6Available();
    // sshd cannot listen on port 0, so it gets a port that was free a moment ago; when another
    // program took it meanwhile, sshd exits and a new one is tried.
    for (int attempt = 0; attempt < 10; ++attempt) {
        int port;
        {
            ClosedPort probe;
            port = probe.port();
        }
        const QString conf = m_dir + QStringLiteral("/sshd_config");
        QStringList lines = {
            QStringLiteral("Port %1").arg(port), "ListenAddress 127.0.0.1", "HostKey " + hostKey, "PidFile none",
            "AuthorizedKeysFile " + authorizedKeysFile(), "StrictModes no", "UsePAM no", "PasswordAuthentication yes",
            "KbdInteractiveAuthentication no", "PubkeyAuthentication yes", "PermitRootLogin no", "AllowUsers " + m_user,
            "LogLevel VERBOSE",
            "MaxAuthTries 20", "MaxStartups 50", "LoginGraceTime 120", "PermitEmptyPasswords no"};
        if (m_v6)
            lines << "ListenAddress ::1";
        if (m_script.isEmpty()) {
            lines << "Subsystem sftp internal-sftp" << "ForceCommand internal-sftp -d " + m_root;
        } else {
            const QString copy = m_dir + QStringLiteral("/subsystem.py");  // where the served user can read it
            QFile::remove(copy);
            QFile::copy(m_script, copy);
            ::chmod(QFile::encodeName(copy).constData(), 0644);
            lines << "Subsystem sftp /usr/bin/python3 " + copy;
        }
        testenv::writeFile(conf, lines.join(QLatin1Char('\n')).toUtf8() + "\n");
        const QString logFile = m_dir + QStringLiteral("/sshd.log");
        QFile::remove(logFile);
        m_proc = std::make_unique<QProcess>();
        m_proc->setStandardOutputFile(logFile, QIODevice::Append);
        m_proc->setStandardErrorFile(logFile, QIODevice::Append);
        m_pid = startGuarded(*m_proc, QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", conf});
        if (!m_pid) {
            m_error = QStringLiteral("sshd did not start");
            return false;
        }
        const QString want4 = QStringLiteral("Server listening on 127.0.0.1 port %1").arg(port);
        const QString want6 = QStringLiteral("Server listening on ::1 port %1").arg(port);
        testenv::waitFor([&] {
            const QString l = log();
            return (l.contains(want4) && (!m_v6 || l.contains(want6))) || m_proc->state() == QProcess::NotRunning;
        }, 10000);
        const QString l = log();
        if (m_proc->state() == QProcess::Running && l.contains(want4) && (!m_v6 || l.contains(want6))) {
            m_port = port;
            return true;
        }
        m_error = QStringLiteral("sshd on port %1: %2").arg(port).arg(l);
        stopGuarded(*m_proc, m_pid);
        if (!l.contains(QStringLiteral("Address already in use")))
            return false;
    }
    return false;
}

void Server::kill()
{
    if (m_proc)
        stopGuarded(*m_proc, m_pid);
}

FakePeer::FakePeer(const QString &script, const QString &address)
{
    const QString dir = testenv::makeDir(QStringLiteral("peer"));
    const QString scriptFile = testenv::writeFile(dir + QStringLiteral("/script"), script.toUtf8());
    m_log = dir + QStringLiteral("/log");
    m_proc = std::make_unique<QProcess>();
    m_pid = startGuarded(*m_proc, QStringLiteral("/usr/bin/python3"),
                         {testenv::sourceDir() + QStringLiteral("/tests/windows/ftp/fake_peer.py"), scriptFile, m_log, address});
    if (m_pid && m_proc->waitForReadyRead(10000))
        m_port = m_proc->readLine().trimmed().toInt();
    if (m_port <= 0)  // why, for the test's failure message
        std::cerr << "fake_peer.py: " << m_proc->readAllStandardError().toStdString() << std::endl;
}

FakePeer::~FakePeer() { stopGuarded(*m_proc, m_pid); }

bool FakePeer::finished(int timeoutMs)
{
    return testenv::waitFor([this] { return m_proc->state() == QProcess::NotRunning; }, timeoutMs);
}

QStringList FakePeer::received() const
{
    QStringList l = QString::fromUtf8(testenv::readFile(m_log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    l.removeAll(QStringLiteral("END"));
    return l;
}

Recorder::Recorder(TCustomFtpCli &cli)
{
    QObject::connect(&cli, &TCustomFtpCli::OnDisplay, &cli, [this](QString &m) { display << m; });
    QObject::connect(&cli, &TCustomFtpCli::OnRequestDone, &cli,
                     [this](int rq, quint16 err) { done << qMakePair(rq, int(err)); });
    QObject::connect(&cli, &TCustomFtpCli::OnSessionClosed, &cli, [this](quint16) { ++sessionClosed; });
    QObject::connect(&cli, &TCustomFtpCli::OnSessionConnected, &cli, [this](quint16) { ++sessionConnected; });
}

bool Recorder::waitDone(int count, int timeoutMs)
{
    return testenv::waitFor([this, count] { return done.size() >= count; }, timeoutMs);
}

void Recorder::reset()
{
    QCoreApplication::processEvents();
    display.clear();
    done.clear();
    sessionClosed = sessionConnected = 0;
}

namespace {

// Fields of /proc/PID/stat after the command name: state, ppid, pgrp.
bool procStat(qint64 pid, char &state, qint64 &ppid, qint64 &pgrp)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = f.readAll();
    const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (rest.size() < 3 || rest[0].isEmpty())
        return false;
    state = rest[0][0];
    ppid = rest[1].toLongLong();
    pgrp = rest[2].toLongLong();
    return true;
}

} // namespace

QList<qint64> groupProcesses(qint64 pgid)
{
    QList<qint64> out;
    for (const QString &name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        char state;
        qint64 ppid, pgrp;
        if (ok && procStat(pid, state, ppid, pgrp) && state != 'Z' && (pid == pgid || pgrp == pgid || ppid == pgid))
            out << pid;
    }
    return out;
}

bool processRuns(qint64 pid)
{
    char state;
    qint64 ppid, pgrp;
    return pid > 0 && procStat(pid, state, ppid, pgrp) && state != 'Z';
}

QByteArray pattern(qint64 size, int seed)
{
    QByteArray b;
    b.resize(size);
    quint32 x = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x);
    }
    return b;
}

QString md5(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("(missing)");
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

} // namespace ftptest
