// A later start's end of the single-instance channel, as a process of its own:
//   instance_probe NAME ARGUMENT...
// hands the arguments to the copy of NAME that listens; exits 0 when it took them, 1 when none did.
#include <QCoreApplication>
#include "platform/instancechannel.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 2) return 2;
  return platform::sendToRunningInstance(args.at(1), args.mid(2), 5000) ? 0 : 1;
}
