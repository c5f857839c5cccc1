#include "windows/hex/hexform.h"

#include "windows/hex/hexeditor.h"
#include "windows/hex/hexhost.h"
#include "windows/hex/hextocanvas.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QStatusBar>

namespace {
// Search and jump state live for the whole run, across hex editor windows.
struct SharedState {
  QString searchText;
  QByteArray pattern;
  bool ignoreCase = false;
  qint64 lastMatch = -1;
  qint64 jumpAmount = 4000;
};
SharedState &shared() {
  static SharedState s;
  return s;
}
QPointer<THexForm> s_instance;
}  // namespace

void THexForm::resetSharedState() { shared() = SharedState(); }

THexForm *THexForm::instance() { return s_instance.data(); }

bool THexForm::closeInstance() { return !s_instance || s_instance->close(); }

THexForm *THexForm::open(QWidget *parent, THexHost &host, QAction *menuItem) {
  if (s_instance) {
    s_instance->raise();
    s_instance->activateWindow();
    return s_instance;
  }
  auto *form = new THexForm(host, parent);
  form->setAttribute(Qt::WA_DeleteOnClose);
  s_instance = form;
  if (menuItem) {
    menuItem->setEnabled(false);
    QPointer<QAction> item(menuItem);
    connect(form, &QObject::destroyed, menuItem, [item] {
      if (item) item->setEnabled(true);
    });
  }
  form->show();
  form->activateWindow();
  return form;
}

THexForm::THexForm(THexHost &host, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_host(host) {
  setObjectName(QStringLiteral("HexForm"));
  setWindowTitle(QStringLiteral("Tarnwick - Hex Editor"));
  resize(696, 480);
  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  HexEditor1 = new THexEditor(this);
  HexEditor1->setObjectName(QStringLiteral("HexEditor1"));
  HexEditor1->setShowMarkerColumn(false);
  HexEditor1->setBytesPerColumn(2);
  HexEditor1->setBytesPerLine(16);
  HexEditor1->setOEMTranslate(false);
  HexEditor1->buffer()->BackupExtension = QStringLiteral(".bak");
  HexEditor1->setOffsetDisplay(odHex);
  HexEditor1->setOffsetSeparator(QLatin1Char(':'));
  HexEditor1->setCaretStyle(csBottomLine);
  HexEditor1->setFocusFrame(false);
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setBold(true);
  f.setPixelSize(13);
  HexEditor1->setFont(f);
  TColors c;
  c.Background = Qt::white;
  c.PositionBackground = QColor(128, 0, 0);
  c.PositionText = QColor(255, 0, 0);
  c.ChangedBackground = QColor(255, 255, 168);
  c.ChangedText = QColor(128, 0, 0);
  c.CursorFrame = Qt::black;
  c.Offset = QColor(0, 128, 128);
  c.OddColumn = QColor(0, 0, 255);
  c.EvenColumn = QColor(0, 0, 128);
  HexEditor1->setColors(c);
  HexEditor1->OnKeyDown = [this](QKeyEvent *e) { return HexEditor1KeyDown(e); };
  setCentralWidget(HexEditor1);
  connect(HexEditor1, &THexEditor::StateChanged, this, &THexForm::HexEditor1StateChanged);
  connect(HexEditor1->buffer(), &THexBuffer::sourceChanged, this, &THexForm::sourceChanged);

  HexToCanvas1 = new THexToCanvas(this);
  HexToCanvas1->setHexEditor(HexEditor1);
  HexToCanvas1->ShrinkToFit = false;

  const int widths[5] = {120, 150, 30, 30, 100};
  QFont panelFont = statusBar()->font();
  panelFont.setPixelSize(13);
  for (int i = 0; i < 5; ++i) {
    m_panels[i] = new QLabel(this);
    m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
    m_panels[i]->setFixedWidth(widths[i]);
    m_panels[i]->setFont(panelFont);
    statusBar()->addWidget(m_panels[i]);
  }
  buildMenus();
  connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { Bearbeiten1Click(); });
  HexEditor1->NewFile(QStringLiteral("Untitled"));
  Datei1Click();
  Bearbeiten1Click();
  Jump1Click();
  HexEditor1->setFocus();
}

THexForm::~THexForm() { delete m_printer; }

// ---------------------------------------------------------------- menus

void THexForm::buildMenus() {
  auto item = [this](QMenu *menu, const char *name, const QString &caption, void (THexForm::*slot)(),
                     const QKeySequence &key = QKeySequence()) {
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    if (!key.isEmpty()) a->setShortcut(key);
    if (slot) connect(a, &QAction::triggered, this, slot);
    return a;
  };
  auto separator = [](QMenu *menu, const char *name) { menu->addSeparator()->setObjectName(QLatin1String(name)); };

  Datei1 = menuBar()->addMenu(QStringLiteral("&File"));
  Datei1->setObjectName(QStringLiteral("Datei1"));
  Neu1 = item(Datei1, "Neu1", QStringLiteral("&New"), &THexForm::Neu1Click);
  ffnen1 = item(Datei1, "ffnen1", QStringLiteral("&Open..."), &THexForm::ffnen1Click);
  Speichern1 = item(Datei1, "Speichern1", QStringLiteral("&Save"), &THexForm::Speichern1Click);
  Speichernunter1 = item(Datei1, "Speichernunter1", QStringLiteral("Save &as..."), &THexForm::Speichernunter1Click);
  separator(Datei1, "N6");
  Printpreview1 = item(Datei1, "Printpreview1", QStringLiteral("Print preview"), &THexForm::Printpreview1Click);
  Printsetup1 = item(Datei1, "Printsetup1", QStringLiteral("Print setup"), &THexForm::Printsetup1Click);
  Print1 = item(Datei1, "Print1", QStringLiteral("Print"), &THexForm::Print1Click, QKeySequence(QStringLiteral("Ctrl+P")));
  separator(Datei1, "N1");
  Beenden1 = item(Datei1, "Beenden1", QStringLiteral("&Exit"), nullptr);
  connect(Beenden1, &QAction::triggered, this, &QWidget::close);
  connect(Datei1, &QMenu::aboutToShow, this, &THexForm::Datei1Click);

  Bearbeiten1 = menuBar()->addMenu(QStringLiteral("&Edit"));
  Bearbeiten1->setObjectName(QStringLiteral("Bearbeiten1"));
  Rckgngig1 = item(Bearbeiten1, "Rckgngig1", QStringLiteral("Undo"), &THexForm::Rckgngig1Click, QKeySequence(QStringLiteral("Ctrl+Z")));
  separator(Bearbeiten1, "N3");
  Ausschneiden1 = item(Bearbeiten1, "Ausschneiden1", QStringLiteral("Cut"), &THexForm::Ausschneiden1Click, QKeySequence(QStringLiteral("Ctrl+X")));
  Kopieren1 = item(Bearbeiten1, "Kopieren1", QStringLiteral("Copy"), &THexForm::Kopieren1Click, QKeySequence(QStringLiteral("Ctrl+C")));
  Einfgen1 = item(Bearbeiten1, "Einfgen1", QStringLiteral("Paste"), &THexForm::Einfgen1Click, QKeySequence(QStringLiteral("Ctrl+V")));
  separator(Bearbeiten1, "N5");
  Goto1 = item(Bearbeiten1, "Goto1", QStringLiteral("Goto..."), &THexForm::Goto1Click, QKeySequence(QStringLiteral("Ctrl+G")));
  Jump1 = Bearbeiten1->addMenu(QStringLiteral("Jump"));
  Jump1->setObjectName(QStringLiteral("Jump1"));
  Amount40001 = item(Jump1, "Amount40001", QStringLiteral("Amount : 4000"), &THexForm::Amount40001Click);
  Jumpforward1 = item(Jump1, "Jumpforward1", QStringLiteral("Jump forward"), &THexForm::Jumpforward1Click, QKeySequence(QStringLiteral("Ctrl+J")));
  Jumpbackward1 = item(Jump1, "Jumpbackward1", QStringLiteral("Jump backward"), &THexForm::Jumpbackward1Click, QKeySequence(QStringLiteral("Shift+Ctrl+J")));
  connect(Jump1, &QMenu::aboutToShow, this, &THexForm::Jump1Click);
  separator(Bearbeiten1, "N4");
  Find1 = item(Bearbeiten1, "Find1", QStringLiteral("Find "), &THexForm::Find1Click, QKeySequence(QStringLiteral("Ctrl+F")));
  FindNext1 = item(Bearbeiten1, "FindNext1", QStringLiteral("Find Next"), &THexForm::FindNext1Click, QKeySequence(Qt::Key_F3));
  connect(Bearbeiten1, &QMenu::aboutToShow, this, &THexForm::Bearbeiten1Click);

  View1 = menuBar()->addMenu(QStringLiteral("&View"));
  View1->setObjectName(QStringLiteral("View1"));
  auto radio = [this](QMenu *menu, const char *name, const QString &caption, int tag, QActionGroup *group,
                      std::function<void(int)> apply) {
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    a->setCheckable(true);
    a->setData(tag);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [apply, tag] { apply(tag); });
    return a;
  };
  Linesize1 = View1->addMenu(QStringLiteral("Line size"));
  Linesize1->setObjectName(QStringLiteral("Linesize1"));
  auto *lines = new QActionGroup(this);
  auto setLine = [this](int n) { HexEditor1->setBytesPerLine(n); };
  _16 = radio(Linesize1, "_16", QStringLiteral("16 Bytes per line"), 16, lines, setLine);
  _32 = radio(Linesize1, "_32", QStringLiteral("32 Bytes per line"), 32, lines, setLine);
  _64 = radio(Linesize1, "_64", QStringLiteral("64 Bytes per line"), 64, lines, setLine);
  _16->setChecked(true);
  Blocksize1 = View1->addMenu(QStringLiteral("Column width"));
  Blocksize1->setObjectName(QStringLiteral("Blocksize1"));
  auto *blocks = new QActionGroup(this);
  auto setBlock = [this](int n) { HexEditor1->setBytesPerColumn(n); };
  N1Byteperblock1 = radio(Blocksize1, "N1Byteperblock1", QStringLiteral("1 Byte per column"), 1, blocks, setBlock);
  N2Bytesperblock1 = radio(Blocksize1, "N2Bytesperblock1", QStringLiteral("2 Bytes per column"), 2, blocks, setBlock);
  N4Bytesperblock1 = radio(Blocksize1, "N4Bytesperblock1", QStringLiteral("4 Bytes per column"), 4, blocks, setBlock);
  Caretstyle1 = View1->addMenu(QStringLiteral("Caret style"));
  Caretstyle1->setObjectName(QStringLiteral("Caretstyle1"));
  auto *carets = new QActionGroup(this);
  auto setCaret = [this](int n) { HexEditor1->setCaretStyle(static_cast<TCaretStyle>(n)); };
  Fullblock1 = radio(Caretstyle1, "Fullblock1", QStringLiteral("Full block"), 0, carets, setCaret);
  Leftline1 = radio(Caretstyle1, "Leftline1", QStringLiteral("Left line"), 1, carets, setCaret);
  Bottomline1 = radio(Caretstyle1, "Bottomline1", QStringLiteral("Bottom line"), 2, carets, setCaret);
  Offsetdisplay1 = View1->addMenu(QStringLiteral("Offset display"));
  Offsetdisplay1->setObjectName(QStringLiteral("Offsetdisplay1"));
  auto *offsets = new QActionGroup(this);
  auto setOffset = [this](int n) { HexEditor1->setOffsetDisplay(static_cast<TOffsetDisplayStyle>(n)); };
  Hex1 = radio(Offsetdisplay1, "Hex1", QStringLiteral("Hex"), 0, offsets, setOffset);
  Dec1 = radio(Offsetdisplay1, "Dec1", QStringLiteral("Dec"), 1, offsets, setOffset);
  None1 = radio(Offsetdisplay1, "None1", QStringLiteral("None"), 2, offsets, setOffset);
  separator(View1, "N2");
  ASCIItoANSI1 = View1->addAction(QStringLiteral("ASCII to ANSI"));
  ASCIItoANSI1->setObjectName(QStringLiteral("ASCIItoANSI1"));
  ASCIItoANSI1->setCheckable(true);
  connect(ASCIItoANSI1, &QAction::triggered, this, [this] {
    HexEditor1->setOEMTranslate(!HexEditor1->OEMTranslate());
    ASCIItoANSI1->setChecked(HexEditor1->OEMTranslate());
  });
  Grid1 = View1->addAction(QStringLiteral("Grid"));
  Grid1->setObjectName(QStringLiteral("Grid1"));
  Grid1->setCheckable(true);
  connect(Grid1, &QAction::triggered, this, [this] { HexEditor1->setGridLineWidth(1 - HexEditor1->GridLineWidth()); });
  Showmarkers1 = View1->addAction(QStringLiteral("Show markers"));
  Showmarkers1->setObjectName(QStringLiteral("Showmarkers1"));
  Showmarkers1->setCheckable(true);
  connect(Showmarkers1, &QAction::triggered, this,
          [this] { HexEditor1->setShowMarkerColumn(!HexEditor1->ShowMarkerColumn()); });
  connect(View1, &QMenu::aboutToShow, this, &THexForm::View1Click);
  View1Click();
}

void THexForm::Datei1Click() {
  THexBuffer *b = HexEditor1->buffer();
  Speichern1->setEnabled(b->Modified() && !b->ReadOnly());
  Speichernunter1->setEnabled(b->DataSize() > 0);
  Printpreview1->setEnabled(b->DataSize() > 0);
  Print1->setEnabled(b->DataSize() > 0);
}

void THexForm::Bearbeiten1Click() {
  THexBuffer *b = HexEditor1->buffer();
  Rckgngig1->setEnabled(b->CanUndo());
  Rckgngig1->setText(QStringLiteral("Undo : ") + b->UndoDescription());
  Ausschneiden1->setEnabled(b->SelCount() > 0);
  Kopieren1->setEnabled(b->SelCount() > 0);
  const QMimeData *md = QGuiApplication::clipboard()->mimeData();
  Einfgen1->setEnabled(md && (md->hasText() || md->hasFormat(QStringLiteral("text/plain"))));
  Goto1->setEnabled(b->DataSize() > 0);
  Find1->setEnabled(b->DataSize() > 0);
  FindNext1->setEnabled(b->DataSize() > 0);
}

void THexForm::Jump1Click() {
  Amount40001->setText(QStringLiteral("Amount : ") + QString::number(shared().jumpAmount));
  Jumpforward1->setEnabled(HexEditor1->buffer()->DataSize() > 0);
  Jumpbackward1->setEnabled(HexEditor1->buffer()->DataSize() > 0);
}

void THexForm::View1Click() {
  _16->setChecked(HexEditor1->BytesPerLine() == 16);
  _32->setChecked(HexEditor1->BytesPerLine() == 32);
  _64->setChecked(HexEditor1->BytesPerLine() == 64);
  N1Byteperblock1->setChecked(HexEditor1->BytesPerColumn() == 1);
  N2Bytesperblock1->setChecked(HexEditor1->BytesPerColumn() == 2);
  N4Bytesperblock1->setChecked(HexEditor1->BytesPerColumn() == 4);
  Fullblock1->setChecked(HexEditor1->CaretStyle() == csFull);
  Leftline1->setChecked(HexEditor1->CaretStyle() == csLeftLine);
  Bottomline1->setChecked(HexEditor1->CaretStyle() == csBottomLine);
  Hex1->setChecked(HexEditor1->OffsetDisplay() == odHex);
  Dec1->setChecked(HexEditor1->OffsetDisplay() == odDec);
  None1->setChecked(HexEditor1->OffsetDisplay() == odNone);
  ASCIItoANSI1->setChecked(HexEditor1->OEMTranslate());
  Grid1->setChecked(HexEditor1->GridLineWidth() == 1);
  Showmarkers1->setChecked(HexEditor1->ShowMarkerColumn());
}

// ---------------------------------------------------------------- helpers

void THexForm::errorBox(const QString &text) { m_host.showError(this, text); }

QString THexForm::panelText(int i) const { return m_panels[i]->text(); }

// ---------------------------------------------------------------- file commands

bool THexForm::SaveQuery() {
  THexBuffer *b = HexEditor1->buffer();
  if (!b->Modified()) return true;
  const QString name = QFileInfo::exists(b->FileName()) ? b->FileName() : QStringLiteral("Unnamed File");
  const auto answer = m_host.ask(this, QStringLiteral("Save changes to\n") + name + QStringLiteral(" ?"),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Yes) return Save();
  return answer == QMessageBox::No;
}

bool THexForm::Save() {
  THexBuffer *b = HexEditor1->buffer();
  const QString current = b->FileName();
  if (QFileInfo::exists(current) && !b->ReadOnly()) {
    if (b->changedOnDisk()) {
      // Another program wrote the file since it was opened or saved here: saving would lose its change.
      const auto answer = m_host.ask(
          this,
          current + QStringLiteral("\nwas changed by another program after it was opened here.\n\n"
                                   "Yes: save over that change.\nNo: open the file again and drop the changes made here."),
          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel);
      if (answer == QMessageBox::No) HexEditor1->LoadFromFile(current);
      if (answer != QMessageBox::Yes) return false;
      if (HexEditor1->SaveToFile(current, true)) return true;
      saveFailed(current);
      return false;
    }
    if (HexEditor1->SaveToFile(current)) return true;
    saveFailed(current);
    return false;
  }
  const QString name = m_host.saveFileName(this);
  if (name.isEmpty()) return false;
  if (HexEditor1->SaveToFile(name)) return true;
  saveFailed(name);
  return false;
}

void THexForm::saveFailed(const QString &name) {
  const QString why = HexEditor1->buffer()->lastError();
  errorBox(QStringLiteral("Cannot save file\n") + name + (why.isEmpty() ? QString() : QStringLiteral("\n\n") + why));
}

void THexForm::sourceChanged(const QString &name) {
  const auto answer = m_host.ask(
      this,
      name + QStringLiteral("\nwas changed by another program while it was shown here, so the editor has closed it.\n\n"
                            "Open it again?"),
      QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) HexEditor1->LoadFromFile(name);
}

void THexForm::Neu1Click() {
  if (SaveQuery()) HexEditor1->NewFile(QStringLiteral("Untitled"));
}

void THexForm::ffnen1Click() {
  if (!SaveQuery()) return;
  bool readOnly = false;
  const QString name = m_host.openFileName(this, readOnly);
  if (name.isEmpty()) return;
  if (HexEditor1->LoadFromFile(name) && readOnly) HexEditor1->buffer()->setReadOnly(true);
}

void THexForm::Speichern1Click() { Save(); }

void THexForm::Speichernunter1Click() {
  const QString name = m_host.saveFileName(this);
  if (name.isEmpty()) return;
  if (!HexEditor1->SaveToFile(name)) saveFailed(name);
}

// ---------------------------------------------------------------- printing

int THexForm::printTo(QPrinter *printer) {
  THexBuffer *b = HexEditor1->buffer();
  if (b->DataSize() <= 0) return 0;
  HexToCanvas1->ReadEditorSettings();
  QPainter painter;
  if (!painter.begin(printer)) return 0;
  const int w = printer->width(), h = printer->height();
  HexToCanvas1->Top = h / 20;
  HexToCanvas1->Bottom = h - h / 20;
  HexToCanvas1->Left = w / 20;
  HexToCanvas1->Right = w - w / 20;
  const QString header = QStringLiteral("QX THexEditor-Sample:") + QFileInfo(b->FileName()).fileName();
  qint64 next = 0;
  int page = 0;
  while (next <= b->DataSize() - 1) {
    if (page > 0) printer->newPage();
    ++page;
    painter.fillRect(QRect(0, 0, w, h), Qt::white);
    painter.setPen(Qt::black);
    const qint64 r = HexToCanvas1->PrintToCanvas(painter, next, b->DataSize() - 1, header,
                                                 QStringLiteral("Page ") + QString::number(page));
    if (r <= next) break;  // a page too small for one line: stop rather than print blank pages forever
    next = r;
  }
  painter.end();
  return page;
}

void THexForm::Printpreview1Click() {
  if (HexEditor1->buffer()->DataSize() <= 0) return;
  if (!m_printer) m_printer = new QPrinter(QPrinter::HighResolution);
  QPrintPreviewDialog preview(m_printer, this);
  preview.setWindowTitle(QStringLiteral("Print preview"));
  preview.resize(696, 480);
  connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter *p) { printTo(p); });
  preview.exec();
}

void THexForm::Printsetup1Click() {
  if (!m_printer) m_printer = new QPrinter(QPrinter::HighResolution);
  QPageSetupDialog dlg(m_printer, this);
  dlg.exec();
}

void THexForm::Print1Click() {
  if (HexEditor1->buffer()->DataSize() <= 0) return;
  if (!m_printer) m_printer = new QPrinter(QPrinter::HighResolution);
  QPrintDialog dlg(m_printer, this);
  if (dlg.exec() == QDialog::Accepted) printTo(m_printer);
}

// ---------------------------------------------------------------- edit commands

void THexForm::Rckgngig1Click() {
  if (HexEditor1->buffer()->CanUndo()) HexEditor1->buffer()->Undo();
}

void THexForm::Kopieren1Click() {
  Bearbeiten1Click();
  if (!Kopieren1->isEnabled()) return;
  THexBuffer *b = HexEditor1->buffer();
  qint64 n = b->SelCount();
  const QByteArray bytes = b->BufferFromFile(b->SelStart(), n);
  auto *md = new QMimeData;
  md->setData(QStringLiteral("text/plain"), bytes);  // byte for byte, no conversion
  QGuiApplication::clipboard()->setMimeData(md);
}

void THexForm::Ausschneiden1Click() {
  Bearbeiten1Click();
  if (!Ausschneiden1->isEnabled()) return;
  Kopieren1Click();
  if (!HexEditor1->buffer()->DeleteSelection() && !HexEditor1->buffer()->lastError().isEmpty())
    errorBox(HexEditor1->buffer()->lastError());
}

void THexForm::Einfgen1Click() {
  Bearbeiten1Click();
  if (!Einfgen1->isEnabled()) return;
  const QMimeData *md = QGuiApplication::clipboard()->mimeData();
  QByteArray bytes = md->hasFormat(QStringLiteral("text/plain")) ? md->data(QStringLiteral("text/plain"))
                                                                  : md->text().toUtf8();
  if (bytes.endsWith('\0')) bytes.chop(1);
  if (!bytes.isEmpty() && !HexEditor1->buffer()->ReplaceSelection(bytes) &&
      !HexEditor1->buffer()->lastError().isEmpty())
    errorBox(HexEditor1->buffer()->lastError());
}

void THexForm::Goto1Click() {
  THexBuffer *b = HexEditor1->buffer();
  if (b->DataSize() <= 0) return;
  QString text = QString::number(b->CaretPosition());
  if (!m_host.inputText(this, QStringLiteral("Goto file position..."), QStringLiteral("(prefix \"0x\" or \"$\" means hex)"),
                        text))
    return;
  text = text.trimmed();
  qint64 value = -1;
  bool number = false;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) text = QLatin1Char('$') + text.mid(2);
  if (text.startsWith(QLatin1Char('$'))) value = text.mid(1).toLongLong(&number, 16);
  else value = text.toLongLong(&number, 10);
  if (!number) value = -1;
  if (!b->Seek(value, soFromStart, true)) errorBox(QStringLiteral("Invalid position"));
}

void THexForm::Amount40001Click() {
  QString text = QString::number(shared().jumpAmount);
  if (!m_host.inputText(this, QStringLiteral("Jump amount"), QStringLiteral("Enter new value:"), text)) return;
  bool number = false;
  const qint64 v = text.trimmed().toLongLong(&number);
  if (number) shared().jumpAmount = v;
  Jump1Click();
}

void THexForm::Jumpforward1Click() { HexEditor1->buffer()->Seek(shared().jumpAmount, soFromCaret, false); }
void THexForm::Jumpbackward1Click() { HexEditor1->buffer()->Seek(-shared().jumpAmount, soFromCaret, false); }

qint64 THexForm::runFind(QByteArray &pattern, bool text, bool ignoreCase, qint64 first) {
  THexBuffer *b = HexEditor1->buffer();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QProgressDialog progress(QStringLiteral("Searching..."), QStringLiteral("Cancel"), 0, 1000, this);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  const qint64 p = b->Find(pattern, text, ignoreCase, b->DataSize() - 1, first, [&](qint64 done, qint64 total) {
    progress.setValue(static_cast<int>(total > 0 ? done * 1000 / total : 0));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  });
  QApplication::restoreOverrideCursor();
  return p;
}

void THexForm::selectMatch(qint64 p, qint64 count) {
  THexBuffer *b = HexEditor1->buffer();
  b->setSelStart(p + count - 1);
  b->setSelEnd(p);
}

void THexForm::Find1Click() {
  THexBuffer *b = HexEditor1->buffer();
  if (b->DataSize() <= 0) return;
  SharedState &s = shared();
  s.lastMatch = -1;
  s.ignoreCase = false;
  s.pattern.clear();
  QString text = s.searchText;
  if (!m_host.inputText(this, QStringLiteral("Find Data"), QStringLiteral("\"t..\" ascii, \"T..\" + ignore case, else search hex"),
                        text) ||
      text.isEmpty())
    return;
  s.searchText = text;
  const bool isText = text.startsWith(QLatin1Char('t')) || text.startsWith(QLatin1Char('T'));
  if (isText) {
    s.pattern = text.mid(1).toUtf8();
    s.ignoreCase = text.startsWith(QLatin1Char('T'));
  } else {
    QString digits;
    for (QChar c : text.toLower())
      if (QStringLiteral("0123456789abcdef").contains(c)) digits += c;
    while (digits.size() % 2) digits.prepend(QLatin1Char('0'));
    s.pattern = QByteArray::fromHex(digits.toLatin1());
  }
  if (s.pattern.isEmpty()) return;
  const qint64 p = runFind(s.pattern, isText, s.ignoreCase, b->CaretPosition());
  if (p < 0) {
    if (!b->findCancelled() && !b->sourceLost()) m_host.showMessage(this, QStringLiteral("Data not found."));
    return;
  }
  s.lastMatch = p;
  selectMatch(p, s.pattern.size());
}

void THexForm::FindNext1Click() {
  THexBuffer *b = HexEditor1->buffer();
  if (b->DataSize() <= 0) return;
  SharedState &s = shared();
  if (s.searchText.isEmpty() || s.pattern.isEmpty()) {
    Find1Click();
    return;
  }
  qint64 start = b->CaretPosition();
  if (b->SelCount() > 0) start = b->anchor() == b->SelStart() ? b->SelEnd() : b->SelStart();
  if (start == s.lastMatch) ++start;
  const qint64 p = runFind(s.pattern, false, s.ignoreCase, start);
  if (p < 0) {
    if (!b->findCancelled() && !b->sourceLost()) m_host.showMessage(this, QStringLiteral("Data not found."));
    s.lastMatch = -1;
    return;
  }
  s.lastMatch = p;
  selectMatch(p, s.pattern.size());
}

// ---------------------------------------------------------------- editor events, activation, closing

bool THexForm::HexEditor1KeyDown(QKeyEvent *e) {
  const auto mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (e->key() == Qt::Key_A && mods == Qt::ControlModifier) {
    HexEditor1->buffer()->AppendBuffer(QByteArray(1, '\xff'));
    return true;
  }
  return false;
}

void THexForm::HexEditor1StateChanged() {
  THexBuffer *b = HexEditor1->buffer();
  m_panels[0]->setText(QStringLiteral("Pos : ") + QString::number(b->CaretPosition()));
  m_panels[1]->setText(b->SelCount() > 0 ? QStringLiteral("Sel : %1 - %2").arg(b->SelStart()).arg(b->SelEnd())
                                         : QString());
  m_panels[2]->setText(b->Modified() ? QStringLiteral("*") : QString());
  m_panels[3]->setText(b->ReadOnly() ? QStringLiteral("R") : QString());
  m_panels[4]->setText(QStringLiteral("Size : ") + QString::number(b->DataSize()));
  setWindowTitle(QStringLiteral("Tarnwick - [") + b->FileName() + QLatin1Char(']'));
  // Shortcuts work only through enabled actions, so the enabling follows the state, not just the drop-down.
  Datei1Click();
  Bearbeiten1Click();
  Jump1Click();
}

void THexForm::FormActivate() {
  const QString file = m_host.currentFile();
  m_host.clearCurrentFile();
  if (file.isEmpty() || !QFileInfo(file).isFile()) return;
  // Unsaved changes are not thrown away silently: the usual question comes first.
  if (!SaveQuery()) return;
  HexEditor1->LoadFromFile(file);
}

bool THexForm::event(QEvent *e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QMainWindow::event(e);
}

void THexForm::closeEvent(QCloseEvent *e) {
  if (!SaveQuery()) {
    e->ignore();
    return;
  }
  HexEditor1->NewFile(QStringLiteral("Untitled"));
  e->accept();
  emit closed();
}
