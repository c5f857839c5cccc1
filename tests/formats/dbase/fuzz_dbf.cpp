// libFuzzer target for the dBASE table reader (built with -DTARNWICK_FUZZ=ON and clang).
#include "tests/formats/dbase/dbffuzzone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  dbffuzz::run(data, size);
  return 0;
}
