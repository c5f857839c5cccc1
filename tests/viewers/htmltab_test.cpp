// The "Html" tab on the real HTML view: pages, the source editor round trip, history file, links, copy,
// find and printing. Each view starts a WebEngine process, so the cases are few and each covers a theme.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QMenu>
#include <QWebEnginePage>
#include <QWebEngineView>
#include "controls/htmlview.h"
#include "controls/tledit.h"
#include "tests/common/testenv.h"
#include "viewers/editortab.h"
#include "viewers/htmltab.h"

namespace {

class TestHtmlHost : public THtmlHost {
 public:
  QList<bool> viewHtmlEnabled;
  QStringList statusTexts, messages, okCancelAsked, saveQuestions, opened, overwriteAsked;
  QList<QPair<QString, QString>> shown;
  int activations = 0;
  bool answerOk = false, answerSave = false, answerOverwrite = false;
  QString openAnswer, pdfFile;
  int printFrom = 0, printTo = 0, printMax = 0;

  void setViewHtmlEnabled(bool on) override { viewHtmlEnabled << on; }
  void showStatusText(const QString &text) override { statusTexts << text; }
  QString currentFolder() const override { return testenv::root(); }
  void activateHtmlTab() override { ++activations; }
  void showFile(const QString &path, const QString &ext) override { shown << qMakePair(path, ext); }
  void openExternally(const QString &url) override { opened << url; }
  void showMessage(const QString &text) override { messages << text; }
  bool askOkCancel(const QString &text) override {
    okCancelAsked << text;
    return answerOk;
  }
  bool askSaveChanges(const QString &question) override {
    saveQuestions << question;
    return answerSave;
  }
  bool askOverwriteChangedFile(const QString &path) override {
    overwriteAsked << path;
    return answerOverwrite;
  }
  QString askOpenFile(const QString &, const QString &, const QString &) override { return openAnswer; }
  bool askPrint(QPrinter &printer, int maxPage) override {
    printMax = maxPage;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfFile);
    printer.setFromTo(printFrom, printTo);
    return true;
  }
};

class HtmlTab : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testenv::makeDir("html");
    QFile::remove(THtmlTab::historyFile());  // each case starts without a history file
    tab = std::make_unique<THtmlTab>(host);
    tab->resize(640, 480);
    tab->show();
    tab->LEdit2->SetQuiet(true);
  }
  void TearDown() override { tab.reset(); }

  // Shows the file as viewer dispatch does and waits for the page.
  bool show(const QString &path) {
    tab->ShowHtml(path);
    return waitPage(path);
  }
  bool waitPage(const QString &path) {
    return testenv::waitFor([&] { return !tab->HtmlView->isLoading() && tab->HtmlView->currentFile() == path; }, 20000);
  }
  QString pageText() {
    QString text;
    bool done = false;
    tab->HtmlView->engineView()->page()->toPlainText([&](const QString &t) {
      text = t;
      done = true;
    });
    testenv::waitFor([&] { return done; }, 10000);
    return text;
  }
  // Replaces the editor's text as typing would: undoable, and the text counts as changed.
  void type(const QString &text) {
    tab->LEdit2->selectAll();
    tab->LEdit2->replaceSelectedText(text);
  }
  // Runs a script in the page and waits for it.
  void runJs(const QString &js) {
    bool done = false;
    tab->HtmlView->engineView()->page()->runJavaScript(js, [&](const QVariant &) { done = true; });
    testenv::waitFor([&] { return done; }, 10000);
  }

  QString dir;
  TestHtmlHost host;
  std::unique_ptr<THtmlTab> tab;
};

TEST_F(HtmlTab, ShowsPagesAndKeepsEachInTheHistoryOnceWrittenAndReadBack) {
  const QString a = testenv::writeFile(dir + "/a.htm", "<html><body><p>Alpha page</p></body></html>");
  const QString b = testenv::writeFile(dir + "/b.html", "<html><body><p>Beta page</p></body></html>");
  EXPECT_FALSE(tab->HistoryPanel->isVisible());
  EXPECT_FALSE(tab->Copy2->isEnabled());

  ASSERT_TRUE(show(a));
  EXPECT_FALSE(tab->editing());
  EXPECT_TRUE(tab->HistoryPanel->isVisible());
  EXPECT_EQ(host.viewHtmlEnabled.last(), false);
  EXPECT_GE(host.activations, 1);
  for (QAction *c : {tab->Copy2, tab->Find1, tab->SelectAll2, tab->Print1, tab->ShowImages1, tab->MenuItem1})
    EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
  EXPECT_TRUE(pageText().contains("Alpha page"));
  // A right click on the page opens the tab's pop-up, not the engine's own menu.
  QWidget *surface = tab->HtmlView->engineView()->focusProxy();
  ASSERT_TRUE(surface);
  QTest::mouseClick(surface, Qt::RightButton, {}, QPoint(40, 40));
  EXPECT_TRUE(testenv::waitFor([&] { return tab->HtmlMenu->isVisible(); }, 10000));
  tab->HtmlMenu->hide();
  ASSERT_TRUE(show(b));
  ASSERT_TRUE(show(a));  // shown twice: listed once
  EXPECT_EQ(tab->historyEntries(), QStringList({a, b}));
  EXPECT_EQ(tab->HistoryBox->count(), 2);
  // The box fills its panel, whatever the panel's width.
  tab->resize(900, 480);
  EXPECT_TRUE(testenv::waitFor([&] { return tab->HistoryBox->width() == tab->HistoryPanel->width(); }));

  // Nothing is written until Save History; then one entry a line, CR LF.
  const QString file = THtmlTab::historyFile();
  EXPECT_FALSE(QFileInfo::exists(file));
  tab->HistoryMenuPopup();
  EXPECT_FALSE(tab->OpenHist->isEnabled());
  tab->HtmlMenuPopup();
  EXPECT_FALSE(tab->OpenHistory1->isEnabled());
  tab->SaveHistoryClick();
  EXPECT_EQ(testenv::readFile(file), (a + "\r\n" + b + "\r\n").toUtf8());
  tab->HistoryMenuPopup();
  EXPECT_TRUE(tab->OpenHist->isEnabled());

  // Open History replaces the list with the file's lines in their order, duplicates and any line end kept.
  const QString gone = dir + "/gone.htm";
  const QString upper = testenv::writeFile(dir + "/UPPER.HTM", "<p>upper</p>");
  testenv::writeFile(file, (b + "\n" + gone + "\r\n" + a + "\r" + b + "\r\n" + upper).toUtf8());
  tab->OpenHistClick();
  EXPECT_EQ(tab->historyEntries(), QStringList({b, gone, a, b, upper}));

  // Opening the page's pop-up reads the file again but keeps the pages shown since.
  const QString c = testenv::writeFile(dir + "/c.htm", "<p>Gamma</p>");
  ASSERT_TRUE(show(c));
  tab->HtmlMenuPopup();
  EXPECT_TRUE(tab->OpenHistory1->isEnabled());
  EXPECT_EQ(tab->historyEntries(), QStringList({b, gone, a, b, upper, c}));

  // Picking an entry: a missing file is reported by name, an existing one is handed on with its extension.
  tab->HistoryBox->setCurrentIndex(1);
  emit tab->HistoryBox->activated(1);
  EXPECT_EQ(host.messages, QStringList({gone + " no longer exists"}));
  EXPECT_TRUE(host.shown.isEmpty());
  emit tab->HistoryBox->activated(2);
  emit tab->HistoryBox->activated(4);
  ASSERT_EQ(host.shown.size(), 2);
  EXPECT_EQ(host.shown[0], qMakePair(a, QString(".htm")));
  EXPECT_EQ(host.shown[1], qMakePair(upper, QString(".htm")));
}

TEST_F(HtmlTab, SourceEditRoundTripAsksBeforeDroppingChangesAndSavesSafely) {
  const QString page = testenv::writeFile(dir + "/page.htm", "<html><body><p>old words</p></body></html>\r\n");
  ASSERT_TRUE(show(page));

  // Alt+F2 from the page: the source of the page, the editor's commands on, the HTML commands off.
  tab->GoToHtml();
  ASSERT_TRUE(tab->editing());
  EXPECT_FALSE(tab->HtmlView->isVisible());
  EXPECT_TRUE(tab->SBar2->isVisible());
  EXPECT_FALSE(tab->HistoryPanel->isVisible());
  EXPECT_FALSE(tab->Copy2->isEnabled());
  EXPECT_EQ(host.viewHtmlEnabled.last(), true);
  EXPECT_EQ(tab->LEdit2->FileName(), page);
  EXPECT_EQ(tab->LEdit2->TextBytes(), testenv::readFile(page));
  EXPECT_TRUE(tab->Save1->isEnabled());
  EXPECT_TRUE(tab->ViewHtml1->isEnabled());
  EXPECT_EQ(tab->SBar2->panelText(0), "Html Filename: page.htm");
  EXPECT_EQ(tab->SBar2->panelText(1), "Line Count: 1");
  EXPECT_TRUE(tab->LEdit2->HtmlHighlighting());
  // Tags blue on white (Scintilla's colours are 0xBBGGRR), the text between them black.
  TLEdit *ed = tab->LEdit2;
  ed->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, long(-1));
  auto fore = [&](int pos) { return ed->SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE, ed->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, pos)); };
  auto back = [&](int pos) { return ed->SendScintilla(QsciScintillaBase::SCI_STYLEGETBACK, ed->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, pos)); };
  const int tagAt = 1, wordAt = int(QByteArray("<html><body><p>").size()) + 1;
  EXPECT_EQ(fore(tagAt), 0xFF0000);
  EXPECT_EQ(back(tagAt), 0xFFFFFF);
  EXPECT_EQ(fore(wordAt), 0x000000);
  EXPECT_EQ(back(wordAt), 0xFFFFFF);
  // Every style in the editor's monospace font at its size (a size the styles cannot take shows tiny text).
  for (int pos : {tagAt, wordAt}) {
    const long style = ed->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, pos);
    EXPECT_EQ(ed->SendScintilla(QsciScintillaBase::SCI_STYLEGETSIZE, style), ed->Font().pointSize());
    EXPECT_GE(ed->Font().pointSize(), 8);
  }

  // Edit, save, Alt+F2: the saved page shows.
  type("<html><body><p>new words</p></body></html>\r\n");
  EXPECT_TRUE(tab->Undo1->isEnabled());
  tab->Save1->trigger();
  EXPECT_EQ(testenv::readFile(page), QByteArray("<html><body><p>new words</p></body></html>\r\n"));
  tab->GoToHtml();
  EXPECT_FALSE(tab->editing());
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->HtmlView->isLoading() && pageText().contains("new words"); }, 20000));
  EXPECT_TRUE(host.saveQuestions.isEmpty());

  // An unsaved edit: the page shows the disk's version, and going back asks before reading the disk again.
  tab->GoToHtml();
  type("<p>unsaved words</p>");
  tab->GoToHtml();
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->HtmlView->isLoading() && pageText().contains("new words"); }, 20000));
  EXPECT_TRUE(host.saveQuestions.isEmpty());
  host.answerSave = false;
  tab->GoToHtml();
  EXPECT_EQ(host.saveQuestions, QStringList({THtmlTab::ModifiedQuestion}));
  EXPECT_EQ(tab->LEdit2->TextBytes(), testenv::readFile(page));
  EXPECT_FALSE(tab->LEdit2->IsModified());

  // Another edit kept by "Yes" when the next page comes.
  type("<p>kept words</p>");
  host.answerSave = true;
  const QString other = testenv::writeFile(dir + "/other.htm", "<p>other</p>");
  ASSERT_TRUE(show(other));
  EXPECT_EQ(host.saveQuestions.size(), 2);
  EXPECT_EQ(testenv::readFile(page), QByteArray("<p>kept words</p>"));

  // A file changed behind the editor is not overwritten without asking; "No" leaves it as the other
  // program wrote it.
  tab->GoToHtml();
  ASSERT_EQ(tab->LEdit2->FileName(), other);
  type("<p>mine</p>");
  testenv::writeFile(other, "<p>theirs, longer than before</p>");
  host.answerOverwrite = false;
  tab->Save1->trigger();
  EXPECT_EQ(host.overwriteAsked, QStringList({other}));
  EXPECT_EQ(testenv::readFile(other), QByteArray("<p>theirs, longer than before</p>"));
  // Closing with the change still there asks; "No" lets it close.
  host.answerSave = false;
  EXPECT_TRUE(tab->QueryClose());
  EXPECT_EQ(host.saveQuestions.size(), 3);
}

TEST_F(HtmlTab, NewTextHasNothingToDisplayAndClearsResetTheEditor) {
  // From an empty page to the editor, a new text, Alt+F2: nothing to display, the editor stays.
  tab->GoToHtml();
  ASSERT_TRUE(tab->editing());
  tab->New1Click();
  EXPECT_FALSE(tab->Save1->isEnabled());
  EXPECT_FALSE(tab->ViewHtml1->isEnabled());
  type("<p>draft</p>");
  EXPECT_TRUE(tab->Save1->isEnabled());
  tab->GoToHtml();
  EXPECT_EQ(host.messages, QStringList({"There is nothing to display or\ryou have not saved the file"}));
  EXPECT_TRUE(tab->editing());

  // Open in the editor, then unload it: panels back to their labels, commands off, the page's file forgotten.
  const QString page = testenv::writeFile(dir + "/open.html", "<p>one</p>\n<p>two</p>\n");
  host.openAnswer = page;
  host.answerSave = false;
  tab->Open4Click();
  EXPECT_EQ(host.saveQuestions.size(), 1);  // the draft was asked about
  EXPECT_EQ(tab->LEdit2->FileName(), page);
  EXPECT_EQ(tab->SBar2->panelText(1), "Line Count: 2");
  tab->GoToHtml();
  ASSERT_TRUE(waitPage(page));
  EXPECT_EQ(tab->HtmlFile, page);
  tab->GoToHtml();
  tab->Clear5Click();
  EXPECT_TRUE(tab->HtmlFile.isEmpty());
  EXPECT_EQ(tab->LEdit2->length(), 0);
  EXPECT_FALSE(tab->LEdit2->HasFileName());
  EXPECT_EQ(tab->SBar2->panelText(0), "Editor Filename:");
  EXPECT_EQ(tab->SBar2->panelText(2), "Column: ");
  EXPECT_FALSE(tab->Clear5->isEnabled());
  EXPECT_FALSE(tab->Save1->isEnabled());
}

TEST_F(HtmlTab, WebAndMailLinksLeaveOnlyThroughFollowLink) {
  const QString local = testenv::writeFile(dir + "/local.htm", "<p>Local target</p>");
  const QString page = testenv::writeFile(dir + "/links.htm",
      "<html><body><a id=caps href=\"HTTP://example.invalid/caps\">caps</a> "
      "<a id=web href=\"http://example.invalid/web\">web</a> "
      "<a id=mail href=\"mailto:someone@example.invalid\">mail</a> "
      "<a id=local href=\"local.htm\">local</a></body></html>");
  ASSERT_TRUE(show(page));
  QStringList refused;
  QObject::connect(tab->HtmlView, &THtmlView::refused, [&](const QString &u) { refused << u; });

  // Clicked web and mail links are not followed inside the view (nor refused as if the view had tried).
  for (const char *id : {"caps", "web", "mail"})
    runJs(QString("document.getElementById('%1').click()").arg(id));
  runJs("document.getElementById('local').click()");
  ASSERT_TRUE(waitPage(page));  // the view still names the file it was given
  ASSERT_TRUE(testenv::waitFor([&] { return pageText().contains("Local target"); }, 20000));
  EXPECT_TRUE(refused.isEmpty()) << refused.join(' ').toStdString();
  EXPECT_TRUE(host.opened.isEmpty());

  bool handled = false;
  tab->HtmlViewHotSpotTargetClick(QString(), "HTTP://example.invalid/caps", handled);
  EXPECT_TRUE(handled);
  handled = false;
  tab->HtmlViewHotSpotTargetClick(QString(), "Mailto:x@example.invalid", handled);
  EXPECT_TRUE(handled);
  handled = false;
  tab->HtmlViewHotSpotTargetClick(QString(), "file:///tmp/x.htm", handled);
  EXPECT_FALSE(handled);

  // Follow Link opens the last web or mail link under the pointer, whatever the case of its scheme; a
  // local link is not handed out, and leaving a link keeps the last one.
  emit tab->HtmlView->OnHotSpotTargetCovered(QString(), "HTTP://example.invalid/caps");
  EXPECT_EQ(tab->LastLink, "HTTP://example.invalid/caps");
  EXPECT_EQ(host.statusTexts.last(), "HTTP://example.invalid/caps");
  tab->FollowLink1Click();
  emit tab->HtmlView->OnHotSpotTargetCovered(QString(), "file://" + local);
  tab->FollowLink1Click();
  emit tab->HtmlView->OnHotSpotTargetCovered(QString(), "http://example.invalid/web");
  emit tab->HtmlView->OnHotSpotTargetCovered(QString(), QString());
  EXPECT_EQ(host.statusTexts.last(), THtmlTab::ViewHint);
  tab->FollowLink1Click();
  emit tab->HtmlView->OnHotSpotTargetCovered(QString(), "mailto:someone@example.invalid");
  tab->FollowLink1Click();
  EXPECT_EQ(host.opened, QStringList({"HTTP://example.invalid/caps", "http://example.invalid/web",
                                      "mailto:someone@example.invalid"}));
}

// The find dialog's label names its field: Alt+N goes to the field (a label without one shows the "&").
TEST_F(HtmlTab, FindDialogLabelIsTheFieldsMnemonic) {
  tab->Find1Click();
  auto *dialog = tab->findChild<QDialog *>("FindDialog");
  ASSERT_TRUE(dialog);
  auto *field = dialog->findChild<QLineEdit *>();
  auto *matchCase = dialog->findChild<QCheckBox *>();
  ASSERT_TRUE(field && matchCase);
  QApplication::setActiveWindow(dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
  matchCase->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return matchCase->hasFocus(); }));
  QTest::keyClick(matchCase, Qt::Key_N, Qt::AltModifier);
  EXPECT_TRUE(testenv::waitFor([&] { return field->hasFocus(); }));
  dialog->hide();
}

TEST_F(HtmlTab, CopyAsksAboveTheLimitFindReportsTheEndAndPrintsPageRanges) {
  const QByteArray words = QByteArray("abcdefghij").repeated(4000);  // 40,000 characters
  const QString big = testenv::writeFile(dir + "/big.htm", "<html><body><p>" + words + "</p></body></html>");
  ASSERT_TRUE(show(big));
  QApplication::clipboard()->setText("before");
  // Selecting works on the focused page, as after the right click that opens the menu.
  QApplication::setActiveWindow(tab.get());
  tab->HtmlView->engineView()->setFocus();
  tab->SelectAll2Click();
  ASSERT_TRUE(testenv::waitFor([&] { return tab->HtmlView->SelLength() >= 40000; }, 10000));
  host.answerOk = false;
  tab->Copy2Click();
  EXPECT_EQ(host.okCancelAsked, QStringList({"Selection exceeds buffer size and may be truncated"}));
  EXPECT_EQ(QApplication::clipboard()->text(), "before");
  host.answerOk = true;
  tab->Copy2Click();
  EXPECT_TRUE(testenv::waitFor([&] { return QApplication::clipboard()->text().contains(QString::fromLatin1(words)); }, 10000));

  // Find across frames; only a search that finds nothing more says so.
  const QString inner = testenv::writeFile(dir + "/inner.htm", "<p>Needle in the frame</p>");
  const QString frames = testenv::writeFile(dir + "/frames.htm",
      "<html><frameset cols=\"50%,50%\"><frame src=\"inner.htm\"><frame src=\"big.htm\"></frameset></html>");
  Q_UNUSED(inner);
  ASSERT_TRUE(show(frames));
  QSignalSpy finds(tab.get(), &THtmlTab::findFinished);
  tab->FindDialogFind("Needle", true);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 1; }, 10000));
  EXPECT_TRUE(finds[0][0].toBool());
  tab->FindDialogFind("needle in THE", true);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 2; }, 10000));
  EXPECT_FALSE(finds[1][0].toBool());
  // Find Next pressed again before the search ended: only the last search reports.
  tab->FindDialogFind("Needle", true);
  tab->FindDialogFind("absent", true);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 3; }, 10000));
  EXPECT_EQ(host.messages, QStringList({"No further occurances of \"needle in THE\"", "No further occurances of \"absent\""}))
      << host.messages.join("|").toStdString();

  // Printing: all pages without a range, only the chosen pages with one.
  const QString three = testenv::writeFile(dir + "/three.htm",
      "<html><body><div style=\"page-break-after:always\">FIRSTPAGE</div>"
      "<div style=\"page-break-after:always\">SECONDPAGE</div><div>THIRDPAGE</div></body></html>");
  ASSERT_TRUE(show(three));
  auto printed = [&](int from, int to) {
    host.pdfFile = dir + QString("/out%1-%2.pdf").arg(from).arg(to);
    host.printFrom = from;
    host.printTo = to;
    tab->Print1Click();
    if (!testenv::waitFor([&] { return !tab->isPrinting(); }, 20000)) return QString("still printing");
    QProcess p;
    p.start("pdftotext", {host.pdfFile, "-"});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
  };
  const QString all = printed(0, 0);
  EXPECT_EQ(host.printMax, 9999);
  EXPECT_TRUE(all.contains("FIRSTPAGE") && all.contains("SECONDPAGE") && all.contains("THIRDPAGE")) << all.toStdString();
  const QString second = printed(2, 2);
  EXPECT_TRUE(second.contains("SECONDPAGE")) << second.toStdString();
  EXPECT_FALSE(second.contains("FIRSTPAGE") || second.contains("THIRDPAGE")) << second.toStdString();
  EXPECT_EQ(host.messages.size(), 2);  // no "Printing failed."
}

}  // namespace
