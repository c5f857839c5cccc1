// The MP3 tag editor window offscreen, driven with clicks and keys; its host answers the questions and
// records the messages.
#include "windows/mp3/mp3host.h"
#include "windows/mp3/mp3tageditor.h"
#include "tests/common/testenv.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>
#include <ostream>

namespace {

class TestMp3Host : public TMp3Host {
 public:
  bool answer = true;
  QStringList asked, errors;
  bool askYesNo(QWidget *, const QString &text) override {
    asked << text;
    return answer;
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
};

QByteArray audio() {
  QByteArray a;
  for (int i = 0; i < 4000; ++i) a += char(i * 7 + 3);
  return a;
}

QByteArray record(const QByteArray &title, quint8 genre, const QByteArray &comment = {}) {
  QByteArray b(128, '\0');
  b.replace(0, 3, "TAG");
  b.replace(3, title.size(), title);
  b.replace(97, comment.size(), comment);
  b[127] = char(genre);
  return b;
}

// Runs EditTag on path; act works on the shown editor (it must close it).
int editTag(TMp3Host &host, const QString &path, const std::function<void(TMP3TagEditor *)> &act, bool autoSave = true) {
  TMP3Tag tag;
  tag.EditAutoSave = autoSave;
  tag.setFilename(path);
  testenv::ModalWatcher watch([&](QWidget *w) {
    if (auto *e = qobject_cast<TMP3TagEditor *>(w)) act(e);
  });
  return TMP3TagEditor::EditTag(tag, host, nullptr);
}

TEST(Mp3TagEditor, ShowsTheTagAndSavesWhatWasEdited) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/song.mp3", audio() + record("Old title", 85, "A comment"));
  TestMp3Host host;
  int result = editTag(host, path, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->windowTitle(), "Tarnwick - MP3 Tag Editor");
    EXPECT_TRUE(e->isModal());
    EXPECT_EQ(e->Edit1->text(), "Old title");
    EXPECT_EQ(e->Edit5->text(), "A comment");
    EXPECT_EQ(e->cb1->currentText(), "Bebob");
    EXPECT_EQ(e->cb1->count(), 116);
    EXPECT_EQ(e->Edit6->text(), e->Mp3Tag.Filename());
    EXPECT_TRUE(e->Edit6->isReadOnly());
    EXPECT_EQ(e->Marquee->text(), e->Mp3Tag.Filename());
    EXPECT_EQ(e->Edit1->maxLength(), 30);
    // The year takes digits only, four at most; Backspace corrects it.
    e->Edit4->setFocus();
    QTest::keyClicks(e->Edit4, "ab19x99");
    EXPECT_EQ(e->Edit4->text(), "1999");
    QTest::keyClicks(e->Edit4, "7");
    EXPECT_EQ(e->Edit4->text(), "1999");
    QTest::keyClick(e->Edit4, Qt::Key_Backspace);
    QTest::keyClicks(e->Edit4, "8");
    EXPECT_EQ(e->Edit4->text(), "1998");
    e->Edit1->setText("New title");
    e->cb1->setCurrentIndex(114);
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(result, 1);
  QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), audio().size() + 128);
  EXPECT_EQ(bytes.left(audio().size()), audio());
  EXPECT_EQ(bytes.mid(audio().size() + 3, 10), QByteArray("New title\0", 10));
  EXPECT_EQ(bytes.mid(audio().size() + 93, 4), "1998");
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 114);
  EXPECT_TRUE(host.errors.isEmpty());

  // Cancel and the close box change nothing.
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Cancelled");
    QTest::mouseClick(e->Button3, Qt::LeftButton);
  });
  EXPECT_EQ(result, 0);
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Closed");
    e->close();
  });
  EXPECT_EQ(result, 0);
  // With EditAutoSave off, Save only answers 1.
  result = editTag(host, path, [](TMP3TagEditor *e) {
    e->Edit1->setText("Not saved");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  }, false);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(testenv::readFile(path), bytes);
}

TEST(Mp3TagEditor, UntaggedFilesAndUnknownGenres) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/no tag at all.mp3", audio());
  TestMp3Host host;
  editTag(host, path, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->Edit1->text(), "no tag at all.mp3");
    EXPECT_EQ(e->Edit2->text(), "");
    EXPECT_EQ(e->cb1->currentText(), "Other");
    EXPECT_FALSE(e->Button4->isEnabled());
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), audio().size() + 128);
  EXPECT_EQ(bytes.mid(audio().size() + 3, 17), "no tag at all.mp3");
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 12);

  // Genre 255 shows no genre, and saving without choosing one keeps 255; a track number hidden behind the
  // comment's zero byte survives a save that did not touch the comment.
  const QString odd = testenv::writeFile(dir + "/odd.mp3", audio() + record("Odd", 255, QByteArray(29, '\0') + "\x05"));
  editTag(host, odd, [](TMP3TagEditor *e) {
    EXPECT_EQ(e->cb1->currentIndex(), -1);
    e->Edit2->setText("Someone");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  bytes = testenv::readFile(odd);
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 255);
  EXPECT_EQ(bytes.at(bytes.size() - 2), '\x05');
  EXPECT_EQ(bytes.mid(audio().size() + 33, 7), "Someone");
}

// Text an ID3v1 tag cannot hold is named before the save: No goes back to the editor with nothing written,
// Yes saves it with "?" for each such character. A genre number the list does not name (116, Ballad to
// other tools) stays as it was when no genre is chosen.
TEST(Mp3TagEditor, TextTheTagCannotHoldWarnsFirstAndUnknownGenresStay) {
  const QString dir = testenv::makeDir("mp3ed");
  const QByteArray original = audio() + record("Old", 116);
  const QString path = testenv::writeFile(dir + "/song.mp3", original);
  TestMp3Host host;
  host.answer = false;
  bool stillOpen = false;
  QByteArray afterNo;
  const int result = editTag(host, path, [&](TMP3TagEditor *e) {
    EXPECT_EQ(e->cb1->currentIndex(), -1);
    e->Edit1->setText(QString::fromUtf8("Привет"));
    e->Edit3->setText(QString::fromUtf8("Café"));  // Latin-1: stored as it is
    QTest::mouseClick(e->Button2, Qt::LeftButton);
    stillOpen = e->isVisible();
    afterNo = testenv::readFile(path);
    host.answer = true;
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_TRUE(stillOpen) << "No must go back to the editor";
  EXPECT_EQ(afterNo, original);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(host.asked.size(), 2);
  EXPECT_TRUE(host.asked[0].contains(QString::fromUtf8("Title: \"Привет\" is saved as \"??????\""))) << host.asked[0].toStdString();
  EXPECT_FALSE(host.asked[0].contains("Album")) << host.asked[0].toStdString();
  const QByteArray bytes = testenv::readFile(path);
  ASSERT_EQ(bytes.size(), original.size());
  EXPECT_EQ(bytes.mid(audio().size() + 3, 7), QByteArray("??????\0", 7));
  EXPECT_EQ(bytes.mid(audio().size() + 63, 5), QByteArray("Caf\xe9\0", 5));
  EXPECT_EQ(quint8(bytes.at(bytes.size() - 1)), 116);
  EXPECT_TRUE(host.errors.isEmpty());
}

TEST(Mp3TagEditor, RemoveTagAsksFirstAndFailedSavesAreShown) {
  const QString dir = testenv::makeDir("mp3ed");
  const QString path = testenv::writeFile(dir + "/song.mp3", audio() + record("Keep me", 3));
  TestMp3Host host;
  host.answer = false;
  bool stillOpen = false;
  int result = editTag(host, path, [&](TMP3TagEditor *e) {
    EXPECT_EQ(e->Button4->text(), "Remove Tag");
    QTest::mouseClick(e->Button4, Qt::LeftButton);
    stillOpen = e->isVisible();
    QTest::mouseClick(e->Button3, Qt::LeftButton);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(host.asked.size(), 1);
  EXPECT_TRUE(host.asked.at(0).contains(path)) << host.asked.at(0).toStdString();
  EXPECT_EQ(testenv::readFile(path).size(), audio().size() + 128);

  host.answer = true;
  result = editTag(host, path, [](TMP3TagEditor *e) { QTest::mouseClick(e->Button4, Qt::LeftButton); });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(testenv::readFile(path), audio());
  EXPECT_TRUE(host.errors.isEmpty());

  // A file too small for a tag, and one that went away while the editor was open: the user is told.
  const QString small = testenv::writeFile(dir + "/small.mp3", "tiny");
  editTag(host, small, [](TMP3TagEditor *e) {
    e->Edit1->setText("Title");
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(host.errors, QStringList{"File too small to be a MP3 file!"});
  EXPECT_EQ(testenv::readFile(small), "tiny");
  const QString gone = testenv::writeFile(dir + "/gone.mp3", audio());
  editTag(host, gone, [&](TMP3TagEditor *e) {
    QFile::remove(gone);
    QTest::mouseClick(e->Button2, Qt::LeftButton);
  });
  EXPECT_EQ(host.errors.value(1), "File does not exist!");
  EXPECT_FALSE(QFile::exists(gone));
}

TEST(Mp3TagEditor, TheMarqueeMovesAndPauses) {
  TMp3Marquee m;
  m.setText("/music/a file name that does not fit.mp3");
  m.resize(m.fontMetrics().horizontalAdvance(m.text()) + 4 - 6, 18);  // six pixels too narrow
  m.show();
  m.start();
  EXPECT_EQ(m.offset(), 0);
  // It moves a pixel at a time to the end, stays there about 3 s and starts again from the first character.
  ASSERT_TRUE(testenv::waitFor([&] { return m.offset() == 6; }, 3000));
  QElapsedTimer paused;
  paused.start();
  ASSERT_TRUE(testenv::waitFor([&] { return m.offset() != 6; }, 6000));
  EXPECT_GE(paused.elapsed(), 2800);
  EXPECT_EQ(m.offset(), 0);
}

}  // namespace
