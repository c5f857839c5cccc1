#pragma once
// What the compare window needs of the main window: the questions a user answers (tests answer them from
// a list), and telling the lists that files changed.
#include <QString>
#include <QStringList>

namespace platform {
class TransferQuestions;
}

class TCompareHost {
 public:
  virtual ~TCompareHost() = default;
  // Shows the steps a synchronisation is about to run, one a line; true when the user wants them run.
  virtual bool confirmPlan(const QStringList &steps) = 0;
  // Answers the copy engine's questions the plan did not foresee (errors, a target changed since the
  // comparison); null skips such items.
  virtual platform::TransferQuestions *transferQuestions() = 0;
  // A folder for one of the path boxes, starting at `start`; empty when the user cancels.
  virtual QString chooseFolder(const QString &start) = 0;
  // A synchronisation changed files: the lists show them anew.
  virtual void filesChanged() = 0;
};
