// The main window's side of the rename-many window: File > "Rename Man&y..." and the list's pop-up item,
// for the active list's picked files; the lists show the new names when a batch ran or was undone.
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "windows/rename/renameform.h"

void TTarn::RenameManyClick() {
  TPTShellList *list = activeList();
  if (!list) return;
  const QStringList picked = list->selectedPaths();
  if (picked.isEmpty()) return;
  auto *w = new TRenameForm(picked, this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  connect(w, &TRenameForm::renamed, this, [this] {
    PTShellList1->Refill();
    if (secondPairShown()) PTShellList2->Refill();
  });
  w->show();
}
