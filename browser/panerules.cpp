#include "browser/panerules.h"
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
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

static bool writeLines(const QString &file, const QStringList &lines, QString *error) {
  QSaveFile f(file);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
    if (error) *error = f.errorString();
    return false;
  }
  for (const QString &l : lines) f.write((l + '\n').toUtf8());
  if (!f.commit()) {
    if (error) *error = f.errorString();
    return false;
  }
  return true;
}

bool refreshMaskListFile(const QString &file, QStringList &entries, QString *error) {
  QFile in(file);
  if (!in.exists()) return writeLines(file, entries, error);
  if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
    if (error) *error = in.errorString();
    return false;  // an unreadable list is left alone, never overwritten
  }
  QStringList lines;
  while (!in.atEnd()) {
    QString l = QString::fromUtf8(in.readLine());
    while (l.endsWith('\n') || l.endsWith('\r')) l.chop(1);
    lines << l;
  }
  in.close();
  entries = masksFromFileLines(lines);
  return writeLines(file, entries, error);
}

}  // namespace browser
