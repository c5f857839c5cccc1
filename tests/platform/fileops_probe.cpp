// Runs one copy or move through the same engine the paste command uses, for tests that need another
// process (a lower user so that permissions bite, a file size limit) and for bench/copy.
//   fileops_probe [--move] [--error=skip|cancel|retry] [--conflict=skip|overwrite|keepboth|cancel]
//                 [--fsize=BYTES] [--runner] TARGET SOURCE...
//   fileops_probe --idle=MS   (only the event-loop timer, to see the machine's own stalls)
// Prints "error: <message>" per error asked, then "result done=N skipped=N failed=N cancelled=0|1";
// with --runner also "seconds=S stall_ms=M" (largest gap of a 5 ms timer on the event loop during the run).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include "platform/fileops.h"
#include "platform/fileops_runner.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onTerm(int) { g_stop = 1; }

struct Answers : platform::TransferQuestions {
  platform::ErrorAnswer onError = platform::ErrorAnswer::Skip;
  platform::ConflictAnswer onConflict = platform::ConflictAnswer::Skip;
  platform::ConflictReply askConflict(const platform::ConflictQuestion &) override { return {onConflict, true}; }
  platform::ErrorAnswer askError(const platform::ErrorQuestion &q) override {
    std::printf("error: %s\n", q.message.toUtf8().constData());
    std::fflush(stdout);
    return onError;
  }
};
}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  Answers answers;
  platform::TransferMode mode = platform::TransferMode::Copy;
  bool runner = false;
  int idleMs = 0;  // --idle=MS: no copy, only the event-loop timer (the machine's own stalls, for comparison)
  platform::NativePaths args;
  for (int i = 1; i < argc; ++i) {
    const QByteArray a(argv[i]);
    if (a == "--move") mode = platform::TransferMode::Move;
    else if (a == "--runner") runner = true;
    else if (a.startsWith("--idle=")) idleMs = a.mid(7).toInt();
    else if (a.startsWith("--error=")) {
      const QByteArray v = a.mid(8);
      answers.onError = v == "cancel" ? platform::ErrorAnswer::Cancel
                        : v == "retry" ? platform::ErrorAnswer::Retry : platform::ErrorAnswer::Skip;
    } else if (a.startsWith("--conflict=")) {
      const QByteArray v = a.mid(11);
      answers.onConflict = v == "overwrite" ? platform::ConflictAnswer::Overwrite
                           : v == "keepboth" ? platform::ConflictAnswer::KeepBoth
                           : v == "cancel" ? platform::ConflictAnswer::Cancel : platform::ConflictAnswer::Skip;
    } else if (a.startsWith("--fsize=")) {
      // Writes past the limit then fail with EFBIG instead of killing the process.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = a.mid(8).toULongLong();
      struct rlimit rl{limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 3;
    } else args << a;
  }
  if (idleMs > 0) {
    QElapsedTimer gap;
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(5);
    std::signal(SIGTERM, onTerm);  // ends early, still printing what it saw
    QObject::connect(&tick, &QTimer::timeout, [&] {
      worst = std::max(worst, gap.restart());
      if (g_stop) app.quit();
    });
    QTimer::singleShot(idleMs, &app, &QCoreApplication::quit);
    gap.start();
    tick.start();
    app.exec();
    std::printf("stall_ms=%lld\n", static_cast<long long>(worst));
    return 0;
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: fileops_probe [options] TARGET SOURCE...\n");
    return 2;
  }
  const platform::NativePath target = args.takeFirst();
  platform::TransferResult r;
  if (!runner) {
    platform::TFileTransfer t(args, target, mode);
    r = t.run(answers);
  } else {
    platform::TTransferRunner run(args, target, mode, &answers);
    QElapsedTimer total, gap;
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      worst = std::max(worst, gap.restart());
    });
    QObject::connect(&run, &platform::TTransferRunner::finished, &app, &QCoreApplication::quit);
    total.start();
    gap.start();
    tick.start();
    run.start();
    app.exec();
    r = run.result();
    std::printf("seconds=%.3f stall_ms=%lld\n", total.elapsed() / 1000.0, static_cast<long long>(worst));
  }
  std::printf("result done=%d skipped=%d failed=%d cancelled=%d\n", r.done, r.skipped, r.failed, r.cancelled ? 1 : 0);
  return 0;
}
