#include "platform/autostart.h"
#include "platform/savefile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

QString autostartEntryPath(const QString &appName) {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  return base + "/autostart/" + appName.toLower() + ".desktop";
}

bool autostartEnabled(const QString &appName) {
  if (appName.isEmpty()) return false;
  QFile f(autostartEntryPath(appName));
  if (!f.open(QIODevice::ReadOnly)) return false;
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    if (line.startsWith(QLatin1String("Exec="))) return line.size() > 5;
  }
  return false;
}

static QString quoteExec(const QString &path) {
  // Desktop entry Exec quoting: double quotes around, with ", `, $ and \ escaped.
  QString q = path;
  q.replace('\\', QLatin1String("\\\\")).replace('"', QLatin1String("\\\"")).replace('`', QLatin1String("\\`")).replace('$', QLatin1String("\\$"));
  return '"' + q + '"';
}

bool setAutostart(const QString &appName, bool on, const QString &programPath) {
  if (appName.isEmpty()) return false;
  const QString path = autostartEntryPath(appName);
  if (!on) return !QFile::exists(path) || QFile::remove(path);
  QDir().mkpath(QFileInfo(path).absolutePath());
  const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + appName + QStringLiteral("\nExec=")
                        + quoteExec(programPath) + QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
  return saveFileAtomically(path, entry.toUtf8());
}

}  // namespace platform
