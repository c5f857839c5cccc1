// Measuring driver of bench/checksums: the digest of one file by the checksum window's own reader.
// Usage: checksums_bench md5|sha1|sha256|sha512 FILE   (prints the hex digest and the seconds taken)
#include <QByteArray>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include "windows/checksums/checksums.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s md5|sha1|sha256|sha512 FILE\n", argv[0]);
    return 2;
  }
  checksums::Algo a = checksums::Algo::Sha256;
  if (!std::strcmp(argv[1], "md5")) a = checksums::Algo::Md5;
  if (!std::strcmp(argv[1], "sha1")) a = checksums::Algo::Sha1;
  if (!std::strcmp(argv[1], "sha512")) a = checksums::Algo::Sha512;
  const std::atomic_bool cancel{false};
  QElapsedTimer t;
  t.start();
  const checksums::Hash h = checksums::hashFile(QByteArray(argv[2]), a, {}, cancel);
  const double s = t.nsecsElapsed() / 1e9;
  if (h.hex.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(h.error));
    return 1;
  }
  std::printf("%s %.4f\n", h.hex.constData(), s);
  return 0;
}
