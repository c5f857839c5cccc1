#pragma once
// One browser pair's widgets: a header (drive combo, up button, active-pair marker), the folder tree above
// the file list with its tabs and status bar, in a splitter. The main window builds two of them: its own pair and
// the dual file manager's second pair; it wires each pair's events itself.
class QLabel;
class QSplitter;
class QStatusBar;
class QToolButton;
class QWidget;
class TPTShellCombo;
class TPTShellList;
class TPTShellTree;
class TFolderTabs;

struct TBrowserPairNames {
  const char *splitter, *header, *combo, *up, *marker, *tree, *list, *status, *tabs;
};

struct TBrowserPair {
  QSplitter *splitter = nullptr;
  QWidget *header = nullptr;
  TPTShellCombo *combo = nullptr;
  QToolButton *up = nullptr;
  QLabel *marker = nullptr;  // hidden until the dual file manager marks this pair active
  TPTShellTree *tree = nullptr;
  TFolderTabs *tabs = nullptr;  // above the list; shown once a second tab opens
  TPTShellList *list = nullptr;
  QStatusBar *status = nullptr;
  QLabel *panels[3] = {};  // object count, size of the listed files, free space
};

// Width of the drive combo in the normal layout.
constexpr int kDriveComboWidth = 180;

TBrowserPair makeBrowserPair(QWidget *parent, const TBrowserPairNames &names);
