#include "tests/formats/id3/mp3fuzzone.h"

#include "formats/id3/mp3tag.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace mp3fuzz {

namespace {
void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

QByteArray readAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

void run(const uint8_t *data, size_t size) {
  static QTemporaryDir dir(QDir::tempPath() + "/mp3fuzz-XXXXXX");
  const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
  const QString path = dir.filePath("in.mp3");
  {
    QFile f(path);
    check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(in) == in.size(), "input written");
  }
  TMP3Tag t;
  t.setFilename(path);
  const bool tagged = in.size() > 128 && in.right(128).startsWith("TAG");
  check(t.Valid() == tagged, "Valid exactly when the last 128 of more than 128 bytes start with TAG");
  check(t.Valid() || !t.Error().isEmpty(), "an invalid read says why");
  const mp3tag::Record r = t.record();
  check(r.title.size() <= 30 && r.artist.size() <= 30 && r.album.size() <= 30 && r.comment.size() <= 30 &&
            r.year.size() <= 4,
        "fields within their widths");
  check(!r.title.endsWith(' ') && !r.comment.endsWith(' '), "trailing blanks cut");
  if (tagged) {
    mp3tag::Record again;
    check(mp3tag::decode(mp3tag::encode(r), again), "own record decodes");
    check(mp3tag::encode(again) == mp3tag::encode(r), "own record decodes to the same fields");
    // The record as stored differs from ours only where blanks were cut (they become zero bytes).
    QByteArray stored = in.right(128), ours = mp3tag::encode(r);
    for (int i = 0; i < 128; ++i)
      if (stored[i] == ' ' && ours[i] == '\0') stored[i] = '\0';
    check(stored == ours, "the record keeps every byte but trailing blanks");
  }
  // A write keeps every byte in front of the record and reads back as written.
  const bool wrote = t.WriteTag();
  const QByteArray out = readAll(path);
  if (in.size() <= 128) {
    check(!wrote && out == in, "a file of 128 bytes or less is left alone");
    return;
  }
  check(wrote, "a write to a larger file succeeds");
  const qsizetype front = tagged ? in.size() - 128 : in.size();
  check(out.size() == front + 128 && out.left(front) == in.left(front), "bytes in front kept");
  TMP3Tag back;
  back.setFilename(path);
  check(back.Valid() && back.Title() == t.Title() && back.Comment() == t.Comment() && back.GenreID() == t.GenreID(),
        "written record reads back");
}

}  // namespace mp3fuzz
