#include "platform/paths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

QString userFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  const QString path = base + "/tarnwick";
  QDir().mkpath(path);
  return path;
}

QString userFile(const QString &name) { return userFolder() + "/" + name; }

static QString besideProgram(const QString &installed, const QString &buildTree) {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QString inst = QDir::cleanPath(exeDir + "/../" + installed);
  if (QFileInfo(inst).isDir()) return inst;
  return QDir::cleanPath(exeDir + "/" + buildTree);
}

QString dataFolder() { return besideProgram("share/tarnwick", "."); }
QString libraryFolder() { return besideProgram("lib/tarnwick", "../lib/tarnwick"); }

QString AppendSlash(const QString &path) {
  if (path.isEmpty() || path.endsWith('/')) return path;
  return path + '/';
}

}  // namespace platform
