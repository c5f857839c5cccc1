#include "viewers/pdftab.h"

#include "controls/thumbnails.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfLink>
#include <QPdfPageNavigator>
#include <QPdfSearchModel>
#include <QPdfSelection>
#include <QPdfView>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr qreal kZoomStep = 1.25, kZoomMin = 0.1, kZoomMax = 8.0;

// A whole PDF ends with its end-of-file mark within its last kilobyte; a download or copy that stopped
// early does not. The library repairs many such files, so the cut is told even when pages show.
bool looksCutShort(const QString &file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const qint64 size = f.size();
  if (size > 1024) f.seek(size - 1024);
  return !f.read(1024).contains("%%EOF");
}

// The first page at most size pixels on its longer side. Qt's PDF library locks its engine around every call,
// so this may run beside the tab.
QImage firstPage(const QString &path, int size) {
  QPdfDocument doc;
  if (doc.load(path) != QPdfDocument::Error::None || doc.pageCount() < 1) return {};
  const QSizeF points = doc.pagePointSize(0);
  if (points.isEmpty()) return {};
  const QSize pixels = points.scaled(size, size, Qt::KeepAspectRatio).toSize().expandedTo({1, 1});
  QImage img = doc.render(0, pixels);
  if (img.isNull()) return {};
  // A page with no background of its own is white on paper, not see-through.
  QImage page(img.size(), QImage::Format_RGB32);
  page.fill(Qt::white);
  QPainter(&page).drawImage(0, 0, img);
  return page;
}

QString loadErrorText(QPdfDocument::Error e, const QString &name) {
  switch (e) {
    case QPdfDocument::Error::FileNotFound: return QStringLiteral("%1 cannot be found or read.").arg(name);
    case QPdfDocument::Error::IncorrectPassword:
      return QStringLiteral("%1 is protected by a password; this viewer cannot open it.").arg(name);
    case QPdfDocument::Error::UnsupportedSecurityScheme:
      return QStringLiteral("%1 is encrypted in a way this viewer cannot open.").arg(name);
    case QPdfDocument::Error::InvalidFileFormat:
    case QPdfDocument::Error::DataNotYetAvailable:
    case QPdfDocument::Error::Unknown:
    default: return QStringLiteral("%1 is not a PDF file, or it is damaged or cut short.").arg(name);
  }
}
}  // namespace

TPdfTab::TPdfTab(QWidget *parent) : QWidget(parent), doc_(new QPdfDocument(this)), search_(new QPdfSearchModel(this)) {
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(2);
  auto *bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 0);
  auto button = [this, bar](const QString &text, const QString &tip, auto slot) {
    auto *b = new QToolButton(this);
    b->setText(text);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setAutoRaise(true);
    bar->addWidget(b);
    connect(b, &QToolButton::clicked, this, slot);
    return b;
  };
  button(QStringLiteral("\u2212"), QStringLiteral("Zoom Out (Ctrl+Minus)"), [this] { zoomOut(); });
  button(QStringLiteral("+"), QStringLiteral("Zoom In (Ctrl+Plus)"), [this] { zoomIn(); });
  fitBtn_ =
      button(QStringLiteral("Fit Width"), QStringLiteral("Fit the page width to the window"), [this] { fitWidth(); });
  fitBtn_->setCheckable(true);
  bar->addSpacing(12);
  bar->addWidget(new QLabel(QStringLiteral("Page"), this));
  pageBox_ = new QSpinBox(this);
  pageBox_->setRange(0, 0);
  pageBox_->setKeyboardTracking(false);
  pageBox_->setAccessibleName(QStringLiteral("Page number"));
  bar->addWidget(pageBox_);
  pageOf_ = new QLabel(this);
  bar->addWidget(pageOf_);
  bar->addSpacing(12);
  FindEdit = new QLineEdit(this);
  FindEdit->setObjectName(QStringLiteral("PdfFind"));
  FindEdit->setPlaceholderText(QStringLiteral("Find text"));
  FindEdit->setAccessibleName(QStringLiteral("Find text"));
  FindEdit->setClearButtonEnabled(true);
  FindEdit->setMaximumWidth(220);
  bar->addWidget(FindEdit);
  button(QStringLiteral("\u25B2"), QStringLiteral("Previous match (Shift+Enter)"), [this] { findNext(false); });
  button(QStringLiteral("\u25BC"), QStringLiteral("Next match (Enter)"), [this] { findNext(true); });
  findStatus_ = new QLabel(this);
  bar->addWidget(findStatus_);
  bar->addStretch(1);
  button(QStringLiteral("Copy Text"), QStringLiteral("Copy the text of the current page"), [this] { copyPageText(); });
  lay->addLayout(bar);
  Notice = new QLabel(this);
  Notice->setObjectName(QStringLiteral("PdfNotice"));
  Notice->setWordWrap(true);
  Notice->setStyleSheet(QStringLiteral("QLabel { background: #fff3c4; color: black; padding: 3px; }"));
  lay->addWidget(Notice);

  stack_ = new QStackedWidget(this);
  View = new QPdfView(stack_);
  View->setObjectName(QStringLiteral("PdfView"));
  View->setPageMode(QPdfView::PageMode::MultiPage);
  View->setZoomMode(QPdfView::ZoomMode::FitToWidth);
  View->setDocument(doc_);
  MessageLabel = new QLabel(stack_);
  MessageLabel->setObjectName(QStringLiteral("PdfMessage"));
  MessageLabel->setAlignment(Qt::AlignCenter);
  MessageLabel->setWordWrap(true);
  MessageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stack_->addWidget(View);
  stack_->addWidget(MessageLabel);
  lay->addWidget(stack_, 1);
  search_->setDocument(doc_);

  connect(View->pageNavigator(), &QPdfPageNavigator::currentPageChanged, this, [this] { updateStatus(); });
  connect(View, &QPdfView::zoomModeChanged, this, [this] { updateStatus(); });
  connect(pageBox_, &QSpinBox::valueChanged, this, [this](int v) {
    if (v >= 1 && v - 1 != currentPage()) goToPage(v - 1);
  });
  connect(FindEdit, &QLineEdit::returnPressed, this, [this] {
    const bool back = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
    if (FindEdit->text() != search_->searchString())
      find(FindEdit->text());
    else
      findNext(!back);
  });
  connect(FindEdit, &QLineEdit::textChanged, this, [this](const QString &t) {
    if (t.isEmpty()) find(QString());
  });
  // The first match found is shown as soon as the search reaches it; later ones only count.
  auto results = [this] {
    if (findIndex_ < 0 && search_->rowCount({}) > 0) {
      findIndex_ = 0;
      showMatch();
    }
    updateStatus();
  };
  connect(search_, &QAbstractItemModel::rowsInserted, this, results);
  connect(search_, &QAbstractItemModel::modelReset, this, results);
  connect(search_, &QAbstractItemModel::dataChanged, this, results);

  for (const QKeySequence &k : {QKeySequence(QKeySequence::ZoomIn), QKeySequence(Qt::CTRL | Qt::Key_Equal)}) {
    auto *s = new QShortcut(k, this, [this] { zoomIn(); });
    s->setContext(Qt::WidgetWithChildrenShortcut);
  }
  auto *out = new QShortcut(QKeySequence::ZoomOut, this, [this] { zoomOut(); });
  out->setContext(Qt::WidgetWithChildrenShortcut);
  auto *findKey = new QShortcut(QKeySequence::Find, this, [this] {
    FindEdit->setFocus();
    FindEdit->selectAll();
  });
  findKey->setContext(Qt::WidgetWithChildrenShortcut);
  ClearViewer();
}

TPdfTab::~TPdfTab() {
  search_->setDocument(nullptr);
  View->setDocument(nullptr);
}

bool TPdfTab::ShowPdf(const QString &file) {
  ClearViewer();
  file_ = file;
  const QString name = QFileInfo(file).fileName();
  const QPdfDocument::Error e = doc_->load(file);
  if (e != QPdfDocument::Error::None || doc_->pageCount() <= 0) {
    doc_->close();
    showMessage(e == QPdfDocument::Error::None ? QStringLiteral("%1 has no pages.").arg(name) : loadErrorText(e, name));
    return false;
  }
  stack_->setCurrentWidget(View);
  View->setZoomMode(QPdfView::ZoomMode::FitToWidth);
  View->pageNavigator()->jump(0, {}, 0);
  View->verticalScrollBar()->setValue(0);
  pageBox_->setRange(1, doc_->pageCount());
  // Pages the library could repair show; the notice says that the rest may be missing.
  if (looksCutShort(file)) {
    Notice->setText(QStringLiteral("%1 is cut short: its last pages may be missing or incomplete.").arg(name));
    Notice->show();
  }
  updateStatus();
  emit pagesShown();
  return true;
}

void TPdfTab::ClearViewer() {
  search_->setSearchString(QString());
  doc_->close();
  file_.clear();
  findIndex_ = -1;
  FindEdit->clear();
  MessageLabel->clear();
  Notice->clear();
  Notice->hide();
  stack_->setCurrentWidget(View);
  pageBox_->setRange(0, 0);
  updateStatus();
}

void TPdfTab::showMessage(const QString &text) {
  MessageLabel->setText(text);
  stack_->setCurrentWidget(MessageLabel);
  updateStatus();
}

QString TPdfTab::message() const { return stack_->currentWidget() == MessageLabel ? MessageLabel->text() : QString(); }

int TPdfTab::pageCount() const { return doc_->status() == QPdfDocument::Status::Ready ? doc_->pageCount() : 0; }
int TPdfTab::currentPage() const { return View->pageNavigator()->currentPage(); }

void TPdfTab::goToPage(int page) {
  if (page < 0 || page >= pageCount()) return;
  View->pageNavigator()->jump(page, {}, View->pageNavigator()->currentZoom());
  updateStatus();
}

qreal TPdfTab::zoomFactor() const {
  if (View->zoomMode() == QPdfView::ZoomMode::Custom || pageCount() == 0) return View->zoomFactor();
  // Fitted: the factor the view draws with, from the widest page and the room it has.
  const qreal points = doc_->pagePointSize(qMax(0, currentPage())).width();
  const qreal room = View->viewport()->width() - View->documentMargins().left() - View->documentMargins().right();
  return points > 0 ? room / (points * logicalDpiX() / 72.0) : 1.0;
}

bool TPdfTab::fitsWidth() const { return View->zoomMode() == QPdfView::ZoomMode::FitToWidth; }

void TPdfTab::zoomIn() {
  const qreal f = qBound(kZoomMin, zoomFactor() * kZoomStep, kZoomMax);
  View->setZoomMode(QPdfView::ZoomMode::Custom);
  View->setZoomFactor(f);
  updateStatus();
}

void TPdfTab::zoomOut() {
  const qreal f = qBound(kZoomMin, zoomFactor() / kZoomStep, kZoomMax);
  View->setZoomMode(QPdfView::ZoomMode::Custom);
  View->setZoomFactor(f);
  updateStatus();
}

void TPdfTab::fitWidth() {
  View->setZoomMode(QPdfView::ZoomMode::FitToWidth);
  updateStatus();
}

void TPdfTab::find(const QString &text) {
  findIndex_ = -1;
  if (FindEdit->text() != text) FindEdit->setText(text);
  search_->setSearchString(pageCount() > 0 ? text : QString());
  updateStatus();
}

int TPdfTab::findCount() const { return search_->searchString().isEmpty() ? 0 : search_->rowCount({}); }

void TPdfTab::findNext(bool forward) {
  const int n = findCount();
  if (n == 0) return;
  findIndex_ = findIndex_ < 0 ? 0 : (findIndex_ + (forward ? 1 : n - 1)) % n;
  showMatch();
  updateStatus();
}

void TPdfTab::showMatch() {
  const QPdfLink link = search_->resultAtIndex(findIndex_);
  View->pageNavigator()->jump(link);
  // This view scrolls to the top of the page only: the line with the match is brought to a third of the way down.
  const int offset = int(link.location().y() * zoomFactor() * logicalDpiY() / 72.0) - View->viewport()->height() / 3;
  if (offset > 0) View->verticalScrollBar()->setValue(View->verticalScrollBar()->value() + offset);
}

QString TPdfTab::pageText(int page) const {
  if (page < 0 || page >= pageCount()) return {};
  return doc_->getAllText(page).text();
}

void TPdfTab::copyPageText() {
  const QString text = pageText(currentPage());
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void TPdfTab::updateStatus() {
  const int n = pageCount();
  fitBtn_->setChecked(fitsWidth());
  {
    const QSignalBlocker quiet(pageBox_);
    pageBox_->setValue(n > 0 ? currentPage() + 1 : 0);
  }
  pageOf_->setText(n > 0 ? QStringLiteral("of %1").arg(n) : QString());
  pageBox_->setEnabled(n > 0);
  if (search_->searchString().isEmpty())
    findStatus_->clear();
  else if (findCount() == 0)
    findStatus_->setText(QStringLiteral("Not found"));
  else
    findStatus_->setText(QStringLiteral("%1 of %2").arg(findIndex_ + 1).arg(findCount()));
}

void TPdfTab::addPreviewMaker() { thumbs::addMaker(QStringLiteral("application/pdf"), firstPage); }
