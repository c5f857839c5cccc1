#pragma once
// The dBASE fixtures shared by the reader's and the database viewer's tests: tables written once per process
// by an independent writer (dbf_fixtures.py), which also reads them with python3-dbfread.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QVariant>
#include <gtest/gtest.h>
#include "formats/dbase/dbtable.h"
#include "tests/common/testenv.h"

namespace dbftest {


struct Fixtures {
  QString dir;
  QJsonObject peer;  // what dbfread read from each table
  QString error;
};

// The tables are written once per process by the independent writer, which also reads them with dbfread.
inline const Fixtures &fixtures() {
  static Fixtures f = [] {
    Fixtures out;
    out.dir = testenv::makeDir("fixtures");
    QProcess p;
    p.start("/usr/bin/python3", {testenv::sourceDir() + "/tests/formats/dbase/dbf_fixtures.py", out.dir});
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

inline QString fx(const QString &name) { return fixtures().dir + "/" + name; }

// Our value in the canonical form the fixture script gives dbfread's.
inline QJsonValue canon(const QVariant &v, const TDbField &f) {
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

inline QByteArray bytesOf(const QString &path) { return testenv::readFile(path); }

inline QString copyOf(const QString &name, const QString &dir = testenv::makeDir("copy")) {
  for (const QString &n : QDir(fixtures().dir).entryList({QFileInfo(name).completeBaseName() + ".*"}, QDir::Files))
    QFile::copy(fx(n), dir + "/" + n);
  return dir + "/" + name;
}


}  // namespace dbftest
