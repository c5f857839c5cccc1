// Checksum files against GNU coreutils: what we write, sha256sum -c accepts, and what sha256sum and md5sum
// write (text, binary and BSD forms, escaped names), we check; the window reports each file and a Cancel
// writes nothing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>

#include "tests/common/testenv.h"
#include "windows/checksums/checksumform.h"

namespace {

// Runs a coreutils program in a folder; its standard output, or nothing when it failed.
QByteArray runIn(const QString &dir, const QString &program, const QStringList &args, int *exitCode = nullptr) {
  QProcess p;
  p.setWorkingDirectory(dir);
  p.start(program, args);
  p.waitForFinished(60000);
  if (exitCode) *exitCode = p.exitCode();
  return p.readAllStandardOutput();
}

// Names that need care: a blank, a leading dash, a backslash and a line feed (both escaped by coreutils),
// non-ASCII, and a file in a subfolder.
QString makeTree() {
  const QString dir = testenv::makeDir("sums");
  QDir(dir).mkpath("sub dir");
  testenv::writeFile(dir + "/plain.txt", "one\n");
  testenv::writeFile(dir + "/with blank.txt", "two\n");
  testenv::writeFile(dir + "/-dash", "three\n");
  testenv::writeFile(dir + "/back\\slash", "four\n");
  testenv::writeFile(dir + "/line\nfeed", "five\n");
  testenv::writeFile(dir + QString::fromUtf8("/Grüße.txt"), "six\n");
  testenv::writeFile(dir + "/sub dir/inner.bin", QByteArray(3 << 20, '\x5a'));
  return dir;
}

TChecksumForm *runCreate(const QString &dir, const QStringList &paths, const QString &algo = "SHA256") {
  auto *w = new TChecksumForm;
  w->setAttribute(Qt::WA_DeleteOnClose, false);
  w->prepareCreate(dir, paths);
  w->algorithm()->setCurrentText(algo);
  w->createButton()->click();
  EXPECT_TRUE(testenv::waitFor([&] { return !w->busy(); }, 30000));
  return w;
}

}  // namespace

TEST(Checksums, WhatWeWriteCoreutilsAcceptsAndWhatTheyWriteWeCheck) {
  if (QStandardPaths::findExecutable("sha256sum").isEmpty()) GTEST_SKIP() << "coreutils' sha256sum is missing";
  const QString dir = makeTree();
  const QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  QStringList paths;
  for (const QString &n : names) paths << dir + "/" + n;

  // Ours, checked by sha256sum -c and md5sum -c.
  for (const QString &algo : {QString("SHA256"), QString("MD5")}) {
    std::unique_ptr<TChecksumForm> w(runCreate(dir, paths, algo));
    EXPECT_EQ(w->list()->topLevelItemCount(), 7);
    const QString sums = algo + "SUMS";
    ASSERT_TRUE(QFile::exists(dir + "/" + sums)) << w->summary()->text().toStdString();
    int code = -1;
    const QByteArray out = runIn(dir, algo == "MD5" ? "md5sum" : "sha256sum", {"-c", sums}, &code);
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_EQ(out.count(": OK\n"), 7) << out.toStdString();
  }

  // Theirs: text mode with escapes, binary mode, the BSD form; then one file changed and one gone.
  QStringList files;
  for (const QString &n : names)
    if (QFileInfo(dir + "/" + n).isFile()) files << n;
  files << "sub dir/inner.bin";
  testenv::writeFile(dir + "/theirs.sha256", runIn(dir, "sha256sum", QStringList{"--"} + files));
  testenv::writeFile(dir + "/binary.sha256", runIn(dir, "sha256sum", QStringList{"-b", "--"} + files));
  testenv::writeFile(dir + "/tagged.sha256", runIn(dir, "sha256sum", QStringList{"--tag", "--"} + files));
  for (const QString &f : {QString("theirs.sha256"), QString("binary.sha256"), QString("tagged.sha256")}) {
    TChecksumForm w;
    w.startVerify(dir + "/" + f);
    ASSERT_TRUE(testenv::waitFor([&] { return !w.busy(); }, 30000));
    EXPECT_EQ(w.summary()->text(), "7 OK, 0 FAILED, 0 missing.") << f.toStdString();
  }
  testenv::writeFile(dir + "/plain.txt", "changed\n");
  QFile::remove(dir + "/-dash");
  TChecksumForm w;
  w.startVerify(dir + "/theirs.sha256");
  ASSERT_TRUE(testenv::waitFor([&] { return !w.busy(); }, 30000));
  EXPECT_EQ(w.summary()->text(), "5 OK, 1 FAILED, 1 missing.");
  QStringList failed;
  for (int i = 0; i < w.list()->topLevelItemCount(); ++i)
    if (w.list()->topLevelItem(i)->text(1) != "OK")
      failed << w.list()->topLevelItem(i)->text(0) + "=" + w.list()->topLevelItem(i)->text(1);
  failed.sort();
  EXPECT_EQ(failed, (QStringList{"-dash=missing", "plain.txt=FAILED"}));

  // Not a checksum file at all: said so, nothing checked.
  testenv::writeFile(dir + "/junk.sha256", "hello world\nnot a line\n");
  TChecksumForm junk;
  junk.startVerify(dir + "/junk.sha256");
  EXPECT_FALSE(junk.busy());
  EXPECT_TRUE(junk.summary()->text().contains("2 line(s) not understood")) << junk.summary()->text().toStdString();
}

TEST(Checksums, ACancelOrAnUnreadableFileWritesNoChecksumFileAndKeepsTheOldOne) {
  const QString dir = testenv::makeDir("sumscancel");
  const QString big = dir + "/big.bin";
  {
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(qint64(2) << 30));  // sparse: reading it takes a while, storing it nothing
  }
  testenv::writeFile(dir + "/SHA256SUMS", "old\n");
  TChecksumForm w;
  w.prepareCreate(dir, {big});
  EXPECT_TRUE(w.summary()->text().contains("SHA256SUMS exists and will be replaced"));
  w.createButton()->click();
  ASSERT_TRUE(w.busy());
  w.cancel();
  ASSERT_TRUE(testenv::waitFor([&] { return !w.busy(); }, 30000));
  EXPECT_EQ(w.summary()->text(), "Cancelled: no checksum file was written.");
  EXPECT_EQ(testenv::readFile(dir + "/SHA256SUMS"), "old\n");

  // A file that cannot be read (gone since it was chosen) leaves the old checksum file too.
  const QString small = testenv::writeFile(dir + "/small.txt", "x");
  TChecksumForm v;
  v.prepareCreate(dir, {small});
  QFile::remove(small);
  v.createButton()->click();
  ASSERT_TRUE(testenv::waitFor([&] { return !v.busy(); }, 30000));
  EXPECT_EQ(v.list()->topLevelItem(0)->text(1), "missing");
  EXPECT_EQ(testenv::readFile(dir + "/SHA256SUMS"), "old\n");
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase),
            (QStringList{"big.bin", "SHA256SUMS"}));
}
