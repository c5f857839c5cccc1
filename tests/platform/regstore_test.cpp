#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <sys/stat.h>
#include <cstdlib>
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
  // Listing leaves later reads at the full path (a second listing and a value read after it).
  EXPECT_EQ(r.valueNames(RegRoot::CurrentUser, key).size(), 4);
  EXPECT_EQ(r.subKeys(RegRoot::CurrentUser, "Software\\Tarnwick2"), QStringList{"Settings"});
  EXPECT_EQ(r.readString(RegRoot::CurrentUser, key, "StartDir"), QString("/home/x"));
  EXPECT_FALSE(r.keyExists(RegRoot::LocalMachine, "Software\\Tarnwick2"));
  ASSERT_TRUE(r.deleteValue(RegRoot::CurrentUser, key, "FormHt"));
  EXPECT_EQ(r.valueType(RegRoot::CurrentUser, key, "FormHt"), RegType::None);
}

TEST(RegStore, GarbageFileReadsAsEmptyAndCanBeRewritten) {
  const QString file = testenv::writeFile(testenv::makeDir() + "/reg.ini", QByteArray("\x01\x02[[[\nnot=an\xff ini\n"));
  RegStore r(file);
  EXPECT_FALSE(r.readInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt").has_value());
  EXPECT_TRUE(r.writeInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt", 7));
  EXPECT_EQ(RegStore(file).readInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt"), 7);
}

namespace {
// A folder outside the private test root (which only its owner may enter), removed at the end.
struct SharedFolder {
  QString path;
  SharedFolder() {
    char tmpl[] = "/tmp/tarnwick-regstore-XXXXXX";
    if (::mkdtemp(tmpl)) {
      ::chmod(tmpl, 0755);
      path = QString::fromLocal8Bit(tmpl);
    }
  }
  ~SharedFolder() {
    if (!path.isEmpty()) QDir(path).removeRecursively();
  }
};

// Runs the store probe on a file, as "nobody" when the test runs as root; returns what it printed.
QString runProbe(const QString &probe, const QString &file) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (::geteuid() == 0)
    p.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", probe, file});
  else
    p.start(probe, {file});
  if (!p.waitForFinished(60000)) return "probe did not finish";
  return QString::fromLocal8Bit(p.readAll()).trimmed();
}
}  // namespace

// A store in a folder its user may only read reports its writes as failed. As root permissions do not
// bite, so the writes run in a child process as "nobody".
TEST(RegStore, ReadOnlyFolderReportsFailedWrites) {
  SharedFolder shared;
  ASSERT_FALSE(shared.path.isEmpty());
  const QString probe = shared.path + "/regstore_probe";  // the build tree may be closed to other users
  ASSERT_TRUE(QFile::copy(testenv::binDir() + "/regstore_probe", probe));
  ASSERT_EQ(::chmod(QFile::encodeName(probe).constData(), 0755), 0);
  const QString open = shared.path + "/open", closed = shared.path + "/closed";
  ASSERT_TRUE(QDir().mkdir(open) && QDir().mkdir(closed));
  ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0555), 0);

  // The same user can write where it may: the probe itself works.
  EXPECT_EQ(runProbe(probe, open + "/reg.ini"), "write=ok");
  EXPECT_EQ(RegStore(open + "/reg.ini").readInteger(RegRoot::CurrentUser, "Software\\Tarnwick2\\Settings", "FormHt"), 7);
  EXPECT_EQ(runProbe(probe, closed + "/reg.ini"), "write=failed");
  EXPECT_FALSE(QFile::exists(closed + "/reg.ini"));
  EXPECT_TRUE(QDir(closed).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}
