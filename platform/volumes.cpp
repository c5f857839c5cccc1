#include "platform/volumes.h"
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStorageInfo>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool isCdromVolume(const QString &fileSystem, const QString &device) {
  const QString fs = fileSystem.toLower();
  return fs == QLatin1String("iso9660") || fs == QLatin1String("udf") || device.startsWith(QLatin1String("/dev/sr"));
}

static Volume fromStorage(const QStorageInfo &s) {
  Volume v;
  v.rootPath = s.rootPath();
  v.fileSystem = QString::fromUtf8(s.fileSystemType());
  v.device = QString::fromUtf8(s.device());
  v.label = s.displayName();
  v.cdrom = isCdromVolume(v.fileSystem, v.device);
  return v;
}

QList<Volume> mountedVolumes() {
  static const QSet<QString> pseudo = {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs",
                                       "debugfs", "tracefs", "pstore", "bpf", "mqueue", "hugetlbfs", "configfs",
                                       "fusectl", "autofs", "binfmt_misc", "rpc_pipefs", "nsfs", "efivarfs"};
  QList<Volume> out;
  for (const QStorageInfo &s : QStorageInfo::mountedVolumes()) {
    if (!s.isValid() || !s.isReady()) continue;
    const QString fs = QString::fromUtf8(s.fileSystemType());
    if (pseudo.contains(fs)) continue;
    if (s.rootPath() != QLatin1String("/") && (s.rootPath().startsWith(QLatin1String("/proc")) || s.rootPath().startsWith(QLatin1String("/sys")) ||
                                                s.rootPath().startsWith(QLatin1String("/dev")) || s.rootPath().startsWith(QLatin1String("/run/user"))))
      continue;
    out << fromStorage(s);
  }
  return out;
}

QString volumeRoot(const QString &path) {
  const QString root = volumeOf(path).rootPath;
  return root.isEmpty() ? QStringLiteral("/") : root;
}

Volume volumeOf(const QString &path) {
  QStorageInfo s(path);
  if (!s.isValid()) {
    Volume v;
    v.rootPath = QStringLiteral("/");
    return v;
  }
  return fromStorage(s);
}

MountWatcher::MountWatcher(QObject *parent) : QObject(parent) {
  for (const Volume &v : mountedVolumes()) known_.insert(v.rootPath);
  // The kernel flags /proc/self/mountinfo with an exceptional condition whenever the mount table changes.
  fd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
      char buf[4096];
      ::lseek(fd_, 0, SEEK_SET);
      while (::read(fd_, buf, sizeof buf) > 0) {
      }
      check();
    });
  } else {
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &MountWatcher::check);
    timer_->start(2000);
  }
}

void MountWatcher::check() {
  QSet<QString> now;
  for (const Volume &v : mountedVolumes()) now.insert(v.rootPath);
  for (const QString &r : now)
    if (!known_.contains(r)) emit arrived(r);
  for (const QString &r : known_)
    if (!now.contains(r)) emit removed(r);
  known_ = now;
}

}  // namespace platform
