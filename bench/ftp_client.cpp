// Transfer driver for bench/ftp.py: one download or upload through TFtpClient, then prints
// "elapsed_ms bytes peak_rss_kb" on stdout.
// Usage: ftp_bench_client HOST PORT USER PASS get|put REMOTE LOCAL [RECV_BLOCK SEND_BLOCK]
// FTP_BENCH_PASSIVE=1 in the environment: passive mode; FTP_BENCH_TLS=1: explicit TLS, any certificate.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

#include "windows/ftp/ftpcli.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 8) {
        fprintf(stderr, "usage: %s HOST PORT USER PASS get|put REMOTE LOCAL [RECV_BLOCK SEND_BLOCK]\n", argv[0]);
        return 2;
    }
    TFtpClient cli;
    cli.setHostName(a[1]);
    cli.setPort(a[2]);
    cli.setUserName(a[3]);
    cli.setPassWord(a[4]);
    cli.setTimeout(60);
    cli.setPassive(qEnvironmentVariableIntValue("FTP_BENCH_PASSIVE") == 1);
    cli.setUseTls(qEnvironmentVariableIntValue("FTP_BENCH_TLS") == 1);
    QObject::connect(&cli, &TCustomFtpCli::OnCertificate, &cli,
                     [](const QString &, const QString &, bool, bool &accept) { accept = true; }, Qt::DirectConnection);
    if (a.size() >= 10) {
        cli.setRecvBlockSize(a[8].toInt());
        cli.setSendBlockSize(a[9].toInt());
    }
    if (!cli.Connect() || !cli.TypeSet()) {
        fprintf(stderr, "login failed: %s\n", qPrintable(cli.ErrorMessage()));
        return 1;
    }
    cli.setHostFileName(a[6]);
    cli.setLocalFileName(a[7]);
    QElapsedTimer t;
    t.start();
    const bool ok = a[5] == QLatin1String("get") ? cli.Get() : cli.Put();
    const qint64 ms = t.elapsed();
    if (!ok) {
        fprintf(stderr, "transfer failed: %s\n", qPrintable(cli.ErrorMessage()));
        return 1;
    }
    cli.Quit();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    printf("%lld %lld %ld\n", static_cast<long long>(ms), static_cast<long long>(cli.ByteCount()), ru.ru_maxrss);
    return 0;
}
