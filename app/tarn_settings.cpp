// Options, geometry and column widths kept in the settings store across runs.
#include <QAction>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStandardPaths>
#include <QDir>
#include "app/layouts.h"
#include "app/tarn.h"
#include "controls/shelllist.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "viewers/editortab.h"
#include "platform/ask.h"

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kShellFolders = QStringLiteral("Windows\\CurrentVersion\\Explorer\\Shell Folders");
const QString kAdvanced = QStringLiteral("Windows\\CurrentVersion\\Explorer\\Advanced");
const QString kTarnwickKey = QStringLiteral("Software\\Tarnwick2");
const QString kMicrosoftKey = QStringLiteral("Software\\Microsoft\\");
const QString kDefaultStart = QStringLiteral("/");

// Check-marked options and their stored names, in the order they are read and written.
struct BoolOption {
  const char *value;
  const char *item;
  bool word97 = false;
  bool word95 = false;
};
const BoolOption kBools[] = {
    {"DualFile", "DualFileManager1"},
    {"RunExe", "Cbox1"},
    {"HighExe", "Highlightexecutables1"},
    {"StartMax", "Cbox2"},
    {"SaveSet", "Cbox3"},
    {"WordWrapOpt", "WordWrap"},
    {"ViewWord97", nullptr, true},
    {"ViewWord95", nullptr, false, true},
    {"StartAuto", "AutoStart"},
    {"CorrectDiskSpaceFree", "DiskSpace"},
    {"ImageInWindow", "ImageWindow"},
    {"EditMp3Tags", "Mp3Edit"},
    {"ShowPreviews", "ShowPreviews1"},
};

QSize screenSize() {
  QScreen *s = QGuiApplication::primaryScreen();
  return s ? s->geometry().size() : QSize(1024, 768);
}
}  // namespace

void TTarn::GetRegSettings() {
  Reg.RegPath = kTarnwickKey;
  firstRunFlag_ = Reg.ReadInteger(kSettings, "FirstTime", 0);
  if (firstRunFlag_ != 1) FirstTimeRan();
  for (int i = 0; i < 4; ++i)
    savedColumnWidths_[i] = Reg.ReadInteger(kSettings, QString("FileCol%1").arg(i + 1), savedColumnWidths_[i]);
  for (int i = 0; i < 6; ++i)
    zipColumnWidths[i] = Reg.ReadInteger(kSettings, QString("ZipCol%1").arg(i + 1), zipColumnWidths[i]);
  storedViewStyle_ = qBound(0, Reg.ReadInteger(kSettings, "TagSet", storedViewStyle_), 3);
  state.StartFolder = Reg.ReadString(kSettings, "StartDir", kDefaultStart);
  for (const BoolOption &o : kBools) {
    const bool v = Reg.ReadBool(kSettings, o.value, false);
    if (o.item) item(o.item)->setChecked(v);
    if (o.word97) Word971->setChecked(v);
    if (o.word95) Word951->setChecked(v);
  }
  resize(width(), Reg.ReadInteger(kSettings, "FormHt", 0));
  resize(Reg.ReadInteger(kSettings, "FormWid", 0), height());
  const int splitter1 = Reg.ReadInteger(kSettings, "Splitter1", 0);
  const int splitter2 = Reg.ReadInteger(kSettings, "Splitter2", 0);
  leftBlockWidth = splitter2 > 0 ? splitter2 : splitter1;
  treePaneHeight = Reg.ReadInteger(kSettings, "SPosition", 0);
  EditorTab->SetTabSize(Reg.ReadInteger(kSettings, "EditorTabSize", 0));
  // The entry follows the option: written or removed now.
  platform::setAutostart(QStringLiteral("Tarnwick"), checked("AutoStart"), QCoreApplication::applicationFilePath());
  if (checked("Cbox2")) setWindowState(windowState() | Qt::WindowMaximized);

  Reg.RegPath = kMicrosoftKey;
  const QString home = QDir::homePath();
  StartMenuFolder = Reg.ReadString(kShellFolders, "Start Menu", QDir::homePath() + "/.local/share/applications");
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  DesktopFolder = Reg.ReadString(kShellFolders, "Desktop", desktop.isEmpty() ? home + "/Desktop" : desktop);
  FavouritesFolder = Reg.ReadString(kShellFolders, "Favorites", platform::userFile(QStringLiteral("Favourites")));
  item("FileAtt")->setChecked(Reg.ReadBool(kAdvanced, "ShowAttribCol", false));
  if (Reg.ReadBool(kAdvanced, "HideFileExt", false)) Reg.WriteBool(kAdvanced, "HideFileExt", false);
  PTShellList1->model()->setHideExtensions(Reg.ReadBool(kAdvanced, "HideFileExt", false));
  PTShellList1->model()->setShowAttributes(checked("FileAtt"));
  Reg.Close();
  Reg.RegPath = kTarnwickKey;
  applyPreviews();

  EditorTab->SetWordWrap(checked("WordWrap"));
  if (!Word951->isChecked() && !Word971->isChecked()) Word971->setChecked(true);
}

void TTarn::FirstTimeRan() {
  state.StartFolder = kDefaultStart;
  Reg.BeginUpdate();
  const QSize screen = screenSize();
  Reg.WriteInteger(kSettings, "FirstTime", 1);
  Reg.WriteInteger(kSettings, "TagSet", 3);
  Reg.WriteString(kSettings, "StartDir", kDefaultStart);
  const int fileCols[4] = {140, 75, 100, 90};
  for (int i = 0; i < 4; ++i) Reg.WriteInteger(kSettings, QString("FileCol%1").arg(i + 1), fileCols[i]);
  const int zipCols[6] = {120, 80, 80, 100, 40, 100};
  for (int i = 0; i < 6; ++i) Reg.WriteInteger(kSettings, QString("ZipCol%1").arg(i + 1), zipCols[i]);
  Reg.WriteInteger(kSettings, "FormHt", screen.height());
  Reg.WriteInteger(kSettings, "FormWid", screen.width());
  Reg.WriteInteger(kSettings, "Splitter1", screen.width() / 2 - 2);
  Reg.WriteInteger(kSettings, "Splitter2", screen.width() / 2 - 2);
  Reg.WriteInteger(kSettings, "SPosition", 120);
  Reg.WriteInteger(kSettings, "EditorTabSize", 6);
  SaveRegSettings();
}

void TTarn::SaveRegSettings() {
  if (!saveNow_ && !checked("Cbox3")) return;
  Reg.BeginUpdate();
  if (firstRunFlag_ == 1) {
    // A maximized window keeps the size it will return to.
    const QRect g = isMaximized() ? normalGeometry() : geometry();
    Reg.WriteInteger(kSettings, "FormHt", g.height());
    Reg.WriteInteger(kSettings, "FormWid", g.width());
    // A hidden left block (full screen) keeps the width it comes back with.
    const int left = layouts_->leftBlockWidthToStore();
    Reg.WriteInteger(kSettings, "Splitter1", left);
    Reg.WriteInteger(kSettings, "Splitter2", left);
    Reg.WriteInteger(kSettings, "SPosition", PTSplitter1->sizes().value(0));
    for (int i = 0; i < PTShellList1->columnCount() && i < 4; ++i)
      Reg.WriteInteger(kSettings, QString("FileCol%1").arg(i + 1), PTShellList1->columnWidth(i));
    for (int i = 0; i < 6; ++i) Reg.WriteInteger(kSettings, QString("ZipCol%1").arg(i + 1), zipColumnWidths[i]);
  }
  Reg.WriteString(kSettings, "StartDir", state.StartFolder);
  Reg.WriteInteger(kSettings, "FirstTime", 1);
  Reg.WriteInteger(kSettings, "EditorTabSize", EditorTab->TabSize());
  Reg.WriteInteger(kSettings, "TagSet", state.CurrentViewStyle);
  saveFolderTabs();
  for (const BoolOption &o : kBools) {
    const bool v = o.item ? checked(o.item) : o.word97 ? Word971->isChecked() : Word951->isChecked();
    Reg.WriteBool(kSettings, o.value, v);
    if (QLatin1String(o.value) == QLatin1String("StartAuto"))
      item("AutoStart")->setChecked(Reg.ReadBool(kSettings, "StartAuto", false));
  }
  Reg.Close();
  firstRunFlag_ = 1;
  if (Reg.writeFailed() && !toldSaveFailed_ && !ending_) {  // at a logout nobody could read it
    toldSaveFailed_ = true;                                 // once per run is enough
    ask::warning(this, QStringLiteral("Tarnwick"),
                 QStringLiteral("The settings could not be saved to %1.").arg(Reg.store().file()));
  }
  Reg.clearWriteFailed();
}

void TTarn::Cbox3Click() {
  if (!checked("Cbox3")) {
    Reg.WriteBool(kSettings, "SaveSet", false);
    Reg.Close();
  }
}

void TTarn::SaveNow1Click() {
  saveNow_ = true;
  SaveRegSettings();
  saveNow_ = false;
}

void TTarn::applyPreviews() {
  for (TPTShellList *list : {PTShellList1, PTShellList2})
    if (list) list->setPreviews(checked("ShowPreviews1"));
}

// A view option: kept at once, as the other view options are.
void TTarn::ShowPreviews1Click() {
  applyPreviews();
  Reg.RegPath = kTarnwickKey;
  Reg.WriteBool(kSettings, "ShowPreviews", checked("ShowPreviews1"));
  Reg.Close();
}

void TTarn::FileAttClick() {
  Reg.RegPath = kMicrosoftKey;
  Reg.WriteBool(kAdvanced, "ShowAttribCol", checked("FileAtt"));
  Reg.Close();
  Reg.RegPath = kTarnwickKey;
  PTShellList1->model()->setShowAttributes(checked("FileAtt"));
  SaveNow1Click();
}
