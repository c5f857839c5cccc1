#pragma once
// Archives shown as folders in the file list: "/home/u/a.tar.gz/inner/folder" names the folder "inner/folder"
// inside a.tar.gz. Listings are read once per archive (and again when the file changes) and shared by
// both lists; members are extracted to a private temporary folder to be viewed, or to a folder the user
// copies them to. Thread-safe: the list model reads folders on a worker thread.
#include <QMutex>
#include <QString>
#include <QVector>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include "controls/shelllistmodel.h"
#include "formats/archive/archivereader.h"

class QTemporaryDir;
class QWidget;

class TArchiveFolders {
 public:
  static TArchiveFolders &shared();

  // Splits a path into the archive file and the folder inside it; false for any path not inside an archive
  // (a real folder, or an archive file named by itself is true with an empty inner path only when asked).
  static bool split(const QString &path, QString *archive, QByteArray *inner);
  // A folder shown from an archive (its root included): what the list shows, or a paste's target.
  static bool isArchiveFolder(const QString &path) { return split(path, nullptr, nullptr); }
  // A member inside an archive; the archive file itself is a plain file of its folder.
  static bool isMember(const QString &path) {
    QByteArray inner;
    return split(path, nullptr, &inner) && !inner.isEmpty();
  }
  // Whether a double click on this file name opens it as a folder. Zips are left to the desktop's open
  // verb (and the zip tab): this program can change them there.
  static bool opensAsFolder(const QString &fileName);

  // The listing of an archive file, read now or taken from the cache.
  std::shared_ptr<const archives::Listing> listing(const QString &archive, QString *error);
  // The items of a folder inside an archive for the file list; false with a message when unreadable.
  bool items(const QString &folderPath, QVector<TShellItem> *out, QString *error);

  // Extracts one member to a new private temporary folder and returns the copy's path (empty with a
  // message when it cannot be; empty without one when cancelled, and nothing is left behind).
  QString extractForViewing(const QString &memberPath, QString *error, const archives::Progress &progress = {},
                            const std::atomic<bool> *cancel = nullptr);
  // Extracts the given member paths (all inside one archive folder) into target.
  archives::ExtractResult extractTo(const QStringList &memberPaths, const QString &target,
                                    const archives::Progress &progress, const std::atomic<bool> *cancel);
  // The sum of the sizes of the members (folders: everything below them), for progress.
  qint64 totalSize(const QStringList &memberPaths);

  static QString readOnlyMessage();

  // Encrypted members: whether any of these (folders: what is under them) is encrypted while no passphrase
  // is known for their archive; the passphrase given for an archive is kept for this run (in memory only)
  // and forgotten when an extraction finds it wrong.
  bool wantsPassphrase(const QStringList &memberPaths);
  void setPassphrase(const QString &memberPath, const QByteArray &passphrase);
  // Asks for the passphrase when wantsPassphrase; false when the user cancels.
  bool askPassphraseIfWanted(QWidget *owner, const QStringList &memberPaths);

 private:
  TArchiveFolders();
  ~TArchiveFolders();
  struct Cached {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    std::shared_ptr<const archives::Listing> listing;
  };
  QMutex mutex_;
  std::map<QString, Cached> cache_;
  std::map<QString, QByteArray> passphrases_;  // by archive file
  std::unique_ptr<QTemporaryDir> temp_;
  std::atomic<int> serial_{0};
  std::deque<QString> viewed_;  // the newest copies' folders; older ones are removed
};
