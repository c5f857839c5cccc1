// libFuzzer target for the RTF reader (built with -DTARNWICK_FUZZ=ON and clang).
#include "tests/formats/rtf/rtffuzzone.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(*argc, *argv);  // fonts for the text document
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rtffuzz::run(data, size);
  return 0;
}
