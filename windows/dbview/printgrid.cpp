#include "windows/dbview/printgrid.h"
#include "platform/savefile.h"

#include "windows/dbview/dbfhost.h"
#include "windows/dbview/dbgrid.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <cmath>

namespace {

// Hourglass while the records are walked; the grid stops following the position and gets it back after.
class BusyGrid {
 public:
  explicit BusyGrid(TDBGrid *g) : grid_(g), row_(g->currentRecord()), col_(g->currentIndex().column()) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    grid_->setUpdatesEnabled(false);
  }
  ~BusyGrid() {
    grid_->setUpdatesEnabled(true);
    if (row_ >= 0) grid_->setCurrentIndex(grid_->model()->index(row_, col_));
    QGuiApplication::restoreOverrideCursor();
  }

 private:
  TDBGrid *grid_;
  int row_, col_;
};

int scaled(int t, int pct) {
  pct = std::clamp(pct, 0, 100);
  return t + int(std::lround(double(t) * pct / 100.0));
}

bool isTop(TPageNumberPos p) { return p == pnTopLeft || p == pnTopCenter || p == pnTopRight; }

Qt::Alignment horizontal(TPageNumberPos p) {
  switch (p) {
    case pnTopLeft: case pnBotLeft: return Qt::AlignLeft;
    case pnTopRight: case pnBotRight: return Qt::AlignRight;
    default: return Qt::AlignHCenter;
  }
}

QFont font(const char *family, double points, bool bold) {
  QFont f{QString::fromLatin1(family)};
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

// A value in the text file stays on its line and in its column.
QString oneCell(QString s) {
  for (QChar &c : s)
    if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
  return s;
}

// Appends a value as UTF-8; plain ASCII, the usual case, byte by byte without a temporary.
void appendCell(QByteArray &buf, const QString &s) {
  const qsizetype at = buf.size();
  buf.resize(at + s.size());
  char *d = buf.data() + at;
  const char16_t *p = reinterpret_cast<const char16_t *>(s.constData());
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (p[i] >= 0x80) {
      buf.resize(at);
      buf += oneCell(s).toUtf8();
      return;
    }
    d[i] = (p[i] == '\t' || p[i] == '\n' || p[i] == '\r') ? ' ' : char(p[i]);
  }
}

}  // namespace

TPrintGrid::TPrintGrid(TDbfHost &host, QWidget *owner, const QString &name)
    : QObject(owner), TitleFont(font("Arial", 12, true)), ColHeaderFont(font("Arial", 10, true)), LinesFont(font("Arial", 9, false)),
      host_(host), owner_(owner) {
  setObjectName(name);
  PrintMgrTitle = name;
}

void TPrintGrid::setName(const QString &name) {
  if (PrintMgrTitle == objectName()) PrintMgrTitle = name;
  setObjectName(name);
}

void TPrintGrid::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(Orientation);
  int from = FromPage, to = EndPage;
  const TDbfHost::PrintChoice c = host_.printDialog(owner_, printer, from, to);
  if (c == TDbfHost::PrintChoice::Cancel) return;
  Orientation = printer.pageLayout().orientation();
  if (c == TDbfHost::PrintChoice::TextFile) {
    SaveAsText();
    return;
  }
  PrintToFile = false;
  FromPage = from;
  EndPage = to;
  printTo(&printer);
}

QStringList TPrintGrid::saveFilters() const {
  QStringList f{QStringLiteral("List Files (*.LST)"), QStringLiteral("Any file(*.*)")};
  const QString ext = QFileInfo(PrintFileName).suffix();
  if (!PrintFileName.isEmpty()) f << QStringLiteral("This file (*.%1)").arg(ext);
  return f;
}

QString TPrintGrid::saveFilterText() const {
  QString s = QStringLiteral("List Files (*.LST)|*.LST|Any file(*.*)|*.*");
  if (!PrintFileName.isEmpty()) {
    const QString ext = QLatin1Char('.') + QFileInfo(PrintFileName).suffix();
    s += QStringLiteral("|This file (*") + ext + QStringLiteral(")|*") + ext;
  }
  return s;
}

void TPrintGrid::SaveAsText() {
  PrintToFile = true;
  const QStringList filters = saveFilters();
  const QString chosen = host_.saveFileName(owner_, PrintFileDir, PrintFileName, filters, filters.size() == 3 ? 2 : 0);
  if (chosen.isEmpty()) return;
  const QFileInfo fi(chosen);
  PrintFileDir = fi.absolutePath();
  PrintFileName = fi.fileName();
  writeText();
}

bool TPrintGrid::writeText() {
  const QString name = PrintFileName.isEmpty() ? QStringLiteral("PRINT.LST") : PrintFileName;
  const QString path = PrintFileDir.isEmpty() ? name : QDir(PrintFileDir).filePath(name);
  if (!DBGrid || !DBGrid->table()) {
    host_.showMessage(owner_, QStringLiteral("Error: FDBGrid Not Assigned."));
    return false;
  }
  platform::StreamingSave out(path);
  if (!out.open()) {
    host_.showMessage(owner_, QStringLiteral("Error opening output file:") + path);
    return false;
  }
  TDbTable *t = DBGrid->table();
  const QVector<int> cols = DBGrid->visibleFields();
  bool ok = true;
  {
    BusyGrid busy(DBGrid);
    QByteArray buf;
    buf.reserve(2 << 20);
    for (int c : cols) {
      appendCell(buf, t->fields()[c].name);
      buf += '\t';
    }
    buf += "\r\n";
    const qint64 n = t->recordCount();
    // resize(0) keeps the buffer's memory, which clear() would give back every time.
    for (qint64 r = 0; r < n && ok; ++r) {
      if (t->isDeleted(r)) continue;  // shown struck out in the grid; in a file they would pass for live ones
      for (int c : cols) {
        appendCell(buf, t->displayText(r, c));
        buf += '\t';
      }
      buf += "\r\n";
      if (buf.size() >= (1 << 20)) {
        ok = out.write(buf);
        buf.resize(0);
      }
    }
    if (ok) ok = out.write(buf);
  }
  if (!ok || !out.commit()) {
    host_.showMessage(owner_, QStringLiteral("Error opening output file:") + path);
    return false;
  }
  return true;
}

bool TPrintGrid::printTo(QPrinter *printer, int *pagesPrinted) {
  if (pagesPrinted) *pagesPrinted = 0;
  if (!DBGrid || !DBGrid->table()) {
    host_.showMessage(owner_, QStringLiteral("Error: FDBGrid Not Assigned."));
    return false;
  }
  TDbTable *t = DBGrid->table();
  printer->setDocName(PrintMgrTitle);
  printer->setPageOrientation(Orientation);

  // Working values from the lines font as the printer measures it.
  const QFontMetrics lines(LinesFont, printer), head(ColHeaderFont, printer), title(TitleFont, printer);
  const int a = std::max(1, lines.averageCharWidth());
  const int h = lines.height();
  const int g = std::clamp(int(0.8 * h), 0, 100);
  VerticalGapPct = g;
  const int L = h + int(std::lround(double(h) * g / 100.0));
  HorizontalGap = lines.maxWidth() / 4;
  const int c = int(1.4 * a);
  const int pageW = printer->width(), pageH = printer->height();
  const int X0 = LeftMargin * a;
  const int W = pageW - a * (LeftMargin + RightMargin);

  const QVector<int> cols = DBGrid->visibleFields();
  QVector<int> x{Border ? 1 : 0};
  for (int k : cols) {
    const TDbField &f = t->fields()[k];
    const int width = std::max(head.horizontalAdvance(f.name), f.displayWidth * c);
    x << x.last() + width + HorizontalGap;
  }
  // Asked before the job starts, so that an aborted print-out leaves no half-made job behind.
  if (x.last() > W &&
      host_.ask(owner_, QStringLiteral("Printed width is larger than paper width. Abort the print-out?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) != QMessageBox::No)
    return false;

  if (DateLabel.isEmpty()) DateLabel = QLocale::c().toString(QDate::currentDate(), QStringLiteral("MMM d, yyyy"));
  const int headerBand = scaled(head.height(), VerticalGapPct);
  const int titleBand = scaled(title.height(), VerticalGapPct);
  const bool topText = !Title.isEmpty() || isTop(DatePos) || isTop(PageNumberPos);
  const int tableTop = TopMargin + headerBand + (topText ? titleBand : 0);

  BusyGrid busy(DBGrid);
  QPainter p;
  if (!p.begin(printer)) {
    host_.showMessage(owner_, QStringLiteral("The printer could not be started."));
    return false;
  }
  QPen pen(Qt::black);
  pen.setWidth(std::max(1, printer->resolution() / 200));
  p.setPen(pen);

  auto textAt = [&](int px, int y, Qt::Alignment al, const QString &s, const QFontMetrics &fm) {
    const int w = fm.horizontalAdvance(s);
    int left = px;
    if (al & Qt::AlignRight) left = px - w;
    else if (al & Qt::AlignHCenter) left = px - w / 2;
    p.drawText(QRect(left, y, w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, s);
  };
  auto placeX = [&](Qt::Alignment al) {
    if (al & Qt::AlignLeft) return X0 + HorizontalGap;
    if (al & Qt::AlignRight) return X0 + W - HorizontalGap;
    return X0 + int(std::lround(W / 2.0));
  };
  auto cell = [&](int k, int top, int height, const QString &s, const TDbField &f) {
    const QRect r(X0 + x[k] + HorizontalGap, top, x[k + 1] - x[k] - 2 * HorizontalGap, height);
    if (r.width() <= 0) return;
    p.save();
    p.setClipRect(r);
    p.drawText(r, (f.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, s);
    p.restore();
  };
  auto pageHeader = [&](int page) {
    p.setFont(TitleFont);
    if (DatePos != pnNone)
      textAt(placeX(horizontal(DatePos)), isTop(DatePos) ? TopMargin : pageH - BottomMargin, horizontal(DatePos), DateLabel, title);
    if (!Title.isEmpty()) textAt(placeX(TitleAlignment), TopMargin, TitleAlignment, Title, title);
    if (PageNumberPos != pnNone)
      textAt(placeX(horizontal(PageNumberPos)), isTop(PageNumberPos) ? TopMargin : pageH - BottomMargin * 5 / 4,
             horizontal(PageNumberPos), PageNumberLabel + QString::number(page), title);
    if (FullPage && ColLines)
      for (int k = 1; k + 1 < x.size(); ++k) p.drawLine(X0 + x[k], tableTop, X0 + x[k], pageH - BottomMargin);
    if (DBGrid->showsTitles()) {
      p.setFont(ColHeaderFont);
      for (int k = 0; k < cols.size(); ++k) cell(k, tableTop - headerBand, headerBand, t->fields()[cols[k]].name, t->fields()[cols[k]]);
      p.drawLine(X0, tableTop, X0 + W, tableTop);
    }
    p.setFont(LinesFont);
  };

  const qint64 n = t->recordCount();
  int page = 1, rows = 0, lastPage = 0, lastRows = 0, printed = 0;
  p.setFont(LinesFont);
  for (qint64 r = 0; r < n;) {
    if (t->isDeleted(r)) {  // as in the text file
      ++r;
      continue;
    }
    const bool inRange = page >= FromPage && page <= EndPage;
    if (rows == 0 && inRange) {
      if (printed > 0) printer->newPage();  // only when a record is left for the page: no blank last page
      ++printed;
      pageHeader(page);
    }
    if (inRange) {
      const int top = tableTop + rows * L;
      for (int k = 0; k < cols.size(); ++k) cell(k, top, L, t->displayText(r, cols[k]), t->fields()[cols[k]]);
      if (RowLines) p.drawLine(X0, top, X0 + W, top);
      if (!FullPage && ColLines)
        for (int k = 1; k + 1 < x.size(); ++k) p.drawLine(X0 + x[k], tableTop, X0 + x[k], top + L);
      lastPage = page;
      lastRows = rows + 1;
    }
    ++rows;
    ++r;
    if ((rows + 1) * L + tableTop >= pageH - BottomMargin) {
      rows = 0;
      ++page;
      if (page > EndPage) break;
    }
  }
  if (lastPage > 0) {
    if (RowLines) p.drawLine(X0, tableTop + lastRows * L, X0 + W, tableTop + lastRows * L);
    if (Border) {
      p.setBrush(Qt::NoBrush);
      const int bottom = FullPage ? pageH - BottomMargin : tableTop + lastRows * L;
      p.drawRect(QRect(QPoint(X0, tableTop - headerBand), QPoint(X0 + W, bottom)));
    }
  }
  p.end();
  if (pagesPrinted) *pagesPrinted = printed;
  return true;
}
