// The File menu commands through a stand-in main window: which items each command reaches in the single
// and dual layouts, and what reaches the disk, the clipboard and the trash.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <memory>
#include <QPushButton>
#include <QWidget>
#include <sys/mount.h>
#include <sys/resource.h>
#include <csignal>
#include <unistd.h>
#include "browser/conflictdialog.h"
#include "browser/filecommands.h"
#include "browser/filecommands_asker.h"
#include "browser/findfilesdialog.h"
#include "browser/progressdialog.h"
#include "browser/propertiesdialog.h"
#include "browser/transferqueue.h"
#include "platform/clipboard.h"
#include "platform/fileops_runner.h"
#include "platform/trash.h"
#include "tests/common/testenv.h"

using namespace browser;

namespace {
struct Pair {
  QString treeFolder, listFolder;
  QStringList selection;
  bool treeFocus = false;
};

struct FakeHost : FileCommandHost {
  Pair pairs[2];
  bool second = false;
  QStringList calls;  // what the commands asked of the window, in order
  QWidget parent;
  bool secondPairActive() const override { return second; }
  bool treeHasFocus(int p) const override { return pairs[p].treeFocus; }
  QString treeFolder(int p) const override { return pairs[p].treeFolder; }
  QString listFolder(int p) const override { return pairs[p].listFolder; }
  QStringList listSelection(int p) const override { return pairs[p].selection; }
  void selectAll(int p) override { calls << QString("selectAll %1").arg(p); }
  void invertSelection(int p) override { calls << QString("invert %1").arg(p); }
  void refresh(int p) override { calls << QString("refresh %1").arg(p); }
  void beginRename(int p, const QString &path) override { calls << QString("rename %1 %2").arg(p).arg(path); }
  void reveal(const QString &path) override { calls << "reveal " + path; }
  void openRichTextEditor() override { calls << "rtf"; }
  QWidget *dialogParent() const override { return const_cast<QWidget *>(&parent); }
};

struct ScriptAsker : TFileAsker {
  bool confirmAnswer = true;
  PermanentDelete permanent = PermanentDelete::No;
  platform::ConflictReply conflict{platform::ConflictAnswer::Overwrite, true};
  QStringList asked;  // "confirm: ...", "permanent: ...", "inform: ...", "conflict: ...", "error: ..."
  bool confirm(const QString &, const QString &text) override {
    asked << "confirm: " + text;
    return confirmAnswer;
  }
  PermanentDelete confirmPermanentDelete(const QString &text) override {
    asked << "permanent: " + text;
    return permanent;
  }
  void inform(const QString &, const QString &text) override { asked << "inform: " + text; }
  platform::ConflictReply askConflict(const platform::ConflictQuestion &q) override {
    asked << "conflict: " + platform::fromNative(q.target);
    return conflict;
  }
  platform::ErrorAnswer askError(const platform::ErrorQuestion &q) override {
    asked << "error: " + q.message;
    return platform::ErrorAnswer::Skip;
  }
};

QString write(const QString &path, const QByteArray &bytes) { return testenv::writeFile(path, bytes); }

// Two browser pairs over real folders: pair 0 shows a/, pair 1 shows b/.
struct Fixture {
  FakeHost host;
  ScriptAsker asker;
  TFileCommands commands{host, &asker};
  QString a = testenv::makeDir("a"), b = testenv::makeDir("b");
  Fixture() {
    host.pairs[0] = {a, a, {}, false};
    host.pairs[1] = {b, b, {}, false};
  }
  platform::TransferResult paste() {
    bool done = false;
    platform::TransferResult result;
    QObject::connect(
        &commands, &TFileCommands::transferFinished, &commands,
        [&](const platform::TransferResult &r) {
          result = r;
          done = true;
        },
        Qt::SingleShotConnection);
    commands.Paste1Click();
    EXPECT_TRUE(testenv::waitFor([&] { return done; }, 30000));
    return result;
  }
};
}  // namespace

TEST(FileCommands, TargetRuleFollowsTreeFocusAndTheActivePair) {
  Fixture f;
  f.host.pairs[0].selection = {f.a + "/x.txt", f.a + "/y.txt"};
  f.host.pairs[1].selection = {f.b + "/z.txt"};
  EXPECT_EQ(f.commands.targetItems(), (QStringList{f.a + "/x.txt", f.a + "/y.txt"}));
  f.host.pairs[0].treeFocus = true;
  EXPECT_EQ(f.commands.targetItems(), QStringList{f.a});
  f.host.second = true;  // the second pair's tree focus matters only when that pair is active
  EXPECT_EQ(f.commands.targetItems(), QStringList{f.b + "/z.txt"});
  f.host.pairs[1].treeFocus = true;
  f.host.pairs[1].treeFolder = f.b + "/sub";
  EXPECT_EQ(f.commands.targetItems(), QStringList{f.b + "/sub"});

  f.commands.Copy1Click();
  platform::ClipboardFiles clip = platform::filesOnClipboard();
  EXPECT_EQ(clip.paths, platform::NativePaths{platform::toNative(f.b + "/sub")});
  EXPECT_FALSE(clip.cut);
  f.host.pairs[1].treeFocus = false;
  f.commands.Cut2Click();
  clip = platform::filesOnClipboard();
  EXPECT_EQ(clip.paths, platform::NativePaths{platform::toNative(f.b + "/z.txt")});
  EXPECT_TRUE(clip.cut);

  // Commands of the active list only.
  f.commands.SelectAll1Click();
  f.commands.InvertSelection1Click();
  f.commands.Rename1Click();
  f.host.second = false;
  f.host.pairs[0].selection.clear();
  f.commands.Rename1Click();  // nothing selected: nothing to rename
  EXPECT_EQ(f.host.calls, (QStringList{"selectAll 1", "invert 1", "rename 1 " + f.b + "/z.txt"}));
}

TEST(FileCommands, DeleteWithTreeFocusTrashesTheFolderAfterNamingIt) {
  Fixture f;
  write(f.a + "/sub/inner.txt", "inner");
  write(f.a + "/listed.txt", "listed");
  f.host.pairs[0].treeFolder = f.a + "/sub";
  f.host.pairs[0].treeFocus = true;
  f.host.pairs[0].selection = {f.a + "/listed.txt"};

  f.asker.confirmAnswer = false;
  f.commands.DeleteBtnClick();
  ASSERT_EQ(f.asker.asked.size(), 1);
  EXPECT_EQ(f.asker.asked[0], "confirm: Are you sure you want to move \"" + f.a + "/sub\" to the Trash?");
  EXPECT_TRUE(QFileInfo::exists(f.a + "/sub/inner.txt"));

  f.asker.confirmAnswer = true;
  f.commands.DeleteBtnClick();
  EXPECT_FALSE(QFileInfo::exists(f.a + "/sub"));
  EXPECT_TRUE(QFileInfo::exists(f.a + "/listed.txt"));  // the list's selection was not the target
  EXPECT_EQ(testenv::readFile(testenv::root() + "/data/Trash/files/sub/inner.txt"), "inner");
  EXPECT_TRUE(QFileInfo::exists(testenv::root() + "/data/Trash/info/sub.trashinfo"));

  // Several items are named in the question.
  write(f.a + "/one", "1");
  write(f.a + "/two", "2");
  f.host.pairs[0].treeFocus = false;
  f.host.pairs[0].selection = {f.a + "/one", f.a + "/two"};
  f.commands.DeleteBtnClick();
  EXPECT_TRUE(f.asker.asked.last().contains("these 2 items"));
  EXPECT_TRUE(f.asker.asked.last().contains(f.a + "/one\n" + f.a + "/two"));
  EXPECT_FALSE(QFileInfo::exists(f.a + "/one"));

  // An item that is gone by now is reported; deleting it for good is not offered.
  f.host.pairs[0].selection = {f.a + "/vanished"};
  f.commands.DeleteBtnClick();
  EXPECT_TRUE(f.asker.asked.last().startsWith("inform: ")) << f.asker.asked.last().toStdString();
  EXPECT_TRUE(f.asker.asked.last().contains("does not exist"));
}

TEST(FileCommands, DeleteAsksBeforeDeletingPermanentlyWhereThereIsNoTrash) {
  char tmpl[] = "/tmp/tarnwick-notrash-XXXXXX";
  ASSERT_TRUE(::mkdtemp(tmpl));
  const QString mnt = QString::fromLatin1(tmpl);
  if (::mount("tarnwick-test", tmpl, "tmpfs", 0, "size=1m") != 0) {
    ::rmdir(tmpl);
    GTEST_SKIP() << "cannot mount a tmpfs here; run the tests as root to cover a volume without trash";
  }
  Fixture f;
  write(mnt + "/.Trash-" + QString::number(::getuid()), "a file where the trash folder would be");
  write(mnt + "/keep.txt", "keep");
  write(mnt + "/gone.txt", "gone");
  f.host.pairs[0].selection = {mnt + "/keep.txt"};
  f.asker.permanent = TFileAsker::PermanentDelete::No;
  f.commands.DeleteBtnClick();
  ASSERT_EQ(f.asker.asked.size(), 2);
  EXPECT_TRUE(f.asker.asked[1].startsWith("permanent: ")) << f.asker.asked[1].toStdString();
  EXPECT_TRUE(f.asker.asked[1].contains("permanently")) << f.asker.asked[1].toStdString();
  EXPECT_TRUE(QFileInfo::exists(mnt + "/keep.txt"));

  f.host.pairs[0].selection = {mnt + "/gone.txt"};
  f.asker.permanent = TFileAsker::PermanentDelete::Yes;
  int trashed = -1, deleted = -1;
  QObject::connect(&f.commands, &TFileCommands::deleteFinished, [&](int t, int d) {
    trashed = t;
    deleted = d;
  });
  f.commands.DeleteBtnClick();
  EXPECT_FALSE(QFileInfo::exists(mnt + "/gone.txt"));
  EXPECT_EQ(trashed, 0);
  EXPECT_EQ(deleted, 1);
  ::umount2(tmpl, MNT_DETACH);
  ::rmdir(tmpl);
}

TEST(FileCommands, PasteCopiesIntoTheActiveListAndCutMovesThenClearsTheClipboard) {
  Fixture f;
  write(f.a + "/doc.txt", "doc");
  write(f.a + "/dir/inner.txt", "inner");
  write(f.b + "/doc.txt", "older");
  f.host.pairs[0].selection = {f.a + "/doc.txt", f.a + "/dir"};
  f.commands.Copy1Click();
  f.host.second = true;  // paste goes to the active pair's folder
  platform::TransferResult r = f.paste();
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(f.asker.asked, QStringList{"conflict: " + f.b + "/doc.txt"});
  EXPECT_EQ(testenv::readFile(f.b + "/doc.txt"), "doc");
  EXPECT_EQ(testenv::readFile(f.b + "/dir/inner.txt"), "inner");
  EXPECT_FALSE(platform::filesOnClipboard().isEmpty());  // a copy can be pasted again

  // Pasting the same copy into the folder it came from makes "(copy)" items without asking.
  f.host.second = false;
  f.paste();
  EXPECT_EQ(testenv::readFile(f.a + "/doc (copy).txt"), "doc");
  EXPECT_EQ(f.asker.asked.size(), 1);

  write(f.a + "/move-me.txt", "moving");
  f.host.pairs[0].selection = {f.a + "/move-me.txt"};
  f.commands.Cut2Click();
  f.host.second = true;
  r = f.paste();
  EXPECT_FALSE(QFileInfo::exists(f.a + "/move-me.txt"));
  EXPECT_EQ(testenv::readFile(f.b + "/move-me.txt"), "moving");
  EXPECT_TRUE(platform::filesOnClipboard().isEmpty());
  EXPECT_EQ(f.commands.runningTransfers(), 0);

  // A drop from another program moves with the move action, through the same engine.
  write(f.b + "/dropped.txt", "dropped");
  std::unique_ptr<QMimeData> drop(platform::fileMimeData({platform::toNative(f.b + "/dropped.txt")}, false));
  bool done = false;
  QObject::connect(&f.commands, &TFileCommands::transferFinished, &f.commands, [&] { done = true; });
  EXPECT_TRUE(f.commands.dropFiles(drop.get(), f.a, Qt::MoveAction));
  ASSERT_TRUE(testenv::waitFor([&] { return done; }, 30000));
  EXPECT_EQ(testenv::readFile(f.a + "/dropped.txt"), "dropped");
  EXPECT_FALSE(QFileInfo::exists(f.b + "/dropped.txt"));
  QMimeData text;
  text.setText("not files");
  EXPECT_FALSE(f.commands.dropFiles(&text, f.a, Qt::CopyAction));
}

// Undo takes each kind of operation back, and leaves alone what has changed since, was replaced, or whose
// old place is taken: it never loses a byte to put things back.
TEST(FileCommands, UndoTakesOperationsBackButNeverOverAChangedItem) {
  Fixture f;
  write(f.a + "/x.txt", "x");
  write(f.a + "/tree/in.txt", "in");
  write(f.a + "/r.txt", "new");
  write(f.b + "/r.txt", "old");
  f.host.pairs[0].selection = {f.a + "/x.txt", f.a + "/tree", f.a + "/r.txt"};
  f.commands.Copy1Click();
  f.host.second = true;
  f.paste();
  EXPECT_EQ(f.commands.undoHistory().caption(), "&Undo Copy of 3 Items");
  f.asker.confirmAnswer = false;  // declined: nothing happens, the step stays
  f.commands.UndoClick();
  EXPECT_TRUE(QFileInfo::exists(f.b + "/x.txt"));
  EXPECT_EQ(f.commands.undoHistory().size(), 1);
  f.asker.confirmAnswer = true;
  write(f.b + "/tree/in.txt", "IN");  // same size, later time
  f.asker.asked.clear();
  f.commands.UndoClick();
  EXPECT_FALSE(QFileInfo::exists(f.b + "/x.txt"));
  EXPECT_EQ(testenv::readFile(f.b + "/tree/in.txt"), "IN");
  EXPECT_EQ(testenv::readFile(f.b + "/r.txt"), "new");
  ASSERT_EQ(f.asker.asked.size(), 2);
  EXPECT_TRUE(f.asker.asked[1].contains("tree\" stays: it has changed")) << f.asker.asked[1].toStdString();
  EXPECT_TRUE(f.asker.asked[1].contains("r.txt\" stays: it took the place")) << f.asker.asked[1].toStdString();
  EXPECT_TRUE(f.commands.undoHistory().isEmpty());

  // A move goes back; a rename goes back unless its old name was taken meanwhile.
  write(f.a + "/m.txt", "m");
  f.host.pairs[0].selection = {f.a + "/m.txt"};
  f.host.second = false;
  f.commands.Cut2Click();
  f.host.second = true;
  f.paste();
  EXPECT_EQ(f.commands.undoHistory().caption(), "&Undo Move of \"m.txt\"");
  f.commands.UndoClick();
  EXPECT_EQ(testenv::readFile(f.a + "/m.txt"), "m");
  EXPECT_FALSE(QFileInfo::exists(f.b + "/m.txt"));
  ASSERT_TRUE(f.commands.renameAccepted(f.a + "/m.txt", "n.txt"));
  write(f.a + "/m.txt", "another");
  f.asker.asked.clear();
  f.commands.UndoClick();
  EXPECT_EQ(testenv::readFile(f.a + "/n.txt"), "m");
  EXPECT_EQ(testenv::readFile(f.a + "/m.txt"), "another");
  ASSERT_EQ(f.asker.asked.size(), 1);
  EXPECT_TRUE(f.asker.asked[0].contains("is taken by another item")) << f.asker.asked[0].toStdString();

  // Delete: the item comes back from the Trash and its record there goes.
  f.host.second = false;
  f.host.pairs[0].selection = {f.a + "/n.txt"};
  f.commands.DeleteBtnClick();
  ASSERT_FALSE(QFileInfo::exists(f.a + "/n.txt"));
  const QString info = platform::fromNative(platform::homeTrash()) + "/info/n.txt.trashinfo";
  EXPECT_TRUE(QFileInfo::exists(info));
  EXPECT_EQ(f.commands.undoHistory().caption(), "&Undo Delete of \"n.txt\"");
  f.commands.UndoClick();
  EXPECT_EQ(testenv::readFile(f.a + "/n.txt"), "m");
  EXPECT_FALSE(QFileInfo::exists(info));

  // A new folder named at once is one step; it is only removed while empty.
  f.commands.NewFolder1MitmClick();
  ASSERT_TRUE(f.commands.renameAccepted(f.a + "/New Folder", "Photos"));
  EXPECT_EQ(f.commands.undoHistory().caption(), "&Undo New Folder of \"Photos\"");
  f.commands.UndoClick();
  EXPECT_FALSE(QFileInfo::exists(f.a + "/Photos"));
  f.commands.NewFolder1MitmClick();
  write(f.a + "/New Folder/kept.txt", "kept");
  f.commands.UndoClick();
  EXPECT_EQ(testenv::readFile(f.a + "/New Folder/kept.txt"), "kept");
  EXPECT_TRUE(f.asker.asked.last().contains("not empty")) << f.asker.asked.last().toStdString();
  EXPECT_EQ(f.commands.undoHistory().caption(), "&Undo");
}

// Transfers run one at a time in the order of the queue; waiting ones move, are dropped or held, and
// cancelling the running one (here paused before its first byte) lets the next one run.
TEST(TransferQueue, OneAtATimeInOrderAndACancelLetsTheNextRun) {
  const QString a = testenv::makeDir("qa"), b = testenv::makeDir("qb");
  QWidget parent;
  QStringList started;
  QPointer<TProgressDialog> firstDialog;
  TTransferQueue *queue = nullptr;
  TTransferQueue q([&](const TTransferQueue::Job &j) {
    auto *r = new platform::TTransferRunner(j.sources, j.target, j.mode, nullptr, &parent);
    if (started.isEmpty()) {
      r->setPaused(true);
      firstDialog = new TProgressDialog(r, &parent);
      firstDialog->setQueue(queue, j.id);
    }
    started << platform::fromNative(platform::fileNameOf(j.sources[0]));
    r->start();
    return r;
  });
  queue = &q;
  const auto item = [&](const char *name) {
    return platform::NativePaths{platform::toNative(write(a + "/" + name, name))};
  };
  const platform::NativePath to = platform::toNative(b);
  const int one = q.add(item("one"), to, platform::TransferMode::Copy);
  const int two = q.add(item("two"), to, platform::TransferMode::Copy);
  const int three = q.add(item("three"), to, platform::TransferMode::Copy);
  const int four = q.add(item("four"), to, platform::TransferMode::Copy, true);
  EXPECT_EQ(started, QStringList{"one"});
  EXPECT_EQ(q.waiting(), 3);
  q.move(three, -1);
  q.move(one, 1);  // the running one stays first
  q.cancel(two);
  QList<int> order;
  for (const TTransferQueue::Job &j : q.jobs()) order << j.id;
  EXPECT_EQ(order, (QList<int>{one, three, four}));
  ASSERT_TRUE(firstDialog);
  auto *shown = firstDialog->findChild<QListWidget *>("Queue");
  ASSERT_NE(shown, nullptr);
  ASSERT_EQ(shown->count(), 2);
  EXPECT_EQ(shown->item(1)->text(), "Copying \"four\" to \"" + b + "\" (held)");

  q.cancel(one);
  ASSERT_TRUE(testenv::waitFor([&] { return q.jobs().size() == 1; }));
  EXPECT_EQ(started, (QStringList{"one", "three"}));
  EXPECT_FALSE(QFileInfo::exists(b + "/one"));
  EXPECT_EQ(testenv::readFile(b + "/three"), "three");
  EXPECT_FALSE(QFileInfo::exists(b + "/two"));
  EXPECT_FALSE(QFileInfo::exists(b + "/four"));  // held until released
  q.setPaused(four, false);
  ASSERT_TRUE(testenv::waitFor([&] { return q.jobs().isEmpty(); }));
  EXPECT_EQ(testenv::readFile(b + "/four"), "four");
}

TEST(FileCommands, NewFolderRenameShortcutPropertiesAndRichText) {
  Fixture f;
  f.host.second = true;
  f.commands.NewFolder1MitmClick();  // the active pair's list
  f.commands.NewFolder2MitmClick();  // the first list's pop-up
  f.commands.Lpopup2NewFolderClick();
  EXPECT_TRUE(QFileInfo(f.b + "/New Folder").isDir());
  EXPECT_TRUE(QFileInfo(f.a + "/New Folder").isDir());
  EXPECT_TRUE(QFileInfo(f.b + "/New Folder (2)").isDir());
  EXPECT_EQ(f.host.calls,
            (QStringList{"refresh 1", "rename 1 " + f.b + "/New Folder", "refresh 0", "rename 0 " + f.a + "/New Folder",
                         "refresh 1", "rename 1 " + f.b + "/New Folder (2)"}));

  EXPECT_TRUE(f.commands.renameAccepted(f.b + "/New Folder", "Photos"));
  EXPECT_TRUE(QFileInfo(f.b + "/Photos").isDir());
  EXPECT_FALSE(f.commands.renameAccepted(f.b + "/New Folder (2)", "Photos"));
  EXPECT_TRUE(f.asker.asked.last().startsWith("inform: Cannot rename")) << f.asker.asked.last().toStdString();
  EXPECT_TRUE(QFileInfo(f.b + "/New Folder (2)").isDir());

  f.host.pairs[1].selection = {f.b + "/Photos"};
  f.commands.CreateShortcut1Click();
  EXPECT_EQ(QFileInfo(f.b + "/Link to Photos").symLinkTarget(), f.b + "/Photos");

  // Properties with nothing selected describe the list's folder.
  f.host.pairs[1].selection.clear();
  TPropertiesDialog *shown = nullptr;
  QObject::connect(&f.commands, &TFileCommands::propertiesShown, [&](TPropertiesDialog *d) { shown = d; });
  f.commands.ShowPropertiesClick();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->paths(), QStringList{f.b});
  shown->close();

  // A new rich text document opens at once, with nothing asked.
  const int asked = f.asker.asked.size();
  f.commands.RtfFile1Click();
  EXPECT_EQ(f.host.calls.last(), "rtf");
  EXPECT_EQ(f.asker.asked.size(), asked);
}

TEST(PropertiesDialog, ShowsFieldsCountsFoldersAndRenames) {
  const QString dir = testenv::makeDir("props");
  write(dir + "/folder/a.bin", QByteArray(1000, 'a'));
  write(dir + "/folder/sub/b.bin", QByteArray(24, 'b'));
  write(dir + "/note.txt", "hello");
  QFile::setPermissions(dir + "/note.txt", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

  TPropertiesDialog file({dir + "/note.txt"});
  EXPECT_EQ(file.field("location"), dir);
  EXPECT_EQ(file.field("size"), "5 bytes");
  EXPECT_TRUE(file.field("permissions").startsWith("rw-r----- (640)")) << file.field("permissions").toStdString();
  EXPECT_FALSE(file.field("modified").isEmpty());
  file.nameEdit()->setText("renamed.txt");
  QString error;
  ASSERT_TRUE(file.applyName(&error)) << error.toStdString();
  EXPECT_EQ(testenv::readFile(dir + "/renamed.txt"), "hello");
  EXPECT_EQ(file.paths(), QStringList{dir + "/renamed.txt"});

  TPropertiesDialog folder({dir + "/folder"});
  EXPECT_EQ(folder.field("type"), "Folder");
  ASSERT_TRUE(testenv::waitFor([&] { return folder.sizeCounted(); }));
  EXPECT_TRUE(folder.field("size").endsWith("(1,024 bytes), 2 files, 1 folder")) << folder.field("size").toStdString();
  folder.nameEdit()->setText("re/named");
  EXPECT_FALSE(folder.applyName(&error));
  EXPECT_TRUE(QFileInfo(dir + "/folder").isDir());

  TPropertiesDialog many({dir + "/folder", dir + "/renamed.txt"});
  EXPECT_EQ(many.field("items"), "2 items");
  ASSERT_TRUE(testenv::waitFor([&] { return many.sizeCounted(); }));
  EXPECT_TRUE(many.field("size").contains("2 folders")) << many.field("size").toStdString();
}

TEST(FindFiles, MasksTextSubfoldersStopAndReveal) {
  EXPECT_TRUE(nameMatchesMasks("Report.TXT", "*.txt;*.doc"));
  EXPECT_TRUE(nameMatchesMasks("a.doc", "*.txt, *.doc"));
  EXPECT_FALSE(nameMatchesMasks("a.docx", "*.txt;*.doc"));
  EXPECT_TRUE(nameMatchesMasks("my report 2.pdf", "report"));
  EXPECT_TRUE(nameMatchesMasks("anything", ""));

  const QString dir = testenv::makeDir("find");
  write(dir + "/top.txt", "nothing here");
  QByteArray big(600 * 1024, 'x');
  big.replace(256 * 1024 - 3, 6, "NeEdLe");  // across the search's chunk boundary
  write(dir + "/sub/big.txt", big);
  write(dir + "/sub/other.log", "needle");
  QFile::link(dir, dir + "/sub/loop");  // a link back up is not followed

  TFindFilesDialog dialog(dir);
  QStringList revealed;
  dialog.onReveal = [&](const QString &p) { revealed << p; };
  dialog.setCriteria({dir, "*.txt", "needle", true});
  dialog.findNow();
  ASSERT_TRUE(testenv::waitFor([&] { return !dialog.isSearching(); }, 20000));
  EXPECT_EQ(dialog.results(), QStringList{dir + "/sub/big.txt"});
  EXPECT_EQ(dialog.statusText(), "1 file(s) found");
  dialog.revealResult(0);
  EXPECT_EQ(revealed, QStringList{dir + "/sub/big.txt"});

  dialog.setCriteria({dir, "*", "", false});
  dialog.findNow();
  ASSERT_TRUE(testenv::waitFor([&] { return !dialog.isSearching(); }, 20000));
  EXPECT_EQ(dialog.results(), (QStringList{dir + "/sub", dir + "/top.txt"}));

  // Stop: a search over a large tree ends early and says so.
  for (int i = 0; i < 300; ++i) write(dir + QString("/many/d%1/f.txt").arg(i), "x");
  dialog.setCriteria({dir, "*", "never-present-text", true});
  dialog.findNow();
  dialog.stopSearch();
  ASSERT_TRUE(testenv::waitFor([&] { return !dialog.isSearching(); }, 20000));
  EXPECT_TRUE(dialog.statusText().startsWith("Stopped")) << dialog.statusText().toStdString();

  dialog.setCriteria({dir + "/missing", "*", "", true});
  dialog.findNow();
  EXPECT_TRUE(dialog.statusText().contains("does not exist"));
}

// Caps the size of files this process writes while it lives: a write past the cap fails (EFBIG) instead of
// raising SIGXFSZ.
class FileSizeCap {
 public:
  explicit FileSizeCap(qint64 bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit cap = old_;
    cap.rlim_cur = rlim_t(bytes);
    ::setrlimit(RLIMIT_FSIZE, &cap);
  }
  ~FileSizeCap() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = SIG_DFL;
};

TEST(TransferDialogs, ProgressDialogFollowsTheRunnerAndItsCancelButtonCancels) {
  const QString src = testenv::makeDir("psrc"), dst = testenv::makeDir("pdst");
  // A sparse file far too big to be copied before the click arrives: its holes take no disk, and the copy
  // has written a few chunks when the cancel stops it.
  const qint64 size = qint64(64) << 30;
  {
    QFile big(src + "/big.bin");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(size));
  }
  // Should the cancel be lost, the copy ends at this cap with an error rather than filling the disk.
  FileSizeCap cap(qint64(2) << 30);
  platform::TTransferRunner runner({platform::toNative(src + "/big.bin")}, platform::toNative(dst),
                                   platform::TransferMode::Copy, nullptr);
  runner.setProgressInterval(0);
  auto *dialog = new TProgressDialog(&runner);
  dialog->show();
  bool finished = false, sawFile = false, clicked = false;
  platform::TransferProgress atClick;
  QObject::connect(&runner, &platform::TTransferRunner::progressChanged, dialog,
                   [&](const platform::TransferProgress &p) {
                     if (p.fileDone == 0 || clicked) return;
                     sawFile = dialog->currentFileText().contains("\"big.bin\"");
                     atClick = p;
                     clicked = true;
                     dialog->findChild<QPushButton *>()->click();
                   });
  QObject::connect(&runner, &platform::TTransferRunner::finished, [&] { finished = true; });
  runner.start();
  ASSERT_TRUE(testenv::waitFor([&] { return finished; }, 60000));
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(sawFile);
  EXPECT_EQ(atClick.fileTotal, size);
  EXPECT_LT(atClick.fileDone, size);
  const platform::TransferResult &r = runner.result();
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.done, 0);
  EXPECT_TRUE(r.errors.isEmpty()) << r.errors.join('\n').toStdString();
  EXPECT_TRUE(r.created.isEmpty());
  // Nothing half-written at the target, not even under a hidden name.
  EXPECT_EQ(QDir(dst).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList());
  EXPECT_TRUE(testenv::waitFor([&] { return !dialog->isVisible(); }));
  delete dialog;
}

TEST(TransferDialogs, ConflictDialogReturnsTheChosenAnswer) {
  platform::ConflictQuestion q{
      "/a/x.txt", "/b/x.txt", false, false, 10, 20, QDateTime::currentDateTime(), QDateTime::currentDateTime()};
  TConflictDialog d(q);
  d.findChild<QCheckBox *>()->setChecked(true);
  d.findChild<QPushButton *>("keepboth")->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.reply().answer, platform::ConflictAnswer::KeepBoth);
  EXPECT_TRUE(d.reply().applyToAll);
  TConflictDialog d2(q);
  d2.findChild<QPushButton *>("overwrite")->click();
  EXPECT_EQ(d2.reply().answer, platform::ConflictAnswer::Overwrite);
  EXPECT_FALSE(d2.reply().applyToAll);
}

TEST(TransferDialogs, MessageBoxAskerMapsTheButtonsTheUserClicks) {
  TMessageBoxAsker asker;
  auto clickLater = [](const QString &text) {
    QTimer::singleShot(0, [text] {
      QWidget *modal = QApplication::activeModalWidget();
      ASSERT_NE(modal, nullptr);
      for (QAbstractButton *b : modal->findChildren<QAbstractButton *>())
        if (b->text().remove('&') == text) return b->click();
      ADD_FAILURE() << "no button " << text.toStdString();
      modal->close();
    });
  };
  const platform::ErrorQuestion err{"/x", "Cannot read \"/x\": access is denied.", 13};
  clickLater("Skip");
  EXPECT_EQ(asker.askError(err), platform::ErrorAnswer::Skip);
  clickLater("Retry");
  EXPECT_EQ(asker.askError(err), platform::ErrorAnswer::Retry);
  clickLater("Skip All");
  EXPECT_EQ(asker.askError(err), platform::ErrorAnswer::SkipAll);
  clickLater("Cancel");
  EXPECT_EQ(asker.askError(err), platform::ErrorAnswer::Cancel);
  clickLater("Yes");
  EXPECT_TRUE(asker.confirm("Confirm Delete", "Sure?"));
  clickLater("No");
  EXPECT_FALSE(asker.confirm("Confirm Delete", "Sure?"));
  clickLater("Yes to All");
  EXPECT_EQ(asker.confirmPermanentDelete("Delete?"), TFileAsker::PermanentDelete::YesToAll);
  platform::ConflictQuestion q{
      "/a/x", "/b/x", false, false, 1, 2, QDateTime::currentDateTime(), QDateTime::currentDateTime()};
  clickLater("Keep Both");
  EXPECT_EQ(asker.askConflict(q).answer, platform::ConflictAnswer::KeepBoth);
}
