#pragma once
// Reading RTF into a QTextDocument and writing a QTextDocument as RTF. Pure functions, no widgets.
//
// Units in the document model: indents and paragraph spacing are in Qt layout units, which are pixels at
// 96 dpi, so the document shows true sizes on screen: 1 unit = 15 twips = 3/4 point. Font sizes are points.
//
// What the reader keeps: text in every code page word processors write (\ansicpg, \fcharset, \'hh,
// \uN with its \ucN fallback, the Mac code pages), fonts, sizes, bold, italic, underline, strike-out,
// super/subscript, text and background colours, alignment, right-to-left paragraphs, first-line/left/right
// indents, spacing before/after, tabs, line and page breaks, bullets and numbered lists (from the list table,
// nested levels as nested lists; without one from the list text: a bullet, a number or a letter), tables
// (QTextTable, one row per \row; nested tables flattened into their cell as tab-separated text), fields
// (their result shown, the instruction kept; hyperlinks as anchors with their target), pictures (images
// with the RTF group they came from), paragraph and character styles (\sN, \csN, with the style sheet).
// What the document model cannot show is kept as the RTF group it was read from and written back where it
// stood: footnotes, hidden text, headers and footers, bookmarks, unknown destinations (at their place in
// the text, as objects of kOpaqueObjectType), and the document's own tables (style sheet, information,
// page styles: see writeRtf). What even that cannot keep is listed in ReadResult::losses.
//
// What makes a file unreadable (ok = false, the document left empty, never half of it): not RTF, groups
// nested deeper than the limit, more than one group left open at the end (a truncated file), \binN running
// past the end, too many paragraphs. What is only a warning (the text read is kept): the document's own
// closing brace missing, bytes after it (ignored, as other readers do, and noted in the log), fonts or
// colours past the limit, more table columns than the limit, unknown code pages.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextFormat>

class QTextDocument;

namespace rtf {

// Bounds that keep a hostile file from exhausting time or memory. Every one is checked while reading.
struct ReadLimits {
  int maxDepth = 1000;                  // group nesting
  int maxFonts = 4096;                  // font table entries
  int maxColors = 4096;                 // colour table entries
  int maxColumns = 256;                 // cells per table row
  qsizetype maxParagraphs = 4'000'000;  // paragraphs and table cells together
};

struct ReadResult {
  bool ok = false;
  QString error;         // why the file could not be read (ok == false); one sentence for a message box
  QStringList warnings;  // what was read with a loss (ok == true): a missing brace, unknown code pages, ...
  // What a save of the document cannot write back (nested tables, ...): one phrase each, for a question
  // before the save. Also kept with the document (documentLosses).
  QStringList losses;
};

// Properties of the formats the reader makes, for what the document model has no place of its own.
enum : int {
  kRawGroupProperty = QTextFormat::UserProperty + 0x5200,  // QByteArray: an RTF group as it was read
  kKeptKindProperty,       // int (KeptKind) of an object of kOpaqueObjectType
  kFieldIdsProperty,       // QVariantList of int: the fields a result belongs to, outermost first
  kFieldInstsProperty,     // QVariantList of QByteArray: their {\*\fldinst ...} groups as read
  kParaStyleProperty,      // int: a paragraph's \sN
  kCharStyleProperty,      // int: characters' \csN
  kFootnoteNumberProperty, // int: the number a footnote's mark shows
};
// Objects (U+FFFC) that stand for a kept group the document cannot show.
constexpr int kOpaqueObjectType = QTextFormat::UserObject + 0x52;
enum class KeptKind { Hidden = 0, Footnote = 1 };

// Makes the objects of kOpaqueObjectType take their place in doc's layout (footnotes show their mark, the
// rest takes no room). readRtf does this for the documents it fills; a document shown elsewhere (a view
// that gives it a new layout) calls it again.
void registerObjectHandlers(QTextDocument *doc);
// What saving the document as RTF would lose (see ReadResult::losses); forgetLosses after a save.
QStringList documentLosses(const QTextDocument *doc);
void forgetLosses(QTextDocument *doc);

// True when the bytes start like RTF ("{\rtf", after white space): tells an RTF file from plain text.
bool looksLikeRtf(const QByteArray &bytes);

// Replaces the document's content with the RTF's. On failure the document is left empty. The undo stack is
// not filled (undo is off while reading and restored after, which clears its stack); the modified flag is
// left to the caller.
ReadResult readRtf(const QByteArray &rtf, QTextDocument *doc, const ReadLimits &limits = {});
// readRtf on a file's bytes; a file that cannot be opened is an error too.
ReadResult readRtfFile(const QString &path, QTextDocument *doc, const ReadLimits &limits = {});

// The document as RTF: the character set of the file it was read from (else \ansicpg1252), non-ASCII as \uN
// with a code page 1252 or "?" fallback, the font and colour tables it was read with (their numbers kept, so
// kept groups still name the right fonts) and the ones it gained, the kept style sheet and other document
// tables, paragraphs with alignment, direction, style and indents in twips, lists in a list table, tables as
// rows, fields with their kept instruction, pictures and kept groups as they were read.
QByteArray writeRtf(const QTextDocument *doc);
// writeRtf through a temporary file and a rename (platform::saveFileKeepingAttributes: owner, mode and links
// stay): a failed save leaves the old file whole. False with a message in *error when it fails.
bool writeRtfFile(const QString &path, const QTextDocument *doc, QString *error = nullptr);

// Text of bytes in a Windows code page (874, 1250-1258, 437, 850, 866, 10000 Mac Roman built in; others
// through the Qt build's codecs when it has them). Unknown code pages decode as 1252 and return false.
bool decodeCodePage(int codePage, const QByteArray &bytes, QString *out);

// Layout units (see above) from twips and back.
constexpr double kTwipsPerUnit = 15.0;

}  // namespace rtf
