// libFuzzer target for the PCX and TGA readers (built with -DTARNWICK_FUZZ=ON and clang).
#include "tests/formats/raster/pcxfuzzone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcxfuzz::run(data, size);
  return 0;
}
