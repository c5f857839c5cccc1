#pragma once
// The Run dialog and what it runs: a program, folder or document typed by the user (or picked with
// Browse), with the lines typed before in its list. A name that is a file or folder opens it with the
// desktop's association or runs it; anything else runs as a command line through the shell, in the
// current folder.
#include <QDialog>

class QComboBox;

class TRunDialog : public QDialog {
  Q_OBJECT
 public:
  static const QString kTitle;   // "Tarnwick - Run Program"
  static const QString kPrompt;  // "Type the name of a program, folder or document, ..."
  // history: most recent first; with showLast the box starts with the last line run.
  TRunDialog(const QStringList &history, bool showLast, QWidget *parent = nullptr);
  QString commandLine() const;
  QComboBox *box() const { return box_; }

 private:
  QComboBox *box_;
};

namespace runcmd {

// A command line read as the shell that runs it (/bin/sh) reads it, up to where its grammar begins.
struct ShellLine {
  QStringList words;              // the words, quotes and escapes taken off
  bool complete = true;           // the words are the whole line: no operator (; & | < > ( )) follows
  bool closed = true;             // every quote is closed
  bool firstWordExpands = false;  // the first word holds an unquoted $ or `: only the shell knows it
};
// Blanks separate words; '...' keeps everything inside; "..." keeps everything but \" \\ \$ \` (and drops
// a backslash-newline); a backslash outside quotes keeps the next character.
ShellLine readShellLine(const QString &line);

// Runs what the user typed in folder. False with *message (one sentence) when it cannot: nothing typed, a
// program not found, a document with no program for it, quotes not closed. A folder when the desktop has
// no file manager: false, and *folderWithoutFileManager is the folder, for the caller to show itself.
bool run(const QString &text, const QString &folder, QString *message, QString *folderWithoutFileManager = nullptr);
// The history with text put first, without repeats, at most max lines.
QStringList remember(QStringList history, const QString &text, int max = 20);

}  // namespace runcmd
