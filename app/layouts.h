#pragma once
// The main window's layouts: full screen viewers (F6), tree/list view (F11), the tree beside or above the
// list (F12), the 50/50 split, the status bars (F7) and the dual file manager (F9). It owns the layout
// state; the menu marks follow it, never the other way round. It only shows, hides and sizes what the
// main window built: the first browser pair, the viewers (Panel1) and the second pair.
#include <QString>

class QSplitter;
class TTarn;

class TLayouts {
 public:
  explicit TLayouts(TTarn &w);
  // Connects the layout commands (menu items and tool buttons) once the window has built them.
  void wire();

  bool fullScreen() const { return fullScreen_; }
  bool treeListView() const { return treeView_; }
  bool dualFileManager() const { return dual_; }
  // The left block's width to store in the settings: the one before full screen while it is on.
  int leftBlockWidthToStore() const;

  void FullScreen1Click();
  void TreeView1Click();
  void DualFileManager1Click();
  void DualTreeView();
  void VerticalClick();
  void Cbox5Click();
  void StatusBar1DblClick();
  // Gives one list the other's column widths: from the first list's pop-up (fromPair 0) the first list
  // takes the second's, from the second's pop-up the other way round.
  void Columns1Click(int fromPair);
  // Shows the pair's marker and hides the other (only while the second pair is shown).
  void markActivePair(int pair);

  // Sets a pair's arrangement (side by side or tree above list) and the size of its first pane.
  static void setPairStyle(QSplitter *pair, bool sideBySide, int split);
  // Gives the left block (the first pair) this width; the visible one of viewers and second pair takes the rest.
  void setLeftBlockWidth(int width);
  int leftBlockWidthNow() const;

 private:
  void keepTreeSelectionInView();
  bool secondPairShown() const;

  TTarn &w_;
  bool fullScreen_ = false, treeView_ = false, dual_ = false;
  int savedLeftWidth_ = 0, savedSplit_ = 0;  // the first pair's, kept while tree/list view is on
  int fullScreenLeftWidth_ = 0;
  QString secondFolder_;  // the second pair's folder when the dual file manager last closed (empty before)
  bool secondWasActive_ = false;  // while tree/list view is entered from the dual file manager
  bool viewersWereDisabled_ = false;  // "Disable Viewers" as the user had it before a layout took it over
};
