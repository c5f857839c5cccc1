#pragma once
// Which program views a downloaded text file: the desktop's default application for plain text,
// else a known graphical text editor. Empty when there is none.
#include <QStringList>

namespace ftpviewer {

// The program and its fixed arguments; the file path is to be appended.
QStringList textEditorCommand();
// The command of a desktop entry's Exec line with its field codes removed (%f, %U, ...).
QStringList execToCommand(const QString &exec);

} // namespace ftpviewer
