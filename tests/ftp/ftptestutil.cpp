#include "tests/ftp/ftptestutil.h"

#include <QCryptographicHash>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include "tests/common/testenv.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ftptest {

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

static bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

Server::Server(Kind kind, const QString &root) : m_kind(kind), m_root(root) {}

Server::~Server()
{
    if (m_proc && m_proc->state() != QProcess::NotRunning) {
        m_proc->kill();
        m_proc->waitForFinished(3000);
    }
}

QString Server::user() const
{
    return m_kind == PyFtpd ? QStringLiteral("tester") : QStringLiteral("anonymous");
}

QString Server::password() const
{
    return m_kind == PyFtpd ? QStringLiteral("S3cret-pw") : QStringLiteral("guest@example.org");
}

bool Server::start()
{
    m_proc = std::make_unique<QProcess>();
    m_proc->setProcessChannelMode(QProcess::SeparateChannels);
    if (m_kind == PyFtpd) {
        m_proc->start(QStringLiteral("/usr/bin/python3"),
                      {testenv::sourceDir() + QStringLiteral("/tests/ftp/pyftpd_server.py"), m_root, user(),
                       password()});
        if (!m_proc->waitForStarted(5000) || !m_proc->waitForReadyRead(10000)) {
            m_error = QStringLiteral("pyftpdlib did not start: ") + QString::fromLocal8Bit(m_proc->readAllStandardError());
            return false;
        }
        m_port = m_proc->readLine().trimmed().toInt();
        return m_port > 0;
    }
    // vsftpd: anonymous sessions with uploads, run as the launching user (works as root and not).
    m_confDir = testenv::makeDir(QStringLiteral("vsftpd"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        const QString conf = m_confDir + QStringLiteral("/vsftpd.conf");
        QStringList lines = {
            "listen=YES", "listen_address=127.0.0.1", QStringLiteral("listen_port=%1").arg(m_port),
            "run_as_launching_user=YES", "anonymous_enable=YES", "no_anon_password=YES",
            "anon_root=" + m_root, "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
            "anon_other_write_enable=YES", "anon_umask=022", "local_enable=NO", "seccomp_sandbox=NO",
            "port_enable=YES", "connect_from_port_20=NO", "background=NO", "xferlog_enable=NO",
            "secure_chroot_dir=" + m_confDir, "allow_writeable_chroot=YES", "ascii_upload_enable=YES",
            "ascii_download_enable=YES", "syslog_enable=NO", "vsftpd_log_file=" + m_confDir + "/log",
            "ftpd_banner=vsftpd ready."};
        testenv::writeFile(conf, lines.join(QLatin1Char('\n')).toUtf8() + "\n");
        m_proc->start(QStringLiteral("/usr/sbin/vsftpd"), {conf});
        if (!m_proc->waitForStarted(5000)) {
            m_error = QStringLiteral("vsftpd did not start");
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            if (canConnect(m_port))
                return true;
            if (m_proc->state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        m_error = QStringLiteral("vsftpd: ") + QString::fromLocal8Bit(m_proc->readAllStandardError())
                  + QString::fromLocal8Bit(m_proc->readAllStandardOutput());
        m_proc->kill();
        m_proc->waitForFinished(2000);
    }
    return false;
}

void Server::kill()
{
    if (m_proc && m_proc->state() != QProcess::NotRunning) {
        ::kill(pid_t(m_proc->processId()), SIGKILL);
        m_proc->waitForFinished(3000);
    }
}

FakePeer::FakePeer(const QString &script, const QString &address)
{
    const QString dir = testenv::makeDir(QStringLiteral("peer"));
    const QString scriptFile = testenv::writeFile(dir + QStringLiteral("/script"), script.toUtf8());
    m_log = dir + QStringLiteral("/log");
    m_proc = std::make_unique<QProcess>();
    m_proc->start(QStringLiteral("/usr/bin/python3"),
                  {testenv::sourceDir() + QStringLiteral("/tests/ftp/fake_peer.py"), scriptFile, m_log, address});
    if (m_proc->waitForStarted(5000) && m_proc->waitForReadyRead(10000))
        m_port = m_proc->readLine().trimmed().toInt();
}

FakePeer::~FakePeer()
{
    if (m_proc->state() != QProcess::NotRunning) {
        m_proc->kill();
        m_proc->waitForFinished(3000);
    }
}

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
