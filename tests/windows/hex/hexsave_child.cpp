// Saves from another process, for the tests of hexedit_model_test (not a test itself):
//   hexsave_child FILE backup|main|whole [named] [nobody]
// loads FILE, changes its first byte (flips its case bit) and saves it over itself with a backup. With
// "backup" or "main" the save never ends: while it copies the backup, or the new bytes once the backup is in
// place, it prints "saving" and waits to be killed. With "whole" it saves and ends. "named" works as on a file
// system that refuses O_TMPFILE; "nobody" (when started as root) saves as the user nobody.
#include "windows/hex/hexbuffer.h"
#include "windows/hex/hexfileio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <grp.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  QByteArrayList options;
  for (int i = 3; i < argc; ++i) options << QByteArray(argv[i]);
  if (options.contains("nobody") && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
    std::perror("setuid");
    return 6;
  }
  if (options.contains("named")) hexio::setTmpFileAllowed(false);
  QCoreApplication app(argc, argv);
  const QString file = QString::fromLocal8Bit(argv[1]);
  const QByteArray mode(argv[2]);
  THexBuffer b;
  if (!b.LoadFromFile(file)) return 3;
  qint64 n = 1;
  const QByteArray first = b.BufferFromFile(0, n);
  if (n != 1 || !b.ChangeByte(0, first[0], first[0] ^ 0x20)) return 4;
  const QString backup = b.backupName(file);
  if (mode != "whole") {
    b.setProgress([&](qint64, qint64) {
      if (mode == "backup" || QFileInfo::exists(backup)) {
        std::fputs("saving\n", stdout);
        std::fflush(stdout);
        for (;;) ::pause();
      }
      return true;
    });
  }
  if (b.SaveToFile(file)) return 0;
  std::fprintf(stderr, "%s\n", qPrintable(b.lastError()));
  return 5;
}
