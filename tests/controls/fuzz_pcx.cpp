// libFuzzer target for the PCX and TGA readers (built with -DTARNWICK_FUZZ=ON and clang).
#include "tests/controls/pcxfuzzone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcxfuzz::run(data, size);
  return 0;
}
