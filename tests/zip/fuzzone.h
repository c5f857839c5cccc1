#pragma once
// One fuzz input through the directory reader (TZipMaster::List) and the unzip engine's test path.
// Shared by the libFuzzer target and the corpus replay test of the normal test run.
#include "engines/engineapi.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace fuzzone {
// Aborts when an invariant breaks: no more entries than 46-byte headers fit in the input, no more
// members tested than entries could exist. Returns the engine's result.
int run(const uint8_t *data, size_t size, zipapi::UnzExecFn unz, const QString &scratchFile);
}
