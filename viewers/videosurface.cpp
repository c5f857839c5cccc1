#include "viewers/videosurface.h"

#include <QPainter>
#include <QVideoSink>

TVideoSurface::TVideoSurface(QWidget *parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(32, 24);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

TVideoSurface::~TVideoSurface() = default;

QVideoSink *TVideoSurface::videoSink() {
  if (!sink_) {
    sink_ = new QVideoSink(this);
    connect(sink_, &QVideoSink::videoFrameChanged, this, &TVideoSurface::frameArrived);
  }
  return sink_;
}

void TVideoSurface::clear(const QString &caption) {
  frame_ = QVideoFrame();
  frames_ = 0;
  caption_ = caption;
  update();
}

// The last picture stays when the player lets go of its file (it then sends an empty frame): a video that
// played to its end keeps showing its last frame.
void TVideoSurface::frameArrived(const QVideoFrame &frame) {
  if (!frame.isValid()) return;
  frame_ = frame;
  ++frames_;
  // Converted and drawn only when painted: a hidden tab costs nothing per frame.
  update();
}

void TVideoSurface::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (frame_.isValid()) {
    QVideoFrame frame = frame_;
    QVideoFrame::PaintOptions options;
    options.backgroundColor = Qt::black;
    options.aspectRatioMode = Qt::KeepAspectRatio;
    frame.paint(&p, QRectF(rect()), options);
  } else if (!caption_.isEmpty()) {
    p.setPen(QColor(200, 200, 200));
    p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, caption_);
  }
}
