#pragma once
// Prints the records behind a data grid as a table (column headers, one line per record, optional lines
// and border, a page header with title, date and page number), or writes them to a tab-separated text
// file. Not a widget: the database viewer owns one and attaches it to its grid.
#include <QFont>
#include <QObject>
#include <QPageLayout>
#include <QString>

class QPainter;
class QPrinter;
class QWidget;
class TDBGrid;
class TDbfHost;

enum TPageNumberPos { pnNone, pnTopLeft, pnTopCenter, pnTopRight, pnBotLeft, pnBotCenter, pnBotRight };

class TPrintGrid : public QObject {
  Q_OBJECT
 public:
  TPrintGrid(TDbfHost &host, QWidget *owner, const QString &name = QStringLiteral("PrintGrid1"));

  TDBGrid *DBGrid = nullptr;
  int LeftMargin = 8, RightMargin = 8;   // in average character widths of the lines font
  int TopMargin = 60, BottomMargin = 110;  // in printer device units
  QFont TitleFont, ColHeaderFont, LinesFont;
  QString Title;
  Qt::Alignment TitleAlignment = Qt::AlignHCenter;
  QString PrintMgrTitle;
  QPageLayout::Orientation Orientation = QPageLayout::Landscape;
  bool PrintToFile = false;
  bool FullPage = false;
  QString PrintFileName = QStringLiteral("PRINT.LST"), PrintFileDir = QStringLiteral("/");
  int FromPage = 1, EndPage = 1000;
  bool Border = false, ColLines = false, RowLines = true;
  int HorizontalGap = 8, VerticalGapPct = 40;
  TPageNumberPos PageNumberPos = pnBotCenter, DatePos = pnTopRight;
  QString PageNumberLabel = QStringLiteral("Page: ");
  QString DateLabel;

  // The component's name; the print job title follows it as long as the two are equal.
  void setName(const QString &name);
  QString name() const { return objectName(); }

  // The print command: the print dialog, then printing or the text file.
  void Print();
  // The save-as-text command: the save dialog, then the text file.
  void SaveAsText();
  // Prints every record onto printer (already set up); false when nothing was printed (no grid, the
  // width question answered with anything but No). Pages counted as the printer saw them in pagesPrinted.
  bool printTo(QPrinter *printer, int *pagesPrinted = nullptr);
  // Writes the text file PrintFileDir/PrintFileName; false after telling the user when it cannot be written.
  bool writeText();
  // The save dialog's filter entries, and the whole filter as one "|"-separated text.
  QStringList saveFilters() const;
  QString saveFilterText() const;

 private:
  TDbfHost &host_;
  QWidget *owner_;
};
