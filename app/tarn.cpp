#include "app/tarn.h"
#include "app/layouts.h"
#include "windows/checksums/checksumform.h"
#include "windows/rename/renameform.h"
#include "windows/compare/compareform.h"
#include "browser/filecommands.h"
#include "windows/ftp/ftphost.h"
#include "windows/hex/hexhost.h"
#include "windows/rich/richhost.h"
#include "windows/image/imghost.h"
#include "windows/scan/scanhost.h"
#include "viewers/imageshost.h"
#include "viewers/officehost.h"
#include "viewers/mediahost.h"
#include "viewers/markdownhost.h"
#include "windows/calc/calchost.h"
#include "windows/mp3/mp3host.h"
#include "windows/dbview/dbfhost.h"
#include "zip/ziphost.h"
#include "windows/rich/richform.h"
#include "windows/image/imgform.h"
#include "viewers/imagestab.h"
#include "viewers/mediatab.h"
#include "viewers/officetab.h"
#include "viewers/pdftab.h"
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
  TPdfTab::addPreviewMaker();  // the lists' previews of PDFs, whether or not the tab was ever shown
  buildToolBar();
  buildMenus();
  buildMediaTab();  // after the menus: it wires "Close M&ultiMedia"
  buildSecondPair();
  layouts_->wire();
  wireFolderTabs();
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
  for (QToolButton *b : {DosBut, TreeBut, DualBut, Calculator, FindFiles, DeleteBtn, LargeIconsBtn, SmallIconsBtn,
                         ListBtn, DetailsBtn, NewDir, ShowProperties, MapDisk, DiscMap}) {
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
  deleteFontsWindow();
  qDeleteAll(findChildren<TChecksumForm *>(QString(), Qt::FindDirectChildrenOnly));
  qDeleteAll(findChildren<TRenameForm *>(QString(), Qt::FindDirectChildrenOnly));
  qDeleteAll(findChildren<TCompareForm *>(QString(), Qt::FindDirectChildrenOnly));
  delete FtpForm1;
  delete FtpPanel1;
  if (ZipTab && ZipTab->DirLabel1 == DirLabel1) DirLabel1 = nullptr;  // adopted by the page: it goes with it
  delete ZipTab;
  delete EditorTab;
  delete HtmlTab;
  delete ImagesTab;
  delete OfficeTab;
  delete MediaTab;
  delete PdfTab;
  // The page goes with its tab: a page whose focused child was deleted alone keeps a dangling pointer to it
  // (Qt's focus_child), which the tool bar's teardown below would then follow.
  delete MarkdownCmd;
  MarkdownTab = nullptr;
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
  const QStyle::StandardPixmap viewIcons[] = {QStyle::SP_DesktopIcon, QStyle::SP_FileDialogInfoView,
                                              QStyle::SP_FileDialogListView, QStyle::SP_FileDialogDetailedView};
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
  connect(Edit2->lineEdit(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { RefreshEdit2->popup(Edit2->lineEdit()->mapToGlobal(p)); });
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
  const TBrowserPair p =
      makeBrowserPair(RxSplitter1, {"PTSplitter1", "Panel4", "PTShellCombo1", "UpOneLevelBtn", "animate1",
                                    "PTShellTree1", "PTShellList1", "StatusBar2", "FolderTabs1"});
  PTSplitter1 = p.splitter;
  Panel4 = p.header;
  PTShellCombo1 = p.combo;
  UpOneLevelBtn = p.up;
  animate1 = p.marker;
  PTShellTree1 = p.tree;
  PTShellList1 = p.list;
  FolderTabs1 = p.tabs;
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
    if (PTShellList1->inArchive())
      UpOneLevelBtn->setEnabled(true);
    else
      UpOneLevelBtn->setEnabled(PTShellTree1->hasSelectedNode() && PTShellTree1->selectedHasParent());
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
