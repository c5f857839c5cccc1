#pragma once
// The "Pdf" tab: a PDF's pages, one under the other, with zoom (Ctrl+Plus, Ctrl+Minus, fit to width), the
// page number, finding text and copying a page's text. Only the pages are drawn: the document's links and
// scripts never run (the view follows no link, and Qt's PDF library runs no document scripts).
#include <QWidget>

class QLabel;
class QLineEdit;
class QPdfDocument;
class QPdfSearchModel;
class QPdfView;
class QSpinBox;
class QStackedWidget;
class QToolButton;

class TPdfTab : public QWidget {
  Q_OBJECT
 public:
  explicit TPdfTab(QWidget *parent = nullptr);
  // Lets the file lists show a PDF's first page as its preview.
  static void addPreviewMaker();
  ~TPdfTab() override;

  // Shows a file's pages from the first; a file that cannot be shown leaves a message in the tab instead.
  // True when the pages show.
  bool ShowPdf(const QString &file);
  // "Clear All Internal Viewers": no document, no message.
  void ClearViewer();

  QString fileName() const { return file_; }
  int pageCount() const;
  int currentPage() const;  // from 0
  void goToPage(int page);
  // The message shown in place of the pages; empty while pages show.
  QString message() const;

  void zoomIn();
  void zoomOut();
  void fitWidth();
  qreal zoomFactor() const;
  bool fitsWidth() const;

  // Finds text (case-insensitive) and shows the first page it is on; the count grows while pages are searched.
  void find(const QString &text);
  void findNext(bool forward = true);
  int findCount() const;
  int findIndex() const { return findIndex_; }  // -1 before the first one is shown
  // Puts the current page's text on the clipboard.
  void copyPageText();
  QString pageText(int page) const;

  QPdfView *View = nullptr;
  QLineEdit *FindEdit = nullptr;
  QLabel *MessageLabel = nullptr;
  QLabel *Notice = nullptr;  // above the pages: a file cut short whose first pages could be shown

 signals:
  void pagesShown();  // a file's first page is laid out

 private:
  void showMessage(const QString &text);
  void showMatch();
  void updateStatus();
  QPdfDocument *doc_ = nullptr;
  QPdfSearchModel *search_ = nullptr;
  QStackedWidget *stack_ = nullptr;
  QSpinBox *pageBox_ = nullptr;
  QLabel *pageOf_ = nullptr;
  QLabel *findStatus_ = nullptr;
  QToolButton *fitBtn_ = nullptr;
  QString file_;
  int findIndex_ = -1;
};
