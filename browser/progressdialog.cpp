#include "browser/progressdialog.h"
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include "platform/fileops_runner.h"

namespace browser {

namespace {
int percent(qint64 done, qint64 total) { return total <= 0 ? 0 : int(done * 100 / total); }
}  // namespace

TProgressDialog::TProgressDialog(platform::TTransferRunner *runner, QWidget *parent)
    : QDialog(parent), runner_(runner) {
  setWindowTitle(platform::transferVerb(runner->mode()));
  setMinimumWidth(460);
  auto *layout = new QVBoxLayout(this);
  current_ = new QLabel(this);
  current_->setTextFormat(Qt::PlainText);
  current_->setWordWrap(true);
  fileBar_ = new QProgressBar(this);
  fileBar_->setRange(0, 100);
  bytes_ = new QLabel(this);
  overallBar_ = new QProgressBar(this);
  overallBar_->setRange(0, 100);
  overall_ = new QLabel(this);
  cancel_ = new QPushButton(tr("Cancel"), this);
  layout->addWidget(current_);
  layout->addWidget(fileBar_);
  layout->addWidget(bytes_);
  layout->addWidget(overallBar_);
  layout->addWidget(overall_);
  layout->addWidget(cancel_, 0, Qt::AlignRight);
  connect(cancel_, &QPushButton::clicked, this, &TProgressDialog::cancelTransfer);
  connect(runner, &platform::TTransferRunner::progressChanged, this, &TProgressDialog::update);
  connect(runner, &platform::TTransferRunner::finished, this, [this] {
    finished_ = true;
    close();
  });
  current_->setText(platform::transferVerb(runner->mode()) + "...");
}

void TProgressDialog::showDelayed(int ms) {
  QTimer::singleShot(ms, this, [this] {
    if (!finished_) show();
  });
}

void TProgressDialog::cancelTransfer() {
  if (runner_) runner_->cancel();
  cancel_->setEnabled(false);
  cancel_->setText(tr("Cancelling..."));
}

void TProgressDialog::reject() {
  if (finished_) {
    QDialog::reject();
    return;
  }
  cancelTransfer();  // the dialog closes when the worker has cleaned up
}

void TProgressDialog::update(const platform::TransferProgress &p) {
  const QLocale locale;
  if (!p.currentSource.isEmpty()) {
    current_->setText(tr("%1 \"%2\"\nfrom \"%3\"\nto \"%4\"")
                          .arg(windowTitle(), platform::displayPath(platform::fileNameOf(p.currentSource)),
                               platform::displayPath(platform::folderOf(p.currentSource)),
                               platform::displayPath(platform::folderOf(p.currentTarget))));
  }
  fileBar_->setValue(percent(p.fileDone, p.fileTotal));
  bytes_->setText(tr("%1 of %2").arg(locale.formattedDataSize(p.fileDone), locale.formattedDataSize(p.fileTotal)));
  const bool byBytes = p.bytesTotal > 0;
  overallBar_->setValue(byBytes ? percent(p.bytesDone, p.bytesTotal) : percent(p.itemsDone, p.itemsTotal));
  overall_->setText(tr("%1 of %2 items, %3 of %4")
                        .arg(p.itemsDone)
                        .arg(p.itemsTotal)
                        .arg(locale.formattedDataSize(p.bytesDone), locale.formattedDataSize(p.bytesTotal)));
}

QString TProgressDialog::currentFileText() const { return current_->text(); }
QString TProgressDialog::bytesText() const { return bytes_->text(); }
QString TProgressDialog::overallText() const { return overall_->text(); }
int TProgressDialog::filePercent() const { return fileBar_->value(); }
int TProgressDialog::overallPercent() const { return overallBar_->value(); }

}  // namespace browser
