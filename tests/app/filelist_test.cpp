// The main window's first file list driven from the keyboard and the mouse as a user drives it: in-place
// rename from start to end, what a refilled list leaves picked for the tools, the Modified column's width
// and the drive box's hint.
#include <gtest/gtest.h>
#include <atomic>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include "app/tarn.h"
#include "controls/archivefolders.h"
#include "browser/filecommands.h"
#include <QProcess>
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "windows/hex/hexbuffer.h"
#include "windows/hex/hexeditor.h"
#include "windows/hex/hexform.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"

namespace {

// Answers every message box the program shows (with its first button) and keeps the texts.
class BoxAnswerer {
 public:
  QStringList texts;

 private:
  testenv::ModalWatcher watch_{[this](QWidget *m) {
    auto *box = qobject_cast<QMessageBox *>(m);
    if (!box || box->buttons().isEmpty()) return;
    texts << box->text();
    box->buttons().first()->click();
  }};
};

// The main window on a folder, shown, active, with its list filled.
struct Window {
  explicit Window(const QString &folder) : dir(folder), w(QStringList{folder}) {
    w.show();
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_TRUE(waitFilled());
  }
  bool waitFilled() {
    return testenv::waitFor(
        [&] { return w.PTShellList1->FolderPath() == dir && !w.PTShellList1->model()->isLoading(); });
  }
  QAbstractItemView *view() const { return w.PTShellList1->currentView(); }
  int row(const QString &name) const { return w.PTShellList1->model()->rowOfName(name); }
  // Gives the list the focus with this item picked, as a click on it would.
  void pick(const QString &name) {
    view()->setFocus();
    ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == view(); }));
    ASSERT_GE(row(name), 0) << name.toStdString();
    // A click on an item that is already selected starts a rename by itself: pick from a clear selection.
    view()->clearSelection();
    const QRect r = view()->visualRect(w.PTShellList1->model()->index(row(name), 0));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_EQ(w.PTShellList1->Selected(), row(name));
  }
  // A key as the user presses it: to whatever has the focus, window shortcuts included.
  static void press(int key) {
    QWidget *focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "nothing has the focus for key " << key;
    QTest::keyClick(focus, Qt::Key(key));
  }
  static QLineEdit *nameEditor() { return qobject_cast<QLineEdit *>(QApplication::focusWidget()); }

  QString dir;
  TTarn w;
};

// Whether the script has been started: a run leaves its marker, and until then its shell is a process whose
// command line names the script. The program starts a program only once it is running, so this needs no wait.
bool scriptStarted(const QStringList &scripts, const QString &marker) {
  if (QFile::exists(marker)) return true;
  for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (!pid.front().isDigit()) continue;
    QFile f("/proc/" + pid + "/cmdline");
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QByteArray cmd = f.readAll();
    for (const QString &s : scripts)
      if (cmd.contains(QFile::encodeName(s))) return true;
  }
  return false;
}

}  // namespace

// F2 starts the rename of the picked item; Enter commits, Escape cancels, a refused name reverts and is
// reported; and the Enter that ends the edit never opens or runs the item.
TEST(FileListRename, InPlaceRenameFromTheKeyboard) {
  apptest::cleanUserState();
  const QString dir = testenv::makeDir("rename");
  const QString marker = dir + "/../" + QFileInfo(dir).fileName() + "-ran";
  const QString script = testenv::writeFile(dir + "/run.sh", "#!/bin/sh\ntouch '" + QFile::encodeName(marker) + "'\n");
  QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
  testenv::writeFile(dir + "/other.txt", "other");
  const QString renamed = dir + "/renamed script.sh";

  Window win(dir);
  TTarn &w = win.w;
  BoxAnswerer boxes;
  // Refills would drop the picked item between the steps; this test is about the edit, not the refresh.
  w.item("DynamicRefresh1")->trigger();
  ASSERT_FALSE(w.checked("DynamicRefresh1"));

  // Enter with the name unchanged only ends the edit: the script does not run.
  win.pick("run.sh");
  win.press(Qt::Key_F2);
  ASSERT_TRUE(testenv::waitFor([] { return Window::nameEditor() != nullptr; }));
  EXPECT_EQ(Window::nameEditor()->text(), "run.sh");
  win.press(Qt::Key_Return);
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == win.view(); }));
  EXPECT_FALSE(scriptStarted({script, renamed}, marker));
  EXPECT_TRUE(QFile::exists(script));
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('\n').toStdString();

  // Escape cancels what was typed.
  win.pick("run.sh");
  win.press(Qt::Key_F2);
  ASSERT_TRUE(testenv::waitFor([] { return Window::nameEditor() != nullptr; }));
  QTest::keyClicks(Window::nameEditor(), "nothing.sh");
  win.press(Qt::Key_Escape);
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == win.view(); }));
  EXPECT_TRUE(QFile::exists(script));
  EXPECT_FALSE(QFile::exists(dir + "/nothing.sh"));
  EXPECT_GE(win.row("run.sh"), 0);

  // Refused names: the list keeps the old name, the file is untouched, the user is told why.
  const struct {
    const char *typed;
    const char *reason;
  } refused[] = {{"a/b.sh", "cannot contain"}, {"other.txt", "already exists"}};
  for (const auto &r : refused) {
    SCOPED_TRACE(r.typed);
    boxes.texts.clear();
    win.pick("run.sh");
    win.press(Qt::Key_F2);
    ASSERT_TRUE(testenv::waitFor([] { return Window::nameEditor() != nullptr; }));
    QTest::keyClicks(Window::nameEditor(), r.typed);
    win.press(Qt::Key_Return);
    ASSERT_TRUE(testenv::waitFor([&] { return !boxes.texts.isEmpty() && !w.PTShellList1->isEditingName(); }));
    // Back in the window (which the window system activates again when the box closes), the list has the
    // focus, not some other control.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), win.view());
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts.first().contains(r.reason)) << boxes.texts.first().toStdString();
    EXPECT_GE(win.row("run.sh"), 0);
    EXPECT_EQ(w.PTShellList1->model()->data(w.PTShellList1->model()->index(win.row("run.sh"), 0), Qt::DisplayRole),
              "run.sh");
    EXPECT_TRUE(QFile::exists(script));
    EXPECT_EQ(testenv::readFile(dir + "/other.txt"), "other");
  }
  EXPECT_FALSE(scriptStarted({script, renamed}, marker));

  // A new name (typed with a blank, which is part of the name and no viewer key) is committed and nothing
  // is opened, neither under the old name nor the new one.
  boxes.texts.clear();
  win.pick("run.sh");
  const QString title = w.windowTitle();
  w.lastViewerAction.clear();
  win.press(Qt::Key_F2);
  ASSERT_TRUE(testenv::waitFor([] { return Window::nameEditor() != nullptr; }));
  QTest::keyClicks(Window::nameEditor(), "renamed script.sh");
  win.press(Qt::Key_Return);
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == win.view(); }));
  EXPECT_TRUE(QFile::exists(renamed));
  EXPECT_FALSE(QFile::exists(script));
  EXPECT_GE(win.row("renamed script.sh"), 0);
  EXPECT_EQ(win.row("run.sh"), -1);
  EXPECT_FALSE(scriptStarted({script, renamed}, marker));
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('\n').toStdString();
  EXPECT_EQ(w.lastViewerAction, "");
  EXPECT_EQ(w.windowTitle(), title);

  // Outside an edit, Enter on the picked script does run it (and the check above can see a run).
  win.pick("renamed script.sh");
  win.press(Qt::Key_Return);
  EXPECT_TRUE(testenv::waitFor([&] { return QFile::exists(marker); }, 10000));
}

// After a refill (F5, a dynamic refresh) the list has no picked item, so the tools get no file from it
// until the next click; the title may keep naming the file.
TEST(FileListRefill, ToolsGetNoFileFromARefilledList) {
  apptest::cleanUserState();
  const QString dir = testenv::makeDir("refill");
  const QString data = testenv::writeFile(dir + "/data.bin", QByteArray("\x01\x02\x03", 3));
  testenv::writeFile(dir + "/readme", "text");
  Window win(dir);
  TTarn &w = win.w;
  auto openHex = [&]() -> THexForm * {
    w.item("HexEditor1")->trigger();
    THexForm *hex = THexForm::instance();
    if (!hex) return nullptr;
    hex->activateWindow();
    if (!testenv::waitFor([&] { return QApplication::activeWindow() == hex; })) return nullptr;
    return hex;
  };
  auto closeHex = [&](THexForm *hex) {
    hex->close();
    EXPECT_TRUE(testenv::waitFor([&] { return w.item("HexEditor1")->isEnabled(); }));
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
  };

  // F5.
  win.pick("data.bin");
  EXPECT_EQ(w.state.CurrentFile, data);
  const QString title = w.windowTitle();
  win.press(Qt::Key_F5);
  ASSERT_TRUE(w.PTShellList1->model()->isLoading());
  ASSERT_TRUE(win.waitFilled());
  EXPECT_EQ(w.PTShellList1->Selected(), -1);
  EXPECT_EQ(w.state.CurrentFile, "");
  EXPECT_EQ(w.windowTitle(), title);
  THexForm *hex = openHex();
  ASSERT_NE(hex, nullptr);
  EXPECT_NE(hex->editor()->buffer()->FileName(), data);
  closeHex(hex);

  // A dynamic refresh after another program wrote into the folder.
  win.pick("data.bin");
  EXPECT_EQ(w.state.CurrentFile, data);
  testenv::writeFile(dir + "/new.txt", "new");
  ASSERT_TRUE(testenv::waitFor([&] { return win.row("new.txt") >= 0; }));
  EXPECT_EQ(w.PTShellList1->Selected(), -1);
  EXPECT_EQ(w.state.CurrentFile, "");

  // The next click picks again, and the tool gets that file.
  win.pick("data.bin");
  hex = openHex();
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex->editor()->buffer()->FileName(), data);
  closeHex(hex);

  // Another folder is a refill too.
  win.pick("data.bin");
  w.UpOneLevelBtn->click();
  ASSERT_TRUE(testenv::waitFor(
      [&] { return w.PTShellList1->FolderPath() == QFileInfo(dir).path() && !w.PTShellList1->model()->isLoading(); }));
  EXPECT_EQ(w.state.CurrentFile, "");
}

// The Modified column shows its dates whole in the list's font (here larger than the first-run widths were
// made for) unless a width of the user's own is stored; the drive box's hint reaches the status line like
// the other controls' hints.
TEST(FileListLook, ModifiedColumnFitsItsDatesAndTheDriveBoxHasAHint) {
  apptest::cleanUserState();
  struct FontGuard {
    QFont old = QApplication::font();
    ~FontGuard() { QApplication::setFont(old); }
  } fontGuard;
  QFont big = fontGuard.old;
  big.setPointSizeF(fontGuard.old.pointSizeF() * 1.6);
  QApplication::setFont(big);
  const QString dir = testenv::makeDir("look");
  testenv::writeFile(dir + "/notes.txt", "n");
  {
    Window win(dir);
    ASSERT_GE(win.row("notes.txt"), 0);
    const int needed = win.view()->sizeHintForColumn(3);
    ASSERT_GT(needed, 0);
    EXPECT_GE(win.w.PTShellList1->columnWidth(3), needed);

    QTest::mouseMove(win.w.PTShellCombo1);
    EXPECT_TRUE(testenv::waitFor([&] { return win.w.StatusBar1Panel->text() == "Change to another drive"; }))
        << win.w.StatusBar1Panel->text().toStdString();
  }
  platform::RegStore().writeInteger(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FileCol4", 61);
  Window again(dir);
  EXPECT_EQ(again.w.PTShellList1->columnWidth(3), 61);
}

// An archive in the list is a read-only folder: Enter goes in (a zip stays with its own verb), folders inside
// go in, Backspace comes out to the archive's own folder; a click shows a member's private copy; copying a
// member out writes its bytes; every write into the archive is refused with a message.
TEST(FileListArchives, BrowseViewCopyOutAndRefuseWrites) {
  apptest::cleanUserState();
  const QString dir = testenv::makeDir("archives");
  const QString src = testenv::makeDir("archive-src");
  testenv::writeFile(src + "/inner/deep/note of mine.txt", "hello from inside\n");
  testenv::writeFile(src + "/top.txt", "top");
  QProcess::execute("bsdtar", {"-czf", dir + "/sample.tar.gz", "-C", src, "inner", "top.txt"});
  QProcess::execute("bsdtar", {"--format", "zip", "-cf", dir + "/plain.zip", "-C", src, "top.txt"});
  ASSERT_TRUE(QFileInfo::exists(dir + "/sample.tar.gz") && QFileInfo::exists(dir + "/plain.zip"));
  const QString out = testenv::makeDir("copied-out");

  Window win(dir);
  TTarn &w = win.w;
  BoxAnswerer boxes;
  TPTShellList *list = w.PTShellList1;
  const auto enter = [&](const QString &name, const QString &expected) {
    win.pick(name);
    win.press(Qt::Key_Return);
    ASSERT_TRUE(testenv::waitFor([&] { return list->FolderPath() == expected && !list->model()->isLoading(); }))
        << list->FolderPath().toStdString();
  };
  enter("sample.tar.gz", dir + "/sample.tar.gz");
  EXPECT_TRUE(w.windowTitle().contains("sample.tar.gz")) << w.windowTitle().toStdString();
  EXPECT_GE(win.row("top.txt"), 0);
  enter("inner", dir + "/sample.tar.gz/inner");
  enter("deep", dir + "/sample.tar.gz/inner/deep");
  EXPECT_TRUE(w.windowTitle().contains("sample.tar.gz/inner/deep")) << w.windowTitle().toStdString();

  win.pick("note of mine.txt");
  ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(w.state.CurrentFile).isFile(); }));
  EXPECT_FALSE(w.state.CurrentFile.startsWith(dir));
  EXPECT_EQ(testenv::readFile(w.state.CurrentFile), "hello from inside\n");
  // A view copy cancelled (a big member's progress window) says nothing and leaves no folder behind.
  const QDir copies(QFileInfo(QFileInfo(w.state.CurrentFile).path()).path());
  const int copiesBefore = int(copies.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
  const std::atomic<bool> cancelled{true};
  QString error = "untouched";
  EXPECT_TRUE(TArchiveFolders::shared()
                  .extractForViewing(dir + "/sample.tar.gz/inner/deep/note of mine.txt", &error, {}, &cancelled)
                  .isEmpty());
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  EXPECT_EQ(int(copies.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()), copiesBefore);

  // Writes into the archive: delete, rename, new folder, paste.
  w.fileCommands->DeleteBtnClick();
  w.fileCommands->Rename1Click();
  w.fileCommands->NewFolder1MitmClick();
  w.fileCommands->startTransfer({QFile::encodeName(src + "/top.txt")}, list->FolderPath(), false);
  ASSERT_EQ(boxes.texts.size(), 4) << boxes.texts.join(" | ").toStdString();
  for (const QString &t : boxes.texts) EXPECT_TRUE(t.contains("read-only")) << t.toStdString();
  EXPECT_EQ(list->itemCount(), 1);
  boxes.texts.clear();

  // Copying out, as a paste or a drop to the other list does.
  w.fileCommands->startTransfer({QFile::encodeName(list->itemPath(win.row("note of mine.txt")))}, out, false);
  ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo::exists(out + "/note of mine.txt"); }, 10000));
  EXPECT_EQ(testenv::readFile(out + "/note of mine.txt"), "hello from inside\n");
  EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);

  // The archive file itself is a plain file: it copies as one.
  w.fileCommands->startTransfer({QFile::encodeName(dir + "/sample.tar.gz")}, out, false);
  ASSERT_TRUE(testenv::waitFor(
      [&] { return QFileInfo(out + "/sample.tar.gz").size() == QFileInfo(dir + "/sample.tar.gz").size(); }, 10000));
  EXPECT_EQ(testenv::readFile(out + "/sample.tar.gz"), testenv::readFile(dir + "/sample.tar.gz"));

  // Out again, one folder a key, to the archive's own folder.
  for (const QString &up : {dir + "/sample.tar.gz/inner", dir + "/sample.tar.gz", dir}) {
    w.activateWindow();
    win.view()->setFocus();
    ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == win.view(); }));
    win.press(Qt::Key_Backspace);
    ASSERT_TRUE(testenv::waitFor([&] { return list->FolderPath() == up && !list->model()->isLoading(); }))
        << list->FolderPath().toStdString();
  }
  // A zip keeps the desktop's open verb (here off) and its tab: Enter does not go into it.
  if (w.checked("Cbox1")) w.item("Cbox1")->trigger();
  win.pick("plain.zip");
  win.press(Qt::Key_Return);
  EXPECT_EQ(list->FolderPath(), dir);
  // Back in a real folder the archive file is the user's to rename.
  EXPECT_TRUE(w.fileCommands->renameAccepted(dir + "/sample.tar.gz", "renamed.tar.gz"));
  EXPECT_TRUE(QFileInfo::exists(dir + "/renamed.tar.gz"));
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
}
