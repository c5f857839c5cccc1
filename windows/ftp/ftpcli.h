#pragma once
// FTP client engine: TCustomFtpCli speaks the control connection without blocking; every request
// starts with an ...Async call that returns at once and ends with exactly one OnRequestDone signal,
// always delivered from the event loop (never inside the starting call). TFtpClient adds the
// synchronous operations, which pump events while they wait.
//
// Data transfers use active mode by default: the engine listens on a free port of the control
// connection's local address, announces it with PORT (EPRT over IPv6) and accepts only the
// server's connection. In passive mode it asks with EPSV (PASV when the server refuses EPSV) and
// connects to the server itself, always at the control connection's peer address.
#include <QElapsedTimer>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>
#include <stdexcept>
#include <vector>

#include "windows/ftp/wsocket.h"

class QFile;
class QTimer;

class FtpException : public std::runtime_error {
public:
    explicit FtpException(const QString &msg) : std::runtime_error(msg.toStdString()), m_msg(msg) {}
    QString message() const { return m_msg; }

private:
    QString m_msg;
};

// Request codes as reported by OnRequestDone.
enum TFtpRequest {
    ftpNone = 0, ftpOpenAsync, ftpUserAsync, ftpPassAsync, ftpCwdAsync, ftpConnectAsync,
    ftpReceiveAsync, ftpDirAsync, ftpLsAsync, ftpPortAsync, ftpGetAsync, ftpDirectoryAsync,
    ftpListAsync, ftpSystemAsync, ftpSystAsync, ftpQuitAsync, ftpSizeAsync, ftpPutAsync,
    ftpAppendAsync, ftpFileSizeAsync, ftpRqAbort, ftpMkdAsync, ftpRmdAsync, ftpRenameAsync,
    ftpDeleAsync, ftpRenAsync, ftpRenToAsync, ftpRenFromAsync, ftpDeleteAsync, ftpMkdirAsync,
    ftpRmdirAsync, ftpPwdAsync, ftpQuoteAsync, ftpCDupAsync, ftpDoQuoteAsync, ftpTransmitAsync,
    ftpTypeSetAsync, ftpRestAsync, ftpRestGetAsync, ftpRestartGetAsync
};
// "none", "OpenAsync", ... as the program prints them; "unknown" outside the table.
QString FtpRequestName(int rq);
// A reply or listing line as text: UTF-8 when valid, else Latin-1 (byte for byte).
QString FtpDecodeLine(const QByteArray &raw);

enum class TFtpState { NotConnected, Ready, StepReady, LookingUp, Connected, Aborting, WaitingGreeting, WaitingReply };

enum TFtpShareMode { ftpShareCompat, ftpShareExclusive, ftpShareDenyWrite, ftpShareDenyRead, ftpShareDenyNone };

class TCustomFtpCli : public QObject {
    Q_OBJECT
public:
    explicit TCustomFtpCli(QObject *owner = nullptr);
    ~TCustomFtpCli() override;

    // --- Properties -----------------------------------------------------------------------
    QString HostName() const { return m_hostName; }
    void setHostName(const QString &v) { m_hostName = v; }
    QString Port() const { return m_port; }
    void setPort(const QString &v) { m_port = v; }
    QString UserName() const { return m_userName; }
    void setUserName(const QString &v) { m_userName = v; }
    QString PassWord() const { return m_passWord; }
    void setPassWord(const QString &v) { m_passWord = v; }
    QString HostDirName() const { return m_hostDirName; }
    void setHostDirName(const QString &v) { m_hostDirName = v; }
    QString HostFileName() const { return m_hostFileName; }
    void setHostFileName(const QString &v) { m_hostFileName = v; }
    // Local file of a transfer; also the new name for RNTO and the raw text of QuoteAsync.
    QString LocalFileName() const { return m_localFileName; }
    void setLocalFileName(const QString &v) { m_localFileName = v; }
    // When set, transfers read from / write to this device instead of LocalFileName (the caller
    // keeps ownership and opens it). Used for listings kept in memory.
    QIODevice *LocalStream() const { return m_localStream; }
    void setLocalStream(QIODevice *dev) { m_localStream = dev; }
    bool Binary() const { return m_binary; }
    void setBinary(bool v) { m_binary = v; }
    TFtpShareMode ShareMode() const { return m_shareMode; }
    void setShareMode(TFtpShareMode v) { m_shareMode = v; }
    bool DisplayFileFlag() const { return m_displayFileFlag; }
    void setDisplayFileFlag(bool v) { m_displayFileFlag = v; }
    // Seconds of silence (no reply, no transfer progress) after which a request ends with 426;
    // 0 or less: wait for ever.
    int Timeout() const { return m_timeout; }
    void setTimeout(int seconds) { m_timeout = seconds; }
    bool MultiThreaded() const { return m_multiThreaded; }
    void setMultiThreaded(bool v) { m_multiThreaded = v; }
    // Passive mode: the client opens the data connections (works behind NAT and firewalls).
    bool Passive() const { return m_passive; }
    void setPassive(bool v) { m_passive = v; }
    // Explicit FTP over TLS: AUTH TLS before the login, then PBSZ 0 and PROT P so that data
    // connections are encrypted too. A server that refuses is never used in plain text.
    bool UseTls() const { return m_useTls; }
    void setUseTls(bool v) { m_useTls = v; }
    // SHA-256 fingerprint of a certificate the user trusts for this site although it does not
    // verify (self-signed, unknown issuer, other name).
    QString TrustedFingerprint() const { return m_trustedFp; }
    void setTrustedFingerprint(const QString &fp) { m_trustedFp = fp; }
    // The last connection failed because the server refused AUTH TLS.
    bool TlsRefused() const { return m_tlsRefused; }
    // Transfer block sizes (2048 for receiving and 1514 for sending by default). They set the
    // socket's send chunks and the smallest step of a transfer; the file and the socket are still
    // read and written in batches of up to 256 KiB, so they do not bound the system calls.
    int RecvBlockSize() const { return m_recvBlock; }
    void setRecvBlockSize(int v);
    int SendBlockSize() const { return m_sendBlock; }
    void setSendBlockSize(int v);

    // --- Results --------------------------------------------------------------------------
    QString ErrorMessage() const { return m_errorMessage; }
    QString LastReply() const { return m_lastReply; }
    int ReplyCode() const { return m_replyCode; }
    QString ReplyDir() const { return m_replyDir; }
    qint64 ReplySize() const { return m_replySize; }
    bool Connected() const;
    TFtpState State() const { return m_state; }
    int RequestType() const { return m_request; }
    int RequestError() const { return m_requestError; }
    qint64 ByteCount() const { return m_byteCount; }
    qint64 ResumeAt() const { return m_resumeAt; }
    TWSocket *ControlSocket() const { return m_ctrl; }
    TWSocket *DataSocket() const { return m_data; }

    // --- Single commands ------------------------------------------------------------------
    void OpenAsync();
    void UserAsync();
    void PassAsync();
    void CwdAsync();
    void PwdAsync();
    void CDupAsync();
    void SystAsync();
    void SizeAsync();
    void TypeSetAsync();
    void MkdAsync();
    void RmdAsync();
    void DeleAsync();
    void RenFromAsync();
    void RenToAsync();
    void QuoteAsync();
    void QuitAsync();
    void PortAsync();
    void RestAsync();
    // --- Composite requests ---------------------------------------------------------------
    void ConnectAsync();
    void ReceiveAsync();
    void DirectoryAsync();
    void ListAsync();
    void SystemAsync();
    void FileSizeAsync();
    void RenameAsync();
    void RenAsync();
    void DeleteAsync();
    void MkdirAsync();
    void RmdirAsync();
    void DoQuoteAsync();
    void TransmitAsync();
    void AppendFileAsync();
    void RestGetAsync();
    void RestartGetAsync();
    void GetAsync();
    void PutAsync();
    void AppendAsync();
    void DirAsync();
    void LsAsync();

    // Stops whatever is under way at once; the request ends with 426.
    void Abort();

signals:
    // Every line of the engine's log ("> command", "< reply", "! note"); a handler may change it.
    void OnDisplay(QString &msg);
    // Received data lines while DisplayFileFlag is set.
    void OnDisplayFile(QString &msg);
    // A command just before it is sent; a handler may change it.
    void OnCommand(QString &cmd);
    // A reply line has been received (see LastReply).
    void OnResponse();
    // Transfer progress: Count is bytes done including the resume offset; set abort to cancel.
    void OnProgress(qint64 count, bool &abort);
    void OnSessionConnected(quint16 error);
    void OnSessionClosed(quint16 error);
    // A request has ended: rqType is a TFtpRequest, error 0 for success.
    void OnRequestDone(int rqType, quint16 error);
    void OnStateChange();
    // An upload is about to start; set cancel to refuse it.
    // (Signals with a reference argument must be connected directly: same thread, no queuing.)
    void OnReadyToTransmit(bool &cancel);
    // The server's certificate does not verify and is not the trusted one: details (subject,
    // issuer, validity, fingerprint, the reason), changed when another certificate was trusted
    // before. Set accept to go on. (Direct connection only.)
    void OnCertificate(const QString &details, const QString &fingerprint, bool changed, bool &accept);

protected:
    // Time since the deadline last moved: the start of the request or of one of its commands, or
    // progress of a transfer (reply text does not count), for timeouts.
    qint64 lastActivityMs() const { return m_activity.elapsed(); }
    void touch() { m_activity.restart(); }
    // The synchronous wait gave up: the request was aborted for silence.
    void setTimedOut()
    {
        m_errorMessage = QStringLiteral("426 Timeout");
        m_replyCode = 426;
    }

private:
    enum Step : unsigned {
        StOpen, StAuth, StUser, StPass, StPbsz, StProt, StCwd, StCDup, StTypeSet, StPort, StRest, StGet, StPut, StAppend,
        StDir, StLs, StSyst, StMkd, StRmd, StRenFrom, StRenTo, StSize, StDele, StPwd, StQuote, StQuit,
        StCount, StNone = 99
    };
    enum class Handler { None, Standard, Auth, Passive, FirstTransfer, SecondTransfer, FirstSend, SecondSend };

    static constexpr unsigned bit(Step s) { return 1u << unsigned(s); }

    void setState(TFtpState s);
    void display(const QString &line);
    void checkReady();
    void checkConnected();
    void execCommand(int rq, const QString &cmd, std::vector<int> okCodes, bool quit = false);
    void sendCommand(const QString &cmd);
    void fillErrorMessage();
    void finishRequest(int error);
    void startComposite(int rq, unsigned steps);
    void dispatch();
    void runStep(Step s);
    void parseReplyResults(Step s);
    void postRequestDone(int error);

    // Control connection.
    void ctrlDnsLookupDone(quint16 error);
    void ctrlSessionConnected(quint16 error);
    void ctrlDataAvailable(quint16 error);
    void ctrlSessionClosed(quint16 error);
    void handleLine(const QByteArray &raw);
    void standardReply(const QString &line);
    void protocolFailure(int code, const QString &text);
    void watchdog();

    // Transfers.
    void portStep();
    void passiveStep();
    void authReply(const QString &line);
    void ctrlTlsDone(quint16 error);
    void dataTlsDone(quint16 error);
    void startPassiveTls();
    void failControl(int code, const QString &reply);
    void passiveReply(const QString &line);
    void passiveConnected(quint16 error);
    void attachData(bool sending);
    bool dataLost();
    void restStep();
    void receiveStep(Step s);
    void sendStep(bool append);
    bool acceptData(bool sending);
    void firstTransferReply(const QString &line);
    void secondTransferReply(const QString &line);
    void firstSendReply(const QString &line);
    void secondSendReply(const QString &line);
    void recvData();
    void recvClosed(quint16 error);
    void sendNext(quint16 error);
    void sendClosed(quint16 error);
    void startSending();
    bool progressAbort();
    void transferComplete();
    void statistics();
    void closeLocal();
    bool writeLocal(const char *data, qint64 len);
    void flushDisplayFile(bool all);
    void cleanupFailedDownload();

    TWSocket *m_ctrl = nullptr;
    TWSocket *m_data = nullptr;
    QTimer *m_watchdog = nullptr;
    QElapsedTimer m_activity;

    QString m_hostName, m_port = QStringLiteral("ftp"), m_userName, m_passWord, m_hostDirName, m_hostFileName,
            m_localFileName;
    QPointer<QIODevice> m_localStream;
    bool m_binary = true;
    TFtpShareMode m_shareMode = ftpShareExclusive;
    bool m_displayFileFlag = false;
    int m_timeout = 15;
    bool m_multiThreaded = false;
    bool m_passive = false;
    bool m_useTls = false;
    bool m_dataTls = false;       // PROT P accepted: data connections speak TLS
    bool m_tlsRefused = false;
    QString m_trustedFp;
    bool m_epsvRefused = false;   // this session's server does not know EPSV: ask with PASV
    QString m_passiveCmd;         // "EPSV" or "PASV" while its reply is awaited
    int m_addrIndex = 0;          // the looked-up address being tried for the control connection
    int m_recvBlock = 2048;
    int m_sendBlock = 1514;

    QString m_errorMessage, m_lastReply, m_replyDir;
    int m_replyCode = 0;
    qint64 m_replySize = 0;
    TFtpState m_state = TFtpState::Ready;

    QByteArray m_rcvBuf;
    int m_replyLines = 0;
    std::vector<int> m_okCodes;
    Handler m_handler = Handler::None;
    bool m_quitDone = false;      // the current command's done-procedure closes the connection
    bool m_quitClosing = false;   // that close is under way: not a failure
    bool m_hasNext = false;       // composite: dispatcher is the next-request procedure
    int m_request = ftpNone;
    bool m_composite = false;
    unsigned m_pending = 0;
    Step m_step = StNone;
    Step m_prevStep = StNone;
    int m_compositeResult = 0;
    QString m_savedReply;
    int m_savedCode = -1;
    int m_requestError = 0;
    bool m_done = true;
    bool m_connected = false;
    bool m_inDispatch = false;

    // Transfer state.
    QFile *m_file = nullptr;
    QIODevice *m_io = nullptr;  // m_file or the caller's stream
    bool m_truncatePending = false;
    bool m_createdLocal = false;
    bool m_receiving = false;
    qint64 m_byteCount = 0;
    qint64 m_resumeAt = 0;
    QString m_keyword;
    bool m_append = false;
    bool m_replyDone = false, m_dataDone = false;
    bool m_sendPermitted = false, m_eof = false;
    int m_closeError = 0;
    int m_fault = 0;         // a local failure (write error, cancel, early close) overriding success
    QString m_faultText;
    bool m_waitAccept = false;  // sending was permitted before the server's connection was accepted
    qint64 m_startMs = 0;
    QElapsedTimer m_clock;
    // One batch of a transfer: what one read of the file (upload) or one read notification
    // (download) moves at most. Uploads start at the send block and double while the network
    // takes each batch at once, so a slow link still sees progress (and moves the deadline) often.
    static constexpr int kBatch = 256 * 1024;
    qint64 m_sendBatch = 0;
    QByteArray m_block;
    QByteArray m_lineCarry;  // DisplayFileFlag: a line split across blocks
    QString m_expectedPeer;
};

// Published component with the synchronous operations the program uses.
class TFtpClient : public TCustomFtpCli {
    Q_OBJECT
public:
    explicit TFtpClient(QObject *owner = nullptr);

    bool Connect();
    bool Cwd();
    bool Pwd();
    bool CDup();
    bool TypeSet();
    bool Get();
    bool Put();
    bool Quit();
    bool Dir();
    bool Mkd();
    bool Dele();
    bool Rmd();
    bool Syst();

private:
    template <typename F> bool synchronize(F start);
};
