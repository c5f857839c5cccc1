#pragma once
// Base of the main-window tests: every test starts from a clean settings store and per-user folders,
// whatever ran before it in the same process.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include "tests/common/testenv.h"

namespace apptest {

// Empties the private config, data and cache folders: the settings store, favourites, mask list, FTP
// profiles, autostart entry and trash that an earlier window left there.
inline void cleanUserState() {
  for (const char *sub : {"config", "data", "cache"}) {
    const QString dir = testenv::root() + "/" + sub;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { cleanUserState(); }
};

}  // namespace apptest
