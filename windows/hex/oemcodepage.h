#pragma once
// The OEM (DOS) character set is code page 437; "ANSI" text is UTF-8, one byte shown as its Latin-1 character.
#include <QByteArray>
#include <QChar>
#include <QString>

namespace oem {
// The character an OEM byte stands for.
QChar toUnicode(unsigned char b);
// The OEM byte of a character, or -1 when code page 437 has no such character.
int fromUnicode(QChar c);
// Text (UTF-8 bytes) converted to OEM bytes; characters without an OEM byte become '?'.
QByteArray fromAnsi(const QByteArray &utf8);
}
