#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include "platform/paths.h"
#include "platform/savefile.h"
#include "tests/common/testenv.h"

TEST(Paths, UserFolderLivesUnderTheTestsConfigHomeAndIsCreated) {
  const QString folder = platform::userFolder();
  EXPECT_EQ(folder, testenv::root() + "/config/tarnwick");
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(platform::userFile("Tarnwick.Fav"), folder + "/Tarnwick.Fav");
}

TEST(Paths, AppendSlashLeavesEmptyAndTerminatedPathsAlone) {
  EXPECT_EQ(platform::AppendSlash(""), "");
  EXPECT_EQ(platform::AppendSlash("/"), "/");
  EXPECT_EQ(platform::AppendSlash("/usr"), "/usr/");
  EXPECT_EQ(platform::AppendSlash("/usr/"), "/usr/");
}

// A save that cannot be completed keeps the old file, small writes included: through Qt's write buffer a
// short write used to vanish in the final flush and the cut file replaced the old one.
TEST(SaveFileAtomically, AShortWriteKeepsTheOldFileAndSaysWhy) {
  const QString dir = testenv::makeDir("save");
  const QString path = testenv::writeFile(dir + "/kept.txt", "old contents");
  for (int size : {1000, 100000}) {
    QString error;
    {
      testenv::DiskFullAbove full(100);
      ASSERT_TRUE(full.ok());
      EXPECT_FALSE(platform::saveFileAtomically(path, QByteArray(size, 'x'), &error)) << size;
    }
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(testenv::readFile(path), "old contents");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.txt"});  // no temporary left
  }
  EXPECT_TRUE(platform::saveFileAtomically(path, "new"));
  EXPECT_EQ(testenv::readFile(path), "new");
}
