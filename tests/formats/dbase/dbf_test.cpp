// Our dBASE reader against python3-dbfread on tables written by an independent writer, hostile tables,
// writing edits back, Paradox through pxlib, and the reader's fuzz corpus.
#include "tests/common/testenv.h"
#include "tests/formats/dbase/dbffuzzone.h"
#include "formats/dbase/dbfreader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

extern "C" {
#include <paradox.h>
}

#include "tests/formats/dbase/dbffixtures.h"

using namespace dbftest;

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

TEST(DbfFuzzCorpus, EverySeedAndFindingReplaysCleanly) {
  const QDir corpus(testenv::sourceDir() + "/tests/formats/dbase/dbf-fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 5);
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = testenv::readFile(corpus.filePath(name));
    dbffuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
  }
}

