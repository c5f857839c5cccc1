// The HTML view on Qt WebEngine. Everything that reaches beyond the local disk is refused in two places: the
// page's navigation hook (links, scripts, redirects) and the profile's request interceptor (every resource a
// page asks for: images, scripts, frames, fetches). The engine is built on first use only.
#include "controls/htmlengineview.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageRanges>
#include <QPaintEngine>
#include <QPointer>
#include <QPrinter>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <algorithm>
#include <unistd.h>

namespace {
// Schemes that never leave the machine. Pages, frames and resources may use them; nothing else is fetched.
bool isLocalScheme(const QUrl &url) {
  const QString s = url.scheme().toLower();
  return s == u"file" || s == u"data" || s == u"qrc" || s == u"blob" || s == u"about";
}

bool isFileUrl(const QUrl &url) { return url.scheme().compare(u"file", Qt::CaseInsensitive) == 0; }

// Calls `fn` on a later turn of the event loop, unless `owner` is gone by then: completions never arrive
// inside the call that started them.
void later(QObject *owner, std::function<void()> fn) {
  QMetaObject::invokeMethod(owner, std::move(fn), Qt::QueuedConnection);
}
}  // namespace

// Blocks every request for a resource that is not local. Qt may call it on another thread, so it only reads
// the URL and posts the report to the view.
class THtmlEngineView::LocalOnly : public QWebEngineUrlRequestInterceptor {
 public:
  explicit LocalOnly(THtmlEngineView *view) : view_(view) {}
  void interceptRequest(QWebEngineUrlRequestInfo &info) override {
    const QUrl url = info.requestUrl();
    // Pages show local files (frames, images, styles, scripts); their scripts do not read them.
    const bool scriptRead = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeXhr && isFileUrl(url);
    if (isLocalScheme(url) && !scriptRead) return;
    info.block(true);
    QPointer<THtmlEngineView> v = view_;
    const QString text = url.toString();
    QMetaObject::invokeMethod(view_, [v, text] { if (v) emit v->refused(text); }, Qt::QueuedConnection);
  }

 private:
  THtmlEngineView *view_;
};

// The page decides which navigations happen.
class THtmlEngineView::Page : public QWebEnginePage {
 public:
  Page(QWebEngineProfile *profile, THtmlEngineView *owner) : QWebEnginePage(profile, owner), owner_(owner) {}

 protected:
  bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override {
    switch (type) {
      case NavigationTypeTyped:  // only our own loads: the view has no address bar
      case NavigationTypeBackForward:  // the history holds only pages that were accepted
      case NavigationTypeReload:
        return true;
      case NavigationTypeLinkClicked: {
        bool handled = false;
        emit owner_->OnHotSpotTargetClick(QString(), url.toString(), handled);
        if (handled) {
          owner_->noteRefused(url);
          return false;
        }
        if (isFileUrl(url)) return true;
        return refuse(url);
      }
      default:
        // Scripts, forms, meta refreshes and redirects: a frame of a local page may show local content;
        // the page itself may move only to another local file.
        if (isMainFrame ? isFileUrl(url) : isLocalScheme(url)) return true;
        return refuse(url);
    }
  }

 private:
  bool refuse(const QUrl &url) {
    owner_->noteRefused(url);
    QPointer<THtmlEngineView> v = owner_;
    const QString text = url.toString();
    later(owner_, [v, text] { if (v) emit v->refused(text); });
    return false;
  }
  THtmlEngineView *owner_;
};

THtmlEngineView::THtmlEngineView(QWidget *parent) : QWidget(parent) {
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
}

THtmlEngineView::~THtmlEngineView() {
  *alive_ = false;
  // The page must go before its profile, and the profile before the interceptor it calls.
  delete view_;
  view_ = nullptr;
  delete page_;
  page_ = nullptr;
  delete profile_;
  profile_ = nullptr;
}

void THtmlEngineView::ensureEngine() {
  if (view_) return;
  // Chromium's sandbox refuses to start as root, and the view would stay dead: run without it there.
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // No storage name: an off-the-record profile, nothing (cache, cookies, local storage) written to disk.
  profile_ = new QWebEngineProfile(this);
  interceptor_ = std::make_unique<LocalOnly>(this);
  profile_->setUrlRequestInterceptor(interceptor_.get());
  profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);

  page_ = new Page(profile_, this);
  QWebEngineSettings *s = page_->settings();
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadImages, viewImages_);
  s->setFontFamily(QWebEngineSettings::StandardFont, QStringLiteral("Times New Roman"));
  s->setFontFamily(QWebEngineSettings::SerifFont, QStringLiteral("Times New Roman"));
  s->setFontFamily(QWebEngineSettings::FixedFont, QStringLiteral("Courier New"));

  view_ = new QWebEngineView(this);
  view_->setPage(page_);
  layout()->addWidget(view_);

  connect(page_, &QWebEnginePage::loadingChanged, this, &THtmlEngineView::pageLoadingChanged);
  // A page that takes its renderer down ends its load; finds and prints waiting for it get their answer.
  connect(page_, &QWebEnginePage::renderProcessTerminated, this, [this] {
    if (loading_) pageLoadFinished(false);
  });
  connect(page_, &QWebEnginePage::linkHovered, this,
          [this](const QString &url) { emit OnHotSpotTargetCovered(QString(), url); });
  connect(page_, &QWebEnginePage::selectionChanged, this, [this] {
    selected_ = page_->selectedText();
    emit selectionChanged();
  });
  // A link that opens a new window (target="_blank") is a click like any other, shown here; windows that
  // scripts open on their own are refused.
  connect(page_, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &req) {
    const QUrl url = req.requestedUrl();
    if (!req.isUserInitiated()) {
      emit refused(url.toString());
      return;
    }
    bool handled = false;
    emit OnHotSpotTargetClick(QStringLiteral("_blank"), url.toString(), handled);
    if (handled) return;
    if (isFileUrl(url))
      page_->load(url);
    else
      emit refused(url.toString());
  });
}

void THtmlEngineView::noteRefused(const QUrl &url) {
  refusedUrls_.append(url);
  if (refusedUrls_.size() > 32) refusedUrls_.removeFirst();
}

// The engine reports a refused navigation as a load of its own that failed, and a load cut short by a newer
// one as failed too. Callers hear of the pages they get: one loadFinished per page shown.
void THtmlEngineView::pageLoadingChanged(const QWebEngineLoadingInfo &info) {
  const qsizetype refusedAt = refusedUrls_.indexOf(info.url());
  // The page never moves off the machine, so any other address is a refusal, some reported as started
  // before the navigation hook refused them (mail and ftp links).
  const bool refusedNav = refusedAt >= 0 || !isLocalScheme(info.url());
  if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
    if (refusedNav) return;
    lastStarted_ = info.url();
    loading_ = true;
    started_ = true;
    if (!selected_.isEmpty()) {  // a new document has no selection yet
      selected_.clear();
      emit selectionChanged();
    }
    return;
  }
  if (refusedNav) {
    if (refusedAt >= 0) refusedUrls_.removeAt(refusedAt);
    // A script that leaves while its page loads ends that load: the page stays, shown as it is. (The end
    // of a refusal from the page before, arriving after a new load was asked for, ends nothing.)
    if (loading_ && started_) pageLoadFinished(true);
    return;
  }
  // Only the end of the load asked for last counts. The engine reports no start for a load that follows
  // another navigation still open (a refused mail link, say), so the address asked for is enough; a stop
  // before any start is the end of an earlier load of the same address.
  const bool current = (started_ && info.url() == lastStarted_) || info.url() == requested_;
  if (!loading_ || !current) return;
  if (info.status() == QWebEngineLoadingInfo::LoadStoppedStatus && !started_) return;
  pageLoadFinished(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
}

void THtmlEngineView::pageLoadFinished(bool ok) {
  loading_ = false;
  started_ = false;
  lastFind_.clear();
  lastFound_ = false;
  emit loadFinished(ok);
  // A queued find or print may start another load's worth of work; take the list first.
  auto ops = std::move(afterLoad_);
  afterLoad_.clear();
  for (auto &op : ops) op();
}

// A load this view asks for: until the engine reports it started, ends it reports belong to the page before.
void THtmlEngineView::beginLoad(const QUrl &url) {
  loading_ = true;
  started_ = false;
  requested_ = url;
}

void THtmlEngineView::whenLoaded(std::function<void()> op) {
  if (loading_)
    afterLoad_.push_back(std::move(op));
  else
    op();
}

bool THtmlEngineView::ShowFile(const QString &path) {
  const QFileInfo fi(path);
  if (!fi.isFile() || !fi.isReadable()) return false;
  ensureEngine();
  currentFile_ = fi.absoluteFilePath();
  applyImages(viewImages_);
  const QUrl url = QUrl::fromLocalFile(currentFile_);
  beginLoad(url);
  page_->load(url);
  return true;
}

bool THtmlEngineView::ShowImageFile(const QString &path) {
  const QFileInfo fi(path);
  if (!fi.isFile() || !fi.isReadable()) return false;
  ensureEngine();
  currentFile_ = fi.absoluteFilePath();
  // The image is the page: it shows whatever the images option says for pages.
  applyImages(true);
  const QUrl img = QUrl::fromLocalFile(currentFile_);
  const QString html =
      QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                     "<style>html,body{margin:0;padding:0}img{display:block}</style></head>"
                     "<body><img src=\"%2\" alt=\"%1\"></body></html>")
          .arg(fi.fileName().toHtmlEscaped(), QString::fromLatin1(img.toEncoded()).toHtmlEscaped());
  // The base is the image's folder, so the page has that folder's (local) origin and may load the file.
  // The engine reports the page's end under that address.
  const QUrl base = QUrl::fromLocalFile(fi.absolutePath() + QLatin1Char('/'));
  beginLoad(base);
  page_->setHtml(html, base);
  return true;
}

void THtmlEngineView::ClearPage() {
  currentFile_.clear();
  selected_.clear();
  if (!page_) return;
  const QUrl blank(QStringLiteral("about:blank"));
  beginLoad(blank);
  page_->load(blank);
}

QString THtmlEngineView::currentFile() const { return currentFile_; }
bool THtmlEngineView::isLoading() const { return loading_; }

void THtmlEngineView::CopySelection() {
  if (page_) page_->triggerAction(QWebEnginePage::Copy);
}

void THtmlEngineView::SelectEverything() {
  if (page_) page_->triggerAction(QWebEnginePage::SelectAll);
}

int THtmlEngineView::SelLength() const { return selected_.size(); }
QString THtmlEngineView::selectedText() const { return selected_; }

void THtmlEngineView::FindText(const QString &text, bool matchCase, std::function<void(bool)> done) {
  if (!done) done = [](bool) {};
  if (!page_ || text.isEmpty()) {
    later(this, [done] { done(false); });
    return;
  }
  // Searching a page whose frames are still arriving misses them: wait for the load to finish.
  std::weak_ptr<bool> alive = alive_;
  whenLoaded([this, alive, text, matchCase, done] {
    if (!page_) return;
    QWebEnginePage::FindFlags flags;
    if (matchCase) flags |= QWebEnginePage::FindCaseSensitively;
    auto run = [this, alive, text, flags, done] {
      page_->findText(text, flags, [this, alive, done](const QWebEngineFindTextResult &r) {
        auto a = alive.lock();
        if (!a || !*a) return;
        lastFound_ = r.numberOfMatches() > 0;
        done(lastFound_);
      });
    };
    const bool caseChanged = matchCase != lastMatchCase_;
    // A frame that found nothing skips a search for the same text or a longer one, whatever the case
    // rule now says; a search for a text that starts nothing clears that memory.
    const bool skipped = caseChanged && !lastFound_ && !lastFind_.isEmpty() &&
                         text.startsWith(lastFind_, Qt::CaseInsensitive);
    // The same text again is taken as "find next", which keeps the old case rule: start a new search.
    if (caseChanged && text == lastFind_) page_->findText(QString());
    lastFind_ = text;
    lastMatchCase_ = matchCase;
    if (skipped)
      page_->findText(QString(QChar(0xFFFF)), {}, [alive, run](const QWebEngineFindTextResult &) {
        auto a = alive.lock();
        if (a && *a) run();
      });
    else
      run();
  });
}

void THtmlEngineView::PrintPages(QPrinter *printer, int fromPage, int toPage, std::function<void(bool)> done) {
  if (!done) done = [](bool) {};
  if (!page_ || !printer || printing_ || fromPage < 1 || toPage < fromPage) {
    later(this, [done] { done(false); });
    return;
  }
  printing_ = true;
  auto finish = [this, done](bool ok) {
    printing_ = false;
    done(ok);
  };
  // The engine prints every page when the range starts past the last one; a range from page 1 always
  // holds a page, any other is checked against the page count of a first, whole print.
  whenLoaded([this, printer, fromPage, toPage, finish] {
    if (fromPage == 1) {
      printRange(printer, fromPage, toPage, finish);
      return;
    }
    std::weak_ptr<bool> alive = alive_;
    page_->printToPdf(
        [this, alive, printer, fromPage, toPage, finish](const QByteArray &pdf) {
          auto a = alive.lock();
          if (!a || !*a) return;
          const int pages = pdfPageCount(pdf);
          if (pages == 0 || fromPage > pages) {
            finish(false);
            return;
          }
          printRange(printer, fromPage, pages > 0 ? std::min(toPage, pages) : toPage, finish);
        },
        printer->pageLayout());
  });
}

// The page count of a PDF as the engine writes it: the page tree's root holds the largest /Count. -1 when
// none is found (then the range is left as asked), 0 for no PDF at all.
int THtmlEngineView::pdfPageCount(const QByteArray &pdf) {
  if (pdf.isEmpty()) return 0;
  int count = -1;
  static const QByteArray key("/Count");
  for (qsizetype at = pdf.indexOf(key); at >= 0; at = pdf.indexOf(key, at + key.size())) {
    qsizetype i = at + key.size();
    while (i < pdf.size() && (pdf[i] == ' ' || pdf[i] == '\n' || pdf[i] == '\r')) ++i;
    qsizetype j = i;
    while (j < pdf.size() && pdf[j] >= '0' && pdf[j] <= '9') ++j;
    if (j > i) count = std::max(count, pdf.mid(i, j - i).toInt());
  }
  return count;
}

void THtmlEngineView::printRange(QPrinter *printer, int fromPage, int toPage, std::function<void(bool)> finish) {
  QPageRanges ranges;
  ranges.addRange(fromPage, toPage);
  QPaintEngine *engine = printer->paintEngine();
  if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty() && engine &&
      engine->type() == QPaintEngine::Pdf) {
    // The engine's own PDF keeps the text as text (the printer path gives page images).
    auto conn = std::make_shared<QMetaObject::Connection>();
    *conn = connect(page_, &QWebEnginePage::pdfPrintingFinished, this, [conn, finish](const QString &, bool ok) {
      disconnect(*conn);
      finish(ok);
    });
    page_->printToPdf(printer->outputFileName(), printer->pageLayout(), ranges);
    return;
  }
  // A real printer, or a print preview. The engine makes a PDF of the printer's range, and then paints
  // the printer's range of that PDF: the range would count twice, so the printer's is emptied once the
  // engine took it (all pages of the PDF made), and given back at the end.
  const QPageRanges saved = printer->pageRanges();
  printer->setPageRanges(ranges);
  auto conn = std::make_shared<QMetaObject::Connection>();
  auto ended = std::make_shared<bool>(false);
  *conn = connect(view_, &QWebEngineView::printFinished, this, [conn, ended, printer, saved, finish](bool ok) {
    disconnect(*conn);
    *ended = true;
    printer->setPageRanges(saved);
    finish(ok);
  });
  view_->print(printer);
  if (!*ended) printer->setPageRanges(QPageRanges());
}

bool THtmlEngineView::GoBack() {
  if (!canGoBack()) return false;
  page_->triggerAction(QWebEnginePage::Back);
  return true;
}

bool THtmlEngineView::GoForward() {
  if (!canGoForward()) return false;
  page_->triggerAction(QWebEnginePage::Forward);
  return true;
}

bool THtmlEngineView::canGoBack() const { return page_ && page_->history()->canGoBack(); }
bool THtmlEngineView::canGoForward() const { return page_ && page_->history()->canGoForward(); }

bool THtmlEngineView::ViewImages() const { return viewImages_; }

void THtmlEngineView::setViewImages(bool on) {
  viewImages_ = on;
  applyImages(on);
}

void THtmlEngineView::applyImages(bool on) {
  if (page_) page_->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, on);
}

void *THtmlEngineView::engineHandle() { return view_; }
QWidget *THtmlEngineView::engineWidget() { return view_; }

// The module's one entry point.
extern "C" Q_DECL_EXPORT THtmlEngine *tarnwick_html_engine_create(QWidget *parent) { return new THtmlEngineView(parent); }
