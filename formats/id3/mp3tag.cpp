#include "formats/id3/mp3tag.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace mp3tag {

const QStringList &genreNames() {
  // Numbered as every other ID3v1 reader numbers them (id3v2, eyeD3, mutagen, Winamp): "Fast Fusion" is 84,
  // so that a genre written here reads the same there and back.
  static const QStringList names = {
      "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age",
      "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska",
      "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion",
      "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock",
      "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
      "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
      "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
      "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
      "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin",
      "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
      "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech",
      "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire",
      "Slow Jam", "Club", "Tango", "Samba", "Folklore"};
  return names;
}

QString genreName(int id) { return id >= 0 && id < genreNames().size() ? genreNames().at(id) : QString(); }

namespace {
struct Field {
  int offset, width;
  QByteArray Record::*member;
};
const Field fields[] = {{3, 30, &Record::title},  {33, 30, &Record::artist}, {63, 30, &Record::album},
                        {93, 4, &Record::year},   {97, 30, &Record::comment}};

QByteArray cutBlanks(QByteArray b) {
  qsizetype n = b.size();
  while (n > 0 && b.at(n - 1) == ' ') --n;
  b.truncate(n);
  return b;
}
}  // namespace

bool decode(const QByteArray &bytes, Record &out) {
  if (bytes.size() != RecordSize || !bytes.startsWith("TAG")) return false;
  out = Record();
  out.identifier = bytes.left(3);
  for (const Field &f : fields) out.*f.member = cutBlanks(bytes.mid(f.offset, f.width));
  out.genre = quint8(bytes.at(127));
  return true;
}

QByteArray encode(const Record &r) {
  QByteArray b(RecordSize, '\0');
  b.replace(0, 3, "TAG");
  for (const Field &f : fields) {
    const QByteArray v = (r.*f.member).left(f.width);
    b.replace(f.offset, v.size(), v);
  }
  b[127] = char(r.genre);
  return b;
}

QString display(const QByteArray &field) {
  const qsizetype zero = field.indexOf('\0');
  return QString::fromLatin1(zero < 0 ? field : field.left(zero));
}

}  // namespace mp3tag

using mp3tag::RecordSize;

TMP3Tag::TMP3Tag(QObject *parent) : QObject(parent) {}

void TMP3Tag::setFilename(const QString &path) {
  filename_ = path;
  ReadTag();
  emit onFileNameChange();
}

void TMP3Tag::setField(QByteArray &field, const QString &s, int width) {
  field = s.left(width).toLatin1();
  emit onChange();
}

void TMP3Tag::setTitle(const QString &s) { setField(rec_.title, s, 30); }
void TMP3Tag::setArtist(const QString &s) { setField(rec_.artist, s, 30); }
void TMP3Tag::setAlbum(const QString &s) { setField(rec_.album, s, 30); }
void TMP3Tag::setYear(const QString &s) { setField(rec_.year, s, 4); }

void TMP3Tag::setComment(const QString &s) {
  const QByteArray &old = rec_.comment;
  const bool track = old.size() == 30 && old.at(28) == '\0' && old.at(29) != '\0';
  const char number = track ? old.at(29) : '\0';
  QByteArray next = s.left(30).toLatin1();
  if (track && next.size() <= 28) {
    next.append(30 - next.size(), '\0');
    next[29] = number;
  }
  rec_.comment = next;
  emit onChange();
}

void TMP3Tag::setGenreID(quint8 id) {
  rec_.genre = id;
  emit onChange();
}

void TMP3Tag::clear() { rec_ = mp3tag::Record(); }

void TMP3Tag::fail(const QString &message) {
  error_ = message;
  emit onError(this, error_);
}

void TMP3Tag::ReadTag() {
  valid_ = false;
  clear();
  const QFileInfo info(filename_);
  if (filename_.isEmpty() || !info.exists() || info.isDir()) {
    fail(QString::fromLatin1(NoFileText));
    return;
  }
  QFile f(filename_);
  if (!f.open(QIODevice::ReadOnly)) {
    fail(QStringLiteral("Cannot read %1: %2").arg(filename_, f.errorString()));
    return;
  }
  const qint64 size = f.size();
  if (size <= RecordSize) {
    fail(QString::fromLatin1(TooSmallText));
    return;
  }
  QByteArray last;
  if (f.seek(size - RecordSize)) last = f.read(RecordSize);
  if (!mp3tag::decode(last, rec_)) {
    clear();
    rec_.identifier = "TAG";
    rec_.title = info.fileName().left(30).toLatin1();
    fail(QString::fromLatin1(NoTagText));
    return;
  }
  valid_ = true;
}

namespace {
// While a record is appended, the file carries this extended attribute: the size before the append and the
// 16 bytes in front of that end. A crash in the middle of the append can leave part of a record behind the
// audio, which no reader takes for a tag (the last 128 bytes do not start with "TAG") but which would stay
// in the audio for good; the next write or removal finds the attribute and cuts the file back first. Where
// the file system keeps no such attributes the append goes on without it: it is one write of 128 bytes,
// undone at once when it comes up short.
constexpr char kAppendMark[] = "user.tarnwick.id3v1-append";
constexpr int kMarkTail = 16;

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray bytesAt(int fd, qint64 pos, int n) {
  QByteArray b(n, '\0');
  const ssize_t r = ::pread(fd, b.data(), size_t(n), pos);
  b.resize(r < 0 ? 0 : int(r));
  return b;
}

QByteArray appendMark(int fd, qint64 size) {
  const qint64 from = std::max<qint64>(0, size - kMarkTail);
  return QByteArray::number(size) + ' ' + bytesAt(fd, from, int(size - from)).toHex();
}

// The file's size after what an unfinished append left behind is gone (the size it had before that
// append); size when there was none. A mark that no longer fits the file (another program rewrote it
// since) is only removed.
qint64 dropUnfinishedAppend(int fd, qint64 size) {
  char value[128];
  const ssize_t n = ::fgetxattr(fd, kAppendMark, value, sizeof value);
  if (n <= 0) return size;
  const QList<QByteArray> parts = QByteArray(value, int(n)).split(' ');
  bool ok = false;
  const qint64 before = parts.value(0).toLongLong(&ok);
  if (ok && before > 0 && before < size && size <= before + mp3tag::RecordSize && appendMark(fd, before) == QByteArray(value, int(n)) &&
      ::ftruncate(fd, before) == 0) {
    size = before;
  }
  (void)::fremovexattr(fd, kAppendMark);
  return size;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};
}  // namespace

bool TMP3Tag::WriteTag() {
  error_.clear();
  const QFileInfo info(filename_);
  if (filename_.isEmpty() || !info.exists() || info.isDir()) {
    fail(QString::fromLatin1(NoFileText));
    return false;
  }
  // A symbolic link keeps pointing at the file it named: the target is what changes.
  const QString target = info.canonicalFilePath();
  const QByteArray record = mp3tag::encode(rec_);
  const auto cannot = [this](const QString &why) {
    fail(QStringLiteral("Cannot write the tag to %1: %2").arg(filename_, why));
    return false;
  };
  const Fd f{::open(QFile::encodeName(target).constData(), O_RDWR | O_CLOEXEC)};
  struct stat st;
  if (f.fd < 0 || ::fstat(f.fd, &st) != 0) return cannot(errnoText());
  qint64 size = dropUnfinishedAppend(f.fd, st.st_size);
  // A file this small has no room for audio in front of a record, and a record written to it could never be
  // read back (reading takes a file of 128 bytes or less for no MP3): refuse rather than report a success.
  if (size <= RecordSize) {
    fail(QString::fromLatin1(TooSmallText));
    return false;
  }
  const QByteArray last = bytesAt(f.fd, size - RecordSize, RecordSize);
  if (last.size() != RecordSize) return cannot(errnoText());
  if (last.startsWith("TAG")) {
    // The record keeps its place: only its own 128 bytes are rewritten, the rest of the file is not touched.
    if (::pwrite(f.fd, record.constData(), RecordSize, size - RecordSize) == RecordSize && ::fsync(f.fd) == 0) return true;
    const QString why = errnoText();
    (void)::pwrite(f.fd, last.constData(), RecordSize, size - RecordSize);
    return cannot(why);
  }
  // No record yet: it is appended in place, so the file keeps its inode (hard links stay one file), its
  // owner and mode, and no copy of the audio is made. One write; a short one is cut off again at once.
  const QByteArray mark = appendMark(f.fd, size);
  const bool marked = ::fsetxattr(f.fd, kAppendMark, mark.constData(), size_t(mark.size()), 0) == 0;
  if (marked) (void)::fsync(f.fd);
  ssize_t n = ::pwrite(f.fd, record.constData(), RecordSize, size);
  if (n >= 0 && n < RecordSize) {
    // A short write gives no reason; the write of the rest does (a full disk, a size limit).
    const ssize_t rest = ::pwrite(f.fd, record.constData() + n, size_t(RecordSize - n), size + n);
    if (rest == RecordSize - n) n = RecordSize;
    else if (rest >= 0) errno = ENOSPC;
  }
  if (n == RecordSize && ::fsync(f.fd) == 0) {
    if (marked) (void)::fremovexattr(f.fd, kAppendMark);
    return true;
  }
  const QString why = errnoText();
  if (::ftruncate(f.fd, size) == 0 && marked) (void)::fremovexattr(f.fd, kAppendMark);
  return cannot(why);
}

bool TMP3Tag::RemoveTag() {
  QString failure;
  const QFileInfo info(filename_);
  if (!filename_.isEmpty() && info.exists() && !info.isDir()) {
    const QByteArray path = QFile::encodeName(info.canonicalFilePath());
    const Fd f{::open(path.constData(), O_RDWR | O_CLOEXEC)};
    struct stat st;
    if (f.fd >= 0 && ::fstat(f.fd, &st) == 0) {
      const qint64 size = dropUnfinishedAppend(f.fd, st.st_size);
      const bool tagged = size > RecordSize && bytesAt(f.fd, size - RecordSize, 3) == "TAG";
      // Only the record goes: the file is cut short by its 128 bytes, everything in front stays in place.
      if (tagged && ::ftruncate(f.fd, size - RecordSize) != 0)
        failure = QStringLiteral("Cannot remove the tag from %1: %2").arg(filename_, errnoText());
    } else {
      // Not writable: a failure only when there is a tag to remove.
      const QString why = errnoText();
      const Fd r{::open(path.constData(), O_RDONLY | O_CLOEXEC)};
      if (r.fd >= 0 && ::fstat(r.fd, &st) == 0 && st.st_size > RecordSize && bytesAt(r.fd, st.st_size - RecordSize, 3) == "TAG")
        failure = QStringLiteral("Cannot remove the tag from %1: %2").arg(filename_, why);
    }
  }
  clear();
  ReadTag();
  if (failure.isEmpty()) return true;
  fail(failure);
  return false;
}
