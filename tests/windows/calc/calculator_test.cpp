// The calculator window offscreen, driven with clicks and keys; its host answers the questions and records
// the messages.
#include "windows/calc/calchost.h"
#include "windows/calc/calculator.h"
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
