#pragma once
// TTarnScan: the image scanner window. Chooses a scanner, acquires one picture from it (the scan runs on a
// worker thread with its progress and Cancel), shows it and saves it; the saved file becomes the main
// window's current file. Shown modally; everything it needs goes through the TScanHost it is given.
#include <QDialog>

class QAction;
class QTextEdit;
class TImageView;
class TScanHost;

class TTarnScan : public QDialog {
  Q_OBJECT
 public:
  static const QString kSaveFilter;
  static const QStringList kWarningLines;

  explicit TTarnScan(TScanHost &host, QWidget *parent = nullptr);
  ~TTarnScan() override;

  TImageView *view() const { return PGImage1; }
  QTextEdit *memo() const { return Memo1; }
  QAction *item(const QString &name) const;

 public slots:
  void Select1Click();
  void Acquire1Click();
  void Saveas1Click();
  void Exit1Click();

 protected:
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  void scanError(const QString &message, int status);

  TScanHost &host;
  TImageView *PGImage1 = nullptr;
  QTextEdit *Memo1 = nullptr;
  QAction *Saveas1 = nullptr, *Select1 = nullptr, *Acquire1 = nullptr, *Exit1 = nullptr;
  QString savedName_;  // the save dialog's file name: empty until one was chosen
};
