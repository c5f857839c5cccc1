// Hostile and damaged archives: the unzip engine refuses unsafe names and links, and reports wrong
// passwords, CRC errors and truncated data each with its own code, leaving no partial files.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"
#include "tests/engines/harness.h"
#include "tests/engines/peers.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

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

TEST(EngineSafety, DeepFolderNamesExtractLevelByLevel) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  // 3,000 nested folders: the whole path is longer than any single call of the system takes, and the
  // second name also has a folder entry for every level.
  const QString zip = makeDir("z") + "/deep.zip";
  const auto py = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "z.writestr('d/' * 3000 + 'leaf.txt', 'deep leaf')\n"
      "for i in range(1, 3001): z.writestr('e/' * i, '')\n"
      "z.close()\n",
      {zip});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, zip, {}, ExtractOptions{});
  EXPECT_EQ(x.result, 3001) << x.allMessages().substr(0, 2000);
  EXPECT_TRUE(x.messages.empty()) << x.allMessages().substr(0, 2000);
  // Walked one folder at a time, as the paths are too long to name at once.
  const auto check = peers::python(
      "import os, sys\n"
      "def walk(name, levels):\n"
      "    fd = os.open(sys.argv[1], os.O_RDONLY)\n"
      "    for i in range(levels):\n"
      "        assert i == 0 or os.listdir(fd) == [name], (name, i, os.listdir(fd))\n"
      "        nfd = os.open(name, os.O_RDONLY | os.O_NOFOLLOW, dir_fd=fd); os.close(fd); fd = nfd\n"
      "    return fd\n"
      "assert sorted(os.listdir(sys.argv[1])) == ['d', 'e'], os.listdir(sys.argv[1])\n"
      "fd = walk('d', 3000)\n"
      "assert os.listdir(fd) == ['leaf.txt'], os.listdir(fd)\n"
      "f = os.open('leaf.txt', os.O_RDONLY, dir_fd=fd)\n"
      "assert os.read(f, 100) == b'deep leaf'\n"
      "fd = walk('e', 3000)\n"
      "assert os.listdir(fd) == []\n"
      "print('ok')\n",
      {dest});
  EXPECT_EQ(check.out.trimmed(), "ok") << check.out.toStdString();
  // Extracting again over what is there, and testing, work the same.
  ExtractOptions over;
  over.overwrite = true;
  EXPECT_EQ(engines.extractInto(dest, zip, {}, over).result, 3001);
  ExtractOptions test;
  test.test = true;
  EXPECT_EQ(engines.extract(zip, {}, test).result, 3001);
}

TEST(EngineSafety, OverlappingRecordsAreADamagedArchiveAndDisagreeingHeadersWarn) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString dir = makeDir("z");
  // One stored record of 200,000 bytes and 30 central entries that all point at it.
  const auto py = peers::python(
      "import sys, struct, zipfile\n"
      "path = sys.argv[1]\n"
      "z = zipfile.ZipFile(path, 'w')\n"
      "z.writestr('payload.bin', b'x' * 200000)\n"
      "z.writestr('second.txt', b'second')\n"
      "z.close()\n"
      "data = open(path, 'rb').read()\n"
      "cd = data.index(b'PK\\x01\\x02')\n"
      "end = data.index(b'PK\\x05\\x06')\n"
      "first = data[cd:cd + 46 + 11]\n"
      "entries = b''.join(first[:46] + b'pay%04d.bin' % i for i in range(30))\n"
      "with open(sys.argv[2], 'wb') as f:\n"
      "    f.write(data[:cd] + entries + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 30, 30, len(entries), cd, 0))\n"
      "# A local header whose method and name disagree with the central entry (both stored, 11 bytes).\n"
      "lh = bytearray(data)\n"
      "lh[8] = 8\n"
      "lh[30:41] = b'other__.bin'\n"
      "with open(sys.argv[3], 'wb') as f: f.write(lh)\n",
      {dir + "/ok.zip", dir + "/bomb.zip", dir + "/differs.zip"});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  ExtractOptions test;
  test.test = true;
  ASSERT_EQ(engines.extract(dir + "/ok.zip", {}, test).result, 2);

  EngineCall t = engines.extract(dir + "/bomb.zip", {}, test);
  EXPECT_EQ(t.result, 0);
  EXPECT_TRUE(t.hasMessage(zipapi::ErrFormat)) << t.allMessages();
  EXPECT_NE(t.allMessages().find("overlap"), std::string::npos) << t.allMessages();
  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, dir + "/bomb.zip", {});
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrFormat)) << x.allMessages();
  EXPECT_TRUE(everythingUnder(dest).isEmpty()) << everythingUnder(dest).join(' ').toStdString();

  // The central entry decides; the disagreement is reported once per member as a warning.
  t = engines.extract(dir + "/differs.zip", {}, test);
  EXPECT_EQ(t.result, 2) << t.allMessages();
  EXPECT_TRUE(t.hasMessage(zipapi::ErrWarning)) << t.allMessages();
  EXPECT_NE(t.allMessages().find("payload.bin"), std::string::npos) << t.allMessages();
  EXPECT_NE(t.allMessages().find("name"), std::string::npos) << t.allMessages();
  EXPECT_NE(t.allMessages().find("method"), std::string::npos) << t.allMessages();
  const QString dest2 = makeDir("dest");
  x = engines.extractInto(dest2, dir + "/differs.zip", {});
  EXPECT_EQ(x.result, 2) << x.allMessages();
  EXPECT_EQ(readFile(dest2 + "/payload.bin"), QByteArray(200000, 'x'));
}

TEST(EngineSafety, ControlCharactersAreReplacedInFilesAndEscapedInMessages) {
  Engines engines;
  ASSERT_TRUE(engines.loaded());
  const QString zip = makeDir("z") + "/ctl.zip";
  const auto py = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "for n in ['new\\nline.txt', 'tab\\there.txt', 'cr\\rx.txt', 'esc\\x1b[31mred.txt', 'bell\\x07/inner.txt']:\n"
      "    z.writestr(n, n)\n"
      "z.close()\n",
      {zip});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  const QString dest = makeDir("dest");
  ExtractOptions o;
  o.verbose = true;
  EngineCall x = engines.extractInto(dest, zip, {}, o);
  EXPECT_EQ(x.result, 5) << x.allMessages();
  EXPECT_EQ(everythingUnder(dest), QStringList({"bell_", "bell_/inner.txt", "cr_x.txt", "esc_[31mred.txt", "new_line.txt",
                                                "tab_here.txt"}));
  EXPECT_EQ(readFile(dest + "/new_line.txt"), QByteArray("new\nline.txt"));
  // What reaches the user is escaped: no control character in any name or message.
  const QRegularExpression control("[\\x00-\\x1f\\x7f]");
  for (const auto &m : x.messages) EXPECT_FALSE(QString::fromStdString(m.second).contains(control)) << m.second;
  for (const auto &m : x.members) EXPECT_FALSE(QString::fromStdString(m).contains(control)) << m;
  ASSERT_EQ(x.members.size(), 5u);
  EXPECT_EQ(x.members[0], "new\\nline.txt");
  EXPECT_EQ(x.members[1], "tab\\there.txt");
  EXPECT_EQ(x.members[3], "esc\\x1b[31mred.txt");
  EXPECT_EQ(x.members[4], "bell\\x07/inner.txt");
  o.test = true;
  EngineCall t = engines.extract(zip, {}, o);
  EXPECT_EQ(t.result, 5) << t.allMessages();
  for (const auto &m : t.messages) EXPECT_FALSE(QString::fromStdString(m.second).contains(control)) << m.second;
  EXPECT_NE(t.allMessages().find("testing: cr\\rx.txt  OK"), std::string::npos) << t.allMessages();
  // Specs still name the stored names.
  const QString dest2 = makeDir("dest");
  EXPECT_EQ(engines.extractInto(dest2, zip, {"cr\rx.txt"}, ExtractOptions{}).result, 1);
  EXPECT_EQ(everythingUnder(dest2), QStringList({"cr_x.txt"}));
}
