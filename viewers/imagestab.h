#pragma once
// The "Images" tab: a still picture in the picture control PGImage2, an animated one (GIF and the other
// animated formats) in the page view Image1, one of them shown at a time. Pictures are decoded in the
// background: clicking through a folder of large photos never waits for one that is no longer wanted.
#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include "viewers/imageshost.h"

#include <memory>

class QAction;
class QPrinter;
class QMenu;
class THtmlView;
class TImageView;

class TImagesTab : public QWidget {
  Q_OBJECT
 public:
  static const QString PictureHint;
  explicit TImagesTab(TImagesHost &host, QWidget *parent = nullptr);
  ~TImagesTab() override;

  THtmlView *Image1 = nullptr;
  TImageView *PGImage2 = nullptr;
  QMenu *ImagelMenu = nullptr;
  QAction *Print2 = nullptr, *Clear1 = nullptr;
  QMenu *PGImageMenu = nullptr;
  QAction *OpenInWindow1 = nullptr, *Clear7 = nullptr;

  // An animation: Image1 shows it, PGImage2 hides.
  void showAnimated(const QString &path);
  // A still picture: PGImage2 shows it (once decoded), Image1 hides and is cleared.
  void showStill(const QString &path);
  // True while a picture is being decoded for PGImage2.
  bool isLoading() const { return decoding_ != nullptr; }

  // A picture decoded off the interface thread, with why it could not be when it could not.
  struct Decoded {
    QImage image;
    QString error;
  };

 signals:
  // PGImage2 shows a new picture (or could not read it: ok false).
  void pictureShown(bool ok);

 public slots:
  void PGImage2PicBoxOnDblClick();
  void Clear7Click();
  void Clear1Click();
  void Print2Click();

 private:
  TImagesHost &host;
  void startDecode();
  QFutureWatcher<Decoded> *decoding_ = nullptr;  // the decode running, if any
  QString wanted_;                               // the picture last asked for
  int generation_ = 0;                           // counts the pictures asked for
  std::unique_ptr<QPrinter> printer_;
  bool printing_ = false;
};
