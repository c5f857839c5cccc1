#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include "platform/paths.h"
#include "platform/savefile.h"
#include "tests/common/testenv.h"

#include <sys/stat.h>

TEST(Paths, UserFolderLivesUnderTheTestsConfigHomeAndIsCreated) {
  const QString folder = platform::userFolder();
  EXPECT_EQ(folder, testenv::root() + "/config/tarnwick");
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_EQ(platform::userFile("Tarnwick.Fav"), folder + "/Tarnwick.Fav");
}

// The per-user folder holds the FTP site passwords: only its owner may look into it, whether it is made
// now or was made wider before.
TEST(Paths, UserFolderIsItsOwnersAlone) {
  const auto mode = [](const QString &p) {
    struct stat st {};
    return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? QString::number(st.st_mode & 07777, 8) : QStringLiteral("missing");
  };
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  const QString fresh = testenv::makeDir("freshconfig");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(fresh));
  const mode_t oldMask = ::umask(022);
  const QString made = platform::userFolder();
  EXPECT_EQ(made, fresh + "/tarnwick");
  EXPECT_EQ(mode(made), "700");
  ASSERT_EQ(::chmod(QFile::encodeName(made).constData(), 0755), 0);
  EXPECT_EQ(mode(platform::userFile("Tarnwick.Ftp").section(QLatin1Char('/'), 0, -2)), "700");
  ::umask(oldMask);
  qputenv("XDG_CONFIG_HOME", saved);
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

  // The streaming save: a write the disk refuses says so, and the target stays as it was.
  for (int size : {1000, 100000}) {
    {
      platform::StreamingSave out(path);
      ASSERT_TRUE(out.open());
      testenv::DiskFullAbove full(100);
      ASSERT_TRUE(full.ok());
      EXPECT_FALSE(out.write(QByteArray(size, 'y')) && out.commit()) << size;
    }
    EXPECT_EQ(testenv::readFile(path), "new");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.txt"});
  }
  {
    platform::StreamingSave out(path, 0600);
    ASSERT_TRUE(out.open());
    ASSERT_TRUE(out.write("streamed ") && out.write(QByteArray("whole")));
    EXPECT_EQ(testenv::readFile(path), "new");  // nothing shows before the commit
    ASSERT_TRUE(out.commit());
  }
  EXPECT_EQ(testenv::readFile(path), "streamed whole");
  EXPECT_EQ(QFile::permissions(path), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}
