#pragma once
// TMP3Tag reads, writes and removes the ID3v1 record of a file: the 128 bytes at its very end. No widgets.
// Text fields are 8-bit; they are shown and set as Latin-1 (what other ID3v1 readers assume).
// Writes never touch the bytes in front of the record: an ID3v2 tag at the start, the audio and an APE tag
// before the record stay as they were, and a failed write leaves the file as it was. A new record is appended
// to the file in place (same inode, no copy of the audio).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

namespace mp3tag {

constexpr int RecordSize = 128;
constexpr int GenreCount = 116;
constexpr quint8 GenreOther = 12;

// The record's fields as stored: texts keep their bytes (zero bytes included), trailing blanks cut.
struct Record {
  QByteArray identifier, title, artist, album, year, comment;
  quint8 genre = GenreOther;
};

// The 116 genre names, 0 (Blues) to 115 (Folklore); a genre number is a position in this list.
const QStringList &genreNames();
// The genre's name, or empty for a number outside the list.
QString genreName(int id);

// Decodes a 128-byte record; false when the bytes are not 128 long or do not start with "TAG".
bool decode(const QByteArray &bytes, Record &out);
// The 128 bytes of a record: "TAG", each field's bytes (cut to its width) followed by zero bytes, the genre.
QByteArray encode(const Record &r);
// What a field shows: its bytes up to the first zero byte, as Latin-1.
QString display(const QByteArray &field);

}  // namespace mp3tag

class TMP3Tag : public QObject {
  Q_OBJECT
 public:
  explicit TMP3Tag(QObject *parent = nullptr);

  static constexpr const char *NoFileText = "File does not exist!";
  static constexpr const char *TooSmallText = "File too small to be a MP3 file!";
  static constexpr const char *NoTagText = "MP3 does not contain a mp3 tag or wrong file format!";

  QString Filename() const { return filename_; }
  // Reads the file's tag, then raises onFileNameChange.
  void setFilename(const QString &path);

  QString Title() const { return mp3tag::display(rec_.title); }
  QString Artist() const { return mp3tag::display(rec_.artist); }
  QString Album() const { return mp3tag::display(rec_.album); }
  QString Year() const { return mp3tag::display(rec_.year); }
  QString Comment() const { return mp3tag::display(rec_.comment); }
  QString Identifier() const { return QString::fromLatin1(rec_.identifier); }
  quint8 GenreID() const { return rec_.genre; }
  const mp3tag::Record &record() const { return rec_; }

  // Each keeps the first 30 (year: 4) characters, then raises onChange.
  void setTitle(const QString &s);
  void setArtist(const QString &s);
  void setAlbum(const QString &s);
  void setYear(const QString &s);
  // A record that carries a track number (the comment's last two bytes: zero, then the number) keeps it as
  // long as the new comment leaves those two bytes free.
  void setComment(const QString &s);
  void setGenreID(quint8 id);

  bool EditAutoSave = true;
  // The last read found a tag.
  bool Valid() const { return valid_; }
  // The last error message, empty when none (a successful read does not clear it, a write does).
  QString Error() const { return error_; }

  // Reads the tag of Filename again.
  void ReadTag();
  // Writes the record to Filename; false (with Error and onError) when the file is left unchanged.
  bool WriteTag();
  // Cuts a tag off the end of the file, then reads again; false (with Error and onError) when a tag was
  // there and could not be cut.
  bool RemoveTag();
  // Empties the texts, genre Other.
  void clear();

 signals:
  void onFileNameChange();
  void onChange();
  void onError(QObject *sender, const QString &message);

 private:
  void setField(QByteArray &field, const QString &s, int width);
  void fail(const QString &message);
  QString filename_;
  mp3tag::Record rec_;
  bool valid_ = false;
  QString error_;
};
