// The file commands of the File menu, the tool bar and the list pop-up on the first browser pair.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QToolButton>
#include "app/tarn.h"
#include "browser/filecommands.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"

namespace {

// The main window as the file commands see it: pair 0 is the first browser pair, pair 1 the second pair of
// the dual file manager.
class TarnFileHost final : public browser::FileCommandHost {
 public:
  explicit TarnFileHost(TTarn &w) : w(w) {}

  bool secondPairActive() const override { return w.secondPairActive(); }

  bool treeHasFocus(int pair) const override {
    const QWidget *f = QApplication::focusWidget();
    return f && (f == tree(pair) || tree(pair)->isAncestorOf(f));
  }

  QString treeFolder(int pair) const override { return tree(pair)->SelectedPath(); }
  QString listFolder(int pair) const override { return list(pair)->FolderPath(); }
  QStringList listSelection(int pair) const override { return list(pair)->selectedPaths(); }
  void selectAll(int pair) override { list(pair)->SelectAll(); }

  void invertSelection(int pair) override {
    QWidget *v = list(pair)->currentView();
    v->setUpdatesEnabled(false);
    list(pair)->invertSelection();
    v->setUpdatesEnabled(true);
  }

  void refresh(int pair) override { list(pair)->Refill(); }

  void beginRename(int pair, const QString &path) override {
    TPTShellList *l = list(pair);
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    // A new folder may not be listed yet: rename once the refill has it.
    if (l->model()->rowOfName(name) >= 0) {
      l->editName(name);
      return;
    }
    afterNextFill(l, [l, name] { l->editName(name); });
  }

  void reveal(const QString &path) override {
    const QString folder = path.left(qMax(1, path.lastIndexOf('/')));
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    TPTShellList *l = w.activeList();
    w.activeTree()->SelectPath(folder);
    afterNextFill(l, [l, name] { l->selectName(name); });
  }

  void openRichTextEditor() override { w.openRichForm(false); }

  QWidget *dialogParent() const override { return &w; }

 private:
  TPTShellTree *tree(int pair) const { return pair == 1 ? w.PTShellTree2 : w.PTShellTree1; }
  TPTShellList *list(int pair) const { return pair == 1 ? w.PTShellList2 : w.PTShellList1; }

  // Runs `then` once, when the list next finishes filling.
  void afterNextFill(TPTShellList *l, std::function<void()> then) {
    auto *conn = new QMetaObject::Connection;
    *conn = QObject::connect(l, &TPTShellList::OnFillComplete, &w, [conn, then = std::move(then)] {
      QObject::disconnect(*conn);
      delete conn;
      then();
    });
  }

  TTarn &w;
};

}  // namespace

void TTarn::setUpFileCommands() {
  fileHost = std::make_unique<TarnFileHost>(*this);
  fileCommands = std::make_unique<browser::TFileCommands>(*fileHost);
  const QList<QPair<const char *, void (browser::TFileCommands::*)()>> map = {
      {"Open3", &browser::TFileCommands::Open3Click},
      {"Find2", &browser::TFileCommands::FindFilesClick},
      {"Copy1", &browser::TFileCommands::Copy1Click},
      {"Move1", &browser::TFileCommands::Cut2Click},
      {"Paste1", &browser::TFileCommands::Paste1Click},
      {"Paste2Mitm", &browser::TFileCommands::Paste1Click},
      {"SelectAll1", &browser::TFileCommands::SelectAll1Click},
      {"SelectAll2", &browser::TFileCommands::SelectAll1Click},
      {"InvertSelection1", &browser::TFileCommands::InvertSelection1Click},
      {"CreateShortcut1", &browser::TFileCommands::CreateShortcut1Click},
      {"Delete1", &browser::TFileCommands::DeleteBtnClick},
      {"Rename1", &browser::TFileCommands::Rename1Click},
      {"Properties2", &browser::TFileCommands::ShowPropertiesClick},
      {"Properties1Mitm", &browser::TFileCommands::ShowPropertiesClick},
      {"NewFolder1Mitm", &browser::TFileCommands::NewFolder1MitmClick},
      {"NewFolder2Mitm", &browser::TFileCommands::NewFolder2MitmClick},
      {"RtfFile1", &browser::TFileCommands::RtfFile1Click},
      {"RtfFile2", &browser::TFileCommands::RtfFile1Click},
      {"Paste3", &browser::TFileCommands::Paste1Click},
      {"Lpopup2NewFolder", &browser::TFileCommands::Lpopup2NewFolderClick},
      {"RtfFile3", &browser::TFileCommands::RtfFile1Click},
      {"SelectAll3", &browser::TFileCommands::SelectAll1Click},
      {"Properties3", &browser::TFileCommands::ShowPropertiesClick},
      {"UndoFiles1", &browser::TFileCommands::UndoClick},
  };
  for (const auto &[name, slot] : map) {
    connect(item(name), &QAction::triggered, fileCommands.get(), slot);
  }
  const QList<QPair<QToolButton *, void (browser::TFileCommands::*)()>> buttons = {
      {FindFiles, &browser::TFileCommands::FindFilesClick},
      {DeleteBtn, &browser::TFileCommands::DeleteBtnClick},
      {NewDir, &browser::TFileCommands::NewFolder1MitmClick},
      {ShowProperties, &browser::TFileCommands::ShowPropertiesClick},
  };
  for (const auto &[b, slot] : buttons) connect(b, &QToolButton::clicked, fileCommands.get(), slot);
  for (TPTShellList *l : {PTShellList1, PTShellList2}) {
    l->model()->setRenameHook(
        [this](const QString &path, const QString &name) { return fileCommands->renameAccepted(path, name); });
    l->OnDrop = [this](const QMimeData *data, const QString &folder, Qt::DropAction action) {
      return fileCommands->dropFiles(data, folder, action);
    };
    // Ctrl+Z undoes file operations only while a list has the focus: the editors keep theirs.
    auto *undo = new QAction(l);
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    undo->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    l->addAction(undo);
    connect(undo, &QAction::triggered, fileCommands.get(), &browser::TFileCommands::UndoClick);
  }
  connect(fileCommands.get(), &browser::TFileCommands::undoChanged, this, [this](const QString &caption, bool on) {
    item("UndoFiles1")->setText(caption + "\tCtrl+Z");
    item("UndoFiles1")->setEnabled(on);
  });
}
