#pragma once
// The "MultiMedia" tab: sound and video files played with Qt Multimedia. The player bar MediaPlayer1 and
// the Close button sit on MediaPanel at the bottom, video shows above them. As the platform's media
// control reports it, a play started with notification on reports its end once: successful when the file
// played to its end, aborted when it was stopped; MediaTouched tells a report caused by a button press.
// A file that played to its end closes the player and the panel but leaves the tab where it is (the user
// is looking at it); the Close button and "Close M&ultiMedia" take the tab away.
#include <QWidget>

#include "viewers/mediahost.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QTimer;
class QToolButton;
class TVideoSurface;

// The player bar: the seven buttons of a media player and the position.
class TMediaPlayerBar : public QWidget {
  Q_OBJECT
 public:
  enum Button { Play, Pause, Stop, Next, Prev, Step, Back };
  explicit TMediaPlayerBar(QWidget *parent = nullptr);
  QToolButton *button(Button b) const { return buttons_[b]; }
  QLabel *Position = nullptr;

 signals:
  void clicked(TMediaPlayerBar::Button b);

 private:
  QToolButton *buttons_[7] = {};
};

class TMediaTab : public QWidget {
  Q_OBJECT
 public:
  static const QString CannotOpenText;
  // How long a file may stay loading before it counts as one that cannot be opened: long enough that a
  // busy machine's player still prepares a good file in time (five seconds were not).
  static constexpr int kLoadLimitMs = 15000;
  explicit TMediaTab(TMediaHost &host, QWidget *parent = nullptr);
  ~TMediaTab() override;

  TVideoSurface *Video = nullptr;
  QWidget *MediaPanel = nullptr;
  TMediaPlayerBar *MediaPlayer1 = nullptr;
  QPushButton *CloseMMbut = nullptr;
  bool MediaTouched = false;

  // Plays a file (dispatch of sound and video files).
  void ShowMultiMedia(const QString &file);
  QMediaPlayer *player() const { return player_; }
  QString fileName() const { return fileName_; }
  bool isOpen() const { return open_; }

  // "Clear All Internal Viewers": the playing mark cleared and the player closed.
  void ClearViewer();

  // Who asked to close: the Close button, the main menu's "Close M&ultiMedia", or the player's report.
  enum class CloseSender { Button, Menu, Player };
  void CloseMMediaClick(CloseSender sender);

 signals:
  // The player's notification (a play started with notification on has ended).
  void notified(bool success);

 public slots:
  void MediaPlayer1Click(TMediaPlayerBar::Button b);

 private:
  void freshPlayer();
  void closePlayer();
  void MediaPlayer1Notify(bool success);
  void CannotOpenFile();
  void updatePosition();
  TMediaHost &host;
  QMediaPlayer *player_ = nullptr;
  QAudioOutput *audio_ = nullptr;
  // One limit for the file now opening: a limit left from an earlier open of the same file would judge
  // this one before its time.
  QTimer *loadLimit_ = nullptr;
  QString fileName_;
  bool open_ = false;
  bool notify_ = false;
  bool failed_ = false;
};
