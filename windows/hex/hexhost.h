#pragma once
// What the hex editor window needs of the program around it: the main window's picked file, and the
// questions and messages it puts to the user (behind the host so that tests can answer them).
#include <QMessageBox>
#include <QString>

class QWidget;

class THexHost {
 public:
  virtual ~THexHost() = default;
  // The main window's current file (the path last picked in its file list), or empty.
  virtual QString currentFile() const = 0;
  // Forgets the main window's current file once the hex window has looked at it.
  virtual void clearCurrentFile() = 0;
  // A question box owned by owner with these buttons; the button chosen (Cancel when the box was closed).
  // defaultButton is the one Enter presses (NoButton: the box's own choice).
  virtual QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) = 0;
  // An error box owned by owner, with the error icon and the default caption.
  virtual void showError(QWidget *owner, const QString &text) = 0;
  // A message box owned by owner ("Data not found.").
  virtual void showMessage(QWidget *owner, const QString &text) = 0;
  // An input box; false when cancelled, else value holds the text entered (value comes in as the default).
  virtual bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value) = 0;
  // The "Open file" dialog with its open-as-read-only box; the chosen file, or empty when cancelled.
  virtual QString openFileName(QWidget *owner, bool &readOnly) = 0;
  // The "Save as" dialog, which asks before overwriting; the chosen name, or empty when cancelled.
  virtual QString saveFileName(QWidget *owner) = 0;
};
