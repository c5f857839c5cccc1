#pragma once
// dBASE III/IV/5, FoxPro and Visual FoxPro tables (.dbf) with their memo files (.dbt, .fpt).
// Records are read when they are asked for, a group of neighbours at a time into a small cache, so a table
// of millions of records opens at once and memory does not grow with it. The file is read, not mapped: a
// table another program shortens while it is shown reads as blank records instead of killing the program.
// Every length in the header is checked against the file before anything is read, so a damaged table is
// refused at open with a message saying what is wrong.
#include "platform/fileidentity.h"
#include "formats/dbase/dbtable.h"

#include <QByteArray>
#include <QFile>
#include <array>

class TDbfTable final : public TDbTable {
 public:
  // Opens the table; null with the reason in error when the file is not a table this reader understands.
  static std::unique_ptr<TDbfTable> open(const QString &path, QString *error);
  // The same checks and decoding over bytes in memory (no memo file); for the fuzz target and tests.
  static std::unique_ptr<TDbfTable> fromBytes(const QByteArray &bytes, QString *error);
  ~TDbfTable() override;

  const QVector<TDbField> &fields() const override { return fields_; }
  qint64 recordCount() const override { return count_; }
  QVariant value(qint64 record, int field) const override;
  QString displayText(qint64 record, int field) const override;
  bool isDeleted(qint64 record) const override;
  QString whyReadOnly(int field) const override;
  bool writeRecord(qint64 record, const QHash<int, QString> &values, QString *error) override;
  QString formatName() const override;

  quint8 versionByte() const { return version_; }
  quint8 codePageByte() const { return codePage_; }
  // The character set the code page byte names ("CP1252", ...); tables without one are read as CP1252.
  QString encodingName() const { return encoding_; }

 private:
  TDbfTable() = default;
  bool parse(QString *error);
  bool openMemo(const QString &tablePath);
  bool checkMemoPointers(QString *error) const;
  // The record's bytes, valid until the next call.
  const uchar *record(qint64 r) const;
  // len bytes at offset at of f; fewer when the file is shorter.
  static QByteArray readAt(const QFile &f, qint64 at, qint64 len);
  QString decode(const uchar *p, int n) const;
  bool encode(const QString &s, QByteArray *out) const;
  qint64 memoBlock(const uchar *p, int len) const;
  // A memo's text, or its bytes when it is binary (a FoxPro picture or object) or raw is asked for.
  QVariant memo(qint64 block, bool *binary, bool raw) const;
  bool isMemoType(const TDbField &f) const;
  bool encodeField(const TDbField &f, const QString &text, uchar *dest, QString *error) const;

  QFile file_, memoFile_;
  QByteArray bytes_;  // fromBytes only
  const uchar *data_ = nullptr;
  qint64 size_ = 0;
  QByteArray head_;  // the header as read from the file
  struct Group {
    qint64 first = -1;
    QByteArray bytes;
    quint64 used = 0;
  };
  mutable std::array<Group, 8> cache_;
  mutable quint64 tick_ = 0;
  qint64 groupRecords_ = 1;
  bool memoOpen_ = false;
  qint64 memoSize_ = 0;
  int memoBlockSize_ = 512;
  enum class MemoKind { None, Dbt3, Dbt4, Fpt } memoKind_ = MemoKind::None;
  bool memoMissing_ = false;
  QString memoName_;
  quint8 version_ = 0, codePage_ = 0;
  qint64 count_ = 0;
  int headerLen_ = 0, recordLen_ = 0;
  QVector<TDbField> fields_;
  QVector<int> offsets_;  // of each field in the record
  QString encoding_;
  bool singleByte_ = true;
  std::array<char16_t, 256> table_{};  // byte to character for single-byte code pages
  QString path_;
  bool writable_ = false;
  platform::FileIdentity identity_;
};
