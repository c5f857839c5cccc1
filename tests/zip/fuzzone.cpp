#include "tests/zip/fuzzone.h"

#include "zip/zipmaster.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace fuzzone {

namespace {
int32_t quiet(zipapi::CallbackRecord *) { return 0; }
}

int run(const uint8_t *data, size_t size, zipapi::UnzExecFn unz, const QString &scratchFile) {
  {
    QFile f(scratchFile);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    f.write(reinterpret_cast<const char *>(data), qint64(size));
  }
  TZipMaster zm;
  zm.setUnattended(true);
  zm.setZipFilename(scratchFile);
  if (size_t(zm.EntryCount()) > size / 46) {
    std::fprintf(stderr, "reader: %d entries from %zu bytes\n", zm.EntryCount(), size);
    std::abort();
  }
  for (const auto &e : zm.Entries())
    if (e.FileName.size() > int(size)) std::abort();
  if (!unz) return 0;
  const QByteArray archive = QFile::encodeName(scratchFile);
  char password[zipapi::kPasswordBuffer] = "pw";
  zipapi::UnzParams p{};
  p.head.version = zipapi::kInterfaceVersion;
  p.head.callback = &quiet;
  p.head.password = password;
  p.head.test = zipapi::kTrue;
  p.head.archive = archive.constData();
  p.trailer = zipapi::kTrailer;
  const int32_t n = unz(&p);
  if (n < 0 || size_t(n) > size / 46) {
    std::fprintf(stderr, "engine: %d members tested from %zu bytes\n", n, size);
    std::abort();
  }
  return n;
}

}  // namespace fuzzone
