#pragma once
// The rich text window's boxes and dialogs as the user sees them; the main window's host adds only where the
// current file and folder come from.
#include "windows/rich/richhost.h"

class TRichDialogHost : public TRichHost {
 public:
  QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) override;
  void showError(QWidget *owner, const QString &text) override;
  QString openFileName(QWidget *owner, const QString &folder, const QString &filter, bool &readOnly) override;
  QString saveFileName(QWidget *owner, const QString &folder, const QString &filter) override;
  bool printSetup(QWidget *owner, QPrinter *printer) override;
  // Qt's font dialog with a colour list ("ColorBox") of the sixteen basic colours and the start colour.
  bool chooseFont(QWidget *owner, QFont &font, QColor &color) override;
};
