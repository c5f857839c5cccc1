// The database viewer: our dBASE reader against python3-dbfread on tables written by an independent
// writer, hostile tables, writing edits back, Paradox through pxlib, grid printing read back with
// pdftotext, the text export byte for byte, the viewer window and the fonts viewer.
#include "tests/common/testenv.h"
#include "tests/tools/dbffuzzone.h"
#include "tools/dbfform.h"
#include "tools/dbfhost.h"
#include "tools/dbfreader.h"
#include "tools/dbgrid.h"
#include "tools/fontform.h"
#include "tools/printgrid.h"

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

namespace {

struct Fixtures {
  QString dir;
  QJsonObject peer;  // what dbfread read from each table
  QString error;
};

// The tables are written once per process by the independent writer, which also reads them with dbfread.
const Fixtures &fixtures() {
  static Fixtures f = [] {
    Fixtures out;
    out.dir = testenv::makeDir("fixtures");
    QProcess p;
    p.start("/usr/bin/python3", {testenv::sourceDir() + "/tests/tools/dbf_fixtures.py", out.dir});
    p.waitForFinished(60000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      out.error = QString::fromUtf8(p.readAllStandardError());
      return out;
    }
    out.peer = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    return out;
  }();
  return f;
}

#define NEED_FIXTURES()                                                                               \
  if (!fixtures().error.isEmpty()) {                                                                  \
    if (fixtures().error.contains("No module named 'dbfread'"))                                       \
      GTEST_SKIP() << "SKIPPED " << ::testing::UnitTest::GetInstance()->current_test_info()->name()   \
                   << ": python3-dbfread is not installed";                                           \
    FAIL() << fixtures().error.toStdString();                                                         \
  }

QString fx(const QString &name) { return fixtures().dir + "/" + name; }

// Our value in the canonical form the fixture script gives dbfread's.
QJsonValue canon(const QVariant &v, const TDbField &f) {
  switch (v.typeId()) {
    case QMetaType::UnknownType: return QJsonValue::Null;
    case QMetaType::Bool: return v.toBool() ? "True" : "False";
    case QMetaType::LongLong: return QString::number(v.toLongLong());
    case QMetaType::Double: return QString::number(v.toDouble(), 'g', 17);
    case QMetaType::QDate: return v.toDate().toString("yyyy-MM-dd");
    case QMetaType::QDateTime: return v.toDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz");
    case QMetaType::QByteArray: return "bytes:" + QString::fromLatin1(v.toByteArray().toHex());
    default: {
      QString s = v.toString();
      if (f.type == 'Y' && s.contains('.')) {
        while (s.endsWith('0')) s.chop(1);
        if (s.endsWith('.')) s.chop(1);
      }
      return s;
    }
  }
}

QByteArray bytesOf(const QString &path) { return testenv::readFile(path); }

QString copyOf(const QString &name, const QString &dir = testenv::makeDir("copy")) {
  for (const QString &n : QDir(fixtures().dir).entryList({QFileInfo(name).completeBaseName() + ".*"}, QDir::Files))
    QFile::copy(fx(n), dir + "/" + n);
  return dir + "/" + name;
}

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

}  // namespace

TEST(DbfReader, EveryTableReadsAsDbfreadReadsIt) {
  NEED_FIXTURES();
  const QJsonObject &peer = fixtures().peer;
  ASSERT_GE(peer.size(), 8);
  for (const QString &name : peer.keys()) {
    SCOPED_TRACE(name.toStdString());
    QString error;
    auto t = TDbfTable::open(fx(name), &error);
    ASSERT_TRUE(t) << error.toStdString();
    const QJsonObject want = peer[name].toObject();
    const QJsonArray names = want["fields"].toArray();
    ASSERT_EQ(t->fields().size(), names.size());
    for (int i = 0; i < names.size(); ++i) EXPECT_EQ(t->fields()[i].name, names[i].toString());
    const QJsonArray live = want["records"].toArray(), dead = want["deleted"].toArray();
    ASSERT_EQ(t->recordCount(), live.size() + dead.size());
    int li = 0, di = 0;
    for (qint64 r = 0; r < t->recordCount(); ++r) {
      const QJsonArray expect = t->isDeleted(r) ? dead[di++].toArray() : live[li++].toArray();
      for (int c = 0; c < names.size(); ++c) {
        QJsonValue theirs = expect[c];
        // dbfread takes a dBASE IV memo's length as excluding its 8-byte block header and so reads 8 bytes
        // past the text (the padding, NULs here); the length counts the header.
        if (name == "db4memo.dbf" && theirs.isString()) {
          QString s = theirs.toString();
          while (s.endsWith(QChar(0))) s.chop(1);
          theirs = s;
        }
        EXPECT_EQ(canon(t->value(r, c), t->fields()[c]), theirs) << "record " << r << " field " << names[c].toString().toStdString();
      }
    }
    EXPECT_EQ(li, live.size());
    EXPECT_EQ(di, dead.size());
  }
  // What the grid shows: numbers as stored, the hidden null-flags column, binary memos by size.
  auto t = TDbfTable::open(fx("types_vfp.dbf"), nullptr);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->displayText(0, 1), "12.50");
  EXPECT_EQ(t->displayText(0, 3), "True");
  EXPECT_EQ(t->displayText(0, 4), "2024-02-29");
  EXPECT_EQ(t->displayText(0, 6), "2000-01-01 01:00:01.500");
  EXPECT_EQ(t->displayText(0, 7), "12345.6789");
  EXPECT_EQ(t->displayText(0, 12), "(binary, 7 bytes)");
  EXPECT_FALSE(t->fields()[13].visible);
  EXPECT_EQ(t->encodingName(), "CP1252");
  auto j = TDbfTable::open(fx("cp932.dbf"), nullptr);
  ASSERT_TRUE(j);
  EXPECT_EQ(j->displayText(0, 0), QString::fromUtf8("日本語"));
}

TEST(DbfReader, HostileTablesAreRefusedWithTheReason) {
  NEED_FIXTURES();
  const QByteArray good = bytesOf(fx("ab.dbf"));
  auto patched = [&](int at, QByteArray with) {
    QByteArray b = good;
    b.replace(at, with.size(), with);
    return b;
  };
  auto le16 = [](int v) {
    QByteArray b(2, 0);
    b[0] = char(v & 0xff), b[1] = char(v >> 8);
    return b;
  };
  auto le32 = [](quint32 v) {
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i) b[i] = char(v >> (8 * i));
    return b;
  };
  const struct {
    const char *what;
    QByteArray bytes;
    const char *reason;
  } cases[] = {
      {"header length past the file", patched(8, le16(60000)), "header length"},
      {"header length too small", patched(8, le16(10)), "header length"},
      {"record count past the file", patched(4, le32(1000000)), "counts 1000000 records"},
      {"record count near 2^32", patched(4, le32(0xffffffffu)), "counts 4294967295 records"},
      {"field length 0", patched(32 + 16, QByteArray(1, 0)), "length of 0"},
      {"character field above 254", patched(32 + 16, QByteArray(1, char(255))), "length of 255"},
      {"number field of 200", patched(64 + 16, QByteArray(1, char(200))), "length of 200"},
      {"unknown type", patched(32 + 11, "Z"), "type this viewer does not know"},
      {"record length shorter than the fields", patched(10, le16(3)), "shorter than the fields"},
      {"not a table", patched(0, QByteArray(1, char(0x42))), "not a dBASE"},
      {"dBASE 7", patched(0, QByteArray(1, char(0x04))), "dBASE 7"},
      {"no fields", patched(32, "\r"), "no fields"},
      {"truncated", good.left(20), "too short"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    QString error;
    EXPECT_FALSE(TDbfTable::fromBytes(c.bytes, &error));
    EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
    // The same through the file, as the viewer opens it.
    const QString path = testenv::writeFile(testenv::makeDir("hostile") + "/bad.dbf", c.bytes);
    error.clear();
    EXPECT_FALSE(openDbTable(path, &error));
    EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
  }
  // A memo pointer past the memo file is found at open, not when the record is painted.
  const QString dbf = copyOf("db3memo.dbf");
  QByteArray b = bytesOf(dbf);
  const int rec3 = 32 + 3 * 32 + 1 + 2 * (1 + 20 + 5 + 10);
  b.replace(rec3 + 1 + 20 + 5, 10, "      9999");
  testenv::writeFile(dbf, b);
  QString error;
  EXPECT_FALSE(TDbfTable::open(dbf, &error));
  EXPECT_TRUE(error.contains("past the end of the memo file db3memo.dbt")) << error.toStdString();
  // Without its memo file the table still opens; the memo cells say what is missing.
  const QString alone = copyOf("types_vfp.dbf");
  QFile::remove(QFileInfo(alone).path() + "/types_vfp.fpt");
  auto t = TDbfTable::open(alone, &error);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->displayText(0, 11), "(memo file types_vfp.fpt missing)");
  EXPECT_EQ(t->displayText(0, 0), QString::fromUtf8("Café crème"));
  // Another program shortens the table while it is shown: its records read blank, the program lives on.
  const QString shrinking = copyOf("db3memo.dbf");
  auto s = TDbfTable::open(shrinking, &error);
  ASSERT_TRUE(s);
  QStringList shown;
  for (qint64 r = 0; r < s->recordCount(); ++r)
    for (int c = 0; c < s->fields().size(); ++c) shown << s->displayText(r, c);
  ASSERT_TRUE(QFile::resize(shrinking, 32 + 3 * 32 + 1));
  ASSERT_TRUE(QFile::resize(QFileInfo(shrinking).path() + "/db3memo.dbt", 100));
  for (qint64 r = 0; r < s->recordCount(); ++r)
    for (int c = 0; c < s->fields().size(); ++c) {
      const QString now = s->displayText(r, c);
      // Records already read may still show; memos are read each time and are gone.
      if (c == 2) EXPECT_TRUE(now.isEmpty()) << r;
      else EXPECT_TRUE(now.isEmpty() || now == shown[int(r) * 3 + c]) << r << " " << c;
    }
}

TEST(DbfReader, EditsAreWrittenAsOneRecordOrRefusedLeavingTheFileAsItWas) {
  NEED_FIXTURES();
  const QString path = copyOf("types_vfp.dbf");
  QString error;
  auto t = TDbfTable::open(path, &error);
  ASSERT_TRUE(t) << error.toStdString();
  const QByteArray before = bytesOf(path);
  // Values that do not fit are refused and nothing is written.
  const struct {
    int field;
    const char *text, *reason;
  } refused[] = {{0, "much too long for it", "longer than 12 bytes"}, {1, "abc", "not a number"},  {1, "1234567.5", "wider than 9"},
                 {3, "maybe", "True or False"},                       {4, "2023-02-30", "date"},       {5, "3000000000", "32-bit"},
                 {0, "snow ☃", "code page CP1252"},                    {11, "memo", "read-only"}};
  for (const auto &c : refused) {
    SCOPED_TRACE(c.text);
    error.clear();
    EXPECT_FALSE(t->writeRecord(1, {{c.field, QString::fromUtf8(c.text)}}, &error));
    EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
  }
  EXPECT_EQ(bytesOf(path), before);
  // A good edit of several fields goes out as one record; the file keeps its size and other records.
  ASSERT_TRUE(t->writeRecord(1, {{0, QString::fromUtf8("Noël")}, {1, "7.5"}, {3, "T"}, {4, "2021-07-04"}, {5, "-12"}, {7, "3.25"}}, &error))
      << error.toStdString();
  const QByteArray after = bytesOf(path);
  ASSERT_EQ(after.size(), before.size());
  int firstDiff = -1, lastDiff = -1;
  for (int i = 0; i < after.size(); ++i)
    if (after[i] != before[i]) {
      if (firstDiff < 0) firstDiff = i;
      lastDiff = i;
    }
  const int headerLen = quint8(before[8]) | quint8(before[9]) << 8, recLen = quint8(before[10]) | quint8(before[11]) << 8;
  EXPECT_GE(firstDiff, headerLen + recLen);
  EXPECT_LT(lastDiff, headerLen + 2 * recLen);
  EXPECT_EQ(t->value(1, 0).toString(), QString::fromUtf8("Noël"));
  EXPECT_EQ(t->displayText(1, 1), "7.50");
  // dbfread reads the new values.
  QProcess p;
  p.start("/usr/bin/python3", {"-c",
                               "import dbfread,sys\nr=list(dbfread.DBF(sys.argv[1],encoding='cp1252'))[1]\n"
                               "print(r['NAME'],r['PRICE'],r['PAID'],r['DAY'],r['COUNT'],r['CASH'])",
                               path});
  p.waitForFinished(30000);
  EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).trimmed(), QString::fromUtf8("Noël 7.5 True 2021-07-04 -12 3.25"));
  // Changed by another program since it was opened: refused, nothing written.
  QFile other(path);
  ASSERT_TRUE(other.open(QIODevice::Append));
  other.write("x");
  other.close();
  const QByteArray changed = bytesOf(path);
  EXPECT_FALSE(t->writeRecord(0, {{0, "mine"}}, &error));
  EXPECT_TRUE(error.contains("changed by another program")) << error.toStdString();
  EXPECT_EQ(bytesOf(path), changed);
}

TEST(ParadoxTable, TableWrittenByPxlibReadsBack) {
  const QString path = testenv::makeDir("px") + "/people.db";
  {
    pxdoc_t *doc = PX_new();
    pxfield_t *f = static_cast<pxfield_t *>(doc->malloc(doc, 4 * sizeof(pxfield_t), "fields"));
    const char *names[] = {"Name", "Age", "Born", "Paid"};
    const char types[] = {pxfAlpha, pxfLong, pxfDate, pxfLogical};
    const int lens[] = {20, 4, 4, 1};
    for (int i = 0; i < 4; ++i) {
      f[i].px_fname = PX_strdup(doc, names[i]);
      f[i].px_ftype = types[i];
      f[i].px_flen = lens[i];
      f[i].px_fdc = 0;
    }
    ASSERT_GE(PX_create_file(doc, f, 4, QFile::encodeName(path).constData(), pxfFileTypNonIndexDB), 0);
    const struct {
      const char *name;
      int age, y, m, d;
      bool paid;
    } rows[] = {{"Ada", 36, 1815, 12, 10, true}, {"Linus", 54, 1969, 12, 28, false}};
    for (const auto &r : rows) {
      QByteArray rec(PX_get_recordsize(doc), 0);
      char *at = rec.data();
      PX_put_data_alpha(doc, at, 20, const_cast<char *>(r.name));
      PX_put_data_long(doc, at + 20, 4, r.age);
      PX_put_data_long(doc, at + 24, 4, int(PX_GregorianToSdn(r.y, r.m, r.d) - 1721425));
      PX_put_data_byte(doc, at + 28, 1, r.paid ? 1 : 0);
      ASSERT_GE(PX_put_record(doc, rec.data()), 0);
    }
    PX_close(doc);
    PX_delete(doc);
  }
  QString error;
  auto t = openDbTable(path, &error);
  ASSERT_TRUE(t) << error.toStdString();
  ASSERT_EQ(t->recordCount(), 2);
  ASSERT_EQ(t->fields().size(), 4);
  EXPECT_EQ(t->fields()[0].name, "Name");
  EXPECT_EQ(t->displayText(0, 0), "Ada");
  EXPECT_EQ(t->value(1, 1).toLongLong(), 54);
  EXPECT_EQ(t->value(0, 2).toDate(), QDate(1815, 12, 10));
  EXPECT_EQ(t->displayText(1, 3), "False");
  EXPECT_FALSE(t->writeRecord(0, {{0, "x"}}, &error));
  EXPECT_TRUE(error.contains("read-only"));
  // Not a Paradox table: refused with a message.
  const QString junk = testenv::writeFile(testenv::makeDir("px") + "/junk.db", QByteArray(3000, 'j'));
  EXPECT_FALSE(openDbTable(junk, &error));
  EXPECT_TRUE(error.contains("not a Paradox table"));
}

namespace {
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

TEST(FontsViewer, OneWindowRowsSizedByTheirOwnFont) {
  QWidget main;
  QAction item("&System Fonts", &main);
  TFontForm *f = TFontForm::open(&main, &item);
  ASSERT_TRUE(f);
  EXPECT_FALSE(item.isEnabled());
  EXPECT_EQ(TFontForm::open(&main, &item), f);
  EXPECT_EQ(f->windowTitle(), "Tarnwick - System Fonts Viewer");
  EXPECT_EQ(f->size(), QSize(306, 325));
  // Each installed family once, named as fc-list names it: no foundry suffixes, no generic aliases.
  QProcess fc;
  fc.start("fc-list", {"--format", "%{family[0]}\\n"});
  ASSERT_TRUE(fc.waitForFinished(30000)) << "fc-list did not run";
  QStringList theirs = QString::fromUtf8(fc.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  theirs.removeDuplicates();
  theirs.sort(Qt::CaseInsensitive);
  QStringList ours;
  for (int i = 0; i < f->ListBox1->count(); ++i) ours << f->ListBox1->item(i)->text();
  EXPECT_EQ(ours, theirs);
  for (const QString &name : ours) {
    EXPECT_FALSE(name.contains(" [")) << name.toStdString();
    EXPECT_NE(name, "Monospace");
  }
  // Fonts of different heights give rows of different heights, each from its own face.
  QSet<int> heights;
  for (int i = 0; i < f->ListBox1->count(); ++i) {
    const QString family = f->ListBox1->item(i)->text();
    const int h = f->ListBox1->sizeHintForIndex(f->ListBox1->model()->index(i, 0)).height();
    EXPECT_EQ(h, TFontForm::rowHeight(family));
    heights.insert(h);
  }
  if (f->ListBox1->count() > 1 && heights.size() < 2)
    std::cout << "SKIPPED FontsViewer.OneWindowRowsSizedByTheirOwnFont: every installed font is as tall as the others\n";
  f->ListBox1->setCurrentRow(f->ListBox1->count() - 1);
  EXPECT_EQ(f->FontLabel->text(), f->ListBox1->currentItem()->text());
  QPointer<TFontForm> alive(f);
  f->close();
  EXPECT_TRUE(testenv::waitFor([&] { return alive.isNull(); }));
  EXPECT_TRUE(item.isEnabled());
  EXPECT_EQ(TFontForm::instance(), nullptr);
}

TEST(DbfFuzzCorpus, EverySeedAndFindingReplaysCleanly) {
  const QDir corpus(testenv::sourceDir() + "/tests/tools/dbf-fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 5);
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = testenv::readFile(corpus.filePath(name));
    dbffuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
  }
}
