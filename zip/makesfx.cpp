#include "zip/makesfx.h"

#include "platform/paths.h"
#include "zip/ziphost.h"
#include "zip/zipmaster.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TMakeSFX::TMakeSFX(TZipMaster &zip, TZipHost &host, QWidget *parent) : QDialog(parent), zip_(zip), host_(host) {
  setObjectName(QStringLiteral("MakeSFX"));
  setWindowTitle(QStringLiteral("Tarnwick - Make Self Extracting Archive"));
  auto *v = new QVBoxLayout(this);
  auto *top = new QHBoxLayout;
  DfltOverWriteGrp = new QGroupBox(QStringLiteral("Default Overwrite Action"), this);
  DfltOverWriteGrp->setObjectName(QStringLiteral("DfltOverWriteGrp"));
  auto *g = new QVBoxLayout(DfltOverWriteGrp);
  overwrite_ = new QButtonGroup(this);
  const char *const items[3] = {"Ask User", "Always Overwrite", "Skip extraction"};
  for (int i = 0; i < 3; ++i) {
    OverwriteButtons[i] = new QRadioButton(QString::fromLatin1(items[i]), DfltOverWriteGrp);
    overwrite_->addButton(OverwriteButtons[i], i);
    g->addWidget(OverwriteButtons[i]);
  }
  OverwriteButtons[0]->setChecked(true);
  top->addWidget(DfltOverWriteGrp);
  auto *boxes = new QVBoxLayout;
  auto box = [&](QCheckBox *&cb, const char *name, const char *text, bool on) {
    cb = new QCheckBox(QString::fromLatin1(text), this);
    cb->setObjectName(QString::fromLatin1(name));
    cb->setChecked(on);
    boxes->addWidget(cb);
  };
  box(CmdLineCB, "CmdLineCB", "Allow User to avoid running the command line", false);
  box(FileListCB, "FileListCB", "Allow User to modify the file list to be extracted", true);
  box(HideOverwriteCB, "HideOverwriteCB", "Hide the Overwrite Action group box at run time", false);
  box(AutoRunCB, "AutoRunCB", "Create an AutoRun SFX", false);
  top->addLayout(boxes);
  v->addLayout(top);

  auto edit = [&](QLineEdit *&e, const char *name, const QString &label, const QString &value) {
    v->addWidget(new QLabel(label, this));
    e = new QLineEdit(value, this);
    e->setObjectName(QString::fromLatin1(name));
  };
  edit(CaptionEdit, "CaptionEdit", QStringLiteral("Caption of the Self Extracting Archive Program"), zip_.SFXCaption());
  v->addWidget(CaptionEdit);
  edit(DirectoryEdit, "DirectoryEdit",
       QStringLiteral("Default Extract Directory on User's Computer  (if '><' then the temporary directory will be used)"),
       zip_.SFXDefaultDir());
  auto *dirRow = new QHBoxLayout;
  dirRow->addWidget(DirectoryEdit, 1);
  BitBtn1 = new QPushButton(QStringLiteral("..."), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setToolTip(QStringLiteral("Choose a folder"));
  connect(BitBtn1, &QPushButton::clicked, this, &TMakeSFX::BitBtn1Click);
  dirRow->addWidget(BitBtn1);
  v->addLayout(dirRow);
  edit(CommandEdit, "CommandEdit", QStringLiteral("Command Line to Exec After Extraction"), zip_.SFXCommandLine());
  v->addWidget(CommandEdit);

  for (const char *line : {"Special Command Line Symbols:", "A vertical bar '|' separates the program name from the argument list",
                           "Two Arrows '><' will be replaced by the actual extract directory",
                           "The following example runs notepad to display readme.txt in extract dir:"})
    v->addWidget(new QLabel(QString::fromLatin1(line), this));
  auto *example = new QLabel(QStringLiteral("<b>notepad|&gt;&lt;readme.txt</b>"), this);
  example->setTextFormat(Qt::RichText);
  v->addWidget(example);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ExecBut = new QPushButton(QStringLiteral("Make Exe"), this);
  ExecBut->setObjectName(QStringLiteral("ExecBut"));
  ExecBut->setDefault(true);
  CancelBut = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBut->setObjectName(QStringLiteral("CancelBut"));
  connect(ExecBut, &QPushButton::clicked, this, &TMakeSFX::ExecButClick);
  connect(CancelBut, &QPushButton::clicked, this, &QDialog::reject);
  buttons->addWidget(ExecBut);
  buttons->addWidget(CancelBut);
  v->addLayout(buttons);
}

void TMakeSFX::BitBtn1Click() {
  const QString folder = host_.askFolder(QStringLiteral("Default Extract Directory"), DirectoryEdit->text());
  if (!folder.isEmpty()) DirectoryEdit->setText(platform::AppendSlash(folder));
}

void TMakeSFX::ExecButClick() {
  static const TZipMaster::OvrOpts modes[3] = {TZipMaster::OvrConfirm, TZipMaster::OvrAlways, TZipMaster::OvrNever};
  zip_.setSFXOverWriteMode(modes[qMax(0, overwrite_->checkedId())]);
  TZipMaster::SFXOptionSet o = zip_.SFXOptions() & TZipMaster::SFXCheckSize;  // not the dialog's to change
  if (CmdLineCB->isChecked()) o |= TZipMaster::SFXAskCmdLine;
  if (FileListCB->isChecked()) o |= TZipMaster::SFXAskFiles;
  if (HideOverwriteCB->isChecked()) o |= TZipMaster::SFXHideOverWriteBox;
  if (AutoRunCB->isChecked()) o |= TZipMaster::SFXAutoRun;
  zip_.setSFXOptions(o);
  zip_.setSFXCaption(CaptionEdit->text());
  zip_.setSFXDefaultDir(DirectoryEdit->text());
  zip_.setSFXCommandLine(CommandEdit->text());
  confirmed_ = true;
  accept();
}
