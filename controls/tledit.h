#pragma once
// TLEdit: the multi-line plain-text editing control of the text editor tab and the HTML source editor.
// Built on QScintilla. Files are kept as the bytes that were read: valid UTF-8 is edited as UTF-8, anything
// else in 8-bit mode where every byte stays as it is, so an unchanged load and save writes the same bytes.
#include <Qsci/qsciscintilla.h>
#include <QFont>
#include <QString>
#include <functional>
#include "platform/fileidentity.h"

class QMenu;
class QsciLexer;
class QsciLexerHTML;
class QsciPrinter;
class TLEditFindDialog;

class TLEdit : public QsciScintilla {
  Q_OBJECT
 public:
  enum class Encoding { Utf8, EightBit };
  enum class LineEnd { CrLf, Cr, Lf };

  // What FileName holds when no file is loaded.
  static const QString Untitled;  // "<<untitled>>"
  static constexpr int UndoDepth = 909;
  static constexpr int BookmarkMarker = 1;
  static constexpr int MaxTabStopSize = 40;
  // Larger files are refused: Scintilla's document positions are 32-bit here.
  static constexpr qint64 MaxFileSize = qint64(1) << 30;
  // Texts above this size (bytes) are "large": see IsLargeText().
  static constexpr qint64 LargeTextSize = 4 * 1024 * 1024;

  explicit TLEdit(QWidget *parent = nullptr);
  ~TLEdit() override;

  // --- properties ---------------------------------------------------------------------------
  QString FileName() const { return m_fileName; }
  void SetFileName(const QString &name);
  // True when FileName names a file ("<<untitled>>" and empty both mean none).
  bool HasFileName() const;

  bool WordWrap() const { return m_wordWrap; }
  void SetWordWrap(bool on);

  int TabStopSize() const { return m_tabStopSize; }
  void SetTabStopSize(int size);  // clamped to 0..40

  // Line ends written on save: both false gives CR LF, MacStyleSave CR alone, UnixStyleSave LF alone.
  bool MacStyleSave() const { return m_macStyleSave; }
  void SetMacStyleSave(bool on);
  bool UnixStyleSave() const { return m_unixStyleSave; }
  void SetUnixStyleSave(bool on);
  LineEnd SaveLineEnd() const;

  // Selection start and end as of the last UpdatePosition(); the end is the caret.
  // Lines count from 1, columns (characters from the line's start) from 0.
  int StartLine() const { return m_startLine; }
  int StartPos() const { return m_startPos; }
  int EndLine() const { return m_endLine; }
  int EndPos() const { return m_endPos; }

  QFont Font() const { return m_font; }
  void SetFont(const QFont &font);

  // Extension added by the save dialog when the user types none ("TXT"), and the dialog's filter
  // ("Text(*.txt)|*.txt" style, empty for all files).
  QString DefaultExt() const { return m_defaultExt; }
  void SetDefaultExt(const QString &ext) { m_defaultExt = ext; }
  QString FileMask() const { return m_fileMask; }
  void SetFileMask(const QString &mask) { m_fileMask = mask; }

  // How the current text was decoded (and will be written back).
  Encoding TextEncoding() const { return m_encoding; }

  // With quiet on, errors are not shown in message boxes; they are always kept in LastError() and sent
  // through errorMessage().
  void SetQuiet(bool quiet) { m_quiet = quiet; }
  QString LastError() const { return m_lastError; }

  // Asked before saving over the loaded file when another program changed it since it was loaded or
  // saved here (size, modification time or inode differ); true overwrites it. Unset: a message box asks.
  std::function<bool(const QString &path)> OnFileChangedOnDisk;
  // The question that the message box asks.
  static QString ChangedOnDiskQuestion(const QString &path);

  // --- operations ---------------------------------------------------------------------------
  // Loads the file, replacing the text. On failure the previous text stays and false is returned.
  bool LoadFile(const QString &path);
  // Empties the text; FileName becomes "<<untitled>>".
  void NewText();
  // Saves to FileName, or asks for a name when there is none. False when nothing was saved.
  bool SaveText();
  // Asks for a name with a file dialog, then saves.
  bool SaveTextAs();
  // Saves to the given path without asking; FileName becomes the path on success.
  bool SaveToFile(const QString &path);
  bool IsModified() const;
  // Number of lines: a final line end does not start another line; an empty text has 0 lines.
  int LineCount() const;
  void UpdatePosition();
  bool Focused() const;

  // HTML syntax colouring: tags (the text from "<" to ">") in blue on white, the rest as plain text.
  void SetHtmlHighlighting(bool on);
  bool HtmlHighlighting() const { return m_htmlLexer != nullptr; }
  // Source code coloured by the language its file name says (a QScintilla lexer: C and C++, Python, JavaScript
  // and TypeScript, Java, shell, CMake, XML, CSS, SQL, JSON, YAML, Makefiles, diffs and a few more); other
  // names, large texts and the HTML editor stay as they are. Only the display changes: text and saving not.
  void SetSyntaxFor(const QString &fileName);
  // The language SetSyntaxFor picks for a file name ("cpp", "python", ...; empty: plain text), and the one in use.
  static QString SyntaxFor(const QString &fileName);
  QString Syntax() const { return m_syntax; }
  // A pop-up menu of the user's own shown instead of the control's (null: the control's).
  void SetPopupMenu(QMenu *menu) { m_popupMenu = menu; }

  // Large texts trade a few costly extras for speed: a plain accessible object (no text interface).
  bool IsLargeText() const;

  // The document's bytes exactly as they would be written by an unchanged save.
  QByteArray TextBytes() const;

  // --- editing commands (also in the pop-up menu) -----------------------------------------------
  void GoToLine(int line);  // 1-based; shows the line with the caret at its start
  // Searches from the caret; selects and shows the match. False when not found.
  bool FindText(const QString &text, bool caseSensitive, bool wholeWord, bool forward = true);
  bool FindAgain();  // the last search again (F3)
  // The one bookmark: set on the caret's line (moved there when set elsewhere, removed when set
  // again on its own line); BookmarkLine() is 1-based, 0 when there is none.
  void ToggleBookmark();
  bool GoToBookmark();
  int BookmarkLine() const;
  // Replaces every match in the text as one undo step; returns the number replaced.
  int ReplaceAll(const QString &text, const QString &with, bool caseSensitive, bool wholeWord);
  // Prints the whole text (wrapped at the page edge) on the given printer.
  bool PrintTo(QsciPrinter &printer);

  // Converts every CR LF, lone CR and lone LF to the given line end.
  static QByteArray ConvertLineEnds(const QByteArray &text, LineEnd to);
  static bool IsValidUtf8(const char *data, qsizetype size);
  // Checks UTF-8 arriving in pieces that may cut a character in two.
  class Utf8Checker {
   public:
    void feed(const char *data, qsizetype size);
    bool valid() const { return m_valid && m_carryLen == 0; }

   private:
    bool m_valid = true;
    char m_carry[4] = {};
    int m_carryLen = 0;
  };
  static constexpr qint64 LoadChunkSize = 8 * 1024 * 1024;

 public slots:
  void FindDialog();
  void FindNextClick();
  void ReplaceDialog();
  void GoToLineDialog();
  void FontDialog();
  void PrintDialog();
  void PrinterSetupDialog();
  // The pop-up menu's "Word Wrap": toggles and announces it with wordWrapToggled().
  void ToggleWordWrap();

 signals:
  void OnChange();
  void OnClick();
  void errorMessage(const QString &text);
  // Word wrap changed from the control's own pop-up menu (not by SetWordWrap).
  void wordWrapToggled(bool on);

 protected:
  void contextMenuEvent(QContextMenuEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;

 private:
  void report(const QString &text);
  void applyFont();
  void updateAccessible();
  void updateLargeTextMode();
  bool moveCaretByKey(QKeyEvent *e);
  void applyEolMode();
  void resetDocument(bool utf8);
  bool writeFile(const QString &path);
  bool mayOverwrite(const QString &path);
  QsciPrinter &printer();

  QString m_fileName;
  bool m_wordWrap = true;
  int m_tabStopSize = 6;
  bool m_macStyleSave = false;
  bool m_unixStyleSave = false;
  int m_startLine = 1, m_startPos = 0, m_endLine = 1, m_endPos = 0;
  QFont m_font;
  QString m_defaultExt = QStringLiteral("TXT");
  QString m_fileMask;
  Encoding m_encoding = Encoding::Utf8;
  // True while the text is as loaded and no line-end style was chosen since: then a save writes the
  // bytes unchanged, line ends included.
  bool m_pristine = true;
  bool m_quiet = false;
  QString m_lastError;
  QString m_findText;
  bool m_findCase = false, m_findWord = false, m_findForward = true;
  QsciPrinter *m_printer = nullptr;
  bool m_loading = false;
  bool m_largeMode = false;
  long m_verticalX = 0, m_verticalCaret = -1;  // large-text caret keys: column memory
  // Set when a file could not be loaded without change: saving it is refused.
  bool m_unsafeText = false;
  // The file as it was when last loaded or saved here, to notice changes made behind the editor.
  QString m_diskPath;
  platform::FileIdentity m_diskIdentity;
  TLEditFindDialog *m_findDialog = nullptr;
  QsciLexerHTML *m_htmlLexer = nullptr;
  QsciLexer *m_codeLexer = nullptr;
  QString m_syntax;
  QMenu *m_popupMenu = nullptr;
};
