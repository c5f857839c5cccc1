#pragma once
// Paradox tables (.db) through pxlib. Paradox's files are read-only here: pxlib rewrites data blocks in
// place with no way to make a change all-or-nothing, so the viewer does not offer to edit them.
#include "formats/dbase/dbtable.h"

struct px_doc;

class TPxTable final : public TDbTable {
 public:
  static std::unique_ptr<TPxTable> open(const QString &path, QString *error);
  ~TPxTable() override;
  const QVector<TDbField> &fields() const override { return fields_; }
  qint64 recordCount() const override { return count_; }
  QVariant value(qint64 record, int field) const override;
  QString whyReadOnly(int field) const override;
  bool writeRecord(qint64 record, const QHash<int, QString> &values, QString *error) override;
  QString formatName() const override { return QStringLiteral("Paradox"); }

 private:
  TPxTable() = default;
  void load(qint64 record) const;
  px_doc *doc_ = nullptr;
  QVector<TDbField> fields_;
  QVector<int> types_;
  qint64 count_ = 0;
  // The last record read: a grid asks for every field of a row in turn.
  mutable qint64 cached_ = -1;
  mutable QVector<QVariant> row_;
};
