#include "controls/dirlabel.h"
#include <QPainter>
#include <QStyle>
#include "platform/paths.h"
#include "platform/volumes.h"

TDirLabel::TDirLabel(QWidget *parent) : QWidget(parent) { resize(65, 17); }

void TDirLabel::setDirName(const QString &path) {
  if (path == dirName_) return;
  dirName_ = path;
  caption_ = path;
  prefix_ = platform::AppendSlash(platform::volumeRoot(path));
  update();
}

void TDirLabel::resizeEvent(QResizeEvent *) { caption_ = dirName_; }

QString TDirLabel::shortenPath(const QString &path, int n, const QString &prefix) {
  const int len = path.size();
  if (n >= len || n <= 18) return path;
  const int slash = path.lastIndexOf('/');
  const int L = slash < 0 ? len : len - slash - 1;
  QString tail = L + 6 < n ? path.right(n - 5) : path.right(L + 1);
  if (tail.size() > L + 1) {
    const int cut = tail.left(tail.size() - L).indexOf('/');
    if (cut >= 0) tail = tail.mid(cut);
  }
  return prefix + QStringLiteral("...") + tail;
}

QString TDirLabel::fitCaption(const QString &path, const QString &prefix, const QFontMetrics &fm, int width) {
  QString caption = path;
  while (!caption.isEmpty() && fm.horizontalAdvance(caption) > width - 1) {
    // One step: the first target length that really shortens the text.
    QString shorter;
    for (int n = caption.size(); n > 18; --n) {
      const QString s = shortenPath(caption, n, prefix);
      if (s.size() < caption.size()) {
        shorter = s;
        break;
      }
    }
    if (shorter.isEmpty()) return QString();
    caption = shorter;
  }
  return caption;
}

void TDirLabel::paintEvent(QPaintEvent *) {
  QPainter p(this);
  caption_ = fitCaption(caption_.isEmpty() ? dirName_ : caption_, prefix_, fontMetrics(), width());
  const int flags = int(align_) | Qt::TextSingleLine | Qt::TextExpandTabs;
  if (isEnabled()) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), flags, caption_);
  } else {
    p.setPen(palette().color(QPalette::Light));
    p.drawText(rect().translated(1, 1), flags, caption_);
    p.setPen(palette().color(QPalette::Dark));
    p.drawText(rect(), flags, caption_);
  }
}
