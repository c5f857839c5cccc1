#include "viewers/imagestab.h"

#include "controls/htmlview.h"
#include "controls/imageio.h"
#include "controls/imageview.h"

#include <QContextMenuEvent>
#include <QImageReader>
#include <QMenu>
#include <QPrinter>
#include <QVBoxLayout>
#include <QtConcurrent>

const QString TImagesTab::PictureHint =
    QStringLiteral("Double click image to open in it's own window, right hand mouse button for menu");

namespace {

using Decoded = TImagesTab::Decoded;

// The picture for a view of this size: formats Qt reads are decoded straight at the size shown (a JPEG
// decodes much faster so); the others through our readers, whole.
Decoded decode(const QString &path, QSize room) {
  Decoded d;
  QImageReader r(path);
  r.setAutoTransform(true);
  if (r.canRead()) {
    const QSize full = r.size();
    if (full.isValid() && !room.isEmpty() && (full.width() > room.width() || full.height() > room.height()))
      r.setScaledSize(full.scaled(room, Qt::KeepAspectRatio).expandedTo({1, 1}));
    d.image = r.read();
    if (!d.image.isNull()) return d;
  }
  d.image = imageio::read(path, &d.error);
  return d;
}

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

  ImagelMenu = new QMenu(this);
  ImagelMenu->setObjectName(QStringLiteral("ImagelMenu"));
  Print2 = ImagelMenu->addAction(QStringLiteral("&Print"), this, &TImagesTab::Print2Click);
  Print2->setObjectName(QStringLiteral("Print2"));
  Print2->setStatusTip(QStringLiteral("Print the currently displayed image"));
  Clear1 = ImagelMenu->addAction(QStringLiteral("&Clear"), this, &TImagesTab::Clear1Click);
  Clear1->setObjectName(QStringLiteral("Clear1"));
  Clear1->setStatusTip(QStringLiteral("Clear the currently diaplayed image"));
  Image1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Image1, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) { ImagelMenu->popup(Image1->mapToGlobal(p)); });

  PGImageMenu = new QMenu(this);
  PGImageMenu->setObjectName(QStringLiteral("PGImageMenu"));
  OpenInWindow1 = PGImageMenu->addAction(QStringLiteral("Open In Window"), this, &TImagesTab::PGImage2PicBoxOnDblClick);
  OpenInWindow1->setObjectName(QStringLiteral("OpenInWindow1"));
  Clear7 = PGImageMenu->addAction(QStringLiteral("&Clear"), this, &TImagesTab::Clear7Click);
  Clear7->setObjectName(QStringLiteral("Clear7"));
  PGImage2->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PGImage2, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) { PGImageMenu->popup(PGImage2->mapToGlobal(p)); });
  connect(PGImage2, &TImageView::doubleClicked, this, &TImagesTab::PGImage2PicBoxOnDblClick);
}

TImagesTab::~TImagesTab() {
  if (decoding_) decoding_->waitForFinished();
}

void TImagesTab::showAnimated(const QString &path) {
  PGImage2->hide();
  Image1->show();
  Image1->ShowImageFile(path);
}

void TImagesTab::showStill(const QString &path) {
  Image1->hide();
  Image1->ClearPage();
  PGImage2->show();
  wanted_ = path;
  ++generation_;
  // One decode at a time: while one runs, only the last picture asked for is remembered, and it starts when
  // the running one ends (whose picture is then no longer wanted).
  if (!decoding_) startDecode();
}

void TImagesTab::startDecode() {
  const QString path = wanted_;
  const int generation = generation_;
  const QSize room = PGImage2->viewport()->size() * PGImage2->devicePixelRatioF();
  decoding_ = new QFutureWatcher<Decoded>(this);
  connect(decoding_, &QFutureWatcherBase::finished, this, [this, path, generation] {
    const Decoded d = decoding_->result();
    decoding_->deleteLater();
    decoding_ = nullptr;
    if (generation != generation_) {  // a newer click came meanwhile
      startDecode();
      return;
    }
    if (d.image.isNull()) {
      host.showStatusText(d.error.isEmpty() ? QStringLiteral("Cannot show %1.").arg(path)
                                            : QStringLiteral("Cannot show %1: %2").arg(path, d.error));
      emit pictureShown(false);
      return;
    }
    PGImage2->setImage(d.image, path);
    emit pictureShown(true);
  });
  decoding_->setFuture(QtConcurrent::run([path, room] { return decode(path, room); }));
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
