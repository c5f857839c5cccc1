#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPdfView>
#include <QPdfWriter>
#include <QTest>
#include "tests/common/testenv.h"
#include "viewers/pdftab.h"

namespace {
// A real PDF from Qt's own writer: one line of text per page, "needle" on the pages in needles.
QString writePdf(const QString &path, int pages, const QList<int> &needles) {
  QPdfWriter w(path);
  w.setResolution(72);
  QPainter p(&w);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPointSize(14);
  p.setFont(f);
  for (int i = 0; i < pages; ++i) {
    if (i) w.newPage();
    p.drawText(QPointF(72, 100), QStringLiteral("Page %1 %2").arg(i + 1).arg(needles.contains(i) ? "needle" : "hay"));
  }
  p.end();
  return path;
}
}  // namespace

TEST(PdfTab, ShowsPagesFindsTextZoomsCopiesAndClears) {
  const QString dir = testenv::makeDir("pdf");
  const QString file = writePdf(dir + "/five.pdf", 5, {1, 3});
  TPdfTab tab;
  tab.resize(600, 500);
  tab.show();
  ASSERT_TRUE(tab.ShowPdf(file));
  EXPECT_EQ(tab.pageCount(), 5);
  EXPECT_EQ(tab.currentPage(), 0);
  EXPECT_TRUE(tab.message().isEmpty());
  EXPECT_FALSE(tab.Notice->isVisible());
  // Find: both pages with the word, in page order, and the view moves to each.
  tab.find("NEEDLE");
  ASSERT_TRUE(testenv::waitFor([&] { return tab.findCount() == 2; })) << tab.findCount();
  EXPECT_TRUE(testenv::waitFor([&] { return tab.currentPage() == 1; })) << tab.currentPage();
  tab.findNext();
  EXPECT_TRUE(testenv::waitFor([&] { return tab.currentPage() == 3; })) << tab.currentPage();
  tab.findNext();  // wraps round to the first
  EXPECT_TRUE(testenv::waitFor([&] { return tab.currentPage() == 1; })) << tab.currentPage();
  tab.find("absent");
  EXPECT_EQ(tab.findCount(), 0);
  // Copy takes the current page's text.
  tab.goToPage(2);
  tab.copyPageText();
  EXPECT_TRUE(QApplication::clipboard()->text().contains("Page 3 hay"))
      << QApplication::clipboard()->text().toStdString();
  // Zoom keys on the view; fit width comes back.
  ASSERT_TRUE(tab.fitsWidth());
  const qreal fitted = tab.zoomFactor();
  tab.View->setFocus();
  QTest::keyClick(tab.View, Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_FALSE(tab.fitsWidth());
  EXPECT_GT(tab.zoomFactor(), fitted * 1.1);
  QTest::keyClick(tab.View, Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(tab.View, Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_LT(tab.zoomFactor(), fitted * 0.9);
  tab.fitWidth();
  EXPECT_TRUE(tab.fitsWidth());
  // Clear All leaves nothing behind.
  tab.ClearViewer();
  EXPECT_EQ(tab.pageCount(), 0);
  EXPECT_TRUE(tab.fileName().isEmpty());
  EXPECT_EQ(tab.findCount(), 0);
}

// Files that are not whole PDFs: each says what is wrong in the tab, and the next good file shows again.
TEST(PdfTab, BrokenCutMissingAndEmptyFilesSayWhatIsWrong) {
  const QString dir = testenv::makeDir("badpdf");
  const QString good = writePdf(dir + "/good.pdf", 40, {});
  QFile in(good);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray bytes = in.readAll();
  TPdfTab tab;
  tab.resize(500, 400);
  tab.show();
  const QString tiny = testenv::writeFile(dir + "/tiny.pdf", bytes.left(40));
  EXPECT_FALSE(tab.ShowPdf(tiny));
  EXPECT_TRUE(tab.message().contains("damaged or cut short")) << tab.message().toStdString();
  EXPECT_TRUE(tab.message().contains("tiny.pdf"));
  EXPECT_EQ(tab.pageCount(), 0);
  // Cut in the middle: whatever the library repairs shows, and the tab says the file is cut.
  const QString half = testenv::writeFile(dir + "/half.pdf", bytes.left(bytes.size() / 2));
  const bool shown = tab.ShowPdf(half);
  if (shown) {
    EXPECT_TRUE(tab.Notice->isVisible());
    EXPECT_TRUE(tab.Notice->text().contains("cut short"));
    EXPECT_LT(tab.pageCount(), 40);
  } else {
    EXPECT_FALSE(tab.message().isEmpty());
  }
  EXPECT_FALSE(tab.ShowPdf(testenv::writeFile(dir + "/text.pdf", "just some text, no PDF at all\n")));
  EXPECT_TRUE(tab.message().contains("not a PDF"));
  EXPECT_FALSE(tab.ShowPdf(testenv::writeFile(dir + "/empty.pdf", "")));
  EXPECT_FALSE(tab.message().isEmpty());
  EXPECT_FALSE(tab.ShowPdf(dir + "/missing.pdf"));
  EXPECT_TRUE(tab.message().contains("cannot be found")) << tab.message().toStdString();
  ASSERT_TRUE(tab.ShowPdf(good));
  EXPECT_EQ(tab.pageCount(), 40);
  EXPECT_TRUE(tab.message().isEmpty());
  EXPECT_FALSE(tab.Notice->isVisible());
}
