#pragma once
// The desktop's own tools behind the System and Tools menus: for each command an ordered list of candidate
// programs (GNOME, KDE, Xfce, then generic ones), the first one found on PATH is started, without a shell,
// so that names with blanks or shell characters are safe. A command whose tools are all missing says which
// it looked for. This table is the one place where the program knows the desktop's tool names.
#include <QString>
#include <QStringList>

namespace systools {

enum class Command {
  AddRemovePrograms,
  DateTime,
  Display,
  Explorer,
  Fonts,
  International,
  Keyboard,
  Modem,
  Mouse,
  Network,
  Printers,
  SystemInformation,
  SystemProperties,
  ScanDisk,
  Defrag,
  Registry,
  Terminal,
  Format,
  ShutDown,
  MapDrive,
  DisconnectDrive,
};

// One way to run a command: a program and its arguments. In the arguments "%d" stands for the folder the
// command is given (the current folder), and "%c" for a command line to run in a terminal.
struct Candidate {
  QString program;
  QStringList args;
};

// The candidates of a command, in the order they are tried.
QList<Candidate> candidates(Command c);
// Commands the platform has no tool for at all: the message that says so (empty for the others).
QString refusal(Command c);

struct Choice {
  bool found = false;
  QString path;          // the program found
  QStringList args;      // with "%d" and "%c" filled in
  QStringList lookedFor; // every program tried, in order
};

// The first candidate whose program is on searchPath (a PATH-style list; empty: the process's PATH). A
// terminal named by $TERMINAL comes before the table's terminals.
Choice choose(Command c, const QString &folder, const QString &commandLine = QString(), const QString &searchPath = QString());

// Starts the command's tool in folder. False with *message (one sentence naming the programs looked for,
// or the refusal) when there is none or it would not start.
bool start(Command c, const QString &folder, QString *message, const QString &commandLine = QString(),
           const QString &searchPath = QString());

// The text of the message for a command whose tools are all missing.
QString notFoundMessage(const QStringList &lookedFor);

// How the desktop opens a folder: the program associated with folders (through xdg-open), or else a known
// file manager (*program, started with the folder), or none. An association with this program itself
// counts as none: it would only start a second copy.
enum class FolderOpener { Association, Program, None };
FolderOpener folderOpener(QString *program, const QString &searchPath = QString());

}  // namespace systools
