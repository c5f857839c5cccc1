#pragma once
// The calculator's arithmetic in the manner of a printing adding machine, without widgets: keys in, the
// display text and the tape lines out. Every operand is printed with the operator applied to it; a second
// operator in a row works on the last operand again ("5 + +" adds 5 twice). A result that is no number
// (division by zero, overflow) shows "Error" and leaves 0, so the tape never holds "nan" or "inf".
#include <QChar>
#include <QString>
#include <QStringList>

// Keys the calculator's window carries out itself.
enum class CalcCommand { None, Print, Options, Close };

class TCalcEngine {
 public:
  // The decimal separator typed by "." and the thousands separator of the display.
  explicit TCalcEngine(QChar decimalPoint = QLatin1Char('.'), QChar groupSeparator = QLatin1Char(','));

  struct Result {
    QStringList lines;  // tape lines written by this key, already right-aligned
    CalcCommand command = CalcCommand::None;
  };
  // One key: a typed character or a button's code ("0"-"9", ".", + - * / = %, Enter 13, Backspace 8,
  // C 12, MC 2, MR 3, M+ 4, M- 5, print 7, options 9, quit 27 and 1). Letters count upper-cased.
  Result press(int code);

  QString displayText() const { return display_; }
  // MR and MC are usable exactly when the memory holds something other than 0.
  bool memoryKeysEnabled() const { return memoryKeys_; }
  int decimals() const { return decimals_; }
  // The decimals setting from its edit box: 0 to 7; any other text keeps the setting (false). The display
  // shows its value again with the new setting.
  bool setDecimalsText(const QString &text);
  int width() const { return width_; }

  double accumulator() const { return a_; }
  double memory() const { return m_; }
  double entryValue() const { return e_; }
  QString entryText() const { return entry_; }

  // v as the display shows it: thousands separators, the decimals setting, at most 14 significant digits,
  // then one blank.
  QString format(double v) const;
  // A line right-aligned to the width by blanks in front (a longer line stays whole); the separator line.
  QString tapeLine(const QString &text) const;
  QString separatorLine() const { return QString(width_, QLatin1Char('-')); }

 private:
  void show(double v);
  void showError();
  void clearAll();
  double entryNumber() const;
  void digit(QChar c);
  void separator();
  void operatorKey(QChar k, Result &r);
  void percent(Result &r);
  void clearKey(Result &r);
  void backspace();

  QChar point_, group_;
  QString entry_;
  double e_ = 0, a_ = 0, l_ = 0, x_ = 0, m_ = 0;
  QChar pending_;  // + - * / or null for none
  bool pointAllowed_ = true;
  int decimalsTyped_ = 0;
  int previous_ = 0;  // the key handled before this one
  int decimals_ = 2;
  int width_ = 14;
  QString display_;
  bool memoryKeys_ = false;
};
