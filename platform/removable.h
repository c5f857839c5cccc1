#pragma once
// Removable media for spanned zip sets: which mounted volumes are removable, their labels, and formatting
// through the desktop's disk service. A volume is named by its mount root, as everywhere in platform/.
#include <QList>
#include <QString>

namespace platform {

// True when the volume mounted at root lies on a removable device (USB stick, SD card, floppy).
// Tests mark roots removable with the environment switch TARNWICK_REMOVABLE_VOLUMES
// ("root=device-or-image;root2=image2"), since a test cannot plug in a stick.
bool isRemovableVolume(const QString &root);

// The sysfs half of isRemovableVolume: whether the block device (a /dev path or a kernel name such as
// "sdb1") is removable or sits on the USB or MMC/SD bus. A partition answers for its disk. sysRoot is where
// sysfs is mounted; tests pass a tree of their own.
bool isRemovableBlockDevice(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

// The label the volume's file system stores; empty when it has none or it cannot be read.
QString readVolumeLabel(const QString &root);

// Sets the volume's label; false with the reason when the file system or the device does not allow it.
// FAT labels are stored in capitals, as the desktop's own tools do.
bool setVolumeLabel(const QString &root, const QString &label, QString *error);

// A process that keeps the volume at root busy, so that it cannot be unmounted.
struct VolumeUser {
  qint64 pid = 0;
  QString name;  // the program's name
  QString what;  // "working folder", "open file /media/stick/a.zip", ...
};

// The processes (of those this one may look at) with their working or root folder, an open file or a mapped
// file on the volume mounted at root.
QList<VolumeUser> volumeUsers(const QString &root);

enum class FormatResult { Done, Cancelled, Failed, Unavailable };

// Formats the removable volume at root as FAT with the label, through the desktop's disk service, and mounts
// it again. Blocks the caller but keeps the event loop running. On Done, *newRoot is where the volume is
// mounted now (it can differ from root). On Failed, *error says why. A volume that is not removable is
// never formatted (Failed).
FormatResult formatVolume(const QString &root, const QString &label, QString *newRoot, QString *error);

}  // namespace platform
