#pragma once
// SVG pictures made safe to draw. The file is rewritten through an XML reader before QtSvg sees it: a
// document type with entity declarations (the "billion laughs") is refused, references to anything outside
// the file (xlink:href to http:, file: or a path) are dropped so nothing is ever fetched or read, a canvas
// declared absurdly large is drawn scaled instead of allocated, shapes that <use> multiplies past a bound are
// refused, and a file cut short gives a message. A .svgz is inflated at most to kSvgMaxBytes.
#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>

namespace imageio {

constexpr qint64 kSvgMaxBytes = 32 * 1024 * 1024;
// Elements drawn once every <use> is expanded: past this a picture takes too long to draw.
constexpr qint64 kSvgMaxDrawn = 2'000'000;

struct SafeSvg {
  QByteArray bytes;     // the document to hand to QtSvg; empty when refused
  QString error;        // why it was refused (one sentence)
  QSizeF size;          // the size it declares (or its view box's), in pixels; empty when it declares none
  int droppedRefs = 0;  // references outside the file that were removed
};

// True when the first bytes of a file look like SVG (or gzip, which Qt's SVG plug-in would inflate unbounded).
bool looksLikeSvg(const QByteArray &head);
// Checks and rewrites an SVG document (already inflated).
SafeSvg makeSafeSvg(const QByteArray &document);
// Reads an .svg or .svgz file and makes it safe.
SafeSvg readSafeSvg(const QString &path);
// Draws a safe document: at its declared size, scaled down to fit `room` when given (else at most 4096 on a
// side). Null with *error when it cannot be drawn.
QImage renderSvg(const SafeSvg &svg, QSize room, QString *error);

}  // namespace imageio
