// The window's layouts and the dual file manager, driven by their keys in a shown window.
#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <vector>
#include "app/layouts.h"
#include "app/tarn.h"
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "platform/paths.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

namespace {

class Layouts : public apptest::AppTest {
 protected:
  void SetUp() override {
    apptest::AppTest::SetUp();
    left = testenv::makeDir("left");
    right = testenv::makeDir("right");
    for (const char *n : {"a1.txt", "a2.txt"}) testenv::writeFile(left + "/" + n, "left file\n");
    testenv::writeFile(right + "/b1.txt", "right file\n");
    open();
  }
  void TearDown() override { w.reset(); }

  void open() {
    w = std::make_unique<TTarn>(QStringList{left});
    w->LEdit1->SetQuiet(true);
    w->item("Cbox2")->setChecked(false);
    w->setWindowState(Qt::WindowNoState);
    w->resize(1400, 800);
    w->show();
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->FormShow();
    ASSERT_TRUE(filled(w->PTShellList1, left));
    settle();
  }

  static bool filled(TPTShellList *l, const QString &folder) {
    return testenv::waitFor([&] { return l->FolderPath() == folder && !l->model()->isLoading(); });
  }
  // Lets pending layout passes run, so that sizes are those a user would see.
  static void settle() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }
  void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : w.get();
    QTest::keyClick(target, k, mods);
    settle();
  }
  bool menuShown(const QString &title) const {
    for (QAction *a : w->menuBar()->actions())
      if (a->text() == title) return a->isVisible();
    ADD_FAILURE() << "no menu " << title.toStdString();
    return false;
  }
  bool menuEnabled(const QString &title) const {
    for (QAction *a : w->menuBar()->actions())
      if (a->text() == title) return a->isEnabled();
    ADD_FAILURE() << "no menu " << title.toStdString();
    return false;
  }
  int leftWidth() const { return w->RxSplitter1->sizes().value(0); }
  int split(QSplitter *s) const { return s->sizes().value(0); }
  void clickEmptySpace(TPTShellList *list) {
    QAbstractItemView *view = list->currentView();
    const QPoint below(view->viewport()->width() / 2, view->viewport()->height() - 4);
    ASSERT_FALSE(view->indexAt(below).isValid());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, below);
    settle();
  }
  void pressIn(QWidget *view) {
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(5, 5));
    settle();
  }

  QString left, right;
  std::unique_ptr<TTarn> w;
};

TEST_F(Layouts, FullScreenHidesTheBrowserAndComesBackThroughTheEditorMenu) {
  const int width = leftWidth();
  const QList<QWidget *> disabled = {w->TreeBut, w->DualBut, w->NewDir, w->ShowProperties, w->DeleteBtn, w->Edit2, w->Hcb1,
                                     w->LargeIconsBtn, w->SmallIconsBtn, w->ListBtn, w->DetailsBtn, w->DiscMap, w->MapDisk};
  key(Qt::Key_F6);
  EXPECT_TRUE(w->item("FullScreen1")->isChecked());
  EXPECT_TRUE(w->PTSplitter1->isHidden());
  EXPECT_EQ(w->Panel1->width(), w->RxSplitter1->width());
  for (QWidget *c : disabled) EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
  for (const char *m : {"&File", "&Misc", "&Options", "&Tools", "&View"}) EXPECT_FALSE(menuShown(m)) << m;
  EXPECT_TRUE(menuShown("E&ditor"));
  QAction *back = w->item("FullScreen2");
  EXPECT_TRUE(back->isVisible() && back->isEnabled() && back->isChecked());
  EXPECT_TRUE(w->statusBar()->statusTip().isEmpty());
  // Tree/list view and the dual file manager are shut out meanwhile, keys included.
  key(Qt::Key_F11);
  key(Qt::Key_F9);
  EXPECT_FALSE(w->layouts().treeListView() || w->layouts().dualFileManager());

  back->trigger();
  settle();
  EXPECT_FALSE(w->item("FullScreen1")->isChecked());
  EXPECT_FALSE(back->isVisible() || back->isEnabled());
  for (QWidget *c : disabled) EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
  for (const char *m : {"&File", "&Misc", "&Options", "&Tools", "&View"}) EXPECT_TRUE(menuShown(m)) << m;
  EXPECT_EQ(leftWidth(), width);
  EXPECT_EQ(w->statusBar()->statusTip(), "Double click to split windows 50/50");
}

TEST_F(Layouts, TreeListViewFillsTheWindowAndRestoresTheLeftBlockExactly) {
  w->RxSplitter1->setSizes({333, 600});
  w->PTSplitter1->setSizes({140, 400});
  settle();
  const int width = leftWidth(), height = split(w->PTSplitter1);
  w->item("Cbox4")->setChecked(false);

  key(Qt::Key_F11);
  EXPECT_TRUE(w->item("TreeView1")->isChecked());
  EXPECT_TRUE(w->TreeBut->isChecked());
  EXPECT_TRUE(w->Panel1->isHidden());
  EXPECT_EQ(w->PTSplitter1->width(), w->RxSplitter1->width());
  EXPECT_EQ(w->PTSplitter1->orientation(), Qt::Horizontal);  // tree beside list
  EXPECT_EQ(split(w->PTSplitter1), 230);
  EXPECT_FALSE(menuShown("E&ditor"));
  EXPECT_TRUE(w->item("Cbox4")->isChecked());
  for (const char *n : {"Cbox4", "Vertical", "FtpClient1", "Cbox3", "SaveNow1", "Clear2", "FullScreen1", "HelpTopics1", "ZipFile1"})
    EXPECT_FALSE(w->item(n)->isEnabled()) << n;
  key(Qt::Key_F6);  // full screen is shut out
  EXPECT_FALSE(w->layouts().fullScreen());
  // Dragging the split bar takes the drive combo along.
  w->PTSplitter1->setSizes({300, 500});
  emit w->PTSplitter1->splitterMoved(300, 1);
  EXPECT_EQ(w->PTShellCombo1->width(), 250);

  key(Qt::Key_F11);
  EXPECT_FALSE(w->item("TreeView1")->isChecked());
  EXPECT_FALSE(w->Panel1->isHidden());
  EXPECT_EQ(leftWidth(), width);
  EXPECT_EQ(split(w->PTSplitter1), height);
  EXPECT_EQ(w->PTSplitter1->orientation(), Qt::Vertical);
  EXPECT_EQ(w->PTShellCombo1->width(), 180);
  EXPECT_TRUE(menuShown("E&ditor"));
  EXPECT_FALSE(w->item("Cbox4")->isChecked());  // as the user had it
  for (const char *n : {"Cbox4", "Vertical", "FtpClient1", "Cbox3", "SaveNow1", "Clear2", "FullScreen1", "HelpTopics1", "ZipFile1"})
    EXPECT_TRUE(w->item(n)->isEnabled()) << n;

  // F12 flips the pair and names the arrangement it switches to next.
  key(Qt::Key_F12);
  EXPECT_EQ(w->item("Vertical")->text(), "&Horizontal");
  EXPECT_FALSE(w->item("Vertical")->isCheckable());
  EXPECT_EQ(w->PTSplitter1->orientation(), Qt::Horizontal);
  EXPECT_EQ(split(w->PTSplitter1), 245);
  // Tree/list view entered and left while the tree is beside the list keeps it there.
  key(Qt::Key_F11);
  key(Qt::Key_F11);
  EXPECT_EQ(w->PTSplitter1->orientation(), Qt::Horizontal);
  key(Qt::Key_F12);
  EXPECT_EQ(w->item("Vertical")->text(), "&Vertical");
  EXPECT_EQ(w->PTSplitter1->orientation(), Qt::Vertical);
  EXPECT_EQ(split(w->PTSplitter1), 120);
}

// The layouts that take "Disable &Viewers" over give it back as the user had it (on stays on), and the
// menus and items they turned off with it.
TEST_F(Layouts, EveryLayoutGivesBackDisabledViewersAndTheItemsItTook) {
  w->item("Cbox4")->trigger();
  ASSERT_TRUE(w->item("Cbox4")->isChecked());
  const std::vector<std::vector<Qt::Key>> rounds = {
      {Qt::Key_F11, Qt::Key_F11},                            // tree/list view
      {Qt::Key_F9, Qt::Key_F9},                              // dual file manager
      {Qt::Key_F9, Qt::Key_F11, Qt::Key_F11, Qt::Key_F9},    // tree/list view inside it
      {Qt::Key_F9, Qt::Key_F11, Qt::Key_F9},                 // closed from inside tree/list view
      {Qt::Key_F11, Qt::Key_F9, Qt::Key_F9},                 // F9 in tree/list view leaves it first
  };
  for (const auto &keys : rounds) {
    QString trace;
    for (Qt::Key k : keys) {
      key(k);
      trace += QKeySequence(k).toString() + " ";
    }
    SCOPED_TRACE(trace.toStdString());
    ASSERT_FALSE(w->layouts().treeListView() || w->layouts().dualFileManager() || w->layouts().fullScreen());
    EXPECT_TRUE(w->item("Cbox4")->isChecked());
    EXPECT_TRUE(w->item("Cbox4")->isEnabled());
    // What else the layouts took comes back too.
    EXPECT_TRUE(menuShown("E&ditor") && menuEnabled("E&ditor"));
    for (const char *n : {"Vertical", "FtpClient1", "Cbox3", "SaveNow1", "Clear2", "FullScreen1", "HelpTopics1", "ZipFile1"})
      EXPECT_TRUE(w->item(n)->isEnabled()) << n;
  }
  // And it still holds the viewers back.
  w->lastViewerAction.clear();
  w->PTShellList1->selectName("a1.txt");
  w->PTShellList1Click();
  EXPECT_EQ(w->lastViewerAction, "");
}

TEST_F(Layouts, FiftyFiftyOnlyWhereTheLeftBlockShows) {
  auto doubleClickStatusLine = [&] {
    QTest::mouseDClick(w->statusBar(), Qt::LeftButton, {}, QPoint(20, 5));
    settle();
  };
  w->RxSplitter1->setSizes({250, 700});
  settle();
  doubleClickStatusLine();
  EXPECT_EQ(leftWidth(), w->width() / 2 - 6);

  key(Qt::Key_F9);
  w->RxSplitter1->setSizes({250, 0, 700});
  settle();
  doubleClickStatusLine();
  EXPECT_EQ(leftWidth(), w->width() / 2 - 6);
  key(Qt::Key_F9);

  for (Qt::Key mode : {Qt::Key_F6, Qt::Key_F11}) {
    key(mode);
    const QList<int> before = w->RxSplitter1->sizes();
    doubleClickStatusLine();
    EXPECT_EQ(w->RxSplitter1->sizes(), before) << mode;
    key(mode);
  }
}

TEST_F(Layouts, DualFileManagerFollowsTheActivePairAndRemembersTheSecondFolder) {
  key(Qt::Key_F9);
  ASSERT_TRUE(w->layouts().dualFileManager());
  EXPECT_TRUE(w->DualBut->isChecked() && w->item("DualFileManager1")->isChecked());
  EXPECT_FALSE(w->PTSplitter2->isHidden());
  EXPECT_TRUE(w->PTSplitter2->isEnabled());
  EXPECT_TRUE(w->Panel1->isHidden());
  EXPECT_FALSE(w->animate1->isHidden());
  EXPECT_TRUE(w->animate2->isHidden());
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + left);
  ASSERT_TRUE(filled(w->PTShellList2, left));  // first opening: the first list's folder
  EXPECT_FALSE(menuEnabled("E&ditor"));
  EXPECT_TRUE(w->item("Columns1")->isEnabled());
  for (const char *n : {"ZipFile1", "FtpClient1", "Clear2", "Cbox4", "FullScreen1", "HelpTopics1"})
    EXPECT_FALSE(w->item(n)->isEnabled()) << n;
  EXPECT_EQ(w->Hcb1->toolTip(), "Favourite Folders, click to bring down list");
  EXPECT_FALSE(w->findChild<QMenu *>("Tarnwick1")->menuAction()->isEnabled());

  // A press in the second list makes its pair the target; its folder changes the title only when it is clicked.
  w->PTShellTree2->SelectPath(right);
  ASSERT_TRUE(filled(w->PTShellList2, right));
  pressIn(w->PTShellList2->currentView()->viewport());
  EXPECT_TRUE(w->secondPairActive());
  EXPECT_TRUE(w->animate1->isHidden());
  EXPECT_EQ(w->activeTree(), w->PTShellTree2);
  w->PTShellList2->selectName("b1.txt");
  w->PTShellList2Click();
  EXPECT_EQ(w->state.CurrentFile, right + "/b1.txt");
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + right + "/b1.txt");
  // The column header of the first list gives the first pair back, with its folder in the title.
  emit w->PTShellList1->OnColumnClick(1);
  EXPECT_FALSE(w->secondPairActive());
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + left);
  QTest::mousePress(w->panel2, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_TRUE(w->secondPairActive());
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + right);
  // A click on the empty space below a list's items makes its pair the target, with its folder in the title.
  w->PTShellList2->selectName("b1.txt");
  w->PTShellList2Click();
  ASSERT_EQ(w->windowTitle(), "Tarnwick - " + right + "/b1.txt");
  clickEmptySpace(w->PTShellList1);
  EXPECT_FALSE(w->secondPairActive());
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + left);
  clickEmptySpace(w->PTShellList2);
  EXPECT_TRUE(w->secondPairActive());
  EXPECT_EQ(w->windowTitle(), "Tarnwick - " + right);
  w->PTShellList2->selectName("b1.txt");
  w->PTShellList2Click();

  // Closing with the second pair active leaves the first tree on its folder; the clicked file is shown.
  key(Qt::Key_F9);
  EXPECT_FALSE(w->layouts().dualFileManager());
  EXPECT_TRUE(w->PTSplitter2->isHidden());
  EXPECT_FALSE(w->Panel1->isHidden());
  EXPECT_TRUE(w->animate1->isHidden() && w->animate2->isHidden());
  EXPECT_EQ(w->PTShellTree1->SelectedPath(), right);
  EXPECT_EQ(w->windowTitle().left(11 + right.size()), "Tarnwick - " + right);
  EXPECT_TRUE(testenv::waitFor([&] { return w->LEdit1->FileName() == right + "/b1.txt"; }));
  for (const char *n : {"ZipFile1", "FtpClient1", "Clear2", "Cbox4", "FullScreen1", "HelpTopics1"})
    EXPECT_TRUE(w->item(n)->isEnabled()) << n;
  EXPECT_FALSE(w->item("Columns1")->isEnabled());
  EXPECT_TRUE(menuEnabled("E&ditor"));

  // Second opening: the second list is back on the folder it had, whatever the first shows now.
  w->PTShellTree1->SelectPath(left);
  ASSERT_TRUE(filled(w->PTShellList1, left));
  key(Qt::Key_F9);
  EXPECT_TRUE(filled(w->PTShellList2, right));
  EXPECT_FALSE(w->secondPairActive());

  // The favourites follow the active pair: added from the second list's pop-up, chosen into the second tree.
  w->layouts().markActivePair(1);
  w->item("AddFolderToFavourites1")->trigger();
  ASSERT_EQ(w->Hcb1->findText(right), 0);
  w->PTShellTree2->SelectPath(left);
  w->Hcb1->setCurrentIndex(0);
  emit w->Hcb1->activated(0);
  EXPECT_EQ(w->PTShellTree2->SelectedPath(), right);
  EXPECT_EQ(w->PTShellTree1->SelectedPath(), left);
}

TEST_F(Layouts, TreeListViewInsideTheDualFileManagerKeepsTheActivePair) {
  key(Qt::Key_F9);
  w->PTShellTree2->SelectPath(right);
  ASSERT_TRUE(filled(w->PTShellList2, right));
  w->layouts().markActivePair(1);
  const int width = leftWidth();

  key(Qt::Key_F11);
  EXPECT_TRUE(w->layouts().treeListView());
  EXPECT_TRUE(w->PTSplitter2->isHidden());
  EXPECT_TRUE(w->Panel1->isHidden());
  EXPECT_TRUE(w->animate1->isHidden() && w->animate2->isHidden());
  EXPECT_TRUE(filled(w->PTShellList1, right));  // the active second pair's folder, in the one pair left
  EXPECT_EQ(w->PTSplitter1->width(), w->RxSplitter1->width());
  EXPECT_TRUE(w->item("Vertical")->isEnabled());
  EXPECT_FALSE(w->item("SaveNow1")->isEnabled());

  key(Qt::Key_F11);
  EXPECT_FALSE(w->layouts().treeListView());
  EXPECT_TRUE(w->layouts().dualFileManager());
  EXPECT_FALSE(w->PTSplitter2->isHidden());
  EXPECT_TRUE(w->Panel1->isHidden());
  EXPECT_TRUE(w->secondPairActive());
  EXPECT_EQ(leftWidth(), width);
  EXPECT_EQ(split(w->PTSplitter2), split(w->PTSplitter1));
  EXPECT_TRUE(w->item("SaveNow1")->isEnabled());

  // F11 then F9 leaves tree/list view first and closes the dual layout whole.
  key(Qt::Key_F11);
  key(Qt::Key_F9);
  EXPECT_FALSE(w->layouts().treeListView() || w->layouts().dualFileManager());
  EXPECT_FALSE(w->Panel1->isHidden());
  EXPECT_TRUE(w->PTSplitter2->isHidden());
  EXPECT_TRUE(menuShown("E&ditor") && menuEnabled("E&ditor"));

  // F12 in the dual layout turns both pairs; dropping one split bar moves the other.
  key(Qt::Key_F9);
  key(Qt::Key_F12);
  EXPECT_EQ(w->PTSplitter2->orientation(), Qt::Horizontal);
  EXPECT_EQ(split(w->PTSplitter2), 245);
  w->PTSplitter2->setSizes({200, 300});
  emit w->PTSplitter2->splitterMoved(200, 1);
  EXPECT_EQ(split(w->PTSplitter1), 200);
}

TEST_F(Layouts, StatusBarsOfThePairsStayApart) {
  key(Qt::Key_F9);
  w->PTShellTree2->SelectPath(right);
  ASSERT_TRUE(filled(w->PTShellList2, right));
  EXPECT_EQ(w->StatusBar3Panels[0]->text(), "1 Object(s)");
  EXPECT_EQ(w->StatusBar2Panels[0]->text(), "2 Object(s)");
  EXPECT_EQ(w->StatusBar3Panels[1]->text(), "11 Bytes");

  // A new file in the second folder: only the second pair's bar counts it.
  testenv::writeFile(right + "/b2.txt", "x");
  w->PTShellList2->Refill();
  EXPECT_TRUE(testenv::waitFor([&] { return w->StatusBar3Panels[0]->text() == "2 Object(s)"; }));
  EXPECT_EQ(w->StatusBar2Panels[0]->text(), "2 Object(s)");

  key(Qt::Key_F7);
  EXPECT_TRUE(w->StatusBar2->isHidden() && w->StatusBar3->isHidden());
  testenv::writeFile(left + "/a3.txt", "x");
  testenv::writeFile(right + "/b3.txt", "x");
  w->StatusBar2Panels[0]->clear();
  w->StatusBar3Panels[0]->clear();
  key(Qt::Key_F5);
  ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList1->itemCount() == 3 && w->PTShellList2->itemCount() == 3; }));
  key(Qt::Key_F7);
  EXPECT_FALSE(w->StatusBar2->isHidden() || w->StatusBar3->isHidden());
  EXPECT_EQ(w->StatusBar2Panels[0]->text(), "3 Object(s)");
  EXPECT_EQ(w->StatusBar3Panels[0]->text(), "3 Object(s)");
  EXPECT_EQ(w->StatusBar3Panels[1]->text(), "13 Bytes");

  // A click on the second bar refreshes the second list.
  testenv::writeFile(right + "/b4.txt", "x");
  QTest::mouseClick(w->StatusBar3, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(testenv::waitFor([&] { return w->StatusBar3Panels[0]->text() == "4 Object(s)"; }));

  // Columns: each pop-up copies the other list's widths into its own list.
  w->PTShellList2->setColumnWidth(0, 210);
  w->PTShellList2->setColumnWidth(3, 77);
  w->item("Columns1")->trigger();
  EXPECT_EQ(w->PTShellList1->columnWidth(0), 210);
  EXPECT_EQ(w->PTShellList1->columnWidth(3), 77);
  w->PTShellList1->setColumnWidth(1, 99);
  w->item("Columns2")->trigger();
  EXPECT_EQ(w->PTShellList2->columnWidth(1), 99);
}

TEST_F(Layouts, FilesMoveBetweenThePairsByClipboardKeysAndDrops) {
  key(Qt::Key_F9);
  w->PTShellTree2->SelectPath(right);
  ASSERT_TRUE(filled(w->PTShellList2, right));

  // Ctrl+C in the second list, Ctrl+V in the first: a copy into the first folder.
  QAbstractItemView *view2 = w->PTShellList2->currentView();
  pressIn(view2->viewport());
  w->PTShellList2->selectName("b1.txt");
  view2->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == view2; }));
  key(Qt::Key_C, Qt::ControlModifier);
  QAbstractItemView *view1 = w->PTShellList1->currentView();
  pressIn(view1->viewport());
  view1->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == view1; }));
  EXPECT_FALSE(w->secondPairActive());
  key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_TRUE(testenv::waitFor([&] { return QFile::exists(left + "/b1.txt"); }));
  EXPECT_TRUE(QFile::exists(right + "/b1.txt"));

  // Cut from the first list by its menu item, paste by the second list's pop-up: a move.
  w->PTShellList1->selectName("a1.txt");
  w->layouts().markActivePair(0);
  w->item("Move1")->trigger();
  w->layouts().markActivePair(1);
  w->item("Paste3")->trigger();
  EXPECT_TRUE(testenv::waitFor([&] { return QFile::exists(right + "/a1.txt") && !QFile::exists(left + "/a1.txt"); }));

  // A drag of the second list's item dropped on the first list copies it there.
  ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList2->model()->rowOfName("a1.txt") >= 0; }));
  std::unique_ptr<QMimeData> data(w->PTShellList2->model()->mimeData(
      {w->PTShellList2->model()->index(w->PTShellList2->model()->rowOfName("a1.txt"), 0)}));
  QWidget *target = view1->viewport();
  const QPoint at(target->width() / 2, target->height() - 5);
  QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(testenv::waitFor([&] { return QFile::exists(left + "/a1.txt"); }));
  EXPECT_TRUE(QFile::exists(right + "/a1.txt"));

  // Select All of the second list's pop-up selects in the second list only.
  w->PTShellList1->currentView()->clearSelection();
  ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList2->itemCount() == 2; }));
  w->item("SelectAll3")->trigger();
  EXPECT_EQ(w->PTShellList2->selectedPaths().size(), 2);
  EXPECT_TRUE(w->PTShellList1->selectedPaths().isEmpty());
}

TEST_F(Layouts, TheDualFileManagerOpensAgainAfterARestartAndLetsGoOfTheFavouritesFile) {
  const QString fav = platform::userFile("Tarnwick.Fav");
  testenv::writeFile(fav, (left + "\r\n").toUtf8());
  ASSERT_TRUE(w->LoadEditorFile(fav));
  w->LEdit1->setCursorPosition(1, 0);
  w->LEdit1->insert(right + "\r\n");
  // The unsaved list is offered for saving before the editor lets go of it.
  testenv::ModalWatcher yes([](QWidget *m) {
    if (auto *b = qobject_cast<QMessageBox *>(m)) b->button(QMessageBox::Yes)->click();
  });
  key(Qt::Key_F9);
  ASSERT_TRUE(w->layouts().dualFileManager());
  EXPECT_TRUE(w->LEdit1->FileName().isEmpty());
  EXPECT_EQ(testenv::readFile(fav), left + "\r\n" + right + "\r\n");
  EXPECT_EQ(w->Hcb1->count(), 2);

  w->PTSplitter1->setSizes({210, 400});
  emit w->PTSplitter1->splitterMoved(210, 1);
  settle();
  ASSERT_EQ(split(w->PTSplitter2), 210);
  w->close();
  w.reset();
  open();
  EXPECT_TRUE(w->layouts().dualFileManager());
  EXPECT_FALSE(w->PTSplitter2->isHidden());
  EXPECT_TRUE(w->Panel1->isHidden());
  // Both pairs come back split where they were.
  EXPECT_EQ(split(w->PTSplitter1), 210);
  EXPECT_EQ(split(w->PTSplitter2), 210);
  key(Qt::Key_F9);
  // Closed in full screen, the window comes back with its left block as wide as it was.
  w->RxSplitter1->setSizes({345, 900, 0});
  settle();
  const int width = leftWidth();
  key(Qt::Key_F6);
  w->close();
  w.reset();
  open();
  EXPECT_FALSE(w->layouts().dualFileManager());
  EXPECT_TRUE(w->PTSplitter2->isHidden());
  EXPECT_EQ(leftWidth(), width);
}

}  // namespace
