#include "windows/image/imagefilters.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace imgfilter {

namespace {

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
// Rounds and clamps; values far outside 0 .. 255 (a contour at 1000 %) must not overflow the int first.
inline int toChannel(double v) {
  if (!(v > -0.5)) return 0;  // also NaN
  if (v >= 255.5) return 255;
  return clamp255(roundHalfEven(v));
}

// The filters work on 32-bit pixels with straight (not premultiplied) alpha.
QImage working(const QImage &image) {
  if (image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32) return image;
  return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QImage sameShape(const QImage &src) {
  QImage out(src.size(), src.format());
  if (out.isNull()) return out;
  out.setDotsPerMeterX(src.dotsPerMeterX());
  out.setDotsPerMeterY(src.dotsPerMeterY());
  out.setColorSpace(src.colorSpace());
  return out;
}

bool cancelled(const Progress &p) { return p.cancel && p.cancel->load(std::memory_order_relaxed); }

// Runs work(firstRow, endRow) over all rows in chunks taken by the machine's cores in turn; false when the
// cancel flag stopped it (some rows then were never done).
template <class Work>
bool forRows(int rows, qint64 pixels, const Progress &p, Work &&work) {
  if (rows <= 0) return !cancelled(p);
  int threads = int(std::max(1u, std::thread::hardware_concurrency()));
  if (pixels < 65536) threads = 1;  // starting threads costs more than the work
  threads = std::min(threads, rows);
  const int chunk = std::clamp(rows / (threads * 16), 1, 64);
  std::atomic_int next{0}, done{0};
  std::atomic_bool stopped{false};
  auto worker = [&] {
    for (;;) {
      if (cancelled(p)) {
        stopped = true;
        return;
      }
      const int y0 = next.fetch_add(chunk);
      if (y0 >= rows) return;
      const int y1 = std::min(rows, y0 + chunk);
      work(y0, y1);
      const int d = done.fetch_add(y1 - y0) + (y1 - y0);
      if (p.step) p.step(d, rows);
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(size_t(threads - 1));
  for (int i = 1; i < threads; ++i) pool.emplace_back(worker);
  worker();
  for (auto &t : pool) t.join();
  return !stopped;
}

// Maps every pixel through f into a new image that replaces the given one only when every row was done.
template <class F>
bool mapPixels(QImage &image, const Progress &p, F &&f) {
  if (image.isNull()) return !cancelled(p);
  const QImage src = working(image);
  QImage dst = sameShape(src);
  if (dst.isNull()) return false;  // no memory for the result: the image stays as it was
  const uchar *sbits = src.constBits();
  uchar *dbits = dst.bits();
  const qsizetype sbpl = src.bytesPerLine(), dbpl = dst.bytesPerLine();
  const int w = src.width();
  const bool ok = forRows(src.height(), qint64(w) * src.height(), p, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const QRgb *s = reinterpret_cast<const QRgb *>(sbits + y * sbpl);
      QRgb *d = reinterpret_cast<QRgb *>(dbits + y * dbpl);
      for (int x = 0; x < w; ++x) d[x] = f(s[x]);
    }
  });
  if (!ok) return false;
  image = dst;
  return true;
}

}  // namespace

int roundHalfEven(double v) {
  if (!(v > -2147483648.0)) return std::numeric_limits<int>::min();  // also NaN
  if (v >= 2147483647.0) return std::numeric_limits<int>::max();
  const double f = std::floor(v);
  const double diff = v - f;
  double r;
  if (diff > 0.5)
    r = f + 1;
  else if (diff < 0.5)
    r = f;
  else
    r = std::fmod(f, 2.0) == 0 ? f : f + 1;
  return int(r);
}

double stepToValue(int step) { return std::pow(5.0, step / 100.0); }

std::array<unsigned char, 256> bcgTable(const BcgParams &p) {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) {
    const double x = i / 255.0;
    double d;
    if (x == 0)
      d = 0;
    else if (p.gamma == 0)
      d = 1;
    else
      d = std::pow(x, p.gamma);
    const double f = (d * 255 - 127.5) * p.contrast + 127.5 + p.brightness * 2.55;
    t[size_t(i)] = static_cast<unsigned char>(toChannel(f));
  }
  return t;
}

bool brightnessContrastGamma(QImage &image, const BcgParams &p, const Progress &progress) {
  const std::array<unsigned char, 256> t = bcgTable(p);
  if (!p.useY)
    return mapPixels(image, progress, [&t](QRgb c) {
      return qRgba(t[size_t(qRed(c))], t[size_t(qGreen(c))], t[size_t(qBlue(c))], qAlpha(c));
    });
  // The table acts on luma only, interpolated between its entries; the colour differences are kept.
  return mapPixels(image, progress, [&t](QRgb c) {
    const double r = qRed(c) / 255.0, g = qGreen(c) / 255.0, b = qBlue(c) / 255.0;
    const double Y = 0.299 * r + 0.587 * g + 0.114 * b;
    const double U = -0.169 * r - 0.331 * g + 0.5 * b;
    const double V = 0.5 * r - 0.419 * g - 0.081 * b;
    const double y = 255 * Y;
    const int k = std::clamp(int(std::floor(y)), 0, 255);
    double y2;
    if (k >= 255)
      y2 = t[size_t(k)] / 255.0;
    else
      y2 = ((1 - (y - k)) * t[size_t(k)] + (y - k) * t[size_t(k + 1)]) / 255;
    const double r2 = y2 + 1.403 * V, g2 = y2 - 0.344 * U - 0.714 * V, b2 = y2 + 1.773 * U;
    return qRgba(toChannel(r2 * 255), toChannel(g2 * 255), toChannel(b2 * 255), qAlpha(c));
  });
}

bool greyscale(QImage &image, bool rgbWeighting, const Progress &progress) {
  return mapPixels(image, progress, [rgbWeighting](QRgb c) {
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    const int w = rgbWeighting ? (897 * r + 1761 * g + 342 * b) / 1000 : r + g + b;
    const int v = w / 3;
    return qRgba(v, v, v, qAlpha(c));
  });
}

bool negative(QImage &image, const Progress &progress) {
  return mapPixels(image, progress, [](QRgb c) { return qRgba(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), qAlpha(c)); });
}

QImage convolve(const QImage &source, const Kernel &k, double factor, double bias, const Progress &progress) {
  if (k.size < 1 || k.size % 2 == 0 || k.weights.size() != size_t(k.size) * size_t(k.size)) return QImage();
  const QImage src = working(source);
  if (src.isNull()) return QImage();
  QImage dst = sameShape(src);
  if (dst.isNull()) return QImage();

  struct Cell {
    int dx, dy, w;
  };
  std::vector<Cell> cells;
  const int h = k.size / 2;
  int total = 0;
  for (int y = 0; y < k.size; ++y)
    for (int x = 0; x < k.size; ++x)
      if (const int w = k.at(x, y)) {
        cells.push_back({x - h, y - h, w});
        total += w;
      }

  const int W = src.width(), H = src.height();
  const uchar *sbits = src.constBits();
  uchar *dbits = dst.bits();
  const qsizetype sbpl = src.bytesPerLine(), dbpl = dst.bytesPerLine();
  const double biasAdd = bias * 2.55;
  auto channel = [factor, biasAdd](int sum, int n) {
    const double q = n != 0 ? double(sum) / n : double(sum);
    return toChannel(factor * q + biasAdd);
  };

  // Inside the picture every pixel divides by the same n: the result of each possible sum is looked up
  // instead of computed (the same formula, once per sum rather than once per channel and pixel).
  int lo = 0, hi = 0;
  for (const Cell &c : cells) (c.w > 0 ? hi : lo) += c.w * 255;
  std::vector<uchar> table;
  if (hi - lo < (1 << 22) && qint64(hi - lo) < qint64(W) * H * 3) {
    table.resize(size_t(hi - lo + 1));
    for (int sum = lo; sum <= hi; ++sum) table[size_t(sum - lo)] = uchar(channel(sum, total));
  }
  const uchar *lut = table.empty() ? nullptr : table.data() - lo;

  const bool ok = forRows(H, qint64(W) * H, progress, [&](int y0, int y1) {
    std::vector<const QRgb *> rowOf(cells.size());
    for (int y = y0; y < y1; ++y) {
      bool rowsInside = true;
      for (size_t c = 0; c < cells.size(); ++c) {
        const int yy = y + cells[c].dy;
        rowOf[c] = (yy >= 0 && yy < H) ? reinterpret_cast<const QRgb *>(sbits + yy * sbpl) : nullptr;
        rowsInside = rowsInside && rowOf[c];
      }
      const QRgb *self = reinterpret_cast<const QRgb *>(sbits + y * sbpl);
      QRgb *d = reinterpret_cast<QRgb *>(dbits + y * dbpl);
      for (int x = 0; x < W; ++x) {
        int sr = 0, sg = 0, sb = 0, n = 0;
        bool any = false;
        if (rowsInside && x >= h && x < W - h) {
          for (size_t c = 0; c < cells.size(); ++c) {
            const QRgb v = rowOf[c][x + cells[c].dx];
            const int w = cells[c].w;
            sr += w * qRed(v);
            sg += w * qGreen(v);
            sb += w * qBlue(v);
          }
          n = total;
          any = !cells.empty();
          if (lut && any) {
            d[x] = qRgba(lut[sr], lut[sg], lut[sb], qAlpha(self[x]));
            continue;
          }
        } else {
          for (size_t c = 0; c < cells.size(); ++c) {
            const int xx = x + cells[c].dx;
            if (!rowOf[c] || xx < 0 || xx >= W) continue;
            const QRgb v = rowOf[c][xx];
            const int w = cells[c].w;
            sr += w * qRed(v);
            sg += w * qGreen(v);
            sb += w * qBlue(v);
            n += w;
            any = true;
          }
        }
        // A pixel whose weighted neighbourhood lies wholly outside the picture (a ring larger than a tiny
        // image) has nothing to be computed from: it keeps its value instead of turning black.
        if (!any)
          d[x] = self[x];
        else
          d[x] = qRgba(channel(sr, n), channel(sg, n), channel(sb, n), qAlpha(self[x]));
      }
    }
  });
  return ok ? dst : QImage();
}

Kernel blurKernel(double radius, int strengthPercent) {
  radius = std::clamp(radius, 0.5, 5.0);
  strengthPercent = std::clamp(strengthPercent, 10, 100);
  Kernel k;
  const int h = roundHalfEven(radius);
  k.size = 2 * h + 1;
  k.weights.assign(size_t(k.size) * size_t(k.size), 0);
  for (int a = 0; a < 360; ++a) {
    const double rad = a * M_PI / 180.0;
    const int dx = roundHalfEven(radius * std::cos(rad));
    const int dy = roundHalfEven(radius * std::sin(rad));
    k.weights[size_t((dy + h) * k.size + (dx + h))] += 1;
  }
  k.weights[size_t(h * k.size + h)] += roundHalfEven((100.0 / strengthPercent - 1) * 360);
  return k;
}

QImage blur(const QImage &source, double radius, int strengthPercent, const Progress &progress) {
  return convolve(source, blurKernel(radius, strengthPercent), 1.0, 0.0, progress);
}

namespace {

double distribution(Shape shape, double sigma, double t) {
  switch (shape) {
    case Shape::Gaussian:
      return std::exp(-(t * t) / (2 * sigma * sigma)) / (sigma * std::sqrt(2 * M_PI));
    case Shape::Tent: {
      const double a = std::sqrt(6.0) * sigma;
      return std::fabs(t) <= a ? 1 / a - std::fabs(t) / (a * a) : 0.0;
    }
    case Shape::Rect: {
      const double a = std::sqrt(3.0) * sigma;
      return std::fabs(t) <= a ? 1 / (2 * a) : 0.0;
    }
  }
  return 0;
}

}  // namespace

Kernel contourKernel(const ContourParams &p) {
  const double sigma = std::clamp(p.sigma, 0.4, 1.3);
  auto g = [&](double t) { return distribution(p.shape, sigma, t); };
  const double g0 = g(0);
  Kernel k;
  int h = 0;
  if (p.shape == Shape::Rect) {
    int L = 0;
    while (g(L) > 0) ++L;
    // The rect's support ends before its first zero; below sigma 0.58 that leaves no neighbours at all, and
    // the kernel is the centre alone rather than an impossible negative size.
    h = std::max(0, L - 2);
  } else {
    int L = 0;
    while (roundHalfEven(16 * g(L) / g0) > 0) ++L;
    h = std::max(0, L - 1);
  }
  k.size = 2 * h + 1;
  k.weights.assign(size_t(k.size) * size_t(k.size), 0);
  for (int y = -h; y <= h; ++y)
    for (int x = -h; x <= h; ++x) {
      int w;
      if (p.shape == Shape::Rect)
        w = (p.useDistance ? g(std::sqrt(double(x * x + y * y))) > 0 : g(x) * g(y) > 0) ? 1 : 0;
      else if (p.useDistance)
        w = roundHalfEven(16 * g(std::sqrt(double(x * x + y * y))) / g0);
      else
        w = roundHalfEven(16 * g(x) * g(y) / (g0 * g0));
      k.weights[size_t((y + h) * k.size + (x + h))] = w;
    }
  // Every neighbour counts against the pixel; the centre makes the whole kernel sum to 1.
  int sum = 0;
  for (int w : k.weights) sum += w;
  const size_t centre = size_t(h * k.size + h);
  const int former = k.weights[centre];
  for (int &w : k.weights) w = -w;
  k.weights[centre] = sum + 1 - former;
  return k;
}

QImage contour(const QImage &source, const ContourParams &p, const Progress &progress) {
  const int strength = std::clamp(p.strength, 100, 1000);
  const double factor = (p.blackBackground ? -strength : strength) / 100.0;
  const double bias = p.blackBackground ? 0.0 : 100.0;
  return convolve(source, contourKernel(p), factor, bias, progress);
}

}  // namespace imgfilter
