#pragma once
// TImageView: a picture control. Shows one image centred, at its natural size times a zoom factor, fitted
// into the control, or shrunk to fit when larger; scroll bars when it is larger than the control. Reports
// the size it would like after a new image (clamped to its automatic-size limits), double clicks, and the
// loss of the keyboard focus to another control of its window. Of a file with several images (a TIFF's
// pages, an icon's sizes) it shows one; Page Down and Page Up ask for the next and the previous.
#include <QAbstractScrollArea>
#include <QImage>

class TImageView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  enum StretchMode {
    ZoomKAR,    // natural size times ZoomFactor (natural when the factor is 0 or below)
    AlwaysKAR,  // always fitted into the control, keeping the aspect ratio
    ShrinkKAR,  // fitted when larger than the control, natural size otherwise
  };

  explicit TImageView(QWidget *parent = nullptr);

  // Loads a picture file through imageio (image `index` of it, -1: the one it shows first); false with
  // *error when it cannot be read (the shown image stays).
  bool setFileName(const QString &path, QString *error = nullptr, int index = -1);
  QString fileName() const { return fileName_; }
  // Shows an image (the file name is kept: a filtered image still belongs to its file).
  void setImage(const QImage &image);
  // Shows an image read from fileName (decoded elsewhere, in the background say): image `index` of `count`.
  void setImage(const QImage &image, const QString &fileName, int index = 0, int count = 1);
  int imageIndex() const { return index_; }
  int imageCount() const { return count_; }
  const QImage &image() const { return image_; }
  bool isEmpty() const { return image_.isNull(); }
  // Frees the image and forgets the file name.
  void clear();
  // Shows a text in place of a picture that could not be shown (the image is freed, as by clear()).
  void showMessage(const QString &text);
  QString message() const { return message_; }

  StretchMode stretchMode() const { return mode_; }
  void setStretchMode(StretchMode m);
  double zoomFactor() const { return zoom_; }
  void setZoomFactor(double z);
  bool center() const { return center_; }
  void setCenter(bool on);
  // The largest size reported by newAutoSize.
  void setAutoSizeLimits(const QSize &limits) { limits_ = limits; }
  QSize autoSizeLimits() const { return limits_; }

  // Draws this image in place of the shown one, in the same rectangle (a filter's preview); the shown
  // image, its size and the file name stay. An empty image ends the preview.
  void setPreview(const QImage &preview);

  void flipHorizontal();
  void flipVertical();

  // The rectangle the image is drawn into, in viewport coordinates.
  QRect imageRect() const;

 signals:
  // After a new image: the size of the image as drawn, clamped to the automatic-size limits.
  void newAutoSize(int width, int height);
  void doubleClicked();
  // Page Down or Page Up on a file of several images: show image `index` of it.
  void imageRequested(int index);
  // The keyboard focus went to another control of the same window.
  void focusLeft();

 protected:
  void paintEvent(QPaintEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void mouseDoubleClickEvent(QMouseEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void focusOutEvent(QFocusEvent *e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  QSize drawnSize() const;
  void updateScrollBars();
  void announceSize();

  QImage image_;
  QImage scaled_;  // the image at the drawn size when it is drawn smaller (kept between paints)
  QImage preview_;
  QString fileName_;
  QString message_;
  int index_ = 0, count_ = 1;
  StretchMode mode_ = ZoomKAR;
  double zoom_ = 1.0;
  bool center_ = true;
  QSize limits_{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
};
