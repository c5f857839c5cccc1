// The System menu and the Tools and Help items that reach the desktop: its settings tools, a terminal, the
// Run and command dialogs, format and shut down (asked first), network folders, the shell folders, the help
// page, the web page, mail and the about box.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <cerrno>
#include <unistd.h>

#include "app/tarn.h"
#include "browser/rundialog.h"
#include "browser/systemtools.h"
#include "controls/shelltree.h"
#include "platform/ask.h"

namespace {
const char *const kWebPage = "https://tarnwick.org/";
const char *const kAuthorMail = "mailto:author@tarnwick.org?subject=Tarnwick";
}  // namespace

void TTarn::setUpSystemCommands() {
  using C = systools::Command;
  const struct {
    const char *item;
    C command;
    const char *hint;
  } table[] = {
      {"AddRemovePrograms1", C::AddRemovePrograms, nullptr},
      {"DateTimeProperties1", C::DateTime, nullptr},
      {"DisplayProperties1", C::Display, nullptr},
      {"Explorer1", C::Explorer, nullptr},
      {"Fonts1", C::Fonts, nullptr},
      {"InternationalSettings1", C::International, nullptr},
      {"KeyboardProperties1", C::Keyboard, nullptr},
      {"ModemProperties1", C::Modem, nullptr},
      {"MouseProperties1", C::Mouse, nullptr},
      {"NetworkSettings1", C::Network, nullptr},
      {"Printers1", C::Printers, nullptr},
      {"SystemInformation1", C::SystemInformation, nullptr},
      {"SystemProperties1", C::SystemProperties, nullptr},
      {"ScanDisk1", C::ScanDisk, "Check a drive for any errors"},
      {"Defrag1", C::Defrag, "Defragment hard drive"},
      {"MsDosPrompt1", C::Terminal, "Drop down to DOS"},
  };
  for (const auto &row : table) {
    QAction *a = item(QLatin1String(row.item));
    if (!a) continue;
    const C command = row.command;
    connect(a, &QAction::triggered, this, [this, command] { startSystemTool(command); });
    if (row.hint) a->setStatusTip(QLatin1String(row.hint));
  }
  auto wire = [this](const char *name, const char *hint, std::function<void()> handler) {
    QAction *a = item(QLatin1String(name));
    if (!a) return;
    connect(a, &QAction::triggered, this, [handler] { handler(); });
    a->setStatusTip(QLatin1String(hint));
  };
  wire("RegEdit1", "View or Make changes to the windows registry", [this] { RegEdit1Click(100); });
  item("RegEdit1")->setProperty("Tag", 100);
  wire("SysEdit1", "View or Make changes to the system configuration files, win.ini, autoexec.bat etc.",
       [this] { RegEdit1Click(0); });
  wire("EnterDosCommand1", "Execute an Ms-Dos command", [this] { EnterDosCommand1Click(); });
  for (const char *run : {"Run2", "Run5", "Run3", "Run4"}) wire(run, "Run program", [this] { Run2Click(); });
  wire("Format1", "Format a floppy diskette", [this] { Format1Click(); });
  wire("ShutDown1", "Shut down windows or restart in MsDos mode", [this] { ShutDown1Click(); });
  wire("EditDesktop1", "Edit the windows desktop", [this] { showShellFolder(DesktopFolder); });
  wire("EditFavourites1", "Edit your favourites folder", [this] { showShellFolder(FavouritesFolder); });
  wire("EditStartMenu1", "Edit the Windows start menu", [this] { showShellFolder(StartMenuFolder); });
  wire("HelpTopics1",
       "Contains information on what Tarnwick can and cannot do plus some brief instructions on how to use Tarnwick's "
       "functions",
       [this] { HelpTopics1Click(); });
  auto open = [this](const char *url, const QString &what) {
    if (!QDesktopServices::openUrl(QUrl(QLatin1String(url))))
      systemMessage(QStringLiteral("No %1 was found to open %2.").arg(what, QLatin1String(url)));
  };
  wire("EMailAuthor", "E:mail the Tarnwick Author, Note: This will not work on some systems",
       [open] { open(kAuthorMail, QStringLiteral("mail program")); });
  wire("TarnwickUpdate", "Check the Tarnwick home page for upgrades, help files etc.",
       [open] { open(kWebPage, QStringLiteral("web browser")); });
  if (QAction *about = item(QStringLiteral("About1"))) {
    connect(about, &QAction::triggered, this, &TTarn::About1Click);
    about->setStatusTip(QStringLiteral("Display the Tarnwick about box"));
  }
  if (helpMenu_)
    helpMenu_->menuAction()->setStatusTip(
        QStringLiteral("IMPORTANT: Before selecting help, save any open html file you are currently working on"));
  connect(DosBut, &QToolButton::clicked, this, [this] { startSystemTool(systools::Command::Terminal); });
  DosBut->setToolTip(QStringLiteral("Drop down to DOS"));
  DosBut->setStatusTip(DosBut->toolTip());
  connect(MapDisk, &QToolButton::clicked, this, [this] { startSystemTool(systools::Command::MapDrive); });
  connect(DiscMap, &QToolButton::clicked, this, [this] { startSystemTool(systools::Command::DisconnectDrive); });
}

bool TTarn::startSystemTool(systools::Command c, const QString &commandLine) {
  QString message;
  if (systools::start(c, state.CurrentFolder, &message, commandLine)) return true;
  systemMessage(message);
  return false;
}

void TTarn::systemMessage(const QString &text) {
  lastSystemMessage_ = text;
  QString shown = text;
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));  // a carriage return is a line break to the user
  ask::information(this, QStringLiteral("Tarnwick"), shown);
}

void TTarn::RegEdit1Click(int tag) {
  if (tag == 100) {
    // The desktop's settings editor; without one, this program's own settings store in the editor tab.
    if (systools::choose(systools::Command::Registry, state.CurrentFolder).found) {
      startSystemTool(systools::Command::Registry);
      return;
    }
    LoadEditorFile(Reg.store().file());
    return;
  }
  // The system files of a user: the shell's start-up files.
  for (const char *name : {".bashrc", ".profile", ".zshrc"}) {
    const QString f = QDir::homePath() + QLatin1Char('/') + QLatin1String(name);
    if (QFileInfo::exists(f)) {
      LoadEditorFile(f);
      return;
    }
  }
  systemMessage(QStringLiteral("Your home folder has no shell start-up file (.bashrc, .profile, .zshrc) to edit."));
}

void TTarn::EnterDosCommand1Click() {
  const QString folder = PTShellTree1->SelectedPath();
  if (!QFileInfo(folder).isDir() || ::chdir(QFile::encodeName(folder).constData()) != 0) {
    systemMessage(QStringLiteral("I/O error %1: %2 is not a folder that a command can run in.")
                      .arg(errno ? errno : EIO)
                      .arg(folder));
    return;
  }
  bool ok = false;
  const QString command = QInputDialog::getText(this, QStringLiteral("Tarnwick - Enter Dos Command"),
                                                QStringLiteral("Command:"), QLineEdit::Normal, QString(), &ok);
  if (!ok || command.trimmed().isEmpty()) return;
  QString message;
  if (!systools::start(systools::Command::Terminal, folder, &message, command)) systemMessage(message);
}

void TTarn::Run2Click() {
  QStringList history = Reg.ReadString(QStringLiteral("Settings"), QStringLiteral("RunHistory"), QString())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  TRunDialog dlg(history, true, this);
  if (dlg.exec() != QDialog::Accepted) return;
  const QString text = dlg.commandLine();
  history = runcmd::remember(history, text);
  Reg.WriteString(QStringLiteral("Settings"), QStringLiteral("RunHistory"), history.join(QLatin1Char('\n')));
  QString message, folder;
  if (runcmd::run(text, state.CurrentFolder, &message, &folder)) return;
  if (folder.isEmpty()) {
    systemMessage(message);
    return;
  }
  // No desktop file manager: this window is one.
  if (ask::question(this, TRunDialog::kTitle, message + QStringLiteral("\n\nShow it in Tarnwick's file list?"),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
    activeTree()->SelectPath(folder);
}

void TTarn::Format1Click() {
  if (ask::question(
          this, QStringLiteral("Tarnwick - Format"),
          QStringLiteral("Formatting erases everything on a disk.\n\nOpen the disk tool to choose a removable "
                         "disk and format it?"),
          QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  startSystemTool(systools::Command::Format);
}

void TTarn::ShutDown1Click() {
  if (ask::question(this, QStringLiteral("Tarnwick - Shut Down"),
                    QStringLiteral("Shut down or restart this computer?\n\nThe desktop's own dialog asks what to do; "
                                   "unsaved work in other programs may be lost."),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  startSystemTool(systools::Command::ShutDown);
}

void TTarn::showShellFolder(const QString &folder) {
  if (!QFileInfo(folder).isDir()) {
    systemMessage(QStringLiteral("The folder %1 does not exist.").arg(folder));
    return;
  }
  PTShellTree1->SelectPath(folder);
}

QString TTarn::helpFile() {
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString &f : {dir + QStringLiteral("/help.htm"), dir + QStringLiteral("/../share/tarnwick/help.htm")})
    if (QFileInfo::exists(f)) return QFileInfo(f).canonicalFilePath();
  return QString();
}

void TTarn::HelpTopics1Click() {
  const QString help = helpFile();
  if (help.isEmpty()) {
    systemMessage(QStringLiteral(
        "Help.Htm was not found\r\rYou must place the Help.htm file in the same folder as Tarnwick.Exe"));
    return;
  }
  state.CurrentFile = help;
  ShowHtml();
}

void TTarn::About1Click() {
  QMessageBox::about(
      this, QStringLiteral("About Tarnwick"),
      QStringLiteral("Tarnwick - Version 2.4\n\rA file manager with quick viewers, made by the Tarnwick developers."));
}
