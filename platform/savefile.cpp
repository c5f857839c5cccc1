#include "platform/savefile.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error, SaveAccess access) {
  QSaveFile f(path);
  // Unbuffered: every write reports its own short count, and nothing is left to a flush that can fail unseen.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    if (error) *error = f.errorString();
    return false;
  }
  // The temporary is narrowed before a byte is in it: it takes the old file's mode when opened.
  if (access == SaveAccess::OwnerOnly && ::fchmod(f.handle(), S_IRUSR | S_IWUSR) != 0) {
    if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
    f.cancelWriting();
    return false;
  }
  if (f.write(bytes) != bytes.size() || f.size() != bytes.size() || !f.commit()) {
    if (error) *error = f.errorString();
    f.cancelWriting();
    return false;
  }
  return true;
}

}  // namespace platform
