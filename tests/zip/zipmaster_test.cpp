// TZipMaster driving the real engines: checks before any engine call, add / list / extract / test /
// delete, busy flags, cancelling and the messages of each path.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/zipmaster.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {
QStringList names(const TZipMaster &zm) {
  QStringList out;
  for (const auto &e : zm.Entries()) out << e.FileName;
  out.sort();
  return out;
}
}  // namespace

TEST(ZipMaster, NewComponentDefaults) {
  TZipMaster zm;
  EXPECT_EQ(zm.AddCompLevel(), 9);
  EXPECT_EQ(zm.SFXOptions(), TZipMaster::SFXOptionSet(TZipMaster::SFXCheckSize));
  EXPECT_EQ(zm.SFXOverWriteMode(), TZipMaster::OvrConfirm);
  EXPECT_EQ(zm.SFXCaption(), "Self-extracting Archive");
  EXPECT_EQ(zm.MinFreeVolumeSize(), 65536);
  EXPECT_TRUE(zm.ConfirmErase());
  EXPECT_EQ(zm.CodePage(), TZipMaster::cpAuto);
  EXPECT_EQ(zm.HowToDelete(), TZipMaster::htdAllowUndo);
  EXPECT_EQ(zm.EntryCount(), 0);
}

TEST(ZipMaster, RefusalsComeBeforeAnyEngineIsLoaded) {
  TZipMaster zm;
  QSignalSpy boxes(&zm, &TZipMaster::MessageBoxRequested);
  QSignalSpy messages(&zm, &TZipMaster::OnMessage);
  zm.AddFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - no files to zip!");
  EXPECT_EQ(zm.ErrorCode(), 10301);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0][0].toInt(), 0);
  EXPECT_EQ(boxes.size(), 1);  // not unattended: a message box is asked for
  zm.setFSpecArgs({"x"});
  zm.AddFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - no zip file specified!");
  zm.setUnattended(true);
  zm.setZipFilename(makeDir("z") + "/new.zip");
  zm.setAddOptions(TZipMaster::AddEncrypt);
  zm.AddFiles();
  EXPECT_EQ(zm.LastMessage(), "Unattended action not possible without a password");
  zm.setAddOptions(TZipMaster::AddDiskSpan | TZipMaster::AddUpdate);
  zm.AddFiles();
  EXPECT_EQ(zm.LastMessage(), "AddFreshen or AddUpdate not possible on a spanned archive");
  zm.setAddOptions(TZipMaster::AddDiskSpan);
  zm.setZipFilename(makeDir("z") + "/new.exe");
  zm.AddFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - Self extracting archives(.exe) can not be spanned");
  EXPECT_EQ(zm.FSpecArgs(), QStringList{"x"});  // refusals leave the specs for another try
  zm.setFSpecArgs({});
  zm.DeleteFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - no files selected for deletion");
  zm.setFSpecArgs({"x"});
  zm.DeleteFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - no zip file specified!");
  zm.ExtractFiles();
  EXPECT_EQ(zm.LastMessage(), "Error - no zip file specified!");
  EXPECT_EQ(boxes.size(), 2);  // the two messages before Unattended was set
  EXPECT_FALSE(zm.ZipEngineLoaded());
  EXPECT_FALSE(zm.UnzipEngineLoaded());
}

TEST(ZipMaster, AddListExtractTestDelete) {
  const QString src = makeDir("src");
  const QStringList files = peers::makeTree(src);
  const QString zip = makeDir("out") + "/t.zip";
  TZipMaster zm;
  zm.setUnattended(true);
  EXPECT_EQ(zm.ZipEngineVersion(), 152);
  EXPECT_FALSE(zm.ZipEngineLoaded());
  zm.setZipFilename(zip);
  EXPECT_EQ(zm.EntryCount(), 0);
  QSignalSpy dir(&zm, &TZipMaster::OnDirUpdate);
  QSignalSpy progress(&zm, &TZipMaster::OnProgress);
  zm.setAddOptions(TZipMaster::AddDirNames | TZipMaster::AddRecurseDirs | TZipMaster::AddSeparateDirs);
  zm.setFSpecArgs({src});
  zm.AddFiles();
  EXPECT_EQ(zm.SuccessCount(), files.size()) << zm.LastMessage().toStdString();
  EXPECT_EQ(dir.size(), 1);  // listed again after success
  EXPECT_EQ(zm.EntryCount(), files.size());
  QStringList expected;
  for (const auto &f : files) expected << (src + "/" + f).mid(1);
  expected.sort();
  EXPECT_EQ(names(zm), expected);
  ASSERT_FALSE(progress.isEmpty());
  EXPECT_EQ(progress.first()[0].value<TZipMaster::ProgressType>(), TZipMaster::ProgressTotalMembers);
  EXPECT_EQ(progress.last()[0].value<TZipMaster::ProgressType>(), TZipMaster::ProgressBatchEnd);
  qint64 bytes = 0;
  for (const auto &p : progress)
    if (p[0].value<TZipMaster::ProgressType>() == TZipMaster::ProgressBytes) bytes += p[2].toLongLong();
  EXPECT_EQ(bytes, zm.TotalToProcess());

  // Extract without folder names into ExtrBaseDir; the current folder is given back afterwards.
  const QString dest = makeDir("dest");
  const QString cwd = QDir::currentPath();
  zm.setExtrBaseDir(dest);
  zm.setExtrOptions(TZipMaster::ExtrOverWrite);
  zm.setFSpecArgs({"*.txt"});
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 3);
  EXPECT_EQ(QDir::currentPath(), cwd);
  EXPECT_EQ(readFile(dest + "/c.txt"), QByteArray("third file\n"));
  EXPECT_TRUE(zm.FSpecArgs().isEmpty());

  zm.setExtrOptions(TZipMaster::ExtrTest);
  zm.setFSpecArgs({"*.*"});
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), files.size());

  zm.setFSpecArgs({"*/b.bin", "*.dat"});
  zm.DeleteFiles();
  EXPECT_EQ(zm.SuccessCount(), 2);
  EXPECT_EQ(zm.EntryCount(), files.size() - 2);
  const auto py = peers::python("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; print(len(z.namelist()))", {zip});
  EXPECT_EQ(py.out.trimmed().toInt(), files.size() - 2) << py.out.toStdString();
}

TEST(ZipMaster, CancelFromProgressKeepsTheArchiveAndBusyFlagsBlockReentry) {
  const QString src = makeDir("src");
  for (int i = 0; i < 40; ++i) writeFile(src + QString("/f%1.txt").arg(i), QByteArray(3000, char('a' + i % 20)));
  const QString zip = makeDir("out") + "/c.zip";
  TZipMaster zm;
  zm.setUnattended(true);
  zm.setZipFilename(zip);
  zm.setFSpecArgs({src + "/f1.txt"});
  zm.AddFiles();
  ASSERT_EQ(zm.SuccessCount(), 1);
  const QByteArray before = readFile(zip);
  int members = 0;
  bool sawBusy = false;
  QObject::connect(&zm, &TZipMaster::OnProgress, &zm, [&](TZipMaster::ProgressType t, const QString &, qint64) {
    if (t != TZipMaster::ProgressNewMember) return;
    sawBusy = zm.AddBusy();
    // A second add from inside the running one returns at once.
    zm.setFSpecArgs({src + "/f2.txt"});
    zm.AddFiles();
    if (++members == 2) zm.setCancelRequested(true);
  });
  zm.setFSpecArgs({src + "/*.txt"});
  zm.AddFiles();
  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(zm.SuccessCount(), 0);
  EXPECT_LE(members, 3);
  EXPECT_EQ(readFile(zip), before);
  EXPECT_FALSE(zm.AddBusy());
  EXPECT_FALSE(zm.CancelRequested());
  EXPECT_EQ(zm.EntryCount(), 1);
}

TEST(ZipMaster, EncryptedRoundTripAndWrongPassword) {
  const QString src = makeDir("src");
  writeFile(src + "/secret.txt", "the secret text");
  const QString zip = makeDir("out") + "/e.zip";
  TZipMaster zm;
  zm.setUnattended(true);
  zm.setZipFilename(zip);
  zm.setPassword("opensesame");
  zm.setAddOptions(TZipMaster::AddEncrypt);
  zm.setFSpecArgs({src + "/secret.txt"});
  zm.AddFiles();
  ASSERT_EQ(zm.SuccessCount(), 1);
  ASSERT_EQ(zm.EntryCount(), 1);
  EXPECT_TRUE(zm.Entries()[0].encrypted());
  zm.setPassword("wrong");
  zm.setExtrOptions(TZipMaster::ExtrTest);
  QSignalSpy messages(&zm, &TZipMaster::OnMessage);
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 0);
  ASSERT_FALSE(messages.isEmpty());
  EXPECT_TRUE(zm.LastMessage().startsWith("Wrong password")) << zm.LastMessage().toStdString();
  zm.setPassword("opensesame");
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 1);
  const auto seven = peers::run(peers::sevenZip(), {"t", "-popensesame", zip});
  EXPECT_EQ(seven.exitCode, 0) << seven.out.toStdString();
}

TEST(ZipMaster, CheckDriveReadsTheMountedVolume) {
  TZipMaster zm;
  EXPECT_TRUE(zm.CheckDrive("/"));
  EXPECT_EQ(zm.DriveRoot(), "/");
  EXPECT_GT(zm.DiskSize(), 0);
  EXPECT_GE(zm.DiskFreeSpace(), 0);
  try {
    zm.CheckDrive("relative/path");
    FAIL() << "a relative root is not a drive";
  } catch (const EZipMaster &e) {
    EXPECT_EQ(e.MessageId, 11003);
    EXPECT_EQ(e.Message, "Not a valid drive: relative/path");
  }
}
