// The Markdown tab: rendered text, pictures from the file's own folder only (nothing fetched, nothing read
// from elsewhere, a link out of the folder refused), links followed only through "Open Link", the source
// handed to the editor, and files it cannot show.
#include <gtest/gtest.h>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include "tests/common/testenv.h"
#include "viewers/markdowntab.h"

namespace {

struct RecordingMarkdownHost : TMarkdownHost {
  QStringList sources;
  QList<QUrl> links;
  void showMarkdownSource(const QString &path) override { sources << path; }
  void openMarkdownLink(const QUrl &url) override { links << url; }
};

// The names of the pictures the document shows (those that loaded).
QStringList shownPictures(TMarkdownView *view) {
  QStringList names;
  for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      if (!f.isImageFormat()) continue;
      const QString name = f.toImageFormat().name();
      const QVariant res = view->document()->resource(QTextDocument::ImageResource, QUrl(name));
      if (res.isValid() && !res.value<QImage>().isNull()) names << name;
    }
  return names;
}

}  // namespace

TEST(MarkdownTab, RendersWithPicturesFromItsFolderOnlyAndFollowsLinksOnlyWhenAsked) {
  const QString dir = testenv::makeDir("md");
  const QString outside = testenv::makeDir("mdout");
  QImage pic(8, 8, QImage::Format_RGB32);
  pic.fill(Qt::blue);
  ASSERT_TRUE(pic.save(dir + "/here.png"));
  ASSERT_TRUE(pic.save(outside + "/secret.png"));
  ASSERT_TRUE(QFile::link(outside + "/secret.png", dir + "/link.png"));
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const QString web = QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
  const QString text = QStringLiteral(
                           "# Title\n\nSome *text* and [a link](%1/page) and [next](other.md).\n\n"
                           "![here](here.png) ![web](%1/x.png) ![up](../%2/secret.png) ![abs](%3/secret.png) "
                           "![link](link.png)\n\n<img src=\"%1/raw.png\">\n")
                           .arg(web, QFileInfo(outside).fileName(), outside);
  const QString file = testenv::writeFile(dir + "/readme.md", text.toUtf8());
  testenv::writeFile(dir + "/other.md", "other");

  RecordingMarkdownHost host;
  TMarkdownTab tab(host);
  tab.resize(600, 400);
  tab.show();
  ASSERT_TRUE(tab.ShowMarkdown(file));
  EXPECT_TRUE(tab.message().isEmpty());
  EXPECT_TRUE(tab.View->toPlainText().startsWith("Title")) << tab.View->toPlainText().toStdString();
  EXPECT_FALSE(tab.View->toPlainText().contains("*text*"));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
  EXPECT_EQ(shownPictures(tab.View), QStringList{"here.png"});
  EXPECT_GE(tab.View->refusedCount(),
            3);  // the three local pictures outside, refused once each: the document keeps a refusal
  EXPECT_FALSE(server.waitForNewConnection(0)) << "the document reached the network";

  // A click on a link goes nowhere; "Open Link" from the pop-up menu does.
  const QTextCursor at = tab.View->document()->find("a link");
  ASSERT_FALSE(at.isNull());
  const QPoint linkPos = tab.View->cursorRect(at).center();
  ASSERT_EQ(tab.View->linkAt(linkPos), web + "/page");
  QTest::mouseClick(tab.View->viewport(), Qt::LeftButton, {}, linkPos);
  EXPECT_TRUE(host.links.isEmpty());
  EXPECT_EQ(tab.fileName(), file);
  emit tab.View->customContextMenuRequested(linkPos);
  QMenu *menu = tab.findChild<QMenu *>();
  ASSERT_TRUE(menu);
  QAction *open = menu->findChild<QAction *>("OpenLink");
  ASSERT_TRUE(open);
  open->trigger();
  menu->close();
  tab.openLink("other.md");
  ASSERT_EQ(host.links.size(), 2);
  EXPECT_EQ(host.links[0], QUrl(web + "/page"));
  EXPECT_EQ(host.links[1], QUrl::fromLocalFile(dir + "/other.md"));

  QTest::mouseClick(tab.EditSourceBut, Qt::LeftButton);
  EXPECT_EQ(host.sources, QStringList{file});
}

TEST(MarkdownTab, FilesItCannotShowLeaveAMessageAndTheSourceStillOpens) {
  const QString dir = testenv::makeDir("mdbad");
  RecordingMarkdownHost host;
  TMarkdownTab tab(host);
  EXPECT_FALSE(tab.EditSourceBut->isEnabled());
  EXPECT_FALSE(tab.ShowMarkdown(dir + "/missing.md"));
  EXPECT_TRUE(tab.message().contains("missing.md")) << tab.message().toStdString();
  const QString big = testenv::writeFile(dir + "/big.md", QByteArray(TMarkdownTab::MaxFileSize + 1, '#'));
  EXPECT_FALSE(tab.ShowMarkdown(big));
  EXPECT_TRUE(tab.message().contains("too large")) << tab.message().toStdString();
  tab.EditSourceClick();
  EXPECT_EQ(host.sources, QStringList{big});
  // Nested lists and quotes a thousand deep, and bytes that are no UTF-8: shown, no crash.
  const QString deep =
      testenv::writeFile(dir + "/deep.md", QByteArray(1000, '>') + " deep\n" + QByteArray("\xff\xfe\x00 x", 5));
  EXPECT_TRUE(tab.ShowMarkdown(deep));
  EXPECT_TRUE(tab.View->toPlainText().contains("deep"));
  tab.ClearViewer();
  EXPECT_TRUE(tab.fileName().isEmpty());
  EXPECT_TRUE(tab.View->toPlainText().isEmpty());
  EXPECT_FALSE(tab.EditSourceBut->isEnabled());
}
