#include "zip/zipquestions.h"

#include "platform/removable.h"
#include "platform/volumes.h"
#include "zip/zipmaster.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace {

const std::pair<int, QMessageBox::StandardButton> kButtons[] = {
    {TZipMaster::BtnOk, QMessageBox::Ok},   {TZipMaster::BtnCancel, QMessageBox::Cancel},
    {TZipMaster::BtnYes, QMessageBox::Yes}, {TZipMaster::BtnNo, QMessageBox::No},
    {TZipMaster::BtnRetry, QMessageBox::Retry}};

QMessageBox::Icon boxIcon(int icon) {
  switch (icon) {
    case TZipMaster::IconWarning:
      return QMessageBox::Warning;
    case TZipMaster::IconError:
    case TZipMaster::IconStop:
      return QMessageBox::Critical;
    case TZipMaster::IconQuestion:
      return QMessageBox::Question;
    default:
      return QMessageBox::NoIcon;
  }
}

QString captionOr(const QString &caption) { return caption.isEmpty() ? QApplication::applicationName() : caption; }

}  // namespace

int zipQuestion(QWidget *parent, const QString &caption, const QString &text, int buttons, int icon, int defaultButton) {
  QMessageBox box(boxIcon(icon), captionOr(caption), text, QMessageBox::NoButton, parent);
  for (const auto &[ours, qt] : kButtons) {
    if (!(buttons & ours)) continue;
    box.addButton(qt);
    if (ours == defaultButton) box.setDefaultButton(qt);
  }
  const int chosen = box.exec();
  for (const auto &[ours, qt] : kButtons)
    if (chosen == qt) return ours;
  return TZipMaster::BtnCancel;
}

bool zipDiskQuestion(QWidget *parent, const QString &text, int icon, QString *root) {
  QMessageBox box(boxIcon(icon), QApplication::applicationName(), text, QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Ok);
  // A stick put in while the question is open is taken as the answer: no need to come back and press OK.
  platform::MountWatcher watcher;
  QObject::connect(&watcher, &platform::MountWatcher::arrived, &box, [&](const QString &arrived) {
    if (!platform::isRemovableVolume(arrived)) return;
    *root = arrived;
    box.done(QMessageBox::Ok);
  });
  return box.exec() == QMessageBox::Ok;
}
