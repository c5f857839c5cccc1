#include "formats/raster/svgsafe.h"

#include "formats/raster/imageio.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QRectF>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QVector>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <zlib.h>

#include <cmath>

namespace imageio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("imageio", text); }

// Deeper nesting is refused: QtSvg builds and draws its tree recursively.
constexpr int kMaxDepth = 256;
// Declared sizes above this are not taken as pixels (Qt keeps them in ints): the picture is drawn by its view box.
constexpr double kMaxDeclared = 100000;

bool isGzip(const QByteArray &b) { return b.size() >= 2 && uchar(b[0]) == 0x1f && uchar(b[1]) == 0x8b; }

QByteArray inflateBounded(const QByteArray &in, QString *error) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
    return *error = tr("Cannot inflate the compressed picture."), QByteArray();
  QByteArray out;
  zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
  zs.avail_in = uInt(in.size());
  int rc = Z_OK;
  char buf[64 * 1024];
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef *>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.append(buf, qsizetype(sizeof buf - zs.avail_out));
    if (out.size() > kSvgMaxBytes) {
      inflateEnd(&zs);
      return *error = tr("The compressed picture inflates to more than %1 MB.").arg(kSvgMaxBytes >> 20), QByteArray();
    }
    if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) break;  // input ended before the stream did
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return *error = tr("The compressed picture is cut short or damaged."), QByteArray();
  return out;
}

// A length in user units: a number with an optional absolute unit; 0 when it is a percentage or unreadable.
double lengthOf(QStringView v) {
  static const struct {
    const char *unit;
    double px;
  } units[] = {{"px", 1}, {"pt", 4.0 / 3}, {"pc", 16}, {"mm", 96 / 25.4}, {"cm", 96 / 2.54}, {"in", 96}};
  v = v.trimmed();
  double factor = 1;
  for (const auto &u : units)
    if (v.endsWith(QLatin1String(u.unit))) {
      factor = u.px;
      v.chop(2);
      break;
    }
  if (v.endsWith('%')) return 0;
  bool ok = false;
  const double d = v.toDouble(&ok) * factor;
  return ok && std::isfinite(d) && d > 0 ? d : 0;
}

bool keepsHref(QStringView value) {
  value = value.trimmed();
  return value.startsWith('#') || value.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

// The elements each part of the document draws: its own plus those of the parts it holds or <use>s.
struct Part {
  qint64 own = 0;
  QVector<int> children;  // parts nested in it
  QVector<QString> uses;  // ids it <use>s
  int state = 0;          // 0 unvisited, 1 on the path, 2 done
  qint64 weight = 0;
};

// Expanded element count of part i, capped just above the bound; -1 for a <use> cycle.
qint64 weighParts(QVector<Part> &parts, const QHash<QString, int> &ids, int root) {
  // Iterative, so that a long chain of uses cannot exhaust the stack.
  struct Frame {
    int part;
    int step;
  };
  QVector<Frame> stack{{root, 0}};
  while (!stack.isEmpty()) {
    Frame &f = stack.last();
    Part &p = parts[f.part];
    if (f.step == 0) {
      if (p.state == 2) {
        stack.removeLast();
        continue;
      }
      if (p.state == 1) return -1;
      p.state = 1;
    }
    const int nChildren = int(p.children.size());
    const int total = nChildren + int(p.uses.size());
    if (f.step < total) {
      const int next = f.step < nChildren ? p.children[f.step] : ids.value(p.uses[f.step - nChildren], -1);
      ++f.step;
      if (next < 0) continue;
      if (parts[next].state == 1) return -1;
      if (parts[next].state == 0) stack.append({next, 0});
      continue;
    }
    qint64 w = p.own;
    for (int c : p.children) w = std::min(w + parts[c].weight, kSvgMaxDrawn + 1);
    for (const QString &u : p.uses)
      if (const int t = ids.value(u, -1); t >= 0) w = std::min(w + parts[t].weight, kSvgMaxDrawn + 1);
    p.weight = w;
    p.state = 2;
    stack.removeLast();
  }
  return parts[root].weight;
}

}  // namespace

bool looksLikeSvg(const QByteArray &head) {
  if (isGzip(head)) return true;
  qsizetype i = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
  while (i < head.size() && QChar::isSpace(uchar(head[i]))) ++i;
  if (i >= head.size() || head[i] != '<') return false;
  const qsizetype tag = head.indexOf("<svg", i);
  return tag >= 0 && (head.mid(i, 5) == "<?xml" || head.mid(i, 2) == "<!" || tag == i);
}

SafeSvg makeSafeSvg(const QByteArray &document) {
  SafeSvg out;
  if (document.size() > kSvgMaxBytes)
    return out.error = tr("The picture is larger than %1 MB.").arg(kSvgMaxBytes >> 20), out;
  QXmlStreamReader r(document);
  r.setEntityExpansionLimit(0);
  QByteArray safe;
  QXmlStreamWriter w(&safe);
  QVector<Part> parts(1);  // part 0: the whole document
  QHash<QString, int> ids;
  QVector<int> open;  // the part each open element counts into
  int depth = 0;
  bool sawRoot = false;
  while (!r.atEnd()) {
    switch (r.readNext()) {
      case QXmlStreamReader::DTD:
        if (!r.entityDeclarations().isEmpty() || r.text().contains(QLatin1String("<!ENTITY")))
          return out.error =
                     tr("The picture declares entities, which can make it grow without bound; it is not shown."),
                 out;
        break;  // a plain document type is left out
      case QXmlStreamReader::StartElement: {
        if (++depth > kMaxDepth)
          return out.error = tr("The picture nests more than %1 levels deep.").arg(kMaxDepth), out;
        const bool root = !sawRoot;
        if (root && r.name() != QLatin1String("svg")) return out.error = tr("The file is not an SVG picture."), out;
        sawRoot = true;
        int part = open.isEmpty() ? 0 : open.last();
        const QString id = r.attributes().value(QLatin1String("id")).toString();
        if (!id.isEmpty() && !ids.contains(id)) {
          parts.append(Part());
          parts[part].children.append(int(parts.size() - 1));
          part = int(parts.size() - 1);
          ids.insert(id, part);
        }
        open.append(part);
        ++parts[part].own;
        w.writeStartElement(r.qualifiedName().toString());
        for (const QXmlStreamNamespaceDeclaration &ns : r.namespaceDeclarations())
          w.writeAttribute(
              ns.prefix().isEmpty() ? QStringLiteral("xmlns") : QStringLiteral("xmlns:") + ns.prefix().toString(),
              ns.namespaceUri().toString());
        QXmlStreamAttributes attrs = r.attributes();
        if (root) {
          const double wd = lengthOf(attrs.value(QLatin1String("width")));
          const double ht = lengthOf(attrs.value(QLatin1String("height")));
          const QStringView vb = attrs.value(QLatin1String("viewBox"));
          const QList<QStringView> n = vb.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
          QSizeF box;
          if (n.size() == 4) box = QSizeF(n[2].toDouble(), n[3].toDouble());
          if (!box.isValid() || !std::isfinite(box.width()) || !std::isfinite(box.height())) box = QSizeF();
          out.size = wd > 0 && ht > 0 ? QSizeF(wd, ht) : box;
          // Past a billion QtSvg's own arithmetic fails: such a canvas is refused, not drawn wrong.
          if (wd > 1e9 || ht > 1e9 || box.width() > 1e9 || box.height() > 1e9)
            return out.error = tr("The picture declares a canvas too large to draw."), out;
          if (wd > kMaxDeclared || ht > kMaxDeclared) {
            QXmlStreamAttributes kept;
            for (const QXmlStreamAttribute &a : attrs)
              if (a.name() != QLatin1String("width") && a.name() != QLatin1String("height")) kept.append(a);
            if (box.isEmpty()) kept.append(QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(wd).arg(ht));
            attrs = kept;
          }
        }
        for (const QXmlStreamAttribute &a : attrs) {
          if (a.name() == QLatin1String("href") && !keepsHref(a.value())) {
            ++out.droppedRefs;
            continue;
          }
          if (a.name() == QLatin1String("href") && r.name() == QLatin1String("use"))
            parts[part].uses.append(a.value().trimmed().mid(1).toString());
          w.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        }
        break;
      }
      case QXmlStreamReader::EndElement:
        --depth;
        open.removeLast();
        w.writeEndElement();
        break;
      case QXmlStreamReader::Characters:
        if (depth > 0) r.isCDATA() ? w.writeCDATA(r.text().toString()) : w.writeCharacters(r.text().toString());
        break;
      default: break;  // comments, processing instructions, the declaration
    }
  }
  if (r.hasError()) {
    if (r.error() == QXmlStreamReader::PrematureEndOfDocumentError)
      return out.error = tr("The picture is cut short (it ends at line %1).").arg(r.lineNumber()), out;
    return out.error = tr("The picture is not well-formed XML (line %1: %2).").arg(r.lineNumber()).arg(r.errorString()),
           out;
  }
  if (!sawRoot) return out.error = tr("The file is not an SVG picture."), out;
  const qint64 drawn = weighParts(parts, ids, 0);
  if (drawn < 0) return out.error = tr("The picture uses its own shapes in a circle."), out;
  if (drawn > kSvgMaxDrawn)
    return out.error = tr("The picture repeats its shapes more than %1 times; it would take too long to draw.")
                           .arg(kSvgMaxDrawn),
           out;
  out.bytes = safe;
  return out;
}

SafeSvg readSafeSvg(const QString &path) {
  SafeSvg out;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return out.error = tr("Cannot open it: %1").arg(f.errorString()), out;
  if (f.size() > kSvgMaxBytes) return out.error = tr("The picture is larger than %1 MB.").arg(kSvgMaxBytes >> 20), out;
  QByteArray bytes = f.readAll();
  if (isGzip(bytes)) {
    bytes = inflateBounded(bytes, &out.error);
    if (bytes.isEmpty()) return out;
  }
  return makeSafeSvg(bytes);
}

QImage renderSvg(const SafeSvg &svg, QSize room, QString *error) {
  auto fail = [error](const QString &text) {
    if (error) *error = text;
    return QImage();
  };
  if (svg.bytes.isEmpty()) return fail(svg.error.isEmpty() ? tr("The picture is empty.") : svg.error);
  QSvgRenderer r(svg.bytes);
  if (!r.isValid()) return fail(tr("QtSvg cannot draw this picture."));
  QSizeF natural = svg.size.isEmpty() ? QSizeF(r.viewBoxF().size()) : svg.size;
  if (natural.isEmpty()) natural = QSizeF(512, 512);
  const QSizeF bound = room.isEmpty() ? QSizeF(4096, 4096) : QSizeF(room);
  if (natural.width() > bound.width() || natural.height() > bound.height())
    natural = natural.scaled(bound, Qt::KeepAspectRatio);
  const QSize target = natural.toSize().expandedTo(QSize(1, 1));
  if (!fits(target.width(), target.height())) return fail(tooLargeText(QString(), target.width(), target.height()));
  QImage img(target, QImage::Format_ARGB32_Premultiplied);
  if (img.isNull()) return fail(tooLargeText(QString(), target.width(), target.height()));
  img.fill(Qt::transparent);
  QPainter p(&img);
  r.render(&p, QRectF(QPointF(0, 0), QSizeF(target)));
  p.end();
  return img;
}

}  // namespace imageio
