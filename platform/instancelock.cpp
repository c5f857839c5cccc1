#include "platform/instancelock.h"
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace platform {

InstanceLock::InstanceLock(const QString &name) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  path_ = dir + "/" + name + ".lock";
  lock_ = std::make_unique<QLockFile>(path_);
  lock_->setStaleLockTime(0);  // a lock left by a crashed process is detected by its dead PID
}

InstanceLock::~InstanceLock() {
  if (owner_) lock_->unlock();
}

bool InstanceLock::tryLock() {
  owner_ = lock_->tryLock(0);
  return owner_;
}

}  // namespace platform
