#pragma once
// One fuzz input through the PCX and TGA readers. Shared by the libFuzzer target and the corpus replay of imageio_tests.
#include <cstddef>
#include <cstdint>

namespace pcxfuzz {
// Aborts when an invariant breaks: a failed read without a message, a picture larger than the input could
// encode, or a picture whose pixels cannot all be read and written out again.
void run(const uint8_t *data, size_t size);
}
