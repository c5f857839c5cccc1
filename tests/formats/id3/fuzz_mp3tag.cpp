// libFuzzer target for the ID3v1 reader and writer (built with -DTARNWICK_FUZZ=ON and clang).
#include "tests/formats/id3/mp3fuzzone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  mp3fuzz::run(data, size);
  return 0;
}
