#pragma once
// Where Tarnwick keeps and finds its files.
#include <QString>

namespace platform {

// The per-user folder for every file the program writes (favourites, histories, profiles, settings,
// the zip view file): $XDG_CONFIG_HOME/tarnwick, created on first use, readable by its owner only (0700).
// Nothing else builds this path.
QString userFolder();
// A file in the per-user folder.
QString userFile(const QString &name);

// Read-only data installed with the program (help page, self-extracting stub): share/tarnwick under the
// install prefix, or the executable's folder in the build tree.
QString dataFolder();
// Folder of the run-time loaded engine libraries: lib/tarnwick under the prefix or in the build tree.
QString libraryFolder();

// The path unchanged when empty or already ending in the separator, otherwise with "/" appended.
QString AppendSlash(const QString &path);

}  // namespace platform
