// The database viewer: grid printing read back with pdftotext, the text export byte for byte, and the
// viewer window driven offscreen.
#include "tests/common/testenv.h"
#include "windows/dbview/tarndbf.h"
#include "windows/dbview/dbfhost.h"
#include "formats/dbase/dbfreader.h"
#include "windows/dbview/dbgrid.h"
#include "windows/dbview/printgrid.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

extern "C" {
#include <paradox.h>
}

#include "tests/formats/dbase/dbffixtures.h"

using namespace dbftest;

namespace {

class TestHost : public TDbfHost {
 public:
  QString file, folder;
  QStringList messages, questions;
  QMessageBox::StandardButton answer = QMessageBox::No;
  QString saveAs;  // answer to the save dialog
  QString savedFolder, savedName;
  QStringList savedFilters;
  int savedSelected = -1;
  PrintChoice printChoice = PrintChoice::Cancel;
  QString pdf;  // where the print dialog points the printer
  QString currentFile() const override { return file; }
  QString currentFolder() const override { return folder; }
  QMessageBox::StandardButton ask(QWidget *, const QString &text, QMessageBox::StandardButtons) override {
    questions << text;
    return answer;
  }
  void showMessage(QWidget *, const QString &text) override { messages << text; }
  QString saveFileName(QWidget *, const QString &f, const QString &name, const QStringList &filters, int selected) override {
    savedFolder = f;
    savedName = name;
    savedFilters = filters;
    savedSelected = selected;
    return saveAs;
  }
  PrintChoice printDialog(QWidget *, QPrinter &printer, int &, int &) override {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return printChoice;
  }
};

QString pdfText(const QString &pdf, int page = 0) {
  QProcess p;
  QStringList args{"-layout"};
  if (page > 0) args << "-f" << QString::number(page) << "-l" << QString::number(page);
  p.start("pdftotext", args << pdf << "-");
  p.waitForFinished(30000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

// A table of n records, fields WORD (C 10) and NUM (N 6), every 50th deleted, written by us for the
// printing tests.
QString numbered(int n, int wordLen = 10) {
  QByteArray b(32, 0);
  b[0] = 0x03;
  const int hl = 32 + 64 + 1, rl = 1 + wordLen + 6;
  b[4] = char(n & 0xff), b[5] = char(n >> 8 & 0xff), b[6] = char(n >> 16);
  b[8] = char(hl & 0xff), b[9] = char(hl >> 8), b[10] = char(rl & 0xff), b[11] = char(rl >> 8), b[29] = 0x03;
  auto field = [](const char *name, char type, int len) {
    QByteArray f(32, 0);
    f.replace(0, int(strlen(name)), name);
    f[11] = type;
    f[16] = char(len);
    return f;
  };
  b += field("WORD", 'C', wordLen) + field("NUM", 'N', 6) + "\r";
  for (int i = 0; i < n; ++i) b += QByteArray(i % 50 == 49 ? "*" : " ") + QByteArray("row" + QByteArray::number(i)).leftJustified(wordLen, ' ') + QByteArray::number(i).rightJustified(6, ' ');
  return testenv::writeFile(testenv::makeDir("num") + "/numbers.dbf", b + "\x1a");
}
}  // namespace

TEST(PrintGrid, PagesHeadersPageNumbersRangeAndTheWidthQuestion) {
  TestHost host;
  host.file = numbered(300);
  TTarnDbf w(host);
  ASSERT_TRUE(w.table()) << w.openError().toStdString();
  w.DBGrid1->setCurrentIndex(w.DBGrid1->model()->index(42, 1));
  TPrintGrid &pg = *w.PrintGrid1;
  pg.Title = "Numbers";
  pg.DateLabel = "Jan 2, 2003";
  const QString dir = testenv::makeDir("pdf");
  auto printTo = [&](const QString &name, int *pages) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir + "/" + name);
    return pg.printTo(&printer, pages);
  };
  int pages = 0;
  ASSERT_TRUE(printTo("all.pdf", &pages));
  ASSERT_GT(pages, 2);
  const QString all = pdfText(dir + "/all.pdf");
  EXPECT_EQ(all.count('\f'), pages);
  const QStringList pageTexts = all.split('\f');
  for (int p = 1; p <= pages; ++p) {
    SCOPED_TRACE(p);
    const QString text = pageTexts[p - 1];
    EXPECT_TRUE(text.contains(QString("Page: %1").arg(p)));
    EXPECT_TRUE(text.contains("Numbers"));
    EXPECT_TRUE(text.contains("Jan 2, 2003"));
    EXPECT_TRUE(text.contains("WORD"));
    EXPECT_TRUE(text.contains("NUM"));
  }
  // Every live record printed once, in order, none on two pages; deleted ones left out.
  int next = 0, count = 0;
  for (const QString &line : all.split('\n')) {
    const QRegularExpressionMatch m = QRegularExpression("row(\\d+)\\s+(\\d+)").match(line);
    if (!m.hasMatch()) continue;
    if (next % 50 == 49) ++next;
    EXPECT_EQ(m.captured(1).toInt(), next);
    EXPECT_EQ(m.captured(2).toInt(), next);
    ++next;
    ++count;
  }
  EXPECT_EQ(count, 294);
  EXPECT_EQ(w.DBGrid1->currentRecord(), 42);  // the grid's position is given back
  // The date label, once filled, stays for the next print-outs.
  pg.DateLabel.clear();
  ASSERT_TRUE(printTo("dated.pdf", &pages));
  const QString today = QLocale::c().toString(QDate::currentDate(), "MMM d, yyyy");
  EXPECT_EQ(pg.DateLabel, today);
  EXPECT_TRUE(pdfText(dir + "/dated.pdf", 1).contains(today));
  // Pages 2 to 3 only: two sheets, numbered 2 and 3, starting with the first record of page 2.
  pg.FromPage = 2;
  pg.EndPage = 3;
  ASSERT_TRUE(printTo("range.pdf", &pages));
  EXPECT_EQ(pages, 2);
  const QString range = pdfText(dir + "/range.pdf");
  EXPECT_EQ(range.count('\f'), 2);
  EXPECT_TRUE(range.split('\f')[0].contains("Page: 2"));
  EXPECT_TRUE(range.split('\f')[1].contains("Page: 3"));
  EXPECT_FALSE(range.contains("Page: 1 ") || range.contains("Page: 4"));
  EXPECT_FALSE(range.contains(QRegularExpression("\\brow0\\b")));
  EXPECT_TRUE(host.questions.isEmpty());

  // Columns wider than the paper: asked first; Yes or Cancel print nothing, No prints.
  host.file = numbered(5, 254);
  TTarnDbf wide(host);
  ASSERT_TRUE(wide.table());
  wide.PrintGrid1->Orientation = QPageLayout::Portrait;
  for (auto answer : {QMessageBox::Yes, QMessageBox::Cancel, QMessageBox::No}) {
    host.answer = answer;
    host.questions.clear();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString out = dir + QString("/wide%1.pdf").arg(int(answer));
    printer.setOutputFileName(out);
    const bool printed = wide.PrintGrid1->printTo(&printer);
    ASSERT_EQ(host.questions, QStringList{"Printed width is larger than paper width. Abort the print-out?"});
    EXPECT_EQ(printed, answer == QMessageBox::No);
    EXPECT_EQ(QFileInfo::exists(out), answer == QMessageBox::No);
  }
  // Without a grid: the component's error, nothing else.
  TPrintGrid lone(host, nullptr);
  host.messages.clear();
  QPrinter printer;
  EXPECT_FALSE(lone.printTo(&printer));
  EXPECT_EQ(host.messages, QStringList{"Error: FDBGrid Not Assigned."});
}

TEST(PrintGrid, TextExportByteForByte) {
  NEED_FIXTURES();
  TestHost host;
  host.file = copyOf("ab.dbf");
  host.folder = testenv::makeDir("browsing");
  TTarnDbf w(host);
  ASSERT_TRUE(w.table());
  // The viewer's command suggests Tarnwick.Lst in the folder the main window shows, this file's filter first.
  host.saveAs = host.folder + "/out.txt";
  w.SaveAsFile1->trigger();
  EXPECT_EQ(host.savedFolder, host.folder);
  EXPECT_EQ(host.savedName, "Tarnwick.Lst");
  EXPECT_EQ(host.savedFilters, (QStringList{"List Files (*.LST)", "Any file(*.*)", "This file (*.Lst)"}));
  EXPECT_EQ(host.savedSelected, 2);
  EXPECT_EQ(w.PrintGrid1->PrintFileName, "out.txt");
  EXPECT_EQ(w.PrintGrid1->saveFilterText().toStdString(), "List Files (*.LST)|*.LST|Any file(*.*)|*.*|This file (*.txt)|*.txt");
  EXPECT_TRUE(w.PrintGrid1->PrintToFile);
  EXPECT_EQ(bytesOf(host.saveAs), QByteArray("A\tB\t\r\nx\t1.50\t\r\ntab\t\t\r\n\xc3\xa9\t-2.00\t\r\n"));
  EXPECT_TRUE(host.messages.isEmpty());
  // The print dialog's text-file choice goes to the same export.
  host.saveAs = host.folder + "/second.lst";
  host.printChoice = TDbfHost::PrintChoice::TextFile;
  w.Print1->trigger();
  EXPECT_EQ(bytesOf(host.saveAs), bytesOf(host.folder + "/out.txt"));
  // Hidden fields stay out; a memo's line breaks do not break the line.
  host.file = copyOf("types_vfp.dbf");
  TTarnDbf vfp(host);
  ASSERT_TRUE(vfp.table());
  vfp.PrintGrid1->PrintFileDir = host.folder;
  vfp.PrintGrid1->PrintFileName = "vfp.lst";
  ASSERT_TRUE(vfp.PrintGrid1->writeText());
  const QList<QByteArray> lines = bytesOf(host.folder + "/vfp.lst").split('\n');
  ASSERT_EQ(lines.size(), 5);  // labels, three live records (the deleted one left out), nothing after the last line break
  EXPECT_FALSE(bytesOf(host.folder + "/vfp.lst").contains("gone"));
  EXPECT_EQ(lines[0], "NAME\tPRICE\tRATIO\tPAID\tDAY\tCOUNT\tSTAMP\tCASH\tWEIGHT\tWHEN\tSERIAL\tNOTES\tPIC\t\r");
  EXPECT_TRUE(lines[1].contains("\tFirst line  second line with \xc3\xa9\t")) << lines[1].toStdString();
  for (const QByteArray &l : lines.mid(0, 4)) EXPECT_EQ(l.count('\t'), 13);
  // A folder that cannot be written: the message names the file; no file, no temporary left behind.
  const QString locked = testenv::makeDir("locked") + "/no/such/folder";
  vfp.PrintGrid1->PrintFileDir = locked;
  host.messages.clear();
  EXPECT_FALSE(vfp.PrintGrid1->writeText());
  EXPECT_EQ(host.messages, QStringList{"Error opening output file:" + locked + "/vfp.lst"});
}

TEST(DbfWindow, CaptionFailureLayoutNavigatorAndEditing) {
  NEED_FIXTURES();
  TestHost host;
  const QString dir = testenv::makeDir("orders");
  QFile::copy(fx("ab.dbf"), dir + "/Orders.dbf");
  host.file = dir + "/Orders.dbf";
  {
    TTarnDbf w(host);
    w.show();
    EXPECT_EQ(w.windowTitle(), "Tarnwick - Database Viewer - Orders.dbf");
    EXPECT_TRUE(w.Options1->menuAction()->isVisible());
    EXPECT_TRUE(w.DBGrid1->isVisible());
    EXPECT_EQ(w.DBGrid1->model()->rowCount(), 3);
    EXPECT_EQ(w.DBGrid1->model()->headerData(0, Qt::Horizontal).toString(), "A");
    TDBNavigator *nav = w.DBNavigator1;
    EXPECT_FALSE(nav->button("Prior")->isEnabled());
    QTest::mouseClick(nav->button("Last"), Qt::LeftButton);
    EXPECT_EQ(w.DBGrid1->currentRecord(), 2);
    EXPECT_FALSE(nav->button("Next")->isEnabled());
    QTest::mouseClick(nav->button("Prior"), Qt::LeftButton);
    EXPECT_EQ(w.DBGrid1->currentRecord(), 1);
    EXPECT_EQ(nav->button("First")->toolTip(), "First record");
    // Typed into the grid: pending until posted; Cancel drops it, Post writes it.
    TDbModel *m = w.DBGrid1->dbModel();
    const QByteArray before = bytesOf(host.file);
    ASSERT_TRUE(m->setData(m->index(1, 0), "new", Qt::EditRole));
    EXPECT_TRUE(nav->button("Post")->isEnabled());
    EXPECT_EQ(m->data(m->index(1, 0), Qt::DisplayRole).toString(), "new");
    EXPECT_EQ(bytesOf(host.file), before);
    QTest::mouseClick(nav->button("Cancel"), Qt::LeftButton);
    EXPECT_EQ(m->data(m->index(1, 0), Qt::DisplayRole).toString(), "tab");
    EXPECT_FALSE(nav->button("Post")->isEnabled());
    ASSERT_TRUE(m->setData(m->index(1, 1), "9.99", Qt::EditRole));
    QTest::mouseClick(nav->button("Post"), Qt::LeftButton);
    EXPECT_TRUE(bytesOf(host.file).contains("tab    9.99"));
    // Moving to another record posts; a value the table refuses keeps the grid on its record.
    ASSERT_TRUE(m->setData(m->index(1, 1), "lots", Qt::EditRole));
    QTest::mouseClick(nav->button("First"), Qt::LeftButton);
    EXPECT_EQ(w.DBGrid1->currentRecord(), 1);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].contains("not a number"));
    w.DBGrid1->setFocus();
    QTest::keyClick(w.DBGrid1, Qt::Key_Down);  // the same through the grid's own keys
    EXPECT_EQ(w.DBGrid1->currentRecord(), 1);
    EXPECT_EQ(host.messages.size(), 2);
    QTest::mouseClick(nav->button("Cancel"), Qt::LeftButton);
    QTest::mouseClick(nav->button("First"), Qt::LeftButton);
    EXPECT_EQ(w.DBGrid1->currentRecord(), 0);
  }
  // A table that cannot be opened: only the message, the bottom panel and Exit.
  QFile::copy(fx("ab.dbf"), dir + "/Broken.dbf");
  QFile broken(dir + "/Broken.dbf");
  ASSERT_TRUE(broken.open(QIODevice::ReadWrite));
  broken.seek(4);
  broken.write("\xff\xff\xff\x00", 4);
  broken.close();
  host.file = dir + "/Broken.dbf";
  auto *w = new TTarnDbf(host);
  QPointer<TTarnDbf> alive(w);
  w->show();
  EXPECT_EQ(w->windowTitle(), "Tarnwick - Database Viewer");
  EXPECT_FALSE(w->Options1->menuAction()->isVisible());
  EXPECT_FALSE(w->DBGrid1->isVisible());
  EXPECT_TRUE(w->DbfBottomPanel->isVisible());
  EXPECT_TRUE(w->DbfClearButton->isVisible());
  EXPECT_TRUE(w->DbfMainPanel->text().startsWith("Sorry, the file you tried to open is a version that Tarnwick cannot read."));
  EXPECT_TRUE(w->DbfMainPanel->text().contains("counts 16777215 records"));
  EXPECT_TRUE(w->DBNavigator1->button("First")->toolTip().isEmpty());
  QTest::mouseClick(w->DbfClearButton, Qt::LeftButton);
  EXPECT_TRUE(testenv::waitFor([&] { return alive.isNull(); }));
}

// A value typed into the grid and ended with Return is not posted yet: closing the window (its Exit button,
// the Exit menu item, the close box) asks. Cancel keeps the window and the edit, No drops the edit, Yes
// posts it; nothing reaches the table that the user did not post.
TEST(DbfWindow, ClosingWithAnUnpostedEditAsksAndWritesOnlyOnYes) {
  NEED_FIXTURES();
  TestHost host;
  const QString dir = testenv::makeDir("unposted");
  QFile::copy(fx("ab.dbf"), dir + "/Orders.dbf");
  host.file = dir + "/Orders.dbf";
  const QByteArray before = bytesOf(host.file);
  ASSERT_FALSE(before.contains("new"));
  // Types text into record 1's first field through the grid's keys, ended with Return.
  const auto typeInto = [](TTarnDbf *w, const QString &text) {
    w->DBGrid1->setFocus();
    w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(1, 0));
    for (const QChar c : text) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    // The delegate takes the typed text after the key (a queued call), as for a user.
    EXPECT_TRUE(testenv::waitFor([&] { return w->DBGrid1->dbModel()->hasPendingEdits(); }));
    EXPECT_EQ(w->DBGrid1->model()->index(1, 0).data().toString(), text);
  };
  enum How { Button, Menu, CloseBox };
  for (const How how : {Button, Menu, CloseBox}) {
    SCOPED_TRACE(how);
    auto *w = new TTarnDbf(host);
    QPointer<TTarnDbf> alive(w);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    typeInto(w, "new");
    EXPECT_EQ(bytesOf(host.file), before);
    const auto close = [&] {
      if (how == Button) QTest::mouseClick(w->DbfClearButton, Qt::LeftButton);
      else if (how == Menu) w->Exit1->trigger();
      else w->close();
    };
    host.questions.clear();
    host.answer = QMessageBox::Cancel;
    close();
    ASSERT_EQ(host.questions.size(), 1);
    EXPECT_TRUE(host.questions[0].contains("not posted")) << host.questions[0].toStdString();
    QCoreApplication::processEvents();
    ASSERT_FALSE(alive.isNull()) << "Cancel closed the window";
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->DBGrid1->dbModel()->hasPendingEdits());
    EXPECT_EQ(bytesOf(host.file), before);
    host.answer = how == Menu ? QMessageBox::Yes : QMessageBox::No;
    close();
    EXPECT_TRUE(testenv::waitFor([&] { return alive.isNull(); }));
    EXPECT_EQ(host.questions.size(), 2);
    if (how == Menu) {
      EXPECT_TRUE(bytesOf(host.file).contains("new")) << "Yes posts the edit";
      QFile::remove(host.file);
      QFile::copy(fx("ab.dbf"), host.file);
    } else {
      EXPECT_EQ(bytesOf(host.file), before) << "an edit that was not posted was written";
    }
  }
  // Nothing typed: closing asks nothing.
  auto *w = new TTarnDbf(host);
  QPointer<TTarnDbf> alive(w);
  w->show();
  host.questions.clear();
  QTest::mouseClick(w->DbfClearButton, Qt::LeftButton);
  EXPECT_TRUE(testenv::waitFor([&] { return alive.isNull(); }));
  EXPECT_TRUE(host.questions.isEmpty());
}

