#pragma once
// What the "Markdown" tab needs of the window that holds it.
#include <QString>
#include <QUrl>

class TMarkdownHost {
 public:
  virtual ~TMarkdownHost() = default;
  // "Edit Source": the file goes into the text editor tab, which becomes the active one.
  virtual void showMarkdownSource(const QString &path) = 0;
  // "Open Link" on a link the user picked: a local file is shown by its viewer, anything else opened by the
  // desktop. Never called for a plain click on a link.
  virtual void openMarkdownLink(const QUrl &url) = 0;
};
