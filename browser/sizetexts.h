#pragma once
// Texts of a browser pair's status bar: the total size of the listed files (panel 1) and the free space of
// the volume holding the folder (panel 2). The formatters are pure; the Get* helpers read the file system.
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace sizetexts {

// "512 Bytes", "1 KB", "0.99 MB", "3 MB": bytes below 1024, whole kilobytes below 1000 KB, otherwise
// megabytes truncated (not rounded) to at most two decimals. Negative totals count as 0.
QString SizeText(qint64 totalBytes, const QLocale &locale = QLocale());

// Free-space text: below 1,000,000 KB "<MB> MB Disk Space Free", otherwise the extended text. No figure
// (the volume could not be asked) reads as the extended text of 0.
QString DiskSpaceText(std::optional<quint64> freeBytes, const QLocale &locale = QLocale());
// The extended text: whole megabytes of the free bytes shown as "<GB> GB Disk Space Free".
QString ExtendedDiskSpaceText(std::optional<quint64> freeBytes, const QLocale &locale = QLocale());

// Sum of the sizes of the named entries of the folder that are files (folders and missing names add
// nothing). 64-bit, so totals of 2 GB and more are right.
qint64 ListedFilesTotal(const QString &folder, const QStringList &names);
// Sum of the sizes of the files in the folder matching the wildcard mask ("*" or "" = all; several masks
// may be separated by ";"); hidden files count only when includeHidden.
qint64 FolderFilesTotal(const QString &folder, const QString &mask, bool includeHidden);
// Free bytes of the volume holding the path that files can be written into: what df and every other file
// manager show. Blocks the file system keeps for its administrator are not free space to the user (on a
// large ext4 volume they can be two thirds of the free blocks). Nothing when the volume cannot be asked.
std::optional<quint64> VolumeFreeBytes(const QString &path);

// Panel 1 for a list showing these names of the folder ("0 Bytes" when the list is empty).
QString GetTheFileSize(const QString &folder, const QStringList &names, const QLocale &locale = QLocale());
// Panel 1 for a folder listed with a mask.
QString GetTheFileSizeMasked(const QString &folder, const QString &mask, bool includeHidden,
                             const QLocale &locale = QLocale());
// Panel 2 for the volume holding the folder. "Show Correct Free Disk Space" chose between a figure capped by
// an old 32-bit call and the true one; here the figure is always the true one, so the option changes nothing.
QString GetTheDiskSize(const QString &folder, const QLocale &locale = QLocale());

}  // namespace sizetexts
