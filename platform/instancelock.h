#pragma once
// Cross-process single-instance lock named after the program file.
#include <QString>
#include <memory>

class QLockFile;

namespace platform {

class InstanceLock {
 public:
  // name: the program file's own name (without folder), so copies under another name do not see each other.
  explicit InstanceLock(const QString &name);
  ~InstanceLock();
  // True when this process now holds the lock; false when another live process holds it or it cannot be made.
  bool tryLock();
  bool isOwner() const { return owner_; }
  QString path() const { return path_; }

 private:
  QString path_;
  std::unique_ptr<QLockFile> lock_;
  bool owner_ = false;
};

}  // namespace platform
