// Measuring driver of bench/archives: lists an archive and prints seconds, members and bytes per member;
// with --extract ARCHIVE FOLDER, copies every member out (as a copy from an archive folder does) and prints
// the seconds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include "formats/archive/archivereader.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: archives_bench ARCHIVE | --extract ARCHIVE FOLDER\n");
    return 2;
  }
  if (argc == 4 && QByteArray(argv[1]) == "--extract") {
    QElapsedTimer t;
    t.start();
    const archives::ExtractResult r =
        archives::extractMembers(QString::fromLocal8Bit(argv[2]), {}, QString::fromLocal8Bit(argv[3]));
    if (!r.ok || !r.refused.isEmpty()) {
      std::fprintf(stderr, "%s %s\n", qPrintable(r.error), qPrintable(r.refused.join(QLatin1Char('\n'))));
      return 1;
    }
    std::printf("%.6f %lld\n", t.nsecsElapsed() / 1e9, static_cast<long long>(r.written.size()));
    return 0;
  }
  archives::Listing listing;
  QString error;
  QElapsedTimer t;
  t.start();
  if (!archives::listArchive(QString::fromLocal8Bit(argv[1]), &listing, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const double seconds = t.nsecsElapsed() / 1e9;
  qint64 names = 0;
  for (int i = 0; i < listing.count(); ++i) names += listing.path(i).size();
  std::printf("%.6f %d %lld %lld\n", seconds, listing.count(), static_cast<long long>(listing.bytesUsed()),
              static_cast<long long>(names));
  return 0;
}
