#include "windows/rename/renameform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

TRenameForm::TRenameForm(const QStringList &files, QWidget *parent) : QDialog(parent), files_(files) {
  setObjectName(QStringLiteral("RenameForm"));
  setWindowTitle(tr("Rename Many Files"));
  resize(760, 480);
  auto *v = new QVBoxLayout(this);
  auto *form = new QFormLayout;
  pattern_ = new QLineEdit(QStringLiteral("[N][E]"), this);
  pattern_->setToolTip(tr("[N] name, [E] extension with its dot, [C] counter, [D] the file's date"));
  form->addRow(tr("&New name:"), pattern_);
  auto *sr = new QHBoxLayout;
  search_ = new QLineEdit(this);
  replace_ = new QLineEdit(this);
  regex_ = new QCheckBox(tr("Regular e&xpression"), this);
  sr->addWidget(search_, 1);
  auto *with = new QLabel(tr("&with:"), this);
  with->setBuddy(replace_);
  sr->addWidget(with);
  sr->addWidget(replace_, 1);
  sr->addWidget(regex_);
  auto *replaceLabel = new QLabel(tr("&Replace:"), this);
  replaceLabel->setBuddy(search_);
  form->addRow(replaceLabel, sr);
  auto *more = new QHBoxLayout;
  case_ = new QComboBox(this);
  case_->addItems({tr("Keep"), tr("lower case"), tr("UPPER CASE"), tr("Title Case")});
  start_ = new QSpinBox(this);
  start_->setRange(0, 1000000);
  start_->setValue(1);
  step_ = new QSpinBox(this);
  step_->setRange(1, 1000);
  digits_ = new QSpinBox(this);
  digits_->setRange(1, 9);
  auto *caseLabel = new QLabel(tr("&Letters:"), this);
  caseLabel->setBuddy(case_);
  more->addWidget(caseLabel);
  more->addWidget(case_);
  auto *counterLabel = new QLabel(tr("Counter &from:"), this);
  counterLabel->setBuddy(start_);
  more->addWidget(counterLabel);
  more->addWidget(start_);
  more->addWidget(new QLabel(tr("step:"), this));
  more->addWidget(step_);
  more->addWidget(new QLabel(tr("digits:"), this));
  more->addWidget(digits_);
  more->addStretch(1);
  form->addRow(more);
  v->addLayout(form);
  preview_ = new QTreeWidget(this);
  preview_->setRootIsDecorated(false);
  preview_->setHeaderLabels({tr("Name"), tr("New name"), tr("Problem")});
  preview_->header()->setSectionResizeMode(QHeaderView::Stretch);
  v->addWidget(preview_, 1);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  v->addWidget(status_);
  auto *buttons = new QDialogButtonBox(this);
  rename_ = buttons->addButton(tr("Re&name"), QDialogButtonBox::AcceptRole);
  undo_ = buttons->addButton(tr("&Undo"), QDialogButtonBox::ActionRole);
  buttons->addButton(QDialogButtonBox::Close);
  undo_->setEnabled(false);
  v->addWidget(buttons);
  // Rename runs and the window stays, so that the batch can be undone from it.
  disconnect(buttons, &QDialogButtonBox::accepted, this, nullptr);
  connect(rename_, &QPushButton::clicked, this, &TRenameForm::runBatch);
  connect(undo_, &QPushButton::clicked, this, &TRenameForm::undoBatch);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  for (QLineEdit *e : {pattern_, search_, replace_}) connect(e, &QLineEdit::textChanged, this, &TRenameForm::refresh);
  connect(regex_, &QCheckBox::toggled, this, &TRenameForm::refresh);
  connect(case_, &QComboBox::currentIndexChanged, this, &TRenameForm::refresh);
  for (QSpinBox *s : {start_, step_, digits_}) connect(s, &QSpinBox::valueChanged, this, &TRenameForm::refresh);
  refresh();
}

void TRenameForm::refresh() {
  renaming::Rule rule;
  rule.pattern = pattern_->text();
  rule.search = search_->text();
  rule.replace = replace_->text();
  rule.regex = regex_->isChecked();
  rule.letters = renaming::Case(case_->currentIndex());
  rule.counterStart = start_->value();
  rule.counterStep = step_->value();
  rule.counterDigits = digits_->value();
  rows_ = renaming::plan(files_, rule);
  preview_->clear();
  int changing = 0, problems = 0;
  for (const renaming::Row &r : rows_) {
    auto *it = new QTreeWidgetItem({r.oldName, r.newName, r.problem});
    if (!r.problem.isEmpty()) {
      it->setForeground(2, palette().color(QPalette::Highlight));
      ++problems;
    }
    changing += r.changes();
    preview_->addTopLevelItem(it);
  }
  rename_->setEnabled(renaming::runnable(rows_));
  status_->setText(
      problems ? tr("%1 of %2 new names clash; nothing can run until they do not.").arg(problems).arg(rows_.size())
               : tr("%1 of %2 files get a new name.").arg(changing).arg(rows_.size()));
}

void TRenameForm::runBatch() {
  if (!renaming::runnable(rows_)) return;
  const renaming::Done d = renaming::run(rows_);
  if (!d.error.isEmpty()) {
    status_->setText(d.error);
    return;
  }
  lastBatch_ = d.renamed;
  // From now on the files are known by their new names.
  for (int i = 0; i < files_.size() && i < rows_.size(); ++i)
    files_[i] = rows_[i].folder + QLatin1Char('/') + rows_[i].newName;
  undo_->setEnabled(true);
  emit renamed();
  refresh();
  status_->setText(tr("%1 files renamed.").arg(lastBatch_.size()));
}

void TRenameForm::undoBatch() {
  const renaming::Done d = renaming::undo(lastBatch_);
  if (!d.error.isEmpty()) {
    status_->setText(d.error);
    return;
  }
  for (const renaming::Row &r : lastBatch_) {
    const int i = files_.indexOf(r.folder + QLatin1Char('/') + r.newName);
    if (i >= 0) files_[i] = r.folder + QLatin1Char('/') + r.oldName;
  }
  lastBatch_.clear();
  undo_->setEnabled(false);
  emit renamed();
  refresh();
  status_->setText(tr("The names are as they were."));
}
