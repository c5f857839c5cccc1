#pragma once
// TImgForm: the image window. Shows one picture file, sizes itself to it within the screen, and offers from
// its right-button menu: the picture's information, open, save in another format, fit, flips, five
// filters, zoom and clear. Pictures load and filters run on worker threads with their progress in the
// status bar; Escape cancels either. The main window makes a new one for every hand-over; each is deleted
// when it closes.
#include <QFutureWatcher>
#include <QImage>
#include <QMainWindow>

#include <atomic>
#include <memory>

#include "formats/raster/imageio.h"
#include "windows/image/imagefilters.h"

class QAction;
class QMenu;
class QTimer;
class TBannerMenu;
class TImageView;
class TImgHost;

class TImgForm : public QMainWindow {
  Q_OBJECT
 public:
  static const QString kOpenFilter;
  static const QString kSaveFilter;

  // current: the main window's current file as CheckIfAnimated read it (its size decides whether "Fit
  // Image Into Window" is offered). thumbnails: start with the open dialog in the current folder.
  TImgForm(TImgHost &host, const imageio::Info &current, bool thumbnails, QWidget *parent = nullptr);
  ~TImgForm() override;

  TImageView *view() const { return PGImage1; }
  TBannerMenu *menu() const { return ImageOptions; }
  QAction *item(const QString &name) const;
  // The file shown (empty when none).
  QString shownFile() const;
  // True while a filter runs or a picture loads.
  bool busy() const { return watcher_ != nullptr || loading_ != nullptr; }
  bool loading() const { return loading_ != nullptr; }
  QString statusText() const;
  bool statusVisible() const;

  // Menu commands.
  void Open2Click();
  void SaveAs1Click();
  void FitImageClick();
  void Blur1Click();
  void Brightness1Click();
  void Contour1Click();
  void GreyScale1Click();
  void Negative1Click();
  void ZoomIn1Click();
  void ZoomOut1Click();
  void Clear1Click();
  // Fills the information items from the shown file.
  void ImageOptionsPopup();

 signals:
  // A filter run ended (applied, or cancelled).
  void filterFinished(bool applied);
  // A picture load ended (shown, or not: failed or cancelled).
  void fileLoaded(bool ok);

 protected:
  void showEvent(QShowEvent *e) override;
  void closeEvent(QCloseEvent *e) override;
  void contextMenuEvent(QContextMenuEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;

 private:
  void buildMenu();
  // Starts loading image `index` of the file (-1: the one shown first); the view keeps what it shows until
  // the new picture is there.
  void showFile(const QString &path, int index = -1);
  void showStatusProgress(bool on, const QString &name = QString());
  void setImageName(const QString &path);
  void newAutoSize(int w, int h);
  // Runs work on a copy of the image on a worker thread; the result replaces the shown image.
  void runFilter(std::function<QImage(const QImage &, const imgfilter::Progress &)> work);
  void progressTick();
  // The preview of an in-place filter on a reduced copy of the shown image.
  void preview(bool on, const std::function<void(QImage &)> &apply);

  TImgHost &host;
  bool thumbnails_;
  bool shownOnce_ = false;
  QSize limits_;
  TImageView *PGImage1 = nullptr;
  TBannerMenu *ImageOptions = nullptr;
  QMenu *ImageName = nullptr;
  QList<QAction *> infoItems_;

  // Filter settings, kept for the life of the window.
  imgfilter::BcgParams bcg_;
  bool greyWeighted_ = true;
  imgfilter::ContourParams contour_;
  double blurRadius_ = 2.5;
  int blurStrength_ = 100;

  // The picture loading.
  struct Loaded {
    QImage image;
    QString error;
    int index = 0, count = 1;
  };
  QFutureWatcher<Loaded> *loading_ = nullptr;
  std::shared_ptr<std::atomic_bool> loadCancel_;

  // The running filter.
  QFutureWatcher<QImage> *watcher_ = nullptr;
  std::shared_ptr<std::atomic_bool> cancel_;
  std::shared_ptr<std::atomic_int> done_, total_;
  QTimer *progressTimer_ = nullptr;
  qint64 lastProgress_ = 0;
};
