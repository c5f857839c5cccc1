// The LIST parser: hand-written Unix and DOS lines, short and malformed lines, and real listings
// produced by pyftpdlib and vsftpd for a folder with awkward names, a link and a file above 4 GB.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "windows/ftp/ftpcli.h"
#include "windows/ftp/ftplistparser.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptestutil.h"

namespace {

TFtpDirEntry parse(const QString &line, bool &unixListing)
{
    TFtpDirEntry e;
    EXPECT_TRUE(ParseDirEntry(line, unixListing, e)) << line.toStdString();
    return e;
}

// A DOS line with the fields at their fixed columns (1-based: date 1-8, time 11-17, size ending at
// 38, name from 40).
QString dosLine(const QString &date, const QString &time, const QString &sizeOrDir, const QString &name)
{
    QString l = date.leftJustified(10, QLatin1Char(' ')) + time.leftJustified(7, QLatin1Char(' '));
    l = l.leftJustified(29, QLatin1Char(' ')) + sizeOrDir.rightJustified(9, QLatin1Char(' '));
    return l + QLatin1Char(' ') + name;
}

} // namespace

TEST(ListParser, UnixLinesFilesDirectoriesAndLinks)
{
    bool unixListing = false;
    TFtpDirEntry d = parse(QStringLiteral("drwxr-xr-x   2 user     group         512 Jan  1 12:00 pub"), unixListing);
    EXPECT_TRUE(unixListing);
    EXPECT_TRUE(d.directory);
    EXPECT_EQ(d.name, QStringLiteral("pub"));

    // However many blanks separate the fields, the date has single blanks; inner blanks of the
    // name are kept.
    TFtpDirEntry f = parse(QStringLiteral("-rw-r--r--    1 user  group     1234   Feb   10    1999 read me.txt"), unixListing);
    EXPECT_FALSE(f.directory);
    EXPECT_EQ(f.name, QStringLiteral("read me.txt"));
    EXPECT_EQ(f.size, QStringLiteral("1234"));
    EXPECT_EQ(f.date, QStringLiteral("Feb 10 1999"));

    // Names with leading blanks and a size beyond 32 bits.
    f = parse(QStringLiteral("-rw-r--r-- 1 u g 5368709120 Mar 3 09:15   two  blanks "), unixListing);
    EXPECT_EQ(f.size, QStringLiteral("5368709120"));
    EXPECT_EQ(f.name, QStringLiteral("two  blanks "));
    EXPECT_EQ(f.date, QStringLiteral("Mar 3 09:15"));

    // A link without a dot is a directory named before the arrow; with a dot it is a file whose
    // name is the whole text.
    TFtpDirEntry l = parse(QStringLiteral("lrwxrwxrwx   1 root     root            7 Jan  1 12:00 bin -> usr/bin"), unixListing);
    EXPECT_TRUE(l.directory);
    EXPECT_EQ(l.name, QStringLiteral("bin"));
    l = parse(QStringLiteral("lrwxrwxrwx   1 root     root            8 Jan  1 12:00 lib.so -> lib.so.1"), unixListing);
    EXPECT_FALSE(l.directory);
    EXPECT_EQ(l.name, QStringLiteral("lib.so -> lib.so.1"));
    // A directory whose own name holds " ->" further on is cut there too, as links are.
    d = parse(QStringLiteral("drwxr-xr-x 2 u g 512 Jan 1 12:00 a -> b"), unixListing);
    EXPECT_EQ(d.name, QStringLiteral("a"));
}

TEST(ListParser, DosLinesAndTheSwitchToUnix)
{
    bool unixListing = false;  // as after a SYST reply naming Windows_NT
    const QString line = dosLine(QStringLiteral("01-05-99"), QStringLiteral("10:30AM"), QStringLiteral("1234"),
                                 QStringLiteral("file.txt"));
    ASSERT_EQ(line.indexOf(QStringLiteral("1234")) + 4, 38);
    TFtpDirEntry e = parse(line, unixListing);
    EXPECT_FALSE(unixListing);
    EXPECT_FALSE(e.directory);
    EXPECT_EQ(e.name, QStringLiteral("file.txt"));
    EXPECT_EQ(e.size, QStringLiteral("     1234"));
    EXPECT_EQ(e.date, QStringLiteral("01-05-99 10:30AM"));

    e = parse(dosLine(QStringLiteral("12-31-03"), QStringLiteral("11:59PM"), QStringLiteral("<DIR>"),
                      QStringLiteral("My Documents")),
              unixListing);
    EXPECT_TRUE(e.directory);
    EXPECT_EQ(e.name, QStringLiteral("My Documents"));
    EXPECT_FALSE(unixListing);

    // "<DIR>" ending at position 29 puts a non-blank there: the line and every later line of the
    // listing are read in the Unix layout.
    const QString odd = QStringLiteral("01-05-99  10:30AM       <DIR>          sub");
    ASSERT_EQ(odd.indexOf(QStringLiteral("<DIR>")) + 5, 29);
    // Its four fields leave no name in that layout: nothing is added.
    EXPECT_FALSE(ParseDirEntry(odd, unixListing, e));
    EXPECT_TRUE(unixListing);
    // Read in the Unix layout, the DOS line has too few fields for a name: nothing is added.
    EXPECT_FALSE(ParseDirEntry(line, unixListing, e));
    EXPECT_TRUE(unixListing);
}

TEST(ListParser, ShortAndMalformedLinesStayInsideTheLine)
{
    bool unixListing = false;
    // Lines below 20 characters are skipped by the listing reader.
    const auto entries = ParseDirLines({QStringLiteral("total 12"), QString(), QStringLiteral("x")}, unixListing);
    EXPECT_TRUE(entries.empty());

    TFtpDirEntry e;
    // Fewer fields than the layout needs: no name, nothing added, nothing read past the end.
    unixListing = false;
    EXPECT_FALSE(ParseDirEntry(QStringLiteral("-rw-r--r-- 1 user group 12"), unixListing, e));
    EXPECT_EQ(e.size, QStringLiteral("12"));
    EXPECT_EQ(e.date, QString());
    unixListing = false;
    EXPECT_FALSE(ParseDirEntry(QStringLiteral("drwx 1 u g 5 Jan 2 2001"), unixListing, e));
    unixListing = false;
    EXPECT_FALSE(ParseDirEntry(QString(), unixListing, e));
    // Only blanks.
    unixListing = false;
    EXPECT_FALSE(ParseDirEntry(QString(45, QLatin1Char(' ')), unixListing, e));
    // A short line that is not DOS-shaped (DOS lines hold their name from column 40) is read in the
    // Unix layout.
    unixListing = false;
    EXPECT_TRUE(ParseDirEntry(QStringLiteral("prw-r--r-- 1 u g 0 Jan 1 2000 fifo"), unixListing, e));
    EXPECT_TRUE(unixListing);
    EXPECT_EQ(e.name, QStringLiteral("fifo"));
    // Tabs between the fields count as blanks.
    EXPECT_TRUE(ParseDirEntry(QStringLiteral("-rw-r--r--\t1\tu\tg\t77\tJan\t1\t2000\ttabbed"), unixListing, e));
    EXPECT_EQ(e.size, QStringLiteral("77"));
    EXPECT_EQ(e.name, QStringLiteral("tabbed"));
}

TEST(ListParser, ListingFileWithCrLfAndLatin1Names)
{
    const QString dir = testenv::makeDir(QStringLiteral("listing"));
    QByteArray data = "total 3\r\n"
                      "drwxr-xr-x   2 u g  4096 Jan  1 12:00 sub dir\r\n"
                      "-rw-r--r--   1 u g    10 Jan  1  2020 caf\xe9.txt\r\n"
                      "-rw-r--r--   1 u g    11 Jan  1  2020 \xc3\xa9t\xc3\xa9.txt\n";
    const QString path = testenv::writeFile(dir + QStringLiteral("/ftpdir.txt"), data);
    QStringList lines;
    ASSERT_TRUE(ReadListingFile(path, lines));
    bool unixListing = false;
    const auto entries = ParseDirLines(lines, unixListing);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, QStringLiteral("sub dir"));
    EXPECT_EQ(entries[1].name, QStringLiteral("caf\u00e9.txt"));
    EXPECT_EQ(entries[2].name, QStringLiteral("\u00e9t\u00e9.txt"));
    EXPECT_FALSE(ReadListingFile(dir + QStringLiteral("/missing"), lines));
}

// Real listings: both servers list a folder with a blank-holding name, a link, a sub-folder with
// a blank and a sparse file above 4 GB; the parser must find each of them.
class RealListing : public ::testing::TestWithParam<ftptest::Server::Kind> {};

TEST_P(RealListing, ServerListingParses)
{
    const QString root = testenv::makeDir(QStringLiteral("root"));
    testenv::writeFile(root + QStringLiteral("/read me.txt"), "hello");
    testenv::writeFile(root + QStringLiteral("/plain.bin"), QByteArray(1234, 'x'));
    QDir(root).mkdir(QStringLiteral("sub folder"));
    QDir(root).mkdir(QStringLiteral("pub"));
    {
        QFile big(root + QStringLiteral("/huge.iso"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(qint64(5) * 1024 * 1024 * 1024));  // sparse
    }
    QFile::link(QStringLiteral("plain.bin"), root + QStringLiteral("/link.bin"));

    ftptest::Server server(GetParam(), root);
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    TFtpClient cli;
    cli.setHostName(QStringLiteral("127.0.0.1"));
    cli.setPort(QString::number(server.port()));
    cli.setUserName(server.user());
    cli.setPassWord(server.password());
    cli.setTimeout(20);
    ASSERT_TRUE(cli.Connect()) << cli.ErrorMessage().toStdString();
    const QString out = testenv::makeDir(QStringLiteral("out")) + QStringLiteral("/ftpdir.txt");
    cli.setLocalFileName(out);
    cli.setBinary(false);
    ASSERT_TRUE(cli.TypeSet());
    ASSERT_TRUE(cli.Dir()) << cli.ErrorMessage().toStdString();
    cli.Quit();

    QStringList lines;
    ASSERT_TRUE(ReadListingFile(out, lines));
    bool unixListing = false;
    const auto entries = ParseDirLines(lines, unixListing);
    EXPECT_TRUE(unixListing);
    auto find = [&](const QString &name) -> const TFtpDirEntry * {
        for (const auto &e : entries)
            if (e.name == name)
                return &e;
        return nullptr;
    };
    const QString all = lines.join(QLatin1Char('\n'));
    const TFtpDirEntry *e = find(QStringLiteral("read me.txt"));
    ASSERT_TRUE(e) << all.toStdString();
    EXPECT_FALSE(e->directory);
    EXPECT_EQ(e->size, QStringLiteral("5"));
    EXPECT_EQ(e->date.count(QLatin1Char(' ')), 2) << e->date.toStdString();
    e = find(QStringLiteral("huge.iso"));
    ASSERT_TRUE(e) << all.toStdString();
    EXPECT_EQ(e->size, QStringLiteral("5368709120"));
    e = find(QStringLiteral("sub folder"));
    ASSERT_TRUE(e) << all.toStdString();
    EXPECT_TRUE(e->directory);
    ASSERT_TRUE(find(QStringLiteral("pub")));
    EXPECT_TRUE(find(QStringLiteral("pub"))->directory);
    // The link: shown by the server either as the file it points to or as "link.bin -> plain.bin";
    // either way a file (its name has a dot), never a directory.
    const TFtpDirEntry *link = find(QStringLiteral("link.bin"));
    if (!link)
        link = find(QStringLiteral("link.bin -> plain.bin"));
    ASSERT_TRUE(link) << all.toStdString();
    EXPECT_FALSE(link->directory);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealListing,
                         ::testing::Values(ftptest::Server::PyFtpd, ftptest::Server::Vsftpd),
                         [](const ::testing::TestParamInfo<ftptest::Server::Kind> &i) {
                             return i.param == ftptest::Server::PyFtpd ? std::string("pyftpdlib") : std::string("vsftpd");
                         });
