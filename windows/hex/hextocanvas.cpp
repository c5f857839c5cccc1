#include "windows/hex/hextocanvas.h"

#include "windows/hex/hexeditor.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>
#include <limits>

THexToCanvas::THexToCanvas(QObject *parent) : QObject(parent), Font(QStringLiteral("Courier")) {
  Font.setStyleHint(QFont::TypeWriter);
  Font.setPointSize(12);
}

void THexToCanvas::ReadEditorSettings() {
  if (!m_editor) return;
  Font = m_editor->font();
  // Fitting works in points; a font given in pixels is turned into its point size.
  if (Font.pointSizeF() <= 0) Font.setPointSizeF(QFontInfo(m_editor->font()).pointSizeF());
  BytesPerColumn = m_editor->BytesPerColumn();
  OffsetSeparator = m_editor->OffsetSeparator();
  OffsetDisplay = m_editor->OffsetDisplay();
  BytesPerLine = m_editor->BytesPerLine();
  MemFieldDisplay = odHex;
  MemFieldSeparator = QLatin1Char(' ');
  DisplayCharField = true;
  CharFieldSeparator = QChar();
}

QString THexToCanvas::formatLine(qint64 s, qint64 last) const {
  THexBuffer *buf = m_editor->buffer();
  const int chars = m_editor->OffsetChars();
  QString line;
  switch (OffsetDisplay) {
    case odHex:
      line = QStringLiteral("0x") + QString::number(s, 16).toUpper().rightJustified(chars - 3, QLatin1Char('0'));
      break;
    case odDec: line = QString::number(s).rightJustified(chars - 1, QLatin1Char('0')); break;
    case odNone: break;
  }
  if (!OffsetSeparator.isNull()) line += OffsetSeparator;
  qint64 n = std::max<qint64>(0, std::min<qint64>(BytesPerLine, last - s + 1));
  const QByteArray bytes = n > 0 && s < buf->DataSize() ? buf->BufferFromFile(s, n) : QByteArray();
  const int bpc = std::max(1, BytesPerColumn);
  if (MemFieldDisplay != odNone) {
    for (int k = 0; k < BytesPerLine; ++k) {
      const bool have = k < bytes.size();
      const auto b = have ? static_cast<unsigned char>(bytes[k]) : 0;
      if (MemFieldDisplay == odHex)
        line += have ? QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper() : QStringLiteral("  ");
      else
        line += have ? QStringLiteral("%1").arg(b, 3, 10, QLatin1Char('0')) : QStringLiteral("   ");
      if ((k + 1) % bpc == 0) line += QLatin1Char(' ');
    }
  }
  if (!MemFieldSeparator.isNull()) line += MemFieldSeparator;
  if (DisplayCharField) {
    for (int k = 0; k < BytesPerLine; ++k)
      line += k < bytes.size() ? m_editor->displayChar(static_cast<unsigned char>(bytes[k])) : QLatin1Char(' ');
  }
  if (!CharFieldSeparator.isNull()) line += CharFieldSeparator;
  return line;
}

qint64 THexToCanvas::PrintToCanvas(QPainter &canvas, qint64 first, qint64 last, const QString &header,
                                   const QString &footer) {
  if (!m_editor) return std::numeric_limits<qint64>::max();
  if (BytesPerLine < 1) return -1;
  last = std::min(last, m_editor->buffer()->DataSize() - 1);
  if (last < first) return -1;

  QString line = formatLine(first, last);
  const QFont saved = canvas.font();
  QFont f = Font;
  if (f.pointSizeF() <= 0) f.setPointSizeF(12);
  auto width = [&](const QFont &font) { return QFontMetrics(font, canvas.device()).horizontalAdvance(line); };
  const int avail = Right - Left;
  // Size steps are whole points; the bounds keep a degenerate area from looping for long.
  if (StretchToFit) {
    while (width(f) < avail && f.pointSizeF() < 1000) f.setPointSizeF(f.pointSizeF() + 1);
    while (width(f) > avail && f.pointSizeF() > 1) f.setPointSizeF(f.pointSizeF() - 1);
  }
  if (ShrinkToFit)
    while (width(f) > avail && f.pointSizeF() > 1) f.setPointSizeF(f.pointSizeF() - 1);
  canvas.setFont(f);
  m_lastFont = f;
  const QFontMetrics fm(f, canvas.device());
  const int textH = fm.height();
  int lineH = static_cast<int>(std::lround(textH * 1.2));
  if (lineH == textH) ++lineH;

  auto write = [&](int y, const QString &text) { canvas.drawText(Left, y + fm.ascent(), text); };
  int y = Top;
  if (!header.isEmpty()) {
    write(y, header);
    y += lineH;
  }
  const int bottom = footer.isEmpty() ? Bottom : Bottom - lineH;
  while (y + lineH <= bottom) {
    write(y, line);
    first += BytesPerLine;
    if (first > last) {
      first = last + 1;
      break;
    }
    line = formatLine(first, last);
    y += lineH;
  }
  if (!footer.isEmpty()) write(bottom, footer);
  canvas.setFont(saved);
  return first;
}
