#include "app/justoneask.h"
#include <QMessageBox>
#include "platform/ask.h"

TJustOneAsk::TJustOneAsk(const QString &name, Asker asker) : lock_(std::make_unique<platform::InstanceLock>(name)) {
  if (lock_->tryLock()) return;
  proceed_ = asker ? asker() : askWithMessageBox();
}

bool TJustOneAsk::askWithMessageBox() {
  return ask::yes(nullptr, QStringLiteral("Tarnwick"),
                  QStringLiteral("Tarnwick is currently active, do you wish to open another instance of Tarnwick"));
}
