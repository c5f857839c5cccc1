#include "windows/compare/syncplan.h"

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <sys/stat.h>

#include "platform/fileops_runner.h"
#include "platform/trash.h"

namespace comparing {

namespace {
QString tr(const char *s) { return QCoreApplication::translate("compare", s); }

NativePath sidePath(const NativePath &root, const NativePath &rel) { return rel.isEmpty() ? root : root + '/' + rel; }
NativePath parentOf(const NativePath &root, const NativePath &rel) {
  const int slash = rel.lastIndexOf('/');
  return slash < 0 ? root : root + '/' + rel.left(slash);
}
bool copies(Action a) { return a == Action::CopyToRight || a == Action::CopyToLeft; }
}  // namespace

QString actionText(Action action) {
  switch (action) {
    case Action::Skip: return tr("Skip");
    case Action::CopyToRight: return tr("Copy →");
    case Action::CopyToLeft: return tr("← Copy");
    case Action::DeleteLeft: return tr("Delete left");
    case Action::DeleteRight: return tr("Delete right");
  }
  return {};
}

Action defaultAction(const Row &row) {
  switch (row.kind) {
    case Kind::LeftOnly:
    case Kind::LeftNewer: return Action::CopyToRight;
    case Kind::RightOnly:
    case Kind::RightNewer: return Action::CopyToLeft;
    default: return Action::Skip;
  }
}

bool allowed(const Row &row, Action action) {
  if (row.kind == Kind::Unreadable || (row.kind == Kind::Equal && action != Action::Skip))
    return action == Action::Skip;
  switch (action) {
    case Action::Skip: return true;
    case Action::CopyToRight:
    case Action::DeleteLeft: return row.left.exists();
    case Action::CopyToLeft:
    case Action::DeleteRight: return row.right.exists();
  }
  return false;
}

QVector<Step> planSteps(const QVector<Row> &rows, const QVector<Action> &actions) {
  QVector<Step> steps;
  for (int i = 0; i < rows.size() && i < actions.size(); ++i)
    if (actions[i] != Action::Skip && allowed(rows[i], actions[i])) steps.push_back({actions[i], rows[i]});
  return steps;
}

QStringList describe(const QVector<Step> &steps, const NativePath &left, const NativePath &right) {
  QStringList lines;
  for (const Step &s : steps) {
    const QString l = platform::displayPath(sidePath(left, s.row.rel)),
                  r = platform::displayPath(sidePath(right, s.row.rel));
    switch (s.action) {
      case Action::CopyToRight:
      case Action::CopyToLeft: {
        const bool toRight = s.action == Action::CopyToRight;
        const Side &target = toRight ? s.row.right : s.row.left;
        QString line = tr("Copy %1 to %2").arg(toRight ? l : r, toRight ? r : l);
        if (s.row.kind == Kind::TypeDiffers)
          line += tr(" (what is there goes to the Trash first)");
        else if (target.exists())
          line += tr(" (replaces it)");
        lines << line;
        break;
      }
      case Action::DeleteLeft: lines << tr("Move %1 to the Trash").arg(l); break;
      case Action::DeleteRight: lines << tr("Move %1 to the Trash").arg(r); break;
      case Action::Skip: break;
    }
  }
  return lines;
}

TSyncRun::TSyncRun(QVector<Step> steps, NativePath left, NativePath right, platform::TransferQuestions *ui,
                   QObject *parent)
    : QObject(parent), steps_(std::move(steps)), left_(std::move(left)), right_(std::move(right)), ui_(ui) {
  qRegisterMetaType<comparing::SyncResult>();
}

TSyncRun::~TSyncRun() { delete runner_; }  // cancels and waits: no partial file stays

void TSyncRun::start() {
  if (running_) return;
  running_ = true;
  QTimer::singleShot(0, this, &TSyncRun::next);
}

void TSyncRun::cancel() {
  cancelled_ = true;
  if (runner_) runner_->cancel();
}

void TSyncRun::finish() {
  running_ = false;
  result_.cancelled = cancelled_;
  emit finished(result_);
}

void TSyncRun::next() {
  if (cancelled_ || at_ >= steps_.size()) return finish();
  const Step &s = steps_[at_];
  if (!copies(s.action)) {
    runDelete(s);
    ++at_;
    QTimer::singleShot(0, this, &TSyncRun::next);
    return;
  }
  // Copies into one folder in one direction share one run of the engine.
  int last = at_;
  const NativePath folder = parentOf(s.action == Action::CopyToRight ? right_ : left_, s.row.rel);
  while (last + 1 < steps_.size()) {
    const Step &n = steps_[last + 1];
    if (n.action != s.action || n.row.kind == Kind::TypeDiffers ||
        parentOf(n.action == Action::CopyToRight ? right_ : left_, n.row.rel) != folder)
      break;
    ++last;
  }
  runCopies(at_, last);
}

bool TSyncRun::trash(const NativePath &path) {
  for (;;) {
    const platform::TrashOutcome t = platform::moveToTrash(path);
    if (t.ok) return true;
    if (skipAllErrors_) {
      result_.errors << t.error;
      return false;
    }
    const platform::ErrorAnswer a = ui_ ? ui_->askError({path, t.error, 0}) : platform::ErrorAnswer::Skip;
    if (a == platform::ErrorAnswer::Retry) continue;
    result_.errors << t.error;
    if (a == platform::ErrorAnswer::SkipAll) skipAllErrors_ = true;
    if (a == platform::ErrorAnswer::Cancel) cancelled_ = true;
    return false;
  }
}

void TSyncRun::runDelete(const Step &s) {
  const NativePath path = sidePath(s.action == Action::DeleteLeft ? left_ : right_, s.row.rel);
  emit progressChanged(at_, int(steps_.size()), platform::displayPath(path), 0, 0);
  if (trash(path))
    ++result_.done;
  else
    ++result_.failed;
}

void TSyncRun::runCopies(int first, int last) {
  const bool toRight = steps_[first].action == Action::CopyToRight;
  const NativePath &from = toRight ? left_ : right_, &to = toRight ? right_ : left_;
  platform::NativePaths sources;
  expected_.clear();
  for (int i = first; i <= last; ++i) {
    const Row &row = steps_[i].row;
    const NativePath target = sidePath(to, row.rel);
    if (row.kind == Kind::TypeDiffers && !trash(target)) continue;
    const Side &seen = toRight ? row.right : row.left;
    if (seen.exists() && row.kind != Kind::TypeDiffers) expected_.insert(target, seen);
    sources << sidePath(from, row.rel);
  }
  const int count = last - first + 1, sent = int(sources.size());
  if (sources.isEmpty() || cancelled_) {
    result_.failed += count - sent;
    at_ = last + 1;
    QTimer::singleShot(0, this, &TSyncRun::next);
    return;
  }
  runner_ = new platform::TTransferRunner(sources, parentOf(to, steps_[first].row.rel), platform::TransferMode::Copy,
                                          this, this);
  connect(runner_, &platform::TTransferRunner::progressChanged, this, [this](const platform::TransferProgress &p) {
    emit progressChanged(at_, int(steps_.size()), platform::displayPath(p.currentSource), p.bytesDone, p.bytesTotal);
  });
  connect(runner_, &platform::TTransferRunner::finished, this,
          [this, last, count, sent](const platform::TransferResult &r) {
            result_.errors << r.errors;
            // The engine counts nested items too; the plan counts its steps (top-level items).
            const int created = int(r.created.size()), rest = sent - created, failed = std::min(r.failed, rest);
            result_.done += created;
            result_.failed += failed + count - sent;  // count - sent: the other type could not go to the Trash
            result_.skipped += rest - failed;
            if (r.cancelled) cancelled_ = true;
            runner_->deleteLater();
            at_ = last + 1;
            next();
          });
  runner_->start();
}

// Called on this object's thread by the runner. A target that is still what the comparison saw is the one
// the plan replaces; one that changed since is the user's to decide.
platform::ConflictReply TSyncRun::askConflict(const platform::ConflictQuestion &q) {
  const auto it = expected_.constFind(q.target);
  struct stat st;
  if (it != expected_.constEnd() && ::lstat(q.target.constData(), &st) == 0) {
    const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if ((S_ISDIR(st.st_mode) && it->type == EntryType::Folder) ||
        (!S_ISDIR(st.st_mode) && st.st_size == it->size && mtime == it->mtimeNs))
      return {platform::ConflictAnswer::Overwrite, false};
  }
  if (!ui_) return {platform::ConflictAnswer::Skip, false};
  platform::ConflictReply reply = ui_->askConflict(q);
  reply.applyToAll = false;  // every later target is checked again
  return reply;
}

platform::ErrorAnswer TSyncRun::askError(const platform::ErrorQuestion &q) {
  return ui_ ? ui_->askError(q) : platform::ErrorAnswer::Skip;
}

}  // namespace comparing
