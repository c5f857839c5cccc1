// The MultiMedia tab on the real player (Qt Multimedia over GStreamer), headless: sound and video files
// made here by sox and GStreamer's test sources play to their end and close the panel, the tab staying;
// Stop keeps the panel open; a file that cannot be played, or that holds less than it claims, shows the
// box. No sound card is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QtEndian>
#include <QLabel>
#include <QMediaPlayer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QtTest/QTest>

#include "tests/common/testenv.h"
#include "viewers/filesniff.h"
#include "viewers/mediatab.h"
#include "viewers/videosurface.h"

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
    // Played to its end: the player and the panel close, the tab stays in front of the user.
    EXPECT_TRUE(host.tabShown);
    EXPECT_FALSE(host.closeItem);
    EXPECT_EQ(tab.player()->playbackState(), QMediaPlayer::StoppedState);
    EXPECT_TRUE(tab.player()->source().isEmpty());
    if (file == m.avi) {
      // The video's frames reached the tab's own surface, and its last one stays there.
      EXPECT_GE(tab.Video->frameCount(), 6);
      EXPECT_TRUE(tab.Video->hasPicture());
    } else {
      EXPECT_EQ(tab.Video->caption(), QFileInfo(file).fileName());
    }
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

TEST_F(MediaTab, FilesThatHoldLessThanTheyClaimShowTheBox) {
  const Media &m = media();
  if (m.wav.isEmpty() || m.avi.isEmpty()) GTEST_SKIP() << "sox or gst-launch-1.0 missing: no files to cut";
  const QString dir = testenv::makeDir("cut");
  // A video cut in the middle of its frames, and a sound whose header claims 2 GB.
  const QByteArray avi = testenv::readFile(m.avi);
  const QString cutAvi = testenv::writeFile(dir + "/cut.avi", avi.left(avi.size() / 2));
  QByteArray wav = testenv::readFile(m.wav);
  const qsizetype data = wav.indexOf("data");
  ASSERT_GT(data, 0);
  qToLittleEndian<quint32>(0x80000024u, wav.data() + 4);
  qToLittleEndian<quint32>(0x80000000u, wav.data() + data + 4);
  const QString bigWav = testenv::writeFile(dir + "/claims2gb.wav", wav);
  for (const QString &file : {cutAvi, bigWav}) {
    SCOPED_TRACE(file.toStdString());
    host.errors.clear();
    tab.ShowMultiMedia(file);
    ASSERT_TRUE(testenv::waitFor([&] { return !host.errors.isEmpty() || !panelShown(); }, 20000));
    EXPECT_EQ(host.errors, QStringList{TMediaTab::CannotOpenText});
    EXPECT_FALSE(panelShown());
    EXPECT_FALSE(host.closeItem);
  }
  // The whole files still play.
  tab.ShowMultiMedia(m.avi);
  ASSERT_TRUE(testenv::waitFor([&] { return !panelShown(); }, 20000));
  EXPECT_EQ(host.errors.size(), 1);
  EXPECT_GT(tab.Video->frameCount(), 0);
}

// RIFF files built here byte by byte: a chunk that claims more than the file holds is caught; the sizes
// that stream writers leave open, the writers that count the header in and a last odd chunk without its
// pad byte are not claims; other files are not RIFF files.
TEST(RiffClaims, ChunksBeyondTheFileAndTheSizesWritersLeaveOpen) {
  auto le = [](quint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b;
  };
  auto chunk = [&](const char *id, const QByteArray &body, qint64 claim = -1) {
    return QByteArray(id, 4) + le(claim < 0 ? quint32(body.size()) : quint32(claim)) + body + (body.size() % 2 ? QByteArray(1, '\0') : QByteArray());
  };
  const QByteArray fmt = chunk("fmt ", QByteArray(16, '\1'));
  auto wav = [&](const QByteArray &dataChunk, qint64 riffClaim = -1) {
    const QByteArray body = "WAVE" + fmt + dataChunk;
    return QByteArray("RIFF") + le(riffClaim < 0 ? quint32(body.size()) : quint32(riffClaim)) + body;
  };
  const QByteArray samples(1000, '\x40');
  const QString dir = testenv::makeDir("riff");
  int n = 0;
  auto claims = [&](const QByteArray &bytes) { return viewers::riffClaimsMissingBytes(testenv::writeFile(dir + QStringLiteral("/f%1").arg(++n), bytes)); };

  const QByteArray whole = wav(chunk("data", samples));
  EXPECT_FALSE(claims(whole));
  EXPECT_TRUE(claims(whole.left(whole.size() - 100)));                    // cut: both sizes claim more
  EXPECT_TRUE(claims(wav(chunk("data", samples, 0x80000000u))));           // the data claims 2 GB
  EXPECT_TRUE(claims(wav(chunk("data", samples), 0x7FFFFFF0u)));           // the RIFF claims 2 GB
  EXPECT_FALSE(claims(wav(chunk("data", samples), whole.size())));         // a writer counting the header in
  EXPECT_FALSE(claims(wav(chunk("data", samples, 0xFFFFFFFFu), 0xFFFFFFFFu)));  // a stream's open sizes
  EXPECT_FALSE(claims(wav(chunk("data", samples, 0), 0)));
  EXPECT_FALSE(claims(wav(chunk("data", samples, 0xFFFFFFFFu))));
  QByteArray odd = wav(chunk("data", samples.left(999)));
  odd.chop(1);  // the last chunk's pad byte never written
  EXPECT_FALSE(claims(odd));
  // An AVI of two parts, the second (RIFF "AVIX") cut.
  const QByteArray movi = chunk("LIST", "movi" + chunk("00dc", samples));
  const QByteArray first = QByteArray("RIFF") + le(4 + movi.size()) + "AVI " + movi;
  const QByteArray second = QByteArray("RIFF") + le(4 + movi.size()) + "AVIX" + movi;
  EXPECT_FALSE(claims(first + second));
  EXPECT_TRUE(claims(first + second.left(second.size() - 10)));
  EXPECT_FALSE(claims(first + "junk at the end"));
  // Not RIFF files, or too short to say.
  EXPECT_FALSE(claims(QByteArray()));
  EXPECT_FALSE(claims("RIFF"));
  EXPECT_FALSE(claims("RIFX" + whole.mid(4)));
  EXPECT_FALSE(claims("RF64" + le(0xFFFFFFFFu) + "WAVE"));
  EXPECT_FALSE(claims(QByteArray(5000, '\xff')));
  EXPECT_FALSE(viewers::riffClaimsMissingBytes(dir + "/missing.wav"));
  // A file of a million empty chunks is answered, not walked for ever.
  QByteArray empties = QByteArray("RIFF") + le(4 + 8 * 1000000) + "WAVE";
  for (int i = 0; i < 1000000; ++i) empties += QByteArray("JUNK\0\0\0\0", 8);
  EXPECT_FALSE(claims(empties));
}

}  // namespace
