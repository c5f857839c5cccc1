#include <gtest/gtest.h>
#include <QFile>
#include "platform/autostart.h"
#include "platform/instancelock.h"
#include "platform/volumes.h"
#include <QProcess>
#include "tests/common/testenv.h"

TEST(InstanceLock, SecondHolderOfTheSameNameIsRefusedUntilTheFirstGoes) {
  auto first = std::make_unique<platform::InstanceLock>("tarnwick");
  ASSERT_TRUE(first->tryLock());
  EXPECT_TRUE(first->path().startsWith(testenv::root() + "/runtime/"));
  platform::InstanceLock second("tarnwick");
  EXPECT_FALSE(second.tryLock());
  platform::InstanceLock otherName("tarnwick-copy");
  EXPECT_TRUE(otherName.tryLock());
  first.reset();
  platform::InstanceLock third("tarnwick");
  EXPECT_TRUE(third.tryLock());
}

TEST(Autostart, TurningOnWritesTheProgramPathAndOffRemovesIt) {
  const QString entry = platform::autostartEntryPath("Tarnwick");
  EXPECT_EQ(entry, testenv::root() + "/config/autostart/tarnwick.desktop");
  EXPECT_FALSE(platform::autostartEnabled("Tarnwick"));
  ASSERT_TRUE(platform::setAutostart("Tarnwick", true, "/opt/my apps/tarnwick"));
  EXPECT_TRUE(platform::autostartEnabled("Tarnwick"));
  EXPECT_TRUE(testenv::readFile(entry).contains("Exec=\"/opt/my apps/tarnwick\""));
  ASSERT_TRUE(platform::setAutostart("Tarnwick", false, QString()));
  EXPECT_FALSE(QFile::exists(entry));
  EXPECT_FALSE(platform::autostartEnabled("Tarnwick"));
  EXPECT_FALSE(platform::setAutostart("", true, "/x"));  // nothing is done without a name
}

TEST(MountWatcher, ReportsANewMountAndItsRemoval) {
  const QString dir = testenv::makeDir("mnt");
  platform::MountWatcher watcher;
  QStringList arrived, removed;
  QObject::connect(&watcher, &platform::MountWatcher::arrived, [&](const QString &r) { arrived << r; });
  QObject::connect(&watcher, &platform::MountWatcher::removed, [&](const QString &r) { removed << r; });
  if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "none", dir}) != 0)
    GTEST_SKIP() << "mounting is not allowed here";
  EXPECT_TRUE(testenv::waitFor([&] { return arrived.contains(dir); }, 5000));
  EXPECT_FALSE(platform::volumeOf(dir).cdrom);
  QProcess::execute("umount", {dir});
  EXPECT_TRUE(testenv::waitFor([&] { return removed.contains(dir); }, 5000));
}

TEST(Volumes, CdromIsToldByFileSystemOrDevice) {
  EXPECT_TRUE(platform::isCdromVolume("iso9660", "/dev/loop0"));
  EXPECT_TRUE(platform::isCdromVolume("UDF", "/dev/sdb1"));
  EXPECT_TRUE(platform::isCdromVolume("ext4", "/dev/sr0"));
  EXPECT_FALSE(platform::isCdromVolume("ext4", "/dev/sda1"));
}
