#pragma once
// File copying for the archive conversions and spanned sets: big blocks through the kernel
// (copy_file_range, so a copy on one file system runs at the speed of cp), a progress call after every
// block that can stop the copy, and an output written under a temporary name beside its target that
// replaces the target only once it is complete.
#include <QByteArray>
#include <QString>
#include "platform/savefile.h"
#include <functional>

namespace zipcopy {

// Called with the bytes just copied; false stops the copy.
using Progress = std::function<bool(qint64)>;

// An input file read through its descriptor.
class SpliceFile {
 public:
  explicit SpliceFile(const QString &path) : path_(path) {}
  ~SpliceFile();
  SpliceFile(const SpliceFile &) = delete;
  SpliceFile &operator=(const SpliceFile &) = delete;
  bool openRead();
  qint64 size() const;
  // Reads exactly n bytes at offset; false on a short read.
  bool readAt(qint64 offset, char *buf, qint64 n) const;
  // Reads up to n bytes at offset; the count read, -1 on error.
  qint64 readSome(qint64 offset, char *buf, qint64 n) const;
  int fd() const { return fd_; }
  const QString &path() const { return path_; }

 private:
  QString path_;
  int fd_ = -1;
};

class OutputFile {
 public:
  // mode: the permission bits of the finished file before the umask (0666 data, 0777 a program).
  OutputFile(const QString &target, unsigned mode) : save_(target, mode) {}
  bool create() { return save_.open(); }
  bool write(const QByteArray &bytes) { return save_.write(bytes); }
  bool write(const char *data, qint64 n) { return save_.write(data, n); }
  // Copies count bytes (-1: to the end) of the input from offset. A short input ends the copy; false on a
  // failed write or when progress says stop.
  bool copyFrom(const SpliceFile &in, qint64 offset, qint64 count, const Progress &progress);
  qint64 size() const { return save_.size(); }
  // Reads back n bytes already written at offset.
  bool readBack(qint64 offset, char *buf, qint64 n) const;
  // Flushes to the disk and closes; false with the reason.
  bool finish(QString *error) { return save_.finish(error); }
  // Sets the file's modification time (seconds since the epoch) once finished.
  void setModified(qint64 secs);
  // Puts the finished file in the target's place.
  bool rename(QString *error) { return save_.rename(error); }
  void discard() { save_.discard(); }
  const QString &target() const { return save_.target(); }

 private:
  platform::StreamingSave save_;  // the temporary beside the target, removed unless renamed
};

}  // namespace zipcopy
