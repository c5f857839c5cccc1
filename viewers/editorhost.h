#pragma once
// What the "Editor" tab needs of the window that holds it.
#include <QString>

// Line-end styles of the Editor "Save Files As" items.
enum class TLineEndStyle { MsDosWin, Mac, Unix };

class TEditorHost {
 public:
  virtual ~TEditorHost() = default;
  // Yes/No question about unsaved text when the program closes; true for Yes.
  virtual bool askSaveChanges(const QString &question) = 0;
  // Another program changed the editor's file since it was loaded or saved: true to overwrite it anyway.
  virtual bool askOverwriteChangedFile(const QString &path) = 0;
  // The window title becomes this text (a click in the editor).
  virtual void setEditorTitle(const QString &title) = 0;
  // The title goes back to the one of the first folder tree (after the editor was cleared).
  virtual void resetTitle() = 0;
  // The favourites file was cleared from the editor: empty the favourites box and load the file again.
  virtual void reloadFavourites() = 0;
  // Word wrap changed: the "&Word Wrap" check mark follows.
  virtual void showWordWrap(bool on) = 0;
  // The line-end style changed: the matching "Save Files As" item is checked, the other two not.
  virtual void showLineEndStyle(TLineEndStyle style) = 0;
};
