// The "Html" tab in the main window: a click shows a page there, Alt+F2 and View "&Html" switch page and
// source, the history box dispatches by type, clearing all viewers and closing reach the tab.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include "app/tarn.h"
#include "viewers/editortab.h"
#include "controls/htmlview.h"
#include "controls/shelllist.h"
#include "controls/tledit.h"
#include "tests/app/apptest.h"
#include "tests/common/testenv.h"
#include "viewers/htmltab.h"

namespace {

class HtmlInWindow : public apptest::AppTest {};

TEST_F(HtmlInWindow, ClickAltF2HistoryClearAndCloseReachTheHtmlTab) {
  const QString dir = testenv::makeDir("web");
  const QString page = testenv::writeFile(dir + "/page.htm", "<p>clicked page</p>");
  const QString upper = testenv::writeFile(dir + "/SHOUT.HTM", "<p>upper page</p>");
  testenv::writeFile(dir + "/notes.txt", "plain\r\n");
  auto w = std::make_unique<TTarn>(QStringList{dir});
  w->show();
  QApplication::setActiveWindow(w.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList1->FolderPath() == dir && !w->PTShellList1->model()->isLoading(); }));
  THtmlTab *tab = w->HtmlTab;
  tab->LEdit2->SetQuiet(true);
  QAction *viewHtml = w->item("ViewHtml");
  EXPECT_FALSE(viewHtml->isEnabled());
  EXPECT_EQ(viewHtml->statusTip(), "Toggle between the html viewer and editor");

  w->PTShellList1->selectName("page.htm");
  w->PTShellList1Click();
  EXPECT_EQ(w->Pc1->currentWidget(), w->HtmlCmd);
  ASSERT_TRUE(testenv::waitFor([&] { return tab->HtmlView->currentFile() == page && !tab->HtmlView->isLoading(); }, 20000));
  EXPECT_EQ(tab->historyEntries(), QStringList({page}));

  // Alt+F2 from the page: the source, and View "&Html" enabled; the menu item goes back to the page.
  QWidget *listView = w->PTShellList1->currentView();
  listView->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == listView; }));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2, Qt::AltModifier);
  ASSERT_TRUE(tab->editing());
  EXPECT_TRUE(viewHtml->isEnabled());
  EXPECT_EQ(tab->LEdit2->FileName(), page);
  // Another tab and back: the item follows the tab and the editor.
  w->Pc1->setCurrentWidget(w->EditorCmd);
  EXPECT_FALSE(viewHtml->isEnabled());
  w->Pc1->setCurrentWidget(w->HtmlCmd);
  EXPECT_TRUE(viewHtml->isEnabled());
  viewHtml->trigger();
  EXPECT_FALSE(tab->editing());
  EXPECT_FALSE(viewHtml->isEnabled());

  // A history entry goes through viewer dispatch: an upper-case page still shows as a page.
  tab->ShowHtml(upper);
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->HtmlView->isLoading(); }, 20000));
  w->PTShellList1->selectName("notes.txt");
  w->PTShellList1Click();
  EXPECT_EQ(w->Pc1->currentWidget(), w->EditorCmd);
  tab->HistoryBox->setCurrentIndex(1);
  emit tab->HistoryBox->activated(1);
  EXPECT_EQ(w->Pc1->currentWidget(), w->HtmlCmd);
  EXPECT_EQ(w->state.CurrentFile, upper);
  EXPECT_EQ(tab->HtmlFile, upper);

  // "Clear All Internal Viewers" empties the page and the source and turns the HTML commands off.
  listView->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == listView; }));
  QTest::keyClick(listView, Qt::Key_F2, Qt::AltModifier);
  ASSERT_TRUE(tab->editing());
  ASSERT_EQ(tab->LEdit2->FileName(), upper);
  w->item("Clear2")->trigger();
  EXPECT_TRUE(tab->HtmlFile.isEmpty());
  EXPECT_TRUE(tab->HtmlView->currentFile().isEmpty());
  EXPECT_FALSE(tab->LEdit2->HasFileName());
  EXPECT_FALSE(tab->Copy2->isEnabled());

  // Ctrl+S in the source editor saves the page, not the text editor's file.
  const QString notes = dir + "/notes.txt";
  ASSERT_TRUE(w->LoadEditorFile(notes));
  w->LEdit1->insert("unsaved ");
  tab->ShowHtml(page);
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->HtmlView->isLoading(); }, 20000));
  listView->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return QApplication::focusWidget() == listView; }));
  QTest::keyClick(listView, Qt::Key_F2, Qt::AltModifier);
  ASSERT_TRUE(tab->editing());
  tab->LEdit2->selectAll();
  tab->LEdit2->replaceSelectedText("<p>saved by key</p>");
  tab->LEdit2->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return tab->LEdit2->hasFocus(); }));
  QTest::keyClick(tab->LEdit2, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(testenv::readFile(page), QByteArray("<p>saved by key</p>"));
  EXPECT_EQ(testenv::readFile(notes), QByteArray("plain\r\n"));
  w->LEdit1->SetQuiet(true);
  w->EditorTab->ClearViewer();

  // Closing the program with a changed source asks; "Yes" saves it, then the window closes.
  ASSERT_TRUE(tab->LEdit2->LoadFile(page));
  tab->LEdit2->selectAll();
  tab->LEdit2->replaceSelectedText("<p>saved at exit</p>");
  QStringList asked;
  testenv::ModalWatcher answer([&](QWidget *m) {
    auto *box = qobject_cast<QMessageBox *>(m);
    if (!box) {
      m->close();
      return;
    }
    asked << box->text();
    if (QAbstractButton *yes = box->button(QMessageBox::Yes)) yes->click();
    else box->reject();
  });
  EXPECT_TRUE(w->close());
  EXPECT_EQ(asked, QStringList({THtmlTab::ModifiedQuestion}));
  EXPECT_EQ(testenv::readFile(page), QByteArray("<p>saved at exit</p>"));
}

}  // namespace

namespace {
class HelpInWindow : public apptest::AppTest {};
}  // namespace

// Help shows the help page shipped beside the program in the HTML tab.
TEST_F(HelpInWindow, HelpShowsTheShippedPageInTheHtmlTab) {
  const QString help = TTarn::helpFile();
  ASSERT_FALSE(help.isEmpty()) << "help.htm beside the program";
  auto w = std::make_unique<TTarn>(QStringList{testenv::makeDir("help")});
  w->show();
  EXPECT_TRUE(w->item("HelpTopics1")->statusTip().startsWith("Contains information on what Tarnwick can and cannot do"));
  w->item("HelpTopics1")->trigger();
  EXPECT_EQ(w->state.CurrentFile, help);
  EXPECT_EQ(w->Pc1->currentWidget(), w->HtmlCmd);
  EXPECT_TRUE(testenv::waitFor([&] { return w->HtmlTab->HtmlView->currentFile() == help && !w->HtmlTab->HtmlView->isLoading(); }, 30000));
}
