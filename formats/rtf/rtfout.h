#pragma once
// Plain text and comma-separated tables written as RTF, for converters whose program gives text.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace rtfout {

// Each line a paragraph; characters beyond ASCII as Unicode escapes.
QByteArray fromText(const QString &text);
// Sheets longer than this are written as tab-aligned lines instead of a table.
constexpr int kMaxTableRows = 2000;
// Comma-separated values (quotes doubled inside quoted fields, line breaks allowed there) as one RTF table
// row per record (tab-aligned lines beyond kMaxTableRows); skipFirst drops the first record.
QByteArray fromCsv(const QString &csv, bool skipFirst);
// One sheet of a workbook: its name and its cells as comma-separated values.
struct Sheet {
  QString name;
  QString csv;
};
// Every sheet in turn, each under its name in bold, then its cells as fromCsv writes them.
QByteArray fromSheets(const QList<Sheet> &sheets);
// The records of comma-separated text.
QVector<QStringList> parseCsv(const QString &csv);

}  // namespace rtfout
