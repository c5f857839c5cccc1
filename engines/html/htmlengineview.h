#pragma once
// The HTML view's engine, in the module libtarnwick_htmlengine that THtmlView loads on first use: Qt
// WebEngine is linked here only, so a program start does not pay for loading it. Its public functions are
// THtmlView's (see controls/htmlview.h), reached through the THtmlEngine interface; its signals are
// THtmlView's too and are forwarded by name.
#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>
#include "controls/htmlengine.h"

class QPrinter;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

class THtmlEngineView : public QWidget, public THtmlEngine {
  Q_OBJECT
 public:
  explicit THtmlEngineView(QWidget *parent = nullptr);
  ~THtmlEngineView() override;
  QWidget *asWidget() override { return this; }
  void *engineHandle() override;
  QWidget *engineWidget() override;

  bool ShowFile(const QString &path) override;
  bool ShowImageFile(const QString &path) override;
  void ClearPage() override;
  QString currentFile() const override;
  bool isLoading() const override;

  void CopySelection() override;
  void SelectEverything() override;
  int SelLength() const override;
  QString selectedText() const override;
  void FindText(const QString &text, bool matchCase, std::function<void(bool found)> done) override;
  void PrintPages(QPrinter *printer, int fromPage, int toPage, std::function<void(bool ok)> done) override;

  bool GoBack() override;
  bool GoForward() override;
  bool canGoBack() const override;
  bool canGoForward() const override;

  bool ViewImages() const override;
  void setViewImages(bool on) override;
  bool ScriptsAllowed() const override;
  bool AllowScripts(bool on) override;


 signals:
  void loadFinished(bool ok);
  void OnHotSpotTargetCovered(const QString &target, const QString &url);
  void OnHotSpotTargetClick(const QString &target, const QString &url, bool &handled);
  void refused(const QString &url);
  void selectionChanged();

 private:
  class Page;
  class LocalOnly;
  friend class Page;
  void ensureEngine();
  Page *makePage(const QString &scriptFile);
  void endScripts();
  void leaveScripts(const QUrl &url);
  // Runs `op` now when no page is loading, else once the load in progress has finished.
  void whenLoaded(std::function<void()> op);
  void pageLoadingChanged(const QWebEngineLoadingInfo &info);
  void pageLoadFinished(bool ok);
  void noteRefused(const QUrl &url);
  void beginLoad(const QUrl &url);
  void applyImages(bool on);
  void printRange(QPrinter *printer, int fromPage, int toPage, std::function<void(bool)> finish);
  static int pdfPageCount(const QByteArray &pdf);

  std::unique_ptr<LocalOnly> interceptor_;
  QWebEngineProfile *profile_ = nullptr;
  QWebEngineView *view_ = nullptr;
  Page *page_ = nullptr;        // the page shown: one of the two below
  Page *safePage_ = nullptr;    // runs no scripts; holds the history
  Page *scriptPage_ = nullptr;  // runs the scripts of the one file they were allowed for, while it shows
  std::vector<QPointer<Page>> retired_;  // pages with scripts on their way out, to go before the profile
  QString currentFile_;
  QUrl lastStarted_;
  QUrl requested_;  // the address of the load asked for last (a generated page's base)
  QList<QUrl> refusedUrls_;  // navigations refused lately, whose failed loads are not the page's
  QString selected_;
  bool viewImages_ = true;
  bool loading_ = false;
  bool started_ = false;  // the engine reported the current load's start
  bool printing_ = false;
  QString lastFind_;
  bool lastMatchCase_ = false;
  bool lastFound_ = false;
  std::vector<std::function<void()>> afterLoad_;
  // Cleared first in the destructor, so engine callbacks that arrive while it tears down do nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
