#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include "browser/sizetexts.h"
#include "tests/common/testenv.h"

using namespace sizetexts;

namespace {
const QLocale C = QLocale::c();
constexpr quint64 MiB = 1024ull * 1024;

// df's "Avail" for the folder's volume in bytes; nothing when df cannot tell.
std::optional<quint64> dfAvailable(const QString &dir) {
  QProcess df;
  df.start("df", {"-B1", "--output=avail", dir});
  if (!df.waitForFinished(20000) || df.exitCode() != 0) return std::nullopt;
  const QList<QByteArray> lines = df.readAllStandardOutput().trimmed().split('\n');
  bool ok = false;
  const quint64 bytes = lines.value(1).trimmed().toULongLong(&ok);
  return ok ? std::optional<quint64>(bytes) : std::nullopt;
}

// The figure of a free-space text in gigabytes ("512.34 MB Disk Space Free", "67.01 GB Disk Space Free").
double textGigabytes(const QString &text) {
  const QStringList words = text.split(' ');
  const double value = words.value(0).toDouble();
  return words.value(1) == "MB" ? value / 1024.0 : value;
}
}

TEST(SizeText, BytesKilobytesAndTruncatedMegabytes) {
  EXPECT_EQ(SizeText(0, C), "0 Bytes");
  EXPECT_EQ(SizeText(512, C), "512 Bytes");
  EXPECT_EQ(SizeText(1023, C), "1023 Bytes");
  EXPECT_EQ(SizeText(1024, C), "1 KB");
  EXPECT_EQ(SizeText(2 * 1024 - 1, C), "1 KB");  // whole kilobytes only
  EXPECT_EQ(SizeText(1023999, C), "999 KB");       // KB 999
  EXPECT_EQ(SizeText(1024000, C), "0.97 MB");      // KB 1000: 0.9765625, truncated not rounded
  EXPECT_EQ(SizeText(1048575, C), "0.99 MB");      // KB 1023: 0.9990234375
  EXPECT_EQ(SizeText(1048576, C), "1 MB");
  EXPECT_EQ(SizeText(1572864, C), "1.5 MB");       // no padding to two decimals
  EXPECT_EQ(SizeText(3145728, C), "3 MB");         // a whole number shows without decimals
  EXPECT_EQ(SizeText(-5, C), "0 Bytes");
}

TEST(SizeText, TotalsAboveTheThirtyTwoBitRangeStayExact) {
  EXPECT_EQ(SizeText(qint64(2) * 1024 * MiB, C), "2048 MB");
  EXPECT_EQ(SizeText(qint64(5) * 1024 * MiB, C), "5120 MB");
  EXPECT_EQ(SizeText(qint64(4) * 1024 * MiB + 1572864, C), "4097.5 MB");
  // 20 GB plus 1023 KB: beyond single precision's exact range, the digits still come out right.
  EXPECT_EQ(SizeText(qint64(20) * 1024 * MiB + 1023 * 1024, C), "20480.99 MB");
}

TEST(SizeText, UsesTheLocalesDecimalSeparatorWithoutGrouping) {
  const QLocale de(QLocale::German, QLocale::Germany);
  EXPECT_EQ(SizeText(1572864, de), "1,5 MB");
  EXPECT_EQ(SizeText(1048575, de), "0,99 MB");
  EXPECT_EQ(SizeText(qint64(2000) * MiB + 1024 * 1000, de), "2000,97 MB");
}

TEST(DiskSpaceText, OptionOnSwitchesToGigabytesAtOneMillionKilobytes) {
  // Just below 1,000,000 KB: megabytes, rounded to two decimals.
  EXPECT_EQ(DiskSpaceText(1023999999ull, C), "976.56 MB Disk Space Free");
  EXPECT_EQ(DiskSpaceText(500 * MiB, C), "500.00 MB Disk Space Free");
  // At 1,000,000 KB: the extended text, whole megabytes (976) in gigabytes.
  EXPECT_EQ(DiskSpaceText(1024000000ull, C), "0.95 GB Disk Space Free");
  EXPECT_EQ(DiskSpaceText(12349 * MiB + 524288, C), "12.06 GB Disk Space Free");
  EXPECT_EQ(DiskSpaceText(5 * 1024 * MiB, C), "5.00 GB Disk Space Free");
  EXPECT_EQ(DiskSpaceText(3ull * 1024 * 1024 * MiB, C), "3072.00 GB Disk Space Free");
  EXPECT_EQ(DiskSpaceText(std::nullopt, C), "0.00 GB Disk Space Free");
}

TEST(FolderSizes, CountsOnlyFilesThatExistAmongTheListedNames) {
  const QString dir = testenv::makeDir("sizes");
  testenv::writeFile(dir + "/a.txt", QByteArray(100, 'a'));
  testenv::writeFile(dir + "/b.txt", QByteArray());
  testenv::writeFile(dir + "/c.dat", QByteArray(2000, 'c'));
  testenv::writeFile(dir + "/.hidden.txt", QByteArray(7, 'h'));
  QDir(dir).mkdir("sub");
  testenv::writeFile(dir + "/sub/inner.txt", QByteArray(5000, 'i'));

  EXPECT_EQ(ListedFilesTotal(dir, {"a.txt", "b.txt", "sub", "gone.txt"}), 100);
  EXPECT_EQ(GetTheFileSize(dir, {}, C), "0 Bytes");
  EXPECT_EQ(GetTheFileSize(dir, {"sub"}, C), "0 Bytes");  // folders never count
  EXPECT_EQ(GetTheFileSize(dir, {"a.txt", "c.dat"}, C), "2 KB");

  EXPECT_EQ(FolderFilesTotal(dir, "*", false), 2100);
  EXPECT_EQ(FolderFilesTotal(dir, "", true), 2107);
  EXPECT_EQ(FolderFilesTotal(dir, "*.txt", false), 100);
  EXPECT_EQ(FolderFilesTotal(dir, "*.txt", true), 107);
  EXPECT_EQ(FolderFilesTotal(dir, "*.txt;*.dat", false), 2100);
  EXPECT_EQ(GetTheFileSizeMasked(dir, "*.zip", false, C), "0 Bytes");
}

TEST(FolderSizes, FilesLargerThanFourGigabytesAreAddedIn64Bits) {
  const QString dir = testenv::makeDir("big");
  QFile big(dir + "/sparse.bin");
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  if (!big.resize(qint64(5) * 1024 * MiB))
    GTEST_SKIP() << "no sparse files here";
  big.close();
  testenv::writeFile(dir + "/small.txt", QByteArray(1024 * 1024, 's'));
  EXPECT_EQ(ListedFilesTotal(dir, {"sparse.bin", "small.txt"}), qint64(5) * 1024 * MiB + MiB);
  EXPECT_EQ(GetTheFileSize(dir, {"sparse.bin", "small.txt"}, C), "5121 MB");
}

// The free space is the figure df shows as available (and every other file manager with it), not the free
// blocks that include those the file system keeps for its administrator: on a large ext4 volume these can
// be most of the free blocks. On a volume that keeps none the two agree and this cannot tell them apart.
TEST(FreeSpace, IsWhatDfShowsAsAvailable) {
  const QString dir = testenv::makeDir("vol");
  const auto before = dfAvailable(dir);
  if (!before) GTEST_SKIP() << "df gives no available space for " << dir.toStdString();
  const auto got = VolumeFreeBytes(dir);
  const QString text = GetTheDiskSize(dir, C);
  const auto after = dfAvailable(dir);
  ASSERT_TRUE(got.has_value());
  ASSERT_TRUE(after.has_value());
  // Other processes write meanwhile.
  const quint64 low = std::min(*before, *after) - std::min(std::min(*before, *after), 64 * MiB);
  const quint64 high = std::max(*before, *after) + 64 * MiB;
  EXPECT_GE(*got, low);
  EXPECT_LE(*got, high);
  const double gb = textGigabytes(text);
  EXPECT_GE(gb, double(low) / (1024.0 * MiB) - 0.01) << text.toStdString();
  EXPECT_LE(gb, double(high) / (1024.0 * MiB) + 0.01) << text.toStdString();
  EXPECT_FALSE(VolumeFreeBytes(dir + "/does/not/exist").has_value());
}
