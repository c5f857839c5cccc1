// A spanned set on removable disks: floppy-sized FAT images mounted through FUSE stand in for the disks,
// each at a root of its own as the desktop mounts sticks, and the disk question swaps them.
#include <gtest/gtest.h>

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
#include <unistd.h>

using testenv::readFile;

namespace {

int runTool(const QString &name, const QStringList &args, QString *out = nullptr) {
  QProcess p;
  p.start(QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}), args);
  if (!p.waitForFinished(60000)) return -1;
  if (out) *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Three floppies and the one drive they go into, one at a time.
struct Floppies : ::testing::Test {
  QString dir;
  QStringList images, roots;
  int inserted = -1;
  QStringList asked;
  QString answerRootFor(const QString &text);

  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting FAT images through FUSE needs root here";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable, so no FAT image can be mounted";
    for (const char *t : {"fusefat", "mkfs.fat", "fatlabel", "fusermount"})
      if (QStandardPaths::findExecutable(t, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}).isEmpty())
        GTEST_SKIP() << t << " is not installed (scripts/install-deps.sh)";
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
    // A machine may have the device but refuse FUSE mounts (a container without the right): then no disk.
    if (runTool("fusefat", {"-o", "rw+", images[0], roots[0]}) != 0) GTEST_SKIP() << "fusefat cannot mount here";
    ASSERT_TRUE(testenv::waitFor([&] { return testenv::mountedAt(roots[0]); }, 10000));
    inserted = 0;
  }
  void TearDown() override {
    qunsetenv("TARNWICK_REMOVABLE_VOLUMES");
    eject();
  }
  void eject() {
    if (inserted < 0) return;
    runTool("fusermount", {"-u", roots[inserted]});
    EXPECT_TRUE(testenv::waitFor([&] { return !testenv::mountedAt(roots[inserted]); }, 10000));
    inserted = -1;
  }
  void insert(int i) {
    if (inserted == i) return;
    eject();
    ASSERT_EQ(runTool("fusefat", {"-o", "rw+", images[i], roots[i]}), 0);
    ASSERT_TRUE(testenv::waitFor([&] { return testenv::mountedAt(roots[i]); }, 10000));
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
