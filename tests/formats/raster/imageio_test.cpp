// Picture files: every format of the image window's open filter read, files made by ImageMagick and Pillow
// as independent peers, our PCX reader against hostile files, saving in every save format read back by Qt and
// by Pillow, a failed save that keeps the old file, the information items, metafiles, and the PCX fuzz corpus.
#include "formats/raster/imageio.h"
#include "tests/formats/raster/pcxfuzzone.h"

#include "tests/common/testenv.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QtConcurrent>
#include <QtEndian>
#include <gtest/gtest.h>

#include <atomic>

namespace {

const QRgb kColours[16] = {0xff000000, 0xffffffff, 0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff, 0xffff00ff,
                           0xff808080, 0xff804000, 0xff102030, 0xffc0c0c0, 0xff7f7f80, 0xff20e040, 0xfffe0180, 0xff334455};

int indexAt(int x, int y, int colours) { return (x * 3 + y * 5 + (x * y) % 7) % colours; }

// A picture of `colours` flat colours in odd dimensions, with both ends of every channel.
QImage palettePicture(int w, int h, int colours) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, kColours[indexAt(x, y, colours)]);
  return img;
}

QImage greyPicture(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = (x * 255 / std::max(1, w - 1) + y * 37) % 256;
      img.setPixel(x, y, qRgb(v, v, v));
    }
  return img;
}

QImage photo(int w, int h, bool alpha) {
  QImage img(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgba((x * 255) / (w - 1), (y * 255) / (h - 1), ((x + y) * 255) / (w + h - 2), alpha ? (x * 40 + y) % 256 : 255));
  return img;
}

// With alpha, colours are compared as they show (premultiplied): TIFF stores them so, and a colour under a
// nearly transparent pixel cannot survive that (nor, within one step, its rounding).
std::string firstDifference(const QImage &a0, const QImage &b0, bool alpha = false, int tolerance = 0) {
  if (a0.size() != b0.size())
    return QStringLiteral("size %1x%2 against %3x%4").arg(a0.width()).arg(a0.height()).arg(b0.width()).arg(b0.height()).toStdString();
  const QImage::Format f = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
  const QImage a = a0.convertToFormat(f), b = b0.convertToFormat(f);
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      QRgb p = reinterpret_cast<const QRgb *>(a.constScanLine(y))[x], q = reinterpret_cast<const QRgb *>(b.constScanLine(y))[x];
      if (!alpha) p |= 0xff000000, q |= 0xff000000;
      const bool near = std::abs(qRed(p) - qRed(q)) <= tolerance && std::abs(qGreen(p) - qGreen(q)) <= tolerance &&
                        std::abs(qBlue(p) - qBlue(q)) <= tolerance && qAlpha(p) == qAlpha(q);
      if (!near) return QStringLiteral("pixel (%1,%2): %3 against %4").arg(x).arg(y).arg(p, 8, 16).arg(q, 8, 16).toStdString();
    }
  return {};
}

double meanDifference(const QImage &a0, const QImage &b0) {
  const QImage a = a0.convertToFormat(QImage::Format_RGB32), b = b0.convertToFormat(QImage::Format_RGB32);
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

bool convert(const QStringList &args) {
  QProcess p;
  p.start(QStringLiteral("/usr/bin/convert"), args);
  const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (!ok) ADD_FAILURE() << "convert " << args.join(' ').toStdString() << ": " << p.readAllStandardError().toStdString();
  return ok;
}

bool havePeers() {
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"), {"-c", "import PIL"});
  return QFile::exists("/usr/bin/convert") && py.waitForFinished(30000) && py.exitCode() == 0;
}

// Pillow over a batch of jobs (see tests/formats/raster/pil_peer.py).
void pillow(const QString &dir, const QStringList &jobs) {
  const QString jobFile = testenv::writeFile(dir + "/pil-jobs.txt", jobs.join('\n').toUtf8() + '\n');
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"), {testenv::sourceDir() + "/tests/formats/raster/pil_peer.py", jobFile});
  if (!py.waitForFinished(120000) || py.exitCode() != 0) ADD_FAILURE() << py.readAllStandardError().toStdString();
}

QImage fromRaw(const QString &path) {
  const QByteArray raw = testenv::readFile(path);
  if (raw.size() < 8) return QImage();
  const quint32 w = qFromLittleEndian<quint32>(raw.constData()), h = qFromLittleEndian<quint32>(raw.constData() + 4);
  if (raw.size() != 8 + qsizetype(w) * h * 4) return QImage();
  QImage img{int(w), int(h), QImage::Format_ARGB32};
  const uchar *p = reinterpret_cast<const uchar *>(raw.constData()) + 8;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x, p += 4) img.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
  return img;
}

// The nasty files of tests/formats/raster/picture_cases.py and the independent readers' view of them, made once a
// process.
QString cases() {
  static QString dir;
  if (!dir.isEmpty()) return dir;
  dir = testenv::makeDir("cases");
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"), {testenv::sourceDir() + "/tests/formats/raster/picture_cases.py", dir});
  if (!py.waitForFinished(180000) || py.exitStatus() != QProcess::NormalExit || py.exitCode() != 0)
    ADD_FAILURE() << "picture_cases.py: " << py.readAllStandardError().toStdString();
  return dir;
}

// Straight (not premultiplied) colours compared where a pixel shows at all, alpha everywhere: the colour of a
// nearly transparent pixel must survive, the colour under a fully transparent one is nobody's business.
std::string straightDifference(const QImage &ours0, const QImage &peer0, int tolerance = 0) {
  if (ours0.size() != peer0.size())
    return QStringLiteral("size %1x%2 against %3x%4").arg(ours0.width()).arg(ours0.height()).arg(peer0.width()).arg(peer0.height()).toStdString();
  const QImage a = ours0.convertToFormat(QImage::Format_ARGB32), b = peer0.convertToFormat(QImage::Format_ARGB32);
  int worst = 0;
  QString where;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      int d = std::abs(qAlpha(p) - qAlpha(q));
      if (qAlpha(q) > 0)
        d = std::max({d, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
      if (d > worst) {
        worst = d;
        where = QStringLiteral("pixel (%1,%2): %3 against %4").arg(x).arg(y).arg(p, 8, 16).arg(q, 8, 16);
      }
    }
  return worst > tolerance ? where.toStdString() : std::string();
}

// ---- A PCX encoder of the tests' own, for the layouts no other tool here writes -------------------------

void rleByte(QByteArray &out, uchar v, int count) {
  while (count > 0) {
    const int n = std::min(count, 63);
    if (n == 1 && (v & 0xC0) != 0xC0)
      out.append(char(v));
    else
      out.append(char(0xC0 | n)).append(char(v));
    count -= n;
  }
}

// Indices (or, for 8 bits in 3/4 planes, the colours) of img laid out in bpp bits per pixel over planes.
QByteArray encodePcx(const QImage &img, int bpp, int planes, const QVector<QRgb> &palette, bool rle, int version = 5,
                     bool runsAcrossLines = false) {
  const int w = img.width(), h = img.height();
  int bpl = (w * bpp + 7) / 8;
  bpl += bpl & 1;
  QByteArray header(128, '\0');
  uchar *d = reinterpret_cast<uchar *>(header.data());
  d[0] = 0x0A, d[1] = uchar(version), d[2] = rle ? 1 : 0, d[3] = uchar(bpp);
  qToLittleEndian<quint16>(quint16(w - 1), d + 8);
  qToLittleEndian<quint16>(quint16(h - 1), d + 10);
  qToLittleEndian<quint16>(72, d + 12);
  qToLittleEndian<quint16>(72, d + 14);
  for (int i = 0; i < std::min<int>(16, palette.size()); ++i)
    d[16 + 3 * i] = uchar(qRed(palette[i])), d[17 + 3 * i] = uchar(qGreen(palette[i])), d[18 + 3 * i] = uchar(qBlue(palette[i]));
  d[65] = uchar(planes);
  qToLittleEndian<quint16>(quint16(bpl), d + 66);
  d[68] = 1;
  QByteArray raw;
  for (int y = 0; y < h; ++y) {
    QByteArray line(bpl * planes, '\0');
    for (int x = 0; x < w; ++x) {
      const QRgb c = img.pixel(x, y);
      if (bpp == 8 && planes >= 3) {
        line[x] = char(qRed(c)), line[bpl + x] = char(qGreen(c)), line[2 * bpl + x] = char(qBlue(c));
        if (planes == 4) line[3 * bpl + x] = char(qAlpha(c));
        continue;
      }
      const int index = int(palette.indexOf(c | 0xff000000));
      if (bpp == 8)
        line[x] = char(index);
      else if (bpp == 4)
        line[x / 2] = char(line[x / 2] | (index << ((x & 1) ? 0 : 4)));
      else if (bpp == 2)
        line[x / 4] = char(line[x / 4] | (index << (6 - 2 * (x & 3))));
      else
        for (int p = 0; p < planes; ++p)
          if ((index >> p) & 1) line[p * bpl + x / 8] = char(line[p * bpl + x / 8] | (0x80 >> (x & 7)));
    }
    raw += line;
  }
  QByteArray out = header;
  if (!rle) {
    out += raw;
  } else if (runsAcrossLines) {  // one stream of runs over the whole picture
    for (qsizetype i = 0; i < raw.size();) {
      qsizetype j = i;
      while (j < raw.size() && raw[j] == raw[i]) ++j;
      rleByte(out, uchar(raw[i]), int(j - i));
      i = j;
    }
  } else {
    const int lineBytes = bpl * planes;
    for (qsizetype y = 0; y < h; ++y)
      for (qsizetype i = y * lineBytes; i < (y + 1) * lineBytes;) {
        qsizetype j = i;
        while (j < (y + 1) * lineBytes && raw[j] == raw[i]) ++j;
        rleByte(out, uchar(raw[i]), int(j - i));
        i = j;
      }
  }
  if (bpp == 8 && planes == 1) {
    out.append(char(0x0C));
    for (int i = 0; i < 256; ++i) {
      const QRgb c = i < palette.size() ? palette[i] : 0;
      out.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
    }
  }
  return out;
}

// ---- A Windows metafile of the tests' own: two filled rectangles, red on the left, blue on the right -------

QByteArray wmfRecord(quint16 function, std::initializer_list<int> params) {
  QByteArray r(6, '\0');
  qToLittleEndian<quint32>(quint32(3 + params.size()), r.data());
  qToLittleEndian<quint16>(function, r.data() + 4);
  for (int p : params) {
    char b[2];
    qToLittleEndian<quint16>(quint16(p), b);
    r.append(b, 2);
  }
  return r;
}

QByteArray twoRectangleWmf() {
  QByteArray body;
  body += wmfRecord(0x020B, {0, 0});              // window origin
  body += wmfRecord(0x020C, {100, 200});          // window extent: height, width
  body += wmfRecord(0x02FA, {5, 0, 0, 0, 0});     // null pen
  body += wmfRecord(0x012D, {0});
  body += wmfRecord(0x02FC, {0, 0x00ff, 0, 0});   // solid red brush
  body += wmfRecord(0x012D, {1});
  body += wmfRecord(0x041B, {100, 100, 0, 0});    // rectangle: bottom, right, top, left
  body += wmfRecord(0x02FC, {0, 0, 0x00ff, 0});   // solid blue brush
  body += wmfRecord(0x012D, {2});
  body += wmfRecord(0x041B, {100, 200, 0, 100});
  body += wmfRecord(0x0000, {});
  QByteArray meta(18, '\0');
  uchar *m = reinterpret_cast<uchar *>(meta.data());
  qToLittleEndian<quint16>(1, m);
  qToLittleEndian<quint16>(9, m + 2);
  qToLittleEndian<quint16>(0x300, m + 4);
  qToLittleEndian<quint32>(quint32((18 + body.size()) / 2), m + 6);
  qToLittleEndian<quint16>(3, m + 10);
  qToLittleEndian<quint32>(8, m + 12);
  QByteArray place(22, '\0');
  uchar *p = reinterpret_cast<uchar *>(place.data());
  qToLittleEndian<quint32>(0x9AC6CDD7u, p);
  qToLittleEndian<quint16>(200, p + 10);  // bounding box right
  qToLittleEndian<quint16>(100, p + 12);  // bottom
  qToLittleEndian<quint16>(96, p + 14);   // units per inch
  quint16 sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= qFromLittleEndian<quint16>(p + 2 * i);
  qToLittleEndian<quint16>(sum, p + 20);
  return place + meta + body;
}

QVector<QRgb> paletteOf(int n) { return QVector<QRgb>(kColours, kColours + n); }

}  // namespace

TEST(ImageIo, ReadsEveryFormatOfTheOpenFilter) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = testenv::makeDir("formats");
  const QImage colour = palettePicture(37, 23, 16), grey = greyPicture(37, 23), bw = palettePicture(37, 23, 2);
  ASSERT_TRUE(colour.save(dir + "/src.png") && grey.save(dir + "/grey.png") && bw.save(dir + "/bw.png"));
  struct Case {
    QString file;
    QStringList make;
    QImage expect;
    bool lossless;
  };
  const QString s = dir + "/src.png";
  const std::vector<Case> cases = {
      {"a.bmp", {s, "bmp3:" + dir + "/a.bmp"}, colour, true},
      {"a.dib", {s, "bmp3:" + dir + "/a.dib"}, colour, true},
      {"rle8.rle", {s, "-type", "Palette", "-compress", "RLE", "bmp3:" + dir + "/rle8.rle"}, colour, true},
      {"rle8.bmp", {s, "-type", "Palette", "-compress", "RLE", "bmp3:" + dir + "/rle8.bmp"}, colour, true},
      {"a.gif", {s, dir + "/a.gif"}, colour, true},
      {"a.ico", {s, dir + "/a.ico"}, colour, true},
      {"a.jpg", {s, "-quality", "95", dir + "/a.jpg"}, colour, false},
      {"a.jif", {s, "-quality", "95", "jpeg:" + dir + "/a.jif"}, colour, false},
      {"a.jpeg", {s, "-quality", "95", "-interlace", "Plane", dir + "/a.jpeg"}, colour, false},
      {"a.pbm", {dir + "/bw.png", dir + "/a.pbm"}, bw, true},
      {"a.pgm", {dir + "/grey.png", dir + "/a.pgm"}, grey, true},
      {"a.ppm", {s, dir + "/a.ppm"}, colour, true},
      {"a.png", {s, "-interlace", "PNG", dir + "/a.png"}, colour, true},
      {"a.tif", {s, dir + "/a.tif"}, colour, true},
      {"lzw.tiff", {s, "-compress", "LZW", dir + "/lzw.tiff"}, colour, true},
      {"pal.pcx", {s, "-type", "Palette", dir + "/pal.pcx"}, colour, true},
      {"rgb.pcx", {s, "-type", "TrueColor", dir + "/rgb.pcx"}, colour, true},
      {"map.tga", {}, colour, true},
      {"maprle.tga", {}, colour, true},
      {"rgb.tga", {}, colour, true},
      {"rgbrle.tga", {}, colour, true},
      {"grey.tga", {}, grey, true},
      {"rgba.tga", {}, colour, true},
  };
  // TGA from Pillow: ImageMagick 6 writes its rows top first under a header that says bottom first.
  pillow(dir, {"tga " + s + ' ' + dir + "/map.tga P", "tga " + s + ' ' + dir + "/maprle.tga P rle",
               "tga " + s + ' ' + dir + "/rgb.tga RGB", "tga " + s + ' ' + dir + "/rgbrle.tga RGB rle top",
               "tga " + dir + "/grey.png " + dir + "/grey.tga L rle", "tga " + s + ' ' + dir + "/rgba.tga RGBA top"});
  for (const Case &c : cases) {
    if (!c.make.isEmpty()) {
      ASSERT_TRUE(convert(c.make)) << c.file.toStdString();
    }
    QString error;
    const QImage img = imageio::read(dir + '/' + c.file, &error);
    ASSERT_FALSE(img.isNull()) << c.file.toStdString() << ": " << error.toStdString();
    if (c.file.startsWith("rle8")) {
      EXPECT_EQ(imageio::info(dir + '/' + c.file).subType, "RLE") << c.file.toStdString();
    }
    if (c.lossless)
      EXPECT_EQ(firstDifference(img, c.expect), "") << c.file.toStdString();
    else
      EXPECT_LT(meanDifference(img, c.expect), 12.0) << c.file.toStdString();
  }

  // RLE4, which ImageMagick does not write: two lines of 6 pixels, bottom line first.
  QByteArray bmp("BM");
  const QByteArray pixels = QByteArray::fromHex("0612 0000 0634 0000 0001");
  const int offset = 14 + 40 + 16 * 4;
  QByteArray rest(offset - 2, '\0');
  uchar *r = reinterpret_cast<uchar *>(rest.data());
  qToLittleEndian<quint32>(quint32(offset + pixels.size()), r);
  qToLittleEndian<quint32>(quint32(offset), r + 8);
  qToLittleEndian<quint32>(40, r + 12);
  qToLittleEndian<qint32>(6, r + 16);
  qToLittleEndian<qint32>(2, r + 20);
  qToLittleEndian<quint16>(1, r + 24);
  qToLittleEndian<quint16>(4, r + 26);
  qToLittleEndian<quint32>(2, r + 28);  // BI_RLE4
  qToLittleEndian<quint32>(quint32(pixels.size()), r + 32);
  qToLittleEndian<quint32>(16, r + 44);
  for (int i = 0; i < 16; ++i) {
    const QRgb c = kColours[i];
    r[52 + 4 * i] = uchar(qBlue(c)), r[53 + 4 * i] = uchar(qGreen(c)), r[54 + 4 * i] = uchar(qRed(c));
  }
  const QString rle4 = testenv::writeFile(dir + "/rle4.bmp", bmp + rest + pixels);
  QString error;
  const QImage img = imageio::read(rle4, &error);
  ASSERT_FALSE(img.isNull()) << error.toStdString();
  EXPECT_EQ(img.pixel(0, 1), kColours[1]);
  EXPECT_EQ(img.pixel(1, 1), kColours[2]);
  EXPECT_EQ(img.pixel(0, 0), kColours[3]);
  EXPECT_EQ(img.pixel(5, 0), kColours[4]);
  EXPECT_EQ(imageio::info(rle4).subType, "RLE");
}

TEST(ImageIo, PcxOfEveryLayoutReadsPixelForPixel) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = testenv::makeDir("pcx");
  const QImage colour = palettePicture(37, 23, 16);
  ASSERT_TRUE(colour.save(dir + "/src.png"));
  ASSERT_TRUE(palettePicture(37, 23, 2).save(dir + "/bw.png"));
  ASSERT_TRUE(greyPicture(37, 23).save(dir + "/grey.png"));
  // Pillow's writer: 1 bit, 8 bit grey, 8 bit palette, 24 bit.
  pillow(dir, {"pcx " + dir + "/bw.png " + dir + "/pil1.pcx 1", "pcx " + dir + "/grey.png " + dir + "/pilL.pcx L",
               "pcx " + dir + "/src.png " + dir + "/pilP.pcx P", "pcx " + dir + "/src.png " + dir + "/pilRGB.pcx RGB"});
  const std::pair<const char *, QImage> fromPillow[] = {{"pil1.pcx", palettePicture(37, 23, 2)},
                                                        {"pilL.pcx", greyPicture(37, 23)},
                                                        {"pilP.pcx", colour},
                                                        {"pilRGB.pcx", colour}};
  for (const auto &[name, expect] : fromPillow) {
    QString error;
    const QImage img = imageio::read(dir + '/' + name, &error);
    ASSERT_FALSE(img.isNull()) << name << ": " << error.toStdString();
    EXPECT_EQ(firstDifference(img, expect), "") << name;
  }

  // Our own encoder for the planar and packed layouts, checked by Pillow where it reads them too.
  struct Layout {
    const char *name;
    int bpp, planes, colours;
    bool rle, across;
    int version;
  };
  const Layout layouts[] = {{"1x1", 1, 1, 2, true, false, 5},   {"1x2", 1, 2, 4, true, false, 5},
                            {"1x3", 1, 3, 8, false, false, 5},  {"1x4", 1, 4, 16, true, false, 5},
                            {"2x1", 2, 1, 4, true, false, 5},   {"4x1", 4, 1, 16, true, false, 5},
                            {"8x1", 8, 1, 16, true, true, 5},   {"8x1raw", 8, 1, 16, false, false, 5},
                            {"8x3", 8, 3, 0, true, true, 5},    {"8x4", 8, 4, 0, true, false, 5}};
  // Pillow takes a plane's stride from the width, so only even line lengths are compared with it.
  QStringList dumps;
  std::vector<std::pair<QString, QImage>> ours;
  for (int w : {37, 48})
    for (const Layout &l : layouts) {
      const QImage rgba = photo(w, 23, true);
      const QImage expect = l.colours ? palettePicture(w, 23, l.colours) : (l.planes == 4 ? rgba : photo(w, 23, false));
      const QString path = testenv::writeFile(dir + QStringLiteral("/%1-%2.pcx").arg(l.name).arg(w),
                                              encodePcx(expect, l.bpp, l.planes, paletteOf(std::max(l.colours, 2)), l.rle,
                                                        l.version, l.across));
      QString error;
      const QImage img = imageio::read(path, &error);
      ASSERT_FALSE(img.isNull()) << l.name << ": " << error.toStdString();
      EXPECT_EQ(firstDifference(img, expect, l.planes == 4), "") << l.name << ' ' << w;
      if (w % 16 == 0) {
        dumps << "dump " + path + ' ' + path + ".raw";
        ours.emplace_back(path, img);
      }
    }
  // A version 3 file says it has no palette: its 16 colours are the EGA card's.
  {
    const QRgb ega[16] = {0xff000000, 0xff0000aa, 0xff00aa00, 0xff00aaaa, 0xffaa0000, 0xffaa00aa, 0xffaa5500, 0xffaaaaaa,
                          0xff555555, 0xff5555ff, 0xff55ff55, 0xff55ffff, 0xffff5555, 0xffff55ff, 0xffffff55, 0xffffffff};
    QImage expect(9, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) expect.setPixel(x, y, ega[indexAt(x, y, 16)]);
    const QImage img = imageio::readPcx(encodePcx(palettePicture(9, 5, 16), 1, 4, paletteOf(16), true, 3), nullptr);
    EXPECT_EQ(firstDifference(img, expect), "");
  }
  pillow(dir, dumps);
  int compared = 0;
  for (const auto &[path, img] : ours) {
    if (QFile::exists(path + ".raw.err")) continue;  // a layout Pillow does not read
    const QImage peer = fromRaw(path + ".raw");
    ASSERT_FALSE(peer.isNull()) << path.toStdString();
    EXPECT_EQ(firstDifference(img, peer), "") << path.toStdString();
    ++compared;
  }
  EXPECT_GE(compared, 4) << "Pillow read too few of our layouts to check the encoder";
}

TEST(ImageIo, HostilePcxAndOversizedPicturesGiveAMessageNotACrash) {
  const QImage pic = palettePicture(37, 23, 16);
  const QByteArray good = encodePcx(pic, 8, 1, paletteOf(16), true);
  ASSERT_FALSE(imageio::readPcx(good, nullptr).isNull());
  // Every truncation of the pixels (the palette goes first) is refused with a message.
  const QByteArray planar = encodePcx(pic, 1, 4, paletteOf(16), true);
  for (qsizetype n = 0; n < planar.size(); n += 3) {
    QString error;
    EXPECT_TRUE(imageio::readPcx(planar.left(n), &error).isNull()) << n;
    EXPECT_FALSE(error.isEmpty()) << n;
  }
  // A header that claims 60000 x 60000 over a few bytes.
  QByteArray lying = good;
  qToLittleEndian<quint16>(59999, lying.data() + 8);
  qToLittleEndian<quint16>(59999, lying.data() + 10);
  qToLittleEndian<quint16>(60000, lying.data() + 66);
  QString error;
  EXPECT_TRUE(imageio::readPcx(lying, &error).isNull());
  EXPECT_FALSE(error.isEmpty());
  const QString dir = testenv::makeDir("hostile");
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/huge.pcx", lying), &error).isNull());
  EXPECT_TRUE(error.contains("huge.pcx")) << error.toStdString();
  // Lines shorter than the width, unknown layouts, an end before the start.
  QByteArray shortLines = good;
  qToLittleEndian<quint16>(10, shortLines.data() + 66);
  EXPECT_TRUE(imageio::readPcx(shortLines, nullptr).isNull());
  QByteArray badLayout = good;
  badLayout[65] = 2;
  EXPECT_TRUE(imageio::readPcx(badLayout, nullptr).isNull());
  QByteArray backwards = good;
  qToLittleEndian<quint16>(5, backwards.data() + 4);
  qToLittleEndian<quint16>(2, backwards.data() + 8);
  EXPECT_TRUE(imageio::readPcx(backwards, nullptr).isNull());

  // Runs that claim more than the picture holds end with the picture; empty runs put nothing.
  const QByteArray runs = encodePcx(palettePicture(4, 2, 1), 8, 1, paletteOf(1), true);  // 8 zero bytes in runs
  QByteArray stream;
  stream.append(char(0xC0)).append(char(7));                   // empty run
  stream.append(char(0xC3)).append(char(1));                   // 3 of index 1
  stream.append(char(0xFF)).append(char(2));                   // 63 of index 2, 60 more than needed
  stream.append(char(0xFF)).append(char(3));
  QByteArray crafted = runs.left(128) + stream;
  QString e2;
  QImage img = imageio::readPcx(crafted, &e2);
  ASSERT_FALSE(img.isNull()) << e2.toStdString();
  EXPECT_EQ(img.pixelIndex(0, 0), 1);
  EXPECT_EQ(img.pixelIndex(2, 0), 1);
  EXPECT_EQ(img.pixelIndex(3, 0), 2);
  EXPECT_EQ(img.pixelIndex(3, 1), 2);
  // A run marker as the very last byte is a truncation, not a read past the end.
  EXPECT_TRUE(imageio::readPcx(runs.left(128) + QByteArray(1, char(0xC3)), nullptr).isNull());

  // TGA: every truncation refused, a lying size refused, packets past the picture's end cut off.
  const QByteArray tga = imageio::writeTga(pic);
  ASSERT_FALSE(imageio::readTga(tga, nullptr).isNull());
  for (qsizetype n = 0; n < 18 + 37 * 23 * 3; n += 5) {
    QString why;
    EXPECT_TRUE(imageio::readTga(tga.left(n), &why).isNull()) << n;
    EXPECT_FALSE(why.isEmpty()) << n;
  }
  QByteArray bigTga = tga;
  qToLittleEndian<quint16>(60000, bigTga.data() + 12);
  qToLittleEndian<quint16>(60000, bigTga.data() + 14);
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/huge.tga", bigTga), &error).isNull());
  EXPECT_TRUE(error.contains("huge.tga")) << error.toStdString();
  QByteArray packets = tga.left(18);
  packets[2] = 10;                       // RLE true colour, 2 x 2, top-down
  qToLittleEndian<quint16>(2, packets.data() + 12);
  qToLittleEndian<quint16>(2, packets.data() + 14);
  packets[17] = 0x20;
  packets += QByteArray::fromHex("00 0000ff");      // one raw pixel: red
  packets += QByteArray::fromHex("ff 00ff00");      // a run of 128 green, 125 more than the picture holds
  error.clear();
  img = imageio::readTga(packets, &error);
  ASSERT_FALSE(img.isNull()) << error.toStdString();
  EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(1, 1), qRgb(0, 255, 0));
  EXPECT_TRUE(imageio::readTga(packets.left(18) + QByteArray::fromHex("83"), nullptr).isNull());

  // Qt's readers under our raised limit: a PNG header of 60000 x 60000 is refused, a normal picture reads.
  const int limit = imageio::allocationLimitMb();
  EXPECT_GE(limit, 256);
  EXPECT_LE(limit, 2048);
  EXPECT_EQ(QImageReader::allocationLimit(), limit);
  QByteArray png;
  {
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pic.save(&buf, "PNG"));
  }
  qToBigEndian<quint32>(60000, png.data() + 16);
  qToBigEndian<quint32>(60000, png.data() + 20);
  quint32 crc;  // the IHDR checksum again: CRC-32 of its type and data
  {
    quint32 c = 0xffffffffu;
    for (int i = 12; i < 29; ++i) {
      c ^= uchar(png[i]);
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    crc = ~c;
  }
  qToBigEndian<quint32>(crc, png.data() + 29);
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/huge.png", png), &error).isNull());
  EXPECT_TRUE(error.contains("huge.png")) << error.toStdString();
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/notes.png", "just some text\n"), &error).isNull());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(imageio::info(dir + "/notes.png").ok);
  error.clear();
  EXPECT_TRUE(imageio::read(dir + "/missing.png", &error).isNull());
  EXPECT_FALSE(error.isEmpty());
}

TEST(ImageIo, SavesEveryFormatAndQtAndPillowReadItBack) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = testenv::makeDir("save");
  const QImage colour = photo(41, 27, false), alpha = photo(41, 27, true), grey = greyPicture(41, 27),
               bw = palettePicture(41, 27, 2);
  struct Case {
    QString name;
    QImage image;
    bool lossless, withAlpha;
  };
  const std::vector<Case> cases = {{"a.bmp", colour, true, false},  {"a.jpg", colour, false, false},
                                   {"a.jpeg", colour, false, false}, {"a.pbm", bw, true, false},
                                   {"a.pgm", grey, true, false},    {"a.png", colour, true, false},
                                   {"a.ppm", colour, true, false},  {"a.tga", colour, true, false},
                                   {"a.tif", colour, true, false},  {"a.tiff", colour, true, false},
                                   {"alpha.png", alpha, true, true}, {"alpha.tga", alpha, true, true},
                                   {"alpha.tif", alpha, true, true}};
  QStringList dumps;
  for (const Case &c : cases) {
    QString error;
    ASSERT_TRUE(imageio::write(c.image, dir + '/' + c.name, &error)) << c.name.toStdString() << ": " << error.toStdString();
    const QImage back = imageio::read(dir + '/' + c.name, &error);
    ASSERT_FALSE(back.isNull()) << c.name.toStdString() << ": " << error.toStdString();
    const int tolerance = c.withAlpha && c.name.endsWith(".tif") ? 1 : 0;
    if (c.lossless)
      EXPECT_EQ(firstDifference(back, c.image, c.withAlpha, tolerance), "") << c.name.toStdString();
    else
      EXPECT_LT(meanDifference(back, c.image), 6.0) << c.name.toStdString();
    dumps << "dump " + dir + '/' + c.name + ' ' + dir + '/' + c.name + ".raw";
    if (c.name.endsWith(".tga")) {  // Qt's own plug-in reads what we write
      const QImage qt(dir + '/' + c.name, "TGA");
      EXPECT_EQ(firstDifference(qt, c.image, c.withAlpha), "") << c.name.toStdString() << " through Qt's plug-in";
    }
  }
  pillow(dir, dumps);
  for (const Case &c : cases) {
    const QString raw = dir + '/' + c.name + ".raw";
    ASSERT_FALSE(QFile::exists(raw + ".err")) << c.name.toStdString() << ": " << testenv::readFile(raw + ".err").toStdString();
    const QImage peer = fromRaw(raw);
    ASSERT_FALSE(peer.isNull()) << c.name.toStdString();
    const int tolerance = c.withAlpha && c.name.endsWith(".tif") ? 1 : 0;
    if (c.lossless)
      EXPECT_EQ(firstDifference(peer, c.image, c.withAlpha, tolerance), "") << c.name.toStdString();
    else
      EXPECT_LT(meanDifference(peer, c.image), 6.0) << c.name.toStdString();
  }
  // A transparent picture saved as JPEG shows as it looks on white.
  QImage clear(8, 8, QImage::Format_ARGB32);
  clear.fill(qRgba(0, 0, 0, 0));
  QString error;
  ASSERT_TRUE(imageio::write(clear, dir + "/clear.jpg", &error)) << error.toStdString();
  EXPECT_GT(qRed(imageio::read(dir + "/clear.jpg", &error).pixel(4, 4)), 240);
}

TEST(ImageIo, AFailedSaveKeepsTheFileThatWasThere) {
  const QString dir = testenv::makeDir("keep");
  const QString target = testenv::writeFile(dir + "/old.png", "the old picture");
  const QImage big = photo(900, 700, false);
  QString error;
  EXPECT_FALSE(imageio::write(big, dir + "/old.xyz", &error));
  EXPECT_TRUE(error.contains("xyz")) << error.toStdString();
  error.clear();
  EXPECT_FALSE(imageio::write(QImage(), target, &error));
  EXPECT_FALSE(error.isEmpty());
  error.clear();
  EXPECT_FALSE(imageio::write(big, dir + "/no/such/folder/a.png", &error));
  EXPECT_FALSE(error.isEmpty());
  for (const char *ext : {"png", "tga"}) {
    const QString path = testenv::writeFile(dir + "/old." + ext, "the old picture");
    testenv::DiskFullAbove full(4096);
    if (!full.ok()) GTEST_SKIP() << "the file size limit cannot be set here";
    error.clear();
    EXPECT_FALSE(imageio::write(big, path, &error)) << ext;
    EXPECT_FALSE(error.isEmpty()) << ext;
    EXPECT_EQ(testenv::readFile(path), "the old picture") << ext;
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2) << "a temporary file was left behind";
  EXPECT_EQ(testenv::readFile(target), "the old picture");
  ASSERT_TRUE(imageio::write(big, target, &error)) << error.toStdString();
  EXPECT_EQ(imageio::read(target, &error).size(), big.size());
}

TEST(ImageIo, InformationTellsTypeSubTypeColoursDepthAndFrames) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = testenv::makeDir("info");
  const QString s = dir + "/src.png";
  ASSERT_TRUE(palettePicture(37, 23, 16).save(s));
  ASSERT_TRUE(convert({s, "-interlace", "PNG", "png24:" + dir + "/i.png"}));
  ASSERT_TRUE(convert({s, "-interlace", "Plane", dir + "/p.jpg"}));
  ASSERT_TRUE(convert({s, dir + "/b.jpg"}));
  ASSERT_TRUE(convert({s, "-type", "Palette", "-compress", "RLE", "bmp3:" + dir + "/r.bmp"}));
  ASSERT_TRUE(convert({"-delay", "10", s, "-negate", s, "-flip", s, dir + "/anim.gif"}));
  ASSERT_TRUE(convert({s, s, dir + "/pages.tif"}));
  ASSERT_TRUE(convert({s, "-type", "TrueColor", dir + "/t.pcx"}));
  ASSERT_TRUE(convert({s, "-compress", "RLE", dir + "/r.tga"}));
  ASSERT_TRUE(convert({s, "-type", "TrueColor", dir + "/t.tga"}));
  ASSERT_TRUE(convert({s, dir + "/b.ppm"}));
  struct Want {
    const char *file, *type, *sub;
    int count, bpp;
    const char *colours;
  };
  const Want wants[] = {{"i.png", "PNG", "Interlaced", 1, 24, "16.7 Million"},
                        {"p.jpg", "JPEG", "Progressive", 1, 24, "16.7 Million"},
                        {"b.jpg", "JPEG", "Baseline", 1, 24, "16.7 Million"},
                        {"r.bmp", "BMP", "RLE", 1, 8, "256"},
                        {"anim.gif", "GIF", "89a", 3, 4, "16"},
                        {"pages.tif", "TIFF", "Deflate", 2, 0, nullptr},
                        {"t.pcx", "PCX", "RLE", 1, 24, "16.7 Million"},
                        {"r.tga", "TGA", "RLE", 1, 0, nullptr},
                        {"t.tga", "TGA", "", 1, 24, "16.7 Million"},
                        {"b.ppm", "PPM", "Binary", 1, 24, "16.7 Million"}};
  for (const Want &w : wants) {
    const imageio::Info i = imageio::info(dir + '/' + w.file);
    ASSERT_TRUE(i.ok) << w.file;
    EXPECT_EQ(i.type, w.type) << w.file;
    EXPECT_EQ(i.subType, w.sub) << w.file;
    EXPECT_EQ(i.count, w.count) << w.file;
    EXPECT_EQ(i.width, 37) << w.file;
    EXPECT_EQ(i.height, 23) << w.file;
    if (w.bpp) EXPECT_EQ(i.bitsPerPixel, w.bpp) << w.file;
    else EXPECT_GT(i.bitsPerPixel, 0) << w.file;
    if (w.colours) EXPECT_EQ(i.colours, w.colours) << w.file;
    else EXPECT_FALSE(i.colours.isEmpty()) << w.file;
  }

  // Headers that were misread: sizes and depths against ImageMagick's own view of the file (its image as
  // shown: a photograph turned by its EXIF data).
  const QString c = cases();
  struct Deep {
    const char *file, *sub;
    int bpp;
  };
  const Deep deep[] = {{"os2.bmp", "OS/2", 24},     {"grey16.pgm", "Binary", 16}, {"colour16.ppm", "Binary", 48},
                       {"ascii16.ppm", "ASCII", 48}, {"rgb24.tif", "", 24},         {"rgb48.tif", "", 48},
                       {"turned.jpg", "Baseline", 24}, {"rgb565.bmp", "Bitfields", 16}, {"straight.tif", "", 32}};
  for (const Deep &d : deep) {
    const imageio::Info i = imageio::info(c + '/' + d.file);
    ASSERT_TRUE(i.ok) << d.file;
    const QStringList peer = QString::fromLatin1(testenv::readFile(c + '/' + d.file + ".id")).split(' ');
    ASSERT_EQ(peer.size(), 4) << d.file;
    EXPECT_EQ(QSize(i.width, i.height), QSize(peer[0].toInt(), peer[1].toInt())) << d.file;
    EXPECT_EQ(i.bitsPerPixel, d.bpp) << d.file;
    const int channels = peer[3] == "gray" ? 1 : peer[3] == "graya" ? 2 : peer[3] == "srgb" ? 3 : peer[3] == "srgba" ? 4 : 0;
    if (!QByteArray(d.file).endsWith(".bmp"))  // ImageMagick widens BMP channels to 8 bits
      EXPECT_EQ(i.bitsPerPixel, peer[2].toInt() * channels) << d.file << ": " << peer.join(' ').toStdString();
    EXPECT_EQ(i.subType, d.sub) << d.file;
  }
}

TEST(ImageIo, WindowsMetafilesDrawAndEnhancedOnesSayWhyNot) {
  const QString dir = testenv::makeDir("wmf");
  const QString wmf = testenv::writeFile(dir + "/two.wmf", twoRectangleWmf());
  QString error;
  const QImage img = imageio::read(wmf, &error);
  if (img.isNull() && error.contains("wmf2svg")) GTEST_SKIP() << error.toStdString();
  ASSERT_FALSE(img.isNull()) << error.toStdString();
  EXPECT_EQ(img.size(), QSize(200, 100));
  EXPECT_EQ(img.pixel(50, 50), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(150, 50), qRgb(0, 0, 255));
  const imageio::Info i = imageio::info(wmf);
  EXPECT_TRUE(i.ok);
  EXPECT_EQ(i.type, "WMF");
  EXPECT_EQ(i.width, 200);
  EXPECT_EQ(i.count, 1);
  // The same picture under another name still reads: the content decides.
  QFile::copy(wmf, dir + "/two.img");
  EXPECT_EQ(imageio::read(dir + "/two.img", &error).size(), QSize(200, 100));

  QByteArray broken = twoRectangleWmf().left(22) + QByteArray(40, '\x7f');
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/broken.wmf", broken), &error).isNull());
  EXPECT_TRUE(error.contains("broken.wmf")) << error.toStdString();

  QByteArray emf(88, '\0');
  qToLittleEndian<quint32>(1, emf.data());
  emf.replace(40, 4, " EMF");
  error.clear();
  EXPECT_TRUE(imageio::read(testenv::writeFile(dir + "/pic.emf", emf), &error).isNull());
  EXPECT_TRUE(error.contains("EMF")) << error.toStdString();
  EXPECT_FALSE(imageio::info(dir + "/pic.emf").ok);
}

TEST(ImageIo, PcxFuzzCorpusReplays) {
  const QDir corpus(testenv::sourceDir() + "/tests/formats/raster/pcx-fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 6);
  for (const QString &f : files) {
    const QByteArray bytes = testenv::readFile(corpus.filePath(f));
    pcxfuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
  }
}

// Layouts where Qt's plug-ins round, shift or premultiply: every pixel as ImageMagick decodes it (and Pillow,
// where Pillow reads the layout right).
TEST(ImageIo, DecodesEveryPixelAsTheIndependentReadersDo) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = cases();
  struct Case {
    const char *file;
    int index;            // the image the independent readers were asked for
    const char *peer;     // "im": ImageMagick; "ref": the pixels from the format's rule, where ImageMagick errs
    int tolerance;        // 1 where ImageMagick narrows 16 bits by truncating, not rounding
    int pillowTolerance;  // -1: Pillow misreads this layout or cannot read it; 1 where it truncates
    const char *why;
  };
  const Case table[] = {
      {"rgb565.bmp", 0, "im", 0, 1, "every 16-bit value: 5 and 6 bit channels widened, white is white"},
      {"rgb555.bmp", 0, "im", 0, 1, "16 bits without masks, rows stored top first"},
      {"argb1555.bmp", 0, "ref", 0, -1, "a one-bit alpha mask in a V5 header"},
      {"argb4444.bmp", 0, "ref", 0, -1, "4-bit channels and alpha in a V4 header"},
      {"rgb101010.bmp", 0, "im", 1, -1, "10-bit channels in 32 bits (ImageMagick truncates)"},
      {"trns16rgb.png", 0, "im", 1, -1, "16-bit RGB with a transparent colour: only the exact colour is transparent"},
      {"trns16grey.png", 0, "im", 1, -1, "16-bit grey with a transparent level"},
      {"trns8rgb.png", 0, "im", 0, 0, "8-bit RGB with a transparent colour"},
      {"straight.tif", 0, "im", 0, 0, "straight alpha: colours under alpha 1, 2, 3 kept"},
      {"straightgrey.tif", 0, "im", 0, 0, "grey with straight alpha"},
      {"straight16.tif", 0, "im", 0, -1, "16-bit straight alpha"},
      {"tiled.tif", 0, "im", 0, 0, "straight alpha in tiles"},
      {"alpha.ico", 1, "im", 0, 0, "an icon's 32-bit images with alpha; the largest shown"},
      {"sizes.ico", 1, "im", 0, 0, "an icon of PNG images; the largest shown"},
      {"palette.ico", 1, "im", 0, 0, "a 16-colour icon with a mask; the largest shown"},
  };
  for (const Case &c : table) {
    const QString file = dir + '/' + c.file;
    QString error;
    const QImage ours = imageio::read(file, &error);
    ASSERT_FALSE(ours.isNull()) << c.file << ": " << error.toStdString();
    const QString base = file + '.' + QString::number(c.index);
    const QImage peer = fromRaw(base + '.' + c.peer);
    ASSERT_FALSE(peer.isNull()) << c.file;
    EXPECT_EQ(straightDifference(ours, peer, c.tolerance), "") << c.file << " against " << c.peer << ": " << c.why;
    if (c.pillowTolerance >= 0) {
      ASSERT_FALSE(QFile::exists(base + ".pil.err")) << c.file << ": " << testenv::readFile(base + ".pil.err").toStdString();
      EXPECT_EQ(straightDifference(ours, fromRaw(base + ".pil"), c.pillowTolerance), "") << c.file << " against Pillow: " << c.why;
    }
  }
}

// A picture with transparency keeps its colours in the formats that hold alpha, and looks as it does on white
// in every format that does not (BMP as much as JPEG or PPM: no colour hidden under a transparent pixel
// comes out).
TEST(ImageIo, TransparencySurvivesSavingAndOpaqueFormatsShowItOnWhite) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = cases(), out = testenv::makeDir("saved");
  struct Kept {
    const char *from;
    int index;
    const char *to;
  };
  const Kept kept[] = {{"straight.tif", 0, "tif.png"},  {"straightgrey.tif", 0, "grey.png"}, {"alpha.ico", 1, "ico.png"},
                       {"sizes.ico", 1, "pngico.png"}, {"straight.tif", 0, "tif.tga"},      {"straight.tif", 0, "tif.tif"}};
  QStringList dumps;
  for (const Kept &k : kept) {
    QString error;
    const QImage img = imageio::read(dir + '/' + k.from, &error);
    ASSERT_FALSE(img.isNull()) << k.from << ": " << error.toStdString();
    ASSERT_TRUE(imageio::write(img, out + '/' + k.to, &error)) << k.to << ": " << error.toStdString();
    dumps << "dump " + out + '/' + k.to + ' ' + out + '/' + k.to + ".raw";
  }
  pillow(out, dumps);
  for (const Kept &k : kept) {
    const QImage source = fromRaw(dir + '/' + k.from + '.' + QString::number(k.index) + ".im");
    EXPECT_EQ(straightDifference(fromRaw(out + '/' + k.to + ".raw"), source), "") << k.from << " saved as " << k.to;
    QString error;
    EXPECT_EQ(straightDifference(imageio::read(out + '/' + k.to, &error), source), "") << k.to << " read back";
  }

  // Without alpha: as ImageMagick composites it on white, within rounding (JPEG within its losses).
  QString error;
  const QImage straight = imageio::read(dir + "/straight.png", &error);
  ASSERT_FALSE(straight.isNull()) << error.toStdString();
  const QImage onWhite = fromRaw(dir + "/straight.onwhite.txt");
  for (const char *ext : {"bmp", "ppm", "jpg"}) {
    const QString to = out + "/flat." + ext;
    ASSERT_TRUE(imageio::write(straight, to, &error)) << ext << ": " << error.toStdString();
    const QImage back = imageio::read(to, &error);
    if (QByteArray(ext) == "jpg")
      EXPECT_LT(meanDifference(back, onWhite), 12.0) << ext;  // a pattern of single pixels: JPEG's worst case
    else
      EXPECT_EQ(straightDifference(back, onWhite, 1), "") << ext;
  }
  // One rule for all of them: what is hidden under a transparent half never shows.
  QImage hidden(32, 16, QImage::Format_ARGB32);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) hidden.setPixel(x, y, x < 16 ? qRgba(255, 0, 0, 0) : qRgba(0, 0, 0, 255));
  for (const char *ext : {"bmp", "jpg", "pbm", "pgm", "ppm"}) {
    const QString to = out + "/hidden." + ext;
    ASSERT_TRUE(imageio::write(hidden, to, &error)) << ext << ": " << error.toStdString();
    const QImage back = imageio::read(to, &error);
    ASSERT_FALSE(back.isNull()) << ext << ": " << error.toStdString();
    const QRgb left = back.pixel(6, 8), right = back.pixel(26, 8);
    EXPECT_GE(std::min({qRed(left), qGreen(left), qBlue(left)}), 250) << ext << " shows the hidden colour: " << std::hex << left;
    EXPECT_LE(std::max({qRed(right), qGreen(right), qBlue(right)}), 5) << ext << ": " << std::hex << right;
  }
}

// A file of several images tells how many it has, shows the right one first and gives every one when asked.
TEST(ImageIo, MultiImageFilesCountTheirImagesAndGiveEachOne) {
  if (!havePeers()) GTEST_SKIP() << "ImageMagick or python3-pil is not installed";
  const QString dir = cases();
  struct Case {
    const char *file;
    int count, shown;
  };
  const Case table[] = {{"pages.tif", 2, 0}, {"alpha.ico", 2, 1}, {"sizes.ico", 2, 1}, {"palette.ico", 2, 1}};
  for (const Case &c : table) {
    const QString file = dir + '/' + c.file;
    const imageio::Info i = imageio::info(file);
    ASSERT_TRUE(i.ok) << c.file;
    EXPECT_EQ(i.count, c.count) << c.file;
    EXPECT_EQ(i.shown, c.shown) << c.file;
    EXPECT_FALSE(i.animated) << c.file << ": pages and sizes are not frames";
    for (int index = 0; index < c.count; ++index) {
      const QImage peer = fromRaw(file + '.' + QString::number(index) + ".im");
      imageio::ReadOptions o;
      o.index = index;
      QString error;
      const QImage img = imageio::read(file, &error, o);
      ASSERT_FALSE(img.isNull()) << c.file << " image " << index << ": " << error.toStdString();
      EXPECT_EQ(straightDifference(img, peer), "") << c.file << " image " << index;
      const imageio::Info one = imageio::info(file, index);
      EXPECT_EQ(QSize(one.width, one.height), peer.size()) << c.file << " image " << index;
    }
    QString error;
    EXPECT_EQ(imageio::read(file, &error).size(), fromRaw(file + '.' + QString::number(c.shown) + ".im").size()) << c.file;
    imageio::ReadOptions past;
    past.index = c.count;
    EXPECT_TRUE(imageio::read(file, &error, past).isNull()) << c.file;
    EXPECT_FALSE(error.isEmpty()) << c.file;
  }
  // An animation is one.
  const QString gif = dir + "/moving.gif";
  ASSERT_TRUE(convert({"-size", "8x8", "xc:red", "xc:blue", "xc:lime", "-set", "delay", "10", gif}));
  const imageio::Info anim = imageio::info(gif);
  EXPECT_TRUE(anim.animated);
  EXPECT_EQ(anim.count, 3);
}

// One size rule for every format, told before anything is decoded, in one message; and a picture too large
// for the format it is saved in says which limit it meets.
TEST(ImageIo, TooLargePicturesGetOneRuleAndOneClearMessage) {
  const QString dir = testenv::makeDir("large");
  const qint64 most = qint64(imageio::allocationLimitMb()) * 1024 * 1024 / 4;  // pixels
  EXPECT_TRUE(imageio::fits(16384, most / 16384));
  EXPECT_FALSE(imageio::fits(16384, most / 16384 + 1));
  EXPECT_FALSE(imageio::fits(0, 10));

  auto crc = [](const QByteArray &bytes) {
    quint32 c = 0xffffffffu;
    for (char ch : bytes) {
      c ^= uchar(ch);
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  auto png = [&](int w, int h, int type) {
    QByteArray ihdr("IHDR");
    char b[13] = {};
    qToBigEndian<quint32>(quint32(w), b);
    qToBigEndian<quint32>(quint32(h), b + 4);
    b[8] = 8, b[9] = char(type);
    ihdr.append(b, 13);
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    char len[4], sum[4];
    qToBigEndian<quint32>(13, len);
    qToBigEndian<quint32>(crc(ihdr), sum);
    out.append(len, 4).append(ihdr).append(sum, 4);
    return out + QByteArray::fromHex("0000000a4944415478da636000000000ffff") + QByteArray(32, '\0');
  };
  auto bmp = [](int w, int h) {
    QByteArray b(54, '\0');
    uchar *p = reinterpret_cast<uchar *>(b.data());
    p[0] = 'B', p[1] = 'M';
    qToLittleEndian<quint32>(54, p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(w, p + 18);
    qToLittleEndian<qint32>(h, p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(24, p + 28);
    return b + QByteArray(64, '\0');
  };
  auto tiff = [](int w, int h) {  // one strip of nothing: only the header is ever read
    QByteArray t("II*\0\x08\0\0\0", 8);
    const quint16 tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const quint32 values[] = {quint32(w), quint32(h), 8, 1, 1, 200, 1, quint32(h), 16};
    char n[2];
    qToLittleEndian<quint16>(9, n);
    t.append(n, 2);
    for (int i = 0; i < 9; ++i) {
      char e[12] = {};
      qToLittleEndian<quint16>(tags[i][0], e);
      qToLittleEndian<quint16>(tags[i][1], e + 2);
      qToLittleEndian<quint32>(1, e + 4);
      if (tags[i][1] == 3)
        qToLittleEndian<quint16>(quint16(values[i]), e + 8);
      else
        qToLittleEndian<quint32>(values[i], e + 8);
      t.append(e, 12);
    }
    return t + QByteArray(4 + 256, '\0');
  };
  auto jpeg = [](int w, int h) {  // a real JPEG whose frame header is made to lie
    QByteArray j;
    QBuffer buf(&j);
    buf.open(QIODevice::WriteOnly);
    QImage(8, 8, QImage::Format_RGB32).save(&buf, "JPEG");
    const qsizetype sof = j.indexOf("\xff\xc0");
    qToBigEndian<quint16>(quint16(h), j.data() + sof + 5);
    qToBigEndian<quint16>(quint16(w), j.data() + sof + 7);
    return j;
  };
  QByteArray pcx(128, '\0');
  pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 1;
  qToLittleEndian<quint16>(59999, pcx.data() + 8);
  qToLittleEndian<quint16>(59999, pcx.data() + 10);
  qToLittleEndian<quint16>(60000, pcx.data() + 66);
  QByteArray tga(18, '\0');
  tga[2] = 2, tga[16] = 24;
  qToLittleEndian<quint16>(65535, tga.data() + 12);
  qToLittleEndian<quint16>(65535, tga.data() + 14);
  struct Case {
    const char *file;
    QByteArray bytes;
    int w, h;
  };
  const Case table[] = {
      {"grey.png", png(30000, 30000, 0), 30000, 30000},  // Qt said "Unable to read image data."
      {"rgba.png", png(30000, 30000, 6), 30000, 30000},  // ... and showed this one, scaled, after a minute
      {"wide.png", png(1000000, 1000, 2), 1000000, 1000},
      {"big.bmp", bmp(30000, 30000), 30000, 30000},
      {"topdown.bmp", bmp(30000, -30000), 30000, 30000},
      {"big.tif", tiff(40000, 40000), 40000, 40000},
      {"big.jpg", jpeg(60000, 60000), 60000, 60000},
      {"big.pcx", pcx + QByteArray(64, '\0'), 60000, 60000},
      {"big.tga", tga + QByteArray(64, '\0'), 65535, 65535},
  };
  for (const Case &c : table) {
    const QString file = testenv::writeFile(dir + '/' + c.file, c.bytes);
    QString error;
    EXPECT_TRUE(imageio::read(file, &error).isNull()) << c.file;
    EXPECT_EQ(error, imageio::tooLargeText(c.file, c.w, c.h)) << c.file;
    const imageio::Info i = imageio::info(file);
    EXPECT_TRUE(i.ok) << c.file << ": its information still reads";
    EXPECT_EQ(QSize(i.width, i.height), QSize(c.w, c.h)) << c.file;
  }

  // Saving: each format's own limit, named.
  const QImage wide(5963837, 1, QImage::Format_RGB32);
  ASSERT_FALSE(wide.isNull());
  QString error;
  EXPECT_FALSE(imageio::write(wide, dir + "/wide-out.png", &error));
  EXPECT_TRUE(error.contains("1000000") && error.contains("5963837 x 1")) << error.toStdString();
  EXPECT_FALSE(QFile::exists(dir + "/wide-out.png"));
  const QImage jpegWide(70000, 1, QImage::Format_RGB32);
  EXPECT_FALSE(imageio::write(jpegWide, dir + "/wide-out.jpg", &error));
  EXPECT_TRUE(error.contains("65500")) << error.toStdString();
  EXPECT_TRUE(imageio::write(jpegWide, dir + "/wide-out.bmp", &error)) << error.toStdString();
}

// A metafile's information comes from its header, not from drawing it (the dispatch asks before showing);
// drawing reports progress and stops when cancelled.
TEST(ImageIo, MetafilesAreMeasuredWithoutDrawingAndDrawingCanBeCancelled) {
  const QString dir = testenv::makeDir("wmfbig");
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"), {testenv::sourceDir() + "/tests/formats/raster/picture_cases.py", "--wmf",
                                                 dir + "/big.wmf", "200000"});
  ASSERT_TRUE(py.waitForFinished(60000) && py.exitCode() == 0) << py.readAllStandardError().toStdString();
  const QString wmf = dir + "/big.wmf";
  {
    // No converter to be found: the information still reads.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", testenv::makeDir("nothing").toLocal8Bit());
    const imageio::Info i = imageio::info(wmf);
    qputenv("PATH", path);
    EXPECT_TRUE(i.ok);
    EXPECT_EQ(QSize(i.width, i.height), QSize(300, 200));
  }
  if (QStandardPaths::findExecutable("wmf2svg").isEmpty()) GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
  // Without a placeable header the converter measures it, and is stopped once it has.
  const QString plain = testenv::writeFile(dir + "/plain.wmf", twoRectangleWmf().mid(22));
  QString why;
  const QImage drawn = imageio::read(plain, &why);
  ASSERT_FALSE(drawn.isNull()) << why.toStdString();
  const imageio::Info measured = imageio::info(plain);
  EXPECT_TRUE(measured.ok);
  EXPECT_EQ(QSize(measured.width, measured.height), drawn.size());

  std::atomic_bool cancel{false};
  std::atomic_int seen{-1};
  imageio::ReadOptions o;
  o.cancel = &cancel;
  o.progress = [&seen](int p) { seen = p; };
  QString error;
  QFuture<QImage> job = QtConcurrent::run([&] { return imageio::read(wmf, &error, o); });
  EXPECT_TRUE(testenv::waitFor([&] { return seen.load() > 0 || job.isFinished(); }, 60000));
  EXPECT_FALSE(job.isFinished()) << "drawn before any progress was told";
  cancel = true;
  job.waitForFinished();
  EXPECT_TRUE(job.result().isNull());
  EXPECT_EQ(error, "Cancelled.");

  // Not cancelled, it draws, and the progress ends at 100.
  cancel = false;
  seen = -1;
  const QImage img = imageio::read(wmf, &error, o);
  ASSERT_FALSE(img.isNull()) << error.toStdString();
  EXPECT_EQ(img.size(), QSize(300, 200));
  EXPECT_EQ(seen.load(), 100);
  EXPECT_EQ(img.pixel(5, 5), qRgb(255, 0, 0));     // the red page
  EXPECT_EQ(img.pixel(11, 11), qRgb(0, 0, 255));   // the first small rectangle
}
