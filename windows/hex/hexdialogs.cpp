#include "windows/hex/hexdialogs.h"

#include "controls/filedialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include "platform/ask.h"

namespace hexdlg {

QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton) {
  const auto answer = ask::question(owner, QString(), text, buttons, defaultButton);
  return answer == QMessageBox::NoButton ? QMessageBox::Cancel : answer;
}

void showError(QWidget *owner, const QString &text) { ask::error(owner, QString(), text); }

void showMessage(QWidget *owner, const QString &text) { ask::information(owner, QString(), text); }

bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value) {
  bool ok = false;
  const QString text = QInputDialog::getText(owner, caption, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = text;
  return ok;
}

QString openFileName(QWidget *owner, bool &readOnly) {
  return filedlg::openWithReadOnlyBox(owner, QStringLiteral("Open file"), QString(), QStringLiteral("All Files (*)"),
                                      readOnly);
}

QString saveFileName(QWidget *owner) {
  return QFileDialog::getSaveFileName(owner, QStringLiteral("Save as"), QString(), QStringLiteral("All Files (*)"));
}
}  // namespace hexdlg
