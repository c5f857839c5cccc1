// Tries one write to a settings store file, for the store test that must run as another user (root
// writes through permissions).  regstore_probe FILE  prints "write=ok" or "write=failed".
#include <QCoreApplication>
#include <cstdio>
#include "platform/regstore.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: regstore_probe FILE\n");
    return 2;
  }
  platform::RegStore store(QString::fromLocal8Bit(argv[1]));
  const bool ok = store.writeInteger(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt", 7);
  std::printf("write=%s\n", ok ? "ok" : "failed");
  return 0;
}
