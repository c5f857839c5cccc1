#include "formats/dbase/dbfreader.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <QTimeZone>
#include <climits>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <unistd.h>

namespace {

quint16 le16(const uchar *p) { return quint16(p[0] | p[1] << 8); }
quint32 le32(const uchar *p) { return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24; }
quint32 be32(const uchar *p) { return quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24; }
void putLe32(uchar *p, quint32 v) {
  for (int i = 0; i < 4; ++i) p[i] = uchar(v >> (8 * i));
}

// The language driver byte of the header names the table's code page.
const char *codePageName(quint8 id) {
  switch (id) {
    case 0x01: case 0x09: case 0x0b: case 0x0d: case 0x0f: case 0x11: case 0x15: case 0x18: case 0x19: case 0x1b:
      return "CP437";
    case 0x02: case 0x0a: case 0x0e: case 0x10: case 0x12: case 0x14: case 0x16: case 0x1a: case 0x1d: case 0x25:
    case 0x37:
      return "CP850";
    case 0x03: case 0x57: case 0x58: case 0x59: return "CP1252";
    case 0x04: return "MACINTOSH";
    case 0x08: case 0x17: case 0x66: return "CP865";
    case 0x13: case 0x7b: return "CP932";
    case 0x1c: case 0x6c: return "CP863";
    case 0x1f: case 0x22: case 0x23: case 0x40: case 0x64: case 0x87: return "CP852";
    case 0x24: return "CP860";
    case 0x26: case 0x65: return "CP866";
    case 0x4d: case 0x7a: return "CP936";
    case 0x4e: case 0x79: return "CP949";
    case 0x4f: case 0x78: return "CP950";
    case 0x50: case 0x7c: return "CP874";
    case 0x67: return "CP861";
    case 0x6a: case 0x86: return "CP737";
    case 0x6b: case 0x88: return "CP857";
    case 0x7d: return "CP1255";
    case 0x7e: return "CP1256";
    case 0x96: return "MAC-CYRILLIC";
    case 0x97: return "MACCENTRALEUROPE";
    case 0x98: return "MACGREEK";
    case 0xc8: return "CP1250";
    case 0xc9: return "CP1251";
    case 0xca: return "CP1254";
    case 0xcb: return "CP1253";
    case 0xcc: return "CP1257";
    default: return "CP1252";  // no byte (0) or one we do not know: the Windows default of the time
  }
}

bool multiByte(const char *cp) {
  return !std::strcmp(cp, "CP932") || !std::strcmp(cp, "CP936") || !std::strcmp(cp, "CP949") || !std::strcmp(cp, "CP950");
}

QByteArray iconvConvert(const char *to, const char *from, const QByteArray &in, bool *ok) {
  *ok = false;
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return {};
  QByteArray out(in.size() * 4 + 16, Qt::Uninitialized);
  char *src = const_cast<char *>(in.constData());
  size_t srcLeft = size_t(in.size());
  char *dst = out.data();
  size_t dstLeft = size_t(out.size());
  const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (r == size_t(-1)) return {};
  out.truncate(out.size() - qsizetype(dstLeft));
  *ok = true;
  return out;
}

bool knownVersion(quint8 v) {
  switch (v) {
    case 0x02: case 0x03: case 0x30: case 0x31: case 0x32: case 0x43: case 0x63: case 0x7b: case 0x83: case 0x8b:
    case 0x8e: case 0xcb: case 0xf5: case 0xfb:
      return true;
    default: return false;
  }
}

bool isVisualFoxPro(quint8 v) { return v == 0x30 || v == 0x31 || v == 0x32; }

// Julian day number and milliseconds since midnight, as Visual FoxPro stores a date-time.
QVariant julianDateTime(const uchar *p) {
  const quint32 day = le32(p), ms = le32(p + 4);
  if (day == 0 && ms == 0) return {};
  const QDate d = QDate::fromJulianDay(day);
  if (!d.isValid() || ms >= 86400000u) return {};
  return QDateTime(d, QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

// A date as dBASE stores it, "yyyymmdd"; invalid for blanks, zeros and anything else.
QDate storedDate(const uchar *p) {
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (p[i] < '0' || p[i] > '9') return {};
    v[i] = p[i] - '0';
  }
  return QDate(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], v[4] * 10 + v[5], v[6] * 10 + v[7]);
}

QString currencyText(qint64 v) {
  const bool neg = v < 0;
  const quint64 a = neg ? quint64(0) - quint64(v) : quint64(v);
  return QStringLiteral("%1%2.%3").arg(neg ? QStringLiteral("-") : QString()).arg(a / 10000).arg(a % 10000, 4, 10, QLatin1Char('0'));
}

QByteArray trimmedBytes(const uchar *p, int n) {
  int b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  return QByteArray(reinterpret_cast<const char *>(p + b), e - b);
}

}  // namespace

std::unique_ptr<TDbfTable> TDbfTable::open(const QString &path, QString *error) {
  std::unique_ptr<TDbfTable> t(new TDbfTable);
  t->path_ = path;
  t->file_.setFileName(path);
  if (!t->file_.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("%1 cannot be opened: %2.").arg(QFileInfo(path).fileName(), t->file_.errorString());
    return nullptr;
  }
  t->identity_ = platform::FileIdentity::ofDescriptor(int(t->file_.handle()));
  t->writable_ = QFileInfo(path).isWritable();  // asked for every cell the grid paints, so asked once
  t->size_ = t->file_.size();
  t->head_ = readAt(t->file_, 0, std::min<qint64>(t->size_, 65536));
  if (t->head_.size() < std::min<qint64>(t->size_, 65536)) {
    if (error) *error = QStringLiteral("%1 cannot be read: %2.").arg(QFileInfo(path).fileName(), t->file_.errorString());
    return nullptr;
  }
  t->data_ = reinterpret_cast<const uchar *>(t->head_.constData());
  if (!t->parse(error)) return nullptr;
  t->groupRecords_ = std::max<qint64>(1, 65536 / t->recordLen_);
  if (!t->openMemo(path)) t->memoMissing_ = true;
  if (!t->checkMemoPointers(error)) return nullptr;
  return t;
}

std::unique_ptr<TDbfTable> TDbfTable::fromBytes(const QByteArray &bytes, QString *error) {
  std::unique_ptr<TDbfTable> t(new TDbfTable);
  t->bytes_ = bytes;
  t->data_ = reinterpret_cast<const uchar *>(t->bytes_.constData());
  t->size_ = t->bytes_.size();
  if (!t->parse(error)) return nullptr;
  t->memoMissing_ = true;
  return t;
}

TDbfTable::~TDbfTable() = default;

bool TDbfTable::parse(QString *error) {
  auto fail = [error](const QString &why) {
    if (error) *error = why;
    return false;
  };
  if (size_ < 33) return fail(QStringLiteral("The file is too short to be a dBASE table."));
  version_ = data_[0];
  if ((version_ & 0x07) == 4 && (version_ == 0x04 || version_ == 0x8c))
    return fail(QStringLiteral("The file is a dBASE 7 table, which this viewer does not read."));
  if (!knownVersion(version_))
    return fail(QStringLiteral("The file is not a dBASE or FoxPro table (its first byte is 0x%1).").arg(version_, 2, 16, QLatin1Char('0')));
  count_ = le32(data_ + 4);
  headerLen_ = le16(data_ + 8);
  recordLen_ = le16(data_ + 10);
  codePage_ = data_[29];
  if (headerLen_ < 33 || headerLen_ > size_)
    return fail(QStringLiteral("The header length (%1 bytes) does not fit the file (%2 bytes).").arg(headerLen_).arg(size_));
  int pos = 32, offset = 1;
  while (pos + 32 <= headerLen_ && data_[pos] != 0x0d) {
    const uchar *d = data_ + pos;
    TDbField f;
    int nameLen = 0;
    while (nameLen < 11 && d[nameLen]) ++nameLen;
    f.name = QString::fromLatin1(reinterpret_cast<const char *>(d), nameLen);
    f.type = char(d[11]);
    f.length = d[16];
    f.decimals = d[17];
    const QString which = QStringLiteral("The field %1 (number %2)").arg(f.name).arg(fields_.size() + 1);
    auto lengthIs = [&](std::initializer_list<int> ok) {
      for (int n : ok)
        if (f.length == n) return true;
      return false;
    };
    bool good = true;
    switch (f.type) {
      case 'C': case 'V': case 'Q': good = f.length >= 1 && f.length <= 254; f.displayWidth = f.length; break;
      case 'N': case 'F': good = f.length >= 1 && f.length <= 32; f.displayWidth = f.length; f.rightAligned = true; break;
      case 'L': good = f.length == 1; f.displayWidth = 5; break;
      case 'D': good = f.length == 8; f.displayWidth = 10; break;
      case 'M': case 'G': case 'P': good = lengthIs({4, 10}); f.displayWidth = 20; break;
      case 'B': good = lengthIs({4, 8, 10}); f.displayWidth = 20; f.rightAligned = f.length == 8; break;
      case 'I': case '+': good = f.length == 4; f.displayWidth = 11; f.rightAligned = true; break;
      case 'T': case '@': good = f.length == 8; f.displayWidth = 19; break;
      case 'Y': good = f.length == 8; f.displayWidth = 20; f.rightAligned = true; break;
      case '0': good = f.length >= 1; f.visible = false; f.displayWidth = f.length; break;
      default:
        return fail(QStringLiteral("%1 has a type this viewer does not know (%2).").arg(which, QString::fromLatin1(QByteArray(1, f.type).toHex())));
    }
    if (!good)
      return fail(QStringLiteral("%1 of type %2 has a length of %3, which that type does not allow.").arg(which).arg(QChar(f.type)).arg(f.length));
    fields_ << f;
    offsets_ << offset;
    offset += f.length;
    pos += 32;
  }
  if (fields_.isEmpty()) return fail(QStringLiteral("The table has no fields."));
  if (offset > recordLen_)
    return fail(QStringLiteral("The record length in the header (%1 bytes) is shorter than the fields (%2 bytes).").arg(recordLen_).arg(offset));
  if (qint64(headerLen_) + count_ * recordLen_ > size_)
    return fail(QStringLiteral("The header counts %1 records, but the file holds only %2.").arg(count_).arg((size_ - headerLen_) / recordLen_));
  const char *cp = codePageName(codePage_);
  encoding_ = QString::fromLatin1(cp);
  singleByte_ = !multiByte(cp);
  if (singleByte_) {
    QByteArray all(256, 0);
    for (int i = 0; i < 256; ++i) all[i] = char(i);
    bool ok = false;
    const QByteArray utf8 = iconvConvert("UTF-8//IGNORE", cp, all, &ok);
    const QString s = QString::fromUtf8(utf8);
    if (ok && s.size() == 256) {
      for (int i = 0; i < 256; ++i) table_[i] = s.at(i).unicode();
    } else {  // a code page iconv only partly maps: convert byte by byte, unmapped bytes as Latin-1
      for (int i = 0; i < 256; ++i) {
        const QString c = QString::fromUtf8(iconvConvert("UTF-8", cp, QByteArray(1, char(i)), &ok));
        table_[i] = ok && c.size() == 1 ? c.at(0).unicode() : char16_t(i);
      }
    }
  }
  return true;
}

bool TDbfTable::isMemoType(const TDbField &f) const {
  return f.type == 'M' || f.type == 'G' || f.type == 'P' || (f.type == 'B' && f.length != 8);
}

bool TDbfTable::openMemo(const QString &tablePath) {
  bool any = false;
  for (const TDbField &f : fields_) any = any || isMemoType(f);
  if (!any) return true;
  const QFileInfo fi(tablePath);
  const bool fox = isVisualFoxPro(version_) || version_ == 0xf5 || version_ == 0xfb;
  const QString want = fi.completeBaseName() + (fox ? QStringLiteral(".fpt") : QStringLiteral(".dbt"));
  memoName_ = want;
  const QStringList names = fi.dir().entryList(QDir::Files | QDir::Hidden);
  QString found;
  for (const QString &n : names)
    if (n.compare(want, Qt::CaseInsensitive) == 0) found = fi.dir().filePath(n);
  if (found.isEmpty()) return false;
  memoFile_.setFileName(found);
  if (!memoFile_.open(QIODevice::ReadOnly) || memoFile_.size() < 512) return false;
  memoSize_ = memoFile_.size();
  const QByteArray head = readAt(memoFile_, 0, 512);
  if (head.size() < 512) return false;
  const uchar *h = reinterpret_cast<const uchar *>(head.constData());
  memoOpen_ = true;
  if (fox) {
    memoKind_ = MemoKind::Fpt;
    memoBlockSize_ = quint16(h[6] << 8 | h[7]);
  } else if (version_ == 0x83) {
    memoKind_ = MemoKind::Dbt3;
    memoBlockSize_ = 512;
  } else {
    memoKind_ = MemoKind::Dbt4;
    memoBlockSize_ = le16(h + 20);
  }
  if (memoBlockSize_ == 0) memoBlockSize_ = 512;
  return true;
}

qint64 TDbfTable::memoBlock(const uchar *p, int len) const {
  if (len == 4) return le32(p);
  qint64 v = 0;
  for (int i = 0; i < len; ++i) {
    if (p[i] == ' ' || p[i] == 0) continue;
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

bool TDbfTable::checkMemoPointers(QString *error) const {
  if (!memoOpen_) return true;
  for (int i = 0; i < fields_.size(); ++i) {
    if (!isMemoType(fields_[i])) continue;
    for (qint64 r = 0; r < count_; ++r) {
      const qint64 b = memoBlock(record(r) + offsets_[i], fields_[i].length);
      if (b < 0 || b * memoBlockSize_ >= memoSize_) {
        if (error)
          *error = QStringLiteral("Record %1 points to memo block %2 of the field %3, past the end of the memo file %4.")
                       .arg(r + 1).arg(b).arg(fields_[i].name, memoFile_.fileName().section(QLatin1Char('/'), -1));
        return false;
      }
    }
  }
  return true;
}

QVariant TDbfTable::memo(qint64 block, bool *binary, bool raw) const {
  *binary = false;
  const qint64 start = block * memoBlockSize_;
  if (!memoOpen_ || block <= 0 || start >= memoSize_) return {};
  const qint64 room = memoSize_ - start;
  constexpr qint64 kMaxMemo = 64 << 20;  // a lying length never asks for more than this
  QByteArray bytes;
  const QByteArray head = readAt(memoFile_, start, 8);
  const uchar *p = reinterpret_cast<const uchar *>(head.constData());
  switch (memoKind_) {
    case MemoKind::Fpt: {
      if (head.size() < 8) return {};
      const quint32 type = be32(p), len = be32(p + 4);
      if (len > room - 8 || len > kMaxMemo) return {};
      bytes = readAt(memoFile_, start + 8, len);
      *binary = type != 1;
      break;
    }
    case MemoKind::Dbt4:
      if (head.size() == 8 && p[0] == 0xff && p[1] == 0xff && p[2] == 0x08 && p[3] == 0x00) {
        const quint32 len = le32(p + 4);
        if (len < 8 || len - 8 > room - 8 || len > kMaxMemo) return {};
        bytes = readAt(memoFile_, start + 8, len - 8);
        break;
      }
      [[fallthrough]];
    default:  // text up to the end mark
      for (qint64 at = start; at < memoSize_ && bytes.size() < kMaxMemo;) {
        const QByteArray chunk = readAt(memoFile_, at, 4096);
        if (chunk.isEmpty()) break;
        const qsizetype end = chunk.indexOf('\x1a');
        if (end >= 0) {
          bytes += chunk.left(end);
          break;
        }
        bytes += chunk;
        at += chunk.size();
      }
  }
  if (*binary || raw) return bytes;
  return decode(reinterpret_cast<const uchar *>(bytes.constData()), int(bytes.size()));
}

QByteArray TDbfTable::readAt(const QFile &f, qint64 at, qint64 len) {
  QByteArray out(len, Qt::Uninitialized);
  qint64 got = 0;
  while (got < len) {
    const ssize_t n = ::pread(f.handle(), out.data() + got, size_t(len - got), off_t(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  out.truncate(got);
  return out;
}

const uchar *TDbfTable::record(qint64 r) const {
  if (!file_.isOpen()) return data_ + headerLen_ + r * recordLen_;
  const qint64 first = r / groupRecords_ * groupRecords_;
  Group *slot = &cache_[0];
  for (Group &g : cache_) {
    if (g.first == first) {
      g.used = ++tick_;
      return reinterpret_cast<const uchar *>(g.bytes.constData()) + (r - first) * recordLen_;
    }
    if (g.used < slot->used) slot = &g;
  }
  const qint64 n = std::min(groupRecords_, count_ - first);
  slot->bytes = readAt(file_, headerLen_ + first * recordLen_, n * recordLen_);
  if (slot->bytes.size() < n * recordLen_) slot->bytes.append(n * recordLen_ - slot->bytes.size(), ' ');  // shortened behind us
  slot->first = first;
  slot->used = ++tick_;
  return reinterpret_cast<const uchar *>(slot->bytes.constData()) + (r - first) * recordLen_;
}

QString TDbfTable::decode(const uchar *p, int n) const {
  if (singleByte_) {
    QString s(n, Qt::Uninitialized);
    char16_t *d = reinterpret_cast<char16_t *>(s.data());
    for (int i = 0; i < n; ++i) d[i] = table_[p[i]];
    return s;
  }
  bool ok = false;
  const QByteArray u = iconvConvert("UTF-8//IGNORE", encoding_.toLatin1().constData(), QByteArray(reinterpret_cast<const char *>(p), n), &ok);
  return ok ? QString::fromUtf8(u) : QString::fromLatin1(reinterpret_cast<const char *>(p), n);
}

bool TDbfTable::encode(const QString &s, QByteArray *out) const {
  if (singleByte_) {
    out->resize(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
      const char16_t c = s.at(i).unicode();
      int b = -1;
      if (c < 0x80 && table_[c] == c) b = c;
      for (int j = 0; b < 0 && j < 256; ++j)
        if (table_[j] == c) b = j;
      if (b < 0) return false;
      (*out)[i] = char(b);
    }
    return true;
  }
  bool ok = false;
  *out = iconvConvert(encoding_.toLatin1().constData(), "UTF-8", s.toUtf8(), &ok);
  return ok;
}

bool TDbfTable::isDeleted(qint64 r) const { return r >= 0 && r < count_ && record(r)[0] == '*'; }

QVariant TDbfTable::value(qint64 r, int i) const {
  if (r < 0 || r >= count_ || i < 0 || i >= fields_.size()) return {};
  const TDbField &f = fields_[i];
  const uchar *p = record(r) + offsets_[i];
  switch (f.type) {
    case 'C': case 'V': {
      int n = f.length;
      while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
      return decode(p, n);
    }
    case 'N': case 'F': {
      QByteArray t = trimmedBytes(p, f.length);
      while (t.startsWith('*')) t.remove(0, 1);
      if (t.isEmpty()) return {};
      bool ok = false;
      const qlonglong v = t.toLongLong(&ok);
      if (ok) return v;
      const double d = t.replace(',', '.').toDouble(&ok);
      return ok ? QVariant(d) : QVariant();
    }
    case 'L':
      switch (p[0]) {
        case 'T': case 't': case 'Y': case 'y': return true;
        case 'F': case 'f': case 'N': case 'n': return false;
        default: return {};
      }
    case 'D': {
      const QDate d = storedDate(p);
      return d.isValid() ? QVariant(d) : QVariant();
    }
    case 'I': case '+': return qlonglong(qint32(le32(p)));
    case 'T': case '@': return julianDateTime(p);
    case 'Y': {
      qint64 v = 0;
      std::memcpy(&v, p, 8);
      return currencyText(qFromLittleEndian(v));
    }
    case 'B':
      if (f.length == 8) {
        double d;
        std::memcpy(&d, p, 8);
        return qFromLittleEndian(d);
      }
      [[fallthrough]];
    case 'M': case 'G': case 'P': {
      bool binary = false;
      const qint64 b = memoBlock(p, f.length);
      if (b <= 0) return {};
      return memo(b, &binary, f.type != 'M');
    }
    default: return QByteArray(reinterpret_cast<const char *>(p), f.length);
  }
}

QString TDbfTable::displayText(qint64 r, int i) const {
  if (r < 0 || r >= count_ || i < 0 || i >= fields_.size()) return {};
  const TDbField &f = fields_[i];
  const uchar *p = record(r) + offsets_[i];
  switch (f.type) {
    case 'N': case 'F': {  // as stored: keeps the table's own decimals
      int b = 0, e = f.length;
      while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
      while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
      return QString::fromLatin1(reinterpret_cast<const char *>(p + b), e - b);
    }
    case 'D':  // shown as yyyy-mm-dd straight from the stored digits once they make a real date
      if (storedDate(p).isValid()) {
        QString s(10, QLatin1Char('-'));
        QChar *d = s.data();
        for (int k = 0; k < 4; ++k) d[k] = QLatin1Char(char(p[k]));
        d[5] = QLatin1Char(char(p[4])), d[6] = QLatin1Char(char(p[5])), d[8] = QLatin1Char(char(p[6])), d[9] = QLatin1Char(char(p[7]));
        return s;
      }
      return {};
    case 'C': case 'L': return dbDisplayText(value(r, i), f);
    default: break;
  }
  if (isMemoType(f) && memoMissing_ && memoBlock(record(r) + offsets_[i], f.length) > 0)
    return QStringLiteral("(memo file %1 missing)").arg(memoName_);
  return dbDisplayText(value(r, i), f);
}

QString TDbfTable::formatName() const {
  switch (version_) {
    case 0x02: case 0xfb: return QStringLiteral("FoxBASE");
    case 0x03: case 0x83: return QStringLiteral("dBASE III");
    case 0x30: case 0x31: case 0x32: return QStringLiteral("Visual FoxPro");
    case 0xf5: return QStringLiteral("FoxPro 2");
    default: return QStringLiteral("dBASE IV");
  }
}

QString TDbfTable::whyReadOnly(int i) const {
  if (!file_.isOpen()) return QStringLiteral("This table is not a file.");
  if (i < 0 || i >= fields_.size()) return QStringLiteral("No such field.");
  const TDbField &f = fields_[i];
  if (isMemoType(f) || f.type == 'V' || f.type == 'Q' || f.type == '0')
    return QStringLiteral("The field %1 is kept in a form this viewer does not change; it is shown read-only.").arg(f.name);
  if (!writable_) return QStringLiteral("The table %1 is read-only.").arg(QFileInfo(path_).fileName());
  return {};
}

bool TDbfTable::encodeField(const TDbField &f, const QString &textIn, uchar *dest, QString *error) const {
  const QString text = textIn.trimmed();
  auto fail = [&](const QString &why) {
    *error = QStringLiteral("%1 does not fit the field %2: %3").arg(textIn, f.name, why);
    return false;
  };
  switch (f.type) {
    case 'C': {
      QByteArray b;
      QString s = textIn;
      while (s.endsWith(QLatin1Char(' '))) s.chop(1);
      if (!encode(s, &b)) return fail(QStringLiteral("a character is not in the table's code page %1.").arg(encoding_));
      if (b.size() > f.length) return fail(QStringLiteral("longer than %1 bytes.").arg(f.length));
      std::memset(dest, ' ', size_t(f.length));
      std::memcpy(dest, b.constData(), size_t(b.size()));
      return true;
    }
    case 'N': case 'F': {
      QByteArray b;
      if (!text.isEmpty()) {
        bool ok = false;
        const double d = text.toDouble(&ok);
        if (!ok || !std::isfinite(d)) return fail(QStringLiteral("not a number."));
        b = f.decimals > 0 ? QByteArray::number(d, 'f', f.decimals) : QByteArray::number(qlonglong(std::llround(d)));
        if (f.decimals == 0 && std::floor(d) != d) return fail(QStringLiteral("the field holds whole numbers."));
        if (b.size() > f.length) return fail(QStringLiteral("wider than %1 characters.").arg(f.length));
      }
      std::memset(dest, ' ', size_t(f.length));
      std::memcpy(dest + f.length - b.size(), b.constData(), size_t(b.size()));
      return true;
    }
    case 'L': {
      const QString t = text.toLower();
      if (t.isEmpty() || t == QLatin1String("?")) dest[0] = '?';
      else if (t == QLatin1String("t") || t == QLatin1String("true") || t == QLatin1String("y") || t == QLatin1String("yes")) dest[0] = 'T';
      else if (t == QLatin1String("f") || t == QLatin1String("false") || t == QLatin1String("n") || t == QLatin1String("no")) dest[0] = 'F';
      else return fail(QStringLiteral("type True or False."));
      return true;
    }
    case 'D': {
      if (text.isEmpty()) {
        std::memset(dest, ' ', 8);
        return true;
      }
      QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
      if (!d.isValid()) d = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
      if (!d.isValid() || d.year() < 1 || d.year() > 9999) return fail(QStringLiteral("type a date as yyyy-mm-dd."));
      std::memcpy(dest, d.toString(QStringLiteral("yyyyMMdd")).toLatin1().constData(), 8);
      return true;
    }
    case 'I': case '+': {
      bool ok = false;
      const qlonglong v = text.isEmpty() ? 0 : text.toLongLong(&ok);
      if (!text.isEmpty() && (!ok || v < INT32_MIN || v > INT32_MAX)) return fail(QStringLiteral("not a 32-bit whole number."));
      putLe32(dest, quint32(qint32(v)));
      return true;
    }
    case 'Y': {
      static const QRegularExpression re(QStringLiteral("^(-?)(\\d{1,15})(?:\\.(\\d{0,4}))?$"));
      const QRegularExpressionMatch m = re.match(text.isEmpty() ? QStringLiteral("0") : text);
      if (!m.hasMatch()) return fail(QStringLiteral("type an amount with up to four decimals."));
      qint64 v = m.captured(2).toLongLong() * 10000 + m.captured(3).leftJustified(4, QLatin1Char('0')).toLongLong();
      if (!m.captured(1).isEmpty()) v = -v;
      v = qToLittleEndian(v);
      std::memcpy(dest, &v, 8);
      return true;
    }
    case 'B': {
      bool ok = false;
      double d = text.isEmpty() ? 0.0 : text.toDouble(&ok);
      if (!text.isEmpty() && !ok) return fail(QStringLiteral("not a number."));
      d = qToLittleEndian(d);
      std::memcpy(dest, &d, 8);
      return true;
    }
    case 'T': case '@': {
      if (text.isEmpty()) {
        std::memset(dest, 0, 8);
        return true;
      }
      QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
      if (!t.isValid()) t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
      if (!t.isValid()) t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd"));
      if (!t.isValid()) return fail(QStringLiteral("type a date and time as yyyy-mm-dd hh:mm:ss."));
      putLe32(dest, quint32(t.date().toJulianDay()));
      putLe32(dest + 4, quint32(t.time().msecsSinceStartOfDay()));
      return true;
    }
    default: return fail(QStringLiteral("this field is read-only."));
  }
}

bool TDbfTable::writeRecord(qint64 r, const QHash<int, QString> &values, QString *error) {
  QString dummy;
  if (!error) error = &dummy;
  if (r < 0 || r >= count_) {
    *error = QStringLiteral("No such record.");
    return false;
  }
  QByteArray rec(reinterpret_cast<const char *>(record(r)), recordLen_);
  for (auto it = values.begin(); it != values.end(); ++it) {
    const QString why = whyReadOnly(it.key());
    if (!why.isEmpty()) {
      *error = why;
      return false;
    }
    if (!encodeField(fields_[it.key()], it.value(), reinterpret_cast<uchar *>(rec.data()) + offsets_[it.key()], error)) return false;
  }
  if (platform::FileIdentity::of(path_).changedSince(identity_)) {
    *error = QStringLiteral("The table %1 was changed by another program since it was opened; the change was not saved.")
                 .arg(QFileInfo(path_).fileName());
    return false;
  }
  // The whole record goes out in one write at its place, so a reader never sees half of it, and the
  // table's size and header stay as they are.
  QFile out(path_);
  const qint64 at = headerLen_ + r * recordLen_;
  if (!out.open(QIODevice::ReadWrite) || ::pwrite(out.handle(), rec.constData(), size_t(rec.size()), at) != rec.size() ||
      ::fsync(out.handle()) != 0) {
    *error = QStringLiteral("The record could not be written to %1: %2.").arg(QFileInfo(path_).fileName(), out.errorString());
    return false;
  }
  out.close();
  identity_ = platform::FileIdentity::of(path_);
  for (Group &g : cache_)
    if (g.first >= 0 && r >= g.first && r < g.first + groupRecords_) g.first = -1;
  return true;
}

QString TDbTable::displayText(qint64 record, int field) const { return dbDisplayText(value(record, field), fields().at(field)); }

QString dbDisplayText(const QVariant &v, const TDbField &f) {
  switch (v.typeId()) {
    case QMetaType::UnknownType: return {};
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate: return v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case QMetaType::QDateTime: {
      const QDateTime t = v.toDateTime();
      return t.toString(t.time().msec() ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz") : QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    case QMetaType::Double:
      if (f.decimals > 0 && f.type != 'B') return QString::number(v.toDouble(), 'f', f.decimals);
      return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QByteArray: return QStringLiteral("(binary, %1 bytes)").arg(v.toByteArray().size());
    default: return v.toString();
  }
}
