#include "tests/engines/peers.h"
#include "tests/common/testenv.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace peers {

Result run(const QString &program, const QStringList &args, const QString &workDir, int timeoutMs) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
  p.start(program, args);
  Result r;
  if (!p.waitForStarted(10000)) {
    r.out = "cannot start " + program;
    return r;
  }
  p.waitForFinished(timeoutMs);
  r.out = QString::fromUtf8(p.readAll());
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return r;
}

Result python(const QString &script, const QStringList &args) {
  return run("/usr/bin/python3", QStringList{"-c", script} + args);
}

QString sevenZip() {
  for (const char *name : {"7zz", "7z"}) {
    const QString p = QStandardPaths::findExecutable(name);
    if (!p.isEmpty()) return p;
  }
  return "7zz";
}

QStringList makeTree(const QString &root) {
  QStringList names;
  auto put = [&](const QString &rel, const QByteArray &bytes) {
    testenv::writeFile(root + "/" + rel, bytes);
    names << rel;
  };
  QByteArray text;
  for (int i = 0; i < 4000; ++i) text += "line " + QByteArray::number(i) + " of some compressible text\n";
  QByteArray noise;
  uint32_t x = 12345;
  for (int i = 0; i < 70000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += char(x >> 24);
  }
  put("a.txt", text);
  put("empty.dat", {});
  put("sub/b.bin", noise);
  put("sub/deeper/c.txt", "third file\n");
  put(QString::fromUtf8("sub/\xc3\xbcml\xc3\xa4ut \xe2\x82\xac.txt"), "unicode name\n");
  return names;
}

}  // namespace peers
