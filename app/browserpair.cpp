#include "app/browserpair.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include "controls/foldertabs.h"
#include "controls/shellcombo.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"

TBrowserPair makeBrowserPair(QWidget *parent, const TBrowserPairNames &n) {
  TBrowserPair p;
  p.splitter = new QSplitter(Qt::Vertical, parent);
  p.splitter->setObjectName(n.splitter);
  p.splitter->setHandleWidth(2);

  // Each pane is a plain column without margins.
  const auto pane = [&p](int spacing, QVBoxLayout *&lay) {
    auto *w = new QWidget(p.splitter);
    lay = new QVBoxLayout(w);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(spacing);
    return w;
  };
  QVBoxLayout *upperLay = nullptr, *lowerLay = nullptr;
  QWidget *upper = pane(1, upperLay);
  p.header = new QWidget(upper);
  p.header->setObjectName(n.header);
  auto *hdr = new QHBoxLayout(p.header);
  hdr->setContentsMargins(1, 1, 1, 1);
  hdr->setSpacing(4);
  p.combo = new TPTShellCombo(p.header);
  p.combo->setObjectName(n.combo);
  p.combo->setFixedWidth(kDriveComboWidth);
  p.up = new QToolButton(p.header);
  p.up->setObjectName(n.up);
  p.up->setIcon(p.up->style()->standardIcon(QStyle::SP_FileDialogToParent));
  p.up->setAutoRaise(true);
  p.up->setToolTip(QStringLiteral("Up One Level"));
  p.up->setStatusTip(QStringLiteral("Up One Level"));
  p.marker = new QLabel(p.header);
  p.marker->setObjectName(n.marker);
  p.marker->setPixmap(p.marker->style()->standardIcon(QStyle::SP_ArrowRight).pixmap(16, 16));
  p.marker->setToolTip(QStringLiteral("Active file window"));
  p.marker->hide();
  hdr->addWidget(p.combo);
  hdr->addWidget(p.up);
  hdr->addWidget(p.marker);
  hdr->addStretch(1);
  p.tree = new TPTShellTree(upper);
  p.tree->setObjectName(n.tree);
  p.tree->setStatusTip(
      QStringLiteral("Highlight a drive or folder and click right hand mouse button for system options - Find File, "
                     "Explore, Format Disk etc."));
  // The split positions the layouts ask for hold even where the panes' own hints want more room (the
  // drive combo, the status panels): those are clipped rather than pushing the split bar.
  p.tree->setMinimumSize(40, 30);
  p.header->setMinimumWidth(40);
  upperLay->addWidget(p.header);
  upperLay->addWidget(p.tree, 1);

  QWidget *lower = pane(0, lowerLay);
  p.list = new TPTShellList(lower);
  p.list->setObjectName(n.list);
  p.list->setMinimumSize(40, 30);
  p.status = new QStatusBar(lower);
  p.status->setObjectName(n.status);
  p.status->setSizeGripEnabled(false);
  p.status->setStatusTip(QStringLiteral("Single click to refresh file list"));
  const int widths[3] = {100, 65, 50};
  for (int i = 0; i < 3; ++i) {
    p.panels[i] = new QLabel(p.status);
    p.panels[i]->setMinimumWidth(widths[i]);
    p.status->addWidget(p.panels[i], i == 2 ? 1 : 0);
  }
  p.status->setMinimumWidth(40);
  p.tabs = new TFolderTabs(p.list, p.tree, lower);
  p.tabs->setObjectName(n.tabs);
  lowerLay->addWidget(p.tabs);
  lowerLay->addWidget(p.list, 1);
  lowerLay->addWidget(p.status);
  p.splitter->addWidget(upper);
  p.splitter->addWidget(lower);
  p.splitter->setStretchFactor(0, 0);
  p.splitter->setStretchFactor(1, 1);
  p.splitter->setSizes({120, 300});

  p.combo->setShellTree(p.tree);
  p.tree->setShellList(p.list);
  QObject::connect(p.list, &TPTShellList::folderActivated, p.tree, &TPTShellTree::SelectPath);
  return p;
}
