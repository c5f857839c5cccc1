#include "browser/propertiesdialog.h"
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QVBoxLayout>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include "browser/conflictdialog.h"
#include "platform/ask.h"

namespace browser {

QString permissionText(unsigned mode) {
  const char *flags = "rwxrwxrwx";
  QString out;
  for (int i = 0; i < 9; ++i) out += (mode & (0400u >> i)) ? QChar(flags[i]) : QChar('-');
  return out;
}

namespace {
QString timeText(const struct timespec &t) {
  return QLocale().toString(QDateTime::fromSecsSinceEpoch(t.tv_sec), QLocale::LongFormat);
}
QString ownerName(uid_t uid) {
  const passwd *pw = ::getpwuid(uid);
  return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}
QString groupName(gid_t gid) {
  const group *gr = ::getgrgid(gid);
  return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}
QString countOf(int n, const char *one, const char *many) { return QDialog::tr(n == 1 ? one : many).arg(n); }
// `ownFolders`: the selected folders themselves, which the count includes but the text does not.
QString countedText(const platform::FolderSize &s, int ownFolders) {
  return QDialog::tr("%1, %2, %3")
      .arg(sizeWithBytes(s.bytes), countOf(s.files, "%1 file", "%1 files"),
           countOf(s.folders - ownFolders, "%1 folder", "%1 folders"));
}
}  // namespace

TPropertiesDialog::TPropertiesDialog(const QStringList &paths, QWidget *parent) : QDialog(parent), paths_(paths) {
  auto *layout = new QVBoxLayout(this);
  form_ = new QFormLayout;
  layout->addLayout(form_);
  const platform::NativePaths native = platform::toNative(paths);
  bool needCount = paths.size() > 1;

  if (paths.size() == 1) {
    const platform::NativePath p = native.first();
    setWindowTitle(tr("%1 Properties").arg(platform::displayPath(platform::fileNameOf(p))));
    name_ = new QLineEdit(platform::fromNative(platform::fileNameOf(p)), this);
    name_->setObjectName("name");
    form_->addRow(tr("Name:"), name_);
    struct stat st;
    if (::lstat(p.constData(), &st) == 0) {
      QString type;
      if (S_ISDIR(st.st_mode)) {
        type = tr("Folder");
        needCount = true;
      } else if (S_ISLNK(st.st_mode)) {
        char buf[4096] = {};
        const ssize_t n = ::readlink(p.constData(), buf, sizeof buf - 1);
        type = tr("Link to %1").arg(platform::displayPath(QByteArray(buf, n > 0 ? int(n) : 0)));
      } else {
        const QMimeType mime = QMimeDatabase().mimeTypeForFile(platform::fromNative(p));
        type = mime.isValid() && !mime.comment().isEmpty() ? mime.comment() : tr("File");
      }
      addField("type", tr("Type:"), type);
      addField("location", tr("Location:"), platform::displayPath(platform::folderOf(p)));
      addField("size", tr("Size:"), needCount ? tr("Counting...") : sizeWithBytes(st.st_size));
      addField("modified", tr("Modified:"), timeText(st.st_mtim));
      addField("accessed", tr("Accessed:"), timeText(st.st_atim));
      addField("permissions", tr("Permissions:"),
               tr("%1 (%2), owner %3, group %4")
                   .arg(permissionText(st.st_mode & 0777))
                   .arg(QString::number(st.st_mode & 07777, 8).rightJustified(3, '0'))
                   .arg(ownerName(st.st_uid), groupName(st.st_gid)));
    } else {
      addField("type", tr("Type:"), tr("The item no longer exists."));
      name_->setEnabled(false);
    }
  } else {
    setWindowTitle(tr("Properties"));
    addField("items", tr("Items:"), tr("%1 items").arg(paths.size()));
    addField("location", tr("Location:"), platform::displayPath(platform::folderOf(native.first())));
    addField("size", tr("Size:"), tr("Counting..."));
  }

  if (needCount) {
    const int own = paths.size() == 1 ? 1 : 0;  // "contains": one folder's own entry is not counted
    connect(&counter_, &platform::TFolderSizeCounter::progress, this, [this, own](const platform::FolderSize &s) {
      fields_["size"]->setText(tr("Counting... %1").arg(countedText(s, own)));
    });
    connect(&counter_, &platform::TFolderSizeCounter::finished, this, [this, own](const platform::FolderSize &s) {
      fields_["size"]->setText(countedText(s, own));
      counted_ = true;
    });
    counter_.start(native);
  } else {
    counted_ = true;
  }
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TPropertiesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TPropertiesDialog::reject);
  layout->addWidget(buttons);
}

void TPropertiesDialog::addField(const QString &key, const QString &caption, const QString &text) {
  auto *label = new QLabel(text, this);
  label->setTextFormat(Qt::PlainText);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setObjectName(key);
  fields_[key] = label;
  form_->addRow(caption, label);
}

QString TPropertiesDialog::field(const QString &key) const {
  const QLabel *l = fields_.value(key);
  return l ? l->text() : QString();
}

bool TPropertiesDialog::applyName(QString *error) {
  if (!name_ || paths_.size() != 1) return true;
  const platform::NativePath old = platform::toNative(paths_.first());
  if (name_->text() == platform::fromNative(platform::fileNameOf(old))) return true;
  platform::NativePath newPath;
  if (!platform::renameItem(old, name_->text(), &newPath, error)) return false;
  const QString oldPath = paths_.first();
  paths_[0] = platform::fromNative(newPath);
  emit renamed(oldPath, paths_[0]);
  return true;
}

void TPropertiesDialog::accept() {
  QString error;
  if (!applyName(&error)) {
    ask::warning(this, tr("Rename"), error);
    return;
  }
  QDialog::accept();
}

}  // namespace browser
