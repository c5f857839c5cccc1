// Program entry: splash, single-instance question, main window, message loop.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <algorithm>
#include "app/justoneask.h"
#include "app/splash.h"
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include <QElapsedTimer>

static bool haveDisplay() {
  const char *platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char *x = std::getenv("DISPLAY");
  const char *w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// Measurement hook for bench/startup: once the start folder is fully listed and painted, prints the
// object count, the time since main() began and the longest event-loop stall seen, then quits. With
// TARNWICK_BENCH_DUAL set to a folder, the dual file manager opens at once with its second list there,
// and the count is that of both lists once both are complete.
static QElapsedTimer g_sinceMain;
static void benchStartup(TTarn *w) {
  auto *tick = new QTimer(w);
  auto *last = new QElapsedTimer;
  auto *maxStall = new qint64(0);
  last->start();
  QObject::connect(tick, &QTimer::timeout, w, [last, maxStall] {
    *maxStall = std::max(*maxStall, last->restart());
  });
  tick->start(5);
  const QString second = qEnvironmentVariable("TARNWICK_BENCH_DUAL");
  if (!second.isEmpty()) {
    w->DualFileManager1Click();
    w->PTShellTree2->SelectPath(second);
  }
  const auto complete = [w, second](TPTShellList *l, const QString &folder) {
    return !l->model()->isLoading() && (folder.isEmpty() || l->FolderPath() == folder);
  };
  auto *reported = new bool(false);
  const auto report = [w, maxStall, second, complete, reported] {
    if (*reported || !complete(w->PTShellList1, {}) || (!second.isEmpty() && !complete(w->PTShellList2, second))) return;
    *reported = true;
    QTimer::singleShot(0, w, [w, maxStall, second] {
      w->repaint();
      const int listed = w->PTShellList1->itemCount() + (second.isEmpty() ? 0 : w->PTShellList2->itemCount());
      std::printf("listed=%d ms=%lld maxstall=%lld\n", listed, (long long)g_sinceMain.elapsed(), (long long)*maxStall);
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
  };
  QObject::connect(w->PTShellList1, &TPTShellList::OnFillComplete, w, report);
  QObject::connect(w->PTShellList2, &TPTShellList::OnFillComplete, w, report);
}

// SIGTERM (a session ending, a service manager) closes the window the normal way, so settings are saved.
static int g_termPipe[2] = {-1, -1};
static void onTerm(int) {
  const char c = 1;
  (void)!::write(g_termPipe[1], &c, 1);
}

int main(int argc, char **argv) {
  g_sinceMain.start();
  if (::pipe2(g_termPipe, O_CLOEXEC | O_NONBLOCK) == 0) std::signal(SIGTERM, onTerm);
  if (!haveDisplay()) {
    std::fprintf(stderr, "Tarnwick needs a graphical display, but none was found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                         "Start it from a desktop session, or set QT_QPA_PLATFORM=offscreen for a window that is not shown.\n");
    return 1;
  }
  QApplication app(argc, argv);
  TSplashForm *splash = new TSplashForm;
  splash->show();
  app.processEvents();
  QApplication::setApplicationName(QStringLiteral("Tarnwick"));
  QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwick.svg")));

  // A second copy refused at the question ends at once: going on would let it delete files the
  // running copy uses (the zip view file).
  TJustOneAsk justOne(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  if (!justOne.proceed()) {
    delete splash;
    return 0;
  }
  QStringList args = app.arguments().mid(1);
  auto *main = new TTarn(args);
  if (g_termPipe[0] >= 0) {
    // A SIGTERM that came during start-up is already waiting in the pipe and closes the window at once.
    auto *n = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, main);
    QObject::connect(n, &QSocketNotifier::activated, main, [main] {
      char c;
      while (::read(g_termPipe[0], &c, 1) > 0) {
      }
      main->close();
    });
  }
  main->setAttribute(Qt::WA_DeleteOnClose);
  delete splash;
  main->show();
  QTimer::singleShot(0, main, [main] { main->FormShow(); });
  if (qEnvironmentVariableIsSet("TARNWICK_BENCH_STARTUP")) benchStartup(main);
  return app.exec();
}
