// TSortGrid on its own: sorting by style and direction, stability, detection, row and column
// operations, extended keys, validation and the header click path.
#include <gtest/gtest.h>

#include <QLocale>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <algorithm>

#include "controls/sortgrid.h"

namespace {
QStringList column(const TSortGrid &g, int col) {
  QStringList out;
  for (int r = g.FixedRows(); r < g.RowCount(); ++r) out << g.Cells(col, r);
  return out;
}

void fill(TSortGrid &g, const QList<QStringList> &rows) {
  g.setColCount(rows.first().size());
  g.setRowCount(rows.size() + 1);
  for (int r = 0; r < rows.size(); ++r) g.setRows(r + 1, rows[r]);
}
}  // namespace

TEST(SortGrid, NewGridDefaults) {
  TSortGrid g;
  EXPECT_FALSE(g.CaseSensitive);
  EXPECT_TRUE(g.ClickSorting);
  EXPECT_FALSE(g.ExtendedKeys);
  EXPECT_EQ(g.AlignmentHorz(), taLeftJustify);
  EXPECT_EQ(g.AlignmentVert(), taTopJustify);
  EXPECT_EQ(g.BevelStyle(), cbNone);
  EXPECT_TRUE(g.ProportionalScrollBars());
  EXPECT_EQ(g.FixedRows(), 1);
}

TEST(SortGrid, TextSortsWithoutCaseAndKeepsEqualRowsInOrderBothWays) {
  TSortGrid g;
  fill(g, {{"b", "1"}, {"A", "2"}, {"c", "3"}, {"a", "4"}, {"B", "5"}});
  TSortOptions o;
  o.SortStyle = 1;
  g.SortColumn(0, o);
  EXPECT_EQ(column(g, 0), QStringList({"A", "a", "b", "B", "c"}));
  EXPECT_EQ(column(g, 1), QStringList({"2", "4", "1", "5", "3"}));  // whole rows moved
  o.SortDirection = 1;
  g.SortColumn(0, o);
  // Equal keys keep the order they had before this sort (A before a, b before B).
  EXPECT_EQ(column(g, 0), QStringList({"c", "b", "B", "A", "a"}));
  EXPECT_EQ(g.Cells(0, 0), QString());  // the fixed row never moves
}

// The locale's text order, written out by hand for US English: digits before letters and compared one
// by one, accents after the plain letter, lower case before upper case only where all else is equal.
TEST(SortGrid, TextOrderFollowsTheLocaleWithCaseDigitsAndAccents) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const QList<QStringList> rows = {{"Zeta"}, {"apple"}, {"éclair"}, {"file9"}, {"Äpfel"}, {"Eclair"}, {"10 pins"},
                                   {"banana"}, {"Apple"}, {"file10"}, {"eclair"}, {"9 lives"}, {"zeta"}};
  TSortGrid g;
  g.CaseSensitive = true;
  fill(g, rows);
  g.clickSort(0, Qt::LeftButton);
  const QStringList caseSensitive = {"10 pins", "9 lives", "Äpfel", "apple", "Apple", "banana", "eclair",
                                     "Eclair", "éclair", "file10", "file9", "zeta", "Zeta"};
  EXPECT_EQ(column(g, 0), caseSensitive);
  // The right button sorts descending.
  g.clickSort(0, Qt::RightButton);
  QStringList reversed = caseSensitive;
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(column(g, 0), reversed);
  // Without case, texts differing only in case are equal and keep the order they had before the sort.
  TSortGrid h;
  fill(h, rows);
  h.clickSort(0, Qt::LeftButton);
  EXPECT_EQ(column(h, 0), QStringList({"10 pins", "9 lives", "Äpfel", "apple", "Apple", "banana", "Eclair", "eclair",
                                       "éclair", "file10", "file9", "Zeta", "zeta"}));
  QLocale::setDefault(before);
}

TEST(SortGrid, DetectionPicksNumbersAndFallsBackToText) {
  TSortGrid g;
  fill(g, {{"10", "x"}, {"9", "y"}, {"100", "z"}});
  EXPECT_EQ(g.GuessSortStyle(0), 2);
  EXPECT_EQ(g.GuessSortStyle(1), 1);
  g.SortColumn(0, TSortOptions{});
  EXPECT_EQ(column(g, 0), QStringList({"9", "10", "100"}));
  // As text, "100" comes before "9".
  TSortOptions text;
  text.SortStyle = 1;
  g.SortColumn(0, text);
  EXPECT_EQ(column(g, 0), QStringList({"10", "100", "9"}));
  // One empty cell makes the column text.
  g.setCells(0, 2, QString());
  EXPECT_EQ(g.GuessSortStyle(0), 1);
}

TEST(SortGrid, TimesAndCustomCompare) {
  TSortGrid g;
  fill(g, {{"13:05:00"}, {"9:30:00"}, {"23:59:00"}});
  EXPECT_EQ(g.GuessSortStyle(0), 4);
  g.SortColumn(0, TSortOptions{});
  EXPECT_EQ(column(g, 0), QStringList({"9:30:00", "13:05:00", "23:59:00"}));
  TSortOptions byLength;
  byLength.SortStyle = 5;
  byLength.SortCompare = [](const QString &a, const QString &b) { return int(a.size()) - int(b.size()); };
  fill(g, {{"ccc"}, {"a"}, {"bb"}});
  g.SortColumn(0, byLength);
  EXPECT_EQ(column(g, 0), QStringList({"a", "bb", "ccc"}));
}

TEST(SortGrid, SortEventsRunAroundTheSortAndMaySeeOrChangeRows) {
  TSortGrid g;
  fill(g, {{"2"}, {"1"}, {"3"}});
  QStringList log;
  g.OnBeginSort = [&](int col, TSortOptions &o) {
    log << QString("begin %1 style %2").arg(col).arg(o.SortStyle);
    o.SortDirection = 1;  // the handler may change the options
  };
  g.OnEndSort = [&](int col) { log << QString("end %1").arg(col); };
  g.SortColumn(0, TSortOptions{});
  EXPECT_EQ(log, QStringList({"begin 0 style 2", "end 0"}));
  EXPECT_EQ(column(g, 0), QStringList({"3", "2", "1"}));
  // At most one data row: nothing happens, not even the events.
  log.clear();
  g.setRowCount(2);
  g.SortColumn(0, TSortOptions{});
  EXPECT_TRUE(log.isEmpty());
}

TEST(SortGrid, RowAndColumnOperations) {
  TSortGrid g;
  fill(g, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
  QList<int> inserted, deleted;
  g.OnRowInsert = [&](int i) { inserted << i; };
  g.OnRowDelete = [&](int i) { deleted << i; };
  g.AddRowAt(2);
  EXPECT_EQ(column(g, 0), QStringList({"a", "", "b", "c"}));
  EXPECT_EQ(inserted, QList<int>{2});
  g.RemoveRow(2);
  EXPECT_EQ(column(g, 0), QStringList({"a", "b", "c"}));
  EXPECT_EQ(deleted, QList<int>{2});
  g.ExchangeRows(1, 3);
  EXPECT_EQ(column(g, 0), QStringList({"c", "b", "a"}));
  EXPECT_EQ(column(g, 1), QStringList({"3", "2", "1"}));
  g.ExchangeColumns(0, 1);
  EXPECT_EQ(column(g, 0), QStringList({"3", "2", "1"}));
  g.AddColumnAt(0);
  EXPECT_EQ(g.ColCount(), 3);
  EXPECT_EQ(column(g, 0), QStringList({"", "", ""}));
  int col = -1, row = -1;
  ASSERT_TRUE(g.LocateText("b", col, row));
  EXPECT_EQ(col, 2);
  EXPECT_EQ(row, 2);
  EXPECT_FALSE(g.LocateText("zz", col, row));
  g.ClearAllCells();
  EXPECT_EQ(column(g, 2), QStringList({"", "", ""}));
}

TEST(SortGrid, ExtendedKeysInsertAndDeleteRowsAndColumns) {
  TSortGrid g;
  fill(g, {{"a", "1"}, {"b", "2"}});
  g.setCurrentCell(0, 2);
  QTest::keyClick(&g, Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(g.RowCount(), 3);  // off by default
  g.ExtendedKeys = true;
  QTest::keyClick(&g, Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(column(g, 0), QStringList({"a", "", "b"}));
  g.setCurrentCell(0, 1);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(column(g, 0), QStringList({"", "b"}));
  g.setCurrentCell(0, 1);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier);  // the last data row stays
  EXPECT_EQ(g.RowCount(), 2);
  QTest::keyClick(&g, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.ColCount(), 3);
  QTest::keyClick(&g, Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.ColCount(), 2);
}

TEST(SortGrid, CellValidationStoresTheHandlersAnswer) {
  TSortGrid g;
  fill(g, {{"old"}});
  g.setEditing(true);
  g.OnCellValidate = [](int, int, QString &value, bool &valid) {
    if (value == "bad") valid = false;
    if (value == "fixme") {
      value = "fixed";
      valid = false;
    }
  };
  QAbstractItemModel *m = g.model();
  m->setData(m->index(0, 0), "good");
  EXPECT_EQ(g.Cells(0, 1), "good");
  m->setData(m->index(0, 0), "bad");
  EXPECT_EQ(g.Cells(0, 1), "good");  // refused: the old text stays
  m->setData(m->index(0, 0), "fixme");
  EXPECT_EQ(g.Cells(0, 1), "fixed");  // refused but corrected: the correction is stored
}

TEST(SortGrid, HeaderClicksSortThroughTheEventPath) {
  TSortGrid g;
  g.resize(300, 200);
  g.show();
  fill(g, {{"b", "2"}, {"a", "10"}, {"c", "1"}});
  int clicks = 0;
  g.OnClickSort = [&](int col, int row, TSortOptions &) {
    ++clicks;
    EXPECT_EQ(row, 0);
  };
  QHeaderView *h = g.horizontalHeader();
  const QPoint second(h->sectionViewportPosition(1) + 10, h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(column(g, 1), QStringList({"1", "2", "10"}));
  QTest::mouseClick(h->viewport(), Qt::RightButton, {}, second);
  EXPECT_EQ(column(g, 1), QStringList({"10", "2", "1"}));
  QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::ShiftModifier, second);  // shift: no sort
  g.ClickSorting = false;
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(column(g, 1), QStringList({"10", "2", "1"}));
  EXPECT_EQ(clicks, 2);
}

TEST(SortGrid, CellFormatStartsFromTheGridAndBevelColours) {
  TSortGrid g;
  fill(g, {{"a"}});
  g.setBevelStyle(cbRaised);
  g.setAlignmentHorz(taCenter);
  TFormatOptions f = g.cellFormat(0, 1, 0);
  EXPECT_EQ(f.Bevel, cbRaised);
  EXPECT_EQ(f.AlignmentHorz, taCenter);
  EXPECT_EQ(f.HighlightColor, g.palette().color(QPalette::Light));
  g.setBevelStyle(cbLowered);
  f = g.cellFormat(0, 1, 0);
  EXPECT_EQ(f.HighlightColor, g.palette().color(QPalette::Dark));
  EXPECT_EQ(f.ShadowColor, g.palette().color(QPalette::Light));
  g.OnGetCellFormat = [](int, int, int, TFormatOptions &fo) { fo.HideText = true; };
  EXPECT_TRUE(g.cellFormat(0, 1, 0).HideText);
}

TEST(SortGrid, ProportionalScrollBarsSizeTheThumbToTheVisibleShare) {
  TSortGrid g;
  g.resize(300, 200);
  g.show();
  g.setColCount(2);
  g.setRowCount(1001);
  g.setProportionalScrollBars(true);
  QScrollBar *v = g.verticalScrollBar();
  ASSERT_GT(v->maximum(), v->minimum());
  const int visible = g.viewport()->height() / g.DefaultRowHeight();
  EXPECT_NEAR(v->pageStep(), double(visible + 1) / 1001 * (v->maximum() - v->minimum() + 1), 1.0);
  g.setProportionalScrollBars(false);
  EXPECT_EQ(v->pageStep(), 0);
}
