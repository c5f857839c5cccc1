#pragma once
// THexEditor: the grid view of a THexBuffer. One-character cells: the offset column, the marker column, one
// cell per hexadecimal digit, a blank separator and one cell per character; colours, caret, keys, mouse and
// ten row markers. It owns its buffer; everything about bytes, selection and undo is the buffer's.
#include "windows/hex/hexbuffer.h"
#include "windows/hex/hextypes.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QPointer>
#include <functional>
#include <vector>

class QKeyEvent;
class QProgressDialog;

// Colours of the grid. Inverses of OddColumn and EvenColumn are derived for selected hexadecimal digits.
struct TColors {
  QColor Background = QColor(255, 255, 255);
  QColor PositionBackground = QColor(128, 0, 0);  // maroon
  QColor PositionText = QColor(255, 255, 255);
  QColor ChangedBackground = QColor(255, 255, 168);  // pale yellow
  QColor ChangedText = QColor(128, 0, 0);
  QColor CursorFrame = QColor(0, 0, 128);  // navy
  QColor Offset = QColor(0, 0, 0);
  QColor OddColumn = QColor(0, 0, 255);  // blue
  QColor EvenColumn = QColor(0, 0, 128);
  static QColor inverse(const QColor &c) { return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue()); }
};

class THexEditor : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit THexEditor(QWidget *parent = nullptr);
  ~THexEditor() override;

  THexBuffer *buffer() const { return m_buf; }

  // Load and save show the wait cursor while the working copy is copied.
  bool LoadFromFile(const QString &name);
  // overChange: see THexBuffer::SaveToFile.
  bool SaveToFile(const QString &name, bool overChange = false);
  // Shows a file for looking only (THexBuffer::ViewFile); with ViewOnly on, keys and the mouse move the
  // caret and select but never change a byte.
  bool ViewFile(const QString &name) { return m_buf->ViewFile(name); }
  bool ViewOnly() const { return m_viewOnly; }
  void setViewOnly(bool on) { m_viewOnly = on; }
  void NewFile(const QString &name) { m_buf->NewFile(name); }

  int BytesPerLine() const { return m_bpl; }
  void setBytesPerLine(int n);  // 1 .. 256, else EHexEditor("Invalid BytesPerLine argument")
  int BytesPerColumn() const { return m_bpc; }
  void setBytesPerColumn(int n);
  TOffsetDisplayStyle OffsetDisplay() const { return m_offsetDisplay; }
  void setOffsetDisplay(TOffsetDisplayStyle s);
  QChar OffsetSeparator() const { return m_offsetSeparator; }
  void setOffsetSeparator(QChar c);
  TCaretStyle CaretStyle() const { return m_caretStyle; }
  void setCaretStyle(TCaretStyle s);
  bool FocusFrame() const { return m_focusFrame; }
  void setFocusFrame(bool on);
  bool ShowMarkerColumn() const { return m_showMarkers; }
  void setShowMarkerColumn(bool on);
  bool OEMTranslate() const { return m_buf->OEMTranslate(); }
  void setOEMTranslate(bool on) { m_buf->setOEMTranslate(on); }
  int GridLineWidth() const { return m_gridLineWidth; }
  void setGridLineWidth(int w);
  const TColors &Colors() const { return m_colors; }
  void setColors(const TColors &c);

  // Row of marker slot 0..9, or -1 when unset.
  qint64 marker(int slot) const { return m_markers[slot]; }

  // ---- grid geometry (columns, rows, cells), public for the printer and for tests
  int columnCount() const { return 3 * m_bpl + 3; }
  qint64 rowCount() const;
  int separatorColumn() const { return 2 * m_bpl + 2; }
  int columnWidth(int c) const { return m_widths[c]; }
  int charWidth() const { return m_charW; }
  int rowHeight() const { return m_rowH; }
  int OffsetChars() const { return m_offsetChars; }
  QString offsetText(qint64 row) const;
  // Display character of a byte ("." below 32; OEM to Unicode when OEMTranslate is on).
  QChar displayChar(unsigned char b) const;
  int currentColumn() const;
  qint64 currentRow() const;
  qint64 topRow() const { return m_topRow; }
  // Cell rectangle in viewport coordinates, and the cell under a viewport point (false when none).
  QRect cellRect(int col, qint64 row) const;
  bool cellAt(const QPoint &p, int *col, qint64 *row) const;
  // Moves the current cell as a key or click would (the acceptance test applies).
  bool moveTo(int col, qint64 row, Qt::KeyboardModifiers mods = Qt::NoModifier,
              Qt::MouseButtons buttons = Qt::NoButton);
  void scrollToRow(qint64 row);

  // Runs before the grid's own key handling; returning true swallows the key (the window's OnKeyDown).
  std::function<bool(QKeyEvent *)> OnKeyDown;

 signals:
  // OnStateChanged of the buffer, after the current command.
  void StateChanged();

 protected:
  bool event(QEvent *e) override;
  void paintEvent(QPaintEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mouseDoubleClickEvent(QMouseEvent *e) override;
  void focusInEvent(QFocusEvent *e) override;
  void focusOutEvent(QFocusEvent *e) override;
  void changeEvent(QEvent *e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  bool withProgress(const QString &label, const std::function<bool()> &work);
  bool reportProgress(qint64 done, qint64 total);
  void computeLayout();
  void updateScrollBars();
  void ensureCaretVisible();
  int fixedWidth() const { return m_widths[0] + m_widths[1]; }
  int columnX(int c) const;  // x in viewport coordinates
  qint64 byteOfCell(int col, qint64 row) const;
  void cellOfByte(qint64 p, THexArea area, int nibble, int *col, qint64 *row) const;
  void moveToByte(qint64 p, THexArea area, int nibble = 0);
  void placeCaret(qint64 p, THexArea area, int nibble);
  bool handleKey(QKeyEvent *e);
  void typeText(const QString &text);
  int digitOfKey(QKeyEvent *e) const;
  void paintCell(class QPainter &p, int col, qint64 row, const QByteArray &rowBytes);

  THexBuffer *m_buf;
  int m_bpl = 16;
  int m_bpc = 2;
  TOffsetDisplayStyle m_offsetDisplay = odHex;
  QChar m_offsetSeparator = QLatin1Char(':');
  TCaretStyle m_caretStyle = csFull;
  bool m_focusFrame = true;
  bool m_showMarkers = true;
  int m_gridLineWidth = 0;
  TColors m_colors;
  qint64 m_markers[10];

  int m_charW = 8;
  int m_rowH = 16;
  int m_offsetChars = 4;
  std::vector<int> m_widths;
  std::vector<int> m_x;  // x of each column from the start of the grid
  qint64 m_topRow = 0;
  qint64 m_vScale = 1;  // rows per scroll bar step, for files with more rows than the bar can count
  bool m_inAccept = false;
  bool m_viewOnly = false;
  QPointer<QProgressDialog> m_progressBox;
};
