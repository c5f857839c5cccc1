#pragma once
// TWSocket: a non-blocking TCP socket driven by the Qt event loop.
//
// Every notification (connected, readable, writable, incoming connection, closed, name lookup
// done) arrives on the GUI thread and is turned into one of the On... handlers below. Handlers
// are plain callables so the FTP engine can swap them per transfer phase; an unassigned handler
// changes behaviour (unread data is discarded, an unassigned OnError makes errors throw), so
// "assigned" is part of the contract. Handlers may call any operation of any socket, including
// closing or re-listening the socket that raised the event.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include <sys/socket.h>

struct sockaddr_in;
struct ssl_st;
struct ssl_session_st;
class QSocketNotifier;
class QHostInfo;

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

// Raised by a socket operation when no OnError handler is assigned.
class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const QString &msg) : std::runtime_error(msg.toStdString()), m_msg(msg) {}
    QString message() const { return m_msg; }

private:
    QString m_msg;
};

// WinSock-numbered error codes: the socket's vocabulary, mapped from errno.
namespace wsaerr {
constexpr int Intr = 10004, BadF = 10009, Acces = 10013, Fault = 10014, Inval = 10022, MFile = 10024,
              WouldBlock = 10035, InProgress = 10036, Already = 10037, NotSock = 10038,
              AddrInUse = 10048, AddrNotAvail = 10049, ConnAborted = 10053, ConnReset = 10054,
              NoBufs = 10055, IsConn = 10056, NotConn = 10057, Shutdown = 10058, TimedOut = 10060,
              ConnRefused = 10061, HostUnreach = 10065, NotInitialised = 10093, HostNotFound = 11001,
              TryAgain = 11002, NoRecovery = 11003, NoData = 11004;
}

// Text for a WinSock-numbered error code ("Not a WinSock error" for unknown ones).
QString SocketErrorText(int code);
// The WinSock-numbered code for a POSIX errno value.
int WSocketErrnoToCode(int err);
// Module functions: throw ESocketException with the texts of the socket component.
quint32 WSocketResolveHost(const QString &host);  // IPv4 address in network byte order
quint16 WSocketResolvePort(const QString &port, const QString &proto);  // host byte order
int WSocketResolveProto(const QString &proto);
// Dotted form of the remote address of a connected socket handle ("" on failure).
QString WSocketPeerAddr(int handle);

class TCustomWSocket : public QObject {
    Q_OBJECT
public:
    using TNotifyError = std::function<void(TCustomWSocket *sender, quint16 error)>;
    using TChangeState = std::function<void(TCustomWSocket *sender, TSocketState oldState, TSocketState newState)>;
    using TNotify = std::function<void(TCustomWSocket *sender)>;

    explicit TCustomWSocket(QObject *owner = nullptr);
    ~TCustomWSocket() override;

    // Events.
    TNotifyError OnSessionConnected;
    TNotifyError OnSessionAvailable;
    TNotifyError OnDataAvailable;
    TNotifyError OnDataSent;
    TNotifyError OnSessionClosed;
    TNotifyError OnDnsLookupDone;
    TChangeState OnChangeState;
    TNotify OnError;
    // The TLS handshake started by StartTls has ended; Error 0 means the session is up (whether
    // the certificate is trusted is a separate question: TlsVerifyResult).
    TNotifyError OnTlsDone;

    // Properties.
    QString Addr() const { return m_addr; }
    void setAddr(const QString &value);
    QString Port() const { return m_port; }
    void setPort(const QString &value);
    QString Proto() const { return m_proto; }
    void setProto(const QString &value);
    QString DnsResult() const { return m_dnsResult; }
    QStringList DnsResultList() const { return m_dnsResultList; }
    TSocketState State() const { return m_state; }
    qint64 ReadCount() const { return m_readCount; }
    int RcvdCount() const;
    int LastError() const { return m_lastError; }
    // Text of the last error reported through OnError.
    QString LastErrorMessage() const { return m_lastErrorMessage; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void setMultiThreaded(bool v) { m_multiThreaded = v; }
    TSocketLingerOnOff LingerOnOff() const { return m_lingerOnOff; }
    void setLingerOnOff(TSocketLingerOnOff v) { m_lingerOnOff = v; }
    int LingerTimeout() const { return m_lingerTimeout; }
    void setLingerTimeout(int v) { m_lingerTimeout = v; }
    TSocketSendFlags SendFlags() const { return m_sendFlags; }
    void setSendFlags(TSocketSendFlags v) { m_sendFlags = v; }
    // Size of one send-buffer chunk (1514 by default). One send call carries many chunks (or one
    // full TLS record), so the chunk size does not bound the calls.
    int BufSize() const { return m_chunkSize; }
    void setBufSize(int v);
    int HSocket() const { return m_fd; }

    // Operations.
    void Connect();
    void Listen();
    int Accept();
    void Dup(int handle);
    void Close();
    void Shutdown(int how);
    int Send(const void *data, int len);
    int SendStr(const QString &s);
    int SendStr(const QByteArray &s) { return Send(s.constData(), int(s.size())); }
    int Receive(void *buf, int len);
    int GetSockName(sockaddr_in &addr);
    int GetPeerName(sockaddr_in &addr);
    QString GetXAddr();   // local address, dotted (IPv4) or in IPv6 text form
    bool IsIPv6();        // the socket speaks IPv6
    int GetXPort();       // local port
    QString GetPeerAddr();
    void DnsLookup(const QString &hostName);
    void CancelDnsLookup();
    void SetLingerOption();
    void MessagePump();
    // Notifications are ignored while paused (read notifications stay pending in the stack).
    void Pause();
    void Resume();
    // Bytes queued in the send buffer and not yet taken by the stack.
    qint64 BufferedBytes() const;

    // --- TLS (client side, OpenSSL) ---------------------------------------------------------
    // Starts a TLS handshake on the connected socket; the outcome arrives as OnTlsDone, never
    // inside this call. serverName is checked against the certificate. resumeFrom: a socket whose
    // TLS session this one resumes (FTP servers tie data connections to the control session).
    // Data queued meanwhile goes out encrypted once the handshake is done.
    void StartTls(const QString &serverName, TCustomWSocket *resumeFrom = nullptr);
    bool TlsActive() const { return m_ssl != nullptr; }
    // 0 when the certificate chain and the host name verified; an X509_V_ERR_... code otherwise.
    long TlsVerifyResult() const;
    QString TlsVerifyText() const;
    QString TlsVersion() const;
    QString TlsError() const { return m_tlsError; }
    bool TlsSessionReused() const;
    // The peer certificate: SHA-256 fingerprint (hex, colon-separated), subject, issuer and validity.
    QString TlsFingerprint() const;
    QString TlsCertificateText() const;

private:
    struct Chunk;
    void applyDefaults();
    void setState(TSocketState s);
    void socketError(const QString &op, int code);   // library error: framed message
    void raiseError(const QString &msg);             // plain check message
    void reportError(const QString &msg);
    void resolveAll(const QString &prefix, bool needAddrPortProto);
    bool createSocket(const QString &opName);
    void attachNotifiers(bool read, bool write);
    void detachNotifiers();
    void updateWriteNotifier();
    void onReadable();
    void onWritable();
    void postedWrite(quint64 generation);
    void receiveDispatch(int error);
    void tryToSend();
    void recycleFront();
    std::unique_ptr<Chunk> newChunk();
    void peerClosed(int error);
    void fire(const TNotifyError &h, int error);
    void closeSocketQuietly();
    void freeTls(bool notify);
    void continueHandshake();
    Q_SLOT void lookupDone(const QHostInfo &info);

    int m_fd = -1;
    quint64 m_generation = 0;  // bumped for every new socket, so stale notifications are dropped
    TSocketState m_state = wsClosed;
    QString m_addr, m_port, m_proto;
    bool m_addrAssigned = false, m_portAssigned = false, m_protoAssigned = false;
    bool m_addrResolved = false, m_portResolved = false, m_protoResolved = false;
    sockaddr_storage m_sa{};  // resolved address (IPv4 or IPv6), port not yet set
    socklen_t m_saLen = 0;
    quint16 m_sinPort = 0;  // host order
    int m_protoNum = 6;
    bool m_datagram = false;
    QString m_dnsResult;
    QStringList m_dnsResultList;
    int m_lookupId = -1;
    qint64 m_readCount = 0;
    int m_lastError = 0;
    QString m_lastErrorMessage;
    bool m_multiThreaded = false;
    TSocketLingerOnOff m_lingerOnOff = wsLingerOn;
    int m_lingerTimeout = 0;
    TSocketSendFlags m_sendFlags = wsSendNormal;
    int m_chunkSize = 1514;
    std::deque<std::unique_ptr<Chunk>> m_buffer;
    std::vector<std::unique_ptr<Chunk>> m_spare;  // drained chunks kept for reuse
    std::vector<char> m_record;                    // a TLS record joined from small chunks
    static constexpr int kTlsRecord = 16384;       // the largest TLS record's payload
    static constexpr int kMaxIov = 256;            // chunks per gathered send
    static constexpr qint64 kSpareBytes = 512 * 1024;  // at most this much kept for reuse
    static constexpr qint64 kDispatchShare = 4 << 20;  // bytes one read notification may deliver
    qint64 m_queued = 0;
    bool m_allSent = true;
    bool m_paused = false;
    bool m_closeFired = false;
    bool m_destroying = false;
    ssl_st *m_ssl = nullptr;
    bool m_handshaking = false;
    bool m_tlsPeerClosed = false;  // close_notify received: the stream has ended
    // Session resumption: TLS 1.3 tickets are good for one resumption, so each connection that
    // resumed this socket's session hands the fresh ticket it got back for the next one.
    QPointer<TCustomWSocket> m_resumeFrom;
    ssl_session_st *m_nextSession = nullptr;
    QString m_tlsError;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
};

// The published socket component; the SOCKS relay of the original class tree is not needed here.
class TWSocket : public TCustomWSocket {
    Q_OBJECT
public:
    explicit TWSocket(QObject *owner = nullptr) : TCustomWSocket(owner) {}
};
