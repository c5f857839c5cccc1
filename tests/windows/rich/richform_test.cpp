// The rich text window driven as a user drives it: typing, the save question, the dialogs' answers, the
// ruler's markers, printing to PDF; files checked by reading them back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPrinter>
#include <QSpinBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

#include "controls/richedit.h"
#include "formats/rtf/rtfcodec.h"
#include "tests/common/testenv.h"
#include "windows/rich/richform.h"
#include "windows/rich/richhost.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers the window's questions from queues and records what it asked.
class TestRichHost : public TRichHost {
 public:
  QString current, folder;
  QList<QMessageBox::StandardButton> answers;  // next answers to ask(); Cancel when empty
  QStringList asked, errors;
  QString openPath;  // what the open dialog returns
  bool openReadOnly = false;
  QStringList savePaths;  // what the save dialogs return, in turn
  int saveDialogs = 0;
  QString saveFilter, openFilter;
  QString pdf;  // print to this PDF file; empty: the print dialog is cancelled
  QFont font;
  QColor color;
  bool fontChosen = false;

  QString currentFile() const override { return current; }
  QString currentFolder() const override { return folder; }
  QMessageBox::StandardButton ask(QWidget *, const QString &text, QMessageBox::StandardButtons) override {
    asked << text;
    return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
  QString openFileName(QWidget *, const QString &, const QString &filter, bool &readOnly) override {
    openFilter = filter;
    readOnly = openReadOnly;
    return openPath;
  }
  QString saveFileName(QWidget *, const QString &, const QString &filter) override {
    ++saveDialogs;
    saveFilter = filter;
    return savePaths.isEmpty() ? QString() : savePaths.takeFirst();
  }
  bool printSetup(QWidget *, QPrinter *printer) override {
    if (pdf.isEmpty()) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    return true;
  }
  bool chooseFont(QWidget *, QFont &f, QColor &c) override {
    if (!fontChosen) return false;
    f = font;
    c = color;
    return true;
  }
};

class RichForm : public ::testing::Test {
 protected:
  void SetUp() override { dir = testenv::makeDir("rich"); }
  void TearDown() override { delete form.data(); }

  TRichForm *open(bool handOver = false) {
    form = new TRichForm(host, handOver);
    form->setAttribute(Qt::WA_DeleteOnClose, false);  // the test reads it after it closed
    form->show();
    QApplication::setActiveWindow(form);
    EXPECT_TRUE(QTest::qWaitForWindowActive(form));  // the window's keys need it active
    return form;
  }
  TRichEdit *ed() const { return form->editor(); }
  void type(const QString &text) { QTest::keyClicks(ed(), text); }
  QString docText(const QString &path) {
    QTextDocument doc;
    const rtf::ReadResult r = rtf::readRtfFile(path, &doc);
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    return doc.toPlainText();
  }

  QString dir;
  TestRichHost host;
  QPointer<TRichForm> form;
};

}  // namespace

TEST_F(RichForm, NewDocumentSavesThroughTheDialogAnOpenedOneStraightToItsFile) {
  open();
  EXPECT_EQ(form->windowTitle(), "Tarnwick - Untitled");
  EXPECT_EQ(form->panelText(0), "Line:   1   Col:   1");
  EXPECT_EQ(form->panelText(1), "");
  type("Hello");
  EXPECT_EQ(form->panelText(1), "Modified");
  EXPECT_EQ(form->panelText(0), "Line:   1   Col:   6");

  host.savePaths << dir + "/letter.rtf";
  QTest::keyClick(ed(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(host.saveDialogs, 1);
  EXPECT_EQ(host.saveFilter, "Rich Text Files (*.RTF);;Text Files (*.TXT)");
  EXPECT_EQ(form->windowTitle(), "Tarnwick - letter.rtf");
  EXPECT_EQ(form->panelText(1), "");
  EXPECT_EQ(docText(dir + "/letter.rtf"), "Hello");

  type(" world");
  EXPECT_TRUE(form->FileSave());
  EXPECT_EQ(host.saveDialogs, 1);  // no dialog for a document that has a name
  EXPECT_EQ(docText(dir + "/letter.rtf"), "Hello world");

  // Another program rewrites the file: saving asks before replacing its changes; No keeps both.
  testenv::writeFile(dir + "/letter.rtf", "{\\rtf1 theirs, longer than before\\par}");
  type("!");
  host.answers << QMessageBox::No;
  EXPECT_FALSE(form->FileSave());
  EXPECT_TRUE(host.asked.last().contains("changed by another program"));
  EXPECT_EQ(docText(dir + "/letter.rtf"), "theirs, longer than before");
  EXPECT_EQ(form->panelText(1), "Modified");
}

// Another program changed the file to different bytes of the same size and set its time back, as a copy
// that keeps times does: the save still asks before replacing them.
TEST_F(RichForm, SaveAsksWhenAnotherProgramChangedTheFileToTheSameSize) {
  const QString path = dir + "/same.rtf";
  const QByteArray theirs = "{\\rtf1 them\\par}";
  testenv::writeFile(path, "{\\rtf1 ours\\par}");
  struct stat loaded;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &loaded), 0);
  host.current = path;
  open(true);
  type("x");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));  // in place: the same file, the same size
    ASSERT_EQ(f.write(theirs), theirs.size());
  }
  const struct timespec times[2] = {loaded.st_atim, loaded.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
  host.answers << QMessageBox::No;
  EXPECT_FALSE(form->FileSave());
  ASSERT_FALSE(host.asked.isEmpty());
  EXPECT_TRUE(host.asked.last().contains("changed by another program"));
  EXPECT_EQ(testenv::readFile(path), theirs);
  // Unchanged since it was saved here: no question.
  host.answers << QMessageBox::Yes;
  EXPECT_TRUE(form->FileSave());
  const int questions = int(host.asked.size());
  type("y");
  EXPECT_TRUE(form->FileSave());
  EXPECT_EQ(host.asked.size(), questions);
}

// A save writes the user's file rather than a new file in its place: its other names (hard links) show the
// new text, a symbolic link stays a link, and owner, group and mode stay, also for another user's file
// saved by root.
TEST_F(RichForm, SaveKeepsTheFilesOtherNamesOwnerAndMode) {
  const bool root = ::geteuid() == 0;
  const struct passwd *nobody = ::getpwnam("nobody");
  auto make = [&](const QString &path, mode_t mode) {
    testenv::writeFile(path, "{\\rtf1 old\\par}");
    const QByteArray p = QFile::encodeName(path);
    EXPECT_EQ(::chmod(p.constData(), mode), 0);
    if (root && nobody) EXPECT_EQ(::chown(p.constData(), nobody->pw_uid, nobody->pw_gid), 0);
  };
  auto statOf = [](const QString &path) {
    struct stat st{};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
  };
  auto edit = [&](const QString &path) {
    delete form.data();
    host.current = path;
    open(true);
    type("new ");
    EXPECT_TRUE(form->FileSave()) << host.errors.join('|').toStdString();
  };
  // Two names of one file.
  const QString linked = dir + "/linked.rtf";
  make(linked, 0640);
  ASSERT_EQ(::link(QFile::encodeName(linked).constData(), QFile::encodeName(dir + "/other name.rtf").constData()), 0);
  const struct stat before = statOf(linked);
  edit(linked);
  struct stat after = statOf(linked);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(docText(dir + "/other name.rtf"), "new old");
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  // One name, reached through a symbolic link.
  const QString single = dir + "/single.rtf";
  make(single, 0604);
  ASSERT_TRUE(QFile::link(single, dir + "/shortcut.rtf"));
  const struct stat singleBefore = statOf(single);
  edit(dir + "/shortcut.rtf");
  EXPECT_TRUE(S_ISLNK(statOf(dir + "/shortcut.rtf").st_mode));
  EXPECT_EQ(docText(single), "new old");
  after = statOf(single);
  EXPECT_EQ(after.st_mode & 07777, 0604u);
  EXPECT_EQ(after.st_uid, singleBefore.st_uid);
  EXPECT_EQ(after.st_gid, singleBefore.st_gid);
  EXPECT_TRUE(QDir(dir).entryList(QDir::Hidden | QDir::Files).filter("tarnwick-save").isEmpty());
  if (!root || !nobody) GTEST_SKIP() << "another user's file needs root (to give it to nobody); links and mode were checked";
  EXPECT_EQ(after.st_uid, nobody->pw_uid);
}

// What the editor could not keep of a file (a table nested in a table) is named before a save replaces
// the file; No leaves the file as it was.
TEST_F(RichForm, SavingWhatCannotBeKeptAsksFirst) {
  const QString path = dir + "/nested.rtf";
  const QByteArray in =
      "{\\rtf1\\pard\\intbl\\itap2 in1\\nestcell in2\\nestcell{\\*\\nesttableprops\\trowd\\cellx1000\\cellx2000\\nestrow}"
      "{\\nonesttables\\par}\\pard\\intbl\\itap1 outer\\cell\\row\\pard after\\par}";
  testenv::writeFile(path, in);
  host.current = path;
  open(true);
  EXPECT_EQ(ed()->toPlainText(), "\nin1\tin2\touter\nafter");  // Qt keeps a paragraph before a table
  type("x");
  host.answers << QMessageBox::No;
  EXPECT_FALSE(form->FileSave());
  ASSERT_EQ(host.asked.size(), 1);
  EXPECT_TRUE(host.asked.last().contains("nested")) << host.asked.last().toStdString();
  EXPECT_EQ(testenv::readFile(path), in);
  EXPECT_EQ(form->panelText(1), "Modified");
  host.answers << QMessageBox::Yes;
  EXPECT_TRUE(form->FileSave());
  EXPECT_EQ(docText(path), "x\nin1\tin2\touter\nafter");
  // The file holds what the document holds now: the next save asks nothing.
  type("y");
  EXPECT_TRUE(form->FileSave());
  EXPECT_EQ(host.asked.size(), 2);
}

TEST_F(RichForm, SaveQuestionAnswersOnCloseNewAndOpen) {
  open();
  type("draft");
  // Cancel: the window stays, nothing else happens.
  EXPECT_FALSE(form->close());
  EXPECT_EQ(host.asked, QStringList{"Save changes to Untitled?"});
  EXPECT_TRUE(form->isVisible());
  // Yes, but the save dialog is cancelled: nothing was saved, so the document stays.
  host.answers << QMessageBox::Yes;
  EXPECT_FALSE(form->close());
  EXPECT_EQ(ed()->toPlainText(), "draft");
  // No on New: the document goes.
  host.answers << QMessageBox::No;
  QTest::keyClick(ed(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(ed()->toPlainText(), "");
  EXPECT_EQ(form->panelText(1), "");

  // Open: a file that is not readable RTF is refused with a message, the document stays as it was.
  type("kept");
  testenv::writeFile(dir + "/bomb.rtf", "{\\rtf1 " + QByteArray(100000, '{') + "x");
  host.openPath = dir + "/bomb.rtf";
  host.answers << QMessageBox::No;
  form->FileOpen();
  EXPECT_EQ(host.openFilter, "Rich Text Files (*.Rtf);;Text Files (*.Txt);;All Files  (*.*) (*)");
  ASSERT_EQ(host.errors.size(), 1);
  EXPECT_TRUE(host.errors[0].contains("bomb.rtf"));
  EXPECT_EQ(ed()->toPlainText(), "kept");
  EXPECT_EQ(form->windowTitle(), "Tarnwick - Untitled");

  // Open read-only: the document is the file's, not modified, and cannot be typed into.
  testenv::writeFile(dir + "/a.rtf", "{\\rtf1\\ansi Caf\\'e9 {\\b bold}\\par}");
  host.openPath = dir + "/a.rtf";
  host.openReadOnly = true;
  host.answers << QMessageBox::No;
  form->FileOpen();
  EXPECT_EQ(ed()->toPlainText(), QString::fromUtf8("Café bold"));
  EXPECT_TRUE(ed()->isReadOnly());
  EXPECT_EQ(form->windowTitle(), "Tarnwick - a.rtf");
  EXPECT_EQ(form->panelText(1), "");
  EXPECT_TRUE(form->close());  // nothing changed: no question
  EXPECT_EQ(host.asked.size(), 5);
}

TEST_F(RichForm, OverwriteAnsweredNoOrCancelLeavesTheFileAndTheDocumentModified) {
  const QString path = testenv::writeFile(dir + "/old.rtf", "{\\rtf1 old\\par}");
  open();
  type("new");
  for (auto answer : {QMessageBox::No, QMessageBox::Cancel}) {
    host.savePaths << path;
    host.answers << answer;
    EXPECT_FALSE(form->FileSaveAs());
    EXPECT_EQ(host.asked.last(), "OK to overwrite " + path);
    EXPECT_EQ(testenv::readFile(path), "{\\rtf1 old\\par}");
    EXPECT_EQ(form->panelText(1), "Modified");
    EXPECT_EQ(form->windowTitle(), "Tarnwick - Untitled");
  }
  host.savePaths << path;
  host.answers << QMessageBox::Yes;
  EXPECT_TRUE(form->FileSaveAs());
  EXPECT_EQ(docText(path), "new");
}

TEST_F(RichForm, TextFilesStayTextAndAFailedSaveKeepsTheDocument) {
  // A Windows-1252 text file comes back as such with the edit, not as RTF.
  const QString path = testenv::writeFile(dir + "/notes.txt", "caf\xe9 au lait\n");
  host.openPath = path;
  open();
  form->FileOpen();
  EXPECT_EQ(ed()->toPlainText(), QString::fromUtf8("café au lait\n"));
  QTest::keyClick(ed(), Qt::Key_End, Qt::ControlModifier);
  ed()->insertPlainText(QString::fromUtf8("sucre \xe2\x82\xac"));  // the euro sign has a byte in 1252 too
  ASSERT_TRUE(form->FileSave());
  EXPECT_EQ(testenv::readFile(path), "caf\xe9 au lait\nsucre \x80");

  // A full disk: the old file stays whole, the document stays modified, the user is told.
  ed()->insertPlainText(QString(20000, u'x'));
  {
    testenv::DiskFullAbove full(4096);
    ASSERT_TRUE(full.ok());
    EXPECT_FALSE(form->FileSave());
  }
  EXPECT_EQ(testenv::readFile(path), "caf\xe9 au lait\nsucre \x80");
  ASSERT_EQ(host.errors.size(), 1);
  EXPECT_TRUE(host.errors[0].contains("notes.txt"));
  EXPECT_EQ(form->panelText(1), "Modified");
}

TEST_F(RichForm, HandOverOpensTheMainWindowsFileAndAnEmptyWindowIgnoresIt) {
  host.current = testenv::writeFile(dir + "/report.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs32 Report\\par}");
  open(true);
  EXPECT_EQ(form->windowTitle(), "Tarnwick - report.rtf");
  EXPECT_EQ(form->fileName(), host.current);
  EXPECT_EQ(ed()->toPlainText(), "Report");
  EXPECT_EQ(form->panelText(1), "");
  delete form.data();

  open(false);
  EXPECT_EQ(form->windowTitle(), "Tarnwick - Untitled");
  EXPECT_EQ(ed()->toPlainText(), "");
}

TEST_F(RichForm, FormatButtonsWorkOnTheSelectionOrOnTextTypedNext) {
  open();
  type("plain ");
  // Nothing selected: Bold holds for what is typed next only.
  auto *bold = form->findChild<QAction *>("BoldButton");
  ASSERT_NE(bold, nullptr);
  bold->trigger();
  type("strong");
  QTextCursor c(ed()->document());
  c.setPosition(3);
  EXPECT_NE(c.charFormat().fontWeight(), QFont::Bold);
  c.setPosition(9);
  EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);

  // A selection: italic and the size go to the selected characters only; the buttons follow the selection.
  QTextCursor sel = ed()->textCursor();
  sel.setPosition(0);
  sel.setPosition(5, QTextCursor::KeepAnchor);
  ed()->setTextCursor(sel);
  EXPECT_FALSE(bold->isChecked());
  form->findChild<QAction *>("ItalicButton")->trigger();
  form->findChild<QSpinBox *>("FontSize")->setValue(20);
  c.setPosition(2);
  EXPECT_TRUE(c.charFormat().fontItalic());
  EXPECT_EQ(c.charFormat().fontPointSize(), 20);
  c.setPosition(8);
  EXPECT_FALSE(c.charFormat().fontItalic());

  // Alignment and bullets go to the paragraph; both come back as the buttons' state.
  form->findChild<QAction *>("CenterAlign")->trigger();
  form->findChild<QAction *>("BulletsButton")->trigger();
  EXPECT_TRUE(ed()->document()->firstBlock().blockFormat().alignment() & Qt::AlignHCenter);
  EXPECT_NE(ed()->document()->firstBlock().textList(), nullptr);
  ed()->moveCursor(QTextCursor::End);
  EXPECT_TRUE(form->findChild<QAction *>("CenterAlign")->isChecked());
  EXPECT_TRUE(form->findChild<QAction *>("BulletsButton")->isChecked());

  // The font dialog's choice, colour included; undo takes it back.
  host.fontChosen = true;
  host.font = QFont("Liberation Mono", 14);
  host.color = QColor(Qt::red);
  ed()->setTextCursor(sel);
  form->SelectFont();
  c.setPosition(2);
  EXPECT_EQ(c.charFormat().fontFamilies().toStringList().value(0), "Liberation Mono");
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(Qt::red));
  EXPECT_TRUE(form->findChild<QAction *>("UndoButton")->isEnabled());
  form->EditUndo();
  c.setPosition(2);
  EXPECT_NE(c.charFormat().foreground().color(), QColor(Qt::red));
}

TEST_F(RichForm, RulerMarkersFollowTheParagraphAndSetItsIndentsWhenDragged) {
  open();
  form->resize(800, 400);
  type(QString("A paragraph long enough to wrap onto more lines. ").repeated(4));
  ed()->setParagraphIndents({36, -18, 9});  // first line at 36 pt, the others at 18 pt
  form->SelectionChange();
  QWidget *ruler = form->ruler();
  const int width = ruler->contentsRect().width();
  EXPECT_EQ(form->marker(0)->x(), 48 + 2);
  EXPECT_EQ(form->marker(1)->x(), 24 + 2);
  EXPECT_EQ(form->marker(2)->x(), width - 20 - 6);

  auto drag = [&](QWidget *m, int rulerX) {
    const QPoint at = m->mapFromParent(QPoint(rulerX, m->y() + 2));
    QTest::mousePress(m, Qt::LeftButton, {}, at);
    QTest::mouseRelease(m, Qt::LeftButton, {}, m->mapFromParent(QPoint(rulerX, m->y() + 2)));
  };
  const int half = form->marker(0)->width() / 2;
  // The left marker at ruler x 100: the other lines at trunc((100 - 6) * 3/4) = 70 pt.
  drag(form->marker(1), 100);
  TParaIndents in = ed()->paragraphIndents();
  EXPECT_DOUBLE_EQ(in.first, 36);
  EXPECT_DOUBLE_EQ(in.left + in.first, 70);
  // The first-line marker at x 20: the first line at trunc(14 * 3/4) = 10 pt; the other lines stay.
  drag(form->marker(0), 20);
  in = ed()->paragraphIndents();
  EXPECT_DOUBLE_EQ(in.first, 10);
  EXPECT_DOUBLE_EQ(in.left + in.first, 70);
  // The right marker 40 pixels from the right edge.
  drag(form->marker(2), width - 40);
  in = ed()->paragraphIndents();
  EXPECT_DOUBLE_EQ(in.right, int((40 + 2 * half - 2) * 3 / 4.0) - 12);
  // The editor lays the paragraph out with those indents: its second line starts 70 pt in.
  const QTextBlock b = ed()->document()->firstBlock();
  ASSERT_GE(b.layout()->lineCount(), 2);
  EXPECT_NEAR(b.layout()->lineAt(1).x() - b.layout()->lineAt(0).x(), (70 - 10) * 4 / 3.0, 0.5);
  // Markers were placed again from the paragraph.
  EXPECT_EQ(form->marker(0)->x(), int(10 * 4 / 3.0) + 2);
  EXPECT_TRUE(ed()->isModified());
}

TEST_F(RichForm, LinesAreWrappedLinesAndClipboardButtonsFollowTheirState) {
  open();
  form->resize(300, 400);
  type("one");
  QTest::keyClick(ed(), Qt::Key_Return);
  type(QString("word ").repeated(60));
  // Every wrapped line starts where the editor says it does, and the column is never negative.
  const int lines = ed()->lineFromChar(ed()->document()->characterCount() - 1) + 1;
  EXPECT_GT(lines, 4);
  for (int l = 0; l < lines; ++l) {
    EXPECT_EQ(ed()->lineFromChar(ed()->lineIndex(l)), l);
    QTextCursor c = ed()->textCursor();
    c.setPosition(ed()->lineIndex(l) + 2);
    ed()->setTextCursor(c);
    EXPECT_EQ(form->panelText(0), QString::asprintf("Line: %3d   Col: %3d", l + 1, 3));
  }

  auto enabled = [&](const char *name) { return form->findChild<QAction *>(name)->isEnabled(); };
  EXPECT_FALSE(enabled("CopyButton"));
  EXPECT_FALSE(enabled("EditCutItem"));
  ed()->selectAll();
  EXPECT_TRUE(enabled("CopyButton"));
  EXPECT_TRUE(enabled("EditCutItem"));
  QApplication::clipboard()->clear();
  EXPECT_TRUE(testenv::waitFor([&] { return !enabled("PasteButton") && !enabled("EditPasteItem"); }));
  QApplication::clipboard()->setText("pasted");
  EXPECT_TRUE(testenv::waitFor([&] { return enabled("PasteButton") && enabled("EditPasteItem"); }));
}

TEST_F(RichForm, DroppedFileOpensAfterTheSaveQuestion) {
  const QString path = testenv::writeFile(dir + "/dropped.rtf", "{\\rtf1 dropped text\\par}");
  open();
  type("unsaved");
  auto drop = [&](const QString &first = QString()) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(first.isEmpty() ? path : first), QUrl::fromLocalFile(dir + "/second.rtf")});
    QWidget *vp = ed()->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropEv(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &dropEv);
  };
  drop();  // Cancel: nothing happens
  EXPECT_EQ(ed()->toPlainText(), "unsaved");
  // A folder dropped: refused with a message, the document stays.
  host.answers << QMessageBox::No;
  drop(dir);
  ASSERT_EQ(host.errors.size(), 1);
  EXPECT_TRUE(host.errors[0].contains("folder"));
  EXPECT_EQ(ed()->toPlainText(), "unsaved");
  host.answers << QMessageBox::No;
  drop();
  EXPECT_EQ(ed()->toPlainText(), "dropped text");
  EXPECT_EQ(form->windowTitle(), "Tarnwick - dropped.rtf");
  EXPECT_EQ(host.asked.size(), 3);
}

TEST_F(RichForm, PrintsToPdfWithTheFileNameAsTitle) {
  if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext (poppler-utils) missing";
  host.current = testenv::writeFile(dir + "/print me.rtf", "{\\rtf1 {\\b Printed} page text\\par Second paragraph\\par}");
  open(true);
  host.pdf = dir + "/out.pdf";
  form->FilePrint();
  QProcess p;
  p.start("pdftotext", {host.pdf, "-"});
  ASSERT_TRUE(p.waitForFinished(30000));
  const QString text = QString::fromUtf8(p.readAllStandardOutput());
  EXPECT_TRUE(text.contains("Printed page text")) << text.toStdString();
  EXPECT_TRUE(text.contains("Second paragraph"));
  QProcess info;
  info.start("pdfinfo", {host.pdf});
  ASSERT_TRUE(info.waitForFinished(30000));
  EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains(host.current));
}
