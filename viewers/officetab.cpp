#include "viewers/officetab.h"

#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "controls/richedit.h"
#include "viewers/textconverters.h"

TOfficeTab::TOfficeTab(TOfficeHost &host, QWidget *parent)
    : QWidget(parent), host(host), converters_(std::make_unique<TTextConverters>(host.converterStore())) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ReApp = new TRichEdit(this);
  ReApp->setObjectName(QStringLiteral("ReApp"));
  ReApp->setReadOnly(true);
  ReApp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ReApp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ReApp->setLineWrapMode(QTextEdit::NoWrap);
  ReApp->viewport()->setBackgroundRole(QPalette::Window);  // the parent's colour
  const QString hint = QStringLiteral("Click right mouse button for context menu");
  ReApp->setToolTip(hint);
  ReApp->setStatusTip(hint);
  ReApp->installEventFilter(this);
  layout->addWidget(ReApp, 1);

  SbStatus = new QStatusBar(this);
  SbStatus->setObjectName(QStringLiteral("SbStatus"));
  SbStatus->setSizeGripEnabled(false);
  SbStatusPanel = new QLabel(SbStatus);
  SbStatus->addWidget(SbStatusPanel, 1);
  CancelBtn = new QToolButton(SbStatus);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setText(QStringLiteral("Cancel"));
  CancelBtn->setToolTip(QStringLiteral("Stop converting this document"));
  CancelBtn->hide();
  SbStatus->addPermanentWidget(CancelBtn);
  connect(CancelBtn, &QToolButton::clicked, this, &TOfficeTab::cancelConversion);
  layout->addWidget(SbStatus);

  Office97 = new QMenu(this);
  Office97->setObjectName(QStringLiteral("Office97"));
  Open5 = Office97->addAction(QStringLiteral("&Open"), this, &TOfficeTab::Open5Click);
  Open5->setObjectName(QStringLiteral("Open5"));
  Open5->setStatusTip(QStringLiteral("Open an Office style document"));
  Word951 = Office97->addAction(QStringLiteral("Word95"));
  Word951->setObjectName(QStringLiteral("Word951"));
  Word951->setStatusTip(QStringLiteral("Automatically open Word95 docs single clicking file"));
  Word971 = Office97->addAction(QStringLiteral("Word97"));
  Word971->setObjectName(QStringLiteral("Word971"));
  Word971->setStatusTip(QStringLiteral("Automatically open Word97 docs single clicking file"));
  auto *group = new QActionGroup(this);
  for (QAction *a : {Word951, Word971}) {
    a->setCheckable(true);
    group->addAction(a);
  }
  Word971->setChecked(true);
  Clear6 = Office97->addAction(QStringLiteral("&Clear"), this, &TOfficeTab::Clear6Click);
  Clear6->setObjectName(QStringLiteral("Clear6"));
  Clear6->setStatusTip(QStringLiteral("Close current file"));
  ReApp->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ReApp, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) { Office97->popup(ReApp->mapToGlobal(p)); });
}

TOfficeTab::~TOfficeTab() = default;

void TOfficeTab::registerConverters(const QString &libraryFolder) { converters_->registerOwn(libraryFolder); }

QString TOfficeTab::statusText() const { return SbStatusPanel->text(); }

void TOfficeTab::setStatus(const QString &text) { SbStatusPanel->setText(text); }

bool TOfficeTab::eventFilter(QObject *o, QEvent *e) {
  // ReAppEnter / ReAppExit: the user may mark and edit the text while the control has the focus.
  if (o == ReApp && e->type() == QEvent::FocusIn) ReApp->setReadOnly(false);
  else if (o == ReApp && e->type() == QEvent::FocusOut) ReApp->setReadOnly(true);
  return QWidget::eventFilter(o, e);
}

QString TOfficeTab::descriptionFor(const QString &ext) const {
  if (ext == QLatin1String(".doc"))
    return Word971->isChecked() ? QStringLiteral("Word 97") : QStringLiteral("Word 6.0/95 for Windows&Macintosh");
  if (ext.startsWith(QLatin1String(".wk"))) return QStringLiteral("Lotus 1-2-3");
  if (ext == QLatin1String(".xls")) return QStringLiteral("Microsoft Excel Worksheet");
  // Beyond the old formats: the newer containers go to the same converters.
  if (ext == QLatin1String(".docx") || ext == QLatin1String(".odt")) return QStringLiteral("Word 97");
  if (ext == QLatin1String(".xlsx") || ext == QLatin1String(".ods")) return QStringLiteral("Microsoft Excel Worksheet");
  return QString();
}

void TOfficeTab::showDocument(const QString &file, const QString &ext) {
  if (converting_) {
    pendingFile_ = file;
    pendingExt_ = ext;
    cancel_ = true;
    return;
  }
  ReApp->clearDocument();
  setStatus(QString());
  setStatus(QStringLiteral("Opening ") + file);
  QPointer<TOfficeTab> alive(this);
  const bool ok = ImportWithConverter(file, descriptionFor(ext));
  if (!alive) return;
  if (!cleared_)
    setStatus(ok ? QStringLiteral("Succesfully Opened: ") + file : QStringLiteral("Operation cancelled or file only partially opened"));
  cleared_ = false;
  emit documentShown(ok);
  if (!pendingFile_.isEmpty()) {
    QTimer::singleShot(0, this, [this] {
      const QString f = pendingFile_, x = pendingExt_;
      pendingFile_.clear();
      pendingExt_.clear();
      if (!f.isEmpty()) showDocument(f, x);  // empty: given up meanwhile (Clear, closing)
    });
  }
}

void TOfficeTab::cancelConversion() { cancel_ = true; }

void TOfficeTab::abortConversion() {
  pendingFile_.clear();
  pendingExt_.clear();
  if (converting_) cancel_ = true;
}

bool TOfficeTab::ImportWithConverter(const QString &file, const QString &description) {
  if (converting_) return false;
  converting_ = true;
  cancel_ = false;
  cleared_ = false;
  CancelBtn->show();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Between chunks and while the converter's program works: the window keeps painting and answering.
  // Whatever those events do may destroy this tab; then the conversion stops and nothing here is touched.
  QPointer<TOfficeTab> alive(this);
  const auto progress = [this, alive](int) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return alive && !cancel_;
  };
  QByteArray rtf;
  bool ok = false;
  const TTextConverters::Result result = converters_->convert(file, description, progress, &rtf);
  if (!alive) {
    QApplication::restoreOverrideCursor();
    return false;
  }
  switch (result) {
    case TTextConverters::Result::Done: {
      QString error;
      ok = ReApp->loadRtf(rtf, &error);
      break;
    }
    case TTextConverters::Result::InitFailed: host.showConverterMessage(QStringLiteral("Please report: InitConverter failed")); break;
    case TTextConverters::Result::WrongFormat: host.showConverterMessage(QStringLiteral("Not the correct file format")); break;
    default: break;
  }
  QApplication::restoreOverrideCursor();
  CancelBtn->hide();
  converting_ = false;
  emit conversionEnded();
  return ok;
}

void TOfficeTab::Open5Click() {
  if (converting_) return;
  int index = 0;
  const QString file = host.askOpenDocument(host.currentFolder(), converters_->ConverterFilter(), &index);
  if (file.isEmpty()) return;
  ReApp->clearDocument();
  const QStringList names = converters_->ConverterNames();
  const QString description = index >= 1 && index <= names.size() ? names[index - 1] : QString();
  setStatus(QStringLiteral("Opening ") + file);
  bool ok = false;
  if (description.contains(QLatin1String("Rich Text"))) {
    QString error;
    ok = ReApp->loadFromFile(file, &error);
    setStatus(ok ? QStringLiteral("Done") : error);
  } else {
    QPointer<TOfficeTab> alive(this);
    ok = ImportWithConverter(file, description);
    if (!alive) return;
    if (!cleared_)
      setStatus(ok ? QStringLiteral("Succesfully imported: ") + file : QStringLiteral("Operation cancelled or file only partially opened"));
    cleared_ = false;
  }
  emit documentShown(ok);
}

void TOfficeTab::Clear6Click() {
  if (converting_) cleared_ = true;
  abortConversion();
  ReApp->clearDocument();
  setStatus(QString());
}
