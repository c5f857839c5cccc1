#include "controls/shelllist.h"
#include "controls/archivefolders.h"
#include "platform/shellverbs.h"
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QDropEvent>
#include <QMessageBox>
#include <QStyledItemDelegate>
#include <QTreeView>
#include "platform/ask.h"

namespace {
constexpr int kLargePreview = 96;    // large icons with previews: the cache's 128 pixels, a little smaller
constexpr int kDetailsPreview = 32;  // a details row with previews
}  // namespace

// Lets the owner change font and colour of a name just before it is painted.
class TPTShellList::DrawDelegate : public QStyledItemDelegate {
 public:
  DrawDelegate(TPTShellList *list) : QStyledItemDelegate(list), list_(list) {}
  void initStyleOption(QStyleOptionViewItem *opt, const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(opt, index);
    if (index.column() != 0 || !list_->OnCustomDrawSh) return;
    QFont font = opt->font;
    QColor color;
    list_->OnCustomDrawSh(index.row(), font, color);
    opt->font = font;
    if (color.isValid()) opt->palette.setColor(QPalette::Text, color);
  }
  // The list must know while a name is being edited in place: the keys of that edit are not list keys.
  QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    list_->nameEditor_ = editor;
    return editor;
  }
  void destroyEditor(QWidget *editor, const QModelIndex &index) const override {
    if (list_->nameEditor_ == editor) list_->nameEditor_ = nullptr;
    // A refused name is reported in a message box, which has the focus when the edit closes: the list takes
    // it back when its window is active again, instead of whatever control comes first.
    if (editor->window()->focusWidget() == editor) list_->currentView()->setFocus();
    QStyledItemDelegate::destroyEditor(editor, index);
  }

 private:
  TPTShellList *list_;
};

TPTShellList::TPTShellList(QWidget *parent) : QStackedWidget(parent), model_(new TShellListModel(this)) {
  details_ = new QTreeView(this);
  details_->setRootIsDecorated(false);
  details_->setUniformRowHeights(true);  // keeps layout cost flat for folders of any size
  details_->setItemsExpandable(false);
  details_->setSortingEnabled(true);
  details_->sortByColumn(0, Qt::AscendingOrder);
  details_->setAllColumnsShowFocus(true);
  details_->header()->setStretchLastSection(false);
  details_->header()->setSectionsMovable(false);
  icons_ = new QListView(this);
  icons_->setUniformItemSizes(true);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setLayoutMode(QListView::Batched);
  icons_->setBatchSize(2000);
  details_->setModel(model_);
  icons_->setModel(model_);
  selection_ = details_->selectionModel();
  icons_->setSelectionModel(selection_);
  for (QAbstractItemView *v : {static_cast<QAbstractItemView *>(details_), static_cast<QAbstractItemView *>(icons_)})
    wireView(v);
  addWidget(details_);
  addWidget(icons_);
  details_->setColumnWidth(0, 150);
  details_->setColumnWidth(1, 70);
  details_->setColumnWidth(2, 90);
  details_->setColumnWidth(3, qMax(110, modifiedColumnWidth()));
  connect(details_->header(), &QHeaderView::sectionClicked, this, &TPTShellList::OnColumnClick);
  connect(model_, &TShellListModel::fillComplete, this, &TPTShellList::OnFillComplete);
  connect(model_, &TShellListModel::folderChanged, this, &TPTShellList::OnFolderChanged);
  connect(model_, &TShellListModel::itemsChanged, this, &TPTShellList::OnChange);
  setOptions(ptsloAutoFill | ptsloNonFilesystemAncestors | ptsloDefaultKeyHandling | ptsloContextMenus |
             ptsloDynamicRefresh | ptsloOleDrag | ptsloOleDrop | ptsloFolderContextMenu | ptsloShowHidden);
  setViewStyle(3);
  model_->setFolderSource([](const QString &folder, QVector<TShellItem> *items) {
    if (!TArchiveFolders::isArchiveFolder(folder)) return false;
    QString error;  // reported when the archive was entered; a listing gone bad since shows empty
    TArchiveFolders::shared().items(folder, items, &error);
    return true;
  });
}

bool TPTShellList::inArchive() const { return TArchiveFolders::isArchiveFolder(FolderPath()); }

void TPTShellList::goUp() {
  const QString parent = QFileInfo(FolderPath()).absolutePath();
  if (parent == FolderPath()) return;
  if (inArchive()) {
    // The tree knows no archive folders: the list moves itself, and tells the tree once it is out.
    setFolderPath(parent);
    if (!TArchiveFolders::isArchiveFolder(parent)) emit folderActivated(parent);
    return;
  }
  emit folderActivated(parent);
}

void TPTShellList::wireView(QAbstractItemView *v) {
  v->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Whole rows in every view: the icon views would select only the name's cell, which selectedRows() and
  // isRowSelected() do not count.
  v->setSelectionBehavior(QAbstractItemView::SelectRows);
  v->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  v->setDragEnabled(true);
  v->setDragDropMode(QAbstractItemView::DragDrop);
  v->setDefaultDropAction(Qt::CopyAction);
  v->viewport()->setAcceptDrops(true);
  v->setContextMenuPolicy(Qt::CustomContextMenu);
  v->setMouseTracking(true);
  v->installEventFilter(this);
  v->viewport()->installEventFilter(this);
  v->setItemDelegate(new DrawDelegate(this));
  connect(v, &QAbstractItemView::clicked, this, [this] { emit OnClick(); });
  connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &i) { openItem(i.row()); });
  connect(v, &QWidget::customContextMenuRequested, this, [this, v](const QPoint &p) {
    if (popup_) popup_->popup(v->viewport()->mapToGlobal(p));
  });
}

bool TPTShellList::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto *d = static_cast<QDropEvent *>(event);
      if (OnDrop && (options_ & ptsloOleDrop) && d->mimeData()->hasUrls()) {
        d->acceptProposedAction();
        return true;
      }
      break;
    }
    case QEvent::Drop: {
      auto *d = static_cast<QDropEvent *>(event);
      if (!OnDrop || !(options_ & ptsloOleDrop)) break;
      QString target = FolderPath();
      const QModelIndex at = currentView()->indexAt(d->position().toPoint());
      if (at.isValid() && model_->item(at.row()).isDir) target = model_->filePath(at.row());
      if (OnDrop(d->mimeData(), target, d->dropAction())) d->acceptProposedAction();
      return true;
    }
    case QEvent::MouseButtonPress: emit OnMouseDown(); break;
    case QEvent::MouseButtonRelease: {
      auto *m = static_cast<QMouseEvent *>(event);
      if (m->button() != Qt::MiddleButton || watched != currentView()->viewport()) break;
      const QModelIndex at = currentView()->indexAt(m->position().toPoint());
      if (at.isValid() && model_->item(at.row()).isDir) {
        emit folderMiddleClicked(model_->filePath(at.row()));
        return true;
      }
      break;
    }
    case QEvent::MouseMove: emit OnMouseMove(); break;
    case QEvent::KeyRelease: emit OnKeyUp(static_cast<QKeyEvent *>(event)->key()); break;
    case QEvent::KeyPress: {
      auto *k = static_cast<QKeyEvent *>(event);
      if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && watched == currentView()) {
        // The Enter that ends an in-place rename reaches the view too, before the edit is committed: it
        // only ends the rename.
        if (isEditingName()) return true;
        if (Selected() >= 0) {
          openItem(Selected());
          return true;
        }
      }
      if (k->key() == Qt::Key_Backspace && watched == currentView()) {
        goUp();
        return true;
      }
      break;
    }
    default: break;
  }
  return QStackedWidget::eventFilter(watched, event);
}

bool TPTShellList::enterArchive(const QString &path) {
  // Read here, not on the list's reader, so that a damaged archive is reported before the list changes.
  QString error;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool readable = TArchiveFolders::shared().listing(path, &error) != nullptr;
  QApplication::restoreOverrideCursor();
  if (!readable) {
    ask::warning(this, QStringLiteral("Archive"), error);
    return false;
  }
  setFolderPath(path);
  return true;
}

void TPTShellList::openItem(int row) {
  if (row < 0 || row >= itemCount()) return;
  const TShellItem &it = item(row);
  const QString path = itemPath(row);
  if (it.isDir) {
    if (inArchive())
      setFolderPath(path);  // a member folder: the tree does not hold it
    else
      emit folderActivated(path);
    return;
  }
  if (!inArchive() && TArchiveFolders::opensAsFolder(it.name) && (!OnEnterArchive || OnEnterArchive(path))) {
    enterArchive(path);
    return;
  }
  if (inArchive()) return;  // members open with a single click, through their copy
  bool handled = false;
  if (OnDblClickOpen) OnDblClickOpen(handled);
  if (handled) return;
  QString error;
  if (!platform::openItem(QFile::encodeName(path), &error)) ask::warning(this, QStringLiteral("Open"), error);
}

void TPTShellList::setFolderPath(const QString &path) { model_->setFolder(path); }

void TPTShellList::sortBy(int column, Qt::SortOrder order) {
  if (column < 0 || column >= model_->columnCount()) return;
  details_->sortByColumn(column, order);  // the header's indicator moves with it, and the model sorts
  model_->sort(column, order);
}

void TPTShellList::setOptions(int options) {
  options_ = options;
  model_->setShowHidden(options & ptsloShowHidden);
  model_->setDynamicRefresh(options & ptsloDynamicRefresh);
}

void TPTShellList::setPreviews(bool on) {
  model_->setPreviews(on);
  setViewStyle(viewStyle_);
}

void TPTShellList::setViewStyle(int styleNo) {
  viewStyle_ = qBound(0, styleNo, 3);
  const bool previews = model_->previews();
  // A preview in a details row is still small, but a picture can be told apart at this size.
  details_->setIconSize(previews ? QSize(kDetailsPreview, kDetailsPreview) : QSize());
  if (viewStyle_ == 3) {
    setCurrentWidget(details_);
    return;
  }
  const int large = previews ? kLargePreview : QWidget::style()->pixelMetric(QStyle::PM_LargeIconSize);
  const int small = QWidget::style()->pixelMetric(QStyle::PM_SmallIconSize);
  icons_->setViewMode(viewStyle_ == 0 ? QListView::IconMode : QListView::ListMode);
  icons_->setIconSize(viewStyle_ == 0 ? QSize(large, large) : QSize(small, small));
  // Small icons flow across, the list flows down in columns.
  icons_->setFlow(viewStyle_ == 2 ? QListView::TopToBottom : QListView::LeftToRight);
  icons_->setWrapping(true);
  const QSize grid = previews ? QSize(large + 40, large + 40) : QSize(large * 2 + 24, large + 36);
  icons_->setGridSize(viewStyle_ == 0 ? grid : QSize());
  icons_->setWordWrap(viewStyle_ == 0);
  icons_->setMovement(QListView::Static);
  setCurrentWidget(icons_);
}

QString TPTShellList::columnCaption(int col) const {
  return model_->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
}
int TPTShellList::columnWidth(int col) const { return details_->columnWidth(col); }

int TPTShellList::modifiedColumnWidth() const {
  // A date as the list writes it; the digits of a font share one width, so any date measures like all.
  TShellItem sample;
  sample.mtime = QDateTime(QDate(2000, 12, 28), QTime(23, 58)).toSecsSinceEpoch();
  // Measured as the views measure a cell: the style adds its margins to the text.
  QStyleOptionViewItem opt;
  opt.initFrom(details_);
  opt.font = details_->font();
  opt.fontMetrics = QFontMetrics(opt.font);
  opt.features = QStyleOptionViewItem::HasDisplay;
  opt.text = TShellListModel::modifiedText(sample);
  const QStyle *style = details_->style();
  return style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), details_).width() +
         style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, details_);
}
void TPTShellList::setColumnWidth(int col, int width) {
  if (width > 0) details_->setColumnWidth(col, width);
}

QAbstractItemView *TPTShellList::currentView() const {
  return viewStyle_ == 3 ? static_cast<QAbstractItemView *>(details_) : static_cast<QAbstractItemView *>(icons_);
}

int TPTShellList::Selected() const {
  const QModelIndex cur = selection_->currentIndex();
  if (cur.isValid() && selection_->isRowSelected(cur.row(), {})) return cur.row();
  const QModelIndexList rows = selection_->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

QList<int> TPTShellList::selectedRows() const {
  QList<int> out;
  for (const QModelIndex &i : selection_->selectedRows()) out << i.row();
  std::sort(out.begin(), out.end());
  return out;
}

QStringList TPTShellList::selectedPaths() const {
  QStringList out;
  for (int r : selectedRows()) out << itemPath(r);
  return out;
}

void TPTShellList::SelectAll() { currentView()->selectAll(); }

void TPTShellList::invertSelection() {
  QItemSelection all(model_->index(0, 0), model_->index(model_->rowCount() - 1, TShellListModel::ColumnCount - 1));
  selection_->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

void TPTShellList::selectName(const QString &name) {
  const int r = model_->rowOfName(name);
  if (r < 0) return;
  const QModelIndex i = model_->index(r, 0);
  selection_->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  currentView()->scrollTo(i);
}

void TPTShellList::selectNames(const QStringList &names, const QString &current) {
  QItemSelection picked;
  for (const QString &name : names) {
    const int r = model_->rowOfName(name);
    if (r >= 0) picked.select(model_->index(r, 0), model_->index(r, model_->columnCount() - 1));
  }
  selection_->select(picked, QItemSelectionModel::ClearAndSelect);
  const int r = model_->rowOfName(current);
  if (r < 0) return;
  const QModelIndex i = model_->index(r, 0);
  selection_->setCurrentIndex(i, QItemSelectionModel::NoUpdate);
  currentView()->scrollTo(i);
}

void TPTShellList::editName(const QString &name) {
  selectName(name);
  const int r = model_->rowOfName(name);
  if (r >= 0) currentView()->edit(model_->index(r, 0));
}

bool TPTShellList::hasListFocus() const {
  // The in-place name editor is not the list: keys typed into a new name are text, not list commands.
  const QWidget *f = QApplication::focusWidget();
  return f && (f == details_ || f == icons_);
}
