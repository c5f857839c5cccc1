#include "viewers/imagestab.h"

#include "controls/htmlview.h"
#include "formats/raster/imageio.h"
#include "controls/imageview.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

const QString TImagesTab::PictureHint =
    QStringLiteral("Double click image to open in it's own window, right hand mouse button for menu");

namespace {

using Decoded = TImagesTab::Decoded;

// The picture for a view of this size: decoded straight at the size shown where the format allows (a JPEG
// decodes much faster so), whole otherwise.
Decoded decode(const QString &path, int index, QSize room, std::shared_ptr<std::atomic_bool> cancel,
               std::shared_ptr<std::atomic_int> percent) {
  Decoded d;
  const imageio::Info info = imageio::info(path, index);
  d.count = std::max(1, info.count);
  d.index = index < 0 ? info.shown : index;
  imageio::ReadOptions options;
  options.index = index;
  options.room = room;
  options.cancel = cancel.get();
  options.progress = [percent](int p) { percent->store(p); };
  d.image = imageio::read(path, &d.error, options);
  return d;
}

constexpr int kPanelDelayMs = 250;  // a picture that takes longer than this gets its progress shown

}  // namespace

TImagesTab::TImagesTab(TImagesHost &h, QWidget *parent) : QWidget(parent), host(h) {
  imageio::setAllocationLimit();
  auto *v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  Image1 = new THtmlView(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->hide();
  PGImage2 = new TImageView(this);
  PGImage2->setObjectName(QStringLiteral("PGImage2"));
  PGImage2->setStretchMode(TImageView::ShrinkKAR);
  PGImage2->setToolTip(PictureHint);
  PGImage2->setStatusTip(PictureHint);
  PGImage2->hide();
  v->addWidget(Image1);
  v->addWidget(PGImage2);

  LoadPanel = new QWidget(this);
  LoadPanel->setObjectName(QStringLiteral("LoadPanel"));
  auto *row = new QHBoxLayout(LoadPanel);
  row->setContentsMargins(4, 2, 4, 2);
  LoadProgress = new QProgressBar(LoadPanel);
  LoadProgress->setObjectName(QStringLiteral("LoadProgress"));
  LoadCancel = new QPushButton(QStringLiteral("Cancel"), LoadPanel);
  LoadCancel->setObjectName(QStringLiteral("LoadCancel"));
  row->addWidget(LoadProgress, 1);
  row->addWidget(LoadCancel);
  LoadPanel->hide();
  v->addWidget(LoadPanel);
  connect(LoadCancel, &QPushButton::clicked, this, &TImagesTab::cancelLoading);
  panelDelay_ = new QTimer(this);
  panelDelay_->setSingleShot(true);
  panelDelay_->setInterval(kPanelDelayMs);
  connect(panelDelay_, &QTimer::timeout, this, [this] {
    if (!decoding_) return;
    LoadProgress->setFormat(QStringLiteral("%1: %p%").arg(QFileInfo(wanted_).fileName()));
    LoadPanel->show();
    progressTimer_->start();
  });
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(100);
  connect(progressTimer_, &QTimer::timeout, this, [this] {
    const int p = percent_ ? percent_->load() : -1;
    if (p < 0) {
      LoadProgress->setRange(0, 0);  // a reader that cannot tell: busy
    } else {
      LoadProgress->setRange(0, 100);
      LoadProgress->setValue(p);
    }
  });

  ImagelMenu = new QMenu(this);
  ImagelMenu->setObjectName(QStringLiteral("ImagelMenu"));
  Print2 = ImagelMenu->addAction(QStringLiteral("&Print"), this, &TImagesTab::Print2Click);
  Print2->setObjectName(QStringLiteral("Print2"));
  Print2->setStatusTip(QStringLiteral("Print the currently displayed image"));
  Clear1 = ImagelMenu->addAction(QStringLiteral("&Clear"), this, &TImagesTab::Clear1Click);
  Clear1->setObjectName(QStringLiteral("Clear1"));
  Clear1->setStatusTip(QStringLiteral("Clear the currently diaplayed image"));
  Image1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Image1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { ImagelMenu->popup(Image1->mapToGlobal(p)); });

  PGImageMenu = new QMenu(this);
  PGImageMenu->setObjectName(QStringLiteral("PGImageMenu"));
  OpenInWindow1 = PGImageMenu->addAction(QStringLiteral("Open In Window"), this, &TImagesTab::PGImage2PicBoxOnDblClick);
  OpenInWindow1->setObjectName(QStringLiteral("OpenInWindow1"));
  Clear7 = PGImageMenu->addAction(QStringLiteral("&Clear"), this, &TImagesTab::Clear7Click);
  Clear7->setObjectName(QStringLiteral("Clear7"));
  PGImage2->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PGImage2, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { PGImageMenu->popup(PGImage2->mapToGlobal(p)); });
  connect(PGImage2, &TImageView::doubleClicked, this, &TImagesTab::PGImage2PicBoxOnDblClick);
  connect(PGImage2, &TImageView::imageRequested, this, &TImagesTab::showImage);
}

TImagesTab::~TImagesTab() {
  if (decoding_) {
    *cancel_ = true;
    decoding_->waitForFinished();
  }
}

void TImagesTab::say(const QString &text) {
  said_ = text;
  host.showStatusText(text);
}

void TImagesTab::showAnimated(const QString &path) {
  // A still picture still decoding is no longer wanted, nor a message about another picture.
  wanted_.clear();
  ++generation_;
  if (decoding_) *cancel_ = true;
  if (!said_.isEmpty()) host.clearStatusText(said_);
  said_.clear();
  PGImage2->hide();
  Image1->show();
  Image1->ShowImageFile(path);
}

void TImagesTab::showStill(const QString &path) {
  Image1->hide();
  Image1->ClearPage();
  PGImage2->show();
  wanted_ = path;
  wantedIndex_ = -1;
  ++generation_;
  // One decode at a time: while one runs, only the last picture asked for is remembered, and it starts when
  // the running one ends; the running one is told to stop, since its picture is no longer wanted.
  if (decoding_) {
    *cancel_ = true;
    return;
  }
  startDecode();
}

void TImagesTab::showImage(int index) {
  if (PGImage2->fileName().isEmpty()) return;
  wanted_ = PGImage2->fileName();
  wantedIndex_ = index;
  ++generation_;
  if (decoding_) {
    *cancel_ = true;
    return;
  }
  startDecode();
}

void TImagesTab::cancelLoading() {
  if (!decoding_) return;
  *cancel_ = true;
  cancelledByUser_ = true;
  panelDelay_->stop();
  progressTimer_->stop();
  LoadPanel->hide();
}

void TImagesTab::keyPressEvent(QKeyEvent *e) {
  if (e->key() == Qt::Key_Escape && decoding_) {
    cancelLoading();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TImagesTab::startDecode() {
  const QString path = wanted_;
  const int index = wantedIndex_;
  const int generation = generation_;
  const QSize room = PGImage2->viewport()->size() * PGImage2->devicePixelRatioF();
  cancel_ = std::make_shared<std::atomic_bool>(false);
  percent_ = std::make_shared<std::atomic_int>(-1);
  cancelledByUser_ = false;
  LoadProgress->setRange(0, 0);
  decoding_ = new QFutureWatcher<Decoded>(this);
  connect(decoding_, &QFutureWatcherBase::finished, this, [this, path, generation] {
    const Decoded d = decoding_->result();
    decoding_->deleteLater();
    decoding_ = nullptr;
    panelDelay_->stop();
    progressTimer_->stop();
    LoadPanel->hide();
    if (generation != generation_) {  // a newer click came meanwhile
      if (!wanted_.isEmpty()) startDecode();
      return;
    }
    if (cancelledByUser_) {
      say(QStringLiteral("Cancelled: %1 is not shown.").arg(path));
      emit pictureShown(false);
      return;
    }
    if (d.image.isNull()) {
      say(d.error.isEmpty() ? QStringLiteral("Cannot show %1.").arg(path)
                            : QStringLiteral("Cannot show %1: %2").arg(path, d.error));
      // In place of the picture too: an earlier picture left there would pass for this one.
      PGImage2->showMessage(d.error.isEmpty() ? QStringLiteral("Cannot show %1.").arg(QFileInfo(path).fileName())
                                              : d.error);
      emit pictureShown(false);
      return;
    }
    PGImage2->setImage(d.image, path, d.index, d.count);
    // A message about an earlier picture is no longer true.
    if (!said_.isEmpty()) host.clearStatusText(said_);
    said_.clear();
    if (d.count > 1)
      say(QStringLiteral("Image %1 of %2 in %3: Page Down and Page Up show the others.")
              .arg(d.index + 1)
              .arg(d.count)
              .arg(QFileInfo(path).fileName()));
    emit pictureShown(true);
  });
  auto cancel = cancel_;
  auto percent = percent_;
  decoding_->setFuture(
      QtConcurrent::run([path, index, room, cancel, percent] { return decode(path, index, room, cancel, percent); }));
  panelDelay_->start();
}

void TImagesTab::PGImage2PicBoxOnDblClick() {
  const QString file = PGImage2->fileName();
  if (file.isEmpty()) return;
  PGImage2->hide();
  host.openImageWindow(file);
}

void TImagesTab::Clear7Click() { PGImage2->hide(); }

void TImagesTab::Clear1Click() {
  Image1->ClearPage();
  Image1->hide();
}

void TImagesTab::Print2Click() {
  if (printing_) return;  // the printer is the view's until it is done with it
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer_->setFromTo(0, 0);
  if (!host.askPrint(*printer_, 1)) return;
  int from = printer_->fromPage(), to = printer_->toPage();
  if (from <= 0 || to <= 0) {
    from = 1;
    to = 9999;
  }
  printing_ = true;
  QPointer<TImagesTab> self(this);
  Image1->PrintPages(printer_.get(), from, to, [self](bool ok) {
    if (!self) return;
    self->printing_ = false;
    if (!ok) self->host.showStatusText(QStringLiteral("Printing failed."));
  });
}
