#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTest>
#include "controls/tledit.h"
#include "platform/paths.h"
#include "tests/common/testenv.h"
#include "windows/hex/hexeditor.h"
#include "viewers/editortab.h"
#include "viewers/filesniff.h"

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

// Binary or text, from the first block of a file: NUL bytes make a file binary unless the block reads as
// UTF-16 or UTF-32 text; what lies past the first block is not looked at.
TEST(BinaryOrText, NulBytesOutsideUtf16AndUtf32Text) {
  auto utf16 = [](const QString &s, bool bigEndian) {
    QByteArray b;
    for (QChar c : s) {
      const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
      b += bigEndian ? QByteArray{&hi, 1} + QByteArray{&lo, 1} : QByteArray{&lo, 1} + QByteArray{&hi, 1};
    }
    return b;
  };
  const QString text = QStringLiteral("Line one\r\n\tsecond line, caf\u00e9 \u65e5\u672c \U0001F600\r\n\f");
  // Text of every encoding stays text.
  EXPECT_FALSE(viewers::looksBinary(QByteArray()));
  EXPECT_FALSE(viewers::looksBinary(text.toUtf8()));
  EXPECT_FALSE(viewers::looksBinary(QByteArray("caf\xe9 na\xefve \x80\x9f\xff control \x01\x1b", 25)));  // 8-bit, controls but no NUL
  EXPECT_FALSE(viewers::looksBinary("\xFF\xFE" + utf16(text, false)));
  EXPECT_FALSE(viewers::looksBinary("\xFE\xFF" + utf16(text, true)));
  EXPECT_FALSE(viewers::looksBinary(utf16(text, false)));  // without a byte order mark
  EXPECT_FALSE(viewers::looksBinary(utf16(text, true)));
  EXPECT_FALSE(viewers::looksBinary(utf16(text, false).chopped(1)));  // cut in a character
  EXPECT_FALSE(viewers::looksBinary(utf16(text, false).chopped(2)));  // cut between a surrogate pair
  EXPECT_FALSE(viewers::looksBinary(QByteArray("\xFF\xFE\0\0", 4) + QByteArray("A\0\0\0\n\0\0\0", 8)));  // UTF-32
  EXPECT_FALSE(viewers::looksBinary(QByteArray("\0\0\xFE\xFF", 4) + QByteArray("\0\0\0A\0\0\0\n", 8)));
  EXPECT_FALSE(viewers::looksBinary(QByteArray(viewers::kSniffBlockSize, 'a') + QByteArray(10, '\0')));  // NULs past the block
  // Binary: executables, libraries, pictures, and text with a NUL.
  EXPECT_TRUE(viewers::looksBinary(QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0", 20)));
  EXPECT_TRUE(viewers::looksBinary(QByteArray("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16)));
  EXPECT_TRUE(viewers::looksBinary(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
  EXPECT_TRUE(viewers::looksBinary(QByteArray("plain text\0with a NUL\n", 22)));
  EXPECT_TRUE(viewers::looksBinary(QByteArray(4096, '\0')));
  EXPECT_TRUE(viewers::looksBinary(utf16(QStringLiteral("broken \xd800 pair"), false)));  // a lone surrogate
  EXPECT_TRUE(viewers::looksBinary(utf16(QStringLiteral("with a NUL character"), false) + QByteArray(2, '\0') + utf16("x", false)));
  QFile self(QCoreApplication::applicationFilePath());
  ASSERT_TRUE(self.open(QIODevice::ReadOnly));
  EXPECT_TRUE(viewers::looksBinary(self.read(viewers::kSniffBlockSize)));
}

// A binary file shows its bytes in the hex editor's grid, read-only, with a note; typing and Ctrl+Delete
// there change nothing, "Show as Text" puts it into the editor as it is, clearing goes back to the editor,
// and text files of every encoding still load as text.
TEST_F(EditorTab, BinaryFilesShowTheirBytesReadOnly) {
  const QByteArray elf = QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0", 20) + QByteArray(3000, '\x90');
  const QString program = testenv::writeFile(dir + "/program", elf);
  testenv::writeFile(dir + "/notes.txt", "some text\r\n");
  ASSERT_TRUE(tab.LoadFile(dir + "/notes.txt"));
  ASSERT_TRUE(tab.LoadFile(program));
  ASSERT_TRUE(tab.showsBinary());
  EXPECT_TRUE(tab.BinaryView->isVisibleTo(&tab));
  EXPECT_FALSE(tab.LEdit1->isVisibleTo(&tab));
  EXPECT_EQ(tab.binaryFile(), program);
  EXPECT_TRUE(tab.BinaryNote->text().contains("program is a binary file (3020 bytes)")) << tab.BinaryNote->text().toStdString();
  EXPECT_EQ(tab.BinaryView->buffer()->DataSize(), elf.size());
  EXPECT_EQ(tab.BinaryView->buffer()->cachedBytes(0, 20), elf.left(20));
  EXPECT_TRUE(tab.BinaryView->buffer()->ReadOnly());
  EXPECT_EQ(panels().mid(1), QStringList({"Filename: program", "Line Count:", "Column: ", "Line Number:"}));
  // The editor let go of the text before: nothing of it can be saved over the binary file.
  EXPECT_EQ(tab.LEdit1->length(), 0);
  EXPECT_FALSE(tab.LEdit1->HasFileName());
  // Keys in the grid move and select, never change a byte, in either block.
  tab.show();
  QApplication::setActiveWindow(&tab);
  tab.BinaryView->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return tab.BinaryView->hasFocus(); }, 3000));
  QTest::keyClicks(tab.BinaryView, "ab12");
  QTest::keyClick(tab.BinaryView, Qt::Key_Tab);
  QTest::keyClicks(tab.BinaryView, "xyz");
  QTest::keyClick(tab.BinaryView, Qt::Key_End, Qt::ShiftModifier);
  QTest::keyClick(tab.BinaryView, Qt::Key_Delete, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(tab.BinaryView->buffer()->DataSize(), elf.size());
  EXPECT_EQ(tab.BinaryView->buffer()->cachedBytes(0, 20), elf.left(20));
  EXPECT_FALSE(tab.BinaryView->buffer()->Modified());
  EXPECT_EQ(testenv::readFile(program), elf);
  EXPECT_FALSE(tab.SaveFile1Click());
  // Rewritten in place by another program while shown: shown anew once read again.
  const QByteArray longer = elf + QByteArray(100, '\0');
  testenv::writeFile(program, longer);
  tab.BinaryView->buffer()->dropCache();  // as a scroll past the bytes read so far
  tab.BinaryView->buffer()->cachedBytes(0, 20);
  EXPECT_TRUE(testenv::waitFor([&] { return tab.BinaryView->buffer()->DataSize() == longer.size(); }, 3000));
  EXPECT_TRUE(tab.showsBinary());
  // "Show as Text": in the editor as it is, every byte kept.
  ASSERT_TRUE(tab.ShowAsTextClick());
  EXPECT_FALSE(tab.showsBinary());
  EXPECT_TRUE(tab.LEdit1->isVisibleTo(&tab));
  EXPECT_EQ(tab.LEdit1->FileName(), program);
  EXPECT_EQ(tab.LEdit1->TextBytes(), longer);
  EXPECT_EQ(tab.SBar->panelText(1), "Filename: program");
  // Clearing from a binary file goes back to an empty editor.
  ASSERT_TRUE(tab.LoadFile(program));
  ASSERT_TRUE(tab.showsBinary());
  tab.SBarDblClick();
  EXPECT_FALSE(tab.showsBinary());
  EXPECT_TRUE(tab.binaryFile().isEmpty());
  EXPECT_EQ(tab.BinaryView->buffer()->DataSize(), 0);
  ASSERT_TRUE(tab.LoadFile(program));
  tab.ClearViewer();
  EXPECT_FALSE(tab.showsBinary());
  // Text of every encoding loads as text, byte for byte.
  const QString u16 = QStringLiteral("UTF-16 text\r\n\u65e5\u672c\r\n");
  QByteArray le("\xFF\xFE"), noBom;
  for (QChar c : u16) {
    le += char(c.unicode() & 0xFF);
    le += char(c.unicode() >> 8);
  }
  noBom = le.mid(2);
  const QList<QByteArray> texts = {u16.toUtf8(), QByteArray("Latin-1 caf\xe9\r\n"), le, noBom, QByteArray()};
  for (const QByteArray &bytes : texts) {
    const QString path = testenv::writeFile(dir + "/text.txt", bytes);
    ASSERT_TRUE(tab.LoadFile(path)) << bytes.toHex().toStdString();
    EXPECT_FALSE(tab.showsBinary()) << bytes.toHex().toStdString();
    EXPECT_EQ(tab.LEdit1->TextBytes(), bytes);
    ASSERT_TRUE(tab.LoadFile(program));
  }
  // A file that cannot be read still goes to the editor, which says why.
  EXPECT_FALSE(tab.LoadFile(dir + "/missing"));
  EXPECT_FALSE(tab.showsBinary());
  EXPECT_FALSE(tab.LEdit1->LastError().isEmpty());
}
