#include "formats/raster/imagedecoders.h"

#include "formats/raster/imageio.h"

#include <QCoreApplication>
#include <QFile>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <memory>

namespace imageio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("imageio", text); }

QImage fail(QString *error, const QString &text) {
  if (error) *error = text;
  return {};
}

quint16 u16(const uchar *p) { return quint16(p[0] | (p[1] << 8)); }
quint32 u32(const uchar *p) { return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24); }
qint32 i32(const uchar *p) { return qint32(u32(p)); }
quint32 be32(const uchar *p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]; }

// A channel of `bits` bits widened to 8 by repeating its bits (5-bit 31 and 4-bit 15 give 255, as in every
// common reader), or narrowed by dropping the lowest.
struct Channel {
  quint32 mask = 0;
  int shift = 0, bits = 0;
  explicit Channel(quint32 m) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    bits = std::popcount(m);
  }
  // Masks must be one run of bits; a broken one reads as absent.
  bool valid() const { return mask == 0 || ((mask >> shift) & ((mask >> shift) + 1)) == 0; }
  int operator()(quint32 px) const {
    if (!bits) return 0;
    const quint32 v = (px & mask) >> shift;
    if (bits >= 8) return int(v >> (bits - 8));
    int out = 0;
    for (int at = 8 - bits; at > -bits; at -= bits) out |= at >= 0 ? int(v << at) : int(v >> -at);
    return out & 0xff;
  }
};

}  // namespace

// ---- BMP -------------------------------------------------------------------------------------------------

BmpHeader bmpHeader(const QByteArray &bytes) {
  BmpHeader h;
  const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
  const qsizetype n = bytes.size();
  if (n < 26 || p[0] != 'B' || p[1] != 'M') return h;
  h.headerSize = int(u32(p + 14));
  if (h.headerSize == 12) {  // OS/2 1.x: 16-bit sizes, no compression
    h.width = u16(p + 18);
    h.height = u16(p + 20);
    h.bitsPerPixel = u16(p + 24);
    h.ok = true;
    return h;
  }
  if (h.headerSize < 40 || n < 14 + 40) return h;
  h.width = i32(p + 18);
  const qint32 height = i32(p + 22);
  h.topDown = height < 0;
  h.height = height == INT32_MIN ? 0 : std::abs(height);
  h.bitsPerPixel = u16(p + 28);
  h.compression = u32(p + 30);
  if (h.width <= 0 || h.height <= 0) return h;
  if (h.bitsPerPixel == 16 || h.bitsPerPixel == 32) {
    if (h.compression == 0) {
      if (h.bitsPerPixel == 16) {
        h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
      } else {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
      }
    } else if (h.compression == 3 || h.compression == 6) {
      // The masks follow a 40-byte header, or sit inside a longer one.
      const int count = h.compression == 6 || h.headerSize >= 56 ? 4 : 3;
      if (n < 14 + 40 + 4 * count) return h;
      for (int i = 0; i < count; ++i) h.masks[i] = u32(p + 54 + 4 * i);
    }
  }
  h.ok = true;
  return h;
}

bool bmpNeedsOwnReader(const BmpHeader &h) {
  if (!h.ok || h.headerSize == 12 || h.headerSize == 64) return false;  // OS/2 2.x: 3 means Huffman there
  return (h.bitsPerPixel == 16 && (h.compression == 0 || h.compression == 3 || h.compression == 6)) ||
         (h.bitsPerPixel == 32 && (h.compression == 3 || h.compression == 6));
}

QImage readBmpBitfields(const QByteArray &bytes, QString *error) {
  const BmpHeader h = bmpHeader(bytes);
  if (!bmpNeedsOwnReader(h)) return fail(error, tr("This is not a bit-field BMP file."));
  const Channel r(h.masks[0]), g(h.masks[1]), b(h.masks[2]), a(h.masks[3]);
  if (!r.valid() || !g.valid() || !b.valid() || !a.valid()) return fail(error, tr("The BMP file's colour masks are broken."));
  if (!fits(h.width, h.height)) return fail(error, tooLargeText(QString(), h.width, h.height));
  const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
  const quint32 offset = u32(p + 10);
  const qint64 stride = (qint64(h.width) * h.bitsPerPixel + 31) / 32 * 4;
  if (offset < 14 + quint32(h.headerSize) || qint64(offset) + stride * h.height > qint64(bytes.size()))
    return fail(error, tr("The BMP file is truncated."));
  QImage img(h.width, h.height, h.masks[3] ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (img.isNull()) return fail(error, tr("There is not enough memory for the BMP picture."));
  const int bytesPerPixel = h.bitsPerPixel / 8;
  for (int y = 0; y < h.height; ++y) {
    const uchar *row = p + offset + stride * (h.topDown ? y : h.height - 1 - y);
    QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
    for (int x = 0; x < h.width; ++x) {
      const quint32 px = bytesPerPixel == 2 ? u16(row + 2 * x) : u32(row + 4 * x);
      out[x] = qRgba(r(px), g(px), b(px), h.masks[3] ? a(px) : 255);
    }
  }
  return img;
}

// ---- Icons -----------------------------------------------------------------------------------------------

QVector<IconEntry> iconEntries(const QByteArray &bytes) {
  QVector<IconEntry> out;
  const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
  const qsizetype n = bytes.size();
  if (n < 6 || u16(p) != 0 || (u16(p + 2) != 1 && u16(p + 2) != 2)) return out;
  const int count = u16(p + 4);
  if (count == 0 || 6 + qint64(count) * 16 > n) return out;
  for (int i = 0; i < count; ++i) {
    const uchar *e = p + 6 + 16 * i;
    IconEntry entry;
    entry.size = u32(e + 8);
    entry.offset = u32(e + 12);
    if (entry.offset + entry.size > n || entry.size < 24) return {};
    const uchar *d = p + entry.offset;
    if (entry.size >= 33 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) {
      entry.png = true;
      entry.width = int(std::min<quint32>(be32(d + 16), INT32_MAX));
      entry.height = int(std::min<quint32>(be32(d + 20), INT32_MAX));
      const int depth = d[24], type = d[25];
      entry.bitsPerPixel = depth * (type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1);
    } else {
      if (entry.size < 40 || u32(d) < 40) return {};
      entry.width = std::abs(i32(d + 4));
      entry.height = std::abs(i32(d + 8)) / 2;  // the colour bitmap and the mask, one above the other
      entry.bitsPerPixel = u16(d + 14);
    }
    out << entry;
  }
  return out;
}

int largestIcon(const QVector<IconEntry> &entries) {
  int best = 0;
  for (int i = 1; i < entries.size(); ++i) {
    const qint64 area = qint64(entries[i].width) * entries[i].height, bestArea = qint64(entries[best].width) * entries[best].height;
    if (area > bestArea || (area == bestArea && entries[i].bitsPerPixel > entries[best].bitsPerPixel)) best = i;
  }
  return best;
}

QImage readIcon(const QByteArray &bytes, int index, QString *error) {
  const QVector<IconEntry> entries = iconEntries(bytes);
  if (entries.isEmpty()) return fail(error, tr("The icon file's directory is broken."));
  if (index < 0) index = largestIcon(entries);
  if (index >= entries.size()) return fail(error, tr("The icon file has no image %1.").arg(index + 1));
  const IconEntry &e = entries[index];
  if (!fits(e.width, e.height)) return fail(error, tooLargeText(QString(), e.width, e.height));
  const QByteArray data = bytes.mid(e.offset, e.size);
  if (e.png) {
    if (pngNeedsOwnReader(data)) return readPng(data, error);
    QImage img = QImage::fromData(data, "PNG");
    if (img.isNull()) return fail(error, tr("The icon's image %1 is a broken PNG picture.").arg(index + 1));
    return img.hasAlphaChannel() ? img.convertToFormat(QImage::Format_ARGB32) : img;
  }
  const uchar *d = reinterpret_cast<const uchar *>(data.constData());
  const qsizetype n = data.size();
  const int header = int(u32(d)), bpp = u16(d + 14);
  const quint32 compression = u32(d + 16);
  if (compression != 0 || !(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32))
    return fail(error, tr("The icon's image %1 has a layout this reader does not know.").arg(index + 1));
  const int w = e.width, h = e.height;
  if (w <= 0 || h <= 0) return fail(error, tr("The icon's image %1 has no size.").arg(index + 1));
  int colours = 0;
  if (bpp <= 8) {
    colours = int(u32(d + 32));
    if (colours <= 0 || colours > (1 << bpp)) colours = 1 << bpp;
  }
  const qint64 paletteAt = header, pixelsAt = paletteAt + qint64(colours) * 4;
  const qint64 stride = (qint64(w) * bpp + 31) / 32 * 4, maskStride = (qint64(w) + 31) / 32 * 4;
  if (pixelsAt + stride * h > n) return fail(error, tr("The icon's image %1 is truncated.").arg(index + 1));
  const qint64 maskAt = pixelsAt + stride * h;
  const bool hasMask = maskAt + maskStride * h <= n;  // 32-bit images often come without one
  QImage img(w, h, QImage::Format_ARGB32);
  if (img.isNull()) return fail(error, tr("There is not enough memory for the icon."));
  bool anyAlpha = false;
  for (int y = 0; y < h; ++y) {
    const uchar *row = d + pixelsAt + stride * (h - 1 - y);
    QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
    for (int x = 0; x < w; ++x) {
      if (bpp == 32) {
        const uchar *q = row + 4 * x;
        out[x] = qRgba(q[2], q[1], q[0], q[3]);
        anyAlpha |= q[3] != 0;
      } else if (bpp == 24) {
        const uchar *q = row + 3 * x;
        out[x] = qRgb(q[2], q[1], q[0]);
      } else {
        const int bit = x * bpp;
        const int i = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
        const uchar *c = d + paletteAt + 4 * std::min(i, colours - 1);
        out[x] = qRgb(c[2], c[1], c[0]);
      }
    }
  }
  // Without an alpha channel of its own (or with one left all zero by old writers), the mask says what is
  // transparent.
  if ((bpp < 32 || !anyAlpha) && hasMask) {
    for (int y = 0; y < h; ++y) {
      const uchar *m = d + maskAt + maskStride * (h - 1 - y);
      QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const bool clear = (m[x / 8] >> (7 - x % 8)) & 1;
        out[x] = clear ? (out[x] & 0x00ffffff) : (out[x] | 0xff000000);
      }
    }
  } else if (bpp == 32 && !anyAlpha) {
    for (int y = 0; y < h; ++y) {
      QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
      for (int x = 0; x < w; ++x) out[x] |= 0xff000000;
    }
  }
  return img;
}

// ---- PNG -------------------------------------------------------------------------------------------------

bool pngNeedsOwnReader(const QByteArray &bytes) {
  const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
  const qsizetype n = bytes.size();
  if (n < 33 || std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(p + 12, "IHDR", 4) != 0) return false;
  const int depth = p[24], type = p[25];
  if (depth != 16 || (type != 0 && type != 2)) return false;
  // The transparent colour comes before the first image data.
  for (qsizetype at = 8; at + 8 <= n;) {
    const quint32 length = be32(p + at);
    if (std::memcmp(p + at + 4, "tRNS", 4) == 0) return true;
    if (std::memcmp(p + at + 4, "IDAT", 4) == 0 || std::memcmp(p + at + 4, "IEND", 4) == 0) return false;
    at += 12 + qsizetype(length);
  }
  return false;
}

namespace {

struct PngInput {
  const uchar *data;
  size_t size, pos;
  char message[200];
};

void pngRead(png_structp png, png_bytep out, size_t n) {
  auto *in = static_cast<PngInput *>(png_get_io_ptr(png));
  if (n > in->size - in->pos) png_error(png, "the file is truncated");
  std::memcpy(out, in->data + in->pos, n);
  in->pos += n;
}

void pngError(png_structp png, png_const_charp message) {
  auto *in = static_cast<PngInput *>(png_get_error_ptr(png));
  std::snprintf(in->message, sizeof in->message, "%s", message);
  longjmp(png_jmpbuf(png), 1);
}

void pngWarning(png_structp, png_const_charp) {}

// What the decoding keeps across libpng's long jump: on the heap, reached through a pointer set before it.
struct PngTarget {
  QImage image;
  std::vector<png_bytep> rows;
  bool tooLarge = false;
  int width = 0, height = 0;
};

}  // namespace

QImage readPng(const QByteArray &bytes, QString *error) {
  PngInput in{reinterpret_cast<const uchar *>(bytes.constData()), size_t(bytes.size()), 0, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &in, pngError, pngWarning);
  if (!png) return fail(error, tr("There is not enough memory for the PNG picture."));
  png_infop info = png_create_info_struct(png);
  auto target = std::make_unique<PngTarget>();
  PngTarget *const t = target.get();
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (t->tooLarge) return fail(error, tooLargeText(QString(), t->width, t->height));
    return fail(error, tr("The PNG picture cannot be read: %1.").arg(QString::fromUtf8(in.message)));
  }
  png_set_read_fn(png, &in, pngRead);
  png_read_info(png, info);
  t->width = int(png_get_image_width(png, info));
  t->height = int(png_get_image_height(png, info));
  if (!fits(t->width, t->height)) {
    t->tooLarge = true;
    png_error(png, "too large");
  }
  png_set_expand(png);  // the transparent colour becomes alpha, compared at the file's full depth
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  t->image = QImage(t->width, t->height, QImage::Format_RGBA8888);
  if (t->image.isNull()) png_error(png, "not enough memory");
  t->rows.resize(size_t(t->height));
  for (int y = 0; y < t->height; ++y) t->rows[size_t(y)] = t->image.scanLine(y);
  png_read_image(png, t->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return t->image.convertToFormat(QImage::Format_ARGB32);
}

// ---- TIFF ------------------------------------------------------------------------------------------------

namespace {

struct TiffMessages {
  QString last;
};

int tiffMessage(TIFF *, void *user, const char *, const char *fmt, va_list ap) {
  char text[300];
  std::vsnprintf(text, sizeof text, fmt, ap);
  static_cast<TiffMessages *>(user)->last = QString::fromUtf8(text);
  return 1;  // handled: nothing on standard error
}

struct TiffCloser {
  void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(const QString &path, TiffMessages &messages) {
  TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, tiffMessage, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, tiffMessage, &messages);
  TIFF *t = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
  TIFFOpenOptionsFree(options);
  return TiffPtr(t);
}

QString compressionName(int c) {
  switch (c) {
    case COMPRESSION_NONE: return {};
    case COMPRESSION_CCITTRLE: return QStringLiteral("CCITT RLE");
    case COMPRESSION_CCITTFAX3: return QStringLiteral("CCITT Group 3");
    case COMPRESSION_CCITTFAX4: return QStringLiteral("CCITT Group 4");
    case COMPRESSION_LZW: return QStringLiteral("LZW");
    case COMPRESSION_OJPEG:
    case COMPRESSION_JPEG: return QStringLiteral("JPEG");
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return QStringLiteral("Deflate");
    case COMPRESSION_PACKBITS: return QStringLiteral("PackBits");
    default: return QStringLiteral("Compressed");
  }
}

}  // namespace

TiffInfo tiffInfo(const QString &path, int page) {
  TiffInfo info;
  TiffMessages messages;
  TiffPtr t = openTiff(path, messages);
  if (!t) return info;
  info.pages = TIFFNumberOfDirectories(t.get());
  if (page > 0 && (page >= info.pages || !TIFFSetDirectory(t.get(), tdir_t(page)))) return info;
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = 0, compression = COMPRESSION_NONE;
  if (!TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h)) return info;
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  info.ok = w > 0 && h > 0 && w <= INT32_MAX && h <= INT32_MAX;
  info.width = int(w);
  info.height = int(h);
  info.bitsPerSample = bps;
  info.samples = spp;
  info.photometric = photometric;
  info.palette = photometric == PHOTOMETRIC_PALETTE;
  info.compression = compressionName(compression);
  return info;
}

QImage readTiffStraightAlpha(const QString &path, int page, QString *error) {
  if (error) error->clear();
  TiffMessages messages;
  TiffPtr t = openTiff(path, messages);
  if (!t) return {};
  if (page > 0 && !TIFFSetDirectory(t.get(), tdir_t(page))) return {};
  TIFF *tif = t.get();
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT,
           extraCount = 0, sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t *extra = nullptr;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return {};
  if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) || extraCount < 1 || !extra) return {};
  const bool rgb = photometric == PHOTOMETRIC_RGB && spp >= 4, grey = photometric == PHOTOMETRIC_MINISBLACK && spp >= 2;
  const int colourSamples = rgb ? 3 : 1;
  if (extra[0] != EXTRASAMPLE_UNASSALPHA || spp != colourSamples + extraCount || (!rgb && !grey) ||
      (bps != 8 && bps != 16) || planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT ||
      sampleFormat != SAMPLEFORMAT_UINT || w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX)
    return {};  // Qt's plug-in reads every other layout
  if (!fits(w, h)) return fail(error, tooLargeText(QString(), w, h));
  QImage img(int(w), int(h), QImage::Format_ARGB32);
  if (img.isNull()) return fail(error, tr("There is not enough memory for the TIFF picture."));
  const int bytesPerSample = bps / 8;
  auto sample = [&](const uchar *px, int i) -> int {
    if (bytesPerSample == 1) return px[i];
    uint16_t v;
    std::memcpy(&v, px + 2 * i, 2);  // libtiff gives samples in this machine's byte order
    return (int(v) * 255 + 32767) / 65535;
  };
  auto put = [&](const uchar *px, QRgb *out) {
    const int a = sample(px, colourSamples);
    *out = rgb ? qRgba(sample(px, 0), sample(px, 1), sample(px, 2), a) : qRgba(sample(px, 0), sample(px, 0), sample(px, 0), a);
  };
  const qint64 pixelBytes = qint64(spp) * bytesPerSample;
  if (TIFFIsTiled(tif)) {
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const tmsize_t tileSize = TIFFTileSize(tif);
    if (tw == 0 || th == 0 || tileSize < tmsize_t(qint64(tw) * th * pixelBytes)) return fail(error, tr("The TIFF file's tiles are broken."));
    std::vector<uchar> tile(static_cast<size_t>(tileSize));
    for (uint32_t ty = 0; ty < h; ty += th)
      for (uint32_t tx = 0; tx < w; tx += tw) {
        if (TIFFReadTile(tif, tile.data(), tx, ty, 0, 0) < 0)
          return fail(error, tr("The TIFF file cannot be read: %1").arg(messages.last));
        for (uint32_t y = ty; y < std::min(h, ty + th); ++y) {
          QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(int(y)));
          for (uint32_t x = tx; x < std::min(w, tx + tw); ++x)
            put(tile.data() + (qint64(y - ty) * tw + (x - tx)) * pixelBytes, out + x);
        }
      }
    return img;
  }
  const tmsize_t lineSize = TIFFScanlineSize(tif);
  if (lineSize < tmsize_t(qint64(w) * pixelBytes)) return fail(error, tr("The TIFF file's lines are broken."));
  std::vector<uchar> line(static_cast<size_t>(lineSize));
  for (uint32_t y = 0; y < h; ++y) {
    if (TIFFReadScanline(tif, line.data(), y, 0) < 0)
      return fail(error, tr("The TIFF file cannot be read: %1").arg(messages.last));
    QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(int(y)));
    for (uint32_t x = 0; x < w; ++x) put(line.data() + qint64(x) * pixelBytes, out + x);
  }
  return img;
}

// ---- PBM, PGM, PPM ---------------------------------------------------------------------------------------

int pnmMaxValue(const QByteArray &head) {
  const qsizetype n = head.size();
  if (n < 2 || head[0] != 'P' || head[1] < '1' || head[1] > '6') return 0;
  const char kind = head[1];
  if (kind == '1' || kind == '4') return 1;
  // Width, height and the largest value, separated by white space and comments.
  qsizetype i = 2;
  qint64 values[3] = {};
  for (int k = 0; k < 3; ++k) {
    for (;;) {
      while (i < n && std::isspace(uchar(head[i]))) ++i;
      if (i < n && head[i] == '#') {
        while (i < n && head[i] != '\n' && head[i] != '\r') ++i;
        continue;
      }
      break;
    }
    if (i >= n || !std::isdigit(uchar(head[i]))) return 0;
    while (i < n && std::isdigit(uchar(head[i])) && values[k] < 1000000000) values[k] = values[k] * 10 + (head[i++] - '0');
  }
  return values[2] > 0 && values[2] <= 65535 ? int(values[2]) : 0;
}

}  // namespace imageio
