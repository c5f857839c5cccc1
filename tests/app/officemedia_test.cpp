// Documents and media in the main window: a clicked ".doc" goes to the "Office97" tab through the
// converters recorded at start-up, the pop-up's Word95/Word97 choice is the stored one, a sound file
// that cannot be played shows the "Tarnwick File Error" box and leaves no player bar behind, and one that
// plays leaves its tab in place. A conversion that hangs (a stand-in LibreOffice) survives closing the
// window and a burst of clicks: the converter's processes end each time and the window goes or stays cleanly.
// A clicked PDF opens the Pdf tab, which joins the viewer tabs once and is emptied by Clear All.
#include <gtest/gtest.h>
#include <QAction>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>
#include "app/tarn.h"
#include "controls/richedit.h"
#include "controls/shelllist.h"
#include "platform/regstore.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "tests/viewers/convertertest.h"
#include "viewers/mediatab.h"
#include "viewers/officetab.h"
#include "viewers/pdftab.h"
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
    testenv::writeFile(dir + "/hang.doc", convtest::oleLookalike("HANG"));
    testenv::writeFile(dir + "/hang2.doc", convtest::oleLookalike("HANG too"));
    testenv::writeFile(dir + "/good.doc", convtest::oleLookalike("fine"));
    testenv::writeFile(dir + "/letter.docx", "no zip inside");
    testenv::writeFile(dir + "/song.ogg", "no sound inside");
    QPdfWriter pdf(dir + "/paper.pdf");
    QPainter p(&pdf);
    p.drawText(QPointF(100, 100), QStringLiteral("first"));
    pdf.newPage();
    p.drawText(QPointF(100, 100), QStringLiteral("second"));
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

TEST_F(DocumentsAndMedia, ClosingWhileAConversionHangsEndsTheConverterAndTheWindow) {
  convtest::StandInOffice office;
  // As the program runs: the window deletes itself when it closes.
  w->setAttribute(Qt::WA_DeleteOnClose);
  TTarn *window = w.release();
  QPointer<TTarn> alive(window);
  // While the document converts: a text file is clicked, then the window is closed (Alt+F4).
  bool textClicked = false, closed = false;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (!alive || closed || !alive->OfficeTab->isConverting() || office.running().isEmpty()) return;
    if (!textClicked) {
      textClicked = true;
      alive->PTShellList1->selectName("notes.txt");
      alive->PTShellList1Click();
      return;
    }
    closed = true;
    alive->close();
  });
  user.start(5);
  window->PTShellList1->selectName("hang.doc");
  window->PTShellList1Click();
  EXPECT_TRUE(textClicked);
  EXPECT_TRUE(closed);
  ASSERT_TRUE(testenv::waitFor([&] { return !alive; }, 20000)) << "the window did not close";
  ASSERT_EQ(office.groups().size(), 1);
  EXPECT_EQ(office.running(), QStringList());
}

TEST_F(DocumentsAndMedia, AQuickBurstOfDocumentClicksEndsEveryConverterAndShowsTheLast) {
  convtest::StandInOffice office;
  // Twenty clicks, one every few milliseconds, on two documents whose conversion hangs, the last one on a
  // document that converts.
  int clicks = 0;
  qsizetype mostRunning = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    mostRunning = std::max(mostRunning, office.running().size());
    if (clicks == 20) return;
    ++clicks;
    click(clicks == 20 ? "good.doc" : clicks % 2 ? "hang2.doc" : "hang.doc");
  });
  user.start(3);
  click("hang.doc");
  const QString shown = QStringLiteral("Succesfully Opened: ") + dir + "/good.doc";
  ASSERT_TRUE(testenv::waitFor([&] { return clicks == 20 && !w->OfficeTab->isConverting() && w->OfficeTab->statusText() == shown; }, 30000))
      << w->OfficeTab->statusText().toStdString();
  user.stop();
  EXPECT_EQ(w->OfficeTab->ReApp->toPlainText(), QStringLiteral("Converted by the stand-in"));
  EXPECT_LE(mostRunning, 1);
  EXPECT_GE(office.groups().size(), 2);
  EXPECT_LE(office.groups().size(), 21);
  EXPECT_EQ(office.running(), QStringList());
  EXPECT_EQ(w->Pc1->currentWidget(), w->ExcelCmd);
}

TEST_F(DocumentsAndMedia, NewerDocumentAndMediaFilesReachTheirTabs) {
  click("letter.docx");
  EXPECT_EQ(w->lastViewerAction, "GetExcel");
  EXPECT_EQ(w->Pc1->currentWidget(), w->ExcelCmd);
  ASSERT_TRUE(testenv::waitFor([&] { return !w->OfficeTab->isConverting() && !boxes.isEmpty(); }));
  EXPECT_EQ(boxes.value(0).section(": ", 1), QStringLiteral("Not the correct file format"));
  click("song.ogg");
  EXPECT_EQ(w->lastViewerAction, "ShowMultiMedia");
  EXPECT_TRUE(testenv::waitFor([&] { return boxes.size() == 2; }, 10000));
  EXPECT_EQ(boxes.value(1), QStringLiteral("Tarnwick File Error: Sorry, Tarnwick is unable to open this MultiMedia file"));
}

TEST_F(DocumentsAndMedia, APdfClickAddsThePdfTabOnceAndClearAllEmptiesIt) {
  EXPECT_EQ(w->PdfTab, nullptr);
  const int tabs = w->Pc1->count();
  click("paper.pdf");
  EXPECT_EQ(w->lastViewerAction, "ShowPdf");
  ASSERT_NE(w->PdfTab, nullptr);
  EXPECT_EQ(w->Pc1->currentWidget(), w->PdfCmd);
  EXPECT_EQ(w->Pc1->tabText(w->Pc1->indexOf(w->PdfCmd)), "Pdf");
  EXPECT_EQ(w->PdfTab->pageCount(), 2);
  click("notes.txt");
  click("paper.pdf");
  EXPECT_EQ(w->Pc1->count(), tabs + 1);  // the same tab again
  w->Viewers1Click();
  EXPECT_EQ(w->PdfTab->pageCount(), 0);
  EXPECT_TRUE(w->PdfTab->fileName().isEmpty());
}
