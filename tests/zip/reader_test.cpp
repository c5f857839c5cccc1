// The directory reader: end record search, comments and trailing bytes, preambles, names in code
// page 437 and UTF-8, Zip64, span markers, and archives whose fields lie.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/zipmaster.h"

#include <QSignalSpy>

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {

QByteArray pythonZip(const QString &body) {
  const QString path = makeDir("py") + "/a.zip";
  const auto r = peers::python("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" + body + "\nz.close()\n",
                               {path});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  return readFile(path);
}

struct Listed {
  QStringList messages;
  bool ok = false;
};

Listed listBytes(TZipMaster &zm, const QByteArray &bytes) {
  const QString path = writeFile(makeDir("r") + "/t.zip", bytes);
  Listed out;
  QObject::connect(&zm, &TZipMaster::OnMessage, &zm, [&](int, const QString &m) { out.messages << m; });
  QSignalSpy dir(&zm, &TZipMaster::OnDirUpdate);
  zm.setZipFilename(path);
  EXPECT_EQ(dir.size(), 1);
  out.ok = !zm.ZipFilename().isEmpty();
  zm.disconnect(&zm, &TZipMaster::OnMessage, &zm, nullptr);
  return out;
}

}  // namespace

TEST(ZipReader, FastPathSearchAndComments) {
  TZipMaster zm;
  zm.setUnattended(true);
  QByteArray plain = pythonZip("z.writestr('a.txt', 'hello')");
  Listed l = listBytes(zm, plain);
  ASSERT_TRUE(l.ok) << l.messages.join("|").toStdString();
  EXPECT_TRUE(l.messages.isEmpty());
  EXPECT_EQ(zm.EntryCount(), 1);
  EXPECT_EQ(zm.EndRecordPosition(), plain.size() - 22);
  EXPECT_EQ(zm.ArchiveStart(), 0);
  EXPECT_FALSE(zm.StructureWarning());

  const QByteArray comment(100, 'c');
  QByteArray commented = pythonZip("z.writestr('a.txt', 'hello')\nz.comment = b'" + QString(comment) + "'");
  l = listBytes(zm, commented);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(zm.ArchiveComment(), QString(comment));
  EXPECT_EQ(zm.EndOfZipData(), commented.size());
  EXPECT_TRUE(l.messages.isEmpty());

  // Padding to a 512-byte boundary with zeros is not garbage; anything else is, once, and reading goes on.
  QByteArray padded = commented;
  padded.append(QByteArray(1024 - padded.size() % 1024, '\0'));
  ASSERT_EQ(padded.size() % 512, 0);
  if (padded.size() - commented.size() >= 512) padded.chop(512);
  l = listBytes(zm, padded);
  EXPECT_TRUE(l.ok);
  EXPECT_TRUE(l.messages.isEmpty()) << l.messages.join("|").toStdString();
  padded[padded.size() - 1] = 'x';
  l = listBytes(zm, padded);
  EXPECT_TRUE(l.ok);
  EXPECT_EQ(l.messages, QStringList{"Warning - Garbage at the end of the zipfile!"});
  EXPECT_EQ(zm.EntryCount(), 1);
}

TEST(ZipReader, NotAZipAndSpanMarkers) {
  TZipMaster zm;
  zm.setUnattended(true);
  Listed l = listBytes(zm, "short");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.messages, QStringList{"This archive is not a valid Zip archive"});
  EXPECT_EQ(zm.EntryCount(), 0);
  l = listBytes(zm, QByteArray(70000, 'z'));
  EXPECT_EQ(l.messages, QStringList{"This archive is not a valid Zip archive"});

  // The first file of a spanned set on a hard disk: marker, local header, no end record.
  QByteArray first = QByteArray("PK\x07\x08PK\x03\x04", 8) + QByteArray(200, 'd');
  l = listBytes(zm, first);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.messages, QStringList{"This is the first file in a backup set,\nplease choose the last file of this set"});
}

TEST(ZipReader, ProgramInFrontWithAbsoluteOrRelativeOffsets) {
  TZipMaster zm;
  zm.setUnattended(true);
  const QByteArray program(5000, 'P');
  const QByteArray zip = pythonZip("z.writestr('a.txt', 'hello')\nz.writestr('b.txt', 'world')");
  // Glued: offsets count from the zip data.
  Listed l = listBytes(zm, program + zip);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.messages, QStringList{"Warning - Error in zip structure!"});
  EXPECT_TRUE(zm.StructureWarning());
  EXPECT_EQ(zm.ArchiveStart(), program.size());
  EXPECT_EQ(zm.EntryCount(), 2);

  // Written behind the program by python in append mode: offsets count from the file's start.
  const QString path = writeFile(makeDir("sfx") + "/s.exe", program);
  ASSERT_EQ(peers::python("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'a'); z.writestr('a.txt','hello'); z.close()",
                          {path}).exitCode, 0);
  l = listBytes(zm, readFile(path));
  ASSERT_TRUE(l.ok);
  EXPECT_TRUE(l.messages.isEmpty());
  EXPECT_EQ(zm.ArchiveStart(), program.size());

  // The engines read both kinds.
  zm.setZipFilename(writeFile(makeDir("g") + "/glued.zip", program + zip));
  zm.setExtrOptions(TZipMaster::ExtrTest);
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 2) << zm.LastMessage().toStdString();
}

TEST(ZipReader, NamesFromDosUtf8AndUnixMakers) {
  // A DOS maker's name byte 0x81 is "u" with diaeresis in code page 437; cpNone leaves it unconverted.
  QByteArray dos = pythonZip(
      "i = zipfile.ZipInfo('Q.TXT'); i.create_system = 0\nz.writestr(i, 'x')\n"
      "z.writestr('\\u00e4\\u20ac.txt', 'utf8 flagged')");
  for (int at = dos.indexOf("Q.TXT"); at >= 0; at = dos.indexOf("Q.TXT", at + 1)) dos[at] = char(0x81);
  TZipMaster zm;
  zm.setUnattended(true);
  Listed l = listBytes(zm, dos);
  ASSERT_TRUE(l.ok);
  ASSERT_EQ(zm.EntryCount(), 2);
  EXPECT_EQ(zm.Entries()[0].FileName, QString::fromUtf8("\xc3\xbc.TXT"));
  EXPECT_EQ(zm.Entries()[0].HostSystem, 0);
  EXPECT_EQ(zm.Entries()[1].FileName, QString::fromUtf8("\xc3\xa4\xe2\x82\xac.txt"));
  EXPECT_TRUE(zm.Entries()[1].GeneralFlags & 0x0800);
  zm.setCodePage(TZipMaster::cpNone);
  listBytes(zm, dos);
  EXPECT_NE(zm.Entries()[0].FileName, QString::fromUtf8("\xc3\xbc.TXT"));
  EXPECT_EQ(zm.Entries()[0].FileName.size(), 5);
  EXPECT_EQ(zm.Entries()[1].FileName, QString::fromUtf8("\xc3\xa4\xe2\x82\xac.txt"));

  // The unzip engine converts the same way, so a listed name selects its member.
  zm.setCodePage(TZipMaster::cpAuto);
  const QString path = writeFile(makeDir("dos") + "/dos.zip", dos);
  zm.setZipFilename(path);
  const QString dest = makeDir("dest");
  zm.setExtrBaseDir(dest);
  zm.setFSpecArgs({zm.Entries()[0].FileName});
  zm.setExtrOptions(TZipMaster::ExtrDirNames);
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 1) << zm.LastMessage().toStdString();
  EXPECT_EQ(readFile(dest + QString::fromUtf8("/\xc3\xbc.TXT")), QByteArray("x"));
}

TEST(ZipReader, Zip64ArchiveWithMoreThan65535Entries) {
  const QString path = makeDir("z64") + "/many.zip";
  const auto r = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "for i in range(70000): z.writestr('d/%05d' % i, b'')\n"
      "with z.open('big', 'w', force_zip64=True) as f: f.write(b'x' * 10)\n"
      "z.close()\n",
      {path});
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
  TZipMaster zm;
  zm.setUnattended(true);
  zm.setZipFilename(path);
  ASSERT_EQ(zm.EntryCount(), 70001) << zm.LastMessage().toStdString();
  EXPECT_EQ(zm.Entries()[69999].FileName, "d/69999");
  EXPECT_EQ(zm.Entries()[70000].UncompressedSize64, 10u);
  EXPECT_FALSE(zm.StructureWarning());
  zm.setExtrOptions(TZipMaster::ExtrTest);
  zm.setFSpecArgs({"big", "d/0000*"});
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 11) << zm.LastMessage().toStdString();
}

TEST(ZipReader, FieldsThatLieAreCaughtWithoutReadingBeyondTheFile) {
  TZipMaster zm;
  zm.setUnattended(true);
  const QByteArray good = pythonZip("z.writestr('a.txt', 'hello')\nz.writestr('b.txt', 'world')\nz.comment = b'0123456789'");
  const int eocd = good.lastIndexOf(QByteArray("PK\x05\x06", 4));
  ASSERT_GT(eocd, 0);

  QByteArray count = good;
  count[eocd + 10] = char(0xE8);
  count[eocd + 11] = char(0xFD);  // 65,000 entries
  Listed l = listBytes(zm, count);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.messages.last(), "Error while reading a central header");
  EXPECT_EQ(zm.EntryCount(), 0);

  QByteArray commentLen = good;
  commentLen[eocd + 20] = char(0xF4);
  commentLen[eocd + 21] = char(0x01);  // claims 500 bytes, 10 are there
  l = listBytes(zm, commentLen);
  EXPECT_TRUE(l.ok) << l.messages.join("|").toStdString();
  EXPECT_EQ(zm.ArchiveComment(), "0123456789");
  EXPECT_EQ(zm.EntryCount(), 2);

  QByteArray nameLen = good;
  const int lastCentral = nameLen.lastIndexOf(QByteArray("PK\x01\x02", 4));
  nameLen[lastCentral + 28] = char(0xFF);
  nameLen[lastCentral + 29] = char(0x7F);
  l = listBytes(zm, nameLen);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.messages.last(), "Error while reading a central file name");

  QByteArray sig = good;
  sig[lastCentral + 2] = 'X';
  l = listBytes(zm, sig);
  EXPECT_EQ(l.messages.last(), "A central header signature is wrong");

  QByteArray size = good;
  size[eocd + 12] = char(0xFF);
  size[eocd + 13] = char(0xFF);
  size[eocd + 14] = char(0xFF);  // directory larger than the file
  l = listBytes(zm, size);
  EXPECT_FALSE(l.ok);
}

TEST(ZipMessages, FormattingAndMissingIds) {
  EXPECT_EQ(zipmsg::format(11038, {3}), "This is the 3th disk in a backup set,\nplease insert the last disk of this set");
  EXPECT_EQ(zipmsg::format(11004, {"/media/x"}), "Drive /media/x is NOT defined");
  EXPECT_EQ(zipmsg::format(11034, {2, 5}), "Please insert disk volume 2 of 5");
  EXPECT_EQ(zipmsg::format(4242), "ZipMsgXX.res is probably not bound to executable\nMissing String ID is: 4242");
  const EZipMaster e(11003, QString("q:"));
  EXPECT_EQ(e.Message, "Not a valid drive: q:");
  EXPECT_EQ(e.MessageId, 11003);
  EXPECT_TRUE(e.DisplayMessage);
}
