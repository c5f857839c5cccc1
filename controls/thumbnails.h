#pragma once
// Previews of files for the lists and the picture dialog, kept in the desktop's shared thumbnail cache
// ($XDG_CACHE_HOME/thumbnails, the freedesktop layout: PNG files named by the MD5 of the file's URI, holding
// Thumb::URI and Thumb::MTime), so that a preview another file manager made is shown without reading the
// file again, and ours serve them. Pictures are made here; other types by a maker a viewer registers (PDF)
// or by the desktop's thumbnailer programs (/usr/share/thumbnailers: videos, say).
#include <QCache>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <memory>

namespace thumbs {

constexpr int kNormal = 128;  // the cache's "normal" size
constexpr int kLarge = 256;   // its "large" size

// The cache folder of a size: .../thumbnails/normal or .../thumbnails/large.
QString cacheFolder(int size);
// The file's URI as the cache names it (file:///..., percent-encoded) and the stored thumbnail's path.
QByteArray uriOf(const QString &absolutePath);
QString cacheFile(const QString &absolutePath, int size);

// The stored thumbnail if it still matches the file (its URI and modification time), else a null image.
QImage cached(const QString &absolutePath, qint64 mtime, int size);

// A maker for a type pictures readers do not know (a PDF's first page, say): the image at most size
// pixels on its longer side, or null. Called on worker threads, one call at a time per type.
using Maker = std::function<QImage(const QString &path, int size)>;
void addMaker(const QString &mimeType, Maker maker);

// Whether a preview of a file of this name can be made at all (by its type, without reading it).
bool canMake(const QString &fileName);

// The thumbnail of a regular file: the stored one when it matches, else made now and stored. Null with
// *why when there is none (not a picture, damaged, too big); such a failure is noted in the cache's fail
// folder so that no program tries the same file again until it changes. Files inside the cache itself are
// never thumbnailed. Safe on any thread.
QImage thumbnail(const QString &absolutePath, int size = kNormal, QString *why = nullptr);

}  // namespace thumbs

// The previews of one list: asked for what the view paints (so what is on screen comes first, the
// newest request before older ones), made on worker threads, kept in memory for the list's next paint.
class TThumbnailQueue : public QObject {
  Q_OBJECT
 public:
  explicit TThumbnailQueue(QObject *parent = nullptr);
  ~TThumbnailQueue() override;

  // The preview when made (at most the cache's normal size); else null, and it is asked for: ready()
  // follows. A file that has none stays null without asking again until its time changes.
  QIcon get(const QString &absolutePath, qint64 mtime);
  // Drops the requests not started (another folder is shown); made previews stay in memory.
  void clearRequests();
  // Requests not yet answered; tests wait on it.
  int pending() const;

 signals:
  void ready(const QString &absolutePath);

 private:
  struct Shared;
  struct Made {
    QIcon icon;
    qint64 mtime = 0;
  };
  void startWorker();
  void arrived(const QString &path, qint64 mtime, const QImage &image);

  std::shared_ptr<Shared> shared_;
  QThreadPool pool_;
  QCache<QString, Made> made_;
  QSet<QString> asked_;
};
