#include "tests/zip/fuzzone.h"

#include "zip/zipmaster.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace fuzzone {

namespace {
int32_t quiet(zipapi::CallbackRecord *) { return 0; }

QByteArray slurp(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whatever the directory holds, a conversion that succeeds comes back byte for byte, and a set that was
// written joins back into an archive with the same members.
void roundTrips(const QString &scratchFile, int entries) {
  const QString dir = scratchFile + ".d";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir + "/set");
  const QString zip = dir + "/a.zip", stub = dir + "/stub";
  QFile::copy(scratchFile, zip);
  {
    QFile f(stub);
    if (!f.open(QIODevice::WriteOnly)) std::abort();
    f.write(QByteArray(100, 'S'));
  }
  TZipMaster zm;
  zm.setUnattended(true);
  zm.setHowToDelete(TZipMaster::htdFinal);
  zm.setSFXPath(stub);
  zm.setZipFilename(zip);
  // Bytes before the first member are not part of the archive: only an archive that starts at once comes back whole.
  const bool plain = !zm.StructureWarning() && zm.ArchiveStart() == 0;
  const QByteArray archive = slurp(scratchFile).left(zm.EndOfZipData());  // what follows is not the archive's
  if (zm.ConvertToSfx() == 0) {
    // A conversion back that fails leaves the program as it was; one that succeeds gives a plain archive
    // back byte for byte.
    const QString exe = zm.ZipFilename();
    const QByteArray made = slurp(exe);
    const int back = zm.ConvertToZip();
    if ((plain && back != 0) || (back == 0 && plain && slurp(zip) != archive) ||
        (back != 0 && slurp(exe) != made)) {
      std::fprintf(stderr, "self-extracting round trip lost the archive\n");
      std::abort();
    }
  }
  zm.setMaxVolumeSize(200);
  zm.setMinFreeVolumeSize(0);
  if (zm.WriteSpan(scratchFile, dir + "/set/s.zip") == 0) {
    const QStringList parts = QDir(dir + "/set").entryList(QDir::Files, QDir::Name);
    QString joined = dir + "/joined.zip";
    if (parts.isEmpty() || zm.ReadSpan(dir + "/set/" + parts.last(), joined) != 0) {
      std::fprintf(stderr, "a written set does not join\n");
      std::abort();
    }
    zm.setZipFilename(joined);
    if (zm.EntryCount() != entries) {
      std::fprintf(stderr, "joined set lists %d of %d members\n", zm.EntryCount(), entries);
      std::abort();
    }
  }
  QDir(dir).removeRecursively();
}
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
  if (zm.EntryCount() > 0) roundTrips(scratchFile, zm.EntryCount());
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
