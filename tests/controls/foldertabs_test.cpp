#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTest>
#include "controls/foldertabs.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "tests/common/testenv.h"

namespace {
struct Pair {
  TPTShellTree tree;
  TPTShellList list;
  TFolderTabs tabs{&list, &tree};
  Pair() { tree.setShellList(&list); }
  bool at(const QString &folder) {
    return testenv::waitFor([&] { return list.FolderPath() == folder && !list.model()->isLoading(); }, 10000);
  }
  bool go(const QString &folder) {
    tree.SelectPath(folder);
    return at(folder);
  }
  QStringList selectedNames() const {
    QStringList out;
    for (int row : list.selectedRows()) out << list.ItemFileName(row);
    out.sort();
    return out;
  }
};
}  // namespace

// Tabs share one list: a switch must bring back each tab's own folder, selection, sort and view, and its
// history, and no navigation done by the tabs themselves may count as the user's (no history entry, no
// new tab out of a locked one). The last tab never closes; closing the current one shows its neighbour.
TEST(FolderTabs, EachTabKeepsItsFolderSelectionSortViewAndHistory) {
  const QString base = testenv::makeDir("tabs");
  for (const char *d : {"a", "b", "c", "a/deep"}) QDir().mkpath(base + "/" + d);
  for (const char *f : {"a/one.txt", "a/two.txt", "a/three.txt", "b/x.txt"}) testenv::writeFile(base + "/" + f, "x");
  Pair p;
  ASSERT_TRUE(p.go(base + "/a"));
  EXPECT_TRUE(p.tabs.isHidden()) << "one tab shows no bar";
  p.list.selectNames({"one.txt", "three.txt"}, "three.txt");
  p.list.sortBy(0, Qt::DescendingOrder);
  p.list.setViewStyle(0);

  p.tabs.addFolderTab(QString());  // a second tab on the same folder, then elsewhere
  EXPECT_FALSE(p.tabs.isHidden());
  ASSERT_EQ(p.tabs.count(), 2);
  p.list.setViewStyle(3);
  p.list.sortBy(0, Qt::AscendingOrder);
  ASSERT_TRUE(p.go(base + "/b"));
  ASSERT_TRUE(p.go(base + "/c"));
  EXPECT_EQ(p.tabs.tabText(1), "c");
  EXPECT_EQ(p.tabs.tabToolTip(1), base + "/c");

  p.tabs.setCurrentIndex(0);
  ASSERT_TRUE(p.at(base + "/a"));
  EXPECT_EQ(p.list.ViewStyle(), 0);
  EXPECT_EQ(p.list.model()->sortOrder(), Qt::DescendingOrder);
  EXPECT_TRUE(testenv::waitFor([&] {
    return p.selectedNames() == QStringList({"one.txt", "three.txt"});
  })) << p.selectedNames().join(',').toStdString();
  EXPECT_FALSE(p.tabs.canGoBack()) << "the first tab went nowhere";

  p.tabs.setCurrentIndex(1);  // back and forward walk this tab's own history, and leave none behind
  ASSERT_TRUE(p.at(base + "/c"));
  EXPECT_EQ(p.list.ViewStyle(), 3);
  p.tabs.goBack();
  ASSERT_TRUE(p.at(base + "/b"));
  p.tabs.goBack();
  ASSERT_TRUE(p.at(base + "/a"));
  EXPECT_FALSE(p.tabs.canGoBack());
  p.tabs.goForward();
  ASSERT_TRUE(p.at(base + "/b"));
  EXPECT_TRUE(p.tabs.canGoForward());
  ASSERT_TRUE(p.go(base + "/a/deep"));
  EXPECT_FALSE(p.tabs.canGoForward()) << "a new folder ends the forward history";

  // A locked tab stays: going elsewhere from it opens a tab beside it.
  p.tabs.setLocked(1, true);
  ASSERT_TRUE(p.go(base + "/c"));
  ASSERT_EQ(p.tabs.count(), 3);
  EXPECT_EQ(p.tabs.currentIndex(), 2);
  EXPECT_EQ(p.tabs.folderTabs()[1].folder, base + "/a/deep");
  EXPECT_EQ(p.tabs.folderTabs()[2].folder, base + "/c");
  p.tabs.setCurrentIndex(1);  // switching back to it is no navigation away from it
  ASSERT_TRUE(p.at(base + "/a/deep"));
  EXPECT_EQ(p.tabs.count(), 3);

  // A middle click on a folder opens it behind; a folder removed meanwhile gives way to what is left.
  QWidget *viewport = p.list.currentView()->viewport();
  p.list.setViewStyle(3);
  QDir().mkpath(base + "/a/deep/inner");
  p.list.Refill();
  ASSERT_TRUE(testenv::waitFor([&] { return p.list.model()->rowOfName("inner") >= 0; }));
  const QRect r = p.list.currentView()->visualRect(p.list.model()->index(p.list.model()->rowOfName("inner"), 0));
  QTest::mouseClick(viewport, Qt::MiddleButton, {}, r.center());
  ASSERT_EQ(p.tabs.count(), 4);
  EXPECT_EQ(p.tabs.currentIndex(), 1);
  EXPECT_EQ(p.list.FolderPath(), base + "/a/deep");
  QDir(base + "/a/deep/inner").removeRecursively();
  p.tabs.setCurrentIndex(2);
  EXPECT_TRUE(p.at(base + "/a/deep")) << p.list.FolderPath().toStdString();

  while (p.tabs.count() > 1) p.tabs.closeFolderTab(p.tabs.currentIndex());
  p.tabs.closeFolderTab(0);
  EXPECT_EQ(p.tabs.count(), 1);
  EXPECT_TRUE(p.tabs.isHidden());
  EXPECT_FALSE(p.tabs.folderTabs()[0].folder.isEmpty());
}

// Saved tabs come back without the folders that are gone and without garbage from the store, and the
// folder the program starts in stays the one shown: a locked current tab keeps its own and gets a
// neighbour.
TEST(FolderTabs, SavedTabsComeBackAndTheStartFolderStaysShown) {
  const QString base = testenv::makeDir("saved");
  for (const char *d : {"one", "two", "start", "odd \"name\" \\ é"}) QDir().mkpath(base + "/" + d);
  QList<TFolderTabs::Tab> saved(4);
  saved[0].folder = base + "/one";
  saved[0].viewStyle = 1;
  saved[1].folder = base + "/gone";
  saved[2].folder = base + "/two";
  saved[2].locked = true;
  saved[2].sortOrder = Qt::DescendingOrder;
  saved[3].folder = base + "/odd \"name\" \\ é";
  int current = -1;
  const QList<TFolderTabs::Tab> back = TFolderTabs::decode(TFolderTabs::encode(saved, 2), &current);
  ASSERT_EQ(back.size(), 4);
  EXPECT_EQ(current, 2);
  EXPECT_EQ(back[3].folder, saved[3].folder);
  EXPECT_TRUE(back[2].locked);
  EXPECT_EQ(back[2].sortOrder, Qt::DescendingOrder);
  for (const char *garbage : {"", "not json", "{\"tabs\":[1,\"x\",{}],\"current\":99}", "[]"}) {
    int c = -1;
    EXPECT_TRUE(TFolderTabs::decode(garbage, &c).isEmpty()) << garbage;
    EXPECT_EQ(c, 0);
  }

  Pair p;
  ASSERT_TRUE(p.go(base + "/start"));
  p.tabs.restore(back, current, base + "/start");
  ASSERT_TRUE(p.at(base + "/start"));
  const QList<TFolderTabs::Tab> now = p.tabs.folderTabs();
  QStringList folders;
  for (const auto &t : now) folders << t.folder.mid(base.size() + 1);
  EXPECT_EQ(folders, QStringList({"one", "two", "start", "odd \"name\" \\ é"}));
  EXPECT_EQ(p.tabs.currentIndex(), 2);
  EXPECT_TRUE(now[1].locked);
  EXPECT_FALSE(now[2].locked);

  p.tabs.setCurrentIndex(0);
  ASSERT_TRUE(p.at(base + "/one"));
  EXPECT_EQ(p.list.ViewStyle(), 1);

  Pair none;  // nothing left to restore: the tabs stay as they are
  ASSERT_TRUE(none.go(base + "/start"));
  QList<TFolderTabs::Tab> gone(2);
  gone[0].folder = base + "/gone";
  gone[1].folder = base + "/gone too";
  none.tabs.restore(gone, 1, base + "/start");
  EXPECT_EQ(none.tabs.count(), 1);
  EXPECT_EQ(none.list.FolderPath(), base + "/start");
}
