#include <gtest/gtest.h>
#include <QFile>
#include "platform/autostart.h"
#include "platform/instancechannel.h"
#include "platform/instancelock.h"
#include <QFileInfo>
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

namespace {
// A later start in a process of its own (tests/platform/instance_probe.cpp); its exit code, -1 when it hung.
int handOver(const QString &name, const QStringList &arguments, QStringList *received,
             platform::InstanceServer *server) {
  QProcess p;
  if (server)
    QObject::connect(server, &platform::InstanceServer::received, &p,
                     [received](const QStringList &a) { *received = a; });
  p.start(testenv::binDir() + "/instance_probe", QStringList{name} + arguments);
  // The server answers on this event loop, so the loop runs while the probe waits.
  if (!testenv::waitFor([&] { return p.state() == QProcess::NotRunning && (!server || !received->isEmpty()); },
                        15000)) {
    p.kill();
    p.waitForFinished();
    return -1;
  }
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
}  // namespace

TEST(InstanceChannel, ALaterStartHandsItsArgumentsToTheRunningCopy) {
  platform::InstanceServer server("tarnwick-chan");
  EXPECT_EQ(server.path(), testenv::root() + "/runtime/tarnwick-chan.socket");
  ASSERT_TRUE(server.listen());
  QStringList received;
  EXPECT_EQ(handOver("tarnwick-chan", {"/some folder/with blanks", "/ä/ö.txt"}, &received, &server), 0);
  EXPECT_EQ(received, (QStringList{"/some folder/with blanks", "/ä/ö.txt"}));
  // The socket is the user's alone.
  EXPECT_FALSE(QFileInfo(server.path()).permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther));
  // Another name does not reach this copy.
  EXPECT_EQ(handOver("tarnwick-other", {"/x"}, nullptr, nullptr), 1);
}

TEST(InstanceChannel, NoRunningCopyMeansNoHandOverAndALeftSocketIsReplaced) {
  EXPECT_EQ(handOver("tarnwick-none", {"/x"}, nullptr, nullptr), 1);
  // A copy that died left its socket file: the next holder of the lock listens there all the same.
  testenv::writeFile(platform::instanceChannelPath("tarnwick-left"), "");
  EXPECT_EQ(handOver("tarnwick-left", {"/x"}, nullptr, nullptr), 1);
  platform::InstanceServer server("tarnwick-left");
  ASSERT_TRUE(server.listen());
  QStringList received;
  EXPECT_EQ(handOver("tarnwick-left", {"/y"}, &received, &server), 0);
  EXPECT_EQ(received, QStringList{"/y"});
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
