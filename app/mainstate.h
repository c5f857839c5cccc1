#pragma once
// The main window's process-wide state shared by the browser, the viewers and the tools.
#include <QString>

struct TMainState {
  QString CurrentFile;    // full path of the file last picked, dropped or opened
  QString CurrentName;    // its name with extension
  QString CurrentExt;     // lower-case extension with its leading dot; empty when none
  QString CurrentFolder;  // folder of the tree used last
  QString StartFolder;    // start-up folder ("StartDir")
  QString TempFolder;     // the system's temporary folder
  bool ZipAddMode = false;
  bool SpaceViewRequest = false;
  bool HighlightExecutables = false;
  int CurrentViewStyle = 3;  // 0 large icons, 1 small icons, 2 list, 3 details
};
