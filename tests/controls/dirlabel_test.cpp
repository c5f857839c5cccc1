#include <gtest/gtest.h>
#include <QFontMetrics>
#include "controls/dirlabel.h"

TEST(DirLabel, ShortensKeepingTheLastComponents) {
  const QString p = "/Program Files/Common Files/System/file.txt";  // 43 characters
  EXPECT_EQ(TDirLabel::shortenPath(p, 30, "/"), "/.../System/file.txt");
  EXPECT_EQ(TDirLabel::shortenPath(p, 43, "/"), p);  // not shorter than the path: unchanged
  EXPECT_EQ(TDirLabel::shortenPath(p, 18, "/"), p);  // never to 18 or less
  // Long name: only the separator and the name are kept.
  const QString q = "/data/projects/a-very-long-file-name-that-is-long.txt";
  EXPECT_EQ(TDirLabel::shortenPath(q, 30, "/"), "/.../a-very-long-file-name-that-is-long.txt");
  // No separator at all: the tail comes from the end.
  const QString r = "abcdefghijklmnopqrstuvwxyz0123456789";
  EXPECT_EQ(TDirLabel::shortenPath(r, 25, "/"), "/..." + r);
}

TEST(DirLabel, FittingShortensStepByStepOrEmpties) {
  QFont f("DejaVu Sans", 9);
  QFontMetrics fm(f);
  const QString p = "/home/user/projects/tarnwick/browser/panes/file.txt";
  const QString fit = TDirLabel::fitCaption(p, "/", fm, fm.horizontalAdvance("/.../panes/file.txt") + 2);
  EXPECT_TRUE(fit.startsWith("/..."));
  EXPECT_TRUE(fit.endsWith("/file.txt"));
  EXPECT_LE(fm.horizontalAdvance(fit), fm.horizontalAdvance("/.../panes/file.txt") + 1);
  EXPECT_EQ(TDirLabel::fitCaption(p, "/", fm, 1000), p);
  EXPECT_EQ(TDirLabel::fitCaption(p, "/", fm, 10), "");  // cannot be shortened enough
  TDirLabel label;
  EXPECT_EQ(label.width(), 65);
  EXPECT_EQ(label.height(), 17);
  label.setDirName("/tmp");
  EXPECT_EQ(label.DirName(), "/tmp");
}
