#include "tests/formats/raster/pcxfuzzone.h"

#include "formats/raster/imageio.h"

#include <cstdio>
#include <cstdlib>

namespace pcxfuzz {

namespace {

void check(const QImage &img, const QString &error, size_t size) {
  if (img.isNull()) {
    if (error.isEmpty()) {
      std::fprintf(stderr, "failed read without a message\n");
      std::abort();
    }
    return;
  }
  // A PCX run of two bytes gives at most 63 bytes of pixels, a TGA packet at most 128 pixels: a picture
  // cannot come from fewer input bytes.
  const qint64 bits = qint64(img.width()) * img.height() * (img.depth() == 8 ? 1 : 24);
  if (size < 18 || bits / 8 > qint64(size) * 128 * 4) {
    std::fprintf(stderr, "%dx%d picture from %zu bytes\n", img.width(), img.height(), size);
    std::abort();
  }
  // Touch every pixel (the sanitizers see any read outside the picture) and write it out again.
  quint32 mix = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) mix += img.pixel(x, y);
  const QByteArray tga = imageio::writeTga(img);
  const qint64 want = 18 + qint64(img.width()) * img.height() * (img.hasAlphaChannel() ? 4 : 3) + 26;
  if (tga.size() != want) {
    std::fprintf(stderr, "TGA of %lld bytes, %lld expected (%u)\n", qlonglong(tga.size()), qlonglong(want), mix);
    std::abort();
  }
}

}  // namespace

void run(const uint8_t *data, size_t size) {
  const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
  QString error;
  QImage img = imageio::readPcx(in, &error);
  check(img, error, size);
  error.clear();
  img = imageio::readTga(in, &error);
  check(img, error, size);
}

}  // namespace pcxfuzz
