#pragma once
// What the calculator needs of the program around it: the print dialog and its error message (behind the
// host so that tests can answer them).
#include <QString>

class QPrinter;
class QWidget;

class TCalcHost {
 public:
  virtual ~TCalcHost() = default;
  // The print dialog for printer, owned by owner; true when the user confirmed it (printer then set up).
  virtual bool choosePrinter(QWidget *owner, QPrinter &printer) = 0;
  // An error box owned by owner, with the error icon and the default caption.
  virtual void showError(QWidget *owner, const QString &text) = 0;
};
