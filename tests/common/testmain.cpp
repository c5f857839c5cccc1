// Common main of every test executable: a private HOME and XDG tree, an offscreen display, then GoogleTest.
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

namespace {
std::string g_root;

void removeTree() {
  if (!g_root.empty() && !std::getenv("TARNWICK_KEEP_TEST_ROOT")) QDir(QString::fromStdString(g_root)).removeRecursively();
}
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

  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  int rc = RUN_ALL_TESTS();
  return rc;
}
