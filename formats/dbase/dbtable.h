#pragma once
// A table the database viewer shows: dBASE files through our own reader, Paradox files through pxlib.
// Records are read on demand, so a table of millions of rows costs no more to open than a small one.
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

struct TDbField {
  QString name;
  char type = 'C';       // the table's own type letter (dBASE) or a letter standing for the Paradox type
  int length = 0;        // bytes in the record
  int decimals = 0;
  int displayWidth = 0;  // characters a column needs for the field's display text
  bool rightAligned = false;
  bool visible = true;   // Visual FoxPro's system columns (the null flags) are hidden
};

class TDbTable {
 public:
  virtual ~TDbTable() = default;
  virtual const QVector<TDbField> &fields() const = 0;
  virtual qint64 recordCount() const = 0;
  // The field's value in the record: QString, qlonglong, double, bool, QDate, QDateTime, QByteArray, or
  // an invalid QVariant for an empty (null) value. Record and field numbers start at 0.
  virtual QVariant value(qint64 record, int field) const = 0;
  // The text a grid shows for the value.
  virtual QString displayText(qint64 record, int field) const;
  virtual bool isDeleted(qint64 record) const { return false; }
  // Empty when the field can be changed in place; else the reason, to show to the user.
  virtual QString whyReadOnly(int field) const = 0;
  // Writes the changed fields (field number to the text typed) of one record as one write of the whole
  // record. False with the reason in error when a value does not fit or the file cannot be written; the
  // file is then unchanged.
  virtual bool writeRecord(qint64 record, const QHash<int, QString> &values, QString *error) = 0;
  // A short name of the format for the window ("dBASE III", "Visual FoxPro", "Paradox 7", ...).
  virtual QString formatName() const = 0;
};

// Opens a table by its file name: ".db" as Paradox, anything else as dBASE. Null with the reason in error.
std::unique_ptr<TDbTable> openDbTable(const QString &path, QString *error);

// The display text of a value as the grid, the printout and the text export show it.
QString dbDisplayText(const QVariant &v, const TDbField &f);
