// The window's layouts (full screen, tree/list view, tree beside or above the list, 50/50) and the dual
// file manager with its second browser pair.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <cerrno>
#include <unistd.h>
#include "app/browserpair.h"
#include "app/tarn.h"
#include "browser/panerules.h"
#include "browser/sizetexts.h"
#include "controls/dirlabel.h"
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "viewers/dispatch.h"
#include "viewers/editortab.h"

namespace {
const QString kSplitHint = QStringLiteral("Double click to split windows 50/50");
const QString kFavHint = QStringLiteral("Favourite Folders, click to bring down list, right mouse click to edit");
const QString kFavHintDual = QStringLiteral("Favourite Folders, click to bring down list");
const QString kFirstListHint = QStringLiteral("Single click filename to view, Right hand mouse button for menu options ...");
constexpr int kTreeViewSplit = 230;     // tree beside list, filling the window
constexpr int kSideBySideSplit = 245;   // "Horizontal" arrangement of a pair
constexpr int kTreeAboveSplit = 120;    // "Vertical" arrangement of a pair

void enable(std::initializer_list<QAction *> items, bool on) {
  for (QAction *a : items)
    if (a) a->setEnabled(on);
}
void enable(std::initializer_list<QWidget *> widgets, bool on) {
  for (QWidget *w : widgets)
    if (w) w->setEnabled(on);
}
}  // namespace

bool TTarn::secondPairActive() const { return animate2 && !animate2->isHidden(); }

TPTShellTree *TTarn::activeTree() const { return secondPairActive() ? PTShellTree2 : PTShellTree1; }

TPTShellCombo *TTarn::activeCombo() const { return secondPairActive() ? PTShellCombo2 : PTShellCombo1; }

TPTShellList *TTarn::activeList() const { return secondPairActive() ? PTShellList2 : PTShellList1; }

bool TTarn::secondPairShown() const { return PTSplitter2 && !PTSplitter2->isHidden(); }

// ---- Building the second pair ----

void TTarn::wirePairList(TPTShellList *list, QAction *const *hideFolders) {
  list->setAddItemHook([hideFolders](const TShellItem &, uint attribs) {
    // "&Show Folders" on the pair's item means folders are hidden now.
    return !(*hideFolders && (*hideFolders)->text() == QLatin1String("&Show Folders") && (attribs & kShellAttrFolder));
  });
  list->OnCustomDrawSh = [this, list](int row, QFont &font, QColor &color) {
    if (!state.HighlightExecutables) return;
    if (auto c = browser::highlightColor(list->ItemFileName(row))) {
      font.setBold(true);
      color = *c;
    }
  };
}

void TTarn::buildSecondPair() {
  const TBrowserPair p = makeBrowserPair(
      RxSplitter1, {"PTSplitter2", "panel2", "PTShellCombo2", "UpLevel2", "animate2", "PTShellTree2", "PTShellList2", "StatusBar3"});
  PTSplitter2 = p.splitter;
  panel2 = p.header;
  PTShellCombo2 = p.combo;
  UpLevel2 = p.up;
  animate2 = p.marker;
  PTShellTree2 = p.tree;
  PTShellList2 = p.list;
  StatusBar3 = p.status;
  for (int i = 0; i < 3; ++i) StatusBar3Panels[i] = p.panels[i];
  RxSplitter1->insertWidget(2, PTSplitter2);
  RxSplitter1->setStretchFactor(2, 1);
  PTSplitter2->hide();
  PTSplitter2->setEnabled(false);
  PTShellList2->setStatusTip(
      QStringLiteral("Double click file to execute or run associated program, Right hand mouse button for menu options ..."));

  connect(PTShellTree2, &TPTShellTree::OnChange, this, &TTarn::PTShellTree2Change);
  connect(PTShellList2, &TPTShellList::OnChange, this, &TTarn::PTShellList2Change);
  connect(PTShellList2, &TPTShellList::OnFillComplete, this, &TTarn::PTShellList2FillComplete);
  connect(PTShellList2, &TPTShellList::OnClick, this, &TTarn::PTShellList2Click);
  connect(PTShellList2, &TPTShellList::OnKeyUp, this, [this](int key) {
    if (isArrowKey(key)) PTShellList2Click();
  });
  PTShellList2->OnDblClickOpen = [this](bool &handled) { PTShellList2DblClickOpen(handled); };
  wirePairList(PTShellList2, &HideFolders2);
  connect(UpLevel2, &QToolButton::clicked, this, &TTarn::UpLevel2Click);
  StatusBar3->installEventFilter(this);
  panel2->installEventFilter(this);
  Panel4->installEventFilter(this);

  // Interaction with a pair marks it active (first pair: 0, second: 1).
  connect(PTShellTree1, &TPTShellTree::OnMouseDown, this, [this] { markActivePair(0); });
  connect(PTShellList1, &TPTShellList::OnMouseDown, this, [this] { markActivePair(0); });
  connect(PTShellCombo1, &TPTShellCombo::OnEnter, this, [this] { markActivePair(0); });
  connect(ListPopup, &QMenu::aboutToShow, this, [this] { markActivePair(0); });
  connect(PTShellTree2, &TPTShellTree::OnMouseDown, this, [this] { markActivePair(1); });
  connect(PTShellList2, &TPTShellList::OnMouseDown, this, [this] { markActivePair(1); });
  connect(PTShellCombo2, &TPTShellCombo::OnEnter, this, [this] { markActivePair(1); });
  const auto titleFromTree = [this](int pair) {
    if (!secondPairShown()) return;
    setTitle(browser::titleFor((pair ? PTShellTree2 : PTShellTree1)->SelectedPath()));
  };
  connect(PTShellList1, &TPTShellList::OnColumnClick, this, [this, titleFromTree] { markActivePair(0); titleFromTree(0); });
  connect(PTShellList2, &TPTShellList::OnColumnClick, this, [this, titleFromTree] { markActivePair(1); titleFromTree(1); });
  connect(PTShellTree1, &TPTShellTree::OnClick, this, [titleFromTree] { titleFromTree(0); });
  connect(PTShellTree2, &TPTShellTree::OnClick, this, [titleFromTree] { titleFromTree(1); });

  // Dropping either pair's split bar gives the other pair the same split.
  connect(PTSplitter1, &QSplitter::splitterMoved, this, [this](int pos) {
    if (treeView_) {
      // Tree/list view: the drive combo follows the split bar.
      PTShellCombo1->setFixedWidth(qMax(60, pos - 50));
      return;
    }
    if (secondPairShown() && PTSplitter2->orientation() == PTSplitter1->orientation()) setPairStyle(PTSplitter2, PTSplitter2->orientation() == Qt::Horizontal, pos);
  });
  connect(PTSplitter2, &QSplitter::splitterMoved, this, [this](int pos) {
    if (PTSplitter1->orientation() == PTSplitter2->orientation()) setPairStyle(PTSplitter1, PTSplitter1->orientation() == Qt::Horizontal, pos);
  });

  // The second list's pop-up.
  ListPopUp2 = new QMenu(this);
  ListPopUp2->setObjectName(QStringLiteral("ListPopUp2"));
  const char *names[] = {"LargeIcons3", "SmallIcons3", "List3", "Details3"};
  const char *caps[] = {"Lar&ge icons", "S&mall icons", "&List", "&Details"};
  for (int tag = 0; tag < 4; ++tag) {
    QAction *a = addItem(ListPopUp2, names[tag], caps[tag], {}, [this, tag] { fDetailsBtnClick(tag); }, true, tag == 3);
    a->setData(tag);
    secondViewItems_ << a;
  }
  ListPopUp2->addSeparator();
  addItem(ListPopUp2, "Paste3", "P&aste");
  QMenu *new3 = ListPopUp2->addMenu(QStringLiteral("Ne&w"));
  new3->setObjectName(QStringLiteral("New3Submenu"));
  addItem(new3, "Lpopup2NewFolder", "&Folder");
  addItem(new3, "RtfFile3", "&Rtf File");
  addItem(ListPopUp2, "SelectAll3", "Select &All");
  addItem(ListPopUp2, "AddFolderToFavourites1", "Add Folder T&o Favourites");
  addItem(ListPopUp2, "ChangeFont2", "Change &Font", {}, [this] {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, PTShellList2->font(), this);
    if (ok) PTShellList2->setFont(f);
  });
  addItem(ListPopUp2, "Columns2", "&Columns", {}, [this] { Columns1Click(1); })
      ->setStatusTip(QStringLiteral("Make column widths the same as the first file window"));
  HideFolders2 = addItem(ListPopUp2, "HideFolders2", "&Hide Folders", {}, [this] { HideFolders2Click(); });
  addItem(ListPopUp2, "Properties3", "&Properties");
  addItem(ListPopUp2, "Refresh3", "&Refresh\tF5", {}, [this] { TreeRefreshMitmClick(); });
  addItem(ListPopUp2, "Run4", "Ru&n...");
  connect(ListPopUp2, &QMenu::aboutToShow, this, [this] { markActivePair(1); });
  PTShellList2->setPopupMenu(ListPopUp2);
  item("Columns1")->setStatusTip(QStringLiteral("Make column widths the same as the second file window"));
  connect(item("Columns1"), &QAction::triggered, this, [this] { Columns1Click(0); });

  // The layout commands.
  const QList<QPair<const char *, void (TTarn::*)()>> commands = {
      {"FullScreen1", &TTarn::FullScreen1Click}, {"FullScreen2", &TTarn::FullScreen1Click},
      {"TreeView1", &TTarn::TreeView1Click},     {"DualFileManager1", &TTarn::DualFileManager1Click},
      {"Vertical", &TTarn::VerticalClick},       {"Cbox5", &TTarn::Cbox5Click},
  };
  for (const auto &[name, handler] : commands) connect(item(name), &QAction::triggered, this, handler);
  item("Vertical")->setCheckable(false);
  item("FullScreen2")->setCheckable(true);
  TreeBut->setCheckable(true);
  DualBut->setCheckable(true);
  for (const auto &[button, handler] : {qMakePair(TreeBut, &TTarn::TreeView1Click), qMakePair(DualBut, &TTarn::DualFileManager1Click)})
    connect(button, &QToolButton::clicked, this, handler);
  statusBar()->setStatusTip(kSplitHint);
}

// ---- Helpers ----

void TTarn::setPairStyle(QSplitter *pair, bool sideBySide, int split) {
  pair->setOrientation(sideBySide ? Qt::Horizontal : Qt::Vertical);
  const int total = sideBySide ? pair->width() : pair->height();
  // The second pane takes the rest; with no room yet, the first pane's size is what counts (stretch 0).
  pair->setSizes({split, qMax(1, total - split - pair->handleWidth())});
}

int TTarn::leftBlockWidthNow() const { return RxSplitter1->sizes().value(0); }

void TTarn::setLeftBlockWidth(int width) {
  const int total = RxSplitter1->width();
  const int rest = qMax(1, total - width - RxSplitter1->handleWidth());
  RxSplitter1->setSizes({width, Panel1->isHidden() ? 0 : rest, secondPairShown() ? rest : 0});
}

void TTarn::markActivePair(int pair) {
  if (!secondPairShown()) return;
  animate1->setVisible(pair == 0);
  animate2->setVisible(pair == 1);
}

void TTarn::fillSizePanels(TPTShellList *list, QLabel *const panels[3]) {
  if (statusBarHidden()) return;
  panels[0]->setText(browser::objectCountText(list->itemCount()));
  if (list->columnCaption(1) != QLatin1String("Size")) {
    panels[1]->clear();
    panels[2]->clear();
    return;
  }
  sizePanels(list, panels);
}

void TTarn::keepTreeSelectionInView() {
  // The tree's height changes with the layout only once the layout has run.
  QTimer::singleShot(0, PTShellTree1, [t = PTShellTree1] { t->scrollTo(t->currentIndex()); });
}

// ---- Full screen ----

void TTarn::FullScreen1Click() {
  QAction *fs1 = item("FullScreen1"), *fs2 = item("FullScreen2");
  const QList<QWidget *> widgets = {TreeBut, DualBut, NewDir, ShowProperties, DeleteBtn, Edit2, Hcb1, LargeIconsBtn,
                                    SmallIconsBtn, ListBtn, DetailsBtn, DiscMap, MapDisk};
  fullScreen_ = !fullScreen_;
  const bool on = fullScreen_;
  statusBar()->setStatusTip(on ? QString() : kSplitHint);
  for (QWidget *w : widgets) w->setEnabled(!on);
  enable({item("TreeView1"), item("DualFileManager1")}, !on);
  for (QMenu *m : {fileMenu_, miscMenu_, optionsMenu_, toolsMenu_, viewMenu_}) m->menuAction()->setVisible(!on);
  if (on) {
    fullScreenLeftWidth_ = leftBlockWidthNow();
    PTSplitter1->hide();
  } else {
    PTSplitter1->show();
    setLeftBlockWidth(fullScreenLeftWidth_ > 0 ? fullScreenLeftWidth_ : leftBlockWidth);
  }
  fs1->setChecked(on);
  fs2->setVisible(on);
  fs2->setEnabled(on);
  fs2->setChecked(on);
  if (on && Pc1->currentWidget() == EditorCmd) LEdit1->setFocus();
}

// ---- Tree/list view ----

void TTarn::TreeView1Click() {
  if (dual_) return DualTreeView();
  const QList<QAction *> items = {item("Cbox3"), item("SaveNow1"), item("Clear2"), item("FullScreen1"), item("HelpTopics1"),
                                  item("ZipFile1")};
  treeView_ = !treeView_;
  const bool on = treeView_;
  if (on) {
    enable({item("Vertical"), item("FtpClient1")}, false);
    statusBar()->setStatusTip(QString());
    savedLeftWidth_ = leftBlockWidthNow();
    savedSplit_ = PTSplitter1->sizes().value(0);
    Panel1->hide();
    editorMenu_->menuAction()->setVisible(false);
    viewersWereDisabled_ = checked("Cbox4");
    item("Cbox4")->setChecked(true);
    item("Cbox4")->setEnabled(false);
    for (QAction *a : items) a->setEnabled(false);
    setPairStyle(PTSplitter1, true, kTreeViewSplit);
    PTShellCombo1->setFixedWidth(qMax(60, kTreeViewSplit - 50));
  } else {
    statusBar()->setStatusTip(kSplitHint);
    // The pair takes its own arrangement first: side by side it could not be made narrow.
    setPairStyle(PTSplitter1, item("Vertical")->text() != QLatin1String("&Vertical"), savedSplit_ > 0 ? savedSplit_ : treePaneHeight);
    Panel1->show();
    setLeftBlockWidth(savedLeftWidth_ > 0 ? savedLeftWidth_ : leftBlockWidth);
    enable({item("Vertical"), item("FtpClient1")}, true);
    editorMenu_->menuAction()->setVisible(true);
    optionsMenu_->menuAction()->setVisible(true);
    for (QAction *a : items) a->setEnabled(true);
    item("Cbox4")->setEnabled(true);
    item("Cbox4")->setChecked(viewersWereDisabled_);
    PTShellCombo1->setFixedWidth(kDriveComboWidth);
    PTShellList1->setStatusTip(kFirstListHint);
    keepTreeSelectionInView();
  }
  item("TreeView1")->setChecked(on);
  TreeBut->setChecked(on);
}

// ---- Dual file manager ----

void TTarn::DualFileManager1Click() {
  // Tree/list view is left first: from the dual file manager its own way, else as F11 leaves it (which
  // gives back the menus and options it took).
  if (treeView_) dual_ ? DualTreeView() : TreeView1Click();
  const bool opening = !dual_;
  if (opening) {
    const QString held = LEdit1->FileName();
    if (!held.isEmpty() && QFileInfo(held).fileName() == TEditorTab::FavouritesFileName) {
      // The favourites may be reloaded from the file only once the editor lets go of it; unsaved edits are
      // offered for saving first, and a failed save keeps the layout as it is.
      if (!EditorTab->QueryClose()) {
        item("DualFileManager1")->setChecked(false);
        return;
      }
      EditorTab->ClearViewer();
      loadFavourites();
    }
    Hcb1->setToolTip(kFavHintDual);
    Hcb1->setStatusTip(kFavHintDual);
    tarnwickMenu_->menuAction()->setEnabled(false);
    dual_ = true;
    animate1->show();
    animate2->hide();
    item("Columns1")->setEnabled(true);
    enable({item("ZipFile1"), item("FtpClient1"), item("Clear2")}, false);
    const int left = leftBlockWidthNow() > 0 ? leftBlockWidthNow() : leftBlockWidth;
    Panel1->hide();
    fDetailsBtnClick(PTShellList1->ViewStyle());
    ViewBtnClick(PTShellList1->ViewStyle());  // the tool bar shows the active (first) pair's style
    PTSplitter1->show();
    PTGroup1->show();
    PTSplitter2->show();
    PTSplitter2->setEnabled(true);
    setLeftBlockWidth(left);
    editorMenu_->menuAction()->setEnabled(false);
    viewersWereDisabled_ = checked("Cbox4");
    item("Cbox4")->setChecked(true);
    enable({item("Cbox4"), item("FullScreen1"), item("HelpTopics1")}, false);
    setPairStyle(PTSplitter2, PTSplitter1->orientation() == Qt::Horizontal, PTSplitter1->sizes().value(0));
    QString folder = PTShellList1->FolderPath();
    if (!secondFolder_.isEmpty() && QFileInfo(secondFolder_).isDir()) folder = secondFolder_;
    PTShellTree2->SelectPath(folder);
    setTitle(browser::titleFor(PTShellList1->FolderPath()));
  } else {
    if (!secondPairActive()) {
      setTitle(browser::titleFor(PTShellTree1->SelectedPath()));
    } else {
      const QString folder = PTShellTree2->SelectedPath();
      PTShellTree1->SelectPath(folder);
      setTitle(browser::titleFor(folder));
    }
    tarnwickMenu_->menuAction()->setEnabled(true);
    animate1->hide();
    animate2->hide();
    PTShellList1->currentView()->setFocus();
    item("Columns1")->setEnabled(false);
    item("ZipFile1")->setEnabled(true);
    secondFolder_ = PTShellTree2->SelectedPath();
    const int left = leftBlockWidthNow();
    dual_ = false;
    Panel1->show();
    PTSplitter2->hide();
    PTSplitter2->setEnabled(false);
    setLeftBlockWidth(left);
    enable({item("FtpClient1"), item("Cbox4"), item("Clear2"), item("FullScreen1"), item("HelpTopics1")}, true);
    editorMenu_->menuAction()->setEnabled(true);
    item("Cbox4")->setChecked(viewersWereDisabled_);
    Hcb1->setToolTip(kFavHint);
    Hcb1->setStatusTip(kFavHint);
    // Showing the current file again must not load over text the editor has not saved.
    if (!state.CurrentFile.isEmpty() && QFileInfo(state.CurrentFile).isFile() && !LEdit1->IsModified()) GetTheFile();
    item("SetTabValue1")->setEnabled(Pc1->currentWidget() == EditorCmd);
  }
  item("DualFileManager1")->setChecked(dual_);
  DualBut->setChecked(dual_);
}

void TTarn::DualTreeView() {
  item("Vertical")->setEnabled(true);
  treeView_ = !treeView_;
  const bool on = treeView_;
  if (on) {
    secondWasActive_ = secondPairActive();
    animate1->hide();
    animate2->hide();
    if (secondWasActive_) PTShellTree1->SelectPath(PTShellTree2->SelectedPath());
    savedLeftWidth_ = leftBlockWidthNow();
    savedSplit_ = PTSplitter1->sizes().value(0);
    enable({item("Cbox3"), item("SaveNow1")}, false);
    Panel1->hide();
    PTSplitter2->hide();
    setPairStyle(PTSplitter1, true, kTreeViewSplit);
    PTShellCombo1->setFixedWidth(qMax(60, kTreeViewSplit - 50));
  } else {
    const bool sideBySide = item("Vertical")->text() != QLatin1String("&Vertical");
    const int split = savedSplit_ > 0 ? savedSplit_ : treePaneHeight;
    setPairStyle(PTSplitter1, sideBySide, split);
    PTSplitter2->show();
    setLeftBlockWidth(savedLeftWidth_ > 0 ? savedLeftWidth_ : leftBlockWidth);
    setPairStyle(PTSplitter2, sideBySide, split);
    PTShellCombo1->setFixedWidth(kDriveComboWidth);
    enable({item("Cbox3"), item("SaveNow1")}, true);
    markActivePair(secondWasActive_ ? 1 : 0);
    PTShellList1->setStatusTip(kFirstListHint);
    keepTreeSelectionInView();
  }
  item("TreeView1")->setChecked(on);
  TreeBut->setChecked(on);
}

// ---- Other layout commands ----

void TTarn::VerticalClick() {
  QAction *v = item("Vertical");
  const bool sideBySide = v->text() != QLatin1String("&Horizontal");
  const int split = sideBySide ? kSideBySideSplit : kTreeAboveSplit;
  v->setText(sideBySide ? QStringLiteral("&Horizontal") : QStringLiteral("&Vertical"));
  setPairStyle(PTSplitter1, sideBySide, split);
  if (secondPairShown()) setPairStyle(PTSplitter2, sideBySide, split);
}

void TTarn::Cbox5Click() {
  const bool hide = checked("Cbox5");
  StatusBar2->setVisible(!hide);
  StatusBar3->setVisible(!hide);
  if (hide) return;
  fillSizePanels(PTShellList1, StatusBar2Panels);
  if (secondPairShown()) fillSizePanels(PTShellList2, StatusBar3Panels);
}

void TTarn::StatusBar1DblClick() {
  if (PTSplitter1->isHidden() || treeView_) return;
  setLeftBlockWidth(width() / 2 - 6);
}

void TTarn::Columns1Click(int fromPair) {
  TPTShellList *to = fromPair == 0 ? PTShellList1 : PTShellList2;
  const TPTShellList *from = fromPair == 0 ? PTShellList2 : PTShellList1;
  const int shared = qMin(to->columnCount(), from->columnCount());
  const int copied = to->columnCount() >= 3 ? 4 : 2;
  for (int c = 0; c < qMin(shared, copied); ++c) to->setColumnWidth(c, from->columnWidth(c));
}

// ---- The second pair ----

void TTarn::PTShellTree2Change(const QString &path) {
  if (!statusBarHidden()) StatusBar3Panels[0]->setText(browser::objectCountText(PTShellList2->itemCount()));
  UpLevel2->setEnabled(PTShellTree2->hasSelectedNode() && PTShellTree2->selectedHasParent());
  state.CurrentFolder = path;
  if (QFileInfo(path).isDir() && ::chdir(QFile::encodeName(path).constData()) == 0)
    DirLabel1->setDirName(path);
  else
    DirLabel1->setDirName(QDir::currentPath());
}

void TTarn::PTShellList2Change() {
  if (!statusBarHidden()) StatusBar3Panels[0]->setText(browser::objectCountText(PTShellList2->itemCount()));
  if (secondPairShown() && secondPairActive()) setTitle(browser::titleFor(PTShellTree2->SelectedPath()));
}

void TTarn::PTShellList2FillComplete() {
  StatusBar3Panels[0]->setText(browser::objectCountText(PTShellList2->itemCount()));
  fillSizePanels(PTShellList2, StatusBar3Panels);
}

void TTarn::PTShellList2Click() {
  markActivePair(1);
  setTitle(browser::titleFor(PTShellTree2->SelectedPath()));
  const int row = PTShellList2->Selected();
  if (row < 0) return;
  pickListItem(PTShellList2, PTShellTree2, row);
  setTitle(browser::titleFor(state.CurrentFile));
}

void TTarn::PTShellList2DblClickOpen(bool &afHandled) {
  const QString folder = PTShellTree2->SelectedPath();
  if (QFileInfo(folder).isDir()) (void)::chdir(QFile::encodeName(folder).constData());
  if (!checked("Cbox1")) afHandled = true;
}

void TTarn::HideFolders2Click() { toggleHideFolders(HideFolders2, PTShellList2); }

void TTarn::fDetailsBtnClick(int tag) {
  for (QAction *a : secondViewItems_) a->setChecked(a->data().toInt() == tag);
  for (QToolButton *b : viewButtons_) b->setChecked(b->property("Tag").toInt() == tag);
  PTShellList2->setViewStyle(tag);
}

void TTarn::UpLevel2Click() {
  markActivePair(1);
  PTShellTree2->GoUp();
}

void TTarn::refreshSecondPair() {
  PTShellList2->setFolderPath(PTShellList2->FolderPath());
  PTShellTree2->RefreshTree();
  if (statusBarHidden()) return;
  fillSizePanels(PTShellList2, StatusBar3Panels);
}
