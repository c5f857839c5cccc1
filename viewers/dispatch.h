#pragma once
// Picks the viewer for a file by its extension.
#include <QString>

namespace viewers {

enum class ViewerAction {
  Nothing,
  GetExcel,
  GetDBase,
  GetMp3,
  ShowHtml,
  ShowMultiMedia,
  ShowImages,
  ShowZip,
  ShowRtf,
  ShowPdf,
  ShowMarkdown,
  Editor
};

// The decision table; ext is lower case with its leading dot, or empty.
ViewerAction decideViewer(const QString &ext, bool mp3TagsOn);

// Extension of a name from its last dot, dot included, with the letters A to Z lower-cased; empty when none.
QString extensionOf(const QString &name);

// The current file's path from the tree's folder and the item's name ("/" already ends with the separator).
// The separator does not depend on which control has the focus: a path that silently fails to exist
// would only make a click show nothing.
QString currentFileFrom(const QString &folder, const QString &name);

const char *actionName(ViewerAction a);

}  // namespace viewers
