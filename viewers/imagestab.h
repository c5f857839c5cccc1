#pragma once
// The "Images" tab: a still picture in the picture control PGImage2, an animated one (GIF and the other
// animated formats) in the page view Image1, one of them shown at a time. Pictures are decoded in the
// background: clicking through a folder of large photos never waits for one that is no longer wanted, and a
// picture that takes long (a large metafile) shows its progress with a Cancel button.
#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include "viewers/imageshost.h"

#include <atomic>
#include <memory>

class QAction;
class QProgressBar;
class QPushButton;
class QTimer;
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
  // Shown while a picture takes long to decode.
  QWidget *LoadPanel = nullptr;
  QProgressBar *LoadProgress = nullptr;
  QPushButton *LoadCancel = nullptr;

  // An animation: Image1 shows it, PGImage2 hides.
  void showAnimated(const QString &path);
  // A still picture: PGImage2 shows it (once decoded), Image1 hides and is cleared.
  void showStill(const QString &path);
  // True while a picture is being decoded for PGImage2.
  bool isLoading() const { return decoding_ != nullptr; }

  // Stops the decoding running (Cancel, or Escape on the tab); nothing new is shown.
  void cancelLoading();

  // A picture decoded off the interface thread, with why it could not be when it could not.
  struct Decoded {
    QImage image;
    QString error;
    int index = 0, count = 1;  // which image of how many in the file
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
  void showImage(int index);
  void say(const QString &text);
  void keyPressEvent(QKeyEvent *e) override;
  QFutureWatcher<Decoded> *decoding_ = nullptr;  // the decode running, if any
  std::shared_ptr<std::atomic_bool> cancel_;     // its stop flag
  std::shared_ptr<std::atomic_int> percent_;     // how far it is, -1 while it cannot tell
  bool cancelledByUser_ = false;
  QTimer *panelDelay_ = nullptr, *progressTimer_ = nullptr;
  QString wanted_;                               // the picture last asked for
  int wantedIndex_ = -1;                         // and which of its images (-1: the one shown first)
  int generation_ = 0;                           // counts the pictures asked for
  QString said_;                                 // the last text this tab put in the status line
  std::unique_ptr<QPrinter> printer_;
  bool printing_ = false;
};
