#pragma once
// A converter's program in a child process: in a session and process group of its own, with a ceiling on
// its address space, under a time limit, stoppable through the caller's output function. However it ends,
// the whole group is ended and waited for before run() returns, so nothing it started outlives the call.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "converters/convapi.h"

namespace childrun {

struct Result {
  long error = 0;        // 0, or one of the kConv* results of convapi.h
  QByteArray out;        // what the program wrote on its standard output
};

// The ceiling on a converter child's address space: TARNWICK_CONVERTER_MEMORY_LIMIT_MB when set, else a
// quarter of the machine's memory, within 1 to 4 GiB. A document that makes its converter grow without end
// then fails instead of taking the machine's memory.
qint64 memoryLimitBytes();
// TARNWICK_CONVERTER_TIME_LIMIT_MS when set, else two minutes.
int timeLimitMs();

// Runs `program` with `args` (standard input empty). A program that cannot start gives kConvNoBackend, a
// stop through `output` kConvCancelled, the time limit kConvTimedOut, a crash or a non-zero exit (which is
// what running out of memory under the ceiling looks like) kConvFailed.
Result run(const QString &program, const QStringList &args, const QString &workDir, TConvOutput output);

// True while some process of group `pgid` is still running (zombies, already ended, do not count).
bool groupAlive(long pgid);

}  // namespace childrun
