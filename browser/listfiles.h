#pragma once
// The program's plain list files (favourites, HTML history, file masks): one entry a line.
// Reading takes any line end (CR LF, LF, CR), a missing last line end and blank lines; entries keep their
// bytes, so a rewrite leaves the entries nobody touched exactly as they were, whatever their encoding.
// Writing puts CR LF after every line and replaces the file only when the whole new one is on disk.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace browser {

struct ListEntry {
  QByteArray raw;  // the line's bytes as stored, without its line end
  QString text;    // what is shown
};

// The non-blank lines of a list file's contents.
QList<QByteArray> splitListLines(const QByteArray &data);
// Every line followed by CR LF.
QByteArray joinListLines(const QList<QByteArray> &lines);

// An entry for a line read from a file, and for a text the program made (a folder path, a mask).
ListEntry entryFromBytes(const QByteArray &raw);
ListEntry entryFromText(const QString &text);

// Reads a list file. A missing file is an empty list; a file that exists but cannot be read returns false
// with an error text.
bool readListFile(const QString &file, QList<ListEntry> &entries, QString *error = nullptr);
QStringList entryTexts(const QList<ListEntry> &entries);

// Writes the lines through a temporary file and a rename: on failure the previous file stays whole and the
// result is false with an error text.
bool writeListFile(const QString &file, const QList<QByteArray> &lines, QString *error = nullptr);
bool writeListFile(const QString &file, const QList<ListEntry> &entries, QString *error = nullptr);

// The order of the favourites combo: without regard to case first, then exactly, so the order is total.
bool favouriteLessThan(const QString &a, const QString &b);

// Adds a folder path to the favourites. An empty path or one already there (exact comparison: file names
// differ by case) leaves the entries alone and returns false. Otherwise the path is added as it is, the
// existing entries keep their bytes, and the result is sorted.
bool addFavourite(QList<ListEntry> &entries, const QString &path);

}  // namespace browser
