#pragma once
// The browser panes' small rules, kept apart from widgets so they can be checked on their own.
#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>

namespace browser {

// The list's option set for the two menu options.
int listOptionsValue(bool dynamicRefresh, bool showHidden);

// Colour for a highlighted name (executables blue, zips green), or nothing for other names.
std::optional<QColor> highlightColor(const QString &fileName);

// "Tarnwick - " followed by the folder or file.
QString titleFor(const QString &path);

// The object count text of the list's status bar.
QString objectCountText(int count);

struct HintState {
  bool ftpPanelVisible = false;
  bool treeListView = false;
  bool viewersDisabled = false;
  bool runOnDoubleClick = true;
};
// Hint of the first list by state; the second list's hint is derived by secondListHint.
QString firstListHint(const HintState &s);
QString secondListHint(const HintState &s);

// Built-in entries of the file mask combo.
QStringList builtInMasks();

// The mask list file's load rule: sorted without regard to case, "*" first, the first sorted entry dropped,
// adjacent duplicates dropped. Returns the combo's new entries (also what is written back).
QStringList masksFromFileLines(const QStringList &lines);

// Loads or creates the mask list file. When it does not exist, the current entries are written to it and
// returned unchanged; otherwise the file's entries are loaded by the rule above and written back.
// Returns false with an error text when the file cannot be written.
bool refreshMaskListFile(const QString &file, QStringList &entries, QString *error = nullptr);

}  // namespace browser
