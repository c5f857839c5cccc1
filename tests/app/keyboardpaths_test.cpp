// The paths a user takes with keys and the mouse through the real window: arrow keys in the file list,
// Enter in the mask box, and a double click that runs a program, with the two states that suppress it.
#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/tledit.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "zip/ziptab.h"

namespace {

class KeyboardPaths : public apptest::AppTest {
 protected:
  void SetUp() override {
    apptest::AppTest::SetUp();
    dir = testenv::makeDir("paths");
    for (const char *name : {"alpha.txt", "bravo.txt", "charlie.txt"}) testenv::writeFile(dir + "/" + name, QByteArray("text of ") + name);
    // Each program notes its name in a log beside it (programs run in their own folder).
    for (const char *name : {"first.sh", "second.sh", "third.sh"}) {
      const QString path = testenv::writeFile(dir + "/" + name, QByteArray("#!/bin/sh\necho ") + name + " >> ran.log\n");
      QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }
    w = std::make_unique<TTarn>(QStringList{dir});
    w->LEdit1->SetQuiet(true);
    w->show();
    QApplication::setActiveWindow(w.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    ASSERT_TRUE(listed());
  }
  void TearDown() override { w.reset(); }

  bool listed() {
    return testenv::waitFor([&] { return w->PTShellList1->FolderPath() == dir && !w->PTShellList1->model()->isLoading(); });
  }
  int rowOf(const QString &name) const { return w->PTShellList1->model()->rowOfName(name); }
  QAbstractItemView *view() const { return w->PTShellList1->currentView(); }
  QPoint centreOf(const QString &name) const {
    return view()->visualRect(view()->model()->index(rowOf(name), 0)).center();
  }
  bool focusList() {
    view()->setFocus();
    return testenv::waitFor([&] { return w->PTShellList1->hasListFocus(); });
  }
  // What the mouse sends for a double click: press, release, double click, release.
  void doubleClick(const QString &name) {
    ASSERT_GE(rowOf(name), 0) << name.toStdString();
    view()->clearSelection();
    QWidget *vp = view()->viewport();
    const QPoint at = centreOf(name);
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
  }
  void pressInWindow(const QKeySequence &key) {
    QTest::keyClick(view(), key[0].key(), key[0].keyboardModifiers());
  }
  QByteArray ranLog() const { return testenv::readFile(dir + "/ran.log"); }

  QString dir;
  std::unique_ptr<TTarn> w;
};

}  // namespace

TEST_F(KeyboardPaths, ArrowKeysInTheListShowTheNewlyCurrentFile) {
  const int start = rowOf("alpha.txt");
  ASSERT_GE(start, 0);
  ASSERT_LT(start + 1, w->PTShellList1->itemCount());
  w->PTShellList1->selectName("alpha.txt");
  ASSERT_TRUE(focusList());
  const QString next = w->PTShellList1->ItemDisplayName(start + 1);

  QTest::keyClick(view(), Qt::Key_Down);
  EXPECT_EQ(w->state.CurrentFile, dir + "/" + next);
  EXPECT_EQ(w->LEdit1->FileName(), dir + "/" + next);
  EXPECT_EQ(w->LEdit1->text().toUtf8(), testenv::readFile(dir + "/" + next));
  EXPECT_TRUE(w->windowTitle().startsWith("Tarnwick - " + dir + "/" + next + ", "));

  QTest::keyClick(view(), Qt::Key_Up);
  EXPECT_EQ(w->state.CurrentFile, dir + "/alpha.txt");
  EXPECT_EQ(w->LEdit1->text(), "text of alpha.txt");

  // Other keys released in the list leave the viewers alone.
  w->PTShellList1->selectName("charlie.txt");
  QTest::keyClick(view(), Qt::Key_Shift);
  EXPECT_EQ(w->state.CurrentFile, dir + "/alpha.txt");
}

TEST_F(KeyboardPaths, EnterInTheMaskBoxFiltersTheListExceptInFullScreen) {
  QLineEdit *mask = w->Edit2->lineEdit();
  auto typeMask = [&](const QString &text) {
    mask->setFocus();
    mask->selectAll();
    QTest::keyClicks(mask, text);
    QTest::keyClick(mask, Qt::Key_Return);
  };
  typeMask("*.sh");
  EXPECT_EQ(w->PTShellList1->FileFilter(), "*.sh");
  ASSERT_TRUE(testenv::waitFor([&] { return rowOf("alpha.txt") < 0 && rowOf("first.sh") >= 0; }));

  w->item("FullScreen1")->trigger();
  ASSERT_TRUE(w->item("FullScreen1")->isChecked());
  typeMask("*.txt");
  EXPECT_EQ(w->PTShellList1->FileFilter(), "*.sh");
  w->item("FullScreen1")->trigger();

  typeMask("*");
  EXPECT_EQ(w->PTShellList1->FileFilter(), "*");
  EXPECT_TRUE(testenv::waitFor([&] { return rowOf("alpha.txt") >= 0 && rowOf("first.sh") >= 0; }));
}

TEST_F(KeyboardPaths, DoubleClickRunsAProgramUnlessTheOptionIsOffOrZipAddModeIsOn) {
  doubleClick("first.sh");
  EXPECT_EQ(w->state.CurrentFile, dir + "/first.sh");  // the click before the double click picked it
  ASSERT_TRUE(testenv::waitFor([&] { return ranLog().contains("first.sh"); }, 10000)) << ranLog().constData();

  // Ctrl+R turns "&Run Exe or Associated program on dbl clk" off: the double click runs nothing.
  ASSERT_TRUE(focusList());
  pressInWindow(QKeySequence("Ctrl+R"));
  ASSERT_FALSE(w->item("Cbox1")->isChecked());
  doubleClick("second.sh");
  EXPECT_EQ(w->state.CurrentFile, dir + "/second.sh");

  // Back on, but collecting files for a zip: the double click adds the file and runs nothing.
  pressInWindow(QKeySequence("Ctrl+R"));
  ASSERT_TRUE(w->item("Cbox1")->isChecked());
  w->ZipTab->AddTo1Click();
  ASSERT_TRUE(w->state.ZipAddMode);
  doubleClick("second.sh");
  ASSERT_EQ(w->ZipTab->SelectedList->count(), 1);
  EXPECT_EQ(w->ZipTab->SelectedList->item(0)->text(), dir + "/second.sh");
  EXPECT_EQ(w->ZipTab->Label1->text(), "Files to be added: 1");
  w->ZipTab->NoAddZipClick();
  ASSERT_FALSE(w->state.ZipAddMode);

  // A program started after both refusals runs; the refused one never did.
  doubleClick("third.sh");
  ASSERT_TRUE(testenv::waitFor([&] { return ranLog().contains("third.sh"); }, 10000)) << ranLog().constData();
  EXPECT_EQ(ranLog(), "first.sh\nthird.sh\n");
}
