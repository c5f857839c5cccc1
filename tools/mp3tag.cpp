#include "tools/mp3tag.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace mp3tag {

const QStringList &genreNames() {
  static const QStringList names = {
      "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age",
      "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska",
      "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion",
      "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock",
      "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
      "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
      "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
      "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
      "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing", "Bebob", "Latin",
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
  QFile f(target);
  if (!f.open(QIODevice::ReadWrite)) {
    fail(QStringLiteral("Cannot write the tag to %1: %2").arg(filename_, f.errorString()));
    return false;
  }
  const qint64 size = f.size();
  // A file this small has no room for audio in front of a record, and a record written to it could never be
  // read back (reading takes a file of 128 bytes or less for no MP3): refuse rather than report a success.
  if (size <= RecordSize) {
    fail(QString::fromLatin1(TooSmallText));
    return false;
  }
  QByteArray last;
  if (f.seek(size - RecordSize)) last = f.read(RecordSize);
  if (last.startsWith("TAG")) {
    // The record keeps its place: only its own 128 bytes are rewritten, the rest of the file is not touched.
    if (f.seek(size - RecordSize) && f.write(record) == RecordSize && f.flush()) return true;
    const QString why = f.errorString();
    if (f.seek(size - RecordSize)) f.write(last);
    fail(QStringLiteral("Cannot write the tag to %1: %2").arg(filename_, why));
    return false;
  }
  // The file must grow: a copy with the record behind it replaces the file only once it is complete.
  f.seek(0);
  QSaveFile out(target);
  // Unbuffered, so that a short write on a full disk is seen here: a buffered flush drops it silently and the
  // cut copy would be committed.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    fail(QStringLiteral("Cannot write the tag to %1: %2").arg(filename_, out.errorString()));
    return false;
  }
  qint64 copied = 0;
  while (copied < size) {
    const QByteArray chunk = f.read(qMin<qint64>(1 << 20, size - copied));
    if (chunk.isEmpty() || out.write(chunk) != chunk.size()) break;
    copied += chunk.size();
  }
  if (copied != size || out.write(record) != RecordSize || out.size() != size + RecordSize || !out.commit()) {
    const QString why = copied != size && out.error() == QFileDevice::NoError ? f.errorString() : out.errorString();
    out.cancelWriting();
    fail(QStringLiteral("Cannot write the tag to %1: %2").arg(filename_, why));
    return false;
  }
  return true;
}

bool TMP3Tag::RemoveTag() {
  QString failure;
  const QFileInfo info(filename_);
  if (!filename_.isEmpty() && info.exists() && !info.isDir()) {
    QFile f(info.canonicalFilePath());
    const qint64 size = f.size();
    bool tagged = false;
    if (size > RecordSize && f.open(QIODevice::ReadOnly) && f.seek(size - RecordSize)) tagged = f.read(3) == "TAG";
    f.close();
    // Only the record goes: the file is cut short by its 128 bytes, everything in front stays in place.
    if (tagged && !(f.open(QIODevice::ReadWrite) && f.resize(size - RecordSize)))
      failure = QStringLiteral("Cannot remove the tag from %1: %2").arg(filename_, f.errorString());
  }
  clear();
  ReadTag();
  if (failure.isEmpty()) return true;
  fail(failure);
  return false;
}
