#include "formats/raster/imageio.h"

#include "formats/raster/imagedecoders.h"
#include "formats/raster/svgsafe.h"
#include "platform/savefile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QElapsedTimer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <unistd.h>

namespace imageio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("imageio", text); }

bool fail(QString *error, const QString &text) {
  if (error) *error = text;
  return false;
}

std::atomic_int g_limitMb{0};

quint16 u16(const uchar *p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32(const uchar *p) {
  return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

qint64 limitBytes() { return qint64(allocationLimitMb()) * 1024 * 1024; }

QByteArray head(const QString &path, qint64 n) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.read(n);
}

enum class Kind { Other, Pcx, Tga, Wmf, Emf, Bmp, Ico, Tiff, Png, Svg };

bool hasTgaFooter(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || f.size() < 18 + 26 || !f.seek(f.size() - 18)) return false;
  return f.read(18) == QByteArray("TRUEVISION-XFILE.", 18);
}

// By content first, so that a renamed file still reads; the extension decides for the formats without a
// signature (TGA, the WMF form without its placeable header) and names EMF.
Kind kindOf(const QString &path, const QByteArray &h) {
  const uchar *p = reinterpret_cast<const uchar *>(h.constData());
  if (h.size() >= 4 && u32(p) == 0x9AC6CDD7u) return Kind::Wmf;  // placeable metafile
  if (h.size() >= 44 && u32(p) == 1 && h.mid(40, 4) == " EMF") return Kind::Emf;
  const QString ext = QFileInfo(path).suffix().toLower();
  const bool pcxHeader = h.size() >= 128 && p[0] == 0x0A && p[1] <= 5 && p[2] <= 1 &&
                         (p[3] == 1 || p[3] == 2 || p[3] == 4 || p[3] == 8) && p[65] >= 1 && p[65] <= 4;
  if (pcxHeader || (ext == "pcx" && h.size() >= 1 && p[0] == 0x0A)) return Kind::Pcx;
  if (ext == "wmf" && h.size() >= 4 && (u16(p) == 1 || u16(p) == 2) && u16(p + 2) == 9) return Kind::Wmf;
  if (ext == "emf") return Kind::Emf;
  // TGA has no signature: its extension or its version 2 footer names it, unless the content is plainly
  // another format.
  if (ext == "tga" || hasTgaFooter(path)) {
    // (Qt's own probes cannot decide: its icon reader takes a colour-mapped TGA header for an icon's.)
    const bool signed_ = h.startsWith("\x89PNG") || h.startsWith("\xff\xd8\xff") || h.startsWith("GIF8") ||
                         h.startsWith("BM") || h.startsWith("II*") || h.startsWith(QByteArrayView("MM\0*", 4));
    if (!signed_) return Kind::Tga;
  }
  if (h.startsWith("BM")) return Kind::Bmp;
  if (h.startsWith("\x89PNG")) return Kind::Png;
  if (h.startsWith("II*") || h.startsWith(QByteArrayView("MM\0*", 4)) || h.startsWith("II+") ||
      h.startsWith(QByteArrayView("MM\0+", 4)))
    return Kind::Tiff;
  if (h.size() >= 6 && u16(p) == 0 && (u16(p + 2) == 1 || u16(p + 2) == 2) && u16(p + 4) > 0) return Kind::Ico;
  // Never Qt's SVG plug-in: it expands entities, reads the files a picture names and inflates without bound.
  if (ext == "svg" || ext == "svgz" || looksLikeSvg(h)) return Kind::Svg;
  return Kind::Other;
}

QString colourText(int bpp) {
  if (bpp <= 0) return {};
  if (bpp >= 24) return QStringLiteral("16.7 Million");
  return QString::number(qint64(1) << bpp);
}

// ---- PCX -------------------------------------------------------------------------------------------------

// The 16 colours of an EGA card, for files that say they carry no palette of their own.
const QRgb kEga[16] = {0xff000000, 0xff0000aa, 0xff00aa00, 0xff00aaaa, 0xffaa0000, 0xffaa00aa, 0xffaa5500, 0xffaaaaaa,
                       0xff555555, 0xff5555ff, 0xff55ff55, 0xff55ffff, 0xffff5555, 0xffff55ff, 0xffffff55, 0xffffffff};

// ---- Metafiles -------------------------------------------------------------------------------------------

// Records that draw something: each gives the converter one element of output, which is how far it is.
bool drawsSomething(quint16 function) {
  switch (function) {
    case 0x0817:
    case 0x0830:
    case 0x0418:
    case 0x0548:
    case 0x0A32:
    case 0x0228:
    case 0x0419:
    case 0x0429:
    case 0x012A:
    case 0x0213:
    case 0x012B:
    case 0x061D:
    case 0x081A:
    case 0x0325:
    case 0x0324:
    case 0x0538:
    case 0x041B:
    case 0x061C:
    case 0x041F:
    case 0x0521:
    case 0x0922:
    case 0x0B23:
    case 0x0940:
    case 0x0B41:
    case 0x0F43: return true;
    default: return false;
  }
}

int drawingRecords(const QByteArray &file) {
  const uchar *p = reinterpret_cast<const uchar *>(file.constData());
  const qsizetype n = file.size();
  qsizetype at = n >= 4 && u32(p) == 0x9AC6CDD7u ? 22 : 0;
  if (at + 18 > n) return 0;
  at += qsizetype(u16(p + at + 2)) * 2;  // the metafile header's own size, in words
  int count = 0;
  while (at + 6 <= n) {
    const quint32 words = u32(p + at);
    const quint16 function = u16(p + at + 4);
    if (function == 0 || words < 3) break;
    count += drawsSomething(function);
    at += qsizetype(words) * 2;
  }
  return count;
}

QString cancelledText() { return tr("Cancelled."); }

// Icons are read whole; a larger file with an icon's first bytes is left to Qt's plug-in.
constexpr qint64 kIconFileMax = 64 * 1024 * 1024;

// The drawing size a placeable header gives, as the converter draws it: the bounding box, shrunk into
// 8192 x 8192 keeping its shape. Empty without such a header.
QSize placeableSize(const QByteArray &h) {
  const uchar *p = reinterpret_cast<const uchar *>(h.constData());
  if (h.size() < 22 || u32(p) != 0x9AC6CDD7u) return {};
  const int w = std::abs(int(qint16(u16(p + 10))) - int(qint16(u16(p + 6))));
  const int ht = std::abs(int(qint16(u16(p + 12))) - int(qint16(u16(p + 8))));
  if (w == 0 || ht == 0) return {};
  if (w <= 8192 && ht <= 8192) return QSize(w, ht);
  const double f = std::min(8192.0 / w, 8192.0 / ht);
  return QSize(std::max(1, int(w * f)), std::max(1, int(ht * f)));
}

// libwmf's converter runs as a separate process: a hostile metafile can at worst make it fail, not us.
// With sizeOnly it is stopped as soon as it has told the drawing's size, and an image of that size (not
// drawn) comes back.
QImage readWmf(const QString &path, QString *error, const ReadOptions *options, bool sizeOnly = false) {
  const QString tool = QStandardPaths::findExecutable(QStringLiteral("wmf2svg"));
  if (tool.isEmpty()) {
    fail(error, tr("Windows metafiles are drawn by the program wmf2svg (Debian package libwmf-bin), which is not "
                   "installed."));
    return {};
  }
  const bool progress = options && options->progress && !sizeOnly;
  int records = 0;
  if (progress) {
    QFile f(path);
    if (f.open(QIODevice::ReadOnly) && f.size() <= limitBytes()) records = drawingRecords(f.readAll());
  }
  QProcess p;
  p.setStandardErrorFile(QProcess::nullDevice());  // its font warnings would fill a pipe nobody reads
  p.start(tool, {QStringLiteral("--maxwidth=8192"), QStringLiteral("--maxheight=8192"), path});
  QByteArray svg;
  bool ok = p.waitForStarted(10000);
  // Read as it comes so that a large drawing never fills the pipe; give up on a converter that hangs or
  // writes without end.
  QElapsedTimer t;
  t.start();
  int elements = 0, shown = -1;
  auto stop = [&p] {
    p.kill();
    p.waitForFinished(5000);
  };
  while (ok && p.state() != QProcess::NotRunning) {
    p.waitForReadyRead(100);
    const qsizetype from = std::max<qsizetype>(0, svg.size() - 1);
    svg += p.readAllStandardOutput();
    if (options && options->cancel && options->cancel->load()) {
      stop();
      fail(error, cancelledText());
      return {};
    }
    if (sizeOnly) {  // the size is in the first tag: enough
      const qsizetype tag = svg.indexOf("<svg");
      if (tag >= 0 && svg.indexOf('>', tag) > tag) break;
    }
    if (progress && records > 0) {
      for (qsizetype i = svg.indexOf("\n<", from); i >= 0; i = svg.indexOf("\n<", i + 2))
        if (i + 2 < svg.size() && svg[i + 2] != '/') ++elements;
      const int percent = int(std::min<qint64>(95, qint64(elements) * 95 / records));
      if (percent != shown) options->progress(shown = percent);
    }
    if (svg.size() > 256 * 1024 * 1024 || t.elapsed() > 60000) {
      stop();
      fail(error, tr("The metafile %1 is too large or too complex to draw.").arg(QFileInfo(path).fileName()));
      return {};
    }
  }
  if (sizeOnly) {
    if (p.state() != QProcess::NotRunning) stop();
    const qsizetype start = svg.indexOf("<svg");
    const QByteArray tag = start >= 0 ? svg.mid(start, svg.indexOf('>', start) - start) : QByteArray();
    auto number = [&tag](const char *attr) {
      const qsizetype at = tag.indexOf(attr);
      if (at < 0) return 0;
      const qsizetype from = at + qsizetype(strlen(attr));
      return int(tag.mid(from, tag.indexOf('"', from) - from).toDouble());
    };
    const int w = number("width=\""), h = number("height=\"");
    if (w <= 0 || h <= 0) {
      fail(error, tr("%1 is not a Windows metafile that can be drawn.").arg(QFileInfo(path).fileName()));
      return {};
    }
    QImage sized(std::min(w, 8192), std::min(h, 8192), QImage::Format_Mono);  // only its size is wanted
    return sized;
  }
  svg += p.readAllStandardOutput();
  if (!ok || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !svg.contains("<svg")) {
    fail(error, tr("%1 is not a Windows metafile that can be drawn.").arg(QFileInfo(path).fileName()));
    return {};
  }
  QBuffer buf(&svg);
  buf.open(QIODevice::ReadOnly);
  QImageReader r(&buf, "svg");
  QSize size = r.size();
  if (!size.isValid() || size.isEmpty()) {
    fail(error, tr("The metafile %1 has no drawing size.").arg(QFileInfo(path).fileName()));
    return {};
  }
  if (size.width() > 8192 || size.height() > 8192) size.scale(8192, 8192, Qt::KeepAspectRatio);
  r.setScaledSize(size);
  const QImage drawn = r.read();
  if (drawn.isNull()) {
    fail(error, tr("The metafile %1 could not be drawn: %2.").arg(QFileInfo(path).fileName(), r.errorString()));
    return {};
  }
  if (options && options->cancel && options->cancel->load()) {
    fail(error, cancelledText());
    return {};
  }
  // A metafile draws on a page: put it on white, as it would print.
  QImage out(drawn.size(), QImage::Format_RGB32);
  out.fill(Qt::white);
  QPainter painter(&out);
  painter.drawImage(0, 0, drawn);
  painter.end();
  if (progress) options->progress(100);
  return out;
}

// ---- Header details the image window's information items show ---------------------------------------

void describe(const QByteArray &h, const QByteArray &format, Info &info) {
  const uchar *p = reinterpret_cast<const uchar *>(h.constData());
  const qsizetype n = h.size();
  if (format == "bmp") {
    const BmpHeader b = bmpHeader(h);  // OS/2 1.x headers are shorter, with the depth elsewhere
    if (!b.ok) return;
    info.bitsPerPixel = b.bitsPerPixel;
    const quint32 comp = b.compression;
    info.subType = b.headerSize == 12       ? QStringLiteral("OS/2")
                   : comp == 1 || comp == 2 ? QStringLiteral("RLE")
                   : comp == 3 || comp == 6
                       ? (b.headerSize == 64 ? QStringLiteral("Huffman") : QStringLiteral("Bitfields"))
                       : QString();
  } else if (format == "png" && n >= 29) {
    const int depth = p[24], type = p[25];
    const int channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    info.bitsPerPixel = depth * channels;
    if (p[28] == 1) info.subType = QStringLiteral("Interlaced");
    if (type == 3) info.colours = colourText(depth);
  } else if (format == "jpeg") {
    for (qsizetype i = 2; i + 9 < n;) {
      if (p[i] != 0xFF) break;
      const int m = p[i + 1];
      if (m == 0xFF) {
        ++i;
        continue;
      }
      const int len = (p[i + 2] << 8) | p[i + 3];
      if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
        info.subType = (m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE) ? QStringLiteral("Progressive")
                                                                          : QStringLiteral("Baseline");
        info.bitsPerPixel = p[i + 4] * p[i + 9];
        break;
      }
      i += 2 + len;
    }
  } else if (format == "gif" && n >= 11) {
    if (p[10] & 0x80) info.bitsPerPixel = (p[10] & 7) + 1;
    info.subType = QString::fromLatin1(h.mid(3, 3));  // "87a" or "89a"
  } else if ((format == "pbm" || format == "pgm" || format == "ppm") && n >= 2 && p[0] == 'P') {
    const int v = p[1] - '0';
    info.subType = v >= 1 && v <= 3 ? QStringLiteral("ASCII") : QStringLiteral("Binary");
    const int sampleBits = pnmMaxValue(h) > 255 ? 16 : 8;  // 16 bits a sample above 255
    info.bitsPerPixel = v == 1 || v == 4 ? 1 : v == 2 || v == 5 ? sampleBits : 3 * sampleBits;
  }
}

}  // namespace

void setAllocationLimit() {
  if (g_limitMb.load() > 0) return;
  // A quarter of the machine's memory: a 100-megapixel photograph opens, a lying header cannot take the
  // machine down. Never below Qt's own default, never above what one picture may sensibly hold.
  const qint64 pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  qint64 mb = pages > 0 && pageSize > 0 ? pages / 4 * pageSize / (1024 * 1024) : 256;
  mb = std::clamp<qint64>(mb, 256, 2048);
  QImageReader::setAllocationLimit(int(mb));
  g_limitMb = int(mb);
}

int allocationLimitMb() {
  setAllocationLimit();
  return g_limitMb.load();
}

QImage readPcx(const QByteArray &bytes, QString *error) {
  const uchar *d = reinterpret_cast<const uchar *>(bytes.constData());
  const qsizetype size = bytes.size();
  if (size < 128) return fail(error, tr("The PCX file is too short to hold its header.")), QImage();
  if (d[0] != 0x0A) return fail(error, tr("This is not a PCX file.")), QImage();
  const int version = d[1], encoding = d[2], bpp = d[3], planes = d[65];
  if (encoding > 1) return fail(error, tr("The PCX file uses a compression this reader does not know.")), QImage();
  const int xmin = u16(d + 4), ymin = u16(d + 6), xmax = u16(d + 8), ymax = u16(d + 10);
  const int bpl = u16(d + 66);
  if (xmax < xmin || ymax < ymin) return fail(error, tr("The PCX file's picture size is wrong.")), QImage();
  const int w = xmax - xmin + 1, h = ymax - ymin + 1;
  const bool known = (bpp == 1 && planes >= 1 && planes <= 4) || (bpp == 2 && planes == 1) ||
                     (bpp == 4 && planes == 1) || (bpp == 8 && (planes == 1 || planes == 3 || planes == 4));
  if (!known)
    return fail(error, tr("PCX pictures of %1 bits in %2 planes are not supported.").arg(bpp).arg(planes)), QImage();
  if (qint64(bpl) * 8 < qint64(w) * bpp) return fail(error, tr("The PCX file's line length is wrong.")), QImage();
  if (!fits(w, h)) return fail(error, tooLargeText(QString(), w, h)), QImage();

  // 256-colour pictures carry their palette after the pixels, behind a 12.
  bool tailPalette = false;
  qsizetype end = size;
  if (bpp == 8 && planes == 1 && size >= 128 + 769 && d[size - 769] == 0x0C) {
    tailPalette = true;
    end = size - 769;
  }
  const qint64 lineBytes = qint64(bpl) * planes;
  const qint64 total = lineBytes * h;
  // One two-byte run gives at most 63 bytes: a header that asks for more than the data could ever hold is
  // refused before anything is allocated.
  const qint64 available = end - 128;
  if (total > (encoding ? available * 32 : available)) return fail(error, tr("The PCX file is truncated.")), QImage();

  QVector<QRgb> palette;
  if (bpp == 8 && planes == 1) {
    for (int i = 0; i < 256; ++i)
      palette << (tailPalette ? qRgb(d[end + 1 + 3 * i], d[end + 2 + 3 * i], d[end + 3 + 3 * i]) : qRgb(i, i, i));
  } else if (bpp * planes <= 4) {
    const int colours = 1 << (bpp * planes);
    for (int i = 0; i < colours; ++i) palette << qRgb(d[16 + 3 * i], d[17 + 3 * i], d[18 + 3 * i]);
    if (colours == 2 && palette[0] == palette[1]) palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    if (version == 3 && colours == 16) palette = QVector<QRgb>(kEga, kEga + 16);
  }

  QImage img;
  if (planes >= 3 && bpp == 8)
    img = QImage(w, h, planes == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  else {
    img = QImage(w, h, QImage::Format_Indexed8);
    img.setColorTable(palette);
  }
  if (img.isNull()) return fail(error, tr("There is not enough memory for the PCX picture.")), QImage();
  const int dpiX = u16(d + 12), dpiY = u16(d + 14);
  if (dpiX > 0 && dpiX < 10000 && dpiY > 0 && dpiY < 10000) {
    img.setDotsPerMeterX(qRound(dpiX / 0.0254));
    img.setDotsPerMeterY(qRound(dpiY / 0.0254));
  }

  // The pixel stream: runs may cross line ends (older writers do so), and one that runs past the picture
  // just ends with it.
  qsizetype pos = 128;
  int runLeft = 0;
  uchar runValue = 0;
  std::vector<uchar> line(static_cast<size_t>(lineBytes));
  for (int y = 0; y < h; ++y) {
    for (qint64 i = 0; i < lineBytes; ++i) {
      if (runLeft > 0) {
        --runLeft;
        line[size_t(i)] = runValue;
        continue;
      }
      for (;;) {
        if (pos >= end) return fail(error, tr("The PCX file is truncated.")), QImage();
        const uchar b = d[pos++];
        if (!encoding || (b & 0xC0) != 0xC0) {
          line[size_t(i)] = b;
          break;
        }
        if (pos >= end) return fail(error, tr("The PCX file is truncated.")), QImage();
        runValue = d[pos++];
        const int count = b & 0x3F;
        if (count == 0) continue;  // an empty run: nothing to put
        runLeft = count - 1;
        line[size_t(i)] = runValue;
        break;
      }
    }
    const uchar *l = line.data();
    if (img.format() == QImage::Format_Indexed8) {
      uchar *out = img.scanLine(y);
      for (int x = 0; x < w; ++x) {
        int index = 0;
        if (bpp == 8)
          index = l[x];
        else if (bpp == 4)
          index = (l[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
        else if (bpp == 2)
          index = (l[x / 4] >> (6 - 2 * (x & 3))) & 3;
        else
          for (int p = 0; p < planes; ++p) index |= ((l[p * bpl + x / 8] >> (7 - (x & 7))) & 1) << p;
        out[x] = uchar(index);
      }
    } else {
      QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
      for (int x = 0; x < w; ++x) out[x] = qRgba(l[x], l[bpl + x], l[2 * bpl + x], planes == 4 ? l[3 * bpl + x] : 255);
    }
  }
  return img;
}

QImage readTga(const QByteArray &bytes, QString *error) {
  const uchar *d = reinterpret_cast<const uchar *>(bytes.constData());
  const qsizetype size = bytes.size();
  if (size < 18) return fail(error, tr("The TGA file is too short to hold its header.")), QImage();
  const int idLength = d[0], mapType = d[1], type = d[2];
  const int mapFirst = u16(d + 3), mapLength = u16(d + 5), mapEntryBits = d[7];
  const int w = u16(d + 12), h = u16(d + 14), depth = d[16], descriptor = d[17];
  const bool rle = type >= 9 && type <= 11;
  const int base = rle ? type - 8 : type;
  if (base < 1 || base > 3 || mapType > 1)
    return fail(error, tr("This is not a TGA picture this reader knows.")), QImage();
  if (w == 0 || h == 0) return fail(error, tr("The TGA file's picture size is wrong.")), QImage();
  const bool depthOk = base == 1   ? (depth == 8 || depth == 16) && mapType == 1
                       : base == 2 ? depth == 15 || depth == 16 || depth == 24 || depth == 32
                                   : depth == 8 || depth == 16;
  if (!depthOk) return fail(error, tr("TGA pictures of %1 bits are not supported.").arg(depth)), QImage();
  if (!fits(w, h)) return fail(error, tooLargeText(QString(), w, h)), QImage();

  auto colourOf = [](const uchar *p, int bits) -> QRgb {
    switch (bits) {
      case 15:
      case 16: {
        const int v = p[0] | (p[1] << 8);
        return qRgb(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
      }
      case 24: return qRgb(p[2], p[1], p[0]);
      default: return qRgba(p[2], p[1], p[0], p[3]);
    }
  };
  qsizetype pos = 18 + idLength;
  QVector<QRgb> map;
  if (mapType == 1) {
    if (mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
      return fail(error, tr("The TGA file's colour map is of a kind this reader does not know.")), QImage();
    const int entryBytes = (mapEntryBits + 7) / 8;
    if (pos + qint64(mapLength) * entryBytes > size) return fail(error, tr("The TGA file is truncated.")), QImage();
    map.resize(mapFirst + mapLength);  // indices below the first entry stay black
    for (int i = 0; i < mapLength; ++i) map[mapFirst + i] = colourOf(d + pos + i * entryBytes, mapEntryBits);
    pos += qsizetype(mapLength) * entryBytes;
  }
  const int pixelBytes = (depth + 7) / 8;
  const qint64 pixels = qint64(w) * h;
  const qint64 available = size - pos;
  // A packet of one pixel's bytes and a count gives at most 128 pixels: refuse a header the data cannot fill.
  if (pixels > (rle ? available / (1 + pixelBytes) * 128 + 128 : available / pixelBytes))
    return fail(error, tr("The TGA file is truncated.")), QImage();

  const bool alpha = (base == 2 && depth == 32 && (descriptor & 15) != 0) || (base == 3 && depth == 16) ||
                     (base == 1 && mapEntryBits == 32);
  QImage img(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (img.isNull()) return fail(error, tr("There is not enough memory for the TGA picture.")), QImage();
  const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
  auto decode = [&](const uchar *p) -> QRgb {
    if (base == 1) {
      const int index = pixelBytes == 1 ? p[0] : u16(p);
      return index < map.size() ? map[index] : qRgb(0, 0, 0);
    }
    if (base == 3) return pixelBytes == 1 ? qRgb(p[0], p[0], p[0]) : qRgba(p[0], p[0], p[0], p[1]);
    const QRgb c = colourOf(p, depth);
    return depth == 32 && !alpha ? (c | 0xff000000) : c;
  };
  qint64 done = 0;
  auto put = [&](QRgb c) {
    const int fy = int(done / w), fx = int(done % w);
    const int y = topDown ? fy : h - 1 - fy, x = rightToLeft ? w - 1 - fx : fx;
    reinterpret_cast<QRgb *>(img.scanLine(y))[x] = c;
    ++done;
  };
  while (done < pixels) {
    if (!rle) {
      if (pos + pixelBytes > size) return fail(error, tr("The TGA file is truncated.")), QImage();
      put(decode(d + pos));
      pos += pixelBytes;
      continue;
    }
    if (pos >= size) return fail(error, tr("The TGA file is truncated.")), QImage();
    const int packet = d[pos++];
    // Packets may run over line ends; one that runs past the picture ends with it.
    const qint64 count = std::min<qint64>((packet & 0x7f) + 1, pixels - done);
    if (packet & 0x80) {
      if (pos + pixelBytes > size) return fail(error, tr("The TGA file is truncated.")), QImage();
      const QRgb c = decode(d + pos);
      pos += pixelBytes;
      for (qint64 i = 0; i < count; ++i) put(c);
    } else {
      for (qint64 i = 0; i < count; ++i) {
        if (pos + pixelBytes > size) return fail(error, tr("The TGA file is truncated.")), QImage();
        put(decode(d + pos));
        pos += pixelBytes;
      }
    }
  }
  return img;
}

QByteArray writeTga(const QImage &image) {
  if (image.isNull() || image.width() > 65535 || image.height() > 65535) return {};
  const bool alpha = image.hasAlphaChannel();
  const QImage src = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  const int w = src.width(), h = src.height(), bytes = alpha ? 4 : 3;
  QByteArray out;
  out.reserve(18 + qsizetype(w) * h * bytes);
  const uchar header[18] = {0,
                            0,
                            2,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            0,
                            uchar(w & 0xff),
                            uchar(w >> 8),
                            uchar(h & 0xff),
                            uchar(h >> 8),
                            uchar(alpha ? 32 : 24),
                            uchar(alpha ? 8 : 0)};  // origin bottom left
  out.append(reinterpret_cast<const char *>(header), 18);
  std::vector<char> row(size_t(w) * size_t(bytes));
  for (int y = h - 1; y >= 0; --y) {
    const QRgb *s = reinterpret_cast<const QRgb *>(src.constScanLine(y));
    char *o = row.data();
    for (int x = 0; x < w; ++x) {
      *o++ = char(qBlue(s[x]));
      *o++ = char(qGreen(s[x]));
      *o++ = char(qRed(s[x]));
      if (alpha) *o++ = char(qAlpha(s[x]));
    }
    out.append(row.data(), qsizetype(row.size()));
  }
  out.append(QByteArray(8, '\0'));  // no extension area, no developer directory
  out.append("TRUEVISION-XFILE.", 18);
  return out;
}

bool fits(qint64 width, qint64 height) {
  return width > 0 && height > 0 && width <= limitBytes() && width * height <= limitBytes() / 4;
}

QString tooLargeText(const QString &name, qint64 width, qint64 height) {
  const qint64 megapixels = limitBytes() / 4 / 1000000;
  return name.isEmpty() ? tr("The picture is %1 x %2 pixels: more than the %3 million pixels one picture may have on "
                             "this machine.")
                              .arg(width)
                              .arg(height)
                              .arg(megapixels)
                        : tr("%1 is %2 x %3 pixels: more than the %4 million pixels one picture may have on this "
                             "machine.")
                              .arg(name)
                              .arg(width)
                              .arg(height)
                              .arg(megapixels);
}

namespace {

QImage readFileWith(const QString &path, QString *error, QImage (*reader)(const QByteArray &, QString *)) {
  const QFileInfo fi(path);
  const QString name = fi.fileName();
  if (fi.size() > limitBytes())
    return fail(error, tr("%1 is too large to be a picture this machine can hold.").arg(name)), QImage();
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return fail(error, tr("Cannot open %1: %2").arg(name, f.errorString())), QImage();
  QString why;
  const QImage img = reader(f.readAll(), &why);
  if (img.isNull()) fail(error, tr("Cannot read %1: %2").arg(name, why));
  return img;
}

// Qt's plug-ins: the size rule checked from the header before anything is decoded, a photograph turned as
// its EXIF data says, decoded straight at the size shown when a room is given.
QImage readWithQt(const QString &path, QString *error, const ReadOptions &options) {
  const QString name = QFileInfo(path).fileName();
  QImageReader r(path);
  r.setDecideFormatFromContent(true);
  r.setAutoTransform(true);
  if (options.index > 0 && !r.jumpToImage(options.index))
    return fail(error, tr("%1 has no image %2.").arg(name).arg(options.index + 1)), QImage();
  const QSize stored = r.size();
  if (stored.isValid() && !fits(stored.width(), stored.height()))
    return fail(error, tooLargeText(name, stored.width(), stored.height())), QImage();
  if (stored.isValid() && !options.room.isEmpty()) {
    const bool turned = r.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize shown = turned ? stored.transposed() : stored;
    if (shown.width() > options.room.width() || shown.height() > options.room.height()) {
      const QSize target = shown.scaled(options.room, Qt::KeepAspectRatio).expandedTo({1, 1});
      r.setScaledSize(turned ? target.transposed() : target);
    }
  }
  QImage img = r.read();
  if (img.isNull()) {
    const QByteArray ext = QFileInfo(path).suffix().toLower().toLatin1();
    // Formats whose plug-in a machine may lack (Debian's Qt 6 has none for AVIF and HEIF).
    static const QList<QByteArray> optional = {"avif", "heif", "heic", "jxl", "jp2", "webp"};
    const bool noPlugin = optional.contains(ext) && !QImageReader::supportedImageFormats().contains(ext);
    const QString why =
        r.error() != QImageReader::UnsupportedFormatError ? r.errorString()
        : noPlugin ? tr("no image plug-in on this system reads %1 pictures").arg(QString::fromLatin1(ext).toUpper())
                   : tr("it is not a picture in a known format");
    fail(error, tr("Cannot read %1: %2.").arg(name, why));
  }
  return img;
}

}  // namespace

QImage read(const QString &path, QString *error) { return read(path, error, ReadOptions()); }

QImage read(const QString &path, QString *error, const ReadOptions &options) {
  setAllocationLimit();
  const QFileInfo fi(path);
  const QString name = fi.fileName();
  if (!fi.exists()) return fail(error, tr("The file %1 does not exist.").arg(path)), QImage();
  const QByteArray h = head(path, 128);
  const Kind kind = kindOf(path, h);
  if (kind == Kind::Svg) {  // drawn at the size shown, whatever canvas it declares
    QString why;
    const QImage img = renderSvg(readSafeSvg(path), options.room, &why);
    if (img.isNull()) fail(error, tr("Cannot read %1: %2").arg(name, why));
    return img;
  }
  // The size rule from the header, before anything is allocated (metafiles are drawn at most 8192 square).
  if (kind != Kind::Wmf && kind != Kind::Emf) {
    const Info i = info(path, options.index);
    if (i.ok && !fits(i.width, i.height)) return fail(error, tooLargeText(name, i.width, i.height)), QImage();
  }
  QImage img;
  switch (kind) {
    case Kind::Pcx: img = readFileWith(path, error, readPcx); break;
    case Kind::Tga: img = readFileWith(path, error, readTga); break;
    case Kind::Wmf: img = readWmf(path, error, &options); break;
    case Kind::Emf:
      return fail(error,
                  tr("%1 is an enhanced metafile (EMF); this version shows Windows metafiles (WMF) only.").arg(name)),
             QImage();
    case Kind::Bmp:
      if (bmpNeedsOwnReader(bmpHeader(head(path, 14 + 124 + 16))))
        img = readFileWith(path, error, readBmpBitfields);
      else
        img = readWithQt(path, error, options);
      break;
    case Kind::Ico: {
      const int index = options.index;
      QString why;
      if (fi.size() <= kIconFileMax) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) img = readIcon(f.readAll(), index, &why);
      }
      if (img.isNull()) {
        // A directory ours cannot follow may still be one Qt's plug-in can.
        ReadOptions qt = options;
        qt.index = std::max(0, index);
        img = readWithQt(path, nullptr, qt);
        if (img.isNull())
          fail(error, tr("Cannot read %1: %2").arg(name, why.isEmpty() ? tr("it is not an icon") : why));
      }
      break;
    }
    case Kind::Tiff: {
      QString why;
      const int page = std::max(0, options.index);
      img = readTiffStraightAlpha(path, page, &why);
      if (img.isNull() && !why.isEmpty()) return fail(error, tr("Cannot read %1: %2").arg(name, why)), QImage();
      if (img.isNull()) {
        ReadOptions qt = options;
        qt.index = page;
        img = readWithQt(path, error, qt);
      }
      break;
    }
    case Kind::Png:
      // The transparent colour comes before the pixels, so the first part of the file tells.
      if (pngNeedsOwnReader(head(path, 1 << 20)))
        img = readFileWith(path, error, readPng);
      else
        img = readWithQt(path, error, options);
      break;
    case Kind::Other: img = readWithQt(path, error, options); break;
  }
  if (!img.isNull() && options.cancel && options.cancel->load()) return fail(error, cancelledText()), QImage();
  return img;
}

Info info(const QString &path) { return info(path, -1); }

Info info(const QString &path, int index) {
  setAllocationLimit();
  Info info;
  const QByteArray h = head(path, 64 * 1024);
  if (h.isEmpty()) return info;
  const uchar *p = reinterpret_cast<const uchar *>(h.constData());
  info.count = 1;
  switch (kindOf(path, h)) {
    case Kind::Pcx: {
      if (h.size() < 128 || p[0] != 0x0A) return info;
      const int xmin = u16(p + 4), ymin = u16(p + 6), xmax = u16(p + 8), ymax = u16(p + 10);
      if (xmax < xmin || ymax < ymin) return info;
      info.ok = true;
      info.type = QStringLiteral("PCX");
      info.width = xmax - xmin + 1;
      info.height = ymax - ymin + 1;
      info.bitsPerPixel = p[3] * p[65];
      info.subType = p[2] == 1 ? QStringLiteral("RLE") : QString();
      info.colours = colourText(info.bitsPerPixel);
      return info;
    }
    case Kind::Tga: {
      if (h.size() < 18 || u16(p + 12) == 0 || u16(p + 14) == 0) return info;
      const int type = p[2];
      if (!((type >= 1 && type <= 3) || (type >= 9 && type <= 11))) return info;
      info.ok = true;
      info.type = QStringLiteral("TGA");
      info.width = u16(p + 12);
      info.height = u16(p + 14);
      info.bitsPerPixel = p[16];
      info.subType = type >= 9 ? QStringLiteral("RLE") : QString();
      info.colours = colourText(type == 1 || type == 9       ? std::min<int>(p[16], 8)
                                : p[16] == 16 || p[16] == 15 ? 15
                                                             : p[16]);
      return info;
    }
    case Kind::Wmf: {
      // Measured, not drawn: drawing a large metafile takes seconds, and this runs before it is shown.
      QSize size = placeableSize(h);
      if (size.isEmpty()) size = readWmf(path, nullptr, nullptr, true).size();
      if (size.isEmpty()) return info;
      info.ok = true;
      info.type = QStringLiteral("WMF");
      info.subType = u32(p) == 0x9AC6CDD7u ? QStringLiteral("Placeable") : QString();
      info.width = size.width();
      info.height = size.height();
      info.bitsPerPixel = 24;
      info.colours = colourText(24);
      return info;
    }
    case Kind::Emf: info.type = QStringLiteral("EMF"); return info;
    case Kind::Ico: {
      QFile f(path);
      if (f.size() > kIconFileMax || !f.open(QIODevice::ReadOnly)) break;
      const QVector<IconEntry> entries = iconEntries(f.readAll());
      if (entries.isEmpty()) break;  // perhaps one Qt's plug-in knows
      info.ok = true;
      info.type = u16(p + 2) == 2 ? QStringLiteral("CUR") : QStringLiteral("ICO");
      info.count = int(entries.size());
      info.shown = largestIcon(entries);
      const IconEntry &e = entries[index >= 0 && index < entries.size() ? index : info.shown];
      info.width = e.width;
      info.height = e.height;
      info.bitsPerPixel = e.bitsPerPixel;
      info.subType = e.png ? QStringLiteral("PNG") : QString();
      info.colours = colourText(e.bitsPerPixel);
      return info;
    }
    case Kind::Tiff: {
      const TiffInfo t = tiffInfo(path, std::max(0, index));
      if (!t.ok) break;
      info.ok = true;
      info.type = QStringLiteral("TIFF");
      info.count = std::max(1, t.pages);
      info.width = t.width;
      info.height = t.height;
      info.bitsPerPixel = t.bitsPerSample * t.samples;
      info.subType = t.compression;
      info.colours = colourText(t.palette ? t.bitsPerSample : info.bitsPerPixel);
      return info;
    }
    case Kind::Bmp: {
      // From the header: Qt's plug-in measures only what it can decode.
      const BmpHeader b = bmpHeader(h);
      if (!b.ok || b.width <= 0 || b.height <= 0 || b.bitsPerPixel <= 0) break;
      info.ok = true;
      info.type = QStringLiteral("BMP");
      info.width = b.width;
      info.height = b.height;
      describe(h, "bmp", info);
      info.colours = colourText(info.bitsPerPixel);
      return info;
    }
    case Kind::Svg: {
      const SafeSvg svg = readSafeSvg(path);
      if (svg.bytes.isEmpty()) return info;
      const QSizeF size = svg.size.isEmpty() ? QSizeF(512, 512) : svg.size;
      info.ok = true;
      info.type = QStringLiteral("SVG");
      info.subType = h.startsWith("\x1f\x8b") ? QStringLiteral("Compressed") : QString();
      info.width = int(std::clamp<double>(std::round(size.width()), 1, 1e9));
      info.height = int(std::clamp<double>(std::round(size.height()), 1, 1e9));
      info.bitsPerPixel = 32;
      info.colours = colourText(24);
      return info;
    }
    case Kind::Png:
    case Kind::Other: break;
  }
  QImageReader r(path);
  r.setDecideFormatFromContent(true);
  if (!r.canRead()) return info;
  const QByteArray format = r.format().toLower();
  if (index > 0) r.jumpToImage(index);
  QSize size = r.size();
  if (!size.isValid()) {  // the handler tells its size only by decoding
    const QImage img = r.read();
    if (img.isNull()) return info;
    size = img.size();
  }
  // A photograph stored on its side shows turned: its information is the turned size.
  if (r.transformation() & QImageIOHandler::TransformationRotate90) size.transpose();
  info.ok = true;
  info.width = size.width();
  info.height = size.height();
  info.type = format == "jpeg" ? QStringLiteral("JPEG") : QString::fromLatin1(format).toUpper();
  info.count = std::max(1, r.imageCount());
  info.animated = r.supportsAnimation() && info.count >= 2;
  describe(h, format, info);
  if (info.bitsPerPixel <= 0 && r.imageFormat() != QImage::Format_Invalid)
    info.bitsPerPixel = QImage::toPixelFormat(r.imageFormat()).bitsPerPixel();
  if (info.colours.isEmpty()) info.colours = colourText(info.bitsPerPixel);
  return info;
}

bool write(const QImage &image, const QString &path, QString *error) {
  const QString ext = QFileInfo(path).suffix().toLower();
  static const QHash<QString, QByteArray> formats = {{"bmp", "bmp"},  {"jpg", "jpeg"}, {"jpeg", "jpeg"}, {"pbm", "pbm"},
                                                     {"pgm", "pgm"},  {"png", "png"},  {"ppm", "ppm"},   {"tga", "tga"},
                                                     {"tif", "tiff"}, {"tiff", "tiff"}};
  const QByteArray format = formats.value(ext);
  if (format.isEmpty())
    return fail(error,
                tr("Pictures cannot be saved as \".%1\": choose bmp, jpg, pbm, pgm, png, ppm, tga or tif.").arg(ext));
  if (image.isNull()) return fail(error, tr("There is no picture to save."));
  // The largest sides the encoders take: libpng's own limit (Qt does not raise it), libjpeg's, TGA's 16 bits.
  const int maxSide = format == "png" ? 1000000 : format == "jpeg" ? 65500 : format == "tga" ? 65535 : 0;
  if (maxSide && (image.width() > maxSide || image.height() > maxSide))
    return fail(error,
                tr("Cannot write %1: %2 pictures can be at most %3 pixels wide and high, and this one is %4 x %5. "
                   "Choose another format.")
                    .arg(QFileInfo(path).fileName(), QString::fromLatin1(format).toUpper())
                    .arg(maxSide)
                    .arg(image.width())
                    .arg(image.height()));
  QImage out = image;
  // Formats without transparency, all alike, get the picture as it looks on white, not the colours hidden
  // under it.
  if (out.hasAlphaChannel() &&
      (format == "bmp" || format == "jpeg" || format == "pbm" || format == "pgm" || format == "ppm")) {
    QImage flat(out.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    flat.setDotsPerMeterX(out.dotsPerMeterX());
    flat.setDotsPerMeterY(out.dotsPerMeterY());
    QPainter painter(&flat);
    painter.drawImage(0, 0, out);
    painter.end();
    out = flat;
  }
  QByteArray tga;
  if (format == "tga") {
    tga = writeTga(out);
    if (tga.isEmpty()) return fail(error, tr("TGA pictures can be at most 65535 pixels wide and high."));
  }
  // Encoded in memory first, then written whole: a failed save never leaves a cut picture behind.
  QByteArray bytes = tga;
  if (format != "tga") {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter w(&buffer, format);
    if (format == "jpeg") w.setQuality(90);
    if (!w.write(out)) {
      // Qt's writers tell little more than "Unknown error": say at least what was refused.
      const QString why = w.error() == QImageWriter::UnknownError ? tr("the %1 encoder refused this %2 x %3 picture")
                                                                        .arg(QString::fromLatin1(format).toUpper())
                                                                        .arg(out.width())
                                                                        .arg(out.height())
                                                                  : w.errorString();
      return fail(error, tr("Cannot write %1: %2").arg(path, why));
    }
  }
  QString why;
  if (!platform::saveFileAtomically(path, bytes, &why)) return fail(error, tr("Cannot write %1: %2").arg(path, why));
  return true;
}

}  // namespace imageio
