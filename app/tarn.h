#pragma once
// The main window: the hub that owns the named controls and the shared state.
#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include "app/myregistry.h"
#include "app/mainstate.h"
#include "browser/systemtools.h"
#include "formats/raster/imageio.h"

// The hosts are owned here but defined by their windows: a change to one rebuilds its window and the
// app/ file that wires it, not every user of this header.
class TFtpHost;
class THexHost;
class TRichHost;
class TImgHost;
class TScanHost;
class TImagesHost;
class TOfficeHost;
class TMediaHost;
class TMarkdownHost;
class TCalcHost;
class TMp3Host;
class TDbfHost;
class TZipHost;
namespace browser {
class FileCommandHost;
class TFileCommands;
}  // namespace browser

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWidget;
class TDirLabel;
class TLayouts;
class TEditorHost;
class TEditorTab;
class THtmlHost;
class THtmlTab;
class QPrinter;
class TFtpForm;
class TFtpPanel;
class TLEdit;
class TMP3Tag;
class TMsgform;
class TSortGrid;
class TZipMaster;
class TZipTab;
class TarnZipHost;
class TPTShellCombo;
class TPTShellList;
class TPTShellTree;
namespace platform {
class MountWatcher;
class RegStore;
}  // namespace platform

class TTarn : public QMainWindow {
  Q_OBJECT
 public:
  // args: the command-line arguments after the program name.
  explicit TTarn(const QStringList &args = {}, QWidget *parent = nullptr);
  ~TTarn() override;

  TMainState state;

  // Named controls.
  QToolBar *PTGroup1 = nullptr;
  QToolButton *DosBut = nullptr, *TreeBut = nullptr, *DualBut = nullptr, *Calculator = nullptr, *FindFiles = nullptr,
              *DeleteBtn = nullptr, *LargeIconsBtn = nullptr, *SmallIconsBtn = nullptr, *ListBtn = nullptr,
              *DetailsBtn = nullptr, *NewDir = nullptr, *ShowProperties = nullptr, *MapDisk = nullptr,
              *DiscMap = nullptr;
  QDateEdit *Date1 = nullptr;
  QComboBox *Edit2 = nullptr;
  QComboBox *Hcb1 = nullptr;
  QSplitter *RxSplitter1 = nullptr;
  QSplitter *PTSplitter1 = nullptr;
  QWidget *Panel4 = nullptr;
  TPTShellCombo *PTShellCombo1 = nullptr;
  QToolButton *UpOneLevelBtn = nullptr;
  QLabel *animate1 = nullptr;
  TPTShellTree *PTShellTree1 = nullptr;
  TPTShellList *PTShellList1 = nullptr;
  QStatusBar *StatusBar2 = nullptr;
  QLabel *StatusBar2Panels[3] = {};
  QWidget *Panel1 = nullptr;
  QLabel *Panel1Caption = nullptr;
  QTabWidget *Pc1 = nullptr;
  QWidget *EditorCmd = nullptr, *ImageCmd = nullptr, *HtmlCmd = nullptr, *ZipManCmd = nullptr, *MediaCmd = nullptr,
          *ExcelCmd = nullptr;
  TEditorTab *EditorTab = nullptr;
  TLEdit *LEdit1 = nullptr;
  // The Html tab (app/tarn_html.cpp) and its host adapter, declared first: the destructor deletes the tab.
  std::unique_ptr<THtmlHost> htmlHost_;
  THtmlTab *HtmlTab = nullptr;
  // The Images tab and the image windows (app/tarn_images.cpp). CheckIfAnimated keeps what it read of the
  // current file (image count, width, height) for the next image window.
  std::unique_ptr<TImagesHost> imagesHost_;
  class TImagesTab *ImagesTab = nullptr;
  std::unique_ptr<TImgHost> imgHost_;
  imageio::Info imageInfo_;
  imageio::Info CheckIfAnimated();
  class TImgForm *newImageWindow(bool thumbnails);
  // A double click on the tab's picture or its "Open In Window": a new image window on that file.
  void openImageWindowOn(const QString &path);
  void Thumbnails1Click();
  // The System menu and the items that reach the desktop (app/tarn_system.cpp).
  void setUpSystemCommands();
  // Starts the desktop's tool for a command in the current folder; a missing tool is said by name.
  bool startSystemTool(systools::Command c, const QString &commandLine = QString());
  // A message box about a system command; the last text is kept for tests.
  void systemMessage(const QString &text);
  QString lastSystemMessage_;
  void RegEdit1Click(int tag);
  void EnterDosCommand1Click();
  void Run2Click();
  void Format1Click();
  void ShutDown1Click();
  void showShellFolder(const QString &folder);
  // The help page beside the program (or installed with it), or empty.
  static QString helpFile();
  void HelpTopics1Click();
  void About1Click();
  // The scanner window (app/tarn_scan.cpp), modal; its host is made on first use.
  std::unique_ptr<TScanHost> scanHost_;
  void ScanImage1Click();
  // The print dialog of the viewer tabs: pages 1..maxPage, a page range or all (from and to both 0).
  bool askPrintRange(QPrinter &printer, int maxPage);
  // The Office97 tab and the MultiMedia tab (app/tarn_office.cpp, app/tarn_media.cpp), each with its host
  // adapter declared before it (the destructor deletes the tabs first) and the converter records' store.
  std::unique_ptr<platform::RegStore> converterStore_;
  std::unique_ptr<TOfficeHost> officeHost_;
  class TOfficeTab *OfficeTab = nullptr;
  void buildOfficeTab();
  // At the program's close: false while a document conversion runs below the close (the window must not
  // go from under it); the conversion is then stopped and the window closes again once it has returned.
  bool officeLetsClose();
  bool closeAfterConversion_ = false;
  std::unique_ptr<TMediaHost> mediaHost_;
  class TMediaTab *MediaTab = nullptr;
  void buildMediaTab();
  void CloseMMediaClick();
  // The Pdf tab (app/tarn_pdf.cpp): its page PdfCmd joins the viewer tabs with the first PDF clicked.
  QWidget *PdfCmd = nullptr;
  class TPdfTab *PdfTab = nullptr;
  void ShowPdf();
  // The Markdown tab (app/tarn_markdown.cpp): joins the viewer tabs with the first Markdown file clicked.
  QWidget *MarkdownCmd = nullptr;
  class TMarkdownTab *MarkdownTab = nullptr;
  std::unique_ptr<TMarkdownHost> markdownHost_;
  void ShowMarkdown();
  // The second browser pair of the dual file manager (app/tarn_layouts.cpp), the twin of the first.
  QSplitter *PTSplitter2 = nullptr;
  QWidget *panel2 = nullptr;
  TPTShellCombo *PTShellCombo2 = nullptr;
  QToolButton *UpLevel2 = nullptr;
  QLabel *animate2 = nullptr;
  TPTShellTree *PTShellTree2 = nullptr;
  TPTShellList *PTShellList2 = nullptr;
  // Each pair's folder tabs (app/tarn_tabs.cpp): View's tab items act on the active pair's.
  class TFolderTabs *FolderTabs1 = nullptr, *FolderTabs2 = nullptr;
  TFolderTabs *activeTabs() const;
  void wireFolderTabs();
  void restoreFolderTabs();
  void saveFolderTabs();
  void folderTabSwitched(int pair);
  QStatusBar *StatusBar3 = nullptr;
  QLabel *StatusBar3Panels[3] = {};
  QMenu *ListPopUp2 = nullptr;
  QWidget *FtpPanel = nullptr;
  QLabel *StatusBar1Panel = nullptr;
  TDirLabel *DirLabel1 = nullptr;
  QMenu *ListPopup = nullptr;
  QMenu *RefreshEdit2 = nullptr;
  QAction *HideFolders1 = nullptr;
  // The Zip tab (app/tarn_zip.cpp) and its host adapter (the destructor deletes the page first).
  std::unique_ptr<TZipHost> zipHost_;
  TZipTab *ZipTab = nullptr;
  TSortGrid *StringGrid1 = nullptr;
  TZipMaster *ZipMaster1 = nullptr;
  TMsgform *Msgform = nullptr;
  void NewZipClick();

  // Menu items by their names (for example "WordWrap", "Cbox4").
  QAction *item(const QString &name) const { return items_.value(name); }
  bool checked(const QString &name) const;

  // What the viewer table decided last (for the dispatch entry points that have no viewer yet).
  QString lastViewerAction;

  // Handlers of the first browser pair.
  void PTShellTree1Change(const QString &path);
  void PTShellList1Change();
  void PTShellList1FillComplete();
  void PTShellList1Click();
  void PTShellList1DblClickOpen(bool &afHandled);
  void PTShellList1KeyUp(int key);
  void PTShellList1MouseMove();
  void UpOneLevelBtnClick();
  void TreeRefreshMitmClick();
  void ViewBtnClick(int tag);
  void HideFolders1Click();
  void ShowHiddenFiles1Click();
  void DynamicRefresh1Click();
  void Highlightexecutables1Click();
  void ChangeFontClick();
  void Edit2Click();
  void RefreshExt1Click();
  void Edit3Click();
  void CDEvents1AfterArrival(const QString &root);

  // Viewer dispatch.
  void GetTheFile();
  void Pc1Change();
  void Viewers1Click();
  // Files dropped on the window: only the first counts.
  void filesDropped(const QStringList &paths);
  void ShowZip();
  void ShowImages();
  void ShowHtml();
  void ShowMultiMedia();
  void ShowRtf();
  void GetExcel();
  void GetDBase();
  void GetMp3();
  // The two editors' questions: save unsaved text (Yes/No), overwrite a file changed behind the editor.
  bool askSaveChanges(const QString &question);
  bool askOverwriteChangedFile(const QString &path);
  // Loads a file into the text editor of the "Editor" tab.
  bool LoadEditorFile(const QString &path);

  // Frame.
  void AutoStartClick();
  void CloseMitmClick();
  void FormShow();
  // A folder or file named on the command line or handed over by another start: a folder opens in the first
  // list; a file opens its folder there with the file selected, and shows in its viewer as a click shows it.
  void openPath(const QString &path);
  // Arguments handed over by a second start (platform/instancechannel): the window comes forward and opens
  // what they name (commandline::target).
  void openFromAnotherStart(const QStringList &paths);
  // The desktop ends the program (a logout: SIGTERM or SIGHUP): the window ends as closing does, but asks
  // nothing, since nobody is there to answer. Open questions are cancelled, settings are saved as on exit,
  // and the user's documents are neither saved nor touched: text not yet saved is kept in the recovery
  // folder (named at the next start). The caller then ends the event loop.
  void endSession();
  bool sessionEnding() const { return ending_; }
  // Where endSession keeps unsaved text.
  static QString recoveryFolder();
  // File commands on the browser panes (app/tarn_files.cpp); the host adapter is declared first so that it
  // outlives the commands.
  std::unique_ptr<browser::FileCommandHost> fileHost;
  std::unique_ptr<browser::TFileCommands> fileCommands;

  // Settings.
  TMyRegistry Reg;
  void GetRegSettings();
  void FirstTimeRan();
  void SaveRegSettings();
  void Cbox3Click();
  void SaveNow1Click();
  void FileAttClick();
  void ShowPreviews1Click();
  void applyPreviews();
  // The shell folder paths read at start-up (used by the system tools).
  QString StartMenuFolder, DesktopFolder, FavouritesFolder;
  QAction *Word971 = nullptr, *Word951 = nullptr;
  // Stored widths of the zip contents grid's columns and of the left block.
  int zipColumnWidths[6] = {120, 80, 80, 100, 40, 100};
  int leftBlockWidth = 312;
  int treePaneHeight = 120;

  // FTP client (app/tarn_ftp.cpp): what the FTP window and panel see of this window (the destructor
  // deletes them first, so they never outlive it), the FTP window and the panel shown in FtpPanel.
  std::unique_ptr<TFtpHost> ftpHost_;
  TFtpForm *FtpForm1 = nullptr;
  TFtpPanel *FtpPanel1 = nullptr;
  void FtpClient1Click(QObject *sender);
  void ftpSessionMenus(bool session);
  void showFtpPanel(bool show);
  void ftpFilesDropped(const QStringList &paths);
  // The window is closing: the FTP session ends and the site profiles are saved.
  void ftpProgramClosing();

  QString maskListFile() const;

  // The layouts and the dual file manager (app/layouts.h); the two pairs (app/tarn_pairs.cpp).
  TLayouts &layouts() { return *layouts_; }
  // True while the dual file manager shows the second pair's marker: the shared commands go to that pair.
  bool secondPairActive() const;
  // The tree and drive combo of the active pair.
  TPTShellTree *activeTree() const;
  TPTShellCombo *activeCombo() const;
  TPTShellList *activeList() const;
  // Handlers of the second pair.
  void PTShellTree2Change(const QString &path);
  void PTShellList2Change();
  void PTShellList2FillComplete();
  void PTShellList2Click();
  void PTShellList2DblClickOpen(bool &afHandled);
  void HideFolders2Click();
  void fDetailsBtnClick(int tag);
  void UpLevel2Click();

  // ---- Favourites, list files, start folder, path dialog (app/tarn_favourites.cpp) ----
  // Fills the favourites combo from the favourites file, when there is one.
  void loadFavourites();
  QMenu *EditTarnwickFav = nullptr;  // the favourites combo's pop-up
  // Adds the tree's folder to the favourites and rewrites their file at once.
  void AddToFavourites1Click(TPTShellTree *tree);
  // A favourite chosen in the combo: the active tree goes there.
  void Hcb1Click();
  void EditTarnwickFavPopup();
  void EditFavourites2Click();
  // The Tools "Tarnw&ick" items: the file into the editor tab, or the message when it is missing.
  void openOwnFile(const QString &file, const QString &missing);
  void SetStart1Click();
  void TreeSelectPathnameMitmClick();
  // ---- end of favourites ----
  // The first list's current hint (long form), after the last mouse move.
  QString listHint() const { return listHint_; }
  QString startError() const { return startError_; }

  // Hex editor (app/tarn_hex.cpp): its window reaches this one only through hexHost, made on first use;
  // the destructor deletes the hex window before it.
  std::unique_ptr<THexHost> hexHost;
  void HexEditor1Click();

  // Rich text windows (app/tarn_rich.cpp): a new one for every clicked ".rtf" (handOver: it opens the
  // current file) and every "&Rtf File" item (an empty document); they reach this window through richHost_.
  std::unique_ptr<TRichHost> richHost_;
  class TRichForm *openRichForm(bool handOver);

  // MP3 tag editor and calculator (app/tarn_mp3.cpp, app/tarn_calc.cpp): the tag component Mp31 that a
  // clicked ".mp3" is given to, and the hosts of the two windows, made on first use (the destructor deletes
  // the calculator window before them; the tag editor is modal and gone when GetMp3 returns).
  std::unique_ptr<TMp3Host> mp3Host;
  TMP3Tag *Mp31 = nullptr;
  std::unique_ptr<TCalcHost> calcHost;
  void CalculatorClick();
  // Database viewer (TTarnDbf, one window per table) and fonts viewer (TFontForm) (app/tarn_dbf.cpp): they
  // reach this window only through dbfHost, made on first use; the destructor deletes them before it.
  std::unique_ptr<TDbfHost> dbfHost;
  void SystemFonts1Click();
  void ChecksumsClick();   // app/tarn_checksums.cpp
  void RenameManyClick();  // app/tarn_rename.cpp
  void deleteDbfWindows();
  void deleteFontsWindow();  // app/tarn_fonts.cpp
  // At the program's close: every table window closes as its close box would (pending edits posted). False
  // when one refused (its edit cannot be written): the program then stays open.
  bool closeDbfWindows();

 protected:
  bool event(QEvent *e) override;
  void closeEvent(QCloseEvent *e) override;
  void dragEnterEvent(QDragEnterEvent *e) override;
  void dropEvent(QDropEvent *e) override;
  bool eventFilter(QObject *o, QEvent *e) override;

 private:
  friend class TarnZipHost;
  friend class TLayouts;
  std::unique_ptr<TLayouts> layouts_;
  // The menus (app/tarn_menus.cpp): made from one table, then the frame's own items connected.
  void buildMenus();
  void buildMenusFromTable();
  QHash<QString, QMenu *> menus_;
  void setUpFileCommands();
  // ---- Favourites (app/tarn_favourites.cpp) ----
  void setUpFavourites();
  // ---- end of favourites ----
  void buildToolBar();
  void buildPanes();
  void buildViewers();
  void buildEditorTab();
  friend class TarnEditorHost;
  std::unique_ptr<TEditorHost> editorHost_;  // outlives EditorTab (see the destructor)
  void buildZipTab();
  void buildHtmlTab();
  void buildImagesTab();
  void buildSecondPair();
  // The hooks both lists share: folders hidden by the pair's "&Hide Folders" item, highlighted names.
  void wirePairList(TPTShellList *list, QAction *const *hideFolders);
  // "&Hide Folders"/"&Show Folders" of a pair's pop-up.
  void toggleHideFolders(QAction *item, TPTShellList *list);
  // Arrow keys in a list re-run its click.
  static bool isArrowKey(int key);
  // A list's status texts: count, then size and free space when its column 1 is "Size" (else empty).
  void fillSizePanels(TPTShellList *list, QLabel *const panels[3]);
  // Size of the listed files and free space into panels 1 and 2.
  void sizePanels(TPTShellList *list, QLabel *const panels[3]);
  void refreshSecondPair();
  void pickListItem(TPTShellList *list, TPTShellTree *tree, int row);
  // A click on a member of an archive folder: its copy in a private folder goes to the viewers.
  void showArchiveMember(int row);
  QString extractMemberForViewing(const QString &member, qint64 size, QString *error);
  bool secondPairShown() const;
  // The first pair shows `folder`; `name`, when given, is selected in the list once listed.
  void showInFirstList(const QString &folder, const QString &name);
  QMetaObject::Connection selectWhenListed_;
  QMenu *fileMenu_ = nullptr, *editorMenu_ = nullptr, *miscMenu_ = nullptr, *optionsMenu_ = nullptr,
        *toolsMenu_ = nullptr, *viewMenu_ = nullptr, *helpMenu_ = nullptr, *tarnwickMenu_ = nullptr;
  QList<QAction *> secondViewItems_;  // the second list's four view items, tagged 0..3
  QAction *HideFolders2 = nullptr;
  void FormCreate();
  QAction *addItem(QMenu *menu, const QString &name, const QString &caption, const QString &key = {},
                   std::function<void()> handler = {}, bool checkable = false, bool checkedOnStart = false);
  void setupFtp();
  QWidget *ftpPrevViewer_ = nullptr;
  void setTitle(const QString &text);
  void updateSizePanels();
  void applyListOptions();
  bool statusBarHidden() const;

  QStringList args_;
  QHash<QString, QAction *> items_;
  QList<QAction *> viewItems_;  // the eight view-style items (menu and pop-up), tagged 0..3
  QList<QToolButton *> viewButtons_;
  int savedColumnWidths_[4] = {150, 70, 90, 110};
  bool applyStoredViewStyle_ = false;
  int storedViewStyle_ = 3;
  QString listHint_;
  QString listPick_;  // the file the first list's click picked last; its title outlives refills
  QString startError_;
  platform::MountWatcher *mounts_ = nullptr;
  int firstRunFlag_ = 0;
  bool saveNow_ = false;
  bool toldSaveFailed_ = false;
  bool ending_ = false;
  // Writes every unsaved text of the editors into the recovery folder; the list of what was kept is stored
  // for the next start.
  void keepUnsavedText();
  // At start-up: tells what the last ended session kept, once.
  void tellRecoveredText();
};
