// Clipboard formats, the freedesktop trash and the smaller shell verbs, on the real file system.
#include <gtest/gtest.h>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/clipboard.h"
#include "platform/shellverbs.h"
#include "platform/trash.h"
#include "tests/common/testenv.h"
#include "tests/platform/fileops_fixture.h"

using namespace platform;
using namespace fotest;

TEST(Clipboard, RoundTripKeepsOddNamesAndTheCutMarkInEveryFormat) {
  const NativePaths paths{"/tmp/plain.txt", "/tmp/line\nbreak", "/tmp/bad\xff\xfe", "/tmp/-rf", "/tmp/50% #1 a b"};
  for (bool cut : {false, true}) {
    putFilesOnClipboard(paths, cut);
    const ClipboardFiles back = filesOnClipboard();
    EXPECT_EQ(back.paths, paths);
    EXPECT_EQ(back.cut, cut);
    const QMimeData *m = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(m, nullptr);
    const QByteArray gnome = m->data("x-special/gnome-copied-files");
    EXPECT_TRUE(gnome.startsWith(cut ? "cut\nfile:///tmp/plain.txt\n" : "copy\nfile:///tmp/plain.txt\n"));
    const QList<QByteArray> uris = m->data("text/uri-list").split('\n');
    EXPECT_EQ(uris[1], "file:///tmp/line%0Abreak\r");
    EXPECT_EQ(uris[2], "file:///tmp/bad%FF%FE\r");
    EXPECT_EQ(uris[4], "file:///tmp/50%25%20%231%20a%20b\r");
  }
  clearClipboard();
  EXPECT_TRUE(filesOnClipboard().isEmpty());
}

TEST(Clipboard, ReadsWhatOtherFileManagersWrite) {
  QMimeData gnome;  // as Nautilus writes it: no trailing newline, percent-encoded UTF-8
  gnome.setData("x-special/gnome-copied-files", "cut\nfile:///home/u/r%C3%A9sum%C3%A9.pdf\nfile://localhost/srv/x");
  ClipboardFiles f = filesFromMimeData(&gnome);
  EXPECT_TRUE(f.cut);
  EXPECT_EQ(f.paths, (NativePaths{"/home/u/r\xc3\xa9sum\xc3\xa9.pdf", "/srv/x"}));

  QMimeData kde;  // as Dolphin writes it: a URI list and its own cut mark; foreign hosts and schemes ignored
  kde.setData("text/uri-list", "# comment\r\nfile:///a/b\r\nhttp://example.invalid/x\r\nfile://elsewhere/y\r\nfile:/c\r\n");
  kde.setData("application/x-kde-cutselection", "1");
  f = filesFromMimeData(&kde);
  EXPECT_TRUE(f.cut);
  EXPECT_EQ(f.paths, (NativePaths{"/a/b", "/c"}));

  QMimeData text;
  text.setText("/not/a/uri");
  EXPECT_TRUE(filesFromMimeData(&text).isEmpty());
}

namespace {
QByteArray infoValue(const QByteArray &info, const QByteArray &key) {
  for (const QByteArray &line : info.split('\n'))
    if (line.startsWith(key + "=")) return line.mid(key.size() + 1);
  return {};
}
}  // namespace

TEST(Trash, HomeTrashFollowsTheFreedesktopLayout) {
  const NativePath dir = newDir("trashme");
  const NativePath odd = dir + "/odd\nname\xff.txt";
  writeBytes(odd, "odd");
  writeBytes(dir + "/folder/inner.txt", "inner");
  writeBytes(dir + "/again.txt", "first");

  const TrashOutcome a = moveToTrash(odd);
  ASSERT_TRUE(a.ok) << a.error.toStdString();
  const NativePath trash = platform::toNative(testenv::root()) + "/data/Trash";
  EXPECT_EQ(homeTrash(), trash);
  EXPECT_EQ(a.trashedAs, trash + "/files/odd\nname\xff.txt");
  EXPECT_EQ(readBytes(a.trashedAs), "odd");
  EXPECT_FALSE(exists(odd));
  const QByteArray info = readBytes(trash + "/info/odd\nname\xff.txt.trashinfo");
  EXPECT_TRUE(info.startsWith("[Trash Info]\n"));
  EXPECT_EQ(QByteArray::fromPercentEncoding(infoValue(info, "Path")), odd);
  EXPECT_FALSE(infoValue(info, "Path").contains('\n'));
  EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$")
                  .match(QString::fromLatin1(infoValue(info, "DeletionDate")))
                  .hasMatch());

  const TrashOutcome f = moveToTrash(dir + "/folder");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(readBytes(trash + "/files/folder/inner.txt"), "inner");

  // A second item of the same name gets its own entry; the first stays.
  ASSERT_TRUE(moveToTrash(dir + "/again.txt").ok);
  writeBytes(dir + "/again.txt", "second");
  const TrashOutcome second = moveToTrash(dir + "/again.txt");
  ASSERT_TRUE(second.ok);
  EXPECT_NE(second.trashedAs, trash + "/files/again.txt");
  EXPECT_EQ(readBytes(trash + "/files/again.txt"), "first");
  EXPECT_EQ(readBytes(second.trashedAs), "second");
  EXPECT_EQ(QByteArray::fromPercentEncoding(infoValue(readBytes(second.infoFile), "Path")), dir + "/again.txt");
  EXPECT_TRUE(deletePermanently(trash, nullptr));  // the test root's removal cannot name the odd file
}

TEST(Trash, OtherVolumesUseTheirOwnTrashOrSayItIsImpossible) {
  Tmpfs fs(1 << 20);
  if (!fs.ok()) GTEST_SKIP() << fs.why().toStdString();
  writeBytes(fs.path() + "/sub/file.txt", "x");
  const TrashOutcome t = moveToTrash(fs.path() + "/sub/file.txt");
  ASSERT_TRUE(t.ok) << t.error.toStdString();
  const NativePath own = fs.path() + "/.Trash-" + QByteArray::number(::getuid());
  EXPECT_EQ(t.trashedAs, own + "/files/file.txt");
  EXPECT_EQ(infoValue(readBytes(own + "/info/file.txt.trashinfo"), "Path"), "sub/file.txt");  // relative to the volume

  Tmpfs blocked(1 << 20);
  ASSERT_TRUE(blocked.ok());
  writeBytes(blocked.path() + "/.Trash-" + QByteArray::number(::getuid()), "not a folder");
  writeBytes(blocked.path() + "/keep.txt", "keep");
  const TrashOutcome no = moveToTrash(blocked.path() + "/keep.txt");
  EXPECT_FALSE(no.ok);
  EXPECT_TRUE(no.trashUnavailable);
  const TrashOutcome missing = moveToTrash(blocked.path() + "/missing.txt");
  EXPECT_FALSE(missing.ok);
  EXPECT_FALSE(missing.trashUnavailable);
  EXPECT_TRUE(no.error.contains("keep.txt")) << no.error.toStdString();
  EXPECT_EQ(readBytes(blocked.path() + "/keep.txt"), "keep");
}

TEST(Trash, PermanentDeleteRemovesLinksButNotWhatTheyPointAt) {
  const NativePath dir = newDir("perm"), outside = newDir("outside");
  writeBytes(outside + "/precious.txt", "precious");
  writeBytes(dir + "/tree/a/b.txt", "b");
  ::symlink(outside.constData(), (dir + "/tree/a/to-outside").constData());
  QString error;
  EXPECT_TRUE(deletePermanently(dir + "/tree", &error)) << error.toStdString();
  EXPECT_FALSE(exists(dir + "/tree"));
  EXPECT_EQ(readBytes(outside + "/precious.txt"), "precious");
  EXPECT_FALSE(deletePermanently(dir + "/tree", &error));
  EXPECT_TRUE(error.contains("does not exist")) << error.toStdString();
}

TEST(ShellVerbs, LinksNewFoldersAndRename) {
  const NativePath dir = newDir("verbs");
  writeBytes(dir + "/doc.txt", "doc");
  QStringList errors;
  NativePaths links = createLinks({dir + "/doc.txt"}, &errors);
  links += createLinks({dir + "/doc.txt"}, &errors);
  ASSERT_EQ(links, (NativePaths{dir + "/Link to doc.txt", dir + "/Link to doc.txt (2)"}));
  EXPECT_TRUE(isLink(links[0]));
  EXPECT_EQ(readBytes(links[1]), "doc");

  QString error;
  EXPECT_EQ(createNewFolder(dir, &error), dir + "/New Folder");
  EXPECT_EQ(createNewFolder(dir, &error), dir + "/New Folder (2)");

  NativePath renamed;
  EXPECT_FALSE(renameItem(dir + "/New Folder", "doc.txt", &renamed, &error));
  EXPECT_TRUE(error.contains("already exists"));
  EXPECT_FALSE(renameItem(dir + "/New Folder", "a/b", &renamed, &error));
  EXPECT_FALSE(renameItem(dir + "/New Folder", "", &renamed, &error));
  EXPECT_FALSE(renameItem(dir + "/New Folder", "..", &renamed, &error));
  ASSERT_TRUE(renameItem(dir + "/New Folder", QString::fromUtf8("-Photos \xc3\xa9t\xc3\xa9"), &renamed, &error));
  EXPECT_EQ(renamed, dir + "/-Photos \xc3\xa9t\xc3\xa9");
  EXPECT_TRUE(exists(renamed));
  EXPECT_EQ(readBytes(dir + "/doc.txt"), "doc");
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl &url) { urls << url; }
};

TEST(ShellVerbs, OpenRunsProgramsAndHandsOtherFilesToTheDesktop) {
  const NativePath dir = newDir("open");
  writeBytes(dir + "/-script", "#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\n");
  ::chmod((dir + "/-script").constData(), 0755);
  writeBytes(dir + "/data.txt", "not a program");
  ::chmod((dir + "/data.txt").constData(), 0755);  // execute bit alone does not make a program
  EXPECT_TRUE(isRunnableProgram(dir + "/-script"));
  EXPECT_FALSE(isRunnableProgram(dir + "/data.txt"));

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  QString error;
  EXPECT_TRUE(openItem(dir + "/-script", &error)) << error.toStdString();
  EXPECT_TRUE(testenv::waitFor([&] { return exists(dir + "/marker"); }, 10000));
  EXPECT_TRUE(openItem(dir + "/data.txt", &error));
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toLocalFile(), platform::fromNative(dir + "/data.txt"));
  EXPECT_FALSE(openItem(dir + "/missing", &error));
  EXPECT_TRUE(error.contains("missing"));
  QDesktopServices::unsetUrlHandler("file");
}

TEST(ShellVerbs, FolderSizeCountsOnAWorkerWithoutFollowingLinks) {
  const NativePath dir = newDir("size");
  writeBytes(dir + "/a", QByteArray(1000, 'a'));
  writeBytes(dir + "/sub/b", QByteArray(234, 'b'));
  writeBytes(dir + "/sub/deeper/c", QByteArray(66, 'c'));
  ::symlink("/usr", (dir + "/sub/usr-link").constData());
  TFolderSizeCounter counter;
  bool done = false;
  FolderSize total;
  QObject::connect(&counter, &TFolderSizeCounter::finished, &counter, [&](const FolderSize &s) {
    total = s;
    done = true;
  });
  counter.start({dir});
  ASSERT_TRUE(testenv::waitFor([&] { return done; }));
  const qint64 linkSize = QByteArray("/usr").size();
  EXPECT_EQ(total.bytes, 1300 + linkSize);
  EXPECT_EQ(total.files, 4);
  EXPECT_EQ(total.folders, 3);
}

#include "fileops_shell_test.moc"
