#include "controls/bannermenu.h"

#include <QLinearGradient>
#include <QPainter>

TBannerMenu::TBannerMenu(const QString &banner, QWidget *parent) : QMenu(parent), banner_(banner) {
  // The items move right by the banner's width; the strip itself is painted over the margin.
  setContentsMargins(kBannerWidth, 0, 0, 0);
}

void TBannerMenu::paintEvent(QPaintEvent *e) {
  QMenu::paintEvent(e);
  QPainter p(this);
  const QRect strip(0, 0, kBannerWidth, height());
  QLinearGradient g(strip.topLeft(), strip.bottomLeft());
  g.setColorAt(0, QColor(0x10, 0x30, 0x80));
  g.setColorAt(1, QColor(0x40, 0x90, 0xe0));
  p.fillRect(strip, g);
  QFont f = font();
  f.setBold(true);
  f.setPixelSize(kBannerWidth - 8);
  p.setFont(f);
  p.setPen(Qt::white);
  p.translate(strip.left(), strip.bottom());
  p.rotate(-90);
  p.drawText(QRect(6, 0, strip.height() - 12, kBannerWidth), Qt::AlignLeft | Qt::AlignVCenter, banner_);
}
