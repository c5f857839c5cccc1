// Measures the HTML view for bench/html; prints "key=value" lines.
//   html_bench show FILE...   for each file in turn: ShowFile until the load finished and the view painted
//                             the page; first_ms (engine start included), then FILE's own ms as show<i>_ms
//   html_bench rss FILE...    ShowFile on each file in turn (each to loaded and painted); resident memory
//                             of this process and of its engine processes after the 10th and the last file:
//                             rss10_self_mb rss10_all_mb rssN_self_mb rssN_all_mb, N the number of files
// Exits 1 when a page fails to load or paint within 60 s.
#include "controls/htmlview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>

namespace {
struct PaintWatch : QObject {
  int paints = 0;
  bool eventFilter(QObject *, QEvent *e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

long rssKb(const QString &pid) {
  QFile f("/proc/" + pid + "/status");
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

// This process and every process below it (the engine's zygote, renderers, utility processes).
long treeRssKb() {
  QMap<QString, QStringList> children;
  for (const QString &p : QDir("/proc").entryList(QDir::Dirs)) {
    bool num = false;
    p.toInt(&num);
    if (!num) continue;
    QFile f("/proc/" + p + "/stat");
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> rest = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (rest.size() > 1) children[QString::fromLatin1(rest[1])] << p;
  }
  long sum = 0;
  QStringList todo{QString::number(QCoreApplication::applicationPid())};
  while (!todo.isEmpty()) {
    const QString p = todo.takeFirst();
    sum += rssKb(p);
    todo << children.value(p);
  }
  return sum;
}

bool waitUntil(const std::function<bool()> &pred) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > 60000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return true;
}
}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() < 2 || (args[0] != "show" && args[0] != "rss")) {
    std::fprintf(stderr, "usage: html_bench show|rss FILE...\n");
    return 2;
  }
  THtmlView view;
  view.resize(1024, 768);
  view.show();
  PaintWatch watch;
  bool finished = false, ok = false;
  QObject::connect(&view, &THtmlView::loadFinished, [&](bool r) {
    finished = true;
    ok = r;
  });
  auto showOne = [&](const QString &file) -> qint64 {
    QElapsedTimer t;
    t.start();
    finished = false;
    if (!view.ShowFile(file)) return -1;
    // The engine's painting widget exists once the view was used; watch it from then on.
    if (QWidget *w = view.engineView() ? view.engineView()->focusProxy() : nullptr) w->installEventFilter(&watch);
    if (!waitUntil([&] { return finished; }) || !ok) return -1;
    const int before = watch.paints;
    if (!waitUntil([&] { return watch.paints > before; })) return -1;
    return t.nsecsElapsed() / 1000;
  };

  const QStringList files = args.mid(1);
  for (int i = 0; i < files.size(); ++i) {
    const qint64 us = showOne(files[i]);
    if (us < 0) {
      std::fprintf(stderr, "failed: %s\n", qPrintable(files[i]));
      return 1;
    }
    if (args[0] == "show") {
      std::printf("%s=%.1f\n", i == 0 ? "first_ms" : qPrintable(QString("show%1_ms").arg(i)), us / 1000.0);
    } else if (i + 1 == 10 || i + 1 == files.size()) {
      const QString n = i + 1 == 10 ? "10" : "N";
      std::printf("rss%s_self_mb=%.1f\nrss%s_all_mb=%.1f\n", qPrintable(n),
                  rssKb(QString::number(QCoreApplication::applicationPid())) / 1024.0, qPrintable(n),
                  treeRssKb() / 1024.0);
    }
    std::fflush(stdout);
  }
  return 0;
}
