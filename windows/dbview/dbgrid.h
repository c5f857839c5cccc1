#pragma once
// The database viewer's data grid and record navigator over a TDbTable. The model asks the table for a
// record only when the view paints it. Edits of a record are kept until it is posted (the navigator's
// Post, or moving to another record) and then written as one record; Cancel drops them.
#include "formats/dbase/dbtable.h"

#include <QAbstractTableModel>
#include <QTableView>
#include <QWidget>

class QToolButton;

class TDbModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TDbModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}
  void setTable(TDbTable *table);
  TDbTable *table() const { return table_; }
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;

  bool hasPendingEdits() const { return !pending_.isEmpty(); }
  int pendingRow() const { return pendingRow_; }
  // Writes the pending edits as one record; false (and message emitted, edits kept) when refused.
  bool post();
  void cancel();
  void refresh();

 signals:
  void message(const QString &text);
  void editStateChanged();

 private:
  TDbTable *table_ = nullptr;
  int pendingRow_ = -1;
  QHash<int, QString> pending_;
};

class TDBGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TDBGrid(QWidget *parent = nullptr);
  TDbModel *dbModel() const { return model_; }
  void setTable(TDbTable *table);
  TDbTable *table() const { return model_->table(); }
  // The fields the grid shows, in field order (hidden columns left out).
  QVector<int> visibleFields() const;
  bool showsTitles() const;
  // Moves to a record (clamped) keeping the column; false when pending edits could not be posted.
  bool goToRecord(int row);
  int currentRecord() const;
  // Closes an open cell editor, keeping what was typed as a pending edit or dropping it.
  void finishCellEdit(bool keep);

 protected:
  bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
  void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

 private:
  TDbModel *model_;
  bool restoring_ = false;
};

class TDBNavigator : public QWidget {
  Q_OBJECT
 public:
  explicit TDBNavigator(QWidget *parent = nullptr);
  void setGrid(TDBGrid *grid);
  void setShowHint(bool on);
  bool showHint() const { return showHint_; }
  QToolButton *button(const QString &name) const;
  void updateButtons();

 private:
  TDBGrid *grid_ = nullptr;
  QList<QToolButton *> buttons_;
  bool showHint_ = true;
};
