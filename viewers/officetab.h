#pragma once
// The "Office97" tab: Word, Excel and Lotus documents converted to RTF by the text converters and shown in
// the read-only rich-edit control ReApp (writable while it has the focus), with the one-panel status line
// SbStatus. A conversion runs in the converter's child process; the window stays alive meanwhile (events are
// let through from inside the conversion) and the status line's Cancel button stops it. Anything that
// would end the conversion's document (another document, "Clear", closing) stops it first; the tab may
// even be destroyed from inside it without anything touching the tab afterwards.
#include <QWidget>

#include <memory>

#include "viewers/officehost.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QToolButton;
class TRichEdit;
class TTextConverters;

class TOfficeTab : public QWidget {
  Q_OBJECT
 public:
  explicit TOfficeTab(TOfficeHost &host, QWidget *parent = nullptr);
  ~TOfficeTab() override;

  TRichEdit *ReApp = nullptr;
  QStatusBar *SbStatus = nullptr;
  QLabel *SbStatusPanel = nullptr;
  QToolButton *CancelBtn = nullptr;
  QMenu *Office97 = nullptr;
  QAction *Open5 = nullptr, *Word951 = nullptr, *Word971 = nullptr, *Clear6 = nullptr;

  TTextConverters &converters() { return *converters_; }
  // Records our converter libraries in the store when they are missing there (first start).
  void registerConverters(const QString &libraryFolder);

  // The description a clicked file is converted with: Word 97 or Word 6.0/95 (by the Word97/Word95 choice)
  // for ".doc", Lotus for ".wk*", Excel for ".xls"; Word 97 for ".docx"/".odt", Excel for ".xlsx"/".ods";
  // empty for anything else.
  QString descriptionFor(const QString &ext) const;
  // Shows a clicked document (dispatch): status texts, the conversion, the result.
  void showDocument(const QString &file, const QString &ext);
  // Converts `file` into ReApp; false when there is no converter, the converter refused or failed, or the
  // conversion was cancelled.
  bool ImportWithConverter(const QString &file, const QString &description);
  bool isConverting() const { return converting_; }
  // Stops the conversion in progress (its converter's processes end with it) and forgets a document
  // clicked meanwhile; the conversion returns soon after, and conversionEnded() tells when.
  void abortConversion();
  QString statusText() const;

 public slots:
  void Open5Click();
  void Clear6Click();
  void cancelConversion();

 signals:
  // A conversion finished (whatever its outcome) and ReApp and SbStatus show it.
  void documentShown(bool ok);
  // A conversion has returned (whatever its outcome): the converter library is no longer on the stack.
  void conversionEnded();

 protected:
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  void setStatus(const QString &text);
  TOfficeHost &host;
  std::unique_ptr<TTextConverters> converters_;
  bool converting_ = false;
  bool cancel_ = false;
  bool cleared_ = false;  // "Clear" while converting: the conversion's end shows nothing
  // A document clicked while another converts: shown once that one has stopped.
  QString pendingFile_, pendingExt_;
};
