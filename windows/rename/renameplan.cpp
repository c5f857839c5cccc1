#include "windows/rename/renameplan.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <cstring>

namespace renaming {

namespace {
QString applyCase(const QString &s, Case c) {
  switch (c) {
    case Case::Lower: return s.toLower();
    case Case::Upper: return s.toUpper();
    case Case::Title: {
      QString r = s.toLower();
      bool start = true;
      for (QChar &ch : r) {
        if (start && ch.isLetter()) ch = ch.toUpper();
        start = !ch.isLetterOrNumber();
      }
      return r;
    }
    case Case::Keep: break;
  }
  return s;
}

int renameNoReplace(const QString &from, const QString &to) {
  const QByteArray f = QFile::encodeName(from), t = QFile::encodeName(to);
  if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0) return 0;
  return errno;
}

QString errorText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }
}  // namespace

QVector<Row> plan(const QStringList &files, const Rule &rule) {
  QVector<Row> rows;
  const QRegularExpression re(rule.regex ? rule.search : QRegularExpression::escape(rule.search));
  int counter = rule.counterStart;
  for (const QString &path : files) {
    const QFileInfo fi(path);
    Row r;
    r.folder = fi.absolutePath();
    r.oldName = fi.fileName();
    // The extension is what follows the last dot, unless the dot starts the name (".profile").
    const int dot = r.oldName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? r.oldName.left(dot) : r.oldName;
    const QString ext = dot > 0 ? r.oldName.mid(dot) : QString();
    QString name = rule.pattern;
    name.replace(QLatin1String("[N]"), base);
    name.replace(QLatin1String("[E]"), ext);
    name.replace(QLatin1String("[C]"),
                 QStringLiteral("%1").arg(counter, qMax(1, rule.counterDigits), 10, QLatin1Char('0')));
    name.replace(QLatin1String("[D]"), fi.lastModified().toString(QStringLiteral("yyyy-MM-dd")));
    counter += rule.counterStep;
    if (!rule.search.isEmpty() && re.isValid()) name.replace(re, rule.replace);
    r.newName = applyCase(name, rule.letters);
    rows << r;
  }
  if (!rule.search.isEmpty() && !re.isValid()) {
    for (Row &r : rows)
      r.problem = QObject::tr("The search is not a valid regular expression: %1").arg(re.errorString());
    return rows;
  }
  // Names leaving the batch free up; names that stay or arrive must be unique per folder.
  QHash<QString, int> arriving;
  QSet<QString> leaving;
  for (const Row &r : rows) {
    if (r.changes()) leaving.insert(r.folder + QLatin1Char('/') + r.oldName);
    arriving[r.folder + QLatin1Char('/') + r.newName] += 1;
  }
  for (Row &r : rows) {
    if (!r.changes()) continue;
    const QString target = r.folder + QLatin1Char('/') + r.newName;
    if (r.newName.isEmpty() || r.newName == QLatin1String(".") || r.newName == QLatin1String(".."))
      r.problem = QObject::tr("No name");
    else if (r.newName.contains(QLatin1Char('/')))
      r.problem = QObject::tr("A name may not hold a slash");
    else if (QFile::encodeName(r.newName).size() > 255)
      r.problem = QObject::tr("The name is too long");
    else if (arriving.value(target) > 1)
      r.problem = QObject::tr("Two files would get this name");
    else if (QFileInfo::exists(target) && !leaving.contains(target))
      r.problem = QObject::tr("A file of this name exists");
  }
  return rows;
}

bool runnable(const QVector<Row> &rows) {
  bool any = false;
  for (const Row &r : rows) {
    if (!r.problem.isEmpty()) return false;
    any |= r.changes();
  }
  return any;
}

Done run(const QVector<Row> &rows) {
  Done d;
  struct Step {
    QString from, temp, to;
    const Row *row;
  };
  QVector<Step> steps;
  for (const Row &r : rows)
    if (r.changes())
      steps.push_back({r.folder + QLatin1Char('/') + r.oldName, {}, r.folder + QLatin1Char('/') + r.newName, &r});
  // First every file to a temporary name of its own, then each to its new name; undone in reverse on failure.
  int moved = 0, placed = 0;
  QString why;
  for (; moved < steps.size(); ++moved) {
    Step &s = steps[moved];
    int err = EEXIST;
    for (int i = 0; i < 100 && err == EEXIST; ++i) {
      s.temp = QFileInfo(s.from).absolutePath() + QStringLiteral("/.tarnwick-rename-%1-%2").arg(moved).arg(i);
      err = renameNoReplace(s.from, s.temp);
    }
    if (err) {
      why = QObject::tr("%1 could not be renamed: %2").arg(s.from, errorText(err));
      break;
    }
  }
  if (why.isEmpty()) {
    for (; placed < steps.size(); ++placed) {
      const Step &s = steps[placed];
      if (const int err = renameNoReplace(s.temp, s.to)) {
        why = QObject::tr("%1 could not be renamed to %2: %3").arg(s.from, QFileInfo(s.to).fileName(), errorText(err));
        break;
      }
    }
  }
  if (why.isEmpty()) {
    for (const Step &s : steps) d.renamed << *s.row;
    return d;
  }
  for (int i = placed - 1; i >= 0; --i) renameNoReplace(steps[i].to, steps[i].temp);
  for (int i = moved - 1; i >= 0; --i) renameNoReplace(steps[i].temp, steps[i].from);
  d.error = why + QLatin1Char('\n') + QObject::tr("Every name is as it was.");
  return d;
}

Done undo(const QVector<Row> &renamed) {
  QVector<Row> back;
  QStringList files;
  for (const Row &r : renamed) {
    Row b = r;
    std::swap(b.oldName, b.newName);
    if (!QFileInfo::exists(b.folder + QLatin1Char('/') + b.oldName)) {
      Done d;
      d.error =
          QObject::tr("%1 is no longer there: nothing was renamed back.").arg(b.folder + QLatin1Char('/') + b.oldName);
      return d;
    }
    back << b;
  }
  // The old names must be free again, apart from those the batch itself frees.
  QSet<QString> leaving;
  for (const Row &b : back) leaving.insert(b.folder + QLatin1Char('/') + b.oldName);
  for (const Row &b : back) {
    const QString target = b.folder + QLatin1Char('/') + b.newName;
    if (QFileInfo::exists(target) && !leaving.contains(target)) {
      Done d;
      d.error = QObject::tr("A file named %1 exists again: nothing was renamed back.").arg(target);
      return d;
    }
  }
  return run(back);
}

}  // namespace renaming
