#include "windows/ftp/ftplistparser.h"

#include <QFile>

#include "windows/ftp/ftpcli.h"

namespace {

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

// 1-based position; past the end counts as non-blank (see the header).
bool blankAt(const QString &s, int pos) { return pos >= 1 && pos <= s.size() && isBlank(s[pos - 1]); }

void parseUnix(const QString &line, TFtpDirEntry &e)
{
    const int n = int(line.size());
    const QChar first = n > 0 ? line[0].toLower() : QChar();
    e.directory = first == QLatin1Char('d');
    QString fields[8];
    int i = 0;
    for (int f = 0; f < 8; ++f) {
        while (i < n && isBlank(line[i]))
            ++i;
        const int start = i;
        while (i < n && !isBlank(line[i]))
            ++i;
        fields[f] = line.mid(start, i - start);
    }
    while (i < n && isBlank(line[i]))
        ++i;
    e.name = line.mid(i);
    e.size = fields[4];
    QStringList date;
    for (int f = 5; f < 8; ++f)
        if (!fields[f].isEmpty())
            date << fields[f];
    e.date = date.join(QLatin1Char(' '));
    // A link without a dot in its name is most likely a link to a directory.
    if (first == QLatin1Char('l') && !e.name.contains(QLatin1Char('.')))
        e.directory = true;
    if (e.directory && e.name.size() > 4) {
        const int arrow = int(e.name.indexOf(QLatin1String(" ->"), 1));
        if (arrow > 0)
            e.name.truncate(arrow);
    }
}

void parseDos(const QString &line, TFtpDirEntry &e)
{
    e.directory = line.contains(QLatin1String("<DIR>"));
    e.date = line.mid(0, 8) + QLatin1Char(' ') + line.mid(10, 7);
    e.size = line.mid(29, 9);
    e.name = line.mid(39);
}

} // namespace

bool ParseDirEntry(const QString &line, bool &unixListing, TFtpDirEntry &entry)
{
    entry = TFtpDirEntry();
    const QChar first = line.isEmpty() ? QChar() : line[0];
    if (unixListing || !blankAt(line, 29) || !blankAt(line, 39) || first == QLatin1Char('d')
        || first == QLatin1Char('-') || first == QLatin1Char('s')) {
        unixListing = true;
        parseUnix(line, entry);
    } else {
        unixListing = false;
        parseDos(line, entry);
    }
    return !entry.name.trimmed().isEmpty();
}

std::vector<TFtpDirEntry> ParseDirLines(const QStringList &lines, bool &unixListing)
{
    std::vector<TFtpDirEntry> out;
    for (const QString &l : lines) {
        if (l.size() < 20)
            continue;
        TFtpDirEntry e;
        if (ParseDirEntry(l, unixListing, e))
            out.push_back(std::move(e));
    }
    return out;
}

bool ReadListingFile(const QString &path, QStringList &lines)
{
    lines.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = f.readAll();
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        QByteArray raw = all.mid(start, end - start);
        if (raw.endsWith('\r'))
            raw.chop(1);
        lines << FtpDecodeLine(raw);
        start = end + 1;
    }
    return true;
}
