#pragma once
// Find Files: name masks, optional containing text, optional subfolders; the search runs on a worker
// thread, results arrive in batches, and Stop ends it. Results can be opened or shown in their folder.
#include <QDialog>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <functional>

class QThread;
class QLineEdit;
class QCheckBox;
class QPushButton;
class QLabel;
class QTreeWidget;

namespace browser {

struct FindCriteria {
  QString folder;
  QString masks = QStringLiteral("*");  // "*.txt;*.doc"; a mask without wildcards matches names containing it
  QString text;                         // empty: any content
  bool subfolders = true;
};

// Name test of the masks (case-insensitive, ';' or ',' between masks).
bool nameMatchesMasks(const QString &name, const QString &masks);
// Whether the file holds the text (UTF-8, ASCII letters case-insensitive); stops early when *stop is set.
bool fileContainsText(const QByteArray &path, const QByteArray &needle, const std::atomic<bool> *stop = nullptr);

class TFileSearch : public QObject {
  Q_OBJECT
 public:
  explicit TFileSearch(QObject *parent = nullptr);
  ~TFileSearch() override;  // stops and waits
  void start(const FindCriteria &criteria);
  void stop() { stop_.store(true); }
  bool isRunning() const { return running_; }

 signals:
  void found(const QStringList &paths);  // batches, a few per second at most
  void searching(const QString &folder);
  void finished(int count, bool stopped);

 private:
  QThread *thread_ = nullptr;
  std::atomic<bool> stop_{false};
  bool running_ = false;
};

class TFindFilesDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TFindFilesDialog(const QString &startFolder, QWidget *parent = nullptr);
  ~TFindFilesDialog() override;

  void setCriteria(const FindCriteria &c);
  FindCriteria criteria() const;
  QStringList results() const;
  QString statusText() const;
  bool isSearching() const;
  // "Open Containing Folder" asks the main window to show the item; set by the owner.
  std::function<void(const QString &path)> onReveal;

 public slots:
  void findNow();
  void stopSearch();
  void openResult(int row);
  void revealResult(int row);

 private:
  void addResults(const QStringList &paths);
  int currentRow() const;

  QLineEdit *named_;
  QLineEdit *containing_;
  QLineEdit *lookIn_;
  QCheckBox *subfolders_;
  QPushButton *find_;
  QPushButton *stop_;
  QPushButton *open_;
  QPushButton *reveal_;
  QTreeWidget *list_;
  QLabel *status_;
  TFileSearch *search_ = nullptr;
};

}  // namespace browser
