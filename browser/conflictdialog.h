#pragma once
// "An item of this name is already there": Overwrite, Skip or Keep Both, optionally for all that follow.
#include <QDialog>
#include "platform/fileops.h"

class QCheckBox;

namespace browser {

class TConflictDialog : public QDialog {
  Q_OBJECT
 public:
  TConflictDialog(const platform::ConflictQuestion &q, QWidget *parent = nullptr);
  platform::ConflictReply reply() const;
  // Shows the dialog modally and returns the answer (Cancel when closed).
  static platform::ConflictReply ask(const platform::ConflictQuestion &q, QWidget *parent);

 private:
  platform::ConflictAnswer answer_ = platform::ConflictAnswer::Cancel;
  QCheckBox *all_;
};

// "12.3 MB (12,345,678 bytes)".
QString sizeWithBytes(qint64 bytes);

}  // namespace browser
