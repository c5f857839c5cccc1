// Measures the hex editor on one file (used by bench/hexedit.sh, not a test):
//   hexedit_bench FILE PATTERN
// prints "open_ms=.. rss_kb=.. search_ms=.. found=.. insert_ms=..": open is load plus the first painted rows.
#include "windows/hex/hexeditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <cstdio>

static long rssKb() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) return 2;
  THexEditor ed;
  ed.resize(700, 480);
  QElapsedTimer t;
  t.start();
  if (!ed.LoadFromFile(QString::fromLocal8Bit(argv[1]))) return 1;
  QImage img(ed.size(), QImage::Format_RGB32);
  ed.render(&img);
  const double openMs = t.nsecsElapsed() / 1e6;

  QByteArray pattern(argv[2]);
  t.restart();
  const qint64 found = ed.buffer()->Find(pattern, true, false, ed.buffer()->DataSize() - 1, 0);
  const double searchMs = t.nsecsElapsed() / 1e6;

  t.restart();
  ed.buffer()->InsertBuffer(QByteArray(1, 'x'), 100);
  ed.render(&img);
  const double insertMs = t.nsecsElapsed() / 1e6;
  std::printf("open_ms=%.1f rss_kb=%ld search_ms=%.1f found=%lld insert_ms=%.1f\n", openMs, rssKb(), searchMs,
              static_cast<long long>(found), insertMs);
  return 0;
}
