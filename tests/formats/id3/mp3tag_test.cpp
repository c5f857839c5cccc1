// The ID3v1 codec against files made and tagged by other programs (lame, id3v2, eyeD3) and read back by
// them and by python's mutagen; the audio in front of the record is compared byte for byte after each write.
#include "formats/id3/mp3tag.h"
#include "tests/common/testenv.h"
#include "tests/formats/id3/mp3fuzzone.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString run(const QString &program, const QStringList &args, int *exitCode = nullptr) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PYTHONIOENCODING", "utf-8");
  p.setProcessEnvironment(env);
  p.start(program, args);
  p.waitForFinished(60000);
  if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromLocal8Bit(p.readAll());
}

bool have(const QString &tool) { return !QStandardPaths::findExecutable(tool).isEmpty(); }

// Debian's python, which carries python3-mutagen (another python may come first on PATH).
QString python() { return QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3"); }

// mutagen's reading of the file's ID3v1 record: "KEY=value" lines.
QString mutagenV1(const QString &file) {
  return run(python(), {"-c",
                        "import sys, mutagen.id3 as m\n"
                        "d = open(sys.argv[1], 'rb').read()[-128:]\n"
                        "f = m.ParseID3v1(d)\n"
                        "print('none' if f is None else '\\n'.join(sorted(k + '=' + str(v) for k, v in f.items())))\n",
                        file});
}

class Mp3Tag : public ::testing::Test {
 protected:
  static QByteArray audio;  // a short MP3 stream made by lame, no tag
  static void SetUpTestSuite() {
    if (!have("sox") || !have("lame")) return;
    const QString dir = testenv::makeDir("mp3src");
    run("sox", {"-n", "-r", "22050", "-c", "1", dir + "/a.wav", "synth", "0.3", "sine", "440"});
    run("lame", {"--silent", "-b", "32", dir + "/a.wav", dir + "/a.mp3"});
    audio = testenv::readFile(dir + "/a.mp3");
  }
  void SetUp() override {
    if (audio.size() < 1000) GTEST_SKIP() << "sox and lame are needed to make MP3 files";
    dir = testenv::makeDir("mp3");
  }
  QString file(const QString &name, const QByteArray &bytes) { return testenv::writeFile(dir + "/" + name, bytes); }
  QString dir;
};
QByteArray Mp3Tag::audio;

QByteArray record(const QByteArray &title, const QByteArray &artist, const QByteArray &album, const QByteArray &year,
                  const QByteArray &comment, quint8 genre) {
  QByteArray b(128, '\0');
  b.replace(0, 3, "TAG");
  b.replace(3, title.size(), title);
  b.replace(33, artist.size(), artist);
  b.replace(63, album.size(), album);
  b.replace(93, year.size(), year);
  b.replace(97, comment.size(), comment);
  b[127] = char(genre);
  return b;
}

TEST_F(Mp3Tag, ReadsWhatOtherToolsWrote) {
  if (!have("id3v2") || !have("eyeD3")) GTEST_SKIP() << "id3v2 and eyeD3 are needed";
  const QString a = file("a.mp3", audio);
  run("id3v2", {"-1", "-t", "A Title", "-a", "An Artist", "-A", "An Album", "-y", "1999", "-c", "A comment", "-g", "17", a});
  TMP3Tag t;
  t.setFilename(a);
  EXPECT_TRUE(t.Valid());
  EXPECT_EQ(t.Title(), "A Title");
  EXPECT_EQ(t.Artist(), "An Artist");
  EXPECT_EQ(t.Album(), "An Album");
  EXPECT_EQ(t.Year(), "1999");
  EXPECT_EQ(t.Comment(), "A comment");
  EXPECT_EQ(t.GenreID(), 17);
  EXPECT_EQ(mp3tag::genreName(t.GenreID()), "Rock");

  // eyeD3 puts an ID3v2 tag at the front and the ID3v1 record at the end, 30-character fields full.
  const QString b = file("b.mp3", audio);
  run("eyeD3", {"--quiet", "--to-v2.3", "-t", "Twenty-nine characters long!!", "-a", "Artiste", b});
  run("eyeD3", {"--quiet", "--to-v1.1", "-t", "Exactly thirty characters here", "-a", "Artiste", "-G", "Jazz", b});
  t.setFilename(b);
  EXPECT_TRUE(t.Valid());
  EXPECT_EQ(t.Title(), "Exactly thirty characters here");
  EXPECT_EQ(t.Artist(), "Artiste");
  EXPECT_EQ(t.GenreID(), 8);
}

TEST_F(Mp3Tag, ReadingRulesAndErrors) {
  TMP3Tag t;
  QSignalSpy errors(&t, &TMP3Tag::onError);
  QSignalSpy named(&t, &TMP3Tag::onFileNameChange);

  t.setFilename(dir + "/missing.mp3");
  EXPECT_FALSE(t.Valid());
  EXPECT_EQ(t.Error(), "File does not exist!");
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors.at(0).at(1).toString(), "File does not exist!");
  EXPECT_EQ(named.size(), 1);

  // 128 bytes or less is too small, even when the bytes are a whole record.
  for (int size : {0, 3, 127, 128}) {
    const QByteArray bytes = record("T", "", "", "", "", 1).left(size);
    t.setFilename(file("small.mp3", bytes));
    EXPECT_FALSE(t.Valid()) << size;
    EXPECT_EQ(t.Error(), "File too small to be a MP3 file!") << size;
    EXPECT_EQ(t.Title(), "") << size;
  }

  // No tag: the title is the file's name cut to 30 characters, genre Other; "tag" in lower case is no tag.
  const QString longName = "a file name longer than thirty characters.mp3";
  t.setFilename(file(longName, audio + "tag" + QByteArray(125, 'x')));
  EXPECT_FALSE(t.Valid());
  EXPECT_EQ(t.Error(), "MP3 does not contain a mp3 tag or wrong file format!");
  EXPECT_EQ(t.Title(), longName.left(30));
  EXPECT_EQ(t.Identifier(), "TAG");
  EXPECT_EQ(t.Artist(), "");
  EXPECT_EQ(t.GenreID(), 12);
  const qsizetype errorsSoFar = errors.size();

  // Trailing blanks are cut, zero bytes are kept (the shown text stops at the first one); a successful read
  // leaves the last error standing and raises no error.
  t.setFilename(file("fields.mp3", audio + record("Song" + QByteArray(26, ' '), QByteArray("Song\0\0\0xyz", 10), "  Lead",
                                                   "99  ", QByteArray("Com  \0  ", 8), 255)));
  EXPECT_TRUE(t.Valid());
  EXPECT_EQ(errors.size(), errorsSoFar);
  EXPECT_EQ(t.Error(), "MP3 does not contain a mp3 tag or wrong file format!");
  EXPECT_EQ(t.record().title, "Song");
  EXPECT_EQ(t.record().artist, QByteArray("Song\0\0\0xyz", 10) + QByteArray(20, '\0'));
  EXPECT_EQ(t.Artist(), "Song");
  EXPECT_EQ(t.Album(), "  Lead");
  EXPECT_EQ(t.Year(), "99");
  EXPECT_EQ(t.record().comment, QByteArray("Com  \0  ", 8) + QByteArray(22, '\0'));
  EXPECT_EQ(t.GenreID(), 255);
  EXPECT_EQ(mp3tag::genreName(255), "");
  EXPECT_EQ(mp3tag::genreName(116), "");

  // Latin-1 text, as other readers take it.
  t.setFilename(file("latin.mp3", audio + record("Caf\xe9 Cr\xe8me", "", "", "", "", 0)));
  EXPECT_EQ(t.Title(), QString::fromUtf8("Café Crème"));
}

TEST_F(Mp3Tag, WritesAreReadByOtherToolsAndKeepEveryByteInFront) {
  if (!have("id3v2")) GTEST_SKIP() << "id3v2 is needed";
  const QString a = file("a.mp3", audio);
  TMP3Tag t;
  t.setFilename(a);
  ASSERT_FALSE(t.Valid());
  t.setTitle("A title that is much longer than thirty characters");
  t.setArtist(QString::fromUtf8("Björk"));
  t.setAlbum("Album");
  t.setYear("20245");
  t.setComment("Comment");
  t.setGenreID(84);
  ASSERT_TRUE(t.WriteTag()) << t.Error().toStdString();
  EXPECT_EQ(t.Error(), "");
  QByteArray bytes = testenv::readFile(a);
  ASSERT_EQ(bytes.size(), audio.size() + 128);
  EXPECT_EQ(bytes.left(audio.size()), audio);
  const QByteArray rec = bytes.right(128);
  EXPECT_EQ(rec.mid(3, 30), "A title that is much longer th");
  EXPECT_EQ(rec.mid(33, 30), QByteArray("Bj\xf6rk") + QByteArray(25, '\0'));  // zero bytes after, no blanks
  EXPECT_EQ(rec.mid(93, 4), "2024");

  const QString listed = run("id3v2", {"-l", a});
  EXPECT_TRUE(listed.contains("Title  : A title that is much longer th")) << listed.toStdString();
  EXPECT_TRUE(listed.contains("Year: 2024")) << listed.toStdString();
  if (QFile::exists("/usr/bin/python3")) {
    const QString m = mutagenV1(a);
    EXPECT_TRUE(m.contains("TPE1=Bj\u00f6rk")) << m.toStdString();
    EXPECT_TRUE(m.contains("TALB=Album")) << m.toStdString();
    EXPECT_TRUE(m.contains("COMM=Comment")) << m.toStdString();
    EXPECT_TRUE(m.contains("TCON=84")) << m.toStdString();
  }

  // A second save rewrites the record in place: the file grows by 128 bytes only once.
  t.setTitle("Second");
  ASSERT_TRUE(t.WriteTag());
  bytes = testenv::readFile(a);
  EXPECT_EQ(bytes.size(), audio.size() + 128);
  EXPECT_EQ(bytes.left(audio.size()), audio);
  TMP3Tag back;
  back.setFilename(a);
  EXPECT_EQ(back.Title(), "Second");
  EXPECT_EQ(back.Artist(), QString::fromUtf8("Björk"));

  // An ID3v2 tag in front and an APE tag between the audio and the record stay as they were.
  QByteArray id3v2("ID3\x03\x00\x00\x00\x00\x00\x0a", 10);
  id3v2 += QByteArray("\0\0\0\0\0\0\0\0\0\0", 10);
  QByteArray ape = "APETAGEX" + QByteArray(24, '\x01');
  const QString c = file("c.mp3", id3v2 + audio + ape + record("Old", "", "", "", "", 3));
  const QByteArray front = id3v2 + audio + ape;
  t.setFilename(c);
  ASSERT_TRUE(t.Valid());
  t.setTitle("New");
  ASSERT_TRUE(t.WriteTag());
  bytes = testenv::readFile(c);
  EXPECT_EQ(bytes.left(front.size()), front);
  EXPECT_EQ(bytes.size(), front.size() + 128);
  t.RemoveTag();
  EXPECT_EQ(testenv::readFile(c), front);
  // Without a record, a new one goes behind the APE tag.
  t.setTitle("Again");
  ASSERT_TRUE(t.WriteTag());
  bytes = testenv::readFile(c);
  EXPECT_EQ(bytes.left(front.size()), front);
  EXPECT_EQ(bytes.mid(front.size() + 3, 5), "Again");
}

TEST_F(Mp3Tag, RemovingCutsOnlyTheRecord) {
  if (!have("id3v2")) GTEST_SKIP() << "id3v2 is needed";
  const QString a = file("remove me.mp3", audio);
  run("id3v2", {"-1", "-t", "Gone", "-a", "Soon", a});
  ASSERT_EQ(QFile(a).size(), audio.size() + 128);
  TMP3Tag t;
  QSignalSpy errors(&t, &TMP3Tag::onError);
  t.setFilename(a);
  ASSERT_TRUE(t.Valid());
  t.RemoveTag();
  EXPECT_EQ(testenv::readFile(a), audio);
  EXPECT_FALSE(t.Valid());
  EXPECT_EQ(t.Error(), "MP3 does not contain a mp3 tag or wrong file format!");
  EXPECT_EQ(t.Title(), "remove me.mp3");
  EXPECT_EQ(errors.size(), 1);
  EXPECT_FALSE(run("id3v2", {"-l", a}).contains("id3v1 tag info")) << run("id3v2", {"-l", a}).toStdString();
  // Nothing more to remove: the audio stays whole.
  t.RemoveTag();
  EXPECT_EQ(testenv::readFile(a), audio);
}

// The comment's track number (ID3v1.1) is the last byte of a comment whose byte before it is zero.
TEST_F(Mp3Tag, TrackNumberSurvivesACommentEdit) {
  if (!have("id3v2")) GTEST_SKIP() << "id3v2 is needed";
  const QString a = file("a.mp3", audio);
  run("id3v2", {"-1", "-t", "T", "-c", "Old comment", "-T", "7", a});
  TMP3Tag t;
  t.setFilename(a);
  ASSERT_TRUE(t.Valid());
  t.setComment("New comment");
  ASSERT_TRUE(t.WriteTag());
  EXPECT_TRUE(run("id3v2", {"-l", a}).contains("Track: 7")) << run("id3v2", {"-l", a}).toStdString();
  // A comment that needs the last two bytes takes them: the track number goes.
  t.setComment("A comment of twenty-nine chars");
  ASSERT_TRUE(t.WriteTag());
  t.setFilename(a);
  EXPECT_EQ(t.Comment(), "A comment of twenty-nine chars");
}

TEST_F(Mp3Tag, FailedWritesLeaveTheFileAsItWas) {
  TMP3Tag t;
  QSignalSpy errors(&t, &TMP3Tag::onError);
  t.setFilename(dir + "/missing.mp3");
  errors.clear();
  EXPECT_FALSE(t.WriteTag());
  EXPECT_EQ(t.Error(), "File does not exist!");
  EXPECT_EQ(errors.size(), 1);
  EXPECT_FALSE(QFile::exists(dir + "/missing.mp3"));

  // A file of 128 bytes or less: a record there could never be read back, so nothing is written.
  for (int size : {0, 100, 128}) {
    const QByteArray small = record("Small", "", "", "", "", 1).left(size);
    const QString s = file("small.mp3", small);
    t.setFilename(s);
    t.setTitle("Other");
    errors.clear();
    EXPECT_FALSE(t.WriteTag()) << size;
    EXPECT_EQ(t.Error(), "File too small to be a MP3 file!");
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(testenv::readFile(s), small) << size;
  }

  // A disk that fills up while the copy with the record is written: the file is untouched, no copy is left.
  const QString a = file("a.mp3", audio);
  t.setFilename(a);
  {
    testenv::DiskFullAbove full(audio.size() + 64);
    if (full.ok()) {
      errors.clear();
      EXPECT_FALSE(t.WriteTag());
      EXPECT_EQ(errors.size(), 1);
      EXPECT_TRUE(t.Error().startsWith("Cannot write the tag to")) << t.Error().toStdString();
    }
  }
  EXPECT_EQ(testenv::readFile(a), audio);
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);  // small.mp3 and a.mp3 only

  // A symbolic link stays a link; the file it names gets the record.
  QFile::link(a, dir + "/link.mp3");
  t.setFilename(dir + "/link.mp3");
  t.setTitle("Through a link");
  ASSERT_TRUE(t.WriteTag()) << t.Error().toStdString();
  EXPECT_TRUE(QFileInfo(dir + "/link.mp3").isSymLink());
  EXPECT_EQ(testenv::readFile(a).mid(audio.size() + 3, 14), "Through a link");
  QFile::remove(dir + "/link.mp3");

  // The file's permissions survive the copy.
  const QString p = file("perm.mp3", audio);
  QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  t.setFilename(p);
  ASSERT_TRUE(t.WriteTag());
  EXPECT_EQ(QFile::permissions(p) & 0x0fff, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
}

// Genre numbers are the ones every other ID3v1 tool reads: the list is id3v2's from Blues (0) to Folklore
// (115), two names in their older spelling; a genre written here reads by the same name in eyeD3 and
// mutagen (in its own spelling), and one they write reads here by its name.
TEST_F(Mp3Tag, GenresReadTheSameInOtherToolsBothWays) {
  const QStringList &ours = mp3tag::genreNames();
  ASSERT_EQ(ours.size(), 116);
  EXPECT_EQ(ours.at(12), "Other");
  EXPECT_EQ(ours.at(84), "Fast Fusion");
  EXPECT_EQ(ours.at(85), "Bebob");
  EXPECT_EQ(ours.at(86), "Latin");
  EXPECT_EQ(ours.at(114), "Samba");
  EXPECT_EQ(ours.at(115), "Folklore");
  if (!have("id3v2") || !have("eyeD3")) GTEST_SKIP() << "id3v2 and eyeD3 are needed";
  QStringList theirs;
  for (const QString &line : run("id3v2", {"-L"}).split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) theirs << line.mid(colon + 2).trimmed();
  }
  ASSERT_GT(theirs.size(), 116);
  for (int i = 0; i < 116; ++i) {
    const QString expected = i == 67 ? QStringLiteral("Psychadelic") : i == 81 ? QStringLiteral("Folk/Rock") : theirs.at(i);
    EXPECT_EQ(ours.at(i), expected) << i;
  }
  // mutagen spells two of them its own way.
  const QHash<QString, QString> mutagenName = {{"Fast Fusion", "Fast-Fusion"}, {"Bebob", "Bebop"}};
  for (const QString name : {"Fast Fusion", "Bebob", "Latin", "Revival", "Tango", "Samba", "Folklore"}) {
    SCOPED_TRACE(name.toStdString());
    const int id = int(ours.indexOf(name));
    ASSERT_GE(id, 0);
    // Written here, read there.
    const QString a = file("ours.mp3", audio);
    TMP3Tag t;
    t.setFilename(a);
    t.setGenreID(quint8(id));
    ASSERT_TRUE(t.WriteTag()) << t.Error().toStdString();
    const QString eyed3 = run("eyeD3", {"--v1", a});
    EXPECT_TRUE(eyed3.contains(QStringLiteral("genre: %1 (id %2)").arg(name).arg(id))) << eyed3.toStdString();
    const QString m = run(python(), {"-c",
                                     "import sys, mutagen.id3 as m\n"
                                     "print(m.ParseID3v1(open(sys.argv[1], 'rb').read()[-128:])['TCON'].genres[0])\n",
                                     a}).trimmed();
    EXPECT_EQ(m, mutagenName.value(name, name));
    // Written there, read here.
    const QString b = file("eyed3.mp3", audio);
    run("eyeD3", {"--quiet", "--to-v1.1", "-G", name, b});
    t.setFilename(b);
    ASSERT_TRUE(t.Valid()) << name.toStdString();
    EXPECT_EQ(mp3tag::genreName(t.GenreID()), name);
    const QString c = file("mutagen.mp3", audio);
    run(python(), {"-c",
                   "import sys, mutagen.id3 as m\n"
                   "t = m.ID3()\nt.add(m.TCON(encoding=3, text=[sys.argv[2]]))\nt.save(sys.argv[1], v1=2)\n",
                   c, mutagenName.value(name, name)});
    t.setFilename(c);
    ASSERT_TRUE(t.Valid()) << name.toStdString();
    EXPECT_EQ(t.GenreID(), id);
  }
}

// A record is added to an untagged file in place: the same file (its other names see the record), the
// audio untouched, no copy beside it. A write that comes up short is taken back at once, and what an append
// killed in its middle left behind is cut off by the next write or removal instead of staying in the audio.
TEST_F(Mp3Tag, AddingARecordAppendsInPlaceAndRecoversFromACutAppend) {
  const QString a = file("a.mp3", audio);
  const QString other = dir + "/other name.mp3";
  ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(other).constData()), 0);
  struct stat before {}, after {};
  ASSERT_EQ(::stat(QFile::encodeName(a).constData(), &before), 0);
  TMP3Tag t;
  t.setFilename(a);
  t.setTitle("Linked");
  ASSERT_TRUE(t.WriteTag()) << t.Error().toStdString();
  ASSERT_EQ(::stat(QFile::encodeName(a).constData(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced by a copy";
  EXPECT_EQ(after.st_nlink, 2u);
  const QByteArray tagged = testenv::readFile(other);
  ASSERT_EQ(tagged.size(), audio.size() + 128);
  EXPECT_EQ(tagged.left(audio.size()), audio);
  EXPECT_EQ(tagged.mid(audio.size(), 9), QByteArray("TAGLinked"));
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);

  // A full disk in the middle of the record: the file is as it was.
  const QString s = file("short.mp3", audio);
  t.setFilename(s);
  {
    testenv::DiskFullAbove full(audio.size() + 50);
    if (!full.ok()) GTEST_SKIP() << "no file size limit here";
    EXPECT_FALSE(t.WriteTag());
  }
  EXPECT_TRUE(t.Error().startsWith("Cannot write the tag to")) << t.Error().toStdString();
  EXPECT_EQ(testenv::readFile(s), audio);

  // Killed in the middle of the append (a write past the size limit ends the process): part of a record is
  // left behind the audio, which no reader takes for a tag; the next write, or a removal, cuts it off.
  const QString probe = file("probe", "x");
  if (::setxattr(QFile::encodeName(probe).constData(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "this file system keeps no extended attributes";
  for (const bool remove : {false, true}) {
    const QString cut = file("cut.mp3", audio);
    QProcess child;
    child.start(testenv::binDir() + "/mp3append_child", {cut, QString::number(audio.size() + 50)});
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << "the append was not cut off";
    ASSERT_EQ(testenv::readFile(cut), audio + mp3tag::encode([] {
                mp3tag::Record r;
                r.title = "Cut short";
                r.genre = mp3tag::GenreOther;
                return r;
              }()).left(50));
    t.setFilename(cut);
    EXPECT_FALSE(t.Valid());
    if (remove) {
      EXPECT_TRUE(t.RemoveTag());
      EXPECT_EQ(testenv::readFile(cut), audio);
    } else {
      t.setTitle("Whole");
      ASSERT_TRUE(t.WriteTag()) << t.Error().toStdString();
      const QByteArray bytes = testenv::readFile(cut);
      ASSERT_EQ(bytes.size(), audio.size() + 128);
      EXPECT_EQ(bytes.left(audio.size()), audio);
      EXPECT_EQ(bytes.mid(audio.size(), 8), QByteArray("TAGWhole"));
    }
  }
}

TEST(Mp3TagFuzzCorpus, EverySeedAndFindingReplaysCleanly) {
  const QDir corpus(testenv::sourceDir() + "/tests/formats/id3/mp3tag-fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 5);
  for (const QString &name : files) {
    const QByteArray bytes = testenv::readFile(corpus.filePath(name));
    SCOPED_TRACE(name.toStdString());
    mp3fuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
  }
}

}  // namespace
