#include "browser/filecommands_asker.h"
#include <QMessageBox>
#include <QPushButton>
#include "browser/conflictdialog.h"
#include "platform/ask.h"

namespace browser {

bool TMessageBoxAsker::confirm(const QString &title, const QString &text) { return ask::yes(parent_, title, text); }

TFileAsker::PermanentDelete TMessageBoxAsker::confirmPermanentDelete(const QString &text) {
  switch (ask::warning(parent_, QObject::tr("Delete Permanently"), text,
                       QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel,
                       QMessageBox::No)) {
    case QMessageBox::Yes: return PermanentDelete::Yes;
    case QMessageBox::YesToAll: return PermanentDelete::YesToAll;
    case QMessageBox::No: return PermanentDelete::No;
    default: return PermanentDelete::Cancel;
  }
}

void TMessageBoxAsker::inform(const QString &title, const QString &text) { ask::warning(parent_, title, text); }

platform::ConflictReply TMessageBoxAsker::askConflict(const platform::ConflictQuestion &q) {
  return TConflictDialog::ask(q, parent_);
}

platform::ErrorAnswer TMessageBoxAsker::askError(const platform::ErrorQuestion &q) {
  QMessageBox box(QMessageBox::Warning, QObject::tr("Error"), q.message, QMessageBox::NoButton, parent_);
  QPushButton *retry = box.addButton(QObject::tr("&Retry"), QMessageBox::AcceptRole);
  QPushButton *skip = box.addButton(QObject::tr("&Skip"), QMessageBox::AcceptRole);
  QPushButton *skipAll = box.addButton(QObject::tr("Skip &All"), QMessageBox::AcceptRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(skip);
  box.exec();
  if (box.clickedButton() == retry) return platform::ErrorAnswer::Retry;
  if (box.clickedButton() == skip) return platform::ErrorAnswer::Skip;
  if (box.clickedButton() == skipAll) return platform::ErrorAnswer::SkipAll;
  return platform::ErrorAnswer::Cancel;
}

}  // namespace browser
