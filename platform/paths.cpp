#include "platform/paths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString userFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  const QString path = base + "/tarnwick";
  QDir().mkpath(path);
  // It holds the FTP site passwords and trusted certificates: for its owner only, as other programs keep
  // their credentials (a folder made wider before is narrowed too, when it is ours).
  const QByteArray native = QFile::encodeName(path);
  struct stat st;
  if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077))
    (void)::chmod(native.constData(), st.st_mode & 07700);
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
