#include "browser/panerules.h"
#include <QFile>
#include <QHash>
#include <algorithm>
#include "browser/listfiles.h"
#include "controls/shelllist.h"

namespace browser {

int listOptionsValue(bool dynamicRefresh, bool showHidden) {
  int v = ptsloAutoFill | ptsloNonFilesystemAncestors | ptsloDefaultKeyHandling | ptsloContextMenus | ptsloOleDrag |
          ptsloOleDrop | ptsloFolderContextMenu;
  if (dynamicRefresh) v |= ptsloDynamicRefresh;
  if (showHidden) v |= ptsloShowHidden;
  return v;
}

std::optional<QColor> highlightColor(const QString &fileName) {
  const int dot = fileName.lastIndexOf('.');
  if (dot < 0) return std::nullopt;
  const QString ext = fileName.mid(dot).toLower();
  if (ext == QLatin1String(".zip")) return QColor(0, 128, 0);
  if (ext == QLatin1String(".exe") || ext == QLatin1String(".com") || ext == QLatin1String(".bat") || ext == QLatin1String(".pif"))
    return QColor(0, 0, 255);
  return std::nullopt;
}

QString titleFor(const QString &path) { return QStringLiteral("Tarnwick - ") + path; }

QString objectCountText(int count) { return QString::number(count) + QStringLiteral(" Object(s)"); }

QString firstListHint(const HintState &s) {
  if (s.ftpPanelVisible) return QStringLiteral("Select multiple files and drag across for uploading to server ...");
  if (s.treeListView) return QStringLiteral("Double click to execute or run associated program, Right hand mouse button for menu options ...");
  if (s.viewersDisabled)
    return s.runOnDoubleClick ? QStringLiteral("Double click to execute or run associated program, Right hand mouse button for menu options ...")
                              : QStringLiteral("Right hand mouse button for menu options ...");
  return s.runOnDoubleClick
             ? QStringLiteral("Single click filename to view, Double click to execute or run associated program, Right hand mouse button for menu options ...")
             : QStringLiteral("Single click filename to view, Right hand mouse button for menu options ...");
}

QString secondListHint(const HintState &s) {
  if (s.ftpPanelVisible || s.treeListView) return QString();  // left as it was in those states
  return firstListHint(s) + QStringLiteral("when a file / folder is selected");
}

QStringList builtInMasks() {
  return {"*", "*.bat", "*.bmp", "*.exe", "*.gif", "*.htm", "*.html", "*.ini", "*.jpeg", "*.jpg", "*.png", "*.rtf", "*.txt", "*.xls", "*.zip"};
}

// The bytes to write for each entry: a mask read from the file keeps the bytes it had there.
static QList<QByteArray> entryLines(const QStringList &entries, const QList<ListEntry> &read) {
  QHash<QString, QByteArray> rawOf;
  for (const ListEntry &e : read) rawOf.insert(e.text, e.raw);
  QList<QByteArray> out;
  for (const QString &t : entries) out << rawOf.value(t, QFile::encodeName(t));
  return out;
}

QStringList masksFromFileLines(const QStringList &lines) {
  QStringList sorted = lines;
  std::stable_sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  QStringList out{QStringLiteral("*")};
  for (int i = 1; i < sorted.size(); ++i)
    if (sorted[i] != sorted[i - 1]) out << sorted[i];
  return out;
}

bool refreshMaskListFile(const QString &file, QStringList &entries, QString *error) {
  if (!QFile::exists(file)) return writeListFile(file, entryLines(entries, {}), error);
  QList<ListEntry> read;
  if (!readListFile(file, read, error)) return false;  // an unreadable list is left alone, never overwritten
  entries = masksFromFileLines(entryTexts(read));
  return writeListFile(file, entryLines(entries, read), error);
}

}  // namespace browser
