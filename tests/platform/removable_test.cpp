// Removable volumes on real FAT and exFAT file systems: images made with mkfs, mounted through FUSE and
// marked removable with the test switch, checked against the file system tools as independent readers.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <unistd.h>
#include "platform/removable.h"
#include "platform/volumes.h"
#include "tests/common/testenv.h"

namespace {

QString tool(const QString &name) {
  QString p = QStandardPaths::findExecutable(name);
  if (p.isEmpty()) p = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
  return p;
}

struct Run {
  int code = -1;
  QString out;
};

Run run(const QString &name, const QStringList &args, bool quiet = false) {
  QProcess p;
  if (quiet) p.setStandardOutputFile(QProcess::nullDevice());
  p.start(tool(name), args);
  Run r;
  if (!p.waitForFinished(60000)) return r;
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  return r;
}

QString fatlabelOf(const QString &image) { return run("fatlabel", {image}).out.trimmed(); }

QString exfatlabelOf(const QString &image) {
  for (const QString &line : run("exfatlabel", {image}).out.split('\n'))
    if (line.startsWith("label: ")) return line.mid(7).trimmed();
  return "<none>";
}

class SwitchGuard {
 public:
  explicit SwitchGuard(const QString &value) { qputenv("TARNWICK_REMOVABLE_VOLUMES", value.toUtf8()); }
  ~SwitchGuard() { qunsetenv("TARNWICK_REMOVABLE_VOLUMES"); }
};

// A small FAT image mounted through fusefat and marked removable.
class FatStick : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting FAT images through FUSE needs root here";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable, so no FAT image can be mounted";
    for (const char *t : {"fusefat", "mkfs.fat", "fatlabel", "fusermount"})
      if (tool(t).isEmpty()) GTEST_SKIP() << t << " is not installed (scripts/install-deps.sh)";
    dir_ = QFileInfo(testenv::makeDir("stick")).canonicalFilePath();
    image_ = dir_ + "/stick.img";
    root_ = dir_ + "/mnt";
    ASSERT_TRUE(QDir().mkpath(root_));
    ASSERT_EQ(run("mkfs.fat", {"-C", "-n", "OLDLABEL", image_, "2048"}).code, 0);
    // A machine may have the device but refuse FUSE mounts (a container without the right).
    if (run("fusefat", {"-o", "rw+", image_, root_}, true).code != 0) GTEST_SKIP() << "fusefat cannot mount here";
    ASSERT_TRUE(testenv::waitFor([&] { return testenv::mountedAt(root_); }, 10000)) << "fusefat did not mount " << root_.toStdString();
    switch_ = std::make_unique<SwitchGuard>(root_ + "=" + image_);
  }
  void TearDown() override {
    switch_.reset();
    if (root_.isEmpty() || !testenv::mountedAt(root_)) return;
    if (!unmount()) {
      ADD_FAILURE() << "left mounted: " << root_.toStdString();
      run("fusermount", {"-u", "-z", root_});
    }
  }
  // Unmounts until the mount is gone. Right after a file on it was closed, the FUSE daemon may not have
  // answered the kernel's release yet, and another program may be reading the volume's size as the mount
  // table changes: either makes one unmount fail as busy.
  bool unmount() {
    return testenv::waitFor(
        [&] {
          if (testenv::mountedAt(root_)) run("fusermount", {"-u", root_});
          return !testenv::mountedAt(root_);
        },
        60000);
  }

  QString dir_, image_, root_;
  std::unique_ptr<SwitchGuard> switch_;
};

TEST_F(FatStick, OnlyMarkedRootsAreRemovable) {
  EXPECT_TRUE(platform::isRemovableVolume(root_));
  EXPECT_TRUE(platform::isRemovableVolume(root_ + "/"));
  EXPECT_FALSE(platform::isRemovableVolume(platform::volumeRoot(dir_)));
  switch_.reset();
  // Without the switch the FUSE mount has no device behind it, so nothing calls it removable.
  EXPECT_FALSE(platform::isRemovableVolume(root_));
}

TEST_F(FatStick, LabelsAreSetAndReadBackByUsAndByFatlabel) {
  EXPECT_EQ(platform::readVolumeLabel(root_), "OLDLABEL");
  testenv::writeFile(root_ + "/keep.txt", "kept");
  QString error;
  ASSERT_TRUE(platform::setVolumeLabel(root_, "PKBACK# 001", &error)) << error.toStdString();
  EXPECT_EQ(platform::readVolumeLabel(root_), "PKBACK# 001");
  EXPECT_EQ(fatlabelOf(image_), "PKBACK# 001");
  // FAT keeps capitals only, as the desktop stores them.
  ASSERT_TRUE(platform::setVolumeLabel(root_, "pkback# 002", &error)) << error.toStdString();
  EXPECT_EQ(fatlabelOf(image_), "PKBACK# 002");
  EXPECT_EQ(platform::readVolumeLabel(root_), "PKBACK# 002");
  EXPECT_EQ(testenv::readFile(root_ + "/keep.txt"), "kept");
  // A set's part is written after the label: the mounted file system must not write the old one back.
  testenv::writeFile(root_ + "/PART.ZIP", QByteArray(100000, 'z'));
  ASSERT_TRUE(unmount());
  EXPECT_EQ(fatlabelOf(image_), "PKBACK# 002");
  EXPECT_EQ(platform::readVolumeLabel(root_), "PKBACK# 002");
}

TEST_F(FatStick, BadLabelsAreRefusedWithAReasonAndTheOldLabelStays) {
  const struct {
    QString label, reasonHas;
  } bad[] = {{"PKBACK# 0001", "11 characters"}, {"A/B", "\"/\""}, {"DISQUE\u00C9", "ASCII"}, {"A*B", "\"*\""}};
  for (const auto &b : bad) {
    QString error;
    EXPECT_FALSE(platform::setVolumeLabel(root_, b.label, &error)) << b.label.toStdString();
    EXPECT_TRUE(error.contains(b.reasonHas)) << b.label.toStdString() << ": " << error.toStdString();
  }
  EXPECT_EQ(platform::readVolumeLabel(root_), "OLDLABEL");
  EXPECT_EQ(fatlabelOf(image_), "OLDLABEL");
  testenv::writeFile(root_ + "/keep.txt", "kept");
  QString newRoot, error;
  EXPECT_EQ(platform::formatVolume(root_, "PKBACK# 0001", &newRoot, &error), platform::FormatResult::Failed);
  EXPECT_TRUE(error.contains("11 characters")) << error.toStdString();
  EXPECT_EQ(testenv::readFile(root_ + "/keep.txt"), "kept") << "the volume was formatted despite the bad label";
}

TEST_F(FatStick, FormatLeavesAnEmptyMountedVolumeWithTheLabel) {
  testenv::writeFile(root_ + "/old.txt", "old contents");
  ASSERT_TRUE(QDir().mkpath(root_ + "/SUB"));
  testenv::writeFile(root_ + "/SUB/deep.txt", "deep");
  platform::MountWatcher watcher;
  QSignalSpy removed(&watcher, &platform::MountWatcher::removed), arrived(&watcher, &platform::MountWatcher::arrived);
  QString newRoot, error;
  ASSERT_EQ(platform::formatVolume(root_, "PKBACK# 002", &newRoot, &error), platform::FormatResult::Done) << error.toStdString();
  EXPECT_EQ(newRoot, root_);
  EXPECT_TRUE(testenv::mountedAt(root_));
  EXPECT_EQ(fatlabelOf(image_), "PKBACK# 002");
  EXPECT_EQ(platform::readVolumeLabel(root_), "PKBACK# 002");
  // fusefat lists the label entry as an empty file ("PKBACK#.002"); nothing else may be left.
  for (const QFileInfo &e : QDir(root_).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    const bool labelEntry = e.isFile() && e.size() == 0 && e.fileName().remove('.').remove(' ') == "PKBACK#002";
    EXPECT_TRUE(labelEntry) << "left on the formatted volume: " << e.fileName().toStdString();
  }
  // The new file system takes files.
  testenv::writeFile(root_ + "/new.txt", "new");
  EXPECT_EQ(testenv::readFile(root_ + "/new.txt"), "new");
  auto saw = [&](const QSignalSpy &spy) {
    for (const QList<QVariant> &args : spy)
      if (args.value(0).toString() == root_) return true;
    return false;
  };
  EXPECT_TRUE(testenv::waitFor([&] { return saw(removed) && saw(arrived); }, 10000))
      << "watcher saw " << removed.size() << " removals and " << arrived.size() << " arrivals";
}

TEST_F(FatStick, WhoKeepsTheVolumeBusyIsNamedUntilItLetsGo) {
  EXPECT_TRUE(platform::volumeUsers(root_).isEmpty());
  QFile held(root_ + "/held.txt");
  ASSERT_TRUE(held.open(QIODevice::WriteOnly));
  QProcess child;
  child.setWorkingDirectory(root_);
  child.start(tool("sleep"), {"600"});
  ASSERT_TRUE(child.waitForStarted());
  QStringList seen;
  bool file = false, folder = false;
  for (const platform::VolumeUser &u : platform::volumeUsers(root_)) {
    seen << QString("%1 %2 %3").arg(u.pid).arg(u.name, u.what);
    file |= u.pid == ::getpid() && u.what.contains("open file " + root_ + "/held.txt");
    folder |= u.pid == child.processId() && u.name == "sleep" && u.what == "working folder";
  }
  EXPECT_TRUE(file && folder) << seen.join("; ").toStdString();
  held.close();
  child.kill();
  child.waitForFinished();
  EXPECT_TRUE(platform::volumeUsers(root_).isEmpty());
}

// Formatting wipes a volume, so a fixed one is refused before anything is touched.
TEST(RemovableVolume, AFixedVolumeIsNeverFormatted) {
  const QString dir = testenv::makeDir("fixed");
  testenv::writeFile(dir + "/precious.txt", "precious");
  QString newRoot, error;
  EXPECT_EQ(platform::formatVolume(dir, "PKBACK# 001", &newRoot, &error), platform::FormatResult::Failed);
  EXPECT_TRUE(error.contains("not removable")) << error.toStdString();
  EXPECT_EQ(testenv::readFile(dir + "/precious.txt"), "precious");
}

// Labels of unmounted images: the reader follows the boot sector's layout, so FAT32 (root folder in a
// cluster chain) and exFAT (UTF-16 label entry) each get their own image.
TEST(RemovableVolume, Fat32AndExfatLabelsAreReadFromTheImage) {
  const QString dir = QFileInfo(testenv::makeDir("images")).canonicalFilePath();
  const QString fat32 = dir + "/big.img", exfat = dir + "/ex.img", r32 = dir + "/r32", rex = dir + "/rex";
  QDir().mkpath(r32);
  QDir().mkpath(rex);
  SwitchGuard marks(r32 + "=" + fat32 + ";" + rex + "=" + exfat);
  QString error;
  if (tool("mkfs.fat").isEmpty() || tool("fatlabel").isEmpty()) {
    ADD_FAILURE() << "dosfstools is not installed (scripts/install-deps.sh)";
  } else {
    QFile f(fat32);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(40 << 20));
    f.close();
    ASSERT_EQ(run("mkfs.fat", {"-F", "32", "-n", "BIG", fat32}).code, 0);
    EXPECT_EQ(platform::readVolumeLabel(r32), "BIG");
    ASSERT_TRUE(platform::setVolumeLabel(r32, "PKBACK# 003", &error)) << error.toStdString();
    EXPECT_EQ(platform::readVolumeLabel(r32), "PKBACK# 003");
    EXPECT_EQ(fatlabelOf(fat32), "PKBACK# 003");
    // The boot sector's copy of the label is stale on many sticks; the root folder's entry is the label.
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    for (qint64 at : {71, 6 * 512 + 71}) {  // the boot sector and its backup
      f.seek(at);
      f.write("STALECOPY  ");
    }
    f.close();
    EXPECT_EQ(fatlabelOf(fat32), "PKBACK# 003");
    EXPECT_EQ(platform::readVolumeLabel(r32), "PKBACK# 003");
  }
  if (tool("mkfs.exfat").isEmpty() || tool("exfatlabel").isEmpty()) GTEST_SKIP() << "exfatprogs is not installed";
  QFile f(exfat);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(8 << 20));
  f.close();
  ASSERT_EQ(run("mkfs.exfat", {"-L", "EXOLD", exfat}).code, 0);
  EXPECT_EQ(platform::readVolumeLabel(rex), "EXOLD");
  // exFAT keeps case and more than ASCII.
  ASSERT_TRUE(platform::setVolumeLabel(rex, "Disque \u00C9t\u00E9", &error)) << error.toStdString();
  EXPECT_EQ(platform::readVolumeLabel(rex), "Disque \u00C9t\u00E9");
  EXPECT_EQ(exfatlabelOf(exfat), "Disque \u00C9t\u00E9");
  EXPECT_FALSE(platform::setVolumeLabel(rex, "Twelve chars", &error));
  EXPECT_TRUE(error.contains("11 characters")) << error.toStdString();
  EXPECT_FALSE(platform::setVolumeLabel(rex, "a:b", &error));
  EXPECT_EQ(exfatlabelOf(exfat), "Disque \u00C9t\u00E9");
}

// Volumes that are neither FAT nor exFAT get no label and say so.
TEST(RemovableVolume, OtherFileSystemsRefuseLabelsWithAReason) {
  const QString dir = QFileInfo(testenv::makeDir("plain")).canonicalFilePath();
  const QString notFat = testenv::writeFile(dir + "/zeros.img", QByteArray(64 * 1024, '\0'));
  SwitchGuard marks(dir + "=" + notFat);
  QString error;
  EXPECT_FALSE(platform::setVolumeLabel(dir, "PKBACK# 001", &error));
  EXPECT_TRUE(error.contains("Only FAT and exFAT")) << error.toStdString();
  EXPECT_EQ(testenv::readFile(notFat), QByteArray(64 * 1024, '\0'));
  EXPECT_EQ(platform::readVolumeLabel(dir), "");
}

// A sysfs tree of our own: a USB stick calling itself fixed, an SD card, a card reader on the SATA bus
// with removable media, a floppy and a fixed SATA disk. Partitions answer for their disk.
TEST(RemovableBlockDevice, BusAndRemovableFlagDecideAndPartitionsFollowTheirDisk) {
  const QString sys = QFileInfo(testenv::makeDir("sys")).canonicalFilePath();
  auto disk = [&](const QString &devicePath, const QString &name, const char *removable, const QStringList &parts) {
    const QString node = sys + "/devices/" + devicePath + "/block/" + name;
    testenv::writeFile(node + "/removable", QByteArray(removable) + "\n");
    QDir().mkpath(sys + "/class/block");
    QDir().mkpath(sys + "/block");
    QFile::link(node, sys + "/block/" + name);
    QFile::link(node, sys + "/class/block/" + name);
    for (const QString &p : parts) {
      testenv::writeFile(node + "/" + p + "/partition", "1\n");
      QFile::link(node + "/" + p, sys + "/class/block/" + p);
    }
  };
  disk("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "sdb", "0", {"sdb1"});
  disk("platform/fe320000.mmc/mmc_host/mmc1/mmc1:aaaa", "mmcblk1", "0", {"mmcblk1p1"});
  disk("pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "sdc", "1", {"sdc1"});
  disk("platform/floppy.0", "fd0", "1", {});
  disk("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "sda", "0", {"sda1", "sda2"});
  for (const char *yes : {"sdb", "/dev/sdb1", "mmcblk1p1", "sdc1", "/dev/sdc", "fd0"})
    EXPECT_TRUE(platform::isRemovableBlockDevice(yes, sys)) << yes;
  for (const char *no : {"sda", "/dev/sda2", "sdq", ""}) EXPECT_FALSE(platform::isRemovableBlockDevice(no, sys)) << no;
}

TEST(RemovableBlockDevice, TheMachinesOwnRootIsNotRemovable) {
  QString source;
  QFile f("/proc/self/mountinfo");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  for (const QByteArray &line : f.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    const int dash = fields.indexOf("-");
    if (fields.size() > 4 && fields[4] == "/" && dash > 0 && dash + 2 < fields.size()) source = QString::fromUtf8(fields[dash + 2]);
  }
  const QString device = QFileInfo(source).canonicalFilePath();
  if (!device.startsWith("/dev/") || !QFileInfo::exists("/sys/class/block/" + QFileInfo(device).fileName()))
    GTEST_SKIP() << "the root file system here is not on a block device (" << source.toStdString() << ")";
  EXPECT_FALSE(platform::isRemovableVolume("/"));
  EXPECT_FALSE(platform::isRemovableBlockDevice(device));
}

}  // namespace
