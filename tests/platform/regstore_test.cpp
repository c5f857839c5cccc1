#include <gtest/gtest.h>
#include <QFile>
#include <unistd.h>
#include "platform/regstore.h"
#include "tests/common/testenv.h"

using platform::RegRoot;
using platform::RegStore;
using platform::RegType;

TEST(RegStore, TypedValuesReadBackWithTheirTypesAcrossInstances) {
  const QString file = testenv::makeDir() + "/reg.ini";
  {
    RegStore r(file);
    ASSERT_TRUE(r.writeString(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "StartDir", "/home/x"));
    ASSERT_TRUE(r.writeInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt", -5));
    ASSERT_TRUE(r.writeBinary(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "Blob", QByteArray("\x00\xff\x10", 3)));
    // A string that looks like another type must stay a string.
    ASSERT_TRUE(r.writeString(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "Tricky", "dword:00000001"));
  }
  RegStore r(file);
  const QString key = "Software\\Tarnwick2\\Settings";
  EXPECT_EQ(r.readString(RegRoot::CurrentUser, key, "StartDir"), QString("/home/x"));
  EXPECT_EQ(r.readInteger(RegRoot::CurrentUser, key, "FormHt"), -5);
  EXPECT_EQ(r.readBinary(RegRoot::CurrentUser, key, "Blob"), QByteArray("\x00\xff\x10", 3));
  EXPECT_EQ(r.valueType(RegRoot::CurrentUser, key, "Tricky"), RegType::String);
  EXPECT_EQ(r.readString(RegRoot::CurrentUser, key, "Tricky"), QString("dword:00000001"));
  // Wrong-typed reads fall back to nothing rather than a made-up value.
  EXPECT_FALSE(r.readInteger(RegRoot::CurrentUser, key, "StartDir").has_value());
  EXPECT_FALSE(r.readString(RegRoot::CurrentUser, key, "Missing").has_value());
  EXPECT_TRUE(r.keyExists(RegRoot::CurrentUser, "Software\\Tarnwick2"));
  EXPECT_EQ(r.subKeys(RegRoot::CurrentUser, "Software\\Tarnwick2"), QStringList{"Settings"});
  EXPECT_FALSE(r.keyExists(RegRoot::LocalMachine, "Software\\Tarnwick2"));
  ASSERT_TRUE(r.deleteValue(RegRoot::CurrentUser, key, "FormHt"));
  EXPECT_EQ(r.valueType(RegRoot::CurrentUser, key, "FormHt"), RegType::None);
}

TEST(RegStore, GarbageFileReadsAsEmptyAndCanBeRewritten) {
  const QString file = testenv::writeFile(testenv::makeDir() + "/reg.ini", QByteArray("\x01\x02[[[\nnot=an\xff ini\n", 21));
  RegStore r(file);
  EXPECT_FALSE(r.readInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt").has_value());
  EXPECT_TRUE(r.writeInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt", 7));
  EXPECT_EQ(RegStore(file).readInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt"), 7);
}


TEST(RegStore, ReadOnlyFolderReportsFailedWrites) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes through permissions";
  const QString dir = testenv::makeDir();
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  RegStore r(dir + "/reg.ini");
  EXPECT_FALSE(r.writeInteger(RegRoot::CurrentUser, "K", "V", 1));
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
