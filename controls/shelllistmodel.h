#pragma once
// The file list's model: one folder's entries, read on a worker thread so that huge folders never
// freeze the window, filtered (mask, hidden files, the owner's add-item hook) without re-reading.
#include <QAbstractTableModel>
#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QIcon>
#include <QRegularExpression>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class TFileIconCache;
class TThumbnailQueue;
class QTimer;

struct TShellItem {
  QString name;
  qint64 size = 0;
  qint64 mtime = 0;  // seconds since the epoch
  uint mode = 0;
  bool isDir = false;
  bool isLink = false;
  bool hidden = false;
  bool executable = false;
};

// Attribute bit the add-item hook sees for folders (the shell's folder attribute).
constexpr uint kShellAttrFolder = 0x20000000;

class TShellListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { NameCol, SizeCol, TypeCol, ModifiedCol, AttributesCol, ColumnCount = AttributesCol };
  using AddItemHook = std::function<bool(const TShellItem &item, uint attribs)>;  // false refuses the item

  explicit TShellListModel(QObject *parent = nullptr);
  ~TShellListModel() override;

  // Starts reading a folder; fillComplete() follows once all of it is in the model.
  void setFolder(const QString &path);
  QString folder() const { return folder_; }
  void refill();  // re-read the same folder

  void setFileFilter(const QString &mask);
  QString fileFilter() const { return filter_; }
  void setShowHidden(bool on);
  bool showHidden() const { return showHidden_; }
  void setDynamicRefresh(bool on);
  bool dynamicRefresh() const { return dynamic_; }
  void setAddItemHook(AddItemHook hook) { addHook_ = std::move(hook); }
  // In-place renames go through the owner's file commands, which check and report; true when renamed.
  using RenameHook = std::function<bool(const QString &path, const QString &newName)>;
  void setRenameHook(RenameHook hook) { renameHook_ = std::move(hook); }
  // Folders the file system does not hold (an archive's, say): fills items and answers true for a folder
  // it knows. Runs on the reading thread.
  using FolderSource = std::function<bool(const QString &folder, QVector<TShellItem> *items)>;
  void setFolderSource(FolderSource source) { source_ = std::move(source); }
  bool isLoading() const { return loading_; }
  // Desktop-shell options: file names without their extension, and an "Attributes" column.
  void setHideExtensions(bool on);
  bool hideExtensions() const { return hideExt_; }
  void setShowAttributes(bool on);
  bool showAttributes() const { return showAttribs_; }
  // Previews of pictures, PDFs and videos in place of their type icons, made in the background.
  void setPreviews(bool on);
  bool previews() const { return thumbs_ != nullptr; }
  TThumbnailQueue *previewQueue() const { return thumbs_; }
  // The name as shown: without its extension for files while extensions are hidden.
  QString displayName(int row) const;
  static QString attributesText(const TShellItem &item);

  const TShellItem &item(int row) const { return all_[rows_[row]]; }
  QString filePath(int row) const;
  int rowOfName(const QString &name) const;

  static QString sizeText(const TShellItem &item);
  static QString modifiedText(const TShellItem &item);
  static QString typeText(const TShellItem &item);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  void sort(int column, Qt::SortOrder order) override;
  int sortColumn() const { return sortColumn_; }
  Qt::SortOrder sortOrder() const { return sortOrder_; }
  QStringList mimeTypes() const override;
  QMimeData *mimeData(const QModelIndexList &indexes) const override;

 signals:
  void folderChanged(const QString &path);
  void fillComplete();
  void itemsChanged();

 private:
  void applyItems(quint64 generation, QVector<TShellItem> items, const QString &folder, bool refresh, bool fromSource);
  void rebuildRows();
  void sortRows();
  bool accepts(const TShellItem &item) const;

  QString folder_;
  QString filter_ = QStringLiteral("*");
  QRegularExpression maskRe_;
  bool showHidden_ = true;
  bool dynamic_ = true;
  bool loading_ = false;
  bool hideExt_ = false;
  bool showAttribs_ = false;
  int sortColumn_ = NameCol;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  quint64 generation_ = 0;
  QVector<TShellItem> all_;
  QVector<int> rows_;
  AddItemHook addHook_;
  RenameHook renameHook_;
  FolderSource source_;
  QFileSystemWatcher *watcher_ = nullptr;
  QTimer *refreshTimer_ = nullptr;
  TFileIconCache *fileIcons_ = nullptr;
  TThumbnailQueue *thumbs_ = nullptr;
  bool fromSource_ = false;  // the folder came from the folder source (an archive's): no previews
  mutable QHash<QString, QString> typeCache_;
  std::shared_ptr<std::atomic<quint64>> liveGeneration_;
  QList<QFuture<void>> readers_;
};
