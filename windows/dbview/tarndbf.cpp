#include "windows/dbview/tarndbf.h"

#include "windows/dbview/dbfhost.h"
#include "windows/dbview/dbgrid.h"
#include "windows/dbview/printgrid.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QFont pixelFont(const char *family, int px, bool bold) {
  QFont f{QString::fromLatin1(family)};
  f.setPixelSize(px);
  f.setBold(bold);
  return f;
}
// The window's fonts are given in screen pixels; the printer's take the same size in points (96 per inch).
QFont printFont(const char *family, int px, bool bold) {
  QFont f{QString::fromLatin1(family)};
  f.setPointSizeF(px * 72.0 / 96.0);
  f.setBold(bold);
  return f;
}
}  // namespace

TTarnDbf::TTarnDbf(TDbfHost &host, QWidget *parent) : QMainWindow(parent), host_(host) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlag(Qt::Window);
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setObjectName(QStringLiteral("TarnDbf"));
  setWindowTitle(QStringLiteral("Tarnwick - Database Viewer"));
  resize(512, 331);

  Options1 = menuBar()->addMenu(QStringLiteral("&Options"));
  Options1->setObjectName(QStringLiteral("Options1"));
  Print1 = Options1->addAction(QStringLiteral("&Print"), this, &TTarnDbf::Print1Click);
  Print1->setObjectName(QStringLiteral("Print1"));
  Print1->setStatusTip(QStringLiteral("Print the database"));
  Print1->setToolTip(Print1->statusTip());
  Options1->addSeparator()->setObjectName(QStringLiteral("N1"));
  SaveAsFile1 = Options1->addAction(QStringLiteral("Save &As Text File"), this, &TTarnDbf::SaveAsFile1Click);
  SaveAsFile1->setObjectName(QStringLiteral("SaveAsFile1"));
  SaveAsFile1->setStatusTip(QStringLiteral("Save database as a tab deliminated file"));
  SaveAsFile1->setToolTip(SaveAsFile1->statusTip());
  Options1->addSeparator()->setObjectName(QStringLiteral("N2"));
  Exit1 = Options1->addAction(QStringLiteral("&Exit"), this, &TTarnDbf::DbfClearButtonClick);
  Exit1->setObjectName(QStringLiteral("Exit1"));
  Options1->setToolTipsVisible(true);

  auto *central = new QWidget(this);
  auto *v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  DbfMainPanel = new QLabel(central);
  DbfMainPanel->setObjectName(QStringLiteral("DbfMainPanel"));
  DbfMainPanel->setFont(pixelFont("MS Sans Serif", 12, true));
  DbfMainPanel->setAlignment(Qt::AlignCenter);
  DbfMainPanel->setWordWrap(true);
  auto *mainLay = new QVBoxLayout(DbfMainPanel);
  mainLay->setContentsMargins(0, 0, 0, 0);
  DBGrid1 = new TDBGrid(DbfMainPanel);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setFont(pixelFont("MS Sans Serif", 12, false));
  mainLay->addWidget(DBGrid1);
  v->addWidget(DbfMainPanel, 1);

  auto *bevel = new QFrame(central);
  bevel->setFrameShape(QFrame::Panel);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setFixedHeight(30);
  auto *bevelLay = new QHBoxLayout(bevel);
  bevelLay->setContentsMargins(1, 1, 1, 1);
  auto *raised = new QFrame(bevel);
  raised->setFrameShape(QFrame::Panel);
  raised->setFrameShadow(QFrame::Raised);
  DbfBottomPanel = raised;
  DbfBottomPanel->setObjectName(QStringLiteral("DbfBottomPanel"));
  bevelLay->addWidget(raised);
  auto *bottom = new QHBoxLayout(raised);
  bottom->setContentsMargins(2, 0, 2, 0);
  DBNavigator1 = new TDBNavigator(raised);
  DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
  DBNavigator1->setGrid(DBGrid1);
  bottom->addWidget(DBNavigator1);
  DbfClearButton = new QPushButton(QStringLiteral("&Exit"), raised);
  DbfClearButton->setObjectName(QStringLiteral("DbfClearButton"));
  QFont bold = DbfClearButton->font();
  bold.setBold(true);
  DbfClearButton->setFont(bold);
  DbfClearButton->setToolTip(QStringLiteral("Clear database from memory and exit from viewer"));
  DbfClearButton->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  connect(DbfClearButton, &QPushButton::clicked, this, &TTarnDbf::DbfClearButtonClick);
  bottom->addWidget(DbfClearButton);
  DbfBottomCaption = new QLabel(QStringLiteral("Paradox and DBF files Only   "), raised);
  DbfBottomCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bottom->addWidget(DbfBottomCaption, 1);
  v->addWidget(bevel);
  setCentralWidget(central);

  PrintGrid1 = new TPrintGrid(host_, this);
  PrintGrid1->DBGrid = DBGrid1;
  PrintGrid1->LeftMargin = 8;
  PrintGrid1->TopMargin = 60;
  PrintGrid1->RightMargin = 8;
  PrintGrid1->BottomMargin = 110;
  PrintGrid1->ColHeaderFont = printFont("Arial", 13, true);
  PrintGrid1->TitleFont = printFont("Arial", 16, true);
  PrintGrid1->LinesFont = printFont("Arial", 12, false);
  PrintGrid1->PrintMgrTitle = QStringLiteral("PrintGrid1");
  PrintGrid1->TitleAlignment = Qt::AlignHCenter;
  PrintGrid1->Orientation = QPageLayout::Landscape;
  PrintGrid1->PrintToFile = false;
  PrintGrid1->FullPage = false;
  PrintGrid1->PrintFileName = QStringLiteral("PRINT.LST");
  PrintGrid1->PrintFileDir = QStringLiteral("/");
  PrintGrid1->FromPage = 1;
  PrintGrid1->EndPage = 1000;
  PrintGrid1->Border = false;
  PrintGrid1->ColLines = true;
  PrintGrid1->RowLines = true;
  PrintGrid1->HorizontalGap = 8;
  PrintGrid1->VerticalGapPct = 40;
  PrintGrid1->PageNumberPos = pnBotCenter;
  PrintGrid1->PageNumberLabel = QStringLiteral("Page: ");
  PrintGrid1->DatePos = pnTopRight;

  connect(DBGrid1->dbModel(), &TDbModel::message, this, [this](const QString &text) { host_.showMessage(this, text); });

  if (parent) {
    const QRect pr = parent->geometry();
    move(pr.center() - rect().center());
  } else if (QScreen *s = screen()) {
    move(s->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

TTarnDbf::~TTarnDbf() {
  // The grid and its model must let go of the table before it goes.
  DBGrid1->setTable(nullptr);
}

void TTarnDbf::FormCreate() {
  DBGrid1->setTable(nullptr);
  table_.reset();
  const QString file = host_.currentFile();
  table_ = file.isEmpty() ? nullptr : openDbTable(file, &openError_);
  if (file.isEmpty()) openError_ = QStringLiteral("No table was chosen.");
  if (table_) {
    DBGrid1->setTable(table_.get());
    setWindowTitle(windowTitle() + QStringLiteral(" - ") + QFileInfo(file).fileName());
    DBGrid1->setFocus();
    return;
  }
  Options1->menuAction()->setVisible(false);
  DBGrid1->hide();
  DBNavigator1->setShowHint(false);
  DbfMainPanel->setText(QStringLiteral("Sorry, the file you tried to open is a version that Tarnwick cannot read.") +
                        QStringLiteral("\n\n") + openError_);
}

void TTarnDbf::Print1Click() {
  DBGrid1->finishCellEdit(true);
  if (!DBGrid1->dbModel()->post()) return;
  PrintGrid1->Print();
}

void TTarnDbf::SaveAsFile1Click() {
  DBGrid1->finishCellEdit(true);
  if (!DBGrid1->dbModel()->post()) return;
  PrintGrid1->PrintFileDir = host_.currentFolder();
  PrintGrid1->PrintFileName = QStringLiteral("Tarnwick.Lst");
  PrintGrid1->SaveAsText();
}

void TTarnDbf::DbfClearButtonClick() { close(); }

void TTarnDbf::closeEvent(QCloseEvent *e) {
  // Edits that were typed but not posted are written only when the user says so: closing is no Post. Yes
  // posts them (a table that refuses them keeps the window open with the message), No drops them, Cancel
  // keeps the window.
  DBGrid1->finishCellEdit(true);
  TDbModel *m = DBGrid1->dbModel();
  if (m->hasPendingEdits()) {
    const auto answer = host_.ask(this,
                                  QStringLiteral("Record %1 was changed, and the change was not posted.\n\n"
                                                 "Yes: post it to the table.\nNo: drop it.")
                                      .arg(m->pendingRow() + 1),
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes ? !m->post() : answer != QMessageBox::No) {
      e->ignore();
      return;
    }
    m->cancel();
  }
  DBGrid1->setTable(nullptr);
  table_.reset();
  e->accept();
}
