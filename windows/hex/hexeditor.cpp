#include "windows/hex/hexeditor.h"

#include "windows/hex/oemcodepage.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include "platform/ask.h"

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
}

THexEditor::THexEditor(QWidget *parent) : QAbstractScrollArea(parent), m_buf(new THexBuffer(this)) {
  std::fill(std::begin(m_markers), std::end(m_markers), -1);
  QFont f(QStringLiteral("Courier"));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPointSize(12);
  setFont(f);
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::Box);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAutoFillBackground(false);
  viewport()->setCursor(Qt::IBeamCursor);
  m_buf->setCacheRowLength(m_bpl);
  m_buf->setProgress([this](qint64 done, qint64 total) { return reportProgress(done, total); });

  connect(m_buf, &THexBuffer::StateChanged, this, &THexEditor::StateChanged);
  connect(m_buf, &THexBuffer::rowsChanged, this, [this] { computeLayout(); });
  connect(m_buf, &THexBuffer::bytesChanged, viewport(), qOverload<>(&QWidget::update));
  connect(m_buf, &THexBuffer::repaintAll, viewport(), qOverload<>(&QWidget::update));
  connect(m_buf, &THexBuffer::caretMoved, this, [this] {
    ensureCaretVisible();
    viewport()->update();
  });
  computeLayout();
  m_buf->NewFile(QStringLiteral("Untitled"));
}

THexEditor::~THexEditor() = default;

// Whole-file copies (load, save, the first change of a large file) show a progress box that can cancel
// once they take longer than half a second; the buffer's last report of each copy closes it.
bool THexEditor::reportProgress(qint64 done, qint64 total) {
  if (done >= total) {
    delete m_progressBox;
    return true;
  }
  if (!m_progressBox) {
    m_progressBox = new QProgressDialog(QStringLiteral("Copying..."), QStringLiteral("Cancel"), 0, 1000, this);
    m_progressBox->setWindowModality(Qt::WindowModal);
    m_progressBox->setMinimumDuration(500);
    m_progressBox->setAutoReset(false);
    m_progressBox->setAutoClose(false);
  }
  m_progressBox->setValue(static_cast<int>(total > 0 ? done * 1000 / total : 0));
  QCoreApplication::processEvents();
  return m_progressBox && !m_progressBox->wasCanceled();
}

bool THexEditor::withProgress(const QString &, const std::function<bool()> &work) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = work();
  QApplication::restoreOverrideCursor();
  return ok;
}

bool THexEditor::LoadFromFile(const QString &name) {
  return withProgress(QStringLiteral("Loading..."), [&] { return m_buf->LoadFromFile(name); });
}

bool THexEditor::SaveToFile(const QString &name, bool overChange) {
  return withProgress(QStringLiteral("Saving..."), [&] { return m_buf->SaveToFile(name, overChange); });
}

// ---------------------------------------------------------------- properties

void THexEditor::setBytesPerLine(int n) {
  if (n < 1 || n > 256) throw EHexEditor("Invalid BytesPerLine argument");
  if (n == m_bpl) return;
  setUpdatesEnabled(false);
  const qint64 anchor = m_buf->anchor(), s = m_buf->SelStart(), e = m_buf->SelEnd();
  const qint64 pos = m_buf->CaretPosition();
  const THexArea area = m_buf->caretArea();
  m_bpl = n;
  m_buf->setCacheRowLength(n);
  m_buf->dropCache();
  computeLayout();
  placeCaret(pos, area, 0);
  m_buf->restoreSelection(anchor, s, e);
  setUpdatesEnabled(true);
  viewport()->update();
}

void THexEditor::setBytesPerColumn(int n) {
  n = std::max(1, n);
  if (n == m_bpc) return;
  m_bpc = n;
  computeLayout();
}

void THexEditor::setOffsetDisplay(TOffsetDisplayStyle s) {
  m_offsetDisplay = s;
  computeLayout();
}

void THexEditor::setOffsetSeparator(QChar c) {
  m_offsetSeparator = c;
  viewport()->update();
}

void THexEditor::setCaretStyle(TCaretStyle s) {
  m_caretStyle = s;
  viewport()->update();
}

void THexEditor::setFocusFrame(bool on) {
  m_focusFrame = on;
  viewport()->update();
}

void THexEditor::setShowMarkerColumn(bool on) {
  m_showMarkers = on;
  computeLayout();
}

void THexEditor::setGridLineWidth(int w) {
  m_gridLineWidth = std::max(0, w);
  computeLayout();
}

void THexEditor::setColors(const TColors &c) {
  m_colors = c;
  viewport()->update();
}

// ---------------------------------------------------------------- geometry

qint64 THexEditor::rowCount() const { return std::max<qint64>(1, (m_buf->DataSize() + m_bpl - 1) / m_bpl); }

void THexEditor::computeLayout() {
  QFontMetrics fm(font());
  m_charW = std::max(1, fm.horizontalAdvance(QLatin1Char('w')));
  m_rowH = fm.boundingRect(QStringLiteral("yY")).height() + 2;
  const qint64 size = m_buf->DataSize();
  switch (m_offsetDisplay) {
    case odHex: m_offsetChars = QString::number(size, 16).size() + 3; break;
    case odDec: m_offsetChars = QString::number(size).size() + 1; break;
    case odNone: m_offsetChars = 0; break;
  }
  const int cols = columnCount();
  m_widths.assign(cols, m_charW);
  m_widths[0] = m_offsetChars * m_charW;
  m_widths[1] = m_showMarkers ? m_charW : 0;
  for (int c = 2; c <= 2 * m_bpl + 1; ++c)
    if ((c - 2) % (2 * m_bpc) == 2 * m_bpc - 1) m_widths[c] = 2 * m_charW;
  m_x.assign(cols + 1, 0);
  for (int c = 0; c < cols; ++c) m_x[c + 1] = m_x[c] + m_widths[c] + m_gridLineWidth;
  updateScrollBars();
  viewport()->update();
}

void THexEditor::updateScrollBars() {
  const int pitch = m_rowH + m_gridLineWidth;
  const qint64 visible = std::max(1, viewport()->height() / pitch);
  const qint64 maxTop = std::max<qint64>(0, rowCount() - visible);
  m_vScale = 1;
  while (maxTop / m_vScale > (1 << 30)) m_vScale *= 2;
  QScrollBar *vb = verticalScrollBar();
  vb->setRange(0, static_cast<int>(maxTop / m_vScale));
  vb->setPageStep(static_cast<int>(std::max<qint64>(1, visible / m_vScale)));
  m_topRow = std::min(m_topRow, maxTop);
  {
    QSignalBlocker block(vb);
    vb->setValue(static_cast<int>(m_topRow / m_vScale));
  }
  QScrollBar *hb = horizontalScrollBar();
  const int scrollWidth = m_x[columnCount()] - m_x[2];
  const int avail = std::max(0, viewport()->width() - fixedWidth());
  hb->setRange(0, std::max(0, scrollWidth - avail));
  hb->setPageStep(std::max(1, avail));
  hb->setSingleStep(m_charW);
}

void THexEditor::scrollContentsBy(int, int) {
  const qint64 v = static_cast<qint64>(verticalScrollBar()->value()) * m_vScale;
  m_topRow = std::min<qint64>(v, std::max<qint64>(0, rowCount() - 1));
  viewport()->update();
}

void THexEditor::scrollToRow(qint64 row) {
  m_topRow = std::clamp<qint64>(row, 0, std::max<qint64>(0, rowCount() - 1));
  updateScrollBars();
  viewport()->update();
}

int THexEditor::columnX(int c) const {
  if (c < 2) return m_x[c];
  return fixedWidth() + m_gridLineWidth * 2 + (m_x[c] - m_x[2]) - horizontalScrollBar()->value();
}

QRect THexEditor::cellRect(int col, qint64 row) const {
  const int pitch = m_rowH + m_gridLineWidth;
  const qint64 y = (row - m_topRow) * pitch;
  return QRect(columnX(col), static_cast<int>(std::clamp<qint64>(y, -100000, 100000)), m_widths[col], m_rowH);
}

bool THexEditor::cellAt(const QPoint &p, int *col, qint64 *row) const {
  const int pitch = m_rowH + m_gridLineWidth;
  if (p.y() < 0) return false;
  const qint64 r = m_topRow + p.y() / pitch;
  if (r >= rowCount()) return false;
  for (int c = 0; c < columnCount(); ++c) {
    const int x = columnX(c);
    if (c >= 2 && x + m_widths[c] <= fixedWidth()) continue;  // scrolled under the fixed columns
    if (p.x() >= x && p.x() < x + m_widths[c] + m_gridLineWidth) {
      *col = c;
      *row = r;
      return true;
    }
  }
  return false;
}

qint64 THexEditor::byteOfCell(int col, qint64 row) const {
  qint64 p = col > separatorColumn() ? row * m_bpl + (col - 2 * m_bpl - 3) : row * m_bpl + (col - 2) / 2;
  return std::max<qint64>(0, p);
}

void THexEditor::cellOfByte(qint64 p, THexArea area, int nibble, int *col, qint64 *row) const {
  *row = p / m_bpl;
  *col =
      area == haChar ? static_cast<int>(p % m_bpl) + 2 * m_bpl + 3 : 2 * static_cast<int>(p % m_bpl) + 2 + (nibble & 1);
}

int THexEditor::currentColumn() const {
  int c;
  qint64 r;
  cellOfByte(m_buf->CaretPosition(), m_buf->caretArea(), m_buf->caretNibble(), &c, &r);
  return c;
}

qint64 THexEditor::currentRow() const { return m_buf->CaretPosition() / m_bpl; }

QString THexEditor::offsetText(qint64 row) const {
  const qint64 o = row * m_bpl;
  QString t;
  switch (m_offsetDisplay) {
    case odHex:
      t = QStringLiteral("0x") + QString::number(o, 16).toUpper().rightJustified(m_offsetChars - 3, QLatin1Char('0'));
      break;
    case odDec: t = QString::number(o).rightJustified(m_offsetChars - 1, QLatin1Char('0')); break;
    case odNone: return QStringLiteral(" ");
  }
  if (!m_offsetSeparator.isNull()) t += m_offsetSeparator;
  return t;
}

QChar THexEditor::displayChar(unsigned char b) const {
  if (b < 32) return QLatin1Char('.');
  if (m_buf->OEMTranslate()) return oem::toUnicode(b);
  if (b >= 0x7F && b < 0xA0) return QLatin1Char('.');  // control characters of Latin-1 draw as nothing
  return QChar(b);
}

void THexEditor::ensureCaretVisible() {
  const qint64 row = currentRow();
  const int pitch = m_rowH + m_gridLineWidth;
  const qint64 visible = std::max(1, viewport()->height() / pitch);
  qint64 top = m_topRow;
  if (row < top)
    top = row;
  else if (row >= top + visible)
    top = row - visible + 1;
  if (top != m_topRow) {
    m_topRow = top;
    updateScrollBars();
  }
  const int c = currentColumn();
  QScrollBar *hb = horizontalScrollBar();
  const int avail = viewport()->width() - fixedWidth();
  const int x = m_x[c] - m_x[2];
  if (x < hb->value())
    hb->setValue(x);
  else if (x + m_widths[c] > hb->value() + avail)
    hb->setValue(x + m_widths[c] - avail);
}

// ---------------------------------------------------------------- moving the current cell

void THexEditor::placeCaret(qint64 p, THexArea area, int nibble) {
  const qint64 old = m_buf->CaretPosition();
  m_buf->setCaret(p, area, nibble);
  if (m_buf->selecting()) m_buf->extendSelection(m_buf->CaretPosition(), old);
}

bool THexEditor::moveTo(int col, qint64 row, Qt::KeyboardModifiers mods, Qt::MouseButtons buttons) {
  const qint64 size = m_buf->DataSize();
  if (size <= 0 || col < 2 || col >= columnCount() || row < 0) return false;
  const THexArea area = col > separatorColumn() ? haChar : haHex;
  if (m_inAccept) {  // moves made inside the test are accepted without it
    placeCaret(std::min(byteOfCell(col, row), size - 1), area, area == haHex ? (col - 2) % 2 : 0);
    return true;
  }
  m_inAccept = true;
  struct Reset {
    bool &flag;
    ~Reset() { flag = false; }
  } reset{m_inAccept};
  const bool left = buttons & Qt::LeftButton;
  if (!(mods & Qt::ShiftModifier) && !left) m_buf->clearSelection();
  if (col == separatorColumn()) {
    if (left) {
      const int c = std::max(2, col - 1);
      const qint64 p = byteOfCell(c, row);
      if (p >= size)
        placeCaret(size - 1, m_buf->caretArea(), 0);
      else
        placeCaret(p, haHex, (c - 2) % 2);
    }
    return false;
  }
  const qint64 p = byteOfCell(col, row);
  if (p >= size) {
    placeCaret(size - 1, m_buf->caretArea(), 0);
    return false;
  }
  const qint64 old = m_buf->CaretPosition();
  m_buf->setCaret(p, area, area == haHex ? (col - 2) % 2 : 0);
  if (m_buf->selecting())
    m_buf->extendSelection(p, old);
  else
    m_buf->clearSelection();
  return true;
}

void THexEditor::moveToByte(qint64 p, THexArea area, int nibble) {
  int c;
  qint64 r;
  cellOfByte(p, area, nibble, &c, &r);
  moveTo(c, r, QApplication::keyboardModifiers(), QApplication::mouseButtons());
}

// ---------------------------------------------------------------- keys

bool THexEditor::event(QEvent *e) {
  // Tab and Shift+Tab belong to the grid, not to focus navigation.
  if (e->type() == QEvent::KeyPress) {
    auto *k = static_cast<QKeyEvent *>(e);
    if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
      keyPressEvent(k);
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

int THexEditor::digitOfKey(QKeyEvent *e) const {
  if (e->key() >= Qt::Key_0 && e->key() <= Qt::Key_9) return e->key() - Qt::Key_0;
  // With Shift held the layout gives the shifted symbol; the keyboard's digit row is what counts.
  static const int shifted[10] = {Qt::Key_ParenRight, Qt::Key_Exclam,   Qt::Key_At,          Qt::Key_NumberSign,
                                  Qt::Key_Dollar,     Qt::Key_Percent,  Qt::Key_AsciiCircum, Qt::Key_Ampersand,
                                  Qt::Key_Asterisk,   Qt::Key_ParenLeft};
  for (int d = 0; d < 10; ++d)
    if (e->key() == shifted[d]) return d;
  const quint32 sc = e->nativeScanCode();  // X11 key codes 10..19 are the digits 1..9, 0
  if (sc >= 10 && sc <= 19) return sc == 19 ? 0 : static_cast<int>(sc) - 9;
  return -1;
}

void THexEditor::keyPressEvent(QKeyEvent *e) {
  if (OnKeyDown && OnKeyDown(e)) return;
  if (!handleKey(e)) QAbstractScrollArea::keyPressEvent(e);
}

bool THexEditor::handleKey(QKeyEvent *e) {
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  const bool shift = mods & Qt::ShiftModifier, ctrl = mods & Qt::ControlModifier;
  const int key = e->key();
  const qint64 size = m_buf->DataSize();
  const int col = currentColumn();
  const qint64 row = currentRow();
  const qint64 p = m_buf->CaretPosition();
  const THexArea area = m_buf->caretArea();
  const int nibble = m_buf->caretNibble();
  auto go = [&](qint64 byte, THexArea a, int nib = 0) {
    int c;
    qint64 r;
    cellOfByte(byte, a, nib, &c, &r);
    moveTo(c, r, mods, Qt::NoButton);
  };

  if (key == Qt::Key_Backspace) {  // ordinary Left: never into the fixed columns; deletes nothing
    if (col - 1 >= 2) moveTo(col - 1, row, mods, Qt::NoButton);
    return true;
  }
  if (key == Qt::Key_Delete && mods == Qt::ControlModifier) {
    if (m_viewOnly) return true;
    if (!m_buf->DeleteSelection() && !m_buf->lastError().isEmpty()) ask::warning(this, QString(), m_buf->lastError());
    return true;
  }
  if (mods == Qt::NoModifier && key != Qt::Key_Shift) m_buf->clearSelection();

  if (ctrl) {
    const int d = digitOfKey(e);
    if (d >= 0 && !(mods & Qt::AltModifier)) {
      if (shift) {
        m_markers[d] = row;
        viewport()->update();
      } else {
        m_buf->clearSelection();
        const qint64 target = m_markers[d] < 0 ? row : m_markers[d];
        if (target >= rowCount() || target * m_bpl >= std::max<qint64>(1, size))
          m_markers[d] = -1;
        else
          moveTo(2, target, mods, Qt::NoButton);
        viewport()->update();
      }
      return true;
    }
  }

  switch (key) {
    case Qt::Key_Shift:
      if (!m_buf->selecting()) m_buf->clearSelection();
      m_buf->setSelecting(true);
      return true;
    case Qt::Key_Home:
      if (size > 0) go(ctrl ? 0 : row * m_bpl, area);
      return true;
    case Qt::Key_End:
      if (size > 0) go(ctrl ? size - 1 : std::min((row + 1) * m_bpl - 1, size - 1), area);
      return true;
    case Qt::Key_Left:
      if (ctrl) break;
      if (area == haChar) {
        if (p > 0) go(p - 1, haChar);
      } else if (nibble == 1) {
        go(p, haHex, 0);
      } else if (p > 0) {
        go(p - 1, haHex, 1);
      }
      return true;
    case Qt::Key_Right:
      if (ctrl) break;
      if (area == haChar) {
        if (p + 1 < size) go(p + 1, haChar);
      } else if (nibble == 0) {
        if (size > 0) go(p, haHex, 1);
      } else if (p + 1 < size) {
        go(p + 1, haHex, 0);
      }
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (size > 0) go(p, area == haChar ? haHex : haChar, 0);
      return true;
    default: break;
  }

  // The grid's ordinary navigation; every move passes the acceptance test.
  const int pitch = m_rowH + m_gridLineWidth;
  const qint64 page = std::max(1, viewport()->height() / pitch);
  switch (key) {
    case Qt::Key_Up:
      if (row > 0) moveTo(col, row - 1, mods);
      return true;
    case Qt::Key_Down:
      if (row + 1 < rowCount()) moveTo(col, row + 1, mods);
      return true;
    case Qt::Key_PageUp: moveTo(col, std::max<qint64>(0, row - page), mods); return true;
    case Qt::Key_PageDown: moveTo(col, std::min(rowCount() - 1, row + page), mods); return true;
    case Qt::Key_Left:
      if (col - 1 >= 2) moveTo(col - 1, row, mods);
      return true;
    case Qt::Key_Right:
      if (col + 1 < columnCount()) moveTo(col + 1, row, mods);
      return true;
    default: break;
  }
  if (!ctrl && !(mods & Qt::AltModifier) && !e->text().isEmpty()) {
    typeText(e->text());
    return true;
  }
  return false;
}

void THexEditor::typeText(const QString &text) {
  if (m_viewOnly) return;
  for (QChar ch : text) {
    const qint64 size = m_buf->DataSize();
    const qint64 p = m_buf->CaretPosition();
    if (p >= size) return;
    const unsigned char old = m_buf->cachedByte(p);
    if (m_buf->caretArea() == haChar) {
      if (ch.unicode() < 32) continue;
      int b = m_buf->OEMTranslate() ? oem::fromUnicode(ch) : (ch.unicode() <= 0xFF ? ch.unicode() : -1);
      if (b < 0) continue;  // no single byte stands for this character
      m_buf->clearSelection();
      m_buf->ChangeByte(p, old, static_cast<unsigned char>(b));
      if (p + 1 < size) moveToByte(p + 1, haChar);
    } else {
      const int d = QByteArray("0123456789abcdef").indexOf(static_cast<char>(ch.unicode() < 128 ? ch.unicode() : 0));
      if (d < 0 || ch.unicode() == 0) continue;
      m_buf->clearSelection();
      const int nibble = m_buf->caretNibble();
      const unsigned char nw = nibble == 0 ? static_cast<unsigned char>(d * 16 + (old & 0x0F))
                                           : static_cast<unsigned char>(d + (old & 0xF0));
      m_buf->ChangeByte(p, old, nw);
      if (nibble == 0)
        moveToByte(p, haHex, 1);
      else if (p + 1 < size)
        moveToByte(p + 1, haHex, 0);
    }
  }
}

// ---------------------------------------------------------------- mouse and focus

void THexEditor::mousePressEvent(QMouseEvent *e) {
  int c;
  qint64 r;
  if (cellAt(e->position().toPoint(), &c, &r) && c >= 2) moveTo(c, r, e->modifiers(), e->buttons());
  if (e->button() == Qt::LeftButton) {
    m_buf->clearSelection();
    m_buf->setSelecting(true);
  }
}

void THexEditor::mouseDoubleClickEvent(QMouseEvent *e) {
  int c;
  qint64 r;
  if (cellAt(e->position().toPoint(), &c, &r) && c >= 2) moveTo(c, r, e->modifiers(), e->buttons());
  if (e->button() == Qt::LeftButton) m_buf->clearSelection();
}

void THexEditor::mouseMoveEvent(QMouseEvent *e) {
  if (!(e->buttons() & Qt::LeftButton)) return;
  QPoint pt = e->position().toPoint();
  // Dragging past the top or bottom edge keeps selecting on the first or last visible row.
  pt.setY(std::clamp(pt.y(), 0, std::max(0, viewport()->height() - 1)));
  int c;
  qint64 r;
  if (cellAt(pt, &c, &r) && c >= 2 && (c != currentColumn() || r != currentRow()))
    moveTo(c, r, e->modifiers(), e->buttons());
}

void THexEditor::focusInEvent(QFocusEvent *e) {
  QAbstractScrollArea::focusInEvent(e);
  viewport()->update();
}

void THexEditor::focusOutEvent(QFocusEvent *e) {
  QAbstractScrollArea::focusOutEvent(e);
  m_buf->setSelecting(false);
  viewport()->update();
}

void THexEditor::changeEvent(QEvent *e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) computeLayout();
}

void THexEditor::resizeEvent(QResizeEvent *e) {
  QAbstractScrollArea::resizeEvent(e);
  updateScrollBars();
}

// ---------------------------------------------------------------- painting

void THexEditor::paintEvent(QPaintEvent *) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), m_colors.Background);
  p.setFont(font());
  const int pitch = m_rowH + m_gridLineWidth;
  const qint64 rows = std::min<qint64>(rowCount() - m_topRow, viewport()->height() / pitch + 1);
  const int cols = columnCount();
  for (qint64 i = 0; i < rows; ++i) {
    const qint64 row = m_topRow + i;
    const QByteArray bytes = m_buf->cachedBytes(row * m_bpl, m_bpl);
    // Scrollable cells first, clipped away from the fixed columns, then the fixed ones.
    p.save();
    p.setClipRect(QRect(fixedWidth() + 2 * m_gridLineWidth, 0, viewport()->width(), viewport()->height()));
    for (int c = 2; c < cols; ++c) {
      const QRect r = cellRect(c, row);
      if (r.right() < fixedWidth() || r.left() > viewport()->width()) continue;
      paintCell(p, c, row, bytes);
    }
    p.restore();
    paintCell(p, 0, row, bytes);
    if (m_widths[1] > 0) paintCell(p, 1, row, bytes);
  }
  if (m_gridLineWidth > 0) {
    p.setPen(QPen(palette().color(QPalette::Mid), m_gridLineWidth));
    for (qint64 i = 0; i <= rows; ++i) {
      const int y = static_cast<int>(i * pitch - 1 + m_gridLineWidth);
      p.drawLine(0, y + m_rowH - m_gridLineWidth + 1, viewport()->width(), y + m_rowH - m_gridLineWidth + 1);
    }
    for (int c = 0; c < cols; ++c) {
      const int x = columnX(c) + m_widths[c];
      if (c >= 2 && x < fixedWidth()) continue;
      p.drawLine(x, 0, x, static_cast<int>(rows * pitch));
    }
  }
  // The caret: a shape exclusive-ored onto the current cell, only while focused.
  if (hasFocus() || m_buf->DataSize() == 0) {
    const int col = m_buf->DataSize() == 0 ? 2 : currentColumn();
    const qint64 row = m_buf->DataSize() == 0 ? 0 : currentRow();
    const QRect cell = cellRect(col, row);
    if (hasFocus() && cell.bottom() >= 0 && cell.top() < viewport()->height() &&
        (col < 2 || cell.left() >= fixedWidth())) {
      QRect shape(cell.left(), cell.top(), m_charW, m_rowH - 2);
      if (m_caretStyle == csLeftLine) shape.setWidth(2);
      if (m_caretStyle == csBottomLine) shape = QRect(cell.left(), cell.top() + m_rowH - 4, m_charW, 2);
      p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      const QRgb frame = m_colors.CursorFrame.rgb();
      p.fillRect(shape, QColor::fromRgb((frame ^ 0xFFFFFF) | 0xFF000000));
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
  }
}

void THexEditor::paintCell(QPainter &p, int col, qint64 row, const QByteArray &rowBytes) {
  const QRect rect = cellRect(col, row);
  QColor bg = m_colors.Background;
  QColor fg = palette().color(QPalette::Text);
  QString text = QStringLiteral(" ");
  const qint64 size = m_buf->DataSize();
  const int sep = separatorColumn();

  if (col == 0) {
    p.fillRect(rect, bg);
    p.setPen(m_colors.Offset);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignTop, offsetText(size == 0 ? 0 : row));
    return;
  }
  if (col == 1) {
    int slot = -1;
    for (int s = 0; s < 10 && slot < 0; ++s)
      if (m_markers[s] == row) slot = s;
    if (slot < 0 || size == 0) {
      p.fillRect(rect, bg);
      return;
    }
    p.fillRect(rect, m_colors.PositionBackground);
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(std::max(1.0, std::round(font().pointSizeF() * 0.75)));
    if (font().pointSizeF() <= 0) f.setPixelSize(std::max(1, font().pixelSize() * 3 / 4));
    p.save();
    p.setFont(f);
    p.setPen(m_colors.PositionText);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignTop, QString::number(slot));
    p.restore();
    return;
  }
  if (col == sep || size == 0) {
    p.fillRect(rect, bg);
    return;
  }
  const qint64 pos = byteOfCell(col, row);
  const int k = static_cast<int>(pos - row * m_bpl);
  if (pos >= size || k >= rowBytes.size()) {
    p.fillRect(rect, bg);
  } else {
    const auto b = static_cast<unsigned char>(rowBytes[k]);
    const bool hex = col < sep;
    if (hex)
      text = QChar(QLatin1Char(kHexDigits[(col - 2) % 2 == 0 ? b >> 4 : b & 15]));
    else
      text = displayChar(b);
    if (m_buf->IsChanged(pos)) {
      fg = m_colors.ChangedText;
      bg = m_colors.ChangedBackground;
    }
    bool odd = false;
    if (hex) {
      odd = ((col - 2) / (2 * m_bpc)) % 2 == 0;
      fg = odd ? m_colors.OddColumn : m_colors.EvenColumn;
    }
    if (m_buf->isSelected(pos)) {
      std::swap(fg, bg);
      if (hex) fg = TColors::inverse(odd ? m_colors.OddColumn : m_colors.EvenColumn);
    }
    p.fillRect(rect, bg);
    p.setPen(fg);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignTop, text);
  }
  // The frame around the caret's partner cell (the same byte in the other block).
  if (hasFocus() && row == currentRow() && size > 0) {
    const int cur = currentColumn();
    const int partner = cur > sep ? 2 * (cur - 2 * m_bpl - 3) + 2 : (cur - 2) / 2 + 2 * m_bpl + 3;
    if (col == partner) {
      const QRect frame(rect.left(), rect.top(), m_charW, rect.height());
      if (m_focusFrame) {
        QStyleOptionFocusRect o;
        o.initFrom(this);
        o.rect = frame;
        o.backgroundColor = bg;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &p, this);
      } else {
        p.setPen(m_colors.CursorFrame);
        p.setBrush(Qt::NoBrush);
        p.drawRect(frame.adjusted(0, 0, -1, -1));
      }
    }
  }
}
