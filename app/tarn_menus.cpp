// The main window's menus: one table says what each menu holds (names, captions, keys, marks, hints), in
// the order shown; buildMenus makes it and then connects the items the frame handles itself. Items of a
// subsystem are connected by the app/tarn_*.cpp file that wires it.
#include <QAction>
#include <QFileInfo>
#include <QMenuBar>
#include <QToolButton>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/tledit.h"
#include "viewers/editortab.h"
#include "viewers/htmltab.h"

void openCompareFolders(TTarn &main);  // app/tarn_compare.cpp

namespace {

enum Kind { Bar, Sub, Popup, End, Item, Sep };
enum Flag : unsigned { Checkable = 1, Checked = 2, Hidden = 4, Disabled = 8, OnBar = 16 };

// A menu (Bar, Sub, Popup) holds the rows up to its End. For a menu, `name` is its object name (empty when it
// has none) and `key` the name buildMenus knows it by; for an item, `key` is its shortcut.
struct Row {
  Kind kind;
  const char *name = "";
  const char *caption = "";
  const char *key = "";
  unsigned flags = 0;
  const char *hint = "";
};

constexpr const char *kNewHint = "Contains commands for creating new items.";

const Row kMenus[] = {
    {Bar, "", "&File", "file"},
    {Sub, "New1Submenu", "Ne&w", "", 0, kNewHint},
    {Item, "NewFolder1Mitm", "&Folder", "", 0, "Creates a new, empty folder."},
    {Item, "RtfFile1", "&Rtf File"},
    {Item, "ZipFile1", "&Zip File"},
    {End},
    {Item, "Open3", "&Open"},
    {Item, "Find2", "&Find..."},
    {Item, "Copy1", "&Copy\tCtrl+C"},
    {Item, "Move1", "Mo&ve\tCtrl+X"},
    {Item, "Paste1", "&Paste\tCtrl+V"},
    {Item, "UndoFiles1", "&Undo\tCtrl+Z", "", Disabled,
     "Takes back the last copy, move, rename, delete or new folder of the file lists."},
    {Item, "SelectAll1", "Select &All", "Ctrl+A"},
    {Item, "InvertSelection1", "&Invert Selection"},
    {Item, "CreateShortcut1", "Create S&hortcut"},
    {Item, "Delete1", "&Delete", "Shift+Del"},
    {Item, "Rename1", "Rena&me", "F2"},
    {Item, "RenameMany1", "Rename Man&y..."},
    {Item, "Properties2", "P&roperties"},
    {Item, "Checksums1", "Chec&ksums..."},
    {Item, "Refresh4", "R&efresh"},
    {Item, "Run5", "Ru&n..."},
    {Sep},
    {Item, "CloseMitm", "&Exit"},
    {End},

    {Bar, "", "E&ditor", "editor"},
    {Sub, "SaveFilesAs1", "&Save Files As"},
    {Item, "MsDosWin1", "MsDos / &Win", "Shift+F1", Checkable | Checked},
    {Item, "Mac1", "&Mac", "Shift+F2", Checkable},
    {Item, "Unix1", "&Unix", "Shift+F3", Checkable},
    {End},
    {Item, "WordWrap", "&Word Wrap", "Ctrl+W", Checkable | Checked},
    {Item, "SetTabValue1", "Set Tab Value"},
    {Item, "FullScreen2", "&Full Screen", "", Checkable | Hidden | Disabled},
    {Item, "SaveFile1", "SaveFile", "Ctrl+S", Hidden},
    {End},

    {Bar, "CustomDraw1", "&Misc", "misc"},
    {Item, "AddToFavourites2", "Add  &Folder to Favourites"},
    {Item, "Highlightexecutables1", "&Highlight Executables / Zips", "Ctrl+E", Checkable},
    {Item, "SelectaPathname1", "&Select a Pathname...", "Ctrl+P"},
    {End},

    {Bar, "", "&Options", "options"},
    {Item, "AutoStart", "&Auto Start", "", Checkable},
    {Item, "Cbox4", "Disable &Viewers", "F8", Checkable},
    {Item, "DynamicRefresh1", "D&ynamic Refresh", "", Checkable | Checked},
    {Item, "Cbox1", "&Run Exe or Associated program on dbl clk", "Ctrl+R", Checkable | Checked},
    {Item, "DiskSpace", "Show Correct Free &Disk Space", "", Checkable},
    {Item, "ShowHiddenFiles1", "Show &Hidden Files", "", Checkable | Checked},
    {Item, "Cbox2", "Start Tarnwick &Maximized", "", Checkable | Checked},
    {Item, "ImageWindow", "Open Images in &Window", "", Checkable},
    {Item, "Mp3Edit", "Edit Mp3 File &Tags", "", Checkable},
    {Item, "Cbox5", "Hide File Window Status &Bar", "F7", Checkable},
    {Item, "SetStart1", "&Set Start up Directory"},
    {Item, "Cbox3", "Save Settings on &Exit", "", Checkable | Checked},
    {Item, "SaveNow1", "Save Settings &Now"},
    {End},

    {Bar, "", "&System", "system"},
    {Item, "EnterDosCommand1", "Enter &Dos Command", "F4"},
    {Item, "Format1", "&Format 1.44Mb Diskette"},
    {Item, "Run2", "&Run..."},
    {Sep},
    {Item, "AddRemovePrograms1", "Add / Remove Programs"},
    {Item, "DateTimeProperties1", "Date / Time Properties"},
    {Item, "DisplayProperties1", "Display Properties"},
    {Item, "Explorer1", "Explorer"},
    {Item, "Fonts1", "Fonts"},
    {Item, "InternationalSettings1", "International Settings"},
    {Item, "KeyboardProperties1", "Keyboard Properties"},
    {Item, "ModemProperties1", "Modem Properties"},
    {Item, "MouseProperties1", "Mouse Properties"},
    {Item, "NetworkSettings1", "Network Settings"},
    {Item, "Printers1", "Printers"},
    {Item, "SystemInformation1", "System Information\t(Win98/NT)"},
    {Item, "SystemProperties1", "System Properties"},
    {Sep},
    {Item, "ShutDown1", "Sh&ut Down"},
    {End},

    {Bar, "", "&Tools", "tools"},
    {Item, "Clear2", "&Clear All Internal Viewers", "Ctrl+F3"},
    {Sub, "Edit4", "&Edit"},
    {Item, "EditDesktop1", "Des&ktop"},
    {Item, "EditFavourites1", "&Favourites"},
    {Item, "RegEdit1", "&Registry"},
    {Item, "EditStartMenu1", "Start &Menu"},
    {Item, "SysEdit1", "&System Files"},
    {End},
    {Sub, "Tarnwick1", "Tarnw&ick", "tarnwick"},
    {Item, "Extensions1", "E&xtensions"},
    {Item, "Favourites1", "&Favourites"},
    {Item, "FtpProfiles1", "Ftp &Profiles"},
    {Item, "HtmlHistory1", "&Html History"},
    {End},
    {Item, "Calculator1", "Calcula&tor"},
    {Item, "CompareFolders1", "C&ompare Folders...", "", 0, "Compares two folders and synchronises them."},
    {Item, "FtpClient1", "&Ftp Client"},
    {Item, "HexEditor1", "&Hex Editor"},
    {Item, "MsDosPrompt1", "&MsDos Prompt"},
    {Item, "ScanImage1", "Sca&n Image", "", 0,
     "Scan an Image, when the image is saved, it will be opened up in the viewer"},
    {Item, "Defrag1", "Defra&g"},
    {Item, "ScanDisk1", "&ScanDisk"},
    {Item, "DualFileManager1", "&Dual File Manager", "F9", Checkable},
    {End},

    {Bar, "View1Submenu", "&View", "view"},
    {Item, "Details2Mitm", "&Details", "", Checkable | Checked, "Displays information about each item in the window."},
    {Item, "LargeIcons2Mitm", "Lar&ge Icons", "", Checkable, "Displays items by using large icons."},
    {Item, "List2Mitm", "&List", "", Checkable, "Displays items in a list."},
    {Item, "Smallicons2Mitm", "S&mall Icons", "", Checkable, "Displays items by using small icons."},
    {Item, "ViewHtml", "&Html\tAlt+F2", "", Disabled, "Toggle between the html viewer and editor"},
    {Item, "SystemFonts1", "&System Fonts", "", 0, "Display the system fonts"},
    {Item, "Thumbnails1", "Thumb&nails", "Ctrl+T", 0,
     "View thumbnails by using the image viewers open file dialog box"},
    {Item, "FileAtt", "File &Attributes\t(Win98/NT)", "", Checkable, "Display file attributes in file list"},
    {Item, "FullScreen1", "&Full Screen", "F6", Checkable},
    {Item, "Refresh1", "&Refresh", "F5"},
    {Item, "TreeView1", "&Tree/List View", "F11", Checkable},
    {Item, "Vertical", "&Vertical", "F12"},  // its caption says which arrangement it gives
    {Item, "ShowPreviews1", "Sho&w Previews", "", Checkable,
     "Shows pictures, PDFs and videos as small previews in the file lists."},
    // Folder tabs of the active file list; the keys work while a file list or tree has the focus.
    {Sep},
    {Item, "NewTab1", "N&ew Tab", "Ctrl+Shift+T", 0, "Opens the folder in a new tab of the active file list."},
    {Item, "CloseTab1", "&Close Tab", "Ctrl+Shift+W", 0, "Closes the current tab; the last one stays."},
    {Item, "NextTab1", "Ne&xt Tab", "Ctrl+Tab"},
    {Item, "PreviousTab1", "&Previous Tab", "Ctrl+Shift+Tab"},
    {Item, "Back1", "&Back", "Alt+Left", 0, "Goes back to the folder shown before in this tab."},
    {Item, "Forward1", "F&orward", "Alt+Right"},
    {Item, "LockTab1", "Loc&k Tab", "", Checkable,
     "Keeps the current tab on its folder: folders opened from it open in new tabs."},
    {End},

    {Bar, "", "He&lp", "help"},
    {Item, "HelpTopics1", "&Help"},
    {Item, "EMailAuthor", "E:Mail &Author"},
    {Item, "TarnwickUpdate", "&Tarnwick Web Page"},
    {Item, "About1", "&About"},
    {End},
    // Shown on the menu bar by the media tab and the FTP panel while they are in use.
    {Item, "CloseMultimedia1", "Close M&ultiMedia", "", Hidden | OnBar},
    {Item, "FtpClient2", "Ftp &Client", "", Hidden | OnBar},

    // The first list's pop-up menu.
    {Popup, "ListPopup", "", "list"},
    {Item, "LargeIconsMitm", "Lar&ge Icons", "", Checkable, "Displays items by using large icons."},
    {Item, "SmallIconsMitm", "S&mall Icons", "", Checkable, "Displays items by using small icons."},
    {Item, "ListMitm", "&List", "", Checkable, "Displays items in a list."},
    {Item, "DetailsMitm", "&Details", "", Checkable | Checked, "Displays information about each item in the window."},
    {Sep},
    {Item, "Paste2Mitm", "&Paste", "", 0, "Inserts the items you have copied or cut into the selected location."},
    {Sub, "New2Submenu", "Ne&w", "", 0, kNewHint},
    {Item, "NewFolder2Mitm", "&Folder", "", 0, "Creates a new, empty folder."},
    {Item, "RtfFile2", "R&tf File"},
    {End},
    {Item, "SelectAll2", "Select &All"},
    {Item, "AddToFavourites1", "Add Folder T&o Favourites"},
    {Item, "ChangeFont", "Change &Font"},
    {Item, "Columns1", "&Columns", "", Disabled},
    {Item, "HideFolders1", "&Hide Folders"},
    {Item, "Properties1Mitm", "P&roperties", "", 0, "Displays the properties of the selected items."},
    {Item, "Checksums2", "Chec&ksums...", "", 0, "Makes or checks a checksum file (SHA256SUMS) of the selected items."},
    {Item, "Refresh2", "R&efresh\tF5"},
    {Item, "Run3", "&Run..."},
    {Item, "RenameMany2", "Rename Man&y...", "", 0, "Gives the selected files new names from a pattern."},
    {End},

    // The mask combo's pop-up.
    {Popup, "RefreshEdit2", "", "mask"},
    {Item, "RefreshExt1", "&Refresh", "", 0, "Open the current Tarnwick.ext file"},
    {Item, "Edit3", "&Edit"},
    {End},
};

}  // namespace

void TTarn::buildMenusFromTable() {
  QList<QMenu *> open;  // the menus being filled, innermost last
  for (const Row &r : kMenus) {
    QMenu *in = open.isEmpty() ? nullptr : open.last();
    switch (r.kind) {
      case Bar:
      case Sub:
      case Popup: {
        QMenu *m = r.kind == Bar   ? menuBar()->addMenu(QString::fromUtf8(r.caption))
                   : r.kind == Sub ? in->addMenu(QString::fromUtf8(r.caption))
                                   : new QMenu(this);
        if (*r.name) m->setObjectName(QString::fromUtf8(r.name));
        if (*r.hint) m->menuAction()->setStatusTip(QString::fromUtf8(r.hint));
        if (*r.key) menus_.insert(QString::fromUtf8(r.key), m);
        open << m;
        break;
      }
      case End: open.removeLast(); break;
      case Sep: in->addSeparator(); break;
      case Item: {
        QAction *a = addItem(in, QString::fromUtf8(r.name), QString::fromUtf8(r.caption), QString::fromUtf8(r.key), {},
                             r.flags & Checkable, r.flags & Checked);
        if (*r.hint) a->setStatusTip(QString::fromUtf8(r.hint));
        if (r.flags & OnBar) menuBar()->addAction(a);
        if (r.flags & Hidden) a->setVisible(false);
        if (r.flags & Disabled) a->setEnabled(false);
        break;
      }
    }
  }
}

void TTarn::buildMenus() {
  buildMenusFromTable();
  fileMenu_ = menus_.value("file");
  editorMenu_ = menus_.value("editor");
  miscMenu_ = menus_.value("misc");
  optionsMenu_ = menus_.value("options");
  toolsMenu_ = menus_.value("tools");
  viewMenu_ = menus_.value("view");
  helpMenu_ = menus_.value("help");
  tarnwickMenu_ = menus_.value("tarnwick");
  ListPopup = menus_.value("list");
  RefreshEdit2 = menus_.value("mask");
  HideFolders1 = item("HideFolders1");

  const auto on = [this](const char *name, std::function<void()> handler) {
    connect(item(name), &QAction::triggered, this, [handler] { handler(); });
  };
  for (const char *refresh : {"Refresh4", "Refresh1", "Refresh2"}) on(refresh, [this] { TreeRefreshMitmClick(); });
  on("CloseMitm", [this] { CloseMitmClick(); });
  on("MsDosWin1", [this] { EditorTab->MsDosWin1Click(); });
  on("Mac1", [this] { EditorTab->Mac1Click(); });
  on("Unix1", [this] { EditorTab->Unix1Click(); });
  on("WordWrap", [this] {
    // The item has toggled its mark already; the tab wants the mark as it was.
    item("WordWrap")->setChecked(EditorTab->WordWrapClick(!checked("WordWrap")));
  });
  on("SetTabValue1", [this] { EditorTab->SetTabValue1Click(); });
  on("SaveFile1", [this] {
    // Ctrl+S saves the editor the user is typing in: the HTML source editor when it has the keys.
    if (HtmlTab && HtmlTab->LEdit2->hasFocus()) {
      if (HtmlTab->Save1->isEnabled()) HtmlTab->Save1->trigger();
      return;
    }
    EditorTab->SaveFile1Click();
  });
  on("Highlightexecutables1", [this] { Highlightexecutables1Click(); });
  // Disable Viewers, Run on double click, Start Maximized and the image and MP3 options are their check
  // marks, read where they matter; toggling is all their commands do.
  on("AutoStart", [this] { AutoStartClick(); });
  on("DynamicRefresh1", [this] { DynamicRefresh1Click(); });
  on("DiskSpace", [this] { updateSizePanels(); });
  on("ShowHiddenFiles1", [this] { ShowHiddenFiles1Click(); });
  on("Cbox3", [this] { Cbox3Click(); });
  on("SaveNow1", [this] { SaveNow1Click(); });
  on("Clear2", [this] { Viewers1Click(); });
  on("Calculator1", [this] { CalculatorClick(); });
  on("HexEditor1", [this] { HexEditor1Click(); });
  on("ScanImage1", [this] { ScanImage1Click(); });
  on("ViewHtml", [this] { HtmlTab->ViewHtmlClick(); });
  on("SystemFonts1", [this] { SystemFonts1Click(); });
  on("Thumbnails1", [this] { Thumbnails1Click(); });
  on("FileAtt", [this] { FileAttClick(); });
  on("ShowPreviews1", [this] { ShowPreviews1Click(); });
  on("ChangeFont", [this] { ChangeFontClick(); });
  on("HideFolders1", [this] { HideFolders1Click(); });
  on("RefreshExt1", [this] { RefreshExt1Click(); });
  on("Edit3", [this] { Edit3Click(); });
  for (const char *sums : {"Checksums1", "Checksums2"}) on(sums, [this] { ChecksumsClick(); });
  for (const char *many : {"RenameMany1", "RenameMany2"}) on(many, [this] { RenameManyClick(); });
  on("CompareFolders1", [this] { openCompareFolders(*this); });

  // The view-style items of the menu and the first list's pop-up, tagged 0..3 as the tool buttons are.
  const char *views[2][4] = {{"LargeIcons2Mitm", "Smallicons2Mitm", "List2Mitm", "Details2Mitm"},
                             {"LargeIconsMitm", "SmallIconsMitm", "ListMitm", "DetailsMitm"}};
  for (const auto &names : views)
    for (int tag = 0; tag < 4; ++tag) {
      QAction *a = item(names[tag]);
      a->setData(tag);
      viewItems_ << a;
      on(names[tag], [this, tag] { ViewBtnClick(tag); });
    }
  PTShellList1->setPopupMenu(ListPopup);
  connect(RefreshEdit2, &QMenu::aboutToShow, this, [this] {
    const bool exists = QFileInfo::exists(maskListFile());
    item("RefreshExt1")->setEnabled(exists);
    item("Edit3")->setEnabled(exists);
  });

  struct Hint {
    QToolButton *b;
    const char *shortHint;
    const char *longHint;
  };
  const Hint hints[] = {
      {LargeIconsBtn, "Large Icons", "Displays items by using large icons."},
      {SmallIconsBtn, "Small Icons", "Displays items by using small icons."},
      {ListBtn, "List", "Displays items in a list."},
      {DetailsBtn, "Details", "Displays information about each item in the window."},
  };
  for (const Hint &h : hints) {
    h.b->setToolTip(h.shortHint);
    h.b->setStatusTip(h.longHint);
  }
}
