#pragma once
// The folder tree: the file system's folders from "/", linked to a file list that follows the selection.
#include <QTreeView>

class QFileSystemModel;
class TPTShellList;

class TPTShellTree : public QTreeView {
  Q_OBJECT
 public:
  explicit TPTShellTree(QWidget *parent = nullptr);

  void setShellList(TPTShellList *list) { list_ = list; }
  TPTShellList *ShellList() const { return list_; }
  // Path of the selected folder: "/" for the root, no trailing separator otherwise; empty when none.
  QString SelectedPath() const;
  // Selects (and expands to) a folder; returns false when it is not an existing folder.
  bool SelectPath(const QString &path);
  bool hasSelectedNode() const;
  bool selectedHasParent() const;
  void GoUp();
  void RefreshTree();
  void setShowHidden(bool on);

 signals:
  void OnChange(const QString &path);
  void OnMouseDown();
  void OnMouseMove();
  void OnClick();

 protected:
  void mousePressEvent(QMouseEvent *e) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void wheelEvent(QWheelEvent *e) override;

 private:
  QFileSystemModel *fs_;
  TPTShellList *list_ = nullptr;
  class QTimer *follow_ = nullptr;
  int followTicks_ = 0;
  QString lostFolder_;  // the shown folder while the model removes it
};
