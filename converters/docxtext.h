#pragma once
// The text of a Word 2007 (.docx) or OpenDocument (.odt) file, read from its zip container without any
// outside program: paragraphs as lines, tabs kept.
#include <QByteArray>
#include <QString>

namespace docxtext {

// One member of a zip archive in memory, stored or deflated, at most maxSize bytes once expanded.
bool zipMember(const QByteArray &zip, const QString &name, QByteArray *out, qint64 maxSize);
// The document's text; false with *why when it is no such document.
bool extract(const QString &file, QString *text, QString *why);

}  // namespace docxtext
