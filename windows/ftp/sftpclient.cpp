#include "windows/ftp/sftpclient.h"
#include "platform/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QElapsedTimer>

#include <atomic>
#include <condition_variable>
#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Transfers: downloads keep this many read requests of kBlock bytes on the wire (the server answers
// them back to back, so the link never waits for a round trip); uploads write kBlock at a time.
// OpenSSH's server takes requests up to 256 KiB.
constexpr uint32_t kBlock = 64 * 1024;
constexpr int kReadAhead = 32;
constexpr int kWriteAhead = 32;
constexpr int kPassphraseTries = 3;

QString decodeName(const QByteArray &raw)
{
    QString s = QString::fromUtf8(raw);
    if (s.contains(QChar::ReplacementCharacter))
        s = QString::fromLatin1(raw);
    return s;
}

QString sftpErrorText(int code)
{
    switch (code) {
    case SSH_FX_EOF: return QStringLiteral("end of file");
    case SSH_FX_NO_SUCH_FILE: return QStringLiteral("no such file or folder");
    case SSH_FX_PERMISSION_DENIED: return QStringLiteral("permission denied");
    case SSH_FX_BAD_MESSAGE: return QStringLiteral("the server did not understand the request");
    case SSH_FX_NO_CONNECTION:
    case SSH_FX_CONNECTION_LOST: return QStringLiteral("the connection was lost");
    case SSH_FX_OP_UNSUPPORTED: return QStringLiteral("the server does not support this");
    case SSH_FX_INVALID_HANDLE: return QStringLiteral("invalid handle");
    case SSH_FX_NO_SUCH_PATH: return QStringLiteral("no such path");
    case SSH_FX_FILE_ALREADY_EXISTS: return QStringLiteral("it already exists");
    case SSH_FX_WRITE_PROTECT: return QStringLiteral("the server's disk is write-protected");
    case SSH_FX_NO_MEDIA: return QStringLiteral("no medium on the server");
    default: return QStringLiteral("the server refused (failure)");
    }
}

// Writes all of buf at offset; false with errno set.
bool pwriteAll(int fd, const char *buf, size_t len, off_t offset)
{
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, buf, len, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        buf += n;
        len -= size_t(n);
        offset += n;
    }
    return true;
}

} // namespace

// --- Entries -------------------------------------------------------------------------------------

QString TSftpEntry::permissionText() const
{
    QString s(10, QLatin1Char('-'));
    switch (permissions & S_IFMT) {
    case S_IFDIR: s[0] = QLatin1Char('d'); break;
    case S_IFLNK: s[0] = QLatin1Char('l'); break;
    case S_IFCHR: s[0] = QLatin1Char('c'); break;
    case S_IFBLK: s[0] = QLatin1Char('b'); break;
    case S_IFIFO: s[0] = QLatin1Char('p'); break;
    case S_IFSOCK: s[0] = QLatin1Char('s'); break;
    default:
        if (type == Folder)
            s[0] = QLatin1Char('d');
        else if (type == Link)
            s[0] = QLatin1Char('l');
    }
    const char *letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (permissions & (0400u >> i))
            s[1 + i] = QLatin1Char(letters[i]);
    if (permissions & S_ISUID)
        s[3] = (permissions & S_IXUSR) ? QLatin1Char('s') : QLatin1Char('S');
    if (permissions & S_ISGID)
        s[6] = (permissions & S_IXGRP) ? QLatin1Char('s') : QLatin1Char('S');
    if (permissions & S_ISVTX)
        s[9] = (permissions & S_IXOTH) ? QLatin1Char('t') : QLatin1Char('T');
    return s;
}

// --- The worker ----------------------------------------------------------------------------------

struct TSftpSettings {
    QByteArray host;
    int port = 22;
    QByteArray user;
    QByteArray password;
    QString sshDir;
    QString knownHosts;
    int timeout = 30;
};

// Owns the libssh session; every member but the shared block below is touched by its thread only.
class TSftpWorker {
public:
    explicit TSftpWorker(TSftpClient *client) : m_client(client)
    {
        m_ctx = new QObject;
        m_ctx->moveToThread(&m_thread);
        m_thread.setObjectName(QStringLiteral("sftp"));
        m_thread.start();
        // A write to a connection the server has dropped must fail with EPIPE, not end the program.
        QMetaObject::invokeMethod(m_ctx, [] {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &set, nullptr);
        }, Qt::QueuedConnection);
    }

    ~TSftpWorker()
    {
        stop();
        QMetaObject::invokeMethod(m_ctx, [this] {
            teardown();
            delete m_ctx;
            m_ctx = nullptr;
            QThread::currentThread()->quit();
        }, Qt::QueuedConnection);
        m_thread.wait();
    }

    QObject *context() const { return m_ctx; }

    // From the caller's thread: wakes whatever waits and cuts the connection under a blocked call.
    void stop()
    {
        m_stopping = true;
        m_cancelUpTo = ~quint64(0);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_ctlFd >= 0)
                ::shutdown(m_ctlFd, SHUT_RDWR);
        }
        m_cv.notify_all();
    }
    void cancelUpTo(quint64 seq)
    {
        quint64 old = m_cancelUpTo.load();
        while (old < seq && !m_cancelUpTo.compare_exchange_weak(old, seq)) {
        }
        m_cv.notify_all();
    }
    void answerHostKey(bool trust)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hostAnswered = true;
            m_hostTrusted = trust;
        }
        m_cv.notify_all();
    }
    void answerPassphrase(const QString &pass, bool given)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_passAnswered = true;
            m_passGiven = given;
            m_pass = pass.toUtf8();
        }
        m_cv.notify_all();
    }

    // --- Operations (worker thread) ---------------------------------------------------------
    TSftpResult connectTo(const TSftpSettings &st, quint64 seq);
    TSftpResult list(const QByteArray &folder);
    TSftpResult changeDir(const QByteArray &folder);
    TSftpResult upload(const QString &localFile, const QByteArray &remoteName, bool resume, quint64 seq);
    TSftpResult download(const QByteArray &remoteName, const QString &localFolder, bool resume, quint64 seq);
    TSftpResult simple(TSftpOp op, const QByteArray &a, const QByteArray &b);
    TSftpResult disconnect();

    bool connected() const { return m_sftp != nullptr; }
    QByteArray cwd() const { return m_cwd; }
    bool cancelled(quint64 seq) const { return m_stopping || seq <= m_cancelUpTo.load(); }
    bool stopping() const { return m_stopping; }

    // Posts to the caller's thread.
    template <typename F>
    void toClient(F &&f)
    {
        QMetaObject::invokeMethod(m_client, std::forward<F>(f), Qt::QueuedConnection);
    }
    void log(const QString &line)
    {
        TSftpClient *c = m_client;
        toClient([c, line] { emit c->log(line); });
    }
    // After a failed call: when the session itself is gone, forget it and say so.
    void checkAlive(TSftpResult &r);
    // Ends the session and tells the client why.
    void dropSession(const QString &reason);

private:
    bool openSocket(const TSftpSettings &st, quint64 seq, QString &error);
    bool checkHostKey(const TSftpSettings &st, quint64 seq, QString &error);
    bool storeHostKey(const TSftpSettings &st, QString &error);
    bool authenticate(const TSftpSettings &st, quint64 seq, QString &error);
    bool tryKeys(const TSftpSettings &st, quint64 seq);
    void teardown();
    QString sshError() const { return QString::fromLocal8Bit(ssh_get_error(m_session)); }
    QString sftpError() const;
    QByteArray absolute(const QByteArray &name) const { return TSftpClient::joinPath(m_cwd, name); }
    void progress(qint64 done, qint64 total, bool force);
    // Reads exactly len bytes of the SFTP channel; false with error when it ends or times out.
    bool readChannel(void *buf, uint32_t len, QString &error);

    TSftpClient *m_client;
    QThread m_thread;
    QObject *m_ctx = nullptr;

    ssh_session m_session = nullptr;
    sftp_session m_sftp = nullptr;
    QByteArray m_cwd;
    QByteArray m_hostLabel;
    int m_timeoutMs = 30000;
    QElapsedTimer m_progressClock;

    // Shared with the caller's thread.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_stopping{false};
    std::atomic<quint64> m_cancelUpTo{0};
    int m_libFd = -1;  // the socket as given to the session
    int m_ctlFd = -1;  // our duplicate of the session's socket, for shutdown() from outside
    bool m_hostAnswered = false;
    bool m_hostTrusted = false;
    bool m_passAnswered = false;
    bool m_passGiven = false;
    QByteArray m_pass;
};

QString TSftpWorker::sftpError() const
{
    if (!m_session || !ssh_is_connected(m_session))
        return QStringLiteral("the connection was lost (%1)").arg(sshError());
    return sftpErrorText(sftp_get_error(m_sftp));
}

void TSftpWorker::progress(qint64 done, qint64 total, bool force)
{
    if (!force && m_progressClock.isValid() && m_progressClock.elapsed() < 100)
        return;
    m_progressClock.restart();
    TSftpClient *c = m_client;
    toClient([c, done, total] { emit c->progress(done, total); });
}

bool TSftpWorker::readChannel(void *buf, uint32_t len, QString &error)
{
    char *p = static_cast<char *>(buf);
    while (len > 0) {
        const int n = ssh_channel_read_timeout(m_sftp->channel, p, len, 0, m_timeoutMs > 0 ? m_timeoutMs : -1);
        if (n < 0 || (n == 0 && (ssh_channel_is_eof(m_sftp->channel) || !ssh_is_connected(m_session)))) {
            error = QStringLiteral("the connection was lost (%1)").arg(sshError());
            return false;
        }
        if (n == 0) {
            error = QStringLiteral("the server did not answer in time");
            return false;
        }
        p += n;
        len -= uint32_t(n);
    }
    return true;
}

void TSftpWorker::teardown()
{
    if (m_sftp) {
        sftp_free(m_sftp);
        m_sftp = nullptr;
    }
    if (m_session) {
        if (ssh_is_connected(m_session))
            ssh_disconnect(m_session);
        ssh_free(m_session);
        m_session = nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ctlFd >= 0) {
        // libssh closes the socket it was given on some paths and not on others. Our copy keeps the
        // socket alive, so a descriptor of that number on the same socket can only be the one given.
        struct stat mine {}, given {};
        if (m_libFd >= 0 && ::fstat(m_ctlFd, &mine) == 0 && ::fstat(m_libFd, &given) == 0 && mine.st_dev == given.st_dev
            && mine.st_ino == given.st_ino)
            ::close(m_libFd);
        ::close(m_ctlFd);
        m_ctlFd = -1;
    }
    m_libFd = -1;
}

void TSftpWorker::checkAlive(TSftpResult &r)
{
    if (!m_session || ssh_is_connected(m_session))
        return;
    const QString reason = QStringLiteral("Connection to %1 lost: %2").arg(QString::fromUtf8(m_hostLabel), sshError());
    dropSession(reason);
    if (r.error.isEmpty())
        r.error = reason;
}

void TSftpWorker::dropSession(const QString &reason)
{
    teardown();
    log(QStringLiteral("! ") + reason);
    TSftpClient *c = m_client;
    toClient([c, reason] { emit c->disconnected(reason); });
}

bool TSftpWorker::openSocket(const TSftpSettings &st, quint64 seq, QString &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *res = nullptr;
    const QByteArray service = QByteArray::number(st.port);
    int rc = ::getaddrinfo(st.host.constData(), service.constData(), &hints, &res);
    if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {  // loopback literals without a configured address
        hints.ai_flags = 0;
        rc = ::getaddrinfo(st.host.constData(), service.constData(), &hints, &res);
    }
    if (rc != 0) {
        error = QStringLiteral("Cannot find host %1: %2").arg(QString::fromUtf8(st.host), QString::fromLocal8Bit(gai_strerror(rc)));
        return false;
    }
    int fd = -1;
    QString lastError = QStringLiteral("no address");
    for (addrinfo *ai = res; ai && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0)
            continue;
        bool ok = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
        if (!ok && errno == EINPROGRESS) {
            QElapsedTimer clock;
            clock.start();
            // In slices, so that cancel() and the end of the client are noticed.
            while (!cancelled(seq) && (st.timeout <= 0 || clock.elapsed() < st.timeout * 1000LL)) {
                pollfd p{fd, POLLOUT, 0};
                const int n = ::poll(&p, 1, 200);
                if (n > 0) {
                    int soerr = 0;
                    socklen_t len = sizeof soerr;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
                    ok = soerr == 0;
                    errno = soerr;
                    break;
                }
                if (n < 0 && errno != EINTR)
                    break;
                errno = ETIMEDOUT;
            }
            if (cancelled(seq))
                errno = ECANCELED;
        }
        if (!ok) {
            lastError = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(res);
    if (fd < 0) {
        error = QStringLiteral("Cannot connect to %1 port %2: %3").arg(QString::fromUtf8(st.host)).arg(st.port).arg(lastError);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ctlFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        m_libFd = fd;
    }
    ssh_options_set(m_session, SSH_OPTIONS_FD, &fd);
    return true;
}

bool TSftpWorker::storeHostKey(const TSftpSettings &st, QString &error)
{
    char *entry = nullptr;
    if (ssh_session_export_known_hosts_entry(m_session, &entry) != SSH_OK || !entry) {
        error = QStringLiteral("Cannot record the host key: ") + sshError();
        return false;
    }
    QByteArray line(entry);
    ssh_string_free_char(entry);
    if (!line.endsWith('\n'))
        line += '\n';
    // A linked known_hosts (kept with the user's other dot files, say) is written where it points.
    QFileInfo fi(st.knownHosts);
    const QString target = fi.isSymLink() && fi.exists() ? fi.canonicalFilePath() : st.knownHosts;
    fi = QFileInfo(target);
    const bool madeDir = !QFileInfo::exists(fi.absolutePath());
    QDir().mkpath(fi.absolutePath());
    if (madeDir && fi.absolutePath() == QFileInfo(st.sshDir).absoluteFilePath())
        ::chmod(QFile::encodeName(st.sshDir).constData(), 0700);  // as OpenSSH makes it
    QByteArray all;
    struct stat old {};
    const bool existed = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    QFile f(target);
    if (existed) {
        if (!f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Cannot read %1: %2").arg(target, f.errorString());
            return false;
        }
        all = f.readAll();
        f.close();
        if (!all.isEmpty() && !all.endsWith('\n'))
            all += '\n';
    }
    all += line;
    QString saveError;
    if (!platform::saveFileAtomically(target, all, &saveError)) {
        error = QStringLiteral("Cannot write %1: %2").arg(target, saveError);
        return false;
    }
    // The file keeps the mode it had; a new one is the user's alone, as OpenSSH would make it.
    ::chmod(QFile::encodeName(target).constData(), existed ? (old.st_mode & 07777) : 0600);
    return true;
}

bool TSftpWorker::checkHostKey(const TSftpSettings &st, quint64 seq, QString &error)
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(m_session, &key) != SSH_OK) {
        error = QStringLiteral("The server sent no host key: ") + sshError();
        return false;
    }
    TSftpHostKey hk;
    hk.host = QString::fromUtf8(st.host);
    hk.port = st.port;
    const enum ssh_keytypes_e type = ssh_key_type(key);
    const char *ecdsa = (type == SSH_KEYTYPE_ECDSA_P256 || type == SSH_KEYTYPE_ECDSA_P384 || type == SSH_KEYTYPE_ECDSA_P521)
                            ? ssh_pki_key_ecdsa_name(key)
                            : nullptr;
    hk.keyType = QString::fromLatin1(ecdsa ? ecdsa : ssh_key_type_to_char(type));
    unsigned char *hash = nullptr;
    size_t hlen = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hlen) == SSH_OK) {
        char *fp = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hlen);
        hk.fingerprint = QString::fromLatin1(fp);
        ssh_string_free_char(fp);
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);

    switch (ssh_session_is_known_server(m_session)) {
    case SSH_KNOWN_HOSTS_OK:
        return true;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
        // As OpenSSH says it: the user must see that this may be an attack, and nothing is stored.
        const QString warning = QStringLiteral(
            "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
            "@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
            "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
            "IT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!\n"
            "Someone could be eavesdropping on you right now (man-in-the-middle attack)!\n"
            "It is also possible that a host key has just been changed.\n"
            "The %1 key fingerprint sent by %2 is\n%3.\n"
            "It differs from the key recorded in %4.\n"
            "Host key verification failed: the connection was refused.")
                                    .arg(hk.keyType, QString::fromUtf8(m_hostLabel), hk.fingerprint, st.knownHosts);
        TSftpClient *c = m_client;
        toClient([c, hk, warning] { emit c->hostKeyChanged(hk, warning); });
        log(QStringLiteral("! Host key of %1 has changed: refused").arg(QString::fromUtf8(m_hostLabel)));
        error = warning;
        return false;
    }
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND: {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hostAnswered = false;
        }
        TSftpClient *c = m_client;
        toClient([c, hk] { emit c->hostKeyUnknown(hk); });
        bool trusted = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return m_hostAnswered || cancelled(seq); });
            trusted = m_hostAnswered && m_hostTrusted && !cancelled(seq);
        }
        if (!trusted) {
            error = QStringLiteral("The host key of %1 (%2 %3) was not accepted: the connection was closed.")
                        .arg(QString::fromUtf8(m_hostLabel), hk.keyType, hk.fingerprint);
            return false;
        }
        if (!storeHostKey(st, error))
            return false;
        log(QStringLiteral("! Host key %1 %2 stored in %3").arg(hk.keyType, hk.fingerprint, st.knownHosts));
        return true;
    }
    default:
        error = QStringLiteral("Cannot check the host key against %1: %2").arg(st.knownHosts, sshError());
        return false;
    }
}

bool TSftpWorker::tryKeys(const TSftpSettings &st, quint64 seq)
{
    static const char *const names[] = {"id_ed25519", "id_ecdsa", "id_rsa", "id_dsa"};
    for (const char *n : names) {
        const QString path = st.sshDir + QLatin1Char('/') + QLatin1String(n);
        const QByteArray cpath = QFile::encodeName(path);
        if (!QFileInfo(path).isFile())
            continue;
        // The public half says whether the server would take the key, before any passphrase is asked.
        ssh_key pub = nullptr;
        if (ssh_pki_import_pubkey_file((cpath + ".pub").constData(), &pub) == SSH_OK) {
            const int rc = ssh_userauth_try_publickey(m_session, nullptr, pub);
            ssh_key_free(pub);
            if (rc != SSH_AUTH_SUCCESS)
                continue;
        }
        ssh_key priv = nullptr;
        if (ssh_pki_import_privkey_file(cpath.constData(), nullptr, nullptr, nullptr, &priv) != SSH_OK) {
            priv = nullptr;
            for (int attempt = 1; attempt <= kPassphraseTries && !priv && !cancelled(seq); ++attempt) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_passAnswered = false;
                }
                TSftpClient *c = m_client;
                toClient([c, path, attempt] { emit c->passphraseRequested(path, attempt); });
                QByteArray pass;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_cv.wait(lock, [&] { return m_passAnswered || cancelled(seq); });
                    if (!m_passAnswered || !m_passGiven)
                        break;
                    pass = m_pass;
                    m_pass.fill('\0');
                }
                if (ssh_pki_import_privkey_file(cpath.constData(), pass.constData(), nullptr, nullptr, &priv) != SSH_OK) {
                    priv = nullptr;
                    log(QStringLiteral("! Wrong passphrase for %1").arg(path));
                }
                pass.fill('\0');
            }
        }
        if (!priv)
            continue;
        const int rc = ssh_userauth_publickey(m_session, nullptr, priv);
        ssh_key_free(priv);
        if (rc == SSH_AUTH_SUCCESS) {
            log(QStringLiteral("! Logged in with key %1").arg(path));
            return true;
        }
        if (rc == SSH_AUTH_ERROR)
            return false;
    }
    return false;
}

bool TSftpWorker::authenticate(const TSftpSettings &st, quint64 seq, QString &error)
{
    int rc = ssh_userauth_none(m_session, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return true;
    if (rc == SSH_AUTH_ERROR) {
        error = QStringLiteral("Login failed: ") + sshError();
        return false;
    }
    const int methods = ssh_userauth_list(m_session, nullptr);
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        if (!qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK")) {
            rc = ssh_userauth_agent(m_session, nullptr);
            if (rc == SSH_AUTH_SUCCESS) {
                log(QStringLiteral("! Logged in with a key of the agent"));
                return true;
            }
        }
        if (tryKeys(st, seq))
            return true;
        if (!ssh_is_connected(m_session)) {
            error = QStringLiteral("Login failed: ") + sshError();
            return false;
        }
    }
    if (cancelled(seq)) {
        error = QStringLiteral("Login cancelled");
        return false;
    }
    if (!st.password.isEmpty() && (methods & SSH_AUTH_METHOD_PASSWORD)) {
        rc = ssh_userauth_password(m_session, nullptr, st.password.constData());
        if (rc == SSH_AUTH_SUCCESS)
            return true;
    }
    if (!st.password.isEmpty() && (methods & SSH_AUTH_METHOD_INTERACTIVE) && ssh_is_connected(m_session)) {
        // Servers that ask for the password through keyboard-interactive prompts get it there.
        rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
        for (int round = 0; rc == SSH_AUTH_INFO && round < 4; ++round) {
            const int n = ssh_userauth_kbdint_getnprompts(m_session);
            for (int i = 0; i < n; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(m_session, unsigned(i), &echo);
                ssh_userauth_kbdint_setanswer(m_session, unsigned(i), echo ? "" : st.password.constData());
            }
            rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
        }
        if (rc == SSH_AUTH_SUCCESS)
            return true;
    }
    if (!ssh_is_connected(m_session))
        error = QStringLiteral("Login failed: ") + sshError();
    else if (st.password.isEmpty())
        error = QStringLiteral("Login refused for %1: no key was accepted and no password is set").arg(QString::fromUtf8(st.user));
    else
        error = QStringLiteral("Login refused for %1: wrong password or key").arg(QString::fromUtf8(st.user));
    return false;
}

TSftpResult TSftpWorker::connectTo(const TSftpSettings &st, quint64 seq)
{
    TSftpResult r;
    r.op = TSftpOp::Connect;
    if (m_sftp) {
        r.error = QStringLiteral("Already connected to ") + QString::fromUtf8(m_hostLabel);
        return r;
    }
    teardown();
    const QByteArray shown = st.host.contains(':') ? '[' + st.host + ']' : st.host;
    m_hostLabel = st.port == 22 ? shown : shown + ':' + QByteArray::number(st.port);
    log(QStringLiteral("> connect %1").arg(QString::fromUtf8(m_hostLabel)));
    m_session = ssh_new();
    if (!m_session) {
        r.error = QStringLiteral("Out of memory");
        return r;
    }
    // The user's own files only, named from this program's idea of home (so a test's private home
    // is really used): no other configuration file is read behind our back.
    int no = 0;
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, st.host.constData());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &st.port);
    if (!st.user.isEmpty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, st.user.constData());
    const QByteArray sshDir = QFile::encodeName(st.sshDir);
    const QByteArray known = QFile::encodeName(st.knownHosts);
    ssh_options_set(m_session, SSH_OPTIONS_SSH_DIR, sshDir.constData());
    ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, known.constData());
    const QByteArray userConfig = sshDir + "/config";
    if (QFileInfo::exists(QFile::decodeName(userConfig)))
        ssh_options_parse_config(m_session, userConfig.constData());
    // The config may name another host or port; what the caller asked for wins.
    ssh_options_set(m_session, SSH_OPTIONS_HOST, st.host.constData());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &st.port);
    if (!st.user.isEmpty())
        ssh_options_set(m_session, SSH_OPTIONS_USER, st.user.constData());
    m_timeoutMs = st.timeout * 1000;
    long timeout = st.timeout;
    if (timeout > 0)
        ssh_options_set(m_session, SSH_OPTIONS_TIMEOUT, &timeout);

    QString error;
    if (!openSocket(st, seq, error)) {
        r.error = error;
        teardown();
        return r;
    }
    if (ssh_connect(m_session) != SSH_OK) {
        r.error = QStringLiteral("SSH connection to %1 failed: %2").arg(QString::fromUtf8(m_hostLabel), sshError());
        teardown();
        return r;
    }
    if (!checkHostKey(st, seq, error) || !authenticate(st, seq, error)) {
        r.error = error;
        teardown();
        return r;
    }
    m_sftp = sftp_new(m_session);
    if (!m_sftp || sftp_init(m_sftp) != SSH_OK) {
        r.error = QStringLiteral("The server offers no SFTP: ") + sshError();
        teardown();
        return r;
    }
    char *home = sftp_canonicalize_path(m_sftp, ".");
    m_cwd = home ? QByteArray(home) : QByteArray("/");
    ssh_string_free_char(home);
    log(QStringLiteral("! Connected to %1, folder %2").arg(QString::fromUtf8(m_hostLabel), decodeName(m_cwd)));
    r.ok = true;
    r.path = m_cwd;
    return r;
}

TSftpResult TSftpWorker::list(const QByteArray &folder)
{
    TSftpResult r;
    r.op = TSftpOp::List;
    const QByteArray path = folder.isEmpty() ? m_cwd : absolute(folder);
    r.path = path;
    log(QStringLiteral("> list ") + decodeName(path));
    sftp_dir dir = sftp_opendir(m_sftp, path.constData());
    if (!dir) {
        r.error = QStringLiteral("Cannot list %1: %2").arg(decodeName(path), sftpError());
        return r;
    }
    while (sftp_attributes a = sftp_readdir(m_sftp, dir)) {
        TSftpEntry e;
        e.name = QByteArray(a->name ? a->name : "");
        if (e.name == "." || e.name == "..") {
            sftp_attributes_free(a);
            continue;
        }
        e.displayName = decodeName(e.name);
        e.size = qint64(a->size);
        if (a->flags & SSH_FILEXFER_ATTR_ACMODTIME)
            e.modified = QDateTime::fromSecsSinceEpoch(qint64(a->mtime), Qt::UTC);
        e.permissions = a->permissions;
        switch (a->type) {
        case SSH_FILEXFER_TYPE_REGULAR: e.type = TSftpEntry::File; break;
        case SSH_FILEXFER_TYPE_DIRECTORY: e.type = TSftpEntry::Folder; break;
        case SSH_FILEXFER_TYPE_SYMLINK: e.type = TSftpEntry::Link; break;
        default: e.type = TSftpEntry::Other; break;
        }
        sftp_attributes_free(a);
        if (e.type == TSftpEntry::Link && !e.name.contains('\0')) {
            if (sftp_attributes t = sftp_stat(m_sftp, TSftpClient::joinPath(path, e.name).constData())) {
                e.linkToFolder = t->type == SSH_FILEXFER_TYPE_DIRECTORY;
                sftp_attributes_free(t);
            }
        }
        r.entries << e;
    }
    const bool eof = sftp_dir_eof(dir);
    sftp_closedir(dir);
    if (!eof) {
        r.error = QStringLiteral("Cannot list %1: %2").arg(decodeName(path), sftpError());
        r.entries.clear();
        return r;
    }
    r.ok = true;
    return r;
}

TSftpResult TSftpWorker::changeDir(const QByteArray &folder)
{
    TSftpResult r;
    r.op = TSftpOp::ChangeDir;
    const QByteArray want = absolute(folder);
    log(QStringLiteral("> cd ") + decodeName(want));
    char *canon = sftp_canonicalize_path(m_sftp, want.constData());
    if (!canon) {
        r.error = QStringLiteral("Cannot change to %1: %2").arg(decodeName(want), sftpError());
        return r;
    }
    const QByteArray path(canon);
    ssh_string_free_char(canon);
    sftp_attributes a = sftp_stat(m_sftp, path.constData());
    if (!a) {
        r.error = QStringLiteral("Cannot change to %1: %2").arg(decodeName(want), sftpError());
        return r;
    }
    const bool isDir = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
    sftp_attributes_free(a);
    if (!isDir) {
        r.error = QStringLiteral("Cannot change to %1: not a folder").arg(decodeName(want));
        return r;
    }
    m_cwd = path;
    r.ok = true;
    r.path = path;
    return r;
}

TSftpResult TSftpWorker::download(const QByteArray &remoteName, const QString &localFolder, bool resume, quint64 seq)
{
    TSftpResult r;
    r.op = TSftpOp::Download;
    const QByteArray remote = absolute(remoteName);
    r.path = remote;
    const QByteArray localPath = QFile::encodeName(localFolder) + '/' + remoteName;
    r.localFile = QFile::decodeName(localPath);
    log(QStringLiteral("> get %1 %2").arg(decodeName(remote), r.localFile));
    if (!TSftpClient::isSafeLocalName(remoteName)) {
        r.localFile.clear();
        r.error = QStringLiteral("Refused to download \"%1\": the name would leave the local folder").arg(decodeName(remoteName));
        return r;
    }
    if (cancelled(seq)) {
        r.cancelled = true;
        r.error = QStringLiteral("Download cancelled");
        return r;
    }
    sftp_file rf = sftp_open(m_sftp, remote.constData(), O_RDONLY, 0);
    if (!rf) {
        r.error = QStringLiteral("Cannot open %1: %2").arg(decodeName(remote), sftpError());
        return r;
    }
    qint64 total = -1;
    if (sftp_attributes a = sftp_fstat(rf)) {
        if (a->type == SSH_FILEXFER_TYPE_DIRECTORY) {
            sftp_attributes_free(a);
            sftp_close(rf);
            r.error = QStringLiteral("Cannot download %1: it is a folder").arg(decodeName(remote));
            return r;
        }
        if (a->flags & SSH_FILEXFER_ATTR_SIZE)
            total = qint64(a->size);
        sftp_attributes_free(a);
    }
    struct stat before {};
    const bool existed = ::stat(localPath.constData(), &before) == 0;
    const int fd = ::open(localPath.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (resume ? 0 : O_TRUNC), 0666);
    if (fd < 0) {
        const int err = errno;
        sftp_close(rf);
        r.error = QStringLiteral("Cannot write %1: %2").arg(r.localFile, QString::fromLocal8Bit(std::strerror(err)));
        return r;
    }
    qint64 start = 0;
    if (resume) {
        struct stat st {};
        ::fstat(fd, &st);
        start = st.st_size;
        if (total >= 0 && start > total) {
            ::close(fd);
            sftp_close(rf);
            r.error = QStringLiteral("Cannot resume %1: the local file (%2 bytes) is larger than the remote one (%3 bytes)")
                          .arg(r.localFile).arg(start).arg(total);
            return r;
        }
    }
    r.resumedFrom = start;
    m_progressClock.invalidate();
    progress(start, total, true);

    struct Req {
        int id;
        uint64_t offset;
        uint32_t len;
    };
    std::deque<Req> queue;
    std::vector<char> buf(kBlock);
    uint64_t next = uint64_t(start);
    bool eof = false;
    qint64 done = 0;
    QString failure;
    bool stopped = false;
    while (true) {
        // Past the known size one request at a time: it only finds the end (or a file that grew).
        while (!eof && !stopped && failure.isEmpty()
               && int(queue.size()) < ((total < 0 || next < uint64_t(total)) ? kReadAhead : 1)) {
            sftp_seek64(rf, next);
            const int id = sftp_async_read_begin(rf, kBlock);
            if (id < 0) {
                failure = sftpError();
                break;
            }
            queue.push_back({id, next, kBlock});
            next += kBlock;
        }
        if (queue.empty())
            break;
        const Req q = queue.front();
        queue.pop_front();
        sftp_seek64(rf, q.offset);  // clears the end-of-file mark, so every answer is collected
        const int n = sftp_async_read(rf, buf.data(), kBlock, uint32_t(q.id));
        if (n < 0) {
            if (failure.isEmpty())
                failure = sftpError();
            if (!ssh_is_connected(m_session))
                break;  // nothing more will come
            continue;
        }
        if (n == 0) {
            eof = true;
            continue;
        }
        if (!failure.isEmpty() || stopped)
            continue;  // draining the answers to requests already sent
        if (!pwriteAll(fd, buf.data(), size_t(n), off_t(q.offset))) {
            failure = QStringLiteral("cannot write %1: %2").arg(r.localFile, QString::fromLocal8Bit(std::strerror(errno)));
            continue;
        }
        done += n;
        if (uint32_t(n) < q.len && !eof) {
            // A short answer before the end: ask again for the rest of that block.
            sftp_seek64(rf, q.offset + uint64_t(n));
            const int id = sftp_async_read_begin(rf, q.len - uint32_t(n));
            if (id < 0)
                failure = sftpError();
            else
                queue.push_back({id, q.offset + uint64_t(n), q.len - uint32_t(n)});
        }
        progress(start + done, total, false);
        if (cancelled(seq))
            stopped = true;
    }
    // Writes past a hole the server left (short answers) are not possible: requests cover every
    // byte, so the file ends where the data ended.
    if (failure.isEmpty() && !stopped)
        ::ftruncate(fd, off_t(start + done));
    const bool closeOk = ::close(fd) == 0;
    sftp_close(rf);  // on a lost session it only frees the handle
    if (failure.isEmpty() && !stopped && !closeOk)
        failure = QStringLiteral("cannot write %1: %2").arg(r.localFile, QString::fromLocal8Bit(std::strerror(errno)));
    r.bytes = done;
    progress(start + done, total, true);
    if (failure.isEmpty() && !stopped) {
        log(QStringLiteral("! %1 bytes received").arg(done));
        r.ok = true;
        return r;
    }
    // As the FTP downloads do: a file made here that got nothing goes; anything received stays for
    // resuming.
    struct stat after {};
    if (!existed && ::stat(localPath.constData(), &after) == 0 && after.st_size == 0) {
        ::unlink(localPath.constData());
    } else if (start + done > 0) {
        log(QStringLiteral("! Download incomplete: %1 bytes kept in %2 for resuming").arg(start + done).arg(r.localFile));
    }
    r.cancelled = stopped && failure.isEmpty();
    r.error = r.cancelled ? QStringLiteral("Download of %1 cancelled").arg(decodeName(remote))
                          : QStringLiteral("Download of %1 failed: %2").arg(decodeName(remote), failure);
    return r;
}

TSftpResult TSftpWorker::upload(const QString &localFile, const QByteArray &remoteName, bool resume, quint64 seq)
{
    TSftpResult r;
    r.op = TSftpOp::Upload;
    const QByteArray remote = absolute(remoteName);
    r.path = remote;
    r.localFile = localFile;
    log(QStringLiteral("> put %1 %2").arg(localFile, decodeName(remote)));
    if (cancelled(seq)) {
        r.cancelled = true;
        r.error = QStringLiteral("Upload cancelled");
        return r;
    }
    const int fd = ::open(QFile::encodeName(localFile).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.error = QStringLiteral("Cannot read %1: %2").arg(localFile, QString::fromLocal8Bit(std::strerror(errno)));
        return r;
    }
    struct stat st {};
    ::fstat(fd, &st);
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        r.error = QStringLiteral("Cannot upload %1: it is a folder").arg(localFile);
        return r;
    }
    const qint64 total = st.st_size;
    qint64 start = 0;
    if (resume) {
        if (sftp_attributes a = sftp_stat(m_sftp, remote.constData())) {
            start = qint64(a->size);
            sftp_attributes_free(a);
        } else if (sftp_get_error(m_sftp) != SSH_FX_NO_SUCH_FILE) {
            ::close(fd);
            r.error = QStringLiteral("Cannot resume %1: %2").arg(decodeName(remote), sftpError());
            return r;
        }
        if (start > total) {
            ::close(fd);
            r.error = QStringLiteral("Cannot resume %1: the remote file (%2 bytes) is larger than the local one (%3 bytes)")
                          .arg(decodeName(remote)).arg(start).arg(total);
            return r;
        }
    }
    sftp_file wf = sftp_open(m_sftp, remote.constData(), O_WRONLY | O_CREAT | (start > 0 || resume ? 0 : O_TRUNC), 0644);
    if (!wf) {
        ::close(fd);
        r.error = QStringLiteral("Cannot create %1: %2").arg(decodeName(remote), sftpError());
        return r;
    }
    if (start > 0)
        sftp_seek64(wf, uint64_t(start));
    r.resumedFrom = start;
    m_progressClock.invalidate();
    progress(start, total, true);
    // libssh 0.10 waits for the server's answer after every sftp_write, so a block would cost a
    // round trip. The write requests go on the SFTP channel directly instead, kWriteAhead at a
    // time, and their answers are read back here before libssh reads the channel again.
    std::vector<char> packet(kBlock + 64 + ssh_string_len(wf->handle));
    std::deque<uint32_t> inFlight;
    qint64 done = 0;
    qint64 acked = 0;
    QString failure;
    bool stopped = false;
    bool broken = false;  // the channel is out of step: the session must go
    off_t pos = off_t(start);
    bool eof = false;
    std::deque<uint32_t> sizes;
    while (true) {
        while (!eof && !stopped && failure.isEmpty() && int(inFlight.size()) < kWriteAhead) {
            if (cancelled(seq)) {
                stopped = true;
                break;
            }
            const size_t hlen = ssh_string_len(wf->handle);
            const size_t head = 4 + 1 + 4 + 4 + hlen + 8 + 4;
            const ssize_t n = ::pread(fd, packet.data() + head, kBlock, pos);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                failure = QStringLiteral("cannot read %1: %2").arg(localFile, QString::fromLocal8Bit(std::strerror(errno)));
                break;
            }
            if (n == 0) {
                eof = true;
                break;
            }
            const uint32_t id = ++m_sftp->id_counter;
            char *p = packet.data();
            const auto put32 = [&p](uint32_t v) {
                *p++ = char(v >> 24);
                *p++ = char(v >> 16);
                *p++ = char(v >> 8);
                *p++ = char(v);
            };
            put32(uint32_t(head - 4 + size_t(n)));
            *p++ = char(SSH_FXP_WRITE);
            put32(id);
            put32(uint32_t(hlen));
            std::memcpy(p, ssh_string_data(wf->handle), hlen);
            p += hlen;
            put32(uint32_t(uint64_t(pos) >> 32));
            put32(uint32_t(uint64_t(pos)));
            put32(uint32_t(n));
            const uint32_t total_len = uint32_t(head + size_t(n));
            if (ssh_channel_write(m_sftp->channel, packet.data(), total_len) != int(total_len)) {
                failure = sftpError();
                broken = true;
                break;
            }
            inFlight.push_back(id);
            sizes.push_back(uint32_t(n));
            pos += n;
            done += n;
        }
        if (inFlight.empty())
            break;
        // The answer to the oldest request: a status packet.
        unsigned char hdr[4];
        QString readError;
        if (!readChannel(hdr, 4, readError)) {
            failure = readError;
            broken = true;
            break;
        }
        const uint32_t len = uint32_t(hdr[0]) << 24 | uint32_t(hdr[1]) << 16 | uint32_t(hdr[2]) << 8 | hdr[3];
        if (len < 9 || len > 256 * 1024) {
            failure = QStringLiteral("the server sent a malformed answer");
            broken = true;
            break;
        }
        std::vector<unsigned char> reply(len);
        if (!readChannel(reply.data(), len, readError)) {
            failure = readError;
            broken = true;
            break;
        }
        const uint32_t rid = uint32_t(reply[1]) << 24 | uint32_t(reply[2]) << 16 | uint32_t(reply[3]) << 8 | reply[4];
        const auto it = std::find(inFlight.begin(), inFlight.end(), rid);
        if (reply[0] != SSH_FXP_STATUS || len < 9 || it == inFlight.end()) {
            failure = QStringLiteral("the server sent an unexpected answer");
            broken = true;
            break;
        }
        const uint32_t code = uint32_t(reply[5]) << 24 | uint32_t(reply[6]) << 16 | uint32_t(reply[7]) << 8 | reply[8];
        const qsizetype idx = it - inFlight.begin();
        const uint32_t blockSize = sizes[size_t(idx)];
        inFlight.erase(it);
        sizes.erase(sizes.begin() + idx);
        if (code != SSH_FX_OK) {
            if (failure.isEmpty())
                failure = sftpErrorText(int(code));
            continue;  // the others still have answers on the way
        }
        acked += blockSize;
        progress(start + acked, total, false);
    }
    if (broken) {
        // What libssh would read next is no longer a packet boundary: the session cannot go on.
        ::close(fd);
        r.bytes = acked;
        r.error = QStringLiteral("Upload of %1 failed: %2").arg(localFile, failure);
        if (!ssh_is_connected(m_session)) {
            sftp_close(wf);  // only frees the handle: nothing goes out on a lost connection
        } else {
            // A live channel out of step: its handle is left (closing would wait for an answer
            // that cannot be told apart), and the session goes.
            dropSession(QStringLiteral("Connection to %1 closed: %2").arg(QString::fromUtf8(m_hostLabel), failure));
        }
        return r;
    }
    done = acked;
    ::close(fd);
    if (sftp_close(wf) != SSH_OK && failure.isEmpty() && !stopped)
        failure = sftpError();
    r.bytes = done;
    progress(start + done, total, true);
    if (failure.isEmpty() && !stopped) {
        log(QStringLiteral("! %1 bytes sent").arg(done));
        r.ok = true;
        return r;
    }
    r.cancelled = stopped && failure.isEmpty();
    r.error = r.cancelled ? QStringLiteral("Upload of %1 cancelled").arg(localFile)
                          : QStringLiteral("Upload of %1 failed: %2").arg(localFile, failure);
    return r;
}

TSftpResult TSftpWorker::simple(TSftpOp op, const QByteArray &a, const QByteArray &b)
{
    TSftpResult r;
    r.op = op;
    const QByteArray path = absolute(a);
    r.path = path;
    int rc = SSH_ERROR;
    QString what;
    switch (op) {
    case TSftpOp::Delete:
        what = QStringLiteral("delete");
        rc = sftp_unlink(m_sftp, path.constData());
        break;
    case TSftpOp::MakeDir:
        what = QStringLiteral("make folder");
        rc = sftp_mkdir(m_sftp, path.constData(), 0755);
        break;
    case TSftpOp::RemoveDir:
        what = QStringLiteral("remove folder");
        rc = sftp_rmdir(m_sftp, path.constData());
        break;
    case TSftpOp::Rename:
        what = QStringLiteral("rename");
        rc = sftp_rename(m_sftp, path.constData(), absolute(b).constData());
        break;
    default:
        break;
    }
    log(QStringLiteral("> %1 %2%3").arg(what, decodeName(path), b.isEmpty() ? QString() : QStringLiteral(" ") + decodeName(absolute(b))));
    if (rc != SSH_OK) {
        QString target = decodeName(path);
        if (op == TSftpOp::Rename)
            target += QStringLiteral(" to ") + decodeName(absolute(b));
        r.error = QStringLiteral("Cannot %1 %2: %3").arg(what, target, sftpError());
        return r;
    }
    r.ok = true;
    return r;
}

TSftpResult TSftpWorker::disconnect()
{
    TSftpResult r;
    r.op = TSftpOp::Disconnect;
    const bool was = m_session != nullptr;
    teardown();
    if (was) {
        log(QStringLiteral("> disconnect"));
        TSftpClient *c = m_client;
        toClient([c] { emit c->disconnected(QString()); });
    }
    r.ok = true;
    return r;
}

// --- The client ----------------------------------------------------------------------------------

TSftpClient::TSftpClient(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<TSftpEntry>();
    qRegisterMetaType<TSftpHostKey>();
    qRegisterMetaType<TSftpResult>();
    m_worker = std::make_shared<TSftpWorker>(this);
}

TSftpClient::~TSftpClient()
{
    m_worker.reset();  // stops the thread before this object goes
}

QString TSftpClient::sshDir() const
{
    return m_sshDir.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh") : m_sshDir;
}

QString TSftpClient::knownHostsFile() const
{
    return m_knownHosts.isEmpty() ? sshDir() + QStringLiteral("/known_hosts") : m_knownHosts;
}

bool TSftpClient::isSafeLocalName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

QByteArray TSftpClient::joinPath(const QByteArray &folder, const QByteArray &name)
{
    if (name.startsWith('/') || folder.isEmpty())
        return name;
    if (name.isEmpty())
        return folder;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

void TSftpClient::post(std::function<void(TSftpWorker &, quint64)> job)
{
    ++m_pending;
    const quint64 seq = ++m_seq;
    TSftpWorker *w = m_worker.get();
    QMetaObject::invokeMethod(w->context(), [w, seq, job = std::move(job)] { job(*w, seq); }, Qt::QueuedConnection);
}

struct TSftpJobs {
    // Runs one operation on the worker and hands its result, with the session's state, to the client.
    // Names with a NUL byte never reach libssh, whose C strings would end there and name another file.
    template <typename F>
    static std::function<void(TSftpWorker &, quint64)> make(TSftpClient *client, TSftpOp op, QList<QByteArray> names, F &&f,
                                                           bool needsSession = true)
    {
        return [client, op, names, f = std::forward<F>(f), needsSession](TSftpWorker &w, quint64 seq) {
            if (w.stopping())
                return;  // the client is going: nobody waits for this any more
            TSftpResult r;
            r.op = op;
            bool nul = false;
            for (const QByteArray &n : names)
                nul = nul || n.contains('\0');
            if (nul) {
                r.error = QStringLiteral("Refused: the name \"%1\" holds a NUL byte").arg(decodeName(names.value(0)));
            } else if (needsSession && !w.connected()) {
                r.error = QStringLiteral("Not connected");
            } else {
                r = f(w, seq);
                if (!r.ok)
                    w.checkAlive(r);
            }
            const bool connected = w.connected();
            const QByteArray cwd = w.cwd();
            w.toClient([client, r, connected, cwd] { client->applyResult(r, connected, cwd); });
        };
    }
};

void TSftpClient::connectToHost()
{
    TSftpSettings st;
    QString h = m_host.trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    st.host = h.toUtf8();
    st.port = m_port > 0 && m_port < 65536 ? m_port : 22;
    st.user = m_user.toUtf8();
    st.password = m_password.toUtf8();
    st.sshDir = sshDir();
    st.knownHosts = knownHostsFile();
    st.timeout = m_timeout;
    post(TSftpJobs::make(this, TSftpOp::Connect, {}, [st](TSftpWorker &w, quint64 seq) { return w.connectTo(st, seq); }, false));
}

void TSftpClient::list(const QByteArray &folder)
{
    post(TSftpJobs::make(this, TSftpOp::List, {folder}, [folder](TSftpWorker &w, quint64) { return w.list(folder); }));
}

void TSftpClient::changeDir(const QByteArray &folder)
{
    post(TSftpJobs::make(this, TSftpOp::ChangeDir, {folder}, [folder](TSftpWorker &w, quint64) { return w.changeDir(folder); }));
}

void TSftpClient::upload(const QString &localFile, const QByteArray &remoteName, bool resume)
{
    post(TSftpJobs::make(this, TSftpOp::Upload, {remoteName}, [=](TSftpWorker &w, quint64 seq) {
        return w.upload(localFile, remoteName, resume, seq);
    }));
}

void TSftpClient::download(const QByteArray &remoteName, const QString &localFolder, bool resume)
{
    post(TSftpJobs::make(this, TSftpOp::Download, {}, [=](TSftpWorker &w, quint64 seq) {
        return w.download(remoteName, localFolder, resume, seq);
    }));
}

void TSftpClient::remove(const QByteArray &name)
{
    post(TSftpJobs::make(this, TSftpOp::Delete, {name}, [=](TSftpWorker &w, quint64) { return w.simple(TSftpOp::Delete, name, {}); }));
}

void TSftpClient::makeDir(const QByteArray &name)
{
    post(TSftpJobs::make(this, TSftpOp::MakeDir, {name}, [=](TSftpWorker &w, quint64) { return w.simple(TSftpOp::MakeDir, name, {}); }));
}

void TSftpClient::removeDir(const QByteArray &name)
{
    post(TSftpJobs::make(this, TSftpOp::RemoveDir, {name}, [=](TSftpWorker &w, quint64) { return w.simple(TSftpOp::RemoveDir, name, {}); }));
}

void TSftpClient::rename(const QByteArray &from, const QByteArray &to)
{
    post(TSftpJobs::make(this, TSftpOp::Rename, {from, to}, [=](TSftpWorker &w, quint64) { return w.simple(TSftpOp::Rename, from, to); }));
}

void TSftpClient::disconnectFromHost()
{
    post(TSftpJobs::make(this, TSftpOp::Disconnect, {}, [](TSftpWorker &w, quint64) { return w.disconnect(); }, false));
}

void TSftpClient::cancel() { m_worker->cancelUpTo(m_seq); }

void TSftpClient::answerHostKey(bool trust) { m_worker->answerHostKey(trust); }

void TSftpClient::answerPassphrase(const QString &passphrase, bool given) { m_worker->answerPassphrase(passphrase, given); }

void TSftpClient::applyResult(const TSftpResult &r, bool connected, const QByteArray &cwd)
{
    --m_pending;
    m_connected = connected;
    m_cwd = connected ? cwd : QByteArray();
    emit finished(r);
}
