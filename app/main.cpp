// Program entry: splash, single-instance question, main window, message loop.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include "app/commandline.h"
#include "app/justoneask.h"
#include "app/splash.h"
#include "app/layouts.h"
#include "app/tarn.h"
#include "controls/fileicons.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "platform/endsignals.h"
#include "platform/instancechannel.h"
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
  QObject::connect(tick, &QTimer::timeout, w, [last, maxStall] { *maxStall = std::max(*maxStall, last->restart()); });
  tick->start(5);
  const QString second = qEnvironmentVariable("TARNWICK_BENCH_DUAL");
  if (!second.isEmpty()) {
    w->layouts().DualFileManager1Click();
    w->PTShellTree2->SelectPath(second);
  }
  const auto complete = [w, second](TPTShellList *l, const QString &folder) {
    return !l->model()->isLoading() && (folder.isEmpty() || l->FolderPath() == folder);
  };
  auto *reported = new bool(false);
  const auto report = [w, maxStall, second, complete, reported] {
    if (*reported || !complete(w->PTShellList1, {}) || (!second.isEmpty() && !complete(w->PTShellList2, second)))
      return;
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

int main(int argc, char **argv) {
  g_sinceMain.start();
  // First of all, so that a logout during start-up is not lost.
  platform::EndSignals::install();
  if (!haveDisplay()) {
    std::fprintf(
        stderr,
        "Tarnwick needs a graphical display, but none was found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
        "Start it from a desktop session, or set QT_QPA_PLATFORM=offscreen for a window that is not shown.\n");
    return 1;
  }
  QApplication app(argc, argv);
  fileicons::useFallbackThemeIfBare();  // before the splash and the tool bar look up their icons
  // A logout (SIGTERM) or a hang-up (SIGHUP) ends the program as closing does, asking nothing; exit()
  // also ends the loop of any question that is open, and the loops that would start after it.
  QPointer<TTarn> main;
  bool endRequested = false;
  platform::EndSignals ends;
  QObject::connect(&ends, &platform::EndSignals::arrived, &app, [&] {
    if (endRequested) return;
    endRequested = true;
    if (main) main->endSession();
    QCoreApplication::exit(0);
  });
  TSplashForm *splash = new TSplashForm;
  splash->show();
  app.processEvents();
  QApplication::setApplicationName(QStringLiteral("Tarnwick"));
  QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));  // the menu entry: its icon and name on Wayland
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwick.svg")));

  // A second copy refused at the question ends at once: going on would let it delete files the
  // running copy uses (the zip view file). It hands the running copy the folder or file it was given.
  // --new-window opens another copy without asking.
  const commandline::Arguments args = commandline::parse(app.arguments().mid(1));
  const QString programName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  TJustOneAsk justOne(programName, args.newWindow ? TJustOneAsk::Asker([] { return true; }) : TJustOneAsk::Asker());
  if (!justOne.proceed() || endRequested) {
    delete splash;
    const QString named = commandline::target(args.paths);
    if (!endRequested && !named.isEmpty() && !platform::sendToRunningInstance(programName, {named}))
      std::fprintf(stderr, "Tarnwick: the running copy did not take %s.\n", qPrintable(named));
    return 0;
  }
  main = new TTarn(args.paths);
  delete splash;
  if (endRequested) {  // during a question of the start-up: the loop that would answer it has ended
    main->endSession();
    delete main.data();
    return 0;
  }
  main->setAttribute(Qt::WA_DeleteOnClose);
  main->show();
  QTimer::singleShot(0, main, [main] {
    if (main) main->FormShow();
  });
  // The copy that holds the lock takes what later starts hand over.
  platform::InstanceServer channel(programName);
  if (justOne.createdMutex()) {
    QObject::connect(&channel, &platform::InstanceServer::received, main, [main](const QStringList &paths) {
      if (main) main->openFromAnotherStart(paths);
    });
    if (!channel.listen())
      std::fprintf(stderr, "Tarnwick: later starts cannot hand over their folders (%s).\n", qPrintable(channel.path()));
  }
  if (qEnvironmentVariableIsSet("TARNWICK_BENCH_STARTUP")) benchStartup(main);
  const int rc = app.exec();
  delete main.data();  // ended by a signal, the window was not closed: its windows and files go now
  return rc;
}
