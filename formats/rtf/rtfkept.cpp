#include "formats/rtf/rtfkept.h"

#include "formats/rtf/rtfcodec.h"
#include "formats/rtf/rtfcodepages.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextFormat>
#include <QUrl>

#include <algorithm>

namespace rtf::kept {

namespace {

// The tokens of RTF bytes, for the small readers here (the document reader has its own).
struct Lexer {
  enum Kind { End, Open, Close, Word, Symbol, Byte, Binary };
  const char *s;
  qsizetype n;
  qsizetype pos = 0;
  QByteArray word;
  bool hasParam = false;
  qint64 param = 0;
  char ch = 0;
  qsizetype binStart = 0, binLen = 0;
  bool binShort = false;  // \binN with fewer than N bytes left

  static bool alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool digit(char c) { return c >= '0' && c <= '9'; }

  Kind next() {
    if (pos >= n) return End;
    const char c = s[pos++];
    if (c == '{') return Open;
    if (c == '}') return Close;
    if (c != '\\') {
      ch = c;
      return Byte;
    }
    if (pos >= n) return End;
    if (!alpha(s[pos])) {
      ch = s[pos++];
      if (ch == '\'' && pos + 1 < n) {
        bool ok = false;
        const int v = QByteArray(s + pos, 2).toInt(&ok, 16);
        if (ok) {
          pos += 2;
          ch = char(v);
          return Byte;
        }
      }
      return Symbol;
    }
    const qsizetype start = pos;
    while (pos < n && alpha(s[pos]) && pos - start < 32) ++pos;
    word = QByteArray(s + start, pos - start);
    bool neg = false;
    if (pos + 1 < n && s[pos] == '-' && digit(s[pos + 1])) {
      neg = true;
      ++pos;
    }
    hasParam = false;
    param = 0;
    while (pos < n && digit(s[pos])) {
      hasParam = true;
      if (param < 0x7fffffff) param = param * 10 + (s[pos] - '0');
      ++pos;
    }
    param = std::min<qint64>(param, 0x7fffffff);
    if (neg) param = -param;
    if (pos < n && s[pos] == ' ') ++pos;
    if (word == "bin" && param > 0) {
      binStart = pos;
      binLen = std::min<qint64>(param, n - pos);
      binShort = binLen < param;
      pos += binLen;
      return Binary;
    }
    return Word;
  }
};

int hexValue(char h) {
  if (h >= '0' && h <= '9') return h - '0';
  if (h >= 'a' && h <= 'f') return h - 'a' + 10;
  if (h >= 'A' && h <= 'F') return h - 'A' + 10;
  return -1;
}

// A picture group's data and what is said about it.
struct Pict {
  QByteArray data;
  QByteArray kind;  // pngblip, jpegblip, emfblip, wmetafile, dibitmap, wbitmap, macpict, ...
  int picw = 0, pich = 0, goalw = 0, goalh = 0, scalex = 100, scaley = 100;
  bool found = false;
};

// The first \pict group in bytes.
Pict readPict(const QByteArray &group) {
  Pict p;
  Lexer lx{group.constData(), group.size()};
  int depth = 0, pictDepth = -1;
  int pending = -1;  // high half of a hex byte
  for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next()) {
    switch (k) {
      case Lexer::Open: ++depth; break;
      case Lexer::Close:
        if (depth == pictDepth) return p;
        --depth;
        break;
      case Lexer::Word:
        if (pictDepth < 0) {
          if (lx.word == "pict") {
            pictDepth = depth;
            p.found = true;
          }
          break;
        }
        if (depth != pictDepth) break;  // \picprop, \blipuid and the like
        if (lx.word.endsWith("blip") || lx.word == "wmetafile" || lx.word == "dibitmap" || lx.word == "wbitmap" ||
            lx.word == "macpict" || lx.word == "pmmetafile")
          p.kind = lx.word;
        else if (lx.word == "picw") p.picw = int(lx.param);
        else if (lx.word == "pich") p.pich = int(lx.param);
        else if (lx.word == "picwgoal") p.goalw = int(lx.param);
        else if (lx.word == "pichgoal") p.goalh = int(lx.param);
        else if (lx.word == "picscalex") p.scalex = int(lx.param);
        else if (lx.word == "picscaley") p.scaley = int(lx.param);
        break;
      case Lexer::Binary:
        if (pictDepth >= 0 && depth == pictDepth) p.data.append(lx.s + lx.binStart, lx.binLen);
        break;
      case Lexer::Byte:
        if (pictDepth >= 0 && depth == pictDepth) {
          const int v = hexValue(lx.ch);
          if (v < 0) break;
          if (pending < 0) {
            pending = v;
          } else {
            p.data.append(char(pending * 16 + v));
            pending = -1;
          }
        }
        break;
      default: break;
    }
  }
  return p;
}

// A device-independent bitmap as a BMP file: the 14-byte file header it lacks in RTF.
QByteArray bmpFile(const QByteArray &dib) {
  if (dib.size() < 40) return {};
  auto le32 = [&](int at) {
    return quint32(quint8(dib[at])) | quint32(quint8(dib[at + 1])) << 8 | quint32(quint8(dib[at + 2])) << 16 |
           quint32(quint8(dib[at + 3])) << 24;
  };
  const quint32 headerSize = le32(0);
  if (headerSize < 12 || headerSize > quint32(dib.size())) return {};
  const int bits = headerSize >= 40 ? quint8(dib[14]) | quint8(dib[15]) << 8 : 0;
  quint32 colours = headerSize >= 40 ? le32(32) : 0;
  if (colours == 0 && bits > 0 && bits <= 8) colours = 1u << bits;
  quint32 offset = 14 + headerSize + std::min<quint32>(colours, 256) * 4;
  if (headerSize == 40 && le32(16) == 3) offset += 12;  // bit-field masks
  QByteArray out("BM");
  auto put32 = [&](quint32 v) {
    for (int i = 0; i < 4; ++i) out.append(char((v >> (8 * i)) & 0xff));
  };
  put32(quint32(14 + dib.size()));
  put32(0);
  put32(offset);
  return out + dib;
}

// What shows where Qt cannot draw a picture's format (metafiles, Mac pictures): a framed grey box.
QImage standIn(int w, int h) {
  QImage img(std::clamp(w, 8, 2000), std::clamp(h, 8, 2000), QImage::Format_RGB32);
  img.fill(QColor(235, 235, 235));
  QPainter p(&img);
  p.setPen(QColor(150, 150, 150));
  p.drawRect(0, 0, img.width() - 1, img.height() - 1);
  p.drawLine(0, 0, img.width() - 1, img.height() - 1);
  p.drawLine(0, img.height() - 1, img.width() - 1, 0);
  return img;
}

}  // namespace

qsizetype groupEnd(const char *s, qsizetype n, qsizetype pos, int maxDepth) {
  Lexer lx{s, n, pos};
  int depth = 1;
  for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next()) {
    if (k == Lexer::Open && ++depth > maxDepth) return -2;
    if (k == Lexer::Close && --depth == 0) return lx.pos;
    if (k == Lexer::Binary && lx.binShort) return -3;
  }
  return -1;
}

bool holdsPicture(const QByteArray &group) {
  Lexer lx{group.constData(), group.size()};
  for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next())
    if (k == Lexer::Word && lx.word == "pict") return true;
  return false;
}

QTextImageFormat pictureFormat(const QByteArray &group, QTextDocument *doc) {
  const Pict p = readPict(group);
  QImage img;
  if (p.kind == "pngblip" || p.kind == "jpegblip") img = QImage::fromData(p.data);
  else if (p.kind == "dibitmap") img = QImage::fromData(bmpFile(p.data), "BMP");
  if (img.isNull() && !p.data.isEmpty() && p.kind.isEmpty()) img = QImage::fromData(p.data);  // a writer that named no format
  // Shown size: the goal size (twips) scaled, else the picture's own pixels.
  double w = p.goalw > 0 ? p.goalw / kTwipsPerUnit : (!img.isNull() ? img.width() : p.picw);
  double h = p.goalh > 0 ? p.goalh / kTwipsPerUnit : (!img.isNull() ? img.height() : p.pich);
  if (p.scalex > 0) w = w * p.scalex / 100.0;
  if (p.scaley > 0) h = h * p.scaley / 100.0;
  w = std::clamp(w <= 0 ? 32.0 : w, 1.0, 10000.0);
  h = std::clamp(h <= 0 ? 32.0 : h, 1.0, 10000.0);
  if (img.isNull()) img = standIn(int(w), int(h));
  const QString name = QStringLiteral("rtfpict:") +
                       QString::fromLatin1(QCryptographicHash::hash(group, QCryptographicHash::Sha1).toHex());
  doc->addResource(QTextDocument::ImageResource, QUrl(name), img);
  QTextImageFormat f;
  f.setName(name);
  f.setWidth(w);
  f.setHeight(h);
  f.setProperty(kRawGroupProperty, group);
  return f;
}

QByteArray pictureGroup(const QImage &image, double widthUnits, double heightUnits) {
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  if (image.isNull() || !image.save(&buf, "PNG")) return {};
  const int w = widthUnits > 0 ? int(std::lround(widthUnits * kTwipsPerUnit)) : image.width() * 15;
  const int h = heightUnits > 0 ? int(std::lround(heightUnits * kTwipsPerUnit)) : image.height() * 15;
  QByteArray out = "{\\*\\shppict{\\pict\\pngblip\\picw" + QByteArray::number(image.width()) + "\\pich" +
                   QByteArray::number(image.height()) + "\\picwgoal" + QByteArray::number(w) + "\\pichgoal" +
                   QByteArray::number(h) + "\n";
  const QByteArray hex = png.toHex();
  for (qsizetype i = 0; i < hex.size(); i += 128) out += hex.mid(i, 128) + '\n';
  return out + "}}";
}

QString hyperlinkTarget(const QByteArray &fldinst) {
  // The instruction's text: control words and kept destinations inside it are not part of it.
  QByteArray text;
  Lexer lx{fldinst.constData(), fldinst.size()};
  int depth = 0, skipFrom = -1;
  bool starred = false;
  for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next()) {
    switch (k) {
      case Lexer::Open: ++depth; break;
      case Lexer::Close:
        if (depth == skipFrom) skipFrom = -1;
        --depth;
        break;
      case Lexer::Symbol:
        if (lx.ch == '*') starred = true;
        else if (skipFrom < 0 && (lx.ch == '\\' || lx.ch == '{' || lx.ch == '}')) text += lx.ch;
        continue;
      case Lexer::Word:
        if (starred && lx.word != "fldinst" && skipFrom < 0) skipFrom = depth;
        break;
      case Lexer::Byte:
        if (skipFrom < 0 && lx.ch != '\r' && lx.ch != '\n') text += lx.ch;
        break;
      default: break;
    }
    starred = false;
  }
  static const QRegularExpression re(QStringLiteral("^\\s*HYPERLINK\\s+(?:\"([^\"]*)\"|([^\\s\"\\\\]+))?(.*)$"),
                                     QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch m = re.match(QString::fromUtf8(text));
  if (!m.hasMatch()) return {};
  QString target = m.captured(1).isNull() ? m.captured(2) : m.captured(1);
  static const QRegularExpression place(QStringLiteral("\\\\l\\s+\"([^\"]*)\""));
  const QRegularExpressionMatch pm = place.match(m.captured(3));
  if (pm.hasMatch()) target += QLatin1Char('#') + pm.captured(1);
  return target;
}

QByteArray hyperlinkInstruction(const QString &target) {
  QByteArray out = "{\\*\\fldinst HYPERLINK ";
  const int hash = target.indexOf(QLatin1Char('#'));
  QString url = hash < 0 ? target : target.left(hash);
  auto quoted = [&](const QString &s) {
    QByteArray q = "\"";
    appendText(q, QString(s).remove(QLatin1Char('"')), true);
    return q + '"';
  };
  if (!url.isEmpty()) out += quoted(url);
  if (hash >= 0) out += (url.isEmpty() ? "" : " ") + QByteArray("\\\\l ") + quoted(target.mid(hash + 1));
  return out + '}';
}

namespace {
int cp1252Byte(char16_t c) {
  static const detail::CodePageTable *t = [] {
    for (const auto &tab : detail::kCodePages)
      if (tab.codePage == 1252) return &tab;
    return static_cast<const detail::CodePageTable *>(nullptr);
  }();
  for (int i = 0; t && i < 128; ++i)
    if (t->high[i] == c) return 0x80 + i;
  return -1;
}
}  // namespace

void appendText(QByteArray &out, const QString &s, bool cp1252Fallback) {
  for (const QChar ch : s) {
    const char16_t c = ch.unicode();
    switch (c) {
      case u'\\': out += "\\\\"; continue;
      case u'{': out += "\\{"; continue;
      case u'}': out += "\\}"; continue;
      case u'\t': out += "\\tab "; continue;
      case u'\u2028': case u'\n': case u'\r': out += "\\line "; continue;
      case u'\u00A0': out += "\\~"; continue;
      case u'\u00AD': out += "\\-"; continue;
      case u'\u2011': out += "\\_"; continue;
      case u'\uFFFC': continue;  // objects are written by the caller
      default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else if (c < 0x20) {
      continue;
    } else {
      out += "\\u" + QByteArray::number(c > 32767 ? int(c) - 65536 : int(c));
      const int b = cp1252Fallback ? cp1252Byte(c) : -1;
      if (b >= 0) out += "\\'" + QByteArray::number(b, 16).rightJustified(2, '0');
      else out += '?';
    }
  }
}

QHash<int, ListLevels> readListTables(const QByteArray &listTable, const QByteArray &overrideTable) {
  // Lists by \listid.
  QHash<qint64, ListLevels> lists;
  {
    Lexer lx{listTable.constData(), listTable.size()};
    int depth = 0, listDepth = -1, levelDepth = -1, textDepth = -1, level = 0;
    ListLevels cur{};
    QByteArray levelText;
    for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next()) {
      if (k == Lexer::Open) {
        ++depth;
      } else if (k == Lexer::Close) {
        if (depth == textDepth) {
          textDepth = -1;
          // \leveltext: a length byte, then the text; a bullet is one character.
          if (level < 9 && levelText.size() >= 2 && levelText[1] != '\x01') cur[size_t(level)].bullet = QChar(quint8(levelText[1]));
        }
        if (depth == levelDepth) {
          levelDepth = -1;
          ++level;
        }
        if (depth == listDepth) listDepth = -1;
        --depth;
      } else if (k == Lexer::Word) {
        if (lx.word == "list" && listDepth < 0) {
          listDepth = depth;
          level = 0;
          cur = ListLevels{};
        } else if (lx.word == "listlevel" && listDepth >= 0) {
          levelDepth = depth;
        } else if (levelDepth >= 0 && level < 9 && (lx.word == "levelnfc" || lx.word == "levelnfcn")) {
          cur[size_t(level)].nfc = int(lx.param);
        } else if (levelDepth >= 0 && level < 9 && lx.word == "levelstartat") {
          cur[size_t(level)].start = int(lx.param);
        } else if (levelDepth >= 0 && lx.word == "leveltext") {
          textDepth = depth;
          levelText.clear();
        } else if (textDepth >= 0 && lx.word == "u") {
          levelText += char(1);  // a \uN bullet: marked, its character taken below
          if (level < 9) cur[size_t(level)].bullet = QChar(char16_t(lx.param < 0 ? lx.param + 65536 : lx.param));
        } else if (lx.word == "listid" && listDepth >= 0 && levelDepth < 0 && lists.size() < 10000) {
          lists.insert(lx.param, cur);
        }
      } else if (k == Lexer::Byte && textDepth >= 0 && depth == textDepth) {
        if (levelText.size() < 64) levelText += lx.ch;
      }
    }
  }
  QHash<int, ListLevels> out;
  Lexer lx{overrideTable.constData(), overrideTable.size()};
  int depth = 0, overrideDepth = -1;
  qint64 id = -1, ls = -1;
  for (Lexer::Kind k = lx.next(); k != Lexer::End; k = lx.next()) {
    if (k == Lexer::Open) {
      ++depth;
    } else if (k == Lexer::Close) {
      if (depth == overrideDepth) {
        if (lists.contains(id) && ls > 0 && out.size() < 10000) out.insert(int(ls), lists.value(id));
        overrideDepth = -1;
      }
      --depth;
    } else if (k == Lexer::Word) {
      if (lx.word == "listoverride") {
        overrideDepth = depth;
        id = ls = -1;
      } else if (overrideDepth == depth && lx.word == "listid") {
        id = lx.param;
      } else if (overrideDepth == depth && lx.word == "ls") {
        ls = lx.param;
      }
    }
  }
  return out;
}

}  // namespace rtf::kept
