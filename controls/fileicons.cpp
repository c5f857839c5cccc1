#include "controls/fileicons.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>
#include <QStandardPaths>
#include <QStyle>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <mutex>

namespace fileicons {

namespace {
// Tens of thousands of names stay cheap; past that the oldest folder's names go all at once.
constexpr int kNameCacheLimit = 50000;

struct Caches {
  QHash<QString, QIcon> byType;
  QHash<QString, QString> typeOfName;
  QIcon folder, file;
};

Caches &caches() {
  static Caches c;
  return c;
}

QIcon themeIcon(const QString &name) { return QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : QIcon(); }

// Reads the first bytes of files whose name says nothing. Two threads: a slow disk or share delays the
// icons, not the folder readers.
QThreadPool &contentReaders() {
  static QThreadPool *pool = [] {
    auto *p = new QThreadPool;
    p->setMaxThreadCount(2);
    return p;
  }();
  return *pool;
}
}  // namespace

void useFallbackThemeIfBare() {
  static std::once_flag once;
  std::call_once(once, [] {
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor")) {
      // Qt looks at the fallback only from a named theme: hicolor, every theme's base, names none of its own.
      if (theme.isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
      QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    }
    // Without a desktop's platform theme Qt searches its resources only; the themes live in the data folders.
    QStringList paths = QIcon::themeSearchPaths();
    const QStringList found = QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                        QStandardPaths::LocateDirectory);
    for (const QString &dir : found)
      if (!paths.contains(dir)) paths << dir;
    // Setting the paths also forgets the themes already read, which keep the fallback they were read with.
    QIcon::setThemeSearchPaths(paths);
  });
}

QIcon folderIcon() {
  useFallbackThemeIfBare();
  Caches &c = caches();
  if (c.folder.isNull()) {
    c.folder = themeIcon(QStringLiteral("folder"));
    if (c.folder.isNull()) c.folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  }
  return c.folder;
}

QIcon plainFileIcon() {
  useFallbackThemeIfBare();
  Caches &c = caches();
  if (c.file.isNull()) {
    c.file = themeIcon(QStringLiteral("application-x-generic"));
    if (c.file.isNull()) c.file = themeIcon(QStringLiteral("text-x-generic"));
    if (c.file.isNull()) c.file = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  }
  return c.file;
}

QIcon iconForType(const QMimeType &type) {
  if (!type.isValid() || type.isDefault()) return plainFileIcon();
  Caches &c = caches();
  auto it = c.byType.constFind(type.name());
  if (it != c.byType.constEnd()) return *it;
  useFallbackThemeIfBare();
  QIcon icon = themeIcon(type.iconName());
  if (icon.isNull()) icon = themeIcon(type.genericIconName());
  if (icon.isNull()) icon = plainFileIcon();
  c.byType.insert(type.name(), icon);
  return icon;
}

QString typeNameForName(const QString &name) {
  Caches &c = caches();
  auto it = c.typeOfName.constFind(name);
  if (it != c.typeOfName.constEnd()) return *it;
  static const QMimeDatabase db;
  const QList<QMimeType> types = db.mimeTypesForFileName(name);
  const QString type = types.isEmpty() ? QString() : types.first().name();
  if (c.typeOfName.size() >= kNameCacheLimit) c.typeOfName.clear();
  c.typeOfName.insert(name, type);
  return type;
}

QIcon iconForName(const QString &name, bool isDir) {
  if (isDir) return folderIcon();
  const QString type = typeNameForName(name);
  if (type.isEmpty()) return plainFileIcon();
  static const QMimeDatabase db;
  return iconForType(db.mimeTypeForName(type));
}

}  // namespace fileicons

TFileIconCache::TFileIconCache(QObject *parent) : QObject(parent), batch_(new QTimer(this)) {
  batch_->setSingleShot(true);
  batch_->setInterval(50);
  connect(batch_, &QTimer::timeout, this, &TFileIconCache::iconsChanged);
}

TFileIconCache::~TFileIconCache() = default;

QIcon TFileIconCache::icon(const QString &path, const QString &name, bool isDir, bool regular) {
  if (isDir) return fileicons::folderIcon();
  const QString type = fileicons::typeNameForName(name);
  static const QMimeDatabase db;
  if (!type.isEmpty()) return fileicons::iconForType(db.mimeTypeForName(type));
  auto known = byContent_.constFind(path);
  if (known != byContent_.constEnd()) return fileicons::iconForType(db.mimeTypeForName(*known));
  if (!regular || pending_.contains(path)) return fileicons::plainFileIcon();
  pending_.insert(path);
  QPointer<TFileIconCache> self(this);
  (void)QtConcurrent::run(&fileicons::contentReaders(), [self, path] {
    const QString found = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchContent).name();
    // The answer is taken on the window's thread, and only while the list is still there.
    QMetaObject::invokeMethod(
        qApp,
        [self, path, found] {
          if (!self || !self->pending_.remove(path)) return;  // gone, or the folder was left meanwhile
          self->byContent_.insert(path, found);
          if (!self->batch_->isActive()) self->batch_->start();
        },
        Qt::QueuedConnection);
  });
  return fileicons::plainFileIcon();
}

void TFileIconCache::clearContent() {
  byContent_.clear();
  pending_.clear();
}

TFolderIconProvider::TFolderIconProvider() : folder_(fileicons::folderIcon()), file_(fileicons::plainFileIcon()) {}

QIcon TFolderIconProvider::icon(IconType type) const { return type == File ? file_ : folder_; }

QIcon TFolderIconProvider::icon(const QFileInfo &info) const { return info.isDir() ? folder_ : file_; }
