#pragma once
// The signals that end a desktop program from outside: SIGTERM (a session logging out, a service manager,
// `kill`) and SIGHUP (the terminal or session it ran in went away). They arrive on the event loop as a
// Qt signal, through a self-pipe, so that the program can end the way it chooses instead of being killed.
#include <QObject>

class QSocketNotifier;

namespace platform {

class EndSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers. Call it first thing in main(), before the application object exists: a signal
  // that comes during start-up waits in the pipe until an EndSignals object is watching it.
  static void install();
  // Watches the pipe (needs the application object). One object at a time.
  explicit EndSignals(QObject *parent = nullptr);
  ~EndSignals() override;

 signals:
  // Once for every signal received, with its number.
  void arrived(int signo);

 private:
  QSocketNotifier *notifier_ = nullptr;
};

}  // namespace platform
