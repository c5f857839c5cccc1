#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <sys/stat.h>
#include <utime.h>

#include "controls/shelllistmodel.h"
#include "controls/thumbnails.h"
#include "tests/common/testenv.h"

namespace {
QString picture(const QString &path, QSize size, QColor colour, const char *format = "jpeg") {
  QImage img(size, QImage::Format_RGB32);
  img.fill(colour);
  img.save(path, format);
  return path;
}
qint64 mtimeOf(const QString &path) {
  struct stat st {};
  ::stat(QFile::encodeName(path).constData(), &st);
  return st.st_mtime;
}
void setMtime(const QString &path, qint64 t) {
  const struct utimbuf times { time_t(t), time_t(t) };
  ::utime(QFile::encodeName(path).constData(), &times);
}
bool near(QColor a, QColor b) {
  return qAbs(a.red() - b.red()) < 30 && qAbs(a.green() - b.green()) < 30 && qAbs(a.blue() - b.blue()) < 30;
}
unsigned modeOf(const QString &path) {
  struct stat st {};
  ::stat(QFile::encodeName(path).constData(), &st);
  return st.st_mode & 0777;
}
}  // namespace

// The cache is shared with other programs: names, keys and modes as they expect, their thumbnails taken as
// they are, and a stored one (ours or theirs) never shown for a file that has changed since.
TEST(Thumbnails, CacheIsSharedWithOtherProgramsAndFollowsTheFile) {
  EXPECT_EQ(thumbs::uriOf("/tmp/a b/\u00fc(1)#%.jpg"), QByteArray("file:///tmp/a%20b/%C3%BC(1)%23%25.jpg"));

  const QString dir = testenv::makeDir("pics");
  const QString photo = picture(dir + "/a b \u00fc.jpg", {400, 200}, Qt::blue);
  QString why;
  QImage t = thumbs::thumbnail(photo, thumbs::kNormal, &why);
  ASSERT_FALSE(t.isNull()) << why.toStdString();
  EXPECT_EQ(t.size(), QSize(128, 64));
  const QByteArray uri = thumbs::uriOf(photo);
  const QString stored = thumbs::cacheFolder(thumbs::kNormal) + "/" +
                         QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
  EXPECT_EQ(thumbs::cacheFile(photo, thumbs::kNormal), stored);
  const QImage onDisk(stored, "png");
  ASSERT_FALSE(onDisk.isNull());
  EXPECT_EQ(onDisk.text("Thumb::URI").toUtf8(), uri);
  EXPECT_EQ(onDisk.text("Thumb::MTime").toLongLong(), mtimeOf(photo));
  EXPECT_EQ(modeOf(stored), 0600u);
  EXPECT_EQ(modeOf(thumbs::cacheFolder(thumbs::kNormal)), 0700u);

  // Another program's thumbnail of the same file is used, not remade.
  QImage theirs(128, 64, QImage::Format_RGB32);
  theirs.fill(Qt::red);
  theirs.setText("Thumb::URI", QString::fromUtf8(uri));
  theirs.setText("Thumb::MTime", QString::number(mtimeOf(photo)));
  ASSERT_TRUE(theirs.save(stored, "png"));
  EXPECT_TRUE(near(thumbs::thumbnail(photo).pixelColor(64, 32), Qt::red));
  // Once the file changes, neither that one nor the cache's copy counts.
  setMtime(photo, mtimeOf(photo) - 100);
  EXPECT_TRUE(thumbs::cached(photo, mtimeOf(photo), thumbs::kNormal).isNull());
  EXPECT_TRUE(near(thumbs::thumbnail(photo).pixelColor(64, 32), Qt::blue));
  EXPECT_FALSE(thumbs::cached(photo, mtimeOf(photo), thumbs::kNormal).isNull());

  // A damaged picture: no thumbnail, noted as failed so nobody reads it again, until it is mended.
  const QString bad = testenv::writeFile(dir + "/bad.png", QByteArray("\x89PNG\r\n\x1a\n garbage", 16));
  EXPECT_TRUE(thumbs::thumbnail(bad, thumbs::kNormal, &why).isNull());
  EXPECT_FALSE(why.isEmpty());
  const QString failNote = QFileInfo(thumbs::cacheFolder(thumbs::kNormal)).path() + "/fail/tarnwick-2.0/" +
                           QFileInfo(thumbs::cacheFile(bad, 128)).fileName();
  EXPECT_TRUE(QFileInfo::exists(failNote));
  picture(bad, {300, 300}, Qt::green, "png");
  setMtime(bad, mtimeOf(bad) + 5);
  EXPECT_TRUE(near(thumbs::thumbnail(bad).pixelColor(10, 10), Qt::green));

  // What is not made, or not kept: a picture already small, a pipe named like a picture (it would block a
  // reader), a file of the cache itself, a name of no picture type.
  const QString icon = picture(dir + "/small.png", {16, 16}, Qt::yellow, "png");
  EXPECT_EQ(thumbs::thumbnail(icon).size(), QSize(16, 16));
  EXPECT_FALSE(QFileInfo::exists(thumbs::cacheFile(icon, thumbs::kNormal)));
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe.jpg").constData(), 0600), 0);
  EXPECT_TRUE(thumbs::thumbnail(dir + "/pipe.jpg").isNull());
  EXPECT_TRUE(thumbs::thumbnail(stored).isNull());
  EXPECT_TRUE(thumbs::canMake("x.JPG"));
  EXPECT_FALSE(thumbs::canMake("notes.txt"));
  EXPECT_FALSE(thumbs::canMake("README"));
}

// The list shows previews in place of type icons once they are made, for the rows a view asks about.
TEST(Thumbnails, ListShowsPreviewsOfWhatItPaints) {
  const QString dir = testenv::makeDir("listpics");
  for (int i = 0; i < 3; ++i) picture(dir + QString("/p%1.jpg").arg(i), {300, 300}, Qt::blue);
  testenv::writeFile(dir + "/notes.txt", "text");
  TShellListModel m;
  m.setPreviews(true);
  m.setFolder(dir);
  ASSERT_TRUE(testenv::waitFor([&] { return !m.isLoading(); }));
  const QModelIndex note = m.index(m.rowOfName("notes.txt"), 0);
  const QIcon typeIcon = m.data(note, Qt::DecorationRole).value<QIcon>();
  for (int i = 0; i < 3; ++i) m.data(m.index(m.rowOfName(QString("p%1.jpg").arg(i)), 0), Qt::DecorationRole);
  EXPECT_EQ(m.previewQueue()->pending(), 3);
  ASSERT_TRUE(testenv::waitFor([&] { return m.previewQueue()->pending() == 0; }));
  for (int i = 0; i < 3; ++i) {
    const QIcon shown = m.data(m.index(m.rowOfName(QString("p%1.jpg").arg(i)), 0), Qt::DecorationRole).value<QIcon>();
    ASSERT_FALSE(shown.isNull());
    EXPECT_TRUE(near(shown.pixmap(128).toImage().pixelColor(64, 64), Qt::blue));
  }
  EXPECT_EQ(m.data(note, Qt::DecorationRole).value<QIcon>().cacheKey(), typeIcon.cacheKey());
  EXPECT_EQ(m.previewQueue()->pending(), 0);
  m.setPreviews(false);
  EXPECT_FALSE(m.previews());
}
