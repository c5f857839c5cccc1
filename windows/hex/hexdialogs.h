#pragma once
// The hex editor window's boxes and file dialogs as the user sees them; a host that has nothing of its own
// to add answers its questions through these.
#include <QMessageBox>
#include <QString>

#include "windows/hex/hexhost.h"

class QWidget;

namespace hexdlg {
QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
void showError(QWidget *owner, const QString &text);
void showMessage(QWidget *owner, const QString &text);
bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value);
// Qt's own file dialog (object name "OpenDialog1"), so that it can carry the read-only box ("ReadOnlyBox").
QString openFileName(QWidget *owner, bool &readOnly);
QString saveFileName(QWidget *owner);
}  // namespace hexdlg

// A host whose questions are the standard boxes above; a program adds only where the current file comes from.
class THexDialogHost : public THexHost {
 public:
  QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons,
                                  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) override {
    return hexdlg::ask(owner, text, buttons, defaultButton);
  }
  void showError(QWidget *owner, const QString &text) override { hexdlg::showError(owner, text); }
  void showMessage(QWidget *owner, const QString &text) override { hexdlg::showMessage(owner, text); }
  bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value) override {
    return hexdlg::inputText(owner, caption, prompt, value);
  }
  QString openFileName(QWidget *owner, bool &readOnly) override { return hexdlg::openFileName(owner, readOnly); }
  QString saveFileName(QWidget *owner) override { return hexdlg::saveFileName(owner); }
};
