#include "windows/hex/oemcodepage.h"
#include <QHash>
#include "platform/cp437.h"

namespace oem {
namespace {
const QHash<char16_t, unsigned char> &reverse() {
  static const QHash<char16_t, unsigned char> table = [] {
    QHash<char16_t, unsigned char> t;
    for (int i = 0; i < 128; ++i) t.insert(cp437::kHigh[i], static_cast<unsigned char>(128 + i));
    return t;
  }();
  return table;
}
}  // namespace

QChar toUnicode(unsigned char b) { return b < 128 ? QChar(b) : QChar(cp437::kHigh[b - 128]); }

int fromUnicode(QChar c) {
  if (c.unicode() < 128) return c.unicode();
  auto it = reverse().find(c.unicode());
  return it == reverse().end() ? -1 : *it;
}

QByteArray fromAnsi(const QByteArray &utf8) {
  const QString s = QString::fromUtf8(utf8);
  QByteArray out;
  out.reserve(s.size());
  for (QChar c : s) {
    int b = fromUnicode(c);
    out.append(static_cast<char>(b < 0 ? '?' : b));
  }
  return out;
}
}  // namespace oem
