// Click to first page in the Pdf tab: a fresh tab shows a file, and the clock stops once the view has
// painted text of the first page (dark pixels on the page). Prints the time in milliseconds.
// Usage: pdf_bench FILE.pdf
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPdfView>
#include <cstdio>
#include "viewers/pdftab.h"

namespace {
bool hasText(const QImage &img) {
  for (int y = 0; y < img.height(); y += 2) {
    const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
    for (int x = 0; x < img.width(); ++x)
      if (qGray(line[x]) < 64) return true;
  }
  return false;
}
}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: pdf_bench FILE.pdf\n");
    return 2;
  }
  TPdfTab tab;
  tab.resize(800, 900);
  tab.show();
  QCoreApplication::processEvents();
  QElapsedTimer t;
  t.start();
  if (!tab.ShowPdf(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "%s\n", qPrintable(tab.message()));
    return 1;
  }
  while (!hasText(tab.View->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32))) {
    if (t.elapsed() > 60000) return 1;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  std::printf("pages=%d ms=%.1f\n", tab.pageCount(), t.nsecsElapsed() / 1e6);
  return 0;
}
