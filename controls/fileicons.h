#pragma once
// File-type icons from the desktop's icon theme. The type comes from the name; only files whose name says
// nothing have their first bytes read, on a worker thread, never while the window paints. Icons are kept
// per type, so a folder of ten thousand files of a few types looks up a few icons.
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>

class QMimeType;
class QTimer;

namespace fileicons {

// A machine without a desktop names no theme (or only hicolor, which has no file types): Adwaita then
// answers what the theme cannot. Runs once; every lookup below calls it.
void useFallbackThemeIfBare();

QIcon folderIcon();
QIcon plainFileIcon();
// The type's theme icon, else its generic icon, else the plain file icon; kept per type name.
QIcon iconForType(const QMimeType &type);
// By name alone (archive members, names without a file). Empty when the name says nothing.
QString typeNameForName(const QString &name);
QIcon iconForName(const QString &name, bool isDir);

}  // namespace fileicons

// A list's icons: by name, and by content for regular files whose name says nothing. A content answer
// arrives later; iconsChanged() then asks the list to repaint its icons.
class TFileIconCache : public QObject {
  Q_OBJECT
 public:
  explicit TFileIconCache(QObject *parent = nullptr);
  ~TFileIconCache() override;

  // path is the whole path (read only when the name says nothing); regular says whether reading is safe
  // (a pipe or a device would block the reader).
  QIcon icon(const QString &path, const QString &name, bool isDir, bool regular);
  // Forgets the content answers (another folder is shown).
  void clearContent();
  // Content reads still to answer; tests wait on it.
  int pendingReads() const { return pending_.size(); }

 signals:
  void iconsChanged();

 private:
  QHash<QString, QString> byContent_;  // path -> type name
  QSet<QString> pending_;
  QTimer *batch_ = nullptr;  // gathers many answers into one repaint
};

// The folder tree's icons: every folder gets the theme's folder icon, made once on the window's thread
// (the file system model asks from its own thread).
class TFolderIconProvider : public QFileIconProvider {
 public:
  TFolderIconProvider();
  QIcon icon(IconType type) const override;
  QIcon icon(const QFileInfo &info) const override;

 private:
  QIcon folder_, file_;
};
