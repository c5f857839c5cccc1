// Today's files clicked in the main window: Markdown shows rendered in its own tab (and its source in the
// editor), SVG and WebP in the picture control, a hostile SVG or a picture this machine has no reader for
// as a message in its place, and source code coloured in the editor; the files the table always sent
// elsewhere still go there.
#include <gtest/gtest.h>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QToolButton>
#include "app/tarn.h"
#include "controls/imageview.h"
#include "controls/tledit.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/imagestab.h"
#include "viewers/markdowntab.h"

namespace {

class QuickViews : public apptest::FolderWindowTest {
 protected:
  void fillFolder() override {
    testenv::writeFile(dir + "/notes.md", "# Heading\n\n- one\n- two\n");
    testenv::writeFile(dir + "/pic.svg",
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"32\">"
                       "<rect width=\"64\" height=\"32\" fill=\"#00ff00\"/></svg>");
    testenv::writeFile(dir + "/laughs.svg",
                       "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                       "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>&b;</text></svg>");
    testenv::writeFile(dir + "/main.c", "int main(void) { return 0; } /* done */\n");
    testenv::writeFile(dir + "/plain.txt", "text\n");
    if (!QStandardPaths::findExecutable("convert").isEmpty()) {
      ASSERT_EQ(QProcess::execute("convert", {"-size", "40x30", "xc:#ff0000", dir + "/photo.webp"}), 0);
      QProcess::execute("convert", {"-size", "40x30", "xc:#ff0000", dir + "/photo.avif"});
    }
  }
  // Clicks and waits for the picture control's answer.
  bool showPicture(const QString &name, bool *ok) {
    QSignalSpy shown(w->ImagesTab, &TImagesTab::pictureShown);
    click(name);
    if (!testenv::waitFor([&] { return shown.count() > 0 && !w->ImagesTab->isLoading(); }, 10000)) return false;
    *ok = shown.last().at(0).toBool();
    return true;
  }
};

}  // namespace

TEST_F(QuickViews, EachNewKindReachesItsViewerAndTheOldRowsStay) {
  // Markdown: its own tab, rendered; "Edit Source" puts the same file in the editor.
  click("notes.md");
  EXPECT_EQ(w->lastViewerAction, "ShowMarkdown");
  ASSERT_TRUE(w->MarkdownTab);
  EXPECT_EQ(w->Pc1->currentWidget(), w->MarkdownCmd);
  EXPECT_EQ(w->Pc1->tabText(w->Pc1->indexOf(w->MarkdownCmd)), "Markdown");
  EXPECT_TRUE(w->MarkdownTab->View->toPlainText().startsWith("Heading"));
  w->MarkdownTab->EditSourceBut->click();
  EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
  EXPECT_EQ(w->LEdit1->FileName(), dir + "/notes.md");
  EXPECT_EQ(w->LEdit1->TextBytes(), testenv::readFile(dir + "/notes.md"));

  // SVG: drawn in the picture control; a hostile one leaves a message there instead.
  bool ok = false;
  ASSERT_TRUE(showPicture("pic.svg", &ok));
  EXPECT_EQ(w->lastViewerAction, "ShowImages");
  EXPECT_EQ(w->Pc1->currentWidget(), w->ImageCmd);
  ASSERT_TRUE(ok);
  EXPECT_EQ(w->ImagesTab->PGImage2->image().pixel(10, 10), qRgb(0, 255, 0));
  ASSERT_TRUE(showPicture("laughs.svg", &ok));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(w->ImagesTab->PGImage2->isEmpty());
  EXPECT_TRUE(w->ImagesTab->PGImage2->message().contains("entities"))
      << w->ImagesTab->PGImage2->message().toStdString();

  // WebP through Qt's plug-in; AVIF too where this machine has one, else a message that says so.
  if (QFile::exists(dir + "/photo.webp")) {
    ASSERT_TRUE(showPicture("photo.webp", &ok));
    ASSERT_TRUE(ok);
    EXPECT_TRUE(w->ImagesTab->PGImage2->message().isEmpty());
    EXPECT_EQ(w->ImagesTab->PGImage2->image().size(), QSize(40, 30));
    EXPECT_EQ(qRed(w->ImagesTab->PGImage2->image().pixel(5, 5)), 255);
  }
  if (QFile::exists(dir + "/photo.avif")) {
    ASSERT_TRUE(showPicture("photo.avif", &ok));
    EXPECT_EQ(w->lastViewerAction, "ShowImages");
    if (QImageReader::supportedImageFormats().contains("avif"))
      EXPECT_TRUE(ok);
    else
      EXPECT_TRUE(w->ImagesTab->PGImage2->message().contains("AVIF"))
          << w->ImagesTab->PGImage2->message().toStdString();
  }

  // Source code: the editor, coloured; plain text plain.
  click("main.c");
  EXPECT_EQ(w->lastViewerAction, "Editor");
  EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
  EXPECT_EQ(w->LEdit1->Syntax(), "cpp");
  click("plain.txt");
  EXPECT_EQ(w->LEdit1->Syntax(), "");
  EXPECT_EQ(w->LEdit1->FileName(), dir + "/plain.txt");

  // "Clear All Internal Viewers" empties the Markdown tab as well.
  w->Viewers1Click();
  EXPECT_TRUE(w->MarkdownTab->fileName().isEmpty());
}
