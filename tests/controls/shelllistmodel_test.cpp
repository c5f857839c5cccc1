#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>
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
  EXPECT_TRUE(testenv::waitFor([&] { return tree.SelectedPath() == base; }, 10000))
      << tree.SelectedPath().toStdString();
  EXPECT_TRUE(testenv::waitFor([&] { return list.FolderPath() == base; }));
}

namespace {
QImage iconImage(const TShellListModel &m, const QString &name) {
  const QIcon icon = m.data(m.index(m.rowOfName(name), TShellListModel::NameCol), Qt::DecorationRole).value<QIcon>();
  return icon.isNull() ? QImage() : icon.pixmap(16, 16).toImage();
}
}  // namespace

// Every kind of entry gets an icon of its own type: by name, by content when the name says nothing (read
// later, off the window's thread), and never by reading what could block (a pipe) or does not exist.
TEST(ShellListModel, IconsFollowTheTypeByNameThenByContentAndNeverBlock) {
  const QString dir = testenv::makeDir("icons");
  testenv::writeFile(dir + "/notes.txt", "text");
  testenv::writeFile(dir + "/picture.png", "not really a picture");  // the name decides, not the bytes
  testenv::writeFile(dir + "/snapshot", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"));  // PNG bytes, no name
  testenv::writeFile(dir + "/blob", QByteArray::fromHex("13fe0042990007ee").repeated(8));          // no known type
  QDir().mkpath(dir + "/folder");
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600), 0);
  QFile::link(dir + "/missing", dir + "/dangling");
  TShellListModel m;
  ASSERT_TRUE(fill(m, dir));
  const QImage txt = iconImage(m, "notes.txt"), png = iconImage(m, "picture.png"), folder = iconImage(m, "folder");
  ASSERT_FALSE(txt.isNull());
  ASSERT_FALSE(png.isNull());
  ASSERT_FALSE(folder.isNull());
  EXPECT_NE(txt, png);
  EXPECT_NE(txt, folder);
  EXPECT_NE(png, folder);
  const QImage plain = iconImage(m, "blob");
  EXPECT_FALSE(plain.isNull());
  EXPECT_FALSE(iconImage(m, "pipe").isNull());
  EXPECT_FALSE(iconImage(m, "dangling").isNull());
  // The nameless PNG shows the plain icon until its bytes are read, then the picture icon, with a repaint.
  QSignalSpy repaint(&m, &QAbstractItemModel::dataChanged);
  (void)iconImage(m, "snapshot");
  EXPECT_TRUE(testenv::waitFor([&] { return iconImage(m, "snapshot") == png; })) << "content type not applied";
  EXPECT_TRUE(testenv::waitFor([&] { return repaint.count() >= 1; }));
  EXPECT_EQ(iconImage(m, "blob"), plain);
  // Icons are kept per type: a second file of a type gets the very same icon.
  testenv::writeFile(dir + "/more.txt", "x");
  m.refill();
  ASSERT_TRUE(testenv::waitFor([&] { return m.rowOfName("more.txt") >= 0; }));
  const auto icon = [&](const QString &n) {
    return m.data(m.index(m.rowOfName(n), 0), Qt::DecorationRole).value<QIcon>().cacheKey();
  };
  EXPECT_EQ(icon("more.txt"), icon("notes.txt"));
  // The tree's folders wear the same folder icon as the list's.
  TPTShellTree tree;
  ASSERT_TRUE(tree.SelectPath(dir + "/folder"));
  EXPECT_TRUE(testenv::waitFor(
      [&] { return tree.currentIndex().data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage() == folder; }));
}

// A sort moves the items, and the selection must move with them: a Delete after a click on a column header
// takes the files the user picked. Names equal but for case keep a strict order both ways.
TEST(ShellList, SortingKeepsTheSelectedItemsSelected) {
  const QString dir = testenv::makeDir("sortsel");
  const char *names[] = {"b.txt", "A.txt", "a.txt", "c.dat", "B.TXT"};
  int size = 1;
  for (const char *n : names) testenv::writeFile(dir + "/" + n, QByteArray(size++ * 10, 'x'));
  QDir().mkdir(dir + "/folder");
  TPTShellList list;
  list.setFolderPath(dir);
  ASSERT_TRUE(testenv::waitFor([&] { return !list.model()->isLoading() && list.itemCount() == 6; }));
  list.selectNames({"a.txt", "c.dat"}, "c.dat");
  const auto selected = [&] {
    QStringList out;
    for (int row : list.selectedRows()) out << list.ItemFileName(row);
    out.sort();
    return out;
  };
  ASSERT_EQ(selected(), QStringList({"a.txt", "c.dat"}));
  for (int col = 0; col < 4; ++col)
    for (Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
      SCOPED_TRACE(col * 10 + order);
      list.sortBy(col, order);
      EXPECT_EQ(selected(), QStringList({"a.txt", "c.dat"}));
      EXPECT_EQ(list.ItemFileName(list.Selected()), "c.dat");
      EXPECT_EQ(list.ItemFileName(0), "folder");
    }
  list.sortBy(1, Qt::AscendingOrder);
  QStringList up, down;
  for (int r = 1; r < list.itemCount(); ++r) up << list.ItemFileName(r);
  list.sortBy(1, Qt::DescendingOrder);
  for (int r = list.itemCount() - 1; r >= 1; --r) down << list.ItemFileName(r);
  EXPECT_EQ(up, down);
}

// A click picks the item in every view style: the icon views select cells, and a selection of only the name
// column once counted as nothing selected (no viewer followed the click, copy had nothing to copy).
TEST(ShellList, AClickSelectsTheItemInEveryViewStyle) {
  const QString dir = testenv::makeDir("clickviews");
  for (const char *n : {"a.txt", "b.txt", "c.txt"}) testenv::writeFile(dir + "/" + n, "x");
  TPTShellList list;
  list.resize(600, 400);
  list.show();
  list.setFolderPath(dir);
  ASSERT_TRUE(testenv::waitFor([&] { return !list.model()->isLoading() && list.itemCount() == 3; }));
  int clicks = 0;
  QObject::connect(&list, &TPTShellList::OnClick, [&] { ++clicks; });
  for (int style = 0; style < 4; ++style) {
    SCOPED_TRACE(style);
    list.setViewStyle(style);
    QAbstractItemView *v = list.currentView();
    v->doItemsLayout();  // the icon views lay out later, in batches
    v->selectionModel()->clear();
    const auto clickOn = [&](const char *name, Qt::KeyboardModifiers mods) {
      const QModelIndex at = list.model()->index(list.model()->rowOfName(name), 0);
      QTest::mouseClick(v->viewport(), Qt::LeftButton, mods, v->visualRect(at).center());
    };
    clickOn("b.txt", {});
    EXPECT_EQ(list.ItemFileName(list.Selected()), "b.txt");
    clickOn("c.txt", Qt::ControlModifier);
    EXPECT_EQ(list.selectedPaths(), QStringList({dir + "/b.txt", dir + "/c.txt"}));
    EXPECT_EQ(clicks, 2 * (style + 1));
  }
}
