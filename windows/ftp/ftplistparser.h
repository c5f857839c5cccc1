#pragma once
// Turns the lines of a LIST reply (Unix "ls -l" style or DOS style) into remote directory entries.
#include <QString>
#include <QStringList>
#include <vector>

struct TFtpDirEntry {
    bool directory = false;
    QString name;
    QString size;  // as the server wrote it (DOS: the fixed 9-character column, leading blanks kept)
    QString date;  // Unix: "Mon day time-or-year" with single blanks; DOS: "mm-dd-yy hh:mmAM"
};

// One listing line. `unixListing` is read and updated: once a line is read in the Unix layout,
// later lines are too. Returns false when the line yields no name (it is then skipped).
// Positions past the end of a short line count as non-blank, so a short line is never taken for
// the fixed-column DOS layout (which needs at least 40 characters to hold a name).
bool ParseDirEntry(const QString &line, bool &unixListing, TFtpDirEntry &entry);

// Every line of at least 20 characters, in order (shorter ones, such as "total 12", are skipped).
std::vector<TFtpDirEntry> ParseDirLines(const QStringList &lines, bool &unixListing);

// Reads a saved listing file (CR LF or LF line ends; UTF-8, else Latin-1 per line).
// Returns false when the file cannot be opened.
bool ReadListingFile(const QString &path, QStringList &lines);
