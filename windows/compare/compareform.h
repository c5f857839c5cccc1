#pragma once
// The compare-folders window: two path boxes, options, a filtered and sorted table of every compared
// entry with its kind and the action a synchronisation takes on it, and Synchronize, which shows the steps
// first, runs them with one progress window and Cancel, and compares again.
#include <QDialog>
#include <QVector>
#include <atomic>
#include <memory>

#include "windows/compare/comparehost.h"
#include "windows/compare/foldercompare.h"
#include "windows/compare/syncplan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QThread;

namespace comparing {
class TCompareModel;
}

class TCompareForm : public QDialog {
  Q_OBJECT
 public:
  TCompareForm(TCompareHost &host, const QString &left, const QString &right, QWidget *parent = nullptr);
  ~TCompareForm() override;

  QLineEdit *leftBox() const { return left_; }
  QLineEdit *rightBox() const { return right_; }
  QCheckBox *contentBox() const { return content_; }
  QComboBox *contentMode() const { return contentMode_; }
  QCheckBox *recursiveBox() const { return recursive_; }
  QCheckBox *filterBox(comparing::Kind kind) const { return filters_[int(kind)]; }
  QPushButton *compareButton() const { return compare_; }
  QPushButton *syncButton() const { return sync_; }
  QTableView *table() const { return table_; }
  QLabel *status() const { return status_; }
  bool isComparing() const { return worker_ != nullptr; }
  bool isSynchronizing() const { return run_ != nullptr; }
  // The rows of the last comparison and their actions (in tree order).
  const QVector<comparing::Row> &rows() const;
  const QVector<comparing::Action> &actions() const;
  // Sets the action of the rows the table shows selected, where the row allows it.
  void setSelectedAction(comparing::Action action);
  // Sets the action of one row (tree order), where it allows it.
  void setAction(int row, comparing::Action action);

 public slots:
  void startCompare();
  void synchronize();

 protected:
  void closeEvent(QCloseEvent *e) override;

 private:
  void compared();
  void updateCounts();
  void syncFinished(const comparing::SyncResult &r);

  TCompareHost &host_;
  QLineEdit *left_, *right_;
  QCheckBox *content_, *recursive_, *fatTimes_;
  QComboBox *contentMode_;
  QCheckBox *filters_[comparing::kKindCount];
  QPushButton *compare_, *sync_;
  QTableView *table_;
  QLabel *status_;
  comparing::TCompareModel *model_;
  QSortFilterProxyModel *proxy_;
  QThread *worker_ = nullptr;
  std::atomic<bool> cancel_{false};
  std::shared_ptr<comparing::Result> pending_;
  platform::NativePath comparedLeft_, comparedRight_;
  comparing::TSyncRun *run_ = nullptr;
  QProgressDialog *progress_ = nullptr;
};

// The list of steps shown before a synchronisation runs; true for "Run".
bool showPlanDialog(QWidget *parent, const QStringList &steps);
