// Every key of the main menu, pressed in a real window: its item's handler runs exactly once, whether the
// item is shown in its menu or hidden.
#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/tledit.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

namespace {

// The (item, key) pairs of the menu bar as built, hidden items and submenus included.
QList<QAction *> keyedMenuItems(QMenuBar *bar) {
  QList<QAction *> out;
  std::function<void(const QList<QAction *> &)> walk = [&](const QList<QAction *> &actions) {
    for (QAction *a : actions) {
      if (a->menu()) walk(a->menu()->actions());
      else if (!a->isSeparator() && !a->shortcut().isEmpty()) out << a;
    }
  };
  walk(bar->actions());
  return out;
}

// Answers every modal dialog a handler opens (confirmations, about box) with Cancel, as soon as it is up.
class ModalCloser {
 public:
  QStringList closed;

 private:
  testenv::ModalWatcher watch_{[this](QWidget *m) {
    closed << m->windowTitle();
    if (auto *d = qobject_cast<QDialog *>(m)) d->reject();
    else m->close();
  }};
};

class MenuKeys : public apptest::AppTest {
 protected:
  void SetUp() override {
    apptest::AppTest::SetUp();
    dir = testenv::makeDir("keys");
    testenv::writeFile(dir + "/notes.txt", "first line\r\n");
    w = std::make_unique<TTarn>(QStringList{dir});
    w->LEdit1->SetQuiet(true);
    w->show();
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList1->FolderPath() == dir && !w->PTShellList1->model()->isLoading(); }));
  }
  void TearDown() override { w.reset(); }

  // Gives the file list the keyboard, with nothing selected, so that no key lands in an editor.
  bool focusList() {
    QAbstractItemView *view = w->PTShellList1->currentView();
    view->clearSelection();
    view->setFocus();
    return testenv::waitFor([&] { return QApplication::focusWidget() == view && !QApplication::activeModalWidget(); });
  }

  void press(QWidget *target, const QKeySequence &key) {
    const QKeyCombination k = key[0];
    QTest::keyClick(target, k.key(), k.keyboardModifiers());
  }

  QString dir;
  std::unique_ptr<TTarn> w;
};

}  // namespace

TEST_F(MenuKeys, EveryKeyRunsItsItemOnceShownOrHidden) {
  ModalCloser closer;
  const QList<QAction *> items = keyedMenuItems(w->menuBar());
  // The walk finds the keyed items of every menu, the hidden one (SaveFile1) included.
  ASSERT_GE(items.size(), 20);
  QStringList names;
  for (QAction *a : items) names << a->objectName();
  for (const char *n : {"SaveFile1", "WordWrap", "Cbox1", "Refresh1", "Clear2", "Delete1"})
    EXPECT_TRUE(names.contains(n)) << n;

  for (QAction *a : items) {
    SCOPED_TRACE(a->objectName().toStdString() + " " + a->shortcut().toString().toStdString());
    const bool shownAtStart = a->isVisible();
    QSignalSpy ran(a, &QAction::triggered);
    for (bool shown : {shownAtStart, !shownAtStart, shownAtStart}) {
      a->setVisible(shown);
      ASSERT_TRUE(focusList());
      press(w->PTShellList1->currentView(), a->shortcut());
      EXPECT_TRUE(testenv::waitFor([&] { return !QApplication::activeModalWidget(); }));
    }
    EXPECT_EQ(ran.count(), 3) << "shown at start: " << shownAtStart;
    EXPECT_EQ(a->isVisible(), shownAtStart);
    // A layout key pressed three times leaves its layout on, which shuts out other keys: back to normal.
    if (w->fullScreen()) w->FullScreen1Click();
    if (w->treeListView()) w->TreeView1Click();
    if (w->dualFileManager()) w->DualFileManager1Click();
  }
}

TEST_F(MenuKeys, CtrlSInTheEditorWritesTheFileAndCtrlWTogglesWrap) {
  const QString path = dir + "/notes.txt";
  ASSERT_TRUE(w->LoadEditorFile(path));
  w->LEdit1->setCursorPosition(0, 0);
  w->LEdit1->insert("edited ");
  w->LEdit1->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return w->LEdit1->Focused(); }));
  ASSERT_FALSE(w->item("SaveFile1")->isVisible());  // the item the key belongs to is not in the menu
  press(w->LEdit1, QKeySequence("Ctrl+S"));
  EXPECT_EQ(testenv::readFile(path), "edited first line\r\n");
  EXPECT_FALSE(w->LEdit1->IsModified());
  // A hidden item that is also disabled takes no key, as a shown disabled one does not.
  w->item("SaveFile1")->setEnabled(false);
  w->LEdit1->insert("again ");
  press(w->LEdit1, QKeySequence("Ctrl+S"));
  EXPECT_EQ(testenv::readFile(path), "edited first line\r\n");
  w->item("SaveFile1")->setEnabled(true);
  press(w->LEdit1, QKeySequence("Ctrl+S"));
  EXPECT_EQ(testenv::readFile(path), "again edited first line\r\n");

  const bool wrap = w->item("WordWrap")->isChecked();
  press(w->LEdit1, QKeySequence("Ctrl+W"));
  EXPECT_EQ(w->item("WordWrap")->isChecked(), !wrap);
  EXPECT_EQ(w->EditorTab->SBar->panelText(0), wrap ? "WR=Off" : "WR=On");
}
