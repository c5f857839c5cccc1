// Driver of bench/ziptab: lists an archive into the Zip tab's grid and sorts it by header clicks.
// usage: tarnwick_gridbench ARCHIVE  -> prints "fill MS" and "sort MS" (median of one click per column)
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "zip/msgform.h"
#include "zip/ziptab.h"

namespace {
// Nothing of a main window: messages go to stderr, questions are declined.
struct BenchHost final : TZipHost {
  QString currentFolder() const override { return {}; }
  void setZipAddMode(bool) override {}
  void setCurrentName(const QString &) override {}
  void setTitle(const QString &) override {}
  void setListHint(const QString &) override {}
  void showBrowserPanes() override {}
  void activateZipTab() override {}
  void setTabCaption(const QString &) override {}
  void setViewHtmlEnabled(bool) override {}
  QStringList listItemNames() const override { return {}; }
  QString selectedListItemName() const override { return {}; }
  void viewFile(const QString &, const QString &) override {}
  QString askFolder(const QString &, const QString &) override { return {}; }
  int askButtons(const QString &, const QString &, int, int, int) override { return 2; }
  bool askForDisk(const QString &, int, QString *) override { return false; }
  void showMessage(const QString &t) override { std::fprintf(stderr, "%s\n", qPrintable(t)); }
  bool confirm(const QString &) override { return false; }
  QString askOpenFile(const QString &, const QString &, const QString &) override { return {}; }
  QString askSaveFile(const QString &, const QString &, const QString &) override { return {}; }
  QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
  QString askPassword(const QString &, const QString &) override { return {}; }
};
}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarnwick_gridbench ARCHIVE\n");
    return 2;
  }
  BenchHost host;
  TMsgform msgform;
  TZipTab tab(host, &msgform);
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
