// The HTML view on a real WebEngine: pages, frames and links made here, and a local TCP server that counts
// every connection, so "nothing reached the network" is observed rather than assumed.
#include "controls/htmlview.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWebEnginePage>
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
  QVariant js(const QString &code) {
    QVariant out;
    bool got = false;
    webPage()->runJavaScript(code, [&](const QVariant &v) {
      out = v;
      got = true;
    });
    testenv::waitFor([&] { return got; }, kLoad);
    return out;
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
}  // namespace
