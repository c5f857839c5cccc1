#pragma once
// What THtmlView asks of its engine module (libtarnwick_htmlengine, loaded on first use). The functions
// are THtmlView's own, documented in controls/htmlview.h. Virtual calls only: the program never links the
// module, so nothing of Qt WebEngine is loaded before the first page.
#include <QString>
#include <functional>

class QPrinter;
class QWidget;

class THtmlEngine {
 public:
  virtual ~THtmlEngine() = default;
  virtual QWidget *asWidget() = 0;
  // The engine's QWebEngineView, or null before the first page; as a widget, and as itself.
  virtual QWidget *engineWidget() = 0;
  virtual void *engineHandle() = 0;
  virtual bool ShowFile(const QString &path) = 0;
  virtual bool ShowImageFile(const QString &path) = 0;
  virtual void ClearPage() = 0;
  virtual QString currentFile() const = 0;
  virtual bool isLoading() const = 0;
  virtual void CopySelection() = 0;
  virtual void SelectEverything() = 0;
  virtual int SelLength() const = 0;
  virtual QString selectedText() const = 0;
  virtual void FindText(const QString &text, bool matchCase, std::function<void(bool found)> done) = 0;
  virtual void PrintPages(QPrinter *printer, int fromPage, int toPage, std::function<void(bool ok)> done) = 0;
  virtual bool GoBack() = 0;
  virtual bool GoForward() = 0;
  virtual bool canGoBack() const = 0;
  virtual bool canGoForward() const = 0;
  virtual bool ViewImages() const = 0;
  virtual void setViewImages(bool on) = 0;
  virtual bool ScriptsAllowed() const = 0;
  virtual bool AllowScripts(bool on) = 0;
};

// The module's entry point: extern "C" THtmlEngine *tarnwick_html_engine_create(QWidget *parent).
using THtmlEngineCreate = THtmlEngine *(*)(QWidget *parent);
