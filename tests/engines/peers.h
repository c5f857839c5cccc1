#pragma once
// Independent zip tools for tests: python's zipfile, bsdtar and 7-Zip, run as real processes.
#include <QString>
#include <QStringList>

namespace peers {

struct Result {
  int exitCode = -1;
  QString out;  // stdout and stderr together
};

Result run(const QString &program, const QStringList &args, const QString &workDir = {}, int timeoutMs = 120000);
// Runs a python script with Debian's interpreter; argv[1..] are the extra arguments.
Result python(const QString &script, const QStringList &args = {});
QString sevenZip();  // 7zz or 7z, whichever is installed
// A folder tree of files with known contents; returns the list of relative names of files written.
QStringList makeTree(const QString &root);

}  // namespace peers
