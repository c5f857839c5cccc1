// Control connection, reply parsing and the request machinery of the FTP engine.
// The data-connection steps live in ftptransfer.cpp.
#include "windows/ftp/ftpcli.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QTimer>

namespace {
constexpr int kRcvBufSize = 4096;    // one reply line must fit
constexpr int kMaxReplyLines = 1000; // a reply (or unsolicited chatter) longer than this is garbage

// Number at the start of a reply line; *end gets the index just after its digits.
int leadingNumber(const QString &line, int *end = nullptr)
{
    int i = 0;
    while (i < line.size() && (line[i] == QLatin1Char(' ') || line[i] == QLatin1Char('\t')
                               || line[i] == QLatin1Char('\r') || line[i] == QLatin1Char('\n')))
        ++i;
    bool neg = false;
    if (i < line.size() && (line[i] == QLatin1Char('+') || line[i] == QLatin1Char('-'))) {
        neg = line[i] == QLatin1Char('-');
        ++i;
    }
    qint64 v = 0;
    while (i < line.size() && line[i].isDigit()) {
        if (v < 1000000000)
            v = v * 10 + line[i].digitValue();
        ++i;
    }
    if (end)
        *end = i;
    return int(neg ? -v : v);
}

bool startsWithDigit(const QString &line)
{
    return !line.isEmpty() && line[0].isDigit();
}

// "257 "/a ""quoted"" dir" -> /a "quoted" dir; empty when no quote follows the code.
QString quotedDir(const QString &line)
{
    int i = 0;
    leadingNumber(line, &i);
    while (i < line.size() && line[i] == QLatin1Char(' '))
        ++i;
    if (i >= line.size() || line[i] != QLatin1Char('"'))
        return {};
    QString out;
    for (++i; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('"')) {
            if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                out += QLatin1Char('"');
                ++i;
                continue;
            }
            break;
        }
        out += line[i];
    }
    return out;
}

qint64 secondNumber(const QString &line)
{
    int i = 0;
    leadingNumber(line, &i);
    while (i < line.size() && line[i] == QLatin1Char(' '))
        ++i;
    qint64 v = 0;
    while (i < line.size() && line[i].isDigit()) {
        if (v < (qint64(1) << 56))
            v = v * 10 + line[i].digitValue();
        ++i;
    }
    return v;
}

QString winsockReply(int err)
{
    return QStringLiteral("500 %1 (Winsock error #%2)").arg(SocketErrorText(err)).arg(err);
}
} // namespace

QString FtpDecodeLine(const QByteArray &raw)
{
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = dec(raw);
    // Older servers send names in a single-byte code page: keep their bytes readable.
    return dec.hasError() ? QString::fromLatin1(raw) : s;
}

QString FtpRequestName(int rq)
{
    static const char *const names[] = {
        "none", "OpenAsync", "UserAsync", "PassAsync", "CwdAsync", "ConnectAsync", "ReceiveAsync",
        "DirAsync", "LsAsync", "PortAsync", "GetAsync", "DirectoryAsync", "ListAsync", "SystemAsync",
        "SystAsync", "QuitAsync", "SizeAsync", "PutAsync", "AppendAsync", "FileSizeAsync", "RqAbort",
        "MkdAsync", "RmdAsync", "RenameAsync", "DeleAsync", "RenAsync", "RenToAsync", "RenFromAsync",
        "DeleteAsync", "MkdirAsync", "RmdirAsync", "PwdAsync", "QuoteAsync", "CDupAsync", "DoQuoteAsync",
        "TransmitAsync", "TypeSetAsync", "RestAsync", "RestGetAsync", "RestartGetAsync"};
    if (rq < 0 || rq >= int(sizeof names / sizeof names[0]))
        return QStringLiteral("unknown");
    return QString::fromLatin1(names[rq]);
}

TCustomFtpCli::TCustomFtpCli(QObject *owner) : QObject(owner)
{
    m_ctrl = new TWSocket(this);
    m_data = new TWSocket(this);
    m_ctrl->OnDnsLookupDone = [this](TCustomWSocket *, quint16 e) { ctrlDnsLookupDone(e); };
    m_ctrl->OnSessionConnected = [this](TCustomWSocket *, quint16 e) { ctrlSessionConnected(e); };
    m_ctrl->OnDataAvailable = [this](TCustomWSocket *, quint16 e) { ctrlDataAvailable(e); };
    m_ctrl->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { ctrlSessionClosed(e); };
    m_watchdog = new QTimer(this);
    m_watchdog->setInterval(250);
    connect(m_watchdog, &QTimer::timeout, this, [this] { watchdog(); });
    m_activity.start();
    m_clock.start();
    m_block.resize(qMax(kBatch, qMax(m_recvBlock, m_sendBlock)));
}

TCustomFtpCli::~TCustomFtpCli()
{
    // Sockets go with their owner; drop handlers first so nothing calls back into a half-destroyed engine.
    for (TWSocket *s : {m_ctrl, m_data}) {
        s->OnDnsLookupDone = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataSent = nullptr;
        s->OnTlsDone = nullptr;
    }
    closeLocal();
}

void TCustomFtpCli::setRecvBlockSize(int v)
{
    m_recvBlock = qBound(512, v, 4 * 1024 * 1024);
    m_block.resize(qMax(kBatch, qMax(m_recvBlock, m_sendBlock)));
}

void TCustomFtpCli::setSendBlockSize(int v)
{
    m_sendBlock = qBound(512, v, 4 * 1024 * 1024);
    m_block.resize(qMax(kBatch, qMax(m_recvBlock, m_sendBlock)));
}

bool TCustomFtpCli::Connected() const
{
    return m_ctrl->State() != wsClosed;
}

void TCustomFtpCli::setState(TFtpState s)
{
    if (m_state == s)
        return;
    m_state = s;
    emit OnStateChange();
}

void TCustomFtpCli::display(const QString &line)
{
    QString m = line;
    emit OnDisplay(m);
}

void TCustomFtpCli::checkReady()
{
    if (m_state != TFtpState::Ready && m_state != TFtpState::StepReady)
        throw FtpException(QStringLiteral("FTP component not ready"));
}

void TCustomFtpCli::checkConnected()
{
    if (!Connected())
        throw FtpException(QStringLiteral("FTP component not connected"));
}

void TCustomFtpCli::fillErrorMessage()
{
    if (m_errorMessage.isEmpty())
        m_errorMessage = m_lastReply;
}

void TCustomFtpCli::sendCommand(const QString &cmd)
{
    QString text = cmd;
    emit OnCommand(text);
    // The log never shows a password, whichever way the command was built.
    QString shown = text;
    if (shown.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive))
        shown = QStringLiteral("PASS ********");
    display(QStringLiteral("> ") + shown);
    // A command of its own starts a request and its deadline; the steps of a composite request
    // share the one deadline the request started with.
    if (!m_composite)
        touch();
    m_replyLines = 0;
    if (m_ctrl->State() == wsConnected)
        m_ctrl->SendStr(text.toUtf8() + "\r\n");
}

void TCustomFtpCli::execCommand(int rq, const QString &cmd, std::vector<int> okCodes, bool quit)
{
    checkReady();
    checkConnected();
    // A line break inside an argument would smuggle a second command to the server.
    if (cmd.contains(QLatin1Char('\r')) || cmd.contains(QLatin1Char('\n')))
        throw FtpException(QStringLiteral("Line break in FTP command refused"));
    if (!m_composite)
        m_request = rq;
    m_okCodes = std::move(okCodes);
    m_done = false;
    m_handler = Handler::Standard;
    m_quitDone = quit;
    if (!m_watchdog->isActive())
        m_watchdog->start();
    setState(TFtpState::WaitingReply);
    sendCommand(cmd);
}

// --- Single commands -------------------------------------------------------------------------

void TCustomFtpCli::OpenAsync()
{
    checkReady();
    if (Connected())
        throw FtpException(QStringLiteral("FTP component already connected"));
    if (!m_composite)
        m_request = ftpOpenAsync;
    m_done = false;
    m_rcvBuf.clear();
    m_replyLines = 0;
    m_requestError = 0;
    m_handler = Handler::None;
    m_quitDone = m_quitClosing = false;
    m_epsvRefused = false;
    m_addrIndex = 0;
    m_dataTls = false;
    m_tlsRefused = false;
    if (!m_composite)
        touch();
    m_watchdog->start();
    setState(TFtpState::LookingUp);
    m_ctrl->DnsLookup(m_hostName);
}

void TCustomFtpCli::UserAsync()
{
    if (m_userName.isEmpty())
        throw FtpException(QStringLiteral("UserName emtpy"));
    m_step = m_composite ? m_step : StUser;
    execCommand(ftpUserAsync, QStringLiteral("USER ") + m_userName, {331, 230});
}

void TCustomFtpCli::PassAsync()
{
    if (m_passWord.isEmpty())
        throw FtpException(QStringLiteral("Password emtpy"));
    m_step = m_composite ? m_step : StPass;
    execCommand(ftpPassAsync, QStringLiteral("PASS ") + m_passWord, {230});
}

void TCustomFtpCli::CwdAsync()
{
    if (m_hostDirName.isEmpty())
        throw FtpException(QStringLiteral("HostDirName emtpy"));
    m_step = m_composite ? m_step : StCwd;
    execCommand(ftpCwdAsync, QStringLiteral("CWD ") + m_hostDirName, {200, 250, 257});
}

void TCustomFtpCli::SystAsync()
{
    m_step = m_composite ? m_step : StSyst;
    execCommand(ftpSystAsync, QStringLiteral("SYST"), {215});
}

void TCustomFtpCli::QuitAsync()
{
    m_step = m_composite ? m_step : StQuit;
    execCommand(ftpQuitAsync, QStringLiteral("QUIT"), {221}, true);
}

void TCustomFtpCli::SizeAsync()
{
    m_step = m_composite ? m_step : StSize;
    execCommand(ftpSizeAsync, QStringLiteral("SIZE ") + m_hostFileName, {213});
}

void TCustomFtpCli::MkdAsync()
{
    m_step = m_composite ? m_step : StMkd;
    execCommand(ftpMkdAsync, QStringLiteral("MKD ") + m_hostFileName, {257});
}

void TCustomFtpCli::RmdAsync()
{
    m_step = m_composite ? m_step : StRmd;
    execCommand(ftpRmdAsync, QStringLiteral("RMD ") + m_hostFileName, {250, 257});
}

void TCustomFtpCli::DeleAsync()
{
    m_step = m_composite ? m_step : StDele;
    execCommand(ftpDeleAsync, QStringLiteral("DELE ") + m_hostFileName, {250, 257});
}

void TCustomFtpCli::RenToAsync()
{
    m_step = m_composite ? m_step : StRenTo;
    execCommand(ftpRenToAsync, QStringLiteral("RNTO ") + m_localFileName, {250, 257});
}

void TCustomFtpCli::RenFromAsync()
{
    m_step = m_composite ? m_step : StRenFrom;
    execCommand(ftpRenFromAsync, QStringLiteral("RNFR ") + m_hostFileName, {350});
}

void TCustomFtpCli::PwdAsync()
{
    m_step = m_composite ? m_step : StPwd;
    execCommand(ftpPwdAsync, QStringLiteral("PWD"), {250, 257});
}

void TCustomFtpCli::QuoteAsync()
{
    m_step = m_composite ? m_step : StQuote;
    execCommand(ftpQuoteAsync, m_localFileName, {});
}

void TCustomFtpCli::CDupAsync()
{
    m_step = m_composite ? m_step : StCDup;
    execCommand(ftpCDupAsync, QStringLiteral("CDUP"), {250});
}

void TCustomFtpCli::TypeSetAsync()
{
    m_step = m_composite ? m_step : StTypeSet;
    execCommand(ftpTypeSetAsync, QStringLiteral("TYPE ") + (m_binary ? QLatin1Char('I') : QLatin1Char('A')), {200});
}

void TCustomFtpCli::PortAsync()
{
    m_step = m_composite ? m_step : StPort;
    portStep();
}

void TCustomFtpCli::RestAsync()
{
    m_step = m_composite ? m_step : StRest;
    restStep();
}

// --- Composite requests ----------------------------------------------------------------------

void TCustomFtpCli::ConnectAsync() { startComposite(ftpConnectAsync, bit(StOpen) | bit(StUser) | bit(StPass)); }
void TCustomFtpCli::ReceiveAsync()
{
    startComposite(ftpReceiveAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StTypeSet)
                                         | bit(StPort) | bit(StGet) | bit(StQuit));
}
void TCustomFtpCli::DirAsync() { startComposite(ftpDirAsync, bit(StPort) | bit(StDir)); }
void TCustomFtpCli::LsAsync() { startComposite(ftpLsAsync, bit(StPort) | bit(StLs)); }
void TCustomFtpCli::GetAsync() { startComposite(ftpGetAsync, bit(StPort) | bit(StGet)); }
void TCustomFtpCli::DirectoryAsync()
{
    startComposite(ftpDirectoryAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StPort)
                                          | bit(StDir) | bit(StQuit));
}
void TCustomFtpCli::ListAsync()
{
    startComposite(ftpListAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StPort) | bit(StLs)
                                     | bit(StQuit));
}
void TCustomFtpCli::SystemAsync()
{
    startComposite(ftpSystemAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StSyst) | bit(StQuit));
}
void TCustomFtpCli::FileSizeAsync()
{
    startComposite(ftpSizeAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StSize) | bit(StQuit));
}
void TCustomFtpCli::PutAsync() { startComposite(ftpPutAsync, bit(StPort) | bit(StPut)); }
void TCustomFtpCli::AppendAsync() { startComposite(ftpAppendAsync, bit(StPort) | bit(StAppend)); }
void TCustomFtpCli::RenameAsync()
{
    startComposite(ftpRenameAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StRenFrom)
                                       | bit(StRenTo) | bit(StQuit));
}
void TCustomFtpCli::RenAsync() { startComposite(ftpRenAsync, bit(StRenFrom) | bit(StRenTo)); }
void TCustomFtpCli::DeleteAsync()
{
    startComposite(ftpDeleteAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StDele) | bit(StQuit));
}
void TCustomFtpCli::MkdirAsync()
{
    startComposite(ftpMkdirAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StMkd) | bit(StQuit));
}
void TCustomFtpCli::RmdirAsync()
{
    startComposite(ftpRmdirAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StRmd) | bit(StQuit));
}
void TCustomFtpCli::DoQuoteAsync()
{
    startComposite(ftpDoQuoteAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StQuote)
                                        | bit(StQuit));
}
void TCustomFtpCli::TransmitAsync()
{
    startComposite(ftpTransmitAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StTypeSet)
                                         | bit(StPort) | bit(StPut) | bit(StQuit));
}
void TCustomFtpCli::AppendFileAsync()
{
    startComposite(ftpTransmitAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StTypeSet)
                                         | bit(StPort) | bit(StAppend) | bit(StQuit));
}
void TCustomFtpCli::RestGetAsync() { startComposite(ftpRestGetAsync, bit(StPort) | bit(StRest) | bit(StGet)); }
void TCustomFtpCli::RestartGetAsync()
{
    startComposite(ftpRestartGetAsync, bit(StOpen) | bit(StUser) | bit(StPass) | bit(StCwd) | bit(StTypeSet)
                                           | bit(StPort) | bit(StRest) | bit(StGet) | bit(StQuit));
}

void TCustomFtpCli::startComposite(int rq, unsigned steps)
{
    if (Connected() && (steps & bit(StOpen)))
        throw FtpException(QStringLiteral("FTP component already connected"));
    checkReady();
    if ((steps & bit(StOpen)) && m_useTls)
        steps |= bit(StAuth) | bit(StPbsz) | bit(StProt);
    m_savedReply = m_lastReply;
    m_savedCode = -1;
    m_request = rq;
    m_requestError = 0;
    m_pending = steps;
    m_step = StNone;
    m_compositeResult = 0;
    m_composite = true;
    m_lastReply.clear();
    m_errorMessage.clear();
    touch();
    m_watchdog->start();
    try {
        m_inDispatch = true;
        dispatch();
        m_inDispatch = false;
    } catch (...) {
        // The very first step was refused: nothing was started, the caller gets the exception.
        m_inDispatch = false;
        m_composite = false;
        m_pending = 0;
        m_hasNext = false;
        m_done = true;
        m_savedCode = -1;
        if (m_data->State() != wsClosed) {
            m_data->OnSessionClosed = nullptr;
            m_data->Close();
        }
        closeLocal();
        if (m_state == TFtpState::StepReady)
            setState(TFtpState::Ready);
        m_watchdog->stop();
        throw;
    }
}

void TCustomFtpCli::dispatch()
{
    if (m_state == TFtpState::Aborting) {
        m_pending = 0;
        m_compositeResult = 426;
        m_errorMessage = QStringLiteral("426 Operation aborted.");
    }
    m_hasNext = true;
    if (m_step != StNone)
        parseReplyResults(m_step);
    for (unsigned s = 0; s < StCount; ++s) {
        if (!(m_pending & (1u << s)))
            continue;
        m_pending &= ~(1u << s);
        const Step st = Step(s);
        if (st == StPass && !(m_step != StUser || m_replyCode == 331))
            continue;  // USER was answered 230: no password needed
        if (st == StCwd && m_hostDirName.isEmpty())
            continue;
        if (st == StQuit) {
            m_savedReply = m_lastReply;
            m_savedCode = m_replyCode;
        }
        if (st == StGet && !(m_step == StRest && m_replyCode == 350))
            m_resumeAt = 0;
        m_prevStep = m_step;
        m_step = st;
        runStep(st);
        return;
    }
    m_hasNext = false;
    m_done = false;
    finishRequest(m_compositeResult);
}

void TCustomFtpCli::runStep(Step s)
{
    switch (s) {
    case StOpen: OpenAsync(); break;
    case StAuth:
        execCommand(ftpConnectAsync, QStringLiteral("AUTH TLS"), {234});
        m_handler = Handler::Auth;
        break;
    case StPbsz: execCommand(ftpConnectAsync, QStringLiteral("PBSZ 0"), {200}); break;
    case StProt: execCommand(ftpConnectAsync, QStringLiteral("PROT P"), {200}); break;
    case StUser: UserAsync(); break;
    case StPass: PassAsync(); break;
    case StCwd: CwdAsync(); break;
    case StCDup: CDupAsync(); break;
    case StTypeSet: TypeSetAsync(); break;
    case StPort: portStep(); break;
    case StRest: restStep(); break;
    case StGet: case StDir: case StLs: receiveStep(s); break;
    case StPut: sendStep(false); break;
    case StAppend: sendStep(true); break;
    case StSyst: SystAsync(); break;
    case StMkd: MkdAsync(); break;
    case StRmd: RmdAsync(); break;
    case StRenFrom: RenFromAsync(); break;
    case StRenTo: RenToAsync(); break;
    case StSize: SizeAsync(); break;
    case StDele: DeleAsync(); break;
    case StPwd: PwdAsync(); break;
    case StQuote: QuoteAsync(); break;
    case StQuit: QuitAsync(); break;
    default: break;
    }
}

void TCustomFtpCli::parseReplyResults(Step s)
{
    if (m_requestError != 0)
        return;
    if (s == StCwd || s == StMkd || s == StPwd || s == StCDup)
        m_replyDir = quotedDir(m_lastReply);
    else if (s == StSize)
        m_replySize = secondNumber(m_lastReply);
    else if (s == StProt)
        m_dataTls = true;
}

void TCustomFtpCli::finishRequest(int error)
{
    if (m_done)
        return;
    m_done = true;
    if (error == 0 && m_composite && m_hasNext) {
        if (m_state != TFtpState::Aborting)
            setState(TFtpState::StepReady);
        if (m_inDispatch) {
            dispatch();  // the starting call handles a refused first step
            return;
        }
        try {
            m_inDispatch = true;
            dispatch();
            m_inDispatch = false;
        } catch (const std::exception &e) {
            // A step refused its start (for instance an empty UserName): end the whole request
            // with an error instead of leaving it hanging until the timeout.
            m_inDispatch = false;
            const FtpException *fe = dynamic_cast<const FtpException *>(&e);
            const ESocketException *se = dynamic_cast<const ESocketException *>(&e);
            const QString text = fe ? fe->message() : se ? se->message() : QString::fromLocal8Bit(e.what());
            display(QStringLiteral("! ") + text);
            if (m_errorMessage.isEmpty())
                m_errorMessage = text;
            m_hasNext = false;
            m_done = false;
            m_requestError = 500;
            finishRequest(500);
        }
        return;
    }
    m_watchdog->stop();
    m_requestError = error;  // what the synchronous wait reads is what OnRequestDone reports
    setState(TFtpState::Ready);
    if (m_data->State() != wsClosed) {
        m_data->OnSessionClosed = nullptr;
        m_data->OnDataAvailable = nullptr;
        m_data->OnDataSent = nullptr;
        m_data->OnSessionAvailable = nullptr;
        m_data->Close();
    }
    if (error != 0)
        cleanupFailedDownload();
    closeLocal();
    m_receiving = false;
    if (m_savedCode != -1) {
        m_lastReply = m_savedReply;
        m_replyCode = m_savedCode;
        m_savedCode = -1;
    }
    m_composite = false;
    m_pending = 0;
    m_hasNext = false;
    postRequestDone(error);
}

void TCustomFtpCli::postRequestDone(int error)
{
    // The code travels with the message: a request started before this report is delivered (a
    // synchronous call chained from a handler) must not relabel it.
    const int rq = m_request;
    QMetaObject::invokeMethod(
        this, [this, rq, error] { emit OnRequestDone(rq, quint16(error)); }, Qt::QueuedConnection);
}

void TCustomFtpCli::Abort()
{
    const TFtpState old = m_state;
    setState(TFtpState::Aborting);
    if (old == TFtpState::LookingUp)
        m_ctrl->CancelDnsLookup();
    if (m_ctrl->State() != wsClosed)
        m_ctrl->Close();
    if (m_data->State() != wsClosed) {
        m_data->OnSessionClosed = nullptr;
        m_data->Close();
    }
    closeLocal();
    m_connected = false;
    // A request still under way (the close above did not end it) ends now.
    if (!m_done) {
        if (m_requestError == 0) {
            m_requestError = 426;
            m_errorMessage = QStringLiteral("426 Operation aborted.");
        }
        m_hasNext = false;
        finishRequest(m_requestError);
    }
    setState(TFtpState::Ready);
}

void TCustomFtpCli::watchdog()
{
    if (m_state == TFtpState::Ready || m_timeout <= 0)
        return;
    if (m_activity.elapsed() < qint64(m_timeout) * 1000)
        return;
    display(QStringLiteral("! Timeout"));
    Abort();
    m_errorMessage = QStringLiteral("426 Timeout");
    m_replyCode = 426;
}

// --- Control connection ----------------------------------------------------------------------

void TCustomFtpCli::ctrlDnsLookupDone(quint16 error)
{
    if (error != 0) {
        m_lastReply = winsockReply(error);
        m_replyCode = 500;
        fillErrorMessage();
        m_requestError = error;
        finishRequest(error);
        return;
    }
    try {
        m_ctrl->setAddr(m_ctrl->DnsResult());
        m_ctrl->setProto(QStringLiteral("tcp"));
        m_ctrl->setPort(m_port);
        setState(TFtpState::WaitingGreeting);
        m_ctrl->Connect();
    } catch (const ESocketException &e) {
        // A port name the service database does not know, for instance.
        m_lastReply = QStringLiteral("500 ") + e.message();
        m_replyCode = 500;
        fillErrorMessage();
        m_requestError = 500;
        finishRequest(500);
    }
}

void TCustomFtpCli::ctrlSessionConnected(quint16 error)
{
    if (error != 0 && m_addrIndex + 1 < m_ctrl->DnsResultList().size() && m_state == TFtpState::WaitingGreeting) {
        // A name with several addresses (IPv6 first, then IPv4): try the next one.
        const QString next = m_ctrl->DnsResultList().at(++m_addrIndex);
        display(QStringLiteral("! Cannot connect to %1 (%2), trying %3")
                    .arg(m_ctrl->Addr(), SocketErrorText(error), next));
        // Closed here, quietly: this close is no end of the session.
        const auto closed = m_ctrl->OnSessionClosed;
        m_ctrl->OnSessionClosed = nullptr;
        m_ctrl->Close();
        m_ctrl->OnSessionClosed = closed;
        QMetaObject::invokeMethod(this, [this, next] {
            if (m_state != TFtpState::WaitingGreeting || m_ctrl->State() != wsClosed)
                return;
            try {
                m_ctrl->setAddr(next);
                m_ctrl->setProto(QStringLiteral("tcp"));
                m_ctrl->setPort(m_port);
                m_ctrl->Connect();
            } catch (const ESocketException &) {
                ctrlSessionConnected(wsaerr::HostUnreach);
            }
        }, Qt::QueuedConnection);
        return;
    }
    if (error != 0) {
        m_lastReply = winsockReply(error);
        m_replyCode = 500;
        m_hasNext = false;
        m_requestError = error;
        finishRequest(error);
        m_ctrl->Close();
        setState(TFtpState::Ready);
        return;
    }
    m_connected = true;
}

void TCustomFtpCli::ctrlDataAvailable(quint16)
{
    char buf[kRcvBufSize];
    const int room = kRcvBufSize - int(m_rcvBuf.size());
    if (room <= 0) {
        protocolFailure(500, QStringLiteral("500 Reply line too long"));
        return;
    }
    const int n = m_ctrl->Receive(buf, room);
    if (n == 0) {
        m_ctrl->Close();
        return;
    }
    if (n < 0)
        return;
    // No touch(): reply text is no progress. A server that trickles bytes or sends endless
    // continuation lines would otherwise hold the request open for as long as it likes.
    m_rcvBuf.append(buf, n);
    QPointer<TCustomFtpCli> guard(this);
    for (;;) {
        const qsizetype i = m_rcvBuf.indexOf("\r\n");
        if (i < 0)
            break;
        const QByteArray line = m_rcvBuf.left(i);
        m_rcvBuf.remove(0, i + 2);
        handleLine(line);
        if (!guard)
            return;
        if (m_ctrl->State() != wsConnected) {
            m_rcvBuf.clear();
            return;
        }
    }
    if (m_rcvBuf.size() >= kRcvBufSize)
        protocolFailure(500, QStringLiteral("500 Reply line too long"));
}

void TCustomFtpCli::protocolFailure(int code, const QString &text)
{
    display(QStringLiteral("! ") + text);
    m_rcvBuf.clear();
    m_lastReply = text;
    m_replyCode = code;
    fillErrorMessage();
    if (!m_done)
        m_requestError = code;
    m_ctrl->Close();
}

void TCustomFtpCli::handleLine(const QByteArray &raw)
{
    const QString line = FtpDecodeLine(raw);
    m_lastReply = line;
    emit OnResponse();
    if (++m_replyLines > kMaxReplyLines) {
        protocolFailure(500, QStringLiteral("500 Reply has too many lines"));
        return;
    }
    switch (m_state) {
    case TFtpState::WaitingGreeting: {
        display(QStringLiteral("< ") + line);
        int end = 0;
        if (!startsWithDigit(line))
            return;
        const int code = leadingNumber(line, &end);
        if (end < line.size() && line[end] == QLatin1Char('-'))
            return;
        m_replyCode = code;
        m_replyLines = 0;
        if (code != 220) {
            fillErrorMessage();
            m_requestError = code;
            m_ctrl->Close();
            return;
        }
        setState(TFtpState::Connected);
        display(QStringLiteral("! Connected to %1 over %2; %3 mode data connections, %4")
                    .arg(m_ctrl->GetPeerAddr(), m_ctrl->IsIPv6() ? QStringLiteral("IPv6") : QStringLiteral("IPv4"),
                         m_passive ? QStringLiteral("passive") : QStringLiteral("active"),
                         m_useTls ? QStringLiteral("TLS requested") : QStringLiteral("no TLS")));
        emit OnSessionConnected(0);
        finishRequest(0);
        return;
    }
    case TFtpState::WaitingReply:
        switch (m_handler) {
        case Handler::Standard: standardReply(line); break;
        case Handler::Passive: passiveReply(line); break;
        case Handler::Auth: authReply(line); break;
        case Handler::FirstTransfer: firstTransferReply(line); break;
        case Handler::SecondTransfer: secondTransferReply(line); break;
        case Handler::FirstSend: firstSendReply(line); break;
        case Handler::SecondSend: secondSendReply(line); break;
        case Handler::None: display(QStringLiteral("! Program error: FNext is nil")); break;
        }
        return;
    default:
        display(QStringLiteral("< ") + line);
        return;
    }
}

void TCustomFtpCli::standardReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    if (!startsWithDigit(line))
        return;
    int end = 0;
    const int code = leadingNumber(line, &end);
    m_replyCode = code;
    if (end < line.size() && line[end] == QLatin1Char('-'))
        return;
    m_replyLines = 0;
    bool ok;
    if (m_okCodes.empty()) {
        ok = code < 500;
    } else {
        ok = false;
        for (size_t i = 0; i < m_okCodes.size() && i < 16; ++i)
            if (m_okCodes[i] == code)
                ok = true;
    }
    if (ok) {
        m_requestError = 0;
        parseReplyResults(m_step);
    } else {
        m_requestError = code;
        fillErrorMessage();
    }
    if (m_quitDone) {
        m_quitDone = false;
        m_quitClosing = true;
        m_ctrl->Close();  // the request ends through the close
        m_quitClosing = false;
        return;
    }
    finishRequest(m_requestError);
}

void TCustomFtpCli::ctrlSessionClosed(quint16 error)
{
    // A close while an answer is still awaited is a failure, never a success.
    const bool unexpected = !m_done && !m_quitClosing && m_requestError == 0;
    if (m_connected) {
        m_connected = false;
        if (m_state != TFtpState::Aborting)
            setState(TFtpState::NotConnected);
        emit OnSessionClosed(error);
    }
    if (unexpected) {
        if (m_state == TFtpState::Aborting) {
            m_requestError = 426;
            m_errorMessage = QStringLiteral("426 Operation aborted.");
        } else {
            m_lastReply = error ? winsockReply(error) : QStringLiteral("421 Connection closed by server");
            m_replyCode = error ? 500 : 421;
            fillErrorMessage();
            m_requestError = error ? int(error) : 421;
            display(QStringLiteral("! ") + m_lastReply);
        }
        m_hasNext = false;
    }
    if (m_state != TFtpState::Aborting)
        setState(TFtpState::StepReady);
    finishRequest(m_requestError);
}

// --- TLS on the control connection ----------------------------------------------------------

void TCustomFtpCli::failControl(int code, const QString &reply)
{
    m_lastReply = reply;
    m_replyCode = code;
    fillErrorMessage();
    display(QStringLiteral("! ") + reply);
    m_handler = Handler::None;
    m_hasNext = false;
    m_requestError = code;
    finishRequest(code);
    // Never go on in plain text after TLS was asked for.
    if (m_ctrl->State() != wsClosed)
        m_ctrl->Close();
    setState(TFtpState::Ready);  // the close above reports a step end; the request is over
}

void TCustomFtpCli::authReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    if (!startsWithDigit(line))
        return;
    int end = 0;
    const int code = leadingNumber(line, &end);
    if (end < line.size() && line[end] == QLatin1Char('-'))
        return;
    m_replyCode = code;
    m_replyLines = 0;
    if (code != 234) {
        m_tlsRefused = true;
        failControl(code >= 400 ? code : 534, QStringLiteral("534 The server does not offer TLS (") + line
                                                  + QStringLiteral("); nothing was sent in plain text"));
        return;
    }
    m_handler = Handler::None;
    m_ctrl->OnTlsDone = [this](TCustomWSocket *, quint16 e) { ctrlTlsDone(e); };
    try {
        m_ctrl->StartTls(m_hostName);
    } catch (const ESocketException &e) {
        failControl(500, QStringLiteral("500 ") + e.message());
    }
}

void TCustomFtpCli::ctrlTlsDone(quint16 error)
{
    m_ctrl->OnTlsDone = nullptr;
    if (error != 0) {
        failControl(500, QStringLiteral("500 TLS handshake failed: ") + m_ctrl->TlsError());
        return;
    }
    const long verify = m_ctrl->TlsVerifyResult();
    const QString fp = m_ctrl->TlsFingerprint();
    display(QStringLiteral("! TLS session: %1, certificate %2")
                .arg(m_ctrl->TlsVersion(),
                     verify == 0 ? QStringLiteral("verified") : QStringLiteral("not verified (") + m_ctrl->TlsVerifyText() + QLatin1Char(')')));
    bool ok = verify == 0 || (!m_trustedFp.isEmpty() && fp.compare(m_trustedFp, Qt::CaseInsensitive) == 0);
    if (!ok) {
        const bool changed = !m_trustedFp.isEmpty();
        QString details = m_ctrl->TlsCertificateText() + QStringLiteral("\nProblem: ") + m_ctrl->TlsVerifyText();
        QPointer<TCustomFtpCli> guard(this);
        m_watchdog->stop();  // the user's time to decide is no silence of the server
        emit OnCertificate(details, fp, changed, ok);
        if (!guard)
            return;
        touch();
        m_watchdog->start();
        if (ok)
            m_trustedFp = fp;
    }
    if (m_ctrl->State() != wsConnected || m_done)
        return;  // the session ended while the user was asked
    if (!ok) {
        failControl(500, QStringLiteral("500 Certificate not trusted: ") + m_ctrl->TlsVerifyText());
        return;
    }
    m_requestError = 0;
    finishRequest(0);
}

// --- TFtpClient: synchronous operations ------------------------------------------------------

TFtpClient::TFtpClient(QObject *owner) : TCustomFtpCli(owner)
{
    setTimeout(15);
}

template <typename F> bool TFtpClient::synchronize(F start)
{
    try {
        start();
    } catch (const FtpException &e) {
        QString m = QStringLiteral("! ") + e.message();
        emit OnDisplay(m);
        return false;
    } catch (const ESocketException &e) {
        QString m = QStringLiteral("! ") + e.message();
        emit OnDisplay(m);
        return false;
    }
    // Wakes the wait regularly so the deadline is seen even when nothing else happens.
    QTimer wake;
    wake.start(100);
    for (;;) {
        if (State() == TFtpState::Ready)
            return RequestError() == 0;
        if (QCoreApplication::closingDown())
            break;
        if (Timeout() > 0 && lastActivityMs() > qint64(Timeout()) * 1000)
            break;
        if (MultiThreaded())
            ControlSocket()->MessagePump();
        else
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Abort();
    setTimedOut();
    return false;
}

bool TFtpClient::Connect() { return synchronize([this] { ConnectAsync(); }); }
bool TFtpClient::Cwd() { return synchronize([this] { CwdAsync(); }); }
bool TFtpClient::Pwd() { return synchronize([this] { PwdAsync(); }); }
bool TFtpClient::CDup() { return synchronize([this] { CDupAsync(); }); }
bool TFtpClient::TypeSet() { return synchronize([this] { TypeSetAsync(); }); }
bool TFtpClient::Get() { return synchronize([this] { GetAsync(); }); }
bool TFtpClient::Put() { return synchronize([this] { PutAsync(); }); }
bool TFtpClient::Quit() { return synchronize([this] { QuitAsync(); }); }
bool TFtpClient::Dir() { return synchronize([this] { DirAsync(); }); }
bool TFtpClient::Mkd() { return synchronize([this] { MkdAsync(); }); }
bool TFtpClient::Dele() { return synchronize([this] { DeleAsync(); }); }
bool TFtpClient::Rmd() { return synchronize([this] { RmdAsync(); }); }
bool TFtpClient::Syst() { return synchronize([this] { SystAsync(); }); }
