#pragma once
// Comparing two folder trees: every relative path is put in one kind (left only, right only, newer on one
// side, different, type differs, equal, unreadable) by type, size and modification time, and optionally by
// content. No widgets: the window runs compareTrees on a thread, the benchmark from the command line.
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>

#include "platform/fileops.h"

namespace comparing {

using platform::NativePath;

enum class Kind { LeftOnly, RightOnly, LeftNewer, RightNewer, Different, TypeDiffers, Equal, Unreadable };
constexpr int kKindCount = 8;
QString kindText(Kind kind);

enum class EntryType : unsigned char { None, File, Folder, Link, Other };

struct Side {
  EntryType type = EntryType::None;
  qint64 size = 0;
  qint64 mtimeNs = 0;  // since the epoch
  bool exists() const { return type != EntryType::None; }
};

struct Row {
  NativePath rel;  // relative to both roots, '/'-separated, as the file system holds the bytes
  Kind kind = Kind::Equal;
  Side left, right;
  QString problem;  // why an entry is Unreadable
};

enum class ContentMode { None, Hash, Bytes };  // Hash: SHA-256 of each side; Bytes: read both, stop at a difference

struct Options {
  bool recursive = true;
  ContentMode content = ContentMode::None;
  // FAT keeps times to two seconds: a copy there and back differs by up to that much from its original.
  qint64 timeToleranceNs = 0;
};

struct Progress {
  qint64 entries = 0;        // paths looked at so far
  qint64 bytesCompared = 0;  // bytes read for content
  NativePath current;        // relative path being looked at
};

struct Result {
  QVector<Row> rows;  // in tree order (a folder's entries sorted by their bytes, each folder before its content)
  bool cancelled = false;
  QString rootProblem;  // a root that cannot be opened: nothing was compared
};

// Folders on both sides are descended (when recursive) and give no row of their own; a folder on one side
// only is one row for everything in it. Links are compared by their target text and never followed.
// `cancel` may be set from any thread; `progress` is called on the calling thread now and then.
Result compareTrees(const NativePath &left, const NativePath &right, const Options &options,
                    const std::atomic<bool> *cancel = nullptr,
                    const std::function<void(const Progress &)> &progress = {});

}  // namespace comparing
