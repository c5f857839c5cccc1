#pragma once
// What the image window needs of the program around it: the main window's current file and folder, and
// the dialogs and messages it shows (behind the host so that tests can answer them).
#include <QString>

class QWidget;

class TImgHost {
 public:
  virtual ~TImgHost() = default;
  // The main window's current file: the picture a new window shows.
  virtual QString currentFile() const = 0;
  // The main window's current folder: where the thumbnails dialog starts.
  virtual QString currentFolder() const = 0;
  // The open dialog for pictures (with thumbnails); the chosen file or empty.
  virtual QString openImageFile(QWidget *owner, const QString &title, const QString &folder, const QString &filter) = 0;
  // The save dialog, starting with startName; it asks before overwriting. The chosen name or empty.
  virtual QString saveImageFile(QWidget *owner, const QString &title, const QString &startName, const QString &filter) = 0;
  // An error box owned by owner.
  virtual void showError(QWidget *owner, const QString &text) = 0;
};
