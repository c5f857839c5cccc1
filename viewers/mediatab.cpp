#include "viewers/mediatab.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "viewers/filesniff.h"
#include "viewers/videosurface.h"

const QString TMediaTab::CannotOpenText = QStringLiteral("Sorry, Tarnwick is unable to open this MultiMedia file");

TMediaPlayerBar::TMediaPlayerBar(QWidget *parent) : QWidget(parent) {
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  static const struct {
    const char *name;
    QStyle::StandardPixmap icon;
  } kinds[] = {{"Play", QStyle::SP_MediaPlay},         {"Pause", QStyle::SP_MediaPause},
               {"Stop", QStyle::SP_MediaStop},         {"Next", QStyle::SP_MediaSkipForward},
               {"Prev", QStyle::SP_MediaSkipBackward}, {"Step", QStyle::SP_MediaSeekForward},
               {"Back", QStyle::SP_MediaSeekBackward}};
  for (int i = 0; i < 7; ++i) {
    auto *b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(kinds[i].name));
    b->setIcon(style()->standardIcon(kinds[i].icon));
    b->setText(QString::fromLatin1(kinds[i].name));
    row->addWidget(b);
    buttons_[i] = b;
    connect(b, &QToolButton::clicked, this, [this, i] { emit clicked(static_cast<Button>(i)); });
  }
  Position = new QLabel(this);
  Position->setObjectName(QStringLiteral("Position"));
  Position->setMinimumWidth(Position->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
  row->addWidget(Position);
  const QString hint = QStringLiteral("Media controls, Play, Pause, Stop, End, Begining, Forward, Back");
  setToolTip(hint);
  setStatusTip(hint);
}

TMediaTab::TMediaTab(TMediaHost &host, QWidget *parent) : QWidget(parent), host(host) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Video = new TVideoSurface(this);
  Video->setObjectName(QStringLiteral("Video"));
  layout->addWidget(Video, 1);
  MediaPanel = new QWidget(this);
  MediaPanel->setObjectName(QStringLiteral("MediaPanel"));
  auto *row = new QHBoxLayout(MediaPanel);
  MediaPlayer1 = new TMediaPlayerBar(MediaPanel);
  MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
  row->addWidget(MediaPlayer1);
  row->addStretch(1);
  CloseMMbut = new QPushButton(QStringLiteral("Close"), MediaPanel);
  CloseMMbut->setObjectName(QStringLiteral("CloseMMbut"));
  row->addWidget(CloseMMbut);
  layout->addWidget(MediaPanel);
  MediaPanel->hide();
  connect(MediaPlayer1, &TMediaPlayerBar::clicked, this, &TMediaTab::MediaPlayer1Click);
  connect(CloseMMbut, &QPushButton::clicked, this, [this] { CloseMMediaClick(CloseSender::Button); });
  loadLimit_ = new QTimer(this);
  loadLimit_->setSingleShot(true);
  loadLimit_->setInterval(kLoadLimitMs);
  connect(loadLimit_, &QTimer::timeout, this, [this] {
    if (player_ && open_ && !failed_ &&
        (player_->mediaStatus() == QMediaPlayer::LoadingMedia ||
         player_->mediaStatus() == QMediaPlayer::StalledMedia) &&
        player_->position() == 0)
      CannotOpenFile();
  });
}

TMediaTab::~TMediaTab() {
  // The player goes before the surface whose sink it feeds.
  if (player_) player_->stop();
  delete player_;
  player_ = nullptr;
}

// Each file gets a player of its own, made when it is opened (start-up does not pay for the media
// framework). A player given a new file while the last one's pipeline still winds down can end the new
// one at once, at position 0, as if it had played to its end; a fresh player has no such past.
void TMediaTab::freshPlayer() {
  if (player_) {
    player_->disconnect(this);
    player_->stop();
    delete player_;
  }
  player_ = new QMediaPlayer(this);
  // Without an audio output a sound file does not play at all; with one that has no device behind it (no
  // sound server) the player plays in silence at the file's pace, so a video still shows.
  if (!audio_) audio_ = new QAudioOutput(this);
  player_->setAudioOutput(audio_);
  player_->setVideoSink(Video->videoSink());
  connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
    if (s == QMediaPlayer::InvalidMedia) {
      CannotOpenFile();
    } else if (s == QMediaPlayer::EndOfMedia && notify_) {
      notify_ = false;
      MediaPlayer1Notify(true);
    }
  });
  connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error e, const QString &) {
    if (e != QMediaPlayer::NoError) CannotOpenFile();
  });
  connect(player_, &QMediaPlayer::positionChanged, this, &TMediaTab::updatePosition);
  connect(player_, &QMediaPlayer::durationChanged, this, &TMediaTab::updatePosition);
}

void TMediaTab::updatePosition() {
  auto text = [](qint64 ms) {
    const qint64 s = ms / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3")
                           .arg(s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
  };
  MediaPlayer1->Position->setText(
      player_ ? text(player_->position()) + QStringLiteral(" / ") + text(player_->duration()) : QString());
}

void TMediaTab::ShowMultiMedia(const QString &file) {
  MediaTouched = false;
  MediaPanel->show();
  host.setCloseMultimediaVisible(true);
  host.showMediaTab();
  freshPlayer();  // the last file's player goes as it is: resetting it first would only be thrown away
  closePlayer();  // the flags and the load limit of the last file
  failed_ = false;
  notify_ = false;
  fileName_ = file;
  Video->clear(QFileInfo(file).fileName());
  // A cut AVI or WAV would play what it holds and end early, as if it had played to its end.
  if (viewers::riffClaimsMissingBytes(file)) {
    CannotOpenFile();
    return;
  }
  player_->setSource(QUrl::fromLocalFile(file));  // open
  // The player reports a file it cannot read later, through its error and status signals.
  if (failed_) return;
  open_ = true;
  // A file the player keeps "loading" without ever saying yes or no (some broken containers) counts as
  // one it cannot open.
  loadLimit_->start();
  player_->play();
  notify_ = true;
  updatePosition();
}

void TMediaTab::CannotOpenFile() {
  if (failed_) return;  // one box per file: the player may report the same fault twice
  failed_ = true;
  notify_ = false;
  open_ = false;
  if (player_) player_->stop();
  Video->clear();
  MediaPanel->hide();
  host.setCloseMultimediaVisible(false);
  host.hideAnimatedImage();
  host.showFileError(CannotOpenText);
}

void TMediaTab::MediaPlayer1Click(TMediaPlayerBar::Button b) {
  MediaTouched = true;
  if (!player_ || !open_) return;
  // A button's command asks for notification again, as the media control does.
  switch (b) {
    case TMediaPlayerBar::Play:
      notify_ = true;
      player_->play();
      break;
    case TMediaPlayerBar::Pause: player_->pause(); break;
    case TMediaPlayerBar::Stop:
      player_->stop();
      // Stopped before its end: the pending notification reports an aborted play.
      if (notify_) {
        notify_ = false;
        MediaPlayer1Notify(false);
      }
      break;
    case TMediaPlayerBar::Next: player_->setPosition(player_->duration()); break;
    case TMediaPlayerBar::Prev: player_->setPosition(0); break;
    case TMediaPlayerBar::Step: player_->setPosition(qMin(player_->duration(), player_->position() + 1000)); break;
    case TMediaPlayerBar::Back: player_->setPosition(qMax<qint64>(0, player_->position() - 1000)); break;
  }
}

void TMediaTab::MediaPlayer1Notify(bool success) {
  emit notified(success);
  if (success) CloseMMediaClick(CloseSender::Player);
}

void TMediaTab::CloseMMediaClick(CloseSender sender) {
  if (sender != CloseSender::Player) MediaTouched = false;
  if (MediaTouched) {
    MediaTouched = false;  // the report came from a button press
    return;
  }
  closePlayer();
  if (sender != CloseSender::Player) host.hideMediaTab();
  MediaPanel->hide();
  host.setCloseMultimediaVisible(false);
}

void TMediaTab::closePlayer() {
  loadLimit_->stop();
  notify_ = false;
  open_ = false;
  if (player_) {
    player_->stop();
    player_->setSource(QUrl());
  }
}

void TMediaTab::ClearViewer() {
  MediaTouched = false;
  closePlayer();
  Video->clear();
  MediaPanel->hide();
  host.setCloseMultimediaVisible(false);
}
