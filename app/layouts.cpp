// The window's layouts (full screen, tree/list view, tree beside or above the list, 50/50) and the dual
// file manager's showing and hiding of the second browser pair.
#include "app/layouts.h"
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include "app/browserpair.h"
#include "app/tarn.h"
#include "browser/panerules.h"
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
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
}  // namespace

TLayouts::TLayouts(TTarn &w) : w_(w) {}

void TLayouts::wire() {
  const QList<QPair<const char *, void (TLayouts::*)()>> commands = {
      {"FullScreen1", &TLayouts::FullScreen1Click}, {"FullScreen2", &TLayouts::FullScreen1Click},
      {"TreeView1", &TLayouts::TreeView1Click},     {"DualFileManager1", &TLayouts::DualFileManager1Click},
      {"Vertical", &TLayouts::VerticalClick},       {"Cbox5", &TLayouts::Cbox5Click},
  };
  for (const auto &[name, handler] : commands)
    QObject::connect(w_.item(name), &QAction::triggered, &w_, [this, h = handler] { (this->*h)(); });
  w_.TreeBut->setCheckable(true);
  w_.DualBut->setCheckable(true);
  QObject::connect(w_.TreeBut, &QToolButton::clicked, &w_, [this] { TreeView1Click(); });
  QObject::connect(w_.DualBut, &QToolButton::clicked, &w_, [this] { DualFileManager1Click(); });
  w_.item("Columns1")->setStatusTip(QStringLiteral("Make column widths the same as the second file window"));
  QObject::connect(w_.item("Columns1"), &QAction::triggered, &w_, [this] { Columns1Click(0); });
  QObject::connect(w_.item("Columns2"), &QAction::triggered, &w_, [this] { Columns1Click(1); });
  w_.statusBar()->setStatusTip(kSplitHint);
}

int TLayouts::leftBlockWidthToStore() const { return fullScreen_ ? fullScreenLeftWidth_ : leftBlockWidthNow(); }

bool TLayouts::secondPairShown() const { return w_.secondPairShown(); }

void TLayouts::setPairStyle(QSplitter *pair, bool sideBySide, int split) {
  pair->setOrientation(sideBySide ? Qt::Horizontal : Qt::Vertical);
  const int total = sideBySide ? pair->width() : pair->height();
  // The second pane takes the rest; with no room yet, the first pane's size is what counts (stretch 0).
  pair->setSizes({split, qMax(1, total - split - pair->handleWidth())});
}

int TLayouts::leftBlockWidthNow() const { return w_.RxSplitter1->sizes().value(0); }

void TLayouts::setLeftBlockWidth(int width) {
  const int total = w_.RxSplitter1->width();
  const int rest = qMax(1, total - width - w_.RxSplitter1->handleWidth());
  w_.RxSplitter1->setSizes({width, w_.Panel1->isHidden() ? 0 : rest, secondPairShown() ? rest : 0});
}

void TLayouts::markActivePair(int pair) {
  if (!secondPairShown()) return;
  w_.animate1->setVisible(pair == 0);
  w_.animate2->setVisible(pair == 1);
}

void TLayouts::keepTreeSelectionInView() {
  // The tree's height changes with the layout only once the layout has run.
  QTimer::singleShot(0, w_.PTShellTree1, [t = w_.PTShellTree1] { t->scrollTo(t->currentIndex()); });
}

// ---- Full screen ----

void TLayouts::FullScreen1Click() {
  QAction *fs1 = w_.item("FullScreen1"), *fs2 = w_.item("FullScreen2");
  const QList<QWidget *> widgets = {w_.TreeBut, w_.DualBut, w_.NewDir, w_.ShowProperties, w_.DeleteBtn, w_.Edit2, w_.Hcb1, w_.LargeIconsBtn,
                                    w_.SmallIconsBtn, w_.ListBtn, w_.DetailsBtn, w_.DiscMap, w_.MapDisk};
  fullScreen_ = !fullScreen_;
  const bool on = fullScreen_;
  w_.statusBar()->setStatusTip(on ? QString() : kSplitHint);
  for (QWidget *w : widgets) w->setEnabled(!on);
  enable({w_.item("TreeView1"), w_.item("DualFileManager1")}, !on);
  for (QMenu *m : {w_.fileMenu_, w_.miscMenu_, w_.optionsMenu_, w_.toolsMenu_, w_.viewMenu_}) m->menuAction()->setVisible(!on);
  if (on) {
    fullScreenLeftWidth_ = leftBlockWidthNow();
    w_.PTSplitter1->hide();
  } else {
    w_.PTSplitter1->show();
    setLeftBlockWidth(fullScreenLeftWidth_ > 0 ? fullScreenLeftWidth_ : w_.leftBlockWidth);
  }
  fs1->setChecked(on);
  fs2->setVisible(on);
  fs2->setEnabled(on);
  fs2->setChecked(on);
  if (on && w_.Pc1->currentWidget() == w_.EditorCmd) w_.LEdit1->setFocus();
}

// ---- Tree/list view ----

void TLayouts::TreeView1Click() {
  if (dual_) return DualTreeView();
  const QList<QAction *> items = {w_.item("Cbox3"), w_.item("SaveNow1"), w_.item("Clear2"), w_.item("FullScreen1"), w_.item("HelpTopics1"),
                                  w_.item("ZipFile1")};
  treeView_ = !treeView_;
  const bool on = treeView_;
  if (on) {
    enable({w_.item("Vertical"), w_.item("FtpClient1")}, false);
    w_.statusBar()->setStatusTip(QString());
    savedLeftWidth_ = leftBlockWidthNow();
    savedSplit_ = w_.PTSplitter1->sizes().value(0);
    w_.Panel1->hide();
    w_.editorMenu_->menuAction()->setVisible(false);
    viewersWereDisabled_ = w_.checked("Cbox4");
    w_.item("Cbox4")->setChecked(true);
    w_.item("Cbox4")->setEnabled(false);
    for (QAction *a : items) a->setEnabled(false);
    setPairStyle(w_.PTSplitter1, true, kTreeViewSplit);
    w_.PTShellCombo1->setFixedWidth(qMax(60, kTreeViewSplit - 50));
  } else {
    w_.statusBar()->setStatusTip(kSplitHint);
    // The pair takes its own arrangement first: side by side it could not be made narrow.
    setPairStyle(w_.PTSplitter1, w_.item("Vertical")->text() != QLatin1String("&Vertical"), savedSplit_ > 0 ? savedSplit_ : w_.treePaneHeight);
    w_.Panel1->show();
    setLeftBlockWidth(savedLeftWidth_ > 0 ? savedLeftWidth_ : w_.leftBlockWidth);
    enable({w_.item("Vertical"), w_.item("FtpClient1")}, true);
    w_.editorMenu_->menuAction()->setVisible(true);
    w_.optionsMenu_->menuAction()->setVisible(true);
    for (QAction *a : items) a->setEnabled(true);
    w_.item("Cbox4")->setEnabled(true);
    w_.item("Cbox4")->setChecked(viewersWereDisabled_);
    w_.PTShellCombo1->setFixedWidth(kDriveComboWidth);
    w_.PTShellList1->setStatusTip(kFirstListHint);
    keepTreeSelectionInView();
  }
  w_.item("TreeView1")->setChecked(on);
  w_.TreeBut->setChecked(on);
}

// ---- Dual file manager ----

void TLayouts::DualFileManager1Click() {
  // Tree/list view is left first: from the dual file manager its own way, else as F11 leaves it (which
  // gives back the menus and options it took).
  if (treeView_) dual_ ? DualTreeView() : TreeView1Click();
  const bool opening = !dual_;
  if (opening) {
    const QString held = w_.LEdit1->FileName();
    if (!held.isEmpty() && QFileInfo(held).fileName() == TEditorTab::FavouritesFileName) {
      // The favourites may be reloaded from the file only once the editor lets go of it; unsaved edits are
      // offered for saving first, and a failed save keeps the layout as it is.
      if (!w_.EditorTab->QueryClose()) {
        w_.item("DualFileManager1")->setChecked(false);
        return;
      }
      w_.EditorTab->ClearViewer();
      w_.loadFavourites();
    }
    w_.Hcb1->setToolTip(kFavHintDual);
    w_.Hcb1->setStatusTip(kFavHintDual);
    w_.tarnwickMenu_->menuAction()->setEnabled(false);
    dual_ = true;
    w_.animate1->show();
    w_.animate2->hide();
    w_.item("Columns1")->setEnabled(true);
    enable({w_.item("ZipFile1"), w_.item("FtpClient1"), w_.item("Clear2")}, false);
    const int left = leftBlockWidthNow() > 0 ? leftBlockWidthNow() : w_.leftBlockWidth;
    w_.Panel1->hide();
    w_.fDetailsBtnClick(w_.PTShellList1->ViewStyle());
    w_.ViewBtnClick(w_.PTShellList1->ViewStyle());  // the tool bar shows the active (first) pair's style
    w_.PTSplitter1->show();
    w_.PTGroup1->show();
    w_.PTSplitter2->show();
    w_.PTSplitter2->setEnabled(true);
    setLeftBlockWidth(left);
    w_.editorMenu_->menuAction()->setEnabled(false);
    viewersWereDisabled_ = w_.checked("Cbox4");
    w_.item("Cbox4")->setChecked(true);
    enable({w_.item("Cbox4"), w_.item("FullScreen1"), w_.item("HelpTopics1")}, false);
    setPairStyle(w_.PTSplitter2, w_.PTSplitter1->orientation() == Qt::Horizontal, w_.PTSplitter1->sizes().value(0));
    QString folder = w_.PTShellList1->FolderPath();
    if (!secondFolder_.isEmpty() && QFileInfo(secondFolder_).isDir()) folder = secondFolder_;
    w_.PTShellTree2->SelectPath(folder);
    w_.setTitle(browser::titleFor(w_.PTShellList1->FolderPath()));
  } else {
    if (!w_.secondPairActive()) {
      w_.setTitle(browser::titleFor(w_.PTShellTree1->SelectedPath()));
    } else {
      const QString folder = w_.PTShellTree2->SelectedPath();
      w_.PTShellTree1->SelectPath(folder);
      w_.setTitle(browser::titleFor(folder));
    }
    w_.tarnwickMenu_->menuAction()->setEnabled(true);
    w_.animate1->hide();
    w_.animate2->hide();
    w_.PTShellList1->currentView()->setFocus();
    w_.item("Columns1")->setEnabled(false);
    w_.item("ZipFile1")->setEnabled(true);
    secondFolder_ = w_.PTShellTree2->SelectedPath();
    const int left = leftBlockWidthNow();
    dual_ = false;
    w_.Panel1->show();
    w_.PTSplitter2->hide();
    w_.PTSplitter2->setEnabled(false);
    setLeftBlockWidth(left);
    enable({w_.item("FtpClient1"), w_.item("Cbox4"), w_.item("Clear2"), w_.item("FullScreen1"), w_.item("HelpTopics1")}, true);
    w_.editorMenu_->menuAction()->setEnabled(true);
    w_.item("Cbox4")->setChecked(viewersWereDisabled_);
    w_.Hcb1->setToolTip(kFavHint);
    w_.Hcb1->setStatusTip(kFavHint);
    // Showing the current file again must not load over text the editor has not saved.
    if (!w_.state.CurrentFile.isEmpty() && QFileInfo(w_.state.CurrentFile).isFile() && !w_.LEdit1->IsModified()) w_.GetTheFile();
    w_.item("SetTabValue1")->setEnabled(w_.Pc1->currentWidget() == w_.EditorCmd);
  }
  w_.item("DualFileManager1")->setChecked(dual_);
  w_.DualBut->setChecked(dual_);
}

void TLayouts::DualTreeView() {
  w_.item("Vertical")->setEnabled(true);
  treeView_ = !treeView_;
  const bool on = treeView_;
  if (on) {
    secondWasActive_ = w_.secondPairActive();
    w_.animate1->hide();
    w_.animate2->hide();
    if (secondWasActive_) w_.PTShellTree1->SelectPath(w_.PTShellTree2->SelectedPath());
    savedLeftWidth_ = leftBlockWidthNow();
    savedSplit_ = w_.PTSplitter1->sizes().value(0);
    enable({w_.item("Cbox3"), w_.item("SaveNow1")}, false);
    w_.Panel1->hide();
    w_.PTSplitter2->hide();
    setPairStyle(w_.PTSplitter1, true, kTreeViewSplit);
    w_.PTShellCombo1->setFixedWidth(qMax(60, kTreeViewSplit - 50));
  } else {
    const bool sideBySide = w_.item("Vertical")->text() != QLatin1String("&Vertical");
    const int split = savedSplit_ > 0 ? savedSplit_ : w_.treePaneHeight;
    setPairStyle(w_.PTSplitter1, sideBySide, split);
    w_.PTSplitter2->show();
    setLeftBlockWidth(savedLeftWidth_ > 0 ? savedLeftWidth_ : w_.leftBlockWidth);
    setPairStyle(w_.PTSplitter2, sideBySide, split);
    w_.PTShellCombo1->setFixedWidth(kDriveComboWidth);
    enable({w_.item("Cbox3"), w_.item("SaveNow1")}, true);
    markActivePair(secondWasActive_ ? 1 : 0);
    w_.PTShellList1->setStatusTip(kFirstListHint);
    keepTreeSelectionInView();
  }
  w_.item("TreeView1")->setChecked(on);
  w_.TreeBut->setChecked(on);
}

// ---- Other layout commands ----

void TLayouts::VerticalClick() {
  QAction *v = w_.item("Vertical");
  const bool sideBySide = v->text() != QLatin1String("&Horizontal");
  const int split = sideBySide ? kSideBySideSplit : kTreeAboveSplit;
  v->setText(sideBySide ? QStringLiteral("&Horizontal") : QStringLiteral("&Vertical"));
  setPairStyle(w_.PTSplitter1, sideBySide, split);
  if (secondPairShown()) setPairStyle(w_.PTSplitter2, sideBySide, split);
}

void TLayouts::Cbox5Click() {
  const bool hide = w_.checked("Cbox5");
  w_.StatusBar2->setVisible(!hide);
  w_.StatusBar3->setVisible(!hide);
  if (hide) return;
  w_.fillSizePanels(w_.PTShellList1, w_.StatusBar2Panels);
  if (secondPairShown()) w_.fillSizePanels(w_.PTShellList2, w_.StatusBar3Panels);
}

void TLayouts::StatusBar1DblClick() {
  if (w_.PTSplitter1->isHidden() || treeView_) return;
  setLeftBlockWidth(w_.width() / 2 - 6);
}

void TLayouts::Columns1Click(int fromPair) {
  TPTShellList *to = fromPair == 0 ? w_.PTShellList1 : w_.PTShellList2;
  const TPTShellList *from = fromPair == 0 ? w_.PTShellList2 : w_.PTShellList1;
  const int shared = qMin(to->columnCount(), from->columnCount());
  const int copied = to->columnCount() >= 3 ? 4 : 2;
  for (int c = 0; c < qMin(shared, copied); ++c) to->setColumnWidth(c, from->columnWidth(c));
}

