#include "browser/conflictdialog.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace browser {

QString sizeWithBytes(qint64 bytes) {
  const QLocale locale;
  if (bytes < 1024) return QDialog::tr("%1 bytes").arg(locale.toString(bytes));
  return QDialog::tr("%1 (%2 bytes)").arg(locale.formattedDataSize(bytes), locale.toString(bytes));
}

TConflictDialog::TConflictDialog(const platform::ConflictQuestion &q, QWidget *parent) : QDialog(parent) {
  setWindowTitle(tr("Confirm Replace"));
  auto *layout = new QVBoxLayout(this);
  const QString name = platform::displayPath(platform::fileNameOf(q.target));
  const QString folder = platform::displayPath(platform::folderOf(q.target));
  auto describe = [](bool isFolder, qint64 size, const QDateTime &t) {
    const QString when = QLocale().toString(t, QLocale::ShortFormat);
    return isFolder ? tr("folder, modified %1").arg(when) : tr("%1, modified %2").arg(sizeWithBytes(size), when);
  };
  auto *text = new QLabel(
      tr("The folder \"%1\" already contains an item named \"%2\".\n\nExisting: %3\nNew: %4\n\n%5")
          .arg(folder, name, describe(q.targetIsFolder, q.targetSize, q.targetModified),
               describe(q.sourceIsFolder, q.sourceSize, q.sourceModified),
               q.sourceIsFolder && q.targetIsFolder
                   ? tr("Overwrite puts the new folder's items into the existing folder.")
                   : tr("Overwrite replaces the existing item.")),
      this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  layout->addWidget(text);
  all_ = new QCheckBox(tr("Do this for &all conflicts"), this);
  layout->addWidget(all_);
  auto *buttons = new QDialogButtonBox(this);
  auto add = [&](const QString &caption, platform::ConflictAnswer a, QDialogButtonBox::ButtonRole role) {
    QPushButton *b = buttons->addButton(caption, role);
    b->setObjectName(caption.toLower().remove('&').remove(' '));
    connect(b, &QPushButton::clicked, this, [this, a] {
      answer_ = a;
      accept();
    });
    return b;
  };
  add(tr("&Overwrite"), platform::ConflictAnswer::Overwrite, QDialogButtonBox::AcceptRole);
  add(tr("&Skip"), platform::ConflictAnswer::Skip, QDialogButtonBox::AcceptRole)->setDefault(true);
  add(tr("&Keep Both"), platform::ConflictAnswer::KeepBoth, QDialogButtonBox::AcceptRole);
  add(tr("Cancel"), platform::ConflictAnswer::Cancel, QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
}

platform::ConflictReply TConflictDialog::reply() const { return {answer_, all_->isChecked()}; }

platform::ConflictReply TConflictDialog::ask(const platform::ConflictQuestion &q, QWidget *parent) {
  TConflictDialog d(q, parent);
  if (d.exec() != QDialog::Accepted) return {platform::ConflictAnswer::Cancel, false};
  return d.reply();
}

}  // namespace browser
