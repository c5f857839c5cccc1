// Pictures in the main window: a click sends a still picture to the "Images" tab's picture control, an
// animation to its page view, and, with "Open Images in &Window" on, a still one to an image window; a
// double click on the tab's picture opens a window on it. A picture that takes long draws in the background
// with its progress and a Cancel button; the status line never keeps a message about another picture.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include "app/layouts.h"
#include "app/tarn.h"
#include "controls/htmlview.h"
#include "controls/imageview.h"
#include "controls/shelllist.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "windows/image/imgform.h"
#include "viewers/imagestab.h"

namespace {

class ImagesInWindow : public apptest::FolderWindowTest {
 protected:
  void fillFolder() override {
    QImage still(64, 48, QImage::Format_RGB32);
    still.fill(qRgb(10, 200, 30));
    ASSERT_TRUE(still.save(dir + "/still.png"));
    ASSERT_TRUE(still.scaled(2400, 1800).save(dir + "/large.jpg", "JPG", 80));
    // Two frames: an animation (Qt writes no GIF; ImageMagick does).
    ASSERT_EQ(QProcess::execute("convert", {"-size", "8x8", "xc:red", "xc:blue", "-set", "delay", "10", "-loop", "0",
                                            dir + "/moving.gif"}), 0);
    testenv::writeFile(dir + "/broken.png", "\x89PNG\r\n\x1a\n but nothing after");
    // Two pages of different sizes; a metafile of 200,000 records, which takes seconds to draw.
    ASSERT_EQ(QProcess::execute("convert", {"-size", "30x20", "xc:green", "-size", "40x25", "xc:red", dir + "/pages.tif"}), 0);
    ASSERT_EQ(QProcess::execute("/usr/bin/python3", {testenv::sourceDir() + "/tests/formats/raster/picture_cases.py", "--wmf",
                                                     dir + "/big.wmf", "200000"}), 0);
  }
  QList<TImgForm *> windows() const { return w->findChildren<TImgForm *>(QString(), Qt::FindDirectChildrenOnly); }
};

}  // namespace

TEST_F(ImagesInWindow, StillPicturesGoToThePictureControlAnimationsToThePageView) {
  TImagesTab *tab = w->ImagesTab;
  QSignalSpy shown(tab, &TImagesTab::pictureShown);
  click("still.png");
  EXPECT_EQ(w->lastViewerAction, "ShowImages");
  EXPECT_EQ(w->Pc1->currentWidget(), w->ImageCmd);
  ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));
  EXPECT_TRUE(shown.last().at(0).toBool());
  EXPECT_TRUE(tab->PGImage2->isVisible());
  EXPECT_FALSE(tab->Image1->isVisible());
  EXPECT_EQ(tab->PGImage2->fileName(), dir + "/still.png");
  EXPECT_EQ(tab->PGImage2->image().pixel(5, 5), qRgb(10, 200, 30));
  EXPECT_EQ(tab->PGImage2->statusTip(), TImagesTab::PictureHint);

  click("moving.gif");
  EXPECT_TRUE(tab->Image1->isVisible());
  EXPECT_FALSE(tab->PGImage2->isVisible());
  EXPECT_FALSE(w->item("ViewHtml")->isEnabled());
  EXPECT_TRUE(testenv::waitFor([&] { return tab->Image1->currentFile() == dir + "/moving.gif" && !tab->Image1->isLoading(); }, 30000));

  // A picture that cannot be read: the status line says so, nothing else changes.
  shown.clear();
  click("broken.png");
  ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));
  EXPECT_FALSE(shown.last().at(0).toBool());
  EXPECT_TRUE(w->StatusBar1Panel->text().contains("broken.png")) << w->StatusBar1Panel->text().toStdString();

  // Clicking on quickly: the last picture clicked is the one shown, whatever was still being decoded.
  shown.clear();
  click("large.jpg");
  click("still.png");
  click("large.jpg");
  click("still.png");
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->isLoading() && shown.count() > 0; }, 10000));
  EXPECT_TRUE(testenv::waitFor([&] { return !tab->isLoading(); }));
  EXPECT_EQ(tab->PGImage2->fileName(), dir + "/still.png");
}

TEST_F(ImagesInWindow, WindowOptionAndDoubleClickOpenImageWindows) {
  w->item("ImageWindow")->trigger();
  ASSERT_TRUE(w->item("ImageWindow")->isChecked());
  click("still.png");
  ASSERT_EQ(windows().size(), 1);
  ASSERT_TRUE(testenv::waitFor([&] { return !windows()[0]->loading(); }));
  EXPECT_EQ(windows()[0]->shownFile(), dir + "/still.png");
  EXPECT_FALSE(w->ImagesTab->PGImage2->isVisible());
  // Animations stay in the tab whatever the option says.
  click("moving.gif");
  EXPECT_EQ(windows().size(), 1);
  EXPECT_TRUE(w->ImagesTab->Image1->isVisible());
  qDeleteAll(windows());

  w->item("ImageWindow")->trigger();
  QSignalSpy shown(w->ImagesTab, &TImagesTab::pictureShown);
  click("still.png");
  ASSERT_TRUE(shown.count() > 0 || shown.wait(10000));
  w->layouts().FullScreen1Click();
  ASSERT_TRUE(w->layouts().fullScreen());
  emit w->ImagesTab->PGImage2->doubleClicked();
  ASSERT_EQ(windows().size(), 1);
  ASSERT_TRUE(testenv::waitFor([&] { return !windows()[0]->loading(); }));
  EXPECT_EQ(windows()[0]->shownFile(), dir + "/still.png");
  EXPECT_FALSE(w->ImagesTab->PGImage2->isVisible());
  EXPECT_FALSE(w->layouts().fullScreen());  // the browser comes back for the window's file
  EXPECT_EQ(w->state.CurrentFile, dir + "/still.png");
}

TEST_F(ImagesInWindow, ALongPictureDrawsInTheBackgroundWithProgressAndCancel) {
  if (QStandardPaths::findExecutable("wmf2svg").isEmpty()) GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
  TImagesTab *tab = w->ImagesTab;
  click("big.wmf");
  // The click came back before the drawing was done: the dispatch measured the metafile, it did not draw it.
  ASSERT_TRUE(tab->isLoading());
  EXPECT_EQ(w->imageInfo_.width, 300);
  ASSERT_TRUE(testenv::waitFor([&] { return tab->LoadPanel->isVisible() && tab->LoadProgress->value() > 0; }, 30000))
      << "no progress shown";
  EXPECT_TRUE(tab->LoadCancel->isVisible());
  QTest::mouseClick(tab->LoadCancel, Qt::LeftButton);
  EXPECT_FALSE(tab->LoadPanel->isVisible());
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->isLoading(); }, 30000));
  EXPECT_NE(tab->PGImage2->fileName(), dir + "/big.wmf");
  EXPECT_TRUE(w->StatusBar1Panel->text().contains("Cancelled") && w->StatusBar1Panel->text().contains("big.wmf"))
      << w->StatusBar1Panel->text().toStdString();

  // Left alone, it is drawn and shown; a click elsewhere while it draws stops it for the newer picture.
  QSignalSpy shown(tab, &TImagesTab::pictureShown);
  click("big.wmf");
  click("still.png");
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->isLoading() && shown.count() > 0; }, 30000));
  EXPECT_EQ(tab->PGImage2->fileName(), dir + "/still.png");
  shown.clear();
  click("big.wmf");
  ASSERT_TRUE(testenv::waitFor([&] { return shown.count() > 0; }, 60000));
  EXPECT_TRUE(shown.last().at(0).toBool());
  EXPECT_EQ(tab->PGImage2->fileName(), dir + "/big.wmf");
  EXPECT_EQ(tab->PGImage2->image().pixel(5, 5), qRgb(255, 0, 0));
}

TEST_F(ImagesInWindow, TheStatusLineForgetsOtherPicturesAndPageDownReachesEveryPage) {
  TImagesTab *tab = w->ImagesTab;
  QSignalSpy shown(tab, &TImagesTab::pictureShown);
  auto show = [&](const QString &name) {
    shown.clear();
    click(name);
    return testenv::waitFor([&] { return shown.count() > 0 && !tab->isLoading(); }, 10000);
  };
  ASSERT_TRUE(show("broken.png"));
  EXPECT_TRUE(w->StatusBar1Panel->text().contains("Cannot show")) << w->StatusBar1Panel->text().toStdString();
  ASSERT_TRUE(show("still.png"));
  EXPECT_EQ(w->StatusBar1Panel->text(), "") << "a stale message stayed";
  // Someone else's text is left alone.
  ASSERT_TRUE(show("broken.png"));
  w->StatusBar1Panel->setText("Change to another drive");
  ASSERT_TRUE(show("still.png"));
  EXPECT_EQ(w->StatusBar1Panel->text(), "Change to another drive");

  // Both pages of a TIFF: the first shown, Page Down the second, Page Down again the first.
  ASSERT_TRUE(show("pages.tif"));
  EXPECT_EQ(tab->PGImage2->image().size(), QSize(30, 20));
  EXPECT_EQ(tab->PGImage2->imageCount(), 2);
  EXPECT_TRUE(w->StatusBar1Panel->text().contains("1 of 2")) << w->StatusBar1Panel->text().toStdString();
  shown.clear();
  QTest::keyClick(tab->PGImage2, Qt::Key_PageDown);
  ASSERT_TRUE(testenv::waitFor([&] { return shown.count() > 0 && !tab->isLoading(); }));
  EXPECT_EQ(tab->PGImage2->image().size(), QSize(40, 25));
  EXPECT_EQ(tab->PGImage2->image().pixel(3, 3), qRgb(255, 0, 0));
  EXPECT_EQ(tab->PGImage2->imageIndex(), 1);
  EXPECT_TRUE(w->StatusBar1Panel->text().contains("2 of 2")) << w->StatusBar1Panel->text().toStdString();
  shown.clear();
  QTest::keyClick(tab->PGImage2, Qt::Key_PageDown);
  ASSERT_TRUE(testenv::waitFor([&] { return shown.count() > 0 && !tab->isLoading(); }));
  EXPECT_EQ(tab->PGImage2->image().size(), QSize(30, 20));
  // A file of one picture clears the page note, and an animation a message about a still picture.
  ASSERT_TRUE(show("still.png"));
  EXPECT_EQ(w->StatusBar1Panel->text(), "");
  ASSERT_TRUE(show("broken.png"));
  click("moving.gif");
  EXPECT_EQ(w->StatusBar1Panel->text(), "");
}
