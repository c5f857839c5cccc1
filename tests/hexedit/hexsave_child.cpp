// A save that never ends, for the tests of what a killed save leaves behind (not a test itself):
//   hexsave_child FILE backup|main [named]
// loads FILE, changes its first byte and saves it over itself with a backup; while copying the backup
// ("backup") or the new bytes ("main", once the backup is in place) it prints "saving" and waits to be
// killed. With "named" it works as on a file system that refuses O_TMPFILE.
#include "hexedit/hexbuffer.h"
#include "hexedit/hexfileio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) return 2;
  const QString file = QString::fromLocal8Bit(argv[1]);
  const bool inMain = QByteArray(argv[2]) == "main";
  if (argc > 3 && QByteArray(argv[3]) == "named") hexio::setTmpFileAllowed(false);
  THexBuffer b;
  if (!b.LoadFromFile(file)) return 3;
  qint64 n = 1;
  const QByteArray first = b.BufferFromFile(0, n);
  if (n != 1 || !b.ChangeByte(0, first[0], first[0] ^ 0x20)) return 4;
  const QString backup = b.backupName(file);
  b.setProgress([&](qint64, qint64) {
    if (!inMain || QFileInfo::exists(backup)) {
      std::fputs("saving\n", stdout);
      std::fflush(stdout);
      for (;;) ::pause();
    }
    return true;
  });
  b.SaveToFile(file);
  return 5;  // the save was meant to be killed
}
