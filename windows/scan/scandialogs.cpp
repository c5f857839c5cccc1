#include "windows/scan/scandialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QMessageBox>
#include "platform/ask.h"

int TScanDialogHost::chooseDevice(QWidget *owner, const QList<scan::Device> &devices, int current) {
  QStringList labels;
  for (const scan::Device &d : devices) labels << d.label + QStringLiteral(" - ") + d.name;
  bool ok = false;
  const QString chosen = QInputDialog::getItem(owner, QStringLiteral("Select Source"), QStringLiteral("Sources:"),
                                               labels, current, false, &ok);
  return ok ? int(labels.indexOf(chosen)) : -1;
}

bool TScanDialogHost::acquireSettings(QWidget *owner, const scan::Options &o, scan::Settings &s) {
  QDialog dlg(owner);
  dlg.setObjectName(QStringLiteral("ScanSettings"));
  dlg.setWindowTitle(QStringLiteral("Scan"));
  auto *form = new QFormLayout(&dlg);
  auto *mode = new QComboBox(&dlg);
  mode->setObjectName(QStringLiteral("ModeBox"));
  mode->addItems(o.modes);
  mode->setCurrentText(s.mode);
  mode->setEnabled(!o.modes.isEmpty());
  auto *res = new QComboBox(&dlg);
  res->setObjectName(QStringLiteral("ResolutionBox"));
  for (int r : o.resolutions) res->addItem(QStringLiteral("%1 dpi").arg(r), r);
  res->setCurrentIndex(qMax(0, res->findData(s.resolution > 0 ? s.resolution : o.resolution)));
  res->setEnabled(res->count() > 0);
  form->addRow(QStringLiteral("&Mode:"), mode);
  form->addRow(QStringLiteral("&Resolution:"), res);
  QDoubleSpinBox *edges[4] = {};
  const bool area = !o.maxAreaMm.isEmpty();
  const char *names[4] = {"Left", "Top", "Right", "Bottom"};
  const QRectF start = o.areaMm.isEmpty() ? o.maxAreaMm : o.areaMm;
  const double values[4] = {start.left(), start.top(), start.right(), start.bottom()};
  for (int k = 0; k < 4 && area; ++k) {
    edges[k] = new QDoubleSpinBox(&dlg);
    edges[k]->setObjectName(QString::fromLatin1(names[k]));
    edges[k]->setSuffix(QStringLiteral(" mm"));
    edges[k]->setDecimals(1);
    edges[k]->setRange(k % 2 ? o.maxAreaMm.top() : o.maxAreaMm.left(),
                       k % 2 ? o.maxAreaMm.bottom() : o.maxAreaMm.right());
    edges[k]->setValue(values[k]);
    form->addRow(QStringLiteral("&%1:").arg(QString::fromLatin1(names[k])), edges[k]);
  }
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Scan"));
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (dlg.exec() != QDialog::Accepted) return false;
  s.mode = mode->currentText();
  s.resolution = res->currentData().toInt();
  if (area)
    s.areaMm = QRectF(QPointF(edges[0]->value(), edges[1]->value()), QPointF(edges[2]->value(), edges[3]->value()))
                   .normalized();
  return true;
}

QString TScanDialogHost::saveFileName(QWidget *owner, const QString &filter) {
  return QFileDialog::getSaveFileName(owner, QStringLiteral("Save As"), QString(), filter, nullptr,
                                      QFileDialog::DontUseNativeDialog);
}

void TScanDialogHost::showScanError(const QString &text) { ask::warning(nullptr, QStringLiteral("TWAIN Error"), text); }

void TScanDialogHost::showMessage(QWidget *owner, const QString &text) { ask::information(owner, QString(), text); }
