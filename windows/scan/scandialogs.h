#pragma once
// The scanner window's dialogs and boxes as the user sees them; the main window's host adds where the
// default device is kept and what the current file is.
#include "windows/scan/scanhost.h"

class TScanDialogHost : public TScanHost {
 public:
  int chooseDevice(QWidget *owner, const QList<scan::Device> &devices, int current) override;
  // Mode, resolution and area in millimetres ("ScanSettings", with "ModeBox", "ResolutionBox", "Left",
  // "Top", "Right", "Bottom").
  bool acquireSettings(QWidget *owner, const scan::Options &options, scan::Settings &settings) override;
  QString saveFileName(QWidget *owner, const QString &filter) override;
  void showScanError(const QString &text) override;
  void showMessage(QWidget *owner, const QString &text) override;
};
