#pragma once
// THexForm: the hex editor tool window. Menus for file, edit, search, print and view commands, a status bar,
// open and save dialogs, the save question, and the hand-over of the main window's current file.
//
// The main window's Tools "&Hex Editor" item opens it with THexForm::open(this, host, HexEditor1), which
// disables the item until the window has closed, and asks THexForm::closeInstance() when it closes itself,
// so that unsaved hex edits get their save question. Everything the window needs of the main window, and
// every question it asks, goes through the THexHost it is given.
#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class THexEditor;
class THexHost;
class THexToCanvas;

class THexForm : public QMainWindow {
  Q_OBJECT
 public:
  // The host must outlive the window.
  explicit THexForm(THexHost &host, QWidget *parent = nullptr);
  ~THexForm() override;

  // Opens the one hex editor window (or raises it when open). menuItem, when given, stays disabled while
  // the window is open and is enabled again when it closes.
  static THexForm *open(QWidget *parent, THexHost &host, QAction *menuItem = nullptr);
  static THexForm *instance();
  // For the main window's own closing: closes the open hex editor window through its save question.
  // False when the user cancelled (the main window should then stay open); true when none was open.
  static bool closeInstance();

  THexEditor *editor() const { return HexEditor1; }
  THexToCanvas *printer() const { return HexToCanvas1; }

  // Save question: true when the window may go on (saved, or changes declined).
  bool SaveQuery();
  bool Save();
  // Prints every page onto printer (already set up); returns the number of pages.
  int printTo(QPrinter *printer);
  // Text of the status panels 0..4.
  QString panelText(int i) const;
  // Search and jump state, shared by every hex editor window of the run.
  static void resetSharedState();

 signals:
  // Emitted when the window has closed (after the save question allowed it).
  void closed();

 public slots:
  void Neu1Click();
  void ffnen1Click();
  void Speichern1Click();
  void Speichernunter1Click();
  void Printpreview1Click();
  void Printsetup1Click();
  void Print1Click();
  void Rckgngig1Click();
  void Ausschneiden1Click();
  void Kopieren1Click();
  void Einfgen1Click();
  void Goto1Click();
  void Amount40001Click();
  void Jumpforward1Click();
  void Jumpbackward1Click();
  void Find1Click();
  void FindNext1Click();
  void FormActivate();
  void HexEditor1StateChanged();

 protected:
  bool event(QEvent *e) override;
  void closeEvent(QCloseEvent *e) override;

 private:
  void buildMenus();
  void Datei1Click();
  void Bearbeiten1Click();
  void Jump1Click();
  void View1Click();
  bool HexEditor1KeyDown(class QKeyEvent *e);
  void selectMatch(qint64 p, qint64 count);
  qint64 runFind(QByteArray &pattern, bool text, bool ignoreCase, qint64 first);
  void errorBox(const QString &text);
  // "Cannot save file" with the name and, when known, the reason.
  void saveFailed(const QString &name);
  // The file shown straight from disk changed and was let go: offer to open it again.
  void sourceChanged(const QString &name);

  THexHost &m_host;

  THexEditor *HexEditor1;
  THexToCanvas *HexToCanvas1;
  QPrinter *m_printer = nullptr;
  QLabel *m_panels[5];

  QMenu *Datei1, *Bearbeiten1, *Jump1, *View1, *Blocksize1, *Caretstyle1, *Offsetdisplay1, *Linesize1;
  QAction *Neu1, *ffnen1, *Speichern1, *Speichernunter1, *Printpreview1, *Printsetup1, *Print1, *Beenden1;
  QAction *Rckgngig1, *Ausschneiden1, *Kopieren1, *Einfgen1, *Goto1, *Amount40001, *Jumpforward1,
      *Jumpbackward1, *Find1, *FindNext1;
  QAction *_16, *_32, *_64, *N1Byteperblock1, *N2Bytesperblock1, *N4Bytesperblock1, *Fullblock1, *Leftline1,
      *Bottomline1, *Hex1, *Dec1, *None1, *ASCIItoANSI1, *Grid1, *Showmarkers1;
};
