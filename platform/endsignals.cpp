#include "platform/endsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
int g_pipe[2] = {-1, -1};

// Only async-signal-safe work here: the signal number goes into the pipe.
void onSignal(int signo) {
  const int saved = errno;
  const unsigned char c = static_cast<unsigned char>(signo);
  (void)!::write(g_pipe[1], &c, 1);
  errno = saved;
}
}  // namespace

void EndSignals::install() {
  if (g_pipe[0] >= 0) return;
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return;  // the signals keep their default action: the program ends as before
  }
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGHUP}) ::sigaction(signo, &sa, nullptr);
}

EndSignals::EndSignals(QObject *parent) : QObject(parent) {
  if (g_pipe[0] < 0) return;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char c;
    while (::read(g_pipe[0], &c, 1) == 1) emit arrived(c);
  });
}

EndSignals::~EndSignals() = default;

}  // namespace platform
