#pragma once
// File helpers of the hex editor's working copy: exact positioned reads and writes, whole-file copies that
// keep holes (or clone the file outright), and moving a range inside a file through a bounded block.
#include <QFile>
#include <QString>
#include <QtGlobal>
#include <functional>

#include "platform/fileidentity.h"

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

// Makes dst a copy-on-write clone of src, where the file system offers that.
bool clone(int src, int dst);

// O_TMPFILE is tried first unless turned off here (tests run the fallback of file systems that refuse it).
void setTmpFileAllowed(bool on);

// A file with no name in folder dir, open for reading and writing: O_TMPFILE, or where the file system
// refuses that, a file created and unlinked at once. The kernel frees it when it is closed, however the
// process ends.
int openUnnamed(const QByteArray &dir);

// Where a save's new bytes are written before they replace the target: a file beside the target that has
// no name until just before it is renamed over the target (so a killed save leaves nothing), and that is
// locked (flock) all its life, so that a later clean-up can tell a save that still runs from one that was
// killed between naming and renaming. Where O_TMPFILE is refused it is named from the start, and locked
// right after it is made. Its name is .NAME.tarnwick-save-XXXXXX beside NAME.
class SaveTemp {
 public:
  SaveTemp() = default;
  SaveTemp(const SaveTemp &) = delete;
  SaveTemp &operator=(const SaveTemp &) = delete;
  // An unfinished one goes: its name (if it had one) is removed, then it is closed.
  ~SaveTemp();
  bool create(const QByteArray &target);
  int fd() const { return m_fd; }
  // Gives the file its name, if it has none yet, and renames it over the target.
  bool commit();

 private:
  int m_fd = -1;
  QByteArray m_target, m_name;
};

// Removes what killed saves left beside target: files named exactly as SaveTemp names them for target,
// owned by this user, untouched for a minute (a save in its fallback is locked right after it is made, not
// at once) and not locked by a save that still runs.
void removeStaleSaveTemps(const QByteArray &target);

// Moves len bytes at from to position to (the ranges may overlap) in blocks of at most kMoveBlock bytes.
// Source blocks that lie in a hole become holes at the target, so sparse files stay sparse.
bool moveRange(int fd, qint64 from, qint64 to, qint64 len);

// What tells one state of a file from another: which file it is (device and inode), its size and its
// modification time to the nanosecond. A file that cannot be looked at has exists == false.
using Stamp = platform::FileIdentity;
inline Stamp stampOf(int fd) { return Stamp::ofDescriptor(fd); }
// Follows symbolic links: the stamp of the file a link leads to.
inline Stamp stampOf(const QByteArray &path) { return Stamp::of(QFile::decodeName(path)); }

// errno as text, for error reports.
QString lastErrorText();
}  // namespace hexio
