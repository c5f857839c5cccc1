#pragma once
// Copies and moves run one at a time, in the order asked: a transfer started while another runs waits
// here instead of fighting the first for the disk. Waiting ones can be held back (paused), moved up or
// down, or dropped; the running one can be paused between chunks or cancelled, and the next one starts as
// soon as it has stopped. The queue does not make the transfers: a starter given by the file commands
// makes each runner (with its progress window and what follows its end) when its turn comes.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include "platform/fileops.h"

namespace platform {
class TTransferRunner;
}

namespace browser {

class TTransferQueue : public QObject {
  Q_OBJECT
 public:
  struct Job {
    int id = 0;
    platform::NativePaths sources;
    platform::NativePath target;
    platform::TransferMode mode = platform::TransferMode::Copy;
    bool paused = false;                         // waiting and held back, or running and paused
    QPointer<platform::TTransferRunner> runner;  // set once it runs
    int tag = 0;                                 // the caller's, given back to its starter
    bool waited = false;                         // it did not start when added
  };
  // Makes and starts the runner of a job whose turn has come; the queue follows its finished signal.
  using Starter = std::function<platform::TTransferRunner *(const Job &)>;

  explicit TTransferQueue(Starter starter, QObject *parent = nullptr);

  // Adds a job at the end; it starts at once when nothing runs and it is not added paused. Its id.
  int add(const platform::NativePaths &sources, const platform::NativePath &target, platform::TransferMode mode,
          bool paused = false, int tag = 0);
  // The running job (if any) first, then the waiting ones in the order they will run.
  const QList<Job> &jobs() const { return jobs_; }
  int waiting() const;
  bool addPaused() const { return addPaused_; }
  void setAddPaused(bool on) { addPaused_ = on; }

  void setPaused(int id, bool paused);
  // Moves a waiting job one place earlier or later among the waiting ones.
  void move(int id, int by);
  // A waiting job is dropped; the running one is cancelled (its partial file goes, as with Cancel).
  void cancel(int id);
  // The text of a job's row: "Copying 3 items to /x", with its state.
  static QString describe(const Job &job);

 signals:
  void changed();

 private:
  int indexOf(int id) const;
  void startNext(bool waited);

  Starter starter_;
  QList<Job> jobs_;
  int nextId_ = 1;
  bool addPaused_ = false;
};

}  // namespace browser
