#pragma once
// The one way the program asks the user something or tells them something in a box. Windows and their
// hosts, controls and the main window all come here, so that every box behaves alike (closing one without a
// button is Cancel where Cancel is offered) and so that a test or an unattended run can answer in the
// user's place without hunting for the box among the top-level widgets.
#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace ask {

using Button = QMessageBox::StandardButton;
using Buttons = QMessageBox::StandardButtons;

enum class Kind { Question, Warning, Error, Information, Plain, Secret };

struct Asked {
  Kind kind;
  QString title;
  QString text;
  Buttons buttons;
  Button byDefault;
  QString *typed = nullptr;  // Secret: where the typed text goes
};

// Shows one box of the given kind; the functions below are its short forms.
Button user(QWidget *owner, const Asked &asked);
// Asks with the given buttons and answers the one pressed. A box closed without a button (Esc, the title
// bar) answers Cancel if offered, else No if offered, else the only button.
Button question(QWidget *owner, const QString &title, const QString &text,
                Buttons buttons = QMessageBox::Yes | QMessageBox::No, Button byDefault = QMessageBox::NoButton);
// Yes or No, No by default (a question whose wrong answer loses something).
bool yes(QWidget *owner, const QString &title, const QString &text);
Button warning(QWidget *owner, const QString &title, const QString &text, Buttons buttons = QMessageBox::Ok,
               Button byDefault = QMessageBox::NoButton);
Button error(QWidget *owner, const QString &title, const QString &text, Buttons buttons = QMessageBox::Ok,
             Button byDefault = QMessageBox::NoButton);
Button information(QWidget *owner, const QString &title, const QString &text, Buttons buttons = QMessageBox::Ok,
                   Button byDefault = QMessageBox::NoButton);

// A secret the user types (a passphrase), shown as dots; false when they cancel.
bool secret(QWidget *owner, const QString &title, const QString &text, QString *typed);

// While one lives, every box above is answered by its function and none is shown; the one made last
// answers. For tests and for runs with nobody at the screen.
class Answerer {
 public:
  explicit Answerer(std::function<Button(const Asked &)> answer);
  ~Answerer();
  Answerer(const Answerer &) = delete;
  Answerer &operator=(const Answerer &) = delete;
  Button answer(const Asked &asked) const { return answer_(asked); }

 private:
  std::function<Button(const Asked &)> answer_;
  Answerer *previous_;
};

}  // namespace ask
