#include "windows/dbview/dbgrid.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPalette>
#include <QStyle>
#include <QToolButton>

void TDbModel::setTable(TDbTable *table) {
  beginResetModel();
  table_ = table;
  pending_.clear();
  pendingRow_ = -1;
  endResetModel();
}

int TDbModel::rowCount(const QModelIndex &parent) const {
  if (parent.isValid() || !table_) return 0;
  return int(std::min<qint64>(table_->recordCount(), INT_MAX));
}

int TDbModel::columnCount(const QModelIndex &parent) const { return parent.isValid() || !table_ ? 0 : int(table_->fields().size()); }

QVariant TDbModel::data(const QModelIndex &index, int role) const {
  if (!table_ || !index.isValid()) return {};
  const int r = index.row(), c = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      if (r == pendingRow_) {
        auto it = pending_.constFind(c);
        if (it != pending_.constEnd()) return *it;
      }
      QString s = table_->displayText(r, c);
      if (role == Qt::DisplayRole && s.size() > 200) s = s.left(200) + QStringLiteral("…");
      if (role == Qt::DisplayRole) s.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
      return s;
    }
    case Qt::TextAlignmentRole:
      return int((table_->fields()[c].rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case Qt::ForegroundRole:
      if (table_->isDeleted(r)) return QPalette().color(QPalette::Disabled, QPalette::Text);
      return {};
    case Qt::FontRole:
      if (table_->isDeleted(r)) {
        QFont f;
        f.setStrikeOut(true);
        return f;
      }
      return {};
    case Qt::ToolTipRole:
      if (table_->isDeleted(r)) return QStringLiteral("This record is marked as deleted.");
      return {};
    default: return {};
  }
}

QVariant TDbModel::headerData(int section, Qt::Orientation o, int role) const {
  if (!table_ || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, o, role);
  if (o == Qt::Horizontal) return section < table_->fields().size() ? table_->fields()[section].name : QString();
  return section + 1;
}

Qt::ItemFlags TDbModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (table_ && index.isValid() && table_->whyReadOnly(index.column()).isEmpty()) f |= Qt::ItemIsEditable;
  return f;
}

bool TDbModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!table_ || !index.isValid() || role != Qt::EditRole) return false;
  const QString text = value.toString();
  if (text == data(index, Qt::EditRole).toString()) return true;
  if (pendingRow_ >= 0 && pendingRow_ != index.row() && !post()) return false;
  pendingRow_ = index.row();
  pending_.insert(index.column(), text);
  emit dataChanged(index, index);
  emit editStateChanged();
  return true;
}

bool TDbModel::post() {
  if (pending_.isEmpty()) return true;
  QString error;
  if (!table_->writeRecord(pendingRow_, pending_, &error)) {
    emit message(error);
    return false;
  }
  const int row = pendingRow_;
  pending_.clear();
  pendingRow_ = -1;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  emit editStateChanged();
  return true;
}

void TDbModel::cancel() {
  if (pending_.isEmpty()) return;
  const int row = pendingRow_;
  pending_.clear();
  pendingRow_ = -1;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  emit editStateChanged();
}

void TDbModel::refresh() {
  beginResetModel();
  endResetModel();
}

TDBGrid::TDBGrid(QWidget *parent) : QTableView(parent), model_(new TDbModel(this)) {
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  QFont titles = horizontalHeader()->font();
  titles.setBold(true);
  horizontalHeader()->setFont(titles);
  setWordWrap(false);
}

void TDBGrid::setTable(TDbTable *table) {
  model_->setTable(table);
  if (!table) return;
  // Digits are wider than the average character, and dates and numbers are mostly digits.
  const int ch = std::max(fontMetrics().averageCharWidth(), fontMetrics().horizontalAdvance(QLatin1Char('0')));
  const QFontMetrics titles(horizontalHeader()->font());
  for (int i = 0; i < table->fields().size(); ++i) {
    const TDbField &f = table->fields()[i];
    setColumnHidden(i, !f.visible);
    const int w = std::max(titles.horizontalAdvance(f.name) + 12, std::min(f.displayWidth, 40) * ch + 12);
    setColumnWidth(i, w);
  }
  if (model_->rowCount() > 0) {
    const QVector<int> v = visibleFields();
    setCurrentIndex(model_->index(0, v.isEmpty() ? 0 : v.first()));
  }
}

QVector<int> TDBGrid::visibleFields() const {
  QVector<int> out;
  for (int i = 0; i < model_->columnCount(); ++i)
    if (!isColumnHidden(i)) out << i;
  return out;
}

bool TDBGrid::showsTitles() const { return !horizontalHeader()->isHidden(); }

int TDBGrid::currentRecord() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

bool TDBGrid::goToRecord(int row) {
  const int n = model_->rowCount();
  if (n == 0) return true;
  row = std::clamp(row, 0, n - 1);
  if (model_->hasPendingEdits() && row != model_->pendingRow() && !model_->post()) return false;
  int col = currentIndex().isValid() ? currentIndex().column() : -1;
  if (col < 0) {
    const QVector<int> v = visibleFields();
    col = v.isEmpty() ? 0 : v.first();
  }
  setCurrentIndex(model_->index(row, col));
  scrollTo(currentIndex());
  return true;
}

void TDBGrid::finishCellEdit(bool keep) {
  if (state() != QAbstractItemView::EditingState) return;
  QWidget *ed = QApplication::focusWidget();
  if (!ed || !viewport()->isAncestorOf(ed)) return;
  if (keep) commitData(ed);
  closeEditor(ed, keep ? QAbstractItemDelegate::NoHint : QAbstractItemDelegate::RevertModelCache);
}

bool TDBGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) {
  if (index.isValid() && model_->table() && (trigger & editTriggers()) && !(model_->flags(index) & Qt::ItemIsEditable)) {
    emit model_->message(model_->table()->whyReadOnly(index.column()));
    return false;
  }
  return QTableView::edit(index, trigger, event);
}

void TDBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
  // Leaving a record with edits posts them; when the table refuses, the grid stays on that record.
  if (!restoring_ && model_->hasPendingEdits() && current.isValid() && current.row() != model_->pendingRow()) {
    if (!model_->post()) {
      restoring_ = true;
      setCurrentIndex(model_->index(model_->pendingRow(), previous.isValid() ? previous.column() : 0));
      restoring_ = false;
      return;
    }
  }
  QTableView::currentChanged(current, previous);
}

namespace {
struct NavButton {
  const char *name, *hint;
  QStyle::StandardPixmap icon;
};
const NavButton kButtons[] = {
    {"First", "First record", QStyle::SP_MediaSkipBackward}, {"Prior", "Prior record", QStyle::SP_MediaSeekBackward},
    {"Next", "Next record", QStyle::SP_MediaSeekForward},    {"Last", "Last record", QStyle::SP_MediaSkipForward},
    {"Post", "Post edit", QStyle::SP_DialogApplyButton},     {"Cancel", "Cancel edit", QStyle::SP_DialogCancelButton},
    {"Refresh", "Refresh data", QStyle::SP_BrowserReload},
};
}  // namespace

TDBNavigator::TDBNavigator(QWidget *parent) : QWidget(parent) {
  auto *lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  for (const NavButton &b : kButtons) {
    auto *t = new QToolButton(this);
    t->setObjectName(QLatin1String(b.name));
    t->setIcon(style()->standardIcon(b.icon));
    t->setToolTip(QLatin1String(b.hint));
    t->setAccessibleName(QLatin1String(b.hint));
    t->setFocusPolicy(Qt::NoFocus);
    t->setAutoRaise(false);
    lay->addWidget(t);
    buttons_ << t;
    const QString name = QLatin1String(b.name);
    connect(t, &QToolButton::clicked, this, [this, name] {
      if (!grid_ || !grid_->table()) return;
      TDbModel *m = grid_->dbModel();
      const int row = grid_->currentRecord();
      if (name == QLatin1String("First")) grid_->goToRecord(0);
      else if (name == QLatin1String("Prior")) grid_->goToRecord(row - 1);
      else if (name == QLatin1String("Next")) grid_->goToRecord(row + 1);
      else if (name == QLatin1String("Last")) grid_->goToRecord(m->rowCount() - 1);
      else if (name == QLatin1String("Post")) {
        grid_->finishCellEdit(true);
        m->post();
      } else if (name == QLatin1String("Cancel")) {
        grid_->finishCellEdit(false);
        m->cancel();
      } else if (name == QLatin1String("Refresh")) {
        grid_->finishCellEdit(true);
        if (m->post()) {
          const QModelIndex cur = grid_->currentIndex();
          m->refresh();
          grid_->setCurrentIndex(m->index(cur.row(), cur.column()));
        }
      }
      updateButtons();
    });
  }
  updateButtons();
}

void TDBNavigator::setGrid(TDBGrid *grid) {
  grid_ = grid;
  connect(grid->dbModel(), &TDbModel::editStateChanged, this, &TDBNavigator::updateButtons);
  connect(grid->dbModel(), &QAbstractItemModel::modelReset, this, &TDBNavigator::updateButtons);
  connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this, &TDBNavigator::updateButtons);
  updateButtons();
}

void TDBNavigator::setShowHint(bool on) {
  showHint_ = on;
  for (int i = 0; i < buttons_.size(); ++i) buttons_[i]->setToolTip(on ? QLatin1String(kButtons[i].hint) : QString());
}

QToolButton *TDBNavigator::button(const QString &name) const {
  for (QToolButton *b : buttons_)
    if (b->objectName() == name) return b;
  return nullptr;
}

void TDBNavigator::updateButtons() {
  const bool open = grid_ && grid_->table();
  const int n = open ? grid_->dbModel()->rowCount() : 0, row = open ? grid_->currentRecord() : -1;
  const bool editing = open && grid_->dbModel()->hasPendingEdits();
  for (QToolButton *b : buttons_) {
    const QString name = b->objectName();
    bool on = open;
    if (name == QLatin1String("First") || name == QLatin1String("Prior")) on = open && row > 0;
    else if (name == QLatin1String("Next") || name == QLatin1String("Last")) on = open && row >= 0 && row < n - 1;
    else if (name == QLatin1String("Post") || name == QLatin1String("Cancel")) on = editing;
    b->setEnabled(on);
  }
}
