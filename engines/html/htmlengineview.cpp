// The HTML view on Qt WebEngine. Everything that reaches beyond the local disk is refused in two places: the
// page's navigation hook (links, scripts, redirects) and the profile's request interceptor (every resource a
// page asks for: images, scripts, frames, fetches). The engine is built on first use only.
//
// Pages run no scripts. In this engine every local file shares one origin with every other (a page that may
// load its own frames and images may read any file the same way), so a script in a page shown at a click
// could read the user's keys through a frame and put them into a link. The user may let one page's scripts
// run: that page is then shown in a second engine page with scripts on, which never shows another file (a
// link or script that leaves it hands the new file to the page without scripts).
#include "engines/html/htmlengineview.h"

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

// A folder shown as a page or frame is the engine's listing of it: the names of the user's files, with links
// to each of them.
bool isFolderUrl(const QUrl &url) { return isFileUrl(url) && QFileInfo(url.toLocalFile()).isDir(); }

// The file a local address names, without its fragment or query; empty for any other address.
QString localPath(const QUrl &url) {
  if (!isFileUrl(url) || url.toLocalFile().isEmpty()) return QString();
  return QFileInfo(url.toLocalFile()).absoluteFilePath();
}

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
    // Pages show local files (frames, images, styles, scripts); their scripts do not read them, and no
    // folder is shown.
    const bool scriptRead = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeXhr && isFileUrl(url);
    if (isLocalScheme(url) && !scriptRead && !isFolderUrl(url)) return;
    info.block(true);
    QPointer<THtmlEngineView> v = view_;
    const QString text = url.toString();
    QMetaObject::invokeMethod(view_, [v, text] { if (v) emit v->refused(text); }, Qt::QueuedConnection);
  }

 private:
  THtmlEngineView *view_;
};

// The page decides which navigations happen. A page with scripts shows only the file they were allowed for.
class THtmlEngineView::Page : public QWebEnginePage {
 public:
  Page(QWebEngineProfile *profile, THtmlEngineView *owner, QString scriptFile)
      : QWebEnginePage(profile, owner), owner_(owner), scriptFile_(std::move(scriptFile)) {}
  bool runsScripts() const { return !scriptFile_.isEmpty(); }
  // A page with scripts that has handed its next file on: what it still reports is not the view's.
  bool leaving() const { return leaving_; }

 protected:
  bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override {
    if (leaving_) return false;
    switch (type) {
      case NavigationTypeTyped:  // only our own loads: the view has no address bar
      case NavigationTypeBackForward:  // the history holds only pages that were accepted
      case NavigationTypeReload:
        return stays(url, isMainFrame);
      case NavigationTypeLinkClicked: {
        bool handled = false;
        emit owner_->OnHotSpotTargetClick(QString(), url.toString(), handled);
        if (handled) {
          owner_->noteRefused(url);
          return false;
        }
        if (isFileUrl(url) && !isFolderUrl(url)) return stays(url, isMainFrame);
        return refuse(url);
      }
      default:
        // Scripts, forms, meta refreshes and redirects: a frame of a local page may show local content;
        // the page itself may move only to another local file.
        if ((isMainFrame ? isFileUrl(url) : isLocalScheme(url)) && !isFolderUrl(url)) return stays(url, isMainFrame);
        return refuse(url);
    }
  }

 private:
  // An allowed navigation. The main frame of the page with scripts moving to another file leaves it: that
  // file is shown by the page without scripts instead.
  bool stays(const QUrl &url, bool isMainFrame) {
    if (!runsScripts() || !isMainFrame || localPath(url) == scriptFile_) return true;
    leaving_ = true;
    QPointer<THtmlEngineView> v = owner_;
    later(owner_, [v, url] { if (v) v->leaveScripts(url); });
    return false;
  }
  bool refuse(const QUrl &url) {
    owner_->noteRefused(url);
    QPointer<THtmlEngineView> v = owner_;
    const QString text = url.toString();
    later(owner_, [v, text] { if (v) emit v->refused(text); });
    return false;
  }
  THtmlEngineView *owner_;
  const QString scriptFile_;  // the one file shown with scripts; empty in the page without them
  bool leaving_ = false;
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
  page_ = nullptr;
  delete scriptPage_;
  scriptPage_ = nullptr;
  for (const QPointer<Page> &p : retired_) delete p.data();
  delete safePage_;
  safePage_ = nullptr;
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

  safePage_ = makePage(QString());
  page_ = safePage_;
  view_ = new QWebEngineView(this);
  view_->setPage(page_);
  layout()->addWidget(view_);
}

THtmlEngineView::Page *THtmlEngineView::makePage(const QString &scriptFile) {
  auto *page = new Page(profile_, this, scriptFile);
  QWebEngineSettings *s = page->settings();
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  // Without it the engine refuses a local page its own frames and images too.
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, page->runsScripts());
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadImages, viewImages_);
  s->setFontFamily(QWebEngineSettings::StandardFont, QStringLiteral("Times New Roman"));
  s->setFontFamily(QWebEngineSettings::SerifFont, QStringLiteral("Times New Roman"));
  s->setFontFamily(QWebEngineSettings::FixedFont, QStringLiteral("Courier New"));

  // Only the page shown speaks for the view.
  auto shown = [this, page] { return page == page_ && !page->leaving(); };
  connect(page, &QWebEnginePage::loadingChanged, this, [this, shown](const QWebEngineLoadingInfo &info) {
    if (shown()) pageLoadingChanged(info);
  });
  // A page that takes its renderer down ends its load; finds and prints waiting for it get their answer.
  connect(page, &QWebEnginePage::renderProcessTerminated, this, [this, shown] {
    if (shown() && loading_) pageLoadFinished(false);
  });
  connect(page, &QWebEnginePage::linkHovered, this, [this, shown](const QString &url) {
    if (shown()) emit OnHotSpotTargetCovered(QString(), url);
  });
  connect(page, &QWebEnginePage::selectionChanged, this, [this, shown, page] {
    if (!shown()) return;
    selected_ = page->selectedText();
    emit selectionChanged();
  });
  // A link that opens a new window (target="_blank") is a click like any other, shown here; windows that
  // scripts open on their own are refused.
  connect(page, &QWebEnginePage::newWindowRequested, this, [this, shown](QWebEngineNewWindowRequest &req) {
    const QUrl url = req.requestedUrl();
    if (!shown() || !req.isUserInitiated()) {
      emit refused(url.toString());
      return;
    }
    bool handled = false;
    emit OnHotSpotTargetClick(QStringLiteral("_blank"), url.toString(), handled);
    if (handled) return;
    if (isFileUrl(url) && !isFolderUrl(url))
      page_->load(url);
    else
      emit refused(url.toString());
  });
  return page;
}

bool THtmlEngineView::ScriptsAllowed() const { return scriptPage_ && !scriptPage_->leaving(); }

bool THtmlEngineView::AllowScripts(bool on) {
  if (!on) {
    const bool ran = scriptPage_ != nullptr;
    endScripts();
    if (ran && loading_) pageLoadFinished(true);  // the page without scripts shows that file, loaded already
    return true;
  }
  if (ScriptsAllowed()) return true;
  if (!page_) return false;
  const QUrl url = page_->url();
  const QString file = localPath(url);
  if (file.isEmpty() || !QFileInfo(file).isFile()) return false;
  endScripts();
  scriptPage_ = makePage(file);
  page_ = scriptPage_;
  view_->setPage(page_);
  beginLoad(url);
  page_->load(url);
  return true;
}

// Back to the page without scripts; the page with them goes, and its scripts with it.
void THtmlEngineView::endScripts() {
  if (!scriptPage_) return;
  Page *old = scriptPage_;
  scriptPage_ = nullptr;
  page_ = safePage_;
  view_->setPage(page_);
  // Later: it may be inside one of its own calls now.
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(), [](const QPointer<Page> &p) { return p.isNull(); }),
                 retired_.end());
  retired_.emplace_back(old);
  old->deleteLater();
  if (!selected_.isEmpty()) {
    selected_.clear();
    emit selectionChanged();
  }
}

void THtmlEngineView::leaveScripts(const QUrl &url) {
  if (!scriptPage_ || !scriptPage_->leaving()) return;
  endScripts();
  beginLoad(url);
  page_->load(url);
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
  endScripts();  // a page's scripts were allowed for that page only
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
  endScripts();
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
  endScripts();
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

// The history is the page's without scripts (the page with them shows the history's current file): going
// back or forward leaves the scripts behind.
bool THtmlEngineView::GoBack() {
  if (!canGoBack()) return false;
  endScripts();
  page_->triggerAction(QWebEnginePage::Back);
  return true;
}

bool THtmlEngineView::GoForward() {
  if (!canGoForward()) return false;
  endScripts();
  page_->triggerAction(QWebEnginePage::Forward);
  return true;
}

bool THtmlEngineView::canGoBack() const { return safePage_ && safePage_->history()->canGoBack(); }
bool THtmlEngineView::canGoForward() const { return safePage_ && safePage_->history()->canGoForward(); }

bool THtmlEngineView::ViewImages() const { return viewImages_; }

void THtmlEngineView::setViewImages(bool on) {
  viewImages_ = on;
  applyImages(on);
}

void THtmlEngineView::applyImages(bool on) {
  for (Page *p : {safePage_, scriptPage_})
    if (p) p->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, on);
}

void *THtmlEngineView::engineHandle() { return view_; }
QWidget *THtmlEngineView::engineWidget() { return view_; }

// The module's one entry point.
extern "C" Q_DECL_EXPORT THtmlEngine *tarnwick_html_engine_create(QWidget *parent) { return new THtmlEngineView(parent); }
