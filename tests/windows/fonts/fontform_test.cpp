// The fonts viewer: each installed family once, as fontconfig names it, each row in its own face.
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QSet>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include "tests/common/testenv.h"
#include "windows/fonts/fontform.h"

TEST(FontsViewer, OneWindowRowsSizedByTheirOwnFont) {
  QWidget main;
  QAction item("&System Fonts", &main);
  TFontForm *f = TFontForm::open(&main, &item);
  ASSERT_TRUE(f);
  EXPECT_FALSE(item.isEnabled());
  EXPECT_EQ(TFontForm::open(&main, &item), f);
  EXPECT_EQ(f->windowTitle(), "Tarnwick - System Fonts Viewer");
  EXPECT_EQ(f->size(), QSize(306, 325));
  // Each installed family once, named as fc-list names it: no foundry suffixes, no generic aliases.
  QProcess fc;
  fc.start("fc-list", {"--format", "%{family[0]}\\n"});
  ASSERT_TRUE(fc.waitForFinished(30000)) << "fc-list did not run";
  QStringList theirs = QString::fromUtf8(fc.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  theirs.removeDuplicates();
  theirs.sort(Qt::CaseInsensitive);
  QStringList ours;
  for (int i = 0; i < f->ListBox1->count(); ++i) ours << f->ListBox1->item(i)->text();
  EXPECT_EQ(ours, theirs);
  for (const QString &name : ours) {
    EXPECT_FALSE(name.contains(" [")) << name.toStdString();
    EXPECT_NE(name, "Monospace");
  }
  // Fonts of different heights give rows of different heights, each from its own face.
  QSet<int> heights;
  for (int i = 0; i < f->ListBox1->count(); ++i) {
    const QString family = f->ListBox1->item(i)->text();
    const int h = f->ListBox1->sizeHintForIndex(f->ListBox1->model()->index(i, 0)).height();
    EXPECT_EQ(h, TFontForm::rowHeight(family));
    heights.insert(h);
  }
  const bool heightsDiffer = f->ListBox1->count() < 2 || heights.size() >= 2;
  f->ListBox1->setCurrentRow(f->ListBox1->count() - 1);
  EXPECT_EQ(f->FontLabel->text(), f->ListBox1->currentItem()->text());
  QPointer<TFontForm> alive(f);
  f->close();
  EXPECT_TRUE(testenv::waitFor([&] { return alive.isNull(); }));
  EXPECT_TRUE(item.isEnabled());
  EXPECT_EQ(TFontForm::instance(), nullptr);
  if (!heightsDiffer) GTEST_SKIP() << "every installed font is as tall as the others: rows of their own height were not seen";
}
