// Documents and media in the main window: a clicked ".doc" goes to the "Office97" tab through the
// converters recorded at start-up, the pop-up's Word95/Word97 choice is the stored one, a sound file
// that cannot be played shows the "Tarnwick File Error" box and leaves no player bar behind, and one that
// plays leaves its tab in place.
#include <gtest/gtest.h>
#include <QAction>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
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
    testenv::writeFile(dir + "/notes.txt", "some text\n");
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (!sox.isEmpty()) {
      QProcess p;
      p.start(sox, {"-n", "-r", "8000", "-c", "1", dir + "/tone.wav", "synth", "0.5", "sine", "440"});
      soundMade = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
      p.start(sox, {"-n", "-r", "8000", "-c", "1", dir + "/long.wav", "synth", "30", "sine", "440"});
      soundMade = soundMade && p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
  }
  bool soundMade = false;
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

TEST_F(DocumentsAndMedia, PlayedSoundLeavesItsTabAndCloseGoesBackToTheFormerTab) {
  if (!soundMade) GTEST_SKIP() << "sox is not installed: no sound to play";
  // Played to its end: the player bar and "Close M&ultiMedia" go, the tab stays in front.
  click("tone.wav");
  ASSERT_EQ(w->Pc1->currentWidget(), w->MediaCmd);
  QAction *close = w->item("CloseMultimedia1");
  EXPECT_TRUE(close->isVisible());
  ASSERT_TRUE(testenv::waitFor([&] { return !w->MediaTab->MediaPanel->isVisibleTo(w->MediaTab); }, 20000)) << boxes.join('|').toStdString();
  EXPECT_EQ(w->Pc1->currentWidget(), w->MediaCmd);
  EXPECT_TRUE(w->Pc1->isTabVisible(w->Pc1->indexOf(w->MediaCmd)));
  EXPECT_FALSE(close->isVisible());
  EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
  // From the editor to a long sound, then "Close M&ultiMedia": the tab goes and the editor is back.
  click("notes.txt");
  ASSERT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
  click("long.wav");
  ASSERT_EQ(w->Pc1->currentWidget(), w->MediaCmd);
  ASSERT_TRUE(close->isVisible());
  close->trigger();
  EXPECT_FALSE(w->Pc1->isTabVisible(w->Pc1->indexOf(w->MediaCmd)));
  EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
  // "Clear All Internal Viewers" closes a playing player.
  click("long.wav");
  ASSERT_TRUE(testenv::waitFor([&] { return w->MediaTab->player()->playbackState() == QMediaPlayer::PlayingState; }, 10000));
  w->item("Clear2")->trigger();
  EXPECT_EQ(w->MediaTab->player()->playbackState(), QMediaPlayer::StoppedState);
  EXPECT_TRUE(w->MediaTab->player()->source().isEmpty());
  EXPECT_FALSE(w->MediaTab->MediaPanel->isVisibleTo(w->MediaTab));
  EXPECT_FALSE(close->isVisible());
  EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}
