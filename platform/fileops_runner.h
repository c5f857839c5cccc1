#pragma once
// Runs a TFileTransfer on a worker thread: progress arrives as signals on the owner's thread (throttled so
// the event loop never floods), and the engine's questions are answered there by a TransferQuestions the
// caller supplies (the dialogs in real use, a scripted answerer in tests).
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <functional>
#include <memory>
#include "platform/fileops.h"

class QThread;

namespace platform {

class TTransferRunner : public QObject, private TransferQuestions {
  Q_OBJECT
 public:
  // `ui` is called on this object's thread; it is not owned and must outlive the run. Null answers every
  // conflict with Skip and every error with Skip.
  TTransferRunner(NativePaths sources, NativePath targetFolder, TransferMode mode, TransferQuestions *ui,
                  QObject *parent = nullptr);
  // Cancels a running transfer and waits for the worker; no partial file stays behind.
  ~TTransferRunner() override;

  void start();
  void cancel();
  // Holds the transfer between two chunks until resumed (or cancelled).
  void setPaused(bool paused) { transfer_.setPaused(paused); }
  bool isPaused() const { return transfer_.isPaused(); }
  bool isRunning() const { return running_; }
  TransferMode mode() const { return mode_; }
  const TransferResult &result() const { return result_; }
  // Least time between two progressChanged signals.
  void setProgressInterval(int ms) { intervalMs_ = ms; }

 signals:
  void progressChanged(const platform::TransferProgress &progress);
  void finished(const platform::TransferResult &result);

 private:
  ConflictReply askConflict(const ConflictQuestion &q) override;
  ErrorAnswer askError(const ErrorQuestion &q) override;
  void progress(const TransferProgress &p) override;
  void askOnOwnerThread(const std::function<void()> &ask);

  TFileTransfer transfer_;
  TransferMode mode_;
  TransferQuestions *ui_;
  QThread *thread_ = nullptr;
  bool running_ = false;
  TransferResult result_;
  TransferProgress last_;
  QElapsedTimer sinceEmit_;
  int intervalMs_ = 50;
  // Shared with the question calls queued to the owner thread, which may still be returning from a dialog
  // when this object is already gone.
  struct Sync {
    QMutex mutex;
    QWaitCondition answered;
    bool abandoned = false;
  };
  std::shared_ptr<Sync> sync_ = std::make_shared<Sync>();
  QMutex progressMutex_;
};

}  // namespace platform
