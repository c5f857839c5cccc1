#pragma once
// The undo history of the file commands: what the last copies, moves, renames, deletes to the Trash and
// new folders did, and how to take each back without losing anything. An item only goes back to a place
// that is free; a copy is only removed while it is exactly as the copy left it (every file of it, by size,
// time and identity); an item that has changed since, or been replaced, stays where it is and the outcome
// says why. Steps that must carry data across disks are handed back to the caller, which runs them as a
// move with progress and Cancel.
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <sys/types.h>
#include "platform/fileops.h"

namespace platform {
struct TrashOutcome;
}

namespace browser {

// What an item looked like when an operation left it: enough to tell it is the same, unchanged item.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  mode_t type = 0;  // S_IFMT bits
  qint64 size = 0;
  qint64 mtimeNs = 0;
  bool operator==(const FileStamp &o) const;
};

struct UndoStep {
  enum class Kind { Copy, Move, Rename, Trash, NewFolder };
  struct Item {
    platform::NativePath now;     // where the operation left it
    platform::NativePath before;  // where it was: the source of a copy or move, a trashed item's old place
    platform::NativePath info;    // a trashed item's .trashinfo
    FileStamp stamp;              // the item itself as the operation left it
    // A copy's whole tree as made (relative path -> stamp; "" is the item itself); empty when it held more
    // than kTreeLimit entries, and then it is not removed.
    QHash<QByteArray, FileStamp> tree;
    bool replaced = false;  // a copy that took the place of an item of its name: what it replaced is gone
  };
  Kind kind = Kind::Copy;
  QList<Item> items;
};

class TUndoHistory {
 public:
  static constexpr int kKept = 20;           // steps remembered
  static constexpr int kTreeLimit = 200000;  // entries of a copy checked before its removal

  // The steps of what an operation just did, made right after it (the items are looked at now; a copy's
  // whole tree, so these may take a while and touch no history: any thread).
  static UndoStep transferStep(const platform::TransferResult &r, platform::TransferMode mode);
  static UndoStep trashStep(const QList<platform::TrashOutcome> &trashed, const platform::NativePaths &originals);
  // Steps with nothing in them are not kept.
  void add(UndoStep step);
  void addRename(const platform::NativePath &from, const platform::NativePath &to);
  void addNewFolder(const platform::NativePath &made);

  bool isEmpty() const { return steps_.empty(); }
  int size() const { return int(steps_.size()); }
  const UndoStep *last() const { return steps_.empty() ? nullptr : &steps_.back(); }
  // The menu item's text for the last step ("&Undo Copy of 3 Items", "&Undo Rename of "a.txt"", "&Undo").
  QString caption() const;
  // The question asked before a step that removes files (the copies); empty for the others.
  QString confirmation() const;

  struct Outcome {
    int undone = 0;
    QStringList problems;  // one sentence per item left as it is
    // Items to move back across disks (now -> folder of before, already renamed to their old names).
    QList<UndoStep::Item> moves;
  };
  // The last step, taken out of the history (it is forgotten also when parts of it cannot be undone).
  UndoStep takeLast();
  // Undoes a step; may take a while (removing copies), touches no history: any thread.
  static Outcome undo(const UndoStep &step);

 private:
  std::deque<UndoStep> steps_;
};

// The stamp of an item (not following links); false when it is gone.
bool stampOf(const platform::NativePath &path, FileStamp *stamp);

}  // namespace browser
