#pragma once
// Renaming many files at once: new names from a pattern ([N] name, [E] extension, [C] counter, [D] the file's
// date), a search and replace (plain or a regular expression), and a change of case; the plan says before
// anything runs which names clash (two files to one name, a name that exists, a name with a slash or none),
// and runs as one batch through temporary names, so that swaps and cycles (a->b, b->a) work and a failure
// half-way puts every name back.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

namespace renaming {

enum class Case { Keep, Lower, Upper, Title };

struct Rule {
  QString pattern = QStringLiteral("[N][E]");  // [E] includes its dot
  QString search, replace;
  bool regex = false;
  Case letters = Case::Keep;
  int counterStart = 1, counterStep = 1, counterDigits = 1;
};

struct Row {
  QString folder;  // absolute
  QString oldName, newName;
  QString problem;  // empty when the row may run
  bool changes() const { return oldName != newName; }
};

// New names for files (absolute paths), in the order given; rows that clash carry their problem.
QVector<Row> plan(const QStringList &files, const Rule &rule);
// True when no row has a problem and some row changes.
bool runnable(const QVector<Row> &rows);

struct Done {
  QVector<Row> renamed;  // what was renamed, to undo it
  QString error;         // empty on success; after a failure every name is as it was
};
// Runs the plan's changing rows as one batch.
Done run(const QVector<Row> &rows);
// Renames a batch back (new name to old), when the new names are still there and the old ones free.
Done undo(const QVector<Row> &renamed);

}  // namespace renaming
