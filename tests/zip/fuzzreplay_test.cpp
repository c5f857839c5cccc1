// Replays the fuzz corpus kept in the repository through the reader and the real unzip engine.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/common/testenv.h"
#include "tests/zip/fuzzone.h"

#include <QDir>
#include <QFile>
#include <QLibrary>

TEST(FuzzCorpus, EverySeedAndFindingReplaysCleanly) {
  QLibrary lib(platform::libraryFolder() + "/libunzdll.so");
  ASSERT_TRUE(lib.load());
  auto unz = reinterpret_cast<zipapi::UnzExecFn>(lib.resolve("UnzDllExec"));
  ASSERT_NE(unz, nullptr);
  const QDir corpus(testenv::sourceDir() + "/tests/zip/fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 8);
  const QString scratch = testenv::makeDir("fuzz") + "/input.zip";
  int tested = 0;
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = testenv::readFile(corpus.filePath(name));
    tested += fuzzone::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), unz, scratch);
  }
  // The valid seeds do pass the test path (the encrypted one with its password "pw").
  EXPECT_GE(tested, 9);
}
