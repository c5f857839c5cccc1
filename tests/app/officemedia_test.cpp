// Documents and media in the main window: a clicked ".doc" goes to the "Office97" tab through the
// converters recorded at start-up, the pop-up's Word95/Word97 choice is the stored one, and a sound file
// that cannot be played shows the "Tarnwick File Error" box and leaves no player bar behind.
#include <gtest/gtest.h>
#include <QAction>
#include <QMessageBox>
#include <QTabWidget>
#include "app/tarn.h"
#include "controls/richedit.h"
#include "controls/shelllist.h"
#include "platform/regstore.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/mediatab.h"
#include "viewers/officetab.h"
#include "viewers/textconverters.h"

namespace {

class DocumentsAndMedia : public apptest::FolderWindowTest {
 protected:
  void fillFolder() override {
    testenv::writeFile(dir + "/notword.doc", "plain text pretending");
    testenv::writeFile(dir + "/broken.wav", QByteArray("RIFF\x24\0\0\0WAVEjunkjunkjunk", 24));
  }
  QStringList boxes;  // title: text of each box answered
  testenv::ModalWatcher watch_{[this](QWidget *m) {
    if (auto *box = qobject_cast<QMessageBox *>(m)) {
      boxes << box->windowTitle() + ": " + box->text();
      box->accept();
    }
  }};
};

}  // namespace

TEST_F(DocumentsAndMedia, DocumentClickUsesTheRecordedConvertersAndTheStoredWordChoice) {
  // Start-up recorded our four converters.
  EXPECT_EQ(w->OfficeTab->converters().ConverterNames().size(), 5);
  click("notword.doc");
  EXPECT_EQ(w->lastViewerAction, "GetExcel");
  EXPECT_EQ(w->Pc1->currentWidget(), w->ExcelCmd);
  ASSERT_TRUE(testenv::waitFor([&] { return !w->OfficeTab->isConverting() && !boxes.isEmpty(); }));
  EXPECT_EQ(boxes.value(0).section(": ", 1), QStringLiteral("Not the correct file format"));
  EXPECT_EQ(w->OfficeTab->statusText(), QStringLiteral("Operation cancelled or file only partially opened"));
  EXPECT_TRUE(w->state.CurrentExt.isEmpty());
  // The pop-up's Word95 is the window's stored choice.
  EXPECT_EQ(w->Word951, w->OfficeTab->Word951);
  w->OfficeTab->Word951->trigger();
  EXPECT_FALSE(w->Word971->isChecked());
  EXPECT_EQ(w->OfficeTab->descriptionFor(".doc"), QStringLiteral("Word 6.0/95 for Windows&Macintosh"));
}

TEST_F(DocumentsAndMedia, UnplayableSoundShowsTheFileErrorBox) {
  click("broken.wav");
  EXPECT_EQ(w->lastViewerAction, "ShowMultiMedia");
  ASSERT_TRUE(testenv::waitFor([&] { return !boxes.isEmpty(); }, 10000));
  EXPECT_EQ(boxes, QStringList{"Tarnwick File Error: Sorry, Tarnwick is unable to open this MultiMedia file"});
  EXPECT_FALSE(w->MediaTab->MediaPanel->isVisibleTo(w->MediaTab));
  EXPECT_FALSE(w->item("CloseMultimedia1")->isVisible());
}
