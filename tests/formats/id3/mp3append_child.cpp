// Adds an ID3v1 record to a file from another process, for tools_core_tests (not a test itself):
//   mp3append_child FILE LIMIT
// runs under a file size limit of LIMIT bytes with SIGXFSZ left to its default, so that a write past the
// limit kills the process in the middle of the append, as a crash would.
#include "formats/id3/mp3tag.h"

#include <QCoreApplication>
#include <csignal>
#include <sys/resource.h>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  QCoreApplication app(argc, argv);
  std::signal(SIGXFSZ, SIG_DFL);
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  rlimit size{};
  ::getrlimit(RLIMIT_FSIZE, &size);
  size.rlim_cur = static_cast<rlim_t>(QByteArray(argv[2]).toLongLong());
  if (::setrlimit(RLIMIT_FSIZE, &size) != 0) return 3;
  TMP3Tag t;
  t.setFilename(QString::fromLocal8Bit(argv[1]));
  t.setTitle(QStringLiteral("Cut short"));
  return t.WriteTag() ? 0 : 5;
}
