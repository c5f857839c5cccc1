// The engine libraries against independent zip tools, both ways, through the engines' C interface.
#include <gtest/gtest.h>

#include "tests/common/testenv.h"
#include "tests/engines/harness.h"
#include "tests/engines/peers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cstdio>

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {

// Lists member names with python's zipfile, after it has tested every CRC.
QStringList pythonNames(const QString &archive, const QString &password = {}) {
  const auto r = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "if len(sys.argv) > 2: z.setpassword(sys.argv[2].encode())\n"
      "bad = z.testzip()\n"
      "assert bad is None, bad\n"
      "for i in z.infolist(): print(i.filename)\n",
      password.isEmpty() ? QStringList{archive} : QStringList{archive, password});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  QStringList names = r.out.split('\n', Qt::SkipEmptyParts);
  names.sort();
  return names;
}

QStringList filesUnder(const QString &root) {
  QStringList out;
  QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) out << QDir(root).relativeFilePath(it.next());
  out.sort();
  return out;
}

class EnginesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engines.loaded()) << "engine libraries not found"; }
  Engines engines;
};

}  // namespace

TEST_F(EnginesTest, AddedTreeIsReadAndTestedByPythonBsdtarAnd7zAndExtractsBack) {
  const QString src = makeDir("src");
  QStringList files = peers::makeTree(src);
  writeFile(src + "/.hidden", "secret");
  QDir().mkpath(src + "/emptydir");
  const QString zip = makeDir("out") + "/tree.zip";
  const QString work = QFileInfo(src).absolutePath();
  QDir::setCurrent(work);
  const QString base = QFileInfo(src).fileName();
  EngineCall c = engines.add(zip, {base});
  EXPECT_EQ(c.result, int32_t(files.size()) + 4) << c.allMessages();  // + 4 folder entries
  EXPECT_TRUE(c.batchEnd);
  EXPECT_EQ(c.totalMembers, uint64_t(c.result));

  QStringList expected;
  for (const auto &f : files) expected << base + "/" + f;
  expected << base + "/" << base + "/sub/" << base + "/sub/deeper/" << base + "/emptydir/";
  expected.sort();
  EXPECT_EQ(pythonNames(zip), expected);

  const auto bsd = peers::run("bsdtar", {"-tf", zip});
  EXPECT_EQ(bsd.exitCode, 0) << bsd.out.toStdString();
  EXPECT_TRUE(bsd.out.contains(QString::fromUtf8("\xc3\xbcml\xc3\xa4ut \xe2\x82\xac.txt"))) << bsd.out.toStdString();
  const auto seven = peers::run(peers::sevenZip(), {"t", zip});
  EXPECT_EQ(seven.exitCode, 0) << seven.out.toStdString();
  EXPECT_TRUE(seven.out.contains("Everything is Ok")) << seven.out.toStdString();

  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, zip, {});
  EXPECT_EQ(x.result, c.result) << x.allMessages();
  for (const auto &f : files) EXPECT_EQ(readFile(dest + "/" + base + "/" + f), readFile(src + "/" + f)) << f.toStdString();
  EXPECT_TRUE(QFileInfo(dest + "/" + base + "/emptydir").isDir());
  EXPECT_FALSE(QFileInfo::exists(dest + "/" + base + "/.hidden"));
  // No temporary files are left behind.
  for (const auto &f : filesUnder(dest)) EXPECT_FALSE(f.contains(".tarnwick-")) << f.toStdString();
}

TEST_F(EnginesTest, OptionsShapeTheNames) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  writeFile(src + "/.hidden", "h");
  QDir::setCurrent(src);
  const QString out = makeDir("out");

  AddOptions flat;
  flat.dirNames = false;
  EngineCall c = engines.add(out + "/flat.zip", {"."}, flat);
  EXPECT_GT(c.result, 0) << c.allMessages();
  QStringList flatNames = pythonNames(out + "/flat.zip");
  EXPECT_TRUE(flatNames.contains("c.txt"));
  EXPECT_TRUE(flatNames.contains("b.bin"));
  for (const auto &n : flatNames) EXPECT_FALSE(n.contains('/')) << n.toStdString();

  AddOptions noDirs;
  noDirs.folderEntries = false;
  noDirs.hidden = true;
  engines.add(out + "/nodirs.zip", {"."}, noDirs);
  QStringList names = pythonNames(out + "/nodirs.zip");
  EXPECT_TRUE(names.contains(".hidden"));
  for (const auto &n : names) EXPECT_FALSE(n.endsWith('/')) << n.toStdString();

  AddOptions noRecurse;
  noRecurse.recurse = false;
  engines.add(out + "/top.zip", {"*.txt", "sub"}, noRecurse);
  EXPECT_EQ(pythonNames(out + "/top.zip"), QStringList({"a.txt", "sub/"}));

  // Wildcards reach into subfolders when recursing.
  engines.add(out + "/txt.zip", {"*.txt"});
  names = pythonNames(out + "/txt.zip");
  EXPECT_TRUE(names.contains("a.txt"));
  EXPECT_TRUE(names.contains("sub/deeper/c.txt"));
  EXPECT_FALSE(names.contains("sub/b.bin"));

  // Absolute names lose their root.
  engines.add(out + "/abs.zip", {src + "/a.txt"});
  EXPECT_EQ(pythonNames(out + "/abs.zip"), QStringList({(src + "/a.txt").mid(1)}));
}

TEST_F(EnginesTest, LevelZeroStoresAndLevelNineDeflatesSmaller) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  QDir::setCurrent(src);
  const QString out = makeDir("out");
  AddOptions store, best;
  store.level = 0;
  best.level = 9;
  ASSERT_GT(engines.add(out + "/0.zip", {"a.txt", "sub/b.bin"}, store).result, 0);
  ASSERT_GT(engines.add(out + "/9.zip", {"a.txt", "sub/b.bin"}, best).result, 0);
  const auto r = peers::python(
      "import sys, zipfile\n"
      "for a in sys.argv[1:]:\n"
      "  z = zipfile.ZipFile(a); assert z.testzip() is None\n"
      "  print(' '.join('%s=%d' % (i.filename, i.compress_type) for i in z.infolist()))\n",
      {out + "/0.zip", out + "/9.zip"});
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("a.txt=0 sub/b.bin=0\n")) << r.out.toStdString();
  // Random data does not shrink and is stored even at level 9.
  EXPECT_TRUE(r.out.contains("a.txt=8 sub/b.bin=0\n")) << r.out.toStdString();
  EXPECT_LT(QFileInfo(out + "/9.zip").size(), QFileInfo(out + "/0.zip").size() / 2);

  // Large already-compressed data is stored; a file that only starts with such data is still deflated.
  QByteArray noise(1 << 20, 0);
  uint32_t x = 7;
  for (auto &c : noise) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 23);
  }
  writeFile(src + "/media.jpg", noise);
  writeFile(src + "/mixed.bin", noise + readFile(src + "/a.txt").repeated(20));
  ASSERT_EQ(engines.add(out + "/m.zip", {"media.jpg", "mixed.bin"}, best).result, 2);
  const auto m = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None\n"
      "print(' '.join('%s=%d' % (i.filename, i.compress_type) for i in z.infolist()))\n",
      {out + "/m.zip"});
  EXPECT_EQ(m.out.trimmed(), "media.jpg=0 mixed.bin=8") << m.out.toStdString();
}

TEST_F(EnginesTest, EncryptedArchivesWorkBothWaysWith7zAndPython) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  QDir::setCurrent(src);
  const QString out = makeDir("out");
  AddOptions enc;
  enc.encrypt = true;
  enc.password = "s3cret pass";
  ASSERT_GT(engines.add(out + "/enc.zip", {"a.txt", "sub/b.bin", "empty.dat"}, enc).result, 0);
  EXPECT_EQ(pythonNames(out + "/enc.zip", "s3cret pass"), QStringList({"a.txt", "empty.dat", "sub/b.bin"}));
  auto seven = peers::run(peers::sevenZip(), {"t", "-ps3cret pass", out + "/enc.zip"});
  EXPECT_EQ(seven.exitCode, 0) << seven.out.toStdString();
  seven = peers::run(peers::sevenZip(), {"t", "-pwrong", out + "/enc.zip"});
  EXPECT_NE(seven.exitCode, 0);

  // 7-Zip's traditional encryption read by our engine.
  const QString foreign = out + "/7z.zip";
  seven = peers::run(peers::sevenZip(), {"a", "-tzip", "-mem=ZipCrypto", "-pAbc123", foreign, "a.txt", "sub"}, src);
  ASSERT_EQ(seven.exitCode, 0) << seven.out.toStdString();
  ExtractOptions good;
  good.password = "Abc123";
  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, foreign, {}, good);
  EXPECT_GE(x.result, 4) << x.allMessages();
  EXPECT_EQ(readFile(dest + "/sub/b.bin"), readFile(src + "/sub/b.bin"));
  EXPECT_EQ(readFile(dest + "/a.txt"), readFile(src + "/a.txt"));

  // A wrong or missing password gives its own message, a low count and no file.
  ExtractOptions bad;
  bad.password = "nope";
  const QString dest2 = makeDir("dest");
  x = engines.extractInto(dest2, foreign, {"a.txt"}, bad);
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrPassword)) << x.allMessages();
  EXPECT_TRUE(filesUnder(dest2).isEmpty());
  // The header's check byte lets about one wrong password in 256 through; the garbage that follows is still
  // reported as a wrong password, never as a damaged archive.
  for (int i = 0; i < 600; ++i) {
    bad.password = "wrong" + std::to_string(i);
    x = engines.extractInto(dest2, foreign, {"a.txt"}, bad);
    ASSERT_TRUE(x.result == 0 && x.hasMessage(zipapi::ErrPassword)) << bad.password << ": " << x.allMessages();
  }
  EXPECT_TRUE(filesUnder(dest2).isEmpty());
  ExtractOptions none;
  none.test = true;
  x = engines.extract(out + "/enc.zip", {}, none);
  EXPECT_EQ(x.result, 0);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrPassword)) << x.allMessages();
}

TEST_F(EnginesTest, ForeignArchivesFromPythonAndBsdtarExtractAndTest) {
  const QString src = makeDir("src");
  const QStringList files = peers::makeTree(src);
  const QString out = makeDir("out");
  const auto py = peers::python(
      "import sys, zipfile, os\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "z.write(os.path.join(sys.argv[2], 'a.txt'), 'a.txt', zipfile.ZIP_DEFLATED)\n"
      "z.write(os.path.join(sys.argv[2], 'sub/b.bin'), 'sub/b.bin', zipfile.ZIP_STORED)\n"
      "z.writestr('folder/', b'')\n"
      "z.writestr('\\u00fcber/\\u20ac.txt', b'euro')\n"
      "with z.open('big64.txt', 'w', force_zip64=True) as f: f.write(b'zip64 local header' * 100)\n"
      "z.close()\n",
      {out + "/py.zip", src});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  ExtractOptions test;
  test.test = true;
  EngineCall t = engines.extract(out + "/py.zip", {}, test);
  EXPECT_EQ(t.result, 5) << t.allMessages();
  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, out + "/py.zip", {});
  EXPECT_EQ(x.result, 5) << x.allMessages();
  EXPECT_EQ(readFile(dest + "/sub/b.bin"), readFile(src + "/sub/b.bin"));
  EXPECT_EQ(readFile(dest + QString::fromUtf8("/\xc3\xbc" "ber/\xe2\x82\xac.txt")), QByteArray("euro"));
  EXPECT_EQ(readFile(dest + "/big64.txt").size(), 1800);
  EXPECT_TRUE(QFileInfo(dest + "/folder").isDir());

  const auto bsd = peers::run("bsdtar", {"-a", "-cf", out + "/bsd.zip", "."}, src);
  ASSERT_EQ(bsd.exitCode, 0) << bsd.out.toStdString();
  t = engines.extract(out + "/bsd.zip", {}, test);
  EXPECT_GE(t.result, files.size()) << t.allMessages();
  const QString dest2 = makeDir("dest");
  x = engines.extractInto(dest2, out + "/bsd.zip", {"*.txt"});
  EXPECT_EQ(readFile(dest2 + "/sub/deeper/c.txt"), QByteArray("third file\n")) << x.allMessages();
  EXPECT_FALSE(QFileInfo::exists(dest2 + "/sub/b.bin"));
}

TEST_F(EnginesTest, FreshenUpdateAndMove) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/f.zip";
  ASSERT_EQ(engines.add(zip, {"a.txt"}).result, 1);
  const QByteArray before = readFile(zip);

  // Freshen adds nothing new and leaves older-or-equal members alone.
  AddOptions fresh;
  fresh.freshen = true;
  EngineCall c = engines.add(zip, {"a.txt", "empty.dat"}, fresh);
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(readFile(zip), before);

  // A newer file is taken by freshen; update also takes new files.
  writeFile(src + "/a.txt", "changed");
  QFile f(src + "/a.txt");
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  f.setFileTime(QDateTime::currentDateTime().addSecs(10), QFileDevice::FileModificationTime);
  f.close();
  c = engines.add(zip, {"a.txt", "empty.dat"}, fresh);
  EXPECT_EQ(c.result, 1) << c.allMessages();
  EXPECT_EQ(pythonNames(zip), QStringList({"a.txt"}));
  AddOptions upd;
  upd.update = true;
  c = engines.add(zip, {"a.txt", "empty.dat"}, upd);
  EXPECT_EQ(c.result, 1) << c.allMessages();
  EXPECT_EQ(pythonNames(zip), QStringList({"a.txt", "empty.dat"}));
  const auto py = peers::python("import sys,zipfile; print(zipfile.ZipFile(sys.argv[1]).read('a.txt').decode())", {zip});
  EXPECT_EQ(py.out.trimmed(), "changed");

  // Move deletes the sources once they are in the archive.
  AddOptions mv;
  mv.move = true;
  c = engines.add(zip, {"sub"}, mv);
  EXPECT_GT(c.result, 0) << c.allMessages();
  EXPECT_FALSE(QFileInfo::exists(src + "/sub/b.bin"));
  EXPECT_FALSE(QFileInfo::exists(src + "/sub"));
  EXPECT_TRUE(pythonNames(zip).contains("sub/deeper/c.txt"));
}

TEST_F(EnginesTest, ArchiveTimeFollowsNewestMember) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  QFile f(src + "/a.txt");
  ASSERT_TRUE(f.open(QIODevice::ReadWrite));
  const QDateTime when(QDate(2011, 5, 6), QTime(7, 8, 10));
  f.setFileTime(when, QFileDevice::FileModificationTime);
  f.close();
  QFile g(src + "/empty.dat");
  ASSERT_TRUE(g.open(QIODevice::ReadWrite));
  g.setFileTime(when.addDays(-3), QFileDevice::FileModificationTime);
  g.close();
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/t.zip";
  AddOptions o;
  o.zipTime = true;
  ASSERT_EQ(engines.add(zip, {"a.txt", "empty.dat"}, o).result, 2);
  EXPECT_EQ(QFileInfo(zip).lastModified(), when);
}

TEST_F(EnginesTest, DeleteRemovesMatchingMembersOnly) {
  const QString src = makeDir("src");
  peers::makeTree(src);
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/d.zip";
  ASSERT_GT(engines.add(zip, {"."}).result, 0);
  EngineCall c = engines.remove(zip, {"sub\\deeper\\*", "a.txt"});
  EXPECT_EQ(c.result, 3) << c.allMessages();  // folder entry, c.txt, a.txt
  const QStringList names = pythonNames(zip);
  EXPECT_FALSE(names.contains("a.txt"));
  EXPECT_FALSE(names.contains("sub/deeper/c.txt"));
  EXPECT_TRUE(names.contains("sub/b.bin"));
  const QByteArray kept = readFile(zip);
  c = engines.remove(zip, {"nothing-like-this"});
  EXPECT_EQ(c.result, 0);
  EXPECT_TRUE(c.hasMessage(zipapi::ErrNoMatch));
  EXPECT_EQ(readFile(zip), kept);
}

TEST_F(EnginesTest, CancelLeavesTheArchiveAsItWasAndStopsExtraction) {
  const QString src = makeDir("src");
  for (int i = 0; i < 50; ++i) writeFile(src + QString("/f%1.txt").arg(i), QByteArray(5000, char('a' + i % 26)));
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/c.zip";
  ASSERT_EQ(engines.add(zip, {"f1.txt"}).result, 1);
  const QByteArray before = readFile(zip);
  EngineCall c = engines.add(zip, {"*.txt"}, AddOptions{}, 3);
  EXPECT_EQ(c.result, 0);
  EXPECT_TRUE(c.hasMessage(zipapi::ErrCancelled)) << c.allMessages();
  EXPECT_LE(c.members.size(), 4u);  // stops at once, not after the batch
  EXPECT_EQ(readFile(zip), before);
  EXPECT_EQ(QDir(QFileInfo(zip).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);

  // Members of 1 MiB each: the stop request overtakes the workers long before the end.
  const QString big = makeDir("big");
  QByteArray block(1 << 20, 'x');
  for (int i = 0; i < 40; ++i) {
    block[0] = char(i);
    writeFile(big + QString("/m%1.bin").arg(i), block);
  }
  const QString zip2 = makeDir("out") + "/big.zip";
  AddOptions store;
  store.level = 0;
  ASSERT_EQ(engines.add(zip2, {big + "/*.bin"}, store).result, 40);
  const QString dest = makeDir("dest");
  EngineCall x = engines.extractInto(dest, zip2, {}, ExtractOptions{}, 5);
  EXPECT_LE(x.result, 5);
  EXPECT_TRUE(x.hasMessage(zipapi::ErrCancelled)) << x.allMessages();
  EXPECT_LT(filesUnder(dest).size(), 40);
  for (const auto &f : filesUnder(dest)) EXPECT_FALSE(f.contains(".tarnwick-")) << f.toStdString();
}

TEST_F(EnginesTest, MembersBeyondTheWholeBufferBoundStreamInChunks) {
  const QString src = makeDir("src");
  // 21 MiB of text that compresses, built line by line in place.
  QByteArray big(21 << 20, '\n');
  uint32_t x = 99;
  for (qsizetype at = 0; at + 40 < big.size(); at += 40) {
    x = x * 1664525u + 1013904223u;
    std::snprintf(big.data() + at, 40, "record %6u value %10u ........", x % 100000, x >> 8);
    big[at + 39] = '\n';
  }
  writeFile(src + "/big.log", big);
  QDir::setCurrent(src);
  const QString out = makeDir("out");
  AddOptions plain, enc;
  enc.encrypt = true;
  enc.password = "pw";
  ASSERT_EQ(engines.add(out + "/big.zip", {"big.log"}, plain).result, 1);
  ASSERT_EQ(engines.add(out + "/bigenc.zip", {"big.log"}, enc).result, 1);
  EXPECT_LT(QFileInfo(out + "/big.zip").size(), big.size() / 2);
  EXPECT_EQ(pythonNames(out + "/big.zip"), QStringList{"big.log"});
  // (python decrypts in pure python, far too slowly for 21 MiB: 7-Zip checks this one)
  const auto seven = peers::run(peers::sevenZip(), {"t", "-ppw", out + "/bigenc.zip"});
  EXPECT_EQ(seven.exitCode, 0) << seven.out.toStdString();
  ExtractOptions pw;
  pw.password = "pw";
  const QString dest = makeDir("dest");
  EngineCall x1 = engines.extractInto(dest, out + "/bigenc.zip", {}, pw);
  EXPECT_EQ(x1.result, 1) << x1.allMessages();
  EXPECT_TRUE(readFile(dest + "/big.log") == big);
  EXPECT_EQ(x1.bytes, uint64_t(big.size()));
}

TEST_F(EnginesTest, MoreThan65535MembersGetZip64EndRecords) {
  const QString src = makeDir("many");
  // Hard links of two files (a file takes at most 65,000 links): creating 66,000 inodes is slow on the build machines' disks.
  ASSERT_EQ(peers::python("import os, sys\n"
                          "seeds = [os.path.join(sys.argv[1], 'seed%d' % k) for k in range(2)]\n"
                          "for s in seeds: open(s, 'w').close()\n"
                          "for d in range(66):\n"
                          "  os.mkdir(os.path.join(sys.argv[1], 'd%d' % d))\n"
                          "  for i in range(1000): os.link(seeds[d % 2], os.path.join(sys.argv[1], 'd%d' % d, str(i)))\n"
                          "for s in seeds: os.remove(s)\n",
                          {src}).exitCode, 0);
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/many.zip";
  AddOptions o;
  o.folderEntries = false;
  EngineCall c = engines.add(zip, {"."}, o);
  ASSERT_EQ(c.result, 66000) << c.allMessages();
  const auto py = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "print(len(z.infolist()), z.read('d65/999'))\n",
      {zip});
  EXPECT_EQ(py.out.trimmed(), "66000 b''") << py.out.toStdString();
  ExtractOptions test;
  test.test = true;
  EXPECT_EQ(engines.extract(zip, {}, test).result, 66000);
  // Deleting keeps the Zip64 records right as the count goes down.
  c = engines.remove(zip, {"d65/*", "d64/*"});
  EXPECT_EQ(c.result, 2000);
  const auto py2 = peers::python("import sys, zipfile\nprint(len(zipfile.ZipFile(sys.argv[1]).infolist()))", {zip});
  EXPECT_EQ(py2.out.trimmed(), "64000");
}

TEST_F(EnginesTest, DosNamesAreUpperCaseEightDotThree) {
  const QString src = makeDir("src");
  writeFile(src + "/Long file name.text", "x");
  writeFile(src + "/sub folder/readme.markdown", "y");
  QDir::setCurrent(src);
  const QString zip = makeDir("out") + "/dos.zip";
  AddOptions o;
  o.dosNames = true;
  o.folderEntries = false;
  ASSERT_EQ(engines.add(zip, {"."}, o).result, 2);
  EXPECT_EQ(pythonNames(zip), QStringList({"LONGFILE.TEX", "SUBFOLDE/README.MAR"}));
}

TEST_F(EnginesTest, AddingAndDeletingKeepTheProgramInFrontOfTheArchive) {
  const QString dir = makeDir("sfx");
  const QByteArray program = QByteArray("#!stub\n") + QByteArray(3000, 'P');
  // Offsets counting from the zip data (an archive glued behind a program).
  const QString zip = dir + "/glued.exe";
  const auto py = peers::python(
      "import sys, zipfile, io\n"
      "b = io.BytesIO()\n"
      "with zipfile.ZipFile(b, 'w') as z: z.writestr('old.txt', 'old member')\n"
      "open(sys.argv[1], 'wb').write(sys.argv[2].encode() + b.getvalue())\n",
      {zip, QString::fromLatin1(program)});
  ASSERT_EQ(py.exitCode, 0) << py.out.toStdString();
  writeFile(dir + "/new.txt", "new member");
  QDir::setCurrent(dir);
  AddOptions o;
  EngineCall c = engines.add(zip, {"new.txt"}, o);
  ASSERT_EQ(c.result, 1) << c.allMessages();
  EXPECT_TRUE(readFile(zip).startsWith(program));
  EXPECT_EQ(pythonNames(zip), QStringList({"new.txt", "old.txt"}));
  ASSERT_EQ(engines.remove(zip, {"old.txt"}).result, 1);
  EXPECT_TRUE(readFile(zip).startsWith(program));
  EXPECT_EQ(pythonNames(zip), QStringList({"new.txt"}));
  // Deleting the last member leaves an empty archive, still behind its program.
  ASSERT_EQ(engines.remove(zip, {"*"}).result, 1);
  EXPECT_EQ(readFile(zip).size(), program.size() + 22);
  EXPECT_TRUE(pythonNames(zip).isEmpty());
}

TEST_F(EnginesTest, EveryOperationStopsAtTheFirstCallbackThatAsks) {
  const QString src = makeDir("src");
  for (int i = 0; i < 300; ++i) writeFile(src + QString("/f%1.txt").arg(i, 3, 10, QChar('0')), QByteArray(200, char('a' + i % 26)));
  writeFile(src + "/new.dat", "new");
  QDir::setCurrent(src);
  const QString out = makeDir("out");
  const QString zip = out + "/c.zip";
  ASSERT_EQ(engines.add(zip, {"*.txt"}).result, 300);
  const QByteArray before = readFile(zip);
  // A stop at the first callback (which may itself be a message): nothing done, nothing announced,
  // one more message saying so.
  auto stoppedAtOnce = [](const EngineCall &c, const char *what) {
    EXPECT_EQ(c.result, 0) << what;
    EXPECT_TRUE(c.members.empty()) << what << ": " << c.members.size() << " members announced";
    EXPECT_LE(c.callbacks, 2) << what;
    ASSERT_FALSE(c.messages.empty()) << what;
    EXPECT_LE(c.messages.size(), 2u) << what << ":\n" << c.allMessages().substr(0, 2000);
    EXPECT_EQ(c.messages.back().first, zipapi::ErrCancelled) << what;
  };
  AddOptions add;
  add.verbose = true;
  add.stopAtCallback = 1;
  stoppedAtOnce(engines.add(zip, {"new.dat"}, add), "add");
  stoppedAtOnce(engines.add(out + "/fresh.zip", {"*.txt"}, add), "add to a new archive");
  EXPECT_FALSE(QFileInfo::exists(out + "/fresh.zip"));
  stoppedAtOnce(engines.remove(zip, {"f*"}, add), "delete");
  EXPECT_EQ(readFile(zip), before);
  EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"c.zip"}));  // no temporary left

  ExtractOptions x;
  x.verbose = true;
  x.stopAtCallback = 1;
  const QString dest = makeDir("dest");
  stoppedAtOnce(engines.extractInto(dest, zip, {}, x), "extract");
  EXPECT_TRUE(filesUnder(dest).isEmpty()) << filesUnder(dest).join(' ').toStdString();
  x.test = true;
  stoppedAtOnce(engines.extract(zip, {}, x), "test");
  EXPECT_EQ(readFile(zip), before);

  // Without the stop the same calls do their work (the archive above was left alone, not unusable).
  EXPECT_EQ(engines.remove(zip, {"f00*"}).result, 10);
}
