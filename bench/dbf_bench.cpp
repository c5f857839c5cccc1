// Measuring driver of bench/dbf: opens a table in the database viewer's grid offscreen and reports, in
// milliseconds, the first screen painted, the scroll to the last record painted, and the tab-separated
// export written; then the peak resident memory in kB. Usage: dbf_bench TABLE EXPORT-FILE
#include "windows/dbview/tarndbf.h"
#include "windows/dbview/dbfhost.h"
#include "windows/dbview/dbgrid.h"
#include "windows/dbview/printgrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <cstdio>
#include <sys/resource.h>

namespace {
class BenchHost : public TDbfHost {
 public:
  QString file;
  QString currentFile() const override { return file; }
  QString currentFolder() const override { return QFileInfo(file).path(); }
  QMessageBox::StandardButton ask(QWidget *, const QString &, QMessageBox::StandardButtons) override { return QMessageBox::No; }
  void showMessage(QWidget *, const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  QString saveFileName(QWidget *, const QString &, const QString &, const QStringList &, int) override { return {}; }
  PrintChoice printDialog(QWidget *, QPrinter &, int &, int &) override { return PrintChoice::Cancel; }
};

// Paints the window now, as the screen would, and waits for nothing else.
void paintNow(QWidget *w) {
  QImage img(w->size(), QImage::Format_RGB32);
  w->render(&img);
}
}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: dbf_bench TABLE EXPORT-FILE\n");
    return 2;
  }
  BenchHost host;
  host.file = QString::fromLocal8Bit(argv[1]);
  QElapsedTimer t;
  t.start();
  TTarnDbf w(host);
  if (!w.table()) return 1;
  w.show();
  QCoreApplication::processEvents();
  paintNow(&w);
  const double first = t.nsecsElapsed() / 1e6;
  t.restart();
  w.DBGrid1->goToRecord(w.DBGrid1->model()->rowCount() - 1);
  QCoreApplication::processEvents();
  paintNow(&w);
  const double scroll = t.nsecsElapsed() / 1e6;
  const QFileInfo out(QString::fromLocal8Bit(argv[2]));
  w.PrintGrid1->PrintFileDir = out.absolutePath();
  w.PrintGrid1->PrintFileName = out.fileName();
  t.restart();
  if (!w.PrintGrid1->writeText()) return 1;
  const double exported = t.nsecsElapsed() / 1e6;
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  // Our own memory, apart from the mapped table's pages (the kernel's to drop at will).
  long anon = 0;
  if (FILE *f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "RssAnon: %ld", &anon) == 1) break;
    std::fclose(f);
  }
  std::printf("first %.1f scroll %.1f export %.1f rss %ld anon %ld records %lld\n", first, scroll, exported, ru.ru_maxrss, anon,
              qlonglong(w.table()->recordCount()));
  return 0;
}
