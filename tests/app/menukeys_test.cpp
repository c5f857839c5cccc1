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
#include <QToolBar>
#include <QToolButton>
#include <QLabel>
#include <QFile>
#include "app/layouts.h"
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
    // As a user clicks the main window again after a dialog (the offscreen platform gives it no activation).
    if (!QApplication::activeModalWidget()) QApplication::setActiveWindow(w.get());
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
    if (w->layouts().fullScreen()) w->layouts().FullScreen1Click();
    if (w->layouts().treeListView()) w->layouts().TreeView1Click();
    if (w->layouts().dualFileManager()) w->layouts().DualFileManager1Click();
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

// Every item of the menus and the pop-up and every tool bar button, run in turn: each does its work or says
// why it cannot on this machine (here with no desktop tools on PATH); none is a stand-in any more.
TEST_F(MenuKeys, EveryItemAndButtonDoesItsWorkOrSaysWhyNot) {
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(testenv::makeDir("no-tools")));
  ModalCloser closer;
  QList<QAction *> items;
  std::function<void(const QList<QAction *> &)> walk = [&](const QList<QAction *> &actions) {
    for (QAction *a : actions) {
      if (a->menu()) walk(a->menu()->actions());
      else if (!a->isSeparator() && !items.contains(a)) items << a;
    }
  };
  walk(w->menuBar()->actions());
  walk(w->ListPopup->actions());
  QList<QToolButton *> buttons = w->PTGroup1->findChildren<QToolButton *>();
  ASSERT_GT(items.size(), 80);
  const QStringList skipped = {"CloseMitm",     // ends the program
                               "HelpTopics1"};  // shows a page: WebEngine runs only in the HTML test programs
  auto check = [&](const QString &name) {
    EXPECT_TRUE(testenv::waitFor([&] { return !QApplication::activeModalWidget(); })) << name.toStdString();
    EXPECT_FALSE(w->StatusBar1Panel->text().contains("not available")) << name.toStdString();
    EXPECT_FALSE(w->lastSystemMessage_.contains("not available")) << name.toStdString();
    for (QWidget *top : QApplication::topLevelWidgets())  // windows the item opened
      if (top != w.get() && top->isVisible() && !qobject_cast<QMenu *>(top)) top->close();
    if (w->layouts().fullScreen()) w->layouts().FullScreen1Click();
    if (w->layouts().treeListView()) w->layouts().TreeView1Click();
    if (w->layouts().dualFileManager()) w->layouts().DualFileManager1Click();
  };
  int run = 0;
  for (QAction *a : items) {
    if (skipped.contains(a->objectName()) || !a->isEnabled()) continue;
    w->StatusBar1Panel->clear();
    a->trigger();
    check(a->objectName());
    ++run;
  }
  for (QToolButton *b : buttons) {
    if (!b->isEnabled() || b->defaultAction()) continue;
    w->StatusBar1Panel->clear();
    b->click();
    check(b->objectName());
    ++run;
  }
  EXPECT_GT(run, 80);
  // The system items found no tools here and said so by name.
  w->item("Printers1")->trigger();
  EXPECT_TRUE(w->lastSystemMessage_.startsWith("No program for this command was found. Tarnwick looked for: gnome-control-center"))
      << w->lastSystemMessage_.toStdString();
  qputenv("PATH", path);
}
