#include "controls/shelllistmodel.h"
#include "controls/fileicons.h"
#include "controls/thumbnails.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QMimeData>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstring>
#include <cstdio>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Folder reading runs on a pool of its own: Qt's painting splits large fills across the global pool, and
// two lists reading big folders at once would otherwise hold all its threads and stall every repaint.
QThreadPool &folderReaders() {
  static QThreadPool *pool = [] {
    auto *p = new QThreadPool;
    p->setMaxThreadCount(4);
    return p;
  }();
  return *pool;
}

// Reads a folder's entries with one stat per entry; runs on a worker thread.
QVector<TShellItem> readFolder(const QString &path, const std::shared_ptr<std::atomic<quint64>> &live, quint64 gen) {
  QVector<TShellItem> items;
  const QByteArray native = QFile::encodeName(path);
  DIR *dir = ::opendir(native.constData());
  if (!dir) return items;
  const int fd = ::dirfd(dir);
  items.reserve(1024);
  while (dirent *e = ::readdir(dir)) {
    const char *n = e->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    if ((items.size() & 4095) == 0 && live->load() != gen) break;  // superseded by a newer request
    struct stat st {};
    TShellItem it;
    if (::fstatat(fd, n, &st, 0) != 0) {
      if (::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    }
    it.isLink = e->d_type == DT_LNK || (e->d_type == DT_UNKNOWN && S_ISLNK(st.st_mode));
    it.name = QFile::decodeName(QByteArray(n));
    it.isDir = S_ISDIR(st.st_mode);
    it.size = it.isDir ? 0 : st.st_size;
    it.mtime = st.st_mtim.tv_sec;
    it.mode = st.st_mode;
    it.hidden = n[0] == '.';
    it.executable = !it.isDir && (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH));
    items.push_back(std::move(it));
  }
  ::closedir(dir);
  return items;
}

QRegularExpression maskToRegex(const QString &masks) {
  QStringList parts;
  for (const QString &m : masks.split(';', Qt::SkipEmptyParts))
    parts << QRegularExpression::wildcardToRegularExpression(m.trimmed(),
                                                             QRegularExpression::UnanchoredWildcardConversion);
  return QRegularExpression("^(?:" + parts.join('|') + ")$", QRegularExpression::CaseInsensitiveOption);
}

}  // namespace

TShellListModel::TShellListModel(QObject *parent)
    : QAbstractTableModel(parent), liveGeneration_(std::make_shared<std::atomic<quint64>>(0)) {
  fileIcons_ = new TFileIconCache(this);
  connect(fileIcons_, &TFileIconCache::iconsChanged, this, [this] {
    if (!rows_.isEmpty()) emit dataChanged(index(0, NameCol), index(rows_.size() - 1, NameCol), {Qt::DecorationRole});
  });
  watcher_ = new QFileSystemWatcher(this);
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  refreshTimer_->setInterval(250);  // gathers bursts of changes into one re-read
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (dynamic_) refreshTimer_->start();
  });
  connect(refreshTimer_, &QTimer::timeout, this, &TShellListModel::refill);
}

TShellListModel::~TShellListModel() {
  // Readers still running would post to a destroyed model: stop them and wait.
  liveGeneration_->store(~0ull);
  for (QFuture<void> &f : readers_) f.waitForFinished();
}

void TShellListModel::setPreviews(bool on) {
  if (on == (thumbs_ != nullptr)) return;
  if (on) {
    thumbs_ = new TThumbnailQueue(this);
    connect(thumbs_, &TThumbnailQueue::ready, this, [this](const QString &path) {
      const QFileInfo fi(path);
      if (fi.path() != folder_) return;
      const int row = rowOfName(fi.fileName());
      if (row >= 0) emit dataChanged(index(row, NameCol), index(row, NameCol), {Qt::DecorationRole});
    });
  } else {
    delete thumbs_;
    thumbs_ = nullptr;
  }
  if (!rows_.isEmpty()) emit dataChanged(index(0, NameCol), index(rows_.size() - 1, NameCol), {Qt::DecorationRole});
}

void TShellListModel::setFolder(const QString &path) {
  const QString clean = path.isEmpty() ? QString() : QDir::cleanPath(path);
  const bool refresh = clean == folder_;
  if (!refresh) {
    if (!folder_.isEmpty()) watcher_->removePath(folder_);
    fileIcons_->clearContent();
    if (thumbs_) thumbs_->clearRequests();
    folder_ = clean;
    if (!folder_.isEmpty() && dynamic_ && QFileInfo(folder_).isDir()) watcher_->addPath(folder_);
  }
  const quint64 gen = ++generation_;
  liveGeneration_->store(gen);
  loading_ = true;
  auto live = liveGeneration_;
  const QString f = folder_;
  readers_.removeIf([](const QFuture<void> &r) { return r.isFinished(); });
  readers_ << QtConcurrent::run(&folderReaders(), [this, f, gen, live, refresh, source = source_] {
    QVector<TShellItem> items;
    const bool fromSource = source && source(f, &items);
    if (!fromSource) items = readFolder(f, live, gen);
    if (live->load() != gen) return;
    QMetaObject::invokeMethod(
        this,
        [this, gen, items = std::move(items), f, refresh, fromSource]() mutable {
          applyItems(gen, std::move(items), f, refresh, fromSource);
        },
        Qt::QueuedConnection);
  });
  if (!refresh) {
    beginResetModel();
    all_.clear();
    rows_.clear();
    endResetModel();
    emit folderChanged(folder_);
  }
}

void TShellListModel::refill() { setFolder(folder_); }

void TShellListModel::applyItems(quint64 generation, QVector<TShellItem> items, const QString &folder, bool refresh,
                                 bool fromSource) {
  if (generation != generation_ || folder != folder_) return;
  fromSource_ = fromSource;
  beginResetModel();
  all_ = std::move(items);
  rebuildRows();
  endResetModel();
  loading_ = false;
  emit itemsChanged();
  emit fillComplete();
}

bool TShellListModel::accepts(const TShellItem &it) const {
  if (it.hidden && !showHidden_) return false;
  if (!it.isDir && filter_ != QLatin1String("*") && !filter_.isEmpty()) {
    if (!maskRe_.match(it.name).hasMatch()) return false;
  }
  if (addHook_ && !addHook_(it, it.isDir ? kShellAttrFolder : 0u)) return false;
  return true;
}

void TShellListModel::rebuildRows() {
  rows_.clear();
  rows_.reserve(all_.size());
  for (int i = 0; i < all_.size(); ++i)
    if (accepts(all_[i])) rows_.push_back(i);
  sortRows();
}

void TShellListModel::sortRows() {
  const auto &a = all_;
  const int col = sortColumn_;
  const bool asc = sortOrder_ == Qt::AscendingOrder;
  auto byName = [&a](int x, int y) { return QString::compare(a[x].name, a[y].name, Qt::CaseInsensitive) < 0; };
  auto less = [&](int x, int y) {
    switch (col) {
      case SizeCol: return a[x].size != a[y].size ? a[x].size < a[y].size : byName(x, y);
      case TypeCol: {
        const int c = QString::compare(typeText(a[x]), typeText(a[y]), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : byName(x, y);
      }
      case ModifiedCol: return a[x].mtime != a[y].mtime ? a[x].mtime < a[y].mtime : byName(x, y);
      default: return byName(x, y);
    }
  };
  std::stable_sort(rows_.begin(), rows_.end(), [&](int x, int y) {
    // Folders stay ahead of files whatever the column, as in every desktop file manager.
    if (a[x].isDir != a[y].isDir) return a[x].isDir;
    // Descending is the same order with the operands swapped: names equal but for case stay a strict
    // order either way.
    return asc ? less(x, y) : less(y, x);
  });
}

void TShellListModel::sort(int column, Qt::SortOrder order) {
  sortColumn_ = column;
  sortOrder_ = order;
  emit layoutAboutToBeChanged();
  // The selection and the focus are persistent indexes: they must follow their items to their new rows,
  // or a sort would leave other files selected than the user picked (and a Delete would take those).
  const QModelIndexList before = persistentIndexList();
  QVector<int> items;
  items.reserve(before.size());
  for (const QModelIndex &i : before) items << (i.row() >= 0 && i.row() < rows_.size() ? rows_[i.row()] : -1);
  sortRows();
  QVector<int> rowOfItem(all_.size(), -1);
  for (int r = 0; r < rows_.size(); ++r) rowOfItem[rows_[r]] = r;
  QModelIndexList after;
  after.reserve(before.size());
  for (int k = 0; k < before.size(); ++k)
    after << (items[k] >= 0 ? index(rowOfItem[items[k]], before[k].column()) : QModelIndex());
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

void TShellListModel::setFileFilter(const QString &mask) {
  const QString m = mask.trimmed().isEmpty() ? QStringLiteral("*") : mask.trimmed();
  if (m == filter_) return;
  filter_ = m;
  maskRe_ = maskToRegex(m);
  beginResetModel();
  rebuildRows();
  endResetModel();
  emit itemsChanged();
  emit fillComplete();
}

void TShellListModel::setShowHidden(bool on) {
  if (on == showHidden_) return;
  showHidden_ = on;
  beginResetModel();
  rebuildRows();
  endResetModel();
  emit itemsChanged();
  emit fillComplete();
}

void TShellListModel::setDynamicRefresh(bool on) {
  dynamic_ = on;
  if (folder_.isEmpty()) return;
  if (on && !watcher_->directories().contains(folder_) && QFileInfo(folder_).isDir()) watcher_->addPath(folder_);
  if (!on) watcher_->removePath(folder_);
}

QString TShellListModel::filePath(int row) const {
  if (row < 0 || row >= rows_.size()) return {};
  return folder_ == QLatin1String("/") ? "/" + item(row).name : folder_ + "/" + item(row).name;
}

int TShellListModel::rowOfName(const QString &name) const {
  for (int r = 0; r < rows_.size(); ++r)
    if (all_[rows_[r]].name == name) return r;
  return -1;
}

QString TShellListModel::sizeText(const TShellItem &it) {
  if (it.isDir) return {};
  // Kilobytes rounded up, as desktop shells show them ("0 KB" only for an empty file).
  const qint64 kb = (it.size + 1023) / 1024;
  return QLocale(QLocale::English).toString(kb) + QStringLiteral(" KB");
}

QString TShellListModel::modifiedText(const TShellItem &it) {
  return QDateTime::fromSecsSinceEpoch(it.mtime).toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QString TShellListModel::typeText(const TShellItem &it) {
  if (it.isDir) return QStringLiteral("File Folder");
  const int dot = it.name.lastIndexOf('.');
  if (dot <= 0) return QStringLiteral("File");
  return it.name.mid(dot + 1).toUpper() + QStringLiteral(" File");
}

int TShellListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : rows_.size(); }
int TShellListModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : ColumnCount + (showAttribs_ ? 1 : 0);
}

void TShellListModel::setHideExtensions(bool on) {
  if (on == hideExt_) return;
  beginResetModel();
  hideExt_ = on;
  endResetModel();
}

void TShellListModel::setShowAttributes(bool on) {
  if (on == showAttribs_) return;
  beginResetModel();
  showAttribs_ = on;
  endResetModel();
}

QString TShellListModel::displayName(int row) const {
  const TShellItem &it = item(row);
  if (!hideExt_ || it.isDir) return it.name;
  const int dot = it.name.lastIndexOf('.');
  return dot > 0 ? it.name.left(dot) : it.name;
}

QString TShellListModel::attributesText(const TShellItem &it) {
  static const char bits[] = "rwxrwxrwx";
  QString s = it.isLink ? QStringLiteral("l") : it.isDir ? QStringLiteral("d") : QStringLiteral("-");
  for (int i = 0; i < 9; ++i) s += (it.mode & (0400u >> i)) ? QChar(bits[i]) : QChar('-');
  return s;
}

QVariant TShellListModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return {};
  const TShellItem &it = item(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      switch (index.column()) {
        case NameCol: return role == Qt::EditRole ? it.name : displayName(index.row());
        case SizeCol: return sizeText(it);
        case TypeCol: return typeText(it);
        case ModifiedCol: return modifiedText(it);
        case AttributesCol: return attributesText(it);
      }
      break;
    case Qt::DecorationRole:
      if (index.column() != NameCol) break;
      // Asked only for what a view paints, so the previews on screen are made first.
      if (thumbs_ && !fromSource_ && S_ISREG(it.mode) && thumbs::canMake(it.name)) {
        const QIcon preview = thumbs_->get(filePath(index.row()), it.mtime);
        if (!preview.isNull()) return preview;
      }
      return fileIcons_->icon(filePath(index.row()), it.name, it.isDir, S_ISREG(it.mode));
    case Qt::TextAlignmentRole:
      if (index.column() == SizeCol) return int(Qt::AlignRight | Qt::AlignVCenter);
      break;
    case Qt::ToolTipRole: return filePath(index.row());
  }
  return {};
}

QVariant TShellListModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char *names[] = {"Name", "Size", "Type", "Modified", "Attributes"};
  return section >= 0 && section < columnCount() ? QString::fromLatin1(names[section]) : QVariant();
}

Qt::ItemFlags TShellListModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (!index.isValid()) return f;
  f |= Qt::ItemIsDragEnabled;
  if (index.column() == NameCol) f |= Qt::ItemIsEditable;
  return f;
}

bool TShellListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (role != Qt::EditRole || index.column() != NameCol || !index.isValid()) return false;
  const QString newName = value.toString();
  if (newName == item(index.row()).name || !renameHook_ || !renameHook_(filePath(index.row()), newName)) return false;
  all_[rows_[index.row()]].name = newName;
  emit dataChanged(index, index);
  emit itemsChanged();
  return true;
}

QStringList TShellListModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData *TShellListModel::mimeData(const QModelIndexList &indexes) const {
  QList<QUrl> urls;
  QSet<int> seen;
  for (const QModelIndex &i : indexes)
    if (!seen.contains(i.row())) {
      seen.insert(i.row());
      urls << QUrl::fromLocalFile(filePath(i.row()));
    }
  auto *m = new QMimeData;
  m->setUrls(urls);
  return m;
}
