#pragma once
// One input of the dBASE reader's fuzz target, shared with the corpus replay in the normal tests.
#include <cstddef>
#include <cstdint>

namespace dbffuzz {
// Opens the bytes as a table and reads every value; aborts when an invariant breaks.
void run(const uint8_t *data, size_t size);
}
