// The MP3 tag editor and the calculator windows offscreen, driven with clicks and keys; their hosts answer
// the questions and record the messages.
#include "tools/calchost.h"
#include "tools/calculator.h"
#include "tools/mp3host.h"
#include "tools/mp3tageditor.h"
#include "tests/common/testenv.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <gtest/gtest.h>
#include <ostream>

namespace {

class TestMp3Host : public TMp3Host {
 public:
  bool answer = true;
  QStringList asked, errors;
  bool askYesNo(QWidget *, const QString &text) override {
    asked << text;
    return answer;
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
};

QByteArray audio() {
  QByteArray a;
  for (int i = 0; i < 4000; ++i) a += char(i * 7 + 3);
  return a;
}

QByteArray record(const QByteArray &title, quint8 genre, const QByteArray &comment = {}) {
  QByteArray b(128, '\0');
  b.replace(0, 3, "TAG");
  b.replace(3, title.size(), title);
  b.replace(97, comment.size(), comment);
  b[127] = char(genre);
  return b;
}

// Runs EditTag on path; act works on the shown editor (it must close it).
int editTag(TMp3Host &host, const QString &path, const std::function<void(TMP3TagEditor *)> &act, bool autoSave = true) {
  TMP3Tag tag;
  tag.EditAutoSave = autoSave;
  tag.setFilename(path);
  testenv::ModalWatcher watch([&](QWidget *w) {
    if (auto *e = qobject_cast<TMP3TagEditor *>(w)) act(e);
  });
  return TMP3TagEditor::EditTag(tag, host, nullptr);
}

TEST(Mp3TagEditor, ShowsTheTagAndSavesWhatWasEdited) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/song.mp3", audio() + record("Old title", 85, "A comment"));
  TestMp3Host host;
  int result = editTag(host, path, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->windowTitle(), "Tarnwick - MP3 Tag Editor");
    EXPECT_TRUE(e->isModal());
    EXPECT_EQ(e->Edit1->text(), "Old title");
    EXPECT_EQ(e->Edit5->text(), "A comment");
    EXPECT_EQ(e->cb1->currentText(), "Bebob");
    EXPECT_EQ(e->cb1->count(), 116);
    EXPECT_EQ(e->Edit6->text(), e->Mp3Tag.Filename());
    EXPECT_TRUE(e->Edit6->isReadOnly());
    EXPECT_EQ(e->Marquee->text(), e->Mp3Tag.Filename());
    EXPECT_EQ(e->Edit1->maxLength(), 30);
    // The year takes digits only, four at most; Backspace corrects it.
    e->Edit4->setFocus();
    QTest::keyClicks(e->Edit4, "ab19x99");
    EXPECT_EQ(e->Edit4->text(), "1999");
    QTest::keyClicks(e->Edit4, "7");
    EXPECT_EQ(e->Edit4->text(), "1999");
    QTest::keyClick(e->Edit4, Qt::Key_Backspace);
    QTest::keyClicks(e->Edit4, "8");
    EXPECT_EQ(e->Edit4->text(), "1998");
    e->Edit1->setText("New title");
    e->cb1->setCurrentIndex(114);
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(result, 1);
  QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), audio().size() + 128);
  EXPECT_EQ(bytes.left(audio().size()), audio());
  EXPECT_EQ(bytes.mid(audio().size() + 3, 10), QByteArray("New title\0", 10));
  EXPECT_EQ(bytes.mid(audio().size() + 93, 4), "1998");
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 114);
  EXPECT_TRUE(host.errors.isEmpty());

  // Cancel and the close box change nothing.
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Cancelled");
    QTest::mouseClick(e->Button3, Qt::LeftButton);
  });
  EXPECT_EQ(result, 0);
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Closed");
    e->close();
  });
  EXPECT_EQ(result, 0);
  // With EditAutoSave off, Save only answers 1.
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Not saved");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  }, false);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(testenv::readFile(path), bytes);
}

TEST(Mp3TagEditor, UntaggedFilesAndUnknownGenres) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/no tag at all.mp3", audio());
  TestMp3Host host;
  editTag(host, path, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->Edit1->text(), "no tag at all.mp3");
    EXPECT_EQ(e->Edit2->text(), "");
    EXPECT_EQ(e->cb1->currentText(), "Other");
    EXPECT_FALSE(e->Button4->isEnabled());
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), audio().size() + 128);
  EXPECT_EQ(bytes.mid(audio().size() + 3, 17), "no tag at all.mp3");
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 12);

  // Genre 255 shows no genre, and saving without choosing one keeps 255; a track number hidden behind the
  // comment's zero byte survives a save that did not touch the comment.
  const QString odd = testenv::writeFile(dir + "/odd.mp3", audio() + record("Odd", 255, QByteArray(29, '\0') + "\x05"));
  editTag(host, odd, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->cb1->currentIndex(), -1);
    e->Edit2->setText("Someone");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  bytes = testenv::readFile(odd);
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 255);
  EXPECT_EQ(bytes.at(bytes.size() - 2), '\x05');
  EXPECT_EQ(bytes.mid(audio().size() + 33, 7), "Someone");
}

// Text an ID3v1 tag cannot hold is named before the save: No goes back to the editor with nothing written,
// Yes saves it with "?" for each such character. A genre number the list does not name (116, Ballad to
// other tools) stays as it was when no genre is chosen.
TEST(Mp3TagEditor, TextTheTagCannotHoldWarnsFirstAndUnknownGenresStay) {
  const QString dir = testenv::makeDir("mp3ed");
  const QByteArray original = audio() + record("Old", 116);
  const QString path = testenv::writeFile(dir + "/song.mp3", original);
  TestMp3Host host;
  host.answer = false;
  bool stillOpen = false;
  QByteArray afterNo;
  const int result = editTag(host, path, [&](TMP3TagEditor *e) {
    EXPECT_EQ(e->cb1->currentIndex(), -1);
    e->Edit1->setText(QString::fromUtf8("Привет"));
    e->Edit3->setText(QString::fromUtf8("Café"));  // Latin-1: stored as it is
    QTest::mouseClick(e->Button2, Qt::LeftButton);
    stillOpen = e->isVisible();
    afterNo = testenv::readFile(path);
    host.answer = true;
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_TRUE(stillOpen) << "No must go back to the editor";
  EXPECT_EQ(afterNo, original);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(host.asked.size(), 2);
  EXPECT_TRUE(host.asked[0].contains(QString::fromUtf8("Title: \"Привет\" is saved as \"??????\""))) << host.asked[0].toStdString();
  EXPECT_FALSE(host.asked[0].contains("Album")) << host.asked[0].toStdString();
  const QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), original.size());
  EXPECT_EQ(bytes.mid(audio().size() + 3, 7), QByteArray("??????\0", 7));
  EXPECT_EQ(bytes.mid(audio().size() + 63, 5), QByteArray("Caf\xe9\0", 5));
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 116);
  EXPECT_TRUE(host.errors.isEmpty());
}

TEST(Mp3TagEditor, RemoveTagAsksFirstAndFailedSavesAreShown) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/song.mp3", audio() + record("Keep me", 3));
  TestMp3Host host;
  host.answer = false;
  bool stillOpen = false;
  int result = editTag(host, path, [&](TMP3TagEditor *e) {
    EXPECT_EQ(e->Button4->text(), "Remove Tag");
    QTest::mouseClick(e->Button4, Qt::LeftButton);
    stillOpen = e->isVisible();
    QTest::mouseClick(e->Button3, Qt::LeftButton);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(host.asked.size(), 1);
  EXPECT_TRUE(host.asked.at(0).contains(path)) << host.asked.at(0).toStdString();
  EXPECT_EQ(testenv::readFile(path).size(), audio().size() + 128);

  host.answer = true;
  result = editTag(host, path, [](TMP3TagEditor *e) { QTest::mouseClick(e->Button4, Qt::LeftButton); });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(testenv::readFile(path), audio());
  EXPECT_TRUE(host.errors.isEmpty());

  // A file too small for a tag, and one that went away while the editor was open: the user is told.
  const QString small = testenv::writeFile(dir + "/small.mp3", "tiny");
  editTag(host, small, [](TMP3TagEditor *e) {
    e->Edit1->setText("Title");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(host.errors, QStringList{"File too small to be a MP3 file!"});
  EXPECT_EQ(testenv::readFile(small), "tiny");
  const QString gone = testenv::writeFile(dir + "/gone.mp3", audio());
  editTag(host, gone, [&](TMP3TagEditor *e) {
    QFile::remove(gone);
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(host.errors.value(1), "File does not exist!");
  EXPECT_FALSE(QFile::exists(gone));
}

TEST(Mp3TagEditor, TheMarqueeMovesAndPauses) {
  TMp3Marquee m;
  m.setText("/music/a file name that does not fit.mp3");
  m.resize(m.fontMetrics().horizontalAdvance(m.text()) + 4 - 6, 18);  // six pixels too narrow
  m.show();
  m.start();
  EXPECT_EQ(m.offset(), 0);
  // It moves a pixel at a time to the end, stays there about 3 s and starts again from the first character.
  ASSERT_TRUE(testenv::waitFor([&] { return m.offset() == 6; }, 3000));
  QElapsedTimer paused;
  paused.start();
  ASSERT_TRUE(testenv::waitFor([&] { return m.offset() != 6; }, 6000));
  EXPECT_GE(paused.elapsed(), 2800);
  EXPECT_EQ(m.offset(), 0);
}

class TestCalcHost : public TCalcHost {
 public:
  QString pdf;  // print into this file when set; cancel the dialog otherwise
  QStringList errors;
  bool choosePrinter(QWidget *, QPrinter &printer) override {
    if (pdf.isEmpty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return true;
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
};

class CalculatorWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(TTheCalculator::tapeFile());
    item = std::make_unique<QAction>("Calcula&tor");
    button = std::make_unique<QToolButton>();
  }
  void TearDown() override {
    delete TTheCalculator::instance();
    QFile::remove(TTheCalculator::tapeFile());
  }
  TTheCalculator *open() {
    TTheCalculator *c = TTheCalculator::open(nullptr, host, item.get(), button.get());
    EXPECT_TRUE(QTest::qWaitForWindowExposed(c));
    return c;
  }
  void click(TTheCalculator *c, const char *name) {
    auto *b = c->findChild<QPushButton *>(QString::fromLatin1(name));
    ASSERT_TRUE(b) << name;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  QString tapeText(TTheCalculator *c) { return c->ScreenTicket->toPlainText(); }
  TestCalcHost host;
  std::unique_ptr<QAction> item;
  std::unique_ptr<QToolButton> button;
};

TEST_F(CalculatorWindow, ButtonsAndKeysReachTheArithmetic) {
  TTheCalculator *c = open();
  EXPECT_EQ(c->windowTitle(), "Tarnwick - Calculator");
  EXPECT_EQ(c->size(), QSize(272, 356));
  EXPECT_TRUE(c->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(c->Display->text(), "0.00 ");
  EXPECT_FALSE(c->Button_MR->isEnabled());
  for (const char *b : {"Button_2", "Button_Plus", "Button_3", "Button_Total"}) click(c, b);
  EXPECT_EQ(c->Display->text(), "5.00 ");
  EXPECT_EQ(tapeText(c), "       2.00   \n       3.00  +\n       5.00  =\n--------------");
  // The buttons keep no focus: the keyboard goes on working in the window.
  EXPECT_FALSE(QApplication::focusWidget() && QApplication::focusWidget() != c);

  // Keys: Enter is "=", Ctrl+L is C, Backspace, lower-case letters upper-cased and ignored.
  QTest::keyClicks(c, "12*3");
  QTest::keyClick(c, Qt::Key_Return);
  EXPECT_EQ(c->Display->text(), "36.00 ");
  QTest::keyClicks(c, "47");
  QTest::keyClick(c, Qt::Key_Backspace);
  EXPECT_EQ(c->engine().entryText(), "4");
  QTest::keyClick(c, Qt::Key_L, Qt::ControlModifier);
  QTest::keyClick(c, Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(c->tape().mid(c->tape().size() - 2), QStringList({"             C", "--------------"}));
  EXPECT_EQ(c->Display->text(), "0.00 ");

  // Memory: M+ by Ctrl+D enables MR and MC; MR on the button; MC by Ctrl+B disables them again.
  QTest::keyClicks(c, "5");
  QTest::keyClick(c, Qt::Key_D, Qt::ControlModifier);
  EXPECT_TRUE(c->Button_MR->isEnabled());
  EXPECT_TRUE(c->Button_MC->isEnabled());
  click(c, "Button_MR");
  QTest::keyClicks(c, "+3=");
  EXPECT_EQ(c->Display->text(), "8.00 ");
  QTest::keyClick(c, Qt::Key_B, Qt::ControlModifier);
  EXPECT_FALSE(c->Button_MR->isEnabled());
  EXPECT_EQ(c->tape().last(), "            MC");
}

TEST_F(CalculatorWindow, DecimalsOptionMode) {
  TTheCalculator *c = open();
  QTest::keyClicks(c, "2/3=");
  EXPECT_EQ(c->Display->text(), "0.67 ");
  QTest::keyClick(c, Qt::Key_Tab);
  ASSERT_TRUE(c->optionMode());
  EXPECT_FALSE(c->Display->isVisible());
  EXPECT_TRUE(c->Label1->isVisible());
  EXPECT_EQ(c->Edit1->text(), "2");
  // The box has the keyboard: digits go into it, not into the calculator.
  QTest::keyClicks(QApplication::focusWidget(), "5");
  EXPECT_EQ(c->Edit1->text(), "5");
  EXPECT_EQ(c->engine().entryText(), "");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_FALSE(c->optionMode());
  EXPECT_TRUE(c->Display->isVisible());
  EXPECT_EQ(c->engine().decimals(), 5);
  EXPECT_EQ(c->Display->text(), "0.66667 ");
  // The Opt button does the same; the up-down stops at 7.
  click(c, "Button_Opt");
  ASSERT_TRUE(c->optionMode());
  c->UpDown1->setValue(9);
  EXPECT_EQ(c->UpDown1->value(), 7);
  click(c, "Button_Opt");
  EXPECT_EQ(c->engine().decimals(), 7);
}

TEST_F(CalculatorWindow, TheTapeIsSavedLoadedClearedAndPrinted) {
  TTheCalculator *c = open();
  QTest::keyClicks(c, "2+3=");
  click(c, "Button_Use");
  EXPECT_TRUE(host.errors.isEmpty());
  const QByteArray saved = testenv::readFile(TTheCalculator::tapeFile());
  EXPECT_EQ(saved, "       2.00   \n       3.00  +\n       5.00  =\n--------------\n");
  // Clear Display empties the tape, not the calculation ("+" after "=" takes the last operand, 3).
  click(c, "Clear_But");
  EXPECT_EQ(tapeText(c), "");
  EXPECT_TRUE(c->tape().isEmpty());
  QTest::keyClicks(c, "+1=");
  EXPECT_EQ(c->Display->text(), "4.00 ");

  // Printing: the tape's lines, one per line.
  const bool canReadPdf = !QStandardPaths::findExecutable("pdftotext").isEmpty();
  if (canReadPdf) {
    host.pdf = testenv::makeDir("print") + "/tape.pdf";
    QTest::keyClick(c, Qt::Key_G, Qt::ControlModifier);
    QProcess p;
    p.start("pdftotext", {"-layout", host.pdf, "-"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(text.contains("4.00 =")) << text.toStdString();
    EXPECT_TRUE(text.contains("1.00 +")) << text.toStdString();
  }
  // The window closes without saving; a new one starts with the saved tape.
  QTest::keyClick(c, Qt::Key_Escape);
  ASSERT_TRUE(testenv::waitFor([] { return !TTheCalculator::instance(); }));
  c = open();
  EXPECT_EQ(c->tape(), QStringList({"       2.00   ", "       3.00  +", "       5.00  =", "--------------"}));
  EXPECT_EQ(c->Display->text(), "0.00 ");

  // A save that cannot be written is reported and leaves the last good file.
  QTest::keyClicks(c, "7=");
  testenv::DiskFullAbove full(saved.size() + 10);
  if (!full.ok()) GTEST_SKIP() << "no file size limit here";
  click(c, "Button_Use");
  ASSERT_EQ(host.errors.size(), 1);
  EXPECT_TRUE(host.errors.at(0).startsWith("The tape could not be saved")) << host.errors.at(0).toStdString();
  EXPECT_EQ(testenv::readFile(TTheCalculator::tapeFile()), saved);
  if (!canReadPdf) GTEST_SKIP() << "pdftotext is not installed: the printed tape was not checked";
}

TEST_F(CalculatorWindow, OneAtATimeWithItsItemAndButtonDisabled) {
  TTheCalculator *c = open();
  EXPECT_FALSE(item->isEnabled());
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(TTheCalculator::open(nullptr, host, item.get(), button.get()), c);
  QTest::keyClick(c, Qt::Key_A, Qt::ControlModifier);
  ASSERT_TRUE(testenv::waitFor([] { return !TTheCalculator::instance(); }));
  EXPECT_TRUE(item->isEnabled());
  EXPECT_TRUE(button->isEnabled());
  c = open();
  click(c, "Button_Quit");
  ASSERT_TRUE(testenv::waitFor([] { return !TTheCalculator::instance(); }));
  EXPECT_TRUE(item->isEnabled());
  // The close box too.
  c = open();
  c->close();
  ASSERT_TRUE(testenv::waitFor([] { return !TTheCalculator::instance(); }));
  EXPECT_TRUE(button->isEnabled());
}

}  // namespace
