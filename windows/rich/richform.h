#pragma once
// TRichForm: the rich text window, a small word processor around TRichEdit: open and save RTF and text
// files, print, undo, clipboard, font name, size and style, alignment, bullets, and a ruler whose three
// markers set the paragraph's first-line, left and right indents.
//
// The main window makes a new one for every clicked ".rtf" (handOver: it opens the main window's current
// file) and for every "&Rtf File" item (an empty document). Each is its own window, not modal, deleted when
// it closes; closing asks to save changes first. Everything it needs of the main window, and every question
// it asks, goes through the TRichHost it is given.
#include <QMainWindow>

class QAction;
class QActionGroup;
class QComboBox;
class QFrame;
class QLabel;
class QPrinter;
class QSpinBox;
class QToolBar;
class TRichEdit;
class TRichHost;

class TRichForm : public QMainWindow {
  Q_OBJECT
 public:
  // The host must outlive the window.
  TRichForm(TRichHost &host, bool handOver, QWidget *parent = nullptr);
  ~TRichForm() override;

  // Closes every rich text window of owner through its save question. False when one refused (the owner
  // should then stay open).
  static bool closeAll(QWidget *owner);

  TRichEdit *editor() const { return Editor; }
  // The document's full path, or "Untitled".
  QString fileName() const { return FileName; }
  QString panelText(int i) const;
  QWidget *ruler() const { return Ruler; }
  QWidget *marker(int i) const;  // 0 FirstInd, 1 LeftInd, 2 RightInd
  // Prints the document onto a printer that is already set up (the file name is the job's title).
  void printTo(QPrinter *printer);

  // Save question: true when the command may go on (saved, or changes declined).
  bool SaveQuery();

 public slots:
  void FileNew();
  void FileOpen();
  bool FileSave();
  bool FileSaveAs();
  void FilePrint();
  void EditUndo();
  void SelectFont();
  void SelectionChange();
  void RichEditChange();

 protected:
  void showEvent(QShowEvent *e) override;
  void closeEvent(QCloseEvent *e) override;
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  void buildMenus();
  void buildToolBar();
  void buildRuler();
  void setFileName(const QString &name);
  bool openFile(const QString &path);
  bool writeTo(const QString &path);
  void updateCursorPos();
  void updatePaste();
  void placeMarkers();
  void layoutRuler();
  void markerReleased(QWidget *m);
  void applyCharFormat(const class QTextCharFormat &f);

  TRichHost &host;
  bool handOver_;
  bool shownOnce_ = false;
  QString FileName;
  bool FUpdating = false;
  int FDragOfs = 0;
  bool FDragging = false;

  TRichEdit *Editor = nullptr;
  QToolBar *ToolBar = nullptr;
  QFrame *Ruler = nullptr;
  QFrame *RulerLine = nullptr;
  QLabel *FirstInd = nullptr;
  QLabel *LeftInd = nullptr;
  QLabel *RightInd = nullptr;
  QLabel *panels_[3] = {};
  QComboBox *FontName = nullptr;
  QSpinBox *FontSize = nullptr;
  QAction *UndoButton = nullptr, *CutButton = nullptr, *CopyButton = nullptr, *PasteButton = nullptr;
  QAction *BoldButton = nullptr, *ItalicButton = nullptr, *UnderlineButton = nullptr;
  QAction *LeftAlign = nullptr, *CenterAlign = nullptr, *RightAlign = nullptr, *BulletsButton = nullptr;
  QAction *EditUndoItem = nullptr, *EditCutItem = nullptr, *EditCopyItem = nullptr, *EditPasteItem = nullptr;
};
