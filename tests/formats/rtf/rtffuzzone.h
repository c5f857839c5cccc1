#pragma once
// One fuzz input through the RTF reader, and what it read through the writer and the reader again. Shared by
// the libFuzzer target and the corpus replay of rtf_tests.
#include <cstddef>
#include <cstdint>

namespace rtffuzz {
// Aborts when an invariant breaks: a failed read that leaves text behind, more text than input bytes, or a
// document of ours that our own reader cannot read back with the same text.
void run(const uint8_t *data, size_t size);
}
