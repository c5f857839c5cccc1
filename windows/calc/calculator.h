#pragma once
// TTheCalculator: the adding-machine calculator window with its paper tape. Not modal, one at a time: the
// main window opens it with TTheCalculator::open, which keeps its menu item and tool button disabled while
// it is open. The arithmetic is TCalcEngine's; this window turns keys and buttons into its key codes, shows
// the display and the tape, and saves, loads, clears and prints the tape.
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "windows/calc/calcengine.h"

class QAbstractButton;
class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTextEdit;
class TCalcHost;

class TTheCalculator : public QWidget {
  Q_OBJECT
 public:
  TTheCalculator(QWidget *parent, TCalcHost &host);
  // Opens the one calculator window (or raises it); menuItem and button stay disabled while it is open.
  static TTheCalculator *open(QWidget *parent, TCalcHost &host, QAction *menuItem, QAbstractButton *button);
  static TTheCalculator *instance();
  // The tape file in the per-user folder.
  static QString tapeFile();

  // Every typed character and every button's code goes here (upper-cased; Enter counts as "=").
  void FormKeyPress(int code);
  void Button_UseClick();
  void Clear_ButClick();
  const TCalcEngine &engine() const { return engine_; }
  QStringList tape() const { return tape_; }
  bool optionMode() const { return optionMode_; }

  QTextEdit *ScreenTicket;
  QLabel *Display, *Label1;
  QLineEdit *Edit1;
  QSpinBox *UpDown1;
  QPushButton *Button_MR, *Button_MC, *Button_Print;

 protected:
  bool event(QEvent *e) override;
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  void appendLines(const QStringList &lines);
  void toggleOptions();
  void printTape();
  int keyCode(const class QKeyEvent *e) const;
  TCalcHost &host_;
  TCalcEngine engine_;
  QStringList tape_;
  bool optionMode_ = false;
};
