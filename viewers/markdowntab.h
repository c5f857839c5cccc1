#pragma once
// The "Markdown" tab: a Markdown file shown rendered, read-only, with "Edit Source" to edit it in the text
// editor tab. Nothing is fetched: pictures come only from the file's own folder (and below it), and a click on
// a link does nothing; a link is followed only through "Open Link" in the pop-up menu.
#include <QTextBrowser>
#include <QWidget>

#include "viewers/markdownhost.h"

class QLabel;
class QToolButton;

// The rendered view: refuses every resource but pictures from its own folder.
class TMarkdownView : public QTextBrowser {
  Q_OBJECT
 public:
  explicit TMarkdownView(QWidget *parent = nullptr);
  // The folder whose pictures (and those of its subfolders) may be shown; empty: none.
  void setImageFolder(const QString &folder) { folder_ = folder; }
  QVariant loadResource(int type, const QUrl &name) override;
  // Resources asked for and refused since the last document (for the notice and the tests).
  int refusedCount() const { return refused_; }
  void resetRefused() { refused_ = 0; }
  // The link under a point of the viewport, empty when none.
  QString linkAt(const QPoint &pos) const;

 private:
  QString folder_;
  int refused_ = 0;
};

class TMarkdownTab : public QWidget {
  Q_OBJECT
 public:
  // Larger files are not laid out (a page of text takes too long); they go to the editor with "Edit Source".
  static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;

  explicit TMarkdownTab(TMarkdownHost &host, QWidget *parent = nullptr);

  // Shows the file rendered; false with the reason shown in the tab when it cannot be.
  bool ShowMarkdown(const QString &file);
  void ClearViewer();
  QString fileName() const { return file_; }
  QString message() const;  // the text shown in place of the document; empty while it shows

  TMarkdownView *View = nullptr;
  QToolButton *EditSourceBut = nullptr;
  QLabel *LinkLabel = nullptr;  // the link under the mouse, as its target
  QLabel *MessageLabel = nullptr;

 public slots:
  void EditSourceClick();
  // The pop-up menu's "Open Link" on the given link.
  void openLink(const QString &href);

 private:
  void showMessage(const QString &text);
  TMarkdownHost &host_;
  QString file_;
};
