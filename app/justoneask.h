#pragma once
// Single-instance question: a second start asks whether to open another window.
#include <functional>
#include <memory>
#include "platform/instancelock.h"

class TJustOneAsk {
 public:
  using Asker = std::function<bool()>;  // true means "open another instance"
  // name: the program file's name; asker: shown only when another instance holds the lock.
  TJustOneAsk(const QString &name, Asker asker = {});
  // True when start-up may go on.
  bool proceed() const { return proceed_; }
  bool createdMutex() const { return lock_->isOwner(); }
  static bool askWithMessageBox();

 private:
  std::unique_ptr<platform::InstanceLock> lock_;
  bool proceed_ = true;
};
