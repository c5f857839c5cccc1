// Measuring driver of bench/rtf: opens an RTF file in the rich-edit control as the rich text window does,
// saves it again, and prints the times and the process's peak memory as key=value pairs.
//   rtf_bench FILE OUT   open FILE, save to OUT (RTF)
#include <QApplication>
#include <QElapsedTimer>
#include <QTextDocument>
#include <cstdio>
#include <sys/resource.h>

#include "controls/richedit.h"
#include "formats/rtf/rtfcodec.h"

static long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: rtf_bench FILE OUT\n");
    return 2;
  }
  const QString in = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
  const long before = peakKb();
  TRichEdit edit;
  edit.resize(800, 600);
  edit.show();
  QElapsedTimer t;
  t.start();
  QString error;
  if (!edit.loadFromFile(in, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  QApplication::processEvents();  // the first screen laid out and painted
  const qint64 openMs = t.elapsed();
  t.restart();
  if (!edit.saveToFile(out, false, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const qint64 saveMs = t.elapsed();
  std::printf("open_ms=%lld save_ms=%lld paragraphs=%d peak_kb=%ld base_kb=%ld\n", (long long)openMs, (long long)saveMs,
              edit.document()->blockCount(), peakKb(), before);
  return 0;
}
