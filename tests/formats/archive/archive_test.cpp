// The archive reader against bsdtar, 7-Zip and python's zipfile and tarfile: listings, byte-equal members,
// hostile archives that try to write outside the target, damaged ones, bombs and Cancel.
#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <sys/stat.h>
#include "formats/archive/archivereader.h"
#include "tests/common/testenv.h"

using namespace archives;

namespace {

QByteArray sh(const QString &script, const QString &cwd = {}, int *code = nullptr) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
  p.waitForFinished(-1);
  if (code) *code = p.exitCode();
  EXPECT_TRUE(code || p.exitCode() == 0) << script.toStdString() << ": " << p.readAllStandardError().toStdString();
  return p.readAllStandardOutput();
}

bool have(const char *tool) { return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(); }

// A tree with blanks, a non-UTF-8 name and nested folders.
QString makeTree() {
  const QString dir = testenv::makeDir(QStringLiteral("tree"));
  sh(QStringLiteral("mkdir -p 'src/with blanks/deep/er' src/empty && printf 'alpha\\n' > 'src/with blanks/a b.txt' && "
                    "head -c 300000 /dev/urandom > src/with\\ blanks/deep/er/random.bin && printf 'latin' > "
                    "src/$'caf\\xe9'.txt && "
                    "printf 'top' > src/top.txt"),
     dir);
  return dir;
}

QSet<QByteArray> bsdtarNames(const QString &archive) {
  QSet<QByteArray> out;
  for (QByteArray l : sh(QStringLiteral("bsdtar -tf '%1'").arg(archive)).split('\n')) {
    // bsdtar writes bytes it cannot print as \ooo.
    QByteArray raw;
    for (qsizetype i = 0; i < l.size(); ++i) {
      if (l[i] == '\\' && i + 3 < l.size() + 0 && l.mid(i + 1, 3).toInt(nullptr, 8) > 0) {
        raw += char(l.mid(i + 1, 3).toInt(nullptr, 8));
        i += 3;
      } else {
        raw += l[i];
      }
    }
    l = raw;
    while (l.startsWith("./")) l.remove(0, 2);
    while (l.endsWith('/')) l.chop(1);
    if (!l.isEmpty() && l != ".") out.insert(l);
  }
  return out;
}

QSet<QByteArray> realNames(const Listing &l) {
  QSet<QByteArray> out;
  for (int i = 0; i < l.count(); ++i)
    if (!(l.member(i).flags & IsImplied)) out.insert(l.path(i));
  return out;
}

// Archives of the same tree in every format the tools here make.
QStringList makeAll(const QString &dir) {
  QStringList made;
  const auto make = [&](const QString &name, const QString &cmd) {
    int code = 0;
    sh(cmd, dir, &code);
    if (code == 0) made << dir + "/" + name;
  };
  make("t.tar.gz", "cd src && bsdtar -czf ../t.tar.gz .");
  make("t.tar.bz2", "cd src && bsdtar -cjf ../t.tar.bz2 *");
  make("t.tar.xz", "cd src && bsdtar -cJf ../t.tar.xz *");
  if (have("zstd")) make("t.tar.zst", "cd src && bsdtar --zstd -cf ../t.tar.zst *");
  make("t.cpio", "cd src && bsdtar --format cpio -cf ../t.cpio *");
  make("t.iso", "bsdtar --format iso9660 -cf t.iso -C src top.txt 'with blanks'");
  make("t.zip",
       "cd src && python3 -c \"import zipfile,os,sys\n"
       "z=zipfile.ZipFile('../t.zip','w',zipfile.ZIP_DEFLATED)\n"
       "for r,ds,fs in os.walk(b'.'):\n"
       " for f in fs: p=os.path.join(r,f); z.write(p, os.path.relpath(p).decode('utf-8','surrogateescape'))\n"
       "z.close()\"");
  if (have("7zz")) make("t.7z", "cd src && 7zz a -bd ../t.7z . >/dev/null");
  return made;
}

}  // namespace

TEST(ArchiveReader, ListingsEqualBsdtarAndImplyTheirFolders) {
  const QString dir = makeTree();
  const QStringList archives = makeAll(dir);
  ASSERT_GE(archives.size(), 6);
  for (const QString &a : archives) {
    SCOPED_TRACE(a.toStdString());
    Listing l;
    QString error;
    ASSERT_TRUE(listArchive(a, &l, &error)) << error.toStdString();
    EXPECT_EQ(realNames(l), bsdtarNames(a));
    // Every member's folder is itself a member (made up when the archive does not store it).
    for (int i = 0; i < l.count(); ++i) {
      const QByteArray p = l.path(i);
      const int slash = p.lastIndexOf('/');
      if (slash > 0) EXPECT_GE(l.find(p.left(slash)), 0) << p.constData();
    }
    const int deep = l.find("with blanks/deep/er/random.bin");
    ASSERT_GE(deep, 0);
    EXPECT_EQ(l.member(deep).size, 300000);
    EXPECT_FALSE(l.member(deep).flags & IsFolder);
    EXPECT_TRUE(l.member(l.find("with blanks/deep")).flags & IsFolder);
    QSet<QByteArray> root;
    for (int i : l.children({})) root.insert(l.path(i));
    EXPECT_TRUE(root.contains("top.txt") && root.contains("with blanks"));
    EXPECT_FALSE(root.contains("with blanks/a b.txt"));
  }
}

TEST(ArchiveReader, ExtractedMembersAreByteEqualUnderTheirRawNames) {
  const QString dir = makeTree();
  const QByteArray random = testenv::readFile(dir + "/src/with blanks/deep/er/random.bin");
  for (const QString &a : makeAll(dir)) {
    SCOPED_TRACE(a.toStdString());
    const QString one = testenv::makeDir(QStringLiteral("one"));
    ExtractOptions o;
    o.stripPrefix = "with blanks/deep/er";
    qint64 lastDone = 0;
    ExtractResult r =
        extractMembers(a, {"with blanks/deep/er/random.bin"}, one, o, [&](qint64 done, qint64) { lastDone = done; });
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(testenv::readFile(one + "/random.bin"), random);
    EXPECT_EQ(lastDone, random.size());
    EXPECT_EQ(QDir(one).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"random.bin"});
    // A folder brings everything below it, and nothing beside it.
    const QString folder = testenv::makeDir(QStringLiteral("folder"));
    r = extractMembers(a, {"with blanks"}, folder);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(testenv::readFile(folder + "/with blanks/a b.txt"), "alpha\n");
    EXPECT_EQ(testenv::readFile(folder + "/with blanks/deep/er/random.bin"), random);
    EXPECT_FALSE(QFileInfo::exists(folder + "/top.txt"));
    if (a.endsWith(".iso")) continue;  // the iso was made without the Latin-1 name
    const QString all = testenv::makeDir(QStringLiteral("all"));
    r = extractMembers(a, {}, all);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    struct stat st {};
    if (!a.endsWith(".7z"))
      EXPECT_EQ(::stat((QFile::encodeName(all) + "/caf\xe9.txt").constData(), &st), 0);  // 7z stores UTF-16
    // A second extraction keeps what is there.
    r = extractMembers(a, {"top.txt"}, all);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.refused.size(), 1) << r.refused.join(' ').toStdString();
  }
}

TEST(ArchiveReader, TenThousandMembersCostLittle) {
  const QString dir = testenv::makeDir(QStringLiteral("many"));
  sh(QStringLiteral(
         "mkdir src && cd src && for d in $(seq 0 99); do mkdir d$d; (cd d$d && touch $(seq -f 'f%g' 0 99)); done && "
         "bsdtar -czf ../many.tar.gz *"),
     dir);
  Listing l;
  QString error;
  ASSERT_TRUE(listArchive(dir + "/many.tar.gz", &l, &error)) << error.toStdString();
  EXPECT_EQ(realNames(l), bsdtarNames(dir + "/many.tar.gz"));
  EXPECT_EQ(l.count(), 10100);
  EXPECT_EQ(l.children("d42").size(), 100u);
  EXPECT_LT(l.bytesUsed() / l.count(), 200);
}

TEST(ArchiveReader, HostileNamesAndLinksNeverWriteOutsideTheTarget) {
  const QString dir = testenv::makeDir(QStringLiteral("hostile"));
  sh(QStringLiteral("python3 '%1/tests/formats/archive/make_hostile.py' .").arg(testenv::sourceDir()), dir);
  for (const QString name : {"climb.tar", "climb.zip"}) {
    SCOPED_TRACE(name.toStdString());
    const QString box = testenv::makeDir(QStringLiteral("box"));
    const QString target = box + "/a/b";
    QDir().mkpath(target);
    Listing l;
    QString error;
    ASSERT_TRUE(listArchive(dir + "/" + name, &l, &error)) << error.toStdString();
    for (int i : l.children({})) EXPECT_NE(l.path(i), "..");
    const ExtractResult r = extractMembers(dir + "/" + name, {}, target);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(testenv::readFile(target + "/good.txt"), "good");
    EXPECT_FALSE(r.refused.isEmpty());
    // Nothing anywhere but inside the target, and nothing at the absolute names.
    QDirIterator it(box, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString p = it.next();
      EXPECT_TRUE(p == box + "/a" || p.startsWith(target)) << p.toStdString();
    }
    EXPECT_EQ(sh(QStringLiteral("ls /tmp | grep -c tarn-.*absolute-; true")).trimmed(), "0");
    if (name == QLatin1String("climb.tar")) {
      EXPECT_EQ(testenv::readFile(target + "/last.txt"), "last");
      EXPECT_EQ(QFileInfo(target + "/inner/ok-link").symLinkTarget(), target + "/good.txt");
      // The refused links leave real folders for the members under them, inside the target.
      EXPECT_FALSE(QFileInfo(target + "/out").isSymLink());
      EXPECT_EQ(testenv::readFile(target + "/out/through.txt"), "evil");
      EXPECT_TRUE(QFileInfo(target + "/inner/up").isSymLink());
      EXPECT_FALSE(QFileInfo::exists(target + "/via.txt"));
      EXPECT_FALSE(QFileInfo(target + "/abs").isSymLink());
      EXPECT_FALSE(QFileInfo::exists(target + "/hard"));
      EXPECT_FALSE(QFileInfo::exists(target + "/fifo"));
      EXPECT_FALSE(QFileInfo::exists(target + "/dev"));
      EXPECT_GE(r.refused.size(), 9);
    }
  }
  EXPECT_FALSE(isSafeLinkTarget("a/b", "../../x"));
  EXPECT_TRUE(isSafeLinkTarget("a/b", "../x"));
  EXPECT_FALSE(isSafeLinkTarget("a", "x/../../y"));
  EXPECT_FALSE(isSafeMemberPath("a/../../b"));
}

TEST(ArchiveReader, DamagedArchivesAndBombsGiveMessagesAndLeaveNoPieces) {
  const QString dir = makeTree();
  makeAll(dir);
  sh(QStringLiteral("python3 '%1/tests/formats/archive/make_hostile.py' .").arg(testenv::sourceDir()), dir);
  sh(QStringLiteral(
         "head -c $(( $(stat -c %s t.tar.gz) / 2 )) t.tar.gz > cut.tar.gz && head -c $(( $(stat -c %s "
         "t.zip) - 200 )) t.zip > cut.zip && "
         "head -c 5000 /dev/urandom > noise.tar.gz && : > empty.zip && "
         "mkdir b && head -c 300M /dev/zero > b/zeros && bsdtar -czf bomb.tar.gz -C b zeros && rm b/zeros && "
         // A stored member with one byte changed: only its checksum tells.
         "python3 -c \"import zipfile\nz=zipfile.ZipFile('badcrc.zip','w')\nz.writestr('m.txt', b'x'*5000)\n"
         "z.close()\nb=bytearray(open('badcrc.zip','rb').read())\nb[2000]^=1\nopen('badcrc.zip','wb').write(b)\""),
     dir);
  for (const QString name : {"cut.tar.gz", "cut.zip", "noise.tar.gz", "text.zip", "lying.tar", "badcrc.zip"}) {
    SCOPED_TRACE(name.toStdString());
    Listing l;
    QString error;
    const bool listed = listArchive(dir + "/" + name, &l, &error);
    const QString target = testenv::makeDir(QStringLiteral("cut"));
    const ExtractResult r = extractMembers(dir + "/" + name, {}, target);
    EXPECT_FALSE(listed && r.ok) << "a damaged archive read as whole";
    EXPECT_FALSE((listed ? r.error : error).isEmpty());
    // Whatever was complete stays; no half member, no private piece.
    for (const QString &f : QDir(target).entryList(QDir::Files | QDir::Hidden))
      EXPECT_FALSE(f.endsWith(".tarnpart")) << f.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target + "/m.txt"));
    if (name == QLatin1String("lying.tar")) {
      EXPECT_EQ(testenv::readFile(target + "/first.txt"), "first");
      EXPECT_FALSE(QFileInfo::exists(target + "/big.bin"));
    }
  }
  Limits small;
  small.ratioCheckAfter = 64 << 20;
  small.maxRatio = 100;
  Listing l;
  QString error;
  EXPECT_FALSE(listArchive(dir + "/bomb.tar.gz", &l, &error, small));
  EXPECT_TRUE(error.contains(QLatin1String("bomb"))) << error.toStdString();
  ExtractOptions o;
  o.limits = small;
  const QString target = testenv::makeDir(QStringLiteral("bomb"));
  const ExtractResult r = extractMembers(dir + "/bomb.tar.gz", {}, target, o);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.error.contains(QLatin1String("bomb"))) << r.error.toStdString();
  EXPECT_TRUE(QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  // Cancel in the middle of a member removes it.
  std::atomic<bool> cancel{false};
  const QString stopped = testenv::makeDir(QStringLiteral("stopped"));
  const ExtractResult c = extractMembers(
      dir + "/bomb.tar.gz", {}, stopped, {},
      [&](qint64 done, qint64) {
        if (done > (8 << 20)) cancel = true;
      },
      &cancel);
  EXPECT_TRUE(c.cancelled);
  EXPECT_TRUE(QDir(stopped).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

// Encrypted zip members (zip's own encryption and AES, written by bsdtar): refused without a passphrase and
// with a wrong one, leaving nothing behind, and byte-equal with the right one.
TEST(ArchiveReader, EncryptedMembersNeedTheRightPassphrase) {
  const QString dir = testenv::makeDir(QStringLiteral("enc"));
  sh(QStringLiteral(
         "printf 'secret text' > a.txt && head -c 200000 /dev/urandom > b.bin && "
         "bsdtar --format zip --options zip:encryption=traditional --passphrase pw -cf old.zip a.txt b.bin && "
         "bsdtar --format zip --options zip:encryption=aes256 --passphrase pw -cf aes.zip a.txt b.bin"),
     dir);
  for (const char *name : {"old.zip", "aes.zip"}) {
    SCOPED_TRACE(name);
    const QString zip = dir + "/" + name;
    Listing l;
    QString error;
    ASSERT_TRUE(listArchive(zip, &l, &error)) << error.toStdString();
    ASSERT_GE(l.find("a.txt"), 0);
    EXPECT_TRUE(l.member(l.find("a.txt")).flags & IsEncrypted);
    for (const QByteArray &pass : {QByteArray(), QByteArray("wrong")}) {
      const QString out = testenv::makeDir(QStringLiteral("encout"));
      ExtractOptions o;
      o.passphrase = pass;
      const ExtractResult r = extractMembers(zip, {}, out, o);
      EXPECT_TRUE(r.needsPassphrase);
      EXPECT_EQ(r.refused.size(), 2) << r.refused.join('\n').toStdString();
      EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }
    const QString out = testenv::makeDir(QStringLiteral("encout"));
    ExtractOptions o;
    o.passphrase = "pw";
    const ExtractResult r = extractMembers(zip, {}, out, o);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_FALSE(r.needsPassphrase);
    EXPECT_EQ(testenv::readFile(out + "/a.txt"), "secret text");
    EXPECT_EQ(testenv::readFile(out + "/b.bin"), testenv::readFile(dir + "/b.bin"));
  }
}
