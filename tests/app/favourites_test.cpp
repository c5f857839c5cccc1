// Favourites, the program's own files in the editor, the start-up folder and the folder dialog, through
// the real main window.
#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "controls/tledit.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

namespace {

QString favFile() { return platform::userFile("Tarnwick.Fav"); }

QStringList comboTexts(const QComboBox *box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

// Answers every dialog: message boxes are recorded and closed, a folder dialog gets `folder` (or is
// cancelled when it is empty) and its title is recorded.
class Answers {
 public:
  QStringList messages, dialogTitles;
  QString folder;
  bool forceAccept = false;  // accept whatever was typed, as a dialog that returns a non-folder would

 private:
  testenv::ModalWatcher watch_{[this](QWidget *m) {
    if (auto *box = qobject_cast<QMessageBox *>(m)) {
      messages << box->text();
      box->buttons().first()->click();
    } else if (auto *d = qobject_cast<QFileDialog *>(m)) {
      dialogTitles << d->windowTitle();
      if (folder.isEmpty()) return d->reject();
      d->selectFile(folder);
      QDialog *dialog = d;  // QFileDialog hides these; the dialog's own checks run in accept()
      if (forceAccept)
        dialog->done(QDialog::Accepted);
      else
        dialog->accept();
    } else {
      m->close();
    }
  }};
};

class Favourites : public apptest::AppTest {
 protected:
  void SetUp() override {
    apptest::AppTest::SetUp();
    dir = testenv::makeDir("favs");
    QDir().mkpath(dir + "/My Big Folder");
    QDir().mkpath(dir + "/gone");
  }
  std::unique_ptr<TTarn> open(const QStringList &args) {
    auto w = std::make_unique<TTarn>(args);
    w->LEdit1->SetQuiet(true);
    w->show();
    return w;
  }
  bool treeAt(TTarn &w, const QString &path) {
    return testenv::waitFor([&] { return w.PTShellTree1->SelectedPath() == path; });
  }
  // Picks an entry the way a user does: the list drops down and the entry is clicked.
  void choose(TTarn &w, const QString &text) {
    const int i = w.Hcb1->findText(text, Qt::MatchExactly);
    ASSERT_GE(i, 0) << text.toStdString();
    w.Hcb1->showPopup();
    QAbstractItemView *view = w.Hcb1->view();
    ASSERT_TRUE(testenv::waitFor([&] { return view->isVisible(); }));
    const QRect r = view->visualRect(w.Hcb1->model()->index(i, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(testenv::waitFor([&] { return !view->isVisible(); }));
  }
  QString dir;
};

}  // namespace

TEST_F(Favourites, AddedFromBothItemsKeptExactlyChosenIntoTheTreeAndEditedInTheEditor) {
  // A hand-edited file: LF line ends, not sorted, a name in another encoding. Its entries go back as they are.
  const QByteArray latin1 = "/caf\xe9";
  const QString latin1Shown = QFile::decodeName(latin1);
  testenv::writeFile(favFile(), "/zeta old\n" + latin1 + "\n" + dir.toUtf8() + "/gone\n");
  Answers answers;
  auto w = open({dir});
  ASSERT_TRUE(treeAt(*w, dir));
  EXPECT_EQ(comboTexts(w->Hcb1), (QStringList{latin1Shown, dir + "/gone", "/zeta old"}));
  EXPECT_EQ(w->Hcb1->focusPolicy(), Qt::ClickFocus);
  EXPECT_FALSE(w->Hcb1->isEditable());
  EXPECT_EQ(w->Hcb1->maxVisibleItems(), 12);

  w->item("AddToFavourites2")->trigger();
  w->item("AddToFavourites2")->trigger();  // the same folder again: one entry
  ASSERT_TRUE(w->PTShellTree1->SelectPath(dir + "/My Big Folder"));
  w->item("AddToFavourites1")->trigger();
  EXPECT_EQ(testenv::readFile(favFile()),
            latin1 + "\r\n" + (dir + "\r\n" + dir + "/gone\r\n" + dir + "/My Big Folder\r\n/zeta old\r\n").toUtf8());
  EXPECT_EQ(comboTexts(w->Hcb1), (QStringList{latin1Shown, dir, dir + "/gone", dir + "/My Big Folder", "/zeta old"}));
  EXPECT_TRUE(answers.messages.isEmpty()) << answers.messages.join('|').toStdString();

  // Choosing moves the tree; a folder that went away moves nothing.
  choose(*w, dir);
  ASSERT_TRUE(treeAt(*w, dir));
  choose(*w, dir + "/My Big Folder");
  ASSERT_TRUE(treeAt(*w, dir + "/My Big Folder"));
  ASSERT_TRUE(QDir(dir + "/gone").removeRecursively());
  choose(*w, dir + "/gone");
  ASSERT_TRUE(testenv::waitFor([&] { return answers.messages.size() == 1; }));
  EXPECT_EQ(answers.messages.last(), "Folder does not exist");
  EXPECT_EQ(w->PTShellTree1->SelectedPath(), dir + "/My Big Folder");

  // "Edit Favourites": offered only without the dual file manager; loads the file, the tab stays.
  w->Pc1->setCurrentWidget(w->ImageCmd);
  w->item("DualFileManager1")->setChecked(true);
  emit w->EditTarnwickFav->aboutToShow();
  EXPECT_FALSE(w->item("EditFavourites2")->isEnabled());
  w->item("DualFileManager1")->setChecked(false);
  emit w->EditTarnwickFav->aboutToShow();
  ASSERT_TRUE(w->item("EditFavourites2")->isEnabled());
  w->item("EditFavourites2")->trigger();
  EXPECT_EQ(w->LEdit1->FileName(), favFile());
  EXPECT_EQ(w->Pc1->currentWidget(), w->ImageCmd);

  // While the editor holds the file, choosing is refused.
  choose(*w, dir);
  ASSERT_TRUE(testenv::waitFor([&] { return answers.messages.size() == 2; }));
  EXPECT_EQ(answers.messages.last(), "Close the file in the editor first");
  EXPECT_EQ(w->PTShellTree1->SelectedPath(), dir + "/My Big Folder");

  // Edited, saved and cleared: the combo shows the file's new entries.
  w->LEdit1->setCursorPosition(0, 0);
  w->LEdit1->insert("/added by hand\r\n");
  ASSERT_TRUE(w->LEdit1->SaveText());
  w->EditorTab->SBarDblClick();
  EXPECT_EQ(comboTexts(w->Hcb1),
            (QStringList{"/added by hand", latin1Shown, dir, dir + "/gone", dir + "/My Big Folder", "/zeta old"}));
}

TEST_F(Favourites, AFailedWriteIsToldOnceKeepsTheOldFileAndTheEntryForTheRun) {
  QByteArray old;
  for (int i = 0; i < 300; ++i) old += "/an/old/favourite/folder/" + QByteArray::number(i) + "\r\n";
  testenv::writeFile(favFile(), old);
  Answers answers;
  auto w = open({dir});
  ASSERT_TRUE(treeAt(*w, dir));
  // The disk fills up: writes past 4 KB fail, whoever runs the test.
  {
    testenv::DiskFullAbove full(4096);
    ASSERT_TRUE(full.ok());
    w->item("AddToFavourites2")->trigger();
  }
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_TRUE(answers.messages[0].startsWith("The favourites could not be saved to " + favFile()));
  EXPECT_EQ(testenv::readFile(favFile()), old);
  EXPECT_GE(w->Hcb1->findText(dir, Qt::MatchExactly), 0);
  EXPECT_EQ(w->Hcb1->count(), 301);
  // The next addition writes everything, the kept entry included.
  ASSERT_TRUE(w->PTShellTree1->SelectPath(dir + "/My Big Folder"));
  w->item("AddToFavourites1")->trigger();
  const QByteArray now = testenv::readFile(favFile());
  EXPECT_TRUE(now.contains("\r\n" + dir.toUtf8() + "\r\n" + dir.toUtf8() + "/My Big Folder\r\n"));
  EXPECT_EQ(now.count("\r\n"), 302);
  EXPECT_EQ(answers.messages.size(), 1);
}

TEST_F(Favourites, TarnwickItemsOpenTheirFileInTheEditorOrSayItIsMissing) {
  Answers answers;
  auto w = open({dir});
  ASSERT_TRUE(treeAt(*w, dir));
  const QList<std::pair<QString, QString>> items = {
      {"Favourites1", favFile()},
      {"Extensions1", w->maskListFile()},
      {"FtpProfiles1", platform::userFile("Tarnwick.Ftp")},
      {"HtmlHistory1", platform::userFile("Tarnwick.Web")},
  };
  QFile::remove(w->maskListFile());  // the mask combo wrote it at start-up
  for (const auto &[name, file] : items) {
    SCOPED_TRACE(name.toStdString());
    w->item(name)->trigger();
    const QString shown = QFileInfo(file).fileName() == "tarnwick.ext" ? "Tarnwick.ext" : QFileInfo(file).fileName();
    EXPECT_EQ(answers.messages.value(answers.messages.size() - 1), shown + " file not found");
    EXPECT_NE(w->LEdit1->FileName(), file);
  }
  EXPECT_EQ(answers.messages.size(), 4);
  for (const auto &[name, file] : items) {
    SCOPED_TRACE(name.toStdString());
    testenv::writeFile(file, ("contents of " + name + "\r\n").toUtf8());
    w->Pc1->setCurrentWidget(w->HtmlCmd);
    w->item(name)->trigger();
    EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
    EXPECT_EQ(w->LEdit1->FileName(), file);
    EXPECT_TRUE(w->LEdit1->text().startsWith("contents of " + name));
  }
  EXPECT_EQ(answers.messages.size(), 4);
}

TEST_F(Favourites, StartUpFolderIsStoredAtOnceAndCtrlPMovesTheTree) {
  const QString start = dir + "/My Big Folder";
  {
    Answers answers;
    auto w = open({dir});
    ASSERT_TRUE(treeAt(*w, dir));
    const QString before = w->state.StartFolder;
    w->item("SetStart1")->trigger();  // cancelled
    EXPECT_EQ(answers.dialogTitles, QStringList{"Tarnwick - Select Start Up Directory"});
    EXPECT_EQ(w->state.StartFolder, before);
    EXPECT_EQ(
        platform::RegStore().readString(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "StartDir"),
        QString("/"));
    answers.folder = start;
    w->item("SetStart1")->trigger();
    EXPECT_EQ(w->state.StartFolder, start);
    EXPECT_TRUE(answers.messages.isEmpty());
    EXPECT_EQ(
        platform::RegStore().readString(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "StartDir"),
        start);

    // Ctrl+P: the active tree goes to the folder chosen.
    answers.folder = dir + "/gone";
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    w->PTShellList1->currentView()->setFocus();
    QTest::keyClick(w->PTShellList1->currentView(), Qt::Key_P, Qt::ControlModifier);
    // Seen once in a loaded run and not understood yet: what the window had when it failed.
    ASSERT_TRUE(treeAt(*w, dir + "/gone"))
        << "tree at " << w->PTShellTree1->SelectedPath().toStdString() << "; asked "
        << answers.dialogTitles.join(" | ").toStdString() << "; active window "
        << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none")
        << "; focus "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
    EXPECT_EQ(answers.dialogTitles.last(), "Tarnwick - Select a folder to browse.");
    w->item("Cbox3")->setChecked(false);  // nothing saved on exit: the start folder was stored already
    w->close();
  }
  {
    auto w = open({});
    EXPECT_EQ(w->state.StartFolder, start);
    EXPECT_TRUE(treeAt(*w, start));
    // A choice that is no folder falls back to the root, with the message.
    Answers answers;
    answers.folder = dir + "/no such folder";
    answers.forceAccept = true;
    w->item("SetStart1")->trigger();
    EXPECT_EQ(answers.messages, QStringList{"Unable to set this as your start up folder\r\rDefaulting to /"});
    EXPECT_EQ(w->state.StartFolder, "/");
  }
  {
    // A folder named at start-up is shown, and not stored as the start-up folder by a save on exit.
    auto w = open({start});
    ASSERT_TRUE(treeAt(*w, start));
    w->item("Cbox3")->setChecked(true);
    w->close();
  }
  EXPECT_EQ(
      platform::RegStore().readString(platform::RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "StartDir"),
      QString("/"));
}

namespace {
QAbstractButton *acceptButton(QFileDialog *d) {
  if (auto *box = d->findChild<QDialogButtonBox *>())
    for (QAbstractButton *b : box->buttons())
      if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) return b;
  return nullptr;
}
}  // namespace

// The folder dialog takes a folder typed into its name box as it stands, double quotes and all: the
// dialog itself would read them as the quotes around several names and keep its button off.
TEST_F(Favourites, CtrlPTakesATypedFolderWhoseNameHoldsDoubleQuotes) {
  auto w = open({dir});
  ASSERT_TRUE(treeAt(*w, dir));
  const struct {
    QString folder, typed;
  } cases[] = {
      {dir + "/say \"hi\"", dir + "/say \"hi\""},            // an absolute path
      {dir + "/\"quoted\"", "\"quoted\""},                   // a name in the dialog's folder, quotes round it
      {dir + "/a \"b\" \"c\" d", dir + "/a \"b\" \"c\" d"},  // what the dialog reads as three names
      {dir + "/open \"quote", "open \"quote"},               // one quote that never closes
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    ASSERT_TRUE(QDir().mkpath(c.folder));
    bool buttonWasOn = false;
    testenv::ModalWatcher type([&](QWidget *m) {
      auto *d = qobject_cast<QFileDialog *>(m);
      if (!d) {
        m->close();
        return;
      }
      d->setDirectory(dir);
      auto *name = d->findChild<QLineEdit *>("fileNameEdit");
      QAbstractButton *open = acceptButton(d);
      ASSERT_NE(name, nullptr);
      ASSERT_NE(open, nullptr);
      name->setText(c.typed);
      buttonWasOn = open->isEnabled();
      open->click();
      if (d->isVisible()) d->reject();  // the button took no click
    });
    w->TreeSelectPathnameMitmClick();
    EXPECT_TRUE(buttonWasOn);
    EXPECT_TRUE(treeAt(*w, c.folder));
  }
  // A name with quotes that is no folder is still the dialog's own business: it stays refused.
  testenv::ModalWatcher refuse([&](QWidget *m) {
    auto *d = qobject_cast<QFileDialog *>(m);
    if (!d) {
      m->close();
      return;
    }
    d->findChild<QLineEdit *>("fileNameEdit")->setText(dir + "/no \"such\" folder");
    if (QAbstractButton *open = acceptButton(d)) open->click();
    if (d->isVisible()) d->reject();
  });
  const QString before = w->PTShellTree1->SelectedPath();
  w->TreeSelectPathnameMitmClick();
  EXPECT_EQ(w->PTShellTree1->SelectedPath(), before);
}
