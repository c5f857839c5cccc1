// The main window's side of the checksum window: File > "Chec&ksums..." and the list's pop-up item. One
// checksum file picked: its files are checked; otherwise a checksum file is made for what is picked (for
// every file of the folder when nothing is).
#include <QDir>
#include <QFileInfo>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "windows/checksums/checksumform.h"

void TTarn::ChecksumsClick() {
  TPTShellList *list = activeList();
  if (!list) return;
  const QString folder = list->FolderPath();
  if (folder.isEmpty()) return;
  QStringList picked = list->selectedPaths();
  auto *w = new TChecksumForm(this);
  if (picked.size() == 1 && QFileInfo(picked.first()).isFile() && checksums::algoForName(picked.first())) {
    w->show();
    w->startVerify(picked.first());
    return;
  }
  if (picked.isEmpty())
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
      picked << fi.absoluteFilePath();
  w->prepareCreate(folder, picked);
  w->show();
}
