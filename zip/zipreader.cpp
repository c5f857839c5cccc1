// The directory reader of TZipMaster: List, ReadEndRecord and CheckDrive. Every length read from the
// archive is checked against the bytes actually read; nothing is read past the end of the file.
#include "zip/zipmaster.h"

#include "engines/zipformat.h"
#include "engines/zipnames.h"
#include "platform/paths.h"
#include "platform/removable.h"
#include "platform/volumes.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <new>

namespace {

using namespace zipformat;
// A spanned set's first part starts with the data descriptor's signature.
constexpr uint32_t kSigSpan = kSigDescriptor;

QString convertText(const QByteArray &raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                    TZipMaster::CodePageOpts cp) {
  const std::string_view v(raw.constData(), size_t(raw.size()));
  if (flags & 0x0800) return QString::fromUtf8(raw);
  if (zipnames::isAscii(v)) return QString::fromLatin1(raw);
  const auto page = cp == TZipMaster::cpOEM ? zipnames::CodePage::Oem
                    : cp == TZipMaster::cpNone ? zipnames::CodePage::None
                                               : zipnames::CodePage::Auto;
  if (zipnames::isOemName(host, madeBy, page)) return QString::fromStdString(zipnames::cp437ToUtf8(v));
  if (zipnames::isValidUtf8(v)) return QString::fromUtf8(raw);
  // Not UTF-8: byte for byte when no conversion is wanted, else code page 437 as the unzip engine
  // reads it, so that a listed name always selects its member.
  if (cp == TZipMaster::cpNone) return QString::fromLatin1(raw);
  return QString::fromStdString(zipnames::cp437ToUtf8(v));
}

}  // namespace

void TZipMaster::clearDirectory() {
  entries_.clear();
  archiveStart_ = 0;
  fileSize_ = 0;
  centralDirPos_ = 0;
  endRecordPos_ = 0;
  endOfZipData_ = 0;
  archiveComment_.clear();
  spannedArchive_ = false;
  structureWarning_ = false;
}

void TZipMaster::closeArchiveFile() {
  if (file_.isOpen()) file_.close();
}

bool TZipMaster::CheckDrive(const QString &root) {
  volumeLabel_.clear();
  diskFree_ = diskSize_ = -1;
  driveRoot_ = root;
  if (root.isEmpty() || !root.startsWith('/')) throw EZipMaster(zipmsg::DS_NotaDrive, root);
  QStorageInfo info(root);
  if (!info.isValid() || !info.isReady()) {
    // A disk about to be formatted for spanning does not need to be readable yet.
    return addOptions_ & AddDiskSpanErase;
  }
  // Spanned sets label their disks; the label is the file system's own, read from the device.
  const QString label = platform::isRemovableVolume(root) ? platform::readVolumeLabel(root) : QString();
  volumeLabel_ = (label.isEmpty() ? info.name() : label).left(255);
  diskFree_ = info.bytesAvailable();
  diskSize_ = info.bytesTotal();
  return diskSize_ >= 0;
}

bool TZipMaster::ReadEndRecord(const QString &archive, ZipEndOfCentral &rec, bool raise) {
  archiveComment_.clear();
  firstPartMarker_ = false;
  labelDiskNumber_ = 0;
  endRecordPos_ = 0;
  rec = ZipEndOfCentral{};
  closeArchiveFile();
  file_.setFileName(archive);
  if (!file_.open(QIODevice::ReadOnly)) {
    if (raise) throw EZipMaster(zipmsg::DS_NoInFile);
    ReportMessage(zipmsg::DS_FileOpen);
    return false;
  }
  if (volumeLabel_.startsWith(QLatin1String("PKBACK# "))) {
    bool ok = false;
    const int n = volumeLabel_.mid(8, 3).toInt(&ok);
    labelDiskNumber_ = ok ? n : 0;
  }
  const qint64 length = file_.size();
  fileSize_ = length;
  uchar head[8];
  if (length >= 8 && file_.read(reinterpret_cast<char *>(head), 8) == 8 && rd32(head) == kSigSpan &&
      rd32(head + 4) == kSigLocal) {
    firstPartMarker_ = true;
    spannedArchive_ = true;
  }
  auto fill = [&](const uchar *p) {
    rec.HeaderSig = rd32(p);
    rec.ThisDiskNo = rd16(p + 4);
    rec.CentralDiskNo = rd16(p + 6);
    rec.CentralEntries = rd16(p + 8);
    rec.TotalEntries = rd16(p + 10);
    rec.CentralSize = rd32(p + 12);
    rec.CentralOffset = rd32(p + 16);
    rec.ZipCommentLen = rd16(p + 20);
    rec.TotalEntries64 = rec.TotalEntries;
    rec.CentralSize64 = rec.CentralSize;
    rec.CentralOffset64 = rec.CentralOffset;
    rec.ThisDiskNo64 = rec.ThisDiskNo;
    rec.CentralDiskNo64 = rec.CentralDiskNo;
  };
  bool found = false;
  if (length >= 22) {
    uchar last[22];
    if (!file_.seek(length - 22)) throw EZipMaster(zipmsg::DS_FailedSeek);
    if (file_.read(reinterpret_cast<char *>(last), 22) != 22) throw EZipMaster(zipmsg::DS_EOCBadRead);
    if (rd32(last) == kSigEnd && rd16(last + 20) == 0) {
      fill(last);
      endOfZipData_ = length;
      endRecordPos_ = length - 22;
      found = true;
    }
  }
  if (!found && length >= 22) {
    const qint64 window = qMin<qint64>(length, 65557);
    if (!file_.seek(length - window)) throw EZipMaster(zipmsg::DS_FailedSeek);
    const QByteArray buf = file_.read(window);
    if (buf.size() != window) throw EZipMaster(zipmsg::DS_EOCBadRead);
    const auto *b = reinterpret_cast<const uchar *>(buf.constData());
    for (qint64 i = window - 22; i >= 0; --i) {
      if (b[i] != 'P' || b[i + 1] != 'K' || b[i + 2] != 5 || b[i + 3] != 6) continue;
      fill(b + i);
      endRecordPos_ = length - window + i;
      // A comment length that claims more than the file holds is cut to what is there.
      const qint64 have = window - i - 22;
      const qint64 commentLen = qMin<qint64>(rec.ZipCommentLen, have);
      endOfZipData_ = endRecordPos_ + 22 + commentLen;
      if (endOfZipData_ != length) {
        const qint64 after = length - endOfZipData_;
        const QByteArray tail = buf.mid(i + 22 + commentLen);
        const bool zeroPadding = length % 512 == 0 && after < 512 && tail.count('\0') == tail.size();
        if (!zeroPadding) ReportMessage(zipmsg::LI_GarbageAtEOF);
      }
      // The archive comment has no maker: UTF-8 when it is UTF-8, code page 437 only when asked for.
      if (commentLen > 0) archiveComment_ = convertText(buf.mid(i + 22, commentLen), 0, 3, 0, codePage_);
      found = true;
      break;
    }
  }
  if (!found) {
    if (!raise) return false;
    if (!firstPartMarker_ && labelDiskNumber_ != 0) throw EZipMaster(zipmsg::DS_NotLastInSet, labelDiskNumber_);
    if (firstPartMarker_ && labelDiskNumber_ == 1) throw EZipMaster(zipmsg::DS_FirstInSet);
    if (firstPartMarker_) throw EZipMaster(zipmsg::DS_FirstFileOnHD);
    throw EZipMaster(zipmsg::DS_NoValidZip);
  }
  // Zip64: a locator right before the end record points to the 64-bit end record.
  if (endRecordPos_ >= 20 + 56) {
    uchar loc[20];
    if (file_.seek(endRecordPos_ - 20) && file_.read(reinterpret_cast<char *>(loc), 20) == 20 &&
        rd32(loc) == kSigLocator64) {
      uchar z[56];
      const qint64 expected = endRecordPos_ - 20 - 56;
      if (file_.seek(expected) && file_.read(reinterpret_cast<char *>(z), 56) == 56 && rd32(z) == kSigEnd64) {
        rec.Zip64 = true;
        rec.ThisDiskNo64 = rd32(z + 16);
        rec.CentralDiskNo64 = rd32(z + 20);
        rec.TotalEntries64 = rd64(z + 32);
        rec.CentralSize64 = rd64(z + 40);
        rec.CentralOffset64 = rd64(z + 48);
      }
    }
  }
  return true;
}

void TZipMaster::List() {
  clearDirectory();
  if (zipFilename_.isEmpty() || !QFileInfo(zipFilename_).isFile()) {
    emit OnDirUpdate();
    return;
  }
  bool failed = false;
  qint64 storedOffset = 0;
  try {
    const QString full = QFileInfo(zipFilename_).absoluteFilePath();
    const QString root = platform::volumeRoot(full);
    if (!CheckDrive(root)) throw EZipMaster(zipmsg::DS_DriveNoMount, root);
    ZipEndOfCentral rec;
    ReadEndRecord(full, rec, true);
    lastDiskNumber_ = int(rec.ThisDiskNo64);
    if (lastDiskNumber_ != 0) spannedArchive_ = true;
    if (rec.CentralDiskNo64 > rec.ThisDiskNo64) throw EZipMaster(zipmsg::DS_CEHBadRead);
    const qint64 cdSize = qint64(qMin<uint64_t>(rec.CentralSize64, uint64_t(fileSize_)));
    const qint64 recordStart = rec.Zip64 ? endRecordPos_ - 20 - 56 : endRecordPos_;
    const qint64 commentLen = endOfZipData_ - endRecordPos_ - 22;
    centralDirPos_ = rec.Zip64 ? recordStart - cdSize : endOfZipData_ - cdSize - commentLen - 22;
    storedOffset = qint64(qMin<uint64_t>(rec.CentralOffset64, uint64_t(INT64_MAX)));
    if (centralDirPos_ < 0 && rec.CentralDiskNo64 == rec.ThisDiskNo64) throw EZipMaster(zipmsg::LI_ReadZipError);
    if (storedOffset != centralDirPos_ && rec.CentralDiskNo64 == rec.ThisDiskNo64) {
      structureWarning_ = true;
      ReportMessage(zipmsg::LI_WrongZipStruct);
    }
    // Offsets are never above the stored directory offset; starting there keeps an empty archive right.
    archiveStart_ = storedOffset;
    if (rec.CentralDiskNo64 == rec.ThisDiskNo64 && !file_.seek(centralDirPos_)) throw EZipMaster(zipmsg::LI_ReadZipError);
    // The directory lies between its start and the end record: read those bytes once.
    QByteArray cd;
    if (rec.CentralDiskNo64 != rec.ThisDiskNo64) {
      // It begins on an earlier part of a set: its bytes there come first, then this part's up to the record.
      if (!file_.seek(0)) throw EZipMaster(zipmsg::LI_ReadZipError);
      const QByteArray here = file_.read(recordStart);
      closeArchiveFile();  // another disk may have to go in
      cd = readDirectoryAcrossParts(rec) + here;
      centralDirPos_ = storedOffset = archiveStart_ = 0;
      structureWarning_ = false;
    } else {
      cd = file_.read(recordStart - centralDirPos_);
    }
    const auto *c = reinterpret_cast<const uchar *>(cd.constData());
    const qint64 have = cd.size();
    qint64 at = 0;
    const uint64_t total = rec.TotalEntries64;
    entries_.reserve(size_t(qMin<uint64_t>(total, uint64_t(have / 46 + 1))));
    for (uint64_t n = 0; n < total; ++n) {
      if (at + 46 > have) throw EZipMaster(zipmsg::DS_CEHBadRead);
      const uchar *h = c + at;
      if (rd32(h) != kSigCentral) throw EZipMaster(zipmsg::DS_CEHWrongSig);
      ZipDirEntry e;
      e.VersionMadeBy = h[4];
      e.HostSystem = h[5];
      e.VersionNeeded = rd16(h + 6);
      e.GeneralFlags = rd16(h + 8);
      e.CompressionMethod = rd16(h + 10);
      e.LastModTime = rd16(h + 12);
      e.LastModDate = rd16(h + 14);
      e.Crc32 = rd32(h + 16);
      e.CompressedSize = rd32(h + 20);
      e.UncompressedSize = rd32(h + 24);
      e.FileNameLength = rd16(h + 28);
      e.ExtraFieldLength = rd16(h + 30);
      e.FileCommentLength = rd16(h + 32);
      e.DiskNumberStart = rd16(h + 34);
      e.InternalAttributes = rd16(h + 36);
      e.ExternalAttributes = rd32(h + 38);
      e.LocalHeaderOffset = rd32(h + 42);
      e.CompressedSize64 = e.CompressedSize;
      e.UncompressedSize64 = e.UncompressedSize;
      e.LocalHeaderOffset64 = e.LocalHeaderOffset;
      at += 46;
      if (at + e.FileNameLength > have) throw EZipMaster(zipmsg::DS_CENameLen);
      e.FileName = convertText(QByteArray(cd.constData() + at, e.FileNameLength), e.GeneralFlags, e.HostSystem,
                               e.VersionMadeBy, codePage_);
      at += e.FileNameLength;
      if (at + e.ExtraFieldLength > have) throw EZipMaster(zipmsg::LI_ReadZipError);
      // Zip64 values of the fields that carry the 0xFFFFFFFF marker, in their fixed order.
      for (qint64 x = at; x + 4 <= at + e.ExtraFieldLength;) {
        const uint16_t id = rd16(c + x), len = rd16(c + x + 2);
        if (x + 4 + len > at + e.ExtraFieldLength) break;
        if (id == 0x0001) {
          const uchar *q = c + x + 4, *end = q + len;
          auto take = [&](bool need, uint64_t &field) {
            if (need && q + 8 <= end) {
              field = rd64(q);
              q += 8;
            }
          };
          take(e.UncompressedSize == 0xFFFFFFFFu, e.UncompressedSize64);
          take(e.CompressedSize == 0xFFFFFFFFu, e.CompressedSize64);
          take(e.LocalHeaderOffset == 0xFFFFFFFFu, e.LocalHeaderOffset64);
        }
        x += 4 + len;
      }
      at += e.ExtraFieldLength;
      if (e.FileCommentLength) {
        if (at + e.FileCommentLength > have) throw EZipMaster(zipmsg::DS_CECommentLen);
        e.FileComment = convertText(QByteArray(cd.constData() + at, e.FileCommentLength), e.GeneralFlags,
                                    e.HostSystem, e.VersionMadeBy, codePage_);
        at += e.FileCommentLength;
      }
      archiveStart_ = qMin<qint64>(archiveStart_, qint64(qMin<uint64_t>(e.LocalHeaderOffset64, INT64_MAX)));
      entries_.push_back(std::move(e));
    }
    lastDiskNumber_ = int(rec.ThisDiskNo64);
  } catch (const EZipMaster &e) {
    HandleException(e);
    failed = true;
  } catch (const std::bad_alloc &) {
    ReportMessage(zipmsg::GE_NoMem);
    failed = true;
  } catch (...) {
    ReportMessage(zipmsg::LI_ErrorUnknown);
    failed = true;
  }
  closeArchiveFile();
  if (failed) {
    zipFilename_.clear();
    entries_.clear();
    archiveStart_ = 0;
  } else {
    // A stored directory offset that lies cannot put the data before the file's start or past the directory.
    archiveStart_ = qBound<qint64>(0, archiveStart_ + centralDirPos_ - storedOffset, centralDirPos_);
  }
  emit OnDirUpdate();
}
