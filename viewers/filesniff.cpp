#include "viewers/filesniff.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

namespace viewers {

namespace {

constexpr quint32 kOpenSize = 0xFFFFFFFFu;  // a stream writer's "size not known"
constexpr qint64 kSlack = 8;                // writers that count the 8-byte RIFF header in its size
constexpr int kMaxChunks = 100000;          // a file of empty chunks is not walked for ever

bool readHeader(QFile &f, qint64 pos, char (&id)[4], quint32 &size) {
  char h[8];
  if (!f.seek(pos) || f.read(h, 8) != 8) return false;
  std::memcpy(id, h, 4);
  size = qFromLittleEndian<quint32>(h + 4);
  return true;
}

bool isOpenSize(quint32 size) { return size == 0 || size == kOpenSize; }

}  // namespace

bool riffClaimsMissingBytes(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const qint64 fileSize = f.size();
  char id[4];
  quint32 size = 0;
  if (!readHeader(f, 0, id, size) || std::memcmp(id, "RIFF", 4) != 0) return false;
  if (isOpenSize(size)) return false;
  // Top-level chunks: the first RIFF and the RIFF "AVIX" parts of large AVI files after it.
  qint64 riffPos = 0;
  int chunks = 0;
  while (true) {
    const qint64 riffEnd = riffPos + 8 + qint64(size);
    if (riffEnd > fileSize + kSlack) return true;
    // The chunks inside it ("fmt ", "data", "LIST" hdrl and movi, "idx1"), after the form type.
    for (qint64 pos = riffPos + 12; pos + 8 <= qMin(riffEnd, fileSize) && ++chunks < kMaxChunks;) {
      char sub[4];
      quint32 subSize = 0;
      if (!readHeader(f, pos, sub, subSize)) break;
      if (subSize == kOpenSize) break;  // a stream: the rest of the file
      const qint64 subEnd = pos + 8 + qint64(subSize);
      if (subEnd > fileSize + 1) return true;  // one byte: a last chunk's missing pad byte
      pos = subEnd + (subSize & 1);
    }
    riffPos = riffEnd + (size & 1);
    if (riffPos + 8 > fileSize || ++chunks >= kMaxChunks) return false;
    if (!readHeader(f, riffPos, id, size) || std::memcmp(id, "RIFF", 4) != 0 || isOpenSize(size)) return false;
  }
}

namespace {

// UTF-16 text of either byte order without a byte order mark: no NUL character, no control character
// other than tab, line feed, form feed and carriage return, every surrogate in a pair, and at least half
// of it ASCII (the NUL bytes of such text are the high bytes of its ASCII characters; read as UTF-16,
// 8-bit text with a stray NUL gives CJK characters instead). A cut last character or pair is let go.
bool readsAsUtf16(const QByteArray &b, bool bigEndian) {
  const qsizetype n = b.size() / 2;
  if (n == 0) return false;
  const auto *p = reinterpret_cast<const uchar *>(b.constData());
  qsizetype ascii = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = bigEndian ? char16_t(p[2 * i] << 8 | p[2 * i + 1]) : char16_t(p[2 * i + 1] << 8 | p[2 * i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r') return false;
    if (c < 0x80) ++ascii;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == n) break;
      const char16_t d = bigEndian ? char16_t(p[2 * i + 2] << 8 | p[2 * i + 3]) : char16_t(p[2 * i + 3] << 8 | p[2 * i + 2]);
      if (d < 0xDC00 || d > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return 2 * ascii >= n;
}

}  // namespace

bool looksBinary(const QByteArray &start) {
  const QByteArray head = start.left(kSniffBlockSize);
  if (!head.contains('\0')) return false;
  // Byte order marks: UTF-32 first, its little-endian mark begins with UTF-16's.
  if (head.startsWith(QByteArray("\xFF\xFE\0\0", 4)) || head.startsWith(QByteArray("\0\0\xFE\xFF", 4))) return false;
  if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) return false;
  return !readsAsUtf16(head, false) && !readsAsUtf16(head, true);
}

}  // namespace viewers
