#pragma once
// Progress of a copy or move: the current file, its bytes, the whole operation, and Cancel.
// Closes itself when the transfer finishes.
#include <QDialog>
#include <QPointer>
#include "platform/fileops.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace platform {
class TTransferRunner;
}

namespace browser {

class TProgressDialog : public QDialog {
  Q_OBJECT
 public:
  TProgressDialog(platform::TTransferRunner *runner, QWidget *parent = nullptr);
  // Shows the dialog only if the transfer is still running after a moment, so quick pastes do not flash.
  void showDelayed(int ms = 400);

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

  QPointer<platform::TTransferRunner> runner_;
  QLabel *current_;
  QLabel *bytes_;
  QLabel *overall_;
  QProgressBar *fileBar_;
  QProgressBar *overallBar_;
  QPushButton *cancel_;
  bool finished_ = false;
};

}  // namespace browser
