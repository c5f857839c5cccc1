#pragma once
// TRichEdit: the rich-text edit control of the rich text window and of the document tab. A QTextEdit that
// loads and saves files (RTF through our codec, plain text as text), knows its lines the way a word
// processor counts them (wrapped lines, from 0), works on the "current text" (the selection, or the format
// of text typed next) and on the paragraphs of the selection, and hands files dropped on it to its owner
// instead of pasting their names.
#include <QTextEdit>

#include "platform/fileidentity.h"

class QTextBlock;

// A paragraph's indents as a word processor states them, in points: the first line's indent from the left
// edge, the other lines' indent from the first line's, and the right indent.
struct TParaIndents {
  double first = 0;
  double left = 0;
  double right = 0;
};

class TRichEdit : public QTextEdit {
  Q_OBJECT
 public:
  // The formatting rectangle keeps this many pixels free on the left and the right of the text.
  static constexpr int kInset = 6;
  // Distance of the default tab stops in pixels: half an inch, as in word processors.
  static constexpr int kDefaultTab = 48;
  // Larger files are refused rather than read whole into memory (a document takes ten times its size).
  static constexpr qint64 kMaxFileBytes = 256LL << 20;

  explicit TRichEdit(QWidget *parent = nullptr);

  // Replaces the content with a file's: RTF when it starts like RTF, else text (UTF-8 when it decodes as
  // such, else Windows-1252). On failure the content is left as it was and *error says why.
  bool loadFromFile(const QString &path, QString *error);
  // Replaces the content with RTF bytes (a converted document); on failure the content is left as it was.
  bool loadRtf(const QByteArray &rtf, QString *error);
  // Writes the content through a temporary file and a rename: plain text (in the encoding it was read in
  // when it can hold every character, else UTF-8) or RTF. A failed save leaves the file as it was.
  bool saveToFile(const QString &path, bool plainText, QString *error);
  // True when the file at path is the one last loaded or saved here and another program changed it since
  // (its identity or its bytes).
  bool changedOnDisk(const QString &path) const;
  // What saving the document as RTF cannot write back of the file it was read from (one phrase each).
  QStringList unkeptContent() const;
  // Empties the document (a new one: nothing to undo, not modified).
  void clearDocument();

  bool isModified() const;
  void setModified(bool modified);
  bool canUndo() const;
  int selStart() const;
  int selLength() const;
  // The wrapped line that holds a character position, counted from 0, and the first position of a line.
  int lineFromChar(int pos) const;
  int lineIndex(int line) const;

  // The current text's character format: the selection's when something is selected, else that of text
  // typed next. mergeCurrentCharFormat() changes the same.
  QTextCharFormat currentTextFormat() const;
  // The paragraph of the selection start.
  QTextBlock currentParagraph() const;
  TParaIndents paragraphIndents() const;
  // Applies to every paragraph the selection touches.
  void setParagraphIndents(const TParaIndents &indents);
  void setParagraphAlignment(Qt::Alignment alignment);
  void setBullets(bool on);
  bool hasBullets() const;

 signals:
  // Local files dropped on the control (they are not pasted as text).
  void filesDropped(const QStringList &paths);
  // The modified flag changed, whichever document is loaded.
  void modificationChanged(bool modified);

 protected:
  // Files dragged from a file manager are taken here; pasting file names from the clipboard stays text.
  void dragEnterEvent(QDragEnterEvent *e) override;
  void dragMoveEvent(QDragMoveEvent *e) override;
  void dropEvent(QDropEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;

 private:
  void applyInset();
  // Shows doc (made with this as parent) in place of the current document, which is deleted.
  void adopt(QTextDocument *doc);
  QTextDocument *newDocument();

  platform::FileIdentity diskIdentity_;
  QString diskPath_;
  QByteArray diskDigest_;  // of the bytes last loaded or saved
  bool latin1File_ = false;  // plain text read as Windows-1252: written back so when it can be
};
