#include "tests/formats/dbase/dbffuzzone.h"

#include "formats/dbase/dbfreader.h"

#include <QByteArray>
#include <cstdio>
#include <cstdlib>

namespace dbffuzz {

void run(const uint8_t *data, size_t size) {
  const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
  QString error;
  auto t = TDbfTable::fromBytes(in, &error);
  if (!t) {
    if (error.isEmpty()) {
      std::fprintf(stderr, "refused without a reason\n");
      std::abort();
    }
    return;
  }
  int recordBytes = 1;
  for (const TDbField &f : t->fields()) recordBytes += f.length;
  // Every record the table claims lies inside the bytes read.
  if (t->recordCount() > 0 && qint64(recordBytes) * t->recordCount() > qint64(size)) {
    std::fprintf(stderr, "%lld records of %d bytes claimed from %zu bytes\n", t->recordCount(), recordBytes, size);
    std::abort();
  }
  const qint64 n = std::min<qint64>(t->recordCount(), 4096);
  for (qint64 r = 0; r < n; ++r) {
    t->isDeleted(r);
    for (int c = 0; c < t->fields().size(); ++c) {
      const QString s = t->displayText(r, c);
      t->value(r, c);
      // A value never decodes to more characters than its bytes (memos are not read without a memo file).
      if (s.size() > t->fields()[c].length * 2 + 40) {
        std::fprintf(stderr, "field %d of record %lld: %lld characters\n", c, r, qlonglong(s.size()));
        std::abort();
      }
    }
  }
  QString why;
  if (t->writeRecord(0, {{0, QStringLiteral("x")}}, &why) || why.isEmpty()) {
    std::fprintf(stderr, "a table in memory accepted a write\n");
    std::abort();
  }
}

}  // namespace dbffuzz
