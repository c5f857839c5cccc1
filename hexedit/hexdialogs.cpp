#include "hexedit/hexdialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>

namespace hexdlg {

QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) {
  const auto answer = QMessageBox::question(owner, QString(), text, buttons);
  return answer == QMessageBox::NoButton ? QMessageBox::Cancel : answer;
}

void showError(QWidget *owner, const QString &text) { QMessageBox::critical(owner, QString(), text); }

void showMessage(QWidget *owner, const QString &text) { QMessageBox::information(owner, QString(), text); }

bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value) {
  bool ok = false;
  const QString text = QInputDialog::getText(owner, caption, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = text;
  return ok;
}

QString openFileName(QWidget *owner, bool &readOnly) {
  QFileDialog dlg(owner, QStringLiteral("Open file"), QString(), QStringLiteral("All Files (*)"));
  dlg.setObjectName(QStringLiteral("OpenDialog1"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  auto *box = new QCheckBox(QStringLiteral("Open as &read-only"), &dlg);
  box->setObjectName(QStringLiteral("ReadOnlyBox"));
  box->setChecked(readOnly);
  if (auto *grid = qobject_cast<QGridLayout *>(dlg.layout())) grid->addWidget(box, grid->rowCount(), 0, 1, -1);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
  readOnly = box->isChecked();
  return dlg.selectedFiles().first();
}

QString saveFileName(QWidget *owner) {
  return QFileDialog::getSaveFileName(owner, QStringLiteral("Save as"), QString(), QStringLiteral("All Files (*)"));
}
}  // namespace hexdlg
