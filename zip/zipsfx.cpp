// Self-extracting archives: ConvertToSfx puts the stub program and a 256-byte header in front of an archive
// and moves every offset of its directory; ConvertToZip takes them off again. The new file is written under a
// temporary name beside the target and renamed only once it is complete and has the expected size, so a
// failed or cancelled conversion leaves the source and any earlier output exactly as they were.
#include "zip/zipmaster.h"

#include "engines/zipformat.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/trash.h"
#include "zip/zipfilecopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QCursor>
#include <QGuiApplication>

using namespace zipformat;

namespace {

// The hourglass for the length of a conversion, when there is a screen to show it on.
struct BusyCursor {
  bool on = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
  BusyCursor() {
    if (on) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  }
  ~BusyCursor() {
    if (on) QGuiApplication::restoreOverrideCursor();
  }
};

// Why a directory could not be moved: a damaged header gives -2, an offset that would not fit its field
// is refused before anything is written.
struct MoveFailure {
  int result;
  QString why;
};

// Adds delta (which may be negative) to one offset field of 32 bits. A field holding the Zip64 marker is left:
// its value lives in the extra field or the Zip64 end record, moved separately.
void move32(uchar *field, int64_t delta, bool zip64Available) {
  const uint32_t v = rd32(field);
  if (v == 0xFFFFFFFFu) return;
  const int64_t moved = int64_t(v) + delta;
  if (moved < 0) throw MoveFailure{-2, {}};
  if (moved >= int64_t(0xFFFFFFFFu)) {
    if (!zip64Available)
      throw MoveFailure{-9, QStringLiteral("The archive's offsets would pass 4 GiB, which only a Zip64 archive can hold.")};
    wr32(field, 0xFFFFFFFFu);
    return;
  }
  wr32(field, uint32_t(moved));
}

}  // namespace

// Moves the offsets in the bytes from the directory's start up to the end record (central headers, and the
// Zip64 end record and locator when present) and in the end record itself.
static void moveDirectory(QByteArray &dir, QByteArray &end, uint64_t entries, bool zip64, int64_t delta) {
  auto *d = reinterpret_cast<uchar *>(dir.data());
  const qint64 have = dir.size() - (zip64 ? 76 : 0);
  qint64 at = 0;
  for (uint64_t n = 0; n < entries; ++n) {
    if (at + 46 > have || rd32(d + at) != kSigCentral) throw MoveFailure{-2, {}};
    uchar *h = d + at;
    const qint64 nameLen = rd16(h + 28), extraLen = rd16(h + 30), commentLen = rd16(h + 32);
    if (at + 46 + nameLen + extraLen + commentLen > have) throw MoveFailure{-2, {}};
    if (rd32(h + 42) == 0xFFFFFFFFu) {
      // The offset sits in the Zip64 extra field, after the sizes that carry the marker.
      uchar *x = h + 46 + nameLen, *xEnd = x + extraLen;
      bool moved = false;
      while (x + 4 <= xEnd) {
        const uint16_t id = rd16(x), len = rd16(x + 2);
        if (x + 4 + len > xEnd) break;
        if (id == 0x0001) {
          uchar *q = x + 4;
          if (rd32(h + 24) == 0xFFFFFFFFu) q += 8;
          if (rd32(h + 20) == 0xFFFFFFFFu) q += 8;
          if (q + 8 > x + 4 + len) break;
          const int64_t v = int64_t(rd64(q)) + delta;
          if (v < 0) throw MoveFailure{-2, {}};
          wr64(q, uint64_t(v));
          moved = true;
          break;
        }
        x += 4 + len;
      }
      if (!moved) throw MoveFailure{-2, {}};
    } else {
      // A 32-bit offset that outgrows its field cannot take a Zip64 value without growing the header.
      move32(h + 42, delta, false);
    }
    at += 46 + nameLen + extraLen + commentLen;
  }
  auto *e = reinterpret_cast<uchar *>(end.data());
  if (zip64) {
    uchar *rec = d + dir.size() - 76, *loc = d + dir.size() - 20;
    const int64_t cd = int64_t(rd64(rec + 48)) + delta, rec64 = int64_t(rd64(loc + 8)) + delta;
    if (cd < 0 || rec64 < 0) throw MoveFailure{-2, {}};
    wr64(rec + 48, uint64_t(cd));
    wr64(loc + 8, uint64_t(rec64));
  }
  move32(e + 16, delta, zip64);
}

bool TZipMaster::deleteByHowToDelete(const QString &path, QString *error) {
  if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return true;
  if (howToDelete_ == htdAllowUndo) {
    const platform::TrashOutcome t = platform::moveToTrash(platform::toNative(path));
    if (!t.ok && error) *error = t.error;
    return t.ok;
  }
  if (QFile::remove(path)) return true;
  if (error) *error = QStringLiteral("%1 could not be deleted.").arg(QDir::toNativeSeparators(path));
  return false;
}

QString TZipMaster::findSfxStub() {
  if (!sfxPath_.isEmpty() && QFileInfo(sfxPath_).isFile()) return sfxPath_;
  QStringList folders{QDir::currentPath(), QCoreApplication::applicationDirPath(), platform::libraryFolder(),
                      platform::dataFolder()};
  if (!dllDirectory_.isEmpty()) folders << dllDirectory_;
  for (const QString &folder : folders) {
    sfxPath_ = QDir(folder).filePath(QStringLiteral("ZIPSFX.BIN"));
    if (QFileInfo(sfxPath_).isFile()) return sfxPath_;
  }
  return {};
}

QByteArray TZipMaster::sfxHeader() const {
  QByteArray h(256, '\0');
  h[0] = 'M';
  h[1] = 'P';
  h[2] = 'U';
  uchar bits = 0;
  if (sfxOptions_ & SFXAskCmdLine) bits |= 0x01;
  if (sfxOptions_ & SFXAskFiles) bits |= 0x02;
  if (sfxOptions_ & SFXHideOverWriteBox) bits |= 0x04;
  if (sfxOverWriteMode_ == OvrAlways) bits |= 0x08;
  if (sfxOverWriteMode_ == OvrNever) bits |= 0x10;
  if (!(sfxOptions_ & SFXCheckSize)) bits |= 0x20;
  if (sfxOptions_ & SFXAutoRun) bits |= 0x40;
  h[3] = char(bits);
  const QByteArray texts[3] = {sfxCaption_.toUtf8(), sfxDefaultDir_.toUtf8(), sfxCommandLine_.toUtf8()};
  int at = 7;
  for (int i = 0; i < 3; ++i) {
    h[4 + i] = char(uchar(texts[i].size()));
    h.replace(at, texts[i].size(), texts[i]);
    at += int(texts[i].size());
  }
  return h;
}

// Reads the end record and the directory of the archive (file_ is left open) and moves its offsets by delta.
// dir holds the bytes from the directory's start to the end record, end the record, comment what follows it.
int TZipMaster::readMovedDirectory(const QString &archive, int64_t delta, qint64 &dirPos, QByteArray &dir,
                                   QByteArray &end, QByteArray &comment) {
  ZipEndOfCentral rec;
  try {
    ReadEndRecord(archive, rec, true);
  } catch (const EZipMaster &e) {
    HandleException(e);
    return -3;
  }
  const qint64 recordStart = rec.Zip64 ? endRecordPos_ - 76 : endRecordPos_;
  const qint64 cdSize = qint64(qMin<uint64_t>(rec.CentralSize64, uint64_t(fileSize_)));
  dirPos = recordStart - cdSize;
  if (dirPos < 0 || !file_.seek(dirPos)) return -3;
  dir = file_.read(endRecordPos_ - dirPos);
  end = file_.read(22);
  comment = file_.read(endOfZipData_ - endRecordPos_ - 22);
  if (dir.size() != endRecordPos_ - dirPos || end.size() != 22 || comment.size() != endOfZipData_ - endRecordPos_ - 22)
    return -3;
  try {
    moveDirectory(dir, end, rec.TotalEntries64, rec.Zip64, delta);
  } catch (const MoveFailure &f) {
    if (!f.why.isEmpty()) reportText(f.why);
    return f.result;
  }
  return 0;
}

// Flushes and closes a finished output, moves an earlier file of its name away by HowToDelete and renames the
// output into its place. 0, or -2 (the disk refused the data) or -1 (the name could not be taken).
int TZipMaster::finishOutput(zipcopy::OutputFile &out) {
  QString error;
  int result = 0;
  if (!out.finish(&error)) {
    result = -2;
  } else if (!deleteByHowToDelete(out.target(), &error) || !out.rename(&error)) {
    result = -1;
  }
  if (result != 0) reportText(error);
  return result;
}

// The converted file takes the place of its source, which goes by HowToDelete; the new file is listed.
void TZipMaster::replaceSource(const QString &output) {
  QString error;
  if (!deleteByHowToDelete(zipFilename_, &error)) emit OnMessage(0, error);
  setZipFilename(output);
}

// The component counts as busy while a conversion copies, so that the messages window's Cancel reaches it.
int TZipMaster::ConvertToSfx() {
  BusyFlag busy(addBusy_);
  return convertToSfx(false);
}

int TZipMaster::convertToSfx(bool newArchive) {
  if (!newArchive && !QFileInfo(zipFilename_).isFile()) {
    ReportMessage(zipmsg::GE_NoZipSpecified);
    return -9;
  }
  const qint64 textLength = sfxCaption_.size() + sfxDefaultDir_.size() + sfxCommandLine_.size();
  // The header has 249 bytes for the three texts; it holds them as bytes, so count those too.
  const qint64 byteLength = sfxCaption_.toUtf8().size() + sfxDefaultDir_.toUtf8().size() + sfxCommandLine_.toUtf8().size();
  if (textLength >= 250 || byteLength >= 250 || sfxCaption_.toUtf8().size() > 255 || sfxDefaultDir_.toUtf8().size() > 255 ||
      sfxCommandLine_.toUtf8().size() > 255) {
    ReportMessage(zipmsg::SF_StringTooLong,
                  QStringLiteral("\r\nSFXCaption + SFXDefaultDir + SFXCommandLine = ") + QString::number(textLength));
    return -9;
  }
  const QString stub = findSfxStub();
  if (stub.isEmpty()) {
    ReportMessage(zipmsg::SF_NoZipSFXBin);
    return -9;
  }
  BusyCursor busy;
  QString output = zipFilename_;
  if (!newArchive) {
    if (!zipFilename_.toUpper().endsWith(QLatin1String(".ZIP"))) {
      ReportMessage(zipmsg::SF_InputIsNoZip);
      return -9;
    }
    output = zipFilename_.left(zipFilename_.size() - 4) + QStringLiteral(".exe");
  }
  const QByteArray header = sfxHeader();
  zipcopy::SpliceFile stubFile(stub);
  if (!stubFile.openRead()) return -3;
  const qint64 stubSize = stubFile.size();
  const int64_t delta = stubSize + 256;

  // Everything that could refuse the conversion is read and checked before a byte is written.
  QByteArray dir, end, comment;
  qint64 dirPos = 0, expected = 0;
  const bool copyWhole = !newArchive && structureWarning_;
  if (!newArchive) {
    if (copyWhole) {
      expected = QFileInfo(zipFilename_).size();
    } else {
      const int r = readMovedDirectory(zipFilename_, delta, dirPos, dir, end, comment);
      closeArchiveFile();
      if (r != 0) return r;
      expected = endOfZipData_;
    }
  }
  zipcopy::OutputFile out(output, 0777);
  if (!out.create()) return -1;
  int result = 0;
  const auto progress = copyProgress();
  emit OnProgress(ProgressTotalBytes, QString(), stubSize + 256 + expected);
  if (!out.copyFrom(stubFile, 0, -1, progress)) result = -2;
  if (result == 0 && !out.write(header)) result = -2;
  if (result == 0 && newArchive) {
    QByteArray eocd(22, '\0');
    wr32(reinterpret_cast<uchar *>(eocd.data()), kSigEnd);
    wr32(reinterpret_cast<uchar *>(eocd.data()) + 16, uint32_t(delta));
    if (!out.write(eocd)) result = -2;
  }
  if (result == 0 && !newArchive) {
    zipcopy::SpliceFile in(zipFilename_);
    if (!in.openRead()) {
      result = -3;
    } else if (copyWhole) {
      if (!out.copyFrom(in, 0, -1, progress)) result = -2;
    } else if (!out.copyFrom(in, 0, dirPos, progress) || !out.write(dir) || !out.write(end) || !out.write(comment)) {
      result = -2;
    }
  }
  if (result == 0 && !newArchive && out.size() != stubSize + 256 + expected) result = -9;
  emit OnProgress(ProgressBatchEnd, QString(), 0);
  if (result == 0) result = finishOutput(out);
  if (result != 0) return result;  // the temporary file goes with out
  if (newArchive) return 0;
  replaceSource(output);
  return 0;
}

int TZipMaster::ConvertToZip() {
  BusyFlag busyFlag(addBusy_);
  if (!QFileInfo(zipFilename_).isFile()) {
    ReportMessage(zipmsg::CZ_NoExeSpecified);
    return -3;
  }
  if (!zipFilename_.toUpper().endsWith(QLatin1String(".EXE"))) {
    ReportMessage(zipmsg::CZ_InputNotExe);
    return -3;
  }
  if (archiveStart_ == 0) {
    ReportMessage(zipmsg::CZ_SFXTypeUnknown);
    return -9;
  }
  BusyCursor busy;
  const qint64 start = archiveStart_;
  const bool copyWhole = structureWarning_;
  const QString output = zipFilename_.left(zipFilename_.size() - 4) + QStringLiteral(".zip");
  QByteArray dir, end, comment;
  qint64 dirPos = 0, expected = 0;
  if (copyWhole) {
    expected = QFileInfo(zipFilename_).size();
  } else {
    const int r = readMovedDirectory(zipFilename_, -start, dirPos, dir, end, comment);
    closeArchiveFile();
    if (r != 0) return r;
    expected = endOfZipData_;
    if (dirPos < start) return -2;
  }
  zipcopy::OutputFile out(output, 0666);
  if (!out.create()) return -1;
  zipcopy::SpliceFile in(zipFilename_);
  int result = 0;
  const auto progress = copyProgress();
  emit OnProgress(ProgressTotalBytes, QString(), expected - start);
  if (!in.openRead()) {
    result = -3;
  } else if (copyWhole) {
    if (!out.copyFrom(in, start, -1, progress)) result = -2;
  } else if (!out.copyFrom(in, start, dirPos - start, progress) || !out.write(dir) || !out.write(end) ||
             !out.write(comment)) {
    result = -2;
  }
  if (result == 0 && out.size() != expected - start) result = -9;
  emit OnProgress(ProgressBatchEnd, QString(), 0);
  if (result == 0) result = finishOutput(out);
  if (result != 0) return result;  // the temporary file goes with out
  replaceSource(output);
  return 0;
}
