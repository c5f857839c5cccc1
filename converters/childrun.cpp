#include "converters/childrun.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace childrun {

qint64 memoryLimitBytes() {
  const qint64 mb = qEnvironmentVariableIntValue("TARNWICK_CONVERTER_MEMORY_LIMIT_MB");
  if (mb > 0) return mb << 20;
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  const qint64 machine = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : qint64(8) << 30;
  return std::clamp(machine / 4, qint64(1) << 30, qint64(4) << 30);
}

int timeLimitMs() {
  const int fromEnv = qEnvironmentVariableIntValue("TARNWICK_CONVERTER_TIME_LIMIT_MS");
  return fromEnv > 0 ? fromEnv : 120000;
}

bool groupAlive(long pgid) {
  if (pgid <= 0) return false;
  DIR *proc = ::opendir("/proc");
  if (!proc) return ::kill(-static_cast<pid_t>(pgid), 0) == 0;  // no /proc: the kernel's word, zombies included
  bool alive = false;
  while (!alive) {
    const dirent *e = ::readdir(proc);
    if (!e) break;
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    char path[300], buf[512];
    std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) continue;
    buf[n] = 0;
    // "pid (name) state ppid pgrp ...": the name may hold blanks and parentheses, so read from its last ')'.
    const char *close = std::strrchr(buf, ')');
    char state = 0;
    long ppid = 0, pgrp = 0;
    if (!close || std::sscanf(close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3) continue;
    alive = pgrp == pgid && state != 'Z' && state != 'X';
  }
  ::closedir(proc);
  return alive;
}

namespace {

// Kills what is left of the group and waits until none of it runs any more (bounded: a process stuck in
// the kernel cannot be waited for forever).
void endGroup(long pgid) {
  if (pgid <= 0) return;
  QElapsedTimer clock;
  clock.start();
  do {
    ::kill(-static_cast<pid_t>(pgid), SIGKILL);
    if (!groupAlive(pgid)) return;
    QThread::msleep(5);
  } while (clock.elapsed() < 10000);
}

}  // namespace

Result run(const QString &program, const QStringList &args, const QString &workDir, TConvOutput output) {
  Result r;
  // The ceiling is set in the child between fork and exec; one above the hard limit would not take.
  rlim_t cap = static_cast<rlim_t>(memoryLimitBytes());
  struct rlimit current {};
  if (::getrlimit(RLIMIT_AS, &current) == 0 && current.rlim_max != RLIM_INFINITY) cap = std::min(cap, current.rlim_max);
  // What the program hands back is held here, and the RTF made of it is larger still.
  const qint64 maxOut = memoryLimitBytes() / 4;

  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
  p.setStandardInputFile(QProcess::nullDevice());
  p.setProcessChannelMode(QProcess::SeparateChannels);
  p.setStandardErrorFile(QProcess::nullDevice());
  p.setChildProcessModifier([cap] {
    ::setsid();
    const struct rlimit limit = {cap, cap};
    ::setrlimit(RLIMIT_AS, &limit);
  });
  p.start();
  if (!p.waitForStarted(10000)) {
    r.error = kConvNoBackend;
    return r;
  }
  const long pgid = static_cast<long>(p.processId());  // the child leads its own group
  const auto stop = [&](long error) {
    ::kill(-static_cast<pid_t>(pgid), SIGKILL);
    p.kill();
    p.waitForFinished(5000);
    endGroup(pgid);
    r.error = error;
    r.out.clear();
  };
  QElapsedTimer clock;
  clock.start();
  const int limit = timeLimitMs();
  while (!p.waitForFinished(50)) {
    r.out += p.readAllStandardOutput();
    if (p.state() == QProcess::NotRunning) break;
    if (r.out.size() > maxOut) {
      stop(kConvOutOfMemory);
      return r;
    }
    const int percent = static_cast<int>(qMin<qint64>(99, clock.elapsed() * 100 / limit));
    if (output && output(0, percent) != 0) {
      stop(kConvCancelled);
      return r;
    }
    if (clock.elapsed() > limit) {
      stop(kConvTimedOut);
      return r;
    }
  }
  r.out += p.readAllStandardOutput();
  // LibreOffice's launcher can return before its office process has finished shutting down: the next
  // conversion would hand its work to that dying process. Wait for the group to empty (within the
  // limit, still answering to a stop), then end whatever still runs in it.
  while (groupAlive(pgid) && clock.elapsed() < limit) {
    if (output && output(0, 99) != 0) {
      stop(kConvCancelled);
      return r;
    }
    QThread::msleep(20);
  }
  endGroup(pgid);
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) r.error = kConvFailed;
  else if (r.out.size() > maxOut) r.error = kConvOutOfMemory;
  return r;
}

}  // namespace childrun
