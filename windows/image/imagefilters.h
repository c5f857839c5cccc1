#pragma once
// The image window's five filters, on whole images, without widgets. Colours are 8 bits per channel; alpha
// is kept as it is. Work is split by rows over the machine's cores; progress is reported as rows done of
// rows in all, and a set cancel flag stops the run (the image is then left as it was).
#include <QImage>

#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace imgfilter {

// Rounding to the nearest integer, halves to even (saturating at the ends of int).
int roundHalfEven(double v);
// A dialog's step s (-100 .. 100) as the value 5^(s/100) of contrast or gamma.
double stepToValue(int step);

struct Progress {
  // Called from worker threads, at most every few rows: keep it cheap and thread-safe (an atomic store, a
  // queued signal).
  std::function<void(int done, int total)> step;
  const std::atomic_bool *cancel = nullptr;
};

// 1. Brightness, contrast and gamma.
struct BcgParams {
  int brightness = 0;    // -100 .. 100
  double contrast = 1.0;  // 0.2 .. 5.0
  double gamma = 1.0;     // 0.2 .. 5.0
  bool useY = false;
};
std::array<unsigned char, 256> bcgTable(const BcgParams &p);
bool brightnessContrastGamma(QImage &image, const BcgParams &p, const Progress &progress = {});

// 2. Greyscale, weighted (897 R + 1761 G + 342 B) div 1000 div 3 or plain (R + G + B) div 3.
bool greyscale(QImage &image, bool rgbWeighting = true, const Progress &progress = {});
// 3. Negative.
bool negative(QImage &image, const Progress &progress = {});

// 4. Convolution with a square kernel of integer weights (row-major, size x size, size odd).
struct Kernel {
  int size = 1;
  std::vector<int> weights;
  int at(int x, int y) const { return weights[size_t(y * size + x)]; }
};
// Into a new image (the source is not changed); a null image when cancelled, when the kernel is malformed or
// when there is no memory for the result. A pixel none of whose weighted cells falls inside the picture keeps
// its value.
QImage convolve(const QImage &source, const Kernel &k, double factor, double bias, const Progress &progress = {});

// 5. Blur: ring kernel of radius r (0.5 .. 5.0), strength p percent (10 .. 100); values outside are clamped.
Kernel blurKernel(double radius, int strengthPercent);
QImage blur(const QImage &source, double radius, int strengthPercent, const Progress &progress = {});

// 6. Contour: the kernel's weights negated around a centre that makes them sum to 1, applied with factor
// strength / 100 and a white background (bias 100), or factor -strength / 100 on black. The rect shape's
// kernel is 2L - 3 wide, L its first zero: below sigma 1.16 that is the centre alone (the picture turns white,
// or black), and below sigma 0.58 it would be negative, so it stays the centre alone.
enum class Shape { Gaussian, Tent, Rect };
struct ContourParams {
  double sigma = 1.0;    // 0.4 .. 1.3
  int strength = 100;    // 100 .. 1000 percent
  Shape shape = Shape::Rect;
  bool useDistance = true;
  bool blackBackground = false;
};
Kernel contourKernel(const ContourParams &p);
QImage contour(const QImage &source, const ContourParams &p, const Progress &progress = {});

}  // namespace imgfilter
