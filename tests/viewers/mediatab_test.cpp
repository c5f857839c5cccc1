// The MultiMedia tab on the real player (Qt Multimedia over GStreamer), headless: sound and video files
// made here by sox and GStreamer's test sources play to their end and close the panel; Stop keeps it open;
// a file that cannot be played shows the box. No sound card is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMediaPlayer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest/QTest>

#include "tests/common/testenv.h"
#include "viewers/mediatab.h"

namespace {

class TestMediaHost : public TMediaHost {
 public:
  void showMediaTab() override { tabShown = true; }
  void hideMediaTab() override { tabShown = false; }
  void setCloseMultimediaVisible(bool on) override { closeItem = on; }
  void hideAnimatedImage() override { ++imageHidden; }
  void showFileError(const QString &text) override { errors << text; }
  bool tabShown = false, closeItem = false;
  int imageHidden = 0;
  QStringList errors;
};

bool runTool(const QString &program, const QStringList &args) {
  QProcess p;
  p.start(program, args);
  return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct Media {
  QString wav, longWav, ogg, avi;
};

// Made once per run; an entry stays empty when its maker is not installed.
const Media &media() {
  static Media m = [] {
    Media x;
    const QString dir = testenv::makeDir(QStringLiteral("media"));
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (!sox.isEmpty()) {
      if (runTool(sox, {"-n", "-r", "8000", "-c", "1", dir + "/tone.wav", "synth", "0.4", "sine", "440"})) x.wav = dir + "/tone.wav";
      if (runTool(sox, {"-n", "-r", "8000", "-c", "1", dir + "/long.wav", "synth", "20", "sine", "440"})) x.longWav = dir + "/long.wav";
    }
    const QString gst = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (!gst.isEmpty()) {
      if (runTool(gst, {"-q", "audiotestsrc", "num-buffers=10", "!", "audioconvert", "!", "vorbisenc", "!", "oggmux", "!", "filesink",
                        "location=" + dir + "/tone.ogg"}))
        x.ogg = dir + "/tone.ogg";
      if (runTool(gst, {"-q", "videotestsrc", "num-buffers=12", "!", "video/x-raw,width=160,height=120,framerate=25/1", "!", "jpegenc", "!",
                        "avimux", "!", "filesink", "location=" + dir + "/clip.avi"}))
        x.avi = dir + "/clip.avi";
    }
    return x;
  }();
  return m;
}

class MediaTab : public ::testing::Test {
 protected:
  TestMediaHost host;
  TMediaTab tab{host};
  bool panelShown() const { return tab.MediaPanel->isVisibleTo(&tab); }
};

TEST_F(MediaTab, SoundAndVideoPlayToTheEndAndCloseThePanel) {
  const Media &m = media();
  int played = 0;
  for (const QString &file : {m.wav, m.ogg, m.avi}) {
    if (file.isEmpty()) continue;
    SCOPED_TRACE(file.toStdString());
    tab.ShowMultiMedia(file);
    EXPECT_TRUE(panelShown());
    EXPECT_TRUE(host.closeItem);
    EXPECT_TRUE(host.tabShown);
    EXPECT_FALSE(tab.MediaTouched);
    ASSERT_TRUE(testenv::waitFor([&] { return !panelShown(); }, 20000))
        << "still playing: state " << tab.player()->playbackState() << " status " << tab.player()->mediaStatus() << " position "
        << tab.player()->position() << " error " << tab.player()->errorString().toStdString();
    EXPECT_FALSE(host.tabShown);
    EXPECT_FALSE(host.closeItem);
    EXPECT_EQ(tab.player()->playbackState(), QMediaPlayer::StoppedState);
    ++played;
  }
  EXPECT_TRUE(host.errors.isEmpty()) << host.errors.join('|').toStdString();
  if (played < 3) GTEST_SKIP() << "sox or gst-launch-1.0 missing: " << played << " of 3 files played";
}

TEST_F(MediaTab, StopKeepsThePanelOpenOnceAndTheCloseButtonCloses) {
  const Media &m = media();
  if (m.longWav.isEmpty()) GTEST_SKIP() << "sox is not installed";
  tab.ShowMultiMedia(m.longWav);
  ASSERT_TRUE(testenv::waitFor([&] { return tab.player()->position() > 0; }, 10000));
  EXPECT_TRUE(testenv::waitFor([&] { return tab.MediaPlayer1->Position->text().startsWith(QStringLiteral("0:")); }));
  QTest::mouseClick(tab.MediaPlayer1->button(TMediaPlayerBar::Stop), Qt::LeftButton);
  ASSERT_TRUE(testenv::waitFor([&] { return tab.player()->playbackState() == QMediaPlayer::StoppedState; }));
  EXPECT_TRUE(panelShown());
  EXPECT_TRUE(host.closeItem);
  EXPECT_TRUE(tab.MediaTouched);
  // Played again and sent to its end with the bar's End button: the report of a button press is let go.
  QTest::mouseClick(tab.MediaPlayer1->button(TMediaPlayerBar::Play), Qt::LeftButton);
  ASSERT_TRUE(testenv::waitFor([&] { return tab.player()->playbackState() == QMediaPlayer::PlayingState; }));
  QTest::mouseClick(tab.MediaPlayer1->button(TMediaPlayerBar::Next), Qt::LeftButton);
  ASSERT_TRUE(testenv::waitFor([&] { return !tab.MediaTouched; }, 10000));
  EXPECT_TRUE(panelShown());
  QTest::mouseClick(tab.CloseMMbut, Qt::LeftButton);
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(host.closeItem);
  EXPECT_FALSE(host.tabShown);
  EXPECT_TRUE(tab.player()->source().isEmpty());
  // The menu's "Close M&ultiMedia" closes even right after a button press.
  tab.ShowMultiMedia(m.longWav);
  QTest::mouseClick(tab.MediaPlayer1->button(TMediaPlayerBar::Pause), Qt::LeftButton);
  tab.CloseMMediaClick(TMediaTab::CloseSender::Menu);
  EXPECT_FALSE(panelShown());
  EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(MediaTab, UnplayableFileShowsTheBoxOnce) {
  const QString bad = testenv::writeFile(testenv::makeDir() + "/broken.avi", QByteArray("RIFF\x10\0\0\0AVI garbage garbage", 26));
  tab.ShowMultiMedia(bad);
  ASSERT_TRUE(testenv::waitFor([&] { return !host.errors.isEmpty(); }, TMediaTab::kLoadLimitMs + 5000))
      << "status " << tab.player()->mediaStatus() << " state " << tab.player()->playbackState();
  EXPECT_EQ(host.errors, QStringList{TMediaTab::CannotOpenText});
  EXPECT_FALSE(panelShown());
  EXPECT_FALSE(host.closeItem);
  EXPECT_EQ(host.imageHidden, 1);
  // A good file afterwards plays as usual.
  if (media().wav.isEmpty()) GTEST_SKIP() << "sox is not installed: a good file after the broken one was not tried";
  tab.ShowMultiMedia(media().wav);
  EXPECT_TRUE(panelShown());
  ASSERT_TRUE(testenv::waitFor([&] { return !panelShown(); }, 20000));
  EXPECT_EQ(host.errors.size(), 1);
}

}  // namespace
