#include "browser/progressdialog.h"
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include "browser/transferqueue.h"
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

void TProgressDialog::setQueue(TTransferQueue *queue, int id) {
  queue_ = queue;
  jobId_ = id;
  pause_ = new QPushButton(tr("&Pause"), this);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(pause_);
  layout()->removeWidget(cancel_);
  buttons->addWidget(cancel_);
  static_cast<QVBoxLayout *>(layout())->addLayout(buttons);
  connect(pause_, &QPushButton::clicked, this, [this] {
    if (!queue_ || !runner_) return;
    const bool pause = !runner_->isPaused();
    queue_->setPaused(jobId_, pause);
    pause_->setText(pause ? tr("&Resume") : tr("&Pause"));
  });

  queueBox_ = new QWidget(this);
  auto *box = new QVBoxLayout(queueBox_);
  box->setContentsMargins(0, 0, 0, 0);
  box->addWidget(new QLabel(tr("Waiting to start after this one:"), queueBox_));
  waiting_ = new QListWidget(queueBox_);
  waiting_->setObjectName("Queue");
  box->addWidget(waiting_);
  auto *row = new QHBoxLayout;
  auto *up = new QPushButton(tr("Move &Up"), queueBox_);
  auto *down = new QPushButton(tr("Move &Down"), queueBox_);
  hold_ = new QPushButton(tr("&Hold"), queueBox_);
  auto *remove = new QPushButton(tr("Re&move"), queueBox_);
  addPaused_ = new QCheckBox(tr("&Add new ones held"), queueBox_);
  for (QWidget *w : {static_cast<QWidget *>(up), static_cast<QWidget *>(down), static_cast<QWidget *>(hold_),
                     static_cast<QWidget *>(remove), static_cast<QWidget *>(addPaused_)})
    row->addWidget(w);
  box->addLayout(row);
  static_cast<QVBoxLayout *>(layout())->insertWidget(layout()->count() - 1, queueBox_);
  connect(up, &QPushButton::clicked, this, [this] {
    if (queue_) queue_->move(pickedJob(), -1);
  });
  connect(down, &QPushButton::clicked, this, [this] {
    if (queue_) queue_->move(pickedJob(), 1);
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (queue_) queue_->cancel(pickedJob());
  });
  connect(hold_, &QPushButton::clicked, this, [this] {
    if (!queue_) return;
    for (const TTransferQueue::Job &j : queue_->jobs())
      if (j.id == pickedJob()) queue_->setPaused(j.id, !j.paused);
  });
  connect(addPaused_, &QCheckBox::toggled, this, [this](bool on) {
    if (queue_) queue_->setAddPaused(on);
  });
  connect(waiting_, &QListWidget::currentRowChanged, this, [this] { showQueue(); });
  connect(queue, &TTransferQueue::changed, this, &TProgressDialog::showQueue);
  showQueue();
}

int TProgressDialog::pickedJob() const {
  const QListWidgetItem *item = waiting_ ? waiting_->currentItem() : nullptr;
  return item ? item->data(Qt::UserRole).toInt() : 0;
}

void TProgressDialog::showQueue() {
  if (!queue_ || !queueBox_) return;
  const int picked = pickedJob();
  const QSignalBlocker block(waiting_);
  waiting_->clear();
  for (const TTransferQueue::Job &j : queue_->jobs()) {
    if (j.runner) continue;
    auto *item = new QListWidgetItem(TTransferQueue::describe(j), waiting_);
    item->setData(Qt::UserRole, j.id);
    if (j.id == picked) waiting_->setCurrentItem(item);
  }
  if (!waiting_->currentItem() && waiting_->count() > 0) waiting_->setCurrentRow(0);
  bool pickedHeld = false;
  for (const TTransferQueue::Job &j : queue_->jobs())
    if (j.id == pickedJob()) pickedHeld = j.paused;
  hold_->setText(pickedHeld ? tr("&Release") : tr("&Hold"));
  addPaused_->setChecked(queue_->addPaused());
  queueBox_->setVisible(waiting_->count() > 0);
  adjustSize();
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
