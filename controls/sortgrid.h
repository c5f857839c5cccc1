#pragma once
// TSortGrid: a string grid (rows and columns of texts, row 0 the fixed heading row when FixedRows is 1)
// that sorts its data rows on header clicks, lets the owner format single cells and keeps an optional
// bevel. The cells live in a flat model so that 100,000 rows fill and sort quickly; the view paints only
// what is visible.
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QTableView>
#include <functional>
#include <vector>

class TSortGridModel;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TVertAlignment { taTopJustify, taBottomJustify, taMiddle };
enum TCellBevelStyle { cbNone, cbRaised, cbLowered };

struct TSortOptions {
  quint8 SortStyle = 0;  // 0 detect, 1 text, 2 numeric, 3 date and time, 4 time, 5 custom
  quint8 SortDirection = 0;  // 0 ascending, 1 descending
  quint8 SortCaseSensitive = 0;
  int (*SortCompare)(const QString &, const QString &) = nullptr;  // used by style 5
};

struct TFormatOptions {
  QBrush Brush;
  QFont Font;
  QColor FontColor;
  TAlignment AlignmentHorz = taLeftJustify;
  TVertAlignment AlignmentVert = taTopJustify;
  TCellBevelStyle Bevel = cbNone;
  QColor HighlightColor;
  QColor ShadowColor;
  bool HideText = false;
  QIcon Icon;  // drawn before the text, at the text's height
};

class TSortGrid : public QTableView {
  Q_OBJECT
 public:
  enum GridState { gdFixed = 1, gdSelected = 2, gdFocused = 4 };

  explicit TSortGrid(QWidget *parent = nullptr);
  ~TSortGrid() override;

  // The string grid.
  int ColCount() const;
  void setColCount(int n);
  int RowCount() const;
  void setRowCount(int n);
  int FixedRows() const { return fixedRows_; }
  void setFixedRows(int n);  // 0 or 1: the fixed row is shown as the heading
  QString Cells(int col, int row) const;
  void setCells(int col, int row, const QString &text);
  QStringList Rows(int row) const;
  void setRows(int row, const QStringList &cells);
  int ColWidths(int col) const;
  void setColWidths(int col, int width);
  int DefaultRowHeight() const;
  int Row() const;  // current row (grid numbering, fixed rows included); -1 without one
  int Col() const;
  void setCurrentCell(int col, int row);
  // The selected range of rows (grid numbering); top > bottom when nothing is selected.
  void Selection(int &top, int &bottom) const;
  void selectRows(int top, int bottom);
  bool Editing() const { return editing_; }
  void setEditing(bool on);
  // Bulk filling: no view updates between BeginUpdate and EndUpdate.
  void BeginUpdate();
  void EndUpdate();

  // Published properties.
  bool CaseSensitive = false;
  bool ClickSorting = true;
  bool ExtendedKeys = false;
  TAlignment AlignmentHorz() const { return alignHorz_; }
  void setAlignmentHorz(TAlignment a);
  TVertAlignment AlignmentVert() const { return alignVert_; }
  void setAlignmentVert(TVertAlignment a);
  TCellBevelStyle BevelStyle() const { return bevel_; }
  void setBevelStyle(TCellBevelStyle b);
  bool ProportionalScrollBars() const { return proportional_; }
  void setProportionalScrollBars(bool on);

  // Events.
  std::function<void(int col, int row, int state, TFormatOptions &)> OnGetCellFormat;
  std::function<void(int col, int row, TSortOptions &)> OnClickSort;
  std::function<void(int index)> OnRowInsert, OnRowDelete, OnColumnInsert, OnColumnDelete;
  std::function<void()> OnColumnWidthsChanged, OnRowHeightsChanged;
  std::function<void(int oldColCount, int oldRowCount)> OnSizeChanged;
  std::function<void(int col, TSortOptions &)> OnBeginSort;
  std::function<void(int col)> OnEndSort;
  std::function<void(int col, int row, QString &value, bool &valid)> OnCellValidate;
  // Not a sort event: the selected cell changed (row, col in grid numbering).
  std::function<void(int col, int row)> OnSelectCell;
  std::function<void()> OnDblClick;

  // Operations.
  void SortColumn(int col, TSortOptions options);
  int GuessSortStyle(int col) const;
  void ClearAllCells();
  void AddRowAt(int index);
  void AddColumnAt(int index);
  void RemoveRow(int index);
  void RemoveColumn(int index);
  void MoveRowTo(int from, int to);
  void MoveColumnTo(int from, int to);
  void ExchangeRows(int a, int b);
  void ExchangeColumns(int a, int b);
  void FitColumnWidth(int col);
  void FitAllColumnWidths(bool includeFixed, int extra);
  bool LocateText(const QString &text, int &col, int &row) const;

  // The format a cell is painted with (defaults, bevel colours, then OnGetCellFormat).
  TFormatOptions cellFormat(int col, int row, int state) const;
  // Sorts as a click on the heading of col with the given button would (hourglass included).
  void clickSort(int col, Qt::MouseButton button);

 protected:
  bool eventFilter(QObject *o, QEvent *e) override;
  void keyPressEvent(QKeyEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void mouseDoubleClickEvent(QMouseEvent *e) override;
  void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
  void updateGeometries() override;

 private:
  friend class TSortGridModel;
  friend class TSortGridDelegate;
  bool validateCell(int col, int row, QString &value);

  TSortGridModel *model_;
  int fixedRows_ = 1;
  bool editing_ = false;
  TAlignment alignHorz_ = taLeftJustify;
  TVertAlignment alignVert_ = taTopJustify;
  TCellBevelStyle bevel_ = cbNone;
  bool proportional_ = true;
  int updateDepth_ = 0;
  bool sorting_ = false;
};
