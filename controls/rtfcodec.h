#pragma once
// Reading RTF into a QTextDocument and writing a QTextDocument as RTF. Pure functions, no widgets.
//
// Units in the document model: indents and paragraph spacing are in Qt layout units, which are pixels at
// 96 dpi, so the document shows true sizes on screen: 1 unit = 15 twips = 3/4 point. Font sizes are points.
//
// What the reader keeps: text in every code page word processors write (\ansicpg, \fcharset, \'hh,
// \uN with its \ucN fallback), fonts, sizes, bold, italic, underline, strike-out, super/subscript, text and
// background colours, alignment, first-line/left/right indents, spacing before/after, tabs, line and page
// breaks, bullets and numbered lists (QTextList when the list text is a bullet, a number or a letter;
// otherwise the list text stays as text), tables (QTextTable, one row per \row; nested tables flattened into
// their cell as tab-separated text), field results (link texts). Pictures, objects (except their result),
// headers, footers, footnotes, style sheets, hidden text and unknown destinations are skipped.
//
// What makes a file unreadable (ok = false, the document left empty, never half of it): not RTF, groups
// nested deeper than the limit, more than one group left open at the end (a truncated file), text after
// the closing brace of the document (unbalanced braces: the rest would be dropped), \binN running past the
// end, too many paragraphs. What is only a warning (the text read is kept): the document's own closing
// brace missing, fonts or colours past the limit, more table columns than the limit, unknown code pages.
#include <QByteArray>
#include <QString>
#include <QStringList>

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
  QStringList warnings;  // what was read with a loss (ok == true): skipped pictures, a missing brace, ...
};

// True when the bytes start like RTF ("{\rtf", after white space): tells an RTF file from plain text.
bool looksLikeRtf(const QByteArray &bytes);

// Replaces the document's content with the RTF's. On failure the document is left empty. The undo stack is
// not filled (undo is off while reading and restored after, which clears its stack); the modified flag is
// left to the caller.
ReadResult readRtf(const QByteArray &rtf, QTextDocument *doc, const ReadLimits &limits = {});
// readRtf on a file's bytes; a file that cannot be opened is an error too.
ReadResult readRtfFile(const QString &path, QTextDocument *doc, const ReadLimits &limits = {});

// The document as RTF: \ansicpg1252, non-ASCII as \uN with a code page 1252 or "?" fallback, a font and a
// colour table, paragraphs with alignment and indents in twips, lists in a list table, tables as rows.
QByteArray writeRtf(const QTextDocument *doc);
// writeRtf through a temporary file and a rename: a failed save leaves the old file whole. False with a
// message in *error when it fails.
bool writeRtfFile(const QString &path, const QTextDocument *doc, QString *error = nullptr);

// Text of bytes in a Windows code page (874, 1250-1258, 437, 850, 866, 10000 Mac Roman built in; others
// through the Qt build's codecs when it has them). Unknown code pages decode as 1252 and return false.
bool decodeCodePage(int codePage, const QByteArray &bytes, QString *out);

// Layout units (see above) from twips and back.
constexpr double kTwipsPerUnit = 15.0;

}  // namespace rtf
