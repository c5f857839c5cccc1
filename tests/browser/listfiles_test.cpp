// The list files' line ends, kept bytes and safe rewrite; the favourites' adding rule.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include "browser/listfiles.h"
#include "tests/common/testenv.h"

namespace {

QStringList textsOf(const QString &file) {
  QList<browser::ListEntry> entries;
  EXPECT_TRUE(browser::readListFile(file, entries));
  return browser::entryTexts(entries);
}

}  // namespace

TEST(ListFiles, ReadsAnyLineEndKeepsBytesAndRewritesWithCrLf) {
  const QString dir = testenv::makeDir("lists");
  // CR LF, LF alone, CR alone, blank lines of each kind, and no line end after the last line.
  const QString file = testenv::writeFile(dir + "/mixed", "/a b\r\n/c\n\n/d\r\r\n \r\n/e\r/F g");
  EXPECT_EQ(textsOf(file), (QStringList{"/a b", "/c", "/d", "/e", "/F g"}));
  EXPECT_EQ(textsOf(dir + "/missing"), QStringList{});
  EXPECT_EQ(textsOf(testenv::writeFile(dir + "/empty", "")), QStringList{});

  // A Latin-1 byte is not UTF-8: its line comes back byte for byte when the file is rewritten with a new entry.
  const QByteArray latin1 = "/home/caf\xe9";
  testenv::writeFile(file, latin1 + "\n/zz");
  QList<browser::ListEntry> entries;
  ASSERT_TRUE(browser::readListFile(file, entries));
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0].raw, latin1);
  entries << browser::entryFromText(QStringLiteral("/né"));
  ASSERT_TRUE(browser::writeListFile(file, entries));
  EXPECT_EQ(testenv::readFile(file), latin1 + "\r\n/zz\r\n/n\xc3\xa9\r\n");
  ASSERT_TRUE(browser::writeListFile(file, QList<QByteArray>{}));
  EXPECT_EQ(testenv::readFile(file), "");
}

TEST(ListFiles, FailedWriteLeavesThePreviousFileWhole) {
  const QString dir = testenv::makeDir("lists");
  QString error;
  // Under a plain file no folder can be made, whoever runs the test.
  const QString blocker = testenv::writeFile(dir + "/plain", "x");
  EXPECT_FALSE(browser::writeListFile(blocker + "/Tarnwick.Fav", QList<QByteArray>{"/a"}, &error));
  EXPECT_FALSE(error.isEmpty());

  // A disk that fills up half way (a file size limit, which binds root too): the old file stays as it was
  // and no temporary is left beside it.
  const QString file = testenv::writeFile(dir + "/Tarnwick.Fav", "/old\r\n");
  QList<QByteArray> many;
  for (int i = 0; i < 250; ++i) many << "/a/long/enough/folder/name/" + QByteArray::number(i);
  error.clear();
  bool written = true;
  {
    testenv::DiskFullAbove full(4096);
    ASSERT_TRUE(full.ok());
    written = browser::writeListFile(file, many, &error);
  }
  EXPECT_FALSE(written);
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(testenv::readFile(file), "/old\r\n");
  EXPECT_EQ(QDir(dir).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase), (QStringList{"plain", "Tarnwick.Fav"}));
}

TEST(ListFiles, AddingAFavouriteKeepsCaseFindsExactDuplicatesAndSorts) {
  // Entries from a hand-edited file, not in order and with one odd line: they are written as they are.
  QList<browser::ListEntry> entries{browser::entryFromBytes("/zeta"), browser::entryFromBytes("/Home/Old  Stuff"),
                                    browser::entryFromBytes("/alpha")};
  EXPECT_FALSE(browser::addFavourite(entries, QString()));
  EXPECT_EQ(entries.size(), 3);
  ASSERT_TRUE(browser::addFavourite(entries, QStringLiteral("/home/My Folder")));
  EXPECT_EQ(browser::entryTexts(entries), (QStringList{"/alpha", "/home/My Folder", "/Home/Old  Stuff", "/zeta"}));
  EXPECT_FALSE(browser::addFavourite(entries, QStringLiteral("/home/My Folder")));
  // Another case is another folder on this system.
  ASSERT_TRUE(browser::addFavourite(entries, QStringLiteral("/HOME/MY FOLDER")));
  ASSERT_TRUE(browser::addFavourite(entries, QStringLiteral("/home/old  stuff")));
  EXPECT_EQ(browser::entryTexts(entries), (QStringList{"/alpha", "/HOME/MY FOLDER", "/home/My Folder", "/Home/Old  Stuff",
                                                       "/home/old  stuff", "/zeta"}));
  EXPECT_EQ(entries[1].raw, QByteArray("/HOME/MY FOLDER"));
}
