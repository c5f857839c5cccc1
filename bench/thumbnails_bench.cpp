// Thumbnails of a folder of pictures through the list's preview code, into a fresh desktop thumbnail cache
// (XDG_CACHE_HOME as the caller sets it), on every core (up to four), as the peers are run beside it.
// Usage: thumbnails_bench make FOLDER COUNT     writes COUNT photo-like JPEGs of 1600x1200
//        thumbnails_bench run FOLDER            prints the milliseconds for every picture of FOLDER
//        thumbnails_bench scroll FOLDER         a file list with previews scrolled a page every 100 ms to the end:
//                                               prints the longest stall of the event loop and the time taken
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QScrollBar>
#include <QTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QThread>
#include <QtConcurrent>
#include <atomic>
#include <cstdio>

#include "controls/shelllist.h"
#include "controls/thumbnails.h"

namespace {
// Smooth shapes with noise on top: compresses like a photo, not like a flat test card.
QImage photo(int seed) {
  QImage img(1600, 1200, QImage::Format_RGB32);
  QPainter p(&img);
  QRandomGenerator rng{quint32(seed)};
  QLinearGradient g(0, 0, 1600, 1200);
  g.setColorAt(0, QColor::fromHsv(seed * 37 % 360, 160, 220));
  g.setColorAt(1, QColor::fromHsv(seed * 91 % 360, 200, 90));
  p.fillRect(img.rect(), g);
  for (int i = 0; i < 40; ++i) {
    p.setBrush(QColor::fromHsv(int(rng.bounded(360)), 180, 200, 160));
    p.drawEllipse(QPointF(rng.bounded(1600), rng.bounded(1200)), rng.bounded(300) + 20, rng.bounded(300) + 20);
  }
  p.end();
  for (int y = 0; y < img.height(); ++y) {
    QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      const int n = int(rng.bounded(24)) - 12;
      const QRgb c = line[x];
      line[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255), qBound(0, qBlue(c) + n, 255));
    }
  }
  return img;
}
}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: thumbnails_bench make FOLDER COUNT | run FOLDER\n");
    return 2;
  }
  const QString mode = argv[1];
  const QString folder = QString::fromLocal8Bit(argv[2]);
  if (mode == "make") {
    QDir().mkpath(folder);
    const int count = argc > 3 ? atoi(argv[3]) : 2000;
    QList<int> seeds;
    for (int i = 0; i < count; ++i) seeds << i;
    QtConcurrent::blockingMap(seeds, [&](int i) {
      photo(i).save(QString("%1/photo%2.jpg").arg(folder).arg(i, 5, 10, QChar('0')), "jpeg", 90);
    });
    return 0;
  }
  if (mode == "scroll") {
    TPTShellList list;
    list.resize(1000, 700);
    list.setViewStyle(0);
    list.setPreviews(true);
    list.show();
    list.setFolderPath(folder);
    while (list.model()->isLoading()) app.processEvents(QEventLoop::WaitForMoreEvents);
    QElapsedTimer all, beat;
    all.start();
    beat.start();
    qint64 worst = 0;
    QTimer tick;  // a late tick is a stall the user would feel
    QObject::connect(&tick, &QTimer::timeout, [&] { worst = qMax(worst, beat.restart() - 10); });
    tick.start(10);
    QScrollBar *bar = list.currentView()->verticalScrollBar();
    QTimer page;
    QObject::connect(&page, &QTimer::timeout, [&] {
      if (bar->value() < bar->maximum()) return bar->setValue(bar->value() + bar->pageStep());
      if (list.model()->previewQueue()->pending() == 0) app.quit();
    });
    page.start(100);
    app.exec();
    std::printf("longest stall %lld ms, %lld ms to the end with every preview asked for made\n", worst, all.elapsed());
    return 0;
  }
  const QStringList names = QDir(folder).entryList({"*.jpg"}, QDir::Files, QDir::Name);
  std::atomic<int> made{0};
  QThreadPool pool;
  pool.setMaxThreadCount(qBound(1, QThread::idealThreadCount(), 4));
  QElapsedTimer t;
  t.start();
  QtConcurrent::blockingMap(&pool, names, [&](const QString &n) {
    if (!thumbs::thumbnail(folder + "/" + n).isNull()) ++made;
  });
  std::printf("%lld ms for %d of %lld pictures (%d threads)\n", t.elapsed(), made.load(), qlonglong(names.size()),
              pool.maxThreadCount());
  return made == names.size() ? 0 : 1;
}
