// Spanned sets: WriteSpan cuts an archive into parts (numbered files on a fixed volume, one part per disk
// on removable media), ReadSpan joins the parts back into one archive. A local header with its name and extra
// field, a central header with its name, extra field and comment, and the end record with its comment never
// straddle two parts, so every part can be read alone.
#include "zip/zipmaster.h"

#include "engines/zipformat.h"
#include "platform/removable.h"
#include "platform/volumes.h"
#include "zip/zipfilecopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <map>
#include <new>

using namespace zipformat;

namespace {

constexpr uint32_t kSigSpan = kSigDescriptor;
// Parts are numbered with three digits and labelled "PKBACK# 001" ... "PKBACK# 999".
constexpr int kMaxParts = 999;
// Offsets within a part are 32-bit fields: no part grows beyond what they can address.
constexpr qint64 kMaxPartSize = 0xFFFFFFFEll;

// A failure with a text of its own, outside the component's string table.
struct SpanRefusal {
  QString text;
};

SpanRefusal zip64Refusal() {
  return {QStringLiteral("The archive has members or offsets beyond 4 GiB (Zip64), which a spanned set cannot hold.")};
}
SpanRefusal joinTooLarge() { return {QStringLiteral("The joined archive would pass 4 GiB, which needs Zip64 offsets.")}; }

QString partLabel(int index) { return QStringLiteral("PKBACK# %1").arg(index + 1, 3, 10, QLatin1Char('0')); }

// One central header as read from the directory: where its bytes lie in the directory buffer.
struct CentralRef {
  qint64 at = 0, length = 0;
  uint16_t disk = 0;
  uint32_t localOffset = 0, csize = 0, crc = 0;
  QByteArray name;
};

// Walks the central headers in dir; raises the reading failures of the directory.
std::vector<CentralRef> parseCentral(const QByteArray &dir, uint64_t entries) {
  std::vector<CentralRef> out;
  const auto *d = reinterpret_cast<const uchar *>(dir.constData());
  const qint64 have = dir.size();
  qint64 at = 0;
  out.reserve(size_t(qMin<uint64_t>(entries, uint64_t(have / 46 + 1))));
  for (uint64_t n = 0; n < entries; ++n) {
    if (at + 46 > have) throw EZipMaster(zipmsg::DS_CEHBadRead);
    const uchar *h = d + at;
    if (rd32(h) != kSigCentral) throw EZipMaster(zipmsg::DS_CEHWrongSig);
    CentralRef c;
    c.at = at;
    const qint64 nameLen = rd16(h + 28), extraLen = rd16(h + 30), commentLen = rd16(h + 32);
    if (at + 46 + nameLen > have) throw EZipMaster(zipmsg::DS_CENameLen);
    if (at + 46 + nameLen + extraLen > have) throw EZipMaster(zipmsg::DS_CEExtraLen);
    if (at + 46 + nameLen + extraLen + commentLen > have) throw EZipMaster(zipmsg::DS_CECommentLen);
    c.length = 46 + nameLen + extraLen + commentLen;
    c.csize = rd32(h + 20);
    c.crc = rd32(h + 16);
    c.disk = rd16(h + 34);
    c.localOffset = rd32(h + 42);
    if (c.csize == 0xFFFFFFFFu || rd32(h + 24) == 0xFFFFFFFFu || c.localOffset == 0xFFFFFFFFu) throw zip64Refusal();
    c.name = QByteArray(dir.constData() + at + 46, nameLen);
    at += c.length;
    out.push_back(std::move(c));
  }
  return out;
}

qint64 directorySize(const std::vector<CentralRef> &central) {
  qint64 n = 0;
  for (const CentralRef &c : central) n += c.length;
  return n;
}

// One member's record: where its local header starts and its name and extra field end, and its flags.
struct LocalRecord {
  qint64 at = 0, headEnd = 0;
  uint16_t flags = 0;
  const CentralRef *central = nullptr;
};

// Each record, its header, the data the directory gives it and, with flag bit 3, its data descriptor (12
// bytes, or 16 with the optional signature), must end before the next record begins (members sharing one
// record aside) or, for the last, at limit. A set is cut from an archive only when this holds, and a join
// checks it again: a part that lost bytes moves everything after it, so the headers there may still be
// found while the member before runs into them. read(offset, buf, n) reads the archive's bytes.
template <class Read>
void checkRecords(std::vector<LocalRecord> records, qint64 limit, const Read &read) {
  std::sort(records.begin(), records.end(), [](const LocalRecord &a, const LocalRecord &b) { return a.at < b.at; });
  for (size_t i = 0; i < records.size(); ++i) {
    const LocalRecord &r = records[i];
    size_t next = i + 1;
    while (next < records.size() && records[next].at == r.at) ++next;
    const qint64 stop = next < records.size() ? records[next].at : limit;
    if (r.headEnd > stop) throw EZipMaster(zipmsg::DS_LOExtraLen);
    qint64 end = r.headEnd + qint64(r.central->csize);
    if (end > stop) throw EZipMaster(zipmsg::DS_ZipData);
    if (r.flags & kFlagDescriptor) {
      uchar dd[8];
      const bool signed16 = end + 16 <= stop && read(end, reinterpret_cast<char *>(dd), 8) &&
                            rd32(dd) == kSigDescriptor && rd32(dd + 4) == r.central->crc;
      end += signed16 ? 16 : 12;
      if (end > stop) throw EZipMaster(zipmsg::DS_DataDesc);
    }
  }
}

}  // namespace

// ---- Shared by both directions

// The drive kinds that matter here: a fixed volume gets numbered part files without questions, removable
// media one part per disk.
enum class DriveKind { Fixed, Removable };

struct SpanBase {
  TZipMaster &zm;
  QString root, relPath;   // the set's volume, and the set's path below it
  bool removable = false;  // of the volume at root, read once per volume
  int partIndex = 0;       // -1 while the last disk is looked for
  int lastDisk = 0;
  bool newDiskDue = false, lastAnswerOk = true;
  qint64 archiveSize = 0;
  qint64 sourceDate = 0;

  explicit SpanBase(TZipMaster &z) : zm(z) {}

  void setSet(const QString &path) {
    const QString setPath = QFileInfo(path).absoluteFilePath();
    // The set's file need not exist yet: its volume is that of the nearest folder that does.
    QString existing = QFileInfo(setPath).absolutePath();
    while (!QFileInfo(existing).isDir() && existing.size() > 1) existing = QFileInfo(existing).absolutePath();
    setRoot(platform::volumeRoot(existing));
    relPath = QDir(root).relativeFilePath(setPath);
  }
  // The disk moved to another volume (a stick mounted elsewhere, a formatted disk mounted again).
  void setRoot(const QString &r) {
    root = r;
    removable = platform::isRemovableVolume(root);
  }
  DriveKind kind() const { return removable ? DriveKind::Removable : DriveKind::Fixed; }
  // The part's file on the current volume: numbered on a fixed volume (writing inserts the digits, reading
  // replaces the last three characters of the base name), the set's own name on removable media.
  QString partPath(int index, bool reading) const {
    const QString onVolume = QDir(root).filePath(relPath);
    if (kind() == DriveKind::Removable) return onVolume;
    const QFileInfo fi(onVolume);
    QString base = fi.completeBaseName();
    if (reading) base.chop(qMin<qsizetype>(3, base.size()));
    const QString ext = fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix();
    return fi.dir().filePath(base + QStringLiteral("%1").arg(index + 1, 3, 10, QLatin1Char('0')) + ext);
  }
  void pump() { QCoreApplication::processEvents(); }

  // Makes sure the right volume is there; asks for a disk on removable media. Returns the drive kind.
  DriveKind askForDisk() {
    pump();
    DriveKind k = kind();
    for (;;) {
      bool driveOk = false;
      try {
        driveOk = zm.CheckDrive(root);
      } catch (const EZipMaster &) {
        driveOk = false;
      }
      if (!((lastAnswerOk && !driveOk) || newDiskDue)) break;
      if (k == DriveKind::Fixed) {
        newDiskDue = false;
        break;
      }
      if (zm.Unattended()) throw EZipMaster(zipmsg::DS_NoUnattSpan);
      QString text;
      int icon = TZipMaster::IconQuestion;
      if (partIndex < 0) {
        text = zipmsg::format(zipmsg::DS_InsertDisk);
        icon = TZipMaster::IconStop;
      } else if (zm.AddBusy()) {
        qint64 partSize = zm.DiskSize();
        if (zm.MaxVolumeSize() > 0 && (partSize <= 0 || zm.MaxVolumeSize() < partSize)) partSize = zm.MaxVolumeSize();
        if (partSize > 0) {
          const int partsEstimate = qMax<int>(partIndex, int((archiveSize + zm.KeepFreeOnDisk1() + 4) / partSize));
          text = zipmsg::format(zipmsg::DS_InsertVolume, {partIndex + 1, partsEstimate + 1});
        } else {
          text = zipmsg::format(zipmsg::DS_InsertAVolume, {partIndex + 1});
        }
      } else {
        text = zipmsg::format(zipmsg::DS_InsertVolume, {partIndex + 1, lastDisk + 1});
      }
      text += zipmsg::format(zipmsg::DS_InDrive, {root});
      newDiskDue = false;
      bool ok = false;
      QString where = root;
      emit zm.DiskRequested(text, icon, &where, &ok);
      lastAnswerOk = ok;
      if (!ok) throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
      if (!where.isEmpty() && where != root) {
        setRoot(where);
        k = kind();
      }
    }
    return k;
  }
};

// ---- Writing a set

struct SpanWriter : SpanBase {
  std::unique_ptr<zipcopy::OutputFile> part;
  QStringList created;  // parts this run put in place on a fixed volume: removed again when the span fails
  qint64 freeBytes = 0, partBytes = 0;
  bool byteProgress = false;  // while member data and the directory go out

  using SpanBase::SpanBase;

  void closePart() {
    if (!part) return;
    QString error;
    if (!part->finish(&error)) throw EZipMaster(zipmsg::DS_NoWrite);
    part->setModified(sourceDate);
    if (!part->rename(&error)) throw EZipMaster(zipmsg::DS_NoOutFile);
    if (kind() == DriveKind::Fixed) created << part->target();
    part.reset();
  }

  // Opens the next part: steps through disks until one takes it. minNeeded: bytes that must fit at once.
  void openPart(qint64 minNeeded) {
    for (;;) {
      const DriveKind k = askForDisk();
      if (partIndex >= kMaxParts) throw SpanRefusal{QStringLiteral("A spanned set has at most 999 parts: choose a larger part size.")};
      const QString path = partPath(partIndex, false);
      if (k == DriveKind::Removable && (zm.AddOptions() & TZipMaster::AddDiskSpanErase)) {
        if (zm.ConfirmErase() &&
            zm.askQuestion(QStringLiteral("Confirm"),
                           QStringLiteral("Format the disk in %1? Everything on it will be erased.").arg(root),
                           TZipMaster::BtnYes | TZipMaster::BtnCancel, TZipMaster::IconWarning,
                           TZipMaster::BtnCancel) != TZipMaster::BtnYes)
          throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
        QString newRoot, error;
        switch (platform::formatVolume(root, partLabel(partIndex), &newRoot, &error)) {
          case platform::FormatResult::Done:
            if (!newRoot.isEmpty()) setRoot(newRoot);
            break;
          case platform::FormatResult::Cancelled:
            throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
          case platform::FormatResult::Failed:
            if (!error.isEmpty()) emit zm.OnMessage(0, error);
            throw EZipMaster(zipmsg::DS_Canceled);
          case platform::FormatResult::Unavailable:
            break;
        }
      }
      const QFileInfo existing(path);
      if (existing.exists()) {
        if (zm.Unattended()) throw EZipMaster(zipmsg::DS_NoUnattSpan);
        bool numOk = false;
        int labelNo = platform::readVolumeLabel(root).mid(8, 3).toInt(&numOk);
        if (!numOk) labelNo = 1;
        const bool previous = existing.lastModified().toSecsSinceEpoch() == sourceDate && labelNo - 1 < partIndex;
        const QString text = previous ? zipmsg::format(zipmsg::DS_AskPrevFile, {labelNo})
                                      : zipmsg::format(zipmsg::DS_AskDeleteFile, {QDir::toNativeSeparators(path)});
        const int answer = zm.askQuestion(QStringLiteral("Confirm"), text,
                                          TZipMaster::BtnYes | TZipMaster::BtnNo | TZipMaster::BtnCancel,
                                          TZipMaster::IconWarning, TZipMaster::BtnNo);
        // On a fixed volume another disk cannot come: No ends the span as Cancel does.
        if (answer == TZipMaster::BtnCancel || (answer == TZipMaster::BtnNo && k == DriveKind::Fixed))
          throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
        if (answer == TZipMaster::BtnNo) {
          newDiskDue = true;
          continue;
        }
      }
      QDir().mkpath(QFileInfo(path).absolutePath());
      part = std::make_unique<zipcopy::OutputFile>(path, 0666);
      if (!part->create()) {
        part.reset();
        throw EZipMaster(zipmsg::DS_NoOutFile);
      }
      partBytes = 0;
      const QStorageInfo volume(QFileInfo(path).absolutePath());
      freeBytes = volume.bytesAvailable();
      // A volume that does not tell its size (some FUSE file systems) takes the part size asked for.
      if (volume.bytesTotal() <= 0) freeBytes = zm.MaxVolumeSize();
      if (zm.MaxVolumeSize() > 0 && zm.MaxVolumeSize() < freeBytes) freeBytes = zm.MaxVolumeSize();
      if (partIndex == 0) freeBytes -= zm.KeepFreeOnDisk1();
      freeBytes = qMin(freeBytes, kMaxPartSize);
      // A part takes at least one byte: a full disk would otherwise give endless empty parts.
      if (freeBytes < std::max<qint64>({1, zm.MinFreeVolumeSize(), minNeeded})) {
        part.reset();
        if (zm.Unattended()) throw EZipMaster(zipmsg::DS_NoUnattSpan);
        // A header larger than a whole part could never be written: no part size helps.
        if (zm.MaxVolumeSize() > 0 && zm.MaxVolumeSize() < minNeeded + 4) throw EZipMaster(zipmsg::DS_NoDiskSpace);
        const int answer = zm.askQuestion(QCoreApplication::applicationName(), zipmsg::format(zipmsg::DS_NoDiskSpace),
                                          TZipMaster::BtnRetry | TZipMaster::BtnCancel, TZipMaster::IconError,
                                          TZipMaster::BtnRetry);
        if (answer != TZipMaster::BtnRetry) throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
        newDiskDue = true;
        continue;
      }
      if (k == DriveKind::Removable) {
        QString error;
        if (!platform::setVolumeLabel(root, partLabel(partIndex), &error)) {
          zm.ReportMessage(zipmsg::DS_NoVolume);
          if (!error.isEmpty()) emit zm.OnMessage(0, error);
        }
      }
      return;
    }
  }

  // Makes room for minNeeded bytes in the current part, moving to the next part when they do not fit.
  void room(qint64 minNeeded) {
    pump();
    if (zm.CancelRequested()) throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
    if (!part) openPart(minNeeded);
    if (minNeeded > 0 && freeBytes < minNeeded) {
      next();
      openPart(minNeeded);
    }
  }
  void next() {
    closePart();
    ++partIndex;
    newDiskDue = true;
    freeBytes = 0;
  }

  void writeSplit(const char *buf, qint64 len, qint64 minNeeded) {
    room(minNeeded);
    while (len > 0) {
      if (!part) room(0);
      const qint64 n = qMin(freeBytes, len);
      if (byteProgress) emit zm.OnProgress(TZipMaster::ProgressBytes, QString(), n);
      if (!part->write(buf, n)) throw EZipMaster(zipmsg::DS_NoWrite);
      freeBytes -= n;
      partBytes += n;
      buf += n;
      len -= n;
      if (len > 0) next();
    }
  }
  void writeSplit(const QByteArray &b, qint64 minNeeded) { writeSplit(b.constData(), b.size(), minNeeded); }

  // Copies count bytes of the source from offset into the parts, cut wherever a part is full.
  void copySplit(const zipcopy::SpliceFile &in, qint64 offset, qint64 count, int readError) {
    while (count > 0) {
      room(0);
      const qint64 n = qMin(freeBytes, count);
      const qint64 before = part->size();
      if (!part->copyFrom(in, offset, n, zm.copyProgress())) {
        if (zm.CancelRequested()) throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
        throw EZipMaster(zipmsg::DS_NoWrite);
      }
      const qint64 done = part->size() - before;
      if (done != n) throw EZipMaster(readError);
      freeBytes -= n;
      partBytes += n;
      offset += n;
      count -= n;
      if (count > 0) next();
    }
  }

  // Numbered parts beyond this set's last one, left by an older and longer set of the same name: a join
  // started from one of them would take this set's parts for its own. They go after asking, as an
  // overwritten part does; kept, they are named in the log.
  void offerStaleParts() {
    if (kind() != DriveKind::Fixed) return;
    QStringList stale;
    for (int n = partIndex + 1; n < kMaxParts; ++n) {
      const QString path = partPath(n, false);
      if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) stale << path;
    }
    if (stale.isEmpty()) return;
    QStringList names;
    for (const QString &path : stale) names << QFileInfo(path).fileName();
    if (names.size() > 6) names = names.mid(0, 3) + QStringList{QStringLiteral("...")} + names.mid(names.size() - 2);
    const QString folder = QDir::toNativeSeparators(QFileInfo(stale.front()).absolutePath());
    const QString list = names.join(QStringLiteral(", "));
    const bool remove =
        !zm.Unattended() &&
        zm.askQuestion(QStringLiteral("Confirm"),
                       QStringLiteral("The folder %1 still holds parts of an older set of this name (%2), which do "
                                      "not belong to the new set.\nDo you want to delete them")
                           .arg(folder, list),
                       TZipMaster::BtnYes | TZipMaster::BtnNo, TZipMaster::IconWarning, TZipMaster::BtnNo) ==
            TZipMaster::BtnYes;
    if (!remove) {
      emit zm.OnMessage(0, QStringLiteral("Parts of an older set were kept in %1: %2").arg(folder, list));
      return;
    }
    for (const QString &path : stale) {
      QString error;
      if (!zm.deleteByHowToDelete(path, &error))
        zm.reportText(error.isEmpty() ? QStringLiteral("%1 could not be deleted.").arg(QDir::toNativeSeparators(path)) : error);
    }
  }

  void removeCreated() {
    part.reset();
    for (const QString &p : created) QFile::remove(p);
    created.clear();
  }
};

int TZipMaster::askQuestion(const QString &caption, const QString &text, int buttons, int icon, int defaultButton) {
  int answer = BtnCancel;
  emit QuestionRequested(caption, text, buttons, icon, defaultButton, &answer);
  return answer;
}

// Runs a span operation and turns its failures into the results -7, -8 and -9.
int TZipMaster::spanResult(const std::function<void()> &work) {
  try {
    work();
    return 0;
  } catch (const EZipMaster &e) {
    HandleException(e);
    return -7;
  } catch (const SpanRefusal &r) {
    reportText(r.text);
    return -9;
  } catch (const std::bad_alloc &) {
    ReportMessage(zipmsg::GE_NoMem);
    return -8;
  } catch (...) {
    ReportMessage(zipmsg::DS_ErrorUnknown);
    return -9;
  }
}

int TZipMaster::WriteSpan(const QString &inFile, const QString &outName) {
  BusyFlag busy(addBusy_);
  SpanWriter w(*this);
  w.setSet(outName);
  w.newDiskDue = true;
  if (verbose_) emit OnMessage(0, QStringLiteral("Now creating spanning chunks from ") + inFile + QStringLiteral(" to ") + outName);
  const int result = spanResult([&] {
    if (!QFileInfo(inFile).isFile()) throw EZipMaster(zipmsg::DS_NoInFile);
    ZipEndOfCentral rec;
    ReadEndRecord(inFile, rec, true);
    closeArchiveFile();
    if (rec.Zip64 || rec.TotalEntries == 0xFFFF) throw zip64Refusal();
    w.sourceDate = QFileInfo(inFile).lastModified().toSecsSinceEpoch();
    w.archiveSize = endOfZipData_;
    zipcopy::SpliceFile in(inFile);
    if (!in.openRead()) throw EZipMaster(zipmsg::DS_NoInFile);
    const qint64 dirPos = endRecordPos_ - qint64(rec.CentralSize);
    if (dirPos < 0) throw EZipMaster(zipmsg::DS_CEHBadRead);
    QByteArray dir(rec.CentralSize, Qt::Uninitialized), end(22, Qt::Uninitialized),
        comment(endOfZipData_ - endRecordPos_ - 22, Qt::Uninitialized);
    if (!in.readAt(dirPos, dir.data(), dir.size())) throw EZipMaster(zipmsg::DS_CEHBadRead);
    if (!in.readAt(endRecordPos_, end.data(), 22)) throw EZipMaster(zipmsg::DS_EOCBadRead);
    if (!in.readAt(endRecordPos_ + 22, comment.data(), comment.size())) throw EZipMaster(zipmsg::DS_EOArchComLen);
    const uint64_t entries = rec.TotalEntries;
    std::vector<CentralRef> central = parseCentral(dir, entries);
    // Offsets that count from the zip data rather than the file (a program glued in front) are shifted.
    const qint64 shift = dirPos - qint64(rec.CentralOffset);
    // The local records in file order; members sharing one record keep sharing it.
    std::vector<qint64> starts;
    for (const CentralRef &c : central) starts.push_back(qint64(c.localOffset) + shift);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    if (!starts.empty() && (starts.front() < 0 || starts.back() >= dirPos)) throw EZipMaster(zipmsg::DS_LOHBadRead);
    // The source's records are whole, as a join will check them: a set is not cut from a damaged archive.
    {
      std::vector<LocalRecord> records;
      records.reserve(central.size());
      for (const CentralRef &c : central) {
        const qint64 at = qint64(c.localOffset) + shift;
        uchar lh[30];
        if (at + 30 > dirPos || !in.readAt(at, reinterpret_cast<char *>(lh), 30)) throw EZipMaster(zipmsg::DS_LOHBadRead);
        if (rd32(lh) != kSigLocal) throw EZipMaster(zipmsg::DS_LOHWrongSig);
        records.push_back({at, at + 30 + rd16(lh + 26) + rd16(lh + 28), rd16(lh + 6), &c});
      }
      checkRecords(records, dirPos, [&](qint64 at, char *buf, qint64 n) { return in.readAt(at, buf, n); });
    }
    std::map<qint64, std::pair<int, qint64>> placed;  // source offset -> part index, offset in part

    emit OnProgress(ProgressTotalMembers, QString(), qint64(entries));
    emit OnProgress(ProgressTotalBytes, QString(), endOfZipData_);
    QByteArray marker(4, '\0');
    wr32(reinterpret_cast<uchar *>(marker.data()), kSigSpan);
    w.writeSplit(marker, 0);
    w.byteProgress = true;
    for (size_t i = 0; i < starts.size(); ++i) {
      const qint64 at = starts[i], stop = i + 1 < starts.size() ? starts[i + 1] : dirPos;
      uchar lh[30];
      if (!in.readAt(at, reinterpret_cast<char *>(lh), 30)) throw EZipMaster(zipmsg::DS_LOHBadRead);
      if (rd32(lh) != kSigLocal) throw EZipMaster(zipmsg::DS_LOHWrongSig);
      const qint64 nameLen = rd16(lh + 26), extraLen = rd16(lh + 28), headLen = 30 + nameLen + extraLen;
      if (at + headLen > stop) throw EZipMaster(zipmsg::DS_LOExtraLen);
      QByteArray head(headLen, Qt::Uninitialized);
      if (!in.readAt(at, head.data(), headLen)) throw EZipMaster(zipmsg::DS_LONameLen);
      const QString name = QString::fromUtf8(head.constData() + 30, nameLen);
      emit OnMessage(0, zipmsg::format(zipmsg::GE_Copying) + name);
      emit OnProgress(ProgressNewMember, name, stop - at);
      w.writeSplit(head, headLen);
      placed[at] = {w.partIndex, w.partBytes - headLen};
      w.copySplit(in, at + headLen, stop - at - headLen, zipmsg::DS_ZipData);
    }
    emit OnMessage(0, QStringLiteral("Copying: Central directory"));
    emit OnProgress(ProgressNewMember, QStringLiteral("Central directory"), dir.size() + comment.size() + 22);
    int firstPart = -1;
    qint64 firstOffset = 0;
    auto *d = reinterpret_cast<uchar *>(dir.data());
    for (const CentralRef &c : central) {
      const auto found = placed.find(qint64(c.localOffset) + shift);
      if (found == placed.end()) throw EZipMaster(zipmsg::DS_EntryLost);
      wr16(d + c.at + 34, uint16_t(found->second.first));
      wr32(d + c.at + 42, uint32_t(found->second.second));
      w.writeSplit(dir.constData() + c.at, c.length, c.length);
      if (firstPart < 0) {
        firstPart = w.partIndex;
        firstOffset = w.partBytes - c.length;
      }
    }
    if (firstPart < 0) {  // no members: the directory starts where the end record goes
      w.room(22 + comment.size());
      firstPart = w.partIndex;
      firstOffset = w.partBytes;
    }
    auto *e = reinterpret_cast<uchar *>(end.data());
    // Bytes between the headers are not carried over: the size says what was written.
    wr32(e + 12, uint32_t(directorySize(central)));
    wr16(e + 4, uint16_t(w.partIndex));
    wr16(e + 6, uint16_t(firstPart));
    wr32(e + 16, uint32_t(firstOffset));
    // The end record and its comment stay together, and with the directory's last part if they fit.
    w.room(22 + comment.size());
    wr16(e + 4, uint16_t(w.partIndex));
    end.append(comment);
    w.writeSplit(end, end.size());
    w.byteProgress = false;
    const QString last = w.part ? w.part->target() : QString();
    w.closePart();
    lastSpanPart_ = last;
    w.offerStaleParts();
  });
  emit OnProgress(ProgressBatchEnd, QString(), 0);
  if (result != 0) w.removeCreated();
  closeArchiveFile();
  return result;
}

// ---- Reading a set

struct SpanReader : SpanBase {
  std::unique_ptr<zipcopy::SpliceFile> in;
  qint64 inSize = 0;

  using SpanBase::SpanBase;

  // Opens part n for reading; on removable media asks until the disk with its label is in.
  void getNewDisk(int n) {
    in.reset();
    partIndex = n;
    bool failed = false;
    for (;;) {
      if (failed) {
        if (kind() == DriveKind::Fixed) throw EZipMaster(zipmsg::DS_NoInFile);
        zm.ReportMessage(zipmsg::DS_NoInFile);
      }
      if (failed || kind() == DriveKind::Removable) {
        for (;;) {
          newDiskDue = failed || kind() == DriveKind::Removable;
          const DriveKind k = askForDisk();
          if (k == DriveKind::Fixed || platform::readVolumeLabel(root) == partLabel(n)) break;
          failed = false;
        }
      }
      auto f = std::make_unique<zipcopy::SpliceFile>(partPath(n, true));
      if (f->openRead()) {
        in = std::move(f);
        inSize = in->size();
        return;
      }
      failed = true;
    }
  }

  // The directory's bytes from its start on part rec.CentralDiskNo through part `last`: up to lastEnd there, or
  // the whole part when lastEnd is negative.
  QByteArray readDirectory(const ZipEndOfCentral &rec, int last, qint64 lastEnd) {
    QByteArray dir;
    for (int n = rec.CentralDiskNo; n <= last; ++n) {
      getNewDisk(n);
      const qint64 from = n == rec.CentralDiskNo ? qint64(rec.CentralOffset) : 0;
      const qint64 to = n == last && lastEnd >= 0 ? lastEnd : inSize;
      if (from > to || to > inSize) throw EZipMaster(zipmsg::DS_CEHBadRead);
      QByteArray chunk(to - from, Qt::Uninitialized);
      if (!in->readAt(from, chunk.data(), chunk.size())) throw EZipMaster(zipmsg::DS_CEHBadRead);
      dir.append(chunk);
    }
    return dir;
  }
};

// The directory's bytes on the parts before the last, for List on a set's last part.
QByteArray TZipMaster::readDirectoryAcrossParts(const ZipEndOfCentral &rec) {
  SpanReader r(*this);
  r.setSet(zipFilename_);
  r.lastDisk = rec.ThisDiskNo;
  return r.readDirectory(rec, rec.ThisDiskNo - 1, -1);
}

int TZipMaster::ReadSpan(const QString &inFile, QString &outFile) {
  BusyFlag busy(extractBusy_);
  SpanReader r(*this);
  r.setSet(inFile);
  r.partIndex = -1;
  std::unique_ptr<zipcopy::OutputFile> out;
  QString target;
  const int result = spanResult([&] {
    if (QFileInfo(outFile).fileName().isEmpty() || outFile.endsWith(QLatin1Char('/'))) {
      QTemporaryFile tmp(QDir(outFile).filePath(QStringLiteral("zipXXXXXX")));
      if (!tmp.open()) throw EZipMaster(zipmsg::DS_NoTempFile);
      target = tmp.fileName();
    } else {
      target = outFile;
    }
    const QFileInfo tfi(target);
    target = tfi.dir().filePath(tfi.completeBaseName() + QStringLiteral(".zip"));
    out = std::make_unique<zipcopy::OutputFile>(target, 0666);
    if (!out->create()) throw EZipMaster(zipmsg::DS_NoOutFile);

    // The last part first: it holds the end record.
    ZipEndOfCentral rec;
    for (;;) {
      r.askForDisk();
      r.newDiskDue = true;
      const QString last = QDir(r.root).filePath(r.relPath);
      if (QFileInfo(last).isFile() && ReadEndRecord(last, rec, false)) break;  // the last part stays open
      if (r.kind() == DriveKind::Fixed) {
        bool ok = false;
        const int number = QFileInfo(last).completeBaseName().right(3).toInt(&ok);
        closeArchiveFile();
        if (!QFileInfo(last).isFile()) throw EZipMaster(zipmsg::DS_NoInFile);
        if (ok && number == 1) throw EZipMaster(zipmsg::DS_FirstInSet);
        if (ok) throw EZipMaster(zipmsg::DS_NotLastInSet, number);
        throw EZipMaster(zipmsg::DS_NoValidZip);
      }
    }
    r.sourceDate = QFileInfo(file_).lastModified().toSecsSinceEpoch();
    const qint64 lastEnd = endRecordPos_, commentLen = endOfZipData_ - endRecordPos_ - 22;
    QByteArray end = file_.seek(lastEnd) ? file_.read(22) : QByteArray();
    const QByteArray comment = file_.read(commentLen);
    closeArchiveFile();
    if (end.size() != 22) throw EZipMaster(zipmsg::DS_EOCBadRead);
    if (comment.size() != commentLen) throw EZipMaster(zipmsg::DS_EOArchComLen);
    if (rec.Zip64 || rec.TotalEntries == 0xFFFF) throw zip64Refusal();
    r.lastDisk = rec.ThisDiskNo;
    if (rec.CentralDiskNo > rec.ThisDiskNo) throw EZipMaster(zipmsg::DS_CEHBadRead);
    // First pass: the whole directory, which may run over several parts.
    QByteArray dir = r.readDirectory(rec, rec.ThisDiskNo, lastEnd);
    std::vector<CentralRef> central = parseCentral(dir, rec.TotalEntries);
    qint64 total = 0;
    for (const CentralRef &c : central) total += c.length - 46 + c.csize;

    // Second pass: the parts' data, in order, into one file. Part n's byte 0 lands at base[n].
    r.getNewDisk(0);
    emit OnProgress(ProgressTotalMembers, QString(), qint64(central.size()));
    emit OnProgress(ProgressTotalBytes, QString(), total);
    uchar sig[4];
    if (!r.in->readAt(0, reinterpret_cast<char *>(sig), 4) || rd32(sig) != kSigSpan)
      throw EZipMaster(zipmsg::DS_ExtWrongSig);
    std::vector<qint64> base(size_t(rec.ThisDiskNo) + 1, -1), partEnd(size_t(rec.ThisDiskNo) + 1, -1);
    const auto progress = copyProgress();
    for (int n = 0; n <= rec.CentralDiskNo; ++n) {
      if (n > 0) r.getNewDisk(n);
      base[size_t(n)] = out->size() - (n == 0 ? 4 : 0);
      const qint64 from = n == 0 ? 4 : 0, to = n == rec.CentralDiskNo ? qint64(rec.CentralOffset) : r.inSize;
      if (to > r.inSize || from > to) throw EZipMaster(zipmsg::DS_LOHBadRead);
      // The members starting on this part, in the order they lie there, for the messages.
      std::vector<const CentralRef *> here;
      for (const CentralRef &c : central)
        if (c.disk == n) here.push_back(&c);
      std::sort(here.begin(), here.end(), [](auto *a, auto *b) { return a->localOffset < b->localOffset; });
      qint64 at = from;
      for (size_t i = 0; i <= here.size(); ++i) {
        const qint64 stop = i < here.size() ? qBound(at, qint64(here[i]->localOffset), to) : to;
        if (stop > at && !out->copyFrom(*r.in, at, stop - at, progress)) {
          if (cancelRequested_) throw EZipMaster(zipmsg::DS_Canceled, QVariantList{}, false);
          throw EZipMaster(zipmsg::DS_NoWrite);
        }
        at = stop;
        if (i < here.size()) {
          const QString name = QString::fromUtf8(here[i]->name);
          emit OnMessage(0, zipmsg::format(zipmsg::GE_Copying) + name);
          emit OnProgress(ProgressNewMember, name, here[i]->csize + here[i]->name.size() + 30);
        }
      }
      if (out->size() - base[size_t(n)] != to) throw EZipMaster(zipmsg::DS_ZipData);
      partEnd[size_t(n)] = out->size();
    }
    // Every member's local header is where its directory entry now says. Its name is not compared: a local
    // name that differs from the directory's is the archive's own (the unzip engine warns about it), and the
    // set was written from that archive as it was.
    // Every member's record is whole where its directory entry now puts it (a part that lost bytes fails here).
    const qint64 dataEnd = out->size();
    auto *d = reinterpret_cast<uchar *>(dir.data());
    std::vector<LocalRecord> records;
    records.reserve(central.size());
    for (const CentralRef &c : central) {
      if (c.disk > rec.CentralDiskNo) throw EZipMaster(zipmsg::DS_EntryLost);
      const qint64 moved = base[c.disk] + qint64(c.localOffset);
      if (moved < 0 || moved + 30 > dataEnd) throw EZipMaster(zipmsg::DS_EntryLost);
      if (moved >= qint64(0xFFFFFFFFu))
        throw joinTooLarge();
      uchar lh[30];
      if (!out->readBack(moved, reinterpret_cast<char *>(lh), 30)) throw EZipMaster(zipmsg::DS_LOHBadRead);
      if (rd32(lh) != kSigLocal) throw EZipMaster(zipmsg::DS_LOHWrongSig);
      // A local header with its name and extra field never straddles two parts.
      const qint64 headEnd = moved + 30 + rd16(lh + 26) + rd16(lh + 28);
      if (headEnd > partEnd[c.disk]) throw EZipMaster(zipmsg::DS_LOHBadRead);
      records.push_back({moved, headEnd, rd16(lh + 6), &c});
      wr16(d + c.at + 34, 0);
      wr32(d + c.at + 42, uint32_t(moved));
    }
    checkRecords(records, dataEnd, [&](qint64 at, char *buf, qint64 n) { return out->readBack(at, buf, n); });
    if (dataEnd >= qint64(0xFFFFFFFFu))
      throw joinTooLarge();
    for (const CentralRef &c : central)
      if (!out->write(dir.constData() + c.at, c.length)) throw EZipMaster(zipmsg::DS_CEHBadWrite);
    auto *e = reinterpret_cast<uchar *>(end.data());
    wr16(e + 4, 0);
    wr16(e + 6, 0);
    wr16(e + 8, rd16(e + 10));  // one disk holds every entry now
    wr32(e + 12, uint32_t(directorySize(central)));
    wr32(e + 16, uint32_t(dataEnd));
    if (!out->write(end)) throw EZipMaster(zipmsg::DS_EOCBadWrite);
    if (!out->write(comment)) throw EZipMaster(zipmsg::DS_EOArchComLen);
    QString error;
    if (!out->finish(&error)) throw EZipMaster(zipmsg::DS_NoWrite);
    out->setModified(r.sourceDate);
    if (!deleteByHowToDelete(target, &error) || !out->rename(&error)) throw EZipMaster(zipmsg::DS_NoOutFile);
  });
  emit OnProgress(ProgressBatchEnd, QString(), 0);
  r.in.reset();
  out.reset();  // a failed join's temporary file goes with it
  if (result == 0) {
    outFile = target;
  } else {
    outFile.clear();
  }
  return result;
}
