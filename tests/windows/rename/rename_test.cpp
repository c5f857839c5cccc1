// Renaming many files: every kind of clash is named before anything runs, swaps and cycles go through, a
// failure half-way puts every name back, and the window's Rename and Undo change the disk.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "tests/common/testenv.h"
#include "windows/rename/renameform.h"
#include "windows/rename/renameplan.h"

namespace {
QStringList names(const QString &dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
QString problemFor(const QVector<renaming::Row> &rows, const QString &oldName) {
  for (const auto &r : rows)
    if (r.oldName == oldName) return r.problem;
  return "(no row)";
}
}  // namespace

TEST(RenameMany, EveryClashIsNamedBeforeAnythingRuns) {
  const QString dir = testenv::makeDir("clash");
  for (const char *n : {"a.txt", "b.txt", "c.txt", "taken.txt"}) testenv::writeFile(dir + "/" + n, n);
  const QStringList files{dir + "/a.txt", dir + "/b.txt", dir + "/c.txt"};
  struct Case {
    const char *pattern, *search, *replace;
    bool regex;
    const char *file, *problem;
  } cases[] = {
      {"[N][E]", "a", "taken", false, "a.txt", "A file of this name exists"},
      {"same", "", "", false, "b.txt", "Two files would get this name"},
      {"[N][E]", "a", "x/y", false, "a.txt", "A name may not hold a slash"},
      {"", "", "", false, "c.txt", "No name"},
      {"[N][E]", "(", "", true, "a.txt", "The search is not a valid regular expression"},
      {"[N]xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
       "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
       "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx[E]",
       "", "", false, "a.txt", "The name is too long"},
  };
  for (const Case &c : cases) {
    renaming::Rule rule;
    rule.pattern = c.pattern;
    rule.search = c.search;
    rule.replace = c.replace;
    rule.regex = c.regex;
    const auto rows = renaming::plan(files, rule);
    EXPECT_TRUE(problemFor(rows, c.file).startsWith(c.problem))
        << c.pattern << ": " << problemFor(rows, c.file).toStdString();
    EXPECT_FALSE(renaming::runnable(rows)) << c.pattern;
  }
  // A name that only the batch itself frees is no clash: 1.txt -> 2.txt while 2.txt -> 3.txt.
  testenv::writeFile(dir + "/1.txt", "one");
  testenv::writeFile(dir + "/2.txt", "two");
  renaming::Rule shift;
  shift.pattern = "[C][E]";
  shift.counterStart = 2;
  const auto rows = renaming::plan({dir + "/1.txt", dir + "/2.txt"}, shift);
  ASSERT_TRUE(renaming::runnable(rows)) << rows[0].problem.toStdString() << rows[1].problem.toStdString();
  ASSERT_TRUE(renaming::run(rows).error.isEmpty());
  EXPECT_EQ(testenv::readFile(dir + "/2.txt"), "one");
  EXPECT_EQ(testenv::readFile(dir + "/3.txt"), "two");
}

TEST(RenameMany, SwapsAndCyclesRunAndAFailureHalfWayPutsEveryNameBack) {
  const QString dir = testenv::makeDir("cycle");
  testenv::writeFile(dir + "/a", "A");
  testenv::writeFile(dir + "/b", "B");
  testenv::writeFile(dir + "/c", "C");
  auto row = [&](const char *from, const QString &to) { return renaming::Row{dir, from, to, {}}; };
  // a->b, b->c, c->a
  const QVector<renaming::Row> cycle{row("a", "b"), row("b", "c"), row("c", "a")};
  auto done = renaming::run(cycle);
  ASSERT_TRUE(done.error.isEmpty()) << done.error.toStdString();
  EXPECT_EQ(testenv::readFile(dir + "/b"), "A");
  EXPECT_EQ(testenv::readFile(dir + "/c"), "B");
  EXPECT_EQ(testenv::readFile(dir + "/a"), "C");
  done = renaming::undo(done.renamed);
  ASSERT_TRUE(done.error.isEmpty()) << done.error.toStdString();
  EXPECT_EQ(testenv::readFile(dir + "/a"), "A");
  EXPECT_EQ(names(dir), (QStringList{"a", "b", "c"}));

  // The second rename fails (its name is too long for the file system): the first goes back too.
  const QVector<renaming::Row> failing{row("a", "x"), row("b", QString(300, 'y'))};
  done = renaming::run(failing);
  EXPECT_FALSE(done.error.isEmpty());
  EXPECT_TRUE(done.renamed.isEmpty());
  EXPECT_EQ(names(dir), (QStringList{"a", "b", "c"}));  // no temporary left either
  EXPECT_EQ(testenv::readFile(dir + "/a"), "A");

  // Undo refuses when a file took an old name meanwhile.
  done = renaming::run({row("a", "z")});
  ASSERT_TRUE(done.error.isEmpty());
  testenv::writeFile(dir + "/a", "new a");
  EXPECT_FALSE(renaming::undo(done.renamed).error.isEmpty());
  EXPECT_EQ(testenv::readFile(dir + "/a"), "new a");
  EXPECT_EQ(testenv::readFile(dir + "/z"), "A");
}

TEST(RenameMany, TheWindowPreviewsRenamesAndUndoes) {
  const QString dir = testenv::makeDir("window");
  QStringList files;
  for (const char *n : {"holiday photo.JPG", "second one.jpg", ".hidden"})
    files << testenv::writeFile(dir + "/" + n, n);
  TRenameForm w(files);
  int renamedSignals = 0;
  QObject::connect(&w, &TRenameForm::renamed, [&] { ++renamedSignals; });
  w.pattern()->setText("[C] [N][E]");
  w.counterDigits()->setValue(2);
  w.letters()->setCurrentIndex(3);  // Title Case
  ASSERT_EQ(w.preview()->topLevelItemCount(), 3);
  EXPECT_EQ(w.preview()->topLevelItem(0)->text(1), "01 Holiday Photo.Jpg");
  EXPECT_EQ(w.preview()->topLevelItem(2)->text(1), "03 .Hidden");  // a leading dot is no extension
  ASSERT_TRUE(w.renameButton()->isEnabled());
  w.renameButton()->click();
  EXPECT_EQ(names(dir), (QStringList{"01 Holiday Photo.Jpg", "02 Second One.Jpg", "03 .Hidden"}));
  EXPECT_EQ(renamedSignals, 1);
  ASSERT_TRUE(w.undoButton()->isEnabled());
  w.undoButton()->click();
  EXPECT_EQ(names(dir), (QStringList{".hidden", "holiday photo.JPG", "second one.jpg"}));
  EXPECT_EQ(renamedSignals, 2);
}
