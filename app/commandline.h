#pragma once
// The command line: `tarnwick [--new-window] [FOLDER | FILE]`, as a user types it or a desktop's file
// manager passes it (a path, or a file: URL).
#include <QString>
#include <QStringList>

namespace commandline {

struct Arguments {
  bool newWindow = false;  // --new-window: another copy, without the single-instance question
  QStringList paths;       // everything else, in order
};
Arguments parse(const QStringList &arguments);

// The folder or file the paths name, absolute and clean: all of them joined with blanks (a path with blanks
// may arrive unquoted in pieces), else the first one alone; empty when neither names something that exists.
QString target(const QStringList &paths);

}  // namespace commandline
