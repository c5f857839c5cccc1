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

// The main window as the file commands see it. The second pair of the dual layout is not built yet: pair 1
// answers as an empty pair.
class TarnFileHost final : public browser::FileCommandHost {
 public:
  explicit TarnFileHost(TTarn &w) : w(w) {}

  bool secondPairActive() const override { return false; }

  bool treeHasFocus(int pair) const override {
    const QWidget *f = QApplication::focusWidget();
    return pair == 0 && f && (f == w.PTShellTree1 || w.PTShellTree1->isAncestorOf(f));
  }

  QString treeFolder(int pair) const override { return pair == 0 ? w.PTShellTree1->SelectedPath() : QString(); }
  QString listFolder(int pair) const override { return pair == 0 ? w.PTShellList1->FolderPath() : QString(); }
  QStringList listSelection(int pair) const override {
    return pair == 0 ? w.PTShellList1->selectedPaths() : QStringList();
  }

  void selectAll(int pair) override {
    if (pair == 0) w.PTShellList1->SelectAll();
  }

  void invertSelection(int pair) override {
    if (pair != 0) return;
    QWidget *v = w.PTShellList1->currentView();
    v->setUpdatesEnabled(false);
    w.PTShellList1->invertSelection();
    v->setUpdatesEnabled(true);
  }

  void refresh(int pair) override {
    if (pair == 0) w.PTShellList1->Refill();
  }

  void beginRename(int pair, const QString &path) override {
    if (pair != 0) return;
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    // A new folder may not be listed yet: rename once the refill has it.
    if (w.PTShellList1->model()->rowOfName(name) >= 0) {
      w.PTShellList1->editName(name);
      return;
    }
    afterNextFill([this, name] { w.PTShellList1->editName(name); });
  }

  void reveal(const QString &path) override {
    const QString folder = path.left(qMax(1, path.lastIndexOf('/')));
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    w.PTShellTree1->SelectPath(folder);
    afterNextFill([this, name] { w.PTShellList1->selectName(name); });
  }

  bool openRichTextEditor() override { return false; }

  QWidget *dialogParent() const override { return &w; }

 private:
  // Runs `then` once, when the first list next finishes filling.
  void afterNextFill(std::function<void()> then) {
    auto *conn = new QMetaObject::Connection;
    *conn = QObject::connect(w.PTShellList1, &TPTShellList::OnFillComplete, &w, [conn, then = std::move(then)] {
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
  };
  for (const auto &[name, slot] : map) {
    QAction *a = item(name);
    disconnect(a, &QAction::triggered, nullptr, nullptr);
    connect(a, &QAction::triggered, fileCommands.get(), slot);
  }
  const QList<QPair<QToolButton *, void (browser::TFileCommands::*)()>> buttons = {
      {FindFiles, &browser::TFileCommands::FindFilesClick},
      {DeleteBtn, &browser::TFileCommands::DeleteBtnClick},
      {NewDir, &browser::TFileCommands::NewFolder1MitmClick},
      {ShowProperties, &browser::TFileCommands::ShowPropertiesClick},
  };
  for (const auto &[b, slot] : buttons) {
    disconnect(b, &QToolButton::clicked, nullptr, nullptr);
    connect(b, &QToolButton::clicked, fileCommands.get(), slot);
  }
  PTShellList1->model()->setRenameHook([this](const QString &path, const QString &name) {
    return fileCommands->renameAccepted(path, name);
  });
  PTShellList1->OnDrop = [this](const QMimeData *data, const QString &folder, Qt::DropAction action) {
    return fileCommands->dropFiles(data, folder, action);
  };
}
