// The desktop tools table and the Run command, with a PATH of recording stand-in programs made here: which
// program starts with which arguments, and what the user is told when none is there.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "browser/rundialog.h"
#include "browser/systemtools.h"
#include "tests/common/testenv.h"

namespace {

// A program that writes its arguments, one a line, into <name>.args beside itself.
QString standIn(const QString &dir, const QString &name) {
  const QString path = testenv::writeFile(dir + "/" + name, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

QStringList argsOf(const QString &program) {
  const QString file = program + ".args";
  if (!testenv::waitFor([&] { return QFileInfo(file).size() > 0 || QFileInfo::exists(file); })) return {"<not started>"};
  testenv::waitFor([&] { return QFileInfo(file).size() > 0; }, 1000);  // an empty list writes an empty file
  return QString::fromUtf8(testenv::readFile(file)).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

TEST(SystemTools, TheFirstToolFoundStartsWithItsArgumentsWithoutAShell) {
  using C = systools::Command;
  const QString bin = testenv::makeDir("bin");
  const QString folder = testenv::makeDir("a folder; with $(blanks)");
  // Only the later candidates are present: the earlier ones are skipped.
  const QString kde = standIn(bin, "systemsettings");
  const QString thunar = standIn(bin, "thunar");
  const QString xterm = standIn(bin, "xterm");

  QString message;
  ASSERT_TRUE(systools::start(C::DateTime, folder, &message, QString(), bin)) << message.toStdString();
  EXPECT_EQ(argsOf(kde), QStringList{"kcm_clock"});
  ASSERT_TRUE(systools::start(C::Explorer, folder, &message, QString(), bin)) << message.toStdString();
  EXPECT_EQ(argsOf(thunar), QStringList{folder});  // one argument, blanks and shell characters untouched
  ASSERT_TRUE(systools::start(C::Terminal, folder, &message, "ls -l 'my file'", bin));
  EXPECT_EQ(argsOf(xterm), (QStringList{"-e", "sh", "-c", "ls -l 'my file'; exec \"${SHELL:-/bin/sh}\""}));

  // A terminal named by $TERMINAL comes first.
  const QString mine = standIn(bin, "my-terminal");
  qputenv("TERMINAL", "my-terminal");
  const systools::Choice own = systools::choose(C::Terminal, folder, QString(), bin);
  qunsetenv("TERMINAL");
  EXPECT_EQ(own.path, mine);

  // Nothing installed: the message names every program looked for, in order; Defrag is refused outright.
  const QString empty = testenv::makeDir("empty");
  EXPECT_FALSE(systools::start(C::Printers, folder, &message, QString(), empty));
  EXPECT_EQ(message, "No program for this command was found. Tarnwick looked for: gnome-control-center, systemsettings, "
                     "system-config-printer.");
  EXPECT_FALSE(systools::start(C::Defrag, folder, &message, QString(), bin));
  EXPECT_TRUE(message.contains("nothing to defragment"));
  // Every command has a way, or says why not.
  for (int c = int(C::AddRemovePrograms); c <= int(C::DisconnectDrive); ++c)
    EXPECT_TRUE(!systools::candidates(C(c)).isEmpty() || !systools::refusal(C(c)).isEmpty()) << c;
}

TEST(RunCommand, RunsFilesWithBlanksAndCommandLinesAndSaysWhatItCannotRun) {
  const QString dir = testenv::makeDir("run here");
  const QString marker = dir + "/ran";
  const QString script = testenv::writeFile(dir + "/my 'odd' script.sh", "#!/bin/sh\necho \"$PWD\" > ran\n");
  QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QString message;
  // The whole line is a file's name, quotes and blanks included: it runs as that file, in the folder.
  ASSERT_TRUE(runcmd::run("\"my 'odd' script.sh\"", dir, &message)) << message.toStdString();
  ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(marker).size() > 0; }));
  EXPECT_EQ(testenv::readFile(marker).trimmed(), QFileInfo(dir).canonicalFilePath().toUtf8());
  QFile::remove(marker);
  // A command line goes through the shell in the folder.
  ASSERT_TRUE(runcmd::run("echo shell > ran", dir, &message));
  ASSERT_TRUE(testenv::waitFor([&] { return QFileInfo(marker).size() > 0; }));
  EXPECT_EQ(testenv::readFile(marker), "shell\n");

  EXPECT_FALSE(runcmd::run("no-such-program-here --now", dir, &message));
  EXPECT_EQ(message, "\"no-such-program-here\" was not found. Check the name and try again.");
  EXPECT_FALSE(runcmd::run("   ", dir, &message));

  QStringList history = runcmd::remember({"b", "a"}, "a");
  EXPECT_EQ(history, (QStringList{"a", "b"}));
  for (int i = 0; i < 30; ++i) history = runcmd::remember(history, QString::number(i), 20);
  EXPECT_EQ(history.size(), 20);
  EXPECT_EQ(history.first(), "29");
}

// The line is read as the shell that runs it reads it, so a program path in quotes, with quotes, blanks or
// escapes inside, is the program that is checked and run (with its arguments).
TEST(RunCommand, QuotedProgramPathsAreReadAsTheShellReadsThem) {
  const QString dir = testenv::makeDir("it's a \"quoted\" dir");
  const QString prog = standIn(dir, "prog");
  const QString escapedForDouble = QString(dir).replace("\\", "\\\\").replace("\"", "\\\"").replace("$", "\\$").replace("`", "\\`");
  const QString escapedForSingle = QString(dir).replace("'", "'\\''");
  QString escapedBare;
  for (QChar c : dir) escapedBare += QString(c.isLetterOrNumber() || c == '/' ? "" : "\\") + c;
  const struct { QString line; QStringList args; } cases[] = {
      {"\"" + escapedForDouble + "/prog\" one 'two words'", {"one", "two words"}},
      {"'" + escapedForSingle + "/prog' \"a \\\"b\\\"\"", {"a \"b\""}},  // as the Browse button writes it
      {escapedBare + "/prog x", {"x"}},
      {"\"" + escapedForDouble + "\"/'prog' y", {"y"}},  // one word in two quotings
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line.toStdString());
    QFile::remove(prog + ".args");
    QString message;
    ASSERT_TRUE(runcmd::run(c.line, dir, &message)) << message.toStdString();
    EXPECT_EQ(argsOf(prog), c.args);
  }
  // What the shell could not read is said so, and nothing runs.
  QString message;
  QFile::remove(prog + ".args");
  EXPECT_FALSE(runcmd::run("\"" + escapedForDouble + "/prog one", dir, &message));
  EXPECT_EQ(message, "A quote in the command line is not closed. Check the line and try again.");
  EXPECT_FALSE(runcmd::run("'" + escapedForSingle + "/prog", dir, &message));
  EXPECT_FALSE(QFile::exists(prog + ".args"));

  const runcmd::ShellLine piped = runcmd::readShellLine("'a b'c\\ d \"e\\$f\" | g");
  EXPECT_EQ(piped.words, (QStringList{"a bc d", "e$f"}));
  EXPECT_FALSE(piped.complete);
  EXPECT_TRUE(runcmd::readShellLine("$HOME/bin/x").firstWordExpands);
  EXPECT_FALSE(runcmd::readShellLine("'$HOME'/x").firstWordExpands);
}

// A folder opens in the desktop's file manager; with none, the caller is told to show it itself.
TEST(RunCommand, AFolderWithoutAFileManagerIsHandedBack) {
  const QString folder = testenv::makeDir("a \"folder\" here");
  const QString empty = testenv::makeDir("no-tools");
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(empty));
  QString message, shown;
  EXPECT_FALSE(runcmd::run("'" + folder + "'", folder, &message, &shown));
  EXPECT_EQ(shown, folder);
  EXPECT_EQ(message, "No file manager was found to open the folder " + folder + ".");
  // A known file manager on PATH is started with the folder.
  const QString thunar = standIn(empty, "thunar");
  shown.clear();
  EXPECT_TRUE(runcmd::run("'" + folder + "'", folder, &message, &shown)) << message.toStdString();
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_EQ(argsOf(thunar), QStringList{folder});
  qputenv("PATH", path);
}
