#include "controls/thumbnails.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <deque>
#include <map>
#include <mutex>

#include "formats/raster/svgsafe.h"
#include "platform/savefile.h"

namespace thumbs {

namespace {

constexpr qint64 kMaxPictureBytes = qint64(512) << 20;  // a bigger "picture" is not worth reading for a preview
constexpr int kProgramSeconds = 20;                     // a desktop thumbnailer taking longer is stopped
const char kSoftware[] = "Tarnwick 2.0";
const char kFailFolder[] = "fail/tarnwick-2.0";  // each program notes its own failures

QString cacheRoot() {
  QString base = qEnvironmentVariable("XDG_CACHE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.cache");
  return base + QStringLiteral("/thumbnails");
}

QString subFolder(int size) { return size > kNormal ? QStringLiteral("large") : QStringLiteral("normal"); }

// The cache's folders are the user's alone (0700), as other programs expect them.
bool makeFolder(const QString &path) {
  if (QFileInfo(path).isDir()) return true;
  if (!QDir().mkpath(path)) return false;
  for (QString p = path; p.startsWith(cacheRoot()); p = QFileInfo(p).path())
    QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return true;
}

QString md5Name(const QByteArray &uri) {
  return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

bool matches(const QImage &img, const QByteArray &uri, qint64 mtime) {
  return !img.isNull() && img.text(QStringLiteral("Thumb::URI")).toUtf8() == uri &&
         img.text(QStringLiteral("Thumb::MTime")).toLongLong() == mtime;
}

bool store(const QString &file, QImage img, const QByteArray &uri, qint64 mtime, qint64 bytes, const QString &mime,
           const QSize &full) {
  if (!makeFolder(QFileInfo(file).path())) return false;
  img.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(uri));
  img.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
  img.setText(QStringLiteral("Thumb::Size"), QString::number(bytes));
  if (!mime.isEmpty()) img.setText(QStringLiteral("Thumb::Mime"), mime);
  if (full.isValid()) {
    img.setText(QStringLiteral("Thumb::Image::Width"), QString::number(full.width()));
    img.setText(QStringLiteral("Thumb::Image::Height"), QString::number(full.height()));
  }
  img.setText(QStringLiteral("Software"), QString::fromLatin1(kSoftware));
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  if (!QImageWriter(&buf, "png").write(img)) return false;
  // Written beside and renamed, so that a reader never sees half a file.
  return platform::saveFileAtomically(file, png, nullptr, platform::SaveAccess::OwnerOnly);
}

struct Makers {
  std::mutex mutex;
  std::map<QString, std::shared_ptr<std::pair<std::mutex, Maker>>> byType;
};
Makers &makers() {
  static Makers m;
  return m;
}

// A desktop thumbnailer program (/usr/share/thumbnailers/*.thumbnailer): its command and the types it makes.
struct Program {
  QStringList command;  // with %i %u %o %s in it
  QStringList types;
};
const std::vector<Program> &programs() {
  static const std::vector<Program> found = [] {
    std::vector<Program> out;
    const QStringList dirs = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                       QStringLiteral("thumbnailers"), QStandardPaths::LocateDirectory);
    for (const QString &dir : dirs) {
      for (QDirIterator it(dir, {QStringLiteral("*.thumbnailer")}, QDir::Files); it.hasNext();) {
        QSettings entry(it.next(), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Thumbnailer Entry"));
        const QString tryExec = entry.value(QStringLiteral("TryExec")).toString();
        const QStringList command =
            QProcess::splitCommand(entry.value(QStringLiteral("Exec")).toStringList().join(QLatin1Char(',')));
        if (command.isEmpty() ||
            QStandardPaths::findExecutable(tryExec.isEmpty() ? command.first() : tryExec).isEmpty())
          continue;
        QStringList types = entry.value(QStringLiteral("MimeType"))
                                .toStringList()
                                .join(QLatin1Char(';'))
                                .split(QLatin1Char(';'), Qt::SkipEmptyParts);
        out.push_back({command, types});
      }
    }
    return out;
  }();
  return found;
}

const Program *programFor(const QString &mime) {
  for (const Program &p : programs())
    if (p.types.contains(mime)) return &p;
  return nullptr;
}

QImage runProgram(const Program &p, const QString &path, const QByteArray &uri, int size, QString *why) {
  QTemporaryDir dir;
  if (!dir.isValid()) return *why = QStringLiteral("no room for a preview"), QImage();
  const QString out = dir.filePath(QStringLiteral("thumb.png"));
  QStringList args;
  for (QString a : p.command) {
    a.replace(QStringLiteral("%i"), path)
        .replace(QStringLiteral("%u"), QString::fromUtf8(uri))
        .replace(QStringLiteral("%o"), out)
        .replace(QStringLiteral("%s"), QString::number(size))
        .replace(QStringLiteral("%%"), QStringLiteral("%"));
    args << a;
  }
  QProcess proc;
  proc.setProcessChannelMode(QProcess::MergedChannels);
  proc.start(args.takeFirst(), args);
  if (!proc.waitForFinished(kProgramSeconds * 1000)) {
    proc.kill();
    proc.waitForFinished(2000);
    return *why = QStringLiteral("the preview program did not answer"), QImage();
  }
  QImage img(out);
  if (img.isNull()) *why = QStringLiteral("the preview program made nothing");
  return img;
}

QImage makePicture(const QString &path, const QByteArray &format, int size, QSize *full, QString *why) {
  QFile head(path);
  const bool svg =
      format == "svg" || format == "svgz" || (head.open(QIODevice::ReadOnly) && imageio::looksLikeSvg(head.read(512)));
  head.close();
  if (svg) {
    // Through the safe reader, whatever the name says: no entity bombs, nothing fetched.
    const imageio::SafeSvg svg = imageio::readSafeSvg(path);
    if (svg.bytes.isEmpty()) return *why = svg.error, QImage();
    *full = svg.size.toSize();
    return imageio::renderSvg(svg, QSize(size, size), why);
  }
  QImageReader r(path, format);
  r.setAutoTransform(true);
  *full = r.size();
  // Readers that can (JPEG above all) decode straight at the small size, which is most of the speed.
  if (full->isValid() && (full->width() > size || full->height() > size))
    r.setScaledSize(full->scaled(size, size, Qt::KeepAspectRatio).expandedTo({1, 1}));
  QImage img = r.read();
  if (img.isNull()) return *why = r.errorString(), QImage();
  if (img.width() > size || img.height() > size)
    img = img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return img;
}

QByteArray pictureFormat(const QMimeType &type) {
  static const QHash<QString, QByteArray> formats = [] {
    QHash<QString, QByteArray> h;
    const QList<QByteArray> mimes = QImageReader::supportedMimeTypes();
    for (const QByteArray &m : mimes) {
      const QList<QByteArray> names = QImageReader::imageFormatsForMimeType(m);
      if (!names.isEmpty()) h.insert(QString::fromLatin1(m), names.first());
    }
    h.insert(QStringLiteral("image/svg+xml"), "svg");
    h.insert(QStringLiteral("image/svg+xml-compressed"), "svgz");
    return h;
  }();
  QByteArray f = formats.value(type.name());
  for (int i = 0; f.isEmpty() && i < type.parentMimeTypes().size(); ++i) f = formats.value(type.parentMimeTypes()[i]);
  return f;
}

struct Endings {
  std::mutex mutex;
  QHash<QString, bool> can;
};
Endings &endings() {
  static Endings e;
  return e;
}

std::shared_ptr<std::pair<std::mutex, Maker>> makerFor(const QString &mime) {
  std::lock_guard lock(makers().mutex);
  auto it = makers().byType.find(mime);
  return it == makers().byType.end() ? nullptr : it->second;
}

}  // namespace

QString cacheFolder(int size) { return cacheRoot() + QLatin1Char('/') + subFolder(size); }

QByteArray uriOf(const QString &absolutePath) {
  // Escaped as the desktop's own libraries escape a file name, so that all programs agree on the MD5.
  return "file://" + QFile::encodeName(QDir::cleanPath(absolutePath)).toPercentEncoding("/!$&'()*+,:=@~");
}

QString cacheFile(const QString &absolutePath, int size) {
  return cacheFolder(size) + QLatin1Char('/') + md5Name(uriOf(absolutePath));
}

QImage cached(const QString &absolutePath, qint64 mtime, int size) {
  const QImage img(cacheFile(absolutePath, size), "png");
  return matches(img, uriOf(absolutePath), mtime) ? img : QImage();
}

void addMaker(const QString &mimeType, Maker maker) {
  {
    std::lock_guard lock(makers().mutex);
    auto &slot = makers().byType[mimeType];
    slot = std::make_shared<std::pair<std::mutex, Maker>>();
    slot->second = std::move(maker);
  }
  std::lock_guard lock(endings().mutex);
  endings().can.clear();
}

bool canMake(const QString &fileName) {
  // Asked for every icon a list paints: answered per ending once (until a maker is added).
  std::mutex &mutex = endings().mutex;
  QHash<QString, bool> &byEnding = endings().can;
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0) return false;
  const QString ending = fileName.mid(dot).toLower();
  {
    std::lock_guard lock(mutex);
    if (auto it = byEnding.constFind(ending); it != byEnding.constEnd()) return *it;
  }
  static QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(QStringLiteral("x") + ending, QMimeDatabase::MatchExtension);
  const bool can = type.isValid() && !type.isDefault() &&
                   (!pictureFormat(type).isEmpty() || makerFor(type.name()) || programFor(type.name()));
  std::lock_guard lock(mutex);
  byEnding.insert(ending, can);
  return can;
}

QImage thumbnail(const QString &absolutePath, int size, QString *whyOut) {
  QString whyHere;
  QString *why = whyOut ? whyOut : &whyHere;
  struct stat st {};
  const QByteArray native = QFile::encodeName(absolutePath);
  if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
    return *why = QStringLiteral("not a file"), QImage();
  const QString clean = QDir::cleanPath(absolutePath);
  if (clean.startsWith(cacheRoot() + QLatin1Char('/'))) return *why = QStringLiteral("a preview itself"), QImage();
  const qint64 mtime = st.st_mtime;
  const QByteArray uri = uriOf(clean);
  const QString name = md5Name(uri);
  const QString file = cacheFolder(size) + QLatin1Char('/') + name;
  if (QImage img(file, "png"); matches(img, uri, mtime)) return img;
  const QString failed = cacheRoot() + QLatin1Char('/') + QLatin1String(kFailFolder) + QLatin1Char('/') + name;
  if (matches(QImage(failed, "png"), uri, mtime)) return *why = QStringLiteral("no preview can be made"), QImage();

  static QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(clean, QMimeDatabase::MatchExtension);
  QImage img;
  QSize full;
  bool tried = true;
  if (const QByteArray format = pictureFormat(type); !format.isEmpty()) {
    if (st.st_size > kMaxPictureBytes) return *why = QStringLiteral("too big for a preview"), QImage();
    img = makePicture(clean, format, size, &full, why);
  } else if (auto maker = makerFor(type.name())) {
    std::lock_guard lock(maker->first);
    img = maker->second(clean, size);
    if (img.isNull()) *why = QStringLiteral("no preview can be made");
  } else if (const Program *p = programFor(type.name())) {
    img = runProgram(*p, clean, uri, size, why);
    if (!img.isNull() && (img.width() > size || img.height() > size))
      img = img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  } else {
    *why = QStringLiteral("no preview for this type");
    tried = false;
  }
  // The file may have changed while it was read: stored only under the time it was read at.
  if (img.isNull()) {
    if (tried) store(failed, QImage(1, 1, QImage::Format_ARGB32), uri, mtime, st.st_size, type.name(), {});
    return QImage();
  }
  // Pictures that already fit are shown as they are; a copy in the cache would only take room.
  const bool small = full.isValid() && full.width() <= size && full.height() <= size;
  if (!small) store(file, img, uri, mtime, st.st_size, type.name(), full);
  return img;
}

}  // namespace thumbs

// --- TThumbnailQueue --------------------------------------------------------------------------------------

struct TThumbnailQueue::Shared {
  std::mutex mutex;
  std::deque<std::pair<QString, qint64>> wanted;  // the newest request at the back, answered first
  int workers = 0;
};

TThumbnailQueue::TThumbnailQueue(QObject *parent) : QObject(parent), shared_(std::make_shared<Shared>()) {
  // One core stays for the window (and the folder readers) on a small machine.
  pool_.setMaxThreadCount(qBound(1, QThread::idealThreadCount() - 1, 4));
  made_.setMaxCost(96 * 1024);  // in KiB: about 1,500 previews of the normal size
}

TThumbnailQueue::~TThumbnailQueue() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->wanted.clear();
  }
  pool_.waitForDone();
}

QIcon TThumbnailQueue::get(const QString &path, qint64 mtime) {
  if (const Made *m = made_.object(path); m && m->mtime == mtime) return m->icon;
  if (asked_.contains(path)) return {};
  asked_.insert(path);
  {
    std::lock_guard lock(shared_->mutex);
    shared_->wanted.emplace_back(path, mtime);
  }
  startWorker();
  return {};
}

void TThumbnailQueue::clearRequests() {
  std::lock_guard lock(shared_->mutex);
  for (const auto &w : shared_->wanted) asked_.remove(w.first);
  shared_->wanted.clear();
}

int TThumbnailQueue::pending() const { return int(asked_.size()); }

void TThumbnailQueue::startWorker() {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->workers >= pool_.maxThreadCount()) return;
    ++shared_->workers;
  }
  pool_.start([s = shared_, self = this] {
    for (;;) {
      std::pair<QString, qint64> job;
      {
        std::lock_guard lock(s->mutex);
        if (s->wanted.empty()) {
          --s->workers;
          return;
        }
        job = std::move(s->wanted.back());
        s->wanted.pop_back();
      }
      const QImage img = thumbs::thumbnail(job.first);
      // The queue waits for its workers before it goes, so self is alive here; a queued call to it that
      // has not run when it goes is dropped with it.
      QMetaObject::invokeMethod(
          self, [self, job, img] { self->arrived(job.first, job.second, img); }, Qt::QueuedConnection);
    }
  });
}

namespace {
// Centred on a square, as the type icons are: the views lay out every item by the first one's size.
QImage squared(const QImage &image) {
  if (image.isNull() || image.width() == image.height()) return image;
  const int side = qMax(image.width(), image.height());
  QImage out(side, side, QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  QPainter p(&out);
  p.drawImage((side - image.width()) / 2, (side - image.height()) / 2, image);
  return out;
}
}  // namespace

void TThumbnailQueue::arrived(const QString &path, qint64 mtime, const QImage &made) {
  asked_.remove(path);
  const QImage image = squared(made);
  auto *m = new Made{image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)), mtime};
  made_.insert(path, m, qMax<qsizetype>(1, image.sizeInBytes() / 1024));
  emit ready(path);
}
