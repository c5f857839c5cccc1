#pragma once
// Start with the desktop session: the XDG autostart entry $XDG_CONFIG_HOME/autostart/<name>.desktop.
#include <QString>

namespace platform {

QString autostartEntryPath(const QString &appName);
// True when the entry exists and names a program to run.
bool autostartEnabled(const QString &appName);
// Writes the entry running programPath, or removes it. Returns false when the entry cannot be written.
bool setAutostart(const QString &appName, bool on, const QString &programPath);

}  // namespace platform
