#include "tests/formats/rtf/rtffuzzone.h"

#include "formats/rtf/rtfcodec.h"

#include <QTextDocument>
#include <cstdio>
#include <cstdlib>

namespace rtffuzz {

void run(const uint8_t *data, size_t size) {
  const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtf(in, &doc);
  const QString text = doc.toRawText();
  if (!r.ok) {
    if (!text.isEmpty() || r.error.isEmpty()) {
      std::fprintf(stderr, "failed read left %lld characters, error \"%s\"\n", qlonglong(text.size()), qPrintable(r.error));
      std::abort();
    }
    return;
  }
  // Every character read costs at least one input byte (tables add their cell separators).
  if (text.size() > qsizetype(size) + doc.blockCount()) {
    std::fprintf(stderr, "%lld characters from %zu bytes\n", qlonglong(text.size()), size);
    std::abort();
  }
  const QByteArray written = rtf::writeRtf(&doc);
  QTextDocument again;
  const rtf::ReadResult r2 = rtf::readRtf(written, &again);
  if (!r2.ok || again.toRawText() != text) {
    std::fprintf(stderr, "our own RTF did not read back (%s)\n--- first:\n%s\n--- again:\n%s\n", qPrintable(r2.error),
                 qPrintable(text), qPrintable(again.toRawText()));
    std::abort();
  }
}

}  // namespace rtffuzz
