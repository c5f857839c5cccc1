#pragma once
// Archives as read-only folders: lists the members of anything libarchive reads (zip, tar and its
// compressed forms, 7z, iso, rar, cpio, ...) and extracts chosen members into a folder. Every check that
// keeps a hostile archive from writing outside the target lives in extractMembers().
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

namespace archives {

// One member. Names live in the listing's shared buffer; a member costs this struct plus its name.
struct Member {
  quint32 nameOffset = 0;
  quint32 nameLength = 0;
  qint64 size = 0;
  qint64 mtime = 0;   // seconds since the epoch
  quint32 order = 0;  // position in the archive; implied folders come after all real members
  quint8 flags = 0;
};

enum MemberFlag : quint8 {
  IsFolder = 1,
  IsEncrypted = 2,
  IsImplied = 4,  // a folder only named by its members' paths
  IsLink = 8,
  IsSpecial = 16,  // device, fifo or socket: listed, never extracted
};

// Bounds that stop a bomb: a stream expanding past both limits is refused.
struct Limits {
  qint64 maxUnpackedBytes = qint64(64) << 30;  // whatever the ratio
  qint64 ratioCheckAfter = qint64(1) << 30;    // past this many bytes...
  int maxRatio = 500;                          // ...more than this many times the packed size is a bomb
};

class Listing {
 public:
  int count() const { return int(members_.size()); }
  const Member &member(int i) const { return members_[size_t(i)]; }
  // The member's path inside the archive, without "./" in front or "/" behind, as stored (raw bytes).
  QByteArray path(int i) const {
    const Member &m = members_[size_t(i)];
    return QByteArray::fromRawData(names_.constData() + m.nameOffset, qsizetype(m.nameLength));
  }
  QString displayPath(int i) const;
  // The member with this path (raw bytes), or -1.
  int find(const QByteArray &path) const;
  // Bytes the listing holds, for the bench.
  qint64 bytesUsed() const;
  // Members directly inside folder (raw path, empty for the root).
  std::vector<int> children(const QByteArray &folder) const;

 private:
  friend bool listArchive(const QString &, Listing *, QString *, const Limits &, const std::atomic<bool> *);
  void add(const QByteArray &path, qint64 size, qint64 mtime, quint8 flags);
  void addImpliedFolders();
  void buildIndex();
  QByteArray names_;
  std::vector<Member> members_;
  std::vector<int> sorted_;  // member indexes sorted by path, for find(); built once, so readers may share
};

// Reads the members of the archive at path. False with a message for the user when it cannot be read
// (not an archive, damaged, truncated, a bomb, cancelled).
bool listArchive(const QString &archivePath, Listing *out, QString *error, const Limits &limits = {},
                 const std::atomic<bool> *cancel = nullptr);

// Progress of an extraction: bytes written and the sum of the chosen members' sizes (0 when unknown).
using Progress = std::function<void(qint64 done, qint64 total)>;

struct ExtractOptions {
  QByteArray stripPrefix;  // a folder inside the archive taken off every name, or empty
  bool overwrite = false;  // false keeps a file already at the target and reports it
  qint64 totalBytes = 0;   // for progress
  QByteArray passphrase;   // for encrypted members (zip's own and AES encryption); empty: they are refused
  Limits limits;
};

struct ExtractResult {
  bool ok = false;
  bool cancelled = false;
  QString error;                 // the first fault, for the user
  QStringList refused;           // members not written (climbing names, links out, devices, existing files)
  QStringList written;           // paths written under the target, relative to it
  bool needsPassphrase = false;  // encrypted members were refused: no passphrase, or not the right one
};

// Extracts the members whose paths (as Listing::path gives them) are in chosen into targetFolder; a folder
// brings everything under it, an empty list everything. Members of the folder stripPrefix land directly in
// the target. Nothing outside targetFolder is ever written: names that climb out or are absolute, devices
// and fifos, links that point out, and paths through links are refused. A member cut short by an error or
// Cancel is removed; whole members appear only complete (written beside, then renamed).
ExtractResult extractMembers(const QString &archivePath, const QList<QByteArray> &chosen, const QString &targetFolder,
                             const ExtractOptions &options = {}, const Progress &progress = {},
                             const std::atomic<bool> *cancel = nullptr);

// Whether a member name may be written under a target: relative, no "..", no empty names.
bool isSafeMemberPath(const QByteArray &path);
// Whether a symbolic link stored at linkPath pointing at target stays inside the extraction folder.
bool isSafeLinkTarget(const QByteArray &linkPath, const QByteArray &target);

// File name endings this reader opens as folders (lower case, without the dot), longest first.
const QStringList &archiveSuffixes();
bool looksLikeArchive(const QString &fileName);

}  // namespace archives
