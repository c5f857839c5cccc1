// A text converter library: Word documents (TARNCONV_WORD) or spreadsheets (TARNCONV_SHEET) to RTF.
// The conversion itself is done by a program in a child process (LibreOffice headless when installed, else
// antiword, catdoc's xls2csv or libwps' wks2csv), so that a document that makes it hang or crash never takes
// the caller down: the child runs in a process group of its own, under a time limit, and the caller can
// stop it through its output function; its address space has a ceiling. Documents are only read; nothing
// in them is run.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <memory>

#include "converters/childrun.h"
#include "converters/convapi.h"
#include "converters/docxtext.h"
#include "formats/rtf/rtfout.h"
#include "converters/xlssheets.h"

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

using RunResult = childrun::Result;
using childrun::run;

// A file LibreOffice wrote: the document itself, or one sheet of a workbook under the sheet's name.
struct Produced {
  QString sheet;
  QByteArray bytes;
};

// LibreOffice headless: the document converted to `format` in a scratch folder. *produced gets what it
// wrote there (for a workbook, one file per sheet), in the order it wrote it.
RunResult viaOffice(const QString &soffice, const QString &file, const QString &format, const QString &ext,
                    TConvOutput output, QList<Produced> *produced) {
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
                            QStringLiteral("--headless"),
                            QStringLiteral("--norestore"),
                            QStringLiteral("--nolockcheck"),
                            QStringLiteral("--convert-to"),
                            format,
                            QStringLiteral("--outdir"),
                            outDir.path(),
                            input};
  r = run(soffice, args, outDir.path(), output);
  if (r.error) return r;
  const QString suffix = QStringLiteral(".") + format.section(':', 0, 0);
  // Every sheet goes to "in-<sheet name>.csv", and LibreOffice says "Writing sheet <name> -> <file>" as it
  // goes: that gives the workbook's order. Files it did not mention follow by the time they were written.
  QFileInfoList files = QDir(outDir.path())
                            .entryInfoList({QStringLiteral("in") + suffix, QStringLiteral("in-*") + suffix},
                                           QDir::Files, QDir::Time | QDir::Reversed);
  QStringList said;
  for (const QByteArray &line : r.out.split('\n')) {
    const qsizetype arrow = line.indexOf(" -> ");
    if (line.startsWith("Writing sheet ") && arrow > 0)
      said << QFileInfo(QString::fromUtf8(line.mid(arrow + 4).trimmed())).fileName();
  }
  std::stable_sort(files.begin(), files.end(), [&said](const QFileInfo &a, const QFileInfo &b) {
    const qsizetype ia = said.indexOf(a.fileName()), ib = said.indexOf(b.fileName());
    return (ia < 0 ? said.size() : ia) < (ib < 0 ? said.size() : ib);
  });
  const qint64 maxOut = childrun::memoryLimitBytes() / 4;
  qint64 total = 0;
  r.out.clear();
  for (const QFileInfo &fi : files) {
    total += fi.size();
    if (total > maxOut) {
      r.error = kConvOutOfMemory;
      return r;
    }
    QFile f(fi.filePath());
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QString name = fi.completeBaseName();
    produced->append({name.startsWith(QLatin1String("in-")) ? name.mid(3) : QString(), f.readAll()});
  }
  if (produced->isEmpty() || (produced->size() == 1 && produced->first().bytes.isEmpty())) r.error = kConvFailed;
  return r;
}

#ifdef TARNCONV_SHEET
// xls2csv ends every sheet with a form feed and names none of them: the names come from the workbook's
// own list of sheets when it holds as many worksheets (or sheets) as there are parts.
QList<rtfout::Sheet> xls2csvSheets(const QString &file, const QString &csv) {
  QStringList parts = csv.split('\f');
  if (parts.size() > 1 && parts.last().trimmed().isEmpty()) parts.removeLast();
  const QList<xlssheets::Sheet> listed = xlssheets::readFile(file);
  QStringList all, worksheets;
  for (const xlssheets::Sheet &s : listed) {
    all << s.name;
    if (s.type == 0) worksheets << s.name;
  }
  const QStringList names = worksheets.size() == parts.size() ? worksheets
                            : all.size() == parts.size()      ? all
                                                              : QStringList();
  QList<rtfout::Sheet> sheets;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    QString part = parts[i];
    if (part.startsWith('\n')) part.remove(0, 1);  // the line end after the form feed
    sheets.append({names.isEmpty() ? QStringLiteral("Sheet %1").arg(i + 1) : names[i], part});
  }
  return sheets;
}
#endif

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
  QList<Produced> produced;
#ifdef TARNCONV_WORD
  if (!soffice.isEmpty()) {
    r = viaOffice(soffice, file, QStringLiteral("rtf"), ext, output, &produced);
    if (!r.error) r.out = produced.first().bytes;
    return r;
  }
  if (ext == QLatin1String("doc")) {
    const QString antiword = QStandardPaths::findExecutable(QStringLiteral("antiword"));
    if (antiword.isEmpty()) {
      r.error = kConvNoBackend;
      return r;
    }
    r = run(antiword,
            {QStringLiteral("-m"), QStringLiteral("UTF-8.txt"), QStringLiteral("-w"), QStringLiteral("0"), file},
            QString(), output);
    // A program that says it succeeded but wrote nothing has not converted anything.
    if (!r.error && r.out.isEmpty()) r.error = kConvFailed;
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
    // Field 12 of the filter's options, -1: every sheet, each to a file of its own.
    r = viaOffice(soffice, file,
                  QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1"), ext,
                  output, &produced);
    if (r.error) return r;
    QList<rtfout::Sheet> sheets;
    for (const Produced &p : produced) sheets.append({p.sheet, QString::fromUtf8(p.bytes)});
    // One file without a sheet's name: an office that wrote the first sheet only.
    r.out = sheets.size() == 1 && sheets.first().name.isEmpty() ? rtfout::fromCsv(sheets.first().csv, false)
                                                                : rtfout::fromSheets(sheets);
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
  // A program that says it succeeded but wrote nothing has not converted anything.
  if (!r.error && r.out.isEmpty()) r.error = kConvFailed;
  if (r.error) return r;
  // wks2csv names the columns in a first line of its own ("Col1,Col2,..."): not part of the sheet.
  r.out = lotus ? rtfout::fromCsv(QString::fromUtf8(r.out), true)
                : rtfout::fromSheets(xls2csvSheets(file, QString::fromUtf8(r.out)));
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
  if (r.out.isEmpty()) return kConvFailed;
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
