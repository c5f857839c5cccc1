#pragma once
// What the scanner window needs of the program around it: the device chosen before, the main window's
// current file (the saved scan becomes it), and the dialogs and boxes it shows (behind the host so that
// tests can answer them).
#include <QList>
#include <QString>

#include "windows/scan/scansession.h"

class QWidget;

class TScanHost {
 public:
  virtual ~TScanHost() = default;
  // The device the user chose last (empty: the first one found), kept between runs.
  virtual QString defaultDevice() const = 0;
  virtual void setDefaultDevice(const QString &name) = 0;
  // The main window's current file becomes path (empty: none).
  virtual void setCurrentFile(const QString &path) = 0;
  // The source selection: the index of the device chosen, or -1 when cancelled.
  virtual int chooseDevice(QWidget *owner, const QList<scan::Device> &devices, int current) = 0;
  // The acquisition dialog on the device's options; false when cancelled, else settings holds the choice.
  virtual bool acquireSettings(QWidget *owner, const scan::Options &options, scan::Settings &settings) = 0;
  // The save dialog with this filter; the chosen name or empty.
  virtual QString saveFileName(QWidget *owner, const QString &filter) = 0;
  // The "TWAIN Error" box (no owner, warning icon).
  virtual void showScanError(const QString &text) = 0;
  // A message box owned by owner.
  virtual void showMessage(QWidget *owner, const QString &text) = 0;
};
