#pragma once
// TVideoSurface: where the MultiMedia tab shows a video. The player's frames arrive through a QVideoSink and
// are painted as part of this widget, so the picture is an ordinary child of its tab page: it has no native
// window of its own that could outlive the page or trip the window when another viewer rebuilds it. A
// sound shows its caption (the file's name) instead.
#include <QString>
#include <QVideoFrame>
#include <QWidget>

class QVideoSink;

class TVideoSurface : public QWidget {
  Q_OBJECT
 public:
  explicit TVideoSurface(QWidget *parent = nullptr);
  ~TVideoSurface() override;

  // The sink to give the player, made on first use (it loads the media framework).
  QVideoSink *videoSink();
  // Forgets the picture; the caption shows until the next frame.
  void clear(const QString &caption = QString());
  QString caption() const { return caption_; }
  // Frames received since the last clear (for tests and the tab's end-of-play check).
  int frameCount() const { return frames_; }
  bool hasPicture() const { return frame_.isValid(); }

 protected:
  void paintEvent(QPaintEvent *e) override;

 private:
  void frameArrived(const QVideoFrame &frame);
  QVideoSink *sink_ = nullptr;
  QVideoFrame frame_;
  QString caption_;
  int frames_ = 0;
};
