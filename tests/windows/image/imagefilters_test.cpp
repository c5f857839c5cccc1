// The image window's filters without widgets: the documented edge values, pixel-for-pixel agreement with an
// independent numpy reference (tests/windows/image/imagefilters_ref.py) on generated pictures with edge values, and
// cancelling and progress of the threaded runs.
#include "windows/image/imagefilters.h"

#include "tests/common/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <mutex>

using namespace imgfilter;

namespace {

QImage solid(int w, int h, QRgb c) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(c);
  return img;
}

// Deterministic pictures that hold every channel value, both ends, odd sizes and one-pixel shapes.
QImage pattern(int w, int h, unsigned seed, bool alpha) {
  QImage img(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  unsigned s = seed * 2654435761u + 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      int r = int(s >> 24), g = (x * 255) / std::max(1, w - 1), b = (y * 255) / std::max(1, h - 1);
      if ((x + y) % 7 == 0) r = 0;
      if ((x * 3 + y) % 11 == 0) g = 255;
      if (x == y) b = (s >> 8) & 1 ? 255 : 0;
      img.setPixel(x, y, qRgba(r, g, b, alpha ? int((s >> 16) & 0xff) : 255));
    }
  return img;
}

QImage gradient() {  // every value in every channel, once rising and once falling
  QImage img(256, 3, QImage::Format_RGB32);
  for (int x = 0; x < 256; ++x) {
    img.setPixel(x, 0, qRgb(x, x, x));
    img.setPixel(x, 1, qRgb(x, 255 - x, (x * 7) % 256));
    img.setPixel(x, 2, qRgb(255 - x, x / 2, 255));
  }
  return img;
}

QByteArray toRaw(const QImage &in) {
  const QImage img = in.convertToFormat(QImage::Format_ARGB32);
  QByteArray out;
  const quint32 wh[2] = {quint32(img.width()), quint32(img.height())};
  out.append(reinterpret_cast<const char *>(wh), 8);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb c = img.pixel(x, y);
      const char px[4] = {char(qRed(c)), char(qGreen(c)), char(qBlue(c)), char(qAlpha(c))};
      out.append(px, 4);
    }
  return out;
}

QImage fromRaw(const QByteArray &raw) {
  if (raw.size() < 8) return QImage();
  quint32 wh[2];
  memcpy(wh, raw.constData(), 8);
  if (raw.size() != 8 + qsizetype(wh[0]) * wh[1] * 4) return QImage();
  QImage img{int(wh[0]), int(wh[1]), QImage::Format_ARGB32};
  const uchar *p = reinterpret_cast<const uchar *>(raw.constData()) + 8;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x, p += 4) img.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
  return img;
}

// Empty when equal, else where and how the first pixel differs.
std::string firstDifference(const QImage &ours, const QImage &ref) {
  if (ours.size() != ref.size()) return "size differs";
  for (int y = 0; y < ours.height(); ++y)
    for (int x = 0; x < ours.width(); ++x) {
      const QRgb a = ours.pixel(x, y), b = ref.pixel(x, y);
      const bool alpha = ours.hasAlphaChannel();
      if (qRed(a) != qRed(b) || qGreen(a) != qGreen(b) || qBlue(a) != qBlue(b) || (alpha && qAlpha(a) != qAlpha(b)))
        return QStringLiteral("pixel (%1,%2): ours %3,%4,%5,%6 reference %7,%8,%9,%10")
            .arg(x).arg(y).arg(qRed(a)).arg(qGreen(a)).arg(qBlue(a)).arg(qAlpha(a))
            .arg(qRed(b)).arg(qGreen(b)).arg(qBlue(b)).arg(qAlpha(b)).toStdString();
    }
  return {};
}

QString num(double v) { return QString::number(v, 'g', 17); }

// Runs the numpy reference over a batch of jobs; each job is its command line and the image ours made.
struct RefBatch {
  QString dir = testenv::makeDir("ref");
  QStringList lines;
  struct Job {
    QString what, out;
    QImage ours;
    Kernel kernel;
    bool isKernel = false;
  };
  std::vector<Job> jobs;

  QString inputFor(const QImage &img) {
    const QString path = dir + QStringLiteral("/in%1.raw").arg(inputs++);
    testenv::writeFile(path, toRaw(img));
    return path;
  }
  void image(const QString &op, const QString &in, const QString &params, const QImage &ours) {
    const QString out = dir + QStringLiteral("/out%1.raw").arg(jobs.size());
    lines << op + ' ' + in + ' ' + out + ' ' + params;
    jobs.push_back({op + ' ' + params + " on " + in, out, ours, {}, false});
  }
  void kernel(const QString &op, const QString &params, const Kernel &k) {
    const QString out = dir + QStringLiteral("/kernel%1.txt").arg(jobs.size());
    lines << op + " - " + out + ' ' + params;
    jobs.push_back({op + ' ' + params, out, {}, k, true});
  }
  // False (with a failure recorded) when the reference could not run.
  bool run() {
    const QString job = testenv::writeFile(dir + "/jobs.txt", lines.join('\n').toUtf8() + '\n');
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {testenv::sourceDir() + QStringLiteral("/tests/windows/image/imagefilters_ref.py"), job});
    if (!py.waitForFinished(240000) || py.exitCode() != 0) {
      ADD_FAILURE() << "reference failed: " << py.readAllStandardError().toStdString();
      return false;
    }
    return true;
  }
  void compare() {
    for (const Job &j : jobs) {
      if (j.isKernel) {
        QStringList v = QString::fromUtf8(testenv::readFile(j.out)).split(' ', Qt::SkipEmptyParts);
        QStringList ours{QString::number(j.kernel.size)};
        for (int w : j.kernel.weights) ours << QString::number(w);
        EXPECT_EQ(ours.join(' ').toStdString(), v.join(' ').trimmed().toStdString()) << j.what.toStdString();
        continue;
      }
      const QImage ref = fromRaw(testenv::readFile(j.out));
      ASSERT_FALSE(ref.isNull()) << j.what.toStdString();
      EXPECT_EQ(firstDifference(j.ours, ref), "") << j.what.toStdString();
    }
  }
  int inputs = 0;
};

bool haveNumpy() {
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"), {"-c", "import numpy"});
  return py.waitForFinished(30000) && py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0;
}

}  // namespace

TEST(ImageFilters, RoundingStepsAndTheDocumentedEdgeValues) {
  EXPECT_EQ(roundHalfEven(0.5), 0);
  EXPECT_EQ(roundHalfEven(1.5), 2);
  EXPECT_EQ(roundHalfEven(2.5), 2);
  EXPECT_EQ(roundHalfEven(-0.5), 0);
  EXPECT_EQ(roundHalfEven(-1.5), -2);
  EXPECT_EQ(roundHalfEven(-2.6), -3);
  EXPECT_EQ(roundHalfEven(3240.0000001), 3240);
  EXPECT_EQ(roundHalfEven(1e300), std::numeric_limits<int>::max());
  EXPECT_DOUBLE_EQ(stepToValue(100), 5.0);
  EXPECT_DOUBLE_EQ(stepToValue(-100), 0.2);
  EXPECT_DOUBLE_EQ(stepToValue(0), 1.0);

  // Brightness +100 turns everything white, -100 black.
  auto white = bcgTable({100, 1.0, 1.0, false});
  auto black = bcgTable({-100, 1.0, 1.0, false});
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(white[size_t(v)], 255) << v;
    EXPECT_EQ(black[size_t(v)], 0) << v;
  }
  // Contrast 5 spreads the middle by 2.5 on either side and clamps the ends.
  auto c5 = bcgTable({0, 5.0, 1.0, false});
  EXPECT_EQ(c5[127], 125);
  EXPECT_EQ(c5[128], 130);
  EXPECT_EQ(c5[0], 0);
  EXPECT_EQ(c5[255], 255);
  auto identity = bcgTable({});
  for (int v = 0; v < 256; ++v) EXPECT_EQ(identity[size_t(v)], v);

  QImage red = solid(3, 2, qRgb(255, 0, 0));
  QImage red2 = red;
  ASSERT_TRUE(greyscale(red, true));
  EXPECT_EQ(red.pixel(2, 1), qRgb(76, 76, 76));
  ASSERT_TRUE(greyscale(red2, false));
  EXPECT_EQ(red2.pixel(0, 0), qRgb(85, 85, 85));

  const QImage orig = pattern(13, 9, 3, true);
  QImage twice = orig;
  ASSERT_TRUE(negative(twice));
  EXPECT_NE(twice, orig);
  ASSERT_TRUE(negative(twice));
  EXPECT_EQ(twice, orig);

  const Kernel b10 = blurKernel(2.5, 10);
  ASSERT_EQ(b10.size, 5);
  EXPECT_EQ(b10.at(2, 2), 3240);
  int ring = 0;
  for (int w : b10.weights) ring += w;
  EXPECT_EQ(ring - 3240, 360);
  EXPECT_EQ(blurKernel(2.5, 100).at(2, 2), 0);
  // The contour kernel always sums to 1.
  for (Shape s : {Shape::Gaussian, Shape::Tent, Shape::Rect})
    for (double sigma : {0.4, 1.0, 1.3}) {
      const Kernel k = contourKernel({sigma, 100, s, true, false});
      int sum = 0;
      for (int w : k.weights) sum += w;
      EXPECT_EQ(sum, 1) << int(s) << ' ' << sigma;
    }
}

TEST(ImageFilters, OtherFormatsAreFilteredAsColourAndAlphaIsKept) {
  QImage grey8(5, 3, QImage::Format_Grayscale8);
  grey8.fill(40);
  ASSERT_TRUE(negative(grey8));
  EXPECT_EQ(qRed(grey8.pixel(4, 2)), 215);
  EXPECT_EQ(qBlue(grey8.pixel(0, 0)), 215);

  QImage pre = solid(4, 4, qRgba(200, 100, 50, 128)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QRgb before = pre.convertToFormat(QImage::Format_ARGB32).pixel(1, 1);
  ASSERT_TRUE(negative(pre));
  const QRgb after = pre.pixel(1, 1);
  EXPECT_EQ(qAlpha(after), 128);
  EXPECT_EQ(qRed(after), 255 - qRed(before));
  EXPECT_EQ(qGreen(after), 255 - qGreen(before));

  const QImage blurred = blur(solid(6, 6, qRgba(10, 20, 30, 77)), 1.0, 100);
  ASSERT_FALSE(blurred.isNull());
  EXPECT_EQ(blurred.pixel(3, 3), qRgba(10, 20, 30, 77));
  // A null picture stays null and is no error.
  QImage none;
  EXPECT_TRUE(greyscale(none));
  EXPECT_TRUE(blur(QImage(), 2.5, 100).isNull());
  // A malformed kernel gives no picture instead of reading past its weights.
  EXPECT_TRUE(convolve(solid(3, 3, 0xff000000), Kernel{3, {1, 1, 1}}, 1, 0).isNull());
}

TEST(ImageFilters, EveryFilterMatchesTheNumpyReferencePixelForPixel) {
  if (!haveNumpy()) GTEST_SKIP() << "python3-numpy is not installed";
  RefBatch batch;
  const std::vector<QImage> images = {gradient(),       pattern(37, 23, 1, true), pattern(1, 1, 2, false),
                                      pattern(1, 9, 3, true), pattern(8, 1, 4, false), pattern(2, 2, 5, false),
                                      pattern(401, 203, 6, true)};  // the last is large enough to be threaded
  std::vector<QString> in;
  for (const QImage &img : images) in.push_back(batch.inputFor(img));

  auto forImages = [&](auto fn) {
    for (size_t i = 0; i < images.size(); ++i) fn(images[i], in[i]);
  };
  const std::vector<BcgParams> bcgs = {{0, 1.0, 1.0, false},
                                       {37, stepToValue(-33), stepToValue(71), false},
                                       {-55, stepToValue(100), stepToValue(-100), false},
                                       {10, 1.0, 1.0, false},  // 25.5: a half before rounding
                                       {0, stepToValue(17), 1.0, true},
                                       {-20, stepToValue(-80), stepToValue(45), true},
                                       {100, 1.0, 1.0, true},
                                       {0, 1.0, 1.0, true}};
  for (const BcgParams &p : bcgs)
    forImages([&](const QImage &img, const QString &path) {
      QImage ours = img;
      ASSERT_TRUE(brightnessContrastGamma(ours, p));
      batch.image("bcg", path,
                  QStringLiteral("b=%1 c=%2 g=%3 y=%4").arg(p.brightness).arg(num(p.contrast), num(p.gamma)).arg(int(p.useY)),
                  ours);
    });
  forImages([&](const QImage &img, const QString &path) {
    for (bool w : {true, false}) {
      QImage ours = img;
      ASSERT_TRUE(greyscale(ours, w));
      batch.image("grey", path, QStringLiteral("w=%1").arg(int(w)), ours);
    }
    QImage neg = img;
    ASSERT_TRUE(negative(neg));
    batch.image("negative", path, {}, neg);
  });
  for (double r : {0.5, 1.0, 1.5, 2.5, 3.7, 5.0})
    for (int p : {10, 35, 100}) {
      const QString params = QStringLiteral("r=%1 p=%2").arg(num(r)).arg(p);
      batch.kernel("kernel-blur", params, blurKernel(r, p));
      forImages([&](const QImage &img, const QString &path) { batch.image("blur", path, params, blur(img, r, p)); });
    }
  const std::pair<Shape, const char *> shapes[] = {{Shape::Gaussian, "gaussian"}, {Shape::Tent, "tent"}, {Shape::Rect, "rect"}};
  for (const auto &[shape, name] : shapes)
    for (double sigma : {0.4, 0.7, 1.0, 1.2, 1.3})
      for (bool dist : {true, false}) {
        const QString kp = QStringLiteral("sigma=%1 shape=%2 dist=%3").arg(num(sigma), name).arg(int(dist));
        batch.kernel("kernel-contour", kp, contourKernel({sigma, 100, shape, dist, false}));
        for (bool black : {false, true})
          for (int p : {100, 350, 1000}) {
            if (p == 350 && !black) continue;
            const ContourParams cp{sigma, p, shape, dist, black};
            forImages([&](const QImage &img, const QString &path) {
              batch.image("contour", path, kp + QStringLiteral(" p=%1 black=%2").arg(p).arg(int(black)), contour(img, cp));
            });
          }
      }
  ASSERT_TRUE(batch.run());
  batch.compare();
}

TEST(ImageFilters, ProgressReachesTheTotalAndCancelLeavesThePictureAsItWas) {
  const QImage big = pattern(700, 300, 9, false);
  std::mutex m;
  std::vector<int> seen;
  int lastTotal = 0;
  std::atomic_bool cancel{false};
  Progress p;
  p.cancel = &cancel;
  p.step = [&](int done, int total) {
    std::lock_guard<std::mutex> lock(m);
    seen.push_back(done);
    lastTotal = total;
  };
  QImage img = big;
  ASSERT_TRUE(greyscale(img, true, p));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(lastTotal, 300);
  EXPECT_EQ(*std::max_element(seen.begin(), seen.end()), 300);
  EXPECT_GT(seen.size(), 2u) << "progress comes in steps, not once at the end";
  EXPECT_NE(img, big);

  // Cancelled from the first progress step: in-place filters leave the picture, new-image filters give none.
  p.step = [&](int, int) { cancel = true; };
  for (int which = 0; which < 3; ++which) {
    cancel = false;
    QImage again = big;
    bool done = which == 0   ? brightnessContrastGamma(again, {50, 2.0, 1.0, true}, p)
                : which == 1 ? negative(again, p)
                             : greyscale(again, false, p);
    EXPECT_FALSE(done) << which;
    EXPECT_EQ(again, big) << which;
  }
  cancel = false;
  EXPECT_TRUE(blur(big, 2.5, 100, p).isNull());
  cancel = false;
  EXPECT_TRUE(contour(big, {}, p).isNull());
  // Already cancelled before it starts: nothing is done at all.
  cancel = true;
  p.step = nullptr;
  QImage untouched = big;
  EXPECT_FALSE(negative(untouched, p));
  EXPECT_EQ(untouched, big);
}
