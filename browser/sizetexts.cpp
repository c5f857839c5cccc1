#include "browser/sizetexts.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStorageInfo>

namespace sizetexts {
namespace {

constexpr double kOneKth = 0.0009765625;  // 1/1024, exact in binary

QLocale plain(QLocale locale)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

// FormatFloat with the pattern "0.00": two decimals, rounded.
QString twoDecimals(double value, const QLocale &locale)
{
    return plain(locale).toString(value, 'f', 2);
}

}  // namespace

QString SizeText(qint64 totalBytes, const QLocale &locale)
{
    const qint64 total = totalBytes < 0 ? 0 : totalBytes;
    if (total < 1024)
        return QString::number(total) + QStringLiteral(" Bytes");
    const qint64 kb = total / 1024;
    if (kb < 1000)
        return QString::number(kb) + QStringLiteral(" KB");
    // Double keeps whole kilobytes exact far beyond the 16 GB where single precision would start rounding.
    const double mb = double(kb) * kOneKth;
    QString text = plain(locale).toString(mb, 'g', 15);
    const QString sep = plain(locale).decimalPoint();
    int dot = text.indexOf(sep);
    if (dot < 0)
        dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0)
        dot = text.indexOf(QLatin1Char(','));
    if (dot >= 0)
        text.truncate(dot + 3);  // keep the separator and at most two digits: truncation, no rounding
    return text + QStringLiteral(" MB");
}

QString ExtendedDiskSpaceText(std::optional<quint64> freeBytes, const QLocale &locale)
{
    // Whole megabytes, counted exactly in 64 bits.
    const quint64 mb = freeBytes ? (*freeBytes >> 20) : 0;
    const double gb = double(mb) * kOneKth;
    return twoDecimals(gb, locale) + QStringLiteral(" GB") + QStringLiteral(" Disk Space Free");
}

QString DiskSpaceText(std::optional<quint64> freeBytes, const QLocale &locale)
{
    if (!freeBytes)
        return ExtendedDiskSpaceText(freeBytes, locale);
    const double k = double(*freeBytes) * kOneKth;
    if (k < 1000000.0)
        return twoDecimals(k * kOneKth, locale) + QStringLiteral(" MB Disk Space Free");
    return ExtendedDiskSpaceText(freeBytes, locale);
}

qint64 ListedFilesTotal(const QString &folder, const QStringList &names)
{
    const QDir dir(folder);
    qint64 total = 0;
    for (const QString &name : names) {
        const QFileInfo info(dir.absoluteFilePath(name));
        if (!info.exists() || info.isDir())
            continue;
        const qint64 size = info.size();
        if (size >= 1)
            total += size;
    }
    return total;
}

qint64 FolderFilesTotal(const QString &folder, const QString &mask, bool includeHidden)
{
    QStringList filters;
    for (const QString &part : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString m = part.trimmed();
        if (!m.isEmpty())
            filters << m;
    }
    if (filters.contains(QStringLiteral("*")))
        filters.clear();
    QDir::Filters f = QDir::Files | QDir::System;
    if (includeHidden)
        f |= QDir::Hidden;
    QDirIterator it(folder, filters, f);
    qint64 total = 0;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir())  // a link to a folder
            continue;
        const qint64 size = info.size();
        if (size >= 1)
            total += size;
    }
    return total;
}

std::optional<quint64> VolumeFreeBytes(const QString &path)
{
    QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return std::nullopt;
    const qint64 free = storage.bytesAvailable();
    if (free < 0)
        return std::nullopt;
    return quint64(free);
}

QString GetTheFileSize(const QString &folder, const QStringList &names, const QLocale &locale)
{
    if (names.isEmpty())
        return QStringLiteral("0 Bytes");
    return SizeText(ListedFilesTotal(folder, names), locale);
}

QString GetTheFileSizeMasked(const QString &folder, const QString &mask, bool includeHidden,
                             const QLocale &locale)
{
    return SizeText(FolderFilesTotal(folder, mask, includeHidden), locale);
}

QString GetTheDiskSize(const QString &folder, const QLocale &locale)
{
    return DiskSpaceText(VolumeFreeBytes(folder), locale);
}

}  // namespace sizetexts
