#pragma once
// What the rich text window needs of the program around it: the main window's current file and folder, and
// the questions, messages and dialogs it puts to the user (behind the host so that tests can answer them).
#include <QMessageBox>
#include <QString>

class QColor;
class QFont;
class QPrinter;
class QWidget;

class TRichHost {
 public:
  virtual ~TRichHost() = default;
  // The main window's current file: what a clicked ".rtf" hands over to a new window.
  virtual QString currentFile() const = 0;
  // The main window's current folder, where the open and save dialogs start.
  virtual QString currentFolder() const = 0;
  // A question box owned by owner with these buttons; the button chosen (Cancel when the box was closed).
  virtual QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) = 0;
  // An error box owned by owner.
  virtual void showError(QWidget *owner, const QString &text) = 0;
  // The open dialog with the given Qt filter and an open-as-read-only box; the chosen file or empty.
  virtual QString openFileName(QWidget *owner, const QString &folder, const QString &filter, bool &readOnly) = 0;
  // The save dialog; it does not ask before overwriting (the window asks). The chosen name or empty.
  virtual QString saveFileName(QWidget *owner, const QString &folder, const QString &filter) = 0;
  // The print dialog for printer; false when cancelled.
  virtual bool printSetup(QWidget *owner, QPrinter *printer) = 0;
  // The font dialog, starting from font and color; false when cancelled, else both hold the choice.
  virtual bool chooseFont(QWidget *owner, QFont &font, QColor &color) = 0;
};
