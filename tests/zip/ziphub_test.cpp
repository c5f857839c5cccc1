// The Zip tab inside the main window: a click on an archive lists it, a member double click views it
// through the zip view file and the viewer dispatch, the add mode collects double clicks and drops.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>

#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/tledit.h"
#include "platform/paths.h"
#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/ziptab.h"

namespace {
bool waitFilled(TTarn &w, const QString &folder) {
  return testenv::waitFor([&] { return w.PTShellList1->FolderPath() == folder && !w.PTShellList1->model()->isLoading(); });
}
void clickItem(TTarn &w, const QString &name) {
  w.PTShellList1->selectName(name);
  w.PTShellList1Click();
}
int rowOfName(TZipTab *t, const QString &name) {
  for (int r = 1; r < t->StringGrid1->RowCount(); ++r)
    if (t->StringGrid1->Cells(0, r) == name) return r;
  return -1;
}
// Answers the main window's modal dialogs while it lives: message boxes are recorded and closed, a file
// dialog is recorded ("title|folder") and gets fileName.
struct ModalAnswerer {
  QStringList boxes, fileDialogs;
  QString fileName;
  testenv::ModalWatcher watch{[this](QWidget *w) {
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
      boxes << box->text();
      box->done(QMessageBox::No);
    } else if (auto *dlg = qobject_cast<QFileDialog *>(w)) {
      fileDialogs << dlg->windowTitle() + '|' + dlg->directory().absolutePath();
      // Typed as a user would: selectFile leaves the name box alone while it has the focus.
      dlg->setDirectory(QFileInfo(fileName).absolutePath());
      if (auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) edit->setText(QFileInfo(fileName).fileName());
      else dlg->selectFile(fileName);
      QMetaObject::invokeMethod(dlg, "accept");
    }
  }};
};
}  // namespace

TEST(ZipHub, ClickListsTheArchiveAndAMemberDoubleClickViewsIt) {
  const QString dir = testenv::makeDir("hub");
  const auto r = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "z.writestr('docs/readme.txt', 'member text\\n')\n"
      "z.writestr('tool.dll', 'MZ')\n"
      "z.close()\n",
      {dir + "/pack.zip"});
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  ModalAnswerer answer;
  clickItem(w, "pack.zip");
  EXPECT_EQ(w.Pc1->currentWidget(), w.ZipManCmd);
  EXPECT_EQ(w.Pc1->tabText(w.Pc1->indexOf(w.ZipManCmd)), "pack.zip - Files = 2");
  ASSERT_EQ(w.StringGrid1->RowCount(), 4);
  // The stored column widths reach the grid and follow the user's changes.
  EXPECT_EQ(w.StringGrid1->ColWidths(0), w.zipColumnWidths[0]);
  w.StringGrid1->setColWidths(5, 77);
  EXPECT_EQ(w.zipColumnWidths[5], 77);

  const int toolRow = rowOfName(w.ZipTab, "tool.dll");
  w.StringGrid1->selectRows(toolRow, toolRow);
  w.ZipTab->StringGrid1DblClick();
  EXPECT_EQ(w.Pc1->currentWidget(), w.ZipManCmd);  // a library is never viewed
  const int readmeRow = rowOfName(w.ZipTab, "readme.txt");
  w.StringGrid1->selectRows(readmeRow, readmeRow);
  EXPECT_EQ(w.state.CurrentName, "readme.txt");
  w.ZipTab->StringGrid1DblClick();
  EXPECT_EQ(w.state.CurrentFile, platform::userFile("TarnwickFile"));
  EXPECT_EQ(w.state.CurrentExt, ".txt");
  EXPECT_EQ(w.Pc1->currentWidget(), w.EditorCmd);
  EXPECT_EQ(w.LEdit1->text(), "member text\n");
  EXPECT_TRUE(answer.boxes.isEmpty()) << answer.boxes.join('|').toStdString();
  w.close();
  EXPECT_FALSE(QFile::exists(platform::userFile("TarnwickFile")));  // deleted at exit
}

TEST(ZipHub, AddModeCollectsDoubleClicksAndDropsUntilTheViewersAreCleared) {
  const QString dir = testenv::makeDir("add");
  testenv::writeFile(dir + "/a.txt", "a");
  testenv::writeFile(dir + "/b.txt", "b");
  QDir().mkpath(dir + "/folder");
  TTarn w({dir});
  w.show();
  ASSERT_TRUE(waitFilled(w, dir));
  w.ZipTab->AddTo1Click();
  EXPECT_TRUE(w.state.ZipAddMode);
  EXPECT_EQ(w.windowTitle(), "Tarnwick - Select files for zipping by Double Clicking file or DRAG selected Files/Folders across");
  for (const char *name : {"a.txt", "b.txt"}) {
    clickItem(w, name);
    bool handled = false;
    w.PTShellList1DblClickOpen(handled);
    EXPECT_TRUE(handled);  // never opened while collecting
  }
  EXPECT_EQ(w.ZipTab->Label1->text(), "Files to be added: 2");
  EXPECT_EQ(w.windowTitle(), "Tarnwick - Select files for zipping by Double Clicking file or DRAG selected Files/Folders across");
  w.filesDropped({dir + "/folder", dir + "/a.txt"});
  EXPECT_EQ(w.ZipTab->Label1->text(), "Files to be added: 4");
  QStringList items;
  for (int i = 0; i < w.ZipTab->SelectedList->count(); ++i) items << w.ZipTab->SelectedList->item(i)->text();
  EXPECT_TRUE(items.contains(dir + "/folder/*.*")) << items.join('|').toStdString();
  w.Viewers1Click();
  EXPECT_FALSE(w.state.ZipAddMode);
  EXPECT_FALSE(w.ZipTab->addPanelShown());
  // File > New > Zip File runs the new-archive command, through the window's own save dialog.
  ModalAnswerer answer;
  answer.fileName = dir + "/fresh";
  w.item("ZipFile1")->trigger();
  EXPECT_EQ(answer.fileDialogs, QStringList({"Tarnwick - Create New ZIP File|" + dir}));
  EXPECT_EQ(w.ZipMaster1->ZipFilename(), dir + "/fresh.zip");
  EXPECT_EQ(w.Pc1->currentWidget(), w.ZipManCmd);
  EXPECT_EQ(w.item("ZipFile1")->statusTip(), "Create a new zip file");
}
