#include "browser/systemtools.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace systools {

namespace {

Candidate gcc(const QString &panel) { return {QStringLiteral("gnome-control-center"), {panel}}; }
Candidate kde(const QString &module) { return {QStringLiteral("systemsettings"), {module}}; }
Candidate kcm(const QString &module) { return {QStringLiteral("kcmshell5"), {module}}; }
Candidate plain(const QString &program, const QStringList &args = {}) { return {program, args}; }

// Terminals and the way each is told to run a command line and stay open afterwards.
QList<Candidate> terminals(bool withCommand) {
  const QString keep = QStringLiteral("%c; exec \"${SHELL:-/bin/sh}\"");
  auto t = [&](const char *name, QStringList runArgs) {
    return withCommand ? Candidate{QString::fromLatin1(name), runArgs << QStringLiteral("sh") << QStringLiteral("-c") << keep}
                       : Candidate{QString::fromLatin1(name), {}};
  };
  return {t("x-terminal-emulator", {"-e"}), t("gnome-terminal", {"--"}), t("konsole", {"-e"}),
          t("xfce4-terminal", {"-x"}),      t("mate-terminal", {"-x"}),   t("lxterminal", {"-e"}),
          t("xterm", {"-e"})};
}

}  // namespace

QList<Candidate> candidates(Command c) {
  switch (c) {
    case Command::AddRemovePrograms:
      return {plain("gnome-software"), plain("plasma-discover"), plain("synaptic-pkexec"), gcc("applications")};
    case Command::DateTime: return {gcc("datetime"), kde("kcm_clock"), plain("time-admin")};
    case Command::Display: return {gcc("display"), kde("kcm_kscreen"), plain("xfce4-display-settings"), plain("arandr")};
    case Command::Explorer:
      return {plain("nautilus", {"%d"}), plain("dolphin", {"%d"}), plain("thunar", {"%d"}), plain("nemo", {"%d"}),
              plain("caja", {"%d"}), plain("pcmanfm", {"%d"}), plain("xdg-open", {"%d"})};
    case Command::Fonts: return {plain("gnome-font-viewer"), plain("font-manager"), kcm("kcm_fonts"), plain("xfce4-appearance-settings")};
    case Command::International: return {gcc("region"), kde("kcm_regionandlang"), kcm("kcm_formats")};
    case Command::Keyboard: return {gcc("keyboard"), kde("kcm_keyboard"), plain("xfce4-keyboard-settings")};
    case Command::Modem: return {plain("nm-connection-editor"), gcc("network"), kde("kcm_networkmanagement")};
    case Command::Mouse: return {gcc("mouse"), kde("kcm_mouse"), plain("xfce4-mouse-settings")};
    case Command::Network: return {gcc("network"), kde("kcm_networkmanagement"), plain("nm-connection-editor")};
    case Command::Printers: return {gcc("printers"), kde("kcm_printer_manager"), plain("system-config-printer")};
    case Command::SystemInformation: return {plain("hardinfo"), plain("kinfocenter"), gcc("info-overview"), plain("gnome-system-monitor")};
    case Command::SystemProperties: return {gcc("info-overview"), kde("kcm_about-distro"), plain("xfce4-settings-manager")};
    case Command::ScanDisk: return {plain("gnome-disks"), plain("partitionmanager"), plain("gparted")};
    case Command::Defrag: return {};
    case Command::Registry: return {plain("dconf-editor"), plain("kwrite", {QDir::homePath() + QStringLiteral("/.config")})};
    case Command::Terminal: return terminals(false);
    case Command::Format: return {plain("gnome-disks"), plain("partitionmanager"), plain("gparted")};
    case Command::ShutDown:
      return {plain("gnome-session-quit", {"--power-off"}), plain("qdbus", {"org.kde.Shutdown", "/Shutdown", "logout"}),
              plain("xfce4-session-logout"), plain("mate-session-save", {"--shutdown-dialog"}), plain("lxqt-leave")};
    case Command::MapDrive:
    case Command::DisconnectDrive:
      return {plain("nautilus", {"other-locations:///"}), plain("dolphin", {"remote:/"}), plain("thunar", {"network:///"}),
              plain("nemo", {"network:///"}), plain("caja", {"network:///"}), plain("gigolo")};
  }
  return {};
}

QString refusal(Command c) {
  if (c == Command::Defrag)
    return QStringLiteral("The file systems of this computer keep their files in one piece by themselves: there is "
                          "nothing to defragment.");
  return {};
}

QString notFoundMessage(const QStringList &lookedFor) {
  return QStringLiteral("No program for this command was found. Tarnwick looked for: %1.").arg(lookedFor.join(QStringLiteral(", ")));
}

Choice choose(Command c, const QString &folder, const QString &commandLine, const QString &searchPath) {
  Choice out;
  QList<Candidate> list = candidates(c);
  if (c == Command::Terminal) {
    const QString own = qEnvironmentVariable("TERMINAL");
    const QList<Candidate> runners = terminals(!commandLine.isEmpty());
    list = runners;
    if (!own.isEmpty()) list.prepend(commandLine.isEmpty() ? Candidate{own, {}} : Candidate{own, runners.last().args});
  }
  const QStringList dirs = searchPath.isEmpty() ? QStringList() : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  for (const Candidate &cand : list) {
    out.lookedFor << cand.program;
    const QString path = QStandardPaths::findExecutable(cand.program, dirs);
    if (path.isEmpty()) continue;
    out.found = true;
    out.path = path;
    for (QString a : cand.args) {
      if (a == QLatin1String("%d")) a = folder;
      a.replace(QLatin1String("%c"), commandLine);
      out.args << a;
    }
    return out;
  }
  return out;
}

FolderOpener folderOpener(QString *program, const QString &searchPath) {
  const QStringList dirs = searchPath.isEmpty() ? QStringList() : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"), dirs);
  const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"), dirs);
  if (!xdgMime.isEmpty() && !xdgOpen.isEmpty()) {
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")});
    if (query.waitForFinished(3000) && query.exitCode() == 0) {
      const QString entry = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
      // An association left behind by a program that is gone opens nothing.
      if (!entry.isEmpty() && entry != QLatin1String("tarnwick.desktop") &&
          !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry).isEmpty())
        return FolderOpener::Association;
    } else {
      query.kill();
      query.waitForFinished(1000);
    }
  }
  for (const Candidate &c : candidates(Command::Explorer)) {
    if (c.program == QLatin1String("xdg-open")) continue;
    const QString path = QStandardPaths::findExecutable(c.program, dirs);
    if (path.isEmpty()) continue;
    if (program) *program = path;
    return FolderOpener::Program;
  }
  return FolderOpener::None;
}

bool start(Command c, const QString &folder, QString *message, const QString &commandLine, const QString &searchPath) {
  if (const QString no = refusal(c); !no.isEmpty()) {
    if (message) *message = no;
    return false;
  }
  const Choice ch = choose(c, folder, commandLine, searchPath);
  if (!ch.found) {
    if (message) *message = notFoundMessage(ch.lookedFor);
    return false;
  }
  const QString dir = QFileInfo(folder).isDir() ? folder : QDir::homePath();
  if (!QProcess::startDetached(ch.path, ch.args, dir)) {
    if (message) *message = QStringLiteral("%1 could not be started.").arg(ch.path);
    return false;
  }
  return true;
}

}  // namespace systools
