#pragma once
// What the "Images" tab needs of the window that holds it.
#include <QString>

class QPrinter;

class TImagesHost {
 public:
  virtual ~TImagesHost() = default;
  // "Open In Window" or a double click on the picture: a new image window on this file.
  virtual void openImageWindow(const QString &path) = 0;
  // The main status bar's first panel shows this text (a picture that cannot be read, say).
  virtual void showStatusText(const QString &text) = 0;
  // Empties the status line if it still shows this text (a message about a picture no longer shown).
  virtual void clearStatusText(const QString &text) = 0;
  // The print dialog for pages 1..maxPage; false when cancelled. On OK the printer's fromPage() and
  // toPage() hold the chosen range, both 0 for all pages.
  virtual bool askPrint(QPrinter &printer, int maxPage) = 0;
};
