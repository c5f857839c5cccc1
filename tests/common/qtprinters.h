#pragma once
// GoogleTest printers for the Qt values our tests compare, so a failed EXPECT_EQ shows the text or the
// bytes, not "2-byte object <61-00>". Every test program includes this header (through its precompiled headers).
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QStringList &l, std::ostream *os) {
  *os << '{';
  for (qsizetype i = 0; i < l.size(); ++i) {
    if (i) *os << ", ";
    PrintTo(l[i], os);
  }
  *os << '}';
}

// Printable bytes as they are, the rest as \xNN; long arrays are cut, with their length.
inline void PrintTo(const QByteArray &b, std::ostream *os) {
  static const char hex[] = "0123456789abcdef";
  const qsizetype shown = b.size() > 256 ? 256 : b.size();
  *os << "QByteArray(" << b.size() << " bytes) \"";
  for (qsizetype i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(b[i]);
    if (c == '\\' || c == '"')
      *os << '\\' << c;
    else if (c >= 0x20 && c < 0x7f)
      *os << c;
    else
      *os << "\\x" << hex[c >> 4] << hex[c & 15];
  }
  *os << (shown < b.size() ? "\"..." : "\"");
}

inline void PrintTo(const QImage &img, std::ostream *os) {
  if (img.isNull()) {
    *os << "QImage(null)";
    return;
  }
  *os << "QImage(" << img.width() << 'x' << img.height() << ", format " << int(img.format()) << ", top-left #"
      << std::hex << img.pixel(0, 0) << std::dec << ')';
}
