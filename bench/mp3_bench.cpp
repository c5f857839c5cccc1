// Measures the ID3v1 reader for bench/mp3; prints "key=value" lines.
//   mp3_bench FOLDER   reads the tag of every file in FOLDER in turn, as clicks through a list would:
//                      files, valid (tags found), ms, rss_before_kb and rss_after_kb (resident memory
//                      after a first pass and after a second one, to show that it does not grow)
#include "formats/id3/mp3tag.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {
long rssKb() {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray &line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}
}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: mp3_bench FOLDER\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  const QStringList names = dir.entryList(QDir::Files, QDir::Name);
  TMP3Tag tag;
  auto pass = [&] {
    int valid = 0;
    for (const QString &n : names) {
      tag.setFilename(dir.filePath(n));
      valid += tag.Valid();
    }
    return valid;
  };
  pass();  // warm: the page cache holds the files for both sides of the comparison
  const long before = rssKb();
  QElapsedTimer t;
  t.start();
  const int valid = pass();
  const double ms = double(t.nsecsElapsed()) / 1e6;
  const long after = rssKb();
  std::printf("files=%lld valid=%d ms=%.1f rss_before_kb=%ld rss_after_kb=%ld\n", qlonglong(names.size()), valid, ms,
              before, after);
  return 0;
}
