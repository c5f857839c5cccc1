// The command line and the hand-over of a later start: `tarnwick FOLDER`, `tarnwick FILE`, --new-window, and
// the folder or file a later start hands to the running copy (through a real second process).
#include <gtest/gtest.h>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTabWidget>
#include <QUrl>
#include "app/commandline.h"
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "platform/instancechannel.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"

namespace {

class CommandLine : public apptest::AppTest {};

bool listShows(TTarn &w, const QString &folder) {
  return testenv::waitFor(
      [&] { return w.PTShellList1->FolderPath() == folder && !w.PTShellList1->model()->isLoading(); });
}

QString selectedName(TTarn &w) {
  const int row = w.PTShellList1->Selected();
  return row < 0 ? QString() : w.PTShellList1->ItemFileName(row);
}

}  // namespace

TEST_F(CommandLine, OptionsPathsAndUrlsAreTold) {
  const QString dir = testenv::makeDir("cl");
  testenv::writeFile(dir + "/my notes.txt", "x");
  const commandline::Arguments a =
      commandline::parse({"--new-window", QUrl::fromLocalFile(dir + "/my notes.txt").toString()});
  EXPECT_TRUE(a.newWindow);
  EXPECT_EQ(a.paths, QStringList{dir + "/my notes.txt"});
  EXPECT_FALSE(commandline::parse({dir}).newWindow);
  // Joined with blanks first, else the first alone; relative to the working folder; cleaned.
  EXPECT_EQ(commandline::target({dir + "/my", "notes.txt"}), dir + "/my notes.txt");
  EXPECT_EQ(commandline::target({dir + "/./", dir + "/my notes.txt"}), dir);
  EXPECT_EQ(commandline::target({dir + "/nothing", "here"}), QString());
  EXPECT_EQ(commandline::target({}), QString());
  const QString cwd = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir));
  EXPECT_EQ(commandline::target({"my notes.txt"}), dir + "/my notes.txt");
  QDir::setCurrent(cwd);
}

// A file named at start-up opens in the text editor, its name in blanks arriving in pieces, and the list
// stays in the folder the program starts in.
TEST_F(CommandLine, FileArgumentOpensInTheEditorAndTheStartFolderStays) {
  const QString dir = testenv::makeDir("pics");
  testenv::writeFile(dir + "/b notes.txt", "the notes");
  TTarn w({dir + "/b", "notes.txt"});
  w.show();
  w.FormShow();
  EXPECT_EQ(w.Pc1->currentWidget(), w.EditorCmd);
  EXPECT_EQ(w.LEdit1->FileName(), dir + "/b notes.txt");
  EXPECT_EQ(w.LEdit1->text(), "the notes");
  EXPECT_TRUE(listShows(w, w.state.StartFolder));
  EXPECT_NE(w.PTShellList1->FolderPath(), dir);
}

// A later start (a process of its own) hands its folder, then a file, to the running window, which opens
// them; with the viewers disabled the handed file is shown all the same.
TEST_F(CommandLine, LaterStartHandsItsFolderAndFileToTheRunningWindow) {
  const QString first = testenv::makeDir("first");
  const QString second = testenv::makeDir("second folder");
  testenv::writeFile(second + "/notes.txt", "handed over");
  TTarn w({first});
  w.show();
  ASSERT_TRUE(listShows(w, first));
  w.FormShow();
  platform::InstanceServer server("tarnwick-handover");
  QObject::connect(&server, &platform::InstanceServer::received, &w, &TTarn::openFromAnotherStart);
  int handed = 0;  // counted after the window's handler ran
  QObject::connect(&server, &platform::InstanceServer::received, &w, [&handed] { ++handed; });
  ASSERT_TRUE(server.listen());
  const auto later = [](const QStringList &args) {
    QProcess p;
    p.start(testenv::binDir() + "/instance_probe", QStringList{"tarnwick-handover"} + args);
    const bool ended = testenv::waitFor([&] { return p.state() == QProcess::NotRunning; }, 15000);
    return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  };
  ASSERT_EQ(later({second}), 0);
  ASSERT_TRUE(listShows(w, second));
  EXPECT_TRUE(testenv::waitFor([&] { return w.PTShellTree1->SelectedPath() == second; }));

  w.item("Cbox4")->setChecked(true);  // Disable Viewers
  ASSERT_EQ(later({second + "/notes.txt"}), 0);
  EXPECT_TRUE(testenv::waitFor([&] { return w.LEdit1->text() == "handed over"; })) << w.LEdit1->text().toStdString();
  EXPECT_EQ(w.Pc1->currentWidget(), w.EditorCmd);
  EXPECT_TRUE(testenv::waitFor([&] { return selectedName(w) == "notes.txt"; }));
  // Something that is neither a folder nor a file changes nothing.
  ASSERT_EQ(later({"/no/such/thing"}), 0);
  ASSERT_TRUE(testenv::waitFor([&] { return handed == 3; }));
  EXPECT_EQ(w.PTShellList1->FolderPath(), second);
  EXPECT_EQ(w.state.CurrentFile, second + "/notes.txt");
}
