#pragma once
// Tabs over a browser pair's file list: each tab is a folder the user keeps at hand, with its own history
// (back and forward), selection, sort and view style. One list and one tree serve every tab, because the
// rest of the program wires exactly one list per pair: switching tabs puts the tab's state into them. The
// bar shows only while there is more than one tab, so a user who never opens a second one sees the window
// as before.
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTabBar>

class TPTShellList;
class TPTShellTree;

class TFolderTabs : public QTabBar {
  Q_OBJECT
 public:
  struct Tab {
    QString folder;
    QStringList back, forward;  // folders before and after this one, nearest last
    QStringList selected;       // names of the selected items
    QString current;            // name of the focused item
    int sortColumn = 0;
    Qt::SortOrder sortOrder = Qt::AscendingOrder;
    int viewStyle = 3;
    bool locked = false;  // stays on its folder: going elsewhere opens a new tab
  };

  TFolderTabs(TPTShellList *list, TPTShellTree *tree, QWidget *parent = nullptr);

  // A new tab on a folder after the current one; it becomes current unless opened in the background.
  void addFolderTab(const QString &folder, bool makeCurrent = true);
  // Closes a tab, never the last one.
  void closeFolderTab(int index);
  void stepTab(int step);  // +1 next, -1 previous, round
  void goBack();
  void goForward();
  bool canGoBack() const;
  bool canGoForward() const;
  void setLocked(int index, bool locked);
  bool isLocked(int index) const;

  // Every tab as it stands (the current one read from the list), and the current index.
  QList<Tab> folderTabs();
  // Tabs as saved: the folders that still exist, the current one shown. The folder the program started
  // in (when given) stays shown: the saved current tab takes it, or a new tab beside it when that one is
  // locked. Nothing changes when no folder is left.
  void restore(const QList<Tab> &tabs, int current, const QString &startFolder);
  // The tabs as one line of text for the settings store, and back.
  static QString encode(const QList<Tab> &tabs, int current);
  static QList<Tab> decode(const QString &text, int *current);

 signals:
  // A tab was switched to (its view style is in the list): the frame's view marks follow.
  void switched();
  // Tabs were opened, closed, moved, locked or went to another folder: worth saving.
  void tabsChanged();

 protected:
  void mouseReleaseEvent(QMouseEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;

 private:
  void captureCurrent();
  void walk(bool back);  // one step back or forward in the shown tab's history
  void showTab(int index);
  void navigate(const QString &folder);
  void folderChanged(const QString &folder);
  void applySelection();
  void label(int index);

  TPTShellList *list_;
  QPointer<TPTShellTree> tree_;
  QList<Tab> tabs_;      // in the bar's order
  int shown_ = -1;       // the tab whose state the list holds
  bool moving_ = false;  // a folder change made by the tabs themselves (switch, back, forward)
  bool pendingSelection_ = false;
  bool rebuilding_ = false;  // tabs removed or added in bulk: the bar's index changes are no switches
};
