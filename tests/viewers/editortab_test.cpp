#include <gtest/gtest.h>
#include <QApplication>
#include <QPushButton>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTest>
#include "controls/tledit.h"
#include "platform/paths.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

namespace {
// Records what the tab asks of its window and answers its questions from fields.
struct TestHost : TEditorHost {
  bool saveAnswer = false, overwriteAnswer = false;
  QStringList saveQuestions, overwriteQuestions, titles;
  int titleResets = 0, favouriteReloads = 0;
  QList<bool> wraps;
  QList<TLineEndStyle> styles;
  bool askSaveChanges(const QString &q) override { saveQuestions << q; return saveAnswer; }
  bool askOverwriteChangedFile(const QString &path) override { overwriteQuestions << path; return overwriteAnswer; }
  void setEditorTitle(const QString &t) override { titles << t; }
  void resetTitle() override { ++titleResets; }
  void reloadFavourites() override { ++favouriteReloads; }
  void showWordWrap(bool on) override { wraps << on; }
  void showLineEndStyle(TLineEndStyle s) override { styles << s; }
};

struct EditorTab : ::testing::Test {
  TestHost host;
  TEditorTab tab{host};
  QString dir;
  void SetUp() override {
    tab.LEdit1->SetQuiet(true);
    tab.resize(800, 500);
    dir = testenv::makeDir("tab");
  }
  QStringList panels() const {
    QStringList out;
    for (int i = 0; i < tab.SBar->panelCount(); ++i) out << tab.SBar->panelText(i);
    return out;
  }
  bool focusEditor() {
    tab.show();
    QApplication::setActiveWindow(&tab);
    tab.activateWindow();
    tab.LEdit1->setFocus();
    return testenv::waitFor([&] { return tab.LEdit1->Focused(); }, 3000);
  }
};
}  // namespace

TEST_F(EditorTab, StatusPanelsStartEmptyAndFollowLoadAndCaret) {
  EXPECT_EQ(panels(), QStringList({"WR=", "Filename:", "Line Count:", "Column:", "Line Number:"}));
  const QString path = testenv::writeFile(dir + "/notes.txt", "first\r\nsecond line\r\nthird\r\n");
  ASSERT_TRUE(tab.LoadFile(path));
  EXPECT_EQ(panels().mid(1), QStringList({"Filename: notes.txt", "Line Count: 3", "Column: 0", "Line Number: 1"}));

  tab.show();
  tab.LEdit1->setCursorPosition(1, 7);
  EXPECT_TRUE(testenv::waitFor([&] { return tab.SBar->panelText(4) == "Line Number: 2"; }, 3000));
  EXPECT_EQ(tab.SBar->panelText(3), "Column: 7");
}

TEST_F(EditorTab, WordWrapToggledTwiceReturnsToTheFirstState) {
  tab.SetWordWrap(true);  // start-up from the stored option
  EXPECT_EQ(tab.SBar->panelText(0), "WR=On");
  EXPECT_FALSE(tab.WordWrapClick(true));
  EXPECT_EQ(tab.SBar->panelText(0), "WR=Off");
  EXPECT_FALSE(tab.LEdit1->WordWrap());
  EXPECT_EQ(tab.LEdit1->wrapMode(), QsciScintilla::WrapNone);
  EXPECT_TRUE(tab.WordWrapClick(false));
  EXPECT_EQ(tab.SBar->panelText(0), "WR=On");
  EXPECT_EQ(tab.LEdit1->wrapMode(), QsciScintilla::WrapWord);
  EXPECT_EQ(host.wraps, (QList<bool>{false, true}));
  // The editor's pop-up "Word Wrap" keeps the panel and the window's check mark in step.
  tab.LEdit1->ToggleWordWrap();
  EXPECT_EQ(tab.SBar->panelText(0), "WR=Off");
  EXPECT_EQ(host.wraps, (QList<bool>{false, true, false}));
}

TEST_F(EditorTab, EachLineEndStyleIsWrittenOnSave) {
  EXPECT_EQ(tab.lineEndStyle(), TEditorTab::LineEndStyle::MsDosWin);  // every start
  ASSERT_TRUE(focusEditor());
  const QString path = dir + "/ends.txt";
  struct Step { void (TEditorTab::*click)(); QByteArray expected; };
  const Step steps[] = {
      {&TEditorTab::Unix1Click, "x1\n2\n3\n"},
      {&TEditorTab::Mac1Click, "x1\r2\r3\r"},
      {&TEditorTab::MsDosWin1Click, "x1\r\n2\r\n3\r\n"},
  };
  for (const Step &s : steps) {
    testenv::writeFile(path, "1\r\n2\n3\r");
    ASSERT_TRUE(tab.LoadFile(path));
    (tab.*s.click)();
    tab.LEdit1->setCursorPosition(0, 0);
    tab.LEdit1->insert("x");
    ASSERT_TRUE(tab.SaveFile1Click());
    EXPECT_EQ(testenv::readFile(path), s.expected);
  }
  EXPECT_EQ(host.styles, (QList<TLineEndStyle>{TLineEndStyle::Unix, TLineEndStyle::Mac, TLineEndStyle::MsDosWin}));
  EXPECT_EQ(tab.LEdit1->MacStyleSave(), false);
  EXPECT_EQ(tab.LEdit1->UnixStyleSave(), false);
}

TEST_F(EditorTab, TabSizePanelAppliesTheChosenSize) {
  tab.show();
  EXPECT_FALSE(tab.TabPanel->isVisible());
  EXPECT_EQ(tab.TabSize(), 6);
  EXPECT_EQ(tab.LEdit1->TabStopSize(), 6);
  tab.SetTabValue1Click();
  EXPECT_TRUE(tab.TabPanel->isVisible());
  EXPECT_EQ(tab.TabPanel->pos(), tab.LEdit1->geometry().topLeft() + QPoint(20, 20));
  tab.EditTab->stepDown();
  tab.EditTab->stepDown();
  QTest::mouseClick(tab.TabBut, Qt::LeftButton);
  EXPECT_FALSE(tab.TabPanel->isVisible());
  EXPECT_EQ(tab.LEdit1->TabStopSize(), 4);
  EXPECT_EQ(tab.LEdit1->tabWidth(), 4);
  EXPECT_EQ(tab.TabSize(), 4);  // what the settings store

  tab.SetTabSize(8);  // next start-up
  EXPECT_EQ(tab.EditTab->value(), 8);
  EXPECT_EQ(tab.LEdit1->TabStopSize(), 8);
  tab.EditTab->setValue(25);
  EXPECT_EQ(tab.EditTab->value(), 20);  // the box's range is 0 to 20
}

TEST_F(EditorTab, DoubleClickClearsAndReloadsFavouritesOnlyForTheirFile) {
  tab.show();

  ASSERT_TRUE(tab.LoadFile(testenv::writeFile(dir + "/other.txt", "a\nb\n")));
  QTest::mouseDClick(tab.SBar, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(host.titleResets, 1);
  EXPECT_EQ(host.favouriteReloads, 0);
  EXPECT_EQ(tab.LEdit1->FileName(), "");
  EXPECT_EQ(tab.LEdit1->LineCount(), 0);
  EXPECT_EQ(panels().mid(1), QStringList({"Filename:", "Line Count:", "Column: ", "Line Number:"}));

  const QString fav = testenv::writeFile(platform::userFile("Tarnwick.Fav"), "/home\n/tmp\n");
  ASSERT_TRUE(tab.LoadFile(fav));
  tab.SBarDblClick();
  EXPECT_EQ(host.favouriteReloads, 1);
  EXPECT_EQ(host.titleResets, 2);
}

TEST_F(EditorTab, CtrlSSavesOnlyWhileTheEditorHasTheFocus) {
  const QString path = testenv::writeFile(dir + "/focus.txt", "text\r\n");
  ASSERT_TRUE(tab.LoadFile(path));
  tab.LEdit1->insert("more ");
  EXPECT_FALSE(tab.LEdit1->Focused());
  EXPECT_FALSE(tab.SaveFile1Click());
  EXPECT_EQ(testenv::readFile(path), "text\r\n");
  EXPECT_TRUE(tab.LEdit1->IsModified());

  ASSERT_TRUE(focusEditor());
  EXPECT_TRUE(tab.SaveFile1Click());
  EXPECT_EQ(testenv::readFile(path), "more text\r\n");
  EXPECT_FALSE(tab.LEdit1->IsModified());
}

TEST_F(EditorTab, UnsavedTextQuestionAtExit) {
  const QStringList &asked = host.saveQuestions;
  bool &answer = host.saveAnswer;

  const QString path = testenv::writeFile(dir + "/exit.txt", "keep\n");
  ASSERT_TRUE(tab.LoadFile(path));
  EXPECT_TRUE(tab.QueryClose());  // unchanged: no question
  EXPECT_TRUE(asked.isEmpty());

  tab.LEdit1->insert("new ");
  EXPECT_TRUE(tab.QueryClose());  // No: closes without saving
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0], "The text has been modified in the Editor,  Save changes?");
  EXPECT_EQ(testenv::readFile(path), "keep\n");

  answer = true;  // Yes: saved to its file
  EXPECT_TRUE(tab.QueryClose());
  EXPECT_EQ(testenv::readFile(path), "new keep\r\n");

  // Yes, but the save fails: closing stops so that the text is not lost.
  tab.LEdit1->insert("x");
  tab.LEdit1->SetFileName(dir + "/missing/folder/exit.txt");
  EXPECT_FALSE(tab.QueryClose());
  EXPECT_TRUE(tab.LEdit1->IsModified());
}

TEST_F(EditorTab, ClickGivesTheEditorTitleAndClearAllEmptiesTheEditor) {
  const QStringList &title = host.titles;
  const QString path = testenv::writeFile(dir + "/click.txt", "click here\n");
  ASSERT_TRUE(tab.LoadFile(path));
  tab.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
  QTest::mouseClick(tab.LEdit1->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
  EXPECT_EQ(title, QStringList{"Editor Filename - " + path});

  tab.ClearViewer();
  EXPECT_EQ(tab.LEdit1->FileName(), "");
  EXPECT_EQ(tab.LEdit1->LineCount(), 0);
  EXPECT_EQ(panels().mid(1), QStringList({"Filename:", "Line Count:", "Column: ", "Line Number:"}));
  QTest::mouseClick(tab.LEdit1->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
  EXPECT_EQ(title.size(), 1);  // no file name: the title stays
}

TEST_F(EditorTab, SavingOverAFileChangedBehindTheEditorAsksTheWindowFirst) {
  const QString path = testenv::writeFile(dir + "/shared.txt", "mine\n");
  ASSERT_TRUE(tab.LoadFile(path));
  tab.LEdit1->insert("edit ");
  ASSERT_TRUE(focusEditor());
  testenv::writeFile(path, "someone else's text\n");

  EXPECT_FALSE(tab.SaveFile1Click());  // No: both texts stay as they are
  EXPECT_EQ(host.overwriteQuestions, QStringList{path});
  EXPECT_EQ(testenv::readFile(path), "someone else's text\n");
  EXPECT_EQ(tab.LEdit1->TextBytes(), "edit mine\n");
  EXPECT_TRUE(tab.LEdit1->IsModified());

  // At exit, Yes to saving and No to overwriting keeps the window open with the text.
  host.saveAnswer = true;
  EXPECT_FALSE(tab.QueryClose());
  EXPECT_EQ(host.overwriteQuestions.size(), 2);
  EXPECT_EQ(testenv::readFile(path), "someone else's text\n");

  host.overwriteAnswer = true;
  EXPECT_TRUE(tab.SaveFile1Click());
  EXPECT_EQ(testenv::readFile(path), "edit mine\r\n");
  EXPECT_FALSE(tab.LEdit1->IsModified());
}
