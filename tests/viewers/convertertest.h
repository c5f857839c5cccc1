#pragma once
// For tests of the document converters: a stand-in LibreOffice first in PATH, and a look at which of the
// process groups it ran in still hold a running process, read from /proc (not through the code under test).
#include <QDir>
#include <QFile>
#include <QStringList>

#include "tests/common/testenv.h"

namespace convtest {

// The processes of group `pgid` that still run (zombies, already ended, left out).
inline QStringList runningInGroup(const QString &pgid) {
  QStringList found;
  for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool number = false;
    pid.toLongLong(&number);
    if (!number) continue;
    const QByteArray stat = testenv::readFile(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) continue;
    const QList<QByteArray> f = stat.mid(close + 2).split(' ');  // state, parent, group, ...
    if (f.size() > 2 && f[2] == pgid.toLatin1() && f[0] != "Z" && f[0] != "X") found << pid;
  }
  return found;
}

// A program named "soffice" first in PATH while this lives. Each run notes its process id (its group's,
// as the converter starts it in a group of its own) and, for an input that holds the word HANG, waits
// forever with a child of its own; any other input becomes a one-line RTF document "Converted by the
// stand-in" in the --outdir folder, as LibreOffice's --convert-to rtf would write it.
class StandInOffice {
 public:
  StandInOffice() : bin_(testenv::makeDir(QStringLiteral("standin"))), savedPath_(qgetenv("PATH")) {
    pids_ = bin_ + QStringLiteral("/pids");
    const QString script = QStringLiteral(
                               "#!/bin/sh\n"
                               "echo $$ >> '%1'\n"
                               "out=; prev=; input=\n"
                               "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; input=$a; done\n"
                               "if grep -q HANG \"$input\"; then sleep 300 & wait; fi\n"
                               "printf '{\\\\rtf1\\\\ansi Converted by the stand-in\\\\par}' > \"$out/in.rtf\"\n")
                               .arg(pids_);
    testenv::writeFile(bin_ + QStringLiteral("/soffice"), script.toUtf8());
    QFile::setPermissions(bin_ + QStringLiteral("/soffice"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (bin_ + ':').toUtf8() + savedPath_);
  }
  ~StandInOffice() { qputenv("PATH", savedPath_); }
  StandInOffice(const StandInOffice &) = delete;
  StandInOffice &operator=(const StandInOffice &) = delete;

  // The groups of every run so far, in order.
  QStringList groups() const {
    QStringList list;
    for (const QByteArray &line : testenv::readFile(pids_).split('\n'))
      if (!line.trimmed().isEmpty()) list << QString::fromLatin1(line.trimmed());
    return list;
  }
  // Those of them where something still runs.
  QStringList running() const {
    QStringList list;
    for (const QString &g : groups())
      if (!runningInGroup(g).isEmpty()) list << g;
    return list;
  }

 private:
  QString bin_, pids_;
  QByteArray savedPath_;
};

// A file that passes for a Word 97 document (the compound file's signature) and holds `text`.
inline QByteArray oleLookalike(const QByteArray &text) {
  return QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(504, '\0') + text;
}

}  // namespace convtest
