#include "viewers/textconverters.h"

#include <QDir>
#include <QCoreApplication>
#include <QFileInfo>

using platform::RegRoot;

const QString TTextConverters::ImportKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\Text Converters\\Import");
const QString TTextConverters::WordPadKey = QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WORDPAD.EXE");
TTextConverters::Conversion *TTextConverters::active_ = nullptr;

TTextConverters::TTextConverters(platform::RegStore &store) : store_(store) {}

TTextConverters::~TTextConverters() {
  // Destroyed from inside its own conversion (the window went while the converter waited): the library's
  // code is still on the stack below, so it stays mapped, and the conversion is told to stop.
  if (active_ && active_->owner == this) {
    active_->owner = nullptr;
    return;
  }
  if (lib_.isLoaded()) lib_.unload();
}

void TTextConverters::registerOwn(const QString &folder) {
  struct Own {
    const char *key, *name, *extensions, *library;
  };
  static const Own own[] = {
      {"MSWord8", "Word 97", "doc docx odt", "libtarnconv_word.so"},
      {"MSWord6", "Word 6.0/95 for Windows&Macintosh", "doc", "libtarnconv_word.so"},
      {"MSExcel", "Microsoft Excel Worksheet", "xls xlsx ods", "libtarnconv_sheet.so"},
      {"Lotus123", "Lotus 1-2-3", "wk1 wk3 wk4 wks", "libtarnconv_sheet.so"},
  };
  for (const Own &o : own) {
    const QString library = QDir(folder).filePath(QString::fromLatin1(o.library));
    if (!QFileInfo::exists(library)) continue;
    const QString key = ImportKey + '\\' + QString::fromLatin1(o.key);
    const auto path = store_.readString(RegRoot::LocalMachine, key, QStringLiteral("Path"));
    if (path && QFileInfo::exists(*path)) continue;  // ours from before, or another converter put there on purpose
    store_.writeString(RegRoot::LocalMachine, key, QStringLiteral("Name"), QString::fromUtf8(o.name));
    store_.writeString(RegRoot::LocalMachine, key, QStringLiteral("Extensions"), QString::fromLatin1(o.extensions));
    store_.writeString(RegRoot::LocalMachine, key, QStringLiteral("Path"), library);
  }
}

QList<TTextConverters::Entry> TTextConverters::entries() const {
  QList<Entry> list;
  for (const QString &sub : store_.subKeys(RegRoot::LocalMachine, ImportKey)) {
    const QString key = ImportKey + '\\' + sub;
    const auto name = store_.readString(RegRoot::LocalMachine, key, QStringLiteral("Name"));
    const auto ext = store_.readString(RegRoot::LocalMachine, key, QStringLiteral("Extensions"));
    const auto path = store_.readString(RegRoot::LocalMachine, key, QStringLiteral("Path"));
    if (!name || !ext || !path) continue;  // a record that cannot be read is left out
    list.append({*name, ext->split(' ', Qt::SkipEmptyParts), *path});
  }
  return list;
}

QString TTextConverters::wordPadFolder() const {
  const auto program = store_.readString(RegRoot::LocalMachine, WordPadKey, QStringLiteral("@"));
  if (!program || program->isEmpty()) return QString();
  return QFileInfo(*program).path();
}

QString TTextConverters::ConverterFilter() const {
  QString filter;
  for (const Entry &e : entries()) {
    QStringList patterns;
    for (const QString &x : e.extensions) patterns << QStringLiteral("*.") + x;
    filter += e.name + '|' + patterns.join(';') + '|';
  }
  filter.prepend(QStringLiteral("Rich Text Format|*.rtf|"));
  const QString wordPad = wordPadFolder();
  if (!wordPad.isEmpty()) {
    const QDir dir(wordPad);
    if (!filter.contains(QLatin1String("Windows Write")) && QFileInfo::exists(dir.filePath(QStringLiteral("write32.wpc"))))
      filter.prepend(QStringLiteral("Windows Write|*.wri|"));
    if (QFileInfo::exists(dir.filePath(QStringLiteral("mswd6_32.wpc"))))
      filter.prepend(filter.contains(QLatin1String("Word 6.0/95")) ? QStringLiteral("Word 95 via WordPad|*.doc|")
                                                                     : QStringLiteral("Word 6.0/95|*.doc|"));
  }
  if (filter.endsWith('|')) filter.chop(1);
  return filter;
}

QStringList TTextConverters::ConverterNames() const {
  QStringList names;
  for (const Entry &e : entries()) names << e.name;
  // The same conditions as the filter, judged on the filter as it stood at each step.
  const bool hadWrite = names.join('|').contains(QLatin1String("Windows Write"));
  const bool hadWord6 = names.join('|').contains(QLatin1String("Word 6.0/95"));
  names.prepend(QStringLiteral("Rich Text Format"));
  const QString wordPad = wordPadFolder();
  if (!wordPad.isEmpty()) {
    const QDir dir(wordPad);
    if (!hadWrite && QFileInfo::exists(dir.filePath(QStringLiteral("write32.wpc")))) names.prepend(QStringLiteral("Windows Write"));
    if (QFileInfo::exists(dir.filePath(QStringLiteral("mswd6_32.wpc"))))
      names.prepend(hadWord6 ? QStringLiteral("Word 95 via WordPad") : QStringLiteral("Word 6.0/95"));
  }
  return names;
}

bool TTextConverters::LoadConverter(const QString &description) {
  QString path;
  for (const Entry &e : entries())
    if (e.name == description) {
      path = e.path;
      break;
    }
  if (path.isEmpty()) {
    const QString wordPad = wordPadFolder();
    if (!wordPad.isEmpty()) {
      const QDir dir(wordPad);
      if (description.contains(QLatin1String("Word 6.0/95"))) path = dir.filePath(QStringLiteral("mswd6_32.wpc"));
      else if (description.contains(QLatin1String("Windows Write"))) path = dir.filePath(QStringLiteral("write32.wpc"));
      else if (description.contains(QLatin1String("WordPad"))) path = dir.filePath(QStringLiteral("mswd6_32.wpc"));
    }
  }
  init_ = nullptr;
  isFormat_ = nullptr;
  toRtf_ = nullptr;
  if (path.isEmpty()) return false;
  // The same library again stays loaded: its state (LibreOffice's private profile, made on first use)
  // serves the next document too.
  if (!(lib_.isLoaded() && QFileInfo(lib_.fileName()).canonicalFilePath() == QFileInfo(path).canonicalFilePath())) {
    if (lib_.isLoaded()) lib_.unload();
    lib_.setFileName(path);
    if (!lib_.load()) return false;
  }
  init_ = reinterpret_cast<TInitConverter32>(lib_.resolve("InitConverter32"));
  isFormat_ = reinterpret_cast<TIsFormatCorrect32>(lib_.resolve("IsFormatCorrect32"));
  toRtf_ = reinterpret_cast<TForeignToRtf32>(lib_.resolve("ForeignToRtf32"));
  return true;
}

long TTextConverters::output(long bytes, int percent) {
  Conversion *c = active_;
  if (!c || !c->owner) return 1;
  if (bytes > 0) {
    if (!c->transfer || bytes > static_cast<long>(c->transfer->size)) return 1;  // more than the block holds
    // When the chunk would reach the stream's end, the stream first grows by a quarter.
    while (c->written + bytes >= c->stream.size()) c->stream.resize(c->stream.size() + c->stream.size() / 4);
    std::memcpy(c->stream.data() + c->written, c->transfer->data, static_cast<size_t>(bytes));
    c->written += bytes;
  }
  if (c->progress && *c->progress && !(*c->progress)(percent)) c->cancelled = true;
  // The progress function lets events through: the converter object may be gone since.
  return c->cancelled || !c->owner ? 1 : 0;
}

TTextConverters::Result TTextConverters::convert(const QString &file, const QString &description,
                                                 const std::function<bool(int)> &progress, QByteArray *rtf, long *code) {
  if (code) *code = 0;
  if (active_) return Result::Failed;  // one conversion at a time: the output function has one context
  if (!LoadConverter(description)) return Result::NoConverter;
  const QByteArray program = QCoreApplication::applicationFilePath().toUpper().toLocal8Bit();
  if (!init_ || init_(nullptr, program.constData()) == 0) return Result::InitFailed;
  const QByteArray name = file.toUtf8();
  TConvBlock *fileBlock = convBlockForText(name.constData());
  TConvBlock *classBlock = convBlockForText("");
  TConvBlock *subsetBlock = convBlockForText("");
  Conversion c;
  c.owner = this;
  c.transfer = convBlockAlloc(4097);
  Result result = Result::Failed;
  if (fileBlock && classBlock && subsetBlock && c.transfer) {
    if (!isFormat_ || isFormat_(fileBlock, classBlock) == 0) {
      result = Result::WrongFormat;
    } else if (toRtf_) {
      c.stream = QByteArray(524288, '\0');
      c.progress = &progress;
      active_ = &c;
      const long rc = toRtf_(fileBlock, nullptr, c.transfer, classBlock, subsetBlock, &TTextConverters::output);
      active_ = nullptr;
      if (code) *code = rc;
      if (!c.owner) {
        result = Result::Cancelled;  // this object is gone: nothing more of it is touched
      } else if (rc == 0 && !c.cancelled && c.written > 0) {
        c.stream.truncate(c.written);
        *rtf = c.stream;
        result = Result::Done;
      } else {
        // Success with nothing written is no conversion either.
        result = c.cancelled || rc == kConvCancelled ? Result::Cancelled : Result::Failed;
      }
    }
  }
  convBlockFree(fileBlock);
  convBlockFree(classBlock);
  convBlockFree(subsetBlock);
  convBlockFree(c.transfer);
  return result;
}
