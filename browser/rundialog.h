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

// Runs what the user typed in folder. False with *message (one sentence) when it cannot: nothing typed, a
// program not found, a document with no program for it.
bool run(const QString &text, const QString &folder, QString *message);
// The history with text put first, without repeats, at most max lines.
QStringList remember(QStringList history, const QString &text, int max = 20);

}  // namespace runcmd
