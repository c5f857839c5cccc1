#pragma once
// TMakeSFX: the options of a self-extracting archive, read from and stored into the zip component.
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TZipHost;
class TZipMaster;

class TMakeSFX : public QDialog {
  Q_OBJECT
 public:
  TMakeSFX(TZipMaster &zip, TZipHost &host, QWidget *parent = nullptr);
  // True once closed with "Make Exe"; the component then holds the choices.
  bool confirmed() const { return confirmed_; }

  QGroupBox *DfltOverWriteGrp = nullptr;
  QRadioButton *OverwriteButtons[3] = {};
  QCheckBox *CmdLineCB = nullptr, *FileListCB = nullptr, *HideOverwriteCB = nullptr, *AutoRunCB = nullptr;
  QLineEdit *CaptionEdit = nullptr, *DirectoryEdit = nullptr, *CommandEdit = nullptr;
  QPushButton *BitBtn1 = nullptr, *ExecBut = nullptr, *CancelBut = nullptr;

 private:
  void ExecButClick();
  void BitBtn1Click();

  TZipMaster &zip_;
  TZipHost &host_;
  QButtonGroup *overwrite_ = nullptr;
  bool confirmed_ = false;
};
