// Measuring driver of bench/scan: one scan from a SANE device with the given options, timed, with the
// process's peak memory. Prints key=value pairs.
//   scan_bench DEVICE MODE DPI LEFT TOP RIGHT BOTTOM
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

#include "windows/scan/scansession.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc < 8) {
    std::fprintf(stderr, "usage: scan_bench DEVICE MODE DPI LEFT TOP RIGHT BOTTOM\n");
    return 2;
  }
  QElapsedTimer t;
  t.start();
  scan::Session s;
  if (!s.open(QString::fromLocal8Bit(argv[1]))) return 1;
  scan::Settings set;
  set.mode = QString::fromLocal8Bit(argv[2]);
  set.resolution = atoi(argv[3]);
  set.areaMm = QRectF(QPointF(atof(argv[4]), atof(argv[5])), QPointF(atof(argv[6]), atof(argv[7])));
  set.extra["test-picture"] = "Color pattern";
  QString error;
  if (!s.apply(set, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  std::atomic_bool cancel{false};
  QElapsedTimer scanTime;
  scanTime.start();
  const scan::Result r = s.scan({}, cancel);
  const qint64 scanMs = scanTime.elapsed();
  if (r.image.isNull()) {
    std::fprintf(stderr, "%s\n", qPrintable(r.error));
    return 1;
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf("scan_ms=%lld ms=%lld width=%d height=%d bytes=%lld peak_kb=%ld\n", (long long)scanMs, (long long)t.elapsed(), r.image.width(),
              r.image.height(), (long long)r.image.sizeInBytes(), u.ru_maxrss);
  return 0;
}
