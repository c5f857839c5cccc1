#pragma once
// The desktop trash in the freedesktop.org layout: the item goes to files/ and a
// .trashinfo file in info/ records where it came from and when, in $XDG_DATA_HOME/Trash for items on the
// home file system and in the volume's own .Trash/$uid or .Trash-$uid elsewhere.
// Our own code instead of QFile::moveToTrash: names that are not UTF-8 must survive, and the caller needs to
// know when the trash is impossible so that it can ask before deleting for good.
#include "platform/fileops.h"

namespace platform {

struct TrashOutcome {
  bool ok = false;
  NativePath trashedAs;  // the item's new place under files/
  NativePath infoFile;
  QString error;  // why the item could not be trashed (it is then unchanged)
  // The failure is the trash's (no usable trash folder on the item's disk), not the item's (missing, access
  // denied): only then is deleting for good a sensible second offer.
  bool trashUnavailable = false;
};

// The home trash folder: $XDG_DATA_HOME/Trash (default ~/.local/share/Trash).
NativePath homeTrash();
TrashOutcome moveToTrash(const NativePath &path);

// Puts a trashed item back at its old place (which must be free) and removes its .trashinfo.
bool restoreFromTrash(const NativePath &trashedAs, const NativePath &infoFile, const NativePath &original,
                      QString *error);

// Deletes an item for good: a folder with everything in it. Links are removed, never followed.
// Stops at the first failure and says which item and why.
bool deletePermanently(const NativePath &path, QString *error);

}  // namespace platform
