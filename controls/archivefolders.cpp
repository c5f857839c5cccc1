#include "controls/archivefolders.h"

#include "platform/ask.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {
// The archives kept listed: a few, so that going in and out of big ones costs no second read.
constexpr size_t kCachedArchives = 8;
// Copies kept for the viewers: arrowing through a big archive must not fill the temporary folder, and a
// viewer still reading the last few copies keeps them.
constexpr size_t kKeptCopies = 4;

bool statPath(const QString &path, struct stat *st) { return ::stat(QFile::encodeName(path).constData(), st) == 0; }
}  // namespace

TArchiveFolders &TArchiveFolders::shared() {
  static TArchiveFolders *folders = new TArchiveFolders;  // lives until the end: worker threads may use it
  return *folders;
}

TArchiveFolders::TArchiveFolders() = default;
TArchiveFolders::~TArchiveFolders() = default;

bool TArchiveFolders::split(const QString &path, QString *archive, QByteArray *inner) {
  if (path.isEmpty()) return false;
  const QString clean = QDir::cleanPath(path);
  struct stat st {};
  // The common case, a real folder, costs one stat.
  if (statPath(clean, &st) && S_ISDIR(st.st_mode)) return false;
  QString head = clean;
  for (;;) {
    if (statPath(head, &st)) {
      if (!S_ISREG(st.st_mode) || !archives::looksLikeArchive(QFileInfo(head).fileName())) return false;
      if (archive) *archive = head;
      if (inner) *inner = QFile::encodeName(clean.mid(head.size() + 1));
      return true;
    }
    const int slash = head.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0) return false;
    head.truncate(slash);
  }
}

bool TArchiveFolders::opensAsFolder(const QString &fileName) {
  static const QStringList zipLike = {"zip", "jar", "war", "apk", "epub"};
  if (!archives::looksLikeArchive(fileName)) return false;
  return !zipLike.contains(QFileInfo(fileName).suffix().toLower());
}

QString TArchiveFolders::readOnlyMessage() {
  return QStringLiteral(
      "Archives are read-only here: copy members out to change them (use the Zip tab to change a zip).");
}

std::shared_ptr<const archives::Listing> TArchiveFolders::listing(const QString &archive, QString *error) {
  struct stat st {};
  if (!statPath(archive, &st)) {
    *error = QStringLiteral("%1 is gone").arg(QDir::toNativeSeparators(archive));
    return {};
  }
  const qint64 mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  {
    QMutexLocker lock(&mutex_);
    auto it = cache_.find(archive);
    if (it != cache_.end() && it->second.size == st.st_size && it->second.mtimeNs == mtimeNs) return it->second.listing;
  }
  auto l = std::make_shared<archives::Listing>();
  if (!archives::listArchive(archive, l.get(), error)) return {};
  QMutexLocker lock(&mutex_);
  if (cache_.size() >= kCachedArchives && !cache_.count(archive)) cache_.erase(cache_.begin());
  cache_[archive] = Cached{qint64(st.st_size), mtimeNs, l};
  return l;
}

bool TArchiveFolders::items(const QString &folderPath, QVector<TShellItem> *out, QString *error) {
  QString archive;
  QByteArray inner;
  if (!split(folderPath, &archive, &inner)) return false;
  const auto l = listing(archive, error);
  if (!l) return false;
  if (!inner.isEmpty()) {
    const int self = l->find(inner);
    if (self < 0 || !(l->member(self).flags & archives::IsFolder)) {
      *error =
          QStringLiteral("%1 is not a folder in %2").arg(QFile::decodeName(inner), QDir::toNativeSeparators(archive));
      return false;
    }
  }
  const std::vector<int> kids = l->children(inner);
  out->reserve(qsizetype(kids.size()));
  for (int i : kids) {
    const archives::Member &m = l->member(i);
    const QByteArray p = l->path(i);
    TShellItem it;
    it.name = QFile::decodeName(p.mid(p.lastIndexOf('/') + 1));
    it.isDir = m.flags & archives::IsFolder;
    it.isLink = m.flags & archives::IsLink;
    it.size = it.isDir ? 0 : m.size;
    it.mtime = m.mtime;
    it.mode = it.isDir ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    it.hidden = it.name.startsWith(QLatin1Char('.'));
    out->push_back(std::move(it));
  }
  return true;
}

namespace {
// Member paths of one archive folder as raw names, with the folder they share.
bool memberNames(const QStringList &paths, QString *archive, QByteArray *folder, QList<QByteArray> *names,
                 QString *error) {
  for (const QString &p : paths) {
    QString a;
    QByteArray inner;
    if (!TArchiveFolders::split(p, &a, &inner) || inner.isEmpty()) {
      *error = QStringLiteral("%1 is not a member of an archive").arg(p);
      return false;
    }
    const qsizetype slash = inner.lastIndexOf('/');
    const QByteArray f = slash < 0 ? QByteArray() : inner.left(slash);
    if (names->isEmpty()) {
      *archive = a;
      *folder = f;
    } else if (a != *archive || f != *folder) {
      *error = QStringLiteral("Members of different archive folders cannot be copied at once");
      return false;
    }
    names->append(inner);
  }
  return !names->isEmpty();
}
}  // namespace

QString TArchiveFolders::extractForViewing(const QString &memberPath, QString *error,
                                           const archives::Progress &progress, const std::atomic<bool> *cancel) {
  {
    QMutexLocker lock(&mutex_);
    if (!temp_) {
      temp_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnwick-archive-XXXXXX"));
      if (!temp_->isValid()) {
        *error = QStringLiteral("No temporary folder: %1").arg(temp_->errorString());
        temp_.reset();
        return {};
      }
    }
  }
  // Each view gets a folder of its own: a viewer may still hold the previous copy open.
  const QString target = temp_->path() + QStringLiteral("/%1").arg(++serial_);
  if (!QDir().mkpath(target)) {
    *error = QStringLiteral("%1 cannot be made").arg(target);
    return {};
  }
  const archives::ExtractResult r = extractTo({memberPath}, target, progress, cancel);
  if (r.cancelled) {
    error->clear();
    QDir(target).removeRecursively();
    return {};
  }
  if (!r.ok || r.written.isEmpty()) {
    *error = !r.error.isEmpty()     ? r.error
             : !r.refused.isEmpty() ? r.refused.join(QLatin1Char('\n'))
                                    : QStringLiteral("%1 was not found in the archive").arg(memberPath);
    QDir(target).removeRecursively();
    return {};
  }
  QMutexLocker lock(&mutex_);
  viewed_.push_back(target);
  while (viewed_.size() > kKeptCopies) {
    QDir(viewed_.front()).removeRecursively();
    viewed_.pop_front();
  }
  return target + QLatin1Char('/') + r.written.first();
}

archives::ExtractResult TArchiveFolders::extractTo(const QStringList &memberPaths, const QString &target,
                                                   const archives::Progress &progress,
                                                   const std::atomic<bool> *cancel) {
  archives::ExtractResult r;
  QString archive;
  QByteArray folder;
  QList<QByteArray> names;
  if (!memberNames(memberPaths, &archive, &folder, &names, &r.error)) return r;
  archives::ExtractOptions o;
  o.stripPrefix = folder;
  o.totalBytes = totalSize(memberPaths);
  {
    QMutexLocker lock(&mutex_);
    if (auto it = passphrases_.find(archive); it != passphrases_.end()) o.passphrase = it->second;
  }
  r = archives::extractMembers(archive, names, target, o, progress, cancel);
  if (r.needsPassphrase) {  // none given, or not the right one: the next extraction asks again
    QMutexLocker lock(&mutex_);
    passphrases_.erase(archive);
  }
  return r;
}

bool TArchiveFolders::wantsPassphrase(const QStringList &memberPaths) {
  QString archive, error;
  QByteArray folder;
  QList<QByteArray> names;
  if (!memberNames(memberPaths, &archive, &folder, &names, &error)) return false;
  {
    QMutexLocker lock(&mutex_);
    if (passphrases_.count(archive)) return false;
  }
  const auto l = listing(archive, &error);
  if (!l) return false;
  for (const QByteArray &n : names) {
    const int i = l->find(n);
    if (i < 0) continue;
    if (l->member(i).flags & archives::IsEncrypted) return true;
    if (!(l->member(i).flags & archives::IsFolder)) continue;
    const QByteArray below = n + '/';
    for (int k = 0; k < l->count(); ++k)
      if ((l->member(k).flags & archives::IsEncrypted) && l->path(k).startsWith(below)) return true;
  }
  return false;
}

void TArchiveFolders::setPassphrase(const QString &memberPath, const QByteArray &passphrase) {
  QString archive;
  if (!split(memberPath, &archive, nullptr)) return;
  QMutexLocker lock(&mutex_);
  passphrases_[archive] = passphrase;
}

bool TArchiveFolders::askPassphraseIfWanted(QWidget *owner, const QStringList &memberPaths) {
  if (!wantsPassphrase(memberPaths)) return true;
  QString archive, typed;
  split(memberPaths.first(), &archive, nullptr);
  if (!ask::secret(owner, QStringLiteral("Passphrase"),
                   QStringLiteral("%1 holds encrypted files. Its passphrase:").arg(QFileInfo(archive).fileName()),
                   &typed))
    return false;
  setPassphrase(memberPaths.first(), typed.toUtf8());
  return true;
}

qint64 TArchiveFolders::totalSize(const QStringList &memberPaths) {
  QString archive, error;
  QByteArray folder;
  QList<QByteArray> names;
  if (!memberNames(memberPaths, &archive, &folder, &names, &error)) return 0;
  const auto l = listing(archive, &error);
  if (!l) return 0;
  qint64 total = 0;
  for (const QByteArray &n : names) {
    const int i = l->find(n);
    if (i < 0) continue;
    if (!(l->member(i).flags & archives::IsFolder)) {
      total += l->member(i).size;
      continue;
    }
    const QByteArray below = n + '/';
    for (int k = 0; k < l->count(); ++k)
      if (l->path(k).startsWith(below)) total += l->member(k).size;
  }
  return total;
}
