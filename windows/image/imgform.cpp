#include "windows/image/imgform.h"

#include "controls/bannermenu.h"
#include "controls/filedialogs.h"
#include "controls/imageview.h"
#include "windows/image/imgfilterdialogs.h"
#include "windows/image/imghost.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent>

const QString TImgForm::kOpenFilter = QStringLiteral(
    "Compatible Image Files|*.bmp;*.dib;*.emf;*.gif;*.ico;*.jif;*.jpg;*.jpeg;*.pcx;*.pbm;*.pgm;*.png;*.ppm;*.rle;*.tga;*.tif;*.tiff;*.wmf");
const QString TImgForm::kSaveFilter = QStringLiteral(
    "BMP - Bitmap|*.bmp|JPG - JPEG (JFIF compliant)|*.jpg|PBM - Portable Bitmap|*.pbm|PGM - Portable Graymap|*.pgm|"
    "PNG - Portable Network Graphics|*.png|PPM - Portable Pixelmap|*.ppm|TGA - Truevision Targa|*.tga|"
    "TIF - Tagged Image File Format|*.tif");

namespace {
const QString kOpenTitle = QStringLiteral("Tarnwick - Open Image File");
const QString kThumbTitle = QStringLiteral("Tarnwick - View Thumbnails");
constexpr int kPreviewSide = 800;  // previews work on a copy this large at most: they follow the sliders
}  // namespace

TImgForm::TImgForm(TImgHost &h, const imageio::Info &current, bool thumbnails, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), host(h), thumbnails_(thumbnails) {
  setObjectName(QStringLiteral("ImgForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Tarnwick Image Viewer"));
  resize(162, 142);
  PGImage1 = new TImageView(this);
  PGImage1->setObjectName(QStringLiteral("PGImage1"));
  PGImage1->setStretchMode(TImageView::ZoomKAR);
  PGImage1->setZoomFactor(1.0);
  PGImage1->setCenter(true);
  setCentralWidget(PGImage1);
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->setSizeGripEnabled(false);
  statusBar()->hide();
  buildMenu();

  // Automatic-size limits: the screen less the window's frame.
  const QScreen *screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const QMargins frame = frameGeometry().isValid() && frameGeometry() != geometry()
                             ? QMargins(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                                        frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom())
                             : QMargins(4, 24, 4, 4);  // before the first show the frame is not known: a usual one
  limits_ = QSize(avail.width() - frame.left() - frame.right(), avail.height() - frame.top() - frame.bottom());
  PGImage1->setAutoSizeLimits(limits_);
  item(QStringLiteral("FitImage"))->setEnabled(current.width > limits_.width() || current.height > limits_.height());

  connect(PGImage1, &TImageView::newAutoSize, this, &TImgForm::newAutoSize);
  connect(PGImage1, &TImageView::doubleClicked, this, [this] {
    setWindowState(windowState() & Qt::WindowMaximized ? windowState() & ~Qt::WindowMaximized : windowState() | Qt::WindowMaximized);
  });
  connect(PGImage1, &TImageView::focusLeft, this, &QWidget::close);
  connect(PGImage1, &TImageView::imageRequested, this, [this](int index) {
    if (watcher_) return;  // a filter works on the image shown
    showFile(shownFile(), index);
  });
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(50);
  connect(progressTimer_, &QTimer::timeout, this, &TImgForm::progressTick);
}

TImgForm::~TImgForm() {
  if (watcher_) {
    *cancel_ = true;
    watcher_->waitForFinished();
  }
  if (loadCancel_) *loadCancel_ = true;
  for (QFutureWatcherBase *w : findChildren<QFutureWatcherBase *>()) w->waitForFinished();  // loads replaced too
}

void TImgForm::buildMenu() {
  ImageOptions = new TBannerMenu(QStringLiteral("Tarnwick"), this);
  ImageOptions->setObjectName(QStringLiteral("ImageOptions"));
  ImageName = ImageOptions->addMenu(QString());
  ImageName->menuAction()->setObjectName(QStringLiteral("ImageName"));
  for (int i = 1; i <= 6; ++i) {
    QAction *a = ImageName->addAction(QString());
    a->setObjectName(QStringLiteral("ll%1").arg(i));
    infoItems_ << a;
  }
  auto add = [this](const char *name, const QString &caption, void (TImgForm::*slot)(), const QKeySequence &key = {}) {
    QAction *a = ImageOptions->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) {
      a->setShortcut(key);
      addAction(a);  // the keys work without the menu open
    }
    if (slot) connect(a, &QAction::triggered, this, slot);
    return a;
  };
  auto sep = [this](const char *name) { ImageOptions->addSeparator()->setObjectName(QString::fromLatin1(name)); };
  sep("N2");
  add("Open2", QStringLiteral("&Open"), &TImgForm::Open2Click);
  add("SaveAs1", QStringLiteral("Save &As"), &TImgForm::SaveAs1Click);
  sep("N3");
  add("FitImage", QStringLiteral("&Fit Image Into Window"), &TImgForm::FitImageClick);
  add("FlipHorizontal1", QStringLiteral("Flip &Horizontal"), nullptr);
  add("FlipVertical1", QStringLiteral("Flip &Vertical"), nullptr);
  sep("N5");
  add("Blur1", QStringLiteral("B&lur"), &TImgForm::Blur1Click);
  add("Brightness1", QStringLiteral("&Brightness"), &TImgForm::Brightness1Click);
  add("Contour1", QStringLiteral("&Contour"), &TImgForm::Contour1Click);
  add("GreyScale1", QStringLiteral("&GreyScale"), &TImgForm::GreyScale1Click);
  add("Negative1", QStringLiteral("&Negative"), &TImgForm::Negative1Click);
  sep("N4");
  add("ZoomIn1", QStringLiteral("Zoom &In (+)"), &TImgForm::ZoomIn1Click, QKeySequence(Qt::CTRL | Qt::Key_F1));
  add("ZoomOut1", QStringLiteral("Zoom &Out (-)"), &TImgForm::ZoomOut1Click, QKeySequence(Qt::CTRL | Qt::Key_F2));
  sep("N1");
  add("Clear1", QStringLiteral("Clea&r"), &TImgForm::Clear1Click);
  sep("N6");
  connect(item(QStringLiteral("FlipHorizontal1")), &QAction::triggered, this, [this] { PGImage1->flipHorizontal(); });
  connect(item(QStringLiteral("FlipVertical1")), &QAction::triggered, this, [this] { PGImage1->flipVertical(); });
  connect(ImageOptions, &QMenu::aboutToShow, this, &TImgForm::ImageOptionsPopup);
}

QAction *TImgForm::item(const QString &name) const {
  const auto all = ImageOptions->findChildren<QAction *>(name);
  for (QAction *a : all)
    if (a->objectName() == name) return a;
  return name == QLatin1String("ImageName") ? ImageName->menuAction() : nullptr;
}

QString TImgForm::shownFile() const { return PGImage1->fileName(); }
QString TImgForm::statusText() const { return statusBar()->currentMessage(); }
bool TImgForm::statusVisible() const { return statusBar()->isVisible(); }

void TImgForm::setImageName(const QString &path) { ImageName->setTitle(QFileInfo(path).fileName().toUpper()); }

void TImgForm::showFile(const QString &path, int index) {
  if (loading_) *loadCancel_ = true;  // the newer request wins; the older one ends unseen
  auto cancel = std::make_shared<std::atomic_bool>(false);
  auto done = std::make_shared<std::atomic_int>(0), total = std::make_shared<std::atomic_int>(0);
  loadCancel_ = cancel;
  done_ = done;
  total_ = total;
  auto *watcher = new QFutureWatcher<Loaded>(this);
  loading_ = watcher;
  connect(watcher, &QFutureWatcher<Loaded>::finished, this, [this, watcher, path, cancel] {
    const Loaded l = watcher->result();
    watcher->deleteLater();
    if (loading_ != watcher) return;  // replaced by a newer load
    loading_ = nullptr;
    showStatusProgress(false);
    if (l.image.isNull()) {
      if (!*cancel) host.showError(this, l.error);
      emit fileLoaded(false);
      if (thumbnails_ && PGImage1->isEmpty()) close();  // nothing to show: no empty window on top
      return;
    }
    PGImage1->setImage(l.image, path, l.index, l.count);
    setImageName(path);
    // The window's texts are fixed; the view's tip tells of the other images of the file.
    PGImage1->setToolTip(l.count > 1 ? QStringLiteral("Image %1 of %2: Page Down and Page Up show the others.")
                                           .arg(l.index + 1).arg(l.count)
                                     : QString());
    emit fileLoaded(true);
  });
  watcher->setFuture(QtConcurrent::run([path, index, cancel, done, total] {
    Loaded l;
    const imageio::Info info = imageio::info(path, index);
    l.count = std::max(1, info.count);
    l.index = index < 0 ? info.shown : index;
    imageio::ReadOptions options;
    options.index = index;
    options.cancel = cancel.get();
    options.progress = [done, total](int p) {
      done->store(p);
      total->store(100);
    };
    l.image = imageio::read(path, &l.error, options);
    return l;
  }));
  showStatusProgress(true, QFileInfo(path).fileName());
}

void TImgForm::showStatusProgress(bool on, const QString &name) {
  if (on) {
    statusBar()->show();
    // Most readers cannot tell how far they are: until one does, the name of what is being opened.
    statusBar()->showMessage(QStringLiteral("Opening %1").arg(name));
    lastProgress_ = QDateTime::currentMSecsSinceEpoch();
    progressTimer_->start();
    return;
  }
  progressTimer_->stop();
  statusBar()->clearMessage();
  statusBar()->hide();
}

void TImgForm::showEvent(QShowEvent *e) {
  QMainWindow::showEvent(e);
  if (shownOnce_) return;
  shownOnce_ = true;
  if (thumbnails_) {
    const QString chosen = host.openImageFile(this, kThumbTitle, host.currentFolder(), filedlg::qtFilter(kOpenFilter));
    if (!chosen.isEmpty()) showFile(chosen);
    // Nothing chosen: an empty window would only stand in the way (it stays on top of everything).
    if (chosen.isEmpty())
      QTimer::singleShot(0, this, [this] {
        if (QWidget *owner = parentWidget()) owner->activateWindow();  // the keyboard goes back where it was
        close();
      });
  } else if (!host.currentFile().isEmpty()) {
    showFile(host.currentFile());
  }
  setImageName(shownFile());
  PGImage1->setFocus();
}

void TImgForm::closeEvent(QCloseEvent *e) {
  if (watcher_) *cancel_ = true;  // the destructor waits for the worker
  if (loading_) *loadCancel_ = true;
  QMainWindow::closeEvent(e);
}

void TImgForm::contextMenuEvent(QContextMenuEvent *e) { ImageOptions->popup(e->globalPos()); }

void TImgForm::keyPressEvent(QKeyEvent *e) {
  if (e->key() == Qt::Key_Escape && watcher_) {
    *cancel_ = true;
    return;
  }
  if (e->key() == Qt::Key_Escape && loading_) {
    *loadCancel_ = true;
    return;
  }
  QMainWindow::keyPressEvent(e);
}

void TImgForm::newAutoSize(int w, int h) {
  if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) return;
  resize(w, h + (statusBar()->isVisible() ? statusBar()->height() : 0));
  const QScreen *s = screen();
  if (!s) return;
  const QRect avail = s->availableGeometry();
  QRect g = frameGeometry();
  if (g.right() > avail.right()) g.moveRight(avail.right());
  if (g.bottom() > avail.bottom()) g.moveBottom(avail.bottom());
  if (g.topLeft() != frameGeometry().topLeft()) move(g.topLeft());
}

void TImgForm::ImageOptionsPopup() {
  const imageio::Info i = imageio::info(shownFile(), PGImage1->imageIndex());
  const QStringList texts = {QStringLiteral("Image Type: ") + i.type, QStringLiteral("Sub Type: ") + i.subType,
                             QStringLiteral("Image Width: ") + QString::number(i.width),
                             QStringLiteral("Image Height: ") + QString::number(i.height),
                             QStringLiteral("Colours: ") + i.colours,
                             QStringLiteral("Bits Per Pixel: ") + QString::number(i.bitsPerPixel)};
  for (int k = 0; k < 6; ++k) infoItems_[k]->setText(texts[k]);
  ImageName->setEnabled(i.ok);
}

void TImgForm::Open2Click() {
  if (watcher_) return;  // a filter works on the picture shown
  const QString folder = shownFile().isEmpty() ? host.currentFolder() : QFileInfo(shownFile()).absolutePath();
  const QString chosen = host.openImageFile(this, kOpenTitle, folder, filedlg::qtFilter(kOpenFilter));
  if (!chosen.isEmpty()) showFile(chosen);
  setImageName(shownFile());
}

void TImgForm::SaveAs1Click() {
  if (PGImage1->isEmpty()) return;
  const QString path = host.saveImageFile(this, QStringLiteral("Tarnwick - Save Image"), shownFile(), filedlg::qtFilter(kSaveFilter));
  // A cancelled dialog changes nothing: reloading the file would throw away the filters applied to it.
  if (path.isEmpty()) return;
  QString error;
  if (!imageio::write(PGImage1->image(), path, &error)) {
    host.showError(this, error);  // the image stays shown, unsaved
    return;
  }
  setImageName(path);
  showFile(path);  // what was written, as a reader sees it (a JPEG's losses included)
}

void TImgForm::FitImageClick() {
  PGImage1->setStretchMode(TImageView::AlwaysKAR);
  for (const char *n : {"ZoomIn1", "ZoomOut1", "FitImage"}) item(QString::fromLatin1(n))->setEnabled(false);
}

void TImgForm::ZoomIn1Click() { PGImage1->setZoomFactor(PGImage1->zoomFactor() + 1); }
void TImgForm::ZoomOut1Click() { PGImage1->setZoomFactor(PGImage1->zoomFactor() - 1); }

void TImgForm::Clear1Click() {
  PGImage1->clear();
  close();
}

void TImgForm::preview(bool on, const std::function<void(QImage &)> &apply) {
  if (!on || PGImage1->isEmpty()) {
    PGImage1->setPreview(QImage());
    return;
  }
  QImage copy = PGImage1->image();
  if (copy.width() > kPreviewSide || copy.height() > kPreviewSide)
    copy = copy.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::FastTransformation);
  apply(copy);
  PGImage1->setPreview(copy);
}

void TImgForm::Brightness1Click() {
  if (PGImage1->isEmpty() || busy()) return;
  TBcgFilterDialog dlg(bcg_, this, [this](bool on) {
    preview(on, [this](QImage &img) { imgfilter::brightnessContrastGamma(img, bcg_); });
  });
  if (dlg.exec() != QDialog::Accepted) return;
  const imgfilter::BcgParams p = bcg_;
  runFilter([p](const QImage &src, const imgfilter::Progress &pr) {
    QImage out = src;
    return imgfilter::brightnessContrastGamma(out, p, pr) ? out : QImage();
  });
}

void TImgForm::GreyScale1Click() {
  if (PGImage1->isEmpty() || busy()) return;
  TGreyFilterDialog dlg(greyWeighted_, this, [this](bool on) {
    preview(on, [this](QImage &img) { imgfilter::greyscale(img, greyWeighted_); });
  });
  if (dlg.exec() != QDialog::Accepted) return;
  const bool weighted = greyWeighted_;
  runFilter([weighted](const QImage &src, const imgfilter::Progress &pr) {
    QImage out = src;
    return imgfilter::greyscale(out, weighted, pr) ? out : QImage();
  });
}

void TImgForm::Negative1Click() {
  if (PGImage1->isEmpty() || busy()) return;
  TNegativeFilterDialog dlg(this, [this](bool on) { preview(on, [](QImage &img) { imgfilter::negative(img); }); });
  if (dlg.exec() != QDialog::Accepted) return;
  runFilter([](const QImage &src, const imgfilter::Progress &pr) {
    QImage out = src;
    return imgfilter::negative(out, pr) ? out : QImage();
  });
}

void TImgForm::Blur1Click() {
  if (PGImage1->isEmpty() || busy()) return;
  TBlurFilterDialog dlg(blurRadius_, blurStrength_, this);
  if (dlg.exec() != QDialog::Accepted) return;
  const double r = blurRadius_;
  const int s = blurStrength_;
  runFilter([r, s](const QImage &src, const imgfilter::Progress &pr) { return imgfilter::blur(src, r, s, pr); });
}

void TImgForm::Contour1Click() {
  if (PGImage1->isEmpty() || busy()) return;
  TContourFilterDialog dlg(contour_, this);
  if (dlg.exec() != QDialog::Accepted) return;
  const imgfilter::ContourParams p = contour_;
  runFilter([p](const QImage &src, const imgfilter::Progress &pr) { return imgfilter::contour(src, p, pr); });
}

void TImgForm::runFilter(std::function<QImage(const QImage &, const imgfilter::Progress &)> work) {
  repaint();  // the closed dialog leaves no trace behind while the filter runs
  cancel_ = std::make_shared<std::atomic_bool>(false);
  done_ = std::make_shared<std::atomic_int>(0);
  total_ = std::make_shared<std::atomic_int>(0);
  imgfilter::Progress pr;
  auto done = done_, total = total_;
  pr.step = [done, total](int d, int t) {
    done->store(d);
    total->store(t);
  };
  pr.cancel = cancel_.get();
  const QImage source = PGImage1->image();
  auto cancel = cancel_;  // kept alive by the job even if the window goes first
  watcher_ = new QFutureWatcher<QImage>(this);
  connect(watcher_, &QFutureWatcher<QImage>::finished, this, [this] {
    const QImage out = watcher_->result();
    const bool applied = !out.isNull() && !*cancel_;
    watcher_->deleteLater();
    watcher_ = nullptr;
    progressTimer_->stop();
    statusBar()->clearMessage();
    statusBar()->hide();
    if (applied) PGImage1->setImage(out);
    emit filterFinished(applied);
  });
  statusBar()->show();
  statusBar()->showMessage(QStringLiteral("0%"));
  lastProgress_ = QDateTime::currentMSecsSinceEpoch();
  progressTimer_->start();
  watcher_->setFuture(QtConcurrent::run([work = std::move(work), source, pr, cancel] { return work(source, pr); }));
}

void TImgForm::progressTick() {
  const int t = total_ ? total_->load() : 0;
  if (t <= 0) return;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now - lastProgress_ <= 50) return;
  lastProgress_ = now;
  statusBar()->showMessage(QString::number(qint64(done_->load()) * 100 / t) + QLatin1Char('%'));
  statusBar()->repaint();
}
