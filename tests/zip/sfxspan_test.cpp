// Self-extracting conversions and spanned sets through TZipMaster, checked with independent zip readers.
#include <gtest/gtest.h>

#include "engines/zipformat.h"
#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/zipmaster.h"

#include <QDir>
#include <QFileInfo>
#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtEndian>

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {

// An archive of the tree made by the real zip engine.
QString makeArchive(const QString &folder, const QString &name = QStringLiteral("a.zip")) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  TZipMaster zm;
  zm.setUnattended(true);
  const QString path = folder + "/" + name;
  zm.setZipFilename(path);
  zm.setAddOptions(TZipMaster::AddDirNames | TZipMaster::AddRecurseDirs);
  QDir::setCurrent(src);
  zm.setFSpecArgs({"*"});
  zm.AddFiles();
  EXPECT_GT(zm.SuccessCount(), 0);
  return path;
}

// Each independent reader lists and tests the archive without complaint.
void expectPeersAccept(const QString &archive) {
  const auto py = peers::run("/usr/bin/python3", {"-m", "zipfile", "-t", archive});
  EXPECT_EQ(py.exitCode, 0) << py.out.toStdString();
  const auto tar = peers::run("bsdtar", {"-tf", archive});
  EXPECT_EQ(tar.exitCode, 0) << tar.out.toStdString();
  const auto sz = peers::run(peers::sevenZip(), {"t", archive});
  EXPECT_EQ(sz.exitCode, 0) << sz.out.toStdString();
}

QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

struct Sfx : ::testing::Test {
  QString dir = makeDir("sfx");
  QString stub = writeFile(dir + "/stub.bin", QByteArray(10000, 'S'));
  TZipMaster zm;
  QStringList boxes;
  void SetUp() override {
    zm.setSFXPath(stub);
    zm.setHowToDelete(TZipMaster::htdFinal);
    QObject::connect(&zm, &TZipMaster::MessageBoxRequested, [this](const QString &t) { boxes << t; });
  }
};

}  // namespace

TEST_F(Sfx, RoundTripMovesEveryOffsetAndComesBackByteIdentical) {
  const QString zip = makeArchive(dir);
  const QByteArray original = readFile(zip);
  zm.setZipFilename(zip);
  zm.setSFXOverWriteMode(TZipMaster::OvrNever);
  zm.setSFXOptions({});
  zm.setSFXCaption({});
  ASSERT_EQ(zm.ConvertToSfx(), 0) << boxes.join('\n').toStdString();
  const QString exe = dir + "/a.exe";
  EXPECT_EQ(zm.ZipFilename(), exe);
  EXPECT_FALSE(QFileInfo::exists(zip));
  EXPECT_TRUE(QFileInfo(exe).isExecutable());
  const QByteArray made = readFile(exe);
  ASSERT_EQ(made.size(), 10256 + original.size());
  EXPECT_EQ(made.mid(10000, 7), QByteArray("MPU\x30\0\0\0", 7));
  EXPECT_EQ(zm.ArchiveStart(), 10256);
  EXPECT_FALSE(zm.StructureWarning());
  expectPeersAccept(exe);

  ASSERT_EQ(zm.ConvertToZip(), 0);
  EXPECT_EQ(zm.ZipFilename(), zip);
  EXPECT_FALSE(QFileInfo::exists(exe));
  EXPECT_EQ(readFile(zip), original);
  EXPECT_EQ(filesIn(dir), (QStringList{"a.zip", "stub.bin"}));  // no temporary file left
}

TEST_F(Sfx, TextLimitsAndRefusalsWriteNothing) {
  const QString zip = makeArchive(dir);
  const QByteArray original = readFile(zip);
  zm.setZipFilename(zip);
  zm.setSFXCaption(QString(100, 'c'));
  zm.setSFXDefaultDir(QString(100, 'd'));
  zm.setSFXCommandLine(QString(50, 'x'));
  EXPECT_EQ(zm.ConvertToSfx(), -9);
  EXPECT_EQ(zm.ErrorCode(), 10801);
  EXPECT_TRUE(zm.LastMessage().endsWith("\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = 250"));
  // Characters beyond one byte count by their bytes: the header holds bytes.
  zm.setSFXCommandLine(QString(25, QChar(0x00E9)));
  EXPECT_EQ(zm.ConvertToSfx(), -9);
  EXPECT_EQ(filesIn(dir), (QStringList{"a.zip", "stub.bin"}));

  zm.setSFXCommandLine(QString(49, 'x'));
  ASSERT_EQ(zm.ConvertToSfx(), 0);
  const QByteArray made = readFile(dir + "/a.exe");
  EXPECT_EQ(uchar(made[10004]), 100);
  EXPECT_EQ(uchar(made[10006]), 49);
  EXPECT_EQ(made.mid(10007 + 200, 49), QByteArray(49, 'x'));

  // A plain archive named .exe has nothing in front to take off.
  writeFile(dir + "/plain.exe", original);
  zm.setZipFilename(dir + "/plain.exe");
  EXPECT_EQ(zm.ArchiveStart(), 0);
  EXPECT_EQ(zm.ConvertToZip(), -9);
  EXPECT_EQ(zm.ErrorCode(), 10903);
  EXPECT_EQ(readFile(dir + "/plain.exe"), original);
  // A program with no zip data is refused when it is listed.
  writeFile(dir + "/prog.exe", QByteArray(5000, 'P'));
  zm.setZipFilename(dir + "/prog.exe");
  EXPECT_EQ(zm.ErrorCode(), 11036);
  EXPECT_EQ(zm.ConvertToZip(), -3);
  EXPECT_EQ(zm.ErrorCode(), 10901);
}

TEST_F(Sfx, CancelledConversionKeepsSourceAndEarlierOutput) {
  const QString zip = makeArchive(dir);
  const QByteArray original = readFile(zip);
  writeFile(dir + "/a.exe", "an older program");
  zm.setZipFilename(zip);
  QObject::connect(&zm, &TZipMaster::OnProgress, [this](TZipMaster::ProgressType t, const QString &, qint64) {
    if (t == TZipMaster::ProgressBytes) zm.setCancelRequested(true);
  });
  EXPECT_EQ(zm.ConvertToSfx(), -2);
  EXPECT_EQ(readFile(zip), original);
  EXPECT_EQ(readFile(dir + "/a.exe"), QByteArray("an older program"));
  EXPECT_EQ(filesIn(dir), (QStringList{"a.exe", "a.zip", "stub.bin"}));
  EXPECT_EQ(zm.ZipFilename(), zip);
}

TEST_F(Sfx, TrashKeepsTheReplacedFiles) {
  const QString zip = makeArchive(dir);
  writeFile(dir + "/a.exe", "an older program");
  zm.setHowToDelete(TZipMaster::htdAllowUndo);
  zm.setZipFilename(zip);
  const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files";
  const QStringList before = filesIn(trash);
  ASSERT_EQ(zm.ConvertToSfx(), 0);
  QStringList trashed = filesIn(trash);
  for (const QString &f : before) trashed.removeOne(f);
  // The older program and the source archive, under their names or the trash's numbered ones.
  ASSERT_EQ(trashed.size(), 2) << trashed.join(' ').toStdString();
  EXPECT_EQ(trashed.filter(QRegularExpression("^a[.].*zip")).size() + trashed.filter(QRegularExpression("^a[.].*exe")).size(), 2)
      << trashed.join(' ').toStdString();
  EXPECT_EQ(filesIn(dir), (QStringList{"a.exe", "stub.bin"}));
}

namespace {
QByteArray le16(uint16_t v) {
  QByteArray b(2, 0);
  qToLittleEndian(v, b.data());
  return b;
}
QByteArray le32(uint32_t v) {
  QByteArray b(4, 0);
  qToLittleEndian(v, b.data());
  return b;
}
QByteArray le64(uint64_t v) {
  QByteArray b(8, 0);
  qToLittleEndian(v, b.data());
  return b;
}
// A stored one-member archive whose directory keeps the local header offset in a Zip64 extra field and
// whose end records are the Zip64 ones, as archives beyond 4 GiB have them.
QByteArray zip64Archive() {
  const QByteArray name = "big.txt", data = "zip64 offsets";
  const uint32_t crc = uint32_t(peers::python("import zlib,sys; print(zlib.crc32(b'zip64 offsets'))").out.trimmed().toULong());
  QByteArray a;
  a += le32(0x04034B50) + le16(45) + le16(0) + le16(0) + le32(0) + le32(crc) + le32(data.size()) + le32(data.size()) +
       le16(name.size()) + le16(0) + name + data;
  const qint64 cd = a.size();
  const QByteArray extra = le16(1) + le16(8) + le64(0);
  a += le32(0x02014B50) + le16(45) + le16(45) + le16(0) + le16(0) + le32(0) + le32(crc) + le32(data.size()) +
       le32(data.size()) + le16(name.size()) + le16(extra.size()) + le16(0) + le16(0) + le16(0) + le32(0) +
       le32(0xFFFFFFFFu) + name + extra;
  const qint64 cdSize = a.size() - cd, rec64 = a.size();
  a += le32(0x06064B50) + le64(44) + le16(45) + le16(45) + le32(0) + le32(0) + le64(1) + le64(1) + le64(cdSize) + le64(cd);
  a += le32(0x07064B50) + le32(0) + le64(rec64) + le32(1);
  a += le32(0x06054B50) + le16(0) + le16(0) + le16(1) + le16(1) + le32(uint32_t(cdSize)) + le32(0xFFFFFFFFu) + le16(0);
  return a;
}
}  // namespace

TEST_F(Sfx, Zip64OffsetsAreMovedAndOverflowingOnesRefused) {
  const QByteArray z64 = zip64Archive();
  const QString zip = writeFile(dir + "/big.zip", z64);
  ASSERT_EQ(peers::run("/usr/bin/python3", {"-m", "zipfile", "-t", zip}).exitCode, 0);
  zm.setZipFilename(zip);
  ASSERT_EQ(zm.EntryCount(), 1);
  ASSERT_EQ(zm.ConvertToSfx(), 0) << boxes.join('\n').toStdString();
  expectPeersAccept(dir + "/big.exe");
  ASSERT_EQ(zm.ConvertToZip(), 0);
  EXPECT_EQ(readFile(zip), z64);

  // A 32-bit offset that would pass 4 GiB once moved cannot be written: refused before any byte.
  QByteArray near = readFile(makeArchive(dir, "near.zip"));
  const qint64 end = near.size() - 22, cd = qFromLittleEndian<uint32_t>(near.constData() + end + 16);
  qToLittleEndian<uint32_t>(0xFFFFFFF0u, near.data() + cd + 42);  // the first member's local header offset
  writeFile(dir + "/near.zip", near);
  zm.setZipFilename(dir + "/near.zip");
  EXPECT_EQ(zm.ConvertToSfx(), -9);
  EXPECT_FALSE(QFileInfo::exists(dir + "/near.exe"));
  EXPECT_EQ(readFile(dir + "/near.zip"), near);
}

TEST_F(Sfx, AddingToANewExeStartsASelfExtractingArchive) {
  const QString src = makeDir("newsrc");
  writeFile(src + "/one.txt", "one");
  zm.setUnattended(true);
  zm.setZipFilename(dir + "/new.exe");
  QDir::setCurrent(src);
  zm.setFSpecArgs({"one.txt"});
  zm.AddFiles();
  ASSERT_EQ(zm.SuccessCount(), 1);
  EXPECT_EQ(zm.EntryCount(), 1);
  EXPECT_EQ(zm.ArchiveStart(), 10256);
  EXPECT_EQ(readFile(dir + "/new.exe").left(10000), QByteArray(10000, 'S'));
  expectPeersAccept(dir + "/new.exe");
}

// ---- Spanned sets on a fixed volume: numbered part files

namespace {
struct Span : ::testing::Test {
  QString dir = makeDir("span");
  TZipMaster zm;
  QStringList questions;
  void SetUp() override {
    zm.setMinFreeVolumeSize(0);
    QObject::connect(&zm, &TZipMaster::QuestionRequested,
                     [this](const QString &, const QString &text, int, int, int, int *answer) {
                       questions << text;
                       *answer = answers.isEmpty() ? TZipMaster::BtnCancel : answers.takeFirst();
                     });
  }
  QList<int> answers;  // of the questions to come, in order; Cancel when none is left
};

// Walks a set's directory (joined from its parts) and checks that no header straddles two parts.
void expectNoHeaderStraddles(const QStringList &parts) {
  using namespace zipformat;
  QList<QByteArray> data;
  for (const QString &p : parts) data << readFile(p);
  const QByteArray &last = data.back();
  const auto *e = reinterpret_cast<const uchar *>(last.constData() + last.size() - 22);
  ASSERT_EQ(rd32(e), kSigEnd);
  EXPECT_EQ(rd16(e + 4), parts.size() - 1);
  const int cdDisk = rd16(e + 6);
  qint64 at = rd32(e + 16);
  int disk = cdDisk;
  for (int n = 0; n < rd16(e + 10); ++n) {
    if (at >= data[disk].size()) {
      ++disk;
      at = 0;
    }
    ASSERT_LT(disk, data.size());
    const auto *h = reinterpret_cast<const uchar *>(data[disk].constData() + at);
    ASSERT_LE(at + 46, data[disk].size());
    ASSERT_EQ(rd32(h), kSigCentral);
    const qint64 len = 46 + rd16(h + 28) + rd16(h + 30) + rd16(h + 32);
    EXPECT_LE(at + len, data[disk].size()) << "central header " << n << " straddles";
    const auto &lp = data[rd16(h + 34)];
    const qint64 lo = rd32(h + 42);
    ASSERT_LE(lo + 30, lp.size());
    const auto *l = reinterpret_cast<const uchar *>(lp.constData() + lo);
    EXPECT_EQ(rd32(l), kSigLocal);
    EXPECT_LE(lo + 30 + rd16(l + 26) + rd16(l + 28), lp.size()) << "local header " << n << " straddles";
    at += len;
  }
}
}  // namespace

TEST_F(Span, NumberedPartsJoinBackToTheSameArchive) {
  const QString zip = makeArchive(dir);
  const QByteArray original = readFile(zip);
  zm.setMaxVolumeSize(20000);
  ASSERT_EQ(zm.WriteSpan(zip, dir + "/set/set.zip"), 0) << zm.LastMessage().toStdString();
  EXPECT_TRUE(questions.isEmpty());
  const QStringList parts = filesIn(dir + "/set");
  ASSERT_GE(parts.size(), 3);
  QStringList paths;
  for (int i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i], QString("set%1.zip").arg(i + 1, 3, 10, QChar('0')));
    paths << dir + "/set/" + parts[i];
    EXPECT_LE(QFileInfo(paths.back()).size(), 20000);
    EXPECT_EQ(QFileInfo(paths.back()).lastModified().toSecsSinceEpoch(), QFileInfo(zip).lastModified().toSecsSinceEpoch());
  }
  EXPECT_TRUE(readFile(paths[0]).startsWith(QByteArray("PK\x07\x08PK\x03\x04", 8)));
  expectNoHeaderStraddles(paths);
  EXPECT_EQ(readFile(zip), original);

  // 7-Zip reads the parts as a multi-volume archive under its own names (.z01 ... .zip).
  const QString named = makeDir("named");
  for (int i = 0; i < paths.size(); ++i)
    QFile::copy(paths[i], named + (i + 1 < paths.size() ? QString("/set.z%1").arg(i + 1, 2, 10, QChar('0')) : "/set.zip"));
  const auto seven = peers::run(peers::sevenZip(), {"t", named + "/set.zip"});
  EXPECT_EQ(seven.exitCode, 0) << seven.out.toStdString();

  // The set's last part lists the whole archive.
  TZipMaster plain;
  plain.setZipFilename(zip);
  zm.setZipFilename(paths.back());
  EXPECT_EQ(zm.EntryCount(), plain.EntryCount());
  EXPECT_TRUE(zm.SpannedArchive());

  QString out = dir + "/joined";
  ASSERT_EQ(zm.ReadSpan(paths.back(), out), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(out, dir + "/joined.zip");
  EXPECT_EQ(readFile(out), original);
  expectPeersAccept(out);
}

TEST_F(Span, JoiningRefusesFirstMiddleAndIncompleteSets) {
  const QString zip = makeArchive(dir);
  zm.setUnattended(true);
  zm.setMaxVolumeSize(20000);
  ASSERT_EQ(zm.WriteSpan(zip, dir + "/set.zip"), 0);
  QString out = dir + "/out.zip";
  EXPECT_EQ(zm.ReadSpan(dir + "/set001.zip", out), -7);
  EXPECT_EQ(zm.ErrorCode(), 11037);
  EXPECT_TRUE(out.isEmpty());
  out = dir + "/out.zip";
  EXPECT_EQ(zm.ReadSpan(dir + "/set002.zip", out), -7);
  EXPECT_EQ(zm.LastMessage(), "This is the 2th disk in a backup set,\nplease insert the last disk of this set");

  const QStringList parts = filesIn(dir).filter(QRegularExpression("^set\\d{3}\\.zip$"));
  ASSERT_GE(parts.size(), 3);
  QFile::rename(dir + "/set002.zip", dir + "/moved.bin");
  out = dir + "/out.zip";
  EXPECT_EQ(zm.ReadSpan(dir + "/" + parts.back(), out), -7);
  EXPECT_EQ(zm.ErrorCode(), 11001);
  EXPECT_FALSE(QFileInfo::exists(dir + "/out.zip"));
  EXPECT_TRUE(filesIn(dir).filter(QRegularExpression("^\\.out")).isEmpty());  // no temporary left
}

TEST_F(Span, ExistingPartsAreAskedAboutAndAFailedSpanRemovesWhatItMade) {
  const QString zip = makeArchive(dir);
  zm.setMaxVolumeSize(20000);
  writeFile(dir + "/set002.zip", "keep me");
  QFile old(dir + "/set002.zip");
  ASSERT_TRUE(old.open(QIODevice::ReadWrite));
  old.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(12, 0)), QFileDevice::FileModificationTime);
  old.close();
  answers = {TZipMaster::BtnNo};
  EXPECT_EQ(zm.WriteSpan(zip, dir + "/set.zip"), -7);
  ASSERT_EQ(questions.size(), 1);
  EXPECT_EQ(questions[0], "There is already a file " + QDir::toNativeSeparators(dir + "/set002.zip") +
                              "\nDo you want to overwrite this file");
  EXPECT_EQ(readFile(dir + "/set002.zip"), QByteArray("keep me"));
  EXPECT_FALSE(QFileInfo::exists(dir + "/set001.zip"));  // the part made before the question is gone again

  // Yes overwrites; a later part of this very set (same date) is met with the warning about a previous disk.
  answers = {TZipMaster::BtnYes};
  ASSERT_EQ(zm.WriteSpan(zip, dir + "/set.zip"), 0);
  questions.clear();
  answers = {TZipMaster::BtnYes, TZipMaster::BtnCancel};
  EXPECT_EQ(zm.WriteSpan(zip, dir + "/set.zip"), -7);
  ASSERT_EQ(questions.size(), 2);
  EXPECT_TRUE(questions[0].startsWith("There is already a file")) << questions[0].toStdString();
  EXPECT_TRUE(questions[1].startsWith("ATTENTION: This is previous disk no 1!!!")) << questions[1].toStdString();

  // Cancelling while the data is copied leaves only what was there.
  const QString other = makeDir("other");
  QObject::connect(&zm, &TZipMaster::OnProgress, [this](TZipMaster::ProgressType t, const QString &, qint64) {
    if (t == TZipMaster::ProgressBytes) zm.setCancelRequested(true);
  });
  EXPECT_EQ(zm.WriteSpan(zip, other + "/x.zip"), -7);
  EXPECT_TRUE(filesIn(other).isEmpty());
}

TEST_F(Span, SpannedAddAndExtractThroughTheComponent) {
  const QString src = makeDir("spansrc");
  const QStringList files = peers::makeTree(src);
  const QString tmp = makeDir("tmp");
  zm.setUnattended(true);
  zm.setVerbose(true);
  zm.setTempDir(tmp);
  zm.setMaxVolumeSize(30000);
  zm.setZipFilename(dir + "/backup.zip");
  zm.setAddOptions(TZipMaster::AddDiskSpan | TZipMaster::AddDirNames | TZipMaster::AddRecurseDirs);
  QSignalSpy messages(&zm, &TZipMaster::OnMessage);
  QDir::setCurrent(src);
  zm.setFSpecArgs({"*"});
  zm.AddFiles();
  ASSERT_GT(zm.SuccessCount(), 0) << zm.LastMessage().toStdString();
  EXPECT_TRUE(messages[0][1].toString().startsWith("Temporary zipfile: " + tmp + "/zip"));
  EXPECT_TRUE(filesIn(tmp).isEmpty());
  // The set is shown by its last part.
  EXPECT_TRUE(QFileInfo(zm.ZipFilename()).fileName().startsWith("backup0"));
  EXPECT_GT(zm.LastDiskNumber(), 0);
  const QString out = makeDir("extracted");
  zm.setExtrBaseDir(out);
  zm.setExtrOptions(TZipMaster::ExtrDirNames);
  zm.setFSpecArgs({"*"});
  zm.ExtractFiles();
  EXPECT_GT(zm.SuccessCount(), 0);
  for (const QString &f : files) EXPECT_EQ(readFile(out + "/" + f), readFile(src + "/" + f)) << f.toStdString();
  EXPECT_TRUE(filesIn(tmp).isEmpty());
}

namespace {
// An archive of members of random bytes (which do not compress), made by the real zip engine.
QString noiseArchive(const QString &path, const QList<int> &sizes) {
  const QString src = makeDir("noisesrc");
  QStringList names;
  for (int i = 0; i < sizes.size(); ++i) {
    QByteArray noise(sizes[i], Qt::Uninitialized);
    QRandomGenerator(i + 7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    names << QString("m%1.bin").arg(i);
    writeFile(src + "/" + names.back(), noise);
  }
  TZipMaster maker;
  maker.setUnattended(true);
  maker.setZipFilename(path);
  QDir::setCurrent(src);
  maker.setFSpecArgs(names);
  maker.AddFiles();
  EXPECT_EQ(maker.SuccessCount(), sizes.size());
  return path;
}

// The set's part files in a folder, in order.
QStringList partsIn(const QString &folder, const QString &base = QStringLiteral("set")) {
  QStringList out;
  for (const QString &f : filesIn(folder).filter(QRegularExpression("^" + base + "\\d{3}\\.zip$"))) out << folder + "/" + f;
  return out;
}
}  // namespace

TEST_F(Span, JoiningASetWhosePartsLostBytesFailsAndLeavesNothing) {
  // Members that start on a middle part and run over the next.
  const QString zip = noiseArchive(dir + "/noise.zip", {30000, 30000, 30000});
  zm.setUnattended(true);
  zm.setMaxVolumeSize(20000);
  const QString setDir = makeDir("lossy");
  ASSERT_EQ(zm.WriteSpan(zip, setDir + "/set.zip"), 0) << zm.LastMessage().toStdString();
  const QStringList parts = partsIn(setDir);
  ASSERT_GE(parts.size(), 4);
  QList<QByteArray> original;
  for (const QString &p : parts) original << readFile(p);
  // Where the first member that starts on the second part begins there: its header is cut off whole.
  qint64 headerOnSecond = -1;
  {
    const QByteArray &last = original.back();
    const auto *e = reinterpret_cast<const uchar *>(last.constData() + last.size() - 22);
    ASSERT_EQ(zipformat::rd16(e + 6), parts.size() - 1) << "the directory is expected on the last part";
    const auto *h = reinterpret_cast<const uchar *>(last.constData() + zipformat::rd32(e + 16));
    for (int n = 0; n < zipformat::rd16(e + 10); ++n) {
      if (zipformat::rd16(h + 34) == 1 && (headerOnSecond < 0 || zipformat::rd32(h + 42) < headerOnSecond))
        headerOnSecond = zipformat::rd32(h + 42);
      h += 46 + zipformat::rd16(h + 28) + zipformat::rd16(h + 30) + zipformat::rd16(h + 32);
    }
  }
  ASSERT_GT(headerOnSecond, 0) << "no member starts on the second part";
  const struct {
    const char *what;
    int part;
    qint64 keep;  // bytes kept of the part; negative: that many cut off its end
  } damages[] = {
      {"the middle part one byte short", 1, -1},
      {"the middle part cut in half", 1, original[1].size() / 2},
      {"the middle part cut where a member's header begins", 1, headerOnSecond},
      {"the middle part empty", 1, 0},
      {"another middle part 4,000 bytes short", 2, -4000},
      {"the first part one byte short", 0, -1},
  };
  for (const auto &d : damages) {
    SCOPED_TRACE(d.what);
    for (int i = 0; i < parts.size(); ++i) writeFile(parts[i], original[i]);
    const QByteArray &whole = original[d.part];
    writeFile(parts[d.part], whole.left(d.keep < 0 ? whole.size() + d.keep : d.keep));
    const QString outDir = makeDir("lossyout");
    QString out = outDir + "/joined.zip";
    EXPECT_EQ(zm.ReadSpan(parts.back(), out), -7);
    EXPECT_TRUE(QList<int>({11012, 11014, 11020, 11021}).contains(zm.ErrorCode()))
        << zm.ErrorCode() << " " << zm.LastMessage().toStdString();
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(filesIn(outDir).isEmpty()) << filesIn(outDir).join(' ').toStdString();  // nor a temporary
  }
  // The set whole again joins as before.
  for (int i = 0; i < parts.size(); ++i) writeFile(parts[i], original[i]);
  QString out = makeDir("lossyout") + "/joined.zip";
  ASSERT_EQ(zm.ReadSpan(parts.back(), out), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(readFile(out), readFile(zip));

  // Nor is a set cut from an archive whose directory gives a member more data than lies before the next.
  QByteArray damaged = readFile(zip);
  const qint64 cd = qFromLittleEndian<uint32_t>(damaged.constData() + damaged.size() - 22 + 16);
  qToLittleEndian<uint32_t>(qFromLittleEndian<uint32_t>(damaged.constData() + cd + 20) + 100, damaged.data() + cd + 20);
  const QString damagedZip = writeFile(dir + "/damaged.zip", damaged);
  const QString refused = makeDir("refused");
  EXPECT_EQ(zm.WriteSpan(damagedZip, refused + "/set.zip"), -7);
  EXPECT_EQ(zm.ErrorCode(), 11021) << zm.LastMessage().toStdString();
  EXPECT_TRUE(filesIn(refused).isEmpty());
}

TEST_F(Span, SpanningAgainUnderTheSameNameDealsWithTheOlderSetsExtraParts) {
  const QString bigZip = makeArchive(dir);
  const QString smallZip = noiseArchive(dir + "/small.zip", {30000});
  zm.setMaxVolumeSize(20000);
  zm.setHowToDelete(TZipMaster::htdFinal);
  QObject::disconnect(&zm, &TZipMaster::QuestionRequested, nullptr, nullptr);
  QStringList staleQuestions;
  int staleAnswer = TZipMaster::BtnNo;
  QObject::connect(&zm, &TZipMaster::QuestionRequested,
                   [&](const QString &, const QString &text, int, int, int, int *answer) {
                     const bool overwrite = text.startsWith("There is already a file") || text.startsWith("ATTENTION");
                     if (!overwrite) staleQuestions << text;
                     *answer = overwrite ? TZipMaster::BtnYes : staleAnswer;
                   });
  const QString setDir = makeDir("again");
  ASSERT_EQ(zm.WriteSpan(bigZip, setDir + "/set.zip"), 0) << zm.LastMessage().toStdString();
  const QStringList bigParts = partsIn(setDir);
  ASSERT_GE(bigParts.size(), 4);
  EXPECT_TRUE(staleQuestions.isEmpty());

  // How many parts the smaller archive makes, in a folder of its own.
  const QString alone = makeDir("alone");
  ASSERT_EQ(zm.WriteSpan(smallZip, alone + "/set.zip"), 0) << zm.LastMessage().toStdString();
  const int newCount = int(partsIn(alone).size());
  ASSERT_GE(newCount, 2);
  ASSERT_LT(newCount, bigParts.size());

  // Kept when the answer is No: the new set is whole, and the log names what stayed.
  QSignalSpy log(&zm, &TZipMaster::OnMessage);
  ASSERT_EQ(zm.WriteSpan(smallZip, setDir + "/set.zip"), 0) << zm.LastMessage().toStdString();
  ASSERT_EQ(staleQuestions.size(), 1);
  QStringList stale;
  for (int i = newCount; i < bigParts.size(); ++i) stale << QFileInfo(bigParts[i]).fileName();
  EXPECT_TRUE(staleQuestions[0].contains(stale.join(", "))) << staleQuestions[0].toStdString();
  EXPECT_EQ(partsIn(setDir).size(), bigParts.size());
  bool named = false;
  for (const auto &args : log) named |= args[1].toString().startsWith("Parts of an older set were kept");
  EXPECT_TRUE(named);

  // Deleted when the answer is Yes: only the new set's parts remain, and its last part joins to the source.
  staleQuestions.clear();
  staleAnswer = TZipMaster::BtnYes;
  ASSERT_EQ(zm.WriteSpan(smallZip, setDir + "/set.zip"), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(staleQuestions.size(), 1);
  EXPECT_EQ(partsIn(setDir).size(), newCount);
  QString out = makeDir("againout") + "/joined.zip";
  ASSERT_EQ(zm.ReadSpan(partsIn(setDir).back(), out), 0) << zm.LastMessage().toStdString();
  EXPECT_EQ(readFile(out), readFile(smallZip));
  // And a set that ends where the older one did asks nothing more.
  staleQuestions.clear();
  ASSERT_EQ(zm.WriteSpan(smallZip, setDir + "/set.zip"), 0);
  EXPECT_TRUE(staleQuestions.isEmpty());
}
