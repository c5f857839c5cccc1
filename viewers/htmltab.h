#pragma once
// The "Html" tab of the viewers: the page view HtmlView, the source editor LEdit2 with its status bar SBar2
// (one of the two shows at a time), and above them the history of pages shown, kept in "Tarnwick.Web".
// It knows nothing of the main window: what it needs from there goes through its host.
#include <QList>
#include <QWidget>
#include "browser/listfiles.h"
#include "viewers/htmlhost.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class QMenu;
class QPrinter;
class TEditorStatusBar;
class THtmlView;
class TLEdit;

class THtmlTab : public QWidget {
  Q_OBJECT
 public:
  explicit THtmlTab(THtmlHost &host, QWidget *parent = nullptr);
  ~THtmlTab() override;

  QWidget *HistoryPanel;
  QComboBox *HistoryBox;
  THtmlView *HtmlView;
  TLEdit *LEdit2;
  TEditorStatusBar *SBar2;

  // Pop-up of the view.
  QMenu *HtmlMenu;
  QAction *EditHtml, *OpenHistory1, *Copy2, *Find1, *SelectAll2, *Print1, *ShowImages1, *Back1, *Forward1,
      *FollowLink1, *MenuItem1;
  // Lets the page shown run its scripts (checked while it does), enabled with the HTML commands.
  QAction *AllowScripts1;
  // Pop-up of the history box.
  QMenu *HistoryMenu;
  QAction *OpenHist, *SaveHistory;
  // Pop-up of the source editor.
  QMenu *HtmlEditor;
  QAction *ViewHtml1, *New1, *Open4, *Reset1, *Save1, *SaveAs1, *Print3, *PrinterSetup1, *Undo1, *Redo1,
      *LEdit2Cut, *Copy3, *Paste2, *Duplicate1, *Clear3, *SelectAll3, *Find3, *FindNext1, *Replace1, *GoToLine1,
      *ChangeFont1, *ClearUndoBuffer1, *Clear4, *WordWrap1, *Clear5;

  // The file the tab shows or edits, and the link last under the pointer.
  QString HtmlFile;
  QString LastLink;

  // True from Print until the view has finished printing.
  bool isPrinting() const { return m_printing; }
  // True while the source editor shows instead of the page.
  bool editing() const;
  // The history box's entries, top to bottom.
  QStringList historyEntries() const;

  // Viewer dispatch: shows the file as a page (after asking about unsaved source text).
  void ShowHtml(const QString &file);
  // Alt+F2 and View "&Html": from the editor to the page, from the page to the editor.
  void GoToHtml();
  void GoToEditHtml();
  void ActivateHtmlMenu();
  void DeActivateHtmlMenu();
  void UpdateMenuItems(bool value);
  // "Clear All Internal Viewers": the editor emptied and unnamed, the page cleared, the HTML commands off.
  void ClearViewer();
  // At exit: asks about unsaved source text and saves on Yes. False when closing must stop (Yes, but
  // nothing was saved).
  bool QueryClose();

  static const QString ViewHint;      // the view's hint
  static const QString EditorHint;    // the editor's hint
  static const QString HistoryHint;   // the history box's hint
  static const QString NothingToDisplay;
  static const QString TooLargeWarning;
  static const QString ModifiedQuestion;
  static const QString HistoryFileName;  // "Tarnwick.Web"
  static constexpr int CopyLimit = 32001;
  static constexpr int MaxPrintPage = 9999;
  static QString historyFile();
  static QStringList InitialPanelTexts();

 signals:
  // A search of the page has finished.
  void findFinished(bool found);

 public slots:
  void ViewHtmlClick();
  void EditHtmlClick();
  void Open4Click();
  void New1Click();
  void Reset1Click();
  void SaveAs1Click();
  void Clear5Click();
  void MenuItem1Click();
  void LEdit2Change();
  void Copy2Click();
  void SelectAll2Click();
  void Print1Click();
  void Find1Click();
  void FindDialogFind(const QString &text, bool matchCase);
  void ShowImages1Click();
  void AllowScripts1Click();
  void Back1Click();
  void Forward1Click();
  void FollowLink1Click();
  void HtmlViewHotSpotTargetCovered(const QString &target, const QString &url);
  void HtmlViewHotSpotTargetClick(const QString &target, const QString &url, bool &handled);
  void HtmlMenuPopup();
  void HistoryMenuPopup();
  void OpenHistClick();
  void SaveHistoryClick();
  void HistoryBoxClick(int index);

 private:
  QAction *addMenuItem(QMenu *menu, const char *name, const QString &caption, bool enabled,
                       void (THtmlTab::*handler)(), const QString &key = {});
  void hookEngine();
  void showView();
  void showEditor();
  void resetPanels();
  void updateUndoItems();
  // Asks about unsaved source text before it is dropped; false when the user wants to keep it and
  // saving it failed or was cancelled.
  bool mayDropSource();
  void setHistory(const QList<browser::ListEntry> &entries);
  bool readHistory(QList<browser::ListEntry> &entries);

  THtmlHost &m_host;
  QList<browser::ListEntry> m_history;  // the box's entries with the bytes they were read with
  QPrinter *m_printer = nullptr;
  QDialog *m_findDialog = nullptr;
  QLineEdit *m_findEdit = nullptr;
  QCheckBox *m_findCase = nullptr;
  bool m_fillingHistory = false;
  bool m_printing = false;
  int m_findSerial = 0;
  QWidget *m_hookedEngine = nullptr;
};
