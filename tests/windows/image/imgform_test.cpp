// The image window driven through its menu, keys and filter dialogs, with a recording host; the pictures
// it writes read back by Qt.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include "controls/bannermenu.h"
#include "controls/imagefiledialog.h"
#include "controls/imageview.h"
#include "tests/common/testenv.h"
#include "windows/image/imgfilterdialogs.h"
#include "windows/image/imgform.h"
#include "windows/image/imghost.h"

namespace {

class TestImgHost : public TImgHost {
 public:
  QString current, folder;
  QString openAnswer, saveAnswer;
  QStringList openTitles, openFolders, errors;
  QString saveStart;
  QString currentFile() const override { return current; }
  QString currentFolder() const override { return folder; }
  QString openImageFile(QWidget *, const QString &title, const QString &f, const QString &) override {
    openTitles << title;
    openFolders << f;
    return openAnswer;
  }
  QString saveImageFile(QWidget *, const QString &, const QString &startName, const QString &) override {
    saveStart = startName;
    return saveAnswer;
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
};

// A picture with distinct pixels: red rises left to right, green top to bottom, blue fixed.
QImage pattern(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, qRgb(x * 255 / qMax(1, w - 1), y * 255 / qMax(1, h - 1), 77));
  return img;
}

// Accepts the next filter dialog once it is up (after the given settings change, if any).
class AcceptFilter {
 public:
  explicit AcceptFilter(std::function<void(QDialog *)> set = {})
      : watch_([this, set](QWidget *m) {
          auto *d = qobject_cast<TFilterDialog *>(m);
          if (!d) return;
          seen << d->objectName();
          if (set) set(d);
          d->accept();
        }) {}
  QStringList seen;

 private:
  testenv::ModalWatcher watch_;
};

class ImgForm : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testenv::makeDir("img");
    host.folder = dir;
    host.current = dir + "/pic.png";
    ASSERT_TRUE(pattern(40, 30).save(host.current));
  }
  void TearDown() override { delete form.data(); }
  TImgForm *open(imageio::Info info = {}, bool thumbnails = false) {
    if (!info.ok) info = imageio::info(host.current);
    form = new TImgForm(host, info, thumbnails);
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
    EXPECT_TRUE(loaded());
    return form;
  }
  // The picture asked for is there (it loads on a worker thread).
  bool loaded() { return testenv::waitFor([&] { return form && !form->loading(); }, 20000); }
  bool runFilter(QAction *item) {
    QSignalSpy done(form.data(), &TImgForm::filterFinished);
    item->trigger();
    return done.count() > 0 || done.wait(20000);
  }
  QString dir;
  TestImgHost host;
  QPointer<TImgForm> form;
};

}  // namespace

TEST_F(ImgForm, ShowsTheFileSizedToItAndOffersFitOnlyWhenLargerThanTheScreen) {
  ASSERT_TRUE(pattern(200, 150).save(host.current));
  open();
  EXPECT_EQ(form->windowTitle(), "Tarnwick Image Viewer");
  EXPECT_EQ(form->shownFile(), host.current);
  EXPECT_TRUE(testenv::waitFor([&] { return form->view()->size() == QSize(200, 150); }))
      << form->view()->width() << "x" << form->view()->height();
  EXPECT_EQ(form->item("ImageName")->text(), "PIC.PNG");
  EXPECT_FALSE(form->item("FitImage")->isEnabled());
  EXPECT_FALSE(form->statusVisible());
  EXPECT_EQ(form->menu()->banner(), "Tarnwick");
  delete form.data();

  imageio::Info huge = imageio::info(host.current);
  huge.width = 100000;
  open(huge);
  ASSERT_TRUE(form->item("FitImage")->isEnabled());
  form->item("FitImage")->trigger();
  EXPECT_EQ(form->view()->stretchMode(), TImageView::AlwaysKAR);
  for (const char *n : {"FitImage", "ZoomIn1", "ZoomOut1"}) EXPECT_FALSE(form->item(n)->isEnabled()) << n;
}

TEST_F(ImgForm, ZoomStepsByOneAndBelowOneDrawsTheNaturalSize) {
  open();
  TImageView *v = form->view();
  QTest::keyClick(v, Qt::Key_F1, Qt::ControlModifier);
  EXPECT_EQ(v->zoomFactor(), 2);
  EXPECT_EQ(v->imageRect().size(), QSize(80, 60));
  form->ZoomOut1Click();
  form->ZoomOut1Click();
  EXPECT_EQ(v->zoomFactor(), 0);
  EXPECT_EQ(v->imageRect().size(), QSize(40, 30));
  QTest::keyClick(v, Qt::Key_F2, Qt::ControlModifier);
  EXPECT_EQ(v->zoomFactor(), -1);
  EXPECT_EQ(v->imageRect().size(), QSize(40, 30));
  form->ZoomIn1Click();
  form->ZoomIn1Click();
  EXPECT_EQ(v->zoomFactor(), 1);
  EXPECT_EQ(v->imageRect().size(), QSize(40, 30));
}

TEST_F(ImgForm, FiltersRunThroughTheirDialogsFlipsMirrorAndClearCloses) {
  open();
  const QImage original = form->view()->image().convertToFormat(QImage::Format_RGB32);
  {
    AcceptFilter accept;
    ASSERT_TRUE(runFilter(form->item("Negative1")));
    EXPECT_EQ(accept.seen, QStringList{"NegativeFilterDialog1"});
  }
  const QImage neg = form->view()->image();
  EXPECT_EQ(QColor(neg.pixel(39, 29)).rgb(), qRgb(0, 0, 255 - 77));
  EXPECT_EQ(form->shownFile(), host.current);  // a filtered picture still belongs to its file
  {
    AcceptFilter accept;
    ASSERT_TRUE(runFilter(form->item("Negative1")));
  }
  EXPECT_EQ(form->view()->image().convertToFormat(QImage::Format_RGB32), original);

  // A cancelled dialog changes nothing, and the preview it showed is gone.
  {
    testenv::ModalWatcher cancel([](QWidget *m) {
      if (auto *d = qobject_cast<QDialog *>(m)) d->reject();
    });
    form->item("Negative1")->trigger();
  }
  EXPECT_FALSE(form->busy());
  EXPECT_EQ(form->view()->image().convertToFormat(QImage::Format_RGB32), original);

  form->item("FlipHorizontal1")->trigger();
  EXPECT_EQ(form->view()->image().pixel(0, 0), original.pixel(39, 0));
  form->item("FlipVertical1")->trigger();
  EXPECT_EQ(form->view()->image().pixel(0, 0), original.pixel(39, 29));

  form->item("Clear1")->trigger();
  EXPECT_TRUE(form->view()->isEmpty());
  EXPECT_TRUE(testenv::waitFor([&] { return form.isNull(); }));
}

TEST_F(ImgForm, EscapeCancelsARunningFilterAndTheImageStaysAsItWas) {
  host.current = dir + "/large.png";
  ASSERT_TRUE(pattern(3000, 3000).save(host.current));
  open();
  const QImage before = form->view()->image();
  QSignalSpy done(form.data(), &TImgForm::filterFinished);
  {
    AcceptFilter accept([](QDialog *d) { d->findChild<QDoubleSpinBox *>("RadiusBox")->setValue(5.0); });
    form->item("Blur1")->trigger();
  }
  ASSERT_TRUE(form->busy());
  EXPECT_TRUE(form->statusVisible());
  QTest::keyClick(form, Qt::Key_Escape);
  ASSERT_TRUE(done.count() > 0 || done.wait(20000));
  EXPECT_FALSE(done.last().at(0).toBool());
  EXPECT_FALSE(form->statusVisible());
  EXPECT_EQ(form->view()->image(), before);
}

TEST_F(ImgForm, SaveAsWritesTheChosenFormatAndACancelledDialogKeepsTheFilteredImage) {
  open();
  {
    AcceptFilter accept;
    ASSERT_TRUE(runFilter(form->item("Negative1")));
  }
  const QImage negative = form->view()->image().convertToFormat(QImage::Format_RGB32);
  host.saveAnswer.clear();
  form->item("SaveAs1")->trigger();
  EXPECT_EQ(host.saveStart, host.current);
  EXPECT_EQ(form->view()->image().convertToFormat(QImage::Format_RGB32), negative);

  host.saveAnswer = dir + "/out.bmp";
  form->item("SaveAs1")->trigger();
  ASSERT_TRUE(loaded());
  EXPECT_EQ(QImage(host.saveAnswer).convertToFormat(QImage::Format_RGB32), negative);
  EXPECT_EQ(form->item("ImageName")->text(), "OUT.BMP");
  EXPECT_EQ(form->shownFile(), host.saveAnswer);

  // A name that cannot be written: the user is told, the picture stays.
  host.saveAnswer = dir + "/no such folder/out.png";
  form->item("SaveAs1")->trigger();
  EXPECT_EQ(host.errors.size(), 1);
  EXPECT_EQ(form->shownFile(), dir + "/out.bmp");

  form->ImageOptionsPopup();
  EXPECT_EQ(form->item("ll3")->text(), "Image Width: 40");
  EXPECT_EQ(form->item("ll4")->text(), "Image Height: 30");
}

TEST_F(ImgForm, PageKeysReachEveryImageOfTheFileAndTheInformationFollows) {
  host.current = dir + "/pages.tif";
  if (QProcess::execute("convert", {"-size", "30x20", "xc:green", "-size", "40x25", "xc:red", host.current}) != 0)
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  open();
  TImageView *v = form->view();
  EXPECT_EQ(v->image().size(), QSize(30, 20));
  EXPECT_EQ(v->imageCount(), 2);
  form->ImageOptionsPopup();
  EXPECT_EQ(form->item("ll3")->text(), "Image Width: 30");
  QTest::keyClick(v, Qt::Key_PageDown);
  ASSERT_TRUE(loaded());
  EXPECT_EQ(v->image().size(), QSize(40, 25));
  EXPECT_EQ(QColor(v->image().pixel(2, 2)), QColor(Qt::red));
  EXPECT_EQ(form->shownFile(), host.current);
  form->ImageOptionsPopup();
  EXPECT_EQ(form->item("ll3")->text(), "Image Width: 40");
  EXPECT_EQ(form->item("ll4")->text(), "Image Height: 25");
  QTest::keyClick(v, Qt::Key_PageUp);
  ASSERT_TRUE(loaded());
  EXPECT_EQ(v->image().size(), QSize(30, 20));
  // A file of one picture: the keys scroll as they always did, nothing is reloaded.
  delete form.data();
  host.current = dir + "/pic.png";
  open();
  QTest::keyClick(form->view(), Qt::Key_PageDown);
  EXPECT_FALSE(form->loading());
  EXPECT_EQ(form->view()->image().size(), QSize(40, 30));
  EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(ImgForm, ALongPictureLoadsWithItsProgressAndEscapeStopsIt) {
  if (QStandardPaths::findExecutable("wmf2svg").isEmpty()) GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
  host.current = dir + "/big.wmf";
  ASSERT_EQ(QProcess::execute("/usr/bin/python3", {testenv::sourceDir() + "/tests/formats/raster/picture_cases.py", "--wmf",
                                                   host.current, "200000"}), 0);
  form = new TImgForm(host, imageio::info(host.current), false);
  form->show();
  ASSERT_TRUE(form->loading()) << "the window waited for the drawing";
  EXPECT_EQ(form->statusText(), "Opening big.wmf");
  ASSERT_TRUE(testenv::waitFor([&] { return form->statusVisible() && form->statusText().endsWith('%'); }, 30000))
      << form->statusText().toStdString();
  QTest::keyClick(form, Qt::Key_Escape);
  ASSERT_TRUE(loaded());
  EXPECT_TRUE(form->view()->isEmpty());
  EXPECT_FALSE(form->statusVisible());
  EXPECT_TRUE(host.errors.isEmpty()) << host.errors.join('\n').toStdString();
  // Again, left alone: it is shown.
  QSignalSpy done(form.data(), &TImgForm::fileLoaded);
  form->Open2Click();  // the open dialog answers nothing: the window keeps its state
  host.openAnswer = host.current;
  form->Open2Click();
  ASSERT_TRUE(done.count() > 0 || done.wait(60000));
  EXPECT_TRUE(done.last().at(0).toBool());
  EXPECT_EQ(form->view()->image().size(), QSize(300, 200));
  EXPECT_EQ(form->item("ImageName")->text(), "BIG.WMF");
}

TEST_F(ImgForm, ThumbnailsStartWithTheOpenDialogInTheCurrentFolder) {
  const QString other = dir + "/other.png";
  ASSERT_TRUE(pattern(12, 8).save(other));
  host.openAnswer = other;
  open({}, true);
  EXPECT_EQ(host.openTitles, QStringList{"Tarnwick - View Thumbnails"});
  EXPECT_EQ(host.openFolders, QStringList{dir});
  EXPECT_EQ(form->shownFile(), other);
  EXPECT_EQ(form->item("ImageName")->text(), "OTHER.PNG");
  form->Open2Click();
  ASSERT_TRUE(loaded());
  EXPECT_EQ(host.openTitles.last(), "Tarnwick - Open Image File");
  delete form.data();

  // Nothing chosen: no empty window is left standing on top of the others.
  host.openAnswer.clear();
  form = new TImgForm(host, imageio::info(host.current), true);
  form->show();
  EXPECT_TRUE(testenv::waitFor([&] { return form.isNull(); }));
}

TEST(ImageFileDialog, TheStripShowsTheFoldersPicturesAndADoubleClickOpensOne) {
  const QString dir = testenv::makeDir("thumbs");
  for (const char *n : {"a.png", "b.png", "c.jpg"}) ASSERT_TRUE(pattern(300, 200).save(dir + "/" + n));
  testenv::writeFile(dir + "/notes.txt", "not a picture");
  testenv::writeFile(dir + "/broken.png", "not a png either");
  int shown = -1;
  testenv::ModalWatcher pick([&](QWidget *m) {
    auto *strip = m->findChild<QListWidget *>("Thumbnails");
    auto *dlg = qobject_cast<QDialog *>(m);
    if (!strip || !dlg) return;
    testenv::waitFor([&] { return strip->count() == 3; });
    shown = strip->count();
    const auto items = strip->findItems("b.png", Qt::MatchExactly);
    if (items.isEmpty()) return dlg->reject();  // the checks below fail; the test does not hang
    EXPECT_EQ(items[0]->icon().actualSize(QSize(200, 200)).width(), 96);
    emit strip->itemDoubleClicked(items[0]);
  });
  const QString chosen = imagedlg::openImage(nullptr, "Pick", dir, "Pictures (*.png *.jpg)");
  EXPECT_EQ(shown, 3);
  EXPECT_EQ(chosen, dir + "/b.png");
}
