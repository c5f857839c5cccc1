#include "controls/shellcombo.h"
#include <QStorageInfo>
#include "controls/shelltree.h"
#include "platform/volumes.h"

TPTShellCombo::TPTShellCombo(QWidget *parent) : QComboBox(parent) {
  setMaxVisibleItems(16);
  // Long mount paths must not widen the whole left block.
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(8);
  QFont f = font();
  f.setBold(true);
  setFont(f);
  setToolTip(QStringLiteral("Change to another drive"));
  setStatusTip(toolTip());  // the long hint, for the main window's status line
  reload();
  connect(this, QOverload<int>::of(&QComboBox::activated), this, [this](int i) {
    if (tree_) tree_->SelectPath(itemData(i).toString());
  });
}

void TPTShellCombo::setShellTree(TPTShellTree *tree) {
  tree_ = tree;
  connect(tree_, &TPTShellTree::OnChange, this, &TPTShellCombo::showVolumeOf);
}

void TPTShellCombo::reload() {
  const QString current = currentData().toString();
  blockSignals(true);
  clear();
  for (const platform::Volume &v : platform::mountedVolumes()) {
    const QString text = v.rootPath == QLatin1String("/") ? QStringLiteral("/ (File System)")
                                                           : QStringLiteral("%1 (%2)").arg(v.label, v.rootPath);
    addItem(text, v.rootPath);
  }
  const int i = findData(current);
  if (i >= 0) setCurrentIndex(i);
  blockSignals(false);
}

void TPTShellCombo::showVolumeOf(const QString &path) {
  const int i = findData(platform::volumeOf(path).rootPath);
  if (i >= 0) setCurrentIndex(i);
}

void TPTShellCombo::focusInEvent(QFocusEvent *e) {
  emit OnEnter();
  QComboBox::focusInEvent(e);
}
