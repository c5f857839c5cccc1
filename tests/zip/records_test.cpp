// The bytes TZipMaster hands the engines, for engine versions 150, 151 and 152, read back by a
// stand-in engine library; and the component's handling of each callback action.
#include <gtest/gtest.h>

#include "engines/engineapi.h"
#include "tests/common/testenv.h"
#include "tests/zip/fakeengine.h"
#include "zip/zipmaster.h"

#include <QLibrary>
#include <QSignalSpy>
#include <cstring>
#include <set>

namespace {

int32_t i32(const FakeCapture &c, size_t off) {
  int32_t v;
  std::memcpy(&v, c.record.data() + off, 4);
  return v;
}
uint64_t u64(const FakeCapture &c, size_t off) {
  uint64_t v;
  std::memcpy(&v, c.record.data() + off, 8);
  return v;
}

// Every byte outside the listed fields is zero.
void expectZeroOutside(const FakeCapture &c, const std::vector<std::pair<size_t, size_t>> &fields) {
  std::vector<bool> used(c.record.size(), false);
  for (auto [off, len] : fields)
    for (size_t i = off; i < off + len && i < used.size(); ++i) used[i] = true;
  for (size_t i = 0; i < c.record.size(); ++i) {
    if (!used[i]) {
      ASSERT_EQ(c.record[i], 0) << "byte " << i << " is not zero";
    }
  }
}

const QString fakeDir() { return qEnvironmentVariable("TARNWICK_FAKE_ENGINES"); }

const FakeCapture &lastCall(bool zip) {
  QLibrary lib(fakeDir() + (zip ? "/libzipdll.so" : "/libunzdll.so"));
  EXPECT_TRUE(lib.load());
  auto fn = reinterpret_cast<const FakeCapture *(*)()>(lib.resolve("FakeLastCall"));
  EXPECT_NE(fn, nullptr);
  static const FakeCapture none;
  return fn ? *fn() : none;
}

struct Fixture : ::testing::Test {
  void SetUp() override {
    zm.setDLLDirectory(fakeDir() + "/");
    zm.setUnattended(true);
    archive = testenv::writeFile(testenv::makeDir("a") + "/x.zip", QByteArray("PK\x05\x06", 4) + QByteArray(18, 0));
  }
  void TearDown() override {
    zm.UnloadZipEngine();
    zm.UnloadUnzipEngine();
    qunsetenv("TARNWICK_FAKE_VERSION");
  }
  TZipMaster zm;
  QString archive;
};

}  // namespace

TEST_F(Fixture, DllDirectoryLosesOneTrailingSeparator) {
  EXPECT_EQ(zm.DLLDirectory(), fakeDir());
  zm.setDLLDirectory("/x//");
  EXPECT_EQ(zm.DLLDirectory(), "/x/");
}

TEST_F(Fixture, ZipRecordLayoutsForVersions150151And152) {
  for (int version : {150, 151, 152}) {
    SCOPED_TRACE(version);
    qputenv("TARNWICK_FAKE_VERSION", QByteArray::number(version));
    zm.UnloadZipEngine();
    ASSERT_TRUE(zm.LoadZipEngine());
    zm.setZipFilename(archive);
    zm.setPassword("pw");
    zm.setTempDir("/tmp/somewhere");
    zm.setAddCompLevel(4);
    zm.setVerbose(true);
    zm.setAddOptions(TZipMaster::AddEncrypt | TZipMaster::AddRecurseDirs | TZipMaster::AddFreshen |
                     TZipMaster::AddUpdate | TZipMaster::AddZipTime | TZipMaster::AddMove);
    zm.setFSpecArgs({"/one/*.txt", "two"});
    zm.AddFiles();
    EXPECT_EQ(zm.SuccessCount(), 7);
    EXPECT_TRUE(zm.FSpecArgs().isEmpty());
    const FakeCapture &c = lastCall(true);
    ASSERT_EQ(c.calls, 1);
    const bool flat = version == 150;
    ASSERT_EQ(c.record.size(), flat ? 32944u : 256u);
    EXPECT_EQ(u64(c, 0), 0u);  // no window handle when unattended
    EXPECT_EQ(u64(c, 8), reinterpret_cast<uint64_t>(&zm));
    EXPECT_EQ(i32(c, 16), 152);
    EXPECT_NE(u64(c, 24), 0u);
    EXPECT_EQ(i32(c, 32), 0);  // trace
    EXPECT_NE(u64(c, 40), 0u);
    EXPECT_EQ(c.password, "pw");
    EXPECT_EQ(i32(c, 52), -1);  // encrypt
    EXPECT_EQ(i32(c, 56), 0);   // hidden
    EXPECT_EQ(i32(c, 68), -1);  // folder entries: AddSeparateDirs is off
    EXPECT_EQ(i32(c, 76), -1);  // verbose
    EXPECT_EQ(i32(c, 80), -1);
    EXPECT_EQ(i32(c, 84), 4);
    EXPECT_EQ(i32(c, 96), -1);  // drop folder names: AddDirNames is off
    EXPECT_EQ(c.record[100], 0xFF);
    EXPECT_EQ(c.record[101], 0xFF);
    EXPECT_EQ(i32(c, 104), -1);
    EXPECT_EQ(i32(c, 108), 0);
    EXPECT_EQ(i32(c, 112), -1);  // move
    EXPECT_EQ(i32(c, 116), 0);   // delete
    EXPECT_EQ(i32(c, 120), -1);  // update
    EXPECT_EQ(i32(c, 124), 0);   // freshen loses to update
    EXPECT_EQ(i32(c, 132), -1);  // archive time
    EXPECT_EQ(i32(c, 144), 2);
    EXPECT_NE(u64(c, 152), 0u);
    EXPECT_EQ(c.archive, archive.toStdString());
    EXPECT_EQ(c.specs, (std::vector<std::string>{"/one/*.txt", "two"}));
    std::vector<std::pair<size_t, size_t>> fields = {{8, 8},   {16, 4},  {24, 8},  {40, 8},  {52, 4},
                                                     {68, 4},  {76, 4},  {80, 4},  {84, 4},  {96, 4},
                                                     {100, 2}, {104, 4}, {112, 4}, {120, 4}, {132, 4},
                                                     {144, 4}, {152, 8}};
    if (flat) {
      EXPECT_EQ(i32(c, 160), 7);
      EXPECT_NE(u64(c, 168), 0u);
      EXPECT_NE(u64(c, 176), 0u);
      EXPECT_EQ(u64(c, 184), 0u);
      fields.insert(fields.end(), {{160, 4}, {168, 16}});
    } else {
      EXPECT_NE(u64(c, 160), 0u);
      EXPECT_EQ(c.tempDir, "/tmp/somewhere");
      EXPECT_NE(u64(c, 176), 0u);
      EXPECT_EQ(i32(c, 252), 7);
      ASSERT_EQ(c.specRecords.size(), 2u);
      for (const auto &r : c.specRecords) {
        ASSERT_EQ(r.size(), 112u);
        for (size_t i = 8; i < r.size(); ++i) EXPECT_EQ(r[i], 0) << "spec byte " << i;
      }
      fields.insert(fields.end(), {{160, 8}, {176, 8}, {252, 4}});
    }
    expectZeroOutside(c, fields);
    // The password buffer holds 81 bytes, zero after the text.
    ASSERT_EQ(c.passwordBuffer.size(), 81u);
    EXPECT_EQ(std::set<unsigned char>(c.passwordBuffer.begin() + 2, c.passwordBuffer.end()), std::set<unsigned char>{0});
  }
}

TEST_F(Fixture, DeleteRecordClearsTheAddFields) {
  ASSERT_TRUE(zm.LoadZipEngine());
  zm.setZipFilename(archive);
  zm.setAddOptions(TZipMaster::AddEncrypt | TZipMaster::AddRecurseDirs | TZipMaster::AddFreshen |
                   TZipMaster::AddMove | TZipMaster::AddDirNames);
  zm.setFSpecArgs({"a.txt"});
  zm.DeleteFiles();
  const FakeCapture &c = lastCall(true);
  ASSERT_EQ(c.record.size(), 256u);
  EXPECT_EQ(i32(c, 116), -1);
  for (size_t off : {104, 96, 112, 124, 120, 52}) EXPECT_EQ(i32(c, off), 0) << off;
  EXPECT_EQ(c.record[100], 0);
  EXPECT_EQ(c.record[101], 0);
}

TEST_F(Fixture, UnzipRecordLayoutsForVersions151And152) {
  for (int version : {151, 152}) {
    SCOPED_TRACE(version);
    qputenv("TARNWICK_FAKE_VERSION", QByteArray::number(version));
    zm.UnloadUnzipEngine();
    ASSERT_TRUE(zm.LoadUnzipEngine());
    zm.setZipFilename(archive);
    zm.setPassword("secret");
    zm.setExtrOptions(TZipMaster::ExtrFreshen | TZipMaster::ExtrUpdate | TZipMaster::ExtrDirNames |
                      TZipMaster::ExtrTest);
    zm.setFSpecArgs({"*.*"});
    zm.ExtractFiles();
    EXPECT_EQ(zm.SuccessCount(), 7);
    const FakeCapture &c = lastCall(false);
    const bool flat = version == 151;
    ASSERT_EQ(c.record.size(), flat ? 32880u : 176u);
    EXPECT_EQ(u64(c, 8), reinterpret_cast<uint64_t>(&zm));
    EXPECT_EQ(i32(c, 16), 152);
    EXPECT_NE(u64(c, 24), 0u);
    EXPECT_EQ(c.password, "secret");
    EXPECT_EQ(i32(c, 48), -1);  // test
    EXPECT_EQ(i32(c, 60), -1);
    EXPECT_EQ(i32(c, 64), 0);   // verbose
    EXPECT_EQ(i32(c, 68), -1);  // update
    EXPECT_EQ(i32(c, 72), 0);   // freshen loses to update
    EXPECT_EQ(i32(c, 76), -1);  // folder names
    EXPECT_EQ(i32(c, 80), 0);   // overwrite
    EXPECT_EQ(i32(c, 84), 1);
    EXPECT_EQ(c.archive, archive.toStdString());
    EXPECT_EQ(c.specs, std::vector<std::string>{"*.*"});
    std::vector<std::pair<size_t, size_t>> fields = {{8, 8},  {16, 4}, {24, 8}, {40, 8}, {48, 4}, {60, 4},
                                                     {68, 4}, {76, 4}, {84, 4}, {88, 8}};
    if (flat) {
      EXPECT_EQ(i32(c, 96), 7);
      EXPECT_NE(u64(c, 104), 0u);
      fields.insert(fields.end(), {{96, 4}, {104, 8}});
    } else {
      EXPECT_NE(u64(c, 96), 0u);
      EXPECT_EQ(i32(c, 172), 7);
      ASSERT_EQ(c.specRecords.size(), 1u);
      EXPECT_EQ(c.specRecords[0].size(), 80u);
      fields.insert(fields.end(), {{96, 8}, {172, 4}});
    }
    expectZeroOutside(c, fields);
  }
}

TEST_F(Fixture, CallbackActionsBecomeSignalsAndState) {
  ASSERT_TRUE(zm.LoadUnzipEngine());
  zm.setZipFilename(archive);
  QSignalSpy progress(&zm, &TZipMaster::OnProgress);
  QSignalSpy messages(&zm, &TZipMaster::OnMessage);
  zm.ExtractFiles();
  ASSERT_EQ(progress.size(), 5);
  auto type = [&](int i) { return progress[i][0].value<TZipMaster::ProgressType>(); };
  EXPECT_EQ(type(0), TZipMaster::ProgressTotalMembers);
  EXPECT_EQ(progress[0][2].toLongLong(), 2);
  EXPECT_EQ(type(1), TZipMaster::ProgressTotalBytes);
  EXPECT_EQ(progress[1][2].toLongLong(), 5000000000LL);  // beyond the 32-bit field
  EXPECT_EQ(zm.TotalToProcess(), 5000000000LL);
  EXPECT_EQ(type(2), TZipMaster::ProgressNewMember);
  EXPECT_EQ(progress[2][1].toString(), "dir/name.txt");
  EXPECT_EQ(progress[2][2].toLongLong(), 10);
  EXPECT_EQ(type(3), TZipMaster::ProgressBytes);
  EXPECT_TRUE(progress[3][1].toString().isEmpty());
  EXPECT_EQ(type(4), TZipMaster::ProgressBatchEnd);
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0][0].toInt(), 0x1234);  // the engine's full code
  EXPECT_EQ(messages[0][1].toString(), "engine says");
  EXPECT_EQ(zm.ErrorCode(), 0x34);  // its low byte
  EXPECT_EQ(zm.LastMessage(), "engine says");
}

TEST_F(Fixture, CancelRequestedIsReturnedToTheEngine) {
  ASSERT_TRUE(zm.LoadUnzipEngine());
  zm.setZipFilename(archive);
  QObject::connect(&zm, &TZipMaster::OnProgress, &zm, [&](TZipMaster::ProgressType t, const QString &, qint64) {
    if (t == TZipMaster::ProgressNewMember) zm.setCancelRequested(true);
  });
  zm.ExtractFiles();
  EXPECT_EQ(zm.SuccessCount(), 0);  // the stand-in returns 0 when asked to stop
  EXPECT_FALSE(zm.CancelRequested());
  EXPECT_FALSE(zm.ExtractBusy());
}

TEST_F(Fixture, MissingEntryPointIsReportedAndNeverCalled) {
  zm.setDLLDirectory(qEnvironmentVariable("TARNWICK_BROKEN_ENGINE"));
  QSignalSpy messages(&zm, &TZipMaster::OnMessage);
  zm.setTrace(true);
  ASSERT_TRUE(zm.LoadZipEngine());
  ASSERT_EQ(messages.size(), 2);
  EXPECT_EQ(messages[0][1].toString(), "ZIP DLL Loaded");
  EXPECT_EQ(messages[1][1].toString(), "ZipDllExec function not found in ZIPDLL.DLL!");
  zm.setZipFilename(archive);
  zm.setFSpecArgs({"x"});
  zm.AddFiles();
  EXPECT_EQ(zm.SuccessCount(), 0);
  EXPECT_EQ(zm.ZipEngineVersion(), 152);
}
