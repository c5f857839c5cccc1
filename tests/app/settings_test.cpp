#include <gtest/gtest.h>
#include <QAction>
#include <QFile>
#include <QProcess>
#include <QSplitter>
#include <QTest>
#include <csignal>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

using platform::RegRoot;
using platform::RegStore;

namespace {
const QString kKey = "Software\\Tarnwick2\\Settings";
const QString kAdvanced = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";

QString storeFile() { return platform::userFile("registry.ini"); }
std::optional<qint32> readInt(const QString &name) { return RegStore().readInteger(RegRoot::CurrentUser, kKey, name); }
// Every case starts from a clean settings store and per-user folder, whatever ran before it.
class Settings : public apptest::AppTest {};
}  // namespace

TEST_F(Settings, FirstStartWritesEveryFirstRunValue) {
  TTarn w;
  EXPECT_EQ(readInt("FirstTime"), 1);
  EXPECT_EQ(readInt("TagSet"), 3);
  EXPECT_EQ(RegStore().readString(RegRoot::CurrentUser, kKey, "StartDir"), QString("/"));
  EXPECT_EQ(readInt("FileCol1"), 140);
  EXPECT_EQ(readInt("FileCol4"), 90);
  EXPECT_EQ(readInt("ZipCol5"), 40);
  EXPECT_EQ(readInt("SPosition"), 120);
  EXPECT_EQ(readInt("EditorTabSize"), 6);
  EXPECT_GT(readInt("FormHt").value_or(0), 0);
  for (const char *b : {"RunExe", "StartMax", "SaveSet", "WordWrapOpt", "ViewWord97"}) EXPECT_EQ(readInt(b), 1) << b;
  for (const char *b : {"DualFile", "HighExe", "ViewWord95", "StartAuto", "CorrectDiskSpaceFree", "ImageInWindow", "EditMp3Tags"})
    EXPECT_EQ(readInt(b), 0) << b;
  EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
  EXPECT_EQ(w.state.CurrentViewStyle, 3);
  EXPECT_EQ(w.state.StartFolder, "/");
  EXPECT_TRUE(w.item("WordWrap")->isChecked());
  EXPECT_TRUE(w.Word971->isChecked());
  EXPECT_EQ(w.EditorTab->TabSize(), 6);
}

TEST_F(Settings, OptionsSurviveASaveAndReopen) {
  {
    TTarn w;
    w.Word951->trigger();
    w.item("Highlightexecutables1")->trigger();
    w.ViewBtnClick(2);
    w.item("Cbox2")->trigger();  // not maximized any more
    w.close();
  }
  TTarn w;
  EXPECT_TRUE(w.Word951->isChecked());
  EXPECT_FALSE(w.Word971->isChecked());
  EXPECT_TRUE(w.state.HighlightExecutables);
  EXPECT_EQ(w.state.CurrentViewStyle, 2);
  EXPECT_FALSE(w.windowState() & Qt::WindowMaximized);
}

TEST_F(Settings, SaveOnExitOffWritesAtOnceAndSaveNowStillSaves) {
  {
    TTarn w;
    w.item("Cbox3")->trigger();
    EXPECT_EQ(readInt("SaveSet"), 0);
    w.item("Highlightexecutables1")->trigger();
    w.close();  // nothing saved
  }
  EXPECT_EQ(readInt("HighExe"), 0);
  {
    TTarn w;
    EXPECT_FALSE(w.item("Cbox3")->isChecked());
    w.item("Highlightexecutables1")->trigger();
    w.item("SaveNow1")->trigger();
  }
  EXPECT_EQ(readInt("HighExe"), 1);
}

TEST_F(Settings, DeletedValuesFallBackAndDeletedFirstTimeRewritesDefaults) {
  { TTarn w; }
  RegStore r;
  ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "EditorTabSize", 9));
  ASSERT_TRUE(r.deleteValue(RegRoot::CurrentUser, kKey, "FormHt"));
  {
    TTarn w;
    EXPECT_EQ(w.EditorTab->TabSize(), 9);
    EXPECT_FALSE(readInt("FormHt").has_value());  // read as 0, not rewritten by the start
  }
  ASSERT_TRUE(r.deleteValue(RegRoot::CurrentUser, kKey, "FirstTime"));
  TTarn w;
  EXPECT_EQ(readInt("EditorTabSize"), 6);
  EXPECT_EQ(readInt("FirstTime"), 1);
}

TEST_F(Settings, HideFileExtIsTurnedOffAndAttributesColumnFollowsItsOption) {
  RegStore r;
  ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kAdvanced, "HideFileExt", 1));
  TTarn w;
  EXPECT_EQ(r.readInteger(RegRoot::CurrentUser, kAdvanced, "HideFileExt"), 0);
  EXPECT_FALSE(w.PTShellList1->model()->hideExtensions());
  EXPECT_EQ(w.PTShellList1->columnCount(), 4);
  w.item("FileAtt")->trigger();
  EXPECT_EQ(r.readInteger(RegRoot::CurrentUser, kAdvanced, "ShowAttribCol"), 1);
  EXPECT_EQ(w.PTShellList1->columnCount(), 5);
  EXPECT_EQ(w.PTShellList1->columnCaption(4), "Attributes");
}

TEST_F(Settings, GarbageStoreStartsWithDefaults) {
  testenv::writeFile(storeFile(), QByteArray("\xff\xfe[Settings\n===\n\x01\x02", 17));
  TTarn w;
  EXPECT_EQ(w.state.StartFolder, "/");
  EXPECT_EQ(readInt("FirstTime"), 1);
}

// The real program, started twice in the same home.
TEST_F(Settings, RestartOfTheRealProgramKeepsWhatTheFirstRunSaved) {
  const QString exe = testenv::binDir() + "/tarnwick";
  // The mask list file is written at the end of the window's set-up, after the settings were read.
  const QString setUpDone = platform::userFile("tarnwick.ext");
  auto runOnce = [&](const std::function<void()> &whileRunning) {
    QFile::remove(setUpDone);
    QProcess p;
    p.setProgram(exe);
    p.start();
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(setUpDone) && readInt("FirstTime") == 1; }, 20000));
    whileRunning();
    ::kill(p.processId(), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  };
  RegStore r;
  runOnce([] {});
  EXPECT_EQ(readInt("TagSet"), 3);
  ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "ViewWord95", 1));
  ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "ViewWord97", 0));
  ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "TagSet", 1));
  runOnce([&] {
    // Changed behind the running program: its save at exit writes back what it read at start.
    ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "ViewWord95", 0));
    ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "ViewWord97", 1));
    ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, kKey, "TagSet", 2));
  });
  EXPECT_EQ(readInt("ViewWord95"), 1);
  EXPECT_EQ(readInt("ViewWord97"), 0);
  EXPECT_EQ(readInt("TagSet"), 1);
}
