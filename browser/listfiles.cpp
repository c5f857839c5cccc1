#include "browser/listfiles.h"
#include "platform/savefile.h"
#include <QFile>
#include <algorithm>

namespace browser {

QList<QByteArray> splitListLines(const QByteArray &data) {
  QList<QByteArray> out;
  qsizetype start = 0;
  const qsizetype n = data.size();
  auto take = [&](qsizetype end) {
    const QByteArray line = data.mid(start, end - start);
    if (!line.trimmed().isEmpty()) out << line;
  };
  for (qsizetype i = 0; i < n; ++i) {
    const char c = data[i];
    if (c != '\n' && c != '\r') continue;
    take(i);
    if (c == '\r' && i + 1 < n && data[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < n) take(n);
  return out;
}

QByteArray joinListLines(const QList<QByteArray> &lines) {
  QByteArray out;
  for (const QByteArray &l : lines) out += l + "\r\n";
  return out;
}

ListEntry entryFromBytes(const QByteArray &raw) { return {raw, QFile::decodeName(raw)}; }

ListEntry entryFromText(const QString &text) { return {QFile::encodeName(text), text}; }

bool readListFile(const QString &file, QList<ListEntry> &entries, QString *error) {
  entries.clear();
  QFile f(file);
  if (!f.exists()) return true;
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = f.errorString();
    return false;
  }
  const QByteArray data = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    if (error) *error = f.errorString();
    return false;
  }
  for (const QByteArray &l : splitListLines(data)) entries << entryFromBytes(l);
  return true;
}

QStringList entryTexts(const QList<ListEntry> &entries) {
  QStringList out;
  for (const ListEntry &e : entries) out << e.text;
  return out;
}

bool writeListFile(const QString &file, const QList<QByteArray> &lines, QString *error) {
  return platform::saveFileAtomically(file, joinListLines(lines), error);
}

bool writeListFile(const QString &file, const QList<ListEntry> &entries, QString *error) {
  QList<QByteArray> lines;
  for (const ListEntry &e : entries) lines << e.raw;
  return writeListFile(file, lines, error);
}

bool favouriteLessThan(const QString &a, const QString &b) {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

bool addFavourite(QList<ListEntry> &entries, const QString &path) {
  if (path.isEmpty()) return false;
  for (const ListEntry &e : entries)
    if (e.text == path) return false;
  entries << entryFromText(path);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ListEntry &a, const ListEntry &b) { return favouriteLessThan(a.text, b.text); });
  return true;
}

}  // namespace browser
