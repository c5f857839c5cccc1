#include "platform/trash.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("trash", text); }

bool ensureFolder(const NativePath &path, mode_t mode) {
  struct stat st;
  if (::lstat(path.constData(), &st) == 0) return S_ISDIR(st.st_mode);
  if (::mkdir(path.constData(), mode) == 0) return true;
  return errno == EEXIST && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ensureFolders(const NativePath &path, mode_t mode) {
  struct stat st;
  if (::lstat(path.constData(), &st) == 0) return S_ISDIR(st.st_mode);
  const NativePath parent = folderOf(path);
  if (parent != path && !ensureFolders(parent, 0700)) return false;
  return ensureFolder(path, mode);
}

NativePath absolute(const NativePath &path) {
  if (path.startsWith('/')) return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return joinPath(NativePath(cwd), path);
}

// The mount point that holds the item: the highest folder above it on the same device.
NativePath topDirectory(const NativePath &item, dev_t dev) {
  NativePath dir = folderOf(item);
  for (;;) {
    if (dir == "/") return dir;
    const NativePath parent = folderOf(dir);
    struct stat st;
    if (::stat(parent.constData(), &st) != 0 || st.st_dev != dev) return dir;
    dir = parent;
  }
}

// A trash folder on the item's own volume, or empty when the volume offers none we may use.
NativePath volumeTrash(const NativePath &top) {
  const QByteArray uid = QByteArray::number(::getuid());
  const NativePath shared = joinPath(top, ".Trash");
  struct stat st;
  // The administrator's shared .Trash counts only when it is a real folder with the sticky bit.
  if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
    const NativePath mine = joinPath(shared, uid);
    if (ensureFolder(mine, 0700)) return mine;
  }
  const NativePath own = joinPath(top, ".Trash-" + uid);
  if (!ensureFolder(own, 0700)) return {};
  if (::lstat(own.constData(), &st) != 0 || st.st_uid != ::getuid()) return {};
  return own;
}
}  // namespace

NativePath homeTrash() {
  QByteArray data = qgetenv("XDG_DATA_HOME");
  if (data.isEmpty() || !data.startsWith('/')) data = qgetenv("HOME") + "/.local/share";
  return joinPath(data, "Trash");
}

TrashOutcome moveToTrash(const NativePath &pathIn) {
  TrashOutcome out;
  const NativePath path = absolute(pathIn);
  struct stat st;
  if (::lstat(path.constData(), &st) != 0) {
    out.error = tr("%1 cannot be moved to the Trash: %2.").arg("\"" + displayPath(path) + "\"", errnoText(errno));
    return out;
  }
  NativePath trash = homeTrash();
  NativePath recorded = path;  // the home trash records absolute paths
  ensureFolders(trash, 0700);
  struct stat tst;
  if (::stat(trash.constData(), &tst) != 0 || tst.st_dev != st.st_dev) {
    const NativePath top = topDirectory(path, st.st_dev);
    trash = volumeTrash(top);
    if (trash.isEmpty()) {
      out.trashUnavailable = true;
      out.error = tr("%1 cannot be moved to the Trash: its disk has no trash folder that can be used.")
                      .arg("\"" + displayPath(path) + "\"");
      return out;
    }
    recorded = top == "/" ? path.mid(1) : path.mid(top.size() + 1);  // relative to the volume's top
  }
  const NativePath files = joinPath(trash, "files"), info = joinPath(trash, "info");
  if (!ensureFolder(files, 0700) || !ensureFolder(info, 0700)) {
    out.trashUnavailable = true;
    out.error = tr("%1 cannot be moved to the Trash: the trash folder %2 cannot be used.")
                    .arg("\"" + displayPath(path) + "\"", "\"" + displayPath(trash) + "\"");
    return out;
  }

  const NativePath name = fileNameOf(path);
  const QByteArray content = "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" +
                             QDateTime::currentDateTime().toString("yyyy-MM-ddThh:mm:ss").toLatin1() + "\n";
  for (int n = 1; n < 10000; ++n) {
    NativePath candidate = n == 1 ? name : name + "." + QByteArray::number(n);
    if (candidate.size() > 200) candidate = candidate.right(200);  // room for ".trashinfo" in NAME_MAX
    const NativePath infoFile = joinPath(info, candidate + ".trashinfo");
    // Creating the info file exclusively reserves the name (the freedesktop trash's own locking rule).
    const int fd = ::open(infoFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      out.trashUnavailable = true;
      out.error = tr("%1 cannot be moved to the Trash: %2.").arg("\"" + displayPath(path) + "\"", errnoText(errno));
      return out;
    }
    const NativePath target = joinPath(files, candidate);
    struct stat existing;
    if (::lstat(target.constData(), &existing) == 0) {  // left over without its info file
      ::close(fd);
      ::unlink(infoFile.constData());
      continue;
    }
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == content.size();
    const int werr = errno;
    if (::close(fd) != 0 || !written) {
      ::unlink(infoFile.constData());
      out.trashUnavailable = true;
      out.error = tr("%1 cannot be moved to the Trash: %2.").arg("\"" + displayPath(path) + "\"", errnoText(werr));
      return out;
    }
    if (::rename(path.constData(), target.constData()) != 0) {
      const int err = errno;
      ::unlink(infoFile.constData());
      out.trashUnavailable = err == EXDEV;  // the trash found is on another disk after all
      out.error = tr("%1 cannot be moved to the Trash: %2.").arg("\"" + displayPath(path) + "\"", errnoText(err));
      return out;
    }
    out.ok = true;
    out.trashedAs = target;
    out.infoFile = infoFile;
    return out;
  }
  out.trashUnavailable = true;
  out.error = tr("%1 cannot be moved to the Trash: too many items of that name.").arg("\"" + displayPath(path) + "\"");
  return out;
}

bool restoreFromTrash(const NativePath &trashedAs, const NativePath &infoFile, const NativePath &original,
                      QString *error) {
  if (renameNoReplace(trashedAs, original) != 0) {
    if (error)
      *error =
          tr("%1 cannot be restored from the Trash: %2.").arg("\"" + displayPath(original) + "\"", errnoText(errno));
    return false;
  }
  ::unlink(infoFile.constData());
  return true;
}

bool deletePermanently(const NativePath &path, QString *error) {
  struct stat st;
  auto fail = [&](int err) {
    if (error) *error = tr("Cannot delete %1: %2.").arg("\"" + displayPath(path) + "\"", errnoText(err));
    return false;
  };
  if (::lstat(path.constData(), &st) != 0) return fail(errno);
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.constData()) == 0 || fail(errno);
  NativePaths names;
  int err = 0;
  if (!readFolderNames(path, &names, &err) && names.isEmpty()) return fail(err);
  for (const NativePath &n : names)
    if (!deletePermanently(joinPath(path, n), error)) return false;
  return ::rmdir(path.constData()) == 0 || fail(errno);
}

}  // namespace platform
