// The main window's side of the compare-folders window: Tools > "C&ompare Folders...". The path boxes
// start at the two panes' folders when the dual file manager is open, else at the list's folder and the
// right folder of the last comparison; a synchronisation's questions are the file commands' dialogs.
#include <QApplication>
#include <QFileDialog>

#include "app/tarn.h"
#include "browser/filecommands_asker.h"
#include "controls/shelllist.h"
#include "windows/compare/compareform.h"

class TarnCompareHost final : public TCompareHost {
 public:
  explicit TarnCompareHost(TTarn &w) : w(w) {}

  bool confirmPlan(const QStringList &steps) override { return showPlanDialog(QApplication::activeWindow(), steps); }

  platform::TransferQuestions *transferQuestions() override {
    asker.setParentWidget(QApplication::activeWindow());
    return &asker;
  }

  QString chooseFolder(const QString &start) override {
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), QStringLiteral("Choose a Folder"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  }

  void filesChanged() override {
    w.PTShellList1->Refill();
    if (w.secondPairShown()) w.PTShellList2->Refill();
  }

 private:
  TTarn &w;
  browser::TMessageBoxAsker asker;
};

void TTarn::CompareFoldersClick() {
  if (!compareHost_) compareHost_ = std::make_unique<TarnCompareHost>(*this);
  QString left = PTShellList1->FolderPath(), right = compareOther_;
  if (secondPairShown() && PTShellList2) right = PTShellList2->FolderPath();
  auto *w = new TCompareForm(*compareHost_, left, right, this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  connect(w->compareButton(), &QPushButton::clicked, this, [this, w] { compareOther_ = w->rightBox()->text(); });
  w->show();
  if (!left.isEmpty() && !right.isEmpty()) w->startCompare();
}
