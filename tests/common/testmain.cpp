// Common main of every test executable: a private HOME and XDG tree, an offscreen display, then GoogleTest.
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

namespace {
std::string g_root;

// The offscreen platform says once per window that it cannot size or raise one; in a failed run's log those
// lines bury the assertions.
QtMessageHandler g_nextHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  if (type == QtWarningMsg && text.startsWith(QLatin1String("This plugin does not support"))) return;
  g_nextHandler(type, context, text);
}

// rm, not QDir::removeRecursively: tests make trees deeper than the longest path a single call takes.
void removeTree() {
  if (g_root.empty() || std::getenv("TARNWICK_KEEP_TEST_ROOT")) return;
  if (std::system(("rm -rf '" + g_root + "'").c_str()) != 0)
    std::fprintf(stderr, "could not remove %s\n", g_root.c_str());
}
// A skipped case is one passing line in ctest's summary; say it, with its reason, on stderr and in the
// skip log that `make test` prints after the run, so a skip never goes unnoticed in CI.
class SkipReporter : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo &info) override {
    const ::testing::TestResult *r = info.result();
    if (!r || !r->Skipped()) return;
    std::string reason;
    for (int i = 0; i < r->total_part_count(); ++i)
      if (r->GetTestPartResult(i).skipped()) reason = r->GetTestPartResult(i).message();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    const std::string line = std::string("SKIPPED ") + info.test_suite_name() + "." + info.name() + ": " +
                             (reason.empty() ? "(no reason given)" : reason) + "\n";
    std::fputs(line.c_str(), stderr);
    if (const char *log = std::getenv("TARNWICK_SKIP_LOG"); log && *log) {
      if (FILE *f = std::fopen(log, "a")) {
        std::fputs(line.c_str(), f);
        std::fclose(f);
      }
    }
  }
};
}  // namespace

int main(int argc, char **argv) {
  char tmpl[] = "/tmp/tarnwick-test-XXXXXX";
  if (!mkdtemp(tmpl)) return 2;
  g_root = tmpl;
  const char *subs[] = {"home", "config", "data", "runtime", "tmp", "cache"};
  for (const char *s : subs) mkdir((g_root + "/" + s).c_str(), 0700);
  setenv("TARNWICK_TEST_ROOT", g_root.c_str(), 1);
  setenv("HOME", (g_root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (g_root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (g_root + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (g_root + "/cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (g_root + "/runtime").c_str(), 1);
  setenv("TMPDIR", (g_root + "/tmp").c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::atexit(removeTree);

  g_nextHandler = qInstallMessageHandler(quietHandler);
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkipReporter);
  int rc = RUN_ALL_TESTS();
  return rc;
}
