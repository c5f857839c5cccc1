// Favourite folders (the tool bar's combo and the commands that add to it), the program's own list files
// opened for hand editing, the start-up folder and the folder dialog that moves the active tree.
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QTabWidget>
#include "app/tarn.h"
#include "browser/listfiles.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "platform/paths.h"
#include "viewers/editortab.h"
#include "platform/ask.h"

namespace {

const QString kFavouritesName = QStringLiteral("Tarnwick.Fav");

QString favouritesFile() { return platform::userFile(kFavouritesName); }

// Fills the combo in its sorted order; each item keeps the line's bytes for the next rewrite.
void fillCombo(QComboBox *box, QList<browser::ListEntry> entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const browser::ListEntry &a, const browser::ListEntry &b) {
    return browser::favouriteLessThan(a.text, b.text);
  });
  box->clear();
  for (const browser::ListEntry &e : entries) box->addItem(e.text, e.raw);
  box->setCurrentIndex(-1);
}

QList<browser::ListEntry> comboEntries(const QComboBox *box) {
  QList<browser::ListEntry> out;
  for (int i = 0; i < box->count(); ++i) out << browser::ListEntry{box->itemData(i).toByteArray(), box->itemText(i)};
  return out;
}

// Qt's dialog reads double quotes in its name box as the quotes around several names ("a" "b"), so a
// folder whose name holds one could not be typed: its button stayed off. A typed name that is a folder
// just as it stands is taken as it is.
class FolderDialog : public QFileDialog {
 public:
  FolderDialog(QWidget *parent, const QString &title, const QString &from) : QFileDialog(parent, title, from) {
    setOption(QFileDialog::DontUseNativeDialog, true);
  }
  // The folder typed with quotes in its name, or empty.
  QString typedFolder() const {
    const QString typed = nameBox_ ? nameBox_->text() : QString();
    if (!typed.contains(QLatin1Char('"'))) return QString();
    const QFileInfo info(QDir(directory()), typed);
    return info.isDir() ? info.absoluteFilePath() : QString();
  }
  QString chosen() const { return chosen_.isEmpty() ? selectedFiles().value(0) : chosen_; }
  void accept() override {
    chosen_ = typedFolder();
    if (chosen_.isEmpty())
      QFileDialog::accept();
    else
      QDialog::accept();
  }

 protected:
  void showEvent(QShowEvent *e) override {
    // The dialog's own widgets exist once it is shown.
    if (!nameBox_) {
      nameBox_ = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
      if (auto *box = findChild<QDialogButtonBox *>())
        for (QAbstractButton *b : box->buttons())
          if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) button_ = qobject_cast<QPushButton *>(b);
      if (nameBox_ && button_) {
        connect(nameBox_, &QLineEdit::textChanged, this, [this] { keepButtonOn(); });
        button_->installEventFilter(this);
      }
    }
    QFileDialog::showEvent(e);
  }
  bool eventFilter(QObject *o, QEvent *e) override {
    // The dialog turns its button off again whenever it looks at the names.
    if (o == button_ && e->type() == QEvent::EnabledChange) keepButtonOn();
    return QFileDialog::eventFilter(o, e);
  }

 private:
  void keepButtonOn() {
    if (button_ && !button_->isEnabled() && !typedFolder().isEmpty()) button_->setEnabled(true);
  }
  QLineEdit *nameBox_ = nullptr;
  QPushButton *button_ = nullptr;
  QString chosen_;
};

// A folder dialog the tests can answer (the desktop's own dialog is out of their reach).
QString chooseFolder(QWidget *parent, const QString &title, const QString &from, bool *confirmed) {
  FolderDialog d(parent, title, from);
  d.setFileMode(QFileDialog::Directory);
  d.setOption(QFileDialog::ShowDirsOnly, true);
  d.setFilter(d.filter() | QDir::Hidden);
  *confirmed = d.exec() == QDialog::Accepted;
  d.hide();
  parent->activateWindow();  // the dialog can go before it was ever active; the window takes the keys again
  return *confirmed ? d.chosen() : QString();
}

}  // namespace

void TTarn::setUpFavourites() {
  Hcb1->setEditable(false);
  Hcb1->setMaxVisibleItems(12);
  Hcb1->setFocusPolicy(Qt::ClickFocus);
  connect(Hcb1, QOverload<int>::of(&QComboBox::activated), this, [this] { Hcb1Click(); });

  EditTarnwickFav = new QMenu(this);
  EditTarnwickFav->setObjectName(QStringLiteral("EditTarnwickFav"));
  addItem(EditTarnwickFav, "EditFavourites2", "Edit Favourites", {}, [this] { EditFavourites2Click(); });
  connect(EditTarnwickFav, &QMenu::aboutToShow, this, [this] { EditTarnwickFavPopup(); });
  Hcb1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Hcb1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { EditTarnwickFav->popup(Hcb1->mapToGlobal(p)); });

  const auto wire = [this](QAction *a, std::function<void()> handler) {
    if (!a) return;
    connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
  };
  wire(item("AddToFavourites2"), [this] { AddToFavourites1Click(PTShellTree1); });
  wire(item("AddToFavourites1"), [this] { AddToFavourites1Click(PTShellTree1); });
  wire(item("AddFolderToFavourites1"), [this] { AddToFavourites1Click(PTShellTree2); });
  wire(item("Extensions1"), [this] { openOwnFile(maskListFile(), QStringLiteral("Tarnwick.ext file not found")); });
  wire(item("Favourites1"), [this] { openOwnFile(favouritesFile(), QStringLiteral("Tarnwick.Fav file not found")); });
  wire(item("FtpProfiles1"), [this] {
    openOwnFile(platform::userFile(QStringLiteral("Tarnwick.Ftp")), QStringLiteral("Tarnwick.Ftp file not found"));
  });
  wire(item("HtmlHistory1"), [this] {
    openOwnFile(platform::userFile(QStringLiteral("Tarnwick.Web")), QStringLiteral("Tarnwick.Web file not found"));
  });
  wire(item("SetStart1"), [this] { SetStart1Click(); });
  wire(item("SelectaPathname1"), [this] { TreeSelectPathnameMitmClick(); });
}

void TTarn::loadFavourites() {
  QList<browser::ListEntry> entries;
  browser::readListFile(favouritesFile(), entries);  // an unreadable file shows as an empty list
  fillCombo(Hcb1, entries);
}

void TTarn::AddToFavourites1Click(TPTShellTree *tree) {
  if (!tree) return;
  QList<browser::ListEntry> entries = comboEntries(Hcb1);
  if (!browser::addFavourite(entries, tree->SelectedPath())) return;
  const QString file = favouritesFile();
  QString error;
  // A file that is there but cannot be read would lose its entries to the rewrite: it is left alone.
  QList<browser::ListEntry> onDisk;
  bool written = browser::readListFile(file, onDisk, &error) && browser::writeListFile(file, entries, &error);
  if (written) {
    loadFavourites();
    return;
  }
  fillCombo(Hcb1, entries);  // kept for this run; the next addition tries the file again
  ask::warning(
      this, QStringLiteral("Tarnwick"),
      QStringLiteral("The favourites could not be saved to %1:\n%2\n\nThe file was left as it was.").arg(file, error));
}

void TTarn::Hcb1Click() {
  if (QFileInfo(LEdit1->FileName()).fileName().compare(kFavouritesName, Qt::CaseInsensitive) == 0) {
    ask::information(this, QStringLiteral("Tarnwick"), QStringLiteral("Close the file in the editor first"));
    return;
  }
  const QString path = Hcb1->currentText();
  if (path.isEmpty()) return;
  if (QFileInfo(path).isDir())
    activeTree()->SelectPath(path);
  else
    ask::information(this, QStringLiteral("Tarnwick"), QStringLiteral("Folder does not exist"));
}

void TTarn::EditTarnwickFavPopup() { item("EditFavourites2")->setEnabled(!checked("DualFileManager1")); }

void TTarn::EditFavourites2Click() {
  if (QFileInfo::exists(favouritesFile())) LoadEditorFile(favouritesFile());
}

void TTarn::openOwnFile(const QString &file, const QString &missing) {
  if (!QFileInfo::exists(file)) {
    ask::information(this, QStringLiteral("Tarnwick"), missing);
    return;
  }
  Pc1->setCurrentWidget(EditorCmd);
  LoadEditorFile(file);
}

void TTarn::SetStart1Click() {
  bool confirmed = false;
  const QString chosen =
      chooseFolder(this, QStringLiteral("Tarnwick - Select Start Up Directory"), state.StartFolder, &confirmed);
  if (!confirmed) return;
  if (!chosen.isEmpty() && QFileInfo(chosen).isDir()) {
    state.StartFolder = chosen;
  } else {
    ask::information(this, QStringLiteral("Tarnwick"),
                     QStringLiteral("Unable to set this as your start up folder\r\rDefaulting to /"));
    state.StartFolder = QStringLiteral("/");
  }
  // Stored now, so it holds at the next start even when settings are not saved on exit.
  Reg.WriteString(QStringLiteral("Settings"), QStringLiteral("StartDir"), state.StartFolder);
  Reg.Close();
  if (Reg.writeFailed()) {
    ask::warning(this, QStringLiteral("Tarnwick"),
                 QStringLiteral("The start up folder could not be saved to %1.").arg(Reg.store().file()));
    Reg.clearWriteFailed();
  }
}

void TTarn::TreeSelectPathnameMitmClick() {
  TPTShellTree *tree = activeTree();
  bool confirmed = false;
  const QString chosen =
      chooseFolder(this, QStringLiteral("Tarnwick - Select a folder to browse."), tree->SelectedPath(), &confirmed);
  if (confirmed && !chosen.isEmpty()) activeTree()->SelectPath(chosen);
}
