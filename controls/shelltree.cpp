#include "controls/shelltree.h"
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTimer>
#include "controls/fileicons.h"
#include "controls/shelllist.h"

TPTShellTree::TPTShellTree(QWidget *parent) : QTreeView(parent), fs_(new QFileSystemModel(this)) {
  fs_->setIconProvider(new TFolderIconProvider);  // without one a bare desktop shows no icons at all
  fs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  fs_->setRootPath(QStringLiteral("/"));
  fs_->setReadOnly(true);
  setModel(fs_);
  for (int c = 1; c < fs_->columnCount(); ++c) hideColumn(c);
  header()->hide();
  setIndentation(19);
  setUniformRowHeights(true);
  setMouseTracking(true);
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &cur) {
    if (!cur.isValid()) return;
    const QString path = SelectedPath();
    if (list_) list_->setFolderPath(path);
    emit OnChange(path);
  });
  connect(this, &QTreeView::clicked, this, [this] { emit OnClick(); });
  follow_ = new QTimer(this);
  follow_->setInterval(150);
  connect(follow_, &QTimer::timeout, this, [this] {
    if (--followTicks_ <= 0) follow_->stop();
    if (currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
  });
  // Another program may delete the shown folder (or one above it): the tree and its list then move to the
  // nearest folder that is left, rather than showing nothing.
  connect(fs_, &QFileSystemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &parent, int first, int last) {
    for (QModelIndex i = currentIndex(); i.isValid(); i = i.parent())
      if (i.parent() == parent && i.row() >= first && i.row() <= last) {
        lostFolder_ = SelectedPath();
        return;
      }
  });
  connect(fs_, &QFileSystemModel::rowsRemoved, this, [this] {
    if (lostFolder_.isEmpty() || QFileInfo(lostFolder_).isDir()) {  // a folder only filtered out stays put
      lostFolder_.clear();
      return;
    }
    QTimer::singleShot(0, this, [this, path = lostFolder_]() mutable {
      while (path.size() > 1 && !QFileInfo(path).isDir()) path = QFileInfo(path).path();
      SelectPath(path);
    });
    lostFolder_.clear();
  });
  // Folders load lazily: once the parents of a folder selected by path arrive, show it.
  connect(fs_, &QFileSystemModel::directoryLoaded, this, [this] {
    if (currentIndex().isValid()) {
      for (QModelIndex p = currentIndex().parent(); p.isValid(); p = p.parent()) expand(p);
      if (followTicks_ > 0) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
    }
  });
}

QString TPTShellTree::SelectedPath() const {
  const QModelIndex cur = currentIndex();
  if (!cur.isValid()) return {};
  const QString p = fs_->filePath(cur);
  return p.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(p);
}

bool TPTShellTree::SelectPath(const QString &path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  if (!QFileInfo(clean).isDir()) return false;
  const QModelIndex idx = fs_->index(clean);
  if (!idx.isValid()) return false;
  for (QModelIndex p = idx.parent(); p.isValid(); p = p.parent()) expand(p);
  setCurrentIndex(idx);
  scrollTo(idx);
  // The model fills and sorts the parents later, moving rows; keep the folder in sight for a moment
  // unless the user takes over.
  followTicks_ = 10;
  follow_->start();
  return true;
}

bool TPTShellTree::hasSelectedNode() const { return currentIndex().isValid(); }
bool TPTShellTree::selectedHasParent() const { return currentIndex().isValid() && currentIndex().parent().isValid(); }

void TPTShellTree::GoUp() {
  const QModelIndex cur = currentIndex();
  if (cur.isValid() && cur.parent().isValid()) {
    setCurrentIndex(cur.parent());
    scrollTo(cur.parent());
  }
}

void TPTShellTree::RefreshTree() {
  // The model watches the folders it shows; forcing the current folder's parent to be re-read picks up
  // changes made while the watch was saturated.
  const QString path = SelectedPath();
  fs_->setRootPath(QString());
  fs_->setRootPath(QStringLiteral("/"));
  if (!path.isEmpty()) SelectPath(path);
}

void TPTShellTree::setShowHidden(bool on) {
  fs_->setFilter(on ? QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden : QDir::AllDirs | QDir::NoDotAndDotDot);
}

void TPTShellTree::wheelEvent(QWheelEvent *e) {
  followTicks_ = 0;
  QTreeView::wheelEvent(e);
}

void TPTShellTree::mousePressEvent(QMouseEvent *e) {
  followTicks_ = 0;
  emit OnMouseDown();
  QTreeView::mousePressEvent(e);
}

void TPTShellTree::mouseMoveEvent(QMouseEvent *e) {
  emit OnMouseMove();
  QTreeView::mouseMoveEvent(e);
}
