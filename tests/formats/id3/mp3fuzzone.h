#pragma once
// One input of the ID3v1 reader's fuzz target, shared with the corpus replay in tools_core_tests: the
// bytes become a file, which is read, written and read again; aborts when a rule is broken.
#include <cstddef>
#include <cstdint>

namespace mp3fuzz {
void run(const uint8_t *data, size_t size);
}
