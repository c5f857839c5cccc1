// libFuzzer target for the directory reader and the unzip engine's test path (built with
// -DTARNWICK_FUZZ=ON and clang). The engine is linked in directly.
#include "tests/zip/fuzzone.h"

#include <QCoreApplication>
#include <QDir>
#include <unistd.h>

extern "C" int32_t UnzDllExec(zipapi::UnzParams *p);

static QString scratch;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  qputenv("TARNWICK_ZIP_THREADS", "1");
  static QCoreApplication app(*argc, *argv);
  scratch = QDir::tempPath() + "/tarnwick-fuzz-" + QString::number(getpid()) + ".zip";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzone::run(data, size, &UnzDllExec, scratch);
  return 0;
}
