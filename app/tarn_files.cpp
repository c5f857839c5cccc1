// The file commands of the File menu, the tool bar and the list pop-up on the first browser pair.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QToolButton>
#include "app/tarn.h"
#include "browser/filecommands.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"

// The second pair of the dual layout is not built yet: pair 1 answers as an empty pair.
bool TTarn::secondPairActive() const { return false; }

bool TTarn::treeHasFocus(int pair) const {
  const QWidget *f = QApplication::focusWidget();
  return pair == 0 && f && (f == PTShellTree1 || PTShellTree1->isAncestorOf(f));
}

QString TTarn::treeFolder(int pair) const { return pair == 0 ? PTShellTree1->SelectedPath() : QString(); }
QString TTarn::listFolder(int pair) const { return pair == 0 ? PTShellList1->FolderPath() : QString(); }
QStringList TTarn::listSelection(int pair) const { return pair == 0 ? PTShellList1->selectedPaths() : QStringList(); }

void TTarn::selectAll(int pair) {
  if (pair == 0) PTShellList1->SelectAll();
}

void TTarn::invertSelection(int pair) {
  if (pair != 0) return;
  QWidget *v = PTShellList1->currentView();
  v->setUpdatesEnabled(false);
  PTShellList1->invertSelection();
  v->setUpdatesEnabled(true);
}

void TTarn::refresh(int pair) {
  if (pair == 0) PTShellList1->Refill();
}

void TTarn::beginRename(int pair, const QString &path) {
  if (pair != 0) return;
  const QString name = path.mid(path.lastIndexOf('/') + 1);
  // A new folder may not be listed yet: rename once the refill has it.
  if (PTShellList1->model()->rowOfName(name) >= 0) {
    PTShellList1->editName(name);
    return;
  }
  auto *conn = new QMetaObject::Connection;
  *conn = connect(PTShellList1, &TPTShellList::OnFillComplete, this, [this, name, conn] {
    disconnect(*conn);
    delete conn;
    PTShellList1->editName(name);
  });
}

void TTarn::reveal(const QString &path) {
  const QString folder = path.left(qMax(1, path.lastIndexOf('/')));
  const QString name = path.mid(path.lastIndexOf('/') + 1);
  PTShellTree1->SelectPath(folder);
  auto *conn = new QMetaObject::Connection;
  *conn = connect(PTShellList1, &TPTShellList::OnFillComplete, this, [this, name, conn] {
    disconnect(*conn);
    delete conn;
    PTShellList1->selectName(name);
  });
}

bool TTarn::openRichTextEditor() { return false; }

QWidget *TTarn::dialogParent() const { return const_cast<TTarn *>(this); }

void TTarn::setUpFileCommands() {
  fileCommands = new browser::TFileCommands(*this, nullptr, this);
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
    connect(a, &QAction::triggered, fileCommands, slot);
  }
  const QList<QPair<QToolButton *, void (browser::TFileCommands::*)()>> buttons = {
      {FindFiles, &browser::TFileCommands::FindFilesClick},
      {DeleteBtn, &browser::TFileCommands::DeleteBtnClick},
      {NewDir, &browser::TFileCommands::NewFolder1MitmClick},
      {ShowProperties, &browser::TFileCommands::ShowPropertiesClick},
  };
  for (const auto &[b, slot] : buttons) {
    disconnect(b, &QToolButton::clicked, nullptr, nullptr);
    connect(b, &QToolButton::clicked, fileCommands, slot);
  }
  PTShellList1->model()->setRenameHook([this](const QString &path, const QString &name) {
    return fileCommands->renameAccepted(path, name);
  });
  PTShellList1->OnDrop = [this](const QMimeData *data, const QString &folder, Qt::DropAction action) {
    return fileCommands->dropFiles(data, folder, action);
  };
}
