#pragma once
// What a file was when a program read it: size, modification time in nanoseconds, inode and device.
// An editor keeps the identity of the file it loaded and compares it with the file on disk before saving,
// so that a file changed behind it by another program is not overwritten without a word.
#include <QString>
#include <QtGlobal>

namespace platform {

struct FileIdentity {
  bool exists = false;
  qint64 size = -1;
  qint64 modifiedNs = 0;  // modification time, nanoseconds since the epoch
  quint64 inode = 0;
  quint64 device = 0;

  // The file as it is now (links followed); a missing or unreadable path gives exists == false.
  static FileIdentity of(const QString &path);
  // The file behind an open descriptor, taken when it was opened for reading.
  static FileIdentity ofDescriptor(int fd);

  // True when this identity (taken now) differs from one taken earlier in existence, size, modification
  // time, inode or device: the file was rewritten, replaced, truncated or removed in between.
  bool changedSince(const FileIdentity &earlier) const;
  bool operator==(const FileIdentity &o) const = default;
};

}  // namespace platform
