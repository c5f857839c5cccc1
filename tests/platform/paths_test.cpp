#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include "platform/paths.h"
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
