// The copy/move engine on the real file system: what reaches the target, what stays at the source, and
// that no half-written file is ever left behind.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QThread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/fileops.h"
#include "platform/fileops_runner.h"
#include "platform/trash.h"
#include "tests/common/testenv.h"
#include "tests/platform/fileops_fixture.h"

using namespace platform;
using namespace fotest;

namespace {
TransferResult run(NativePaths sources, const NativePath &target, TransferMode mode, Script &script) {
  TFileTransfer t(std::move(sources), target, mode);
  return t.run(script);
}
}  // namespace

TEST(FileTransfer, CopiesATreeWithContentModesTimesAndLinksAsLinks) {
  const NativePath src = newDir("src"), dst = newDir("dst");
  const NativePath tree = joinPath(src, "tree");
  writeBytes(tree + "/a.txt", "alpha");
  writeBytes(tree + "/sub/deep/b.bin", pattern(300000, 1));
  writeBytes(tree + "/empty.txt", "");
  ::mkdir((tree + "/emptydir").constData(), 0755);
  ::chmod((tree + "/a.txt").constData(), 0751);
  const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ::utimensat(AT_FDCWD, (tree + "/a.txt").constData(), old, 0);
  ::symlink("a.txt", (tree + "/link-to-a").constData());
  ::symlink("/nonexistent/dangling", (tree + "/dangling").constData());
  ::symlink(".", (tree + "/sub/loop").constData());  // followed, this would recurse forever

  Script s;
  const TransferResult r = run({tree}, dst, TransferMode::Copy, s);
  EXPECT_FALSE(r.cancelled);
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(r.created, NativePaths{joinPath(dst, "tree")});
  const NativePath out = joinPath(dst, "tree");
  EXPECT_EQ(readBytes(out + "/a.txt"), "alpha");
  EXPECT_EQ(readBytes(out + "/sub/deep/b.bin"), pattern(300000, 1));
  EXPECT_TRUE(exists(out + "/empty.txt"));
  EXPECT_TRUE(exists(out + "/emptydir"));
  struct stat st;
  ASSERT_EQ(::stat((out + "/a.txt").constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  for (const char *l : {"/link-to-a", "/dangling", "/sub/loop"}) EXPECT_TRUE(isLink(out + l)) << l;
  char buf[256] = {};
  ASSERT_GT(::readlink((out + "/sub/loop").constData(), buf, sizeof buf - 1), 0);
  EXPECT_STREQ(buf, ".");
  EXPECT_FALSE(hasTemporaries(dst));
  EXPECT_EQ(readBytes(tree + "/a.txt"), "alpha");  // the source is untouched
}

TEST(FileTransfer, PastingIntoTheSameFolderMakesNumberedCopies) {
  const NativePath dir = newDir("same");
  writeBytes(dir + "/report.txt", "r");
  writeBytes(dir + "/.profile", "p");
  writeBytes(dir + "/folder/inner.txt", "i");
  Script s;
  run({dir + "/report.txt", dir + "/.profile", dir + "/folder"}, dir, TransferMode::Copy, s);
  run({dir + "/report.txt"}, dir, TransferMode::Copy, s);
  EXPECT_TRUE(s.conflicts.empty());
  EXPECT_EQ(readBytes(dir + "/report (copy).txt"), "r");
  EXPECT_EQ(readBytes(dir + "/report (copy 2).txt"), "r");
  EXPECT_EQ(readBytes(dir + "/.profile (copy)"), "p");
  EXPECT_EQ(readBytes(dir + "/folder (copy)/inner.txt"), "i");
  // A move to where the item already is changes nothing.
  const TransferResult r = run({dir + "/report.txt"}, dir, TransferMode::Move, s);
  EXPECT_EQ(readBytes(dir + "/report.txt"), "r");
  EXPECT_EQ(names(dir).size(), 7u);
  EXPECT_TRUE(r.errors.isEmpty());
}

TEST(FileTransfer, RefusesAFolderIntoItselfAlsoThroughALinkedPath) {
  const NativePath root = newDir("self");
  const NativePath folder = root + "/folder";
  writeBytes(folder + "/sub/x.txt", "x");
  ::symlink((folder + "/sub").constData(), (root + "/alias").constData());
  for (TransferMode mode : {TransferMode::Copy, TransferMode::Move}) {
    for (const NativePath &target : {folder, folder + "/sub", root + "/alias"}) {
      Script s;
      const TransferResult r = run({folder}, target, mode, s);
      ASSERT_EQ(s.errors.size(), 1u) << target.constData();
      EXPECT_TRUE(s.errors[0].message.contains("inside the source folder")) << s.errors[0].message.toStdString();
      EXPECT_EQ(r.done, 0);
    }
  }
  EXPECT_EQ(names(folder), (std::set<QByteArray>{"sub"}));
  EXPECT_EQ(names(folder + "/sub"), (std::set<QByteArray>{"x.txt"}));
}

TEST(FileTransfer, ConflictAnswersOverwriteSkipKeepBothApplyToAllAndCancel) {
  const NativePath src = newDir("csrc"), dst = newDir("cdst");
  for (const char *n : {"a", "b", "c", "d"}) writeBytes(joinPath(src, n), QByteArray("new-") + n);
  for (const char *n : {"a", "b", "c", "d"}) writeBytes(joinPath(dst, n), QByteArray("old-") + n);
  const NativePaths all{src + "/a", src + "/b", src + "/c", src + "/d"};
  {
    Script s;
    s.conflictReplies = {{ConflictAnswer::Overwrite, false}, {ConflictAnswer::Skip, false},
                         {ConflictAnswer::KeepBoth, true}};
    const TransferResult r = run(all, dst, TransferMode::Copy, s);
    EXPECT_EQ(s.conflicts.size(), 3u);  // the third answer applied to "d" too
    EXPECT_EQ(s.conflicts[0].target, dst + "/a");
    EXPECT_EQ(s.conflicts[0].sourceSize, 5);
    EXPECT_EQ(readBytes(dst + "/a"), "new-a");
    EXPECT_EQ(readBytes(dst + "/b"), "old-b");
    EXPECT_EQ(readBytes(dst + "/c"), "old-c");
    EXPECT_EQ(readBytes(dst + "/c (copy)"), "new-c");
    EXPECT_EQ(readBytes(dst + "/d (copy)"), "new-d");
    EXPECT_EQ(r.skipped, 1);
  }
  {
    Script s;
    s.conflictReplies = {{ConflictAnswer::Cancel, false}};
    writeBytes(src + "/0-first", "first");
    const TransferResult r = run({src + "/0-first", src + "/b", src + "/c"}, newDir("cdst2"), TransferMode::Copy, s);
    EXPECT_TRUE(s.conflicts.empty());
    EXPECT_FALSE(r.cancelled);
    const NativePath dst3 = newDir("cdst3");
    writeBytes(dst3 + "/b", "old");
    const TransferResult r2 = run({src + "/b", src + "/c"}, dst3, TransferMode::Copy, s);
    EXPECT_TRUE(r2.cancelled);
    EXPECT_FALSE(exists(dst3 + "/c"));  // nothing after the cancelled question
    EXPECT_EQ(readBytes(dst3 + "/b"), "old");
  }
  {  // A file cannot replace a folder: asked as an error, nothing lost.
    const NativePath dst4 = newDir("cdst4");
    writeBytes(dst4 + "/a/keep.txt", "keep");
    Script s;
    s.conflictReplies = {{ConflictAnswer::Overwrite, false}};
    run({src + "/a"}, dst4, TransferMode::Move, s);
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_EQ(readBytes(dst4 + "/a/keep.txt"), "keep");
    EXPECT_EQ(readBytes(src + "/a"), "new-a");
  }
}

TEST(FileTransfer, MoveInsideOneFileSystemRenamesAndMergesFolders) {
  const NativePath src = newDir("msrc"), dst = newDir("mdst");
  writeBytes(src + "/big.bin", pattern(100000, 2));
  writeBytes(src + "/f/one.txt", "1");
  writeBytes(src + "/f/two.txt", "2new");
  writeBytes(dst + "/f/two.txt", "2old");
  writeBytes(dst + "/f/three.txt", "3");
  struct stat before, after;
  ::stat((src + "/big.bin").constData(), &before);
  Script s;
  s.conflictReplies = {{ConflictAnswer::Overwrite, true}};
  const TransferResult r = run({src + "/big.bin", src + "/f"}, dst, TransferMode::Move, s);
  EXPECT_TRUE(s.errors.empty());
  ASSERT_EQ(::stat((dst + "/big.bin").constData(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // renamed, not copied
  EXPECT_EQ(readBytes(dst + "/f/one.txt"), "1");
  EXPECT_EQ(readBytes(dst + "/f/two.txt"), "2new");
  EXPECT_EQ(readBytes(dst + "/f/three.txt"), "3");
  EXPECT_TRUE(names(src).empty());  // the merged-away folder is gone too
  EXPECT_FALSE(r.cancelled);
}

TEST(FileTransfer, CancelDuringALargeFileLeavesNoPartialFile) {
  const NativePath src = newDir("bigsrc"), dst = newDir("bigdst");
  const QByteArray data = pattern(48 << 20, 3);
  writeBytes(src + "/big.bin", data);
  writeBytes(src + "/after.txt", "after");
  {  // (a move inside one file system is a rename; the cross-file-system move has its own test)
    TFileTransfer t({src + "/big.bin", src + "/after.txt"}, dst, TransferMode::Copy);
    Script s;
    qint64 seenMidFile = 0;
    s.onProgress = [&](const TransferProgress &p) {
      if (p.fileDone > 0 && p.fileDone < p.fileTotal && !seenMidFile) {
        seenMidFile = p.fileDone;
        t.cancel();
      }
    };
    const TransferResult r = t.run(s);
    EXPECT_GT(seenMidFile, 0);
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(names(dst).empty());
    EXPECT_EQ(readBytes(src + "/big.bin"), data);
    EXPECT_EQ(readBytes(src + "/after.txt"), "after");
  }
  {  // Cancelling while overwriting: the old file stays exactly as it was.
    writeBytes(dst + "/big.bin", "the old version");
    TFileTransfer t({src + "/big.bin"}, dst, TransferMode::Copy);
    Script s;
    s.conflictReplies = {{ConflictAnswer::Overwrite, false}};
    s.onProgress = [&](const TransferProgress &p) {
      if (p.fileDone > 0 && p.fileDone < p.fileTotal) t.cancel();
    };
    EXPECT_TRUE(t.run(s).cancelled);
    EXPECT_EQ(names(dst), std::set<QByteArray>{"big.bin"});
    EXPECT_EQ(readBytes(dst + "/big.bin"), "the old version");
  }
}

TEST(FileTransfer, RunnerReportsProgressOnTheOwnerThreadAndCancelsCleanly) {
  const NativePath src = newDir("rsrc"), dst = newDir("rdst");
  for (int i = 0; i < 3; ++i) writeBytes(src + "/f" + QByteArray::number(i), pattern(40 << 20, 10 + i));
  writeBytes(dst + "/f0", "old");
  struct Ui : TransferQuestions {
    int asked = 0;
    bool onOwnerThread = true;
    ConflictReply askConflict(const ConflictQuestion &) override {
      ++asked;
      onOwnerThread = onOwnerThread && QThread::currentThread() == QCoreApplication::instance()->thread();
      return {ConflictAnswer::Overwrite, false};
    }
    ErrorAnswer askError(const ErrorQuestion &) override { return ErrorAnswer::Cancel; }
  } ui;
  TTransferRunner runner({src + "/f0", src + "/f1", src + "/f2"}, dst, TransferMode::Copy, &ui);
  runner.setProgressInterval(0);
  bool finished = false, progressOnOwner = true;
  QObject::connect(&runner, &TTransferRunner::progressChanged, [&](const TransferProgress &p) {
    progressOnOwner = progressOnOwner && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (p.currentSource.endsWith("/f1") && p.fileDone > 0) runner.cancel();
  });
  QObject::connect(&runner, &TTransferRunner::finished, [&] { finished = true; });
  runner.start();
  ASSERT_TRUE(testenv::waitFor([&] { return finished; }, 60000));
  EXPECT_EQ(ui.asked, 1);
  EXPECT_TRUE(ui.onOwnerThread);
  EXPECT_TRUE(progressOnOwner);
  EXPECT_EQ(readBytes(dst + "/f0"), pattern(40 << 20, 10));
  // Whatever the timing, every file at the target is complete and no temporary is left.
  EXPECT_FALSE(hasTemporaries(dst));
  for (const QByteArray &n : names(dst)) EXPECT_EQ(readBytes(joinPath(dst, n)), readBytes(joinPath(src, n)));
  EXPECT_EQ(names(src).size(), 3u);
}

TEST(FileTransfer, OddNamesSurviveCopyAndMoveByteForByte) {
  const NativePath src = newDir("odd"), dst = newDir("odddst"), dst2 = newDir("odddst2");
  const std::vector<QByteArray> odd{"line\nbreak.txt", "bad\xff\xfe-bytes.bin", "-rf", "--help", " spaced ",
                                    "tab\there", "\xc3\xa9t\xc3\xa9.txt"};
  NativePaths sources;
  for (const QByteArray &n : odd) {
    writeBytes(joinPath(src, n), "content of " + n);
    sources << joinPath(src, n);
  }
  writeBytes(src + "/dir\xff/inner\n.txt", "nested");
  Script s;
  run(sources + NativePaths{src + "/dir\xff"}, dst, TransferMode::Copy, s);
  EXPECT_TRUE(s.errors.empty());
  for (const QByteArray &n : odd) EXPECT_EQ(readBytes(joinPath(dst, n)), "content of " + n) << n.toHex().constData();
  EXPECT_EQ(readBytes(dst + "/dir\xff/inner\n.txt"), "nested");

  run(sources, dst2, TransferMode::Move, s);
  for (const QByteArray &n : odd) {
    EXPECT_EQ(readBytes(joinPath(dst2, n)), "content of " + n);
    EXPECT_FALSE(exists(joinPath(src, n)));
  }
  // Messages show such names exactly, with the odd bytes escaped.
  EXPECT_EQ(displayPath("/x/bad\xff\n\xc3\xa9"), QString::fromUtf8("/x/bad\\xFF\\n\xc3\xa9"));
  // The test root is removed through QString paths, which cannot name these.
  for (const NativePath &d : {src, dst, dst2}) EXPECT_TRUE(deletePermanently(d, nullptr));
}

TEST(FileTransfer, MissingSourceAndMissingTargetAreReportedNotCrashed) {
  const NativePath dst = newDir("miss");
  Script s;
  s.onError = ErrorAnswer::Skip;
  const TransferResult r = run({dst + "/nope", dst + "/nope2"}, dst + "/nofolder", TransferMode::Copy, s);
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_TRUE(s.errors[0].message.contains("nofolder"));
  EXPECT_EQ(r.done, 0);
  // Retry after the user fixed the cause: the folder exists now, the copy goes on.
  struct MakeFolderThenRetry : Script {
    NativePath folder;
    ErrorAnswer askError(const ErrorQuestion &q) override {
      Script::askError(q);
      ::mkdir(folder.constData(), 0755);
      return ErrorAnswer::Retry;
    }
  } fix;
  fix.folder = dst + "/later";
  writeBytes(dst + "/file.txt", "file");
  const TransferResult fixed = run({dst + "/file.txt"}, fix.folder, TransferMode::Copy, fix);
  EXPECT_EQ(fix.errors.size(), 1u);
  EXPECT_EQ(fixed.done, 1);
  EXPECT_EQ(readBytes(fix.folder + "/file.txt"), "file");

  Script s2;
  const TransferResult r2 = run({dst + "/nope"}, dst, TransferMode::Copy, s2);
  ASSERT_EQ(s2.errors.size(), 1u);
  EXPECT_TRUE(s2.errors[0].message.contains("does not exist"));
  EXPECT_EQ(r2.failed, 1);
}

// --- Situations that need another file system or another user --------------------------------------

TEST(FileTransferLimits, FullTargetDiskReportsTheErrorAndKeepsEverything) {
  Tmpfs fs(4 << 20);
  if (!fs.ok()) GTEST_SKIP() << fs.why().toStdString();
  const NativePath src = newDir("fullsrc");
  writeBytes(src + "/a.bin", pattern(1 << 20, 4));
  writeBytes(src + "/big.bin", pattern(6 << 20, 5));
  writeBytes(src + "/c.bin", pattern(1 << 20, 6));
  Script s;
  s.onError = ErrorAnswer::Skip;
  // A move across file systems: the files that fit are moved, the one that does not stays at the source.
  const TransferResult r =
      run({src + "/a.bin", src + "/big.bin", src + "/c.bin"}, fs.path(), TransferMode::Move, s);
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_TRUE(s.errors[0].message.contains("big.bin")) << s.errors[0].message.toStdString();
  EXPECT_TRUE(s.errors[0].message.contains("not enough space")) << s.errors[0].message.toStdString();
  EXPECT_EQ(r.failed, 1);
  EXPECT_EQ(readBytes(fs.path() + "/a.bin"), pattern(1 << 20, 4));
  EXPECT_EQ(readBytes(fs.path() + "/c.bin"), pattern(1 << 20, 6));
  EXPECT_EQ(names(fs.path()), (std::set<QByteArray>{"a.bin", "c.bin"}));
  EXPECT_EQ(readBytes(src + "/big.bin"), pattern(6 << 20, 5));
  EXPECT_EQ(names(src), (std::set<QByteArray>{"big.bin"}));

  // "Skip All": one question for a disk that stays full, every failure still counted and nothing partial.
  writeBytes(src + "/big2.bin", pattern(6 << 20, 6));
  writeBytes(src + "/small.bin", pattern(1000, 7));
  Script all;
  all.onError = ErrorAnswer::SkipAll;
  const TransferResult r2 =
      run({src + "/big.bin", src + "/big2.bin", src + "/small.bin"}, fs.path(), TransferMode::Copy, all);
  EXPECT_EQ(all.errors.size(), 1u);
  EXPECT_EQ(r2.failed, 2);
  EXPECT_EQ(r2.errors.size(), 2);
  EXPECT_EQ(readBytes(fs.path() + "/small.bin"), pattern(1000, 7));
  EXPECT_FALSE(exists(fs.path() + "/big.bin"));
  EXPECT_FALSE(exists(fs.path() + "/big2.bin"));
  EXPECT_FALSE(hasTemporaries(fs.path()));
}

TEST(FileTransferLimits, InterruptedMoveAcrossFileSystemsNeverLosesTheSource) {
  Tmpfs fs(256 << 20);
  if (!fs.ok()) GTEST_SKIP() << fs.why().toStdString();
  const NativePath src = newDir("isrc");
  for (int i = 0; i < 4; ++i) writeBytes(src + "/tree/f" + QByteArray::number(i), pattern(12 << 20, 20 + i));
  TFileTransfer t({src + "/tree"}, fs.path(), TransferMode::Move);
  Script s;
  s.onProgress = [&](const TransferProgress &p) {
    if (p.currentSource.endsWith("/f2") && p.fileDone > 0) t.cancel();
  };
  const TransferResult r = t.run(s);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(hasTemporaries(fs.path()));
  // Every file is whole in exactly one place, and the source folder stays because it is not empty.
  int atTarget = 0;
  for (int i = 0; i < 4; ++i) {
    const QByteArray n = "/f" + QByteArray::number(i);
    const bool moved = exists(fs.path() + "/tree" + n);
    atTarget += moved;
    EXPECT_NE(moved, exists(src + "/tree" + n)) << n.constData();
    EXPECT_EQ(readBytes((moved ? fs.path() : src) + "/tree" + n), pattern(12 << 20, 20 + i));
  }
  EXPECT_EQ(atTarget, 2);
  EXPECT_TRUE(exists(src + "/tree"));

  // Pasting again into the existing folder moves the rest; then the source folder is gone.
  Script again;
  again.conflictReplies = {{ConflictAnswer::Overwrite, false}};
  const TransferResult r2 = run({src + "/tree"}, fs.path(), TransferMode::Move, again);
  EXPECT_FALSE(r2.cancelled);
  EXPECT_TRUE(again.errors.empty());
  EXPECT_FALSE(exists(src + "/tree"));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(readBytes(fs.path() + "/tree/f" + QByteArray::number(i)), pattern(12 << 20, 20 + i));
}

TEST(FileTransferLimits, FileSizeLimitInAChildProcessFailsOneFileCleanly) {
  const NativePath src = newDir("fsz"), dst = newDir("fszdst");
  writeBytes(src + "/small1", pattern(100000, 7));
  writeBytes(src + "/huge", pattern(3 << 20, 8));
  writeBytes(src + "/small2", pattern(100000, 9));
  int rc = 0;
  const QString out = runProbe({"--fsize=1048576", "--error=skip", platform::fromNative(dst),
                                platform::fromNative(src + "/small1"), platform::fromNative(src + "/huge"),
                                platform::fromNative(src + "/small2")},
                               &rc, false);
  EXPECT_EQ(rc, 0) << out.toStdString();
  EXPECT_TRUE(out.contains("too large for the destination")) << out.toStdString();
  EXPECT_TRUE(out.contains("result done=2 skipped=0 failed=1 cancelled=0")) << out.toStdString();
  EXPECT_EQ(names(dst), (std::set<QByteArray>{"small1", "small2"}));
  EXPECT_EQ(readBytes(dst + "/small2"), pattern(100000, 9));
  EXPECT_EQ(readBytes(src + "/huge"), pattern(3 << 20, 8));
}

TEST(FileTransferLimits, UnreadableSourceAndReadOnlyTargetAsAnOrdinaryUser) {
  SharedDir shared;
  ASSERT_FALSE(shared.path().isEmpty());
  const NativePath src = shared.path() + "/src", dst = shared.path() + "/dst", ro = shared.path() + "/ro";
  writeBytes(src + "/a.txt", "a");
  writeBytes(src + "/secret.txt", "secret");
  writeBytes(src + "/c.txt", "c");
  ::chmod((src + "/secret.txt").constData(), 0);
  ::mkdir(dst.constData(), 0755);
  ::mkdir(ro.constData(), 0555);
  for (const NativePath &p : {src, src + "/a.txt", src + "/secret.txt", src + "/c.txt", dst, ro}) giveToProbeUser(p);
  if (runningAsRoot()) ::chown((src + "/secret.txt").constData(), 0, 0);  // root's, mode 0: unreadable for the probe

  int rc = 0;
  QString out = runProbe({"--error=skip", platform::fromNative(dst), platform::fromNative(src + "/a.txt"),
                          platform::fromNative(src + "/secret.txt"), platform::fromNative(src + "/c.txt")},
                         &rc);
  ASSERT_EQ(rc, 0) << out.toStdString();
  EXPECT_TRUE(out.contains("Cannot read \"" + platform::fromNative(src) + "/secret.txt\": access is denied."))
      << out.toStdString();
  EXPECT_EQ(names(dst), (std::set<QByteArray>{"a.txt", "c.txt"}));

  // Into a read-only folder: one clear error, then Cancel; a move keeps its sources.
  out = runProbe({"--move", "--error=cancel", platform::fromNative(ro), platform::fromNative(src + "/a.txt"),
                  platform::fromNative(src + "/c.txt")},
                 &rc);
  EXPECT_EQ(out.count("error: "), 1) << out.toStdString();
  EXPECT_TRUE(out.contains("access is denied")) << out.toStdString();
  EXPECT_TRUE(out.contains("cancelled=1")) << out.toStdString();
  EXPECT_TRUE(names(ro).empty());
  EXPECT_EQ(readBytes(src + "/a.txt"), "a");
  EXPECT_EQ(readBytes(src + "/c.txt"), "c");

  // A folder with an unreadable subfolder, copied as the ordinary user: one clear error, the rest arrives.
  const NativePath tree = shared.path() + "/tree", dst2 = shared.path() + "/dst2";
  writeBytes(tree + "/ok.txt", "ok");
  writeBytes(tree + "/locked/inner.txt", "inner");
  ::mkdir(dst2.constData(), 0755);
  for (const NativePath &p : {tree, tree + "/ok.txt", dst2}) giveToProbeUser(p);
  ::chmod((tree + "/locked").constData(), 0);
  out = runProbe({"--error=skip", platform::fromNative(dst2), platform::fromNative(tree)}, &rc);
  EXPECT_TRUE(out.contains("Cannot read the folder \"" + platform::fromNative(tree) + "/locked\"")) << out.toStdString();
  ::chmod((tree + "/locked").constData(), 0755);
  EXPECT_EQ(readBytes(tree + "/locked/inner.txt"), "inner");
  EXPECT_EQ(readBytes(dst2 + "/tree/ok.txt"), "ok");
  EXPECT_EQ(out.count("error: "), 1) << out.toStdString();
  ::chmod((src + "/secret.txt").constData(), 0600);
}
