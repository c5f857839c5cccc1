// The Zip tab through the real engines: the contents grid of archives made by python's zipfile, its
// sorting and totals row, and each command's flow (create, add, extract, delete, test, cancel, view).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QButtonGroup>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <functional>

#include "platform/paths.h"
#include "zip/makesfx.h"
#include "tests/common/testenv.h"
#include "tests/engines/peers.h"
#include "zip/msgform.h"
#include "zip/ziptab.h"

using testenv::makeDir;
using testenv::readFile;
using testenv::writeFile;

namespace {
// The page's host: answers its questions from the test and records what the page asked for.
struct TestZipHost final : TZipHost {
  QString folder = QDir::currentPath();
  QStringList items;
  QString selected;
  QStringList shown;  // messages and questions, in order
  bool answerYes = true;
  QString saveName, openName, password, inputAnswer;
  QStringList dialogs;  // "title|filter|folder" of each file dialog
  bool addMode = false, activated = false, htmlEnabled = true;
  QString currentName, title, listHint, tabCaption, viewed, viewedExt;
  int browserPanesShown = 0;
  // When set, answers input boxes instead of inputAnswer.
  std::function<QString(const QString &value)> onInput;

  QString currentFolder() const override { return folder; }
  void setZipAddMode(bool on) override { addMode = on; }
  void setCurrentName(const QString &name) override { currentName = name; }
  void setTitle(const QString &text) override { title = text; }
  void setListHint(const QString &hint) override { listHint = hint; }
  void showBrowserPanes() override { ++browserPanesShown; }
  void activateZipTab() override { activated = true; }
  void setTabCaption(const QString &caption) override { tabCaption = caption; }
  void setViewHtmlEnabled(bool on) override { htmlEnabled = on; }
  QStringList listItemNames() const override { return items; }
  QString selectedListItemName() const override { return selected; }
  void viewFile(const QString &file, const QString &ext) override {
    viewed = file;
    viewedExt = ext;
  }
  QString folderAnswer;
  // Answers of the component's questions, in order; Cancel when they run out.
  QList<int> buttonAnswers;
  QStringList questions;
  QString askFolder(const QString &, const QString &) override { return folderAnswer; }
  int askButtons(const QString &, const QString &text, int, int, int) override {
    questions << text;
    return buttonAnswers.isEmpty() ? TZipMaster::BtnCancel : buttonAnswers.takeFirst();
  }
  bool askForDisk(const QString &text, int, QString *) override {
    questions << text;
    return false;
  }
  void showMessage(const QString &text) override { shown << text; }
  bool confirm(const QString &text) override {
    shown << text;
    return answerYes;
  }
  QString askOpenFile(const QString &t, const QString &filter, const QString &f) override {
    dialogs << t + '|' + filter + '|' + f;
    return openName;
  }
  QString askSaveFile(const QString &t, const QString &filter, const QString &f) override {
    dialogs << t + '|' + filter + '|' + f;
    return saveName;
  }
  QString inputBox(const QString &, const QString &, const QString &value) override {
    return onInput ? onInput(value) : inputAnswer;
  }
  QString askPassword(const QString &, const QString &) override { return password; }
};

// A zip tab with a test host.
struct Fixture {
  TestZipHost host;
  TMsgform msgform;
  TZipTab tab{host, &msgform};
  QStringList &shown = host.shown;
  Fixture() { tab.resize(600, 400); }
  TSortGrid *g() { return tab.StringGrid1; }
  QStringList column(int col) {
    QStringList out;
    for (int r = 1; r < g()->RowCount(); ++r) out << g()->Cells(col, r);
    return out;
  }
  // Selects the data rows whose File Name cell is one of names (a contiguous range).
  void selectNames(const QStringList &names, bool withTotals = false) {
    int top = INT_MAX, bottom = -1;
    for (int r = 1; r < g()->RowCount() - 1; ++r)
      if (names.contains(g()->Cells(0, r))) {
        top = qMin(top, r);
        bottom = qMax(bottom, r);
      }
    if (withTotals) bottom = g()->RowCount() - 1;
    g()->selectRows(top, bottom);
  }
};

// Writes an archive with python's zipfile: (name, bytes, deflate?) members dated 2020-05-17 13:45:30.
// Returns python's own "name compressed uncompressed" lines.
QStringList pyZip(const QString &path, const QString &members) {
  const auto r = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "for name, data, deflate in " + members + ":\n"
      "    i = zipfile.ZipInfo(name, (2020, 5, 17, 13, 45, 30))\n"
      "    i.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED\n"
      "    z.writestr(i, data)\n"
      "z.close()\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename, i.compress_size, i.file_size)\n",
      {path});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
  return r.out.trimmed().split('\n');
}

const char *kThree = "[('readme.txt', b'hello readme\\n', False), ('sub/b.bin', b'x' * 3000, True), ('c.dat', b'', False)]";
}  // namespace

TEST(ZipTexts, RatiosTotalsAndSentences) {
  EXPECT_EQ(ziptexts::ratioText(1, 3), "66% ");
  EXPECT_EQ(ziptexts::ratioText(0, 5), "100% ");
  EXPECT_EQ(ziptexts::ratioText(0, 0), "0% ");
  EXPECT_EQ(ziptexts::ratioText(3, 3), "0% ");
  // 30,000,000 x 100 overflows 32 bits; the ratio must still be right.
  EXPECT_EQ(ziptexts::ratioText(30000000, 60000000), "50% ");
  EXPECT_EQ(ziptexts::ratioText(30000000, 90000000), "67% ");  // remainder below half: no rounding up
  EXPECT_EQ(ziptexts::totalRatioText(50, 100), "50% ");
  EXPECT_EQ(ziptexts::totalRatioText(0, 0), "0 % ");
  EXPECT_EQ(ziptexts::totalRatioText(1, 8), "88% ");   // 87.5 rounds to the even 88
  EXPECT_EQ(ziptexts::totalRatioText(3, 8), "62% ");   // 62.5 rounds to the even 62
  EXPECT_EQ(ziptexts::countSentence(1, "added"), "1 file was added");
  EXPECT_EQ(ziptexts::countSentence(0, "added"), "0 files were added");
  EXPECT_EQ(ziptexts::countSentence(2, "extracted"), "2 files were extracted");
  // DOS date 2020-05-17 13:45:30.
  const quint32 dt = (quint32((2020 - 1980) << 9 | 5 << 5 | 17) << 16) | (13 << 11 | 45 << 5 | 15);
  const QLocale loc;
  EXPECT_EQ(ziptexts::dosDateTimeText(dt), loc.toString(QDate(2020, 5, 17), QLocale::ShortFormat) + "  " +
                                              loc.toString(QTime(13, 45, 30), QLocale::ShortFormat));
  EXPECT_EQ(ziptexts::dosDateTimeText(0), QString());  // month 0: no date
}

TEST(ZipTexts, NewNamesAndUnviewableMembers) {
  QString n = "/tmp/a/new";
  EXPECT_EQ(ziptexts::checkNewZipName(n), QString());
  EXPECT_EQ(n, "/tmp/a/new.zip");
  n = "/tmp/a/new.rar";
  EXPECT_EQ(ziptexts::checkNewZipName(n), "Error: your new archive must end in .ZIP");
  n = "/tmp/a/new.exe";
  EXPECT_EQ(ziptexts::checkNewZipName(n), "Error: you must create a .ZIP file, then convert to .EXE");
  n = "/tmp/a.b/New.ZIP";
  EXPECT_EQ(ziptexts::checkNewZipName(n), QString());
  EXPECT_EQ(n, "/tmp/a.b/New.ZIP");
  EXPECT_TRUE(ziptexts::isUnviewableExtension(".dll"));
  EXPECT_TRUE(ziptexts::isUnviewableExtension(".dl"));  // found inside ".dll"
  EXPECT_FALSE(ziptexts::isUnviewableExtension(".txt"));
  EXPECT_FALSE(ziptexts::isUnviewableExtension(".d"));  // too short
}

TEST(ZipTexts, ControlCharactersAreEscapedForShowingAndReplacedForWriting) {
  EXPECT_EQ(ziptexts::printable("plain name.txt"), "plain name.txt");
  EXPECT_EQ(ziptexts::printable(QString("a\nb\tc\rd\x1b[0m\x7f") + QChar(0x85) + QString::fromUtf8("é")),
            QString("a\\nb\\tc\\rd\\x1b[0m\\x7f\\u0085") + QString::fromUtf8("é"));
  EXPECT_EQ(ziptexts::withoutControls(QString("a\nb\x1b") + QChar(0x9F) + "c"), "a_b__c");
}

TEST(ZipTab, GridListsAnArchiveOfAnotherToolWithTotalsAndSorting) {
  Fixture f;
  const QString zip = makeDir("a") + "/three.zip";
  const QStringList py = pyZip(zip, kThree);
  ASSERT_EQ(py.size(), 3);
  f.tab.ShowZip(zip);
  EXPECT_EQ(f.host.tabCaption, "three.zip - Files = 3");
  EXPECT_FALSE(f.host.htmlEnabled);
  EXPECT_TRUE(f.host.activated);
  EXPECT_TRUE(f.tab.Extract1->isEnabled());
  EXPECT_TRUE(f.tab.CloseZipFile1->isEnabled());
  EXPECT_TRUE(f.tab.Open1->isEnabled());
  ASSERT_EQ(f.g()->RowCount(), 5);
  const QStringList headings = {"File Name", "Compr Size", "Uncmpr Size", "Date/Time", "Ratio", "Path"};
  for (int c = 0; c < 6; ++c) EXPECT_EQ(f.g()->Cells(c, 0), headings[c]);
  // Freshly read: sorted as text by column 0, ascending.
  EXPECT_EQ(f.column(0), QStringList({"b.bin", "c.dat", "readme.txt", "Total"}));
  EXPECT_EQ(f.column(5), QStringList({"sub/", "", "", ""}));
  const QString bComp = py[1].split(' ')[1];
  EXPECT_EQ(f.g()->Rows(1), QStringList({"b.bin", bComp, "3000", ziptexts::dosDateTimeText(f.tab.ZipMaster1->Entries()[1].dosDateTime()),
                                          ziptexts::ratioText(bComp.toULongLong(), 3000), "sub/"}));
  EXPECT_EQ(f.g()->Rows(2), QStringList({"c.dat", "0", "0", f.g()->Cells(3, 2), "0% ", ""}));
  EXPECT_FALSE(f.g()->Cells(3, 2).isEmpty());
  const quint64 totalC = bComp.toULongLong() + 13;
  EXPECT_EQ(f.g()->Rows(4), QStringList({"Total", QString::number(totalC), "3013", "", ziptexts::totalRatioText(totalC, 3013), ""}));
  // Header clicks flip the direction every time; size columns sort as numbers (the totals row is numeric
  // there), the totals row stays last.
  TSortGrid *g = f.g();
  g->clickSort(2, Qt::LeftButton);  // first click: descending
  EXPECT_EQ(f.column(2), QStringList({"3000", "13", "0", "3013"}));
  g->clickSort(2, Qt::LeftButton);
  EXPECT_EQ(f.column(2), QStringList({"0", "13", "3000", "3013"}));
  g->clickSort(0, Qt::LeftButton);  // another column also flips
  EXPECT_EQ(f.column(0), QStringList({"readme.txt", "c.dat", "b.bin", "Total"}));
  EXPECT_EQ(f.tab.sortColumn(), 0);
  // The cell formats: sizes, date and ratio right-aligned, the totals row bold.
  TFormatOptions fo = g->cellFormat(1, 1, 0);
  EXPECT_EQ(fo.AlignmentHorz, taRightJustify);
  EXPECT_FALSE(fo.Font.bold());
  EXPECT_EQ(g->cellFormat(0, 1, 0).AlignmentHorz, taLeftJustify);
  EXPECT_TRUE(g->cellFormat(0, 4, 0).Font.bold());
  // Type icons by the member's name, in the name column only; the totals row has none.
  const QIcon text = g->cellFormat(0, 1, 0).Icon, binary = g->cellFormat(0, 3, 0).Icon;
  ASSERT_FALSE(text.isNull());
  ASSERT_FALSE(binary.isNull());
  EXPECT_NE(text.pixmap(16).toImage(), binary.pixmap(16).toImage());
  EXPECT_TRUE(g->cellFormat(0, 4, 0).Icon.isNull());
  EXPECT_TRUE(g->cellFormat(1, 1, 0).Icon.isNull());
  // Close: grid empty, commands off, caption back.
  f.tab.CloseZipFile1Click();
  EXPECT_EQ(g->RowCount(), 2);
  EXPECT_EQ(f.host.tabCaption, "Zip");
  EXPECT_FALSE(f.tab.Extract1->isEnabled());
}

TEST(ZipTab, ReadingAgainSortsTheLastColumnAsText) {
  Fixture f;
  const QString zip = makeDir("a") + "/n.zip";
  pyZip(zip, "[('a', b'x' * 100, False), ('b', b'x' * 9, False), ('c', b'x' * 10, False)]");
  f.tab.ShowZip(zip);
  f.g()->clickSort(1, Qt::LeftButton);
  EXPECT_EQ(f.column(1), QStringList({"100", "10", "9", "119"}));
  f.g()->clickSort(1, Qt::LeftButton);
  EXPECT_EQ(f.column(1), QStringList({"9", "10", "100", "119"}));
  // Listing again sorts with the kept column as text: "9" after "100".
  f.tab.ZipMaster1->List();
  EXPECT_EQ(f.column(1), QStringList({"10", "100", "9", "119"}));
}

TEST(ZipTab, EmptyArchiveShowsOneEmptyRowWithoutTotals) {
  Fixture f;
  const QString zip = makeDir("a") + "/empty.zip";
  pyZip(zip, "[]");
  f.tab.ShowZip(zip);
  EXPECT_EQ(f.g()->RowCount(), 2);
  EXPECT_EQ(f.g()->Rows(1), QStringList(6, QString()));
  EXPECT_EQ(f.g()->Cells(0, 0), "File Name");
  f.tab.Test1Click();
  EXPECT_EQ(f.shown.last(), "Error - nothing to Test");
  f.tab.OKButClick();
  EXPECT_EQ(f.shown.last(), "Error - no files to extract");
  f.tab.DeleteFrom1Click();
  EXPECT_EQ(f.shown.last(), "Error - no files to delete");
}

TEST(ZipTab, CreateAddExtractDeleteAndTestEndToEnd) {
  Fixture f;
  const QString dir = makeDir("work");
  // Create: refused names, then a name without a dot gets ".zip".
  f.host.saveName = dir + "/bad.rar";
  f.tab.NewZipClick();
  EXPECT_EQ(f.shown.last(), "Error: your new archive must end in .ZIP");
  f.host.saveName = dir + "/bad.exe";
  f.tab.NewZipClick();
  EXPECT_EQ(f.shown.last(), "Error: you must create a .ZIP file, then convert to .EXE");
  f.tab.ZipButtonClick();
  EXPECT_EQ(f.shown.last(), "Error - open a zip file first");
  f.host.saveName = dir + "/made";
  f.tab.NewZipClick();
  const QString zip = dir + "/made.zip";
  EXPECT_EQ(f.tab.ZipMaster1->ZipFilename(), zip);
  EXPECT_TRUE(f.tab.AddTo1->isEnabled());
  EXPECT_EQ(f.g()->RowCount(), 2);

  // Add one file: the panel, the mode, the label and the sentence.
  const QString src = makeDir("src");
  writeFile(src + "/one.txt", "first file\n");
  writeFile(src + "/deep/two.txt", "second file\n");
  f.tab.AddTo1Click();
  EXPECT_TRUE(f.host.addMode);
  EXPECT_TRUE(f.tab.addPanelShown());
  EXPECT_EQ(f.host.title, "Tarnwick - Select files for zipping by Double Clicking file or DRAG selected Files/Folders across");
  f.tab.ZipButtonClick();
  EXPECT_EQ(f.shown.last(), "No files selected");
  f.tab.addToSelection(src + "/one.txt", false);
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 1");
  f.tab.ZipButtonClick();
  EXPECT_EQ(f.shown.last(), "1 file was added");
  EXPECT_TRUE(f.msgform.RichEdit1->toPlainText().startsWith("Beginning Add to " + zip));
  EXPECT_FALSE(f.host.addMode);
  EXPECT_FALSE(f.tab.addPanelShown());
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 0");
  EXPECT_EQ(f.host.title, "Tarnwick");
  EXPECT_EQ(f.column(0), QStringList({"one.txt", "Total"}));

  // Add a folder (dropped folders get "/*.*") with folder names and sub-folders.
  f.tab.AddTo1Click();
  f.tab.DirNameCB->setChecked(true);
  f.tab.RecurseCB->setChecked(true);
  f.tab.addToSelection(src + "/deep");
  EXPECT_EQ(f.tab.SelectedList->item(0)->text(), src + "/deep/*.*");
  f.tab.ZipButtonClick();
  EXPECT_EQ(f.shown.last(), "1 file was added");
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 2);
  EXPECT_TRUE(f.column(5).contains((src + "/deep/").mid(1))) << f.column(5).join('|').toStdString();

  // Extract selected without folder names into the current folder.
  const QString out = makeDir("out");
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(out);
  f.selectNames({"two.txt"});
  f.tab.OKButClick();
  EXPECT_EQ(f.shown.last(), "1 file was extracted");
  EXPECT_EQ(readFile(out + "/two.txt"), "second file\n");
  EXPECT_FALSE(QFileInfo::exists(out + "/one.txt"));
  // All files, with folder names.
  f.tab.RadioGroup3Items->button(0)->setChecked(true);
  f.tab.RadioGroup1Items->button(1)->setChecked(true);
  f.tab.OKButClick();
  EXPECT_EQ(f.shown.last(), "2 files were extracted");
  EXPECT_EQ(readFile(out + "/" + (src + "/deep/two.txt").mid(1)), "second file\n");
  EXPECT_EQ(readFile(out + "/one.txt"), "first file\n");
  QDir::setCurrent(cwd);

  // Test: all good.
  f.tab.Test1Click();
  EXPECT_EQ(f.shown.last(), "All 2 files tested OK");
  EXPECT_TRUE(f.msgform.isHidden());

  // Delete: the totals row in the selection is left out; "No" keeps everything.
  f.host.answerYes = false;
  f.selectNames({"one.txt", "two.txt"}, true);
  f.tab.DeleteFrom1Click();
  EXPECT_EQ(f.shown.last(), "Delete selected files from: " + zip + "?");
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 2);
  f.host.answerYes = true;
  f.selectNames({"two.txt"}, true);
  f.tab.DeleteFrom1Click();
  EXPECT_EQ(f.shown.last(), "1 file was deleted");
  EXPECT_EQ(f.column(0), QStringList({"one.txt", "Total"}));
  const auto check = peers::python("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; print(len(z.namelist()))", {zip});
  EXPECT_EQ(check.out.trimmed(), "1") << check.out.toStdString();

  // Delete the archive itself.
  f.tab.DestroyZipFile1Click();
  EXPECT_EQ(f.shown.last(), "Are you sure you want to delete: " + zip + "?");
  EXPECT_FALSE(QFileInfo::exists(zip));
  EXPECT_TRUE(f.tab.ZipMaster1->ZipFilename().isEmpty());
  EXPECT_FALSE(f.tab.DestroyZipFile1->isEnabled());
}

TEST(ZipTab, TestOfACorruptedArchiveCountsTheBadMembers) {
  Fixture f;
  const QString zip = makeDir("c") + "/bad.zip";
  pyZip(zip, "[('a.txt', b'AAAAAAAAAAAAAAAA', False), ('b.txt', b'BBBBBBBBBBBBBBBB', False), ('c.txt', b'CCCCCCCCCCCCCCCC', False)]");
  QByteArray bytes = readFile(zip);
  const int at = bytes.indexOf("BBBBBBBBBBBBBBBB");
  ASSERT_GT(at, 0);
  bytes[at + 3] = 'X';  // the stored data no longer matches its CRC
  writeFile(zip, bytes);
  f.tab.ShowZip(zip);
  ASSERT_EQ(f.tab.ZipMaster1->EntryCount(), 3);
  f.tab.Test1Click();
  EXPECT_TRUE(f.shown.contains("ERROR: 1 files tested BAD, or skipped!")) << f.shown.join('|').toStdString();
  EXPECT_TRUE(f.msgform.RichEdit1->toPlainText().startsWith("Beginning test of " + zip));
}

TEST(ZipTab, CancelDuringALargeAddKeepsTheArchiveAndTheWindowResponsive) {
  Fixture f;
  const QString src = makeDir("big");
  // Data that does not compress, so the engine is busy for a while.
  quint32 x = 12345;
  for (int i = 0; i < 6; ++i) {
    QByteArray data(4 << 20, 0);
    for (char &c : data) c = char((x = x * 1103515245u + 12345u) >> 24);
    writeFile(src + QString("/f%1.bin").arg(i), data);
  }
  const QString zip = makeDir("z") + "/keep.zip";
  pyZip(zip, "[('old.txt', b'kept', False)]");
  const QByteArray before = readFile(zip);
  const QString other = makeDir("o") + "/other.zip";
  pyZip(other, "[('x.txt', b'x', False)]");
  QWidget host;  // the page inside a window, as in the program
  f.tab.setParent(&host);
  host.show();
  f.tab.show();
  f.tab.ShowZip(zip);
  // Cancel with nothing running only hides the window.
  f.msgform.show();
  f.msgform.Button2->click();
  EXPECT_TRUE(f.msgform.isHidden());
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(5);
  int members = 0;
  bool visibleDuring = false, blockedClose = false;
  QString ZipMaster1NameDuring;
  QObject::connect(f.tab.ZipMaster1, &TZipMaster::OnProgress, [&](TZipMaster::ProgressType t, const QString &, qint64) {
    if (t != TZipMaster::ProgressNewMember) return;
    visibleDuring = f.msgform.isVisible();
    if (++members == 1) {
      // Events run during the engine call; other archive work and closing the window wait for it.
      f.tab.ShowZip(other);
      f.tab.CloseZipFile1Click();
      host.close();
      blockedClose = host.isVisible();
      ZipMaster1NameDuring = f.tab.ZipMaster1->ZipFilename();
      f.tab.ZipMaster1->setCancelRequested(false);
    }
    if (members == 2) f.msgform.Button2->click();  // during the add: only requests cancelling
  });
  f.tab.AddTo1Click();
  f.tab.addToSelection(src + "/*.bin", false);
  f.tab.ZipButtonClick();
  timer.stop();
  EXPECT_TRUE(visibleDuring);
  EXPECT_TRUE(blockedClose);
  EXPECT_EQ(ZipMaster1NameDuring, zip);
  EXPECT_EQ(f.tab.ZipMaster1->ZipFilename(), zip);
  EXPECT_GE(members, 2);
  EXPECT_LT(members, 6);
  EXPECT_EQ(f.tab.ZipMaster1->SuccessCount(), 0);
  EXPECT_EQ(readFile(zip), before);  // the archive is as it was
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 1);
  EXPECT_GT(ticks, 0);  // timers ran while the engine worked
  EXPECT_EQ(f.msgform.ProgressBar2->minimum(), 1);
  EXPECT_EQ(f.msgform.ProgressBar2->maximum(), 101);
  host.close();
  EXPECT_FALSE(host.isVisible());  // nothing running: the window closes
  f.tab.setParent(nullptr);  // the fixture owns the page
}

TEST(ZipTab, DoubleClickViewsAMemberThroughTheViewFile) {
  Fixture f;
  const QString zip = makeDir("v") + "/view.zip";
  pyZip(zip, "[('readme.txt', b'read me please\\n', True), ('lib.dll', b'MZ', False), ('Tarnwick.Fav', b'not favourites', False)]");
  // A user file beside the view file that a member of the same name must not replace.
  writeFile(platform::userFile("Tarnwick.Fav"), "/home\n");
  f.tab.ShowZip(zip);
  f.selectNames({"lib.dll"});
  f.tab.StringGrid1DblClick();
  EXPECT_EQ(f.host.currentName, "lib.dll");
  EXPECT_TRUE(f.host.viewed.isEmpty());
  f.selectNames({"readme.txt"});
  f.tab.StringGrid1DblClick();
  EXPECT_EQ(f.host.viewed, platform::userFile("TarnwickFile"));
  EXPECT_EQ(f.host.viewedExt, ".txt");
  EXPECT_EQ(readFile(f.host.viewed), "read me please\n");
  f.selectNames({"Tarnwick.Fav"});
  f.tab.StringGrid1DblClick();
  EXPECT_EQ(readFile(f.host.viewed), "not favourites");
  EXPECT_EQ(readFile(platform::userFile("Tarnwick.Fav")), "/home\n");
  EXPECT_TRUE(f.shown.isEmpty()) << f.shown.join('|').toStdString();  // view mode shows no messages
}

TEST(ZipTab, AddPanelAidsAndOptionBoxes) {
  Fixture f;
  const QString dir = makeDir("aids");
  writeFile(dir + "/a.txt", "a");
  writeFile(dir + "/b.txt", "b");
  QDir().mkpath(dir + "/sub");
  f.host.folder = dir;
  f.host.items = QStringList({"a.txt", "sub", "b.txt"});
  f.tab.AddTo1Click();
  EXPECT_TRUE(f.host.addMode);
  EXPECT_EQ(f.host.browserPanesShown, 1);
  EXPECT_EQ(f.host.listHint, "Double click file or Drag selected Files/Folders across for adding to zip file...");
  f.tab.SelectAllFilesClick();
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 2");
  EXPECT_EQ(f.tab.SelectedList->item(0)->text(), dir + "/a.txt");
  f.tab.SelectFolderClick();
  EXPECT_EQ(f.shown.last(), "No folder selected");
  f.host.selected = "sub";
  f.tab.SelectFolderClick();
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 3");
  f.tab.SelectedList->item(0)->setSelected(true);
  f.tab.SelectedListDblClick();
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 2");
  f.tab.Button2Click();
  EXPECT_EQ(f.tab.Label1->text(), "Files to be added: 0");
  f.tab.DosNameCB->setChecked(true);
  f.tab.DosNameCBClick();
  EXPECT_EQ(f.shown.last(), "WARNING? - Name conflicts can occur if 2 long \rfilenames truncate to the same 8.3 filename.");
  EXPECT_FALSE(f.tab.FormatCB->isEnabled());
  f.tab.DiskSpanCB->setChecked(true);
  f.tab.DiskSpanCBClick();
  EXPECT_TRUE(f.tab.FormatCB->isEnabled() && f.tab.VolSize->isEnabled() && f.tab.FreeSpace->isEnabled());
  f.host.onInput = [](const QString &v) { return v == "1470000" ? QString("2000000") : QString("abc"); };
  f.tab.VolSizeClick();
  EXPECT_EQ(f.tab.ZipMaster1->MaxVolumeSize(), 2000000);
  f.tab.FreeSpaceClick();
  EXPECT_EQ(f.tab.ZipMaster1->KeepFreeOnDisk1(), 0);  // not a number
  f.host.onInput = [](const QString &) { return QString(); };  // cancelled
  f.tab.VolSizeClick();
  EXPECT_EQ(f.tab.ZipMaster1->MaxVolumeSize(), 2000000);
  f.tab.NoAddZipClick();
  EXPECT_FALSE(f.host.addMode);
  EXPECT_FALSE(f.tab.addPanelShown());
  EXPECT_EQ(f.host.title, "Tarnwick");
}

// 100,000 members: the fill is complete and a header click sorts every row, whole rows, both ways.
// (How long it takes is measured by bench/ziptab.)
TEST(ZipTab, ALargeArchiveFillsCompletelyAndSortsEveryRowBothWays) {
  Fixture f;
  const QString zip = makeDir("large") + "/large.zip";
  const auto r = peers::python(
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "for i in range(100000): z.writestr('d%02d/f%06d.txt' % (i % 37, (i * 7919) % 100000), b'x' * (2 * (i % 5)))\n"
      "z.close()\n",
      {zip});
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
  f.tab.ShowZip(zip);
  TSortGrid *g = f.g();
  ASSERT_EQ(g->RowCount(), 100002);
  // Member k was written as the i-th with k = i * 7919 mod 100000; 17,679 * 7919 = 1 mod 100000.
  auto writtenAs = [](int k) { return int((qint64(k) * 17679) % 100000); };
  auto expectRows = [&](bool descending) {
    int wrong = 0;
    for (int row = 1; row <= 100000 && wrong < 5; ++row) {
      const int k = descending ? 100000 - row : row - 1;
      const int i = writtenAs(k);
      const QStringList want = {QString("f%1.txt").arg(k, 6, 10, QChar('0')), QString::number(2 * (i % 5)), QString::number(2 * (i % 5)),
                                g->Cells(3, row), "0% ", QString("d%1/").arg(i % 37, 2, 10, QChar('0'))};
      if (g->Rows(row) != want) {
        ADD_FAILURE() << "row " << row << ": " << g->Rows(row).join('|').toStdString() << " instead of "
                      << want.join('|').toStdString();
        ++wrong;
      }
    }
    EXPECT_EQ(g->Rows(100001), QStringList({"Total", "400000", "400000", "", "0% ", ""}));
  };
  expectRows(false);  // freshly read: by name, ascending
  g->clickSort(0, Qt::LeftButton);
  expectRows(true);
  g->clickSort(0, Qt::LeftButton);
  expectRows(false);
}

TEST(ZipTab, ControlCharactersShowEscapedAndExtractUnderSafeNames) {
  Fixture f;
  const QString zip = makeDir("ctl") + "/ctl.zip";
  pyZip(zip, "[('a\\tb.txt', b'tab', False), ('dir\\n/x\\x1b.txt', b'esc', False), ('plain.txt', b'p', False)]");
  f.tab.ShowZip(zip);
  EXPECT_EQ(f.column(0), QStringList({"a\\tb.txt", "plain.txt", "x\\x1b.txt", "Total"}));
  EXPECT_EQ(f.column(5), QStringList({"", "", "dir\\n/", ""}));
  // Extracting the selected rows names the stored members and writes safe names.
  const QString dest = makeDir("dest");
  const QString before = QDir::currentPath();
  QDir::setCurrent(dest);
  f.tab.RadioGroup1Items->button(1)->setChecked(true);  // folder names
  f.selectNames({"a\\tb.txt", "plain.txt", "x\\x1b.txt"});
  f.tab.OKButClick();
  QDir::setCurrent(before);
  EXPECT_EQ(f.shown.last(), "3 files were extracted") << f.shown.join('|').toStdString();
  EXPECT_EQ(readFile(dest + "/a_b.txt"), "tab");
  EXPECT_EQ(readFile(dest + "/dir_/x_.txt"), "esc");
  // The log shows the names escaped.
  f.tab.ZipMaster1->setVerbose(true);
  f.tab.Test1Click();
  const QString log = f.msgform.RichEdit1->toPlainText();
  EXPECT_TRUE(log.contains("a\\tb.txt")) << log.toStdString();
  for (const QString &line : log.split('\n'))
    EXPECT_FALSE(line.contains(QRegularExpression("[\\x00-\\x1f\\x7f]"))) << line.toStdString();
  EXPECT_EQ(f.shown.last(), "All 3 files tested OK");
  // A double click views the member under its safe name.
  f.selectNames({"x\\x1b.txt"});
  f.tab.StringGrid1DblClick();
  EXPECT_EQ(f.host.currentName, "x\\x1b.txt");
  EXPECT_EQ(f.host.viewedExt, ".txt");
  EXPECT_EQ(readFile(f.host.viewed), "esc");
}

TEST(ZipTab, DateTimeColumnFitsItsTextUnlessAWidthWasStored) {
  Fixture f;
  QFont big = f.g()->font();
  big.setPointSize(big.pointSize() * 3);
  f.g()->setFont(big);
  const QString zip = makeDir("w") + "/w.zip";
  pyZip(zip, "[('a.txt', b'a', False)]");
  f.tab.ShowZip(zip);
  const QString text = f.g()->Cells(3, 1);
  ASSERT_FALSE(text.isEmpty());
  const int needed = QFontMetrics(big).horizontalAdvance(text) + 4;  // the cell's margins
  EXPECT_GE(f.g()->ColWidths(3), needed);
  // A width the user chose is kept, also when it is narrower than the text.
  int stored[6] = {120, 80, 80, 77, 40, 100};
  Fixture h;
  h.g()->setFont(big);
  h.tab.bindColumnWidths(stored);
  h.tab.ShowZip(zip);
  EXPECT_EQ(h.g()->ColWidths(3), 77);
  h.g()->setColWidths(3, 150);
  EXPECT_EQ(stored[3], 150);
}

TEST(ZipTab, EncryptAsksForAPasswordAndReallyEncrypts) {
  Fixture f;
  const QString src = makeDir("secret");
  writeFile(src + "/s.txt", "secret text");
  f.host.saveName = makeDir("e") + "/enc.zip";
  f.tab.NewZipClick();
  f.tab.AddTo1Click();
  f.tab.EncryptCB->setChecked(true);
  f.tab.addToSelection(src + "/s.txt", false);
  f.tab.ZipButtonClick();  // no password: nothing is added, the list stays
  EXPECT_EQ(f.shown.last(), "No password given: no files were added");
  EXPECT_EQ(f.tab.SelectedList->count(), 1);
  f.host.password = "pw";
  f.tab.ZipButtonClick();
  EXPECT_EQ(f.shown.last(), "1 file was added");
  EXPECT_TRUE(f.tab.ZipMaster1->Password().isEmpty());  // not kept after the add
  ASSERT_EQ(f.tab.ZipMaster1->EntryCount(), 1);
  EXPECT_TRUE(f.tab.ZipMaster1->Entries()[0].encrypted());
  const auto r = peers::python("import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); print(z.read('s.txt', pwd=b'pw').decode())", {f.host.saveName});
  EXPECT_EQ(r.out.trimmed(), "secret text") << r.out.toStdString();
}

TEST(ZipTab, OpenAndDeletingAnArchiveThatIsGone) {
  Fixture f;
  const QString dir = makeDir("open");
  const QString zip = dir + "/gone.zip";
  pyZip(zip, "[('a.txt', b'a', False)]");
  f.host.folder = dir;
  f.host.openName = zip;
  f.tab.Open1Click();
  EXPECT_EQ(f.host.dialogs, QStringList({"Tarnwick - Open Existing ZIP File|Zip Files (*.zip *.exe)|" + dir}));
  EXPECT_TRUE(f.host.activated);
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 1);
  EXPECT_EQ(f.tab.MakeSelfExtractFile1->text(), "Make Self Extract File");
  QFile::remove(zip);
  f.tab.DestroyZipFile1Click();
  EXPECT_EQ(f.shown.last(), "Zip file not found: " + zip);
  EXPECT_FALSE(f.tab.DestroyZipFile1->isEnabled());
  f.tab.OKButClick();
  EXPECT_EQ(f.shown.last(), "Error: File not found: " + zip);
}

TEST(ZipTab, SelfExtractDialogConvertsBothWaysAndItsCloseButtonConvertsNothing) {
  Fixture f;
  const QString dir = makeDir("sfxtab");
  const QString zip = dir + "/t.zip";
  pyZip(zip, kThree);
  f.tab.ZipMaster1->setSFXPath(writeFile(dir + "/ZIPSFX.BIN", QByteArray(3000, 'S')));
  f.tab.ZipMaster1->setHowToDelete(TZipMaster::htdFinal);
  f.tab.ShowZip(zip);
  // The dialog starts as it should and stores what the user chose.
  QStringList seen;
  {
    testenv::ModalWatcher w([&](QWidget *top) {
      auto *d = qobject_cast<TMakeSFX *>(top);
      if (!d) return;
      seen << d->windowTitle() << (d->OverwriteButtons[0]->isChecked() ? "ask" : "other")
           << (d->FileListCB->isChecked() ? "files" : "-") << (d->CmdLineCB->isChecked() ? "cmd" : "-")
           << d->CaptionEdit->text();
      d->OverwriteButtons[2]->setChecked(true);
      d->AutoRunCB->setChecked(true);
      d->CommandEdit->setText("sh|-c true");
      d->ExecBut->click();
    });
    f.tab.MakeSelfExtractFile1->trigger();
  }
  EXPECT_EQ(seen, (QStringList{"Tarnwick - Make Self Extracting Archive", "ask", "files", "-",
                               "Tarnwick - Self Extracting Archive"}));
  EXPECT_EQ(f.shown.last(), "Filename is now: " + dir + "/t.exe");
  const QByteArray exe = readFile(dir + "/t.exe");
  EXPECT_EQ(exe.mid(3000, 4), QByteArray("MPU\x72", 4));  // never, ask files, no size check, auto-run
  EXPECT_EQ(f.tab.MakeSelfExtractFile1->text(), "Convert back to Zip File");

  f.tab.MakeSelfExtractFile1->trigger();  // no dialog this way
  EXPECT_EQ(f.shown.last(), "Filename is now: " + dir + "/t.zip");
  // Closed by the window's close button: nothing happens, even after a conversion in this run.
  {
    testenv::ModalWatcher w([&](QWidget *top) {
      if (qobject_cast<TMakeSFX *>(top)) top->close();
    });
    f.tab.MakeSelfExtractFile1->trigger();
  }
  EXPECT_FALSE(QFileInfo::exists(dir + "/t.exe"));
  EXPECT_EQ(f.tab.ZipMaster1->ZipFilename(), dir + "/t.zip");
}

TEST(ZipTab, ConvertSpanJoinsTheChosenLastPartAndShowsTheArchive) {
  Fixture f;
  const QString dir = makeDir("spantab");
  const QString zip = dir + "/src.zip";
  pyZip(zip, "[('big%d.bin' % i, bytes(range(256)) * 40 * (i + 1), False) for i in range(6)]");
  TZipMaster zm;
  zm.setMaxVolumeSize(30000);
  zm.setMinFreeVolumeSize(0);
  ASSERT_EQ(zm.WriteSpan(zip, dir + "/parts/bk.zip"), 0);
  const QStringList parts = QDir(dir + "/parts").entryList(QDir::Files, QDir::Name);
  ASSERT_GE(parts.size(), 2);
  f.host.folder = dir;
  f.host.openName = dir + "/parts/bk.zip";  // not a numbered part
  f.tab.ConvertSpan->trigger();
  EXPECT_EQ(f.host.dialogs.last(), "Tarnwick - Insert last disk of spanned zip set|Zip Files (*.zip)|" + dir);
  EXPECT_EQ(f.shown.last(), "This is not a valid (last) disk of a spanned archive");

  f.host.openName = dir + "/parts/" + parts.last();
  f.host.folderAnswer = makeDir("joined");
  f.tab.ConvertSpan->trigger();
  const QString joined = f.host.folderAnswer + "/bk.zip";
  EXPECT_EQ(readFile(joined), readFile(zip));
  EXPECT_EQ(f.tab.ZipMaster1->ZipFilename(), joined);
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 6);
  EXPECT_TRUE(f.tab.MakeSelfExtractFile1->isEnabled());
  // The set itself lists, but is not written into.
  f.tab.ShowZip(dir + "/parts/" + parts.last());
  EXPECT_EQ(f.tab.ZipMaster1->EntryCount(), 6);
  EXPECT_FALSE(f.tab.AddTo1->isEnabled());
  EXPECT_TRUE(f.tab.Extract1->isEnabled());
}

TEST(ZipTab, CancelInTheMessagesWindowStopsAConversionMidway) {
  Fixture f;
  const QString dir = makeDir("sfxcancel");
  const QString zip = dir + "/big.zip";
  // Stored random data: the copy takes many blocks, and events are handled between them.
  const auto r = peers::python("import sys, os, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('r.bin', os.urandom(48 << 20))\n",
                               {zip});
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString();
  const QByteArray before = readFile(zip);
  f.tab.ZipMaster1->setSFXPath(writeFile(dir + "/ZIPSFX.BIN", QByteArray(3000, 'S')));
  f.tab.ShowZip(zip);
  QObject::connect(f.tab.ZipMaster1, &TZipMaster::OnProgress, [&](TZipMaster::ProgressType t, const QString &, qint64) {
    // Runs only if the conversion lets events through while it copies.
    if (t == TZipMaster::ProgressTotalBytes) QTimer::singleShot(0, [&] { f.msgform.Button2->click(); });
  });
  testenv::ModalWatcher w([&](QWidget *top) {
    if (auto *d = qobject_cast<TMakeSFX *>(top)) d->ExecBut->click();
  });
  f.tab.MakeSelfExtractFile1->trigger();
  EXPECT_EQ(f.shown.last(), "Error occured in making .EXE file");
  EXPECT_EQ(readFile(zip), before);
  QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
  left.sort();
  EXPECT_EQ(left, (QStringList{"ZIPSFX.BIN", "big.zip"}));  // no half-made program
}
