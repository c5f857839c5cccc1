#pragma once
// What the database viewer, its grid printing and the fonts viewer need of the program around them: the
// main window's picked file and folder, and the questions, messages and dialogs they put to the user
// (behind the host so that tests can answer them).
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QAction;
class QPrinter;
class QWidget;

class TDbfHost {
 public:
  virtual ~TDbfHost() = default;
  // The main window's current file (full path) and the folder its file list shows.
  virtual QString currentFile() const = 0;
  virtual QString currentFolder() const = 0;
  // A question box owned by owner; the button chosen (Cancel when the box was closed).
  virtual QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) = 0;
  // A message box owned by owner.
  virtual void showMessage(QWidget *owner, const QString &text) = 0;
  // A save dialog starting in folder with name suggested; filters are "Description (patterns)" entries and
  // selected the index of the one preselected. The chosen path, or empty when cancelled.
  virtual QString saveFileName(QWidget *owner, const QString &folder, const QString &name, const QStringList &filters,
                               int selected) = 0;
  enum class PrintChoice { Cancel, Print, TextFile };
  // The print dialog over printer, offering pages from..to (it may narrow them). Print prints to the
  // printer as the dialog left it; TextFile asks for the text export instead.
  virtual PrintChoice printDialog(QWidget *owner, QPrinter &printer, int &fromPage, int &toPage) = 0;
};
