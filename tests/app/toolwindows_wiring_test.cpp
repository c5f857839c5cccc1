// The main window's way to the MP3 tag editor (a clicked ".mp3") and to the calculator (the Tools item and
// the tool bar button).
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "windows/calc/calculator.h"
#include "windows/mp3/mp3tageditor.h"

namespace {

class ToolWindowsWiring : public apptest::FolderWindowTest {
 protected:
  void fillFolder() override {
    audio = QByteArray(3000, '\x55');
    song = testenv::writeFile(dir + "/song.mp3", audio);
  }
  QString song;
  QByteArray audio;
};

TEST_F(ToolWindowsWiring, AClickedMp3OpensTheTagEditorWhileTheOptionIsOn) {
  QStringList opened;
  testenv::ModalWatcher watch([&](QWidget *m) {
    auto *e = qobject_cast<TMP3TagEditor *>(m);
    if (!e) return;
    opened << e->Edit6->text();
    e->Edit1->setText("Clicked");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  w->item("Mp3Edit")->setChecked(true);
  click("song.mp3");
  ASSERT_EQ(opened, QStringList{song});
  QByteArray bytes = testenv::readFile(song);
  ASSERT_EQ(bytes.size(), audio.size() + 128);
  EXPECT_EQ(bytes.mid(audio.size(), 10), "TAGClicked");
  EXPECT_EQ(w->Mp31->Filename(), song);

  // Option off: the click opens no editor (it would run modally inside the click) and the file stays.
  w->item("Mp3Edit")->setChecked(false);
  click("song.mp3");
  EXPECT_EQ(opened.size(), 1);
  EXPECT_EQ(testenv::readFile(song), bytes);
}

TEST_F(ToolWindowsWiring, CalculatorFromTheToolsItemAndTheToolBarButton) {
  QAction *item = w->item("Calculator1");
  ASSERT_TRUE(item);
  item->trigger();
  TTheCalculator *c = TTheCalculator::instance();
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->isVisible());
  EXPECT_FALSE(item->isEnabled());
  EXPECT_FALSE(w->Calculator->isEnabled());
  QTest::keyClicks(c, "6*7=");
  EXPECT_EQ(c->Display->text(), "42.00 ");
  QTest::keyClick(c, Qt::Key_Escape);
  ASSERT_TRUE(testenv::waitFor([] { return !TTheCalculator::instance(); }));
  EXPECT_TRUE(item->isEnabled());
  EXPECT_TRUE(w->Calculator->isEnabled());

  QTest::mouseClick(w->Calculator, Qt::LeftButton);
  ASSERT_TRUE(TTheCalculator::instance());
  EXPECT_FALSE(item->isEnabled());
  // The main window goes while the calculator is open: it takes the calculator with it first.
  w.reset();
  EXPECT_FALSE(TTheCalculator::instance());
}

}  // namespace
