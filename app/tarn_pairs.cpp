// The two browser pairs: which one is active, the second pair of the dual file manager (built as the
// twin of the first) and its handlers, and the lists' status texts. The layouts are app/layouts.
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
#include "app/layouts.h"
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
  const TBrowserPair p = makeBrowserPair(RxSplitter1, {"PTSplitter2", "panel2", "PTShellCombo2", "UpLevel2", "animate2",
                                                       "PTShellTree2", "PTShellList2", "StatusBar3", "FolderTabs2"});
  PTSplitter2 = p.splitter;
  panel2 = p.header;
  PTShellCombo2 = p.combo;
  UpLevel2 = p.up;
  animate2 = p.marker;
  PTShellTree2 = p.tree;
  PTShellList2 = p.list;
  FolderTabs2 = p.tabs;
  StatusBar3 = p.status;
  for (int i = 0; i < 3; ++i) StatusBar3Panels[i] = p.panels[i];
  RxSplitter1->insertWidget(2, PTSplitter2);
  RxSplitter1->setStretchFactor(2, 1);
  PTSplitter2->hide();
  PTSplitter2->setEnabled(false);
  PTShellList2->setStatusTip(QStringLiteral(
      "Double click file to execute or run associated program, Right hand mouse button for menu options ..."));

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
  connect(PTShellTree1, &TPTShellTree::OnMouseDown, this, [this] { layouts_->markActivePair(0); });
  connect(PTShellList1, &TPTShellList::OnMouseDown, this, [this] { layouts_->markActivePair(0); });
  connect(PTShellCombo1, &TPTShellCombo::OnEnter, this, [this] { layouts_->markActivePair(0); });
  connect(ListPopup, &QMenu::aboutToShow, this, [this] { layouts_->markActivePair(0); });
  connect(PTShellTree2, &TPTShellTree::OnMouseDown, this, [this] { layouts_->markActivePair(1); });
  connect(PTShellList2, &TPTShellList::OnMouseDown, this, [this] { layouts_->markActivePair(1); });
  connect(PTShellCombo2, &TPTShellCombo::OnEnter, this, [this] { layouts_->markActivePair(1); });
  const auto titleFromTree = [this](int pair) {
    if (!secondPairShown()) return;
    setTitle(browser::titleFor((pair ? PTShellTree2 : PTShellTree1)->SelectedPath()));
  };
  connect(PTShellList1, &TPTShellList::OnColumnClick, this, [this, titleFromTree] {
    layouts_->markActivePair(0);
    titleFromTree(0);
  });
  connect(PTShellList2, &TPTShellList::OnColumnClick, this, [this, titleFromTree] {
    layouts_->markActivePair(1);
    titleFromTree(1);
  });
  connect(PTShellTree1, &TPTShellTree::OnClick, this, [titleFromTree] { titleFromTree(0); });
  connect(PTShellTree2, &TPTShellTree::OnClick, this, [titleFromTree] { titleFromTree(1); });

  // Dropping either pair's split bar gives the other pair the same split.
  connect(PTSplitter1, &QSplitter::splitterMoved, this, [this](int pos) {
    if (layouts_->treeListView()) {
      // Tree/list view: the drive combo follows the split bar.
      PTShellCombo1->setFixedWidth(qMax(60, pos - 50));
      return;
    }
    if (secondPairShown() && PTSplitter2->orientation() == PTSplitter1->orientation())
      TLayouts::setPairStyle(PTSplitter2, PTSplitter2->orientation() == Qt::Horizontal, pos);
  });
  connect(PTSplitter2, &QSplitter::splitterMoved, this, [this](int pos) {
    if (PTSplitter1->orientation() == PTSplitter2->orientation())
      TLayouts::setPairStyle(PTSplitter1, PTSplitter1->orientation() == Qt::Horizontal, pos);
  });

  // The second list's pop-up.
  ListPopUp2 = new QMenu(this);
  ListPopUp2->setObjectName(QStringLiteral("ListPopUp2"));
  const char *names[] = {"LargeIcons3", "SmallIcons3", "List3", "Details3"};
  const char *caps[] = {"Lar&ge icons", "S&mall icons", "&List", "&Details"};
  for (int tag = 0; tag < 4; ++tag) {
    QAction *a = addItem(
        ListPopUp2, names[tag], caps[tag], {}, [this, tag] { fDetailsBtnClick(tag); }, true, tag == 3);
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
  addItem(ListPopUp2, "Columns2", "&Columns")
      ->setStatusTip(QStringLiteral("Make column widths the same as the first file window"));
  HideFolders2 = addItem(ListPopUp2, "HideFolders2", "&Hide Folders", {}, [this] { HideFolders2Click(); });
  addItem(ListPopUp2, "Properties3", "&Properties");
  addItem(ListPopUp2, "Refresh3", "&Refresh\tF5", {}, [this] { TreeRefreshMitmClick(); });
  addItem(ListPopUp2, "Run4", "Ru&n...");
  connect(ListPopUp2, &QMenu::aboutToShow, this, [this] { layouts_->markActivePair(1); });
  PTShellList2->setPopupMenu(ListPopUp2);
}

// ---- Status texts ----

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
  layouts_->markActivePair(1);
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
  layouts_->markActivePair(1);
  if (PTShellList2->inArchive()) return PTShellList2->goUp();
  PTShellTree2->GoUp();
}

void TTarn::refreshSecondPair() {
  PTShellList2->setFolderPath(PTShellList2->FolderPath());
  PTShellTree2->RefreshTree();
  if (statusBarHidden()) return;
  fillSizePanels(PTShellList2, StatusBar3Panels);
}
