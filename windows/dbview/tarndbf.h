#pragma once
// The database viewer: a dBASE or Paradox table in a data grid with a record navigator, printed or saved
// as a tab-separated text file through its TPrintGrid. A new window for every table the main window
// hands over; when the table cannot be opened it shows only the message, the bottom panel and Exit.
// Closing it with edits that were not posted asks whether to post them (Yes), drop them (No) or stay.
#include "formats/dbase/dbtable.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class TDBGrid;
class TDBNavigator;
class TDbfHost;
class TPrintGrid;

class TTarnDbf : public QMainWindow {
  Q_OBJECT
 public:
  // Opens the host's current file; the window deletes itself when closed.
  TTarnDbf(TDbfHost &host, QWidget *parent = nullptr);
  ~TTarnDbf() override;

  QWidget *DbfBottomPanel = nullptr;
  QLabel *DbfBottomCaption = nullptr;
  TDBNavigator *DBNavigator1 = nullptr;
  QPushButton *DbfClearButton = nullptr;
  QLabel *DbfMainPanel = nullptr;  // its text serves as the message when the table cannot be opened
  TDBGrid *DBGrid1 = nullptr;
  TPrintGrid *PrintGrid1 = nullptr;
  QMenu *Options1 = nullptr;
  QAction *Print1 = nullptr, *SaveAsFile1 = nullptr, *Exit1 = nullptr;

  TDbTable *table() const { return table_.get(); }
  // Why the table could not be opened (empty when it is open).
  QString openError() const { return openError_; }

  void Print1Click();
  void SaveAsFile1Click();
  void DbfClearButtonClick();

 protected:
  void closeEvent(QCloseEvent *e) override;

 private:
  void FormCreate();
  TDbfHost &host_;
  std::unique_ptr<TDbTable> table_;
  QString openError_;
};
