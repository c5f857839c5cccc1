#pragma once
// Mounted volumes stand in for drive letters; a new mount stands in for inserted media.
#include <QObject>
#include <QList>
#include <QSet>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace platform {

struct Volume {
  QString rootPath;
  QString label;       // name shown to the user
  QString fileSystem;
  QString device;
  bool cdrom = false;  // iso9660 / udf, or a /dev/sr* device
};

// The root of the mounted volume that holds the path ("/" when unknown).
QString volumeRoot(const QString &path);
// Volumes a person would browse: real file systems, not the kernel's pseudo ones.
QList<Volume> mountedVolumes();
bool isCdromVolume(const QString &fileSystem, const QString &device);
// The volume holding a path.
Volume volumeOf(const QString &path);

// Watches the mount table and reports volumes that appear or disappear.
class MountWatcher : public QObject {
  Q_OBJECT
 public:
  explicit MountWatcher(QObject *parent = nullptr);
  // Compares the mount table with the last one seen and emits the differences; also run by the watch.
  void check();

 signals:
  void arrived(const QString &rootPath);
  void removed(const QString &rootPath);

 private:
  QSet<QString> known_;
  QSocketNotifier *notifier_ = nullptr;
  QTimer *timer_ = nullptr;
  int fd_ = -1;
};

}  // namespace platform
