#include "browser/undohistory.h"

#include <QCoreApplication>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/trash.h"

namespace browser {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("undo", text); }
QString quoted(const platform::NativePath &p) { return "\"" + platform::displayPath(p) + "\""; }

// The copy's tree by relative path; false when it holds more than the limit.
bool treeOf(const platform::NativePath &root, const QByteArray &rel, QHash<QByteArray, FileStamp> *tree) {
  const platform::NativePath path = rel.isEmpty() ? root : platform::joinPath(root, rel);
  FileStamp s;
  if (!stampOf(path, &s)) return true;
  if (tree->size() >= TUndoHistory::kTreeLimit) return false;
  tree->insert(rel, s);
  if (s.type != S_IFDIR) return true;
  platform::NativePaths names;
  platform::readFolderNames(path, &names);  // an unreadable folder compares by its own stamp
  for (const QByteArray &n : names)
    if (!treeOf(root, rel.isEmpty() ? n : rel + "/" + n, tree)) return false;
  return true;
}

bool exists(const platform::NativePath &p) {
  struct stat st;
  return ::lstat(p.constData(), &st) == 0;
}

QString kindName(UndoStep::Kind k) {
  switch (k) {
    case UndoStep::Kind::Copy: return tr("Copy");
    case UndoStep::Kind::Move: return tr("Move");
    case UndoStep::Kind::Rename: return tr("Rename");
    case UndoStep::Kind::Trash: return tr("Delete");
    case UndoStep::Kind::NewFolder: return tr("New Folder");
  }
  return {};
}

// An item to go back to `before`: the same item still at `now`, and `before` free in a folder that exists.
bool checkReturn(const UndoStep::Item &it, QStringList *problems) {
  FileStamp s;
  if (!stampOf(it.now, &s)) {
    *problems << tr("%1 is no longer there.").arg(quoted(it.now));
  } else if (s.dev != it.stamp.dev || s.ino != it.stamp.ino) {
    *problems << tr("%1 has been replaced by another item since; it stays.").arg(quoted(it.now));
  } else if (exists(it.before)) {
    *problems << tr("%1 stays where it is: %2 is taken by another item.").arg(quoted(it.now), quoted(it.before));
  } else if (!exists(platform::folderOf(it.before))) {
    *problems << tr("%1 stays where it is: the folder %2 is gone.")
                     .arg(quoted(it.now), quoted(platform::folderOf(it.before)));
  } else {
    return true;
  }
  return false;
}
}  // namespace

bool FileStamp::operator==(const FileStamp &o) const {
  // A folder's time changes with its entries, which the tree compares one by one.
  return dev == o.dev && ino == o.ino && type == o.type &&
         (type == S_IFDIR || (size == o.size && mtimeNs == o.mtimeNs));
}

bool stampOf(const platform::NativePath &path, FileStamp *stamp) {
  struct stat st;
  if (::lstat(path.constData(), &st) != 0) return false;
  stamp->dev = st.st_dev;
  stamp->ino = st.st_ino;
  stamp->type = st.st_mode & S_IFMT;
  stamp->size = st.st_size;
  stamp->mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

void TUndoHistory::add(UndoStep step) {
  if (step.items.isEmpty()) return;
  steps_.push_back(std::move(step));
  while (int(steps_.size()) > kKept) steps_.pop_front();
}

UndoStep TUndoHistory::transferStep(const platform::TransferResult &r, platform::TransferMode mode) {
  UndoStep step;
  step.kind = mode == platform::TransferMode::Copy ? UndoStep::Kind::Copy : UndoStep::Kind::Move;
  for (int i = 0; i < r.created.size() && i < r.createdFrom.size(); ++i) {
    UndoStep::Item it;
    it.now = r.created[i];
    it.before = r.createdFrom[i];
    if (!stampOf(it.now, &it.stamp)) continue;
    it.replaced = r.replaced.contains(it.now);
    if (step.kind == UndoStep::Kind::Copy && !treeOf(it.now, {}, &it.tree)) it.tree.clear();
    step.items << it;
  }
  return step;
}

void TUndoHistory::addRename(const platform::NativePath &from, const platform::NativePath &to) {
  // A new folder named right after it was made is undone in one step: it goes, whatever its name.
  if (!steps_.empty() && steps_.back().kind == UndoStep::Kind::NewFolder && steps_.back().items.size() == 1 &&
      steps_.back().items[0].now == from) {
    steps_.back().items[0].now = to;
    return;
  }
  UndoStep step;
  step.kind = UndoStep::Kind::Rename;
  UndoStep::Item it;
  it.now = to;
  it.before = from;
  if (stampOf(to, &it.stamp)) step.items << it;
  add(std::move(step));
}

UndoStep TUndoHistory::trashStep(const QList<platform::TrashOutcome> &trashed, const platform::NativePaths &originals) {
  UndoStep step;
  step.kind = UndoStep::Kind::Trash;
  for (int i = 0; i < trashed.size() && i < originals.size(); ++i) {
    if (!trashed[i].ok) continue;
    UndoStep::Item it;
    it.now = trashed[i].trashedAs;
    it.before = originals[i];
    it.info = trashed[i].infoFile;
    if (stampOf(it.now, &it.stamp)) step.items << it;
  }
  return step;
}

void TUndoHistory::addNewFolder(const platform::NativePath &made) {
  UndoStep step;
  step.kind = UndoStep::Kind::NewFolder;
  UndoStep::Item it;
  it.now = made;
  if (stampOf(made, &it.stamp)) step.items << it;
  add(std::move(step));
}

QString TUndoHistory::caption() const {
  const UndoStep *s = last();
  if (!s) return tr("&Undo");
  if (s->items.size() > 1) return tr("&Undo %1 of %2 Items").arg(kindName(s->kind)).arg(s->items.size());
  const UndoStep::Item &it = s->items[0];
  const platform::NativePath shown = s->kind == UndoStep::Kind::Trash ? it.before : it.now;
  return tr("&Undo %1 of %2").arg(kindName(s->kind), quoted(platform::fileNameOf(shown)));
}

QString TUndoHistory::confirmation() const {
  const UndoStep *s = last();
  if (!s || s->kind != UndoStep::Kind::Copy) return {};
  if (s->items.size() == 1)
    return tr("Undoing the copy deletes the copy %1 for good (only if it is unchanged). Go on?")
        .arg(quoted(s->items[0].now));
  return tr("Undoing the copy deletes its %1 copies for good (only those that are unchanged). Go on?")
      .arg(s->items.size());
}

UndoStep TUndoHistory::takeLast() {
  if (steps_.empty()) return {};
  UndoStep step = std::move(steps_.back());
  steps_.pop_back();
  return step;
}

TUndoHistory::Outcome TUndoHistory::undo(const UndoStep &step) {
  Outcome out;
  for (const UndoStep::Item &it : step.items) {
    switch (step.kind) {
      case UndoStep::Kind::Copy: {
        QHash<QByteArray, FileStamp> now;
        QString error;
        if (it.replaced) {
          out.problems << tr("%1 stays: it took the place of an item of its name, which cannot be brought back.")
                              .arg(quoted(it.now));
        } else if (it.tree.isEmpty()) {
          out.problems << tr("%1 stays: it holds too many files to check that they are unchanged.").arg(quoted(it.now));
        } else if (!exists(it.now)) {
          out.problems << tr("%1 is no longer there.").arg(quoted(it.now));
        } else if (!treeOf(it.now, {}, &now) || now != it.tree) {
          out.problems << tr("%1 stays: it has changed since it was copied.").arg(quoted(it.now));
        } else if (!platform::deletePermanently(it.now, &error)) {
          out.problems << error;
        } else {
          ++out.undone;
        }
        break;
      }
      case UndoStep::Kind::Move:
      case UndoStep::Kind::Rename: {
        if (!checkReturn(it, &out.problems)) break;
        if (platform::renameNoReplace(it.now, it.before) == 0) {
          ++out.undone;
          break;
        }
        const int err = errno;
        if (err == EXDEV && step.kind == UndoStep::Kind::Move) {
          // Across disks the data is copied back: first take the old name where it is, then move.
          UndoStep::Item back = it;
          back.now = platform::joinPath(platform::folderOf(it.now), platform::fileNameOf(it.before));
          if (back.now == it.now || platform::renameNoReplace(it.now, back.now) == 0) {
            out.moves << back;
            break;
          }
          out.problems << tr("%1 cannot get its old name back: %2.").arg(quoted(it.now), platform::errnoText(errno));
          break;
        }
        out.problems << tr("%1 cannot be moved back: %2.").arg(quoted(it.now), platform::errnoText(err));
        break;
      }
      case UndoStep::Kind::Trash: {
        QString error;
        if (!checkReturn(it, &out.problems)) break;
        if (platform::restoreFromTrash(it.now, it.info, it.before, &error))
          ++out.undone;
        else
          out.problems << error;
        break;
      }
      case UndoStep::Kind::NewFolder: {
        FileStamp s;
        if (!stampOf(it.now, &s) || s.ino != it.stamp.ino || s.dev != it.stamp.dev) {
          out.problems << tr("%1 is no longer there.").arg(quoted(it.now));
        } else if (::rmdir(it.now.constData()) == 0) {
          ++out.undone;
        } else {
          out.problems << (errno == ENOTEMPTY || errno == EEXIST
                               ? tr("%1 stays: it is not empty any more.").arg(quoted(it.now))
                               : tr("Cannot remove %1: %2.").arg(quoted(it.now), platform::errnoText(errno)));
        }
        break;
      }
    }
  }
  return out;
}

}  // namespace browser
