// Times the Office97 tab from a click to the converted text shown in ReApp, for each file named on the
// command line, in one process (the converter library and its private LibreOffice profile stay between
// documents, as in the program). Prints "file ms" per document.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

#include "controls/richedit.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "viewers/officetab.h"

namespace {
class BenchHost : public TOfficeHost {
 public:
  explicit BenchHost(const QString &file) : store(file) {}
  platform::RegStore &converterStore() override { return store; }
  QString currentFolder() const override { return QString(); }
  QString askOpenDocument(const QString &, const QString &, int *) override { return QString(); }
  void showConverterMessage(const QString &text) override { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
  platform::RegStore store;
};
}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  BenchHost host(platform::userFile(QStringLiteral("bench-registry.ini")));
  TOfficeTab tab(host);
  tab.registerConverters(platform::libraryFolder());
  for (int i = 1; i < argc; ++i) {
    const QString file = QString::fromLocal8Bit(argv[i]);
    QElapsedTimer t;
    t.start();
    tab.showDocument(file, QStringLiteral(".") + QFileInfo(file).suffix().toLower());
    const qint64 ms = t.elapsed();
    std::printf("%s %lld %s %lld\n", qPrintable(QFileInfo(file).fileName()), static_cast<long long>(ms),
                tab.statusText().startsWith(QStringLiteral("Succesfully")) ? "ok" : "failed",
                static_cast<long long>(tab.ReApp->document()->characterCount()));
    std::fflush(stdout);
  }
  return 0;
}
