#include <gtest/gtest.h>
#include <QFile>
#include "browser/panerules.h"
#include "tests/common/testenv.h"

TEST(PaneRules, ListOptionValuesForTheFourStates) {
  EXPECT_EQ(browser::listOptionsValue(false, false), 3611);
  EXPECT_EQ(browser::listOptionsValue(true, false), 3739);
  EXPECT_EQ(browser::listOptionsValue(false, true), 7707);
  EXPECT_EQ(browser::listOptionsValue(true, true), 7835);
}

TEST(PaneRules, HighlightColoursAndTitles) {
  EXPECT_EQ(browser::highlightColor("SETUP.EXE"), QColor(0, 0, 255));
  EXPECT_EQ(browser::highlightColor("run.bat"), QColor(0, 0, 255));
  EXPECT_EQ(browser::highlightColor("old.PIF"), QColor(0, 0, 255));
  EXPECT_EQ(browser::highlightColor("archive.zip"), QColor(0, 128, 0));
  EXPECT_FALSE(browser::highlightColor("readme.txt").has_value());
  EXPECT_FALSE(browser::highlightColor("exe").has_value());
  EXPECT_FALSE(browser::highlightColor("a.exe.txt").has_value());
  EXPECT_EQ(browser::titleFor("/"), "Tarnwick - /");
  EXPECT_EQ(browser::objectCountText(12), "12 Object(s)");
}

TEST(PaneRules, HintsByState) {
  browser::HintState s;
  EXPECT_EQ(browser::firstListHint(s),
            "Single click filename to view, Double click to execute or run associated program, Right hand mouse button for menu options ...");
  EXPECT_EQ(browser::secondListHint(s), browser::firstListHint(s) + "when a file / folder is selected");
  s.runOnDoubleClick = false;
  EXPECT_EQ(browser::firstListHint(s), "Single click filename to view, Right hand mouse button for menu options ...");
  s.viewersDisabled = true;
  EXPECT_EQ(browser::firstListHint(s), "Right hand mouse button for menu options ...");
  s.ftpPanelVisible = true;
  EXPECT_EQ(browser::firstListHint(s), "Select multiple files and drag across for uploading to server ...");
}

TEST(PaneRules, MaskListFileRules) {
  // The first sorted line is dropped (it is "*" when the file has one); duplicates go.
  EXPECT_EQ(browser::masksFromFileLines({"*.txt", "*", "*.log", "*.log"}), (QStringList{"*", "*.log", "*.txt"}));
  EXPECT_EQ(browser::masksFromFileLines({"*.b", "*.a"}), (QStringList{"*", "*.b"}));
  EXPECT_EQ(browser::masksFromFileLines({"*.a"}), QStringList{"*"});
  EXPECT_EQ(browser::masksFromFileLines({}), QStringList{"*"});

  const QString file = testenv::makeDir() + "/tarnwick.ext";
  QStringList entries{"*", "*.zip"};
  ASSERT_TRUE(browser::refreshMaskListFile(file, entries));
  EXPECT_EQ(testenv::readFile(file), "*\r\n*.zip\r\n");
  testenv::writeFile(file, "*.one\n");  // fewer than two lines: "*" alone, and the file rewritten so
  ASSERT_TRUE(browser::refreshMaskListFile(file, entries));
  EXPECT_EQ(entries, QStringList{"*"});
  EXPECT_EQ(testenv::readFile(file), "*\r\n");
}
