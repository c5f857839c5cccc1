#pragma once
// Real FTP servers and a scripted misbehaving peer, started by the tests on 127.0.0.1.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <ostream>

#include "windows/ftp/ftpcli.h"

namespace ftptest {

// A real server on 127.0.0.1 serving `root` (pyftpdlib with a user and password, or vsftpd with
// anonymous login and uploads). It never outlives the test process, even one that aborts or is
// killed.
class Server {
public:
    enum Kind { PyFtpd, Vsftpd };
    Server(Kind kind, const QString &root);
    // The address it listens on: "127.0.0.1" (default) or "::1"; set before start().
    void setAddress(const QString &address) { m_address = address; }
    QString address() const { return m_address; }
    // Explicit TLS required for login and data, with this PEM file (certificate and key); set before start().
    void setTls(const QString &pem) { m_tlsPem = pem; }
    ~Server();
    // False with the reason in error(). firstPort: the port vsftpd tries first (0: a free one).
    bool start(int firstPort = 0);
    void kill();   // SIGKILL of the server and its session processes
    qint64 pid() const { return m_pid; }  // also its process group; 0 once stopped
    int port() const { return m_port; }
    QString error() const { return m_error; }
    Kind kind() const { return m_kind; }
    QString user() const;
    QString password() const;
    QString root() const { return m_root; }

private:
    Kind m_kind;
    QString m_root;
    QString m_confDir;
    QString m_address = QStringLiteral("127.0.0.1");
    QString m_tlsPem;
    int m_port = 0;
    QString m_error;
    std::unique_ptr<QProcess> m_proc;
    int m_pid = 0;
};

// The scripted peer (fake_peer.py): see that file for the script language. Guarded like a server.
class FakePeer {
public:
    explicit FakePeer(const QString &script, const QString &address = QStringLiteral("127.0.0.1"));
    ~FakePeer();
    int port() const { return m_port; }
    qint64 pid() const { return m_pid; }
    // Command lines the peer received, once it has ended (or so far).
    QStringList received() const;
    bool finished(int timeoutMs = 5000);

private:
    QString m_log;
    int m_port = 0;
    std::unique_ptr<QProcess> m_proc;
    int m_pid = 0;
};

// OpenSSH's sshd on a free port of 127.0.0.1 (and of ::1 when this machine has it), with its own
// host key and a private configuration: SFTP only (internal-sftp, starting in `root`), keys from
// authorizedKeysFile(), passwords without PAM. Run as root it serves an unprivileged user of its
// own (made on the first start when missing, with a new random password each start); run as
// another user it can only serve that user, by key. Guarded like the FTP servers; its session
// processes end with the connections of the test process.
class SshServer {
public:
    explicit SshServer(const QString &root);
    ~SshServer();
    // Instead of OpenSSH's own SFTP server, this script (run with python3 as the served user)
    // speaks SFTP on the session's stdin and stdout; set before start().
    void setSubsystemScript(const QString &script) { m_script = script; }
    bool start();            // false with error()
    void kill();             // SIGKILL of sshd and of every session process it started
    int port() const { return m_port; }
    bool hasIpv6() const { return m_v6; }
    QString error() const { return m_error; }
    QString user() const { return m_user; }
    // Empty when password login cannot work here (not root).
    QString password() const { return m_password; }
    QString root() const { return m_root; }
    QString authorizedKeysFile() const { return m_dir + QStringLiteral("/authorized_keys"); }
    void authorize(const QString &publicKeyFile);
    // "ssh-ed25519 AAAA..." of the host key, and its "SHA256:..." fingerprint from ssh-keygen.
    QByteArray hostPublicKey() const;
    QString hostFingerprint() const;
    // Makes a file or folder of root() the served user's own, so the session may change it.
    void giveToUser(const QString &path) const;
    QString log() const;

private:
    QString m_root;
    QString m_dir;
    QString m_user;
    QString m_password;
    QString m_script;
    int m_port = 0;
    bool m_v6 = false;
    QString m_error;
    std::unique_ptr<QProcess> m_proc;
    int m_pid = 0;
};

// A helper program (an agent, say) guarded like the servers: its process id, 0 when it did not start.
qint64 startGuardedProcess(QProcess &proc, const QString &program, const QStringList &args);
void stopGuardedProcess(QProcess &proc, qint64 &pid);

// Runs a program to its end (stdin from `input`); its exit code, -1 when it did not start or run out.
int runTool(const QString &program, const QStringList &args, const QByteArray &input = {}, QByteArray *output = nullptr);

// Records what an engine reports.
struct Recorder {
    explicit Recorder(TCustomFtpCli &cli);
    QStringList display;
    QList<QPair<int, int>> done;  // (request, error)
    int sessionClosed = 0;
    int sessionConnected = 0;
    bool waitDone(int count = 1, int timeoutMs = 20000);
    // Delivers reports still queued (a synchronous call returns before its OnRequestDone), then forgets all.
    void reset();
};

// Test data of a given size with a recognisable pattern.
QByteArray pattern(qint64 size, int seed = 1);
// The leader of a process group, the group's processes and the leader's children (that may have
// left it).
QList<qint64> groupProcesses(qint64 pgid);
// Whether a process still runs (a zombie does not).
bool processRuns(qint64 pid);
QString md5(const QString &path);
// A self-signed certificate with its key in one PEM file, made with `openssl req` for the names
// (DNS:... and IP:... entries of subjectAltName); empty when openssl failed.
QString makeCertificate(const QString &dir, const QString &commonName, const QString &altNames);
// Whether this machine can use the IPv6 loopback address ::1.
bool loopback6Available();

// A port of 127.0.0.1 that refuses connections while this object lives: bound, never listening,
// so no other program can take it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort &) = delete;
    ClosedPort &operator=(const ClosedPort &) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace ftptest
