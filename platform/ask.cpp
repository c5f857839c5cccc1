#include "platform/ask.h"

#include <QInputDialog>
#include <QMessageBox>

namespace ask {
namespace {

Answerer *current = nullptr;

Button unanswered(Buttons buttons) {
  if (buttons & QMessageBox::Cancel) return QMessageBox::Cancel;
  if (buttons & QMessageBox::No) return QMessageBox::No;
  for (int b = QMessageBox::FirstButton; b <= QMessageBox::LastButton; b <<= 1)
    if (buttons & b) return Button(b);
  return QMessageBox::Ok;
}

QMessageBox::Icon iconOf(Kind kind) {
  switch (kind) {
    case Kind::Question: return QMessageBox::Question;
    case Kind::Warning: return QMessageBox::Warning;
    case Kind::Error: return QMessageBox::Critical;
    case Kind::Information: return QMessageBox::Information;
    case Kind::Plain:
    case Kind::Secret: return QMessageBox::NoIcon;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

Button user(QWidget *owner, const Asked &asked) {
  const Buttons buttons = asked.buttons ? asked.buttons : Buttons(QMessageBox::Ok);
  Button got;
  if (current) {
    Asked withButtons = asked;
    withButtons.buttons = buttons;
    got = current->answer(withButtons);
  } else {
    QMessageBox box(iconOf(asked.kind), asked.title, asked.text, buttons, owner);
    if (asked.byDefault != QMessageBox::NoButton) box.setDefaultButton(asked.byDefault);
    got = Button(box.exec());
  }
  // An answer that is not one of the buttons (a closed box, a careless answerer) is the safe one.
  return (got != QMessageBox::NoButton && (buttons & got)) ? got : unanswered(buttons);
}

Button question(QWidget *owner, const QString &title, const QString &text, Buttons buttons, Button byDefault) {
  return user(owner, {Kind::Question, title, text, buttons, byDefault});
}

bool yes(QWidget *owner, const QString &title, const QString &text) {
  return question(owner, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

Button warning(QWidget *owner, const QString &title, const QString &text, Buttons buttons, Button byDefault) {
  return user(owner, {Kind::Warning, title, text, buttons, byDefault});
}

Button error(QWidget *owner, const QString &title, const QString &text, Buttons buttons, Button byDefault) {
  return user(owner, {Kind::Error, title, text, buttons, byDefault});
}

Button information(QWidget *owner, const QString &title, const QString &text, Buttons buttons, Button byDefault) {
  return user(owner, {Kind::Information, title, text, buttons, byDefault});
}

bool secret(QWidget *owner, const QString &title, const QString &text, QString *typed) {
  if (current)
    return current->answer({Kind::Secret, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok,
                            typed}) == QMessageBox::Ok;
  QInputDialog box(owner);
  box.setWindowTitle(title);
  box.setLabelText(text);
  box.setTextEchoMode(QLineEdit::Password);
  if (box.exec() != QDialog::Accepted) return false;
  *typed = box.textValue();
  return true;
}

Answerer::Answerer(std::function<Button(const Asked &)> answer) : answer_(std::move(answer)), previous_(current) {
  current = this;
}

Answerer::~Answerer() { current = previous_; }

}  // namespace ask
