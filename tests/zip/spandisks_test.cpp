// A spanned set on removable disks: floppy-sized FAT images mounted through FUSE stand in for the disks,
// each at a root of its own as the desktop mounts sticks, and the disk question swaps them.
#include <gtest/gtest.h>

#include "platform/removable.h"
#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/zipmaster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <map>
#include <memory>
#include <unistd.h>

using testenv::readFile;

namespace {

int runTool(const QString &name, const QStringList &args, QString *out = nullptr) {
  QProcess p;
  p.start(QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}), args);
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return -1;
  }
  if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// How long a mount or an unmount may take on a loaded machine; the waits end as soon as it is done.
constexpr int kMountBudgetMs = 60000;

QString tool(const char *name) { return QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}); }

QString usersText(const QList<platform::VolumeUser> &users) {
  QStringList out;
  for (const auto &u : users) out << QString("%1 (pid %2: %3)").arg(u.name).arg(u.pid).arg(u.what);
  return out.join("; ");
}

// Three floppies and the one drive they go into, one at a time.
struct Floppies : ::testing::Test {
  QString dir;
  QStringList images, roots;
  int inserted = -1;
  QStringList asked;
  // The file system of each disk put in by the test: fusefat in the foreground.
  std::map<int, std::unique_ptr<QProcess>> daemons;
  // Takes out every disk once this process ends, however it ends (a crash, a test timeout's kill): it waits
  // for the end of its input, which this process holds open.
  QProcess watchdog;

  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting FAT images through FUSE needs root here";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable, so no FAT image can be mounted";
    for (const char *t : {"fusefat", "mkfs.fat", "fatlabel", "fusermount"})
      if (tool(t).isEmpty()) GTEST_SKIP() << t << " is not installed (scripts/install-deps.sh)";
    dir = QFileInfo(testenv::makeDir("floppies")).canonicalFilePath();
    QStringList marks;
    for (int i = 0; i < 3; ++i) {
      images << dir + QString("/disk%1.img").arg(i + 1);
      roots << dir + QString("/media/disk%1").arg(i + 1);
      QDir().mkpath(roots.back());
      ASSERT_EQ(runTool("mkfs.fat", {"-C", "-n", "BLANK", images.back(), "1440"}), 0);
      marks << roots.back() + "=" + images.back();
    }
    qputenv("TARNWICK_REMOVABLE_VOLUMES", marks.join(';').toUtf8());
    watchdog.setStandardOutputFile(QProcess::nullDevice());
    watchdog.setStandardErrorFile(QProcess::nullDevice());
    watchdog.start("/bin/sh", QStringList{"-c", "trap '' INT TERM HUP; read _; for r; do \"$0\" -u -z \"$r\"; done",
                                          tool("fusermount")} + roots);
    ASSERT_TRUE(watchdog.waitForStarted());
    // A machine may have the device but refuse FUSE mounts (a container without the right): then no disk.
    if (!mount(0)) GTEST_SKIP() << "fusefat cannot mount here";
    inserted = 0;
  }
  // Every disk comes out, whatever the test did or where it stopped: no mount outlives the test.
  void TearDown() override {
    qunsetenv("TARNWICK_REMOVABLE_VOLUMES");
    inserted = -1;
    for (const QString &root : roots) {
      if (!testenv::mountedAt(root)) continue;
      if (!unmount(root)) {
        ADD_FAILURE() << root.toStdString() << " stayed busy: " << usersText(platform::volumeUsers(root)).toStdString();
        runTool("fusermount", {"-u", "-z", root});  // detached now, gone once its user lets go
      }
    }
    for (auto &[disk, daemon] : daemons)
      if (daemon->state() != QProcess::NotRunning && !daemon->waitForFinished(kMountBudgetMs)) daemon->kill();
    if (watchdog.state() != QProcess::NotRunning) {
      watchdog.closeWriteChannel();
      watchdog.waitForFinished(kMountBudgetMs);
    }
  }
  bool mount(int i) {
    // The disk's last file system ends once its volume is gone.
    if (auto &old = daemons[i]; old && old->state() != QProcess::NotRunning && !old->waitForFinished(kMountBudgetMs))
      old->kill();
    auto p = std::make_unique<QProcess>();
    p->setProgram(tool("fusefat"));
    p->setArguments({"-f", "-o", "rw+", images[i], roots[i]});
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(dir + QString("/fusefat%1.log").arg(i + 1), QIODevice::Append);
    p->start();
    if (!p->waitForStarted(kMountBudgetMs)) return false;
    QProcess *daemon = p.get();
    daemons[i] = std::move(p);
    return testenv::waitFor([&] { return testenv::mountedAt(roots[i]) || daemon->state() == QProcess::NotRunning; },
                            kMountBudgetMs) &&
           testenv::mountedAt(roots[i]);
  }
  // Unmounts until the mount is gone. This process holds nothing there: a disk the component wrote can be
  // taken out. But right after a part was closed the FUSE daemon may not have answered the kernel's release
  // yet, and another program may be reading every volume's size as the mount table changes (a file
  // manager's mount watcher): either makes one unmount fail as busy, and a later one goes through.
  bool unmount(const QString &root) {
    for (const auto &u : platform::volumeUsers(root))
      EXPECT_NE(u.pid, qint64(::getpid())) << "this process keeps " << root.toStdString() << " busy: " << u.what.toStdString();
    return testenv::waitFor(
        [&] {
          if (!testenv::mountedAt(root)) return true;
          runTool("fusermount", {"-u", root});
          return !testenv::mountedAt(root);
        },
        kMountBudgetMs);
  }
  void eject() {
    if (inserted < 0) return;
    const QString root = roots[inserted];
    inserted = -1;
    EXPECT_TRUE(unmount(root)) << root.toStdString() << " stayed busy: " << usersText(platform::volumeUsers(root)).toStdString();
  }
  void insert(int i) {
    if (inserted == i) return;
    eject();
    ASSERT_TRUE(mount(i)) << "fusefat could not mount " << images[i].toStdString();
    inserted = i;
  }
  // An archive of count members of 1,000,000 random bytes, made by python's zipfile.
  QString randomZip(int count) {
    QByteArray data(1000000, Qt::Uninitialized);
    const QString src = testenv::makeDir("floppysrc");
    for (int i = 0; i < count; ++i) {
      QRandomGenerator(i + 1).fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
      testenv::writeFile(src + QString("/m%1.bin").arg(i), data);
    }
    const QString zip = testenv::makeDir("floppyzip") + "/src.zip";
    const auto r = peers::run("/usr/bin/python3", {"-c",
                                                   "import sys,zipfile,os\n"
                                                   "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                                                   "[z.write(os.path.join(sys.argv[2],f),f) for f in sorted(os.listdir(sys.argv[2]))]\n",
                                                   zip, src});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    return zip;
  }
  QString labelOf(int disk) {
    QString label;
    runTool("fatlabel", {images[disk]}, &label);
    return label;
  }
  // Answers the component's disk questions by putting in the disk asked for.
  void answerDisks(TZipMaster &zm) {
    QObject::connect(&zm, &TZipMaster::DiskRequested, [this](const QString &text, int, QString *root, bool *ok) {
      asked << text;
      static const QRegularExpression volume("volume (\\d+)");
      const auto m = volume.match(text);
      const int wanted = text.startsWith("Please insert last disk") ? 2 : m.captured(1).toInt() - 1;
      *ok = wanted >= 0 && wanted < 3;
      if (!*ok) return;
      insert(wanted);
      *root = roots[wanted];
    });
  }
};

}  // namespace

TEST_F(Floppies, ASetGoesOnePartPerLabelledDiskAndJoinsBackAcrossThem) {
  // 3,000,000 bytes of members that do not compress, so the set needs every disk.
  const QString zip = randomZip(3);
  TZipMaster zm;
  zm.setMinFreeVolumeSize(0);
  // The FUSE file system does not tell its size: the part size is what the disk holds.
  zm.setMaxVolumeSize(1400000);
  answerDisks(zm);
  ASSERT_EQ(zm.WriteSpan(zip, roots[0] + "/backup.zip"), 0) << zm.LastMessage().toStdString();
  ASSERT_GE(asked.size(), 3);
  EXPECT_EQ(asked[0], "Please insert disk volume 1 of 3\nin drive: " + roots[0]);
  EXPECT_TRUE(asked[1].startsWith("Please insert disk volume 2 of 3")) << asked[1].toStdString();
  eject();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(labelOf(i), QString("PKBACK# 00%1").arg(i + 1));  // the file system's own tool

  // Joining starts from the last disk, asks for the directory's and then every disk from the first.
  asked.clear();
  insert(2);
  QString joined = testenv::makeDir("floppyjoin") + "/";
  ASSERT_EQ(zm.ReadSpan(roots[2] + "/backup.zip", joined), 0) << zm.LastMessage().toStdString();
  EXPECT_TRUE(asked.contains("Please insert disk volume 1 of 3\nin drive: " + roots[2])) << asked.join('|').toStdString();
  EXPECT_EQ(readFile(joined), readFile(zip));

  // Cancel in a disk question ends the span quietly, with no message box.
  QStringList boxes;
  QObject::connect(&zm, &TZipMaster::MessageBoxRequested, [&](const QString &t) { boxes << t; });
  TZipMaster quiet;
  quiet.setMinFreeVolumeSize(0);
  QObject::connect(&quiet, &TZipMaster::MessageBoxRequested, [&](const QString &t) { boxes << t; });
  EXPECT_EQ(quiet.WriteSpan(zip, roots[2] + "/other.zip"), -7);  // nobody answers: Cancel
  EXPECT_EQ(quiet.ErrorCode(), 11007);
  EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
  EXPECT_FALSE(QFileInfo::exists(roots[2] + "/other.zip"));
}

TEST_F(Floppies, ErasingAsksFirstThenFormatsEachDiskWithItsLabel) {
  const QString zip = randomZip(2);
  testenv::writeFile(roots[0] + "/old.txt", "old");
  TZipMaster zm;
  zm.setMinFreeVolumeSize(0);
  zm.setMaxVolumeSize(1400000);
  zm.setAddOptions(TZipMaster::AddDiskSpanErase);
  answerDisks(zm);
  QStringList questions;
  QObject::connect(&zm, &TZipMaster::QuestionRequested,
                   [&](const QString &, const QString &text, int, int, int, int *answer) {
                     questions << text;
                     *answer = TZipMaster::BtnCancel;
                   });
  EXPECT_EQ(zm.WriteSpan(zip, roots[0] + "/backup.zip"), -7);
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].startsWith("Format the disk in " + roots[0])) << questions[0].toStdString();
  EXPECT_EQ(readFile(roots[0] + "/old.txt"), QByteArray("old"));  // cancelled before anything was erased

  zm.setConfirmErase(false);
  ASSERT_EQ(zm.WriteSpan(zip, roots[0] + "/backup.zip"), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(questions.size(), 1);
  EXPECT_EQ(labelOf(1), "PKBACK# 002");
  insert(0);
  EXPECT_FALSE(QFileInfo::exists(roots[0] + "/old.txt"));
  EXPECT_EQ(labelOf(0), "PKBACK# 001");
  QString joined = testenv::makeDir("erasejoin") + "/j.zip";
  insert(1);
  ASSERT_EQ(zm.ReadSpan(roots[1] + "/backup.zip", joined), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(readFile(joined), readFile(zip));
}
