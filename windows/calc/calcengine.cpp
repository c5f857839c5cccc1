#include "windows/calc/calcengine.h"

#include <cmath>

namespace {
bool isOperator(int code) { return code == '+' || code == '-' || code == '*' || code == '/' || code == '='; }

// Adds one to a string of decimal digits ("199" -> "200", "99" -> "100").
QString incremented(QString digits) {
  for (qsizetype i = digits.size() - 1; i >= 0; --i) {
    if (digits[i] != QLatin1Char('9')) {
      digits[i] = QChar(digits[i].unicode() + 1);
      return digits;
    }
    digits[i] = QLatin1Char('0');
  }
  return QLatin1Char('1') + digits;
}
}  // namespace

TCalcEngine::TCalcEngine(QChar decimalPoint, QChar groupSeparator) : point_(decimalPoint), group_(groupSeparator) {
  clearAll();
  show(0);
}

QString TCalcEngine::format(double v) const {
  if (!std::isfinite(v)) return QStringLiteral("Error");
  // Fourteen significant digits, rounded once in decimal, so 2.675 shows 2.68 as on paper.
  const QString e = QString::number(std::fabs(v), 'e', 13);  // d.ddddddddddddde+XX
  const qsizetype ePos = e.indexOf(QLatin1Char('e'));
  const QString digits = e.left(ePos).remove(QLatin1Char('.'));
  const int exp = e.mid(ePos + 1).toInt();
  if (exp >= 15) {  // more integer digits than the display can show exactly
    QString s = QString::number(v, 'g', 14);
    s.replace(QLatin1Char('.'), point_);
    return s + QLatin1Char(' ');
  }
  QString intPart, frac;
  if (exp >= 0) {
    intPart = digits.left(exp + 1).leftJustified(exp + 1, QLatin1Char('0'));
    frac = digits.mid(exp + 1);
  } else {
    intPart = QStringLiteral("0");
    frac = QString(-exp - 1, QLatin1Char('0')) + digits;
  }
  if (frac.size() > decimals_) {
    const bool up = frac.at(decimals_) >= QLatin1Char('5');
    frac.truncate(decimals_);
    if (up) {
      const QString all = incremented(intPart + frac);
      intPart = all.left(all.size() - decimals_);
      frac = all.right(decimals_);
    }
  } else {
    frac = frac.leftJustified(decimals_, QLatin1Char('0'));
  }
  while (intPart.size() > 1 && intPart.startsWith(QLatin1Char('0'))) intPart.remove(0, 1);
  QString grouped;
  for (qsizetype i = 0; i < intPart.size(); ++i) {
    if (i > 0 && (intPart.size() - i) % 3 == 0) grouped += group_;
    grouped += intPart.at(i);
  }
  const bool zero = intPart == QLatin1String("0") && QString(frac).remove(QLatin1Char('0')).isEmpty();
  QString s = (v < 0 && !zero ? QStringLiteral("-") : QString()) + grouped;
  if (decimals_ > 0) s += point_ + frac;
  return s + QLatin1Char(' ');
}

QString TCalcEngine::tapeLine(const QString &text) const { return text.rightJustified(width_, QLatin1Char(' ')); }

void TCalcEngine::show(double v) {
  x_ = v;
  display_ = format(v);
  memoryKeys_ = m_ != 0;
}

void TCalcEngine::showError() {
  x_ = 0;
  display_ = QStringLiteral("Error");
  memoryKeys_ = m_ != 0;
}

void TCalcEngine::clearAll() {
  entry_.clear();
  e_ = a_ = l_ = x_ = 0;
  pending_ = QChar();
  pointAllowed_ = true;
  decimalsTyped_ = 0;
}

double TCalcEngine::entryNumber() const {
  QString t = entry_.trimmed();
  if (t.isEmpty()) return 0;
  t.replace(point_, QLatin1Char('.'));
  bool ok = false;
  const double v = t.toDouble(&ok);
  return ok ? v : e_;
}

TCalcEngine::Result TCalcEngine::press(int code) {
  Result r;
  if (code >= 'a' && code <= 'z') code -= 'a' - 'A';
  if (code == '\r' || code == '\n') code = '=';
  if (code >= '0' && code <= '9') {
    digit(QChar(code));
  } else if (code == '.' || code == point_.unicode()) {
    separator();
  } else if (isOperator(code)) {
    operatorKey(QChar(code), r);
  } else if (code == '%') {
    percent(r);
  } else if (code == 12) {
    clearKey(r);
  } else if (code == 8) {
    backspace();
  } else if (code == 2) {
    r.lines << tapeLine(QStringLiteral("MC"));
    m_ = 0;
    memoryKeys_ = false;
  } else if (code == 3) {
    e_ = m_;
    show(m_);
    r.lines << tapeLine(display_ + QStringLiteral("MR"));
    // The recalled number is a whole operand: digits typed next start a new one instead of extending it.
    entry_.clear();
    pointAllowed_ = true;
    decimalsTyped_ = 0;
  } else if (code == 4 || code == 5) {
    const double m = code == 4 ? m_ + x_ : m_ - x_;
    if (std::isfinite(m)) m_ = m;
    r.lines << tapeLine(display_ + (code == 4 ? QStringLiteral("M+") : QStringLiteral("M-")));
    pending_ = QChar();
    entry_.clear();
    memoryKeys_ = m_ != 0;
  } else if (code == 7) {
    r.command = CalcCommand::Print;
  } else if (code == 9) {
    r.command = CalcCommand::Options;
  } else if (code == 27 || code == 1) {
    r.command = CalcCommand::Close;
  } else {
    return r;  // every other character is ignored
  }
  previous_ = code;
  return r;
}

void TCalcEngine::digit(QChar c) {
  // Only accepted digits count as decimals typed, so a refused one cannot block the next after a Backspace.
  if (!pointAllowed_ && decimalsTyped_ + 1 > decimals_) return;
  if (entry_.size() > width_) return;
  if (!pointAllowed_) ++decimalsTyped_;
  entry_ += c;
  e_ = entryNumber();
  show(e_);
}

void TCalcEngine::separator() {
  if (!pointAllowed_ || entry_.size() > width_) return;
  pointAllowed_ = false;
  decimalsTyped_ = 0;
  // A separator typed first stands for "0." so that the entry always has a value.
  if (entry_.trimmed().isEmpty()) entry_ = QStringLiteral("0");
  entry_ += point_;
  e_ = entryNumber();
  show(e_);
}

void TCalcEngine::operatorKey(QChar k, Result &r) {
  pointAllowed_ = true;
  decimalsTyped_ = 0;
  if (isOperator(previous_)) {  // a second operator in a row works on the last operand again
    e_ = l_;
    show(e_);
  }
  bool error = false;
  const char p = char(pending_.unicode());
  switch (p) {
    case '+': r.lines << tapeLine(display_ + QStringLiteral(" +")); a_ += e_; break;
    case '-': r.lines << tapeLine(display_ + QStringLiteral(" -")); a_ -= e_; break;
    case '*': r.lines << tapeLine(display_ + QStringLiteral(" *")); a_ *= e_; break;
    case '/':
      r.lines << tapeLine(display_ + QStringLiteral(" /"));
      if (e_ != 0) a_ /= e_;
      else error = true;
      break;
    default: r.lines << tapeLine(display_ + QStringLiteral("  ")); a_ = e_; break;
  }
  if (error || !std::isfinite(a_)) {
    a_ = 0;
    error = true;
  }
  l_ = e_;
  e_ = 0;
  entry_.clear();
  pending_ = k == QLatin1Char('=') ? QChar() : k;
  if (error) showError();
  else show(a_);
  if (k == QLatin1Char('=')) r.lines << tapeLine(display_ + QStringLiteral(" =")) << separatorLine();
}

void TCalcEngine::percent(Result &r) {
  pointAllowed_ = true;
  decimalsTyped_ = 0;
  double v = 0;
  QString mark;
  switch (char(pending_.unicode())) {
    case '*': mark = QStringLiteral("%*"); v = a_ * e_ * 0.01; break;
    case '+': mark = QStringLiteral("%+"); v = a_ + a_ * e_ * 0.01; break;
    case '-': mark = QStringLiteral("%-"); v = a_ - a_ * e_ * 0.01; break;
    case '/': mark = QStringLiteral("%/"); v = e_ != 0 ? (a_ / e_) * 0.01 : NAN; break;
    default: mark = QStringLiteral("% "); v = e_; break;
  }
  r.lines << tapeLine(display_ + mark);
  pending_ = QChar();
  entry_.clear();
  const bool error = !std::isfinite(v);
  a_ = error ? 0 : v;
  if (error) showError();
  else show(a_);
  l_ = e_;
  e_ = a_;
  a_ = 0;
  r.lines << tapeLine(display_ + QStringLiteral("%=")) << separatorLine();
}

void TCalcEngine::clearKey(Result &r) {
  pointAllowed_ = true;
  decimalsTyped_ = 0;
  if (previous_ == 12) {
    clearAll();
    show(0);
    r.lines << tapeLine(QStringLiteral("C")) << separatorLine();
  } else {
    e_ = 0;
    entry_.clear();
    show(0);
  }
}

void TCalcEngine::backspace() {
  if (!entry_.isEmpty()) {
    const QChar last = entry_.back();
    entry_.chop(1);
    if (last == point_) {  // only the separator goes; one may be typed again
      pointAllowed_ = true;
      decimalsTyped_ = 0;
    } else if (!pointAllowed_) {
      decimalsTyped_ = qMax(0, decimalsTyped_ - 1);
    }
  }
  e_ = entryNumber();
  show(e_);
}

bool TCalcEngine::setDecimalsText(const QString &text) {
  bool ok = false;
  const int d = text.trimmed().toInt(&ok);
  if (!ok || d < 0 || d > 7) return false;
  decimals_ = d;
  if (display_ != QLatin1String("Error")) display_ = format(x_);
  return true;
}
