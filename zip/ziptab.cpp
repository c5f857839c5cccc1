#include "zip/ziptab.h"
#include "controls/fileicons.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "controls/dirlabel.h"
#include "engines/zipnames.h"
#include "platform/paths.h"
#include "platform/removable.h"
#include "platform/volumes.h"
#include "zip/makesfx.h"
#include "zip/msgform.h"

// ---- Texts ----

namespace ziptexts {

QString ratioText(quint64 c, quint64 u) {
  if (u == 0) return QStringLiteral("0% ");
  // 64-bit products: sizes of several gigabytes times 100 still fit.
  const quint64 q = c * 100 / u, rem = c * 100 % u;
  const qint64 r = rem >= u / 2 ? 1 : 0;
  return QString::number(100 - qint64(q) - r) + QStringLiteral("% ");
}

QString totalRatioText(quint64 c, quint64 u) {
  if (u == 0) return QStringLiteral("0 % ");
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  const double v = std::nearbyint((1.0 - double(c) / double(u)) * 100.0);
  return QString::number(qint64(v)) + QStringLiteral("% ");
}

QString countSentence(int n, const QString &verb) {
  return QString::number(n) + QStringLiteral(" file") + (n == 1 ? QStringLiteral(" was") : QStringLiteral("s were")) + ' ' + verb;
}

QString dosDateTimeText(quint32 dt) {
  const int dd = int(dt >> 16), tt = int(dt & 0xFFFF);
  const QDate date(1980 + (dd >> 9), (dd >> 5) & 15, dd & 31);
  const QTime time((tt >> 11) & 31, (tt >> 5) & 63, (tt & 31) * 2);
  if (!date.isValid() || !time.isValid()) return {};
  const QLocale loc;
  return loc.toString(date, QLocale::ShortFormat) + QStringLiteral("  ") + loc.toString(time, QLocale::ShortFormat);
}

QString checkNewZipName(QString &name) {
  if (name.toUpper().endsWith(QLatin1String(".EXE"))) return QStringLiteral("Error: you must create a .ZIP file, then convert to .EXE");
  // Only the file's own name counts: a dot in a folder name says nothing about the archive.
  const QString own = QFileInfo(name).fileName();
  if (own.contains('.')) {
    if (!name.toUpper().endsWith(QLatin1String(".ZIP"))) return QStringLiteral("Error: your new archive must end in .ZIP");
  } else {
    name += QStringLiteral(".zip");
  }
  return {};
}

bool isUnviewableExtension(const QString &ext) {
  static const QString list = QStringLiteral(
      ".ppt.pub.xla.xlb.exe.com.dll.bin.dcu.dfm.ocx.vtd.vxd.drv.cab.cpl.grp.scr.hlp.pst.dcr.res");
  return ext.size() >= 3 && list.contains(ext);
}

namespace {
// The escaping and replacing rules are the engines' (engines/zipnames.h), so a name reads the same in the
// grid, in the engines' messages and on disk; most names have no control character and skip the round trip.
bool hasControl(const QString &name) {
  return std::any_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F); });
}
}  // namespace

QString printable(const QString &name) {
  return hasControl(name) ? QString::fromStdString(zipnames::printable(name.toStdString())) : name;
}

QString withoutControls(const QString &name) {
  return hasControl(name) ? QString::fromStdString(zipnames::withoutControls(name.toStdString())) : name;
}

int dateTimeColumnWidth(const QFontMetrics &fm) {
  // Two-digit days and months, and an evening and a morning time (a 12-hour clock adds "PM").
  int widest = 0;
  for (const QTime &t : {QTime(23, 58, 58), QTime(10, 58, 58)}) {
    const quint32 dt = (quint32((2028 - 1980) << 9 | 12 << 5 | 28) << 16) | quint32(t.hour() << 11 | t.minute() << 5 | t.second() / 2);
    widest = qMax(widest, fm.horizontalAdvance(dosDateTimeText(dt)));
  }
  return widest + fm.horizontalAdvance(QLatin1Char('x')) + 4;
}

}  // namespace ziptexts

// ---- Page ----

namespace {
QString namePart(const QString &path) {
  const int i = qMax(path.lastIndexOf('/'), path.lastIndexOf('\\'));
  return path.mid(i + 1);
}
QString folderPart(const QString &path) {
  const int i = qMax(path.lastIndexOf('/'), path.lastIndexOf('\\'));
  return path.left(i + 1);
}
const char *const kHeadings[6] = {"File Name", "Compr Size", "Uncmpr Size", "Date/Time", "Ratio", "Path"};
// The Date/Time width that the settings hold until the user sets one: it was chosen for a small font,
// so the page sizes the column to its font instead.
constexpr int kFirstRunDateTimeWidth = 100;
}  // namespace

TZipTab::TZipTab(TZipHost &host, TMsgform *msgform, QWidget *parent) : QWidget(parent), Msgform(msgform), host_(host) {
  setObjectName(QStringLiteral("ZipTab"));
  ZipMaster1 = new TZipMaster(this);
  ZipMaster1->setAddCompLevel(9);
  ZipMaster1->setAddOptions({});
  ZipMaster1->setExtrOptions({});
  ZipMaster1->setSFXOptions({});
  ZipMaster1->setUnattended(false);
  ZipMaster1->setVerbose(false);
  ZipMaster1->setTrace(false);
  ZipMaster1->setSFXOverWriteMode(TZipMaster::OvrConfirm);
  ZipMaster1->setSFXCaption(QStringLiteral("Tarnwick - Self Extracting Archive"));
  ZipMaster1->setKeepFreeOnDisk1(0);
  ZipMaster1->setMaxVolumeSize(1470000);
  ZipMaster1->setMinFreeVolumeSize(0);
  connect(ZipMaster1, &TZipMaster::OnDirUpdate, this, &TZipTab::ZipMaster1DirUpdate);
  connect(ZipMaster1, &TZipMaster::OnProgress, this, &TZipTab::ZipMaster1Progress);
  connect(ZipMaster1, &TZipMaster::OnMessage, this, &TZipTab::ZipMaster1Message);
  connect(ZipMaster1, &TZipMaster::MessageBoxRequested, this, [this](const QString &t) { say(t); });
  connect(ZipMaster1, &TZipMaster::QuestionRequested, this,
          [this](const QString &caption, const QString &text, int buttons, int icon, int dflt, int *answer) {
            *answer = host_.askButtons(caption, text, buttons, icon, dflt);
          });
  connect(ZipMaster1, &TZipMaster::DiskRequested, this, [this](const QString &text, int icon, QString *root, bool *ok) {
    *ok = host_.askForDisk(text, icon, root);
  });
  if (Msgform) {
    Msgform->isBusy = [this] { return ZipMaster1->AddBusy() || ZipMaster1->ExtractBusy(); };
    Msgform->requestCancel = [this] { ZipMaster1->setCancelRequested(true); };
  }

  auto *v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  StringGrid1 = new TSortGrid(this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setColCount(6);
  StringGrid1->setRowCount(2);
  for (int c = 0; c < 6; ++c) StringGrid1->setCells(c, 0, QString::fromLatin1(kHeadings[c]));
  StringGrid1->OnClickSort = [this](int c, int r, TSortOptions &o) { StringGrid1ClickSort(c, r, o); };
  StringGrid1->OnBeginSort = [this](int c, TSortOptions &o) { StringGrid1BeginSort(c, o); };
  StringGrid1->OnEndSort = [this](int c) { StringGrid1EndSort(c); };
  StringGrid1->OnGetCellFormat = [this](int c, int r, int s, TFormatOptions &f) { StringGrid1GetCellFormat(c, r, s, f); };
  StringGrid1->OnSelectCell = [this](int c, int r) { StringGrid1SelectCell(c, r); };
  StringGrid1->OnDblClick = [this] { StringGrid1DblClick(); };
  StringGrid1->OnColumnWidthsChanged = [this] {
    if (writingWidths_) return;
    for (int c = 0; c < 6; ++c) columnWidths_[c] = StringGrid1->ColWidths(c);
  };
  v->addWidget(StringGrid1, 1);
  buildMenu();
  buildAddPanel();
  buildExtractPanel();
  v->addWidget(AddToZip, 1);
  v->addWidget(ExtractPanel, 1);
  AddToZip->hide();
  ExtractPanel->hide();
  ZipMaster1DirUpdate();
}

TZipTab::~TZipTab() { QDir(platform::userFile(QStringLiteral("zipview"))).removeRecursively(); }

namespace {
// Marks an engine call: the page refuses other archive work until it returns.
struct RunningGuard {
  bool &flag;
  explicit RunningGuard(bool &f) : flag(f) { flag = true; }
  ~RunningGuard() { flag = false; }
};
}  // namespace

bool TZipTab::eventFilter(QObject *o, QEvent *e) {
  // Closing the window while an engine works would free the component under the running call:
  // ask the engine to stop instead and keep the window.
  if (o == window() && e->type() == QEvent::Close && running_) {
    ZipMaster1->setCancelRequested(true);
    e->ignore();
    return true;
  }
  return QWidget::eventFilter(o, e);
}

QString TZipTab::viewFilePath() const { return platform::userFile(QStringLiteral("TarnwickFile")); }

void TZipTab::say(const QString &text) { host_.showMessage(text); }

bool TZipTab::ask(const QString &text) { return host_.confirm(text); }

void TZipTab::buildMenu() {
  ZipMenu = new QMenu(this);
  ZipMenu->setObjectName(QStringLiteral("ZipMenu"));
  ZipMenu->setToolTipsVisible(true);
  auto add = [this](QAction *&a, const char *name, const QString &caption, const QString &hint, bool enabled,
                    void (TZipTab::*handler)()) {
    a = ZipMenu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setStatusTip(hint);
    a->setToolTip(hint);
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, handler);
  };
  add(Open1, "Open1", "&Open Existing Zip File", "Open an existing zip or self extracting zip file", true, &TZipTab::Open1Click);
  add(NewZip, "NewZip", "Create New Zip &File", "Create a new zip file", true, &TZipTab::NewZipClick);
  ZipMenu->addSeparator();
  add(AddTo1, "AddTo1", "&Add To", "Add files to an existing zip file or to a new zip file", false, &TZipTab::AddTo1Click);
  add(DeleteFrom1, "DeleteFrom1", "&Delete From", "Delete files from open zip file", false, &TZipTab::DeleteFrom1Click);
  add(Extract1, "Extract1", "&Extract From", "Extract files from open zip file", false, &TZipTab::Extract1Click);
  ZipMenu->addSeparator();
  MakeSelfExtractFile1 = ZipMenu->addAction(QStringLiteral("&Make Self Extract File"));
  MakeSelfExtractFile1->setObjectName(QStringLiteral("MakeSelfExtractFile1"));
  MakeSelfExtractFile1->setStatusTip(QStringLiteral("Create a self extracting zip file"));
  MakeSelfExtractFile1->setToolTip(MakeSelfExtractFile1->statusTip());
  MakeSelfExtractFile1->setEnabled(false);
  connect(MakeSelfExtractFile1, &QAction::triggered, this, &TZipTab::MakeSelfExtractFile1Click);
  add(ShowMessages1, "ShowMessages1", "&Show Messages", "Displays any zip messages", false, &TZipTab::ShowMessages1Click);
  add(Test1, "Test1", "&Test Zip File", "Test all files in the open zip file for any errors before extracting", false, &TZipTab::Test1Click);
  ZipMenu->addSeparator();
  ConvertSpan = ZipMenu->addAction(QStringLiteral("Convert Span to &Zip"));
  ConvertSpan->setObjectName(QStringLiteral("ConvertSpan"));
  ConvertSpan->setStatusTip(QStringLiteral("Convert spanned set to normal zip file"));
  ConvertSpan->setToolTip(ConvertSpan->statusTip());
  connect(ConvertSpan, &QAction::triggered, this, &TZipTab::ConvertSpanClick);
  ZipMenu->addSeparator();
  add(DestroyZipFile1, "DestroyZipFile1", "&Delete Current Zip File", "Delete the open zip file", false, &TZipTab::DestroyZipFile1Click);
  add(CloseZipFile1, "CloseZipFile1", "&Close Zip File", "Close the open zip file", false, &TZipTab::CloseZipFile1Click);
  StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(StringGrid1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { ZipMenu->popup(StringGrid1->viewport()->mapToGlobal(p)); });
}

void TZipTab::buildAddPanel() {
  AddToZip = new QWidget(this);
  AddToZip->setObjectName(QStringLiteral("AddToZip"));
  auto *h = new QHBoxLayout(AddToZip);
  SelectedList = new QListWidget(AddToZip);
  SelectedList->setObjectName(QStringLiteral("SelectedList"));
  SelectedList->setSortingEnabled(true);
  SelectedList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SelectedList->setToolTip(QStringLiteral(
      "Double click file to remove from selection or Click the Clear Files button to remove all files"));
  SelectedList->setStatusTip(SelectedList->toolTip());
  connect(SelectedList, &QListWidget::itemDoubleClicked, this, [this] { SelectedListDblClick(); });
  h->addWidget(SelectedList, 1);
  auto *opts = new QVBoxLayout;
  Label1 = new QLabel(QStringLiteral("Files to be added: 0"), AddToZip);
  Label1->setObjectName(QStringLiteral("Label1"));
  opts->addWidget(Label1);
  auto box = [&](QCheckBox *&cb, const char *name, const QString &caption, bool on) {
    cb = new QCheckBox(caption, AddToZip);
    cb->setObjectName(QLatin1String(name));
    cb->setChecked(on);
    opts->addWidget(cb);
  };
  box(DirNameCB, "DirNameCB", QStringLiteral("Save Folder Names"), false);
  box(RecurseCB, "RecurseCB", QStringLiteral("Include Sub-Folders"), false);
  box(HiddenCB, "HiddenCB", QStringLiteral("Include Hidden Files"), true);
  box(EncryptCB, "EncryptCB", QStringLiteral("Encrypt Files"), false);
  box(DosNameCB, "DosNameCB", QStringLiteral("Store filenames in Dos format (8.3)"), false);
  box(DiskSpanCB, "DiskSpanCB", QStringLiteral("Disk Span"), false);
  box(FormatCB, "FormatCB", QStringLiteral("Format Each Disk"), false);
  FormatCB->setEnabled(false);
  connect(DosNameCB, &QCheckBox::clicked, this, &TZipTab::DosNameCBClick);
  connect(DiskSpanCB, &QCheckBox::clicked, this, &TZipTab::DiskSpanCBClick);
  auto button = [&](QPushButton *&b, const char *name, const QString &caption, void (TZipTab::*handler)()) {
    b = new QPushButton(caption, AddToZip);
    b->setObjectName(QLatin1String(name));
    opts->addWidget(b);
    connect(b, &QPushButton::clicked, this, handler);
  };
  button(SelectAllFiles, "SelectAllFiles", QStringLiteral("Select All Files"), &TZipTab::SelectAllFilesClick);
  button(SelectFolder, "SelectFolder", QStringLiteral("Select Folder"), &TZipTab::SelectFolderClick);
  button(FreeSpace, "FreeSpace", QStringLiteral("Free Space"), &TZipTab::FreeSpaceClick);
  button(VolSize, "VolSize", QStringLiteral("Volume Size"), &TZipTab::VolSizeClick);
  FreeSpace->setEnabled(false);
  VolSize->setEnabled(false);
  opts->addStretch(1);
  button(ZipButton, "ZipButton", QStringLiteral("Add Files to Zip"), &TZipTab::ZipButtonClick);
  button(Button2, "Button2", QStringLiteral("Clear Files"), &TZipTab::Button2Click);
  button(NoAddZip, "NoAddZip", QStringLiteral("&Exit"), &TZipTab::NoAddZipClick);
  h->addLayout(opts);
}

void TZipTab::buildExtractPanel() {
  ExtractPanel = new QWidget(this);
  ExtractPanel->setObjectName(QStringLiteral("ExtractPanel"));
  auto *v = new QVBoxLayout(ExtractPanel);
  auto group = [&](QGroupBox *&g, QButtonGroup *&items, const char *name, const QString &title, const QString &a,
                   const QString &b, int start) {
    g = new QGroupBox(title, ExtractPanel);
    g->setObjectName(QLatin1String(name));
    items = new QButtonGroup(g);
    auto *l = new QHBoxLayout(g);
    int id = 0;
    for (const QString &t : {a, b}) {
      auto *r = new QRadioButton(t, g);
      items->addButton(r, id);
      r->setChecked(id == start);
      l->addWidget(r);
      ++id;
    }
    l->addStretch(1);
    v->addWidget(g);
  };
  group(RadioGroup1, RadioGroup1Items, "RadioGroup1", QStringLiteral("Expand Zip Directories"), QStringLiteral("No"), QStringLiteral("Yes"), 0);
  group(RadioGroup2, RadioGroup2Items, "RadioGroup2", QStringLiteral("OverWrite Existing Files"), QStringLiteral("No"), QStringLiteral("Yes"), 1);
  group(RadioGroup3, RadioGroup3Items, "RadioGroup3", QStringLiteral("Files to Extract"), QStringLiteral("All Files"), QStringLiteral("Selected Files"), 1);
  v->addWidget(new QLabel(QStringLiteral("Current directory for extracting Files to:"), ExtractPanel));
  DirLabel1 = new TDirLabel(ExtractPanel);
  DirLabel1->setObjectName(QStringLiteral("DirLabel1"));
  DirLabel1->setMinimumHeight(fontMetrics().height() + 4);
  DirLabel1->setDirName(QDir::currentPath());
  v->addWidget(DirLabel1);
  auto *buttons = new QHBoxLayout;
  OKBut = new QPushButton(QStringLiteral("&Extract Files to Directory"), ExtractPanel);
  OKBut->setObjectName(QStringLiteral("OKBut"));
  Button1 = new QPushButton(QStringLiteral("E&xit with no Extract"), ExtractPanel);
  Button1->setObjectName(QStringLiteral("Button1"));
  buttons->addWidget(OKBut);
  buttons->addWidget(Button1);
  buttons->addStretch(1);
  v->addLayout(buttons);
  v->addStretch(1);
  connect(OKBut, &QPushButton::clicked, this, [this] { OKButClick(false); });
  connect(Button1, &QPushButton::clicked, this, &TZipTab::Button1Click);
}

void TZipTab::adoptDirLabel(TDirLabel *label) {
  if (!label || label == DirLabel1) return;
  auto *v = static_cast<QVBoxLayout *>(ExtractPanel->layout());
  const int at = v->indexOf(DirLabel1);
  v->removeWidget(DirLabel1);
  DirLabel1->deleteLater();
  label->setParent(ExtractPanel);
  label->setMinimumHeight(fontMetrics().height() + 4);
  v->insertWidget(at, label);
  label->show();
  DirLabel1 = label;
}

bool TZipTab::addPanelShown() const { return !AddToZip->isHidden(); }
bool TZipTab::extractPanelShown() const { return !ExtractPanel->isHidden(); }

void TZipTab::updateGridVisibility() { StringGrid1->setVisible(AddToZip->isHidden() && ExtractPanel->isHidden()); }

// ---- Grid ----

void TZipTab::FillGrid() {
  TSortGrid *g = StringGrid1;
  g->BeginUpdate();
  g->setRowCount(2);
  for (int c = 0; c < g->ColCount(); ++c) g->setCells(c, 1, QString());
  const int n = ZipMaster1->EntryCount();
  totalCompressed_ = totalUncompressed_ = 0;
  if (n == 0) {
    g->EndUpdate();
    return;
  }
  g->setRowCount(n + 2);
  storedNames_.clear();
  const auto &entries = ZipMaster1->Entries();
  QStringList row;
  for (int i = 0; i < n; ++i) {
    const ZipDirEntry &e = entries[size_t(i)];
    // The 64-bit sizes: Zip64 members carry their true sizes there.
    const quint64 c = e.CompressedSize64 ? e.CompressedSize64 : e.CompressedSize;
    const quint64 u = e.UncompressedSize64 ? e.UncompressedSize64 : e.UncompressedSize;
    auto it = dateCache_.constFind(e.dosDateTime());
    if (it == dateCache_.constEnd()) it = dateCache_.insert(e.dosDateTime(), ziptexts::dosDateTimeText(e.dosDateTime()));
    const QString name = ziptexts::printable(namePart(e.FileName)), folder = ziptexts::printable(folderPart(e.FileName));
    if (name.size() + folder.size() != e.FileName.size()) storedNames_.insert(folder + name, e.FileName);
    row = {name, QString::number(c), QString::number(u), *it, ziptexts::ratioText(c, u), folder};
    g->setRows(i + 1, row);
    totalCompressed_ += c;
    totalUncompressed_ += u;
  }
  g->SortColumn(sortCol_, sortOpts_);
  g->EndUpdate();
}

void TZipTab::StringGrid1ClickSort(int col, int, TSortOptions &o) {
  sortOpts_.SortDirection = sortOpts_.SortDirection ? 0 : 1;
  sortCol_ = col;
  o = sortOpts_;
}

void TZipTab::StringGrid1BeginSort(int, TSortOptions &) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  StringGrid1->RemoveRow(StringGrid1->RowCount() - 1);  // the totals row's place
}

void TZipTab::StringGrid1EndSort(int) {
  TSortGrid *g = StringGrid1;
  g->AddRowAt(g->RowCount());
  const int last = g->RowCount() - 1;
  g->setCells(0, last, QStringLiteral("Total"));
  g->setCells(1, last, QString::number(totalCompressed_));
  g->setCells(2, last, QString::number(totalUncompressed_));
  g->setCells(4, last, ziptexts::totalRatioText(totalCompressed_, totalUncompressed_));
  g->setCells(5, last, QString());
  QApplication::restoreOverrideCursor();
}

void TZipTab::StringGrid1GetCellFormat(int col, int row, int, TFormatOptions &f) {
  if (row < 1) return;
  if (col >= 1 && col <= 4) f.AlignmentHorz = taRightJustify;
  if (row == StringGrid1->RowCount() - 1) {
    f.Font.setBold(true);
    f.FontColor = Qt::black;
  } else if (col == 0) {
    // A member's type is known from its name only: nothing is unpacked to show an icon.
    const QString name = StringGrid1->Cells(0, row);
    if (!name.isEmpty())
      f.Icon = fileicons::iconForName(name, false);
    else if (!StringGrid1->Cells(5, row).isEmpty())
      f.Icon = fileicons::folderIcon();
  }
}

void TZipTab::StringGrid1SelectCell(int, int row) {
  host_.setCurrentName(namePart(StringGrid1->Cells(0, row)));
}

void TZipTab::ZipMaster1DirUpdate() {
  if (!ZipMaster1->ZipFilename().isEmpty()) {
    FillGrid();
    const QString name = QFileInfo(ZipMaster1->ZipFilename()).fileName();
    host_.setTabCaption(ziptexts::printable(name) + QStringLiteral(" - Files = ") + QString::number(ZipMaster1->EntryCount()));
    MakeSelfExtractFile1->setText(ZipMaster1->ZipFilename().toUpper().endsWith(QLatin1String(".EXE"))
                                      ? QStringLiteral("Convert back to Zip File")
                                      : QStringLiteral("Make Self Extract File"));
    setArchiveCommands(true);
    // A set is read and extracted whole; adding, deleting or converting would write into one part of it.
    if (ZipMaster1->SpannedArchive())
      for (QAction *a : {AddTo1, DeleteFrom1, MakeSelfExtractFile1}) a->setEnabled(false);
  } else {
    FillGrid();
    DeactivateZipmenu();
  }
  for (int c = 0; c < 6; ++c) StringGrid1->setCells(c, 0, QString::fromLatin1(kHeadings[c]));
  applyColumnWidths();
}

void TZipTab::StringGrid1DblClick() {
  if (running_) return;
  if (ZipMaster1->ZipFilename().isEmpty()) return;
  const int row = StringGrid1->Row();
  const QString name = StringGrid1->Cells(0, row);
  host_.setCurrentName(name);
  // Extraction writes the member under its name with control characters replaced.
  const QString file = ziptexts::withoutControls(namePart(memberName(row)));
  const QString ext = QFileInfo(file).suffix().isEmpty() ? QString() : '.' + QFileInfo(file).suffix().toLower();
  if (name.isEmpty() || ziptexts::isUnviewableExtension(ext)) return;
  if (row == StringGrid1->RowCount() - 1) return;  // the totals row is no member
  OKButClick(true);
  const QString extracted = QDir(platform::userFile(QStringLiteral("zipview"))).filePath(file);
  if (!QFileInfo(extracted).isFile()) return;
  const QString view = viewFilePath();
  if (QFileInfo::exists(view)) {
    QFile::setPermissions(view, QFile::permissions(view) | QFile::WriteOwner);
    QFile::remove(view);
  }
  if (!QFile::rename(extracted, view)) return;
  host_.viewFile(view, ext);
}

// ---- Commands ----

void TZipTab::setArchiveCommands(bool on) {
  for (QAction *a : {AddTo1, DeleteFrom1, Extract1, MakeSelfExtractFile1, ShowMessages1, Test1, DestroyZipFile1, CloseZipFile1})
    a->setEnabled(on);
}

void TZipTab::DeactivateZipmenu() {
  setArchiveCommands(false);
  host_.setTabCaption(QStringLiteral("Zip"));
}

void TZipTab::ShowZip(const QString &file) {
  if (running_) return;
  ExtractPanel->hide();
  host_.activateZipTab();
  StringGrid1->ClearAllCells();
  ZipMaster1->setZipFilename(QString());
  DeactivateZipmenu();
  host_.setViewHtmlEnabled(false);
  StringGrid1->show();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ZipMaster1->setZipFilename(file);
  QApplication::restoreOverrideCursor();
}

void TZipTab::ClearViewer() {
  if (running_) return;
  StringGrid1->ClearAllCells();
  ZipMaster1->setZipFilename(QString());
  DeactivateZipmenu();
  // A hidden add panel must not keep collecting double-clicked files.
  if (addPanelShown()) host_.setZipAddMode(false);
  AddToZip->hide();
  ExtractPanel->hide();
  updateGridVisibility();
}

void TZipTab::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  if (!closeGuarded_ && window() != this) {
    window()->installEventFilter(this);
    closeGuarded_ = true;
  }
  applyColumnWidths();
}

void TZipTab::applyColumnWidths() {
  writingWidths_ = true;
  for (int c = 0; c < 6; ++c) {
    int w = columnWidths_[c];
    if (c == 3 && w == kFirstRunDateTimeWidth) w = qMax(w, ziptexts::dateTimeColumnWidth(QFontMetrics(StringGrid1->font())));
    StringGrid1->setColWidths(c, w);
  }
  writingWidths_ = false;
}

void TZipTab::Open1Click() {
  if (running_) return;
  const QString folder = host_.currentFolder();
  const QString title = QStringLiteral("Tarnwick - Open Existing ZIP File");
  const QString filter = QStringLiteral("Zip Files (*.zip *.exe)");
  const QString f = host_.askOpenFile(title, filter, folder);
  if (f.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ZipMaster1->setZipFilename(f);
  host_.activateZipTab();
  QApplication::restoreOverrideCursor();
}

void TZipTab::NewZipClick() {
  if (running_) return;
  const QString folder = host_.currentFolder();
  const QString title = QStringLiteral("Tarnwick - Create New ZIP File");
  const QString filter = QStringLiteral("ZIP Files (*.zip)");
  QString name = host_.askSaveFile(title, filter, folder);
  if (name.isEmpty()) return;
  const QString error = ziptexts::checkNewZipName(name);
  if (!error.isEmpty()) {
    say(error);
    return;
  }
  if (QFileInfo::exists(name)) {
    if (!ask(QStringLiteral("Overwrite Existing File: ") + ziptexts::printable(name) + '?')) return;
    if (!QFile::remove(name)) {
      say(QStringLiteral("Zip file could not be deleted: ") + ziptexts::printable(name));
      return;
    }
  }
  host_.activateZipTab();
  ZipMaster1->setZipFilename(name);
}

void TZipTab::updateCountLabel() { Label1->setText(QStringLiteral("Files to be added: ") + QString::number(SelectedList->count())); }

void TZipTab::addToSelection(const QString &path, bool folderWildcard) {
  QString p = path;
  if (folderWildcard && QFileInfo(p).isDir()) p = (p.endsWith('/') ? p : p + '/') + QStringLiteral("*.*");
  SelectedList->addItem(p);
  updateCountLabel();
}

void TZipTab::AddTo1Click() {
  if (running_) return;
  host_.showBrowserPanes();
  AddToZip->show();
  updateGridVisibility();
  SelectedList->clear();
  updateCountLabel();
  host_.setZipAddMode(true);
  host_.setTitle(QStringLiteral("Tarnwick - Select files for zipping by Double Clicking file or DRAG selected Files/Folders across"));
  host_.setListHint(QStringLiteral("Double click file or Drag selected Files/Folders across for adding to zip file..."));
}

void TZipTab::SelectAllFilesClick() {
  const QString folder = host_.currentFolder();
  for (const QString &name : host_.listItemNames()) {
    const QString path = folder.endsWith('/') ? folder + name : folder + '/' + name;
    if (!QFileInfo(path).isDir()) SelectedList->addItem(path);
  }
  updateCountLabel();
}

void TZipTab::SelectFolderClick() {
  const QString name = host_.selectedListItemName();
  if (name.isEmpty()) {
    say(QStringLiteral("No folder selected"));
    return;
  }
  const QString folder = host_.currentFolder();
  const QString path = QFileInfo(name).isAbsolute() ? name : folder.endsWith('/') ? folder + name : folder + '/' + name;
  if (QFileInfo(path).isDir()) addToSelection(path);
}

void TZipTab::SelectedListDblClick() {
  qDeleteAll(SelectedList->selectedItems());
  updateCountLabel();
}

void TZipTab::Button2Click() {
  SelectedList->clear();
  updateCountLabel();
}

void TZipTab::DosNameCBClick() {
  if (DosNameCB->isChecked())
    say(QStringLiteral("WARNING? - Name conflicts can occur if 2 long \rfilenames truncate to the same 8.3 filename."));
}

void TZipTab::DiskSpanCBClick() {
  const bool on = DiskSpanCB->isChecked();
  VolSize->setEnabled(on);
  FreeSpace->setEnabled(on);
  FormatCB->setEnabled(on);
}

void TZipTab::VolSizeClick() {
  const QString v = QString::number(ZipMaster1->MaxVolumeSize());
  const QString answer = host_.inputBox(QStringLiteral("Max Vol size"), QStringLiteral("Maximum size of an archive part"), v);
  if (answer.isEmpty()) return;  // cancelled: the size stays
  ZipMaster1->setMaxVolumeSize(qMax(0LL, answer.trimmed().toLongLong()));  // 0 when not a number
}

void TZipTab::FreeSpaceClick() {
  const QString v = QString::number(ZipMaster1->KeepFreeOnDisk1());
  const QString answer = host_.inputBox(QStringLiteral("Keep free on Disk"), QStringLiteral("Unused bytes on disk 1"), v);
  if (answer.isEmpty()) return;
  ZipMaster1->setKeepFreeOnDisk1(qMax(0LL, answer.trimmed().toLongLong()));
}

void TZipTab::ZipButtonClick() {
  if (running_) return;
  RunningGuard guard(running_);
  if (ZipMaster1->ZipFilename().isEmpty()) {
    say(QStringLiteral("Error - open a zip file first"));
    return;
  }
  if (SelectedList->count() == 0) {
    say(QStringLiteral("No files selected"));
    return;
  }
  // The engine stores members unencrypted when it has no password; the box would then promise what is
  // not done. Ask for one for this add only.
  QString password;
  if (EncryptCB->isChecked() && ZipMaster1->Password().isEmpty()) {
    password = host_.askPassword(QStringLiteral("Encrypt Files"), QStringLiteral("Password for the files to be added"));
    if (password.isEmpty()) {
      say(QStringLiteral("No password given: no files were added"));
      return;
    }
    ZipMaster1->setPassword(password);
  }
  startLog();
  ZipMaster1Message(0, QStringLiteral("Beginning Add to ") + ziptexts::printable(ZipMaster1->ZipFilename()));
  TZipMaster::AddOptionSet o;
  if (DirNameCB->isChecked()) o |= TZipMaster::AddDirNames;
  if (RecurseCB->isChecked()) o |= TZipMaster::AddRecurseDirs;
  if (HiddenCB->isChecked()) o |= TZipMaster::AddHiddenFiles;
  if (EncryptCB->isChecked()) o |= TZipMaster::AddEncrypt;
  if (DosNameCB->isChecked()) o |= TZipMaster::AddForceDOS;
  const bool span = DiskSpanCB->isChecked();
  if (span) o |= FormatCB->isChecked() ? TZipMaster::AddDiskSpanErase : TZipMaster::AddDiskSpan;
  ZipMaster1->setAddOptions(o);
  QStringList specs;
  for (int i = 0; i < SelectedList->count(); ++i) specs << SelectedList->item(i)->text();
  ZipMaster1->setFSpecArgs(specs);
  SelectedList->clear();
  try {
    ZipMaster1->AddFiles();
  } catch (...) {
    say(QStringLiteral("Error in Add; Fatal DLL Exception in mainunit"));
  }
  if (!password.isEmpty()) ZipMaster1->setPassword(QString());
  say(ziptexts::countSentence(ZipMaster1->SuccessCount(), QStringLiteral("added")));
  if (Msgform) Msgform->hide();
  AddToZip->hide();
  updateGridVisibility();
  updateCountLabel();
  host_.setZipAddMode(false);
  if (span) {
    DiskSpanCB->setChecked(false);
    FormatCB->setChecked(false);
    FormatCB->setEnabled(false);
  }
  host_.setTitle(QStringLiteral("Tarnwick"));
}

void TZipTab::NoAddZipClick() {
  SelectedList->clear();
  updateCountLabel();
  host_.setZipAddMode(false);
  host_.setTitle(QStringLiteral("Tarnwick"));
  AddToZip->hide();
  updateGridVisibility();
}

void TZipTab::Extract1Click() {
  if (running_) return;
  host_.showBrowserPanes();
  ExtractPanel->show();
  updateGridVisibility();
}

void TZipTab::Button1Click() {
  ExtractPanel->hide();
  updateGridVisibility();
}

QString TZipTab::memberName(int row) const {
  const QString shown = StringGrid1->Cells(5, row) + StringGrid1->Cells(0, row);
  return storedNames_.value(shown, shown);
}

QStringList TZipTab::selectedSpecs() const {
  QStringList specs;
  int top, bottom;
  StringGrid1->Selection(top, bottom);
  const int last = StringGrid1->RowCount() - 1;  // the totals row
  for (int r = qMax(1, top); r <= bottom; ++r)
    if (r != last) specs << memberName(r);
  return specs;
}

void TZipTab::OKButClick(bool viewMode) {
  if (running_) return;
  RunningGuard guard(running_);
  bool dirNames = RadioGroup1Items->checkedId() == 1;
  bool overwrite = RadioGroup2Items->checkedId() == 1;
  bool selectedOnly = RadioGroup3Items->checkedId() == 1;
  if (viewMode) {
    dirNames = false;
    overwrite = true;
    selectedOnly = true;
  }
  const QString zip = ZipMaster1->ZipFilename();
  if (!QFileInfo(zip).isFile()) {
    say(QStringLiteral("Error: File not found: ") + ziptexts::printable(zip));
    return;
  }
  if (ZipMaster1->EntryCount() == 0) {
    say(QStringLiteral("Error - no files to extract"));
    return;
  }
  QStringList specs;
  if (selectedOnly) {
    specs = selectedSpecs();
    if (specs.isEmpty()) {
      say(QStringLiteral("Error - no files selected"));
      return;
    }
  }
  ZipMaster1->setFSpecArgs(specs);
  if (!viewMode) {
    startLog();
    ZipMaster1Message(0, QStringLiteral("Beginning Extract from ") + ziptexts::printable(zip));
  }
  if (viewMode) {
    // A folder of its own: a member named like one of the program's files must not replace it.
    const QString dir = platform::userFile(QStringLiteral("zipview"));
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    ZipMaster1->setExtrBaseDir(dir);
  } else {
    ZipMaster1->setExtrBaseDir(QDir::currentPath());
  }
  TZipMaster::ExtrOptionSet o;
  if (dirNames) o |= TZipMaster::ExtrDirNames;
  if (overwrite) o |= TZipMaster::ExtrOverWrite;
  ZipMaster1->setExtrOptions(o);
  try {
    ZipMaster1->ExtractFiles();
  } catch (...) {
    say(QStringLiteral("Error in Extract; Fatal DLL Exception in mainunit"));
  }
  if (!viewMode) {
    say(ziptexts::countSentence(ZipMaster1->SuccessCount(), QStringLiteral("extracted")));
    if (Msgform) Msgform->hide();
    ExtractPanel->hide();
    updateGridVisibility();
  }
}

void TZipTab::DeleteFrom1Click() {
  if (running_) return;
  RunningGuard guard(running_);
  if (ZipMaster1->EntryCount() == 0) {
    say(QStringLiteral("Error - no files to delete"));
    return;
  }
  if (!ask(QStringLiteral("Delete selected files from: ") + ziptexts::printable(ZipMaster1->ZipFilename()) + '?')) return;
  const QStringList specs = selectedSpecs();
  if (specs.isEmpty()) {
    say(QStringLiteral("Error - no files selected"));
    return;
  }
  ZipMaster1->setFSpecArgs(specs);
  startLog();
  ZipMaster1Message(0, QStringLiteral("Beginning delete from ") + ziptexts::printable(ZipMaster1->ZipFilename()));
  try {
    ZipMaster1->DeleteFiles();
  } catch (...) {
    say(QStringLiteral("Fatal error trying to delete"));
  }
  say(ziptexts::countSentence(ZipMaster1->SuccessCount(), QStringLiteral("deleted")));
  if (Msgform) Msgform->hide();
}

void TZipTab::Test1Click() {
  if (running_) return;
  RunningGuard guard(running_);
  if (ZipMaster1->EntryCount() < 1) {
    say(QStringLiteral("Error - nothing to Test"));
    return;
  }
  if (ZipMaster1->ZipFilename().isEmpty()) return;
  startLog();
  ZipMaster1Message(0, QStringLiteral("Beginning test of ") + ziptexts::printable(ZipMaster1->ZipFilename()));
  ZipMaster1->setFSpecArgs({QStringLiteral("*.*")});
  ZipMaster1->setExtrOptions(ZipMaster1->ExtrOptions() | TZipMaster::ExtrTest);
  try {
    ZipMaster1->ExtractFiles();
  } catch (...) {
    say(QStringLiteral("Error in Extract; Fatal DLL Exception in mainunit"));
  }
  const int count = ZipMaster1->EntryCount(), ok = ZipMaster1->SuccessCount();
  if (count == ok) say(QStringLiteral("All ") + QString::number(count) + QStringLiteral(" files tested OK"));
  else say(QStringLiteral("ERROR: ") + QString::number(count - ok) + QStringLiteral(" files tested BAD, or skipped!"));
  if (Msgform) Msgform->hide();
}

void TZipTab::startLog() {
  if (!Msgform) return;
  Msgform->RichEdit1->clear();
  Msgform->show();
}

void TZipTab::MakeSelfExtractFile1Click() {
  if (running_) return;
  if (ZipMaster1->EntryCount() == 0) {
    say(QStringLiteral("Error: no files in archive"));
    return;
  }
  const bool toZip = ZipMaster1->ZipFilename().toUpper().endsWith(QLatin1String(".EXE"));
  if (!toZip) {
    TMakeSFX dialog(*ZipMaster1, host_, window());
    dialog.exec();
    if (!dialog.confirmed()) return;
  }
  RunningGuard guard(running_);
  ZipMaster1->setCancelRequested(false);
  startLog();
  const int result = toZip ? ZipMaster1->ConvertToZip() : ZipMaster1->ConvertToSfx();
  if (Msgform) Msgform->hide();
  if (result != 0) say(toZip ? QStringLiteral("Error occured in making .ZIP file") : QStringLiteral("Error occured in making .EXE file"));
  else say(QStringLiteral("Filename is now: ") + ZipMaster1->ZipFilename());
}

void TZipTab::ConvertSpanClick() {
  if (running_) return;
  const QString file = host_.askOpenFile(QStringLiteral("Tarnwick - Insert last disk of spanned zip set"),
                                         QStringLiteral("Zip Files (*.zip)"), host_.currentFolder());
  if (file.isEmpty()) return;
  const QFileInfo fi(file);
  QString name = fi.fileName();
  if (!platform::isRemovableVolume(platform::volumeRoot(fi.absoluteFilePath()))) {
    // Numbered parts: the three characters before the extension are the part's number.
    const QString base = fi.completeBaseName();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{3}$"));
    if (base.size() < 3 || !digits.match(base.right(3)).hasMatch()) {
      say(QStringLiteral("This is not a valid (last) disk of a spanned archive"));
      return;
    }
    name = base.left(base.size() - 3) + (fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix());
  }
  const QString folder = host_.askFolder(QStringLiteral("Folder for the joined zip file"), host_.currentFolder());
  if (folder.isEmpty()) return;
  QString joined = platform::AppendSlash(folder) + name;
  {
    RunningGuard guard(running_);
    ZipMaster1->setCancelRequested(false);
    startLog();
    if (ZipMaster1->ReadSpan(file, joined) != 0) return;  // the log stays open with what went wrong
    if (Msgform) Msgform->hide();
  }
  // The joined archive is what the user wanted to see.
  ShowZip(joined);
}

void TZipTab::ShowMessages1Click() {
  if (Msgform) Msgform->show();
}

void TZipTab::DestroyZipFile1Click() {
  if (running_) return;
  const QString name = ZipMaster1->ZipFilename();
  if (QFileInfo(name).isFile()) {
    if (!ask(QStringLiteral("Are you sure you want to delete: ") + ziptexts::printable(name) + '?')) return;
    if (!QFile::remove(name)) {
      say(QStringLiteral("Zip file could not be deleted: ") + ziptexts::printable(name));
      return;
    }
    StringGrid1->setRowCount(2);
    for (int c = 0; c < StringGrid1->ColCount(); ++c) StringGrid1->setCells(c, 1, QString());
    ZipMaster1->setZipFilename(QString());
    DeactivateZipmenu();
  } else {
    say(QStringLiteral("Zip file not found: ") + ziptexts::printable(name));
    DeactivateZipmenu();
  }
}

void TZipTab::CloseZipFile1Click() {
  if (running_) return;
  StringGrid1->ClearAllCells();
  ZipMaster1->setZipFilename(QString());
  DeactivateZipmenu();
}

// ---- Component events ----

void TZipTab::ZipMaster1Message(int errCode, const QString &message) {
  if (Msgform) Msgform->appendLine(message);
  QCoreApplication::processEvents();
  if (errCode > 0 && !ZipMaster1->Unattended()) say(QStringLiteral("Error Msg: ") + message);
}

void TZipTab::ZipMaster1Progress(TZipMaster::ProgressType type, const QString &filename, qint64 fileSize) {
  if (!Msgform) return;
  switch (type) {
    case TZipMaster::ProgressNewMember:
      Msgform->FileBeingZipped->setDirName(filename);
      Msgform->ProgressBar1->setValue(1);
      memberSize_ = fileSize;
      memberDone_ = 0;
      break;
    case TZipMaster::ProgressBytes:
      memberDone_ += fileSize;
      totalDone_ += fileSize;
      Msgform->ProgressBar1->setValue(memberSize_ > 0 ? int(qBound(qint64(0), memberDone_ * 100 / memberSize_, qint64(100))) + 1 : 101);
      if (totalSize_ > 0) Msgform->ProgressBar2->setValue(int(qBound(qint64(0), totalDone_ * 100 / totalSize_, qint64(100))) + 1);
      break;
    case TZipMaster::ProgressBatchEnd:
      Msgform->FileBeingZipped->setDirName(QString());
      Msgform->ProgressBar1->setValue(1);
      Msgform->StatusBar1Panels[0]->clear();
      Msgform->StatusBar1Panels[1]->clear();
      Msgform->ProgressBar2->setValue(1);
      break;
    case TZipMaster::ProgressTotalMembers:
      Msgform->StatusBar1Panels[1]->setText(QString::number(fileSize) + QStringLiteral(" files"));
      break;
    case TZipMaster::ProgressTotalBytes:
      Msgform->StatusBar1Panels[0]->setText(QStringLiteral("Total size: ") + QString::number(fileSize / 1024) + QStringLiteral(" Kb"));
      Msgform->ProgressBar2->setValue(1);
      totalSize_ = fileSize;
      totalDone_ = 0;
      break;
  }
}
