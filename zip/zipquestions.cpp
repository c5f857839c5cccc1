#include "zip/zipquestions.h"

#include "platform/ask.h"
#include "platform/removable.h"
#include "platform/volumes.h"
#include "zip/zipmaster.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace {

const std::pair<int, QMessageBox::StandardButton> kButtons[] = {{TZipMaster::BtnOk, QMessageBox::Ok},
                                                                {TZipMaster::BtnCancel, QMessageBox::Cancel},
                                                                {TZipMaster::BtnYes, QMessageBox::Yes},
                                                                {TZipMaster::BtnNo, QMessageBox::No},
                                                                {TZipMaster::BtnRetry, QMessageBox::Retry}};

ask::Kind boxKind(int icon) {
  switch (icon) {
    case TZipMaster::IconWarning: return ask::Kind::Warning;
    case TZipMaster::IconError:
    case TZipMaster::IconStop: return ask::Kind::Error;
    case TZipMaster::IconQuestion: return ask::Kind::Question;
    default: return ask::Kind::Plain;
  }
}

QMessageBox::Icon boxIcon(int icon) {
  switch (boxKind(icon)) {
    case ask::Kind::Warning: return QMessageBox::Warning;
    case ask::Kind::Error: return QMessageBox::Critical;
    case ask::Kind::Question: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
  }
}

QString captionOr(const QString &caption) { return caption.isEmpty() ? QApplication::applicationName() : caption; }

}  // namespace

int zipQuestion(QWidget *parent, const QString &caption, const QString &text, int buttons, int icon,
                int defaultButton) {
  ask::Buttons offered;
  ask::Button byDefault = QMessageBox::NoButton;
  for (const auto &[ours, qt] : kButtons) {
    if (!(buttons & ours)) continue;
    offered |= qt;
    if (ours == defaultButton) byDefault = qt;
  }
  const ask::Button chosen = ask::user(parent, {boxKind(icon), captionOr(caption), text, offered, byDefault});
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
