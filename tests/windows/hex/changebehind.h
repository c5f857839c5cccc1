#pragma once
// Another program changing a file behind the hex editor, for the tests of both halves.
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Cuts the file to cutTo bytes (unless negative), then writes bytes at at. A program coming along later
// would leave a new modification time; when the clock has not ticked since the last write, the time is
// stepped on by a second so that the change is a later one.
inline void changeBehind(const QString &path, qint64 cutTo, qint64 at, const QByteArray &bytes) {
  const QByteArray name = QFile::encodeName(path);
  struct stat before, after;
  ASSERT_EQ(::stat(name.constData(), &before), 0);
  const int fd = ::open(name.constData(), O_WRONLY);
  ASSERT_GE(fd, 0);
  if (cutTo >= 0) {
    ASSERT_EQ(::ftruncate(fd, cutTo), 0);
  }
  if (!bytes.isEmpty()) {
    ASSERT_EQ(::pwrite(fd, bytes.constData(), bytes.size(), at), bytes.size());
  }
  ASSERT_EQ(::fstat(fd, &after), 0);
  if (after.st_mtim.tv_sec == before.st_mtim.tv_sec && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec) {
    struct timespec t[2] = {after.st_atim, after.st_mtim};
    t[1].tv_sec += 1;
    ASSERT_EQ(::futimens(fd, t), 0);
  }
  ::close(fd);
}
