#pragma once
// What the "MultiMedia" tab needs of the window that holds it.
#include <QString>

class TMediaHost {
 public:
  virtual ~TMediaHost() = default;
  // The "MultiMedia" tab is shown among the viewer tabs and becomes the active one.
  virtual void showMediaTab() = 0;
  // The "MultiMedia" tab leaves the viewer tabs.
  virtual void hideMediaTab() = 0;
  // The main menu's "Close M&ultiMedia" shows or hides.
  virtual void setCloseMultimediaVisible(bool on) = 0;
  // The Images tab's page view Image1 hides (a file that cannot be played).
  virtual void hideAnimatedImage() = 0;
  // An information box owned by the main window, titled "Tarnwick File Error".
  virtual void showFileError(const QString &text) = 0;
};
