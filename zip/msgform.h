#pragma once
// TMsgform: the zip messages window ("Tarnwick - Zip Messages"): the member being worked on with its
// progress, the message log, the whole operation's progress in the status bar, Exit and Cancel.
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTextEdit;
class TDirLabel;

class TMsgform : public QWidget {
  Q_OBJECT
 public:
  explicit TMsgform(QWidget *parent = nullptr);

  TDirLabel *FileBeingZipped = nullptr;
  QLabel *FileBeingZippedCaption = nullptr;
  QProgressBar *ProgressBar1 = nullptr;  // the member's progress, 1..101
  QTextEdit *RichEdit1 = nullptr;
  QStatusBar *StatusBar1 = nullptr;
  QLabel *StatusBar1Panels[2] = {};
  QProgressBar *ProgressBar2 = nullptr;  // the whole operation, 1..101, over the status bar
  QPushButton *Button1 = nullptr;  // "&Exit"
  QPushButton *Button2 = nullptr;  // "&Cancel"

  // Asked by Cancel: true while the zip component is adding or extracting (then Cancel only requests
  // cancelling), and the request itself.
  std::function<bool()> isBusy;
  std::function<void()> requestCancel;

  void DismissButClick();
  void CancelButClick();
  // Appends one line to the log and keeps it in view.
  void appendLine(const QString &line);

 protected:
  void resizeEvent(QResizeEvent *e) override;

 private:
  void FormResize();
  int createdWidth_ = 0;
};
