// Hostile and damaged archives: the unzip engine refuses unsafe names and links, and reports wrong
// passwords, CRC errors and truncated data each with its own code, leaving no partial files.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"
#include "tests/engines/harness.h"
#include "tests/engines/peers.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {

QStringList everythingUnder(const QString &root) {
  QStringList out;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) out << QDir(root).relativeFilePath(it.next());
  out.sort();
  return out;
}

}  // namespace

TEST(EngineSafety, UnsafeNamesAndOutsideLinksAreRefusedAndNamed) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString top = makeDir("top");
  const QString zip = top + "/evil.zip";
  const auto py = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "z.writestr('/abs.txt', 'abs')\n"
      "z.writestr('../up.txt', 'up')\n"
      "z.writestr('a/../../sneaky.txt', 'sneaky')\n"
      "def link(name, target):\n"
      "  i = zipfile.ZipInfo(name); i.create_system = 3; i.external_attr = (0o120777 << 16)\n"
      "  z.writestr(i, target)\n"
      "link('etc', '/etc')\n"
      "link('climb', '../../outside')\n"
      "link('inner', 'ok.txt')\n"
      "z.writestr('ok.txt', 'fine')\n"
      "z.writestr('etc/passwd', 'through a link')\n"
      "z.close()\n",
      {zip});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  const QString dest = makeDir("dest") + "/inner/target";
  QDir().mkpath(dest);
  EngineCall x = engines.extractInto(dest, zip, {}, ExtractOptions{});
  const std::string msgs = x.allMessages();
  EXPECT_NE(msgs.find("/abs.txt"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("../up.txt"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("a/../../sneaky.txt"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("Refused link etc"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("Refused link climb"), std::string::npos) << msgs;
  EXPECT_TRUE(x.hasMessage(zipapi::ErrBadName));
  // Only the safe members arrived: ok.txt, the inner link, and etc/passwd as a plain folder and file.
  EXPECT_EQ(x.result, 3) << msgs;
  EXPECT_EQ(everythingUnder(dest), QStringList({"etc", "etc/passwd", "inner", "ok.txt"}));
  EXPECT_TRUE(QFileInfo(dest + "/inner").isSymLink());
  EXPECT_EQ(readFile(dest + "/inner"), QByteArray("fine"));
  EXPECT_FALSE(QFileInfo(dest + "/etc").isSymLink());
  // Nothing escaped into the folders above.
  EXPECT_EQ(everythingUnder(QFileInfo(dest).absolutePath()), QStringList({"target", "target/etc", "target/etc/passwd",
                                                                           "target/inner", "target/ok.txt"}));
}

TEST(EngineSafety, ExistingLinkInTheTargetIsNotFollowedOutside) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString outside = makeDir("outside");
  const QString dest = makeDir("dest");
  ASSERT_TRUE(QFile::link(outside, dest + "/sub"));
  const QString zip = makeDir("z") + "/a.zip";
  ASSERT_EQ(peers::python("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'w'); z.writestr('sub/x.txt','x'); z.close()",
                          {zip}).exitCode, 0);
  EngineCall x = engines.extractInto(dest, zip, {}, ExtractOptions{});
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrBadName)) << x.allMessages();
  EXPECT_TRUE(everythingUnder(outside).isEmpty());
}

TEST(EngineSafety, CrcErrorTruncationAndOverwriteRules) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString dir = makeDir("z");
  const QString zip = dir + "/a.zip";
  ASSERT_EQ(peers::python("import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
                          "z.writestr('stored.txt', 'A' * 1000)\n"
                          "z.writestr('deflated.txt', 'B' * 100000, zipfile.ZIP_DEFLATED)\n"
                          "z.close()",
                          {zip})
                .exitCode,
            0);
  QByteArray bytes = readFile(zip);
  const QString dest = makeDir("dest");
  writeFile(dest + "/stored.txt", "old contents");

  // Existing files stay unless overwriting is asked for.
  EngineCall x = engines.extractInto(dest, zip, {}, ExtractOptions{});
  EXPECT_EQ(x.result, 1);
  EXPECT_EQ(readFile(dest + "/stored.txt"), QByteArray("old contents"));
  EXPECT_TRUE(x.hasMessage(zipapi::ErrWarning)) << x.allMessages();

  // A flipped byte in the stored data: CRC error, old file kept, no temporary file left.
  const int at = bytes.indexOf(QByteArray(1000, 'A'));
  ASSERT_GT(at, 0);
  QByteArray crc = bytes;
  crc[at + 500] = 'C';
  writeFile(dir + "/crc.zip", crc);
  ExtractOptions over;
  over.overwrite = true;
  x = engines.extractInto(dest, dir + "/crc.zip", {"stored.txt"}, over);
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrCrc)) << x.allMessages();
  EXPECT_EQ(readFile(dest + "/stored.txt"), QByteArray("old contents"));
  EXPECT_EQ(everythingUnder(dest), QStringList({"deflated.txt", "stored.txt"}));
  ExtractOptions test;
  test.test = true;
  x = engines.extract(dir + "/crc.zip", {}, test);
  EXPECT_EQ(x.result, 1);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrCrc));

  // A central size that claims more than the file holds: truncated data, not a crash or a read beyond.
  QByteArray cut = bytes;
  const int central = cut.lastIndexOf(QByteArray("PK\x01\x02", 4));
  const int firstCentral = cut.indexOf(QByteArray("PK\x01\x02", 4));
  ASSERT_GT(central, firstCentral);
  cut[central + 20] = char(0xF0);
  cut[central + 21] = char(0xFF);
  cut[central + 22] = char(0xFF);
  cut[central + 23] = char(0x0F);
  writeFile(dir + "/cut.zip", cut);
  x = engines.extract(dir + "/cut.zip", {}, test);
  EXPECT_EQ(x.result, 1);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrTruncated)) << x.allMessages();

  // A file cut in the middle has no directory: a format error, nothing extracted.
  writeFile(dir + "/half.zip", bytes.left(bytes.size() / 2));
  const QString dest2 = makeDir("dest");
  x = engines.extractInto(dest2, dir + "/half.zip", {});
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrFormat)) << x.allMessages();
  EXPECT_TRUE(everythingUnder(dest2).isEmpty());
}

TEST(EngineSafety, AddingToSomethingThatIsNotAZipLeavesItAlone) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString dir = makeDir("z");
  writeFile(dir + "/notes.zip", "these are not zip bytes, and they must survive");
  writeFile(dir + "/f.txt", "f");
  EngineCall c = engines.add(dir + "/notes.zip", {dir + "/f.txt"});
  EXPECT_EQ(c.result, 0);
  EXPECT_TRUE(c.hasMessage(zipapi::ErrFormat)) << c.allMessages();
  EXPECT_EQ(readFile(dir + "/notes.zip"), QByteArray("these are not zip bytes, and they must survive"));
}
