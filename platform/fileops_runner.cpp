#include "platform/fileops_runner.h"
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <memory>

namespace platform {

TTransferRunner::TTransferRunner(NativePaths sources, NativePath targetFolder, TransferMode mode,
                                 TransferQuestions *ui, QObject *parent)
    : QObject(parent), transfer_(std::move(sources), std::move(targetFolder), mode), mode_(mode), ui_(ui) {
  qRegisterMetaType<platform::TransferProgress>();
  qRegisterMetaType<platform::TransferResult>();
}

TTransferRunner::~TTransferRunner() {
  if (!thread_) return;
  transfer_.cancel();
  {
    QMutexLocker lock(&sync_->mutex);
    sync_->abandoned = true;
    sync_->answered.wakeAll();
  }
  thread_->wait();
  delete thread_;
}

void TTransferRunner::start() {
  if (thread_) return;
  running_ = true;
  sinceEmit_.start();
  thread_ = QThread::create([this] { result_ = transfer_.run(*this); });
  connect(thread_, &QThread::finished, this, [this] {
    running_ = false;
    emit progressChanged(last_);
    emit finished(result_);
  });
  thread_->start();
}

void TTransferRunner::cancel() {
  transfer_.cancel();
}

void TTransferRunner::progress(const TransferProgress &p) {
  // Worker thread. The signal is emitted on the owner's thread, at most once per interval, so that the
  // owner's event loop never floods however many small files go by.
  {
    QMutexLocker lock(&progressMutex_);
    last_ = p;
  }
  if (sinceEmit_.elapsed() < intervalMs_) return;
  sinceEmit_.restart();
  QMetaObject::invokeMethod(this, [this, p] { emit progressChanged(p); }, Qt::QueuedConnection);
}

// Blocks the worker until the owner thread has run `ask`, or until the runner is being destroyed.
void TTransferRunner::askOnOwnerThread(const std::function<void()> &ask) {
  auto done = std::make_shared<bool>(false);
  std::shared_ptr<Sync> sync = sync_;
  QMutexLocker lock(&sync->mutex);
  if (sync->abandoned) return;
  QMetaObject::invokeMethod(
      this,
      [sync, ask, done] {
        ask();
        QMutexLocker l(&sync->mutex);
        *done = true;
        sync->answered.wakeAll();
      },
      Qt::QueuedConnection);
  while (!*done && !sync->abandoned) sync->answered.wait(&sync->mutex);
}

ConflictReply TTransferRunner::askConflict(const ConflictQuestion &q) {
  if (!ui_) return {ConflictAnswer::Skip, true};
  auto reply = std::make_shared<ConflictReply>();
  reply->answer = ConflictAnswer::Cancel;
  TransferQuestions *ui = ui_;
  askOnOwnerThread([ui, q, reply] { *reply = ui->askConflict(q); });
  return *reply;
}

ErrorAnswer TTransferRunner::askError(const ErrorQuestion &q) {
  if (!ui_) return ErrorAnswer::Skip;
  auto answer = std::make_shared<ErrorAnswer>(ErrorAnswer::Cancel);
  TransferQuestions *ui = ui_;
  askOnOwnerThread([ui, q, answer] { *answer = ui->askError(q); });
  return *answer;
}

}  // namespace platform
