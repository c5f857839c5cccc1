#include "zip/msgform.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>

#include "controls/dirlabel.h"

TMsgform::TMsgform(QWidget *parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Msgform"));
  setWindowTitle(QStringLiteral("Tarnwick - Zip Messages"));
  resize(480, 320);
  auto *v = new QVBoxLayout(this);
  auto *top = new QHBoxLayout;
  FileBeingZippedCaption = new QLabel(QStringLiteral("File Being Manipulated:"), this);
  FileBeingZipped = new TDirLabel(this);
  FileBeingZipped->setObjectName(QStringLiteral("FileBeingZipped"));
  FileBeingZipped->setMinimumWidth(120);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(1, 101);
  ProgressBar1->setValue(1);
  ProgressBar1->setFixedWidth(177);
  top->addWidget(FileBeingZippedCaption);
  top->addWidget(FileBeingZipped, 1);
  top->addWidget(ProgressBar1);
  v->addLayout(top);
  RichEdit1 = new QTextEdit(this);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setReadOnly(true);
  RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
  RichEdit1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  v->addWidget(RichEdit1, 1);
  auto *buttons = new QHBoxLayout;
  Button1 = new QPushButton(QStringLiteral("&Exit"), this);
  Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2->setObjectName(QStringLiteral("Button2"));
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  v->addLayout(buttons);
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  for (int i = 0; i < 2; ++i) StatusBar1Panels[i] = new QLabel(StatusBar1);
  StatusBar1Panels[0]->setFixedWidth(150);
  StatusBar1->addWidget(StatusBar1Panels[0]);
  StatusBar1->addWidget(StatusBar1Panels[1], 1);
  v->addWidget(StatusBar1);
  // The whole operation's bar lies over the status bar right of the first panel.
  ProgressBar2 = new QProgressBar(StatusBar1);
  ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
  ProgressBar2->setRange(1, 101);
  ProgressBar2->setValue(1);
  ProgressBar2->setTextVisible(false);
  createdWidth_ = width();
  connect(Button1, &QPushButton::clicked, this, &TMsgform::DismissButClick);
  connect(Button2, &QPushButton::clicked, this, &TMsgform::CancelButClick);
}

void TMsgform::DismissButClick() { hide(); }

void TMsgform::CancelButClick() {
  if (isBusy && isBusy()) {
    if (requestCancel) requestCancel();
  } else {
    hide();
  }
}

void TMsgform::appendLine(const QString &line) {
  RichEdit1->append(line);
  RichEdit1->verticalScrollBar()->setValue(RichEdit1->verticalScrollBar()->maximum());
}

void TMsgform::resizeEvent(QResizeEvent *e) {
  QWidget::resizeEvent(e);
  FormResize();
}

void TMsgform::FormResize() {
  const int sbHeight = StatusBar1->height();
  ProgressBar2->setGeometry(150 + 2, 2, qMax(10, StatusBar1->width() - 150 - 18), qMax(4, sbHeight - 2 - 2));
  ProgressBar1->setFixedWidth(qMax(60, 177 + width() - createdWidth_));
}
