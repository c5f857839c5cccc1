#include "windows/ftp/ftpviewer.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace ftpviewer {

QStringList execToCommand(const QString &exec)
{
    QStringList out;
    for (const QString &arg : QProcess::splitCommand(exec)) {
        if (arg.size() == 2 && arg[0] == QLatin1Char('%'))
            continue;  // field codes: the file is appended by the caller
        QString a = arg;
        a.replace(QLatin1String("%%"), QLatin1String("%"));
        out << a;
    }
    return out;
}

namespace {

QStringList fromDesktopDefault()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        return {};
    QProcess p;
    p.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")});
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    const QString id = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    if (id.isEmpty())
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return {};
    bool inEntry = false;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1String("[Desktop Entry]");
        else if (inEntry && line.startsWith(QLatin1String("Exec="))) {
            QStringList cmd = execToCommand(line.mid(5));
            if (!cmd.isEmpty() && !QStandardPaths::findExecutable(cmd.first()).isEmpty())
                return cmd;
        }
    }
    return {};
}

} // namespace

QStringList textEditorCommand()
{
    QStringList cmd = fromDesktopDefault();
    if (!cmd.isEmpty())
        return cmd;
    for (const char *name : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma", "leafpad",
                             "featherpad", "geany"})
        if (!QStandardPaths::findExecutable(QLatin1String(name)).isEmpty())
            return {QLatin1String(name)};
    return {};
}

} // namespace ftpviewer
