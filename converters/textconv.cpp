// A text converter library: Word documents (TARNCONV_WORD) or spreadsheets (TARNCONV_SHEET) to RTF.
// The conversion itself is done by a program in a child process (LibreOffice headless when installed, else
// antiword, catdoc's xls2csv or libwps' wks2csv), so that a document that makes it hang or crash never takes
// the caller down: the child runs in a process group of its own, under a time limit, and the caller can
// stop it through its output function. Documents are only read; nothing in them is run.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <memory>
#include <unistd.h>

#include "converters/convapi.h"
#include "converters/docxtext.h"
#include "converters/rtfout.h"

#define TARNCONV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

QString blockText(const TConvBlock *b) {
  if (!b || !b->data) return QString();
  return QString::fromUtf8(b->data, qstrnlen(b->data, b->size));
}

QString extensionOf(const QString &file) { return QFileInfo(file).suffix().toLower(); }

QByteArray head(const QString &file, int n) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray();
  return f.read(n);
}

[[maybe_unused]] bool isOle(const QByteArray &h) { return h.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")); }
[[maybe_unused]] bool isZip(const QByteArray &h) { return h.startsWith("PK\x03\x04"); }
// A Lotus worksheet starts with its beginning-of-file record: type 0, length 2 (1-2-3 1 to 3) or 26 (4).
[[maybe_unused]] bool isLotus(const QByteArray &h) {
  return h.size() >= 6 && h[0] == 0 && h[1] == 0 && (h[2] == 2 || h[2] == 26) && h[3] == 0;
}

bool formatCorrect(const QString &file) {
  const QString ext = extensionOf(file);
  const QByteArray h = head(file, 8);
#ifdef TARNCONV_WORD
  if (ext == QLatin1String("doc")) return isOle(h);
  if (ext == QLatin1String("docx") || ext == QLatin1String("odt")) return isZip(h);
#else
  if (ext == QLatin1String("xls")) return isOle(h);
  if (ext == QLatin1String("xlsx") || ext == QLatin1String("ods")) return isZip(h);
  if (ext.startsWith(QLatin1String("wk"))) return isLotus(h);
#endif
  return false;
}

int timeLimitMs() {
  const int fromEnv = qEnvironmentVariableIntValue("TARNWICK_CONVERTER_TIME_LIMIT_MS");
  return fromEnv > 0 ? fromEnv : 120000;
}

// LibreOffice keeps a profile that only one of its processes may use at a time: ours is private to this
// library's life in the process, made on first use and removed when the library is unloaded.
std::unique_ptr<QTemporaryDir> &officeProfile() {
  static std::unique_ptr<QTemporaryDir> dir;
  return dir;
}

QString officeProgram() {
  if (qEnvironmentVariableIsSet("TARNWICK_CONVERTER_NO_OFFICE")) return QString();
  return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

struct RunResult {
  long error = 0;
  QByteArray out;
};

// Runs a program in its own process group, asking `output` between waits whether to go on; stopped (with
// its whole group, LibreOffice starts children) when asked to or when the time limit passes.
RunResult run(const QString &program, const QStringList &args, const QString &workDir, TConvOutput output) {
  RunResult r;
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
  p.setStandardInputFile(QProcess::nullDevice());
  p.setChildProcessModifier([] { ::setsid(); });
  p.start();
  if (!p.waitForStarted(10000)) {
    r.error = kConvNoBackend;
    return r;
  }
  const qint64 pid = p.processId();
  auto stopGroup = [&] {
    if (pid > 0) ::kill(-static_cast<pid_t>(pid), SIGKILL);
    p.kill();
    p.waitForFinished(5000);
  };
  QElapsedTimer clock;
  clock.start();
  const int limit = timeLimitMs();
  while (!p.waitForFinished(50)) {
    r.out += p.readAllStandardOutput();
    if (p.state() == QProcess::NotRunning) break;
    const int percent = static_cast<int>(qMin<qint64>(99, clock.elapsed() * 100 / limit));
    if (output && output(0, percent) != 0) {
      stopGroup();
      r.error = kConvCancelled;
      return r;
    }
    if (clock.elapsed() > limit) {
      stopGroup();
      r.error = kConvTimedOut;
      return r;
    }
  }
  r.out += p.readAllStandardOutput();
  // LibreOffice's launcher can return before its office process has finished shutting down: the next
  // conversion would hand its work to that dying process. Wait for the group to empty (within the
  // limit), then stop whatever still runs in it.
  if (pid > 0) {
    while (::kill(-static_cast<pid_t>(pid), 0) == 0 && clock.elapsed() < limit) {
      if (output && output(0, 99) != 0) break;
      QThread::msleep(20);
    }
    ::kill(-static_cast<pid_t>(pid), SIGKILL);
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) r.error = kConvFailed;
  return r;
}

// LibreOffice headless: the document converted to `format` in a scratch folder; the result's bytes.
RunResult viaOffice(const QString &soffice, const QString &file, const QString &format, const QString &ext,
                    TConvOutput output) {
  RunResult r;
  auto &profile = officeProfile();
  if (!profile) profile = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnwick-office-XXXXXX"));
  QTemporaryDir outDir(QDir::tempPath() + QStringLiteral("/tarnwick-conv-XXXXXX"));
  if (!profile->isValid() || !outDir.isValid()) {
    r.error = kConvFailed;
    return r;
  }
  // The input goes in under a plain name of its own: a file name never reaches LibreOffice's option parser.
  const QString input = outDir.filePath(QStringLiteral("in.") + ext);
  if (!QFile::copy(file, input)) {
    r.error = kConvOpenError;
    return r;
  }
  const QStringList args = {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile->path()).toString(),
                            QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nolockcheck"),
                            QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), outDir.path(), input};
  r = run(soffice, args, outDir.path(), output);
  if (r.error) return r;
  const QString produced = outDir.filePath(QStringLiteral("in.") + format.section(':', 0, 0));
  QFile f(produced);
  if (!f.open(QIODevice::ReadOnly)) {
    r.error = kConvFailed;
    return r;
  }
  r.out = f.readAll();
  if (r.out.isEmpty()) r.error = kConvFailed;
  return r;
}

// The RTF of a document, or an error.
RunResult convert(const QString &file, TConvOutput output) {
  RunResult r;
  if (!QFileInfo(file).isReadable() || !QFile(file).open(QIODevice::ReadOnly)) {
    r.error = kConvOpenError;
    return r;
  }
  if (!formatCorrect(file)) {
    r.error = kConvWrongFormat;
    return r;
  }
  const QString ext = extensionOf(file);
  const QString soffice = officeProgram();
#ifdef TARNCONV_WORD
  if (!soffice.isEmpty()) return viaOffice(soffice, file, QStringLiteral("rtf"), ext, output);
  if (ext == QLatin1String("doc")) {
    const QString antiword = QStandardPaths::findExecutable(QStringLiteral("antiword"));
    if (antiword.isEmpty()) {
      r.error = kConvNoBackend;
      return r;
    }
    r = run(antiword, {QStringLiteral("-m"), QStringLiteral("UTF-8.txt"), QStringLiteral("-w"), QStringLiteral("0"), file},
            QString(), output);
    if (!r.error) r.out = rtfout::fromText(QString::fromUtf8(r.out));
    return r;
  }
  QString text, why;
  if (!docxtext::extract(file, &text, &why)) {
    r.error = kConvFailed;
    return r;
  }
  r.out = rtfout::fromText(text);
  return r;
#else
  if (!soffice.isEmpty()) {
    r = viaOffice(soffice, file, QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), ext, output);
    if (!r.error) r.out = rtfout::fromCsv(QString::fromUtf8(r.out), false);
    return r;
  }
  const bool lotus = ext.startsWith(QLatin1String("wk"));
  if (!lotus && ext != QLatin1String("xls")) {
    r.error = kConvNoBackend;
    return r;
  }
  const QString program = QStandardPaths::findExecutable(lotus ? QStringLiteral("wks2csv") : QStringLiteral("xls2csv"));
  if (program.isEmpty()) {
    r.error = kConvNoBackend;
    return r;
  }
  const QStringList args = lotus ? QStringList{file} : QStringList{QStringLiteral("-d"), QStringLiteral("utf-8"), file};
  r = run(program, args, QString(), output);
  // wks2csv names the columns in a first line of its own ("Col1,Col2,..."): not part of the sheet.
  if (!r.error) r.out = rtfout::fromCsv(QString::fromUtf8(r.out), lotus);
  return r;
#endif
}

}  // namespace

TARNCONV_EXPORT long InitConverter32(void *, const char *) { return 1; }

TARNCONV_EXPORT long IsFormatCorrect32(TConvBlock *fileName, TConvBlock *) {
  return formatCorrect(blockText(fileName)) ? 1 : 0;
}

TARNCONV_EXPORT long ForeignToRtf32(TConvBlock *fileName, void *, TConvBlock *buffer, TConvBlock *, TConvBlock *,
                                    TConvOutput output) {
  if (!buffer || !output) return kConvFailed;
  const RunResult r = convert(blockText(fileName), output);
  if (r.error) return r.error;
  // Handed over in chunks of the transfer block's size (less its last byte, kept zero).
  const qsizetype chunk = buffer->size > 1 ? static_cast<qsizetype>(buffer->size - 1) : 0;
  if (chunk <= 0) return kConvOutOfMemory;
  for (qsizetype at = 0; at < r.out.size(); at += chunk) {
    const qsizetype n = qMin(chunk, r.out.size() - at);
    std::memcpy(buffer->data, r.out.constData() + at, static_cast<size_t>(n));
    buffer->data[n] = 0;
    const int percent = static_cast<int>((at + n) * 100 / r.out.size());
    if (output(static_cast<long>(n), percent) != 0) return kConvCancelled;
  }
  return 0;
}
