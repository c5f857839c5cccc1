// Transfer driver for the SFTP rows of bench/ftp.py: one download or upload through TSftpClient,
// then prints "elapsed_ms bytes peak_rss_kb" on stdout. Logs in with the keys of ~/.ssh (or the
// password in SFTP_BENCH_PASSWORD); the host must be in ~/.ssh/known_hosts.
// Usage: sftp_bench_client HOST PORT USER get REMOTE LOCAL_FOLDER | put LOCAL_FILE REMOTE
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

#include "windows/ftp/sftpclient.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 7 || (a[4] != QLatin1String("get") && a[4] != QLatin1String("put"))) {
        fprintf(stderr, "usage: %s HOST PORT USER get REMOTE LOCAL_FOLDER | put LOCAL_FILE REMOTE\n", argv[0]);
        return 2;
    }
    TSftpClient cli;
    cli.setHost(a[1]);
    cli.setPort(a[2].toInt());
    cli.setUser(a[3]);
    cli.setPassword(qEnvironmentVariable("SFTP_BENCH_PASSWORD"));
    QObject::connect(&cli, &TSftpClient::hostKeyUnknown, &cli, [&](const TSftpHostKey &k) {
        fprintf(stderr, "unknown host key %s %s\n", qPrintable(k.keyType), qPrintable(k.fingerprint));
        cli.answerHostKey(false);
    });
    QElapsedTimer t;
    int rc = 1;
    QObject::connect(&cli, &TSftpClient::finished, &cli, [&](const TSftpResult &r) {
        if (!r.ok) {
            fprintf(stderr, "failed: %s\n", qPrintable(r.error));
            app.exit(1);
            return;
        }
        if (r.op == TSftpOp::Connect) {
            t.start();
            if (a[4] == QLatin1String("get"))
                cli.download(a[5].toUtf8(), a[6]);
            else
                cli.upload(a[5], a[6].toUtf8());
            return;
        }
        const qint64 ms = t.elapsed();
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        printf("%lld %lld %ld\n", static_cast<long long>(ms), static_cast<long long>(r.bytes), ru.ru_maxrss);
        rc = 0;
        app.exit(0);
    });
    cli.connectToHost();
    app.exec();
    return rc;
}
