// The hex editor's byte model without any window: records, undo, find, seek, files.
#include "windows/hex/hexbuffer.h"
#include "windows/hex/hexfileio.h"
#include "windows/hex/oemcodepage.h"
#include "tests/common/testenv.h"
#include "tests/windows/hex/changebehind.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray le32(qint32 v) {
  QByteArray b;
  for (int i = 0; i < 4; ++i) b.append(static_cast<char>((static_cast<quint32>(v) >> (8 * i)) & 0xFF));
  return b;
}

// Header of a narrow record as laid out in the log, for comparison.
QByteArray header(int type, int mark, int modified, qint32 caret, int nibble, int area, qint32 s, qint32 e,
                  qint32 anchor, qint32 pos, qint32 count, qint32 replaced) {
  QByteArray b;
  b.append(char(type)).append(char(mark)).append(char(modified));
  b.append(le32(caret)).append(char(nibble)).append(char(area));
  b.append(le32(s)).append(le32(e)).append(le32(anchor)).append(le32(pos)).append(le32(count)).append(le32(replaced));
  return b;
}

QByteArray contents(THexBuffer &b) {
  qint64 n = b.DataSize();
  return n ? b.BufferFromFile(0, n) : QByteArray();
}

struct Loaded {
  QString path;
  THexBuffer buf;
  explicit Loaded(const QByteArray &bytes, const QString &name = QStringLiteral("data.bin")) {
    path = testenv::writeFile(testenv::makeDir() + QLatin1Char('/') + name, bytes);
    EXPECT_TRUE(buf.LoadFromFile(path));
  }
};

}  // namespace

namespace {
// Files of this process that are open in folder dir but have no name there.
int unnamedOpenFiles(const QString &dir) {
  int n = 0;
  for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    char target[4096];
    const ssize_t len = ::readlink(QFile::encodeName("/proc/self/fd/" + fd).constData(), target, sizeof target - 1);
    if (len <= 0) continue;
    const QString t = QFile::decodeName(QByteArray(target, len));
    if (t.startsWith(dir + "/") && t.endsWith(" (deleted)") && !t.mid(dir.size() + 1).contains('/')) ++n;
  }
  return n;
}

// The names of the files in dir, sorted, one string (readable when a comparison fails).
std::string filesIn(const QString &dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name).join(" ").toStdString();
}
}  // namespace

TEST(HexBufferRecords, ByteChangeRecordLayoutAndUndo) {
  Loaded f("0123456789");
  THexBuffer &b = f.buf;
  b.setCaret(3, haHex, 1);
  ASSERT_TRUE(b.ChangeByte(3, '3', 'X'));
  QByteArray want = header(0, 0, 0, 3, 1, 0, -1, -1, -1, 3, 1, 0) + QByteArray("3") + le32(38);
  EXPECT_EQ(b.undoLog().toHex(), want.toHex());
  EXPECT_TRUE(b.Modified());
  EXPECT_TRUE(b.IsChanged(3));
  EXPECT_EQ(b.UndoDescription(), "Byte changed");
  EXPECT_EQ(b.cachedByte(3), 'X');

  // A second change of the same byte records its mark (1) and the Modified flag (1).
  b.setCaret(3, haChar);
  ASSERT_TRUE(b.ChangeByte(3, 'X', 'Y'));
  QByteArray second = header(0, 1, 1, 3, 0, 1, -1, -1, -1, 3, 1, 0) + QByteArray("X") + le32(38);
  EXPECT_EQ(b.undoLog().mid(38).toHex(), second.toHex());

  b.Undo();
  EXPECT_EQ(contents(b), "012X456789");
  EXPECT_TRUE(b.IsChanged(3));
  EXPECT_TRUE(b.Modified());
  EXPECT_EQ(b.caretArea(), haChar);
  b.Undo();
  EXPECT_EQ(contents(b), "0123456789");
  EXPECT_FALSE(b.IsChanged(3));
  EXPECT_FALSE(b.Modified());
  EXPECT_FALSE(b.CanUndo());
  EXPECT_EQ(b.UndoDescription(), "No Undo");
  EXPECT_EQ(b.CaretPosition(), 3);
  EXPECT_EQ(b.caretNibble(), 1);
  EXPECT_EQ(b.cachedByte(3), '3');

  // Typing the same value records nothing.
  EXPECT_FALSE(b.ChangeByte(4, '4', '4'));
  EXPECT_FALSE(b.CanUndo());
  EXPECT_FALSE(b.Modified());
}

TEST(HexBufferRecords, DeleteInsertReplaceAppendRecordsAndUndo) {
  Loaded f("abcdefghij");
  THexBuffer &b = f.buf;
  b.setSelStart(2);
  b.setSelEnd(4);  // anchor at the caret (2), selection 2..4
  ASSERT_EQ(b.SelCount(), 3);
  ASSERT_TRUE(b.DeleteSelection());
  EXPECT_EQ(contents(b), "abfghij");
  EXPECT_EQ(b.undoLog().toHex(),
            (header(1, 0, 0, 2, 0, 0, 2, 4, 2, 2, 3, 0) + QByteArray("cde") + le32(40)).toHex());
  EXPECT_EQ(b.SelCount(), 0);
  EXPECT_EQ(b.CaretPosition(), 2);
  EXPECT_EQ(b.UndoDescription(), "Byte(s) removed");

  // Insert at the caret: the new bytes become the selection.
  ASSERT_TRUE(b.InsertBuffer("XY", 2));
  EXPECT_EQ(contents(b), "abXYfghij");
  EXPECT_EQ(b.SelStart(), 2);
  EXPECT_EQ(b.SelEnd(), 3);
  QByteArray ins = header(2, 0, 1, 2, 0, 0, -1, -1, -1, 2, 2, 0) + QByteArray(1, '\0') + le32(38);
  EXPECT_EQ(b.undoLog().right(38).toHex(), ins.toHex());

  // Replace the selection XY by "123".
  ASSERT_TRUE(b.ReplaceSelection("123"));
  EXPECT_EQ(contents(b), "ab123fghij");
  EXPECT_EQ(b.SelStart(), 2);
  EXPECT_EQ(b.SelEnd(), 4);
  QByteArray rep = header(3, 0, 1, 2, 0, 0, 2, 3, 2, 2, 3, 2) + QByteArray("XY") + le32(39);
  EXPECT_EQ(b.undoLog().right(39).toHex(), rep.toHex());

  b.setCaret(0, haChar);
  ASSERT_TRUE(b.AppendBuffer("\xff"));
  EXPECT_EQ(contents(b), "ab123fghij\xff");
  EXPECT_EQ(b.SelStart(), 10);
  EXPECT_EQ(b.CaretPosition(), 10);
  EXPECT_EQ(b.caretArea(), haChar);
  EXPECT_EQ(b.UndoDescription(), "Append buffer");
  EXPECT_EQ(b.undoCount(), 4);

  b.Undo();
  EXPECT_EQ(contents(b), "ab123fghij");
  EXPECT_EQ(b.UndoDescription(), "Replace selection");
  EXPECT_EQ(b.CaretPosition(), 0);
  b.Undo();
  EXPECT_EQ(contents(b), "abXYfghij");
  EXPECT_EQ(b.SelStart(), 2);
  EXPECT_EQ(b.SelEnd(), 3);
  b.Undo();
  EXPECT_EQ(contents(b), "abfghij");
  b.Undo();
  EXPECT_EQ(contents(b), "abcdefghij");
  EXPECT_EQ(b.SelStart(), 2);
  EXPECT_EQ(b.SelEnd(), 4);
  EXPECT_EQ(b.anchor(), 2);
  EXPECT_FALSE(b.Modified());
  EXPECT_FALSE(b.CanUndo());
}

// Inserting and deleting move the tail through bounded blocks; zero runs become holes on the way. The bytes
// must come out exactly as a plain in-memory edit would give them.
TEST(HexBufferRecords, TailMovesAcrossBlocksAndZeroRuns) {
  QByteArray data;
  quint32 seed = 12345;
  while (data.size() < (13 << 20) + 77) {
    const int run = 1000 + static_cast<int>(seed % 300000);
    seed = seed * 1103515245u + 12345u;
    if (seed & 0x10000) {
      data.append(QByteArray(run, '\0'));
    } else {
      QByteArray r(run, '\0');
      for (auto &c : r) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>((seed >> 16) | 1);
      }
      data.append(r);
    }
  }
  Loaded f(data);
  THexBuffer &b = f.buf;
  QByteArray want = data;
  b.setCaret(0, haHex);
  ASSERT_TRUE(b.InsertBuffer("+", 7));
  want.insert(7, '+');
  ASSERT_EQ(contents(b) == want, true);
  b.setSelStart(5);
  b.setSelEnd(9);
  ASSERT_TRUE(b.DeleteSelection());
  want.remove(5, 5);
  ASSERT_EQ(contents(b) == want, true);
  b.setSelStart(1 << 20);
  b.setSelEnd((5 << 20) + 3);
  ASSERT_TRUE(b.ReplaceSelection("xyz"));
  want.replace(1 << 20, (4 << 20) + 4, "xyz");
  ASSERT_EQ(contents(b) == want, true);
  b.Undo();
  b.Undo();
  b.Undo();
  EXPECT_EQ(contents(b) == data, true);
  EXPECT_FALSE(b.Modified());
}

TEST(HexBufferRecords, HundredRecordLimitDropsTheOldest) {
  Loaded f(QByteArray(200, 'a'));
  THexBuffer &b = f.buf;
  for (int i = 0; i < 101; ++i) ASSERT_TRUE(b.ChangeByte(i, 'a', 'b'));
  EXPECT_EQ(b.undoCount(), 100);
  EXPECT_EQ(b.undoLog().size(), 100 * 38);
  // The oldest record (byte 0) is gone: its position field no longer appears first.
  EXPECT_EQ(b.undoLog().mid(21, 4), le32(1));
  for (int i = 0; i < 100; ++i) b.Undo();
  EXPECT_FALSE(b.CanUndo());
  QByteArray want(200, 'a');
  want[0] = 'b';
  EXPECT_EQ(contents(b), want);
  // The byte whose record was dropped keeps its change; the restored Modified comes from record 2.
  EXPECT_TRUE(b.Modified());
}

TEST(HexBufferRecords, EmptyBufferTakesOnlyInsertAndAppend) {
  THexBuffer b;
  b.NewFile("Untitled");
  EXPECT_TRUE(b.ReadOnly());
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_FALSE(b.DeleteSelection());
  EXPECT_FALSE(b.ChangeByte(0, 0, 1));
  EXPECT_FALSE(b.ReplaceSelection("zz") && b.DataSize() == 0);
  EXPECT_FALSE(b.CanUndo() && b.DataSize() == 0);
  b.NewFile("Untitled");
  ASSERT_TRUE(b.InsertBuffer("hello", 0));
  EXPECT_EQ(contents(b), "hello");
  EXPECT_EQ(b.SelStart(), 0);
  EXPECT_EQ(b.SelEnd(), 4);
  // Deleting every byte leaves an empty buffer that still has its working copy.
  ASSERT_TRUE(b.DeleteSelection());
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_TRUE(b.hasWorkingCopy());
  b.Undo();
  EXPECT_EQ(contents(b), "hello");
}

TEST(HexBufferRecords, DeletingLastByteKeepsCaretOnNewLast) {
  Loaded f("abc");
  THexBuffer &b = f.buf;
  b.setCaret(2, haHex, 1);
  ASSERT_TRUE(b.DeleteSelection());
  EXPECT_EQ(contents(b), "ab");
  EXPECT_EQ(b.CaretPosition(), 1);
  EXPECT_EQ(b.caretNibble(), 0);
}

TEST(HexBufferSelection, SettersValidateAndSelect) {
  Loaded f("0123456789");
  THexBuffer &b = f.buf;
  EXPECT_THROW(b.setSelStart(10), EHexEditor);
  EXPECT_THROW(b.setSelEnd(-1), EHexEditor);
  qint64 n = 4;
  EXPECT_THROW(b.BufferFromFile(10, n), EHexEditor);
  n = 50;
  EXPECT_EQ(b.BufferFromFile(7, n), "789");
  EXPECT_EQ(n, 3);
  b.setCaret(0, haChar);
  b.setSelStart(7);
  EXPECT_EQ(b.CaretPosition(), 7);
  EXPECT_EQ(b.caretArea(), haChar);
  b.setSelEnd(3);
  EXPECT_EQ(b.SelStart(), 3);
  EXPECT_EQ(b.SelEnd(), 7);
  EXPECT_EQ(b.anchor(), 7);
  EXPECT_EQ(b.CaretPosition(), 7);
  b.extendSelection(9, 7);
  EXPECT_EQ(b.SelStart(), 7);
  EXPECT_EQ(b.SelEnd(), 9);
}

TEST(HexBufferSelection, StateChangeArrivesAfterTheCommand) {
  Loaded f("0123456789");
  THexBuffer &b = f.buf;
  QCoreApplication::processEvents();
  QSignalSpy spy(&b, &THexBuffer::StateChanged);
  b.ChangeByte(1, '1', 'x');
  b.setSelStart(4);
  EXPECT_EQ(spy.count(), 0);
  QCoreApplication::processEvents();
  EXPECT_GE(spy.count(), 2);
  // Resetting undo is told at once.
  spy.clear();
  b.Undo();
  EXPECT_GE(spy.count(), 1);
}

TEST(HexBufferFind, CacheBoundaryCaseAndConversions) {
  QByteArray data(200000, 'x');
  data.replace(65534, 4, "NeEd");   // straddles the 64 KiB window
  data.replace(150000, 4, "need");
  data[199999] = 'Z';
  Loaded f(data);
  THexBuffer &b = f.buf;
  b.cachedByte(0);  // a window that ends inside the first match
  QByteArray p = "NeEd";
  EXPECT_EQ(b.Find(p, true, false, b.DataSize() - 1, 0), 65534);
  p = "need";
  EXPECT_EQ(b.Find(p, true, false, b.DataSize() - 1, 0), 150000);
  p = "NEED";
  EXPECT_EQ(b.Find(p, true, true, b.DataSize() - 1, 0), 65534);
  EXPECT_EQ(p, "need");  // the caller's pattern keeps the conversion
  EXPECT_EQ(b.Find(p, false, true, b.DataSize() - 1, 65535), 150000);
  // The match starting at the first position searched is found; one starting too late for last is not.
  p = "need";
  EXPECT_EQ(b.Find(p, false, false, b.DataSize() - 1, 150000), 150000);
  EXPECT_EQ(b.Find(p, false, false, 150002, 0), -1);
  p = "Z";
  EXPECT_EQ(b.Find(p, false, false, 1 << 30, 0), 199999);
  p = QByteArray(300000, 'x');
  EXPECT_EQ(b.Find(p, false, false, b.DataSize() - 1, 0), -1);
}

TEST(HexBufferFind, OemTranslationConvertsTextPatterns) {
  QByteArray data("..\x81\x82..");  // u-umlaut, e-acute in code page 437
  Loaded f(data);
  THexBuffer &b = f.buf;
  QByteArray p = QString::fromUtf8("üé").toUtf8();
  EXPECT_EQ(b.Find(p, true, false, 5, 0), -1);
  b.setOEMTranslate(true);
  p = QString::fromUtf8("üé").toUtf8();
  EXPECT_EQ(b.Find(p, true, false, 5, 0), 2);
  EXPECT_EQ(p, QByteArray("\x81\x82"));
}

TEST(HexBufferFind, CodePageTableMatchesPython) {
  QProcess py;
  py.start("/usr/bin/python3", {"-c", "import sys; sys.stdout.write(bytes(range(128,256)).decode('cp437'))"});
  ASSERT_TRUE(py.waitForFinished(10000));
  const QString want = QString::fromUtf8(py.readAllStandardOutput());
  ASSERT_EQ(want.size(), 128);
  for (int i = 0; i < 128; ++i) {
    EXPECT_EQ(oem::toUnicode(static_cast<unsigned char>(128 + i)), want[i]) << i;
    EXPECT_EQ(oem::fromUnicode(want[i]), 128 + i);
  }
}

TEST(HexBufferSeek, OriginsAndStrictness) {
  Loaded f(QByteArray(100, 'a'));
  THexBuffer &b = f.buf;
  EXPECT_TRUE(b.Seek(10, soFromStart, true));
  EXPECT_EQ(b.CaretPosition(), 10);
  EXPECT_TRUE(b.Seek(5, soFromCaret, true));
  EXPECT_EQ(b.CaretPosition(), 15);
  EXPECT_TRUE(b.Seek(-3, soFromEnd, true));
  EXPECT_EQ(b.CaretPosition(), 96);
  EXPECT_FALSE(b.Seek(100, soFromStart, true));
  EXPECT_EQ(b.CaretPosition(), 96);
  EXPECT_TRUE(b.Seek(4000, soFromCaret, false));
  EXPECT_EQ(b.CaretPosition(), 99);
  EXPECT_TRUE(b.Seek(-4000, soFromCaret, false));
  EXPECT_EQ(b.CaretPosition(), 0);
  EXPECT_FALSE(b.Seek(-1, soFromStart, true));
  THexBuffer empty;
  EXPECT_FALSE(empty.Seek(0, soFromStart, false));
}

TEST(HexBufferFiles, LoadNeverWritesTheSourceAndSaveKeepsABackup) {
  Loaded f("original bytes");
  THexBuffer &b = f.buf;
  struct stat before;
  ASSERT_EQ(::stat(QFile::encodeName(f.path).constData(), &before), 0);
  EXPECT_FALSE(b.ReadOnly());
  EXPECT_EQ(b.FileName(), f.path);
  EXPECT_EQ(b.backupName(f.path), QFileInfo(f.path).absolutePath() + "/data.bak");

  // Saving unmodified over itself makes no backup; editing does not touch the file until saved.
  ASSERT_TRUE(b.SaveToFile(f.path));
  EXPECT_FALSE(QFileInfo::exists(b.backupName(f.path)));
  b.ChangeByte(0, 'o', 'O');
  EXPECT_EQ(testenv::readFile(f.path), "original bytes");
  ASSERT_TRUE(b.SaveToFile(f.path));
  EXPECT_EQ(testenv::readFile(f.path), "Original bytes");
  EXPECT_EQ(testenv::readFile(b.backupName(f.path)), "original bytes");
  EXPECT_FALSE(b.Modified());
  EXPECT_FALSE(b.CanUndo());
  EXPECT_FALSE(b.IsChanged(0));
  struct stat after;
  ASSERT_EQ(::stat(QFile::encodeName(f.path).constData(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);

  // Another name: no backup of it.
  b.ChangeByte(1, 'r', 'R');
  const QString other = QFileInfo(f.path).absolutePath() + "/copy.dat";
  ASSERT_TRUE(b.SaveToFile(other));
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(f.path).absolutePath() + "/copy.bak"));
  EXPECT_EQ(testenv::readFile(other), "ORiginal bytes");
  EXPECT_EQ(b.FileName(), other);
  const QStringList left = QDir(QFileInfo(f.path).absolutePath()).entryList(QDir::Files | QDir::Hidden);
  EXPECT_EQ(left.size(), 3) << left.join(",").toStdString();  // data.bin, data.bak, copy.dat: no temporaries
}

TEST(HexBufferFiles, FailedSavesLeaveOriginalAndEdits) {
  Loaded f("keep me");
  THexBuffer &b = f.buf;
  b.ChangeByte(0, 'k', 'K');
  // A non-empty folder where the backup should go: the backup fails, so nothing is written.
  const QString bak = b.backupName(f.path);
  testenv::writeFile(bak + "/blocker", "x");
  EXPECT_FALSE(b.SaveToFile(f.path));
  EXPECT_FALSE(b.lastError().isEmpty());
  EXPECT_EQ(testenv::readFile(f.path), "keep me");
  EXPECT_TRUE(b.Modified());
  EXPECT_TRUE(b.CanUndo());
  EXPECT_TRUE(b.IsChanged(0));
  // A target that is a folder, and a target in a missing folder.
  const QString dir = testenv::makeDir("target");
  testenv::writeFile(dir + "/inside", "x");
  EXPECT_FALSE(b.SaveToFile(dir));
  EXPECT_FALSE(b.SaveToFile(dir + "/missing/x.bin"));
  EXPECT_EQ(testenv::readFile(dir + "/inside"), "x");
  b.Undo();
  EXPECT_EQ(contents(b), "keep me");
}

// Saving keeps what the file is: other hard links see the new bytes, a symbolic link stays a link and the
// file it leads to gets them, and a file with one name is replaced; the mode is kept in every case.
TEST(HexBufferFiles, SaveKeepsLinksAndMode) {
  const QString dir = testenv::makeDir("links");
  auto statOf = [](const QString &p) {
    struct stat st = {};
    EXPECT_EQ(::lstat(QFile::encodeName(p).constData(), &st), 0) << p.toStdString();
    return st;
  };
  auto edit = [](THexBuffer &b, const QString &path) {
    if (!b.LoadFromFile(path)) return false;
    qint64 n = 1;
    const QByteArray first = b.BufferFromFile(0, n);
    return n == 1 && b.ChangeByte(0, first[0], first[0] ^ 0x20) && b.SaveToFile(path);
  };
  THexBuffer b;

  // Two hard links.
  const QString one = testenv::writeFile(dir + "/one.bin", "linked");
  const QString two = dir + "/two.bin";
  ASSERT_EQ(::link(QFile::encodeName(one).constData(), QFile::encodeName(two).constData()), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(one).constData(), 0640), 0);
  ASSERT_TRUE(edit(b, one)) << b.lastError().toStdString();
  EXPECT_EQ(testenv::readFile(one), "Linked");
  EXPECT_EQ(testenv::readFile(two), "Linked") << "the other hard link kept the old bytes";
  EXPECT_EQ(statOf(one).st_ino, statOf(two).st_ino);
  EXPECT_EQ(statOf(one).st_nlink, 2u);
  EXPECT_EQ(statOf(one).st_mode & 07777, 0640u);
  EXPECT_EQ(testenv::readFile(dir + "/one.bak"), "linked");

  // A symbolic link, relative, to a file with one name.
  const QString target = testenv::writeFile(dir + "/target.bin", "through");
  ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0604), 0);
  const QString link = dir + "/link.bin";
  ASSERT_EQ(::symlink("target.bin", QFile::encodeName(link).constData()), 0);
  const ino_t targetInode = statOf(target).st_ino;
  ASSERT_TRUE(edit(b, link)) << b.lastError().toStdString();
  EXPECT_TRUE(S_ISLNK(statOf(link).st_mode));
  EXPECT_EQ(QFile::symLinkTarget(link), target);
  EXPECT_EQ(testenv::readFile(target), "Through");
  EXPECT_EQ(statOf(target).st_ino, targetInode) << "written in place, not replaced";
  EXPECT_EQ(statOf(target).st_mode & 07777, 0604u);
  EXPECT_EQ(b.FileName(), link);
  EXPECT_FALSE(b.changedOnDisk());

  // One name: replaced as a whole, with its mode.
  const QString single = testenv::writeFile(dir + "/single.sh", "script");
  ASSERT_EQ(::chmod(QFile::encodeName(single).constData(), 0751), 0);
  ASSERT_TRUE(edit(b, single)) << b.lastError().toStdString();
  EXPECT_EQ(testenv::readFile(single), "Script");
  EXPECT_EQ(statOf(single).st_mode & 07777, 0751u);
  EXPECT_EQ(statOf(single).st_nlink, 1u);
  EXPECT_FALSE(b.changedOnDisk());
  EXPECT_EQ(filesIn(dir), "link.bin one.bak one.bin single.bak single.sh target.bak target.bin two.bin");
}

// A saved file keeps its owner and group: when root saves another user's file, and when a user saves a file
// that the user may write but does not own (it is then written in place).
TEST(HexBufferFiles, SaveKeepsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to another user needs root";
  const QString path = testenv::writeFile(testenv::makeDir("owned") + "/theirs.bin", "owned");
  ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  THexBuffer b;
  ASSERT_TRUE(b.LoadFromFile(path));
  ASSERT_TRUE(b.ChangeByte(0, 'o', 'O'));
  ASSERT_TRUE(b.SaveToFile(path));
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(testenv::readFile(path), "Owned");
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Root's file that the group nobody may write, saved by nobody in a folder open to everyone.
  char shared[] = "/tmp/tarnwick-hexowner-XXXXXX";
  ASSERT_NE(::mkdtemp(shared), nullptr);
  ASSERT_EQ(::chmod(shared, 0777), 0);
  const QString file = testenv::writeFile(QString(shared) + "/group.bin", "group");
  ASSERT_EQ(::chown(QFile::encodeName(file).constData(), 0, 65534), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0664), 0);
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TMPDIR", shared);  // for its working copy: this process's temporary folder is root's alone
  child.setProcessEnvironment(env);
  child.start(testenv::binDir() + "/hexsave_child", {file, "whole", "nobody"});
  ASSERT_TRUE(child.waitForFinished(60000));
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
  ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
  EXPECT_EQ(testenv::readFile(file), "Group");
  EXPECT_EQ(st.st_uid, 0u) << "the file now belongs to the user who saved it";
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  QDir(shared).removeRecursively();
}

TEST(HexBufferFiles, MissingFileGivesEmptyNamelessBuffer) {
  Loaded f("abc");
  THexBuffer &b = f.buf;
  b.ChangeByte(0, 'a', 'b');
  EXPECT_FALSE(b.LoadFromFile(f.path + ".none"));
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_EQ(b.FileName(), "Untitled");
  EXPECT_TRUE(b.ReadOnly());
  EXPECT_FALSE(b.CanUndo());
  EXPECT_FALSE(b.Modified());
  b.Undo();  // nothing to undo, and nothing breaks
  EXPECT_EQ(b.DataSize(), 0);
}

TEST(HexBufferFiles, CancelledCopiesLeaveNothingHalfDone) {
  const QByteArray data(20 << 20, 'q');  // several copy blocks
  Loaded f(data);
  THexBuffer &b = f.buf;
  b.ChangeByte(0, 'q', 'Q');
  int calls = 0;
  b.setProgress([&calls](qint64, qint64) { return ++calls < 2; });
  EXPECT_FALSE(b.SaveToFile(f.path + ".out"));
  EXPECT_EQ(b.lastError(), "Cancelled");
  EXPECT_FALSE(QFileInfo::exists(f.path + ".out"));
  EXPECT_EQ(QDir(QFileInfo(f.path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
  EXPECT_TRUE(b.Modified());
  calls = 0;
  EXPECT_FALSE(b.LoadFromFile(f.path));
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_EQ(testenv::readFile(f.path), data);
  b.setProgress({});
  EXPECT_TRUE(b.LoadFromFile(f.path));
  EXPECT_EQ(b.DataSize(), data.size());
}

// A large file is shown from disk until its first change; the file itself is never written or cut.
TEST(HexBufferFiles, LargeFileIsCopiedOnItsFirstChange) {
  QByteArray data(THexBuffer::kEagerCopyLimit + 4096, 'L');
  data.replace(100, 5, "first");
  Loaded f(data);
  THexBuffer &b = f.buf;
  if (!b.showsFileDirectly()) GTEST_SKIP() << "the file system cloned the file at once";
  EXPECT_FALSE(b.hasWorkingCopy());
  qint64 n = 5;
  EXPECT_EQ(b.BufferFromFile(100, n), "first");
  QByteArray p = "first";
  EXPECT_EQ(b.Find(p, true, false, b.DataSize() - 1, 0), 100);
  // Leaving the file (New) must not empty it; nor saving it over itself, even where that is done in place
  // (a second hard link).
  b.NewFile("Untitled");
  EXPECT_EQ(QFileInfo(f.path).size(), data.size());
  ASSERT_EQ(::link(QFile::encodeName(f.path).constData(), QFile::encodeName(f.path + ".link").constData()), 0);
  ASSERT_TRUE(b.LoadFromFile(f.path));
  ASSERT_TRUE(b.showsFileDirectly());
  ASSERT_TRUE(b.SaveToFile(f.path));
  EXPECT_EQ(testenv::readFile(f.path) == data, true);
  ASSERT_TRUE(QFile::remove(f.path + ".link"));
  ASSERT_TRUE(b.LoadFromFile(f.path));
  ASSERT_TRUE(b.showsFileDirectly());
  ASSERT_TRUE(b.ChangeByte(100, 'f', 'F'));
  EXPECT_FALSE(b.showsFileDirectly());
  EXPECT_TRUE(b.hasWorkingCopy());
  EXPECT_EQ(testenv::readFile(f.path), data);
  n = 5;
  EXPECT_EQ(b.BufferFromFile(100, n), "First");
  ASSERT_TRUE(b.DeleteSelection());
  b.Undo();
  b.Undo();
  EXPECT_EQ(contents(b) == data, true);
  // A cancelled first copy refuses the change and keeps showing the file.
  ASSERT_TRUE(b.LoadFromFile(f.path));
  b.setProgress([](qint64 done, qint64 total) { return done >= total; });
  EXPECT_FALSE(b.ChangeByte(0, 'L', 'x'));
  EXPECT_EQ(b.lastError(), "Cancelled");
  EXPECT_FALSE(b.CanUndo());
  EXPECT_TRUE(b.showsFileDirectly());
  EXPECT_EQ(b.cachedByte(0), 'L');
  EXPECT_EQ(testenv::readFile(f.path), data);
}

// The working copy is a file without a name in the temporary folder, so that the kernel frees it with the
// process however the process ends: made by an insertion, a load, or the first change of a large file; also
// where the file system refuses O_TMPFILE.
TEST(HexBufferFiles, WorkingCopyHasNoName) {
  const QString tmp = QDir::tempPath();
  const std::string before = filesIn(tmp);
  const int open = unnamedOpenFiles(tmp);
  for (const bool tmpFile : {true, false}) {
    hexio::setTmpFileAllowed(tmpFile);
    {
      THexBuffer b;
      ASSERT_TRUE(b.InsertBuffer("x", 0));
      EXPECT_TRUE(b.hasWorkingCopy());
      EXPECT_EQ(filesIn(tmp), before);
      EXPECT_EQ(unnamedOpenFiles(tmp), open + 1);
      Loaded f("copied when loaded");
      EXPECT_TRUE(f.buf.hasWorkingCopy());
      EXPECT_EQ(unnamedOpenFiles(tmp), open + 2);
      Loaded large(QByteArray(THexBuffer::kEagerCopyLimit + 1, 'b'));
      ASSERT_TRUE(large.buf.ChangeByte(0, 'b', 'B'));
      EXPECT_TRUE(large.buf.hasWorkingCopy());
      EXPECT_EQ(unnamedOpenFiles(tmp), open + 3);
      EXPECT_EQ(filesIn(tmp), before);
      b.NewFile("Untitled");
      EXPECT_EQ(unnamedOpenFiles(tmp), open + 2);
    }
    EXPECT_EQ(unnamedOpenFiles(tmp), open);
    EXPECT_EQ(filesIn(tmp), before);
  }
  hexio::setTmpFileAllowed(true);
}

// A save killed half-way, while it copies the backup or the new bytes, leaves nothing behind once the file
// is next opened: no temporaries beside the file, no working copy in the temporary folder. Where O_TMPFILE
// is refused the temporary has a name while it is written; it goes once it is a minute old.
TEST(HexBufferFiles, KilledSaveLeavesNothingBehind) {
  const QByteArray data(20 << 20, 'k');
  for (const QString how : {"", "named"}) {
    for (const QString phase : {"backup", "main"}) {
      const std::string what = (phase + " " + how).toStdString();
      const QString dir = testenv::makeDir("killed");
      const QString path = testenv::writeFile(dir + "/data.bin", data);
      const std::string tmpBefore = filesIn(QDir::tempPath());
      QProcess child;
      child.start(testenv::binDir() + "/hexsave_child", {path, phase, how});
      ASSERT_TRUE(child.waitForStarted());
      while (!child.canReadLine() && child.waitForReadyRead(60000)) {
      }
      ASSERT_EQ(child.readLine(), "saving\n") << what << ": " << child.readAllStandardError().toStdString();
      child.kill();
      ASSERT_TRUE(child.waitForFinished(60000));
      int leftovers = 0;
      for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        if (!name.contains(".tarnwick-save-")) continue;
        ++leftovers;
        struct timespec t[2];
        t[0].tv_sec = t[1].tv_sec = ::time(nullptr) - 120;
        t[0].tv_nsec = t[1].tv_nsec = 0;
        EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir + "/" + name).constData(), t, 0), 0);
      }
      EXPECT_EQ(leftovers, how == "named" ? 1 : 0) << what;
      THexBuffer b;
      ASSERT_TRUE(b.LoadFromFile(path));
      EXPECT_EQ(filesIn(dir), phase == "main" ? "data.bak data.bin" : "data.bin") << what;
      EXPECT_EQ(testenv::readFile(path) == data, true);
      EXPECT_EQ(filesIn(QDir::tempPath()), tmpBefore) << what;
    }
  }
}

// What a killed save left beside a file goes when the file is next opened or saved. A save still running
// (its temporary locked), one just starting (a temporary younger than a minute) and files that are not ours
// stay.
TEST(HexBufferFiles, StaleSaveTemporariesAreRemoved) {
  const QString dir = testenv::makeDir("stale");
  const QString path = testenv::writeFile(dir + "/data.bin", "data");
  auto leftover = [&](const QString &name, bool old) {
    const QString p = testenv::writeFile(dir + "/" + name, "half");
    if (old) {
      struct timespec t[2];
      t[0].tv_sec = t[1].tv_sec = ::time(nullptr) - 3600;
      t[0].tv_nsec = t[1].tv_nsec = 0;
      EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), t, 0), 0);
    }
    return p;
  };
  leftover(".data.bin.tarnwick-save-a1B2c3", true);
  leftover(".data.bak.tarnwick-save-Zz9900", true);  // the backup's
  leftover(".data.bin.tarnwick-save-young1", false);
  const QString live = leftover(".data.bin.tarnwick-save-locked", true);
  const int fd = ::open(QFile::encodeName(live).constData(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  leftover(".data.bin.Ab12Cd", true);  // another program's (rsync names its temporaries so)
  leftover(".data.bin.tarnwick-save-a1B2c3~", true);
  leftover(".other.bin.tarnwick-save-q1w2e3", true);
  leftover("data.bin.tarnwick-save-q1w2e3", true);
  const QStringList others{".data.bin.Ab12Cd", ".data.bin.tarnwick-save-a1B2c3~", ".other.bin.tarnwick-save-q1w2e3",
                           "data.bin.tarnwick-save-q1w2e3"};

  THexBuffer b;
  ASSERT_TRUE(b.LoadFromFile(path));
  QStringList want = others + QStringList{".data.bin.tarnwick-save-locked", ".data.bin.tarnwick-save-young1", "data.bin"};
  want.sort();
  EXPECT_EQ(filesIn(dir), want.join(" ").toStdString());
  // The running save ends without cleaning up (killed): its temporary goes with the next save.
  ::close(fd);
  ASSERT_TRUE(b.ChangeByte(0, 'd', 'D'));
  ASSERT_TRUE(b.SaveToFile(path));
  want = others + QStringList{".data.bin.tarnwick-save-young1", "data.bak", "data.bin"};
  want.sort();
  EXPECT_EQ(filesIn(dir), want.join(" ").toStdString());
  EXPECT_EQ(testenv::readFile(path), "Data");
}

// A sparse file above 4 GiB, edited near its end, saved and checked byte by byte.
TEST(HexBufferLarge, SparseFileAboveFourGiBEditedNearItsEnd) {
  const QString dir = testenv::makeDir("big");
  const QString path = dir + "/big.img";
  const qint64 size = (5ll << 30) + 123;
  {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ASSERT_EQ(::pwrite(fd, "HEAD", 4, 0), 4);
    ASSERT_EQ(::pwrite(fd, "NEEDLE-AT-END", 13, size - 20), 13);
    struct stat st;
    ::fstat(fd, &st);
    ::close(fd);
    // Without holes this would write gigabytes to a disk that may not hold them.
    if (st.st_blocks * 512 > (64ll << 20)) GTEST_SKIP() << "the temporary folder's file system has no sparse files";
  }
  THexBuffer b;
  ASSERT_TRUE(b.LoadFromFile(path));
  ASSERT_EQ(b.DataSize(), size);
  QByteArray p = "needle-at-end";
  const qint64 at = b.Find(p, true, true, size - 1, size - (1 << 20));
  ASSERT_EQ(at, size - 20);
  EXPECT_EQ(b.cachedByte(size - 20), 'N');
  // From the start: holes are skipped, but patterns of zeros or reaching into a hole are still found.
  p = "NEEDLE";
  EXPECT_EQ(b.Find(p, false, false, size - 1, 0), size - 20);
  QByteArray zeros(3, '\0');
  EXPECT_EQ(b.Find(zeros, false, false, size - 1, 3), 4);
  QByteArray edge("D\0\0", 3);
  EXPECT_EQ(b.Find(edge, false, false, size - 1, 0), 3);
  QByteArray tail("END\0", 4);
  EXPECT_EQ(b.Find(tail, false, false, size - 1, 0), size - 10);
  ASSERT_TRUE(b.ChangeByte(size - 20, 'N', 'n'));
  EXPECT_EQ(static_cast<unsigned char>(b.undoLog()[0]), THexBuffer::kWideRecord | 0);
  EXPECT_TRUE(b.IsChanged(size - 20));
  b.setCaret(size - 5, haHex);
  ASSERT_TRUE(b.InsertBuffer("++", size - 5));
  EXPECT_EQ(b.SelStart(), size - 5);
  EXPECT_EQ(b.DataSize(), size + 2);
  // One byte near the start moves the whole tail, holes included.
  ASSERT_TRUE(b.InsertBuffer("!", 2));
  qint64 n = 13;
  EXPECT_EQ(b.BufferFromFile(size - 19, n), "nEEDLE-AT-END");
  b.Undo();
  n = 13;
  EXPECT_EQ(b.BufferFromFile(size - 20, n), "nEEDLE-AT-END");
  EXPECT_EQ(b.DataSize(), size + 2);
  ASSERT_TRUE(b.InsertBuffer("!", 2));
  const QString out = dir + "/out.img";
  ASSERT_TRUE(b.SaveToFile(out));
  int fd = ::open(QFile::encodeName(out).constData(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct stat st;
  ::fstat(fd, &st);
  EXPECT_EQ(st.st_size, size + 3);
  EXPECT_LT(st.st_blocks * 512, 64ll << 20) << "holes were filled";
  char buf[32] = {};
  ASSERT_EQ(::pread(fd, buf, 5, 0), 5);
  EXPECT_EQ(QByteArray(buf, 5), "HE!AD");
  ASSERT_EQ(::pread(fd, buf, 25, size - 20 + 1), 22);
  EXPECT_EQ(QByteArray(buf, 22), QByteArray("nEEDLE-AT-END") + QByteArray(2, '\0') + "++" +
                                     QByteArray(5, '\0'));
  ASSERT_EQ(::pread(fd, buf, 4, (3ll << 30)), 4);
  EXPECT_EQ(QByteArray(buf, 4), QByteArray(4, '\0'));
  ::close(fd);
  // Saving under another name leaves the loaded file as it was.
  fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  ASSERT_EQ(::pread(fd, buf, 13, size - 20), 13);
  EXPECT_EQ(QByteArray(buf, 13), "NEEDLE-AT-END");
  ::close(fd);
}

// A large file is shown straight from disk until its first change. When another program rewrites or cuts it
// meanwhile, not one of the new bytes may be shown, copied into the working copy or saved.
TEST(HexBufferOnDisk, FileShownDirectlyIsNeverMixedWithNewBytes) {
  QByteArray data(THexBuffer::kEagerCopyLimit + 4096, 'L');
  data.replace(100, 5, "first");
  data.replace(200000, 5, "later");  // outside the first display window
  Loaded f(data);
  THexBuffer &b = f.buf;
  if (!b.showsFileDirectly()) GTEST_SKIP() << "the file system cloned the file at once";
  const QString out = QFileInfo(f.path).absolutePath() + "/out.bin";
  QSignalSpy lost(&b, &THexBuffer::sourceChanged);
  EXPECT_EQ(b.cachedByte(100), 'f');

  // Cut to 1,000 bytes behind the editor, with new bytes where the old ones were.
  changeBehind(f.path, 1000, 100, "FRESH");
  qint64 n = 5;
  EXPECT_NE(b.BufferFromFile(100, n), "FRESH");
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(b.ChangeByte(0, 'L', 'x'));
  EXPECT_FALSE(b.SaveToFile(out)) << "saved a result built from bytes that were not the loaded ones";
  EXPECT_FALSE(QFileInfo::exists(out));
  EXPECT_FALSE(b.lastError().isEmpty());
  EXPECT_FALSE(b.SaveToFile(f.path));
  EXPECT_EQ(QFileInfo(f.path).size(), 1000);
  // The buffer lets the file go and says so once.
  ASSERT_TRUE(testenv::waitFor([&] { return lost.count() > 0; }));
  EXPECT_EQ(lost.count(), 1);
  EXPECT_EQ(lost.first().first().toString(), f.path);
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_EQ(b.FileName(), "Untitled");
  EXPECT_FALSE(b.showsFileDirectly());

  // Rewritten in place at the same size: a display window read afterwards shows none of it.
  testenv::writeFile(f.path, data);
  ASSERT_TRUE(b.LoadFromFile(f.path));
  ASSERT_TRUE(b.showsFileDirectly());
  EXPECT_EQ(b.cachedByte(100), 'f');
  changeBehind(f.path, -1, 200000, "NEWER");
  EXPECT_NE(b.cachedBytes(200000, 5), "NEWER");
  QByteArray p = "NEWER";
  EXPECT_EQ(b.Find(p, true, false, b.DataSize() - 1, 0), -1);
  ASSERT_TRUE(testenv::waitFor([&] { return lost.count() > 1; }));
  EXPECT_EQ(b.DataSize(), 0);

  // Rewritten while the first change copies it: the change is refused, nothing of the file is kept.
  testenv::writeFile(f.path, data);
  ASSERT_TRUE(b.LoadFromFile(f.path));
  ASSERT_TRUE(b.showsFileDirectly());
  bool changed = false;
  b.setProgress([&](qint64, qint64) {
    if (!changed) changeBehind(f.path, -1, data.size() - 5, "TAIL!");
    changed = true;
    return true;
  });
  EXPECT_FALSE(b.ChangeByte(0, 'L', 'x'));
  EXPECT_TRUE(changed);
  EXPECT_FALSE(b.Modified());
  EXPECT_FALSE(b.CanUndo());
  n = 5;
  EXPECT_NE(b.BufferFromFile(data.size() - 5, n), "TAIL!");
  ASSERT_TRUE(testenv::waitFor([&] { return lost.count() > 2; }));
  EXPECT_EQ(b.DataSize(), 0);

  // Rewritten while Save As copies it: nothing is written.
  testenv::writeFile(f.path, data);
  ASSERT_TRUE(b.LoadFromFile(f.path));
  changed = false;
  EXPECT_FALSE(b.SaveToFile(out));
  EXPECT_TRUE(changed);
  EXPECT_FALSE(QFileInfo::exists(out));
  EXPECT_EQ(QDir(QFileInfo(f.path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"data.bin"});
}

// A copied file keeps its loaded bytes whatever happens to it on disk; the buffer can tell that the file
// changed and will not save over that change unless told to, and a load that raced with a writer never
// gives a mix of old and new bytes.
TEST(HexBufferOnDisk, WorkingCopyKeepsLoadedBytesAndNoticesChanges) {
  Loaded f("abcdefgh");
  THexBuffer &b = f.buf;
  EXPECT_FALSE(b.changedOnDisk());
  changeBehind(f.path, -1, 0, "XY");
  EXPECT_TRUE(b.changedOnDisk());
  EXPECT_EQ(contents(b), "abcdefgh");
  b.ChangeByte(7, 'h', 'H');
  EXPECT_FALSE(b.SaveToFile(f.path)) << "saved over another program's change without being told to";
  EXPECT_EQ(testenv::readFile(f.path), "XYcdefgh");
  EXPECT_TRUE(b.lastError().contains("changed by another program")) << b.lastError().toStdString();
  EXPECT_TRUE(b.Modified());
  EXPECT_EQ(contents(b), "abcdefgH");
  // Replaced under the same name by a rename: the same refusal.
  const QString moved = f.path + ".new";
  testenv::writeFile(moved, "other file");
  ASSERT_TRUE(QFile::rename(f.path, f.path + ".old") && QFile::rename(moved, f.path));
  EXPECT_FALSE(b.SaveToFile(f.path));
  EXPECT_EQ(testenv::readFile(f.path), "other file");
  ASSERT_TRUE(b.SaveToFile(f.path, true));  // the window asked, and the user chose to save over it
  EXPECT_EQ(testenv::readFile(f.path), "abcdefgH");
  EXPECT_FALSE(b.changedOnDisk());
  changeBehind(f.path, 3, 0, "");
  EXPECT_TRUE(b.changedOnDisk());
  ASSERT_TRUE(QFile::remove(f.path));
  EXPECT_TRUE(b.changedOnDisk());
  testenv::writeFile(f.path, "abcdefgH");  // the same bytes again, but another file
  EXPECT_TRUE(b.changedOnDisk());
  b.NewFile("Untitled");
  EXPECT_FALSE(b.changedOnDisk());

  // 20 MiB copied when loaded, rewritten at both ends while the copy runs (its start is copied by then).
  QByteArray data(20 << 20, 'o');
  QByteArray newer = data;
  newer.replace(0, 3, "NEW").replace(newer.size() - 3, 3, "new");
  testenv::writeFile(f.path, data);
  bool changed = false;
  b.setProgress([&](qint64, qint64) {
    if (!changed) {
      changeBehind(f.path, -1, 0, "NEW");
      changeBehind(f.path, -1, data.size() - 3, "new");
    }
    changed = true;
    return true;
  });
  const bool loaded = b.LoadFromFile(f.path);
  EXPECT_TRUE(changed);
  if (loaded) {
    EXPECT_FALSE(b.showsFileDirectly());
    EXPECT_EQ(contents(b) == newer, true) << "a mix of the old and the new file";
    EXPECT_FALSE(b.changedOnDisk());
  } else {
    EXPECT_EQ(b.DataSize(), 0);
  }
}

// Viewing a file (the editor tab's binary view): the file itself is shown, whatever its size, read-only,
// with no working copy made and nothing beside it removed, even what a killed save left there.
TEST(HexBufferFiles, ViewingShowsTheFileItselfAndTouchesNothingBesideIt) {
  const QString dir = testenv::makeDir("view");
  const QString path = testenv::writeFile(dir + "/data.bin", QByteArray("\x7f" "ELF\0\1\2\3", 8));
  const QString stale = testenv::writeFile(dir + "/.data.bin.tarnwick-save-a1B2c3", "half");
  struct timespec t[2];
  t[0].tv_sec = t[1].tv_sec = ::time(nullptr) - 3600;
  t[0].tv_nsec = t[1].tv_nsec = 0;
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(stale).constData(), t, 0), 0);
  THexBuffer b;
  ASSERT_TRUE(b.ViewFile(path));
  EXPECT_TRUE(b.showsFileDirectly());
  EXPECT_FALSE(b.hasWorkingCopy());
  EXPECT_TRUE(b.ReadOnly());
  EXPECT_EQ(b.FileName(), path);
  EXPECT_EQ(b.DataSize(), 8);
  EXPECT_EQ(b.cachedBytes(0, 8), QByteArray("\x7f" "ELF\0\1\2\3", 8));
  EXPECT_TRUE(QFileInfo::exists(stale));
  // Loading for editing still cleans up.
  ASSERT_TRUE(b.LoadFromFile(path));
  EXPECT_FALSE(QFileInfo::exists(stale));
  // A file that cannot be viewed leaves an empty, nameless buffer.
  EXPECT_FALSE(b.ViewFile(dir + "/missing"));
  EXPECT_EQ(b.DataSize(), 0);
  EXPECT_EQ(b.FileName(), "Untitled");
  EXPECT_FALSE(b.ViewFile(dir));
}
