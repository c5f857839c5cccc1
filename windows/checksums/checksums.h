#pragma once
// Checksum files as sha256sum, sha1sum, sha512sum and md5sum write and read them: "<hex>  <name>" (text mode)
// or "<hex> *<name>" (binary mode) per line, a line starting with a backslash when its name holds a backslash,
// a line feed or a carriage return (escaped as \\, \n and \r), and the BSD form "SHA256 (<name>) = <hex>"
// (--tag). Names are bytes, as on the disk; a relative name counts from the checksum file's folder.
#include <QByteArray>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <optional>

namespace checksums {

enum class Algo { Md5, Sha1, Sha256, Sha512 };

// The algorithm a checksum file's name says (SHA256SUMS, x.sha256, MD5SUMS, x.md5, ...), if it says one.
std::optional<Algo> algoForName(const QString &fileName);
// The name a new checksum file of that algorithm gets in a folder ("SHA256SUMS").
QString defaultFileName(Algo a);
int hexLength(Algo a);
QString algoName(Algo a);  // "SHA256"

struct Entry {
  QByteArray hex;   // lower case
  QByteArray name;  // bytes as on the disk, unescaped
};

struct Parsed {
  std::optional<Algo> algo;  // from the file's name, else from the first line's digest length
  QVector<Entry> entries;
  int badLines = 0;  // lines that are neither form (sha256sum -c warns of them too)
};

// Reads a checksum file's text; the hint is what its name says.
Parsed parse(const QByteArray &text, std::optional<Algo> hint);
// One line as sha256sum writes it in text mode, with its line feed.
QByteArray line(const QByteArray &hex, const QByteArray &name);

struct Hash {
  QByteArray hex;  // empty when the file could not be read or the work was cancelled
  QString error;
  bool cancelled = false;
};
// The digest of a file (a native path), read in big blocks; progress gets the bytes just read, and a
// cancel set from another thread ends the work at the next block.
Hash hashFile(const QByteArray &path, Algo a, const std::function<void(qint64)> &progress,
              const std::atomic_bool &cancel);

}  // namespace checksums
