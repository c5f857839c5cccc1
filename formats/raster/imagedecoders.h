#pragma once
// Readers of our own for the pictures Qt's plug-ins get wrong, and the header details the information items
// need. Qt shifts 16-bit and bit-field BMP channels instead of scaling them (white RGB565 came out as
// 248,252,248), misreads 16-bit RGB PNGs with a transparent colour, premultiplies the alpha of TIFFs and
// icons (the colour of nearly transparent pixels is lost on the way), and shows an icon's first image
// rather than its largest. Each reader checks every length against the bytes it has.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QVector>

namespace imageio {

// ---- BMP ----
struct BmpHeader {
  bool ok = false;
  int headerSize = 0;  // 12 for OS/2 1.x files, 40 and more for Windows ones
  int width = 0, height = 0;
  bool topDown = false;
  int bitsPerPixel = 0;
  quint32 compression = 0;
  quint32 masks[4] = {};  // red, green, blue, alpha for 16 and 32 bit pictures
};
BmpHeader bmpHeader(const QByteArray &bytes);
// True for the layouts readBmpBitfields takes over from Qt: 16 bits a pixel, or 32 with bit-field masks.
bool bmpNeedsOwnReader(const BmpHeader &h);
QImage readBmpBitfields(const QByteArray &bytes, QString *error);

// ---- Icons and cursors ----
struct IconEntry {
  int width = 0, height = 0, bitsPerPixel = 0;
  qint64 offset = 0, size = 0;
  bool png = false;
};
// The images of an icon file as their own data says (not the directory, which may round or lie); empty when
// the bytes are not an icon.
QVector<IconEntry> iconEntries(const QByteArray &bytes);
// The largest image (most pixels, then most bits per pixel): the one shown.
int largestIcon(const QVector<IconEntry> &entries);
QImage readIcon(const QByteArray &bytes, int index, QString *error);

// ---- PNG ----
// 16 bits a channel with a transparent colour (tRNS): the layout Qt misreads.
bool pngNeedsOwnReader(const QByteArray &bytes);
// libpng with the transparent colour matched at full depth, channels scaled to 8 bits with rounding.
QImage readPng(const QByteArray &bytes, QString *error);

// ---- TIFF ----
struct TiffInfo {
  bool ok = false;
  int pages = 0;
  int width = 0, height = 0;  // of the page asked for
  int bitsPerSample = 0, samples = 0, photometric = 0;
  bool palette = false;
  QString compression;
};
TiffInfo tiffInfo(const QString &path, int page = 0);
// The page through libtiff when it holds unassociated (straight) alpha in 8 or 16 bits: the colours under
// nearly transparent pixels survive. A null image with an empty *error when the layout is one to leave to
// Qt's plug-in.
QImage readTiffStraightAlpha(const QString &path, int page, QString *error);

// ---- PBM, PGM, PPM ----
// The largest sample value the header declares (1 for PBM), 0 when it cannot be read.
int pnmMaxValue(const QByteArray &head);

}  // namespace imageio
