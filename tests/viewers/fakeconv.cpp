// A converter library for tests, steered by the environment: TARNWICK_FAKECONV=initfail (InitConverter32
// fails), wrong (IsFormatCorrect32 refuses), hang (waits until the caller stops it), big (a long document in
// many chunks, each paragraph "Line N"), empty (reports success without a byte); anything else converts to
// one paragraph "Fake text".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "converters/convapi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

static std::string mode() {
  const char *m = std::getenv("TARNWICK_FAKECONV");
  return m ? m : "";
}

EXPORT long InitConverter32(void *, const char *) { return mode() == "initfail" ? 0 : 1; }
EXPORT long IsFormatCorrect32(TConvBlock *, TConvBlock *) { return mode() == "wrong" ? 0 : 1; }

EXPORT long ForeignToRtf32(TConvBlock *, void *, TConvBlock *buffer, TConvBlock *, TConvBlock *, TConvOutput output) {
  if (mode() == "hang") {
    for (;;)
      if (output(0, 0) != 0) return kConvCancelled;
  }
  if (mode() == "empty") return 0;
  std::string rtf = "{\\rtf1\\ansi ";
  if (mode() == "big") {
    for (int i = 0; i < 60000; ++i) rtf += "Line " + std::to_string(i) + "\\par\n";
  } else {
    rtf += "Fake text\\par";
  }
  rtf += "}";
  const size_t chunk = buffer->size - 1;
  for (size_t at = 0; at < rtf.size(); at += chunk) {
    const size_t n = rtf.size() - at < chunk ? rtf.size() - at : chunk;
    std::memcpy(buffer->data, rtf.data() + at, n);
    if (output(static_cast<long>(n), static_cast<int>((at + n) * 100 / rtf.size())) != 0) return kConvCancelled;
  }
  return 0;
}
