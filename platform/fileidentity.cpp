#include "platform/fileidentity.h"
#include <QFile>
#include <sys/stat.h>

namespace platform {

static FileIdentity fromStat(const struct stat &st) {
  FileIdentity id;
  id.exists = true;
  id.size = st.st_size;
  id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.inode = st.st_ino;
  id.device = st.st_dev;
  return id;
}

FileIdentity FileIdentity::of(const QString &path) {
  struct stat st;
  if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return fromStat(st);
}

FileIdentity FileIdentity::ofDescriptor(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return {};
  return fromStat(st);
}

bool FileIdentity::changedSince(const FileIdentity &earlier) const { return !(*this == earlier); }

}  // namespace platform
