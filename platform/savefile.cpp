#include "platform/savefile.h"

#include <QSaveFile>

namespace platform {

bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error) {
  QSaveFile f(path);
  // Unbuffered: every write reports its own short count, and nothing is left to a flush that can fail unseen.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || f.write(bytes) != bytes.size() || f.size() != bytes.size()
      || !f.commit()) {
    if (error) *error = f.errorString();
    f.cancelWriting();
    return false;
  }
  return true;
}

}  // namespace platform
