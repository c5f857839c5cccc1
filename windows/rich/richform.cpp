#include "windows/rich/richform.h"

#include "controls/filedialogs.h"
#include "controls/richedit.h"
#include "windows/rich/richhost.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kUntitled = QStringLiteral("Untitled");
const QString kOpenFilter = QStringLiteral("Rich Text Files (*.Rtf)|*.rtf|Text Files (*.Txt)|*.txt|All Files  (*.*)|*.*");
const QString kSaveFilter = QStringLiteral("Rich Text Files (*.RTF)|*.RTF|Text Files (*.TXT)|*.TXT");
constexpr int kGutter = 6;          // the editor's formatting inset, in ruler pixels
constexpr int kRulerLineLeft = 4;   // the ruler line's left edge
constexpr int kMarkerWidth = 11;

// The ruler: a tick at every default tab stop of the editor, as the panel of tab-separated bars shows it.
class TRulerPanel : public QFrame {
 public:
  explicit TRulerPanel(QWidget *parent) : QFrame(parent) {}

 protected:
  void paintEvent(QPaintEvent *e) override {
    QFrame::paintEvent(e);
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect r = contentsRect();
    for (int i = 1; i <= 100; ++i) {
      const int x = r.left() + kGutter + i * TRichEdit::kDefaultTab;
      if (x > r.right()) break;
      p.drawLine(x, r.top() + 4, x, r.top() + 8);
    }
  }
};

// One indent marker: a small triangle, pointing down for the first line, up for the left and right indents.
class TIndentMarker : public QLabel {
 public:
  TIndentMarker(bool down, QWidget *parent) : QLabel(parent), down_(down) { setFixedSize(kMarkerWidth, 8); setCursor(Qt::SizeHorCursor); }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(palette().color(QPalette::WindowText));
    p.setBrush(palette().color(QPalette::Button));
    const qreal w = width() - 1, h = height() - 1;
    const QPolygonF tri = down_ ? QPolygonF{{0, 0}, {w, 0}, {w / 2, h}} : QPolygonF{{w / 2, 0}, {w, h}, {0, h}};
    p.drawPolygon(tri);
  }

 private:
  bool down_;
};

// Small drawn icons for the format buttons, so the tool bar reads the same under any icon theme.
QIcon alignIcon(Qt::Alignment a) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QPen(Qt::black, 1));
  const int widths[] = {14, 9, 12, 7};
  for (int i = 0; i < 4; ++i) {
    const int w = widths[i];
    const int x = a == Qt::AlignLeft ? 1 : a == Qt::AlignRight ? 15 - w : (16 - w) / 2;
    p.drawLine(x, 3 + i * 3, x + w - 1, 3 + i * 3);
  }
  return QIcon(pm);
}

QIcon bulletIcon() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 3; ++i) {
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(2.5, 3.5 + i * 4.5), 1.5, 1.5);
    p.drawLine(6, 3 + i * 4.5, 15, 3 + i * 4.5);
  }
  return QIcon(pm);
}

QIcon letterIcon(QChar c, bool bold, bool italic, bool underline) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  QFont f(QStringLiteral("Serif"));
  f.setPixelSize(13);
  f.setBold(bold);
  f.setItalic(italic);
  f.setUnderline(underline);
  p.setFont(f);
  p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(c));
  return QIcon(pm);
}

QString shortHint(const QString &hint) { return hint.section(QLatin1Char('|'), 0, 0); }
QString longHint(const QString &hint) { return hint.contains(QLatin1Char('|')) ? hint.section(QLatin1Char('|'), 1) : hint; }

}  // namespace

TRichForm::TRichForm(TRichHost &h, bool handOver, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), host(h), handOver_(handOver), FileName(kUntitled) {
  setObjectName(QStringLiteral("RichForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Tarnwick"));
  resize(608, 406);

  Editor = new TRichEdit(this);
  Editor->setObjectName(QStringLiteral("Editor"));
  buildToolBar();
  buildMenus();

  auto *central = new QWidget(this);
  auto *v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  buildRuler();
  v->addWidget(Ruler);
  v->addWidget(Editor, 1);
  setCentralWidget(central);

  const int widths[3] = {120, 60, 50};
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panels_[i]->setFixedWidth(widths[i]);
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(panels_[i]);
  }
  panels_[1]->setAlignment(Qt::AlignCenter);
  statusBar()->setObjectName(QStringLiteral("StatusBar"));

  connect(Editor, &QTextEdit::cursorPositionChanged, this, &TRichForm::SelectionChange);
  connect(Editor, &QTextEdit::selectionChanged, this, &TRichForm::SelectionChange);
  connect(Editor, &QTextEdit::textChanged, this, &TRichForm::RichEditChange);
  connect(Editor, &TRichEdit::modificationChanged, this, &TRichForm::RichEditChange);
  connect(Editor, &QTextEdit::undoAvailable, this, &TRichForm::RichEditChange);
  connect(Editor, &QTextEdit::copyAvailable, this, [this](bool yes) {
    for (QAction *a : {CutButton, CopyButton, EditCutItem, EditCopyItem}) a->setEnabled(yes);
  });
  connect(Editor, &TRichEdit::filesDropped, this, [this](const QStringList &files) {
    if (files.isEmpty() || !SaveQuery()) return;
    openFile(files.first());
  });
  // Qt tells every window of the program when the clipboard changes: the viewer chain of old desktops.
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TRichForm::updatePaste);

  for (QAction *a : {CutButton, CopyButton, EditCutItem, EditCopyItem}) a->setEnabled(false);
  Editor->setFocus();
  if (parent && parent->screen()) {
    const QRect s = parent->screen()->availableGeometry();
    move(s.center() - rect().center());
  }
}

TRichForm::~TRichForm() = default;

bool TRichForm::closeAll(QWidget *owner) {
  const auto forms = owner->findChildren<TRichForm *>(QString(), Qt::FindDirectChildrenOnly);
  for (TRichForm *f : forms)
    if (f->isVisible() && !f->close()) return false;
  return true;
}

void TRichForm::buildToolBar() {
  ToolBar = new QToolBar(QStringLiteral("ToolBar"), this);
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  ToolBar->setMovable(false);
  ToolBar->setIconSize(QSize(16, 16));
  addToolBar(Qt::TopToolBarArea, ToolBar);
  auto button = [this](const char *name, const QString &hint, const QIcon &icon, auto slot) {
    QAction *a = ToolBar->addAction(icon, shortHint(hint));
    a->setObjectName(QString::fromLatin1(name));
    a->setToolTip(shortHint(hint));
    a->setStatusTip(longHint(hint));
    if (QWidget *w = ToolBar->widgetForAction(a)) w->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QStyle *st = style();
  auto themed = [st](const char *name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), st->standardIcon(fallback));
  };
  button("OpenButton", QStringLiteral("Open|Open an existing file"), themed("document-open", QStyle::SP_DialogOpenButton), &TRichForm::FileOpen);
  button("SaveButton", QStringLiteral("Save|Save current file"), themed("document-save", QStyle::SP_DialogSaveButton), [this] { FileSave(); });
  button("PrintButton", QStringLiteral("Print|Print current file"), themed("document-print", QStyle::SP_FileIcon), &TRichForm::FilePrint);
  ToolBar->addSeparator();
  UndoButton = button("UndoButton", QStringLiteral("Undo|Undo the last action"), themed("edit-undo", QStyle::SP_ArrowBack), &TRichForm::EditUndo);
  UndoButton->setEnabled(false);
  CutButton = button("CutButton", QStringLiteral("Cut|Delete selected item"), themed("edit-cut", QStyle::SP_TrashIcon), [this] { Editor->cut(); });
  CopyButton = button("CopyButton", QStringLiteral("Copy|Copy selected item to clipboard"), themed("edit-copy", QStyle::SP_FileDialogContentsView), [this] { Editor->copy(); });
  PasteButton = button("PasteButton", QStringLiteral("Paste|Paste contents of clipboard"), themed("edit-paste", QStyle::SP_DialogApplyButton), [this] { Editor->paste(); });
  ToolBar->addSeparator();

  FontName = new QComboBox(ToolBar);
  FontName->setObjectName(QStringLiteral("FontName"));
  FontName->setEditable(true);
  FontName->setInsertPolicy(QComboBox::NoInsert);
  FontName->setMinimumContentsLength(14);
  FontName->setToolTip(QStringLiteral("Font Name"));
  FontName->setStatusTip(QStringLiteral("Select font name"));
  QStringList families = QFontDatabase::families();
  families.sort(Qt::CaseInsensitive);
  FontName->addItems(families);
  ToolBar->addWidget(FontName);
  connect(FontName, &QComboBox::textActivated, this, [this](const QString &name) {
    if (FUpdating || name.trimmed().isEmpty()) return;
    QTextCharFormat f;
    f.setFontFamilies(QStringList{name.trimmed()});
    applyCharFormat(f);
  });

  FontSize = new QSpinBox(ToolBar);
  FontSize->setObjectName(QStringLiteral("FontSize"));
  FontSize->setRange(0, 1638);
  FontSize->setToolTip(QStringLiteral("Font Size"));
  FontSize->setStatusTip(QStringLiteral("Select font size"));
  ToolBar->addWidget(FontSize);
  connect(FontSize, &QSpinBox::valueChanged, this, [this](int size) {
    // A size of 0 would make the text vanish: the box may show it, the text keeps its size.
    if (FUpdating || size < 1) return;
    QTextCharFormat f;
    f.setFontPointSize(size);
    applyCharFormat(f);
  });
  ToolBar->addSeparator();

  auto toggle = [&](const char *name, const QString &hint, const QIcon &icon, auto apply) {
    QAction *a = button(name, hint, icon, [] {});
    a->setCheckable(true);
    connect(a, &QAction::toggled, this, [this, apply](bool down) {
      if (FUpdating) return;
      QTextCharFormat f;
      apply(f, down);
      applyCharFormat(f);
    });
    return a;
  };
  BoldButton = toggle("BoldButton", QStringLiteral("Bold"), letterIcon(u'B', true, false, false),
                      [](QTextCharFormat &f, bool on) { f.setFontWeight(on ? QFont::Bold : QFont::Normal); });
  ItalicButton = toggle("ItalicButton", QStringLiteral("Italic"), letterIcon(u'I', false, true, false),
                        [](QTextCharFormat &f, bool on) { f.setFontItalic(on); });
  UnderlineButton = toggle("UnderlineButton", QStringLiteral("Underline"), letterIcon(u'U', false, false, true),
                           [](QTextCharFormat &f, bool on) { f.setFontUnderline(on); });
  ToolBar->addSeparator();

  auto *group = new QActionGroup(this);
  group->setExclusive(true);
  auto align = [&](const char *name, const QString &hint, Qt::Alignment a, int tag) {
    QAction *act = button(name, hint, alignIcon(a), [] {});
    act->setCheckable(true);
    act->setData(tag);
    group->addAction(act);
    return act;
  };
  LeftAlign = align("LeftAlign", QStringLiteral("Align Left"), Qt::AlignLeft, 0);
  CenterAlign = align("CenterAlign", QStringLiteral("Center"), Qt::AlignHCenter, 2);
  RightAlign = align("RightAlign", QStringLiteral("Align Right"), Qt::AlignRight, 1);
  LeftAlign->setChecked(true);
  connect(group, &QActionGroup::triggered, this, [this](QAction *a) {
    if (FUpdating) return;
    const int tag = a->data().toInt();
    Editor->setParagraphAlignment(tag == 0 ? Qt::AlignLeft : tag == 1 ? Qt::AlignRight : Qt::AlignHCenter);
  });
  ToolBar->addSeparator();
  BulletsButton = button("BulletsButton", QStringLiteral("Bullets|Enter bullet mode"), bulletIcon(), [] {});
  BulletsButton->setCheckable(true);
  connect(BulletsButton, &QAction::toggled, this, [this](bool down) {
    if (!FUpdating) Editor->setBullets(down);
  });
}

void TRichForm::buildMenus() {
  QMenuBar *bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));
  QMenu *file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("FileMenu"));
  auto item = [this](QMenu *m, const char *name, const QString &caption, const QKeySequence &key, const QString &hint, auto slot) {
    QAction *a = m->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setStatusTip(hint);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  item(file, "FileNewItem", QStringLiteral("&New"), QKeySequence(Qt::CTRL | Qt::Key_N), QStringLiteral("Create a new file"), &TRichForm::FileNew);
  item(file, "FileOpenItem", QStringLiteral("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O), QStringLiteral("Open an existing file"), &TRichForm::FileOpen);
  item(file, "FileSaveItem", QStringLiteral("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S), QStringLiteral("Save current file"), [this] { FileSave(); });
  item(file, "FileSaveAsItem", QStringLiteral("Save &As..."), QKeySequence(), QStringLiteral("Save current file under a new name"), [this] { FileSaveAs(); });
  file->addSeparator()->setObjectName(QStringLiteral("N1"));
  item(file, "FilePrintItem", QStringLiteral("&Print"), QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("Print current file"), &TRichForm::FilePrint);
  file->addSeparator()->setObjectName(QStringLiteral("N4"));
  item(file, "FileExitItem", QStringLiteral("E&xit"), QKeySequence(Qt::ALT | Qt::Key_X), QStringLiteral("Exit this application"), [this] { close(); });

  QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("EditMenu"));
  EditUndoItem = item(edit, "EditUndoItem", QStringLiteral("&Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), QStringLiteral("Undo the last action"), &TRichForm::EditUndo);
  EditUndoItem->setEnabled(false);
  edit->addSeparator()->setObjectName(QStringLiteral("N2"));
  EditCutItem = item(edit, "EditCutItem", QStringLiteral("Cu&t"), QKeySequence(Qt::CTRL | Qt::Key_X), QStringLiteral("Delete selected item"), [this] { Editor->cut(); });
  EditCopyItem = item(edit, "EditCopyItem", QStringLiteral("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C), QStringLiteral("Copy selected item to clipboard"), [this] { Editor->copy(); });
  EditPasteItem = item(edit, "EditPasteItem", QStringLiteral("&Paste"), QKeySequence(Qt::CTRL | Qt::Key_V), QStringLiteral("Paste contents of clipboard"), [this] { Editor->paste(); });
  edit->addSeparator()->setObjectName(QStringLiteral("N5"));
  item(edit, "miEditFont", QStringLiteral("&Font..."), QKeySequence(), QStringLiteral("Select font"), &TRichForm::SelectFont);
}

void TRichForm::buildRuler() {
  Ruler = new TRulerPanel(this);
  Ruler->setObjectName(QStringLiteral("Ruler"));
  Ruler->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Ruler->setFixedHeight(26);
  RulerLine = new QFrame(Ruler);
  RulerLine->setObjectName(QStringLiteral("RulerLine"));
  RulerLine->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  FirstInd = new TIndentMarker(true, Ruler);
  FirstInd->setObjectName(QStringLiteral("FirstInd"));
  LeftInd = new TIndentMarker(false, Ruler);
  LeftInd->setObjectName(QStringLiteral("LeftInd"));
  RightInd = new TIndentMarker(false, Ruler);
  RightInd->setObjectName(QStringLiteral("RightInd"));
  for (QWidget *w : {static_cast<QWidget *>(Ruler), static_cast<QWidget *>(FirstInd), static_cast<QWidget *>(LeftInd),
                     static_cast<QWidget *>(RightInd)})
    w->installEventFilter(this);
  layoutRuler();
}

QWidget *TRichForm::marker(int i) const {
  switch (i) {
    case 0: return FirstInd;
    case 1: return LeftInd;
    default: return RightInd;
  }
}

void TRichForm::layoutRuler() {
  const int width = Ruler->contentsRect().width();
  RulerLine->setGeometry(kRulerLineLeft, 12, qMax(0, width - 2 * kRulerLineLeft), 2);
  FirstInd->move(FirstInd->x(), 2);
  LeftInd->move(LeftInd->x(), 15);
  RightInd->move(RightInd->x(), 15);
  placeMarkers();
}

void TRichForm::placeMarkers() {
  if (FDragging) return;
  const TParaIndents in = Editor->paragraphIndents();
  const int width = Ruler->contentsRect().width();
  FirstInd->move(int(in.first * 4 / 3) + 2, FirstInd->y());
  LeftInd->move(int((in.left + in.first) * 4 / 3) + 2, LeftInd->y());
  RightInd->move(width - int((in.right + kGutter) * 4 / 3) - kGutter, RightInd->y());
}

void TRichForm::markerReleased(QWidget *m) {
  TParaIndents in = Editor->paragraphIndents();
  const int width = Ruler->contentsRect().width();
  if (m == FirstInd) {
    in.first = int((FirstInd->x() + FDragOfs - kGutter) * 3 / 4.0);
    m = LeftInd;  // then it acts as the left marker: the other lines stay where they are
    in.left = int((LeftInd->x() + FDragOfs - kGutter) * 3 / 4.0) - in.first;
  } else if (m == LeftInd) {
    in.left = int((LeftInd->x() + FDragOfs - kGutter) * 3 / 4.0) - in.first;
  } else {
    in.right = int((width - RightInd->x() + FDragOfs - 2) * 3 / 4.0) - 12;
  }
  Editor->setParagraphIndents(in);
  placeMarkers();
}

bool TRichForm::eventFilter(QObject *o, QEvent *e) {
  if (o == Ruler) {
    if (e->type() == QEvent::Resize) layoutRuler();
    return QMainWindow::eventFilter(o, e);
  }
  auto *m = qobject_cast<QWidget *>(o);
  if (m != FirstInd && m != LeftInd && m != RightInd) return QMainWindow::eventFilter(o, e);
  switch (e->type()) {
    case QEvent::MouseButtonPress: {
      auto *me = static_cast<QMouseEvent *>(e);
      if (me->button() != Qt::LeftButton) break;
      FDragOfs = m->width() / 2;
      FDragging = true;
      m->move(m->mapToParent(me->position().toPoint()).x() - FDragOfs, m->y());
      return true;
    }
    case QEvent::MouseMove:
      if (FDragging) {
        auto *me = static_cast<QMouseEvent *>(e);
        m->move(m->mapToParent(me->position().toPoint()).x() - FDragOfs, m->y());
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (FDragging) {
        FDragging = false;
        markerReleased(m);
        Editor->setFocus();
        return true;
      }
      break;
    default: break;
  }
  return QMainWindow::eventFilter(o, e);
}

QString TRichForm::panelText(int i) const { return i >= 0 && i < 3 ? panels_[i]->text() : QString(); }

void TRichForm::setFileName(const QString &name) {
  FileName = name;
  setWindowTitle(QStringLiteral("Tarnwick - ") + QFileInfo(name).fileName());
}

void TRichForm::showEvent(QShowEvent *e) {
  QMainWindow::showEvent(e);
  if (shownOnce_) return;  // a window shown again (restored, say) keeps its document
  shownOnce_ = true;
  updateCursorPos();
  RichEditChange();
  Editor->setFocus();
  updatePaste();
  const QString handed = handOver_ ? host.currentFile() : QString();
  handOver_ = false;
  if (handed.isEmpty() || !openFile(handed)) {
    setFileName(kUntitled);
    Editor->clearDocument();
  }
  Editor->setModified(false);
  SelectionChange();
}

void TRichForm::closeEvent(QCloseEvent *e) {
  if (!SaveQuery()) {
    e->ignore();
    return;
  }
  QMainWindow::closeEvent(e);
}

bool TRichForm::SaveQuery() {
  if (!Editor->isModified()) return true;
  switch (host.ask(this, QStringLiteral("Save changes to %1?").arg(FileName),
                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return FileSave();  // a save that failed or was cancelled keeps the document
    case QMessageBox::No: return true;
    default: return false;
  }
}

namespace {
// A document of many megabytes takes a moment to read or write: the pointer says so meanwhile.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

bool TRichForm::openFile(const QString &path) {
  QString error;
  bool loaded;
  {
    BusyCursor busy;
    loaded = Editor->loadFromFile(path, &error);
  }
  if (!loaded) {
    host.showError(this, error);
    return false;
  }
  setFileName(path);
  Editor->setFocus();
  Editor->setModified(false);
  SelectionChange();
  RichEditChange();
  return true;
}

void TRichForm::FileNew() {
  if (!SaveQuery()) return;
  setFileName(kUntitled);
  Editor->clearDocument();
  Editor->setReadOnly(false);
  SelectionChange();
  RichEditChange();
}

void TRichForm::FileOpen() {
  if (!SaveQuery()) return;
  bool readOnly = false;
  const QString path = host.openFileName(this, host.currentFolder(), filedlg::qtFilter(kOpenFilter), readOnly);
  if (path.isEmpty()) return;
  if (openFile(path)) Editor->setReadOnly(readOnly);
}

bool TRichForm::writeTo(const QString &path) {
  // Plain text stays plain text: a file named .txt is written as text, every other one as RTF.
  const bool plain = QFileInfo(path).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0;
  // What the document keeps of its file is written back; what it could not keep is lost, so the user is
  // told which before the file is replaced.
  const QStringList unkept = Editor->unkeptContent();
  if (!plain && !unkept.isEmpty()
      && host.ask(this,
                  QStringLiteral("Saving \"%1\" as rich text loses what this editor could not keep of the file it "
                                 "was read from:\n\n- %2\n\nSave anyway?").arg(path, unkept.join(QStringLiteral("\n- "))),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return false;
  QString error;
  bool saved;
  {
    BusyCursor busy;
    saved = Editor->saveToFile(path, plain, &error);
  }
  if (!saved) {
    host.showError(this, error);
    return false;
  }
  RichEditChange();
  return true;
}

bool TRichForm::FileSave() {
  if (FileName == kUntitled) return FileSaveAs();
  if (Editor->changedOnDisk(FileName)
      && host.ask(this,
                  QStringLiteral("\"%1\" has been changed by another program since it was opened.\n\n"
                                 "Save anyway and replace those changes?").arg(FileName),
                  QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return false;
  return writeTo(FileName);
}

bool TRichForm::FileSaveAs() {
  const QString path = host.saveFileName(this, host.currentFolder(), filedlg::qtFilter(kSaveFilter));
  if (path.isEmpty()) return false;
  if (QFileInfo::exists(path)
      && host.ask(this, QStringLiteral("OK to overwrite %1").arg(path), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)
             != QMessageBox::Yes)
    return false;
  if (!writeTo(path)) return false;
  setFileName(path);
  return true;
}

void TRichForm::printTo(QPrinter *printer) {
  printer->setDocName(FileName);
  Editor->print(printer);
}

void TRichForm::FilePrint() {
  QPrinter printer(QPrinter::HighResolution);
  if (host.printSetup(this, &printer)) printTo(&printer);
}

void TRichForm::EditUndo() { Editor->undo(); }

void TRichForm::applyCharFormat(const QTextCharFormat &f) {
  Editor->mergeCurrentCharFormat(f);
  Editor->setFocus();
}

void TRichForm::SelectFont() {
  const QTextCharFormat cur = Editor->currentTextFormat();
  QFont font = cur.font();
  QColor color = cur.hasProperty(QTextFormat::ForegroundBrush) ? cur.foreground().color() : Editor->palette().color(QPalette::Text);
  if (host.chooseFont(this, font, color)) {
    QTextCharFormat f;
    f.setFontFamilies(QStringList{font.family()});
    if (font.pointSizeF() > 0) f.setFontPointSize(font.pointSizeF());
    f.setFontWeight(font.weight());
    f.setFontItalic(font.italic());
    f.setFontUnderline(font.underline());
    f.setFontStrikeOut(font.strikeOut());
    f.setForeground(color);
    Editor->mergeCurrentCharFormat(f);
  }
  Editor->setFocus();
}

void TRichForm::SelectionChange() {
  FUpdating = true;
  placeMarkers();
  const QTextCharFormat f = Editor->currentTextFormat();
  const QFont font = f.font();
  BoldButton->setChecked(font.bold());
  ItalicButton->setChecked(font.italic());
  UnderlineButton->setChecked(font.underline());
  BulletsButton->setChecked(Editor->hasBullets());
  const double pt = f.fontPointSize() > 0 ? f.fontPointSize() : Editor->document()->defaultFont().pointSizeF();
  FontSize->setValue(qRound(pt));
  const QStringList fams = f.fontFamilies().toStringList();
  FontName->setCurrentText(!fams.isEmpty() ? fams.front() : Editor->document()->defaultFont().family());
  const Qt::Alignment a = Editor->currentParagraph().blockFormat().alignment() & Qt::AlignHorizontal_Mask;
  (a & Qt::AlignHCenter ? CenterAlign : a & Qt::AlignRight ? RightAlign : LeftAlign)->setChecked(true);
  updateCursorPos();
  FUpdating = false;
}

void TRichForm::updateCursorPos() {
  const int start = Editor->selStart();
  const int line = Editor->lineFromChar(start);
  const int col = start - Editor->lineIndex(line);
  panels_[0]->setText(QString::asprintf("Line: %3d   Col: %3d", line + 1, col + 1));
  const bool selected = Editor->selLength() > 0;
  for (QAction *a : {CutButton, CopyButton, EditCutItem, EditCopyItem}) a->setEnabled(selected);
}

void TRichForm::RichEditChange() {
  panels_[1]->setText(Editor->isModified() ? QStringLiteral("Modified") : QString());
  const bool undo = Editor->canUndo();
  UndoButton->setEnabled(undo);
  EditUndoItem->setEnabled(undo);
}

void TRichForm::updatePaste() {
  const bool can = Editor->canPaste();
  PasteButton->setEnabled(can);
  EditPasteItem->setEnabled(can);
}
