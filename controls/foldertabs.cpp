#include "controls/foldertabs.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMouseEvent>

#include "controls/archivefolders.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"

namespace {

constexpr int kHistory = 50;  // folders kept each way per tab

// The nearest folder of `path` that still exists (an archive folder counts while its archive is there).
QString existing(QString path) {
  while (path.size() > 1 && !QFileInfo(path).isDir()) {
    QString archive;
    if (TArchiveFolders::split(path, &archive, nullptr) && QFileInfo(archive).isFile()) return path;
    path = QFileInfo(path).path();
  }
  return path.isEmpty() ? QStringLiteral("/") : path;
}

}  // namespace

TFolderTabs::TFolderTabs(TPTShellList *list, TPTShellTree *tree, QWidget *parent)
    : QTabBar(parent), list_(list), tree_(tree) {
  setMovable(true);
  setTabsClosable(true);
  setDocumentMode(true);
  setExpanding(false);
  setElideMode(Qt::ElideMiddle);
  setUsesScrollButtons(true);
  setFocusPolicy(Qt::NoFocus);  // keys stay with the list
  tabs_.append(Tab{});
  addTab(QString());
  shown_ = 0;
  hide();

  connect(list_, &TPTShellList::OnFolderChanged, this, &TFolderTabs::folderChanged);
  connect(list_, &TPTShellList::OnFillComplete, this, [this] {
    if (pendingSelection_) applySelection();
  });
  connect(list_, &TPTShellList::folderMiddleClicked, this, [this](const QString &path) { addFolderTab(path, false); });
  connect(this, &QTabBar::currentChanged, this, [this](int index) {
    if (rebuilding_ || index < 0 || index == shown_ || index >= tabs_.size()) return;
    captureCurrent();
    showTab(index);
  });
  connect(this, &QTabBar::tabCloseRequested, this, &TFolderTabs::closeFolderTab);
  connect(this, &QTabBar::tabMoved, this, [this](int from, int to) {
    tabs_.move(from, to);
    shown_ = currentIndex();
    emit tabsChanged();
  });
}

void TFolderTabs::captureCurrent() {
  if (shown_ < 0 || shown_ >= tabs_.size()) return;
  Tab &t = tabs_[shown_];
  t.selected.clear();
  for (int row : list_->selectedRows()) t.selected << list_->ItemFileName(row);
  t.current = list_->Selected() >= 0 ? list_->ItemFileName(list_->Selected()) : QString();
  t.sortColumn = list_->model()->sortColumn();
  t.sortOrder = list_->model()->sortOrder();
  t.viewStyle = list_->ViewStyle();
}

void TFolderTabs::showTab(int index) {
  shown_ = index;
  const Tab &t = tabs_[index];
  list_->setViewStyle(t.viewStyle);
  list_->sortBy(t.sortColumn, t.sortOrder);
  pendingSelection_ = true;
  if (t.folder.isEmpty() || t.folder == list_->FolderPath())
    applySelection();
  else
    navigate(t.folder);
  emit switched();
}

void TFolderTabs::navigate(const QString &folder) {
  const QString to = existing(folder);
  if (shown_ >= 0 && tabs_[shown_].folder != to) {
    tabs_[shown_].folder = to;  // the folder went away meanwhile: the tab takes the nearest one left
    label(shown_);
  }
  // The tree knows no archive folders, and selecting its current folder again changes nothing: the list
  // then moves by itself.
  if (TArchiveFolders::isArchiveFolder(to) || !tree_ || tree_->SelectedPath() == to)
    list_->setFolderPath(to);
  else
    tree_->SelectPath(to);
}

void TFolderTabs::folderChanged(const QString &folder) {
  if (shown_ < 0 || shown_ >= tabs_.size()) return;
  Tab &t = tabs_[shown_];
  if (folder == t.folder) return;  // where the tabs sent it, or the same folder read again
  if (t.folder.isEmpty()) {
    t.folder = folder;
    label(shown_);
    emit tabsChanged();
    return;
  }
  if (t.locked) {
    // A locked tab keeps its folder: the new one opens in a tab of its own beside it.
    Tab n;
    n.folder = folder;
    n.back = QStringList{t.folder};
    n.sortColumn = t.sortColumn;
    n.sortOrder = t.sortOrder;
    n.viewStyle = list_->ViewStyle();
    const int at = shown_ + 1;
    tabs_.insert(at, n);
    shown_ = at;  // before the bar's current changes, so that the switch does not move the list back
    insertTab(at, QString());
    label(at);
    setCurrentIndex(at);
    setVisible(count() > 1);
    emit tabsChanged();
    return;
  }
  t.back << t.folder;
  while (t.back.size() > kHistory) t.back.removeFirst();
  t.forward.clear();
  t.folder = folder;
  label(shown_);
  emit tabsChanged();
}

void TFolderTabs::applySelection() {
  if (shown_ < 0) return;
  const Tab &t = tabs_[shown_];
  if (list_->FolderPath() != t.folder) return;  // a fill of the folder before: wait for this one's
  pendingSelection_ = false;
  if (!t.selected.isEmpty() || !t.current.isEmpty()) list_->selectNames(t.selected, t.current);
}

void TFolderTabs::label(int index) {
  const Tab &t = tabs_[index];
  QString name = QFileInfo(t.folder).fileName();
  if (name.isEmpty()) name = t.folder.isEmpty() ? QStringLiteral("/") : t.folder;
  setTabText(index, name);
  setTabToolTip(index, t.locked ? tr("%1 (locked)").arg(t.folder) : t.folder);
  setTabIcon(index, t.locked ? QIcon::fromTheme(QStringLiteral("changes-prevent"),
                                                QIcon::fromTheme(QStringLiteral("object-locked")))
                             : QIcon());
}

void TFolderTabs::addFolderTab(const QString &folder, bool makeCurrent) {
  captureCurrent();
  Tab n;
  n.folder = existing(folder.isEmpty() ? list_->FolderPath() : folder);
  n.sortColumn = list_->model()->sortColumn();
  n.sortOrder = list_->model()->sortOrder();
  n.viewStyle = list_->ViewStyle();
  const int at = currentIndex() + 1;
  tabs_.insert(at, n);
  if (shown_ >= at) ++shown_;
  insertTab(at, QString());
  label(at);
  setVisible(count() > 1);
  if (makeCurrent) setCurrentIndex(at);
  emit tabsChanged();
}

void TFolderTabs::closeFolderTab(int index) {
  if (count() <= 1 || index < 0 || index >= tabs_.size()) return;
  if (index == shown_) {
    // Show the neighbour first, so that the list never holds the state of a tab that is gone.
    const int next = index + 1 < count() ? index + 1 : index - 1;
    setCurrentIndex(next);
  }
  tabs_.removeAt(index);
  rebuilding_ = true;  // the bar's removal moves the current index: take it as it is, without a switch
  removeTab(index);
  rebuilding_ = false;
  shown_ = currentIndex();
  setVisible(count() > 1);
  emit tabsChanged();
}

void TFolderTabs::stepTab(int step) {
  if (count() > 1) setCurrentIndex((currentIndex() + step + count()) % count());
}

bool TFolderTabs::canGoBack() const { return shown_ >= 0 && !tabs_[shown_].back.isEmpty(); }
bool TFolderTabs::canGoForward() const { return shown_ >= 0 && !tabs_[shown_].forward.isEmpty(); }

void TFolderTabs::goBack() { walk(true); }
void TFolderTabs::goForward() { walk(false); }

void TFolderTabs::walk(bool back) {
  if (back ? !canGoBack() : !canGoForward()) return;
  captureCurrent();
  Tab &t = tabs_[shown_];
  QStringList &from = back ? t.back : t.forward;
  (back ? t.forward : t.back) << t.folder;
  t.folder = from.takeLast();
  t.selected.clear();
  t.current.clear();
  label(shown_);
  navigate(t.folder);
  emit tabsChanged();
}

void TFolderTabs::setLocked(int index, bool locked) {
  if (index < 0 || index >= tabs_.size() || tabs_[index].locked == locked) return;
  tabs_[index].locked = locked;
  label(index);
  emit tabsChanged();
}

bool TFolderTabs::isLocked(int index) const { return index >= 0 && index < tabs_.size() && tabs_[index].locked; }

QList<TFolderTabs::Tab> TFolderTabs::folderTabs() {
  captureCurrent();
  return tabs_;
}

void TFolderTabs::restore(const QList<Tab> &saved, int current, const QString &start) {
  QList<Tab> kept;
  int keptCurrent = 0;
  for (int i = 0; i < saved.size(); ++i) {
    if (!QFileInfo(saved[i].folder).isDir()) continue;  // archive folders and folders gone are not reopened
    if (i == current) keptCurrent = kept.size();
    kept << saved[i];
  }
  if (kept.isEmpty()) return;
  if (!start.isEmpty() && kept[keptCurrent].folder != start) {
    if (kept[keptCurrent].locked) {
      Tab n = kept[keptCurrent];
      n.locked = false;
      n.back.clear();
      n.forward.clear();
      n.folder = start;
      kept.insert(++keptCurrent, n);
    } else {
      kept[keptCurrent].back << kept[keptCurrent].folder;
      kept[keptCurrent].folder = start;
    }
  }
  for (Tab &t : kept) {
    t.selected.clear();
    t.current.clear();
  }
  rebuilding_ = true;
  while (count() > 0) removeTab(0);
  tabs_ = kept;
  for (int i = 0; i < tabs_.size(); ++i) {
    addTab(QString());
    label(i);
  }
  setCurrentIndex(keptCurrent);
  rebuilding_ = false;
  setVisible(count() > 1);
  showTab(keptCurrent);
}

QString TFolderTabs::encode(const QList<Tab> &tabs, int current) {
  QJsonArray list;
  for (const Tab &t : tabs) {
    list.append(QJsonObject{{QStringLiteral("folder"), t.folder},
                            {QStringLiteral("locked"), t.locked},
                            {QStringLiteral("view"), t.viewStyle},
                            {QStringLiteral("sort"), t.sortColumn},
                            {QStringLiteral("descending"), t.sortOrder == Qt::DescendingOrder}});
  }
  const QJsonObject all{{QStringLiteral("current"), current}, {QStringLiteral("tabs"), list}};
  return QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact));
}

QList<TFolderTabs::Tab> TFolderTabs::decode(const QString &text, int *current) {
  QList<Tab> tabs;
  const QJsonObject all = QJsonDocument::fromJson(text.toUtf8()).object();
  for (const QJsonValue &v : all.value(QStringLiteral("tabs")).toArray()) {
    const QJsonObject o = v.toObject();
    Tab t;
    t.folder = o.value(QStringLiteral("folder")).toString();
    if (t.folder.isEmpty()) continue;
    t.locked = o.value(QStringLiteral("locked")).toBool();
    t.viewStyle = qBound(0, o.value(QStringLiteral("view")).toInt(3), 3);
    t.sortColumn = qMax(0, o.value(QStringLiteral("sort")).toInt());
    t.sortOrder = o.value(QStringLiteral("descending")).toBool() ? Qt::DescendingOrder : Qt::AscendingOrder;
    tabs << t;
  }
  if (current) *current = qBound(0, all.value(QStringLiteral("current")).toInt(), qMax(0, int(tabs.size()) - 1));
  return tabs;
}

void TFolderTabs::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() == Qt::MiddleButton) {
    const int at = tabAt(event->position().toPoint());
    if (at >= 0) {
      closeFolderTab(at);
      return;
    }
  }
  QTabBar::mouseReleaseEvent(event);
}

void TFolderTabs::contextMenuEvent(QContextMenuEvent *event) {
  const int at = tabAt(event->pos());
  QMenu menu(this);
  menu.addAction(tr("New Tab"), this, [this, at] { addFolderTab(at >= 0 ? tabs_[at].folder : QString()); });
  QAction *close = menu.addAction(tr("Close Tab"), this, [this, at] { closeFolderTab(at); });
  close->setEnabled(at >= 0 && count() > 1);
  QAction *lock = menu.addAction(tr("Lock Tab"), this, [this, at](bool on) { setLocked(at, on); });
  lock->setCheckable(true);
  lock->setChecked(isLocked(at));
  lock->setEnabled(at >= 0);
  menu.exec(event->globalPos());
}
