#include "app/tarn.h"
#include "app/layouts.h"
#include "windows/rich/richform.h"
#include "windows/image/imgform.h"
#include "viewers/imagestab.h"
#include "viewers/mediatab.h"
#include "viewers/officetab.h"
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include "app/browserpair.h"
#include "browser/panerules.h"
#include "controls/dirlabel.h"
#include "controls/tledit.h"
#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftppanel.h"
#include "windows/hex/hexform.h"
#include "windows/calc/calculator.h"
#include "zip/ziptab.h"
#include "viewers/editorhost.h"
#include "viewers/editortab.h"
#include "viewers/htmlhost.h"
#include "viewers/htmltab.h"
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/volumes.h"

namespace {
// Qt takes no key for an action that is not visible, but a menu item's key works whether or not the item
// is shown (Ctrl+S belongs to a hidden item). While the item is hidden a window shortcut stands in for it;
// while it is shown the stand-in is off, so a key never runs the item twice.
void keepKeyWhileHidden(QAction *a, QWidget *window) {
  auto *standIn = new QShortcut(a->shortcut(), window);
  standIn->setContext(Qt::WindowShortcut);
  standIn->setAutoRepeat(a->autoRepeat());
  const auto follow = [a, standIn] {
    standIn->setKey(a->shortcut());
    standIn->setEnabled(!a->isVisible());
  };
  follow();
  QObject::connect(a, &QAction::visibleChanged, standIn, follow);
  QObject::connect(a, &QAction::changed, standIn, follow);
  // trigger() leaves out an item that was disabled on purpose, as a shown item's key does.
  QObject::connect(standIn, &QShortcut::activated, a, &QAction::trigger);
}
}  // namespace

TTarn::TTarn(const QStringList &args, QWidget *parent)
    : QMainWindow(parent), layouts_(std::make_unique<TLayouts>(*this)), args_(args) {
  setObjectName(QStringLiteral("Tarn"));
  setWindowTitle(QStringLiteral("Tarnwick"));
  resize(710, 526);
  if (QScreen *s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
  buildPanes();
  buildViewers();
  buildToolBar();
  buildMenus();
  buildMediaTab();  // after the menus: it wires "Close M&ultiMedia"
  buildSecondPair();
  layouts_->wire();
  buildZipTab();
  auto *central = new QWidget(this);
  auto *lay = new QVBoxLayout(central);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(RxSplitter1);
  setCentralWidget(central);
  StatusBar1Panel = new QLabel(this);
  statusBar()->addWidget(StatusBar1Panel, 1);
  statusBar()->setSizeGripEnabled(true);
  statusBar()->installEventFilter(this);
  mounts_ = new platform::MountWatcher(this);
  connect(mounts_, &platform::MountWatcher::arrived, this, &TTarn::CDEvents1AfterArrival);
  connect(mounts_, &platform::MountWatcher::arrived, PTShellCombo1, &TPTShellCombo::reload);
  connect(mounts_, &platform::MountWatcher::removed, PTShellCombo1, &TPTShellCombo::reload);
  setUpFileCommands();
  setUpFavourites();
  setUpSystemCommands();
  qApp->installEventFilter(this);  // the window sees every key first
  setupFtp();
  // A screen reader names a button by its accessible name, which a button that shows only an icon lacks:
  // its hint names it.
  for (QToolButton *b : {DosBut, TreeBut, DualBut, Calculator, FindFiles, DeleteBtn, LargeIconsBtn, SmallIconsBtn, ListBtn,
                         DetailsBtn, NewDir, ShowProperties, MapDisk, DiscMap}) {
    b->setAccessibleName(b->toolTip());
    if (b->statusTip() != b->toolTip()) b->setAccessibleDescription(b->statusTip());
  }
  FormCreate();
}

// Qt would delete the child widgets only after this window's members (the host adapters among them) and
// after this class's part of the object is gone, while the panes still call back into it as they go (a
// list lays itself out once more and asks for its colours). So every child widget goes here, while the
// window is whole: the subsystem windows first, then the rest.
TTarn::~TTarn() {
  qApp->removeEventFilter(this);
  delete THexForm::instance();
  qDeleteAll(findChildren<TRichForm *>(QString(), Qt::FindDirectChildrenOnly));
  delete TTheCalculator::instance();
  deleteDbfWindows();
  delete FtpForm1;
  delete FtpPanel1;
  if (ZipTab && ZipTab->DirLabel1 == DirLabel1) DirLabel1 = nullptr;  // adopted by the page: it goes with it
  delete ZipTab;
  delete EditorTab;
  delete HtmlTab;
  delete ImagesTab;
  delete OfficeTab;
  delete MediaTab;
  qDeleteAll(findChildren<TImgForm *>(QString(), Qt::FindDirectChildrenOnly));
  StatusBar1Panel = nullptr;  // a widget that goes from under the mouse still sends its hint here
  QList<QPointer<QWidget>> widgets;
  for (QObject *c : children())
    if (c->isWidgetType()) widgets << static_cast<QWidget *>(c);
  for (const QPointer<QWidget> &w : widgets) delete w.data();
}

bool TTarn::checked(const QString &name) const {
  QAction *a = items_.value(name);
  return a && a->isChecked();
}

QAction *TTarn::addItem(QMenu *menu, const QString &name, const QString &caption, const QString &key,
                        std::function<void()> handler, bool checkable, bool checkedOnStart) {
  auto *a = new QAction(caption, this);
  a->setObjectName(name);
  if (!key.isEmpty()) {
    a->setShortcut(QKeySequence(key));
    a->setShortcutContext(Qt::WindowShortcut);
    keepKeyWhileHidden(a, this);
  }
  a->setCheckable(checkable);
  a->setChecked(checkedOnStart);
  // An item without a handler here is wired once by the app/tarn_*.cpp file of its subsystem.
  if (handler) connect(a, &QAction::triggered, this, [handler] { handler(); });
  if (menu) menu->addAction(a);
  addAction(a);  // shortcuts work while the menu bar is hidden too
  items_.insert(name, a);
  return a;
}

void TTarn::buildMenus() {
  QMenuBar *bar = menuBar();
  QMenu *file = fileMenu_ = bar->addMenu(QStringLiteral("&File"));
  QMenu *newMenu = file->addMenu(QStringLiteral("Ne&w"));
  newMenu->setObjectName(QStringLiteral("New1Submenu"));
  newMenu->menuAction()->setStatusTip(QStringLiteral("Contains commands for creating new items."));
  addItem(newMenu, "NewFolder1Mitm", "&Folder");
  addItem(newMenu, "RtfFile1", "&Rtf File");
  addItem(newMenu, "ZipFile1", "&Zip File");
  addItem(file, "Open3", "&Open");
  addItem(file, "Find2", "&Find...");
  addItem(file, "Copy1", "&Copy\tCtrl+C");
  addItem(file, "Move1", "Mo&ve\tCtrl+X");
  addItem(file, "Paste1", "&Paste\tCtrl+V");
  addItem(file, "SelectAll1", "Select &All", "Ctrl+A");
  addItem(file, "InvertSelection1", "&Invert Selection");
  addItem(file, "CreateShortcut1", "Create S&hortcut");
  addItem(file, "Delete1", "&Delete", "Shift+Del");
  addItem(file, "Rename1", "Rena&me", "F2");
  addItem(file, "Properties2", "P&roperties");
  addItem(file, "Refresh4", "R&efresh", {}, [this] { TreeRefreshMitmClick(); });
  addItem(file, "Run5", "Ru&n...");
  file->addSeparator();
  addItem(file, "CloseMitm", "&Exit", {}, [this] { CloseMitmClick(); });

  QMenu *editor = editorMenu_ = bar->addMenu(QStringLiteral("E&ditor"));
  QMenu *saveAs = editor->addMenu(QStringLiteral("&Save Files As"));
  saveAs->setObjectName(QStringLiteral("SaveFilesAs1"));
  addItem(saveAs, "MsDosWin1", "MsDos / &Win", "Shift+F1", [this] { EditorTab->MsDosWin1Click(); }, true, true);
  addItem(saveAs, "Mac1", "&Mac", "Shift+F2", [this] { EditorTab->Mac1Click(); }, true);
  addItem(saveAs, "Unix1", "&Unix", "Shift+F3", [this] { EditorTab->Unix1Click(); }, true);
  addItem(editor, "WordWrap", "&Word Wrap", "Ctrl+W", [this] {
    // The item has toggled its mark already; the tab wants the mark as it was.
    item("WordWrap")->setChecked(EditorTab->WordWrapClick(!checked("WordWrap")));
  }, true, true);
  addItem(editor, "SetTabValue1", "Set Tab Value", {}, [this] { EditorTab->SetTabValue1Click(); });
  QAction *fs2 = addItem(editor, "FullScreen2", "&Full Screen");
  fs2->setVisible(false);
  fs2->setEnabled(false);
  addItem(editor, "SaveFile1", "SaveFile", "Ctrl+S", [this] {
    // Ctrl+S saves the editor the user is typing in: the HTML source editor when it has the keys.
    if (HtmlTab && HtmlTab->LEdit2->hasFocus()) {
      if (HtmlTab->Save1->isEnabled()) HtmlTab->Save1->trigger();
      return;
    }
    EditorTab->SaveFile1Click();
  })->setVisible(false);

  QMenu *misc = miscMenu_ = bar->addMenu(QStringLiteral("&Misc"));
  misc->setObjectName(QStringLiteral("CustomDraw1"));
  addItem(misc, "AddToFavourites2", "Add  &Folder to Favourites");
  addItem(misc, "Highlightexecutables1", "&Highlight Executables / Zips", "Ctrl+E", [this] { Highlightexecutables1Click(); }, true);
  addItem(misc, "SelectaPathname1", "&Select a Pathname...", "Ctrl+P");

  QMenu *options = optionsMenu_ = bar->addMenu(QStringLiteral("&Options"));
  addItem(options, "AutoStart", "&Auto Start", {}, [this] { AutoStartClick(); }, true);
  // These options are their check marks, read where they matter; toggling is all their commands do.
  const auto markOnly = [] {};
  addItem(options, "Cbox4", "Disable &Viewers", "F8", markOnly, true);
  addItem(options, "DynamicRefresh1", "D&ynamic Refresh", {}, [this] { DynamicRefresh1Click(); }, true, true);
  addItem(options, "Cbox1", "&Run Exe or Associated program on dbl clk", "Ctrl+R", markOnly, true, true);
  addItem(options, "DiskSpace", "Show Correct Free &Disk Space", {}, [this] { updateSizePanels(); }, true);
  addItem(options, "ShowHiddenFiles1", "Show &Hidden Files", {}, [this] { ShowHiddenFiles1Click(); }, true, true);
  addItem(options, "Cbox2", "Start Tarnwick &Maximized", {}, markOnly, true, true);
  addItem(options, "ImageWindow", "Open Images in &Window", {}, markOnly, true);
  addItem(options, "Mp3Edit", "Edit Mp3 File &Tags", {}, markOnly, true);
  addItem(options, "Cbox5", "Hide File Window Status &Bar", "F7", {}, true);
  addItem(options, "SetStart1", "&Set Start up Directory");
  addItem(options, "Cbox3", "Save Settings on &Exit", {}, [this] { Cbox3Click(); }, true, true);
  addItem(options, "SaveNow1", "Save Settings &Now", {}, [this] { SaveNow1Click(); });

  QMenu *system = bar->addMenu(QStringLiteral("&System"));
  addItem(system, "EnterDosCommand1", "Enter &Dos Command", "F4");
  addItem(system, "Format1", "&Format 1.44Mb Diskette");
  addItem(system, "Run2", "&Run...");
  system->addSeparator();
  const QList<QPair<QString, QString>> sysItems = {
      {"AddRemovePrograms1", "Add / Remove Programs"}, {"DateTimeProperties1", "Date / Time Properties"},
      {"DisplayProperties1", "Display Properties"}, {"Explorer1", "Explorer"}, {"Fonts1", "Fonts"},
      {"InternationalSettings1", "International Settings"}, {"KeyboardProperties1", "Keyboard Properties"},
      {"ModemProperties1", "Modem Properties"}, {"MouseProperties1", "Mouse Properties"},
      {"NetworkSettings1", "Network Settings"}, {"Printers1", "Printers"},
      {"SystemInformation1", "System Information\t(Win98/NT)"}, {"SystemProperties1", "System Properties"}};
  for (const auto &[n, c] : sysItems) addItem(system, n, c);
  system->addSeparator();
  addItem(system, "ShutDown1", "Sh&ut Down");

  QMenu *tools = toolsMenu_ = bar->addMenu(QStringLiteral("&Tools"));
  addItem(tools, "Clear2", "&Clear All Internal Viewers", "Ctrl+F3", [this] { Viewers1Click(); });
  QMenu *edit4 = tools->addMenu(QStringLiteral("&Edit"));
  edit4->setObjectName(QStringLiteral("Edit4"));
  addItem(edit4, "EditDesktop1", "Des&ktop");
  addItem(edit4, "EditFavourites1", "&Favourites");
  addItem(edit4, "RegEdit1", "&Registry");
  addItem(edit4, "EditStartMenu1", "Start &Menu");
  addItem(edit4, "SysEdit1", "&System Files");
  QMenu *tarnwick = tarnwickMenu_ = tools->addMenu(QStringLiteral("Tarnw&ick"));
  tarnwick->setObjectName(QStringLiteral("Tarnwick1"));
  addItem(tarnwick, "Extensions1", "E&xtensions");
  addItem(tarnwick, "Favourites1", "&Favourites");
  addItem(tarnwick, "FtpProfiles1", "Ftp &Profiles");
  addItem(tarnwick, "HtmlHistory1", "&Html History");
  addItem(tools, "Calculator1", "Calcula&tor", {}, [this] { CalculatorClick(); });
  addItem(tools, "FtpClient1", "&Ftp Client");
  addItem(tools, "HexEditor1", "&Hex Editor", {}, [this] { HexEditor1Click(); });
  addItem(tools, "MsDosPrompt1", "&MsDos Prompt");
  addItem(tools, "ScanImage1", "Sca&n Image", {}, [this] { ScanImage1Click(); })
      ->setStatusTip(QStringLiteral("Scan an Image, when the image is saved, it will be opened up in the viewer"));
  addItem(tools, "Defrag1", "Defra&g");
  addItem(tools, "ScanDisk1", "&ScanDisk");
  addItem(tools, "DualFileManager1", "&Dual File Manager", "F9", {}, true);

  QMenu *view = viewMenu_ = bar->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1Submenu"));
  const char *viewNames[] = {"LargeIcons2Mitm", "Smallicons2Mitm", "List2Mitm", "Details2Mitm"};
  const char *viewCaps[] = {"Lar&ge icons", "S&mall icons", "&List", "&Details"};
  QAction *viewActs[4];
  for (int tag = 0; tag < 4; ++tag) {
    viewActs[tag] = addItem(nullptr, viewNames[tag], viewCaps[tag], {}, [this, tag] { ViewBtnClick(tag); }, true, tag == 3);
    viewActs[tag]->setData(tag);
    viewItems_ << viewActs[tag];
  }
  for (int tag : {3, 0, 2, 1}) view->addAction(viewActs[tag]);  // menu order: Details, Large, List, Small
  addItem(view, "ViewHtml", "&Html\tAlt+F2", {}, [this] { HtmlTab->ViewHtmlClick(); });
  item("ViewHtml")->setEnabled(false);
  item("ViewHtml")->setStatusTip(QStringLiteral("Toggle between the html viewer and editor"));
  addItem(view, "SystemFonts1", "&System Fonts", {}, [this] { SystemFonts1Click(); })->setStatusTip(QStringLiteral("Display the system fonts"));
  addItem(view, "Thumbnails1", "Thumb&nails", "Ctrl+T", [this] { Thumbnails1Click(); })
      ->setStatusTip(QStringLiteral("View thumbnails by using the image viewers open file dialog box"));
  addItem(view, "FileAtt", "File &Attributes\t(Win98/NT)", {}, [this] { FileAttClick(); }, true)
      ->setStatusTip(QStringLiteral("Display file attributes in file list"));
  addItem(view, "FullScreen1", "&Full Screen", "F6", {}, true);
  addItem(view, "Refresh1", "&Refresh", "F5", [this] { TreeRefreshMitmClick(); });
  addItem(view, "TreeView1", "&Tree/List View", "F11", {}, true);
  addItem(view, "Vertical", "&Vertical", "F12", {}, true);

  QMenu *help = helpMenu_ = bar->addMenu(QStringLiteral("He&lp"));
  addItem(help, "HelpTopics1", "&Help");
  addItem(help, "EMailAuthor", "E:Mail &Author");
  addItem(help, "TarnwickUpdate", "&Tarnwick Web Page");
  addItem(help, "About1", "&About");
  // Shown by the media tab and the FTP panel while they are in use.
  for (QAction *a : {addItem(nullptr, "CloseMultimedia1", "Close M&ultiMedia"), addItem(nullptr, "FtpClient2", "Ftp &Client")}) {
    bar->addAction(a);
    a->setVisible(false);
  }

  // The first list's pop-up menu.
  ListPopup = new QMenu(this);
  ListPopup->setObjectName(QStringLiteral("ListPopup"));
  const char *popNames[] = {"LargeIconsMitm", "SmallIconsMitm", "ListMitm", "DetailsMitm"};
  for (int tag = 0; tag < 4; ++tag) {
    QAction *a = addItem(ListPopup, popNames[tag], viewCaps[tag], {}, [this, tag] { ViewBtnClick(tag); }, true, tag == 3);
    a->setData(tag);
    viewItems_ << a;
  }
  ListPopup->addSeparator();
  addItem(ListPopup, "Paste2Mitm", "P&aste");
  QMenu *new2 = ListPopup->addMenu(QStringLiteral("Ne&w"));
  new2->setObjectName(QStringLiteral("New2Submenu"));
  new2->menuAction()->setStatusTip(QStringLiteral("Contains commands for creating new items."));
  addItem(new2, "NewFolder2Mitm", "&Folder");
  addItem(new2, "RtfFile2", "R&tf File");
  addItem(ListPopup, "SelectAll2", "Select &All");
  addItem(ListPopup, "AddToFavourites1", "Add Folder T&o Favourites");
  addItem(ListPopup, "ChangeFont", "Change &Font", {}, [this] { ChangeFontClick(); });
  addItem(ListPopup, "Columns1", "&Columns")->setEnabled(false);
  HideFolders1 = addItem(ListPopup, "HideFolders1", "&Hide Folders", {}, [this] { HideFolders1Click(); });
  addItem(ListPopup, "Properties1Mitm", "&Properties");
  addItem(ListPopup, "Refresh2", "R&efresh\tF5", {}, [this] { TreeRefreshMitmClick(); });
  addItem(ListPopup, "Run3", "&Run...");
  PTShellList1->setPopupMenu(ListPopup);

  // The mask combo's pop-up.
  RefreshEdit2 = new QMenu(this);
  RefreshEdit2->setObjectName(QStringLiteral("RefreshEdit2"));
  QAction *refreshExt = addItem(RefreshEdit2, "RefreshExt1", "&Refresh", {}, [this] { RefreshExt1Click(); });
  refreshExt->setStatusTip(QStringLiteral("Open the current Tarnwick.ext file"));
  addItem(RefreshEdit2, "Edit3", "&Edit", {}, [this] { Edit3Click(); });
  connect(RefreshEdit2, &QMenu::aboutToShow, this, [this] {
    const bool exists = QFileInfo::exists(maskListFile());
    item("RefreshExt1")->setEnabled(exists);
    item("Edit3")->setEnabled(exists);
  });
  applyStringTableCaptions();
}

void TTarn::applyStringTableCaptions() {
  struct Cap { const char *names[2]; const char *caption; const char *hint; };
  const Cap caps[] = {
      {{"Paste2Mitm", nullptr}, "&Paste", "Inserts the items you have copied or cut into the selected location."},
      {{"Properties1Mitm", nullptr}, "P&roperties", "Displays the properties of the selected items."},
      {{"LargeIconsMitm", "LargeIcons2Mitm"}, "Lar&ge Icons", "Displays items by using large icons."},
      {{"SmallIconsMitm", "Smallicons2Mitm"}, "S&mall Icons", "Displays items by using small icons."},
      {{"ListMitm", "List2Mitm"}, "&List", "Displays items in a list."},
      {{"DetailsMitm", "Details2Mitm"}, "&Details", "Displays information about each item in the window."},
      {{"NewFolder1Mitm", "NewFolder2Mitm"}, "&Folder", "Creates a new, empty folder."},
  };
  for (const Cap &c : caps)
    for (const char *n : c.names)
      if (n && items_.contains(n)) {
        items_[n]->setText(c.caption);
        items_[n]->setStatusTip(c.hint);
      }
  struct Hint { QToolButton *b; const char *shortHint; const char *longHint; };
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

void TTarn::buildToolBar() {
  PTGroup1 = addToolBar(QStringLiteral("PTGroup1"));
  PTGroup1->setObjectName(QStringLiteral("PTGroup1"));
  PTGroup1->setMovable(false);
  PTGroup1->setIconSize(QSize(20, 20));
  PTGroup1->setFixedHeight(31);
  auto button = [this](QToolButton *&b, const char *name, QStyle::StandardPixmap icon, const QString &hint,
                       std::function<void()> handler = {}) {
    b = new QToolButton(PTGroup1);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setAutoRaise(true);  // flat speed buttons
    b->setToolTip(hint);
    b->setStatusTip(hint);
    if (handler) connect(b, &QToolButton::clicked, this, [handler] { handler(); });
    PTGroup1->addWidget(b);
  };
  button(DosBut, "DosBut", QStyle::SP_ComputerIcon, "MsDos prompt");
  button(TreeBut, "TreeBut", QStyle::SP_FileDialogListView, "Tree list view");
  button(DualBut, "DualBut", QStyle::SP_FileDialogDetailedView, "Dual file manager");
  button(Calculator, "Calculator", QStyle::SP_DialogApplyButton, "Calculator", [this] { CalculatorClick(); });
  button(FindFiles, "FindFiles", QStyle::SP_FileDialogContentsView, "Find files or folders");
  button(DeleteBtn, "DeleteBtn", QStyle::SP_TrashIcon, "Delete selected file(s)");
  PTGroup1->addSeparator();
  const QStyle::StandardPixmap viewIcons[] = {QStyle::SP_DesktopIcon, QStyle::SP_FileDialogInfoView, QStyle::SP_FileDialogListView,
                                              QStyle::SP_FileDialogDetailedView};
  QToolButton **viewBtns[] = {&LargeIconsBtn, &SmallIconsBtn, &ListBtn, &DetailsBtn};
  const char *viewNames[] = {"LargeIconsBtn", "SmallIconsBtn", "ListBtn", "DetailsBtn"};
  for (int tag = 0; tag < 4; ++tag) {
    button(*viewBtns[tag], viewNames[tag], viewIcons[tag], QString(), [this, tag] { ViewBtnClick(tag); });
    (*viewBtns[tag])->setCheckable(true);
    (*viewBtns[tag])->setProperty("Tag", tag);
    viewButtons_ << *viewBtns[tag];
  }
  PTGroup1->addSeparator();
  button(NewDir, "NewDir", QStyle::SP_FileDialogNewFolder, "Create new folder");
  button(ShowProperties, "ShowProperties", QStyle::SP_MessageBoxInformation, "Display properties of selected items");
  button(MapDisk, "MapDisk", QStyle::SP_DriveNetIcon, "Map Network Drive");
  button(DiscMap, "DiscMap", QStyle::SP_DialogCloseButton, "Disconnect Net Drive");
  PTGroup1->addSeparator();
  Date1 = new QDateEdit(QDate::currentDate(), PTGroup1);
  Date1->setObjectName(QStringLiteral("Date1"));
  Date1->setCalendarPopup(true);
  Date1->setToolTip(QStringLiteral("Displays a pop up calendar"));
  Date1->setStatusTip(QStringLiteral("Displays a pop up calendar"));
  PTGroup1->addWidget(Date1);
  Edit2 = new QComboBox(PTGroup1);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setEditable(true);
  Edit2->setInsertPolicy(QComboBox::InsertAlphabetically);
  Edit2->setMaxVisibleItems(20);
  Edit2->setMinimumWidth(54);
  Edit2->setMaximumWidth(90);
  Edit2->addItems(browser::builtInMasks());
  Edit2->setToolTip(QStringLiteral("Select a file mask, or click right hand mouse button for options"));
  Edit2->setStatusTip(Edit2->toolTip());
  Edit2->setContextMenuPolicy(Qt::CustomContextMenu);
  Edit2->lineEdit()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Edit2->lineEdit(), &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
    RefreshEdit2->popup(Edit2->lineEdit()->mapToGlobal(p));
  });
  connect(Edit2, QOverload<int>::of(&QComboBox::activated), this, [this] { Edit2Click(); });
  connect(Edit2->lineEdit(), &QLineEdit::returnPressed, this, [this] { Edit2Click(); });
  PTGroup1->addWidget(Edit2);
  Hcb1 = new QComboBox(PTGroup1);
  Hcb1->setObjectName(QStringLiteral("Hcb1"));
  Hcb1->setMinimumWidth(120);
  // The combo takes the width the tool bar's other controls leave, so it follows the window.
  Hcb1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Hcb1->setToolTip(QStringLiteral("Favourite Folders, click to bring down list, right mouse click to edit"));
  Hcb1->setStatusTip(Hcb1->toolTip());
  PTGroup1->addWidget(Hcb1);
}

void TTarn::buildPanes() {
  RxSplitter1 = new QSplitter(Qt::Horizontal, this);
  RxSplitter1->setObjectName(QStringLiteral("RxSplitter1"));
  RxSplitter1->setHandleWidth(6);
  const TBrowserPair p = makeBrowserPair(
      RxSplitter1, {"PTSplitter1", "Panel4", "PTShellCombo1", "UpOneLevelBtn", "animate1", "PTShellTree1", "PTShellList1", "StatusBar2"});
  PTSplitter1 = p.splitter;
  Panel4 = p.header;
  PTShellCombo1 = p.combo;
  UpOneLevelBtn = p.up;
  animate1 = p.marker;
  PTShellTree1 = p.tree;
  PTShellList1 = p.list;
  StatusBar2 = p.status;
  for (int i = 0; i < 3; ++i) StatusBar2Panels[i] = p.panels[i];
  connect(UpOneLevelBtn, &QToolButton::clicked, this, &TTarn::UpOneLevelBtnClick);
  StatusBar2->installEventFilter(this);

  connect(PTShellTree1, &TPTShellTree::OnChange, this, &TTarn::PTShellTree1Change);
  connect(PTShellTree1, &TPTShellTree::OnMouseMove, this, &TTarn::PTShellList1MouseMove);
  connect(PTShellList1, &TPTShellList::OnChange, this, &TTarn::PTShellList1Change);
  connect(PTShellList1, &TPTShellList::OnFolderChanged, this, [this](const QString &folder) {
    if (!statusBarHidden()) StatusBar2Panels[0]->setText(browser::objectCountText(PTShellList1->itemCount()));
    // The tree holds no archive folders: the path box and title follow the list in and out of them.
    if (PTShellList1->inArchive() || folder == PTShellTree1->SelectedPath()) {
      if (DirLabel1) DirLabel1->setDirName(folder);
      if (!state.ZipAddMode) setTitle(browser::titleFor(folder));
    }
    if (PTShellList1->inArchive()) UpOneLevelBtn->setEnabled(true);
    else UpOneLevelBtn->setEnabled(PTShellTree1->hasSelectedNode() && PTShellTree1->selectedHasParent());
  });
  PTShellList1->OnEnterArchive = [this](const QString &) { return !state.ZipAddMode; };
  connect(PTShellList1, &TPTShellList::OnFillComplete, this, &TTarn::PTShellList1FillComplete);
  connect(PTShellList1, &TPTShellList::OnClick, this, &TTarn::PTShellList1Click);
  connect(PTShellList1, &TPTShellList::OnKeyUp, this, &TTarn::PTShellList1KeyUp);
  connect(PTShellList1, &TPTShellList::OnMouseMove, this, &TTarn::PTShellList1MouseMove);
  PTShellList1->OnDblClickOpen = [this](bool &handled) { PTShellList1DblClickOpen(handled); };
  wirePairList(PTShellList1, &HideFolders1);
}

void TTarn::buildViewers() {
  Panel1 = new QWidget(RxSplitter1);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  auto *stack = new QStackedLayout(Panel1);
  Panel1Caption = new QLabel(QStringLiteral("Viewers are Disabled"), Panel1);
  Panel1Caption->setAlignment(Qt::AlignCenter);
  Pc1 = new QTabWidget(Panel1);
  Pc1->setObjectName(QStringLiteral("Pc1"));
  auto page = [this](QWidget *&w, const char *name, const QString &caption) {
    w = new QWidget(Pc1);
    w->setObjectName(name);
    new QVBoxLayout(w);
    w->layout()->setContentsMargins(0, 0, 0, 0);
    Pc1->addTab(w, caption);
  };
  page(EditorCmd, "EditorCmd", QStringLiteral("Editor"));
  page(ImageCmd, "ImageCmd", QStringLiteral("Images"));
  page(HtmlCmd, "HtmlCmd", QStringLiteral("Html"));
  page(ZipManCmd, "ZipManCmd", QStringLiteral("Zip"));
  page(MediaCmd, "MediaCmd", QStringLiteral("MultiMedia"));
  page(ExcelCmd, "ExcelCmd", QStringLiteral("Office97"));
  buildEditorTab();
  buildHtmlTab();
  buildImagesTab();
  connect(Pc1, &QTabWidget::currentChanged, this, &TTarn::Pc1Change);
  buildOfficeTab();  // also the Word97/Word95 choice of its pop-up menu
  stack->addWidget(Pc1);
  stack->addWidget(Panel1Caption);
  FtpPanel = new QWidget(Panel1);
  FtpPanel->setObjectName(QStringLiteral("FtpPanel"));
  FtpPanel->hide();
  DirLabel1 = new TDirLabel(this);
  DirLabel1->setObjectName(QStringLiteral("DirLabel1"));
  DirLabel1->hide();  // lives on the zip extract panel
  RxSplitter1->addWidget(PTSplitter1);
  RxSplitter1->addWidget(Panel1);
  RxSplitter1->setStretchFactor(0, 0);
  RxSplitter1->setStretchFactor(1, 1);
  RxSplitter1->setCollapsible(0, false);
  RxSplitter1->setSizes({312, 392});
  setAcceptDrops(true);
}
