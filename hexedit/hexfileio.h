#pragma once
// File helpers of the hex editor's working copy: exact positioned reads and writes, whole-file copies that
// keep holes (or clone the file outright), and moving a range inside a file through a bounded block.
#include <QtGlobal>
#include <QString>
#include <functional>

namespace hexio {

// Largest block held in memory while bytes are moved or copied.
constexpr qint64 kMoveBlock = 4 * 1024 * 1024;

// Progress of a long copy: (bytes done, bytes total); returning false cancels.
using Progress = std::function<bool(qint64, qint64)>;

bool readAt(int fd, qint64 pos, void *buf, qint64 n);
bool writeAt(int fd, qint64 pos, const void *buf, qint64 n);
qint64 fileSize(int fd);

// Makes dst hold exactly the bytes of src; progress, when given, is last called with done == total. A copy-on-write clone when the file system offers one; else only
// the data extents are copied (copy_file_range, or read and write) and holes stay holes.
bool copyContents(int src, int dst, QString *error = nullptr, const Progress &progress = {});

// Whether the file system can clone src into a new file at path (tried, then removed again).
bool canClone(int src, const QByteArray &path);

// Moves len bytes at from to position to (the ranges may overlap) in blocks of at most kMoveBlock bytes.
// Source blocks that lie in a hole become holes at the target, so sparse files stay sparse.
bool moveRange(int fd, qint64 from, qint64 to, qint64 len);

// What tells one state of a file from another: which file it is (device and inode), its size and its
// modification time to the nanosecond. Invalid (size -1) for a file that cannot be looked at.
struct Stamp {
  quint64 dev = 0, ino = 0;
  qint64 size = -1, mtimeSec = 0, mtimeNsec = 0;
  bool valid() const { return size >= 0; }
  bool operator==(const Stamp &) const = default;
};
Stamp stampOf(int fd);
// Follows symbolic links: the stamp of the file a link leads to.
Stamp stampOf(const QByteArray &path);

// errno as text, for error reports.
QString lastErrorText();
}  // namespace hexio
