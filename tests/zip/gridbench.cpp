// Driver of bench/ziptab: lists an archive into the Zip tab's grid and sorts it by header clicks.
// usage: tarnwick_gridbench ARCHIVE  -> prints "fill MS" and "sort MS" (median of one click per column)
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "zip/msgform.h"
#include "zip/ziptab.h"

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarnwick_gridbench ARCHIVE\n");
    return 2;
  }
  TMsgform msgform;
  TZipTab tab(&msgform);
  tab.showMessage = [](const QString &t) { std::fprintf(stderr, "%s\n", qPrintable(t)); };
  tab.resize(800, 600);
  tab.show();
  QElapsedTimer t;
  t.start();
  tab.ShowZip(QString::fromLocal8Bit(argv[1]));
  QCoreApplication::processEvents();
  const double fill = t.nsecsElapsed() / 1e6;
  std::vector<double> sorts;
  for (int col = 0; col < 6; ++col) {
    t.restart();
    tab.StringGrid1->clickSort(col, Qt::LeftButton);
    QCoreApplication::processEvents();
    sorts.push_back(t.nsecsElapsed() / 1e6);
  }
  std::sort(sorts.begin(), sorts.end());
  std::printf("rows %d\nfill %.1f\nsort %.1f\nsortmax %.1f\n", tab.StringGrid1->RowCount() - 2, fill, sorts[sorts.size() / 2], sorts.back());
  return 0;
}
