#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include "controls/shelllist.h"
#include "controls/shelllistmodel.h"
#include "controls/shelltree.h"
#include "tests/common/testenv.h"

namespace {
bool fill(TShellListModel &m, const QString &dir) {
  m.setFolder(dir);
  return testenv::waitFor([&] { return !m.isLoading(); });
}
QStringList names(const TShellListModel &m) {
  QStringList out;
  for (int r = 0; r < m.rowCount(); ++r) out << m.item(r).name;
  return out;
}
}  // namespace

TEST(ShellListModel, ListsFoldersFirstWithSizesMasksAndHiddenFiles) {
  const QString dir = testenv::makeDir("list");
  testenv::writeFile(dir + "/b.txt", QByteArray(1025, 'x'));
  testenv::writeFile(dir + "/A.TXT", "");
  testenv::writeFile(dir + "/c.log", "1");
  testenv::writeFile(dir + "/.dot", "1");
  QDir().mkpath(dir + "/zfolder");
  QFile::link(dir + "/missing", dir + "/dangling");
  TShellListModel m;
  ASSERT_TRUE(fill(m, dir));
  EXPECT_EQ(names(m), (QStringList{"zfolder", ".dot", "A.TXT", "b.txt", "c.log", "dangling"}));
  EXPECT_EQ(TShellListModel::sizeText(m.item(3)), "2 KB");
  EXPECT_EQ(TShellListModel::sizeText(m.item(2)), "0 KB");
  EXPECT_EQ(TShellListModel::sizeText(m.item(0)), "");
  EXPECT_EQ(m.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Size");
  m.setFileFilter("*.txt");
  EXPECT_EQ(names(m), (QStringList{"zfolder", "A.TXT", "b.txt"}));  // masks are case-insensitive
  m.setFileFilter("*.log;*.TXT");
  EXPECT_EQ(names(m), (QStringList{"zfolder", "A.TXT", "b.txt", "c.log"}));
  m.setFileFilter("*");
  m.setShowHidden(false);
  EXPECT_FALSE(names(m).contains(".dot"));
  m.sort(TShellListModel::SizeCol, Qt::DescendingOrder);
  EXPECT_EQ(names(m).first(), "zfolder");
  EXPECT_EQ(names(m).at(1), "b.txt");
}

TEST(ShellListModel, InPlaceRenameGoesThroughTheHookAndKeepsTheOldNameWhenRefused) {
  const QString dir = testenv::makeDir("ren");
  testenv::writeFile(dir + "/one", "1");
  TShellListModel m;
  ASSERT_TRUE(fill(m, dir));
  const int one = m.rowOfName("one");
  EXPECT_FALSE(m.setData(m.index(one, 0), "uno", Qt::EditRole));  // no hook: nothing renames
  QStringList calls;
  m.setRenameHook([&](const QString &path, const QString &name) {
    calls << path + " -> " + name;
    return name != "refused" && QFile::rename(path, dir + "/" + name);
  });
  EXPECT_FALSE(m.setData(m.index(one, 0), "refused", Qt::EditRole));
  EXPECT_EQ(m.item(one).name, "one");
  EXPECT_TRUE(m.setData(m.index(one, 0), "uno", Qt::EditRole));
  EXPECT_EQ(m.item(one).name, "uno");
  EXPECT_EQ(calls, (QStringList{dir + "/one -> refused", dir + "/one -> uno"}));
  EXPECT_EQ(testenv::readFile(dir + "/uno"), "1");
}

TEST(ShellListModel, AddItemHookAndANewerFolderWinsOverAnOlderRead) {
  const QString a = testenv::makeDir("a"), b = testenv::makeDir("b");
  for (int i = 0; i < 3000; ++i) testenv::writeFile(a + QString("/f%1").arg(i), "");
  testenv::writeFile(b + "/only", "");
  QDir().mkpath(b + "/sub");
  TShellListModel m;
  m.setAddItemHook([](const TShellItem &, uint attribs) { return !(attribs & kShellAttrFolder); });
  m.setFolder(a);
  m.setFolder(b);  // the first read is superseded
  ASSERT_TRUE(testenv::waitFor([&] { return !m.isLoading(); }));
  EXPECT_EQ(m.folder(), b);
  EXPECT_EQ(names(m), QStringList{"only"});
  EXPECT_EQ(m.filePath(0), b + "/only");
}

TEST(ShellTree, AShownFolderDeletedByAnotherProgramGivesWayToItsNearestParent) {
  const QString base = testenv::makeDir("tree");
  QDir().mkpath(base + "/outer/inner");
  TPTShellTree tree;
  TPTShellList list;
  tree.setShellList(&list);
  ASSERT_TRUE(tree.SelectPath(base + "/outer/inner"));
  ASSERT_EQ(tree.SelectedPath(), base + "/outer/inner");
  // Another program removes both levels: the tree and its list move to what is left.
  ASSERT_TRUE(testenv::waitFor([&] { return !list.model()->isLoading(); }));
  QDir(base + "/outer").removeRecursively();
  EXPECT_TRUE(testenv::waitFor([&] { return tree.SelectedPath() == base; }, 10000)) << tree.SelectedPath().toStdString();
  EXPECT_TRUE(testenv::waitFor([&] { return list.FolderPath() == base; }));
}
