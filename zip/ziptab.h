#pragma once
// TZipTab: the page of the "Zip" viewer tab. The contents grid StringGrid1 with its pop-up ZipMenu,
// the add panel AddToZip and the extract panel ExtractPanel, and the zip component ZipMaster1 that all
// of them drive. It knows nothing of the main window: what it needs from there (current folder, the
// file list, the window title, the viewer dispatch, the dialogs) it asks of its TZipHost.
#include <QFontMetrics>
#include <QHash>
#include <QWidget>
#include "controls/sortgrid.h"
#include "zip/ziphost.h"
#include "zip/zipmaster.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class TDirLabel;
class TMsgform;

namespace ziptexts {
// The Ratio cell of a member: "66% ", "0% " for an empty member.
QString ratioText(quint64 compressed, quint64 uncompressed);
// The Ratio cell of the totals row: "50% ", or "0 % " when nothing is uncompressed.
QString totalRatioText(quint64 compressed, quint64 uncompressed);
// n + " file" + (" was" | "s were") + " " + verb.
QString countSentence(int n, const QString &verb);
// The Date/Time cell of a DOS date-time ("ddddd  t"); empty for an impossible date.
QString dosDateTimeText(quint32 dosDateTime);
// Checks a new archive name; returns the error text, or empty with name completed (".zip" appended).
QString checkNewZipName(QString &name);
// True for a member that is never viewed by a double click (programs, libraries, ...).
bool isUnviewableExtension(const QString &ext);
// A name as it is shown: control characters written as escapes (\n, \t, \r, \x1b, \u0085).
QString printable(const QString &name);
// A name part as extraction writes it to disk: each control character becomes "_".
QString withoutControls(const QString &name);
// The default width of the Date/Time column for a font: a wide sample date and time with the cell's margins.
int dateTimeColumnWidth(const QFontMetrics &fm);
}  // namespace ziptexts

class TZipTab : public QWidget {
  Q_OBJECT
 public:
  TZipTab(TZipHost &host, TMsgform *msgform, QWidget *parent = nullptr);
  ~TZipTab() override;

  TZipMaster *ZipMaster1 = nullptr;
  TMsgform *Msgform = nullptr;
  TSortGrid *StringGrid1 = nullptr;
  QMenu *ZipMenu = nullptr;
  QAction *Open1 = nullptr, *NewZip = nullptr, *AddTo1 = nullptr, *DeleteFrom1 = nullptr, *Extract1 = nullptr,
          *MakeSelfExtractFile1 = nullptr, *ShowMessages1 = nullptr, *Test1 = nullptr, *ConvertSpan = nullptr,
          *DestroyZipFile1 = nullptr, *CloseZipFile1 = nullptr;
  // Add panel.
  QWidget *AddToZip = nullptr;
  QListWidget *SelectedList = nullptr;
  QLabel *Label1 = nullptr;
  QCheckBox *DirNameCB = nullptr, *RecurseCB = nullptr, *HiddenCB = nullptr, *EncryptCB = nullptr, *DosNameCB = nullptr,
            *DiskSpanCB = nullptr, *FormatCB = nullptr;
  QPushButton *SelectAllFiles = nullptr, *SelectFolder = nullptr, *FreeSpace = nullptr, *VolSize = nullptr,
              *ZipButton = nullptr, *Button2 = nullptr, *NoAddZip = nullptr;
  // Extract panel.
  QWidget *ExtractPanel = nullptr;
  QGroupBox *RadioGroup1 = nullptr, *RadioGroup2 = nullptr, *RadioGroup3 = nullptr;
  QButtonGroup *RadioGroup1Items = nullptr, *RadioGroup2Items = nullptr, *RadioGroup3Items = nullptr;
  TDirLabel *DirLabel1 = nullptr;
  QPushButton *OKBut = nullptr, *Button1 = nullptr;

  // The stored column widths ("ZipCol1".."ZipCol6"), kept in step with the grid's real widths.
  void bindColumnWidths(int *widths6) { columnWidths_ = widths6; }
  // Puts the main window's directory label onto the extract panel in place of the page's own.
  void adoptDirLabel(TDirLabel *label);
  // The zip view file and the folder members are extracted into for viewing.
  QString viewFilePath() const;

  // ---- Handlers ----
  void ShowZip(const QString &file);
  void ClearViewer();  // empty grid, no archive, commands off, both panels hidden
  void FillGrid();
  void ZipMaster1DirUpdate();
  void StringGrid1ClickSort(int col, int row, TSortOptions &o);
  void StringGrid1BeginSort(int col, TSortOptions &o);
  void StringGrid1EndSort(int col);
  void StringGrid1GetCellFormat(int col, int row, int state, TFormatOptions &f);
  void StringGrid1SelectCell(int col, int row);
  void StringGrid1DblClick();
  void DeactivateZipmenu();
  void Open1Click();
  void NewZipClick();
  void AddTo1Click();
  void ZipButtonClick();
  void NoAddZipClick();
  void Button2Click();
  void SelectedListDblClick();
  void SelectAllFilesClick();
  void SelectFolderClick();
  void DosNameCBClick();
  void DiskSpanCBClick();
  void VolSizeClick();
  void FreeSpaceClick();
  void Extract1Click();
  void OKButClick(bool viewMode = false);
  void Button1Click();
  void DeleteFrom1Click();
  void Test1Click();
  void ShowMessages1Click();
  void MakeSelfExtractFile1Click();
  void ConvertSpanClick();
  void DestroyZipFile1Click();
  void CloseZipFile1Click();
  void ZipMaster1Message(int errCode, const QString &message);
  void ZipMaster1Progress(TZipMaster::ProgressType type, const QString &filename, qint64 fileSize);
  // Adds one path to SelectedList (double click in the file list, drops); a folder gets "/*.*".
  void addToSelection(const QString &path, bool folderWildcard = true);
  bool addPanelShown() const;
  bool extractPanelShown() const;
  // True while an engine call runs (its callback lets window events through).
  bool operationRunning() const { return running_; }
  int sortColumn() const { return sortCol_; }
  TSortOptions sortOptions() const { return sortOpts_; }

 protected:
  void showEvent(QShowEvent *e) override;
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  void applyColumnWidths();
  void buildMenu();
  void buildAddPanel();
  void buildExtractPanel();
  void setArchiveCommands(bool on);
  void updateCountLabel();
  void updateGridVisibility();
  QStringList selectedSpecs() const;
  // The stored member name of a grid row.
  QString memberName(int row) const;
  void say(const QString &text);
  bool ask(const QString &text);
  // Clears the messages window's log and shows it for a long operation.
  void startLog();

  TZipHost &host_;
  bool running_ = false;
  bool closeGuarded_ = false;
  int sortCol_ = 0;
  TSortOptions sortOpts_;
  quint64 totalCompressed_ = 0, totalUncompressed_ = 0;
  int ownWidths_[6] = {120, 80, 80, 100, 40, 100};
  int *columnWidths_ = ownWidths_;
  bool writingWidths_ = false;
  // Progress of the current member and of the whole operation.
  qint64 memberSize_ = 0, memberDone_ = 0, totalSize_ = 0, totalDone_ = 0;
  QHash<quint32, QString> dateCache_;
  // Stored names by the Path + File Name cells that show them, for the names shown escaped.
  QHash<QString, QString> storedNames_;
};
