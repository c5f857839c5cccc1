#include <gtest/gtest.h>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QEnterEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include "controls/tledit.h"
#include "viewers/editortab.h"
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include "app/justoneask.h"
#include "app/tarn.h"
#include "windows/hex/hexform.h"
#include "controls/richedit.h"
#include "windows/rich/richform.h"
#include <QMessageBox>
#include <QPushButton>
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "browser/rundialog.h"
#include <QComboBox>
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"

namespace {

// A folder with a few files of known types.
QString makeSampleFolder() {
  const QString dir = testenv::makeDir("sample");
  testenv::writeFile(dir + "/readme", "plain text\n");
  testenv::writeFile(dir + "/photo.JPG", "not really a jpeg");
  testenv::writeFile(dir + "/SETUP.EXE", "MZ");
  testenv::writeFile(dir + "/archive.zip", "PK");
  testenv::writeFile(dir + "/.hidden", "h");
  QDir().mkpath(dir + "/sub folder");
  return dir;
}

bool waitFilled(TTarn &w, const QString &folder) {
  return testenv::waitFor([&] { return w.PTShellList1->FolderPath() == folder && !w.PTShellList1->model()->isLoading(); });
}

// Every case starts from a clean settings store and per-user folder, whatever ran before it.
class MainWindow : public apptest::AppTest {};

int rowOf(TTarn &w, const QString &name) { return w.PTShellList1->model()->rowOfName(name); }

void clickItem(TTarn &w, const QString &name) {
  w.PTShellList1->selectName(name);
  w.PTShellList1Click();
}

}  // namespace

TEST_F(MainWindow, StartsInTheFolderArgumentWithTitleCountAndMenus) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  EXPECT_EQ(w.windowTitle(), "Tarnwick - " + dir);
  EXPECT_EQ(w.state.CurrentFolder, dir);
  EXPECT_EQ(QDir::currentPath(), dir);
  EXPECT_EQ(w.StatusBar2Panels[0]->text(), "6 Object(s)");
  EXPECT_EQ(w.Pc1->count(), 6);
  EXPECT_EQ(w.Pc1->tabText(0), "Editor");
  EXPECT_EQ(w.Pc1->tabText(5), "Office97");
  EXPECT_EQ(w.item("Copy1")->text(), "&Copy\tCtrl+C");
  EXPECT_EQ(w.item("Cbox4")->shortcut(), QKeySequence("F8"));
  EXPECT_TRUE(w.item("WordWrap")->isChecked());
  EXPECT_TRUE(w.item("ShowHiddenFiles1")->isChecked());
  EXPECT_FALSE(w.item("ViewHtml")->isEnabled());
  EXPECT_EQ(w.item("Details2Mitm")->statusTip(), "Displays information about each item in the window.");
  EXPECT_EQ(w.PTShellTree1->SelectedPath(), dir);
}

TEST_F(MainWindow, ClickPicksCurrentFileAndViewerByExtension) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  clickItem(w, "readme");
  EXPECT_EQ(w.state.CurrentFile, dir + "/readme");
  EXPECT_EQ(w.state.CurrentExt, "");
  EXPECT_EQ(w.lastViewerAction, "Editor");
  EXPECT_EQ(w.LEdit1->text(), "plain text\n");
  EXPECT_TRUE(w.windowTitle().startsWith("Tarnwick - " + dir + "/readme, 1 KB, "));

  clickItem(w, "photo.JPG");
  EXPECT_EQ(w.state.CurrentExt, ".jpg");
  EXPECT_EQ(w.lastViewerAction, "ShowImages");

  // Disabled viewers: a click shows nothing, Space shows once, the next click nothing again.
  w.item("Cbox4")->trigger();
  w.lastViewerAction.clear();
  clickItem(w, "readme");
  EXPECT_EQ(w.lastViewerAction, "");
  w.state.SpaceViewRequest = true;
  clickItem(w, "readme");
  EXPECT_EQ(w.lastViewerAction, "Editor");
  w.lastViewerAction.clear();
  clickItem(w, "readme");
  EXPECT_EQ(w.lastViewerAction, "");

  // A folder item sets the current file to its path and shows nothing.
  w.item("Cbox4")->trigger();
  w.lastViewerAction.clear();
  clickItem(w, "sub folder");
  EXPECT_EQ(w.state.CurrentFile, dir + "/sub folder");
  EXPECT_EQ(w.windowTitle(), "Tarnwick - " + dir + "/sub folder");
  EXPECT_EQ(w.lastViewerAction, "");
}

TEST_F(MainWindow, DropDispatchesOnlyTheFirstFile) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.filesDropped({dir + "/photo.JPG", dir + "/readme"});
  EXPECT_EQ(w.state.CurrentFile, dir + "/photo.JPG");
  EXPECT_EQ(w.lastViewerAction, "ShowImages");
}

TEST_F(MainWindow, ViewStylesHiddenFilesFoldersAndOptionsValues) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.ViewBtnClick(0);
  EXPECT_EQ(w.PTShellList1->ViewStyle(), 0);
  EXPECT_TRUE(w.LargeIconsBtn->isChecked());
  EXPECT_FALSE(w.DetailsBtn->isChecked());
  EXPECT_TRUE(w.item("LargeIcons2Mitm")->isChecked());
  EXPECT_TRUE(w.item("LargeIconsMitm")->isChecked());
  EXPECT_FALSE(w.item("Details2Mitm")->isChecked());
  EXPECT_EQ(w.state.CurrentViewStyle, 0);
  w.ViewBtnClick(3);

  EXPECT_EQ(w.PTShellList1->Options(), 7835);
  w.item("ShowHiddenFiles1")->trigger();
  EXPECT_EQ(w.PTShellList1->Options(), 3739);
  EXPECT_EQ(rowOf(w, ".hidden"), -1);
  w.item("DynamicRefresh1")->trigger();
  EXPECT_EQ(w.PTShellList1->Options(), 3611);
  w.item("ShowHiddenFiles1")->trigger();
  EXPECT_EQ(w.PTShellList1->Options(), 7707);
  EXPECT_GE(rowOf(w, ".hidden"), 0);

  w.HideFolders1Click();
  EXPECT_EQ(w.HideFolders1->text(), "&Show Folders");
  ASSERT_TRUE(testenv::waitFor([&] { return !w.PTShellList1->model()->isLoading(); }));
  EXPECT_EQ(rowOf(w, "sub folder"), -1);
  w.HideFolders1Click();
  EXPECT_EQ(w.HideFolders1->text(), "&Hide Folders");
  ASSERT_TRUE(testenv::waitFor([&] { return !w.PTShellList1->model()->isLoading() && rowOf(w, "sub folder") >= 0; }));
}

TEST_F(MainWindow, MaskComboFiltersAndDynamicRefreshSeesNewFiles) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.Edit2->setCurrentText("*.zip");
  w.Edit2Click();
  EXPECT_GE(rowOf(w, "archive.zip"), 0);
  EXPECT_EQ(rowOf(w, "readme"), -1);
  EXPECT_GE(rowOf(w, "sub folder"), 0);  // folders stay reachable under a mask
  w.Edit2->setCurrentText("*");
  w.Edit2Click();
  testenv::writeFile(dir + "/new.txt", "x");
  EXPECT_TRUE(testenv::waitFor([&] { return rowOf(w, "new.txt") >= 0; }, 5000));
}

TEST_F(MainWindow, HighlightingPaintsExecutablesBlueAndZipsGreen) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  auto draw = [&](const QString &name, QFont &f, QColor &c) { w.PTShellList1->OnCustomDrawSh(rowOf(w, name), f, c); };
  QFont f;
  QColor c;
  draw("SETUP.EXE", f, c);
  EXPECT_FALSE(c.isValid());  // off by default
  w.item("Highlightexecutables1")->trigger();
  EXPECT_TRUE(w.state.HighlightExecutables);
  draw("SETUP.EXE", f, c);
  EXPECT_EQ(c, QColor(0, 0, 255));
  EXPECT_TRUE(f.bold());
  QFont f2;
  QColor c2;
  draw("archive.zip", f2, c2);
  EXPECT_EQ(c2, QColor(0, 128, 0));
  QFont f3;
  QColor c3;
  draw("readme", f3, c3);
  EXPECT_FALSE(c3.isValid());
  EXPECT_FALSE(f3.bold());
}

TEST_F(MainWindow, FileArgumentsJoinedWithBlanksOpenInTheEditor) {
  const QString dir = testenv::makeDir("cmd");
  testenv::writeFile(dir + "/my notes.txt", "hello");
  TTarn w({dir + "/my", "notes.txt"});
  w.FormShow();
  EXPECT_EQ(w.Pc1->currentWidget(), w.EditorCmd);
  EXPECT_EQ(w.LEdit1->text(), "hello");
  // Something that is neither a folder nor a file leaves the start as usual.
  TTarn w2({dir + "/nothing here"});
  w2.FormShow();
  EXPECT_EQ(w2.state.StartFolder, "/");
  EXPECT_TRUE(w2.LEdit1->text().isEmpty());
}

TEST_F(MainWindow, MaskListFileIsCreatedThenLoadedSortedWithoutDuplicates) {
  const QString file = platform::userFile("tarnwick.ext");
  QFile::remove(file);
  {
    TTarn w;
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_TRUE(testenv::readFile(file).startsWith("*\r\n*.bat\r\n"));
  }
  testenv::writeFile(file, "*.txt\n*\n*.log\n*.TXT\n*.log\n");
  TTarn w;
  QStringList entries;
  for (int i = 0; i < w.Edit2->count(); ++i) entries << w.Edit2->itemText(i);
  EXPECT_EQ(entries, (QStringList{"*", "*.log", "*.txt", "*.TXT"}));
  EXPECT_EQ(testenv::readFile(file), "*\r\n*.log\r\n*.txt\r\n*.TXT\r\n");
}

TEST_F(MainWindow, SecondInstanceQuestionBothWays) {
  TJustOneAsk first("tarnwick-test", [] { ADD_FAILURE() << "the first instance must not ask"; return false; });
  EXPECT_TRUE(first.proceed());
  EXPECT_TRUE(first.createdMutex());
  int asked = 0;
  TJustOneAsk refused("tarnwick-test", [&] { ++asked; return false; });
  EXPECT_FALSE(refused.proceed());
  TJustOneAsk accepted("tarnwick-test", [&] { ++asked; return true; });
  EXPECT_TRUE(accepted.proceed());
  EXPECT_FALSE(accepted.createdMutex());
  EXPECT_EQ(asked, 2);
}

TEST_F(MainWindow, AutoStartItemWritesAndRemovesTheEntry) {
  TTarn w;
  EXPECT_FALSE(w.item("AutoStart")->isChecked());
  w.item("AutoStart")->trigger();
  const QString entry = testenv::root() + "/config/autostart/tarnwick.desktop";
  EXPECT_TRUE(QFile::exists(entry));
  EXPECT_TRUE(testenv::readFile(entry).contains(QCoreApplication::applicationFilePath().toUtf8()));
  w.close();  // the option is saved with the settings
  TTarn again;  // a new window follows the saved option and keeps the entry
  EXPECT_TRUE(again.item("AutoStart")->isChecked());
  EXPECT_TRUE(QFile::exists(entry));
  again.item("AutoStart")->trigger();
  EXPECT_FALSE(QFile::exists(entry));
}

TEST_F(MainWindow, ProgramWithoutDisplayExplainsAndExits) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  p.setProcessEnvironment(env);
  p.start(testenv::binDir() + "/tarnwick", {});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(p.readAllStandardError().contains("needs a graphical display"));
}

TEST_F(MainWindow, SpaceShowsTheSelectedFileOnceWithViewersDisabledAndTreeShowsTheFolder) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.item("Cbox4")->trigger();
  w.PTShellList1->selectName("readme");
  w.PTShellList1->currentView()->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return w.PTShellList1->hasListFocus(); }));
  QTest::keyClick(w.PTShellList1->currentView(), Qt::Key_Space);
  EXPECT_EQ(w.lastViewerAction, "Editor");
  EXPECT_FALSE(w.state.SpaceViewRequest);
  // The tree shows the start folder expanded down to it.
  EXPECT_TRUE(testenv::waitFor([&] { return w.PTShellTree1->isExpanded(w.PTShellTree1->currentIndex().parent()); }));
}

TEST_F(MainWindow, CopyAndPasteThroughTheMenusMakesACopyBesideTheOriginal) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.PTShellList1->selectName("readme");
  w.PTShellList1->currentView()->setFocus();
  w.item("Copy1")->trigger();
  w.item("Paste1")->trigger();
  ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(dir + "/readme (copy)"); }, 10000));
  EXPECT_EQ(testenv::readFile(dir + "/readme (copy)"), "plain text\n");
  EXPECT_TRUE(testenv::waitFor([&] { return rowOf(w, "readme (copy)") >= 0; }, 5000));  // the list follows
}

TEST_F(MainWindow, HexEditorOpensOnTheCurrentFileOnceAtATime) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  clickItem(w, "SETUP.EXE");
  w.item("HexEditor1")->trigger();
  THexForm *hex = THexForm::instance();
  ASSERT_NE(hex, nullptr);
  hex->activateWindow();
  EXPECT_TRUE(testenv::waitFor([&] { return w.state.CurrentFile.isEmpty(); }));  // taken by the hex window
  EXPECT_FALSE(w.item("HexEditor1")->isEnabled());
  hex->close();
  EXPECT_TRUE(testenv::waitFor([&] { return w.item("HexEditor1")->isEnabled(); }));
}

TEST_F(MainWindow, RtfClickOpensARichWindowOnItTheRtfItemsAnEmptyOneAndClosingAsksForEach) {
  const QString dir = makeSampleFolder();
  testenv::writeFile(dir + "/memo.rtf", "{\\rtf1 Memo text\\par}");
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  clickItem(w, "memo.rtf");
  auto forms = [&] { return w.findChildren<TRichForm *>(QString(), Qt::FindDirectChildrenOnly); };
  ASSERT_EQ(forms().size(), 1);
  TRichForm *memo = forms()[0];
  EXPECT_TRUE(memo->isVisible());
  EXPECT_EQ(memo->windowTitle(), "Tarnwick - memo.rtf");
  EXPECT_EQ(memo->editor()->toPlainText(), "Memo text");

  // Every "&Rtf File" item makes a new, empty window, whatever the current file is.
  for (const char *item : {"RtfFile1", "RtfFile2", "RtfFile3"}) w.item(item)->trigger();
  ASSERT_EQ(forms().size(), 4);
  TRichForm *fresh = forms().last();
  EXPECT_EQ(fresh->windowTitle(), "Tarnwick - Untitled");
  EXPECT_EQ(fresh->editor()->toPlainText(), "");

  // Closing the program asks for the changed window; Cancel keeps everything open.
  fresh->editor()->insertPlainText("unsaved");
  QStringList asked;
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  testenv::ModalWatcher boxes([&](QWidget *m) {
    if (auto *b = qobject_cast<QMessageBox *>(m)) {
      asked << b->text();
      b->button(answer)->click();
    }
  });
  EXPECT_FALSE(w.close());
  EXPECT_EQ(asked, QStringList{"Save changes to Untitled?"});
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(fresh->isVisible());
  answer = QMessageBox::No;
  EXPECT_TRUE(w.close());
  EXPECT_EQ(asked.size(), 2);
  EXPECT_TRUE(testenv::waitFor([&] { return forms().isEmpty(); }));  // closed windows are deleted
}

TEST_F(MainWindow, EditorPanelsShowOnlyTheirLabelsUntilAFileIsLoaded) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.FormShow();
  auto panels = [&] {
    QStringList out;
    for (int i = 1; i < w.EditorTab->SBar->panelCount(); ++i) out << w.EditorTab->SBar->panelText(i);
    return out;
  };
  const QStringList labels{"Filename:", "Line Count:", "Column:", "Line Number:"};
  EXPECT_EQ(panels(), labels);
  EXPECT_EQ(w.EditorTab->SBar->panelText(0), "WR=On");
  // Clicking into the empty editor changes nothing either.
  QTest::mouseClick(w.LEdit1->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
  EXPECT_EQ(panels(), labels);

  clickItem(w, "readme");
  EXPECT_EQ(panels(), (QStringList{"Filename: readme", "Line Count: 1", "Column: 0", "Line Number: 1"}));
  // Text typed into a cleared editor is counted; it has no file name to show.
  w.item("Clear2")->trigger();
  w.LEdit1->insert("typed\nlines\n");
  EXPECT_EQ(panels().mid(0, 2), (QStringList{"Filename:", "Line Count: 2"}));
}

TEST_F(MainWindow, PointingAtToolBarBoxesPutsTheirHintsInTheStatusLine) {
  TTarn w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const struct { QWidget *box; const char *hint; } boxes[] = {
      {w.Hcb1, "Favourite Folders, click to bring down list, right mouse click to edit"},
      {w.Edit2, "Select a file mask, or click right hand mouse button for options"},
      {w.Date1, "Displays a pop up calendar"},
  };
  for (const auto &b : boxes) {
    SCOPED_TRACE(b.box->objectName().toStdString());
    w.StatusBar1Panel->clear();
    const QPointF at(b.box->rect().center());
    QEnterEvent enter(at, b.box->mapTo(&w, at), b.box->mapToGlobal(at));
    QApplication::sendEvent(b.box, &enter);
    EXPECT_EQ(w.StatusBar1Panel->text(), b.hint);
  }
}

// The HTML engine (Chromium, some 150 MB of libraries) is loaded with the first page, never at start-up.
TEST_F(MainWindow, StartsWithoutLoadingTheHtmlEngine) {
  const auto engineLoaded = [] { return testenv::readFile("/proc/self/maps").contains("libQt6WebEngineCore"); };
  ASSERT_TRUE(testenv::readFile("/proc/self/maps").contains("libQt6Core"));  // the check can see libraries
  TTarn w(QStringList{makeSampleFolder()});
  w.show();
  ASSERT_TRUE(testenv::waitFor([&] { return !w.PTShellList1->model()->isLoading(); }));
  EXPECT_FALSE(engineLoaded());
}

TEST_F(MainWindow, AboutBoxGivesTheVersion) {
  TTarn w;
  QString text;
  testenv::ModalWatcher read([&](QWidget *m) {
    if (auto *b = qobject_cast<QMessageBox *>(m)) text = b->text();
    m->close();
  });
  w.item("About1")->trigger();
  EXPECT_TRUE(text.startsWith("Tarnwick - Version 2.4\n\r")) << text.toStdString();
}

// A screen reader reads a button's accessible name; the tool bar's buttons show only icons.
TEST_F(MainWindow, ToolButtonsAreNamedByTheirHints) {
  TTarn w;
  const QList<QToolButton *> buttons = {w.DosBut,    w.TreeBut,       w.DualBut,       w.Calculator, w.FindFiles,
                                        w.DeleteBtn, w.LargeIconsBtn, w.SmallIconsBtn, w.ListBtn,    w.DetailsBtn,
                                        w.NewDir,    w.ShowProperties, w.MapDisk,      w.DiscMap};
  for (QToolButton *b : buttons) {
    SCOPED_TRACE(b->objectName().toStdString());
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(b);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->text(QAccessible::Name).isEmpty());
    EXPECT_EQ(a->text(QAccessible::Name), b->toolTip());
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.TreeBut)->text(QAccessible::Name), "Tree list view");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.LargeIconsBtn)->text(QAccessible::Name), "Large Icons");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.LargeIconsBtn)->text(QAccessible::Description),
            "Displays items by using large icons.");
}

namespace {
// df's "Avail" for the folder's volume in bytes (0 when df cannot tell).
quint64 dfAvailable(const QString &dir) {
  QProcess df;
  df.start("df", {"-B1", "--output=avail", dir});
  if (!df.waitForFinished(20000) || df.exitCode() != 0) return 0;
  return df.readAllStandardOutput().trimmed().split('\n').value(1).trimmed().toULongLong();
}
}  // namespace

// The status line's free space is what df and every other file manager show, whichever way "Show Correct
// Free &Disk Space" is set (blocks kept for the administrator are no space the user can fill).
TEST_F(MainWindow, FreeSpaceIsWhatDfShowsWhicheverTheOption) {
  const QString dir = makeSampleFolder();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  if (dfAvailable(dir) == 0) GTEST_SKIP() << "df gives no available space for " << dir.toStdString();
  for (bool option : {false, true}) {
    SCOPED_TRACE(option ? "option on" : "option off");
    if (w.item("DiskSpace")->isChecked() != option) w.item("DiskSpace")->trigger();
    const quint64 before = dfAvailable(dir);
    w.TreeRefreshMitmClick();
    const QString text = w.StatusBar2Panels[2]->text();
    const quint64 after = dfAvailable(dir);
    const QStringList words = text.split(' ');
    ASSERT_TRUE(text.endsWith(" Disk Space Free")) << text.toStdString();
    const double gb = words.value(0).toDouble() / (words.value(1) == "MB" ? 1024.0 : 1.0);
    const double GiB = 1024.0 * 1024 * 1024;
    // Other processes write meanwhile: 64 MB either way.
    EXPECT_GE(gb, double(std::min(before, after)) / GiB - 0.07) << text.toStdString();
    EXPECT_LE(gb, double(std::max(before, after)) / GiB + 0.07) << text.toStdString();
  }
}

// Run on a folder, with no file manager on the desktop: the program's own list shows it, when the user
// wants it (here a folder whose name has blanks and quotes, typed in quotes).
TEST_F(MainWindow, RunOnAFolderWithoutAFileManagerOffersTheProgramsOwnList) {
  const QString dir = makeSampleFolder();
  const QString target = dir + "/Some \"odd\" folder";
  ASSERT_TRUE(QDir().mkpath(target));
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(testenv::makeDir("no-tools")));
  QStringList asked;
  testenv::ModalWatcher answer([&](QWidget *m) {
    if (auto *run = qobject_cast<TRunDialog *>(m)) {
      run->box()->setCurrentText("'" + target + "'");
      run->accept();
    } else if (auto *b = qobject_cast<QMessageBox *>(m)) {
      asked << b->text();
      (b->button(QMessageBox::Yes) ? b->button(QMessageBox::Yes) : b->buttons().first())->click();
    } else {
      m->close();
    }
  });
  w.Run2Click();
  qputenv("PATH", path);
  EXPECT_EQ(asked, QStringList{"No file manager was found to open the folder " + target + ".\n\nShow it in Tarnwick's file list?"});
  EXPECT_TRUE(testenv::waitFor([&] { return w.PTShellTree1->SelectedPath() == target; }));
}

// The desktop ends the session while text is unsaved and a question is open: nothing more is asked, the
// question is cancelled, the file on disk is left as it was, the unsaved text is kept and named at the
// next start, and the settings are saved as on exit.
TEST_F(MainWindow, EndingTheSessionAsksNothingAndKeepsUnsavedText) {
  const QString dir = makeSampleFolder();
  const QString file = dir + "/readme";
  {
    TTarn w({dir});
    w.show();
    ASSERT_TRUE(waitFilled(w, dir));
    ASSERT_TRUE(w.LoadEditorFile(file));
    w.LEdit1->setCursorPosition(0, 0);
    w.LEdit1->insert("typed ");
    w.Word951->trigger();  // a changed option, saved as on exit
    QStringList asked;
    testenv::ModalWatcher record([&](QWidget *m) {
      if (m->windowTitle() == "About Tarnwick") return;
      asked << m->windowTitle();
      if (auto *d = qobject_cast<QDialog *>(m)) d->reject();
    });
    QString openWhenEnded;
    QTimer::singleShot(0, &w, [&] {
      if (QApplication::activeModalWidget()) openWhenEnded = QApplication::activeModalWidget()->windowTitle();
      w.endSession();
    });
    w.About1Click();  // a question of its own: it returns once the ending cancelled it
    EXPECT_EQ(openWhenEnded, "About Tarnwick");
    EXPECT_TRUE(asked.isEmpty()) << asked.join(", ").toStdString();
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_FALSE(w.isVisible());
    w.close();  // a logout closes the windows too: nothing is asked then either
    EXPECT_TRUE(asked.isEmpty()) << asked.join(", ").toStdString();
  }
  EXPECT_EQ(testenv::readFile(file), "plain text\n");
  const QStringList kept = QDir(TTarn::recoveryFolder()).entryList(QDir::Files);
  ASSERT_EQ(kept.size(), 1);
  EXPECT_TRUE(kept.first().endsWith(" readme")) << kept.first().toStdString();
  EXPECT_EQ(testenv::readFile(TTarn::recoveryFolder() + "/" + kept.first()), "typed plain text\n");

  QStringList told;
  testenv::ModalWatcher read([&](QWidget *m) {
    if (auto *b = qobject_cast<QMessageBox *>(m)) told << b->text();
    m->close();
  });
  TTarn next({dir});
  EXPECT_TRUE(next.Word951->isChecked());
  next.show();
  next.FormShow();
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told.first().contains(TTarn::recoveryFolder() + "/" + kept.first())) << told.first().toStdString();
  next.FormShow();  // told once
  EXPECT_EQ(told.size(), 1);
}

namespace {
// True once the process sleeps in its event loop (its main thread waits in poll).
bool idleInEventLoop(qint64 pid) {
  return testenv::readFile(QString("/proc/%1/wchan").arg(pid)).contains("poll");
}
}  // namespace

// SIGTERM (a logout) and SIGHUP (the session went away) end the real program with exit code 0: a copy
// waiting at the one-instance question ends unanswered, and the running one saves its settings as on
// exit and frees the one-instance lock, so that the next start asks nothing.
TEST_F(MainWindow, TermAndHangUpEndTheProgramAndFreeItsLock) {
  const QString exe = testenv::binDir() + "/tarnwick";
  const QString dir = makeSampleFolder();
  const QString setUpDone = platform::userFile("tarnwick.ext");  // written at the end of the window's set-up
  const QString store = platform::userFile("registry.ini");
  const QString lock = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/tarnwick.lock";
  for (int signo : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signo == SIGTERM ? "SIGTERM" : "SIGHUP");
    apptest::cleanUserState();
    QProcess first;
    first.start(exe, {dir});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(testenv::waitFor([&] { return QFile::exists(setUpDone) && QFile::exists(lock) && idleInEventLoop(first.processId()); },
                                 30000));
    QProcess second;
    second.start(exe, {dir});
    ASSERT_TRUE(second.waitForStarted());
    ASSERT_TRUE(testenv::waitFor([&] { return idleInEventLoop(second.processId()); }, 30000));  // at the question
    ::kill(second.processId(), signo);
    EXPECT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(lock));  // the running copy's

    ASSERT_TRUE(QFile::remove(store));
    ::kill(first.processId(), signo);
    EXPECT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(lock));
    EXPECT_EQ(platform::RegStore().readInteger(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "SaveSet"), 1);
    if (first.state() != QProcess::NotRunning) first.kill();
    if (second.state() != QProcess::NotRunning) second.kill();
    first.waitForFinished(5000);
    second.waitForFinished(5000);
  }
}
