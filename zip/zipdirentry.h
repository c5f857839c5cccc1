#pragma once
// One central-directory entry as read by TZipMaster::List.
#include <QString>
#include <cstdint>

struct ZipDirEntry {
  // The header's bytes 4-45, unchanged.
  uint8_t VersionMadeBy = 0;
  uint8_t HostSystem = 0;
  uint16_t VersionNeeded = 0;
  uint16_t GeneralFlags = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModTime = 0;
  uint16_t LastModDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  // Converted texts.
  QString FileName;
  QString FileComment;
  // The true sizes and offset: equal to the 32-bit fields, or taken from the Zip64 extra field.
  uint64_t CompressedSize64 = 0;
  uint64_t UncompressedSize64 = 0;
  uint64_t LocalHeaderOffset64 = 0;

  bool encrypted() const { return GeneralFlags & 1; }
  bool isFolder() const { return FileName.endsWith(QLatin1Char('/')); }
  // DOS date in the high half, time in the low half.
  uint32_t dosDateTime() const { return (uint32_t(LastModDate) << 16) | LastModTime; }
};
