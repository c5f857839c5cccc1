// Compares two folder trees by name, size and time (or content with --content) and prints the time taken
// and how many entries of each kind were found; bench/compare runs it against rsync.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>

#include "windows/compare/foldercompare.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  comparing::Options o;
  const char *paths[2] = {nullptr, nullptr};
  int n = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--content"))
      o.content = comparing::ContentMode::Bytes;
    else if (n < 2)
      paths[n++] = argv[i];
  }
  if (n != 2) {
    std::fprintf(stderr, "usage: compare_bench [--content] LEFT RIGHT\n");
    return 2;
  }
  QElapsedTimer t;
  t.start();
  const comparing::Result r = comparing::compareTrees(paths[0], paths[1], o);
  const qint64 ns = t.nsecsElapsed();
  if (!r.rootProblem.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(r.rootProblem));
    return 1;
  }
  int counts[comparing::kKindCount] = {};
  for (const auto &row : r.rows) ++counts[int(row.kind)];
  std::printf("seconds=%.4f rows=%lld", double(ns) / 1e9, qlonglong(r.rows.size()));
  for (int k = 0; k < comparing::kKindCount; ++k)
    std::printf(" %s=%d", qPrintable(comparing::kindText(comparing::Kind(k)).toLower().replace(' ', '_')), counts[k]);
  std::printf("\n");
  return 0;
}
