#pragma once
// Reading, describing and writing picture files: Qt's image plug-ins for most formats, our own reader for
// PCX and TGA, and Windows metafiles (WMF/EMF) drawn through a converter. Every reader is bounded: a lying header
// (60000 x 60000, a run past the end) gives an error, never a crash or an allocation the machine cannot hold.
#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>

class QByteArray;

namespace imageio {

// What the image window's information submenu and the viewer dispatch need of a file.
struct Info {
  bool ok = false;
  int count = 0;          // images in the file: frames of an animation, pages of a TIFF, sizes of an icon
  bool animated = false;  // frames that play one after the other (GIF and the other animated formats)
  int shown = 0;          // the image shown when none is asked for: an icon's largest, else the first
  int width = 0;  // of the image shown, as shown (an EXIF-rotated photograph turned)

  int height = 0;
  QString type;     // "PNG", "JPEG", "PCX", ...
  QString subType;  // e.g. "RLE", "Progressive", "Interlaced", "" when none
  QString colours;  // e.g. "16.7 Million", "256", "2"
  int bitsPerPixel = 0;
};

// Raises Qt's image allocation limit once to what this machine can hold (a share of its memory), instead of
// Qt's default 256 MB, which refuses large photographs, or no limit, which lets a hostile header exhaust
// memory. Called by read(); safe to call more than once.
void setAllocationLimit();
// The limit set, in megabytes.
int allocationLimitMb();

// The one size rule for every reader and every view: a picture opens when its pixels, at 4 bytes each, fit
// the allocation limit. tooLargeText is the message when it does not (name may be empty).
bool fits(qint64 width, qint64 height);
QString tooLargeText(const QString &name, qint64 width, qint64 height);

struct ReadOptions {
  int index = -1;  // the image of a file of several (a TIFF's page, an icon's size); -1: Info::shown
  // Decode straight at most this large where the reader can (a JPEG decodes much faster so); empty: whole.
  QSize room;
  // Set from another thread to stop; the read then fails with *error "Cancelled."
  const std::atomic_bool *cancel = nullptr;
  // How far a long read is, 0 to 100, called on the reading thread; only readers that can tell call it.
  std::function<void(int percent)> progress;
};

// The file's image, or a null image with *error set to one sentence for a message box.
QImage read(const QString &path, QString *error, const ReadOptions &options);
QImage read(const QString &path, QString *error);
// The file's information from its headers, without decoding its pixels (a metafile without a placeable
// header is measured by its converter, which stops once it has told the size); ok == false when it is not a
// readable picture.
Info info(const QString &path);
// The information of image `index` of the file (-1: the one shown).
Info info(const QString &path, int index);
// Writes the image in the format its extension names (bmp, jpg/jpeg, pbm, pgm, png, ppm, tga, tif/tiff)
// through a temporary file and a rename: a failed write leaves an existing file as it was. Formats without
// transparency (bmp, jpg, pbm, pgm, ppm) get the picture as it looks on white; a picture larger than the
// format can hold is refused with the format's limit in the message.
bool write(const QImage &image, const QString &path, QString *error);

// Our PCX decoder: 1, 2, 4 and 8 bits per plane, 1 to 4 planes (1, 4, 8 and 24 bit pictures), RLE.
QImage readPcx(const QByteArray &bytes, QString *error);
// Our TGA decoder: colour-mapped, true-colour (15, 16, 24, 32 bit) and grey, plain or RLE, any origin. Qt's
// plug-in reads only uncompressed true colour and only files with the version 2 footer.
QImage readTga(const QByteArray &bytes, QString *error);
// Our TGA encoder (uncompressed 24 or 32 bit, bottom-up, with the version 2 footer so that Qt's plug-in reads
// it too), since Qt cannot write TGA.
QByteArray writeTga(const QImage &image);

}  // namespace imageio
