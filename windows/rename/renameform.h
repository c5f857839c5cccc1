#pragma once
// The rename-many window: the rule's fields, a live preview of old and new names with every clash named,
// and Rename, which runs the batch, then Undo, which renames it back.
#include <QDialog>
#include <QStringList>

#include "windows/rename/renameplan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

class TRenameForm : public QDialog {
  Q_OBJECT
 public:
  TRenameForm(const QStringList &files, QWidget *parent = nullptr);

  QLineEdit *pattern() const { return pattern_; }
  QLineEdit *search() const { return search_; }
  QLineEdit *replacement() const { return replace_; }
  QCheckBox *regex() const { return regex_; }
  QComboBox *letters() const { return case_; }
  QSpinBox *counterStart() const { return start_; }
  QSpinBox *counterDigits() const { return digits_; }
  QTreeWidget *preview() const { return preview_; }
  QPushButton *renameButton() const { return rename_; }
  QPushButton *undoButton() const { return undo_; }
  QLabel *status() const { return status_; }

 signals:
  // Names changed on the disk (a batch ran or was undone): the lists show them anew.
  void renamed();

 private:
  void refresh();
  void runBatch();
  void undoBatch();

  QStringList files_;
  QVector<renaming::Row> rows_, lastBatch_;
  QLineEdit *pattern_, *search_, *replace_;
  QCheckBox *regex_;
  QComboBox *case_;
  QSpinBox *start_, *step_, *digits_;
  QTreeWidget *preview_;
  QLabel *status_;
  QPushButton *rename_, *undo_;
};
