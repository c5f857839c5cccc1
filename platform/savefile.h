#pragma once
// Writing a whole file through a temporary file and a rename, so that a failed save leaves the old file as
// it was. Qt's QSaveFile alone is not enough: through its write buffer, a short write (a full disk, a size
// limit) is lost in the final flush and commit() still replaces the file with the cut copy. Every save of
// whole bytes goes through here.
#include <QByteArray>
#include <QString>

namespace platform {

// Who may read the saved file: as the file it replaces (a new one by the umask), or its owner only (files
// that hold credentials; a replaced file with a wider mode is narrowed to 0600 by the save).
enum class SaveAccess { AsBefore, OwnerOnly };

// False with *error (Qt's error text) when the bytes could not all be written; the old file is then kept.
bool saveFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                        SaveAccess access = SaveAccess::AsBefore);

}  // namespace platform

namespace platform {

// Saves over a user's file keeping what the file is apart from its bytes: its owner, group and mode stay, a
// symbolic link named stays a link (the file it leads to is saved), and a file with other names (hard links)
// is written in place so that every name sees the new bytes; so is one whose owner a new file could not
// have (another user's file in a folder we may write). Otherwise the bytes go to a temporary file beside it,
// which is renamed over it when complete. A new file is made as saveFileAtomically makes it.
bool saveFileKeepingAttributes(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// The streaming half of the pair, for files written piece by piece (copies, exports, archives): a temporary
// file beside the target, written unbuffered with every count checked, flushed to the disk and renamed over
// the target only when complete. Until then the target is as it was; the destructor removes an unfinished
// temporary.
class StreamingSave {
 public:
  // mode: the finished file's permission bits before the umask (0666 data, 0777 a program), or 0600 for
  // SaveAccess::OwnerOnly.
  explicit StreamingSave(const QString &target, unsigned mode = 0666, SaveAccess access = SaveAccess::AsBefore);
  ~StreamingSave();
  StreamingSave(const StreamingSave &) = delete;
  StreamingSave &operator=(const StreamingSave &) = delete;

  bool open(QString *error = nullptr);
  bool write(const char *data, qint64 n);
  bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
  // The temporary's descriptor, for kernel copies into it (their bytes are counted by added()).
  int fd() const { return fd_; }
  void added(qint64 n) { written_ += n; }
  qint64 size() const { return written_; }
  const QByteArray &tempPath() const { return temp_; }
  const QString &target() const { return target_; }
  // Flushes to the disk and closes; false with the reason. The temporary stays until rename or discard.
  bool finish(QString *error = nullptr);
  // Puts the finished file in the target's place.
  bool rename(QString *error = nullptr);
  // finish and rename.
  bool commit(QString *error = nullptr) { return finish(error) && rename(error); }
  void discard();

 private:
  QString target_;
  QByteArray temp_;
  unsigned mode_;
  int fd_ = -1;
  qint64 written_ = 0;
  bool renamed_ = false;
};

}  // namespace platform
