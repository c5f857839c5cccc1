#pragma once
// Progress of a copy or move: the current file, its bytes, the whole operation, and Cancel.
// Closes itself when the transfer finishes.
#include <QDialog>
#include <QPointer>
#include "platform/fileops.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QWidget;

namespace platform {
class TTransferRunner;
}

namespace browser {

class TTransferQueue;

class TProgressDialog : public QDialog {
  Q_OBJECT
 public:
  TProgressDialog(platform::TTransferRunner *runner, QWidget *parent = nullptr);
  // Shows the dialog only if the transfer is still running after a moment, so quick pastes do not flash.
  void showDelayed(int ms = 400);
  // The transfer is job `id` of the queue: Pause/Resume for it, and the jobs waiting behind it (hold or
  // release, move up or down, remove, add new ones held) while there are any.
  void setQueue(TTransferQueue *queue, int id);

  QString currentFileText() const;
  QString bytesText() const;
  QString overallText() const;
  int filePercent() const;
  int overallPercent() const;

 public slots:
  void cancelTransfer();

 protected:
  void reject() override;  // Escape and the close button cancel too

 private:
  void update(const platform::TransferProgress &p);
  void showQueue();
  int pickedJob() const;  // the id of the waiting job picked in the list, or 0

  QPointer<platform::TTransferRunner> runner_;
  QLabel *current_;
  QLabel *bytes_;
  QLabel *overall_;
  QProgressBar *fileBar_;
  QProgressBar *overallBar_;
  QPushButton *cancel_;
  QPushButton *pause_ = nullptr;
  QWidget *queueBox_ = nullptr;
  QListWidget *waiting_ = nullptr;
  QPushButton *hold_ = nullptr;
  QCheckBox *addPaused_ = nullptr;
  QPointer<TTransferQueue> queue_;
  int jobId_ = 0;
  bool finished_ = false;
};

}  // namespace browser
