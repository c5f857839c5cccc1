#include "controls/sortgrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCollator>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <climits>
#include <numeric>

// ---- Model: every grid row (fixed ones included) as one list of texts ----

class TSortGridModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::beginInsertRows;
  using QAbstractTableModel::beginRemoveRows;
  using QAbstractTableModel::beginResetModel;
  using QAbstractTableModel::endInsertRows;
  using QAbstractTableModel::endRemoveRows;
  using QAbstractTableModel::endResetModel;
  explicit TSortGridModel(TSortGrid *grid) : QAbstractTableModel(grid), grid_(grid) { rows_.assign(5, QStringList(5, QString())); }
  int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : int(rows_.size()) - grid_->fixedRows_; }
  int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : cols_; }
  QVariant data(const QModelIndex &i, int role) const override {
    if (role == Qt::DisplayRole || role == Qt::EditRole) return rows_[i.row() + grid_->fixedRows_][i.column()];
    return {};
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && grid_->fixedRows_ > 0 && section < cols_) return rows_[0][section];
    if (o == Qt::Horizontal && role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex &i) const override {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (grid_->editing_) f |= Qt::ItemIsEditable;
    return f;
  }
  bool setData(const QModelIndex &i, const QVariant &v, int role) override {
    if (role != Qt::EditRole) return false;
    QString text = v.toString();
    const int row = i.row() + grid_->fixedRows_;
    if (text != rows_[row][i.column()] && !grid_->validateCell(i.column(), row, text)) {
      emit dataChanged(i, i);
      return false;
    }
    rows_[row][i.column()] = text;
    emit dataChanged(i, i);
    return true;
  }
  void resetAll() {
    beginResetModel();
    endResetModel();
  }
  void changedAll() {
    if (rowCount() > 0 && cols_ > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, cols_ - 1));
    emit headerDataChanged(Qt::Horizontal, 0, cols_ - 1);
  }

  TSortGrid *grid_;
  std::vector<QStringList> rows_;
  int cols_ = 5;
};

// ---- Painting: the cell format, margins of 2 pixels and the bevel ----

class TSortGridDelegate : public QStyledItemDelegate {
 public:
  explicit TSortGridDelegate(TSortGrid *g) : QStyledItemDelegate(g), grid_(g) {}
  void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    const int col = index.column(), row = index.row() + grid_->fixedRows_;
    int state = 0;
    if (option.state & QStyle::State_Selected) state |= TSortGrid::gdSelected;
    if (option.state & QStyle::State_HasFocus) state |= TSortGrid::gdFocused;
    TFormatOptions f = grid_->cellFormat(col, row, state);
    const QRect r = option.rect;
    p->save();
    p->fillRect(r, f.Brush);
    if (!f.HideText) {
      p->setFont(f.Font);
      p->setPen(f.FontColor);
      const QString text = grid_->model_->rows_[row][col];
      const QFontMetrics fm(f.Font);
      const int tw = fm.horizontalAdvance(text), th = fm.height();
      int x = r.left() + 2, y = r.top() + 2;
      if (!f.Icon.isNull()) {
        const int side = qMin(th, r.height() - 2);
        f.Icon.paint(p, QRect(r.left() + 2, r.top() + (r.height() - side) / 2, side, side));
        x += side + 4;
      }
      if (f.AlignmentHorz == taRightJustify) x = r.left() + r.width() - tw - 2;
      else if (f.AlignmentHorz == taCenter) x = r.left() + (r.width() - tw) / 2;
      if (f.AlignmentVert == taBottomJustify) y = r.top() + r.height() - th - 3;
      else if (f.AlignmentVert == taMiddle) y = r.top() + (r.height() - th) / 2;
      p->setClipRect(r);
      p->drawText(x, y + fm.ascent(), text);
    }
    if (f.Bevel != cbNone) {
      p->setPen(f.HighlightColor);
      p->drawLine(r.topLeft(), r.topRight());
      p->drawLine(r.topLeft(), r.bottomLeft());
      p->setPen(f.ShadowColor);
      p->drawLine(r.bottomLeft(), r.bottomRight());
      p->drawLine(r.topRight(), r.bottomRight());
    }
    p->restore();
  }

 private:
  TSortGrid *grid_;
};

// ---- Grid ----

TSortGrid::TSortGrid(QWidget *parent) : QTableView(parent), model_(new TSortGridModel(this)) {
  setModel(model_);
  setItemDelegate(new TSortGridDelegate(this));
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setSectionsClickable(false);  // a click sorts; it does not select a column
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setDefaultSectionSize(64);
  horizontalHeader()->viewport()->installEventFilter(this);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
    if (OnColumnWidthsChanged) OnColumnWidthsChanged();
  });
}

TSortGrid::~TSortGrid() = default;

int TSortGrid::ColCount() const { return model_->cols_; }

void TSortGrid::setColCount(int n) {
  n = qMax(1, n);
  if (n == model_->cols_) return;
  const int oldCols = model_->cols_;
  model_->beginResetModel();
  for (auto &r : model_->rows_) {
    while (r.size() < n) r.append(QString());
    while (r.size() > n) r.removeLast();
  }
  model_->cols_ = n;
  model_->endResetModel();
  if (OnSizeChanged) OnSizeChanged(oldCols, RowCount());
}

int TSortGrid::RowCount() const { return int(model_->rows_.size()); }

void TSortGrid::setRowCount(int n) {
  n = qMax(fixedRows_ + 1, n);
  const int old = RowCount();
  if (n == old) return;
  if (updateDepth_ == 0) {
    if (n > old) model_->beginInsertRows({}, old - fixedRows_, n - fixedRows_ - 1);
    else model_->beginRemoveRows({}, n - fixedRows_, old - fixedRows_ - 1);
  }
  model_->rows_.resize(size_t(n), QStringList(model_->cols_, QString()));
  if (updateDepth_ == 0) {
    if (n > old) model_->endInsertRows();
    else model_->endRemoveRows();
  }
  if (OnSizeChanged) OnSizeChanged(ColCount(), old);
}

void TSortGrid::setFixedRows(int n) {
  n = qBound(0, n, 1);
  if (n == fixedRows_) return;
  model_->beginResetModel();
  fixedRows_ = n;
  if (RowCount() < fixedRows_ + 1) model_->rows_.resize(size_t(fixedRows_ + 1), QStringList(model_->cols_, QString()));
  model_->endResetModel();
  horizontalHeader()->setVisible(fixedRows_ > 0);
}

QString TSortGrid::Cells(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) return {};
  return model_->rows_[size_t(row)][col];
}

void TSortGrid::setCells(int col, int row, const QString &text) {
  if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) return;
  model_->rows_[size_t(row)][col] = text;
  if (updateDepth_ > 0) return;
  if (row < fixedRows_) {
    emit model_->headerDataChanged(Qt::Horizontal, col, col);
  } else {
    const QModelIndex i = model_->index(row - fixedRows_, col);
    emit model_->dataChanged(i, i);
  }
}

QStringList TSortGrid::Rows(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  return model_->rows_[size_t(row)];
}

void TSortGrid::setRows(int row, const QStringList &cells) {
  if (row < 0 || row >= RowCount()) return;
  QStringList r = cells.mid(0, ColCount());
  while (r.size() < ColCount()) r.append(QString());
  model_->rows_[size_t(row)] = r;
  if (updateDepth_ == 0) model_->changedAll();
}

int TSortGrid::ColWidths(int col) const { return horizontalHeader()->sectionSize(col); }
void TSortGrid::setColWidths(int col, int width) { horizontalHeader()->resizeSection(col, width); }
int TSortGrid::DefaultRowHeight() const { return verticalHeader()->defaultSectionSize(); }

int TSortGrid::Row() const {
  const QModelIndex i = currentIndex();
  return i.isValid() ? i.row() + fixedRows_ : -1;
}

int TSortGrid::Col() const {
  const QModelIndex i = currentIndex();
  return i.isValid() ? i.column() : -1;
}

void TSortGrid::setCurrentCell(int col, int row) { setCurrentIndex(model_->index(row - fixedRows_, col)); }

void TSortGrid::Selection(int &top, int &bottom) const {
  top = 0;
  bottom = -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) {
    if (currentIndex().isValid()) top = bottom = currentIndex().row() + fixedRows_;
    return;
  }
  top = INT_MAX;
  for (const QModelIndex &i : rows) {
    top = qMin(top, i.row() + fixedRows_);
    bottom = qMax(bottom, i.row() + fixedRows_);
  }
}

void TSortGrid::selectRows(int top, int bottom) {
  setCurrentCell(0, top);
  selectionModel()->select(QItemSelection(model_->index(top - fixedRows_, 0), model_->index(bottom - fixedRows_, ColCount() - 1)),
                           QItemSelectionModel::ClearAndSelect);
}

void TSortGrid::setEditing(bool on) {
  editing_ = on;
  setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed
                     : QAbstractItemView::NoEditTriggers);
}

void TSortGrid::BeginUpdate() {
  if (updateDepth_++ == 0) model_->beginResetModel();
}

void TSortGrid::EndUpdate() {
  if (updateDepth_ > 0 && --updateDepth_ == 0) model_->endResetModel();
}

void TSortGrid::setAlignmentHorz(TAlignment a) {
  alignHorz_ = a;
  viewport()->update();
}
void TSortGrid::setAlignmentVert(TVertAlignment a) {
  alignVert_ = a;
  viewport()->update();
}
void TSortGrid::setBevelStyle(TCellBevelStyle b) {
  bevel_ = b;
  viewport()->update();
}
void TSortGrid::setProportionalScrollBars(bool on) {
  proportional_ = on;
  updateGeometries();
}

void TSortGrid::updateGeometries() {
  QTableView::updateGeometries();
  // The platform's bars are already sized to the visible share; "off" means a thumb of fixed size.
  if (!proportional_) {
    verticalScrollBar()->setPageStep(0);
    horizontalScrollBar()->setPageStep(0);
    return;
  }
  const int rows = RowCount(), cols = ColCount();
  const int visRows = qMax(1, viewport()->height() / qMax(1, DefaultRowHeight()));
  QScrollBar *v = verticalScrollBar();
  if (rows > 0 && v->maximum() > v->minimum())
    v->setPageStep(qMax(1, qRound(double(qMin(rows, visRows + fixedRows_)) / rows * (v->maximum() - v->minimum() + 1))));
  QScrollBar *h = horizontalScrollBar();
  if (cols > 0 && h->maximum() > h->minimum()) h->setPageStep(qMax(1, viewport()->width()));
}

TFormatOptions TSortGrid::cellFormat(int col, int row, int state) const {
  TFormatOptions f;
  const QPalette &pal = palette();
  const bool selected = state & gdSelected;
  f.Brush = row < fixedRows_ ? pal.button() : selected ? pal.highlight() : pal.base();
  f.FontColor = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
  f.Font = font();
  f.AlignmentHorz = alignHorz_;
  f.AlignmentVert = alignVert_;
  f.Bevel = row < fixedRows_ ? cbNone : bevel_;
  if (f.Bevel == cbRaised) {
    f.HighlightColor = pal.color(QPalette::Light);
    f.ShadowColor = pal.color(QPalette::Dark);
  } else if (f.Bevel == cbLowered) {
    f.HighlightColor = pal.color(QPalette::Dark);
    f.ShadowColor = pal.color(QPalette::Light);
  } else {
    f.HighlightColor = f.ShadowColor = pal.color(QPalette::Base);
  }
  if (OnGetCellFormat) OnGetCellFormat(col, row, state | (row < fixedRows_ ? gdFixed : 0), f);
  return f;
}

// ---- Sorting ----

namespace {
QString upperIf(const QString &s, bool caseSensitive) { return caseSensitive ? s : QLocale().toUpper(s); }

bool toNumber(const QString &s, double &v) {
  bool ok = false;
  const QString t = s.trimmed();
  v = QLocale().toDouble(t, &ok);
  if (!ok) v = QLocale::c().toDouble(t, &ok);
  return ok;
}

bool toDateTime(const QString &s, qint64 &v) {
  const QString t = s.simplified();
  if (t.isEmpty()) return false;
  const QLocale loc;
  const QString d = loc.dateFormat(QLocale::ShortFormat), tm = loc.timeFormat(QLocale::ShortFormat);
  for (const QString &fmt : {d + ' ' + tm, d + ' ' + loc.timeFormat(QLocale::LongFormat), d}) {
    const QDateTime dt = loc.toDateTime(t, fmt);
    if (dt.isValid()) {
      v = dt.toMSecsSinceEpoch();
      return true;
    }
  }
  const QDateTime iso = QDateTime::fromString(t, Qt::ISODate);
  if (iso.isValid()) v = iso.toMSecsSinceEpoch();
  return iso.isValid();
}

bool toTime(const QString &s, qint64 &v) {
  const QString t = s.trimmed();
  if (t.isEmpty()) return false;
  const QLocale loc;
  for (const QString &fmt : {loc.timeFormat(QLocale::ShortFormat), loc.timeFormat(QLocale::LongFormat), QString("H:mm:ss"), QString("H:mm")}) {
    const QTime tm = loc.toTime(t, fmt);
    if (tm.isValid()) {
      v = tm.msecsSinceStartOfDay();
      return true;
    }
  }
  return false;
}
}  // namespace

int TSortGrid::GuessSortStyle(int col) const {
  bool num = true, dt = true, tm = true;
  for (int r = fixedRows_; r < RowCount() && (num || dt || tm); ++r) {
    const QString &s = model_->rows_[size_t(r)][col];
    double d;
    qint64 v;
    if (num && !toNumber(s, d)) num = false;
    if (dt && !toDateTime(s, v)) dt = false;
    if (tm && !toTime(s, v)) tm = false;
  }
  return num ? 2 : dt ? 3 : tm ? 4 : 1;
}

void TSortGrid::SortColumn(int col, TSortOptions o) {
  if (state() == QAbstractItemView::EditingState || RowCount() <= fixedRows_ + 1 || col < 0 || col >= ColCount()) return;
  if (o.SortStyle == 0) o.SortStyle = quint8(GuessSortStyle(col));
  sorting_ = true;
  if (OnBeginSort) OnBeginSort(col, o);
  const int first = fixedRows_, n = RowCount() - fixedRows_;
  const bool cs = o.SortCaseSensitive;
  std::vector<int> order(size_t(qMax(0, n)));
  std::iota(order.begin(), order.end(), 0);
  auto text = [&](int i) -> const QString & { return model_->rows_[size_t(first + i)][col]; };
  // Keys are converted once; a text that does not convert compares equal to everything.
  std::function<int(int, int)> cmp;
  std::vector<double> nums;
  std::vector<qint64> times;
  std::vector<char> ok;
  std::vector<QCollatorSortKey> keys;
  QStringList texts;
  QCollator coll;
  coll.setCaseSensitivity(Qt::CaseSensitive);
  switch (o.SortStyle) {
    case 2:
      nums.resize(size_t(n));
      ok.resize(size_t(n));
      for (int i = 0; i < n; ++i) ok[size_t(i)] = toNumber(text(i), nums[size_t(i)]);
      cmp = [&](int a, int b) {
        if (!ok[size_t(a)] || !ok[size_t(b)]) return 0;
        return nums[size_t(a)] < nums[size_t(b)] ? -1 : nums[size_t(a)] > nums[size_t(b)] ? 1 : 0;
      };
      break;
    case 3:
    case 4:
      times.resize(size_t(n));
      ok.resize(size_t(n));
      for (int i = 0; i < n; ++i) ok[size_t(i)] = o.SortStyle == 3 ? toDateTime(text(i), times[size_t(i)]) : toTime(text(i), times[size_t(i)]);
      cmp = [&](int a, int b) {
        if (!ok[size_t(a)] || !ok[size_t(b)]) return 0;
        return times[size_t(a)] < times[size_t(b)] ? -1 : times[size_t(a)] > times[size_t(b)] ? 1 : 0;
      };
      break;
    case 5:
      if (o.SortCompare) {
        for (int i = 0; i < n; ++i) texts << upperIf(text(i), cs);
        cmp = [&](int a, int b) { return o.SortCompare(texts[a], texts[b]); };
        break;
      }
      [[fallthrough]];
    default:
      keys.reserve(size_t(n));
      for (int i = 0; i < n; ++i) keys.push_back(coll.sortKey(upperIf(text(i), cs)));
      cmp = [&](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]); };
      break;
  }
  const bool desc = o.SortDirection != 0;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const int r = cmp(a, b);
    return desc ? r > 0 : r < 0;
  });
  std::vector<QStringList> sorted;
  sorted.reserve(size_t(n));
  for (int i : order) sorted.push_back(std::move(model_->rows_[size_t(first + i)]));
  std::move(sorted.begin(), sorted.end(), model_->rows_.begin() + first);
  if (updateDepth_ == 0) model_->changedAll();
  if (OnEndSort) OnEndSort(col);
  sorting_ = false;
}

void TSortGrid::clickSort(int col, Qt::MouseButton button) {
  TSortOptions o;
  o.SortStyle = 0;
  o.SortDirection = button == Qt::RightButton ? 1 : 0;
  o.SortCaseSensitive = CaseSensitive;
  if (OnClickSort) OnClickSort(col, 0, o);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  SortColumn(col, o);
  QApplication::restoreOverrideCursor();
}

bool TSortGrid::eventFilter(QObject *o, QEvent *e) {
  if (o == horizontalHeader()->viewport()) {
    if (e->type() == QEvent::MouseButtonPress) setFocus();
    if (e->type() == QEvent::MouseButtonRelease) {
      auto *me = static_cast<QMouseEvent *>(e);
      QHeaderView *h = horizontalHeader();
      const bool onHandle = h->viewport()->cursor().shape() == Qt::SplitHCursor;
      if (ClickSorting && fixedRows_ > 0 && !onHandle && !(me->modifiers() & Qt::ShiftModifier) &&
          (me->button() == Qt::LeftButton || me->button() == Qt::RightButton)) {
        const int col = h->logicalIndexAt(me->position().toPoint());
        if (col >= 0) clickSort(col, me->button());
      }
    }
  }
  return QTableView::eventFilter(o, e);
}

// ---- Rows and columns ----

void TSortGrid::ClearAllCells() {
  for (auto &r : model_->rows_)
    for (QString &s : r) s.clear();
  if (updateDepth_ == 0) model_->changedAll();
}

void TSortGrid::MoveRowTo(int from, int to) {
  const int n = RowCount();
  if (from < 0 || to < 0 || from >= n || to >= n || from == to) return;
  auto &rows = model_->rows_;
  QStringList r = std::move(rows[size_t(from)]);
  rows.erase(rows.begin() + from);
  rows.insert(rows.begin() + to, std::move(r));
  if (updateDepth_ == 0) model_->changedAll();
}

void TSortGrid::MoveColumnTo(int from, int to) {
  const int n = ColCount();
  if (from < 0 || to < 0 || from >= n || to >= n || from == to) return;
  for (auto &r : model_->rows_) r.move(from, to);
  if (updateDepth_ == 0) model_->changedAll();
}

void TSortGrid::ExchangeRows(int a, int b) {
  if (a == b) return;
  const int lo = qMin(a, b), hi = qMax(a, b);
  MoveRowTo(hi, lo);
  MoveRowTo(lo + 1, hi);
}

void TSortGrid::ExchangeColumns(int a, int b) {
  if (a == b) return;
  const int lo = qMin(a, b), hi = qMax(a, b);
  MoveColumnTo(hi, lo);
  MoveColumnTo(lo + 1, hi);
}

void TSortGrid::AddRowAt(int index) {
  setRowCount(RowCount() + 1);
  MoveRowTo(RowCount() - 1, qBound(0, index, RowCount() - 1));
  const int at = qBound(0, index, RowCount() - 1);
  for (QString &s : model_->rows_[size_t(at)]) s.clear();
  if (updateDepth_ == 0) model_->changedAll();
  if (OnRowInsert) OnRowInsert(at);
}

void TSortGrid::AddColumnAt(int index) {
  setColCount(ColCount() + 1);
  MoveColumnTo(ColCount() - 1, qBound(0, index, ColCount() - 1));
  const int at = qBound(0, index, ColCount() - 1);
  for (auto &r : model_->rows_) r[at].clear();
  if (updateDepth_ == 0) model_->changedAll();
  if (OnColumnInsert) OnColumnInsert(at);
}

void TSortGrid::RemoveRow(int index) {
  if (index < 0 || index >= RowCount()) return;
  const bool wasEditing = editing_;
  if (wasEditing) setEditing(false);
  if (index >= fixedRows_ && updateDepth_ == 0) model_->beginRemoveRows({}, index - fixedRows_, index - fixedRows_);
  model_->rows_.erase(model_->rows_.begin() + index);
  if (index >= fixedRows_ && updateDepth_ == 0) model_->endRemoveRows();
  else if (updateDepth_ == 0) model_->resetAll();
  if (wasEditing) setEditing(true);
  if (OnRowDelete) OnRowDelete(index);
}

void TSortGrid::RemoveColumn(int index) {
  if (index < 0 || index >= ColCount() || ColCount() <= 1) return;
  const bool wasEditing = editing_;
  if (wasEditing) setEditing(false);
  model_->beginResetModel();
  for (auto &r : model_->rows_) r.removeAt(index);
  model_->cols_--;
  model_->endResetModel();
  if (wasEditing) setEditing(true);
  if (OnColumnDelete) OnColumnDelete(index);
}

void TSortGrid::FitColumnWidth(int col) {
  int widest = 0;
  for (int r = 0; r < RowCount(); ++r) {
    const TFormatOptions f = cellFormat(col, r, 0);
    widest = qMax(widest, QFontMetrics(f.Font).horizontalAdvance(model_->rows_[size_t(r)][col]));
  }
  setColWidths(col, widest + fontMetrics().horizontalAdvance(QLatin1Char('x')));
}

void TSortGrid::FitAllColumnWidths(bool includeFixed, int extra) {
  Q_UNUSED(includeFixed);  // the grid has no fixed columns
  for (int c = 0; c < ColCount(); ++c) {
    FitColumnWidth(c);
    setColWidths(c, ColWidths(c) + extra);
  }
}

bool TSortGrid::LocateText(const QString &text, int &col, int &row) const {
  for (int c = 0; c < ColCount(); ++c)
    for (int r = 0; r < RowCount(); ++r)
      if (model_->rows_[size_t(r)][c] == text) {
        col = c;
        row = r;
        return true;
      }
  return false;
}

// ---- Keys, validation, selection ----

void TSortGrid::keyPressEvent(QKeyEvent *e) {
  if (ExtendedKeys && state() != QAbstractItemView::EditingState && (e->modifiers() & Qt::ControlModifier)) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (e->key() == Qt::Key_Insert) {
      if (shift) AddColumnAt(qMax(0, Col()));
      else AddRowAt(qMax(fixedRows_, Row()));
      return;
    }
    if (e->key() == Qt::Key_Delete) {
      if (shift) {
        if (ColCount() > 1) RemoveColumn(qMax(0, Col()));
      } else if (RowCount() - fixedRows_ > 1 && Row() >= fixedRows_) {
        RemoveRow(Row());
      }
      return;
    }
  }
  QTableView::keyPressEvent(e);
}

bool TSortGrid::validateCell(int col, int row, QString &value) {
  if (!OnCellValidate) return true;
  const QString offered = value;
  bool valid = true;
  OnCellValidate(col, row, value, valid);
  if (valid) return true;
  if (value != offered) {  // the handler's correction is stored
    model_->rows_[size_t(row)][col] = value;
    return true;
  }
  return false;
}

void TSortGrid::resizeEvent(QResizeEvent *e) {
  QTableView::resizeEvent(e);
  updateGeometries();
}

void TSortGrid::mouseDoubleClickEvent(QMouseEvent *e) {
  QTableView::mouseDoubleClickEvent(e);
  if (OnDblClick && indexAt(e->position().toPoint()).isValid()) OnDblClick();
}

void TSortGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
  QTableView::currentChanged(current, previous);
  if (current.isValid() && OnSelectCell && !sorting_) OnSelectCell(current.column(), current.row() + fixedRows_);
}
