#include "windows/ftp/wsocket.h"
#include "windows/ftp/wsocketaddr.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

using wsock::addrText;
using wsock::parseNumeric;

struct TCustomWSocket::Chunk {
    explicit Chunk(int size) : data(new char[size]), size(size) {}
    std::unique_ptr<char[]> data;
    int size;
    int wr = 0;  // bytes stored
    int rd = 0;  // bytes already handed to the stack
};

QString SocketErrorText(int code)
{
    switch (code) {
    case 0: return QStringLiteral("No Error");
    case 10004: return QStringLiteral("Interrupted system call");
    case 10009: return QStringLiteral("Bad file number");
    case 10013: return QStringLiteral("Permission denied");
    case 10014: return QStringLiteral("Bad address");
    case 10022: return QStringLiteral("Invalid argument");
    case 10024: return QStringLiteral("Too many open files");
    case 10035: return QStringLiteral("Operation would block");
    case 10036: return QStringLiteral("Operation now in progress");
    case 10037: return QStringLiteral("Operation already in progress");
    case 10038: return QStringLiteral("Socket operation on non-socket");
    case 10039: return QStringLiteral("Destination address required");
    case 10040: return QStringLiteral("Message too long");
    case 10041: return QStringLiteral("Protocol wrong type for socket");
    case 10042: return QStringLiteral("Protocol not available");
    case 10043: return QStringLiteral("Protocol not supported");
    case 10044: return QStringLiteral("Socket type not supported");
    case 10045: return QStringLiteral("Operation not supported on socket");
    case 10046: return QStringLiteral("Protocol family not supported");
    case 10047: return QStringLiteral("Address family not supported by protocol family");
    case 10048: return QStringLiteral("Address already in use");
    case 10049: return QStringLiteral("Address not available");
    case 10050: return QStringLiteral("Network is down");
    case 10051: return QStringLiteral("Network is unreachable");
    case 10052: return QStringLiteral("Network dropped connection on reset");
    case 10053: return QStringLiteral("Connection aborted");
    case 10054: return QStringLiteral("Connection reset by peer");
    case 10055: return QStringLiteral("No buffer space available");
    case 10056: return QStringLiteral("Socket is already connected");
    case 10057: return QStringLiteral("Socket is not connected");
    case 10058: return QStringLiteral("Can't send after socket shutdown");
    case 10059: return QStringLiteral("Too many references: can't splice");
    case 10060: return QStringLiteral("Connection timed out");
    case 10061: return QStringLiteral("Connection refused");
    case 10062: return QStringLiteral("Too many levels of symbolic links");
    case 10063: return QStringLiteral("File name too long");
    case 10064: return QStringLiteral("Host is down");
    case 10065: return QStringLiteral("No route to host");
    case 10066: return QStringLiteral("Directory not empty");
    case 10067: return QStringLiteral("Too many processes");
    case 10068: return QStringLiteral("Too many users");
    case 10069: return QStringLiteral("Disc quota exceeded");
    case 10070: return QStringLiteral("Stale NFS file handle");
    case 10071: return QStringLiteral("Too many levels of remote in path");
    case 10091: return QStringLiteral("Network sub-system is unusable");
    case 10092: return QStringLiteral("WinSock DLL cannot support this application");
    case 10093: return QStringLiteral("WinSock not initialized");
    case 11001: return QStringLiteral("Host not found");
    case 11002: return QStringLiteral("Non-authoritative host not found");
    case 11003: return QStringLiteral("Non-recoverable error");
    case 11004: return QStringLiteral("No Data");
    default: return QStringLiteral("Not a WinSock error");
    }
}

int WSocketErrnoToCode(int err)
{
    switch (err) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // A write to a connection the peer has reset: the same outcome for the caller.
    case EPIPE: case ECONNRESET: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return 10000 + err;  // keeps distinct codes; their text is "Not a WinSock error"
    }
}

static bool parseDotted(const QString &s, quint32 &out)
{
    in_addr a{};
    const QByteArray b = s.trimmed().toLatin1();
    if (b.isEmpty() || inet_pton(AF_INET, b.constData(), &a) != 1)
        return false;
    out = a.s_addr;
    return true;
}

bool wsock::parseNumeric(const QString &text, sockaddr_storage &out, socklen_t &len)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        t = t.mid(1, t.size() - 2);
    const QByteArray b = t.toLatin1();
    out = {};
    if (b.isEmpty())
        return false;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&out);
    if (inet_pton(AF_INET, b.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        len = sizeof(sockaddr_in);
        return true;
    }
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&out);
    if (inet_pton(AF_INET6, b.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        len = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

QString wsock::addrText(const sockaddr_storage &a)
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&a)->sin_addr, buf, sizeof buf);
    else if (a.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&a)->sin6_addr, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

static int addrPort(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&a)->sin_port);
    if (a.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&a)->sin6_port);
    return -1;
}

static void setSockPort(sockaddr_storage &a, quint16 port)
{
    if (a.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in *>(&a)->sin_port = htons(port);
}

// Resolves a host of either family: numeric first, then the resolver's first answer (whose
// order already prefers IPv6 where the machine can reach it).
static void resolveHostAny(const QString &host, sockaddr_storage &out, socklen_t &len)
{
    const QString name = host.trimmed();
    if (name.isEmpty() || host.size() > 256)
        throw ESocketException(QStringLiteral("WSocketResolveHost: Invalid Hostname."));
    if (parseNumeric(name, out, len))
        return;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &res) == 0 && res) {
        out = {};
        std::memcpy(&out, res->ai_addr, res->ai_addrlen);
        len = res->ai_addrlen;
        freeaddrinfo(res);
        return;
    }
    throw ESocketException(QStringLiteral("WSocketResolveHost: Cannot convert host address '%1'").arg(host));
}

static QString dotted(quint32 netOrder)
{
    in_addr a{};
    a.s_addr = netOrder;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

quint32 WSocketResolveHost(const QString &host)
{
    const QString name = host.trimmed();
    if (name.isEmpty() || host.size() > 256)
        throw ESocketException(QStringLiteral("WSocketResolveHost: Invalid Hostname."));
    quint32 a = 0;
    if (parseDotted(name, a))
        return a;
    if (name != QLatin1String("255.255.255.255")) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *res = nullptr;
        if (getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &res) == 0 && res) {
            a = reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr.s_addr;
            freeaddrinfo(res);
            return a;
        }
    }
    throw ESocketException(QStringLiteral("WSocketResolveHost: Cannot convert host address '%1'").arg(host));
}

quint16 WSocketResolvePort(const QString &port, const QString &proto)
{
    if (port.isEmpty() || port.size() >= 32)
        throw ESocketException(QStringLiteral("WSocketResolvePort: Invalid Port."));
    QString s = port;
    int i = 0;
    while (i < s.size() && s[i] == QLatin1Char(' '))
        ++i;
    if (i < s.size() && s[i].isDigit()) {
        quint32 v = 0;
        while (i < s.size() && s[i].isDigit() && v < 100000)
            v = v * 10 + quint32(s[i++].digitValue());
        return quint16(v);
    }
    const QByteArray n = port.trimmed().toLatin1();
    const QByteArray p = proto.trimmed().toLatin1();
    servent *se = getservbyname(n.constData(), p.isEmpty() ? nullptr : p.constData());
    if (!se)
        throw ESocketException(QStringLiteral("WSocketResolvePort: Cannot convert port '%1'").arg(port));
    return ntohs(quint16(se->s_port));
}

int WSocketResolveProto(const QString &proto)
{
    if (proto.isEmpty() || proto.size() >= 32)
        throw ESocketException(QStringLiteral("WSocketResolveProto: Invalid Protocol."));
    const QString s = proto.trimmed();
    if (!s.isEmpty() && s[0].isDigit()) {
        int v = 0, i = 0;
        while (i < s.size() && s[i].isDigit() && v < 100000)
            v = v * 10 + s[i++].digitValue();
        return v;
    }
    protoent *pe = getprotobyname(s.toLatin1().constData());
    if (pe)
        return pe->p_proto;
    // Minimal systems may lack /etc/protocols; the two names that matter are fixed.
    if (s.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0)
        return 6;
    if (s.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0)
        return 17;
    throw ESocketException(QStringLiteral("WSocketResolveProto: Cannot convert protocol '%1'").arg(proto));
}

QString WSocketPeerAddr(int handle)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (handle < 0 || getpeername(handle, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return {};
    return addrText(a);
}

// ---------------------------------------------------------------------------------------------

TCustomWSocket::TCustomWSocket(QObject *owner) : QObject(owner)
{
    applyDefaults();
}

TCustomWSocket::~TCustomWSocket()
{
    m_destroying = true;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    freeTls(false);
    if (m_fd >= 0) {
        detachNotifiers();
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
}

void TCustomWSocket::applyDefaults()
{
    m_sa = {};
    m_saLen = 0;
    m_sinPort = 0;
    m_addr.clear();
    m_port.clear();
    m_addrAssigned = m_portAssigned = false;
    m_addrResolved = m_portResolved = false;
    m_proto = QStringLiteral("tcp");
    m_protoAssigned = true;
    m_protoResolved = true;
    m_protoNum = 6;
    m_datagram = false;
    m_lingerOnOff = wsLingerOn;
    m_lingerTimeout = 0;
    m_fd = -1;
    if (m_state != wsClosed)
        setState(wsClosed);
    m_lastError = 0;
    m_paused = false;
    m_closeFired = false;
    m_buffer.clear();
    m_queued = 0;
    m_allSent = true;
}

void TCustomWSocket::setState(TSocketState s)
{
    const TSocketState old = m_state;
    m_state = s;
    if (OnChangeState) {
        try {
            OnChangeState(this, old, s);
        } catch (...) {
        }
    }
}

void TCustomWSocket::setAddr(const QString &value)
{
    const QString v = value.trimmed();
    if (v == m_addr && (m_addrAssigned || v.isEmpty()))
        return;
    if (m_state != wsClosed) {
        raiseError(QStringLiteral("Cannot change Addr if not closed"));
        return;
    }
    m_addr = v;
    m_addrAssigned = !v.isEmpty();
    m_addrResolved = false;
}

void TCustomWSocket::setPort(const QString &value)
{
    const QString v = value.trimmed();
    if (v == m_port && (m_portAssigned || v.isEmpty()))
        return;
    if (m_state != wsClosed) {
        raiseError(QStringLiteral("Cannot change Port if not closed"));
        return;
    }
    m_port = v;
    m_portAssigned = !v.isEmpty();
    m_portResolved = false;
}

void TCustomWSocket::setProto(const QString &value)
{
    const QString v = value.trimmed();
    if (v == m_proto && (m_protoAssigned || v.isEmpty()))
        return;
    if (m_state != wsClosed) {
        raiseError(QStringLiteral("Cannot change Proto if not closed"));
        return;
    }
    m_proto = v;
    m_protoAssigned = !v.isEmpty();
    m_protoResolved = false;
}

void TCustomWSocket::setBufSize(int v)
{
    m_chunkSize = qBound(64, v, 16 * 1024 * 1024);
}

int TCustomWSocket::RcvdCount() const
{
    if (m_fd < 0)
        return 0;
    int n = 0;
    if (ioctl(m_fd, FIONREAD, &n) != 0)
        n = 0;
    // Decrypted bytes TLS already holds count too: the socket may have nothing more to say.
    if (m_ssl && !m_handshaking)
        n += SSL_pending(m_ssl);
    return n;
}

qint64 TCustomWSocket::BufferedBytes() const
{
    return m_queued;
}

void TCustomWSocket::reportError(const QString &msg)
{
    m_lastErrorMessage = msg;
    if (OnError) {
        OnError(this);
        return;
    }
    throw ESocketException(msg);
}

void TCustomWSocket::raiseError(const QString &msg)
{
    reportError(msg);
}

void TCustomWSocket::socketError(const QString &op, int code)
{
    if (code == wsaerr::ConnReset || code == wsaerr::NotConn) {
        // The connection is gone: close at once so the component is reusable.
        closeSocketQuietly();
        if (m_state != wsClosed)
            setState(wsClosed);
    }
    m_lastError = code;
    reportError(QStringLiteral("Error %1 in function %2\r\n%3").arg(code).arg(op, SocketErrorText(code)));
}

void TCustomWSocket::closeSocketQuietly()
{
    freeTls(false);
    if (m_fd >= 0) {
        detachNotifiers();
        ::close(m_fd);
        m_fd = -1;
    }
}

void TCustomWSocket::resolveAll(const QString &prefix, bool needAddr)
{
    try {
        if (!m_protoResolved) {
            m_protoNum = WSocketResolveProto(m_proto);
            m_datagram = m_protoNum == 17;
            m_protoResolved = true;
        }
        if (!m_portResolved) {
            m_sinPort = WSocketResolvePort(m_port, m_proto);
            m_portResolved = true;
        }
        if (!m_addrResolved && needAddr) {
            resolveHostAny(m_addr, m_sa, m_saLen);
            m_addrResolved = true;
        }
    } catch (const ESocketException &e) {
        throw ESocketException(prefix + e.message());
    }
}

bool TCustomWSocket::createSocket(const QString &opName)
{
    m_buffer.clear();
    m_queued = 0;
    m_allSent = true;
    const int type = (m_datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    const int family = m_sa.ss_family == AF_INET6 ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, type, m_datagram ? IPPROTO_UDP : IPPROTO_TCP);
    if (fd < 0) {
        socketError(opName, WSocketErrnoToCode(errno));
        return false;
    }
    m_fd = fd;
    ++m_generation;
    m_closeFired = false;
    return true;
}

void TCustomWSocket::attachNotifiers(bool read, bool write)
{
    if (!m_readNotifier) {
        m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
        m_readNotifier->setEnabled(false);
        connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
        m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
        m_writeNotifier->setEnabled(false);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { onWritable(); });
    }
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_readNotifier->setSocket(m_fd);
    m_writeNotifier->setSocket(m_fd);
    m_readNotifier->setEnabled(read);
    m_writeNotifier->setEnabled(write);
}

void TCustomWSocket::detachNotifiers()
{
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_writeNotifier->setEnabled(false);
    }
}

void TCustomWSocket::updateWriteNotifier()
{
    if (!m_writeNotifier || m_fd < 0)
        return;
    const bool want = m_state == wsConnecting || m_queued > 0;
    if (m_writeNotifier->isEnabled() != want)
        m_writeNotifier->setEnabled(want);
}

void TCustomWSocket::Connect()
{
    if (m_fd >= 0 && m_state != wsClosed) {
        raiseError(QStringLiteral("Connect: Socket already in use"));
        return;
    }
    if (!m_portAssigned) {
        raiseError(QStringLiteral("Connect: No Port Specified"));
        return;
    }
    if (!m_addrAssigned) {
        raiseError(QStringLiteral("Connect: No IP Address Specified"));
        return;
    }
    if (!m_protoAssigned) {
        raiseError(QStringLiteral("Connect: No Protocol Specified"));
        return;
    }
    try {
        resolveAll(QStringLiteral("connect: "), true);
    } catch (const ESocketException &e) {
        raiseError(e.message());
        return;
    }
    if (!createSocket(QStringLiteral("Connect (socket)")))
        return;
    setState(wsOpened);
    if (!m_datagram) {
        SetLingerOption();
        int on = 1;
        if (setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
            socketError(QStringLiteral("setsockopt(SO_KEEPALIVE)"), WSocketErrnoToCode(errno));
            return;
        }
        if (setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            socketError(QStringLiteral("setsockopt(SO_REUSEADDR)"), WSocketErrnoToCode(errno));
            return;
        }
    }
    sockaddr_storage sa = m_sa;
    setSockPort(sa, m_sinPort);
    const int r = ::connect(m_fd, reinterpret_cast<sockaddr *>(&sa), m_saLen);
    if (r == 0 || errno == EINPROGRESS || errno == EWOULDBLOCK) {
        setState(wsConnecting);
        // Completion (success or failure) shows as writability; reading waits until connected.
        attachNotifiers(false, true);
        return;
    }
    m_lastError = WSocketErrnoToCode(errno);
    socketError(QStringLiteral("Connect"), m_lastError);
}

void TCustomWSocket::Listen()
{
    if (!m_portAssigned) {
        socketError(QStringLiteral("listen: port not assigned"), wsaerr::Inval);
        return;
    }
    if (!m_protoAssigned) {
        socketError(QStringLiteral("listen: protocol not assigned"), wsaerr::Inval);
        return;
    }
    if (!m_addrAssigned) {
        socketError(QStringLiteral("listen: address not assigned"), wsaerr::Inval);
        return;
    }
    try {
        resolveAll(QStringLiteral("listen: "), true);
    } catch (const ESocketException &e) {
        raiseError(e.message());
        return;
    }
    if (!createSocket(QStringLiteral("socket")))
        return;
    sockaddr_storage sa = m_sa;
    setSockPort(sa, m_sinPort);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&sa), m_saLen) != 0) {
        const int code = WSocketErrnoToCode(errno);
        ::close(m_fd);
        m_fd = -1;
        socketError(QStringLiteral("Bind"), code);
        return;
    }
    setState(wsBound);
    if (!m_datagram) {
        if (::listen(m_fd, 5) != 0) {
            socketError(QStringLiteral("Listen"), WSocketErrnoToCode(errno));
            return;
        }
        setState(wsListening);
    }
    attachNotifiers(true, false);
}

int TCustomWSocket::Accept()
{
    if (m_state != wsListening) {
        socketError(QStringLiteral("not a listening socket"), wsaerr::Inval);
        return -1;
    }
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        socketError(QStringLiteral("Accept"), WSocketErrnoToCode(errno));
        return -1;
    }
    return fd;
}

void TCustomWSocket::Dup(int handle)
{
    if (handle <= 0) {
        socketError(QStringLiteral("Dup"), wsaerr::Inval);
        return;
    }
    if (m_state != wsClosed) {
        closeSocketQuietly();
        setState(wsClosed);
    }
    m_buffer.clear();
    m_queued = 0;
    m_allSent = true;
    m_fd = handle;
    ++m_generation;
    m_closeFired = false;
    // Accepted sockets inherit nothing useful from the listener; make sure they do not block.
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    SetLingerOption();
    setState(wsConnected);
    attachNotifiers(true, false);
}

void TCustomWSocket::SetLingerOption()
{
    if (m_lingerOnOff == wsLingerNoSet)
        return;
    if (m_fd < 0) {
        raiseError(QStringLiteral("Cannot set linger option at this time"));
        return;
    }
    linger l{};
    l.l_onoff = m_lingerOnOff == wsLingerOn ? 1 : 0;
    l.l_linger = m_lingerTimeout;
    if (setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        socketError(QStringLiteral("setsockopt(SO_LINGER)"), WSocketErrnoToCode(errno));
}

void TCustomWSocket::Close()
{
    if (m_fd < 0) {
        if (m_state != wsClosed) {
            setState(wsClosed);
            applyDefaults();
        }
        return;
    }
    if (m_state == wsClosed)
        return;
    detachNotifiers();
    freeTls(true);
    ::shutdown(m_fd, SHUT_WR);
    ::close(m_fd);  // on Linux the descriptor is released even when close reports an error
    m_fd = -1;
    setState(wsClosed);
    const bool fireClose = !m_destroying && !m_closeFired && OnSessionClosed;
    m_closeFired = true;
    // Defaults go first: the handler may start a new connection on this very component.
    applyDefaults();
    if (fireClose) {
        TNotifyError h = OnSessionClosed;
        h(this, 0);
    }
}

void TCustomWSocket::Shutdown(int how)
{
    if (m_fd >= 0)
        ::shutdown(m_fd, how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR);
}

int TCustomWSocket::Send(const void *data, int len)
{
    if (m_state != wsConnected) {
        socketError(QStringLiteral("Send"), wsaerr::NotConn);
        return -1;
    }
    if (len <= 0)
        return 0;
    m_allSent = false;
    m_queued += len;
    const char *p = static_cast<const char *>(data);
    int left = len;
    while (left > 0) {
        if (m_buffer.empty() || m_buffer.back()->wr == m_buffer.back()->size)
            m_buffer.push_back(newChunk());
        Chunk &c = *m_buffer.back();
        const int n = std::min(left, c.size - c.wr);
        memcpy(c.data.get() + c.wr, p, size_t(n));
        c.wr += n;
        p += n;
        left -= n;
    }
    const quint64 gen = m_generation;
    QPointer<TCustomWSocket> guard(this);
    tryToSend();
    if (!guard || gen != m_generation || m_fd < 0)
        return len;
    if (BufferedBytes() == 0) {
        // OnDataSent must come from the event loop, never from inside Send.
        QMetaObject::invokeMethod(this, [this, gen] { postedWrite(gen); }, Qt::QueuedConnection);
    }
    updateWriteNotifier();
    return len;
}

int TCustomWSocket::SendStr(const QString &s)
{
    const QByteArray b = s.toUtf8();
    return Send(b.constData(), int(b.size()));
}

// Hands the stack as much of the send buffer as it takes. The chunks keep their size, but one
// system call carries many of them (a gathered send, or a full TLS record), so the chunk size does
// not bound the calls.
void TCustomWSocket::tryToSend()
{
    if (m_fd < 0 || m_buffer.empty() || m_handshaking)
        return;
    const int flags = MSG_NOSIGNAL | (m_sendFlags == wsSendUrgent ? MSG_OOB : 0);
    for (;;) {
        // Emptied chunks before the last one are done with.
        while (m_buffer.size() > 1 && m_buffer.front()->rd == m_buffer.front()->wr)
            recycleFront();
        if (m_queued == 0) {
            Chunk &c = *m_buffer.front();
            c.rd = c.wr = 0;
            m_allSent = true;
            break;
        }
        ssize_t n;
        qint64 asked;
        int sslCode = 0;
        if (m_ssl) {
            // One record per write: a record carries up to 16 KiB, so small chunks are joined first.
            const Chunk &head = *m_buffer.front();
            const char *p = head.data.get() + head.rd;
            int len = head.wr - head.rd;
            if (len < kTlsRecord && m_buffer.size() > 1) {
                len = 0;
                for (const auto &c : m_buffer) {
                    const int take = std::min(c->wr - c->rd, kTlsRecord - len);
                    memcpy(m_record.data() + len, c->data.get() + c->rd, size_t(take));
                    len += take;
                    if (len == kTlsRecord)
                        break;
                }
                p = m_record.data();
            }
            // A write that must be retried is retried with the same leading bytes and at least
            // as many of them: nothing is taken from the buffer until the stack has them.
            len = std::min(len, kTlsRecord);
            asked = len;
            ERR_clear_error();
            const int w = SSL_write(m_ssl, p, len);
            n = w;
            if (w <= 0) {
                const int e = SSL_get_error(m_ssl, w);
                sslCode = e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ ? wsaerr::WouldBlock
                                                                                 : wsaerr::ConnReset;
                n = -1;
            }
        } else {
            iovec iov[kMaxIov];
            int count = 0;
            asked = 0;
            for (const auto &c : m_buffer) {
                if (count == kMaxIov)
                    break;
                const int len = c->wr - c->rd;
                if (len <= 0)
                    continue;
                iov[count].iov_base = c->data.get() + c->rd;
                iov[count].iov_len = size_t(len);
                asked += len;
                ++count;
            }
            msghdr msg{};
            msg.msg_iov = iov;
            msg.msg_iovlen = size_t(count);
            n = ::sendmsg(m_fd, &msg, flags);
        }
        if (n < 0) {
            const int code = sslCode ? sslCode : WSocketErrnoToCode(errno);
            if (code == wsaerr::WouldBlock || code == wsaerr::Intr)
                break;
            if (code == wsaerr::Inval || code == wsaerr::NotSock || code == wsaerr::ConnReset
                || code == wsaerr::NotConn) {
                m_closeFired = true;
                const TNotifyError h = OnSessionClosed;
                closeSocketQuietly();
                setState(wsClosed);
                applyDefaults();
                m_lastError = code;
                if (h)
                    h(this, quint16(code));
                return;
            }
            socketError(QStringLiteral("TryToSend failed"), code);
            return;
        }
        m_queued -= n;
        for (qint64 left = n; left > 0;) {
            Chunk &c = *m_buffer.front();
            const qint64 take = std::min<qint64>(left, c.wr - c.rd);
            c.rd += int(take);
            left -= take;
            if (c.rd == c.wr && m_buffer.size() > 1)
                recycleFront();
        }
        if (n < asked)
            break;  // the stack is full: wait for the next write notification
    }
}

void TCustomWSocket::recycleFront()
{
    std::unique_ptr<Chunk> c = std::move(m_buffer.front());
    m_buffer.pop_front();
    // A transfer refills the buffer at the pace it drains: keep the chunks for the next blocks.
    if (c->size == m_chunkSize && qint64(m_spare.size() + 1) * m_chunkSize <= kSpareBytes) {
        c->rd = c->wr = 0;
        m_spare.push_back(std::move(c));
    }
}

std::unique_ptr<TCustomWSocket::Chunk> TCustomWSocket::newChunk()
{
    while (!m_spare.empty()) {
        std::unique_ptr<Chunk> c = std::move(m_spare.back());
        m_spare.pop_back();
        if (c->size == m_chunkSize)
            return c;
    }
    return std::make_unique<Chunk>(m_chunkSize);
}

void TCustomWSocket::postedWrite(quint64 generation)
{
    if (generation != m_generation || m_fd < 0 || m_paused)
        return;
    tryToSend();
    if (generation != m_generation || m_fd < 0)
        return;
    updateWriteNotifier();
    if (m_allSent && OnDataSent)
        fire(OnDataSent, 0);
}

void TCustomWSocket::fire(const TNotifyError &h, int error)
{
    if (!h)
        return;
    TNotifyError copy = h;  // the handler may replace itself
    try {
        copy(this, quint16(error));
    } catch (...) {
        // An exception from a handler ends this dispatch; it must not unwind through the event loop.
    }
}

void TCustomWSocket::onWritable()
{
    if (m_paused || m_fd < 0)
        return;
    const quint64 gen = m_generation;
    if (m_state == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len);
        const int code = WSocketErrnoToCode(err);
        m_lastError = code;
        setState(wsConnected);
        if (code == 0)
            attachNotifiers(true, false);
        else
            detachNotifiers();
        QPointer<TCustomWSocket> guard(this);
        fire(OnSessionConnected, code);
        if (!guard)
            return;
        if (code != 0 && gen == m_generation && m_state != wsClosed)
            Close();
        return;
    }
    if (m_handshaking) {
        continueHandshake();
        return;
    }
    tryToSend();
    if (gen != m_generation || m_fd < 0)
        return;
    updateWriteNotifier();
    if (m_allSent && OnDataSent)
        fire(OnDataSent, 0);
}

void TCustomWSocket::onReadable()
{
    if (m_paused || m_fd < 0)
        return;
    const quint64 gen = m_generation;
    QPointer<TCustomWSocket> guard(this);
    if (m_state == wsListening) {
        if (OnSessionAvailable) {
            fire(OnSessionAvailable, 0);
        } else if (m_readNotifier) {
            // Nobody takes connections yet: leave them pending instead of spinning; Resume looks again.
            m_readNotifier->setEnabled(false);
        }
        return;
    }
    if (m_state != wsConnected)
        return;
    if (m_handshaking) {
        continueHandshake();
        return;
    }
    if (RcvdCount() > 0) {
        receiveDispatch(0);
        if (!guard || gen != m_generation || m_fd < 0)
            return;
        if (RcvdCount() > 0)
            return;  // the level-triggered notifier calls again
    }
    if (m_tlsPeerClosed) {
        peerClosed(0);
        return;
    }
    char c;
    const ssize_t r = ::recv(m_fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r > 0)
        return;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    peerClosed(r == 0 ? 0 : WSocketErrnoToCode(errno));
}

void TCustomWSocket::peerClosed(int error)
{
    const quint64 gen = m_generation;
    QPointer<TCustomWSocket> guard(this);
    if (error)
        m_lastError = error;
    if (OnSessionClosed && !m_closeFired) {
        m_closeFired = true;
        fire(OnSessionClosed, error);
        if (!guard)
            return;
    }
    if (gen == m_generation && m_state != wsClosed)
        Close();
}

void TCustomWSocket::receiveDispatch(int error)
{
    const quint64 gen = m_generation;
    QPointer<TCustomWSocket> guard(this);
    const qint64 start = m_readCount;
    for (;;) {
        m_lastError = 0;
        const qint64 before = m_readCount;
        if (OnDataAvailable) {
            fire(OnDataAvailable, error);
            if (!guard || gen != m_generation || m_fd < 0)
                return;
        } else if (m_ssl) {
            char junk[1024];
            if (Receive(junk, sizeof junk) < 0)
                return;
        } else {
            char junk[1024];
            const ssize_t n = ::recv(m_fd, junk, sizeof junk, MSG_DONTWAIT);
            if (n < 0)
                return;
            m_readCount += n;
        }
        if (m_lastError != 0)
            return;
        if (m_paused || m_readCount == before)
            return;  // a handler that did not read must not spin this loop
        if (RcvdCount() <= 0)
            return;
        if (m_readCount - start >= kDispatchShare) {
            // A sender faster than its reader must not hold the event loop: the rest comes from
            // the next notification (posted too, for what TLS holds and the socket no longer shows).
            QMetaObject::invokeMethod(this, [this, gen] {
                if (gen == m_generation && m_fd >= 0 && !m_paused)
                    onReadable();
            }, Qt::QueuedConnection);
            return;
        }
    }
}

int TCustomWSocket::Receive(void *buf, int len)
{
    if (m_fd < 0) {
        m_lastError = wsaerr::NotConn;
        return -1;
    }
    if (m_ssl) {
        if (m_handshaking || len <= 0) {
            m_lastError = wsaerr::WouldBlock;
            return -1;
        }
        ERR_clear_error();
        const int n = SSL_read(m_ssl, buf, len);
        if (n > 0) {
            m_readCount += n;
            return n;
        }
        const int e = SSL_get_error(m_ssl, n);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            m_lastError = wsaerr::WouldBlock;
            return -1;
        }
        if (e == SSL_ERROR_ZERO_RETURN) {
            // The peer ended TLS in order; servers wait for our answer before they close TCP.
            m_tlsPeerClosed = true;
            return 0;
        }
        // A cut without close_notify: the end of the stream all the same (FTP tells the end of a
        // transfer on the control connection); anything else is an error of the connection.
        const unsigned long err = ERR_peek_error();
        if (e == SSL_ERROR_SYSCALL && errno == 0)
            return 0;
        if (ERR_GET_REASON(err) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
            return 0;
        m_tlsError = QString::fromLatin1(ERR_error_string(err, nullptr));
        m_lastError = wsaerr::ConnAborted;
        return -1;
    }
    const ssize_t n = ::recv(m_fd, buf, size_t(std::max(0, len)), MSG_DONTWAIT);
    if (n < 0) {
        m_lastError = WSocketErrnoToCode(errno);
        return -1;
    }
    m_readCount += n;
    return int(n);
}

int TCustomWSocket::GetSockName(sockaddr_in &addr)
{
    socklen_t len = sizeof addr;
    if (m_fd < 0)
        return -1;
    return ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0 ? 0 : -1;
}

int TCustomWSocket::GetPeerName(sockaddr_in &addr)
{
    socklen_t len = sizeof addr;
    if (m_fd < 0)
        return -1;
    return ::getpeername(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0 ? 0 : -1;
}

QString TCustomWSocket::GetXAddr()
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return {};
    return addrText(a);
}

int TCustomWSocket::GetXPort()
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    return addrPort(a);
}

bool TCustomWSocket::IsIPv6()
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    return m_fd >= 0 && ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) == 0 && a.ss_family == AF_INET6;
}

QString TCustomWSocket::GetPeerAddr()
{
    return WSocketPeerAddr(m_fd);
}

void TCustomWSocket::DnsLookup(const QString &hostName)
{
    const QString name = hostName.trimmed();
    if (name.isEmpty()) {
        m_lastErrorMessage = QStringLiteral("DNS lookup: invalid host name.");
        // Reported through OnError when assigned; the lookup still completes with an error code.
        if (OnError)
            OnError(this);
        fire(OnDnsLookupDone, wsaerr::Inval);
        return;
    }
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_dnsResult.clear();
    m_dnsResultList.clear();
    sockaddr_storage a{};
    socklen_t alen = 0;
    if (parseNumeric(name, a, alen)) {
        m_dnsResult = addrText(a);
        m_dnsResultList << m_dnsResult;
        fire(OnDnsLookupDone, 0);
        return;
    }
    // A slot by name, not a functor: Qt keeps no slot object of its own that an aborted lookup would leak.
    m_lookupId = QHostInfo::lookupHost(name, this, SLOT(lookupDone(QHostInfo)));
}

void TCustomWSocket::lookupDone(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    int err = 0;
    switch (info.error()) {
    case QHostInfo::NoError: break;
    case QHostInfo::HostNotFound: err = wsaerr::HostNotFound; break;
    default: err = wsaerr::NoRecovery; break;
    }
    if (err == 0) {
        // In the resolver's order: it puts IPv6 first where the machine has a route for it.
        for (const QHostAddress &ha : info.addresses()) {
            bool ok = false;
            const quint32 v4 = ha.toIPv4Address(&ok);
            if (ok)
                m_dnsResultList << dotted(htonl(v4));
            else if (ha.protocol() == QAbstractSocket::IPv6Protocol && ha.scopeId().isEmpty())
                m_dnsResultList << ha.toString();
        }
        if (m_dnsResultList.isEmpty())
            err = wsaerr::NoData;
        else
            m_dnsResult = m_dnsResultList.first();
    }
    fire(OnDnsLookupDone, err);
}

void TCustomWSocket::CancelDnsLookup()
{
    if (m_lookupId < 0)
        return;
    QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    if (!m_destroying)
        fire(OnDnsLookupDone, wsaerr::Intr);
}

void TCustomWSocket::MessagePump()
{
    QCoreApplication::processEvents();
}

void TCustomWSocket::Pause()
{
    m_paused = true;
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
}

void TCustomWSocket::Resume()
{
    m_paused = false;
    if (m_fd >= 0 && m_readNotifier && (m_state == wsConnected || m_state == wsListening))
        m_readNotifier->setEnabled(true);
    updateWriteNotifier();
}
