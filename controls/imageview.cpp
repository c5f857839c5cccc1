#include "controls/imageview.h"

#include "formats/raster/imageio.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

TImageView::TImageView(QWidget *parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Dark);
  viewport()->setAutoFillBackground(true);
}

bool TImageView::setFileName(const QString &path, QString *error, int index) {
  QString why;
  imageio::ReadOptions options;
  options.index = index;
  const QImage img = imageio::read(path, &why, options);
  if (img.isNull()) {
    if (error) *error = why;
    return false;
  }
  const imageio::Info info = imageio::info(path, index);
  setImage(img, path, index < 0 ? info.shown : index, std::max(1, info.count));
  return true;
}

void TImageView::setImage(const QImage &image) {
  image_ = image;
  message_.clear();
  scaled_ = QImage();
  updateScrollBars();
  viewport()->update();
  announceSize();
}

void TImageView::setImage(const QImage &image, const QString &fileName, int index, int count) {
  fileName_ = fileName;
  index_ = index;
  count_ = count;
  setImage(image);
}

void TImageView::showMessage(const QString &text) {
  clear();
  message_ = text;
}

void TImageView::clear() {
  message_.clear();
  image_ = QImage();
  preview_ = QImage();
  scaled_ = QImage();
  fileName_.clear();
  index_ = 0;
  count_ = 1;
  updateScrollBars();
  viewport()->update();
}

void TImageView::setStretchMode(StretchMode m) {
  mode_ = m;
  scaled_ = QImage();
  updateScrollBars();
  viewport()->update();
}

void TImageView::setZoomFactor(double z) {
  zoom_ = z;
  scaled_ = QImage();
  updateScrollBars();
  viewport()->update();
  announceSize();
}

void TImageView::setCenter(bool on) {
  center_ = on;
  viewport()->update();
}

void TImageView::setPreview(const QImage &preview) {
  preview_ = preview;
  viewport()->update();
}

void TImageView::flipHorizontal() { setImage(image_.mirrored(true, false)); }
void TImageView::flipVertical() { setImage(image_.mirrored(false, true)); }

QSize TImageView::drawnSize() const {
  if (image_.isNull()) return {};
  const QSize natural = image_.size();
  const QSize room = viewport()->size();
  switch (mode_) {
    case AlwaysKAR: return room.isEmpty() ? natural : natural.scaled(room, Qt::KeepAspectRatio).expandedTo({1, 1});
    case ShrinkKAR:
      if (natural.width() <= room.width() && natural.height() <= room.height()) return natural;
      return room.isEmpty() ? natural : natural.scaled(room, Qt::KeepAspectRatio).expandedTo({1, 1});
    case ZoomKAR:
    default:
      if (zoom_ <= 0) return natural;
      return QSize(qMax(1, qRound(natural.width() * zoom_)), qMax(1, qRound(natural.height() * zoom_)));
  }
}

void TImageView::announceSize() {
  if (image_.isNull()) return;
  const QSize s = (mode_ == ZoomKAR ? drawnSize() : image_.size()).boundedTo(limits_);
  emit newAutoSize(s.width(), s.height());
}

void TImageView::updateScrollBars() {
  const QSize d = drawnSize();
  // An image that fits the whole control needs no scroll bars, even if bars shown now make the room smaller.
  const QSize whole = maximumViewportSize();
  const QSize room = d.width() <= whole.width() && d.height() <= whole.height() ? whole : viewport()->size();
  horizontalScrollBar()->setRange(0, qMax(0, d.width() - room.width()));
  verticalScrollBar()->setRange(0, qMax(0, d.height() - room.height()));
  horizontalScrollBar()->setPageStep(room.width());
  verticalScrollBar()->setPageStep(room.height());
  horizontalScrollBar()->setSingleStep(16);
  verticalScrollBar()->setSingleStep(16);
}

QRect TImageView::imageRect() const {
  const QSize d = drawnSize();
  const QSize room = viewport()->size();
  int x = -horizontalScrollBar()->value(), y = -verticalScrollBar()->value();
  if (center_) {
    if (d.width() < room.width()) x = (room.width() - d.width()) / 2;
    if (d.height() < room.height()) y = (room.height() - d.height()) / 2;
  }
  return QRect(QPoint(x, y), d);
}

void TImageView::paintEvent(QPaintEvent *) {
  if (image_.isNull() && !message_.isEmpty()) {
    QPainter p(viewport());
    p.drawText(viewport()->rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, message_);
    return;
  }
  if (image_.isNull()) return;
  QPainter p(viewport());
  const QRect target = imageRect();
  if (!preview_.isNull()) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(target), preview_);
    return;
  }
  if (target.size() == image_.size()) {
    p.drawImage(target.topLeft(), image_);
    return;
  }
  if (target.width() < image_.width()) {
    // Drawn smaller: scale once with filtering and keep it, so scrolling and repaints stay cheap.
    if (scaled_.size() != target.size())
      scaled_ = image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.drawImage(target.topLeft(), scaled_);
    return;
  }
  // Drawn larger: only the visible part, pixels enlarged as squares.
  const QRect visible = target.intersected(viewport()->rect());
  if (visible.isEmpty()) return;
  const double sx = double(image_.width()) / target.width(), sy = double(image_.height()) / target.height();
  const QRectF source((visible.left() - target.left()) * sx, (visible.top() - target.top()) * sy, visible.width() * sx,
                      visible.height() * sy);
  p.drawImage(QRectF(visible), image_, source);
}

void TImageView::resizeEvent(QResizeEvent *e) {
  QAbstractScrollArea::resizeEvent(e);
  updateScrollBars();
}

void TImageView::scrollContentsBy(int, int) { viewport()->update(); }

void TImageView::mouseDoubleClickEvent(QMouseEvent *e) {
  if (e->button() == Qt::LeftButton) emit doubleClicked();
}

void TImageView::keyPressEvent(QKeyEvent *e) {
  // Of several images the keys go through them, round at the ends; otherwise they scroll.
  if (count_ > 1 && (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
      (e->key() == Qt::Key_PageDown || e->key() == Qt::Key_PageUp)) {
    emit imageRequested((index_ + (e->key() == Qt::Key_PageDown ? 1 : count_ - 1)) % count_);
    return;
  }
  QAbstractScrollArea::keyPressEvent(e);
}

void TImageView::focusOutEvent(QFocusEvent *e) {
  QAbstractScrollArea::focusOutEvent(e);
  // Only a move to another control counts: a menu, a dialog or another window taking the keyboard does not.
  if (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason ||
      e->reason() == Qt::MouseFocusReason || e->reason() == Qt::OtherFocusReason) {
    QWidget *now = QApplication::focusWidget();
    if (now && now != this && now->window() == window()) emit focusLeft();
  }
}
