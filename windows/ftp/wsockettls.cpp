// The TLS side of the socket: one client context for the process, a socket BIO that never raises SIGPIPE,
// the handshake driven by the socket's notifiers, and what the certificate check found.
#include "windows/ftp/wsocket.h"
#include "windows/ftp/wsocketaddr.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {
SSL_CTX *clientContext()
{
    // One context for the process: the system's CA store, TLS 1.2 at least, client-side session
    // cache so that data connections can resume the control connection's session.
    static SSL_CTX *ctx = [] {
        SSL_CTX *c = SSL_CTX_new(TLS_client_method());
        if (c) {
            SSL_CTX_set_default_verify_paths(c);
            SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
            // FTP servers tie every data connection to the control connection's session; a TLS 1.2
            // session resumes any number of times, a TLS 1.3 ticket once (and servers differ in
            // handing out new ones), so FTP stays on TLS 1.2.
            SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
            SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
            // Verification runs and its result is kept; whether to go on is the caller's question.
            SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        }
        return c;
    }();
    return ctx;
}

// OpenSSL's socket BIO writes with write(), and a write to a connection the peer has reset raises SIGPIPE,
// which ends the program (a close_notify or alert after a reset, a transfer cut by the server). This BIO is
// the socket BIO with its writes made by send() with MSG_NOSIGNAL, so that a reset is an EPIPE like any
// other error of the connection; reads, controls and the descriptor stay the socket BIO's own.
int sendNoSignal(BIO *b, const char *data, int len)
{
    int fd = -1;
    BIO_get_fd(b, &fd);
    errno = 0;
    const ssize_t n = ::send(fd, data, size_t(std::max(0, len)), MSG_NOSIGNAL);
    BIO_clear_retry_flags(b);
    if (n <= 0 && BIO_sock_should_retry(int(n)))
        BIO_set_retry_write(b);
    return int(n);
}

int putsNoSignal(BIO *b, const char *text)
{
    return sendNoSignal(b, text, int(std::strlen(text)));
}

const BIO_METHOD *socketWithoutSigpipe()
{
    static BIO_METHOD *method = [] {
        const BIO_METHOD *plain = BIO_s_socket();
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                     "socket without SIGPIPE");
        if (m && (!BIO_meth_set_write(m, sendNoSignal) || !BIO_meth_set_puts(m, putsNoSignal)
                  || !BIO_meth_set_read(m, BIO_meth_get_read(plain)) || !BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(plain))
                  || !BIO_meth_set_create(m, BIO_meth_get_create(plain))
                  || !BIO_meth_set_destroy(m, BIO_meth_get_destroy(plain)))) {
            BIO_meth_free(m);
            m = nullptr;
        }
        return m;
    }();
    return method;
}

QString lastSslError()
{
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    return e ? QString::fromLatin1(ERR_error_string(e, nullptr)) : QStringLiteral("TLS handshake failed");
}
} // namespace

void TCustomWSocket::StartTls(const QString &serverName, TCustomWSocket *resumeFrom)
{
    if (m_state != wsConnected || m_fd < 0 || m_ssl) {
        raiseError(QStringLiteral("StartTls: not a connected plain socket"));
        return;
    }
    SSL_CTX *ctx = clientContext();
    m_ssl = ctx ? SSL_new(ctx) : nullptr;
    if (!m_ssl) {
        raiseError(QStringLiteral("StartTls: ") + lastSslError());
        return;
    }
    const BIO_METHOD *method = socketWithoutSigpipe();
    BIO *bio = method ? BIO_new(method) : nullptr;
    if (!bio) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
        raiseError(QStringLiteral("StartTls: ") + lastSslError());
        return;
    }
    BIO_set_fd(bio, m_fd, BIO_NOCLOSE);
    SSL_set_bio(m_ssl, bio, bio);
    SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    const QByteArray name = serverName.trimmed().toUtf8();
    sockaddr_storage numeric{};
    socklen_t nlen = 0;
    X509_VERIFY_PARAM *param = SSL_get0_param(m_ssl);
    if (wsock::parseNumeric(serverName, numeric, nlen)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, wsock::addrText(numeric).toLatin1().constData());
    } else if (!name.isEmpty()) {
        SSL_set_tlsext_host_name(m_ssl, name.constData());
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(m_ssl, name.constData());
    }
    m_resumeFrom = resumeFrom;
    if (resumeFrom && resumeFrom->m_ssl) {
        SSL_SESSION *s = resumeFrom->m_nextSession;
        resumeFrom->m_nextSession = nullptr;
        if (!s)
            s = SSL_get1_session(resumeFrom->m_ssl);
        if (s) {
            SSL_set_session(m_ssl, s);
            SSL_SESSION_free(s);
        }
    }
    if (m_record.size() < size_t(kTlsRecord))
        m_record.resize(size_t(kTlsRecord));
    m_handshaking = true;
    m_tlsPeerClosed = false;
    m_tlsError.clear();
    // The outcome never arrives inside this call.
    const quint64 gen = m_generation;
    QMetaObject::invokeMethod(this, [this, gen] {
        if (gen == m_generation && m_handshaking && !m_paused)
            continueHandshake();
    }, Qt::QueuedConnection);
}

void TCustomWSocket::continueHandshake()
{
    if (!m_ssl || !m_handshaking)
        return;
    ERR_clear_error();
    const int r = SSL_connect(m_ssl);
    if (r == 1) {
        m_handshaking = false;
        if (m_readNotifier)
            m_readNotifier->setEnabled(!m_paused);
        const quint64 gen = m_generation;
        QPointer<TCustomWSocket> guard(this);
        fire(OnTlsDone, 0);
        if (!guard || gen != m_generation || m_fd < 0)
            return;
        // What was queued during the handshake goes out now.
        const bool queued = m_queued > 0;
        tryToSend();
        if (gen != m_generation || m_fd < 0)
            return;
        updateWriteNotifier();
        if (queued && m_allSent && OnDataSent)
            fire(OnDataSent, 0);
        return;
    }
    const int e = SSL_get_error(m_ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        if (m_readNotifier) {
            m_readNotifier->setEnabled(e == SSL_ERROR_WANT_READ);
            m_writeNotifier->setEnabled(e == SSL_ERROR_WANT_WRITE);
        }
        return;
    }
    m_tlsError = lastSslError();
    if (e == SSL_ERROR_SYSCALL && m_tlsError == QLatin1String("TLS handshake failed"))
        m_tlsError = QStringLiteral("the server closed the connection during the TLS handshake");
    m_handshaking = false;
    // A failed session is no session: the socket must not fall back to plain text.
    SSL_free(m_ssl);
    m_ssl = nullptr;
    const quint64 gen = m_generation;
    QPointer<TCustomWSocket> guard(this);
    fire(OnTlsDone, wsaerr::ConnAborted);
    if (guard && gen == m_generation && m_state != wsClosed)
        Close();
}

void TCustomWSocket::freeTls(bool notify)
{
    if (m_nextSession) {
        SSL_SESSION_free(m_nextSession);
        m_nextSession = nullptr;
    }
    if (!m_ssl)
        return;
    if (!m_handshaking && m_resumeFrom && m_resumeFrom->m_ssl) {
        SSL_SESSION *s = SSL_get1_session(m_ssl);
        if (s && SSL_SESSION_is_resumable(s)) {
            if (m_resumeFrom->m_nextSession)
                SSL_SESSION_free(m_resumeFrom->m_nextSession);
            m_resumeFrom->m_nextSession = s;
        } else if (s) {
            SSL_SESSION_free(s);
        }
    }
    m_resumeFrom = nullptr;
    if (notify && !m_handshaking && m_fd >= 0)
        SSL_shutdown(m_ssl);  // close_notify, without waiting for the answer
    SSL_free(m_ssl);
    m_ssl = nullptr;
    m_handshaking = false;
    m_tlsPeerClosed = false;
}

long TCustomWSocket::TlsVerifyResult() const
{
    return m_ssl ? SSL_get_verify_result(m_ssl) : X509_V_ERR_UNSPECIFIED;
}

QString TCustomWSocket::TlsVerifyText() const
{
    return QString::fromLatin1(X509_verify_cert_error_string(TlsVerifyResult()));
}

QString TCustomWSocket::TlsVersion() const
{
    return m_ssl ? QString::fromLatin1(SSL_get_version(m_ssl)) : QString();
}

bool TCustomWSocket::TlsSessionReused() const
{
    return m_ssl && SSL_session_reused(m_ssl) == 1;
}

QString TCustomWSocket::TlsFingerprint() const
{
    if (!m_ssl)
        return {};
    X509 *cert = SSL_get1_peer_certificate(m_ssl);
    if (!cert)
        return {};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert, EVP_sha256(), md, &n);
    X509_free(cert);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(md), int(n)).toHex(':').toUpper());
}

QString TCustomWSocket::TlsCertificateText() const
{
    if (!m_ssl)
        return {};
    X509 *cert = SSL_get1_peer_certificate(m_ssl);
    if (!cert)
        return {};
    auto line = [](X509_NAME *name) {
        BIO *b = BIO_new(BIO_s_mem());
        X509_NAME_print_ex(b, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
        char *p = nullptr;
        const long len = BIO_get_mem_data(b, &p);
        const QString s = QString::fromUtf8(p, int(len));
        BIO_free(b);
        return s;
    };
    auto time = [](const ASN1_TIME *t) {
        BIO *b = BIO_new(BIO_s_mem());
        ASN1_TIME_print(b, t);
        char *p = nullptr;
        const long len = BIO_get_mem_data(b, &p);
        const QString s = QString::fromLatin1(p, int(len));
        BIO_free(b);
        return s;
    };
    const QString text = QStringLiteral("Subject: %1\nIssuer: %2\nValid from %3 to %4\nSHA-256 fingerprint: %5")
                             .arg(line(X509_get_subject_name(cert)), line(X509_get_issuer_name(cert)),
                                  time(X509_get0_notBefore(cert)), time(X509_get0_notAfter(cert)), TlsFingerprint());
    X509_free(cert);
    return text;
}
