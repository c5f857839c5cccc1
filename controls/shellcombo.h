#pragma once
// The drive combo: mounted volumes; choosing one shows its root in the linked tree.
#include <QComboBox>

class TPTShellTree;

class TPTShellCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TPTShellCombo(QWidget *parent = nullptr);
  void setShellTree(TPTShellTree *tree);
  TPTShellTree *ShellTree() const { return tree_; }
  // Re-reads the mounted volumes and marks the one holding the tree's folder.
  void reload();
  void showVolumeOf(const QString &path);

 signals:
  void OnEnter();

 protected:
  void focusInEvent(QFocusEvent *e) override;

 private:
  TPTShellTree *tree_ = nullptr;
};
