#pragma once
// The file list: one folder's items in four view styles (large icons, small icons, list, details).
#include <QPointer>
#include <QStackedWidget>
#include <functional>
#include "controls/shelllistmodel.h"

class QAbstractItemView;
class QListView;
class QTreeView;
class QItemSelectionModel;
class QMenu;
class QMimeData;

// Bits of the list's option set, bit 0 first.
enum TShellListOption : int {
  ptsloAutoFill = 1 << 0,
  ptsloNonFilesystemAncestors = 1 << 1,
  ptsloDesignInteractive = 1 << 2,
  ptsloDefaultKeyHandling = 1 << 3,
  ptsloContextMenus = 1 << 4,
  ptsloDontChangeFolder = 1 << 5,
  ptsloDontGoBelowBase = 1 << 6,
  ptsloDynamicRefresh = 1 << 7,
  ptsloHideFoldersWhenLinkedToTree = 1 << 8,
  ptsloOleDrag = 1 << 9,
  ptsloOleDrop = 1 << 10,
  ptsloFolderContextMenu = 1 << 11,
  ptsloShowHidden = 1 << 12,
};

class TPTShellList : public QStackedWidget {
  Q_OBJECT
 public:
  explicit TPTShellList(QWidget *parent = nullptr);

  // Folder
  QString FolderPath() const { return model_->folder(); }
  void setFolderPath(const QString &path);
  void Refill() { model_->refill(); }
  // Whether the list shows a folder inside an archive (read-only; see controls/archivefolders).
  bool inArchive() const;
  // One folder up: out of an archive's root to the archive's own folder.
  void goUp();
  void RefreshList() { model_->refill(); }
  // Shows the members of the archive file at `path`, as a double click on it does; a damaged or unreadable
  // archive is reported and the list stays. True when it shows the members.
  bool enterArchive(const QString &path);

  QString FileFilter() const { return model_->fileFilter(); }
  void setFileFilter(const QString &mask) { model_->setFileFilter(mask); }
  int Options() const { return options_; }
  void setOptions(int options);
  int ViewStyle() const { return viewStyle_; }
  void setViewStyle(int style);
  // Previews of pictures, PDFs and videos in the large icons and details views (large icons grow for them).
  void setPreviews(bool on);
  bool previews() const { return model_->previews(); }
  // Sorted by this column and order, with the details header showing it.
  void sortBy(int column, Qt::SortOrder order);

  int columnCount() const { return model_->columnCount(); }
  QString columnCaption(int col) const;
  int columnWidth(int col) const;
  // The width the Modified column needs to show its dates whole in the list's current font.
  int modifiedColumnWidth() const;
  void setColumnWidth(int col, int width);
  int itemCount() const { return model_->rowCount(); }

  // The focused item (the one a click picked), or -1.
  int Selected() const;
  QList<int> selectedRows() const;
  QStringList selectedPaths() const;
  void SelectAll();
  void invertSelection();
  void selectName(const QString &name);
  // Exactly these items selected (names not listed are passed over), the focus on `current`.
  void selectNames(const QStringList &names, const QString &current);
  void editName(const QString &name);  // in-place rename of the item with this name
  QString ItemDisplayName(int row) const { return model_->displayName(row); }
  QString ItemFileName(int row) const { return model_->item(row).name; }
  QString ItemSizeText(int row) const { return TShellListModel::sizeText(model_->item(row)); }
  QString ItemModifiedText(int row) const { return TShellListModel::modifiedText(model_->item(row)); }
  const TShellItem &item(int row) const { return model_->item(row); }
  QString itemPath(int row) const { return model_->filePath(row); }
  // Whether one of the views has the focus (the in-place name editor does not count).
  bool hasListFocus() const;
  // Whether an item's name is being edited in place.
  bool isEditingName() const { return !nameEditor_.isNull(); }

  void setPopupMenu(QMenu *menu) { popup_ = menu; }
  TShellListModel *model() const { return model_; }
  QAbstractItemView *currentView() const;

  // Hooks: which items to add, how to paint a name, whether a double click may open the item.
  void setAddItemHook(TShellListModel::AddItemHook hook) { model_->setAddItemHook(std::move(hook)); }
  std::function<void(int row, QFont &font, QColor &color)> OnCustomDrawSh;
  std::function<void(bool &afHandled)> OnDblClickOpen;
  // Whether a double click or Enter on this archive shows its members (unset: it does).
  std::function<bool(const QString &path)> OnEnterArchive;
  // Files dropped on the list (from it or another program): into the folder item under the cursor, or the
  // list's folder. Returns whether the drop was taken.
  std::function<bool(const QMimeData *data, const QString &targetFolder, Qt::DropAction action)> OnDrop;

 signals:
  void OnFillComplete();
  void OnFolderChanged(const QString &path);
  void OnChange();
  void OnClick();
  void OnColumnClick(int column);
  void OnMouseDown();
  void OnMouseMove();
  void OnKeyUp(int key);
  void OnPopupHint(const QString &hint);
  void folderActivated(const QString &path);      // double click on a folder item
  void folderMiddleClicked(const QString &path);  // middle click on a folder item (opens it in a new tab)

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  class DrawDelegate;
  void openItem(int row);
  void wireView(QAbstractItemView *v);

  TShellListModel *model_;
  QTreeView *details_;
  QListView *icons_;
  QItemSelectionModel *selection_;
  QMenu *popup_ = nullptr;
  int options_ = 0;
  int viewStyle_ = 3;
  QPointer<QWidget> nameEditor_;  // the open in-place name editor, kept by the views' delegate
};
