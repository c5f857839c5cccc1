#include "controls/filedialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QRegularExpression>

namespace filedlg {

QString qtFilter(const QString &mask) {
  QStringList out;
  const QStringList parts = mask.split(QLatin1Char('|'));
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString &p : patterns) {
      p = p.trimmed();
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    }
    const QString joined = patterns.join(QLatin1Char(' '));
    const QString &desc = parts[i];
    static const QRegularExpression trailing(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    const QRegularExpressionMatch m = trailing.match(desc);
    if (m.hasMatch() && m.captured(1).simplified().compare(joined, Qt::CaseInsensitive) == 0) out << desc;
    else out << desc + QStringLiteral(" (") + joined + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

QString openWithReadOnlyBox(QWidget *owner, const QString &caption, const QString &folder, const QString &qtFilter,
                            bool &readOnly) {
  QFileDialog dlg(owner, caption, folder, qtFilter);
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

}  // namespace filedlg
