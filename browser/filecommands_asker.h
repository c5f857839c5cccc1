#pragma once
// Every question the file commands ask the user goes through TFileAsker, so that tests can answer for the
// user; TMessageBoxAsker is the real one with message boxes and the conflict dialog.
#include "platform/fileops.h"

class QWidget;

namespace browser {

class TFileAsker : public platform::TransferQuestions {
 public:
  enum class PermanentDelete { Yes, YesToAll, No, Cancel };
  // Yes/No confirmation; true for Yes.
  virtual bool confirm(const QString &title, const QString &text) = 0;
  // Asked when an item cannot go to the Trash.
  virtual PermanentDelete confirmPermanentDelete(const QString &text) = 0;
  // A message the user only acknowledges.
  virtual void inform(const QString &title, const QString &text) = 0;
  // Parent for the questions; may change with the active window.
  void setParentWidget(QWidget *parent) { parent_ = parent; }
  QWidget *parentWidget() const { return parent_; }

 protected:
  QWidget *parent_ = nullptr;
};

class TMessageBoxAsker : public TFileAsker {
 public:
  bool confirm(const QString &title, const QString &text) override;
  PermanentDelete confirmPermanentDelete(const QString &text) override;
  void inform(const QString &title, const QString &text) override;
  platform::ConflictReply askConflict(const platform::ConflictQuestion &q) override;
  platform::ErrorAnswer askError(const platform::ErrorQuestion &q) override;
};

}  // namespace browser
