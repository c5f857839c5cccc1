// The HTML view on a real WebEngine: pages, frames and links made here, and a local TCP server that counts
// every connection, so "nothing reached the network" is observed rather than assumed.
#include "controls/htmlview.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "tests/common/testenv.h"


namespace {
const int kLoad = 30000;

// Counts connections to a local port: a page that phones home would show up here.
struct Listener {
  QTcpServer server;
  int connections = 0;
  Listener() {
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket *s = server.nextPendingConnection()) {
        ++connections;
        s->close();
        s->deleteLater();
      }
    });
  }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
};

class HtmlViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testenv::makeDir(QStringLiteral("html"));
    view = std::make_unique<THtmlView>();
    view->resize(800, 600);
    view->show();
  }
  void TearDown() override { view.reset(); }

  QString page(const QString &name, const QString &body) {
    return testenv::writeFile(dir + QLatin1Char('/') + name,
                              ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>" + body +
                               "</body></html>").toUtf8());
  }
  // Shows a file and waits for its load to end; returns the load's result.
  bool show(const QString &path) {
    QSignalSpy done(view.get(), &THtmlView::loadFinished);
    if (!view->ShowFile(path)) return false;
    if (!done.wait(kLoad)) return false;
    return done.last().at(0).toBool();
  }
  QWebEnginePage *webPage() const { return view->engineView()->page(); }
  QString url() const { return webPage()->url().toString(); }
  // Runs a script beside the page's (pages run none of their own): it sees the page's document, not the
  // page's script variables.
  QVariant js(const QString &code, quint32 world = QWebEngineScript::ApplicationWorld) {
    QVariant out;
    bool got = false;
    webPage()->runJavaScript(code, world, [&](const QVariant &v) {
      out = v;
      got = true;
    });
    testenv::waitFor([&] { return got; }, kLoad);
    return out;
  }
  // A script in the page's own world, where its variables are (for pages whose scripts were allowed).
  QVariant pageJs(const QString &code) { return js(code, QWebEngineScript::MainWorld); }
  // Shows a file, then lets its scripts run (the page loads again); returns the second load's result.
  bool showRunning(const QString &path) {
    if (!show(path)) return false;
    QSignalSpy done(view.get(), &THtmlView::loadFinished);
    if (!view->AllowScripts(true) || !done.wait(kLoad)) return false;
    return done.last().at(0).toBool() && view->ScriptsAllowed();
  }
  bool find(const QString &text, bool matchCase) {
    int result = -1;
    view->FindText(text, matchCase, [&](bool found) { result = found; });
    testenv::waitFor([&] { return result >= 0; }, kLoad);
    EXPECT_GE(result, 0) << "no answer for " << text.toStdString();
    return result == 1;
  }
  // A real mouse click in the middle of the element with the given id.
  void click(const QString &id) {
    const QVariantList r =
        js(QStringLiteral("(function(){var b=document.getElementById('%1').getBoundingClientRect();"
                          "return [b.left+b.width/2,b.top+b.height/2];})()")
               .arg(id))
            .toList();
    ASSERT_EQ(r.size(), 2) << id.toStdString();
    QWidget *target = view->engineView()->focusProxy();
    ASSERT_TRUE(target);
    const QPoint p(int(r[0].toDouble()), int(r[1].toDouble()));
    QTest::mouseMove(target, p);
    QTest::mouseClick(target, Qt::LeftButton, {}, p);
  }

  QString dir;
  std::unique_ptr<THtmlView> view;
};

// The engine is built on first use; frames of a local frameset load and find reaches into every frame;
// the view's own history and ClearPage.
TEST_F(HtmlViewTest, PagesFramesFindHistoryAndClear) {
  EXPECT_EQ(view->engineView(), nullptr);
  EXPECT_FALSE(view->ShowFile(dir + "/missing.htm"));
  EXPECT_FALSE(view->ShowFile(dir));
  EXPECT_EQ(view->engineView(), nullptr) << "a refused file must not start the engine";

  const QString plain = page("plain.htm", "<p>Plain page</p>");
  page("left.htm", "<p>Left frame Alpha</p>");
  page("right.htm", "<p>Right frame Omega</p>");
  page("bottom.htm", "<p>Bottom frame omega</p>");
  const QString frames = testenv::writeFile(
      dir + "/frames.htm",
      "<html><frameset rows=\"50%,50%\"><frameset cols=\"50%,50%\"><frame src=\"left.htm\">"
      "<frame src=\"right.htm\"></frameset><frame src=\"bottom.htm\"></frameset></html>");

  ASSERT_TRUE(show(plain));
  EXPECT_EQ(view->currentFile(), QFileInfo(plain).absoluteFilePath());
  EXPECT_FALSE(view->canGoBack());
  EXPECT_FALSE(view->GoBack());

  ASSERT_TRUE(show(frames));
  EXPECT_EQ(view->currentFile(), QFileInfo(frames).absoluteFilePath());
  EXPECT_TRUE(find("Alpha", true));
  EXPECT_TRUE(find("Omega", true)) << "text in the second frame";
  EXPECT_TRUE(find("omega", true)) << "text in the third frame";
  EXPECT_FALSE(find("alpha", true)) << "match case";
  EXPECT_TRUE(find("alpha", false));
  EXPECT_FALSE(find("Plain", false)) << "text of the page shown before";

  // Back and forward through the view's own history.
  ASSERT_TRUE(view->canGoBack());
  QSignalSpy loads(view.get(), &THtmlView::loadFinished);
  ASSERT_TRUE(view->GoBack());
  ASSERT_TRUE(loads.wait(kLoad));
  EXPECT_TRUE(url().endsWith("/plain.htm")) << url().toStdString();
  EXPECT_TRUE(view->canGoForward());
  ASSERT_TRUE(view->GoForward());
  ASSERT_TRUE(loads.wait(kLoad));
  EXPECT_TRUE(url().endsWith("/frames.htm")) << url().toStdString();
  EXPECT_FALSE(view->GoForward());

  view->ClearPage();
  EXPECT_TRUE(view->currentFile().isEmpty());
  ASSERT_TRUE(testenv::waitFor([&] { return url() == "about:blank" && !view->isLoading(); }, kLoad));
  EXPECT_FALSE(find("Alpha", false));
}

// Links of every kind, clicked with the mouse: local ones are followed (target="_blank" too), the network
// is refused, and a link the receiver handles is left alone. Hovering reports the link.
TEST_F(HtmlViewTest, LinkRules) {
  Listener net;
  ASSERT_TRUE(net.server.isListening());
  page("target.htm", "<p id=\"t\">Target page</p>");
  const QString second = page("second.htm", "<p>Second page</p>");
  const QString n = net.base();
  const QString links = page(
      "links.htm",
      "<style>a{display:block;font-size:24px;margin:4px}</style>"
      "<a id=\"rel\" href=\"target.htm\">relative</a>"
      "<a id=\"file\" href=\"" + QUrl::fromLocalFile(second).toString() + "\">file</a>"
      "<a id=\"blank\" href=\"target.htm\" target=\"_blank\">new window</a>"
      "<a id=\"http\" href=\"" + n + "/http\">http</a>"
      "<a id=\"caps\" href=\"HTTP" + n.mid(4) + "/caps\">HTTP</a>"
      "<a id=\"https\" href=\"https" + n.mid(4) + "/https\">https</a>"
      "<a id=\"ftp\" href=\"ftp" + n.mid(4) + "/ftp\">ftp</a>"
      "<a id=\"mail\" href=\"mailto:someone@example.org\">mail</a>"
      "<a id=\"blanknet\" href=\"" + n + "/blank\" target=\"_blank\">net window</a>"
      "<a id=\"anchor\" href=\"#end\">anchor</a><p id=\"end\" style=\"margin-top:2000px\">End</p>");

  bool handle = false;
  QStringList clicked;
  QObject::connect(view.get(), &THtmlView::OnHotSpotTargetClick,
                   [&](const QString &, const QString &url, bool &handled) {
                     clicked << url;
                     handled = handle;
                   });
  QSignalSpy refused(view.get(), &THtmlView::refused);
  QSignalSpy covered(view.get(), &THtmlView::OnHotSpotTargetCovered);

  // Local links are followed, in this view.
  const struct { const char *id, *shows; } local[] = {
      {"rel", "/target.htm"}, {"file", "/second.htm"}, {"blank", "/target.htm"}};
  for (const auto &l : local) {
    SCOPED_TRACE(l.id);
    ASSERT_TRUE(show(links));
    clicked.clear();
    click(l.id);
    ASSERT_TRUE(testenv::waitFor([&] { return url().endsWith(l.shows) && !view->isLoading(); }, kLoad))
        << url().toStdString();
    ASSERT_EQ(clicked.size(), 1);
    EXPECT_TRUE(clicked[0].endsWith(l.shows)) << clicked[0].toStdString();
    EXPECT_EQ(view->currentFile(), QFileInfo(links).absoluteFilePath()) << "the file given stays the file shown";
    EXPECT_TRUE(find("page", false)) << "find answers on the page followed to";
  }
  // A jump inside the page leaves the view ready (not loading), find included.
  ASSERT_TRUE(show(links));
  click("anchor");
  ASSERT_TRUE(testenv::waitFor([&] { return url().endsWith("#end"); }, kLoad)) << url().toStdString();
  EXPECT_FALSE(view->isLoading());
  EXPECT_TRUE(find("End", true));
  EXPECT_EQ(refused.count(), 0);

  // Hovering a link reports it, leaving it reports an empty link.
  ASSERT_TRUE(show(links));
  covered.clear();
  click("mail");
  ASSERT_TRUE(testenv::waitFor([&] { return !covered.isEmpty(); }, kLoad));
  EXPECT_EQ(covered.last().at(1).toString(), "mailto:someone@example.org");
  QTest::mouseMove(view->engineView()->focusProxy(), QPoint(700, 500));
  ASSERT_TRUE(testenv::waitFor([&] { return covered.last().at(1).toString().isEmpty(); }, kLoad));

  // Links out of the machine: refused unless the receiver takes them; nothing is loaded either way.
  const struct { const char *id, *url; } remote[] = {
      {"http", "/http"}, {"caps", "/caps"}, {"https", "/https"}, {"ftp", "/ftp"},
      {"mail", "mailto:someone@example.org"}, {"blanknet", "/blank"}};
  for (bool h : {false, true}) {
    handle = h;
    for (const auto &r : remote) {
      SCOPED_TRACE(std::string(r.id) + (h ? " handled" : " not handled"));
      ASSERT_TRUE(show(links));
      clicked.clear();
      refused.clear();
      QSignalSpy loads(view.get(), &THtmlView::loadFinished);
      click(r.id);
      ASSERT_TRUE(testenv::waitFor([&] { return !clicked.isEmpty(); }, kLoad));
      EXPECT_TRUE(clicked[0].endsWith(r.url)) << clicked[0].toStdString();
      if (!h) {
        ASSERT_TRUE(testenv::waitFor([&] { return !refused.isEmpty(); }, kLoad));
        EXPECT_TRUE(refused.last().at(0).toString().endsWith(r.url));
      }
      testenv::waitFor([&] { return !view->isLoading(); }, kLoad);
      EXPECT_TRUE(url().endsWith("/links.htm")) << url().toStdString();
      js("1");  // a round trip to the page, after which the engine's word on the refusal is in
      EXPECT_EQ(loads.count(), 0) << "a refused link is no page load";
      if (h) {
        EXPECT_EQ(refused.count(), 0);
      }
    }
  }
  EXPECT_EQ(net.connections, 0);
}

// A local page's scripts (allowed to run) and resources cannot reach the network: a script leaving for the
// web, remote images, frames, fetches and sockets are refused and no connection is made.
TEST_F(HtmlViewTest, PagesDoNotPhoneHome) {
  Listener net;
  ASSERT_TRUE(net.server.isListening());
  const QString n = net.base();
  QSignalSpy refused(view.get(), &THtmlView::refused);
  QStringList clicked;
  QObject::connect(view.get(), &THtmlView::OnHotSpotTargetClick,
                   [&](const QString &, const QString &url, bool &) { clicked << url; });
  auto refusedAll = [&](const QStringList &tails) {
    return testenv::waitFor([&] {
      for (const QString &t : tails) {
        bool seen = false;
        for (const auto &args : refused) seen = seen || args.at(0).toString().endsWith(t);
        if (!seen) return false;
      }
      return true;
    }, kLoad);
  };

  const QString away = page("away.htm", "<p>Stay</p><script>location.href='" + n + "/away';</script>");
  // Refused navigations are not loads: every page here is reported loaded, once, and again with its scripts.
  QSignalSpy loads(view.get(), &THtmlView::loadFinished);
  ASSERT_TRUE(showRunning(away));
  EXPECT_TRUE(refusedAll({"/away"}));
  testenv::waitFor([&] { return !view->isLoading(); }, kLoad);
  EXPECT_TRUE(url().endsWith("/away.htm")) << url().toStdString();

  const QString later = page("later.htm", "<p>Stay</p><script>setTimeout(function(){"
                                          "window.location.replace('" + n + "/later');},50);</script>");
  refused.clear();
  ASSERT_TRUE(showRunning(later));
  EXPECT_TRUE(refusedAll({"/later"}));
  testenv::waitFor([&] { return !view->isLoading(); }, kLoad);
  EXPECT_TRUE(url().endsWith("/later.htm")) << url().toStdString();

  // Remote resources fail inside the page (the engine refuses some before they reach us, so the page's own
  // error handlers are the witness) and no connection is made.
  const QString fetches = page(
      "fetches.htm",
      "<img src=\"" + n + "/img.png\" onerror=\"window.imgFailed=true\">"
      "<iframe src=\"" + n + "/frame\"></iframe>"
      "<link rel=\"stylesheet\" href=\"" + n + "/style.css\" onerror=\"window.cssFailed=true\">"
      "<script>fetch('" + n + "/fetch').catch(function(){window.fetchFailed=true;});"
      "var x=new XMLHttpRequest();x.onerror=function(){window.xhrFailed=true;};x.open('GET','" + n + "/xhr');x.send();"
      "var w=new WebSocket('ws" + n.mid(4) + "/ws');w.onerror=function(){window.wsFailed=true;};"
      "window.open('" + n + "/popup');</script>");
  refused.clear();
  ASSERT_TRUE(showRunning(fetches));
  EXPECT_TRUE(refusedAll({"/frame", "/ws"}));
  EXPECT_TRUE(testenv::waitFor([&] {
    return pageJs("!!(window.imgFailed&&window.cssFailed&&window.fetchFailed&&window.xhrFailed&&window.wsFailed)").toBool();
  }, kLoad));
  // Nor do its scripts read the user's files.
  testenv::writeFile(dir + "/secret.txt", "secret words");
  const QString reader = page(
      "reader.htm",
      "<script>fetch('secret.txt').then(function(r){return r.text();}).then(function(t){window.got=t;})"
      ".catch(function(){window.fetchFailed=true;});"
      "var y=new XMLHttpRequest();y.onload=function(){window.got=y.responseText;};"
      "y.onerror=function(){window.xhrFailed=true;};y.open('GET','" + QUrl::fromLocalFile(dir + "/secret.txt").toString() + "');y.send();"
      "</script>");
  ASSERT_TRUE(showRunning(reader));
  EXPECT_TRUE(testenv::waitFor([&] { return pageJs("!!(window.fetchFailed&&window.xhrFailed)").toBool(); }, kLoad));
  EXPECT_FALSE(pageJs("window.got").isValid()) << pageJs("window.got").toString().toStdString();

  ASSERT_TRUE(show(away));  // shown again, without its scripts
  EXPECT_FALSE(view->ScriptsAllowed());
  EXPECT_EQ(net.connections, 0);
  EXPECT_EQ(loads.count(), 9);
  for (const auto &args : loads) EXPECT_TRUE(args.at(0).toBool());
  EXPECT_TRUE(clicked.isEmpty()) << "scripts are not clicks: " << clicked.join(' ').toStdString();
}

// Printing to PDF keeps the text, and the page range chooses the pages; a range past the end means to it.
TEST_F(HtmlViewTest, PrintsPageRangesToPdf) {
  if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext (poppler-utils) missing";
  const QString doc = page("pages.htm",
                           "<div style=\"page-break-after:always\">Sheet ONE</div>"
                           "<div style=\"page-break-after:always\">Sheet TWO</div>"
                           "<div>Sheet THREE</div>");
  auto print = [&](int from, int to, const QString &pdf) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    int ok = -1;
    view->PrintPages(&printer, from, to, [&](bool r) { ok = r; });
    EXPECT_TRUE(testenv::waitFor([&] { return ok >= 0; }, kLoad));
    return ok == 1;
  };
  auto text = [](const QString &pdf) {
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
  };
  // Asked at once after ShowFile: the print waits for the page.
  ASSERT_TRUE(view->ShowFile(doc));
  ASSERT_TRUE(print(2, 2, dir + "/two.pdf"));
  QString t = text(dir + "/two.pdf");
  EXPECT_TRUE(t.contains("Sheet TWO")) << t.toStdString();
  EXPECT_FALSE(t.contains("ONE") || t.contains("THREE")) << t.toStdString();

  ASSERT_TRUE(print(2, 9999, dir + "/rest.pdf"));
  t = text(dir + "/rest.pdf");
  EXPECT_TRUE(t.contains("Sheet TWO") && t.contains("Sheet THREE")) << t.toStdString();
  EXPECT_FALSE(t.contains("ONE")) << t.toStdString();

  ASSERT_TRUE(print(1, 9999, dir + "/all.pdf"));
  t = text(dir + "/all.pdf");
  EXPECT_TRUE(t.contains("Sheet ONE") && t.contains("Sheet TWO") && t.contains("Sheet THREE")) << t.toStdString();
  EXPECT_LT(t.indexOf("ONE"), t.indexOf("THREE"));

  EXPECT_FALSE(print(3, 2, dir + "/none.pdf"));
  EXPECT_FALSE(QFile::exists(dir + "/none.pdf"));
  EXPECT_FALSE(print(4, 9999, dir + "/past.pdf")) << "the engine would print every page";
  EXPECT_FALSE(QFile::exists(dir + "/past.pdf"));

  // The printer path, as a print preview uses it: the range's pages, no more.
  QPrinter printer(QPrinter::ScreenResolution);  // page images at printer resolution take seconds
  QPrintPreviewWidget preview(&printer);
  int from = 0, to = 0, result = -1;
  QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, [&](QPrinter *p) {
    result = -1;
    view->PrintPages(p, from, to, [&](bool ok) { result = ok; });
    EXPECT_TRUE(testenv::waitFor([&] { return result >= 0; }, kLoad));
  });
  const struct { int from, to, pages, result; } cases[] = {{2, 3, 2, 1}, {2, 9999, 2, 1}, {1, 1, 1, 1}, {3, 3, 1, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(QString("%1..%2").arg(c.from).arg(c.to).toStdString());
    from = c.from;
    to = c.to;
    preview.updatePreview();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(preview.pageCount(), c.pages);
    EXPECT_TRUE(printer.pageRanges().isEmpty()) << "the printer's own range is given back";
  }
}

// Selection and copy; images on and off; an image shown alone, whatever its name and the images option.
TEST_F(HtmlViewTest, SelectionCopyAndImages) {
  QImage img(40, 30, QImage::Format_RGB32);
  img.fill(Qt::red);
  ASSERT_TRUE(img.save(dir + "/pic.png"));
  const QString odd = dir + "/a #b's & \"c\" 100%.png";
  ASSERT_TRUE(img.save(odd, "PNG"));
  const QString pics = page("pics.htm", "<p>Pictures here</p><img id=\"i\" src=\"pic.png\">");
  const QString width = "document.images[0].complete ? document.images[0].naturalWidth : -1";

  ASSERT_TRUE(show(pics));
  EXPECT_EQ(view->SelLength(), 0);
  QSignalSpy sel(view.get(), &THtmlView::selectionChanged);
  view->SelectEverything();
  ASSERT_TRUE(testenv::waitFor([&] { return view->SelLength() > 0; }, kLoad));
  EXPECT_TRUE(view->selectedText().contains("Pictures here")) << view->selectedText().toStdString();
  EXPECT_EQ(view->SelLength(), view->selectedText().size());
  EXPECT_GE(sel.count(), 1);
  QApplication::clipboard()->clear();
  view->CopySelection();
  EXPECT_TRUE(testenv::waitFor([] { return QApplication::clipboard()->text().contains("Pictures here"); }, kLoad));
  EXPECT_EQ(js(width).toInt(), 40);

  // Images off: a page shown now has no picture (one already seen may come from the cache); turned on
  // again, the next page has it.
  ASSERT_TRUE(img.save(dir + "/pic2.png"));
  const QString pics2 = page("pics2.htm", "<p>More pictures</p><img id=\"i\" src=\"pic2.png\">");
  view->setViewImages(false);
  EXPECT_FALSE(view->ViewImages());
  ASSERT_TRUE(show(pics2));
  EXPECT_EQ(js("document.images[0].naturalWidth").toInt(), 0);
  EXPECT_EQ(view->SelLength(), 0) << "a new page has no selection";

  // An image file alone shows even with images off, whatever characters its name holds.
  QSignalSpy loads(view.get(), &THtmlView::loadFinished);
  ASSERT_TRUE(view->ShowImageFile(odd));
  ASSERT_TRUE(loads.wait(kLoad));
  EXPECT_TRUE(loads.last().at(0).toBool());
  EXPECT_EQ(view->currentFile(), QFileInfo(odd).absoluteFilePath());
  EXPECT_TRUE(testenv::waitFor([&] { return js(width).toInt() == 40; }, kLoad));
  EXPECT_FALSE(view->ShowImageFile(dir + "/none.png"));

  view->setViewImages(true);
  ASSERT_TRUE(show(pics2));
  EXPECT_TRUE(testenv::waitFor([&] { return js(width).toInt() == 40; }, kLoad));
}
}  // namespace
