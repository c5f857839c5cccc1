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

}  // namespace platform
