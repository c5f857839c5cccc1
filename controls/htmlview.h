#pragma once
// The HTML view: shows local pages, framesets included, with Qt WebEngine. The engine lives in a module
// loaded on first use (controls/htmlengineview), so that a program start does not pay for it. Local pages load local files only: nothing reaches the
// network from inside the view (links out of the program are the caller's to hand to the desktop).
#include <QString>
#include <QWidget>
#include <functional>

class QPrinter;
class QWebEngineView;
class THtmlEngine;

class THtmlView : public QWidget {
  Q_OBJECT
 public:
  explicit THtmlView(QWidget *parent = nullptr);
  ~THtmlView() override;

  // Loads and shows a file by path; false at once when it is not a readable file. loadFinished follows,
  // once per page shown (refused navigations and superseded loads are not reported). Local files only: a
  // page's remote resources are refused, and so are folders (no listings, as page or frame). The page's
  // scripts do not run (see AllowScripts).
  bool ShowFile(const QString &path);
  // Shows one image file alone on a page (animated images play).
  bool ShowImageFile(const QString &path);
  // Empties the view (and forgets the shown file); loadFinished follows once the engine exists.
  void ClearPage();
  // The file shown last by ShowFile or ShowImageFile; empty after ClearPage.
  QString currentFile() const;
  bool isLoading() const;

  void CopySelection();
  void SelectEverything();
  // Characters selected, and the selected text, as last reported by the page.
  int SelLength() const;
  QString selectedText() const;
  // Finds the next match after the current one, across frames; `done` receives whether one was found.
  void FindText(const QString &text, bool matchCase, std::function<void(bool found)> done);
  // Prints pages fromPage..toPage (1-based, inclusive; toPage beyond the last page means to the end) on
  // the printer, a PDF printer included; `done` receives whether printing succeeded. A range that starts
  // past the last page prints nothing (done(false)). A PDF file printer gets the engine's PDF with its text;
  // any other printer (a print preview's too) gets page images, painted after this returns: in a preview's
  // paintRequested, wait for `done` there. The printer must live until `done`. One print at a time: a
  // second call while one runs gets done(false).
  void PrintPages(QPrinter *printer, int fromPage, int toPage, std::function<void(bool ok)> done);

  bool GoBack();
  bool GoForward();
  bool canGoBack() const;
  bool canGoForward() const;

  // Images on pages (ShowImageFile always shows its image). Off, pages shown from then on have none,
  // except those the engine still holds in memory; starts on.
  bool ViewImages() const;
  void setViewImages(bool on);

  // Pages run no scripts: a local page's scripts could read any of the user's files through its frames.
  // AllowScripts(true) shows the page now shown again with its scripts on, until another page shows (a link,
  // a script, Back or Forward, ShowFile): that one runs none. Still no file reads by script (fetch, XHR) and
  // nothing from the network. False when no local page shows. AllowScripts(false) stops them.
  bool ScriptsAllowed() const;
  bool AllowScripts(bool on);

  // The engine's own view, or null before first use (tests look inside; they link WebEngine themselves).
  QWebEngineView *engineView() const;
  // The same view as a plain widget (its context menu, focus), or null before first use.
  QWidget *engineWidget() const;

 signals:
  void loadFinished(bool ok);
  // The pointer is over a link (url empty when it left one). The engine does not tell the link's target
  // frame: target is empty.
  void OnHotSpotTargetCovered(const QString &target, const QString &url);
  // A link was clicked (or a page script navigated like one); setting handled keeps the view from
  // following it. Otherwise a file link is followed and any other refused (refused follows). target is
  // "_blank" for a link that asks for a new window (followed here too), else empty. The url is as the
  // engine normalised it (scheme in lower case: "HTTP://x" arrives as "http://x"). Emitted from inside the
  // engine's navigation check: connect directly, set handled, and queue anything else (a load, a dialog).
  void OnHotSpotTargetClick(const QString &target, const QString &url, bool &handled);
  // A navigation or resource the view refused (the network, or a page script leaving the page).
  void refused(const QString &url);
  // The selection changed.
  void selectionChanged();

 private:
  // Loads the engine module and creates the engine, once; false (with a warning) when the module is missing.
  bool ensureEngine();

  THtmlEngine *engine_ = nullptr;  // a child widget of this view once created
  bool viewImages_ = true;                 // until the engine exists
};
