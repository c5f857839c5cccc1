// The HTML view forwards to its engine, which it loads from a module on first use.
#include "controls/htmlview.h"
#include <QCoreApplication>
#include <QLibrary>
#include <QVBoxLayout>
#include "controls/htmlengine.h"
#include "platform/paths.h"

namespace {
// WebEngine shares OpenGL contexts with the widgets; the attribute only counts when it is set before the
// application object exists, so it is set when this file is loaded: any program with the view gets it.
void shareGlContexts() {
  if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
Q_CONSTRUCTOR_FUNCTION(shareGlContexts)

// The module stays loaded for the rest of the run: WebEngine does not survive being unloaded.
THtmlEngineCreate engineFactory() {
  static THtmlEngineCreate create = [] {
    auto *lib = new QLibrary(platform::libraryFolder() + QStringLiteral("/libtarnwick_htmlengine.so"));
    auto fn = reinterpret_cast<THtmlEngineCreate>(lib->resolve("tarnwick_html_engine_create"));
    if (!fn) qWarning("The HTML view cannot start: %s", qPrintable(lib->errorString()));
    return fn;
  }();
  return create;
}
}  // namespace

THtmlView::THtmlView(QWidget *parent) : QWidget(parent) {
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
}

THtmlView::~THtmlView() = default;  // the engine is a child widget

bool THtmlView::ensureEngine() {
  if (engine_) return true;
  THtmlEngineCreate create = engineFactory();
  if (!create) return false;
  engine_ = create(this);
  QWidget *w = engine_->asWidget();
  engine_->setViewImages(viewImages_);
  layout()->addWidget(w);
  // The engine's signals are this view's; forwarded by name, as the program does not link the engine.
  connect(w, SIGNAL(loadFinished(bool)), this, SIGNAL(loadFinished(bool)));
  connect(w, SIGNAL(OnHotSpotTargetCovered(QString, QString)), this, SIGNAL(OnHotSpotTargetCovered(QString, QString)));
  connect(w, SIGNAL(OnHotSpotTargetClick(QString, QString, bool &)), this,
          SIGNAL(OnHotSpotTargetClick(QString, QString, bool &)), Qt::DirectConnection);
  connect(w, SIGNAL(refused(QString)), this, SIGNAL(refused(QString)));
  connect(w, SIGNAL(selectionChanged()), this, SIGNAL(selectionChanged()));
  return true;
}

bool THtmlView::ShowFile(const QString &path) { return ensureEngine() && engine_->ShowFile(path); }
bool THtmlView::ShowImageFile(const QString &path) { return ensureEngine() && engine_->ShowImageFile(path); }
void THtmlView::ClearPage() {
  if (engine_) engine_->ClearPage();
}
QString THtmlView::currentFile() const { return engine_ ? engine_->currentFile() : QString(); }
bool THtmlView::isLoading() const { return engine_ && engine_->isLoading(); }
void THtmlView::CopySelection() {
  if (engine_) engine_->CopySelection();
}
void THtmlView::SelectEverything() {
  if (engine_) engine_->SelectEverything();
}
int THtmlView::SelLength() const { return engine_ ? engine_->SelLength() : 0; }
QString THtmlView::selectedText() const { return engine_ ? engine_->selectedText() : QString(); }

void THtmlView::FindText(const QString &text, bool matchCase, std::function<void(bool)> done) {
  if (engine_)
    engine_->FindText(text, matchCase, std::move(done));
  else if (done)
    done(false);  // nothing shown, nothing found
}

void THtmlView::PrintPages(QPrinter *printer, int fromPage, int toPage, std::function<void(bool)> done) {
  if (engine_)
    engine_->PrintPages(printer, fromPage, toPage, std::move(done));
  else if (done)
    done(false);
}

bool THtmlView::GoBack() { return engine_ && engine_->GoBack(); }
bool THtmlView::GoForward() { return engine_ && engine_->GoForward(); }
bool THtmlView::canGoBack() const { return engine_ && engine_->canGoBack(); }
bool THtmlView::canGoForward() const { return engine_ && engine_->canGoForward(); }
bool THtmlView::ViewImages() const { return engine_ ? engine_->ViewImages() : viewImages_; }

bool THtmlView::ScriptsAllowed() const { return engine_ && engine_->ScriptsAllowed(); }
bool THtmlView::AllowScripts(bool on) { return engine_ && engine_->AllowScripts(on); }

void THtmlView::setViewImages(bool on) {
  viewImages_ = on;
  if (engine_) engine_->setViewImages(on);
}

QWebEngineView *THtmlView::engineView() const {
  return engine_ ? static_cast<QWebEngineView *>(engine_->engineHandle()) : nullptr;
}

QWidget *THtmlView::engineWidget() const { return engine_ ? engine_->engineWidget() : nullptr; }
