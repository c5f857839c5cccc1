// Not a test of its own: ftp_server_tests runs it to see that no server outlives a test process
// that ends abnormally. It starts pyftpdlib, vsftpd (with a session open) and a scripted peer,
// writes the ids of all their processes and its private root folder to $FTP_CHILD_PIDS, then
// ends as $FTP_CHILD_END says: "abort" (SIGABRT, the guard's handler runs) or "kill" (SIGKILL,
// nothing of this process runs).
#include <gtest/gtest.h>

#include <QFile>
#include <csignal>
#include <cstdlib>

#include "windows/ftp/ftpcli.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

using ftptest::Server;

TEST(ServerChild, StartsServersThenDies)
{
    const QString pidFile = qEnvironmentVariable("FTP_CHILD_PIDS");
    const QString end = qEnvironmentVariable("FTP_CHILD_END");
    ASSERT_FALSE(pidFile.isEmpty());
    const QString root = testenv::makeDir(QStringLiteral("root"));
    Server py(Server::PyFtpd, root), vs(Server::Vsftpd, root);
    ASSERT_TRUE(py.start()) << py.error().toStdString();
    ASSERT_TRUE(vs.start()) << vs.error().toStdString();
    TFtpClient cli;
    cli.setHostName(QStringLiteral("127.0.0.1"));
    cli.setPort(QString::number(vs.port()));
    cli.setUserName(vs.user());
    cli.setPassWord(vs.password());
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString();
    ftptest::FakePeer peer(QStringLiteral("> 220 hi\nwait\n"));
    ASSERT_GT(peer.port(), 0);

    QStringList lines{qEnvironmentVariable("TARNWICK_TEST_ROOT")};
    for (const qint64 group : {py.pid(), vs.pid(), peer.pid()})
        for (const qint64 pid : ftptest::groupProcesses(group))
            lines << QString::number(pid);
    QFile out(pidFile + QStringLiteral(".part"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(lines.join(QLatin1Char('\n')).toUtf8());
    out.close();
    ASSERT_TRUE(QFile::rename(out.fileName(), pidFile));
    if (end == QLatin1String("kill"))
        std::raise(SIGKILL);
    std::abort();
}
