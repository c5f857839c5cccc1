#pragma once
// THexToCanvas: writes a range of a hex editor's bytes as text lines (offset, values, characters) onto any
// painter, one page per call, with an optional header and footer and a font fitted to the print area.
#include "windows/hex/hextypes.h"

#include <QChar>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>

class QPainter;
class THexEditor;

class THexToCanvas : public QObject {
  Q_OBJECT
 public:
  explicit THexToCanvas(QObject *parent = nullptr);

  // The editor whose bytes are printed; forgotten when it is destroyed.
  void setHexEditor(THexEditor *editor) { m_editor = editor; }
  THexEditor *HexEditor() const { return m_editor; }

  QFont Font;  // "Courier", 12 points
  int BytesPerLine = 16;
  int BytesPerColumn = 2;
  TOffsetDisplayStyle OffsetDisplay = odHex;
  QChar OffsetSeparator = QLatin1Char(':');      // QChar() for none
  TOffsetDisplayStyle MemFieldDisplay = odHex;
  QChar MemFieldSeparator = QLatin1Char(';');
  bool DisplayCharField = true;
  QChar CharFieldSeparator;
  bool ShrinkToFit = true;
  bool StretchToFit = true;

  // Print area in device units of the target, set before each use.
  int Top = 0, Left = 0, Bottom = 0, Right = 0;

  // Copies the editor's font, line layout and offset style; values in hex, a blank after them, characters on.
  void ReadEditorSettings();
  // The text of the line that starts at s, for a range ending at last.
  QString formatLine(qint64 s, qint64 last) const;
  // Paints one page; returns the first byte not yet printed, -1 when there is nothing to print (or
  // BytesPerLine < 1), and the largest position when no editor is attached. The font used for the page is
  // left in lastFont() for inspection.
  qint64 PrintToCanvas(QPainter &canvas, qint64 first, qint64 last, const QString &header, const QString &footer);
  QFont lastFont() const { return m_lastFont; }

 private:
  QPointer<THexEditor> m_editor;
  QFont m_lastFont;
};
