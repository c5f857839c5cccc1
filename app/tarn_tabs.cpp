// Folder tabs of the two browser pairs: View's tab items and their keys, the view marks that follow a
// switch, and the tabs kept in the settings store from one run to the next.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSplitter>
#include <QToolButton>

#include "app/tarn.h"
#include "controls/foldertabs.h"
#include "controls/shelllist.h"

namespace {
const char kSettings[] = "Settings";
const char *const kTabItems[] = {"NewTab1", "CloseTab1", "NextTab1", "PreviousTab1", "Back1", "Forward1", "LockTab1"};
}  // namespace

TFolderTabs *TTarn::activeTabs() const {
  // Keys come from the pair that has the focus; the menu acts on the pair marked active.
  const QWidget *focus = QApplication::focusWidget();
  if (focus && PTSplitter2 && PTSplitter2->isAncestorOf(focus)) return FolderTabs2;
  if (focus && PTSplitter1->isAncestorOf(focus)) return FolderTabs1;
  return secondPairActive() ? FolderTabs2 : FolderTabs1;
}

void TTarn::wireFolderTabs() {
  const auto on = [this](const char *name, std::function<void(TFolderTabs *)> run) {
    QAction *a = item(QLatin1String(name));
    // The keys belong to the file lists and trees: in a viewer, Ctrl+Tab and Alt+arrows stay the viewer's.
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    PTSplitter1->addAction(a);
    PTSplitter2->addAction(a);
    connect(a, &QAction::triggered, this, [this, run] { run(activeTabs()); });
  };
  on("NewTab1", [](TFolderTabs *t) { t->addFolderTab(QString()); });
  on("CloseTab1", [](TFolderTabs *t) { t->closeFolderTab(t->currentIndex()); });
  on("NextTab1", [](TFolderTabs *t) { t->stepTab(1); });
  on("PreviousTab1", [](TFolderTabs *t) { t->stepTab(-1); });
  on("Back1", [](TFolderTabs *t) { t->goBack(); });
  on("Forward1", [](TFolderTabs *t) { t->goForward(); });
  on("LockTab1", [this](TFolderTabs *t) { t->setLocked(t->currentIndex(), checked("LockTab1")); });
  connect(viewMenu_, &QMenu::aboutToShow, this, [this] {
    TFolderTabs *t = activeTabs();
    item("LockTab1")->setChecked(t->isLocked(t->currentIndex()));
    item("CloseTab1")->setEnabled(t->count() > 1);
    item("Back1")->setEnabled(t->canGoBack());
    item("Forward1")->setEnabled(t->canGoForward());
  });
  // Keys do not open the menu: while it is closed every item is enabled, and an item with nothing to do
  // does nothing.
  connect(viewMenu_, &QMenu::aboutToHide, this, [this] {
    for (const char *name : kTabItems) item(QLatin1String(name))->setEnabled(true);
  });
  connect(FolderTabs1, &TFolderTabs::switched, this, [this] { folderTabSwitched(0); });
  connect(FolderTabs2, &TFolderTabs::switched, this, [this] { folderTabSwitched(1); });
}

void TTarn::folderTabSwitched(int pair) {
  // The tab has put its view style into the list: the marks of that pair's view items follow.
  const int tag = (pair ? PTShellList2 : PTShellList1)->ViewStyle();
  for (QAction *a : pair ? secondViewItems_ : viewItems_) a->setChecked(a->data().toInt() == tag);
  if (pair == 0) state.CurrentViewStyle = tag;
  if ((pair == 1) == secondPairActive())
    for (QToolButton *b : viewButtons_) b->setChecked(b->property("Tag").toInt() == tag);
}

void TTarn::restoreFolderTabs() {
  int current = 0;
  const QList<TFolderTabs::Tab> first = TFolderTabs::decode(Reg.ReadString(kSettings, "Tabs1", QString()), &current);
  if (first.size() > 1) FolderTabs1->restore(first, current, state.CurrentFolder);
  const QList<TFolderTabs::Tab> second = TFolderTabs::decode(Reg.ReadString(kSettings, "Tabs2", QString()), &current);
  if (second.size() > 1) FolderTabs2->restore(second, current, QString());
}

void TTarn::saveFolderTabs() {
  Reg.WriteString(kSettings, "Tabs1", TFolderTabs::encode(FolderTabs1->folderTabs(), FolderTabs1->currentIndex()));
  Reg.WriteString(kSettings, "Tabs2", TFolderTabs::encode(FolderTabs2->folderTabs(), FolderTabs2->currentIndex()));
}
