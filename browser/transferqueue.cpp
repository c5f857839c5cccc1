#include "browser/transferqueue.h"

#include "platform/fileops_runner.h"

namespace browser {

TTransferQueue::TTransferQueue(Starter starter, QObject *parent) : QObject(parent), starter_(std::move(starter)) {}

int TTransferQueue::add(const platform::NativePaths &sources, const platform::NativePath &target,
                        platform::TransferMode mode, bool paused, int tag) {
  Job job;
  job.id = nextId_++;
  job.sources = sources;
  job.target = target;
  job.mode = mode;
  job.paused = paused || addPaused_;
  job.tag = tag;
  jobs_ << job;
  startNext(false);
  emit changed();
  return job.id;
}

int TTransferQueue::waiting() const {
  int n = 0;
  for (const Job &j : jobs_) n += j.runner ? 0 : 1;
  return n;
}

int TTransferQueue::indexOf(int id) const {
  for (int i = 0; i < jobs_.size(); ++i)
    if (jobs_[i].id == id) return i;
  return -1;
}

void TTransferQueue::startNext(bool waited) {
  for (const Job &j : jobs_)
    if (j.runner) return;  // one at a time
  for (int i = 0; i < jobs_.size(); ++i) {
    if (jobs_[i].paused) continue;
    const int id = jobs_[i].id;
    jobs_[i].waited = waited;  // from add() only the job just added can start
    platform::TTransferRunner *runner = starter_(jobs_[i]);
    if (!runner) {  // refused before it began (an archive folder, say): nothing to wait for
      jobs_.removeAt(i);
      return startNext(waited);
    }
    jobs_[i].runner = runner;
    jobs_.move(i, 0);  // the running one is the first row
    connect(runner, &platform::TTransferRunner::finished, this, [this, id] {
      const int at = indexOf(id);
      if (at >= 0) jobs_.removeAt(at);
      startNext(true);
      emit changed();
    });
    return;
  }
}

void TTransferQueue::setPaused(int id, bool paused) {
  const int at = indexOf(id);
  if (at < 0) return;
  jobs_[at].paused = paused;
  if (jobs_[at].runner) jobs_[at].runner->setPaused(paused);
  startNext(true);
  emit changed();
}

void TTransferQueue::move(int id, int by) {
  const int at = indexOf(id);
  if (at < 0 || jobs_[at].runner) return;
  const int first = (!jobs_.isEmpty() && jobs_[0].runner) ? 1 : 0;  // the running one stays on top
  const int to = qBound(first, at + by, int(jobs_.size()) - 1);
  if (to == at) return;
  jobs_.move(at, to);
  emit changed();
}

void TTransferQueue::cancel(int id) {
  const int at = indexOf(id);
  if (at < 0) return;
  if (jobs_[at].runner) {
    jobs_[at].runner->cancel();  // the next starts from its finished signal
    return;
  }
  jobs_.removeAt(at);
  emit changed();
}

QString TTransferQueue::describe(const Job &job) {
  const QString what = job.sources.size() == 1
                           ? "\"" + platform::displayPath(platform::fileNameOf(job.sources[0])) + "\""
                           : tr("%1 items").arg(job.sources.size());
  const QString text = (job.mode == platform::TransferMode::Copy ? tr("Copying %1 to %2") : tr("Moving %1 to %2"))
                           .arg(what, "\"" + platform::displayPath(job.target) + "\"");
  const QString state =
      job.runner ? (job.paused ? tr("paused") : tr("running")) : (job.paused ? tr("held") : tr("waiting"));
  return text + " (" + state + ")";
}

}  // namespace browser
