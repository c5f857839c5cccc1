// The main window's side of the compare-folders window: Tools > "C&ompare Folders...". The path boxes
// start at the two panes' folders when the dual file manager is open, else at the list's folder and the
// right folder of the last comparison; a synchronisation's questions are the file commands' dialogs.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>

#include "app/tarn.h"
#include "browser/filecommands_asker.h"
#include "controls/shelllist.h"
#include "windows/compare/compareform.h"

// One for all compare windows, a child of the main window: TTarn::~TTarn deletes the windows before its
// children go.
class TarnCompareHost final : public QObject, public TCompareHost {
 public:
  explicit TarnCompareHost(TTarn &w) : QObject(&w), w(w) { setObjectName(QStringLiteral("TarnCompareHost")); }

  bool confirmPlan(const QStringList &steps) override { return showPlanDialog(QApplication::activeWindow(), steps); }

  platform::TransferQuestions *transferQuestions() override {
    asker.setParentWidget(QApplication::activeWindow());
    return &asker;
  }

  QString chooseFolder(const QString &start) override {
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), QStringLiteral("Choose a Folder"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  }

  static bool secondPairShown(const TTarn &w) { return w.PTSplitter2 && !w.PTSplitter2->isHidden() && w.PTShellList2; }

  void filesChanged() override {
    w.PTShellList1->Refill();
    if (secondPairShown(w)) w.PTShellList2->Refill();
  }

  // The right folder of the last comparison, offered when only one pane is shown.
  QString lastOther;

 private:
  TTarn &w;
  browser::TMessageBoxAsker asker;
};

void openCompareFolders(TTarn &main) {
  auto *host = main.findChild<TarnCompareHost *>(QStringLiteral("TarnCompareHost"), Qt::FindDirectChildrenOnly);
  if (!host) host = new TarnCompareHost(main);
  const QString left = main.PTShellList1->FolderPath();
  const QString right = TarnCompareHost::secondPairShown(main) ? main.PTShellList2->FolderPath() : host->lastOther;
  auto *w = new TCompareForm(*host, left, right, &main);
  w->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(w->compareButton(), &QPushButton::clicked, host,
                   [host, w] { host->lastOther = w->rightBox()->text(); });
  w->show();
  if (!left.isEmpty() && !right.isEmpty()) w->startCompare();
}
