#pragma once
#include <QDialog>

// The start-up window shown while the main window is built.
class TSplashForm : public QDialog {
 public:
  explicit TSplashForm(QWidget *parent = nullptr);
};
