#pragma once
// What the MP3 tag editor needs of the program around it: the question and the message it puts to the user
// (behind the host so that tests can answer them).
#include <QString>

class QWidget;

class TMp3Host {
 public:
  virtual ~TMp3Host() = default;
  // A Yes/No question box owned by owner; true for Yes (No or closing the box: false).
  virtual bool askYesNo(QWidget *owner, const QString &text) = 0;
  // An error box owned by owner, with the error icon and the default caption.
  virtual void showError(QWidget *owner, const QString &text) = 0;
};
