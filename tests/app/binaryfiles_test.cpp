// Binary files clicked in the main window: a program and a shared library still go to the "Editor" tab, as
// dispatch says, and show there as bytes in the hex editor's grid with a note; text files next to them,
// UTF-16 ones too, load into the text editor as before.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QTabWidget>
#include "app/tarn.h"
#include "controls/tledit.h"
#include "windows/hex/hexeditor.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"

namespace {

class BinaryFiles : public apptest::FolderWindowTest {
 protected:
  void fillFolder() override {
    // This test program and the Qt library it runs on: a real executable and a real shared library.
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), dir + "/program"));
    const QString qtCore = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + "/libQt6Core.so.6";
    ASSERT_TRUE(QFile::copy(qtCore, dir + "/libQt6Core.so")) << qtCore.toStdString();
    testenv::writeFile(dir + "/notes.txt", "some text\r\n");
    testenv::writeFile(dir + "/wide.txt", QByteArray("\xFF\xFEw\0i\0d\0e\0\r\0\n\0", 14));
  }
};

}  // namespace

TEST_F(BinaryFiles, ProgramsAndLibrariesShowAsBytesInTheEditorTab) {
  TEditorTab *tab = w->EditorTab;
  for (const QString name : {"program", "libQt6Core.so"}) {
    SCOPED_TRACE(name.toStdString());
    click(name);
    EXPECT_EQ(w->lastViewerAction, "Editor");
    EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
    ASSERT_TRUE(tab->showsBinary());
    EXPECT_TRUE(tab->BinaryView->isVisible());
    EXPECT_EQ(tab->binaryFile(), dir + "/" + name);
    EXPECT_EQ(tab->BinaryView->buffer()->DataSize(), QFileInfo(dir + "/" + name).size());
    EXPECT_EQ(tab->BinaryView->buffer()->cachedBytes(0, 4), QByteArray("\x7f" "ELF"));
    EXPECT_TRUE(tab->BinaryNote->text().startsWith(name + " is a binary file")) << tab->BinaryNote->text().toStdString();
    EXPECT_EQ(tab->SBar->panelText(1), "Filename: " + name);
  }
  for (const QString name : {"notes.txt", "wide.txt"}) {
    SCOPED_TRACE(name.toStdString());
    click(name);
    EXPECT_FALSE(tab->showsBinary());
    EXPECT_TRUE(w->LEdit1->isVisible());
    EXPECT_EQ(w->LEdit1->FileName(), dir + "/" + name);
    EXPECT_EQ(w->LEdit1->TextBytes(), testenv::readFile(dir + "/" + name));
  }
}
