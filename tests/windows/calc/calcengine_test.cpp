// The calculator's arithmetic: key sequences with the tape they print and the display they leave.
#include "windows/calc/calcengine.h"

#include <gtest/gtest.h>
#include <ostream>

namespace {

// Keys as typed: "C" is the clear key (12), "<" Backspace, "R" MR, "P" M+, "N" M-, "K" MC, "E" Enter.
TCalcEngine::Result type(TCalcEngine &c, const char *keys, QStringList *tape = nullptr) {
  TCalcEngine::Result last;
  for (const char *k = keys; *k; ++k) {
    int code = *k;
    switch (*k) {
      case ' ': continue;
      case 'C': code = 12; break;
      case '<': code = 8; break;
      case 'R': code = 3; break;
      case 'P': code = 4; break;
      case 'N': code = 5; break;
      case 'K': code = 2; break;
      case 'E': code = 13; break;
    }
    last = c.press(code);
    if (tape) *tape << last.lines;
  }
  return last;
}

QString dashes() { return QString(14, '-'); }

struct Case {
  const char *keys;
  const char *display;
  QStringList tape;  // every line the keys print
};

TEST(CalcEngine, KeySequencesPrintTheTapeAndShowTheResult) {
  const Case cases[] = {
      {"2+3=", "5.00 ", {"       2.00   ", "       3.00  +", "       5.00  =", dashes()}},
      {"8/0=", "Error", {"       8.00   ", "       0.00  /", "       Error =", dashes()}},
      // A second operator in a row works on the last operand again: 5 is added twice.
      {"5++", "10.00 ", {"       5.00   ", "       5.00  +"}},
      // "=" then "+": the last operand (3), not the result, becomes the accumulator.
      {"2+3=+", "3.00 ", {"       2.00   ", "       3.00  +", "       5.00  =", dashes(), "       3.00   "}},
      {"200+10%", "220.00 ", {"     200.00   ", "      10.00 %+", "     220.00 %=", dashes()}},
      {"200*10%", "20.00 ", {"     200.00   ", "      10.00 %*", "      20.00 %=", dashes()}},
      {"200-10%", "180.00 ", {"     200.00   ", "      10.00 %-", "     180.00 %=", dashes()}},
      {"50/25%", "0.02 ", {"      50.00   ", "      25.00 %/", "       0.02 %=", dashes()}},
      {"7%", "7.00 ", {"       7.00 % ", "       7.00 %=", dashes()}},
      // C once keeps the pending operation, twice clears everything and prints C.
      {"2+C3=", "5.00 ", {"       2.00   ", "       3.00  +", "       5.00  =", dashes()}},
      {"2+CC3=", "3.00 ", {"       2.00   ", "             C", dashes(), "       3.00   ", "       3.00  =", dashes()}},
      {"5P K", "5.00 ", {"       5.00 M+", "            MC"}},
      {"5PR+3=", "8.00 ", {"       5.00 M+", "       5.00 MR", "       5.00   ", "       3.00  +", "       8.00  =", dashes()}},
      {"10-4*2=", "12.00 ", {"      10.00   ", "       4.00  -", "       2.00  *", "      12.00  =", dashes()}},
      // Lines longer than the tape stay whole.
      {"1234567*1000=", "1,234,567,000.00 ",
       {"1,234,567.00   ", "   1,000.00  *", "1,234,567,000.00  =", dashes()}},
      {"0-5.5E", "-5.50 ", {"       0.00   ", "       5.50  -", "      -5.50  =", dashes()}},
  };
  for (const Case &c : cases) {
    TCalcEngine calc;
    QStringList tape;
    type(calc, c.keys, &tape);
    EXPECT_EQ(calc.displayText(), c.display) << c.keys;
    EXPECT_EQ(tape, c.tape) << c.keys;
  }
}

TEST(CalcEngine, EntryDigitsDecimalsAndBackspace) {
  TCalcEngine c;
  EXPECT_EQ(c.displayText(), "0.00 ");
  type(c, "1.239");  // with 2 decimals the 9 is refused
  EXPECT_EQ(c.entryText(), "1.23");
  EXPECT_EQ(c.displayText(), "1.23 ");
  type(c, "<");  // a refused digit was not counted: one more decimal may follow the Backspace
  type(c, "7");
  EXPECT_EQ(c.entryText(), "1.27");
  type(c, "<<");  // Backspace on a trailing separator removes only the separator, and allows one again
  EXPECT_EQ(c.entryText(), "1.");
  type(c, "<");
  EXPECT_EQ(c.entryText(), "1");
  type(c, ".5.");  // a second separator is ignored
  EXPECT_EQ(c.entryText(), "1.5");
  EXPECT_DOUBLE_EQ(c.entryValue(), 1.5);

  // An entry holds up to 15 characters; the display keeps 14 significant digits.
  TCalcEngine l;
  type(l, "11111111111111199");
  EXPECT_EQ(l.entryText(), "111111111111111");
  EXPECT_EQ(l.displayText(), "111,111,111,111,110.00 ");
  type(l, "<");
  EXPECT_EQ(l.displayText(), "11,111,111,111,111.00 ");

  // A separator typed first means "0.", so the entry always has a value.
  TCalcEngine s;
  type(s, ".");
  EXPECT_EQ(s.entryText(), "0.");
  EXPECT_EQ(s.displayText(), "0.00 ");
  type(s, "5+1=");
  EXPECT_EQ(s.displayText(), "1.50 ");

  // Backspace on an empty entry shows 0 and changes nothing else.
  TCalcEngine b;
  type(b, "9+<");
  EXPECT_EQ(b.displayText(), "0.00 ");
  type(b, "1=");
  EXPECT_EQ(b.displayText(), "10.00 ");

  // Upper-casing and ignored characters: "x", blanks and letters do nothing; Enter is "=".
  TCalcEngine u;
  type(u, "4*x2E");
  EXPECT_EQ(u.displayText(), "8.00 ");
}

TEST(CalcEngine, MemoryKeysAndTheirButtons) {
  TCalcEngine c;
  EXPECT_FALSE(c.memoryKeysEnabled());
  type(c, "5P");
  EXPECT_TRUE(c.memoryKeysEnabled());
  EXPECT_DOUBLE_EQ(c.memory(), 5);
  type(c, "2N");
  EXPECT_DOUBLE_EQ(c.memory(), 3);
  // The recalled value is a whole operand: the next digit starts a new number.
  type(c, "R4");
  EXPECT_EQ(c.entryText(), "4");
  type(c, "3N");
  EXPECT_DOUBLE_EQ(c.memory(), -40);  // 3 - 43: the 4 followed by the 3 typed
  EXPECT_TRUE(c.memoryKeysEnabled());
  QStringList tape;
  type(c, "K", &tape);
  EXPECT_EQ(tape, QStringList{"            MC"});
  EXPECT_FALSE(c.memoryKeysEnabled());
  EXPECT_DOUBLE_EQ(c.memory(), 0);
  // Clearing everything keeps the memory.
  type(c, "6PCC");
  EXPECT_DOUBLE_EQ(c.memory(), 6);
  EXPECT_TRUE(c.memoryKeysEnabled());
}

TEST(CalcEngine, NothingThatIsNoNumberReachesTheTape) {
  // Percent of a division by zero, an overflow, and M+ of an error: "Error" and 0, never nan or inf.
  // 99999999999999 multiplied by itself again and again ("*" in a row repeats the last operand) overflows.
  const char *sequences[] = {"50/0%", "99999999999999***********************+1=", "8/0=P+1="};
  for (const char *keys : sequences) {
    TCalcEngine c;
    QStringList tape;
    type(c, keys, &tape);
    for (const QString &line : tape) {
      EXPECT_FALSE(line.contains("nan", Qt::CaseInsensitive)) << keys << line.toStdString();
      EXPECT_FALSE(line.contains("inf", Qt::CaseInsensitive)) << keys << line.toStdString();
    }
    EXPECT_FALSE(c.displayText().contains("nan", Qt::CaseInsensitive)) << keys;
    EXPECT_FALSE(c.displayText().contains("inf", Qt::CaseInsensitive)) << keys;
  }
  TCalcEngine o;
  type(o, "99999999999999*");
  int stars = 1;
  while (o.displayText() != "Error" && stars < 40) {
    type(o, "*");
    ++stars;
  }
  EXPECT_EQ(stars, 23);  // 1e14 to the 23rd power is beyond the largest double
  EXPECT_DOUBLE_EQ(o.accumulator(), 0);
  TCalcEngine p;
  type(p, "50/0%");
  EXPECT_EQ(p.displayText(), "Error");
  type(p, "+2=");  // the error stood for 0
  EXPECT_EQ(p.displayText(), "2.00 ");
  TCalcEngine m;
  type(m, "8/0=P");
  EXPECT_DOUBLE_EQ(m.memory(), 0);
  EXPECT_FALSE(m.memoryKeysEnabled());
  type(m, "3+");
  EXPECT_DOUBLE_EQ(m.accumulator(), 3);
}

TEST(CalcEngine, DecimalsSettingAndFormat) {
  TCalcEngine c;
  type(c, "2/3=");
  EXPECT_EQ(c.displayText(), "0.67 ");
  EXPECT_TRUE(c.setDecimalsText("5"));
  EXPECT_EQ(c.displayText(), "0.66667 ");
  for (const char *bad : {"", "x", "8", "-1", "2.5"}) {
    EXPECT_FALSE(c.setDecimalsText(bad)) << bad;
    EXPECT_EQ(c.decimals(), 5) << bad;
  }
  EXPECT_TRUE(c.setDecimalsText("0"));
  EXPECT_EQ(c.format(2.5), "3 ");
  EXPECT_EQ(c.format(-0.4), "0 ");  // no "-0"
  EXPECT_EQ(c.format(999.5), "1,000 ");
  EXPECT_EQ(c.format(1e20), "1e+20 ");
  ASSERT_TRUE(c.setDecimalsText("2"));
  EXPECT_EQ(c.format(2.675), "2.68 ");  // rounded in decimal, as on paper
  EXPECT_EQ(c.format(-1234.5), "-1,234.50 ");
  EXPECT_EQ(c.format(0.001), "0.00 ");
  ASSERT_TRUE(c.setDecimalsText("7"));
  // At most 14 significant digits: the digits beyond are shown as zeros.
  EXPECT_EQ(c.format(123456789.123456789), "123,456,789.1234600 ");
  // Typing into a smaller setting refuses digits beyond it.
  ASSERT_TRUE(c.setDecimalsText("0"));
  type(c, "1.5");
  EXPECT_EQ(c.entryText(), "1.");

  // Another locale's separators.
  TCalcEngine de(QLatin1Char(','), QLatin1Char('.'));
  type(de, "1234.5*2=");
  EXPECT_EQ(de.displayText(), "2.469,00 ");
  EXPECT_EQ(de.entryText(), "");

  // Tape lines are right-aligned to 14; longer lines stay whole.
  EXPECT_EQ(c.tapeLine("MC"), "            MC");
  EXPECT_EQ(c.tapeLine("123456789012345678"), "123456789012345678");
}

TEST(CalcEngine, WindowCommands) {
  TCalcEngine c;
  EXPECT_EQ(c.press(7).command, CalcCommand::Print);
  EXPECT_EQ(c.press(9).command, CalcCommand::Options);
  EXPECT_EQ(c.press(27).command, CalcCommand::Close);
  EXPECT_EQ(c.press(1).command, CalcCommand::Close);
  EXPECT_EQ(c.press('5').command, CalcCommand::None);
}

}  // namespace
