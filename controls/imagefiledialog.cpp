#include "controls/imagefiledialog.h"
#include "controls/thumbnails.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QtConcurrent>

#include <atomic>
#include <memory>

namespace imagedlg {

namespace {

constexpr int kThumb = 96;
constexpr int kMaxThumbs = 5000;  // beyond this a strip helps nobody

// The name patterns of the dialog's current filter: "Pictures (*.png *.jpg)" gives *.png and *.jpg.
QStringList patternsOf(const QString &filter) {
  static const QRegularExpression paren(QStringLiteral("\\(([^()]*)\\)\\s*$"));
  const QRegularExpressionMatch m = paren.match(filter);
  return m.hasMatch() ? m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList{QStringLiteral("*")};
}

// Fills the strip with the folder's pictures; a new folder or the dialog's end stops the job before.
class ThumbFiller : public QObject {
 public:
  explicit ThumbFiller(QListWidget *strip) : QObject(strip), strip_(strip) {}
  ~ThumbFiller() override { stop(); }

  void fill(const QString &folder, const QStringList &patterns) {
    stop();
    strip_->clear();
    cancel_ = std::make_shared<std::atomic_bool>(false);
    auto cancel = cancel_;
    QPointer<QListWidget> strip = strip_;
    job_ = QtConcurrent::run([folder, patterns, cancel, strip] {
      QDir dir(folder);
      const QFileInfoList files =
          dir.entryInfoList(patterns, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
      int made = 0;
      for (const QFileInfo &fi : files) {
        if (*cancel || made >= kMaxThumbs) return;
        // Through the desktop's thumbnail cache: a folder seen before (by any file manager) shows at once.
        QImage img = thumbs::thumbnail(fi.absoluteFilePath());
        if (img.isNull() || *cancel) continue;
        if (img.width() > kThumb || img.height() > kThumb)  // the strip's size: a fraction of the memory
          img = img.scaled(kThumb, kThumb, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        ++made;
        const QString name = fi.fileName();
        QMetaObject::invokeMethod(
            strip,
            [strip, img, name, cancel] {
              if (*cancel || !strip) return;
              auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(img)), name, strip);
              item->setToolTip(name);
            },
            Qt::QueuedConnection);
      }
    });
  }

  void stop() {
    if (cancel_) *cancel_ = true;
    job_.waitForFinished();
  }

 private:
  QListWidget *strip_;
  std::shared_ptr<std::atomic_bool> cancel_;
  QFuture<void> job_;
};

}  // namespace

QString openImage(QWidget *owner, const QString &title, const QString &folder, const QString &qtFilter) {
  QFileDialog dlg(owner, title, folder, qtFilter);
  dlg.setObjectName(QStringLiteral("PGOpenDialog1"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  auto *strip = new QListWidget(&dlg);
  strip->setObjectName(QStringLiteral("Thumbnails"));
  strip->setViewMode(QListView::IconMode);
  strip->setIconSize(QSize(kThumb, kThumb));
  strip->setGridSize(QSize(kThumb + 24, kThumb + 40));
  strip->setResizeMode(QListView::Adjust);
  strip->setMovement(QListView::Static);
  strip->setUniformItemSizes(true);
  strip->setMinimumHeight(kThumb + 40);
  if (auto *grid = qobject_cast<QGridLayout *>(dlg.layout())) grid->addWidget(strip, grid->rowCount(), 0, 1, -1);
  dlg.resize(760, 620);
  auto *filler = new ThumbFiller(strip);
  auto refill = [&dlg, filler] { filler->fill(dlg.directory().absolutePath(), patternsOf(dlg.selectedNameFilter())); };
  QObject::connect(&dlg, &QFileDialog::directoryEntered, filler, refill);
  QObject::connect(&dlg, &QFileDialog::filterSelected, filler, refill);
  QObject::connect(strip, &QListWidget::itemClicked, &dlg, [&dlg](QListWidgetItem *it) { dlg.selectFile(it->text()); });
  QString picked;  // a double-clicked thumbnail: its file, without the dialog's own checks of a typed name
  QObject::connect(strip, &QListWidget::itemDoubleClicked, &dlg, [&dlg, &picked](QListWidgetItem *it) {
    picked = dlg.directory().filePath(it->text());
    static_cast<QDialog &>(dlg).done(QDialog::Accepted);
  });
  refill();
  const bool ok = dlg.exec() == QDialog::Accepted;
  filler->stop();
  if (!ok) return QString();
  if (!picked.isEmpty()) return picked;
  return dlg.selectedFiles().isEmpty() ? QString() : dlg.selectedFiles().first();
}

}  // namespace imagedlg
