// Data-connection steps of the FTP engine: PORT, REST, RETR/LIST/NLST and STOR/APPE.
#include "windows/ftp/ftpcli.h"

#include <QFile>
#include <QFileInfo>

#include <sys/socket.h>
#include <unistd.h>

namespace {
bool replyIsFinal(const QString &line, int *code)
{
    if (line.isEmpty() || !line[0].isDigit())
        return false;
    int i = 0, v = 0;
    while (i < line.size() && line[i].isDigit()) {
        if (v < 100000)
            v = v * 10 + line[i].digitValue();
        ++i;
    }
    if (i < line.size() && line[i] == QLatin1Char('-'))
        return false;  // continuation of a multi-line reply
    *code = v;
    return true;
}
} // namespace

void TCustomFtpCli::portStep()
{
    checkReady();
    checkConnected();
    if (m_data->State() != wsClosed) {
        m_data->OnSessionClosed = nullptr;
        m_data->Close();
    }
    m_data->OnSessionAvailable = nullptr;
    m_data->OnSessionClosed = nullptr;
    m_data->OnDataAvailable = nullptr;
    m_data->OnDataSent = nullptr;
    m_data->OnSessionConnected = nullptr;
    if (m_passive) {
        passiveStep();
        return;
    }
    // Listen on the address the server already reaches us at, not on every interface.
    const QString local = m_ctrl->GetXAddr();
    m_data->setProto(QStringLiteral("tcp"));
    m_data->setAddr(local.isEmpty() ? QStringLiteral("0.0.0.0") : local);
    m_data->setPort(QStringLiteral("0"));
    m_data->setLingerOnOff(wsLingerOn);
    m_data->setLingerTimeout(10);
    m_data->Listen();
    const int p = m_data->GetXPort();
    const QString remote = m_ctrl->GetPeerAddr();
    m_expectedPeer = remote;
    QString cmd;
    if (m_ctrl->IsIPv6()) {
        // PORT carries IPv4 only; EPRT names the family (RFC 2428).
        cmd = QStringLiteral("EPRT |2|%1|%2|").arg(local).arg(p);
    } else if (remote == QLatin1String("127.0.0.1")) {
        cmd = QStringLiteral("PORT 127,0,0,1,%1,%2").arg(p / 256).arg(p % 256);
    } else {
        const QStringList a = local.split(QLatin1Char('.'));
        cmd = QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                  .arg(a.value(0), a.value(1), a.value(2), a.value(3))
                  .arg(p / 256)
                  .arg(p % 256);
    }
    execCommand(ftpPortAsync, cmd, {200, 227});
}

// --- Passive mode ----------------------------------------------------------------------------

void TCustomFtpCli::passiveStep()
{
    m_expectedPeer.clear();
    // PASV answers with an IPv4 address only; over IPv6 EPSV is the one way.
    m_passiveCmd = m_epsvRefused && !m_ctrl->IsIPv6() ? QStringLiteral("PASV") : QStringLiteral("EPSV");
    execCommand(ftpPortAsync, m_passiveCmd, {});
    m_handler = Handler::Passive;
}

namespace {
// "229 Entering Extended Passive Mode (|||6446|)": the port between the delimiters; -1 if malformed.
int epsvPort(const QString &line)
{
    const qsizetype open = line.indexOf(QLatin1Char('('));
    const qsizetype close = line.indexOf(QLatin1Char(')'), open + 1);
    if (open < 0 || close < 0 || close - open < 6)
        return -1;
    const QString in = line.mid(open + 1, close - open - 1);
    const QChar d = in[0];
    // Four delimiters: |<net-prt>|<net-addr>|<port>| with the first two fields empty here.
    if (d.unicode() < 33 || d.unicode() > 126 || in.count(d) != 4 || !in.endsWith(d))
        return -1;
    const QStringList f = in.split(d);
    bool ok = false;
    const int port = f.value(3).toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : -1;
}

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" (parentheses optional); false if malformed.
bool pasvAddress(const QString &line, QString *addr, int *port)
{
    qsizetype i = 3;
    while (i < line.size() && !line[i].isDigit())
        ++i;
    int v[6];
    for (int k = 0; k < 6; ++k) {
        if (i >= line.size() || !line[i].isDigit())
            return false;
        int n = 0, digits = 0;
        while (i < line.size() && line[i].isDigit() && digits < 4) {
            n = n * 10 + line[i].digitValue();
            ++i;
            ++digits;
        }
        if (n > 255)
            return false;
        v[k] = n;
        if (k < 5) {
            if (i >= line.size() || line[i] != QLatin1Char(','))
                return false;
            ++i;
        }
    }
    *addr = QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    *port = v[4] * 256 + v[5];
    return *port > 0;
}
} // namespace

void TCustomFtpCli::passiveReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    int code = 0;
    if (!replyIsFinal(line, &code))
        return;
    m_replyCode = code;
    const bool epsv = m_passiveCmd == QLatin1String("EPSV");
    if (epsv && code >= 500 && !m_ctrl->IsIPv6()) {
        // The server does not know EPSV (or refuses it): ask the classic way, and keep doing so.
        m_epsvRefused = true;
        m_passiveCmd = QStringLiteral("PASV");
        sendCommand(m_passiveCmd);
        return;
    }
    // The data connection always goes to the address the control connection reached: a PASV
    // address differing from it (a private address behind NAT, or a third host that a hostile
    // server would have us connect to) is never used.
    const QString peer = m_ctrl->GetPeerAddr();
    int port = -1;
    bool ok = false;
    if (epsv && code == 229) {
        port = epsvPort(line);
        ok = port > 0;
    } else if (!epsv && code == 227) {
        QString offered;
        ok = pasvAddress(line, &offered, &port);
        if (ok && offered != peer)
            display(QStringLiteral("! Passive address %1 replaced by the server's address %2").arg(offered, peer));
    }
    if (!ok) {
        if (code < 400) {
            m_lastReply = QStringLiteral("500 Cannot read the passive mode reply: ") + line;
            code = 500;
        }
        fillErrorMessage();
        m_handler = Handler::None;
        m_requestError = code;
        finishRequest(code);
        return;
    }
    m_handler = Handler::None;
    try {
        m_data->setProto(QStringLiteral("tcp"));
        m_data->setAddr(peer);
        m_data->setPort(QString::number(port));
        m_data->setLingerOnOff(wsLingerOn);
        m_data->setLingerTimeout(10);
        m_data->OnSessionConnected = [this](TCustomWSocket *, quint16 e) { passiveConnected(e); };
        m_data->Connect();
    } catch (const ESocketException &e) {
        m_data->OnSessionConnected = nullptr;
        m_lastReply = QStringLiteral("500 ") + e.message();
        m_replyCode = 500;
        fillErrorMessage();
        m_requestError = 500;
        finishRequest(500);
    }
}

void TCustomFtpCli::passiveConnected(quint16 error)
{
    m_data->OnSessionConnected = nullptr;
    if (error != 0) {
        m_lastReply = QStringLiteral("425 Cannot open the data connection: %1 (Winsock error #%2)")
                          .arg(SocketErrorText(error))
                          .arg(error);
        m_replyCode = 425;
        fillErrorMessage();
        display(QStringLiteral("! ") + m_lastReply);
        m_data->Close();
        m_requestError = 425;
        finishRequest(425);
        return;
    }
    // Nothing is read before the transfer command has set its handlers.
    m_data->Pause();
    touch();
    m_requestError = 0;
    finishRequest(0);
}

// A failure ends the transfer through the data close (or, before the transfer command, makes
// the transfer step find the data connection gone).
void TCustomFtpCli::dataTlsDone(quint16 error)
{
    m_data->OnTlsDone = nullptr;
    QString problem;
    if (error != 0)
        problem = QStringLiteral("425 TLS on the data connection failed: ") + m_data->TlsError();
    else if (m_data->TlsFingerprint() != m_ctrl->TlsFingerprint())
        problem = QStringLiteral("425 The data connection shows another certificate than the control connection");
    if (!problem.isEmpty()) {
        display(QStringLiteral("! ") + problem);
        if (!m_fault) {
            m_fault = 425;
            m_faultText = problem;
        }
        if (m_data->State() != wsClosed)
            m_data->Close();
    }
}

// A passive data connection that the server dropped before the transfer command.
bool TCustomFtpCli::dataLost()
{
    if (!m_passive || m_data->State() == wsConnected)
        return false;
    m_lastReply = QStringLiteral("425 Data connection closed before the transfer");
    m_replyCode = 425;
    fillErrorMessage();
    display(QStringLiteral("! ") + m_lastReply);
    closeLocal();
    m_receiving = false;
    m_requestError = 425;
    finishRequest(425);
    return true;
}

void TCustomFtpCli::restStep()
{
    checkReady();
    checkConnected();
    if (m_localStream) {
        m_resumeAt = m_localStream->size();
    } else {
        const QFileInfo fi(m_localFileName);
        m_resumeAt = !m_localFileName.isEmpty() && fi.exists() && fi.isFile() ? fi.size() : -1;
    }
    if (!m_composite)
        m_request = ftpRestAsync;
    if (m_resumeAt <= 0) {
        m_handler = Handler::Standard;
        m_quitDone = false;
        m_done = false;
        m_requestError = 0;
        finishRequest(0);
        return;
    }
    execCommand(ftpRestAsync, QStringLiteral("REST %1").arg(m_resumeAt), {});
}

void TCustomFtpCli::receiveStep(Step s)
{
    if (m_localFileName.isEmpty() && !m_displayFileFlag && !m_localStream)
        throw FtpException(QStringLiteral("LocalFileName empty"));
    checkReady();
    checkConnected();
    const int rq = s == StGet ? ftpGetAsync : s == StDir ? ftpDirAsync : ftpLsAsync;
    if (!m_composite)
        m_request = rq;
    m_keyword = s == StGet ? QStringLiteral("RETR") : s == StDir ? QStringLiteral("LIST") : QStringLiteral("NLST");
    const QString cmd = m_hostFileName.isEmpty() ? m_keyword : m_keyword + QLatin1Char(' ') + m_hostFileName;
    if (cmd.contains(QLatin1Char('\r')) || cmd.contains(QLatin1Char('\n')))
        throw FtpException(QStringLiteral("Line break in FTP command refused"));
    m_replyDone = m_dataDone = false;
    m_done = false;
    m_byteCount = 0;
    m_closeError = 0;
    m_fault = 0;
    m_faultText.clear();
    m_lineCarry.clear();
    m_receiving = true;
    m_truncatePending = false;
    m_createdLocal = false;
    m_startMs = m_clock.elapsed();
    if (dataLost())
        return;
    if (m_data->State() == wsConnected)
        attachData(false);
    else
        m_data->OnSessionAvailable = [this](TCustomWSocket *, quint16) { acceptData(false); };
    m_data->Resume();  // a server that connected right after PORT is waiting in the backlog

    closeLocal();
    if (m_localStream) {
        m_io = m_localStream;
    } else if (!m_displayFileFlag) {
        m_file = new QFile(m_localFileName);
        const bool existed = m_file->exists();
        bool ok;
        // Unbuffered: each batch is one write, and a failing write (a full disk) is seen at once,
        // never lost in a buffer flushed on close.
        if (m_resumeAt > 0) {
            ok = m_file->open(QIODevice::ReadWrite | QIODevice::Unbuffered) && m_file->seek(m_resumeAt);
        } else {
            // Truncating waits for the server's go-ahead: a refused RETR must not wipe a local file.
            ok = m_file->open(QIODevice::ReadWrite | QIODevice::Unbuffered);
            m_truncatePending = ok;
            m_createdLocal = ok && !existed;
        }
        if (!ok) {
            delete m_file;
            m_file = nullptr;
            m_lastReply = QStringLiteral("Unable to open local file ") + m_localFileName;
            m_replyCode = 550;
            fillErrorMessage();
            m_data->OnSessionAvailable = nullptr;
            m_data->Close();
            m_receiving = false;
            m_requestError = 550;
            finishRequest(550);
            return;
        }
        m_io = m_file;
    }
    setState(TFtpState::WaitingReply);
    m_handler = Handler::FirstTransfer;
    m_quitDone = false;
    sendCommand(cmd);
    startPassiveTls();
}

// Passive mode: the data connection's TLS handshake starts with the transfer command (servers
// take it up only then); its events go to the handshake until it is done.
void TCustomFtpCli::startPassiveTls()
{
    if (!m_dataTls || m_data->State() != wsConnected || m_data->TlsActive())
        return;
    m_data->OnTlsDone = [this](TCustomWSocket *, quint16 e) { dataTlsDone(e); };
    m_data->StartTls(m_hostName, m_ctrl);
}

void TCustomFtpCli::sendStep(bool append)
{
    m_request = append ? ftpAppendAsync : ftpPutAsync;
    if (m_localFileName.isEmpty() && !m_localStream)
        throw FtpException(QStringLiteral("LocalFileName empty"));
    checkReady();
    checkConnected();
    const QString cmd = (append ? QStringLiteral("APPE ") : QStringLiteral("STOR ")) + m_hostFileName;
    if (cmd.contains(QLatin1Char('\r')) || cmd.contains(QLatin1Char('\n')))
        throw FtpException(QStringLiteral("Line break in FTP command refused"));
    m_append = append;
    m_replyDone = m_dataDone = false;
    m_done = false;
    m_byteCount = 0;
    m_closeError = 0;
    m_fault = 0;
    m_faultText.clear();
    m_receiving = false;
    m_waitAccept = false;
    m_startMs = m_clock.elapsed();

    bool cancel = false;
    emit OnReadyToTransmit(cancel);
    if (cancel) {
        m_errorMessage = QStringLiteral("426 Transmit cancelled by application");
        m_replyCode = 426;
        display(QStringLiteral("! ") + m_errorMessage);
        m_requestError = 426;
        finishRequest(426);
        return;
    }
    if (dataLost())
        return;
    closeLocal();
    bool ok;
    if (m_localStream) {
        m_io = m_localStream;
        ok = m_io->isReadable();
    } else {
        m_file = new QFile(m_localFileName);
        ok = m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered);  // one read per batch
        m_io = m_file;
    }
    m_eof = false;
    m_sendPermitted = false;
    m_sendBatch = m_sendBlock;
    if (ok) {
        if (m_data->State() == wsConnected)
            attachData(true);
        else
            m_data->OnSessionAvailable = [this](TCustomWSocket *, quint16) { acceptData(true); };
        m_data->Resume();
    }
    if (ok && m_resumeAt > 0)
        ok = m_io->seek(m_resumeAt);
    if (!ok) {
        closeLocal();
        m_errorMessage = QStringLiteral("426 Unable to open local file ") + m_localFileName;
        m_replyCode = 426;
        display(QStringLiteral("! ") + m_errorMessage);
        m_data->OnSessionAvailable = nullptr;
        m_data->Close();
        m_requestError = 426;
        finishRequest(426);
        return;
    }
    setState(TFtpState::WaitingReply);
    m_handler = Handler::FirstSend;
    m_quitDone = false;
    sendCommand(cmd);
    startPassiveTls();
}

bool TCustomFtpCli::acceptData(bool sending)
{
    int fd;
    try {
        fd = m_data->Accept();
    } catch (const ESocketException &e) {
        display(QStringLiteral("! ") + e.message());
        return false;
    }
    if (fd < 0)
        return false;
    // Active mode lets anyone connect to the announced port: take only the server's connection.
    const QString peer = WSocketPeerAddr(fd);
    if (!m_expectedPeer.isEmpty() && peer != m_expectedPeer) {
        ::close(fd);
        display(QStringLiteral("! Data connection from %1 refused").arg(peer));
        return false;
    }
    m_data->OnSessionAvailable = nullptr;
    m_data->Close();  // the listener
    m_data->Dup(fd);
    if (m_dataTls) {
        // The client is the TLS client in either direction. TLS starts before anything can be
        // queued: what is sent meanwhile waits for the handshake, never goes out in plain text.
        m_data->OnTlsDone = [this](TCustomWSocket *, quint16 e) { dataTlsDone(e); };
        m_data->StartTls(m_hostName, m_ctrl);
    }
    attachData(sending);
    return true;
}

// The data connection is up (accepted, or connected in passive mode): route its events to the transfer.
void TCustomFtpCli::attachData(bool sending)
{
    m_data->OnSessionAvailable = nullptr;
    if (sending) {
        m_data->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { sendClosed(e); };
        m_data->OnDataAvailable = [this](TCustomWSocket *s, quint16) {
            char junk[2048];
            s->Receive(junk, sizeof junk);
        };
        m_data->OnDataSent = [this](TCustomWSocket *, quint16 e) { sendNext(e); };
    } else {
        m_data->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { recvClosed(e); };
        m_data->OnDataAvailable = [this](TCustomWSocket *, quint16) { recvData(); };
        m_data->OnDataSent = nullptr;
    }
    m_startMs = m_clock.elapsed();
    touch();
    if (sending) {
        int sndbuf = 0;
        socklen_t len = sizeof sndbuf;
        if (getsockopt(m_data->HSocket(), SOL_SOCKET, SO_SNDBUF, &sndbuf, &len) != 0)
            throw FtpException(QStringLiteral("winsock.getsockopt(SO_SNDBUF) failed"));
        m_data->setLingerOnOff(wsLingerOff);
        m_data->setLingerTimeout(10);
        m_data->SetLingerOption();
        m_data->setBufSize(m_sendBlock);
        if (m_waitAccept) {
            m_waitAccept = false;
            startSending();
        }
    }
}

// --- Receiving -------------------------------------------------------------------------------

bool TCustomFtpCli::writeLocal(const char *data, qint64 len)
{
    if (!m_io)
        return true;
    if (m_truncatePending && m_file) {
        m_truncatePending = false;
        if (!m_file->resize(0) || !m_file->seek(0))
            return false;
    }
    return m_io->write(data, len) == len;
}

void TCustomFtpCli::flushDisplayFile(bool all)
{
    qsizetype start = 0;
    for (;;) {
        const qsizetype nl = m_lineCarry.indexOf('\n', start);
        if (nl < 0)
            break;
        QByteArray l = m_lineCarry.mid(start, nl - start);
        if (l.endsWith('\r'))
            l.chop(1);
        QString s = FtpDecodeLine(l);
        emit OnDisplayFile(s);
        start = nl + 1;
    }
    m_lineCarry.remove(0, start);
    if (all && !m_lineCarry.isEmpty()) {
        QByteArray l = m_lineCarry;
        if (l.endsWith('\r'))
            l.chop(1);
        QString s = FtpDecodeLine(l);
        m_lineCarry.clear();
        emit OnDisplayFile(s);
    }
}

void TCustomFtpCli::recvData()
{
    if (progressAbort())
        return;
    // Everything waiting, up to one batch, in as few reads as the socket allows: a short plain
    // read means the socket is empty; TLS hands out one record per read.
    const int room = qMax(m_recvBlock, kBatch);
    int got = 0;
    int n = 0;
    while (got < room) {
        n = m_data->Receive(m_block.data() + got, room - got);
        if (n <= 0)
            break;
        const bool shortRead = n < room - got;
        got += n;
        if (shortRead && !m_data->TlsActive())
            break;
    }
    if (got > 0) {
        m_byteCount += got;
        if (m_io && !writeLocal(m_block.constData(), got)) {
            display(QStringLiteral("! Error writing local file"));
            if (!m_fault) {
                m_fault = 550;
                m_faultText = QStringLiteral("550 Error writing local file ") + m_localFileName;
            }
            m_data->Shutdown(2);
            return;
        }
        if (m_displayFileFlag) {
            m_lineCarry.append(m_block.constData(), got);
            flushDisplayFile(false);
        }
    }
    if (n < 0 && m_data->State() == wsConnected && m_data->LastError() != wsaerr::WouldBlock) {
        display(QStringLiteral("! Data: Receive error %1").arg(m_data->LastError()));
        if (!m_fault) {
            m_fault = m_data->LastError();
            m_faultText = QStringLiteral("500 Data: Receive error %1").arg(m_data->LastError());
        }
        m_data->Shutdown(2);
    }
}

void TCustomFtpCli::recvClosed(quint16 error)
{
    if (m_displayFileFlag)
        flushDisplayFile(true);
    // Until the go-ahead has truncated it, the file stays open: an empty download still has to empty it.
    if (!m_truncatePending)
        closeLocal();
    m_dataDone = true;
    m_closeError = error;
    transferComplete();
}

void TCustomFtpCli::firstTransferReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    int code = 0;
    if (!replyIsFinal(line, &code))
        return;
    m_replyCode = code;
    if (code == 125 || code == 150) {
        m_handler = Handler::SecondTransfer;
        if (m_truncatePending && m_file) {
            m_truncatePending = false;
            if (!m_file->resize(0) || !m_file->seek(0)) {
                display(QStringLiteral("! Error writing local file"));
                m_fault = 550;
                m_faultText = QStringLiteral("550 Error writing local file ") + m_localFileName;
            }
        }
        if (m_dataDone)
            closeLocal();
        return;
    }
    fillErrorMessage();
    m_handler = Handler::None;
    m_data->OnSessionClosed = nullptr;
    m_data->OnSessionAvailable = nullptr;
    m_data->Close();
    closeLocal();
    m_resumeAt = 0;
    m_requestError = code;
    finishRequest(code);
}

void TCustomFtpCli::secondTransferReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    int code = 0;
    if (!replyIsFinal(line, &code))
        return;
    m_replyCode = code;
    if (code == 125 || code == 226 || code == 250) {
        m_replyDone = true;
        transferComplete();
        return;
    }
    fillErrorMessage();
    closeLocal();
    m_data->OnSessionClosed = nullptr;
    m_data->Close();
    display(QStringLiteral("! RETR/LIST/NLST Failed"));
    m_requestError = code;
    finishRequest(code);
}

void TCustomFtpCli::transferComplete()
{
    if (!m_replyDone || !m_dataDone || m_done)
        return;
    statistics();
    m_resumeAt = 0;
    int outcome = m_closeError;
    if (m_fault) {
        outcome = m_fault;
        if (m_errorMessage.isEmpty())
            m_errorMessage = m_faultText;
    } else if (outcome) {
        m_lastReply = QStringLiteral("500 %1 (Winsock error #%2)").arg(SocketErrorText(outcome)).arg(outcome);
        fillErrorMessage();
    }
    if (outcome == 0)
        m_receiving = false;
    m_requestError = outcome;
    finishRequest(outcome);
}

void TCustomFtpCli::statistics()
{
    const qint64 elapsed = m_clock.elapsed() - m_startMs;
    QString line = QStringLiteral("! %1 bytes received/sent in %2 seconds").arg(m_byteCount).arg(elapsed / 1000);
    if (elapsed != 0) {
        const qint64 rate = m_byteCount < 32768 ? m_byteCount * 1000 / elapsed : m_byteCount / elapsed * 1000;
        line += QStringLiteral(" (%1 Bytes/sec)").arg(rate);
    }
    display(line);
}

void TCustomFtpCli::closeLocal()
{
    if (m_file) {
        m_file->close();
        delete m_file;
        m_file = nullptr;
    }
    m_io = nullptr;
}

void TCustomFtpCli::cleanupFailedDownload()
{
    if (!m_receiving || m_localStream || m_displayFileFlag || m_localFileName.isEmpty())
        return;
    closeLocal();
    const QFileInfo fi(m_localFileName);
    if (m_createdLocal && fi.exists() && fi.size() == 0) {
        QFile::remove(m_localFileName);  // nothing was received into a file we made
        return;
    }
    if (m_byteCount > 0)
        display(QStringLiteral("! Download incomplete: %1 bytes kept in %2 for resuming")
                    .arg(fi.size())
                    .arg(m_localFileName));
}

// --- Sending ---------------------------------------------------------------------------------

void TCustomFtpCli::firstSendReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    int code = 0;
    if (!replyIsFinal(line, &code))
        return;
    m_replyCode = code;
    if (code == 125 || code == 150) {
        m_sendPermitted = true;
        m_handler = Handler::SecondSend;
        QMetaObject::invokeMethod(this, [this] { startSending(); }, Qt::QueuedConnection);
        return;
    }
    fillErrorMessage();
    m_handler = Handler::None;
    m_data->OnSessionClosed = nullptr;
    m_data->OnSessionAvailable = nullptr;
    m_data->Close();
    closeLocal();
    m_resumeAt = 0;
    m_requestError = code;
    finishRequest(code);
}

void TCustomFtpCli::startSending()
{
    if (!m_io || m_done || m_receiving)
        return;
    if (m_data->State() == wsListening) {
        // The go-ahead can be read before the server's connection is accepted; start on accept.
        m_waitAccept = true;
        return;
    }
    m_startMs = m_clock.elapsed();
    sendNext(0);
}

void TCustomFtpCli::sendNext(quint16 error)
{
    if (!m_io)
        return;
    if (progressAbort())
        return;
    if (error != 0) {
        display(QStringLiteral("! Error #%1 sending data").arg(error));
        if (!m_fault) {
            m_fault = error;
            m_faultText = QStringLiteral("500 Error #%1 sending data").arg(error);
        }
        m_data->Close();
        return;
    }
    if (m_eof || !m_sendPermitted)
        return;
    if (m_dataTls && !m_data->TlsActive() && m_data->State() == wsConnected) {
        // PROT P is on: file data never goes out unencrypted.
        startPassiveTls();
        if (!m_data->TlsActive())
            return;
    }
    const qint64 want = qBound(qint64(m_sendBlock), m_sendBatch, qint64(qMax(m_sendBlock, kBatch)));
    const qint64 n = m_data->State() == wsConnected ? m_io->read(m_block.data(), want) : -1;
    if (n == 0) {
        m_eof = true;
        m_data->Close();
        return;
    }
    bool sent = false;
    if (n > 0) {
        m_byteCount += n;
        try {
            sent = m_data->Send(m_block.constData(), int(n)) == n;
        } catch (const ESocketException &) {
            sent = false;
        }
        // The next batch: twice as much while the network takes a whole batch at once, else
        // what it took, so the bytes waiting in the socket stay about one wake-up's worth.
        if (sent && m_data->State() == wsConnected) {
            const qint64 waiting = m_data->BufferedBytes();
            m_sendBatch = waiting == 0 ? want * 2 : qMax<qint64>(m_sendBlock, n - waiting);
        }
    }
    if (!sent) {
        display(QStringLiteral("! Error reading file"));
        if (!m_fault) {
            m_fault = 426;
            m_faultText = QStringLiteral("426 Error reading file ") + m_localFileName;
        }
        if (m_data->State() != wsClosed)
            m_data->Close();
    }
}

void TCustomFtpCli::sendClosed(quint16 error)
{
    if (!m_eof && !m_fault && error == 0) {
        // The server hung up before the whole file went out.
        m_fault = 426;
        m_faultText = QStringLiteral("426 Data connection closed before the end of the file");
    }
    closeLocal();
    m_dataDone = true;
    m_closeError = error;
    transferComplete();
}

void TCustomFtpCli::secondSendReply(const QString &line)
{
    display(QStringLiteral("< ") + line);
    int code = 0;
    if (!replyIsFinal(line, &code))
        return;
    m_replyCode = code;
    if (code == 226 || code == 250) {
        m_replyDone = true;
        transferComplete();
        return;
    }
    fillErrorMessage();
    closeLocal();
    m_data->OnSessionClosed = nullptr;
    m_data->Close();
    display(QStringLiteral("! STOR Failed"));
    m_requestError = code;
    finishRequest(code);
}

bool TCustomFtpCli::progressAbort()
{
    bool abort = false;
    touch();
    emit OnProgress(m_byteCount + qMax<qint64>(0, m_resumeAt), abort);
    if (!abort)
        return false;
    display(QStringLiteral("! Abort requested"));
    if (!m_fault) {
        m_fault = 426;
        m_faultText = QStringLiteral("426 Operation aborted.");
    }
    m_data->Close();
    return true;
}
