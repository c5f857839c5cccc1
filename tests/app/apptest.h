#pragma once
// Base of the main-window tests: every test starts from a clean settings store and per-user folders,
// whatever ran before it in the same process.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <memory>
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "controls/shelllistmodel.h"
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

// A main-window test on one folder: the window is shown with its list filled before the case starts, and a
// click on a list item runs as the mouse's would.
class FolderWindowTest : public AppTest {
 protected:
  // Called by SetUp with the folder made for the case: fill it here before the window reads it.
  virtual void fillFolder() {}
  void SetUp() override {
    AppTest::SetUp();
    dir = testenv::makeDir("win");
    fillFolder();
    if (HasFatalFailure()) return;
    w = std::make_unique<TTarn>(QStringList{dir});
    w->show();
    ASSERT_TRUE(testenv::waitFor([&] { return w->PTShellList1->FolderPath() == dir && !w->PTShellList1->model()->isLoading(); }));
  }
  void TearDown() override { w.reset(); }
  void click(const QString &name) {
    w->PTShellList1->selectName(name);
    w->PTShellList1Click();
  }
  QString dir;
  std::unique_ptr<TTarn> w;
};

}  // namespace apptest
