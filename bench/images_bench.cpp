// Measuring driver of bench/images: decodes a picture through imageio::read and runs the image window's
// filters on it, printing key=value pairs (times in ms, memory in MB) for the script to compare.
//   images_bench decode FILE               decode_ms, width, height, peak_mb
//   images_bench filters FILE B C R        decode, then brightness B / contrast C (in place), then blur radius R
//                                          (strength 100) into a new picture: bcg_ms, blur_ms, peak_mb
//   images_bench kernel R                  the blur kernel as "size w,w,..." (for the peer to run the same)
#include "formats/raster/imageio.h"
#include "windows/image/imagefilters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

double peakMb() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return 0;
}

QImage load(const char *path, double *ms) {
  QElapsedTimer t;
  t.start();
  QString error;
  QImage img = imageio::read(QString::fromLocal8Bit(path), &error);
  *ms = double(t.nsecsElapsed()) / 1e6;
  if (img.isNull()) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    std::exit(1);
  }
  return img;
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QByteArray mode = argc > 1 ? argv[1] : "";
  if (mode == "kernel" && argc == 3) {
    const imgfilter::Kernel k = imgfilter::blurKernel(std::atof(argv[2]), 100);
    QStringList w;
    for (int v : k.weights) w << QString::number(v);
    std::printf("%d %s\n", k.size, qPrintable(w.join(',')));
    return 0;
  }
  if (mode == "decode" && argc == 3) {
    double ms = 0;
    const QImage img = load(argv[2], &ms);
    std::printf("decode_ms=%.1f width=%d height=%d peak_mb=%.1f\n", ms, img.width(), img.height(), peakMb());
    return 0;
  }
  if (mode == "filters" && argc == 6) {
    double ms = 0;
    QImage img = load(argv[2], &ms);
    imgfilter::BcgParams p;
    p.brightness = std::atoi(argv[3]);
    p.contrast = std::atof(argv[4]);
    QElapsedTimer t;
    t.start();
    if (!imgfilter::brightnessContrastGamma(img, p)) return 1;
    const double bcg = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    const QImage blurred = imgfilter::blur(img, std::atof(argv[5]), 100);
    const double blur = double(t.nsecsElapsed()) / 1e6;
    if (blurred.isNull()) return 1;
    std::printf("decode_ms=%.1f bcg_ms=%.1f blur_ms=%.1f peak_mb=%.1f pixels=%lld\n", ms, bcg, blur, peakMb(),
                qint64(img.width()) * img.height());
    return 0;
  }
  std::fprintf(stderr, "usage: images_bench decode FILE | filters FILE B C R | kernel R\n");
  return 2;
}
