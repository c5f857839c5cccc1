#include "app/commandline.h"
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace commandline {

namespace {
QString localPath(const QString &arg) {
  if (arg.startsWith(QLatin1String("file:"))) {
    const QUrl url(arg);
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return arg;
}

QString existing(const QString &path) {
  if (path.isEmpty()) return {};
  const QFileInfo fi(path);
  return fi.exists() ? QDir::cleanPath(fi.absoluteFilePath()) : QString();
}
}  // namespace

Arguments parse(const QStringList &arguments) {
  Arguments a;
  for (const QString &arg : arguments) {
    if (arg == QLatin1String("--new-window"))
      a.newWindow = true;
    else
      a.paths << localPath(arg);
  }
  return a;
}

QString target(const QStringList &paths) {
  if (paths.isEmpty()) return {};
  QString joined = paths.join(QLatin1Char(' '));
  while (joined.endsWith(QLatin1Char(' '))) joined.chop(1);
  const QString whole = existing(joined);
  return whole.isEmpty() ? existing(paths.first()) : whole;
}

}  // namespace commandline
