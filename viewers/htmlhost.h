#pragma once
// What the "Html" tab needs of the window that holds it.
#include <QString>

class QPrinter;

class THtmlHost {
 public:
  virtual ~THtmlHost() = default;
  // View "&Html" of the main menu is enabled (the source editor shows) or disabled.
  virtual void setViewHtmlEnabled(bool on) = 0;
  // The main status bar's first panel shows this text (a link under the pointer, the view's hint).
  virtual void showStatusText(const QString &text) = 0;
  // The folder the open dialog starts in: the current folder of the browser.
  virtual QString currentFolder() const = 0;
  // The "Html" tab becomes the active viewer tab.
  virtual void activateHtmlTab() = 0;
  // A file picked from the history: it becomes the current file with this extension and is shown by type.
  virtual void showFile(const QString &path, const QString &ext) = 0;
  // Hands a web or mail link to the desktop's browser or mail program.
  virtual void openExternally(const QString &url) = 0;
  // An information box with OK.
  virtual void showMessage(const QString &text) = 0;
  // A warning with OK and Cancel; true for OK.
  virtual bool askOkCancel(const QString &text) = 0;
  // Yes/No question about unsaved source text; true for Yes.
  virtual bool askSaveChanges(const QString &question) = 0;
  // Another program changed the source file since it was loaded or saved: true to overwrite it anyway.
  virtual bool askOverwriteChangedFile(const QString &path) = 0;
  // The open dialog; the chosen path, or empty when cancelled.
  virtual QString askOpenFile(const QString &title, const QString &filter, const QString &folder) = 0;
  // The print dialog for pages 1..maxPage on this printer; false when cancelled. On OK the printer's
  // fromPage() and toPage() hold the chosen range, both 0 for all pages.
  virtual bool askPrint(QPrinter &printer, int maxPage) = 0;
};
