#pragma once
// What a synchronisation does to each compared row, the list of steps shown before anything runs, and the
// run itself: copies go through the program's copy engine (platform::TTransferRunner: complete files only,
// links as links), deletes go to the Trash, and nothing the plan did not name is overwritten.
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include "platform/fileops.h"
#include "windows/compare/foldercompare.h"

namespace platform {
class TTransferRunner;
}

namespace comparing {

enum class Action { Skip, CopyToRight, CopyToLeft, DeleteLeft, DeleteRight };
QString actionText(Action action);

// Newer wins, one-sided entries are copied to the other side; nothing is deleted unless the user says so,
// and rows that say nothing about which side is right (different at the same time, type differs) are skipped.
Action defaultAction(const Row &row);
// Whether the row has what the action needs (a copy needs its source, a delete its victim).
bool allowed(const Row &row, Action action);

struct Step {
  Action action;
  Row row;
};
// The rows that do something, in tree order.
QVector<Step> planSteps(const QVector<Row> &rows, const QVector<Action> &actions);
// One line per step, naming full paths and what gets replaced, as the run will do it.
QStringList describe(const QVector<Step> &steps, const NativePath &left, const NativePath &right);

struct SyncResult {
  bool cancelled = false;
  int done = 0, skipped = 0, failed = 0;  // steps
  QStringList errors;
};

// Runs the steps one after the other on the owner's thread; copies run on the copy engine's worker. `ui`
// answers errors and conflicts the plan did not foresee (a target changed since the comparison); null skips.
class TSyncRun : public QObject, private platform::TransferQuestions {
  Q_OBJECT
 public:
  TSyncRun(QVector<Step> steps, NativePath left, NativePath right, platform::TransferQuestions *ui,
           QObject *parent = nullptr);
  ~TSyncRun() override;
  void start();
  void cancel();
  bool isRunning() const { return running_; }
  int stepCount() const { return int(steps_.size()); }

 signals:
  // `step` counts from 0; bytes are those of the copy under way.
  void progressChanged(int step, int steps, const QString &current, qint64 bytesDone, qint64 bytesTotal);
  void finished(const comparing::SyncResult &result);

 private:
  void next();
  void runDelete(const Step &s);
  void runCopies(int first, int last);
  bool trash(const NativePath &path);
  void finish();
  platform::ConflictReply askConflict(const platform::ConflictQuestion &q) override;
  platform::ErrorAnswer askError(const platform::ErrorQuestion &q) override;

  QVector<Step> steps_;
  NativePath left_, right_;
  platform::TransferQuestions *ui_;
  int at_ = 0;
  bool running_ = false, cancelled_ = false, skipAllErrors_ = false;
  SyncResult result_;
  QPointer<platform::TTransferRunner> runner_;
  // Targets the running copies may replace, with what the comparison saw there.
  QHash<NativePath, Side> expected_;
};

}  // namespace comparing

Q_DECLARE_METATYPE(comparing::SyncResult)
