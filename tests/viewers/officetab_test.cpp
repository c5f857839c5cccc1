// The Office97 tab and the text converters, end to end: documents made here by LibreOffice (and a Lotus
// worksheet written record by record) converted by our converter libraries in their child processes and
// shown in ReApp; the open dialog's filter and descriptions; refusals, cancelling and the time limit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>
#include <QLineEdit>
#include <QToolButton>
#include <QtEndian>
#include <QtTest/QTest>

#include <csignal>

#include "tests/common/testenv.h"
#include "tests/viewers/convertertest.h"
#include "controls/richedit.h"
#include "formats/rtf/rtfout.h"
#include "converters/xlssheets.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "viewers/officetab.h"
#include "viewers/textconverters.h"

using platform::RegRoot;

namespace {

class TestOfficeHost : public TOfficeHost {
 public:
  explicit TestOfficeHost(const QString &storeFile) : store(storeFile) {}
  platform::RegStore &converterStore() override { return store; }
  QString currentFolder() const override { return folder; }
  QString askOpenDocument(const QString &f, const QString &filter, int *filterIndex) override {
    askedFilter = filter;
    *filterIndex = answerIndex;
    return answerFile;
  }
  void showConverterMessage(const QString &text) override { messages << text; }

  platform::RegStore store;
  QString folder;
  QString askedFilter, answerFile;
  int answerIndex = 0;
  QStringList messages;
};

// Runs a program to its end (at most two minutes); false when it failed.
bool runTool(const QString &program, const QStringList &args, const QString &dir = QString()) {
  QProcess p;
  if (!dir.isEmpty()) p.setWorkingDirectory(dir);
  p.start(program, args);
  return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A Lotus 1-2-3 worksheet: beginning of file, labels and numbers, end of file.
QByteArray lotusSheet() {
  QByteArray d;
  auto rec = [&d](quint16 type, const QByteArray &body) {
    d += char(type & 0xff);
    d += char(type >> 8);
    d += char(body.size() & 0xff);
    d += char(body.size() >> 8);
    d += body;
  };
  auto cellHead = [](quint16 col, quint16 row) {
    QByteArray b(1, char(0xff));
    b += char(col & 0xff);
    b += char(col >> 8);
    b += char(row & 0xff);
    b += char(row >> 8);
    return b;
  };
  auto label = [&](int c, int r, const char *s) { rec(0x0f, cellHead(c, r) + '\'' + QByteArray(s) + '\0'); };
  auto number = [&](int c, int r, double v) {
    QByteArray b = cellHead(c, r);
    b.append(reinterpret_cast<const char *>(&v), 8);
    rec(0x0e, b);
  };
  rec(0x00, QByteArray::fromHex("0604"));
  label(0, 0, "Name");
  label(1, 0, "Count");
  label(0, 1, "Apples");
  number(1, 1, 3);
  label(0, 2, "Pears");
  number(1, 2, 7.5);
  rec(0x01, QByteArray());
  return d;
}

// The documents of the tests, made once per run.
struct Fixtures {
  QString dir;
  bool office = false;
  QString doc, docx, odt, xls, xlsx, ods, wk1;
  QString book[3];  // a workbook of five sheets (bookSheets) as .xls, .xlsx and .ods
};

// The five sheets' names, in order: blanks, a comma, RTF's own characters and letters beyond ASCII. Sheet
// i holds three rows: "<name> r<row>" and the number row * i.
const QStringList bookSheets = {QStringLiteral("Alpha"), QStringLiteral("Zeta two"), QStringLiteral("Mid"),
                                QStringLiteral("B,eta"), QStringLiteral("Ünï{x}")};

// The workbook as a flat OpenDocument file, which LibreOffice turns into the others.
QByteArray flatBook() {
  QString body;
  for (int i = 0; i < bookSheets.size(); ++i) {
    QString rows;
    for (int r = 0; r < 3; ++r)
      rows += QStringLiteral(
                  "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>%1 "
                  "r%2</text:p></table:table-cell>"
                  "<table:table-cell office:value-type=\"float\" "
                  "office:value=\"%3\"><text:p>%3</text:p></table:table-cell></table:table-row>")
                  .arg(bookSheets[i].toHtmlEscaped())
                  .arg(r)
                  .arg(r * i);
    body += QStringLiteral("<table:table table:name=\"%1\">%2</table:table>").arg(bookSheets[i].toHtmlEscaped(), rows);
  }
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
             "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
             "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.2\" "
             "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body><office:spreadsheet>%1"
             "</office:spreadsheet></office:body></office:document>\n")
      .arg(body)
      .toUtf8();
}

const Fixtures &fixtures() {
  static Fixtures f = [] {
    Fixtures x;
    x.dir = testenv::makeDir(QStringLiteral("docs"));
    QString text;
    for (int i = 1; i <= 40; ++i) text += QStringLiteral("Paragraph %1 of the Tarnwick test document, café.\n").arg(i);
    testenv::writeFile(x.dir + "/words.txt", text.toUtf8());
    testenv::writeFile(x.dir + "/sheet.csv", "Name,Count\nApples,3\nPears,\"7,5\"\n");
    x.wk1 = testenv::writeFile(x.dir + "/sheet.wk1", lotusSheet());
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) return x;
    const QString profile = QStringLiteral("-env:UserInstallation=file://") + testenv::makeDir(QStringLiteral("lo"));
    bool ok = true;
    for (const char *fmt : {"doc", "docx", "odt"})
      ok =
          ok && runTool(soffice, {profile, "--headless", "--convert-to", fmt, "--outdir", x.dir, x.dir + "/words.txt"});
    for (const char *fmt : {"xls", "xlsx", "ods"})
      ok = ok && runTool(soffice, {profile, "--headless", "--infilter=CSV:44,34,76", "--convert-to", fmt, "--outdir",
                                   x.dir, x.dir + "/sheet.csv"});
    testenv::writeFile(x.dir + "/book.fods", flatBook());
    for (const char *fmt : {"xls", "xlsx", "ods"})
      ok =
          ok && runTool(soffice, {profile, "--headless", "--convert-to", fmt, "--outdir", x.dir, x.dir + "/book.fods"});
    x.office = ok;
    x.doc = x.dir + "/words.doc";
    x.docx = x.dir + "/words.docx";
    x.odt = x.dir + "/words.odt";
    x.xls = x.dir + "/sheet.xls";
    x.xlsx = x.dir + "/sheet.xlsx";
    x.ods = x.dir + "/sheet.ods";
    x.book[0] = x.dir + "/book.xls";
    x.book[1] = x.dir + "/book.xlsx";
    x.book[2] = x.dir + "/book.ods";
    return x;
  }();
  return f;
}

// The first table of a document, or null.
QTextTable *firstTable(QTextDocument *doc) {
  for (QTextFrame *f : doc->rootFrame()->childFrames())
    if (auto *t = qobject_cast<QTextTable *>(f)) return t;
  return nullptr;
}

QString cellText(QTextTable *t, int row, int col) {
  const QTextTableCell c = t->cellAt(row, col);
  if (!c.isValid()) return QStringLiteral("<no cell>");
  QTextCursor cur = c.firstCursorPosition();
  cur.setPosition(c.lastCursorPosition().position(), QTextCursor::KeepAnchor);
  return cur.selectedText();
}

// Each table of a document with the line just above it, written "<name>|bold" or "<name>|plain", and its
// cells, row by row, "a,b;c,d".
QStringList shownSheets(QTextDocument *doc) {
  QStringList list;
  for (QTextFrame *f : doc->rootFrame()->childFrames()) {
    auto *t = qobject_cast<QTextTable *>(f);
    if (!t) continue;
    const QTextBlock above = doc->findBlock(t->firstPosition()).previous();
    const bool bold = above.isValid() && above.begin() != above.end() &&
                      above.begin().fragment().charFormat().fontWeight() >= QFont::Bold;
    QStringList rows;
    for (int r = 0; r < t->rows(); ++r) {
      QStringList cells;
      for (int c = 0; c < t->columns(); ++c) cells << cellText(t, r, c);
      rows << cells.join(',');
    }
    list << above.text() + (bold ? "|bold " : "|plain ") + rows.join(';');
  }
  return list;
}

// What shownSheets() gives for the workbook of five sheets.
QStringList bookAsShown() {
  QStringList list;
  for (int i = 0; i < bookSheets.size(); ++i) {
    QStringList rows;
    for (int r = 0; r < 3; ++r) rows << QStringLiteral("%1 r%2,%3").arg(bookSheets[i]).arg(r).arg(r * i);
    list << bookSheets[i] + "|bold " + rows.join(';');
  }
  return list;
}

// An Excel file whose workbook stream's first sector is chained to itself in the allocation table.
QByteArray selfChainedWorkbook(const QByteArray &xls) {
  auto le32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(xls.constData() + at); };
  if (xls.size() < 1024 || qFromLittleEndian<quint16>(xls.constData() + 30) != 9) return {};
  const quint32 fatSector = le32(76), dirSector = le32(48);
  for (int i = 0; i < 4; ++i) {
    const qsizetype e = 512 + qsizetype(dirSector) * 512 + i * 128;
    if (e + 128 > xls.size()) break;
    if (QString::fromUtf16(reinterpret_cast<const char16_t *>(xls.constData() + e), 8) != QLatin1String("Workbook"))
      continue;
    const quint32 start = le32(e + 116), size = le32(e + 120);
    if (size < 4096) return {};  // kept in the small-stream area: no sector of its own
    QByteArray out = xls;
    qToLittleEndian<quint32>(start, out.data() + 512 + qsizetype(fatSector) * 512 + qsizetype(start) * 4);
    return out;
  }
  return {};
}

class OfficeTab : public ::testing::Test {
 protected:
  void SetUp() override {
    qunsetenv("TARNWICK_CONVERTER_NO_OFFICE");
    qunsetenv("TARNWICK_CONVERTER_TIME_LIMIT_MS");
    qunsetenv("TARNWICK_FAKECONV");
    host = std::make_unique<TestOfficeHost>(testenv::makeDir(QStringLiteral("reg")) + "/registry.ini");
    tab = std::make_unique<TOfficeTab>(*host);
    tab->registerConverters(platform::libraryFolder());
  }
  void TearDown() override { qputenv("PATH", savedPath); }

  // Shows a file as a click would and returns the status text.
  QString show(const QString &file) {
    const QString ext = QStringLiteral(".") + QFileInfo(file).suffix().toLower();
    tab->showDocument(file, ext);
    return tab->statusText();
  }
  void registerFake() {
    const QString key = TTextConverters::ImportKey + QStringLiteral("\\Fake");
    host->store.writeString(RegRoot::LocalMachine, key, "Name", "Fake Converter");
    host->store.writeString(RegRoot::LocalMachine, key, "Extensions", "fak");
    host->store.writeString(RegRoot::LocalMachine, key, "Path", QStringLiteral(FAKECONV_PATH));
  }

  QByteArray savedPath = qgetenv("PATH");
  std::unique_ptr<TestOfficeHost> host;
  std::unique_ptr<TOfficeTab> tab;
};

TEST_F(OfficeTab, WordDocumentsThroughLibreOffice) {
  const Fixtures &f = fixtures();
  if (!f.office) GTEST_SKIP() << "LibreOffice is not installed";
  for (const QString &file : {f.doc, f.docx, f.odt}) {
    SCOPED_TRACE(file.toStdString());
    EXPECT_EQ(show(file), QStringLiteral("Succesfully Opened: ") + file);
    const QString text = tab->ReApp->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Paragraph 1 of the Tarnwick test document, café.")));
    EXPECT_TRUE(text.contains(QStringLiteral("Paragraph 40 of the Tarnwick")));
  }
  // Word95 ticked: the ".doc" goes to the "Word 6.0/95 for Windows&Macintosh" converter.
  tab->Word951->trigger();
  EXPECT_EQ(tab->descriptionFor(".doc"), QStringLiteral("Word 6.0/95 for Windows&Macintosh"));
  EXPECT_EQ(show(f.doc), QStringLiteral("Succesfully Opened: ") + f.doc);
  EXPECT_TRUE(tab->ReApp->toPlainText().contains(QStringLiteral("Paragraph 20 of")));
  EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join('|').toStdString();
}

TEST_F(OfficeTab, SpreadsheetsThroughLibreOfficeAsTables) {
  const Fixtures &f = fixtures();
  if (!f.office) GTEST_SKIP() << "LibreOffice is not installed";
  for (const QString &file : {f.xls, f.xlsx, f.ods}) {
    SCOPED_TRACE(file.toStdString());
    EXPECT_EQ(show(file), QStringLiteral("Succesfully Opened: ") + file);
    QTextTable *t = firstTable(tab->ReApp->document());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->rows(), 3);
    EXPECT_EQ(cellText(t, 0, 1), QStringLiteral("Count"));
    EXPECT_EQ(cellText(t, 2, 0), QStringLiteral("Pears"));
    EXPECT_EQ(cellText(t, 2, 1), QStringLiteral("7,5"));  // a comma inside a cell stays in the cell
  }
}

TEST_F(OfficeTab, WithoutLibreOfficeTheSmallConvertersAndOurOwnReader) {
  const Fixtures &f = fixtures();
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  // Lotus through wks2csv, its own column-name line left out.
  const bool haveWks2csv = !QStandardPaths::findExecutable(QStringLiteral("wks2csv")).isEmpty();
  if (haveWks2csv) {
    EXPECT_EQ(show(f.wk1), QStringLiteral("Succesfully Opened: ") + f.wk1);
    QTextTable *t = firstTable(tab->ReApp->document());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->rows(), 3);
    EXPECT_EQ(cellText(t, 0, 0), QStringLiteral("Name"));
    EXPECT_EQ(cellText(t, 1, 1), QStringLiteral("3"));
    EXPECT_EQ(cellText(t, 2, 1), QStringLiteral("7.5"));
  }
  if (!f.office) GTEST_SKIP() << "LibreOffice is needed to make the Word and Excel documents";
  EXPECT_EQ(show(f.doc), QStringLiteral("Succesfully Opened: ") + f.doc);  // antiword
  EXPECT_TRUE(tab->ReApp->toPlainText().contains(QStringLiteral("Paragraph 40 of the Tarnwick test document, café.")));
  for (const QString &file : {f.docx, f.odt}) {  // our own reading of the zip container
    SCOPED_TRACE(file.toStdString());
    EXPECT_TRUE(tab->ImportWithConverter(file, QStringLiteral("Word 97")));
    const QString text = tab->ReApp->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Paragraph 1 of the Tarnwick test document, café.\nParagraph 2 ")))
        << text.left(80).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Paragraph 40 of")));
  }
  EXPECT_EQ(show(f.xls), QStringLiteral("Succesfully Opened: ") + f.xls);  // xls2csv
  QTextTable *t = firstTable(tab->ReApp->document());
  ASSERT_TRUE(t);
  EXPECT_EQ(cellText(t, 1, 0), QStringLiteral("Apples"));
  EXPECT_EQ(cellText(t, 2, 1), QStringLiteral("7,5"));
  // No program at all for ".xlsx" without LibreOffice: the Part's status, no box.
  EXPECT_EQ(show(f.xlsx), QStringLiteral("Operation cancelled or file only partially opened"));
  EXPECT_TRUE(host->messages.isEmpty());
  if (!haveWks2csv) GTEST_SKIP() << "wks2csv is not installed: the Lotus document was not tried";
}

TEST_F(OfficeTab, FilterAndNamesMatchEntryForEntry) {
  // Our four converters only, in the store's order.
  const QString ours =
      "Lotus 1-2-3|*.wk1;*.wk3;*.wk4;*.wks|Microsoft Excel Worksheet|*.xls;*.xlsx;*.ods|"
      "Word 6.0/95 for Windows&Macintosh|*.doc|Word 97|*.doc;*.docx;*.odt";
  TTextConverters &c = tab->converters();
  EXPECT_EQ(c.ConverterFilter(), "Rich Text Format|*.rtf|" + ours);
  EXPECT_EQ(c.ConverterNames(), QStringList({"Rich Text Format", "Lotus 1-2-3", "Microsoft Excel Worksheet",
                                             "Word 6.0/95 for Windows&Macintosh", "Word 97"}));
  // WordPad's folder with both of its converters; a converter named "Word 6.0/95..." is registered.
  const QString wordPad = testenv::makeDir(QStringLiteral("wordpad"));
  ASSERT_TRUE(QFile::copy(platform::libraryFolder() + "/libtarnconv_word.so", wordPad + "/mswd6_32.wpc"));
  testenv::writeFile(wordPad + "/write32.wpc", "not a library");
  host->store.writeString(RegRoot::LocalMachine, TTextConverters::WordPadKey, "@", wordPad + "/WORDPAD.EXE");
  EXPECT_EQ(c.ConverterFilter(), "Word 95 via WordPad|*.doc|Windows Write|*.wri|Rich Text Format|*.rtf|" + ours);
  const QStringList names = c.ConverterNames();
  EXPECT_EQ(names.mid(0, 3), QStringList({"Word 95 via WordPad", "Windows Write", "Rich Text Format"}));
  EXPECT_EQ(names.size() * 2, c.ConverterFilter().split('|').size());
  // Choosing it loads WordPad's converter; Windows Write's file is no library: nothing loads.
  EXPECT_TRUE(c.LoadConverter(names[0]));
  EXPECT_EQ(QFileInfo(c.loadedPath()).fileName(), QStringLiteral("mswd6_32.wpc"));
  EXPECT_FALSE(c.LoadConverter(names[1]));
  // Without a "Word 6.0/95" record WordPad's entry is plain "Word 6.0/95"; a registered "Windows Write"
  // converter keeps WordPad's out; a record without "Path" is left out.
  const QString key = TTextConverters::ImportKey + "\\MSWord6";
  host->store.writeString(RegRoot::LocalMachine, key, "Name", "Windows Write Converter");
  host->store.writeString(RegRoot::LocalMachine, key, "Extensions", "wri");
  host->store.writeString(RegRoot::LocalMachine, TTextConverters::ImportKey + "\\Broken", "Name", "Broken");
  EXPECT_EQ(c.ConverterFilter(),
            "Word 6.0/95|*.doc|Rich Text Format|*.rtf|Lotus 1-2-3|*.wk1;*.wk3;*.wk4;*.wks|"
            "Microsoft Excel Worksheet|*.xls;*.xlsx;*.ods|Windows Write Converter|*.wri|Word 97|*.doc;*.docx;*.odt");
  EXPECT_EQ(c.ConverterNames().mid(0, 3), QStringList({"Word 6.0/95", "Rich Text Format", "Lotus 1-2-3"}));
}

TEST_F(OfficeTab, OpenDialogUsesTheChosenEntry) {
  // "Rich Text Format" loads without a converter and says "Done".
  const QString rtf = testenv::writeFile(testenv::makeDir() + "/a.rtf", "{\\rtf1\\ansi Plain rich\\par}");
  host->answerFile = rtf;
  host->answerIndex = 1;
  tab->Open5->trigger();
  EXPECT_TRUE(host->askedFilter.startsWith("Rich Text Format|*.rtf|"));
  EXPECT_EQ(tab->statusText(), QStringLiteral("Done"));
  EXPECT_EQ(tab->ReApp->toPlainText(), QStringLiteral("Plain rich"));
  // Entry 2 is Lotus: the worksheet through its converter.
  if (QStandardPaths::findExecutable("wks2csv").isEmpty() && QStandardPaths::findExecutable("soffice").isEmpty())
    GTEST_SKIP() << "no Lotus converter program installed";
  host->answerFile = fixtures().wk1;
  host->answerIndex = 2;
  tab->Open5->trigger();
  EXPECT_EQ(tab->statusText(), QStringLiteral("Succesfully imported: ") + fixtures().wk1);
  EXPECT_TRUE(firstTable(tab->ReApp->document()));
  tab->Clear6->trigger();
  EXPECT_TRUE(tab->ReApp->toPlainText().isEmpty());
  EXPECT_TRUE(tab->statusText().isEmpty());
}

TEST_F(OfficeTab, RefusalsAndBrokenDocuments) {
  registerFake();
  const QString file = testenv::writeFile(testenv::makeDir() + "/x.fak", "anything");
  const QString failed = QStringLiteral("Operation cancelled or file only partially opened");
  qputenv("TARNWICK_FAKECONV", "initfail");
  EXPECT_FALSE(tab->ImportWithConverter(file, "Fake Converter"));
  qputenv("TARNWICK_FAKECONV", "wrong");
  EXPECT_FALSE(tab->ImportWithConverter(file, "Fake Converter"));
  EXPECT_EQ(host->messages, QStringList({"Please report: InitConverter failed", "Not the correct file format"}));
  qputenv("TARNWICK_FAKECONV", "");
  EXPECT_TRUE(tab->ImportWithConverter(file, "Fake Converter"));
  EXPECT_EQ(tab->ReApp->toPlainText(), QStringLiteral("Fake text"));
  // No converter for the description: the status only.
  host->messages.clear();
  EXPECT_FALSE(tab->ImportWithConverter(file, "Nobody's Format"));
  EXPECT_TRUE(host->messages.isEmpty());
  // A ".doc" that is no Word document and one that starts like one but is garbage: refused or failed,
  // the file untouched, the program still here.
  const QString dir = testenv::makeDir();
  const QString text = testenv::writeFile(dir + "/plain.doc", "just text");
  QByteArray junk = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(6000, '\x5a');
  const QString corrupt = testenv::writeFile(dir + "/corrupt.doc", junk);
  EXPECT_EQ(show(text), failed);
  EXPECT_EQ(host->messages, QStringList({"Not the correct file format"}));
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  EXPECT_EQ(show(corrupt), failed);
  qunsetenv("TARNWICK_CONVERTER_NO_OFFICE");
  // LibreOffice reads nearly anything as text: what counts there is that nothing breaks.
  if (fixtures().office) show(corrupt);
  EXPECT_EQ(testenv::readFile(corrupt), junk);
  // A broken zip container: our reader says no.
  const QString docx = testenv::writeFile(dir + "/broken.docx", QByteArray("PK\x03\x04", 4) + QByteArray(300, 'q'));
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  EXPECT_FALSE(tab->ImportWithConverter(docx, "Word 97"));
}

TEST_F(OfficeTab, LongOutputGrowsTheStreamAndKeepsEveryChunk) {
  registerFake();
  qputenv("TARNWICK_FAKECONV", "big");
  const QString file = testenv::writeFile(testenv::makeDir() + "/x.fak", "anything");
  ASSERT_TRUE(tab->ImportWithConverter(file, "Fake Converter"));
  QTextDocument *doc = tab->ReApp->document();
  EXPECT_EQ(doc->findBlockByNumber(0).text(), QStringLiteral("Line 0"));
  EXPECT_EQ(doc->findBlockByNumber(31234).text(), QStringLiteral("Line 31234"));
  EXPECT_EQ(doc->findBlockByNumber(59999).text(), QStringLiteral("Line 59999"));
}

TEST_F(OfficeTab, CancelFromTheStatusLineAndTheTimeLimit) {
  registerFake();
  qputenv("TARNWICK_FAKECONV", "hang");
  const QString file = testenv::writeFile(testenv::makeDir() + "/x.fak", "anything");
  // The button is pressed from inside the conversion's own event processing, as a user's click arrives.
  QTimer presser;
  bool pressed = false;
  QObject::connect(&presser, &QTimer::timeout, [&] {
    if (!pressed && tab->CancelBtn->isVisibleTo(tab.get())) {
      pressed = true;
      QTest::mouseClick(tab->CancelBtn, Qt::LeftButton);
    }
  });
  presser.start(5);
  EXPECT_FALSE(tab->ImportWithConverter(file, "Fake Converter"));
  EXPECT_TRUE(pressed);
  presser.stop();
  EXPECT_FALSE(tab->CancelBtn->isVisibleTo(tab.get()));

  // A converter program that never ends: stopped at the time limit, with what it started.
  const QString bin = testenv::makeDir("bin");
  const QString pidFile = bin + "/pid";
  testenv::writeFile(bin + "/soffice",
                     QStringLiteral("#!/bin/sh\nsleep 300 &\necho $! > %1\nwait\n").arg(pidFile).toUtf8());
  QFile::setPermissions(bin + "/soffice", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("PATH", (bin + ":").toUtf8() + savedPath);
  qputenv("TARNWICK_CONVERTER_TIME_LIMIT_MS", "400");
  const QString wk1 = fixtures().wk1;
  EXPECT_EQ(show(wk1), QStringLiteral("Operation cancelled or file only partially opened"));
  const QByteArray pid = testenv::readFile(pidFile).trimmed();
  ASSERT_FALSE(pid.isEmpty());
  EXPECT_TRUE(testenv::waitFor([&] {
    return !QFileInfo::exists("/proc/" + pid) || testenv::readFile("/proc/" + pid + "/stat").contains(") Z ");
  })) << "the converter's child "
      << pid.constData() << " still runs";
}

TEST_F(OfficeTab, WorkbooksShowEverySheetUnderItsName) {
  const Fixtures &f = fixtures();
  if (!f.office) GTEST_SKIP() << "LibreOffice is not installed";
  for (const QString &file : f.book) {
    SCOPED_TRACE(file.toStdString());
    EXPECT_EQ(show(file), QStringLiteral("Succesfully Opened: ") + file);
    EXPECT_EQ(shownSheets(tab->ReApp->document()), bookAsShown());
  }
  // Without LibreOffice: xls2csv's sheets, named from the workbook's own list.
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  if (QStandardPaths::findExecutable(QStringLiteral("xls2csv")).isEmpty()) GTEST_SKIP() << "xls2csv is not installed";
  EXPECT_EQ(show(f.book[0]), QStringLiteral("Succesfully Opened: ") + f.book[0]);
  EXPECT_EQ(shownSheets(tab->ReApp->document()), bookAsShown());
}

TEST_F(OfficeTab, AConverterThatSucceedsWithNothingHasFailed) {
  const QString failed = QStringLiteral("Operation cancelled or file only partially opened");
  const QString dir = testenv::makeDir();
  // A converter library that reports success without handing over a byte.
  registerFake();
  qputenv("TARNWICK_FAKECONV", "empty");
  const QString fak = testenv::writeFile(dir + "/x.fak", "anything");
  EXPECT_FALSE(tab->ImportWithConverter(fak, "Fake Converter"));
  qunsetenv("TARNWICK_FAKECONV");
  // A converter program that exits 0 and writes nothing.
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  const QString bin = testenv::makeDir("bin");
  testenv::writeFile(bin + "/antiword", "#!/bin/sh\nexit 0\n");
  QFile::setPermissions(bin + "/antiword", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("PATH", (bin + ":").toUtf8() + savedPath);
  const QString doc = testenv::writeFile(dir + "/a.doc", convtest::oleLookalike("words"));
  EXPECT_EQ(show(doc), failed);
  qputenv("PATH", savedPath);
  // The real xls2csv on a workbook whose stream loops on its first sector: it prints nothing, exits 0.
  if (!fixtures().office) GTEST_SKIP() << "LibreOffice is needed to make the workbook";
  if (QStandardPaths::findExecutable(QStringLiteral("xls2csv")).isEmpty()) GTEST_SKIP() << "xls2csv is not installed";
  const QByteArray looped = selfChainedWorkbook(testenv::readFile(fixtures().book[0]));
  ASSERT_FALSE(looped.isEmpty());
  const QString xls = testenv::writeFile(dir + "/looped.xls", looped);
  EXPECT_EQ(show(xls), failed);
  EXPECT_EQ(testenv::readFile(xls), looped);
}

TEST_F(OfficeTab, ConverterProgramsAndTheirOutputHaveACeiling) {
  qputenv("TARNWICK_CONVERTER_NO_OFFICE", "1");
  qputenv("TARNWICK_CONVERTER_MEMORY_LIMIT_MB", "256");
  qputenv("TARNWICK_CONVERTER_TIME_LIMIT_MS", "60000");
  const QString dir = testenv::makeDir();
  const QString bin = testenv::makeDir("bin");
  const QString report = dir + "/report";
  // An xls2csv that takes address space without end (untouched mappings, so without a ceiling it costs
  // the machine nothing): it says how far it got; at 4 GB it gives up and "converts".
  testenv::writeFile(bin + "/xls2csv",
                     QStringLiteral("#!/bin/sh\nexec /usr/bin/python3 -c '\n"
                                    "import mmap, sys\n"
                                    "held = []\n"
                                    "try:\n"
                                    "    while len(held) < 256:\n"
                                    "        held.append(mmap.mmap(-1, 16 << 20))\n"
                                    "except (MemoryError, OSError):\n"
                                    "    open(sys.argv[1], \"w\").write(\"stopped at %d MB\" % (16 * len(held)))\n"
                                    "    sys.exit(3)\n"
                                    "open(sys.argv[1], \"w\").write(\"took 4096 MB\")\n"
                                    "print(\"a,b\")\n"
                                    "' '%1'\n")
                         .arg(report)
                         .toUtf8());
  // An antiword that writes 100 MB of text.
  testenv::writeFile(bin + "/antiword", "#!/bin/sh\nhead -c 100000000 /dev/zero | tr '\\0' a\n");
  for (const char *p : {"/xls2csv", "/antiword"})
    QFile::setPermissions(bin + p, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("PATH", (bin + ":").toUtf8() + savedPath);
  const QString xls = testenv::writeFile(dir + "/big.xls", convtest::oleLookalike("cells"));
  EXPECT_EQ(show(xls), QStringLiteral("Operation cancelled or file only partially opened"));
  const QByteArray reached = testenv::readFile(report);
  ASSERT_TRUE(reached.startsWith("stopped at ")) << reached.constData();
  EXPECT_LE(reached.mid(11).split(' ').first().toInt(), 256);
  // The text a program hands back is held in this process: a quarter of the ceiling at most.
  qputenv("TARNWICK_CONVERTER_MEMORY_LIMIT_MB", "64");
  const QString doc = testenv::writeFile(dir + "/big.doc", convtest::oleLookalike("words"));
  QByteArray rtf;
  long code = 0;
  EXPECT_EQ(tab->converters().convert(
                doc, "Word 97", [](int) { return true; }, &rtf, &code),
            TTextConverters::Result::Failed);
  EXPECT_EQ(code, kConvOutOfMemory);
  EXPECT_TRUE(rtf.isEmpty());
  qunsetenv("TARNWICK_CONVERTER_MEMORY_LIMIT_MB");
}

TEST_F(OfficeTab, ClearOrTheTabGoingWhileConvertingEndsTheConverter) {
  convtest::StandInOffice office;
  qputenv("TARNWICK_CONVERTER_TIME_LIMIT_MS", "60000");
  const QString doc = testenv::writeFile(testenv::makeDir() + "/hang.doc", convtest::oleLookalike("HANG"));
  // "Clear" from the pop-up menu as soon as the converter runs: its whole group ends, nothing is shown.
  QTimer clearer;
  QObject::connect(&clearer, &QTimer::timeout, [&] {
    if (tab && tab->isConverting() && office.groups().size() == 1 && !office.running().isEmpty()) {
      clearer.stop();
      tab->Clear6->trigger();
    }
  });
  clearer.start(5);
  EXPECT_EQ(show(doc), QString());
  EXPECT_TRUE(tab->ReApp->toPlainText().isEmpty());
  ASSERT_EQ(office.groups().size(), 1);
  EXPECT_EQ(office.running(), QStringList());
  // The tab destroyed from inside its conversion: the conversion stops, nothing touches the tab again.
  QTimer destroyer;
  QObject::connect(&destroyer, &QTimer::timeout, [&] {
    if (tab && tab->isConverting() && office.groups().size() == 2 && !office.running().isEmpty()) {
      destroyer.stop();
      tab.reset();
    }
  });
  destroyer.start(5);
  TOfficeTab *raw = tab.get();
  raw->showDocument(doc, QStringLiteral(".doc"));
  EXPECT_FALSE(tab);
  ASSERT_EQ(office.groups().size(), 2);
  EXPECT_EQ(office.running(), QStringList());
}

TEST(XlsSheets, NamesInOrderOrNoneFromADamagedWorkbook) {
  const Fixtures &f = fixtures();
  if (!f.office) GTEST_SKIP() << "LibreOffice is needed to make the workbook";
  const QByteArray book = testenv::readFile(f.book[0]);
  const auto names = [](const QByteArray &file) {
    QStringList list;
    for (const xlssheets::Sheet &s : xlssheets::read(file)) list << s.name + (s.type ? "(not a worksheet)" : "");
    return list;
  };
  ASSERT_EQ(names(book), bookSheets);
  // Every sector chained to itself, the file cut at every 64 bytes, the header's counts and starts out of
  // range: the whole list or nothing, never part of it or a wrong one.
  QList<QByteArray> damaged;
  const quint32 fatSector = qFromLittleEndian<quint32>(book.constData() + 76);
  for (quint32 s = 0; s < quint32((book.size() - 512) / 512); ++s) {
    QByteArray d = book;
    qToLittleEndian<quint32>(s, d.data() + 512 + qsizetype(fatSector) * 512 + qsizetype(s) * 4);
    damaged << d;
  }
  for (qsizetype cut = 0; cut < book.size(); cut += 64) damaged << book.left(cut);
  // The root folder's second entry is the workbook stream (LibreOffice writes it so): its start and size.
  const qsizetype entry = 512 + qsizetype(qFromLittleEndian<quint32>(book.constData() + 48)) * 512 + 128;
  for (const std::pair<qsizetype, quint32> &field : {std::pair<qsizetype, quint32>{44, 0xffffffffu},
                                                     {44, 0},
                                                     {48, 0xfffffffdu},
                                                     {48, 100000},
                                                     {60, 0},
                                                     {68, 0},
                                                     {76, 0xffffffffu},
                                                     {entry + 116, 0xfffffff0u},
                                                     {entry + 116, 0},
                                                     {entry + 120, 0xfffffff0u},
                                                     {entry + 120, 100}}) {
    if (field.first + 4 > book.size()) continue;
    QByteArray d = book;
    qToLittleEndian<quint32>(field.second, d.data() + field.first);
    damaged << d;
  }
  for (int shift : {0, 7, 16, 30}) {
    QByteArray d = book;
    qToLittleEndian<quint16>(quint16(shift), d.data() + 30);
    damaged << d;
  }
  int whole = 0;
  for (qsizetype i = 0; i < damaged.size(); ++i) {
    const QStringList got = names(damaged[i]);
    EXPECT_TRUE(got.isEmpty() || got == bookSheets) << "variant " << i << ": " << got.join('|').toStdString();
    whole += got == bookSheets;
  }
  EXPECT_GT(whole, 0);  // sectors outside the workbook's chains do not matter
  EXPECT_LT(whole, damaged.size());
}

TEST_F(OfficeTab, ReAppIsWritableOnlyWhileFocused) {
  QWidget window;
  tab->setParent(&window);
  auto *other = new QLineEdit(&window);
  other->move(0, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  other->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return other->hasFocus(); }));
  EXPECT_TRUE(tab->ReApp->isReadOnly());
  tab->ReApp->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return tab->ReApp->hasFocus(); }));
  EXPECT_FALSE(tab->ReApp->isReadOnly());
  other->setFocus();
  ASSERT_TRUE(testenv::waitFor([&] { return !tab->ReApp->hasFocus(); }));
  EXPECT_TRUE(tab->ReApp->isReadOnly());
  tab->setParent(nullptr);
}

}  // namespace

namespace {

TEST(SheetAsRtf, QuotedFieldsAndLongSheetsAsLines) {
  // Quotes, doubled quotes, commas and line breaks inside a field; RTF's special characters kept as text.
  const auto rows = rtfout::parseCsv(QStringLiteral("a,\"b,\"\"c\"\"\",\"two\nlines\"\r\n{x}\\y,\n"));
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0], QStringList({"a", "b,\"c\"", "two\nlines"}));
  EXPECT_EQ(rows[1], QStringList({"{x}\\y", ""}));
  TRichEdit edit;
  QString error;
  ASSERT_TRUE(edit.loadRtf(rtfout::fromCsv(QStringLiteral("{x}\\y,Ünïcode\n1,2\n"), false), &error))
      << error.toStdString();
  QTextTable *t = firstTable(edit.document());
  ASSERT_TRUE(t);
  EXPECT_EQ(cellText(t, 0, 0), QStringLiteral("{x}\\y"));
  EXPECT_EQ(cellText(t, 0, 1), QStringLiteral("Ünïcode"));
  // Beyond the table limit: one tab-aligned line per row, none lost.
  QString csv;
  for (int i = 0; i <= rtfout::kMaxTableRows; ++i) csv += QStringLiteral("%1,Item %1\n").arg(i);
  ASSERT_TRUE(edit.loadRtf(rtfout::fromCsv(csv, false), &error));
  EXPECT_FALSE(firstTable(edit.document()));
  EXPECT_EQ(edit.document()->findBlockByNumber(rtfout::kMaxTableRows).text(),
            QStringLiteral("%1\tItem %1").arg(rtfout::kMaxTableRows));
}

}  // namespace
