#pragma once
// What the RTF reader keeps beyond what the document model shows and the writer puts back: groups kept as
// they were read, pictures, field instructions, the list table. Used by rtfcodec.cpp only.
#include <QByteArray>
#include <QChar>
#include <QHash>
#include <QString>

#include <array>

class QImage;
class QTextDocument;
class QTextImageFormat;

namespace rtf::kept {

// Where a group ends: the position just past the brace that closes the group whose contents start at pos
// (its opening brace lies before pos). -1 when the data ends first, -2 when the group nests deeper than maxDepth,
// -3 when \binN promises more bytes than there are.
qsizetype groupEnd(const char *s, qsizetype n, qsizetype pos, int maxDepth);

// True when the group holds a \pict group (a picture, or \shppict or \object around one).
bool holdsPicture(const QByteArray &group);
// A group holding a picture as an image format of doc: the image (or, where Qt cannot draw the picture's
// format, a stand-in of its size) added to doc's resources, the group kept in kRawGroupProperty, so that it
// is written back byte for byte.
QTextImageFormat pictureFormat(const QByteArray &group, QTextDocument *doc);
// The \pict group of an image the document got elsewhere (pasted, made by a program): PNG in hex, shown at
// the given size in layout units (0: the image's own size).
QByteArray pictureGroup(const QImage &image, double widthUnits, double heightUnits);

// The target of a HYPERLINK field from its {\*\fldinst ...} group: the URL, with "#name" for a place in the
// document; empty when the field is no hyperlink.
QString hyperlinkTarget(const QByteArray &fldinst);
// A field instruction for a link target (the reverse of hyperlinkTarget).
QByteArray hyperlinkInstruction(const QString &target);

// Text as 7-bit RTF: \uN with a fallback byte (its code page 1252 byte when cp1252Fallback, else "?").
void appendText(QByteArray &out, const QString &s, bool cp1252Fallback);

struct ListLevel {
  int nfc = 0;    // \levelnfc: 0 decimal, 1 upper and 2 lower roman, 3 upper and 4 lower letter, 23 bullet, 255 none
  int start = 1;  // \levelstartat
  QChar bullet;   // the bullet's character (from \leveltext), for nfc 23
};
using ListLevels = std::array<ListLevel, 9>;
// \ls numbers with the levels of their list, from the {\*\listtable} and {\*\listoverridetable} groups.
QHash<int, ListLevels> readListTables(const QByteArray &listTable, const QByteArray &overrideTable);

}  // namespace rtf::kept
