#pragma once
// Files on the system clipboard the way desktop file managers exchange them: "text/uri-list" plus GNOME's
// "x-special/gnome-copied-files" (and KDE's cut mark), so that copy and cut work both ways with them.
#include "platform/fileops.h"

class QMimeData;

namespace platform {

struct ClipboardFiles {
  NativePaths paths;
  bool cut = false;  // the items are to be moved by the paste
  bool isEmpty() const { return paths.isEmpty(); }
};

// "file:///..." with every byte outside the unreserved set percent-encoded (so newlines and bytes that
// are not UTF-8 survive), and back. pathFromFileUri accepts an empty host, "localhost" or this machine's name.
QByteArray fileUri(const NativePath &path);
bool pathFromFileUri(const QByteArray &uri, NativePath *path);

// A new mime data object (the caller owns it) carrying the paths in all the formats above plus plain text.
QMimeData *fileMimeData(const NativePaths &paths, bool cut);
// Reads GNOME's format first, then the URI list with KDE's cut mark; non-file URIs are ignored.
ClipboardFiles filesFromMimeData(const QMimeData *data);

void putFilesOnClipboard(const NativePaths &paths, bool cut);
ClipboardFiles filesOnClipboard();
// After a paste has moved cut items, they are no longer where the clipboard says.
void clearClipboard();

}  // namespace platform
