#include "windows/compare/compareform.h"

#include <QAbstractTableModel>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QThread>

namespace comparing {

namespace {
enum Column { ColName, ColKind, ColLeftSize, ColLeftTime, ColAction, ColRightSize, ColRightTime, ColCount };
constexpr int kSortRole = Qt::UserRole;
constexpr int kRowRole = Qt::UserRole + 1;

// Drawn, not taken from the icon theme: every kind must be told apart at a glance on any desktop.
QIcon makeKindIcon(Kind kind) {
  struct Look {
    QColor colour;
    const char *glyph;
  } looks[kKindCount] = {{QColor(0x2e, 0x7d, 0xd2), "◀"}, {QColor(0x8e, 0x44, 0xad), "▶"},
                         {QColor(0x27, 0x9a, 0x4b), "‹"}, {QColor(0x27, 0x9a, 0x4b), "›"},
                         {QColor(0xd3, 0x54, 0x00), "≠"}, {QColor(0xc0, 0x39, 0x2b), "?"},
                         {QColor(0x95, 0xa5, 0xa6), "="}, {QColor(0x2c, 0x3e, 0x50), "!"}};
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(looks[int(kind)].colour);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  QFont f = p.font();
  f.setPixelSize(13);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(pm.rect(), Qt::AlignCenter, QString::fromUtf8(looks[int(kind)].glyph));
  p.end();
  return QIcon(pm);
}

QString typeSuffix(const Side &s) {
  switch (s.type) {
    case EntryType::Folder: return QCoreApplication::translate("compare", "folder");
    case EntryType::Link: return QCoreApplication::translate("compare", "link");
    case EntryType::Other: return QCoreApplication::translate("compare", "special");
    default: return {};
  }
}
}  // namespace

class TCompareModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  QVector<Row> rows;
  QVector<Action> actions;

  // Kept by the model, not in a static: pixmaps must go before the application object does.
  const QIcon &icon(Kind kind) const {
    QIcon &i = icons_[int(kind)];
    if (i.isNull()) i = makeKindIcon(kind);
    return i;
  }

  void reset(QVector<Row> r) {
    beginResetModel();
    rows = std::move(r);
    actions.resize(rows.size());
    for (int i = 0; i < rows.size(); ++i) actions[i] = defaultAction(rows[i]);
    names_.clear();
    endResetModel();
  }
  void setAction(int i, Action a) {
    if (i < 0 || i >= rows.size() || !allowed(rows[i], a) || actions[i] == a) return;
    actions[i] = a;
    emit dataChanged(index(i, ColAction), index(i, ColAction));
  }

  int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(rows.size()); }
  int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : ColCount; }

  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char *titles[ColCount] = {"Name",   "State",      "Left size",     "Left modified",
                                           "Action", "Right size", "Right modified"};
    return QCoreApplication::translate("compare", titles[section]);
  }

  Qt::ItemFlags flags(const QModelIndex &i) const override {
    Qt::ItemFlags f = QAbstractTableModel::flags(i);
    if (i.column() == ColAction && rows[i.row()].kind != Kind::Equal && rows[i.row()].kind != Kind::Unreadable)
      f |= Qt::ItemIsEditable;
    return f;
  }

  QVariant data(const QModelIndex &i, int role) const override {
    const Row &r = rows[i.row()];
    if (role == kRowRole) return i.row();
    const Side &side = i.column() <= ColLeftTime ? r.left : r.right;
    switch (i.column()) {
      case ColName:
        if (role == Qt::DisplayRole || role == kSortRole) return name(i.row());
        if (role == Qt::ToolTipRole && !r.problem.isEmpty()) return r.problem;
        break;
      case ColKind:
        if (role == Qt::DisplayRole) return kindText(r.kind);
        if (role == Qt::DecorationRole) return icon(r.kind);
        if (role == kSortRole) return int(r.kind);
        if (role == Qt::ToolTipRole) return r.problem.isEmpty() ? QVariant() : r.problem;
        break;
      case ColLeftSize:
      case ColRightSize:
        if (role == kSortRole) return side.exists() ? side.size : -1;
        if (role == Qt::DisplayRole && side.exists())
          return side.type == EntryType::File ? QLocale().toString(side.size) : typeSuffix(side);
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
      case ColLeftTime:
      case ColRightTime:
        if (role == kSortRole) return side.exists() ? side.mtimeNs : -1;
        if (role == Qt::DisplayRole && side.exists() && side.type != EntryType::Folder)
          return QDateTime::fromMSecsSinceEpoch(side.mtimeNs / 1000000).toString("yyyy-MM-dd HH:mm:ss");
        break;
      case ColAction:
        if (role == Qt::DisplayRole || role == kSortRole) return actionText(actions[i.row()]);
        if (role == Qt::EditRole) return int(actions[i.row()]);
        break;
    }
    return {};
  }

  bool setData(const QModelIndex &i, const QVariant &v, int role) override {
    if (i.column() != ColAction || role != Qt::EditRole) return false;
    setAction(i.row(), Action(v.toInt()));
    return true;
  }

 private:
  const QString &name(int row) const {
    if (names_.isEmpty()) names_.resize(rows.size());
    QString &n = names_[row];
    if (n.isNull()) n = platform::displayPath(rows[row].rel);
    return n;
  }
  mutable QIcon icons_[kKindCount];
  mutable QVector<QString> names_;  // made as rows are painted: 100,000 up front would cost a second
};

namespace {
// The Action cell's chooser: only the actions the row allows.
class ActionDelegate : public QStyledItemDelegate {
 public:
  ActionDelegate(TCompareModel *model, QSortFilterProxyModel *proxy, QObject *parent)
      : QStyledItemDelegate(parent), model_(model), proxy_(proxy) {}
  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const override {
    const Row &row = model_->rows[proxy_->mapToSource(index).row()];
    auto *box = new QComboBox(parent);
    for (Action a : {Action::Skip, Action::CopyToRight, Action::CopyToLeft, Action::DeleteLeft, Action::DeleteRight})
      if (allowed(row, a)) box->addItem(actionText(a), int(a));
    return box;
  }
  void setEditorData(QWidget *editor, const QModelIndex &index) const override {
    auto *box = static_cast<QComboBox *>(editor);
    box->setCurrentIndex(std::max(0, box->findData(index.data(Qt::EditRole))));
  }
  void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override {
    model->setData(index, static_cast<QComboBox *>(editor)->currentData(), Qt::EditRole);
  }

 private:
  TCompareModel *model_;
  QSortFilterProxyModel *proxy_;
};

class KindFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  bool shown[kKindCount] = {true, true, true, true, true, true, false, true};
  void refilter() { invalidateFilter(); }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex &) const override {
    return shown[int(static_cast<TCompareModel *>(sourceModel())->rows[row].kind)];
  }
};
}  // namespace

}  // namespace comparing

using namespace comparing;

TCompareForm::TCompareForm(TCompareHost &host, const QString &left, const QString &right, QWidget *parent)
    : QDialog(parent), host_(host) {
  setWindowTitle(tr("Compare Folders"));
  setSizeGripEnabled(true);
  auto *top = new QVBoxLayout(this);

  auto *paths = new QGridLayout;
  left_ = new QLineEdit(left, this);
  right_ = new QLineEdit(right, this);
  int line = 0;
  for (auto [box, caption] : {std::pair{left_, tr("&Left:")}, std::pair{right_, tr("&Right:")}}) {
    auto *label = new QLabel(caption, this);
    label->setBuddy(box);
    auto *browse = new QPushButton(tr("..."), this);
    browse->setToolTip(tr("Choose a folder"));
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("...") + 24);
    connect(browse, &QPushButton::clicked, this, [this, box = box] {
      const QString f = host_.chooseFolder(box->text());
      if (!f.isEmpty()) box->setText(f);
    });
    paths->addWidget(label, line, 0);
    paths->addWidget(box, line, 1);
    paths->addWidget(browse, line, 2);
    ++line;
  }
  auto *swap = new QPushButton(tr("S&wap"), this);
  connect(swap, &QPushButton::clicked, this, [this] {
    const QString l = left_->text();
    left_->setText(right_->text());
    right_->setText(l);
  });
  paths->addWidget(swap, 0, 3, 2, 1);
  top->addLayout(paths);

  auto *options = new QHBoxLayout;
  recursive_ = new QCheckBox(tr("Include &subfolders"), this);
  recursive_->setChecked(true);
  content_ = new QCheckBox(tr("Compare c&ontent:"), this);
  contentMode_ = new QComboBox(this);
  contentMode_->addItem(tr("byte by byte"), int(ContentMode::Bytes));
  contentMode_->addItem(tr("SHA-256"), int(ContentMode::Hash));
  contentMode_->setEnabled(false);
  connect(content_, &QCheckBox::toggled, contentMode_, &QWidget::setEnabled);
  fatTimes_ = new QCheckBox(tr("&FAT times (2 s)"), this);
  fatTimes_->setToolTip(tr("Times that differ by up to two seconds count as the same, as FAT stores them"));
  compare_ = new QPushButton(tr("&Compare"), this);
  compare_->setDefault(true);
  connect(compare_, &QPushButton::clicked, this, [this] {
    if (worker_)
      cancel_.store(true);
    else
      startCompare();
  });
  options->addWidget(recursive_);
  options->addWidget(content_);
  options->addWidget(contentMode_);
  options->addWidget(fatTimes_);
  options->addStretch(1);
  options->addWidget(compare_);
  top->addLayout(options);

  // Two rows: with their counts in the texts, eight boxes in one row would push the window past a small screen.
  auto *filters = new QGridLayout;
  filters->addWidget(new QLabel(tr("Show:"), this), 0, 0);
  model_ = new TCompareModel(this);
  auto *proxy = new KindFilter(this);
  proxy_ = proxy;
  for (int k = 0; k < kKindCount; ++k) {
    filters_[k] = new QCheckBox(kindText(Kind(k)), this);
    filters_[k]->setIcon(model_->icon(Kind(k)));
    filters_[k]->setChecked(proxy->shown[k]);
    connect(filters_[k], &QCheckBox::toggled, this, [this, proxy, k](bool on) {
      proxy->shown[k] = on;
      proxy->refilter();
    });
    filters->addWidget(filters_[k], k / 4, 1 + k % 4);
  }
  filters->setColumnStretch(5, 1);
  top->addLayout(filters);

  proxy_->setSourceModel(model_);
  proxy_->setSortRole(kSortRole);
  table_ = new QTableView(this);
  table_->setModel(proxy_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(ColName, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::SelectedClicked);
  table_->setItemDelegateForColumn(ColAction, new ActionDelegate(model_, proxy_, this));
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSectionResizeMode(ColName, QHeaderView::Stretch);
  table_->setWordWrap(false);
  table_->setContextMenuPolicy(Qt::CustomContextMenu);
  top->addWidget(table_, 1);

  auto *actions = new QHBoxLayout;
  actions->addWidget(new QLabel(tr("Selected rows:"), this));
  struct Choice {
    Action action;
    QString caption;
  };
  const Choice choices[] = {{Action::CopyToRight, tr("Copy &→")},
                            {Action::CopyToLeft, tr("&← Copy")},
                            {Action::Skip, tr("S&kip")},
                            {Action::DeleteLeft, tr("Delete l&eft")},
                            {Action::DeleteRight, tr("Delete r&ight")}};
  auto *menu = new QMenu(this);
  for (const Choice &c : choices) {
    auto *b = new QPushButton(c.caption, this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, a = c.action] { setSelectedAction(a); });
    actions->addWidget(b);
    menu->addAction(actionText(c.action), this, [this, a = c.action] { setSelectedAction(a); });
  }
  connect(table_, &QWidget::customContextMenuRequested, this,
          [this, menu](const QPoint &pos) { menu->popup(table_->viewport()->mapToGlobal(pos)); });
  actions->addStretch(1);
  sync_ = new QPushButton(tr("S&ynchronize..."), this);
  sync_->setEnabled(false);
  sync_->setAutoDefault(false);
  connect(sync_, &QPushButton::clicked, this, &TCompareForm::synchronize);
  auto *close = new QPushButton(tr("Close"), this);
  close->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  actions->addWidget(sync_);
  actions->addWidget(close);
  top->addLayout(actions);

  status_ = new QLabel(tr("Choose two folders and press Compare."), this);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(status_);
  resize(1000, 620);
}

TCompareForm::~TCompareForm() {
  cancel_.store(true);
  if (worker_) {
    worker_->wait();
    delete worker_;
  }
  delete run_;  // a run still going is cancelled; the copy engine leaves no partial file
}

const QVector<Row> &TCompareForm::rows() const { return model_->rows; }
const QVector<Action> &TCompareForm::actions() const { return model_->actions; }

void TCompareForm::setAction(int row, Action action) { model_->setAction(row, action); }

void TCompareForm::setSelectedAction(Action action) {
  for (const QModelIndex &i : table_->selectionModel()->selectedRows())
    model_->setAction(proxy_->mapToSource(i).row(), action);
}

void TCompareForm::startCompare() {
  if (worker_ || run_) return;
  const QString l = left_->text().trimmed(), r = right_->text().trimmed();
  if (l.isEmpty() || r.isEmpty()) {
    status_->setText(tr("Both folders are needed."));
    return;
  }
  comparedLeft_ = platform::toNative(l);
  comparedRight_ = platform::toNative(r);
  Options o;
  o.recursive = recursive_->isChecked();
  o.content = content_->isChecked() ? ContentMode(contentMode_->currentData().toInt()) : ContentMode::None;
  if (fatTimes_->isChecked()) o.timeToleranceNs = 2'000'000'000;
  cancel_.store(false);
  pending_ = std::make_shared<Result>();
  auto result = pending_;
  QPointer<QLabel> status = status_;
  const NativePath left = comparedLeft_, right = comparedRight_;
  worker_ = QThread::create([=, this] {
    *result = compareTrees(left, right, o, &cancel_, [status](const Progress &p) {
      const QString text = tr("Comparing... %1 entries, %2 MB read: %3")
                               .arg(p.entries)
                               .arg(p.bytesCompared / 1048576)
                               .arg(platform::displayPath(p.current));
      QMetaObject::invokeMethod(
          status,
          [status, text] {
            if (status) status->setText(text);
          },
          Qt::QueuedConnection);
    });
  });
  connect(worker_, &QThread::finished, this, &TCompareForm::compared);
  compare_->setText(tr("&Stop"));
  sync_->setEnabled(false);
  status_->setText(tr("Comparing..."));
  worker_->start();
}

void TCompareForm::compared() {
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  compare_->setText(tr("&Compare"));
  const Result r = std::move(*pending_);
  pending_.reset();
  if (!r.rootProblem.isEmpty()) {
    model_->reset({});
    status_->setText(r.rootProblem);
    return;
  }
  model_->reset(r.rows);
  table_->resizeColumnToContents(ColKind);
  table_->resizeColumnToContents(ColAction);
  updateCounts();
  if (r.cancelled) status_->setText(tr("Stopped: ") + status_->text());
  sync_->setEnabled(!r.cancelled && !model_->rows.isEmpty());
}

void TCompareForm::updateCounts() {
  int counts[kKindCount] = {};
  for (const Row &r : model_->rows) ++counts[int(r.kind)];
  QStringList parts;
  for (int k = 0; k < kKindCount; ++k) {
    filters_[k]->setText(QStringLiteral("%1 (%2)").arg(kindText(Kind(k))).arg(counts[k]));
    if (counts[k]) parts << QStringLiteral("%1 %2").arg(counts[k]).arg(kindText(Kind(k)).toLower());
  }
  status_->setText(model_->rows.isEmpty() ? tr("Both folders hold the same names, and nothing differs.")
                                          : parts.join(QStringLiteral(", ")) + '.');
}

void TCompareForm::synchronize() {
  if (run_ || worker_) return;
  // Only what the filters show runs: a hidden row is not one the user has looked at.
  QVector<Row> rows;
  QVector<Action> actions;
  for (int i = 0; i < proxy_->rowCount(); ++i) {
    const int row = proxy_->mapToSource(proxy_->index(i, 0)).row();
    rows << model_->rows[row];
    actions << model_->actions[row];
  }
  QVector<Step> steps = planSteps(rows, actions);
  // Tree order, as compared: a folder's rows then come in the order their copies are grouped.
  std::sort(steps.begin(), steps.end(), [](const Step &a, const Step &b) { return a.row.rel < b.row.rel; });
  if (steps.isEmpty()) {
    status_->setText(tr("Nothing to do: every shown row is skipped."));
    return;
  }
  if (!host_.confirmPlan(describe(steps, comparedLeft_, comparedRight_))) return;
  run_ = new TSyncRun(std::move(steps), comparedLeft_, comparedRight_, host_.transferQuestions(), this);
  progress_ = new QProgressDialog(tr("Synchronizing..."), tr("Cancel"), 0, 1000, this);
  progress_->setWindowTitle(tr("Synchronize"));
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(300);
  progress_->setMinimumWidth(480);
  connect(progress_, &QProgressDialog::canceled, run_, &TSyncRun::cancel);
  connect(run_, &TSyncRun::progressChanged, this,
          [this](int step, int steps, const QString &current, qint64 done, qint64 total) {
            const double part = total > 0 ? double(done) / double(total) : 0.0;
            progress_->setValue(int(1000.0 * (step + part) / steps));
            progress_->setLabelText(tr("Step %1 of %2\n%3").arg(step + 1).arg(steps).arg(current));
          });
  connect(run_, &TSyncRun::finished, this, &TCompareForm::syncFinished);
  sync_->setEnabled(false);
  compare_->setEnabled(false);
  run_->start();
}

void TCompareForm::syncFinished(const SyncResult &r) {
  progress_->deleteLater();
  progress_ = nullptr;
  run_->deleteLater();
  run_ = nullptr;
  compare_->setEnabled(true);
  host_.filesChanged();
  startCompare();
  QString text = tr("%1: %2 done, %3 skipped, %4 failed.")
                     .arg(r.cancelled ? tr("Cancelled") : tr("Synchronized"))
                     .arg(r.done)
                     .arg(r.skipped)
                     .arg(r.failed);
  if (!r.errors.isEmpty()) text += ' ' + r.errors.join(' ');
  // Shown above the table until the new comparison reports.
  setWindowTitle(tr("Compare Folders") + QStringLiteral(" — ") + text);
}

void TCompareForm::closeEvent(QCloseEvent *e) {
  if (run_) {  // a half-run plan is never left behind silently
    run_->cancel();
    e->ignore();
    return;
  }
  cancel_.store(true);
  QDialog::closeEvent(e);
}

bool showPlanDialog(QWidget *parent, const QStringList &steps) {
  QDialog d(parent);
  d.setWindowTitle(QCoreApplication::translate("compare", "Synchronize: %n step(s)", nullptr, int(steps.size())));
  auto *l = new QVBoxLayout(&d);
  l->addWidget(new QLabel(QCoreApplication::translate("compare", "These steps will run, in this order:"), &d));
  auto *list = new QPlainTextEdit(steps.join('\n'), &d);
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  l->addWidget(list);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &d);
  buttons->addButton(QCoreApplication::translate("compare", "&Run"), QDialogButtonBox::AcceptRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  l->addWidget(buttons);
  d.resize(760, 420);
  return d.exec() == QDialog::Accepted;
}
