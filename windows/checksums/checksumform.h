#pragma once
// The checksum window: makes a checksum file (SHA256SUMS and its kin, as sha256sum writes them) for chosen
// files and folders, or checks the files a checksum file names, reporting OK, FAILED or missing for each.
// The reading runs on a thread of its own with a progress bar and Cancel; a checksum file is written
// whole, through a temporary file, only when every file was read.
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <memory>

#include "windows/checksums/checksums.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;

class TChecksumForm : public QWidget {
  Q_OBJECT
 public:
  explicit TChecksumForm(QWidget *parent = nullptr);
  ~TChecksumForm() override;

  // Shows the files (folders: every file under them) to make a checksum file for in folder.
  void prepareCreate(const QString &folder, const QStringList &paths);
  // Checks every file the checksum file names.
  void startVerify(const QString &sumsFile);
  // Makes the checksum file prepared (the Create button).
  void startCreate();
  void cancel();

  bool busy() const { return worker_ != nullptr; }
  QTreeWidget *list() const { return list_; }
  QLabel *summary() const { return summary_; }
  QLineEdit *fileName() const { return name_; }
  QComboBox *algorithm() const { return algo_; }
  QPushButton *createButton() const { return create_; }

 signals:
  void finished();

 protected:
  void closeEvent(QCloseEvent *e) override;

 private:
  struct Item {
    QByteArray name;  // relative to the folder, bytes as on the disk
    QByteArray hex;   // expected (verify) or found (create)
  };
  void run(bool verify);
  void itemDone(int row, const QString &result, const QByteArray &hex);
  void workEnded(bool cancelled);
  void setRows();
  void updateNameHint();

  QString folder_, sumsFile_;
  checksums::Algo algoInUse_ = checksums::Algo::Sha256;
  QVector<Item> items_;
  int ok_ = 0, failed_ = 0, missing_ = 0, unreadable_ = 0;
  bool verifying_ = false;
  std::atomic_bool cancel_{false};
  QThread *worker_ = nullptr;
  QTreeWidget *list_;
  QLabel *summary_;
  QLineEdit *name_;
  QComboBox *algo_;
  QProgressBar *bar_;
  QPushButton *create_, *cancelButton_, *close_;
  QWidget *createRow_;
};
