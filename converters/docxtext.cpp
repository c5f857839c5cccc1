#include "converters/docxtext.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <zlib.h>

namespace docxtext {
namespace {

quint32 le32(const QByteArray &b, qsizetype at) {
  const auto *p = reinterpret_cast<const uchar *>(b.constData() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32(p[3]) << 24);
}
quint16 le16(const QByteArray &b, qsizetype at) {
  const auto *p = reinterpret_cast<const uchar *>(b.constData() + at);
  return static_cast<quint16>(p[0] | (p[1] << 8));
}

bool inflateRaw(const char *data, qsizetype size, qint64 maxSize, QByteArray *out) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
  z.avail_in = static_cast<uInt>(size);
  QByteArray result;
  char chunk[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef *>(chunk);
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    result.append(chunk, static_cast<qsizetype>(sizeof chunk - z.avail_out));
    if (result.size() > maxSize) {
      rc = Z_MEM_ERROR;
      break;
    }
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // truncated stream
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return false;
  *out = result;
  return true;
}

// Word: w:p paragraphs, w:t text, w:tab and w:br. OpenDocument: text:p and text:h paragraphs, text:tab,
// text:s (spaces, with text:c), text:line-break.
QString textOf(const QByteArray &xml, bool word) {
  QXmlStreamReader r(xml);
  QString out;
  bool inText = false;
  int depthInPara = 0;
  while (!r.atEnd()) {
    r.readNext();
    const QStringView n = r.qualifiedName();
    if (r.isStartElement()) {
      if (word) {
        if (n == u"w:t") inText = true;
        else if (n == u"w:tab") out += '\t';
        else if (n == u"w:br" || n == u"w:cr") out += '\n';
      } else {
        if (n == u"text:p" || n == u"text:h") ++depthInPara;
        else if (n == u"text:tab") out += '\t';
        else if (n == u"text:line-break") out += '\n';
        else if (n == u"text:s") out += QString(qMax(1, r.attributes().value(QLatin1String("text:c")).toInt()), ' ');
      }
    } else if (r.isEndElement()) {
      if (word) {
        if (n == u"w:t") inText = false;
        else if (n == u"w:p") out += '\n';
      } else if (n == u"text:p" || n == u"text:h") {
        if (--depthInPara == 0) out += '\n';
      }
    } else if (r.isCharacters()) {
      if (word ? inText : depthInPara > 0) out += r.text();
    }
  }
  return r.hasError() ? QString() : out;
}

}  // namespace

bool zipMember(const QByteArray &zip, const QString &name, QByteArray *out, qint64 maxSize) {
  // The end-of-central-directory record: within the last 64 KiB + 22 bytes.
  qsizetype eocd = -1;
  for (qsizetype at = zip.size() - 22; at >= 0 && at >= zip.size() - 65557; --at)
    if (le32(zip, at) == 0x06054b50) {
      eocd = at;
      break;
    }
  if (eocd < 0) return false;
  const quint16 count = le16(zip, eocd + 10);
  qsizetype at = le32(zip, eocd + 16);
  const QByteArray wanted = name.toUtf8();
  for (int i = 0; i < count; ++i) {
    if (at < 0 || at + 46 > zip.size() || le32(zip, at) != 0x02014b50) return false;
    const quint16 method = le16(zip, at + 10);
    const quint32 packed = le32(zip, at + 20);
    const quint32 size = le32(zip, at + 24);
    const quint16 nameLen = le16(zip, at + 28), extraLen = le16(zip, at + 30), commentLen = le16(zip, at + 32);
    const quint32 local = le32(zip, at + 42);
    if (at + 46 + nameLen > zip.size()) return false;
    if (zip.mid(at + 46, nameLen) == wanted) {
      if (qsizetype(local) + 30 > zip.size() || le32(zip, local) != 0x04034b50) return false;
      const qsizetype data = qsizetype(local) + 30 + le16(zip, local + 26) + le16(zip, local + 28);
      if (data + qsizetype(packed) > zip.size()) return false;
      if (method == 0) {
        if (size != packed || size > maxSize) return false;
        *out = zip.mid(data, packed);
        return true;
      }
      if (method == 8) return inflateRaw(zip.constData() + data, packed, maxSize, out);
      return false;
    }
    at += 46 + nameLen + extraLen + commentLen;
  }
  return false;
}

bool extract(const QString &file, QString *text, QString *why) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) {
    *why = f.errorString();
    return false;
  }
  const QByteArray zip = f.readAll();
  const bool word = QFileInfo(file).suffix().compare(QLatin1String("docx"), Qt::CaseInsensitive) == 0;
  QByteArray xml;
  if (!zipMember(zip, word ? QStringLiteral("word/document.xml") : QStringLiteral("content.xml"), &xml, 256LL << 20)) {
    *why = QStringLiteral("not a readable document container");
    return false;
  }
  *text = textOf(xml, word);
  if (text->isEmpty() && !xml.isEmpty()) {
    *why = QStringLiteral("the document's text cannot be read");
    return false;
  }
  return true;
}

}  // namespace docxtext
