#include <gtest/gtest.h>
#include <Qsci/qscilexer.h>
#include <Qsci/qscilexerpython.h>
#include <Qsci/qsciprinter.h>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <cstdio>
#include <functional>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <Qsci/qscilexer.h>
#include "controls/tledit.h"
#include "controls/tleditfind.h"
#include "tests/common/testenv.h"

namespace {
QByteArray ConvertForTest(const QByteArray &text) { return TLEdit::ConvertLineEnds(text, TLEdit::LineEnd::Lf); }

struct Editor : ::testing::Test {
  TLEdit edit;
  QString dir;
  void SetUp() override {
    edit.SetQuiet(true);
    dir = testenv::makeDir("edit");
  }
  QString file(const QString &name, const QByteArray &bytes) { return testenv::writeFile(dir + "/" + name, bytes); }
};
}  // namespace

TEST_F(Editor, UnchangedLoadAndSaveWritesTheSameBytes) {
  const QList<QPair<QString, QByteArray>> samples = {
      {"crlf.txt", "one\r\ntwo\r\nthree\r\n"},
      {"mixed.txt", "a\r\nb\nc\rd\n\re\r\r\n"},
      {"utf8.txt", "gr\xc3\xbc\xc3\x9f dich\n\xe2\x82\xac 5\r\nend"},
      {"bom.txt", "\xef\xbb\xbfwith bom\r\n"},
      {"latin1.txt", "caf\xe9 cr\xe8me\r\n\xa3 3\n"},
      {"binary.bin", QByteArray("MZ\x00\x01\xff\xfe\r\n\x00\x00text\xc3", 15)},
      {"empty.txt", ""},
  };
  for (const auto &[name, bytes] : samples) {
    SCOPED_TRACE(name.toStdString());
    const QString path = file(name, bytes);
    ASSERT_TRUE(edit.LoadFile(path));
    EXPECT_EQ(edit.FileName(), path);
    EXPECT_FALSE(edit.IsModified());
    EXPECT_FALSE(edit.isReadOnly());
    EXPECT_EQ(edit.TextBytes(), bytes);
    // Saving to another name and saving over the file both keep every byte, whatever the line-end style.
    ASSERT_TRUE(edit.SaveToFile(dir + "/copy-" + name));
    EXPECT_EQ(testenv::readFile(dir + "/copy-" + name), bytes);
    ASSERT_TRUE(edit.SaveText());
    EXPECT_EQ(testenv::readFile(dir + "/copy-" + name), bytes);
  }
}

TEST_F(Editor, ACharacterAcrossTheLoadersPiecesStaysUtf8AndExact) {
  QByteArray bytes(int(TLEdit::LoadChunkSize) - 1, 'a');
  bytes += "\xc3\xa4 and more\r\n";  // the two bytes of the umlaut fall into two pieces
  bytes += QByteArray(int(TLEdit::LoadChunkSize), 'b');
  const QString path = file("pieces.txt", bytes);
  ASSERT_TRUE(edit.LoadFile(path));
  EXPECT_EQ(edit.TextEncoding(), TLEdit::Encoding::Utf8);
  EXPECT_EQ(edit.TextBytes(), bytes);
  ASSERT_TRUE(edit.SaveToFile(dir + "/pieces-copy.txt"));
  EXPECT_EQ(testenv::readFile(dir + "/pieces-copy.txt"), bytes);
  bytes[100] = '\xff';
  ASSERT_TRUE(edit.LoadFile(file("pieces8.txt", bytes)));
  EXPECT_EQ(edit.TextEncoding(), TLEdit::Encoding::EightBit);
}

TEST_F(Editor, SavingThroughALinkWritesItsTargetAndKeepsTheLink) {
  const QString target = file("target.txt", "old\n");
  const QString link = dir + "/link.txt";
  ASSERT_TRUE(QFile::link(target, link));
  ASSERT_TRUE(edit.LoadFile(link));
  edit.insert("new ");
  edit.SetUnixStyleSave(true);
  ASSERT_TRUE(edit.SaveText());
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(testenv::readFile(target), "new old\n");
}

// Another program changes the loaded file: saving over it asks first; No keeps the disk file and the text.
TEST_F(Editor, SavingOverAFileChangedBehindTheEditorAsksFirst) {
  QStringList asked;
  bool overwrite = false;
  edit.OnFileChangedOnDisk = [&](const QString &path) {
    asked << path;
    return overwrite;
  };
  const QString path = file("shared.txt", "ours\n");
  ASSERT_TRUE(edit.LoadFile(path));
  edit.SetUnixStyleSave(true);
  edit.insert("edited ");
  ASSERT_TRUE(edit.SaveText());  // unchanged on disk: no question
  EXPECT_TRUE(asked.isEmpty());
  EXPECT_EQ(testenv::readFile(path), "edited ours\n");

  const auto setModified = [&](const QString &p, const QDateTime &t) {
    QFile f(p);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(t, QFileDevice::FileModificationTime);
  };
  const QDateTime saved = QFileInfo(path).lastModified();
  struct Change {
    const char *what;
    std::function<bool()> make;
  };
  const Change changes[] = {
      {"rewritten, other size", [&] { return !testenv::writeFile(path, "theirs\n").isEmpty(); }},
      {"same size, 1 ms later",
       [&] { return !testenv::writeFile(path, "theirs ours\n").isEmpty() && setModified(path, saved.addMSecs(1)); }},
      {"same size and time, other inode",
       [&] {
         const QString other = file("other.tmp", "THEIRS OURS\n");
         return setModified(other, saved) && ::rename(QFile::encodeName(other), QFile::encodeName(path)) == 0;
       }},
  };
  for (const Change &c : changes) {
    SCOPED_TRACE(c.what);
    edit.insert("x");
    ASSERT_TRUE(c.make());
    const QByteArray theirs = testenv::readFile(path);
    asked.clear();
    overwrite = false;
    EXPECT_FALSE(edit.SaveText());
    EXPECT_EQ(asked, QStringList{path});
    EXPECT_EQ(testenv::readFile(path), theirs);  // No: the other program's file stays
    EXPECT_TRUE(edit.IsModified());              // and so does the editor's text
    EXPECT_TRUE(edit.TextBytes().startsWith("x"));
    EXPECT_FALSE(edit.SaveText());  // asked again: No changes nothing it knows
    EXPECT_EQ(asked.size(), 2);
    overwrite = true;
    EXPECT_TRUE(edit.SaveText());
    EXPECT_EQ(testenv::readFile(path), ConvertForTest(edit.TextBytes()));
    EXPECT_FALSE(edit.IsModified());
    asked.clear();
    EXPECT_TRUE(edit.SaveText());  // what it wrote itself is not a change behind it
    EXPECT_TRUE(asked.isEmpty());
  }

  // A file removed meanwhile is written again without a question; saving to another name follows that file.
  ASSERT_TRUE(QFile::remove(path));
  asked.clear();
  EXPECT_TRUE(edit.SaveText());
  EXPECT_TRUE(QFile::exists(path));
  const QString copy = dir + "/copy.txt";
  ASSERT_TRUE(edit.SaveToFile(copy));
  testenv::writeFile(path, "changed after the editor left it\n");
  EXPECT_TRUE(edit.SaveText());
  EXPECT_TRUE(asked.isEmpty());
  testenv::writeFile(copy, "changed behind\n");
  overwrite = false;
  EXPECT_FALSE(edit.SaveText());
  EXPECT_EQ(asked, QStringList{copy});

  // Loading again takes the file as it is now.
  ASSERT_TRUE(edit.LoadFile(copy));
  asked.clear();
  EXPECT_TRUE(edit.SaveText());
  EXPECT_TRUE(asked.isEmpty());
}

TEST_F(Editor, DecodesValidUtf8AsUtf8AndEverythingElseAsBytes) {
  edit.LoadFile(file("u.txt", "\xc3\xa4\xc3\xb6\xc3\xbc\n"));
  EXPECT_EQ(edit.TextEncoding(), TLEdit::Encoding::Utf8);
  EXPECT_EQ(edit.text(), QString::fromUtf8("\xc3\xa4\xc3\xb6\xc3\xbc\n"));
  edit.LoadFile(file("l.txt", "\xe4\xf6\xfc\n"));
  EXPECT_EQ(edit.TextEncoding(), TLEdit::Encoding::EightBit);
  EXPECT_EQ(edit.text(), QString::fromLatin1("\xe4\xf6\xfc\n"));
}

TEST_F(Editor, EditedTextIsSavedWithTheChosenLineEnds) {
  const QByteArray original = "first\r\nsecond\nthird\rfourth";
  struct Case {
    bool mac, lf;
    QByteArray expected;
  };
  const Case cases[] = {
      {false, false, "Xfirst\r\nsecond\r\nthird\r\nfourth"},
      {true, false, "Xfirst\rsecond\rthird\rfourth"},
      {false, true, "Xfirst\nsecond\nthird\nfourth"},
  };
  for (const Case &c : cases) {
    const QString path = file("ends.txt", original);
    ASSERT_TRUE(edit.LoadFile(path));
    edit.SetMacStyleSave(c.mac);
    edit.SetUnixStyleSave(c.lf);
    edit.setCursorPosition(0, 0);
    edit.insert("X");
    ASSERT_TRUE(edit.IsModified());
    ASSERT_TRUE(edit.SaveText());
    EXPECT_EQ(testenv::readFile(path), c.expected);
    EXPECT_FALSE(edit.IsModified());
    // A second save of the same text writes the same converted bytes, not the loaded ones.
    ASSERT_TRUE(edit.SaveToFile(dir + "/again.txt"));
    EXPECT_EQ(testenv::readFile(dir + "/again.txt"), c.expected);
  }
}

TEST_F(Editor, ChoosingAStyleAfterLoadingConvertsAnUneditedFile) {
  const QString path = file("conv.txt", "a\r\nb\r\n");
  ASSERT_TRUE(edit.LoadFile(path));
  edit.SetUnixStyleSave(true);
  ASSERT_TRUE(edit.SaveText());
  EXPECT_EQ(testenv::readFile(path), "a\nb\n");
  // The next file loaded is kept as it is again, although Unix is still chosen.
  const QString other = file("keep.txt", "x\r\ny\r\n");
  ASSERT_TRUE(edit.LoadFile(other));
  ASSERT_TRUE(edit.SaveText());
  EXPECT_EQ(testenv::readFile(other), "x\r\ny\r\n");
}

TEST_F(Editor, EditingEightBitTextKeepsTheOtherBytes) {
  const QString path = file("l1.txt", "caf\xe9\n\x01\xff\n");
  ASSERT_TRUE(edit.LoadFile(path));
  edit.SetUnixStyleSave(true);
  edit.setCursorPosition(1, 0);
  edit.insert("ok ");
  ASSERT_TRUE(edit.SaveText());
  EXPECT_EQ(testenv::readFile(path), "caf\xe9\nok \x01\xff\n");
  // Undo back to the loaded text: unchanged again, so saved byte for byte.
  edit.undo();
  EXPECT_FALSE(edit.TextBytes().contains("ok"));
}

TEST_F(Editor, LineCountAndCaretPositionFollowTheControlsCounting) {
  edit.LoadFile(file("lc1.txt", "a\nb\n"));
  EXPECT_EQ(edit.LineCount(), 2);
  edit.LoadFile(file("lc2.txt", "a\nb"));
  EXPECT_EQ(edit.LineCount(), 2);
  edit.LoadFile(file("lc3.txt", "a\rb\r\nc\nd\r"));
  EXPECT_EQ(edit.LineCount(), 4);
  edit.LoadFile(file("lc4.txt", ""));
  EXPECT_EQ(edit.LineCount(), 0);
  edit.LoadFile(file("lc5.txt", "\n"));
  EXPECT_EQ(edit.LineCount(), 1);

  edit.LoadFile(file("pos.txt", "first\n\xc3\xa4\xc3\xb6\xc3\xbc tail\nthird\n"));
  edit.UpdatePosition();
  EXPECT_EQ(edit.EndLine(), 1);
  EXPECT_EQ(edit.EndPos(), 0);
  edit.setSelection(0, 2, 1, 3);  // anchor line 1 col 2, caret after the three umlauts
  edit.UpdatePosition();
  EXPECT_EQ(edit.StartLine(), 1);
  EXPECT_EQ(edit.StartPos(), 2);
  EXPECT_EQ(edit.EndLine(), 2);
  EXPECT_EQ(edit.EndPos(), 3);  // characters, not bytes
}

TEST_F(Editor, ChangeEventsComeAfterLoadingEditingAndCaretMoves) {
  QSignalSpy spy(&edit, &TLEdit::OnChange);
  edit.LoadFile(file("ev.txt", "one\ntwo\nthree\n"));
  EXPECT_EQ(spy.count(), 1);  // one event for the whole load
  // Caret moves are reported when the control updates its view, as it does on screen.
  edit.show();
  spy.clear();
  edit.setCursorPosition(2, 1);
  EXPECT_TRUE(testenv::waitFor([&] { return spy.count() >= 1; }, 3000));
  spy.clear();
  edit.insert("x");
  EXPECT_GE(spy.count(), 1);
  spy.clear();
  edit.NewText();
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(edit.FileName(), "<<untitled>>");
  EXPECT_FALSE(edit.HasFileName());
  EXPECT_EQ(edit.LineCount(), 0);
  EXPECT_FALSE(edit.IsModified());
}

TEST_F(Editor, FailedLoadOrSaveReportsAndKeepsEverything) {
  const QString path = file("keep.txt", "precious\r\n");
  ASSERT_TRUE(edit.LoadFile(path));
  edit.insert("more ");
  QSignalSpy errors(&edit, &TLEdit::errorMessage);

  EXPECT_FALSE(edit.LoadFile(dir + "/missing.txt"));
  EXPECT_EQ(errors.count(), 1);
  EXPECT_TRUE(edit.LastError().contains("missing.txt"));
  EXPECT_FALSE(edit.LoadFile(dir));  // a folder
  QFile huge(dir + "/huge.bin");     // sparse: refused by its size before anything is read
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
  if (huge.resize(TLEdit::MaxFileSize + 1)) {
    huge.close();
    EXPECT_FALSE(edit.LoadFile(huge.fileName()));
    EXPECT_TRUE(edit.LastError().contains("too large"));
  }
  EXPECT_EQ(edit.FileName(), path);
  EXPECT_EQ(edit.TextBytes(), "more precious\r\n");
  EXPECT_TRUE(edit.IsModified());

  EXPECT_FALSE(edit.SaveToFile(dir + "/no/such/folder/x.txt"));
  EXPECT_EQ(edit.FileName(), path);
  EXPECT_TRUE(edit.IsModified());
  EXPECT_EQ(testenv::readFile(path), "precious\r\n");
  EXPECT_FALSE(QFile::exists(dir + "/no"));
}

TEST_F(Editor, FindFindAgainAndReplaceAll) {
  edit.LoadFile(file("f.txt", "alpha beta Alpha\nalphabet alpha\n"));
  EXPECT_TRUE(edit.FindText("alpha", true, true));
  int l1, i1, l2, i2;
  edit.getSelection(&l1, &i1, &l2, &i2);
  EXPECT_EQ(QList<int>({l1, i1, l2, i2}), QList<int>({0, 0, 0, 5}));
  EXPECT_TRUE(edit.FindAgain());  // case and whole word: skips "Alpha" and "alphabet"
  edit.getSelection(&l1, &i1, &l2, &i2);
  EXPECT_EQ(QList<int>({l1, i1}), QList<int>({1, 9}));
  EXPECT_FALSE(edit.FindText("gamma", false, false));

  EXPECT_EQ(edit.ReplaceAll("alpha", "omega", false, false), 4);
  EXPECT_EQ(edit.TextBytes(), "omega beta omega\nomegabet omega\n");
  edit.undo();  // one step undoes them all
  EXPECT_EQ(edit.TextBytes(), "alpha beta Alpha\nalphabet alpha\n");
  EXPECT_EQ(edit.ReplaceAll("alpha", "a", true, true), 2);
  EXPECT_EQ(edit.TextBytes(), "a beta Alpha\nalphabet a\n");
}

TEST_F(Editor, ReplaceAllInEightBitTextUsesLatin1) {
  const QString path = file("r.txt", "caf\xe9 caf\xe9\n");
  edit.LoadFile(path);
  EXPECT_EQ(edit.ReplaceAll(QString::fromLatin1("caf\xe9"), QString::fromLatin1("th\xe9"), true, false), 2);
  EXPECT_EQ(edit.TextBytes(), "th\xe9 th\xe9\n");
}

TEST_F(Editor, PropertiesTabsWrapAndGoToLine) {
  EXPECT_TRUE(edit.WordWrap());
  EXPECT_EQ(edit.wrapMode(), QsciScintilla::WrapWord);
  edit.SetWordWrap(false);
  EXPECT_EQ(edit.wrapMode(), QsciScintilla::WrapNone);
  EXPECT_EQ(edit.TabStopSize(), 6);
  EXPECT_EQ(edit.tabWidth(), 6);
  edit.SetTabStopSize(4);
  EXPECT_EQ(edit.tabWidth(), 4);
  edit.SetTabStopSize(99);
  EXPECT_EQ(edit.TabStopSize(), 40);
  edit.SetTabStopSize(-3);
  EXPECT_EQ(edit.TabStopSize(), 0);
  EXPECT_FALSE(edit.MacStyleSave());
  EXPECT_FALSE(edit.UnixStyleSave());
  EXPECT_EQ(edit.DefaultExt(), "TXT");
  EXPECT_EQ(edit.FileName(), "<<untitled>>");

  QByteArray many;
  for (int i = 1; i <= 500; ++i) many += "line " + QByteArray::number(i) + "\n";
  edit.LoadFile(file("many.txt", many));
  edit.GoToLine(321);
  edit.UpdatePosition();
  EXPECT_EQ(edit.EndLine(), 321);
  EXPECT_EQ(edit.EndPos(), 0);
  edit.GoToLine(100000);  // clamped to the last line
  edit.UpdatePosition();
  EXPECT_EQ(edit.EndLine(), 501);

  // One bookmark: set, moved, jumped to, removed.
  EXPECT_EQ(edit.BookmarkLine(), 0);
  EXPECT_FALSE(edit.GoToBookmark());
  edit.GoToLine(40);
  edit.ToggleBookmark();
  edit.GoToLine(77);
  edit.ToggleBookmark();
  EXPECT_EQ(edit.BookmarkLine(), 77);
  edit.GoToLine(1);
  EXPECT_TRUE(edit.GoToBookmark());
  edit.UpdatePosition();
  EXPECT_EQ(edit.EndLine(), 77);
  edit.ToggleBookmark();
  EXPECT_EQ(edit.BookmarkLine(), 0);
  edit.ToggleBookmark();
  edit.LoadFile(file("next.txt", "x\ny\n"));
  EXPECT_EQ(edit.BookmarkLine(), 0);
}

// A dark desktop palette once left the editor white with the palette's light text on it, so nothing could be
// read: plain text takes the palette's colours, also when the palette changes later and after HTML colouring
// (which keeps its own black and blue on white).
TEST_F(Editor, PlainTextFollowsTheDesktopPalette) {
  QPalette dark = edit.palette();
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
  edit.setPalette(dark);
  EXPECT_TRUE(testenv::waitFor([&] { return edit.paper() == QColor(0x20, 0x20, 0x20); }));
  EXPECT_EQ(edit.color(), QColor(0xe0, 0xe0, 0xe0));
  edit.SetHtmlHighlighting(true);
  EXPECT_EQ(edit.lexer()->defaultPaper(), QColor(Qt::white));
  EXPECT_EQ(edit.lexer()->defaultColor(), QColor(Qt::black));
  edit.SetHtmlHighlighting(false);
  EXPECT_EQ(edit.paper(), QColor(0x20, 0x20, 0x20));
  EXPECT_EQ(edit.color(), QColor(0xe0, 0xe0, 0xe0));
  TLEdit fresh;  // a new editor under a dark application palette
  QPalette appDark = QApplication::palette();
  const QPalette saved = appDark;
  appDark.setColor(QPalette::Base, Qt::black);
  appDark.setColor(QPalette::Text, Qt::white);
  QApplication::setPalette(appDark);
  TLEdit later;
  EXPECT_EQ(later.paper(), QColor(Qt::black));
  EXPECT_EQ(later.color(), QColor(Qt::white));
  EXPECT_TRUE(testenv::waitFor([&] { return fresh.color() == QColor(Qt::white); }));  // made before: follows
  EXPECT_EQ(fresh.paper(), QColor(Qt::black));
  QApplication::setPalette(saved);
  EXPECT_TRUE(testenv::waitFor([&] { return later.color() == saved.color(QPalette::Text); }));
}

TEST(TLEditStatic, Utf8Validation) {
  auto ok = [](const QByteArray &b) { return TLEdit::IsValidUtf8(b.constData(), b.size()); };
  EXPECT_TRUE(ok(""));
  EXPECT_TRUE(ok("plain ascii text that is longer than eight bytes"));
  EXPECT_TRUE(ok("\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80"));
  EXPECT_FALSE(ok("\xc0\xaf"));          // overlong
  EXPECT_FALSE(ok("\xe0\x80\xaf"));      // overlong
  EXPECT_FALSE(ok("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(ok("\xf4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(ok("abcdefgh\xc3"));      // cut short after the fast path
  EXPECT_FALSE(ok("\xe9t\xe9"));         // Latin-1
  // The same, fed in pieces that cut characters anywhere.
  auto inPieces = [](const QByteArray &b, int cut1, int cut2) {
    TLEdit::Utf8Checker c;
    c.feed(b.constData(), cut1);
    c.feed(b.constData() + cut1, cut2 - cut1);
    c.feed(b.constData() + cut2, b.size() - cut2);
    return c.valid();
  };
  const QByteArray good = "a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80z";
  const QByteArray bad = "a\xc3\xa4\xe2\x82\xf0\x9f\x98\x80z";  // the euro sign lost a byte
  for (int i = 0; i <= good.size(); ++i)
    for (int j = i; j <= good.size(); ++j) {
      EXPECT_TRUE(inPieces(good, i, j)) << i << ' ' << j;
      if (j <= bad.size()) {
        EXPECT_FALSE(inPieces(bad, i, j)) << i << ' ' << j;
      }
    }
  EXPECT_FALSE(inPieces("ab\xe2\x82", 1, 3));  // ends inside a character
  EXPECT_EQ(TLEdit::ConvertLineEnds("a\r\nb\rc\n\n", TLEdit::LineEnd::CrLf), "a\r\nb\r\nc\r\n\r\n");
  EXPECT_EQ(TLEdit::ConvertLineEnds("\r\r\n\n", TLEdit::LineEnd::Lf), "\n\n\n");
}

TEST_F(Editor, PrintsTheTextToPdf) {
  if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext missing";
  edit.LoadFile(file("p.txt", "Printed line one\nSecond printed line\n"));
  QsciPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const QString pdf = dir + "/out.pdf";
  printer.setOutputFileName(pdf);
  ASSERT_TRUE(edit.PrintTo(printer));
  QProcess p;
  p.start("pdftotext", {pdf, "-"});
  ASSERT_TRUE(p.waitForFinished(20000));
  const QString text = QString::fromUtf8(p.readAllStandardOutput());
  EXPECT_TRUE(text.contains("Printed line one")) << text.toStdString();
  EXPECT_TRUE(text.contains("Second printed line")) << text.toStdString();
}

namespace {
// A text above the large-text limit: numbered lines, every fifth one long enough to wrap.
QByteArray largeText(int lines) {
  QByteArray out;
  for (int i = 1; i <= lines; ++i) {
    out += "line " + QByteArray::number(i);
    if (i % 5 == 0) out += ' ' + QByteArray(300, 'w');
    out += '\n';
  }
  return out;
}
// A key press followed by the paint that lays out (wraps) the lines now shown.
void press(QWidget *w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent e(QEvent::KeyPress, key, mods);
  QApplication::sendEvent(w, &e);
  QApplication::processEvents();
}
}  // namespace

TEST_F(Editor, LargeWrappedTextMovesTheCaretByKeysAndReportsChanges) {
  QByteArray text = largeText(60000);
  ASSERT_GT(text.size(), TLEdit::LargeTextSize);
  const QString path = file("large.txt", text);
  edit.resize(600, 400);
  edit.show();
  ASSERT_TRUE(edit.LoadFile(path));
  EXPECT_TRUE(edit.IsLargeText());
  EXPECT_TRUE(edit.WordWrap());
  EXPECT_EQ(edit.LineCount(), 60000);

  auto caret = [&] {
    edit.UpdatePosition();
    return std::pair(edit.EndLine(), edit.EndPos());
  };
  edit.GoToLine(20001);
  EXPECT_EQ(caret(), std::pair(20001, 0));
  press(&edit, Qt::Key_Down);
  EXPECT_EQ(caret(), std::pair(20002, 0));
  press(&edit, Qt::Key_Up);
  press(&edit, Qt::Key_Up);
  EXPECT_EQ(caret().first, 20000);  // line 20000 is long: Up from 20001 lands on one of its rows
  press(&edit, Qt::Key_Home);
  EXPECT_EQ(caret(), std::pair(20000, 0));
  press(&edit, Qt::Key_End);
  EXPECT_EQ(caret().first, 20000);
  EXPECT_EQ(caret().second, QByteArray("line 20000 ").size() + 300);
  press(&edit, Qt::Key_Right);
  EXPECT_EQ(caret(), std::pair(20001, 0));
  press(&edit, Qt::Key_Left);
  EXPECT_EQ(caret().first, 20000);
  press(&edit, Qt::Key_Home);
  press(&edit, Qt::Key_Right, Qt::ControlModifier);  // "|line 20000" -> "line |20000"
  EXPECT_EQ(caret(), std::pair(20000, 5));
  press(&edit, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(caret(), std::pair(20000, 11));
  press(&edit, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(caret(), std::pair(20000, 5));
  press(&edit, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(caret(), std::pair(20000, 0));
  press(&edit, Qt::Key_Left, Qt::ControlModifier);  // over the line end into the line before
  EXPECT_EQ(caret().first, 19999);
  press(&edit, Qt::Key_PageDown);
  EXPECT_GT(caret().first, 20001);
  press(&edit, Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(caret(), std::pair(60001, 0));
  press(&edit, Qt::Key_Down);
  EXPECT_EQ(caret(), std::pair(60001, 0));  // nowhere further
  press(&edit, Qt::Key_Up, Qt::ShiftModifier);
  const QString lastLine = "line 60000 " + QString(300, QChar(0x77)) + "\n";
  EXPECT_TRUE(edit.hasSelectedText());
  EXPECT_TRUE(lastLine.endsWith(edit.selectedText())) << edit.selectedText().toStdString();
  press(&edit, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(caret(), std::pair(1, 0));
  EXPECT_FALSE(edit.hasSelectedText());

  // Changes still raise OnChange (through the view's content updates) and save with the chosen style.
  QSignalSpy spy(&edit, &TLEdit::OnChange);
  edit.GoToLine(2);
  spy.clear();
  QKeyEvent typed(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(&edit, &typed);
  EXPECT_TRUE(testenv::waitFor([&] { return spy.count() >= 1; }, 3000));
  EXPECT_TRUE(edit.IsModified());
  edit.SetUnixStyleSave(true);
  ASSERT_TRUE(edit.SaveText());
  text.insert(text.indexOf("line 2\n"), "x");
  EXPECT_EQ(testenv::readFile(path), text);

  // A small text afterwards is a normal one again.
  edit.LoadFile(file("small.txt", "a\nb\n"));
  EXPECT_FALSE(edit.IsLargeText());
  press(&edit, Qt::Key_Down);
  EXPECT_EQ(caret(), std::pair(2, 0));
}

namespace {
// Answers the next file dialog as a user would, from inside its modal loop; repeats the answer until the
// dialog has closed (it may ignore an answer given while it is still filling its folder view).
void answerFileDialog(std::function<void(QFileDialog *)> answer) {
  auto *timer = new QTimer;
  auto answered = std::make_shared<QPointer<QFileDialog>>();
  auto ticks = std::make_shared<int>(0);
  auto once = std::make_shared<bool>(false);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, answered, ticks, once] {
    QFileDialog *dialog = *answered;
    if (!*once)
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible()) dialog = d;
    if (dialog && dialog->isVisible()) {
      *answered = dialog;
      *once = true;
      answer(dialog);
    } else if (*once || ++*ticks > 200) {  // answered and closed, or never came
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(100);
}
}  // namespace

TEST_F(Editor, SaveTextAsAsksForANameAndAddsTheDefaultExtension) {
  edit.NewText();
  edit.insert("fresh text");
  answerFileDialog([&](QFileDialog *dialog) {
    dialog->setDirectory(dir);
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText("named");  // typed without extension
    QMetaObject::invokeMethod(dialog, "accept");
  });
  ASSERT_TRUE(edit.SaveText());  // untitled: SaveText asks
  EXPECT_EQ(edit.FileName(), dir + "/named.txt");
  EXPECT_EQ(testenv::readFile(dir + "/named.txt"), "fresh text");
  EXPECT_FALSE(edit.IsModified());

  // Cancelling the dialog saves nothing and keeps the text modified.
  edit.insert("more ");
  answerFileDialog([](QFileDialog *dialog) { dialog->reject(); });
  EXPECT_FALSE(edit.SaveTextAs());
  EXPECT_TRUE(edit.IsModified());
  EXPECT_EQ(testenv::readFile(dir + "/named.txt"), "fresh text");
}

TEST_F(Editor, FindDialogFindsAndReplacesOneAtATime) {
  edit.LoadFile(file("fd.txt", "cat dog cat bird cat\n"));
  edit.FindDialog();
  auto *dialog = edit.findChild<TLEditFindDialog *>();
  ASSERT_NE(dialog, nullptr);
  dialog->findEdit()->setText("cat");
  dialog->replaceEdit()->setText("cow");
  dialog->findNext();
  EXPECT_EQ(edit.selectedText(), "cat");
  dialog->replaceOne();  // replaces the selected match and selects the next one
  EXPECT_EQ(edit.TextBytes(), "cow dog cat bird cat\n");
  EXPECT_EQ(edit.selectedText(), "cat");
  dialog->replaceAll();
  EXPECT_EQ(edit.TextBytes(), "cow dog cow bird cow\n");
  EXPECT_EQ(dialog->statusLabel()->text(), "2 replacement(s) made");
  dialog->findEdit()->setText("zebra");
  dialog->findNext();
  EXPECT_TRUE(dialog->statusLabel()->text().contains("not found"));
}

TEST_F(Editor, SourceCodeIsColouredByItsNameAndSavedByteForByte) {
  const QList<QPair<const char *, const char *>> names = {{"a.c", "cpp"},
                                                          {"A.HPP", "cpp"},
                                                          {"s.py", "python"},
                                                          {"x.ts", "javascript"},
                                                          {"M.java", "java"},
                                                          {"run.sh", "bash"},
                                                          {"CMakeLists.txt", "cmake"},
                                                          {"x.cmake", "cmake"},
                                                          {"Makefile", "makefile"},
                                                          {"rules.mk", "makefile"},
                                                          {"p.xml", "xml"},
                                                          {"s.css", "css"},
                                                          {"q.sql", "sql"},
                                                          {"d.json", "json"},
                                                          {"c.yml", "yaml"},
                                                          {"fix.patch", "diff"},
                                                          {"unit1.pas", "pascal"},
                                                          {"notes.txt", ""},
                                                          {"README", ""},
                                                          {".bashrc", ""},
                                                          {"archive.tar.gz", ""}};
  for (const auto &[name, syntax] : names) EXPECT_EQ(TLEdit::SyntaxFor(QString("/x/") + name), syntax) << name;

  // A Python file with CR LF ends and a byte that is no UTF-8: coloured, and every byte kept.
  const QByteArray bytes = "def f(x):\r\n    return 'caf\xe9'  # note\r\n";
  const QString path = file("code.py", bytes);
  ASSERT_TRUE(edit.LoadFile(path));
  edit.SetSyntaxFor(path);
  ASSERT_NE(edit.lexer(), nullptr);
  EXPECT_STREQ(edit.lexer()->language(), "Python");
  EXPECT_EQ(edit.lexer()->font(QsciLexerPython::Comment).family(), edit.Font().family()) << "the user's font stays";
  edit.SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
  const long keyword = edit.SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, 0UL);
  const long comment = edit.SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, (unsigned long)bytes.indexOf('#'));
  EXPECT_EQ(keyword, long(QsciLexerPython::Keyword));
  EXPECT_NE(comment, keyword);
  EXPECT_EQ(edit.TextBytes(), bytes);
  EXPECT_FALSE(edit.IsModified());
  ASSERT_TRUE(edit.SaveToFile(dir + "/copy.py"));
  EXPECT_EQ(testenv::readFile(dir + "/copy.py"), bytes);

  // A plain name takes the colouring away again, as does a new text; a large text is never lexed.
  edit.SetSyntaxFor(dir + "/notes.txt");
  EXPECT_EQ(edit.lexer(), nullptr);
  edit.SetSyntaxFor(path);
  edit.NewText();
  EXPECT_EQ(edit.lexer(), nullptr);
  const QString large = file("large.c", QByteArray(TLEdit::LargeTextSize + 10, 'x'));
  ASSERT_TRUE(edit.LoadFile(large));
  edit.SetSyntaxFor(large);
  EXPECT_EQ(edit.lexer(), nullptr);
}
