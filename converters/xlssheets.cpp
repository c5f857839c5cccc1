#include "converters/xlssheets.h"

#include <QFile>

#include <vector>

namespace xlssheets {
namespace {

constexpr quint32 kEndOfChain = 0xfffffffe;

quint32 le32(const QByteArray &b, qsizetype at) {
  const auto *p = reinterpret_cast<const uchar *>(b.constData() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32(p[3]) << 24);
}
quint16 le16(const QByteArray &b, qsizetype at) {
  const auto *p = reinterpret_cast<const uchar *>(b.constData() + at);
  return static_cast<quint16>(p[0] | (p[1] << 8));
}

// The compound file ("OLE2") container: sectors chained through the allocation table. Every chain is
// followed with a record of the sectors seen, so a chain that loops ends the reading instead of growing it.
class Compound {
 public:
  explicit Compound(const QByteArray &file) : f_(file) {}

  bool open() {
    if (f_.size() < 512 || !f_.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1"))) return false;
    const int shift = le16(f_, 30), miniShift = le16(f_, 32);
    if ((shift != 9 && shift != 12) || miniShift != 6) return false;
    ss_ = 1 << shift;
    mss_ = 1 << miniShift;
    sectors_ = static_cast<quint32>((f_.size() - 1) / ss_);  // the header takes the first sector's room
    const quint32 fatSectors = le32(f_, 44);
    dirStart_ = le32(f_, 48);
    cutoff_ = le32(f_, 56);
    miniFatStart_ = le32(f_, 60);
    if (fatSectors == 0 || fatSectors > sectors_) return false;
    // The table's own sectors: 109 named in the header, the rest in a chain of DIFAT sectors.
    std::vector<quint32> fatList;
    for (int i = 0; i < 109 && fatList.size() < fatSectors; ++i) fatList.push_back(le32(f_, 76 + 4 * i));
    quint32 difat = le32(f_, 68);
    std::vector<bool> seen(sectors_, false);
    const int perDifat = ss_ / 4 - 1;
    while (fatList.size() < fatSectors) {
      if (difat >= sectors_ || seen[difat]) return false;
      seen[difat] = true;
      const QByteArray s = sector(difat);
      for (int i = 0; i < perDifat && fatList.size() < fatSectors; ++i) fatList.push_back(le32(s, 4 * i));
      difat = le32(s, 4 * perDifat);
    }
    for (quint32 s : fatList) {
      if (s >= sectors_) return false;
      const QByteArray d = sector(s);
      for (int i = 0; i < ss_ / 4; ++i) fat_.push_back(le32(d, 4 * i));
    }
    return true;
  }

  // The bytes of a stream found in the root folder by name (case ignored), or empty.
  QByteArray stream(const QStringList &names) {
    const QByteArray dir = chain(dirStart_, fat_, nullptr);
    QByteArray root;
    quint32 rootStart = 0;
    quint64 rootSize = 0;
    for (qsizetype at = 0; at + 128 <= dir.size(); at += 128) {
      const int type = static_cast<uchar>(dir[at + 66]);
      const int nameBytes = le16(dir, at + 64);
      if (nameBytes < 2 || nameBytes > 64) continue;
      const QString name = QString::fromUtf16(reinterpret_cast<const char16_t *>(dir.constData() + at), nameBytes / 2 - 1);
      const quint32 start = le32(dir, at + 116);
      const quint64 size = le32(dir, at + 120);  // the high half is unused in version 3 files
      if (type == 5) {
        rootStart = start;
        rootSize = size;
        continue;
      }
      if (type != 2 || !names.contains(name, Qt::CaseInsensitive)) continue;
      if (size >= cutoff_) return exactly(chain(start, fat_, nullptr), size);
      // A small stream lives in the mini stream (the root entry's chain), in 64-byte sectors.
      root = exactly(chain(rootStart, fat_, nullptr), rootSize);
      const QByteArray miniFatBytes = chain(miniFatStart_, fat_, nullptr);
      std::vector<quint32> miniFat;
      for (qsizetype i = 0; i + 4 <= miniFatBytes.size(); i += 4) miniFat.push_back(le32(miniFatBytes, i));
      return exactly(chain(start, miniFat, &root), size);
    }
    return QByteArray();
  }

 private:
  QByteArray sector(quint32 s) const {
    const qint64 at = (qint64(s) + 1) * ss_;
    QByteArray d = f_.mid(at, ss_);
    d.resize(ss_, '\0');  // a short last sector reads as zeros
    return d;
  }
  // The chain from `start` through `table`: whole sectors of the file, or mini sectors of `mini`. A chain
  // that loops, leaves the table or points past the data is damaged: nothing.
  QByteArray chain(quint32 start, const std::vector<quint32> &table, const QByteArray *mini) const {
    QByteArray out;
    const quint32 count = mini ? static_cast<quint32>(mini->size() / mss_) : sectors_;
    std::vector<bool> seen(std::min<size_t>(table.size(), count), false);
    for (quint32 s = start; s != kEndOfChain;) {
      if (s >= seen.size() || seen[s]) return QByteArray();
      seen[s] = true;
      out += mini ? mini->mid(qsizetype(s) * mss_, mss_) : sector(s);
      s = table[s];
    }
    return out;
  }
  // The first `size` bytes of a chain, or nothing when the chain is shorter.
  static QByteArray exactly(const QByteArray &chained, quint64 size) {
    return chained.size() >= 0 && quint64(chained.size()) >= size ? chained.left(static_cast<qsizetype>(size)) : QByteArray();
  }

  const QByteArray &f_;
  int ss_ = 512, mss_ = 64;
  quint32 sectors_ = 0, dirStart_ = 0, cutoff_ = 4096, miniFatStart_ = kEndOfChain;
  std::vector<quint32> fat_;
};

}  // namespace

QList<Sheet> read(const QByteArray &file) {
  Compound c(file);
  if (!c.open()) return {};
  const QByteArray book = c.stream({QStringLiteral("Workbook"), QStringLiteral("Book")});
  QList<Sheet> sheets;
  int version = 0;
  bool ended = false;
  // The workbook globals: records up to the first end-of-file record.
  for (qsizetype at = 0; at + 4 <= book.size();) {
    const quint16 type = le16(book, at), len = le16(book, at + 2);
    const qsizetype body = at + 4;
    if (body + len > book.size()) break;
    if (body == 4 && type != 0x0809) return {};  // a workbook begins with its beginning-of-file record
    at = body + len;
    if (type == 0x0809 && len >= 2) {
      if (version) return {};  // a second beginning-of-file before the globals' end
      version = le16(book, body);
    } else if (type == 0x000a) {
      ended = true;
      break;
    } else if (type == 0x002f) {
      return {};  // encrypted: the names are not readable
    } else if (type == 0x0085 && len >= 7) {
      Sheet s;
      s.type = static_cast<uchar>(book[body + 5]);
      const int chars = static_cast<uchar>(book[body + 6]);
      if (version >= 0x0600) {  // Excel 97 and later: a flags byte, then 8- or 16-bit characters
        if (len < 8) continue;
        const bool wide = book[body + 7] & 1;
        const qsizetype from = body + 8;
        if (from + chars * (wide ? 2 : 1) > body + len) continue;
        if (wide) {
          for (int i = 0; i < chars; ++i) s.name += QChar(le16(book, from + 2 * i));
        } else {
          s.name = QString::fromLatin1(book.constData() + from, chars);
        }
      } else {  // Excel 5 and 95: bytes in the workbook's code page, read as Latin-1
        if (body + 7 + chars > body + len) continue;
        s.name = QString::fromLatin1(book.constData() + body + 7, chars);
      }
      sheets << s;
    }
  }
  if (!version || !ended) return {};  // cut short: the list may lack sheets
  return sheets;
}

QList<Sheet> readFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  // The names sit at the workbook's start; a compound file's table can be anywhere, so read it whole, up
  // to a size no real workbook's globals need.
  if (f.size() > (qint64(256) << 20)) return {};
  return read(f.readAll());
}

}  // namespace xlssheets
