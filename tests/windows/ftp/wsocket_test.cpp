// TWSocket against itself and against plain POSIX peers on 127.0.0.1.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "windows/ftp/wsocket.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listener on a free port that takes over one connection into `server`.
struct Pair {
    TWSocket listener;
    TWSocket server;
    TWSocket client;
    int port = 0;
    bool connected = false;
    int connectError = -1;

    void open()
    {
        listener.setAddr(QStringLiteral("127.0.0.1"));
        listener.setPort(QStringLiteral("0"));
        listener.OnSessionAvailable = [this](TCustomWSocket *, quint16) {
            const int fd = listener.Accept();
            server.Dup(fd);
        };
        listener.Listen();
        port = listener.GetXPort();
        client.OnSessionConnected = [this](TCustomWSocket *, quint16 e) {
            connectError = e;
            connected = e == 0;
        };
        client.setAddr(QStringLiteral("127.0.0.1"));
        client.setPort(QString::number(port));
        client.Connect();
        ASSERT_TRUE(testenv::waitFor([this] { return connected && server.State() == wsConnected; }));
    }
};

// Reads everything available on `s` into `into`.
void drainInto(TCustomWSocket *s, QByteArray &into)
{
    char buf[4096];
    const int n = s->Receive(buf, sizeof buf);
    if (n > 0)
        into.append(buf, n);
}

} // namespace

TEST(WSocket, SendChunksFireDataSentOnceFromTheEventLoop)
{
    Pair p;
    p.open();
    QByteArray got;
    p.server.OnDataAvailable = [&](TCustomWSocket *s, quint16) { drainInto(s, got); };
    int sentEvents = 0;
    bool insideSend = false;
    bool firedInsideSend = false;
    p.client.OnDataSent = [&](TCustomWSocket *, quint16) {
        ++sentEvents;
        firedInsideSend |= insideSend;
    };
    const QByteArray data = ftptest::pattern(5000);
    insideSend = true;
    EXPECT_EQ(p.client.Send(data.constData(), int(data.size())), 5000);
    insideSend = false;
    EXPECT_EQ(sentEvents, 0);
    ASSERT_TRUE(testenv::waitFor([&] { return got.size() == 5000 && sentEvents > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(got, data);
    EXPECT_EQ(sentEvents, 1);
    EXPECT_FALSE(firedInsideSend);
    EXPECT_EQ(p.server.ReadCount(), 5000);
}

TEST(WSocket, PartialWritesResumeExactlyWhereTheStackStopped)
{
    Pair p;
    p.open();
    // The server does not read at first, so the client's kernel buffers fill and sends stop part-way.
    QByteArray got;
    bool reading = false;
    p.server.OnDataAvailable = [&](TCustomWSocket *s, quint16) {
        if (reading)
            drainInto(s, got);
    };
    p.server.Pause();
    int sentEvents = 0;
    p.client.OnDataSent = [&](TCustomWSocket *, quint16) { ++sentEvents; };
    const QByteArray data = ftptest::pattern(8 * 1024 * 1024, 7);
    for (qint64 off = 0; off < data.size(); off += 100000)
        p.client.Send(data.constData() + off, int(qMin<qint64>(100000, data.size() - off)));
    EXPECT_GT(p.client.BufferedBytes(), 0) << "the stack should not have taken 8 MB at once";
    reading = true;
    p.server.Resume();
    ASSERT_TRUE(testenv::waitFor([&] { return got.size() == data.size(); }, 20000));
    EXPECT_TRUE(got == data);
    EXPECT_TRUE(testenv::waitFor([&] { return sentEvents > 0; }));
    EXPECT_EQ(p.client.BufferedBytes(), 0);
}

TEST(WSocket, DataBeforeCloseAndCloseReportedOnce)
{
    Pair p;
    p.open();
    QStringList order;
    QByteArray got;
    int closes = 0;
    p.client.OnDataAvailable = [&](TCustomWSocket *s, quint16) {
        drainInto(s, got);
        order << QStringLiteral("data");
    };
    p.client.OnSessionClosed = [&](TCustomWSocket *, quint16 e) {
        ++closes;
        order << QStringLiteral("closed");
        EXPECT_EQ(e, 0);
    };
    p.server.SendStr(QByteArrayLiteral("last words"));
    p.server.Close();
    ASSERT_TRUE(testenv::waitFor([&] { return closes > 0; }));
    EXPECT_EQ(got, QByteArrayLiteral("last words"));
    ASSERT_GE(order.size(), 2);
    EXPECT_EQ(order.first(), QStringLiteral("data"));
    EXPECT_EQ(order.last(), QStringLiteral("closed"));
    EXPECT_EQ(p.client.State(), wsClosed);
    p.client.Close();  // a later Close of the same connection does not report again
    QCoreApplication::processEvents();
    EXPECT_EQ(closes, 1);
}

TEST(WSocket, HandlersMayCloseAndReuseTheirOwnSocket)
{
    Pair p;
    p.open();
    // Close from inside OnDataAvailable, then reconnect from inside OnSessionClosed.
    int closes = 0;
    bool reconnected = false;
    p.client.OnDataAvailable = [&](TCustomWSocket *s, quint16) {
        char b[16];
        s->Receive(b, sizeof b);
        s->Close();
    };
    p.client.OnSessionClosed = [&](TCustomWSocket *s, quint16) {
        if (++closes > 1)
            return;
        s->setAddr(QStringLiteral("127.0.0.1"));
        s->setPort(QString::number(p.port));
        s->Connect();
    };
    p.client.OnSessionConnected = [&](TCustomWSocket *, quint16 e) { reconnected = e == 0; };
    p.server.SendStr(QByteArrayLiteral("x"));
    ASSERT_TRUE(testenv::waitFor([&] { return reconnected; }));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(p.client.State(), wsConnected);
}

TEST(WSocket, ConnectRefusedReportsTheCodeThenCloses)
{
    TWSocket s;
    int err = -1;
    QList<TSocketState> states;
    s.OnChangeState = [&](TCustomWSocket *, TSocketState, TSocketState n) { states << n; };
    s.OnSessionConnected = [&](TCustomWSocket *, quint16 e) { err = e; };
    s.setAddr(QStringLiteral("127.0.0.1"));
    const ftptest::ClosedPort closed;
    s.setPort(QString::number(closed.port()));
    s.Connect();
    ASSERT_TRUE(testenv::waitFor([&] { return err >= 0; }));
    EXPECT_EQ(err, 10061);
    EXPECT_EQ(SocketErrorText(err), QStringLiteral("Connection refused"));
    EXPECT_TRUE(testenv::waitFor([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(states, (QList<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
}

TEST(WSocket, ChecksAndErrorTexts)
{
    TWSocket s;
    QString err;
    s.OnError = [&](TCustomWSocket *x) { err = x->LastErrorMessage(); };
    EXPECT_EQ(s.Send("a", 1), -1);
    EXPECT_EQ(err, QStringLiteral("Error 10057 in function Send\r\nSocket is not connected"));
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(s.Accept(), -1);
    EXPECT_EQ(err, QStringLiteral("Error 10022 in function not a listening socket\r\nInvalid argument"));
    s.Connect();
    EXPECT_EQ(err, QStringLiteral("Connect: No Port Specified"));
    s.Listen();
    EXPECT_EQ(err, QStringLiteral("Error 10022 in function listen: port not assigned\r\nInvalid argument"));

    // Without OnError the same checks throw.
    TWSocket t;
    try {
        t.Connect();
        FAIL() << "Connect without a port must throw";
    } catch (const ESocketException &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Connect: No Port Specified"));
    }
    t.setPort(QStringLiteral("21"));
    try {
        t.Connect();
        FAIL();
    } catch (const ESocketException &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Connect: No IP Address Specified"));
    }
    EXPECT_EQ(SocketErrorText(10054), QStringLiteral("Connection reset by peer"));
    EXPECT_EQ(SocketErrorText(11001), QStringLiteral("Host not found"));
    EXPECT_EQ(SocketErrorText(4242), QStringLiteral("Not a WinSock error"));
    EXPECT_EQ(WSocketErrnoToCode(ECONNREFUSED), 10061);
    EXPECT_EQ(WSocketErrnoToCode(EPIPE), 10054);
}

TEST(WSocket, PropertiesAreFrozenWhileOpenAndResetAfterClose)
{
    Pair p;
    p.open();
    QString err;
    p.client.OnError = [&](TCustomWSocket *x) { err = x->LastErrorMessage(); };
    p.client.setAddr(QStringLiteral(" 127.0.0.1 "));  // same value after trimming: accepted silently
    EXPECT_TRUE(err.isEmpty());
    p.client.setAddr(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(err, QStringLiteral("Cannot change Addr if not closed"));
    p.client.setPort(QStringLiteral("1"));
    EXPECT_EQ(err, QStringLiteral("Cannot change Port if not closed"));
    p.client.Close();
    EXPECT_TRUE(p.client.Port().isEmpty());
    p.client.setAddr(QStringLiteral("127.0.0.1"));
    p.client.Connect();
    EXPECT_EQ(err, QStringLiteral("Connect: No Port Specified"));
}

TEST(WSocket, ResolutionFunctions)
{
    EXPECT_EQ(WSocketResolvePort(QStringLiteral("21abc"), QStringLiteral("tcp")), 21);
    EXPECT_EQ(WSocketResolvePort(QStringLiteral("  8021"), QStringLiteral("tcp")), 8021);
    EXPECT_EQ(WSocketResolvePort(QStringLiteral("ftp"), QStringLiteral("tcp")), 21);
    EXPECT_THROW(WSocketResolvePort(QString(32, QLatin1Char('1')), QStringLiteral("tcp")), ESocketException);
    EXPECT_THROW(WSocketResolvePort(QStringLiteral("no-such-service-x"), QStringLiteral("tcp")), ESocketException);
    EXPECT_EQ(WSocketResolveProto(QStringLiteral("tcp")), 6);
    EXPECT_EQ(WSocketResolveProto(QStringLiteral("17")), 17);
    EXPECT_THROW(WSocketResolveHost(QString()), ESocketException);
    EXPECT_EQ(WSocketResolveHost(QStringLiteral("127.0.0.1")), htonl(INADDR_LOOPBACK));
}

TEST(WSocket, NameLookup)
{
    TWSocket s;
    int done = -1;
    s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { done = e; };
    s.DnsLookup(QStringLiteral("10.0.0.1"));
    EXPECT_EQ(done, 0) << "a dotted address completes inside the call";
    EXPECT_EQ(s.DnsResult(), QStringLiteral("10.0.0.1"));

    QString err;
    s.OnError = [&](TCustomWSocket *x) { err = x->LastErrorMessage(); };
    done = -1;
    s.DnsLookup(QString());
    EXPECT_EQ(err, QStringLiteral("DNS lookup: invalid host name."));
    EXPECT_EQ(done, 10022);

    done = -1;
    s.DnsLookup(QStringLiteral("localhost"));
    ASSERT_TRUE(testenv::waitFor([&] { return done >= 0; }, 10000));
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(s.DnsResultList().contains(QStringLiteral("127.0.0.1"))) << s.DnsResultList().join(',').toStdString();

    done = -1;
    s.DnsLookup(QStringLiteral("nonexistent.invalid"));
    s.CancelDnsLookup();
    EXPECT_EQ(done, 10004);
}

TEST(WSocket, PeerResetClosesWithTheCode)
{
    // A plain POSIX peer that accepts and then resets the connection (linger on, zero timeout).
    const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ::listen(lfd, 1);
    socklen_t len = sizeof a;
    ::getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &len);
    TWSocket client;
    int closedWith = -1;
    bool connected = false;
    client.OnSessionConnected = [&](TCustomWSocket *, quint16 e) { connected = e == 0; };
    client.OnSessionClosed = [&](TCustomWSocket *, quint16 e) { closedWith = e; };
    client.setAddr(QStringLiteral("127.0.0.1"));
    client.setPort(QString::number(ntohs(a.sin_port)));
    client.Connect();
    ASSERT_TRUE(testenv::waitFor([&] { return connected; }));
    const int fd = ::accept(lfd, nullptr, nullptr);
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
    ::close(lfd);
    ASSERT_TRUE(testenv::waitFor([&] { return closedWith >= 0; }));
    EXPECT_EQ(closedWith, 10054);
    EXPECT_EQ(client.State(), wsClosed);
}

TEST(WSocket, SocketOptionsOnConnectAndDup)
{
    Pair p;
    p.open();
    auto opt = [](int fd, int name) {
        int v = -1;
        socklen_t len = sizeof v;
        getsockopt(fd, SOL_SOCKET, name, &v, &len);
        return v;
    };
    EXPECT_EQ(opt(p.client.HSocket(), SO_KEEPALIVE), 1);
    EXPECT_EQ(opt(p.client.HSocket(), SO_REUSEADDR), 1);
    linger l{};
    socklen_t len = sizeof l;
    getsockopt(p.server.HSocket(), SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(l.l_onoff, 1) << "linger on by default, applied to a taken-over handle too";
    EXPECT_EQ(l.l_linger, 0);
    p.server.setLingerOnOff(wsLingerOff);
    p.server.SetLingerOption();
    getsockopt(p.server.HSocket(), SOL_SOCKET, SO_LINGER, &l, &len);
    EXPECT_EQ(l.l_onoff, 0);
    TWSocket closed;
    QString err;
    closed.OnError = [&](TCustomWSocket *x) { err = x->LastErrorMessage(); };
    closed.SetLingerOption();
    EXPECT_EQ(err, QStringLiteral("Cannot set linger option at this time"));
}
