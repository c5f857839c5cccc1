#pragma once
// Properties of one item (renamable name, type, location, size, times, permissions) or of several
// (count, location, total size). Folder sizes are counted on a worker thread while the dialog is open.
#include <QDialog>
#include <QMap>
#include <QStringList>
#include "platform/shellverbs.h"

class QLabel;
class QLineEdit;

namespace browser {

class TPropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  TPropertiesDialog(const QStringList &paths, QWidget *parent = nullptr);
  const QStringList &paths() const { return paths_; }
  // The text of a field: "type", "location", "size", "modified", "accessed", "permissions", "items".
  QString field(const QString &key) const;
  QLineEdit *nameEdit() const { return name_; }
  bool sizeCounted() const { return counted_; }
  // Renames the item to the edited name; false with *error when refused (the item keeps its name).
  bool applyName(QString *error);

 signals:
  void renamed(const QString &oldPath, const QString &newPath);

 protected:
  void accept() override;

 private:
  void addField(const QString &key, const QString &caption, const QString &text);

  QStringList paths_;
  QLineEdit *name_ = nullptr;
  QMap<QString, QLabel *> fields_;
  platform::TFolderSizeCounter counter_;
  bool counted_ = false;
  class QFormLayout *form_;
};

// "rwxr-xr-x" for a mode.
QString permissionText(unsigned mode);

}  // namespace browser
