// The "Editor" tab and what it needs from the main window.
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include "app/tarn.h"
#include "browser/panerules.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "viewers/editorhost.h"
#include "viewers/editortab.h"
#include "platform/ask.h"

class TarnEditorHost final : public TEditorHost {
 public:
  explicit TarnEditorHost(TTarn &w) : w(w) {}
  bool askSaveChanges(const QString &question) override { return w.askSaveChanges(question); }
  bool askOverwriteChangedFile(const QString &path) override { return w.askOverwriteChangedFile(path); }
  void setEditorTitle(const QString &title) override { w.setTitle(title); }
  void resetTitle() override { w.setTitle(browser::titleFor(w.PTShellTree1->SelectedPath())); }
  void reloadFavourites() override { w.loadFavourites(); }
  void showWordWrap(bool on) override {
    if (QAction *a = w.item(QStringLiteral("WordWrap"))) a->setChecked(on);
  }
  void showLineEndStyle(TLineEndStyle style) override {
    const QString chosen = style == TLineEndStyle::Mac    ? QStringLiteral("Mac1")
                           : style == TLineEndStyle::Unix ? QStringLiteral("Unix1")
                                                          : QStringLiteral("MsDosWin1");
    for (const char *n : {"MsDosWin1", "Mac1", "Unix1"})
      if (QAction *a = w.item(QLatin1String(n))) a->setChecked(chosen == QLatin1String(n));
  }

 private:
  TTarn &w;
};

bool TTarn::askSaveChanges(const QString &question) {
  return ask::information(this, QApplication::applicationName(), question, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

bool TTarn::askOverwriteChangedFile(const QString &path) {
  return ask::yes(this, QApplication::applicationName(), TLEdit::ChangedOnDiskQuestion(path));
}

void TTarn::buildEditorTab() {
  editorHost_ = std::make_unique<TarnEditorHost>(*this);
  EditorTab = new TEditorTab(*editorHost_, EditorCmd);
  EditorTab->setObjectName(QStringLiteral("EditorTab"));
  LEdit1 = EditorTab->LEdit1;
  EditorCmd->layout()->addWidget(EditorTab);
}
