// Comparing and synchronising folders on real trees with nasty names, with rsync and diff as the oracle:
// the kinds agree with what they report, a run makes the trees equal for the directions chosen and touches
// nothing else, what changed after the comparison is not overwritten, unreadable entries are rows, and the
// window shows, filters and runs exactly the steps it listed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/testenv.h"
#include "windows/compare/compareform.h"
#include "windows/compare/foldercompare.h"
#include "windows/compare/syncplan.h"

using namespace comparing;

namespace {

constexpr qint64 kBase = 1600000000;  // seconds; "newer" is 100 s later

void put(const QString &path, const QByteArray &bytes, qint64 secs) {
  testenv::writeFile(path, bytes);
  const timespec t[2] = {{time_t(secs), 0}, {time_t(secs), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), t, 0), 0) << path.toStdString();
}
void link(const QString &target, const QString &path, qint64 secs) {
  QDir().mkpath(QFileInfo(path).path());
  ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
  const timespec t[2] = {{time_t(secs), 0}, {time_t(secs), 0}};
  ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), t, AT_SYMLINK_NOFOLLOW);
}

struct Trees {
  QString l, r, outside;
};

// Every fault class in one pair of trees: nested and one-sided folders, unicode, spaces, a newline, links
// (same and other target, one into a folder outside, a dangling one), a file facing a folder, same size
// with other content, same content at other times, other size at the same time.
Trees nastyTrees(QString base = {}) {
  if (base.isEmpty()) base = testenv::makeDir("nasty");
  Trees t{base + "/left", base + "/right", base + "/outside"};
  put(t.outside + "/never listed.txt", "outside", kBase);
  for (const QString &s : {t.l, t.r}) {
    put(s + "/same.txt", "same", kBase);
    put(s + "/日本語/файл.txt", "unicode", kBase);
    link("same.txt", s + "/link-same", kBase);
    link(t.outside, s + "/outside", kBase);
  }
  put(t.l + "/nested/deep/ünïcødé ñame.txt", "left is newer and longer", kBase + 100);
  put(t.r + "/nested/deep/ünïcødé ñame.txt", "older", kBase);
  put(t.l + "/nested/with space and\nnewline.txt", "aaaa", kBase);
  put(t.r + "/nested/with space and\nnewline.txt", "bbbb", kBase + 100);
  put(t.l + "/samesize.bin", "1234", kBase);
  put(t.r + "/samesize.bin", "abcd", kBase);
  put(t.l + "/othersize.txt", "short", kBase);
  put(t.r + "/othersize.txt", "a bit longer", kBase);
  put(t.l + "/content same, time not.txt", "same bytes", kBase + 100);
  put(t.r + "/content same, time not.txt", "same bytes", kBase);
  put(t.l + "/leftonly dir/inner/file", "only left", kBase);
  put(t.r + "/right only.txt", "only right", kBase);
  put(t.l + "/clash", "a file", kBase);
  put(t.r + "/clash/inside.txt", "a folder", kBase);
  link("a", t.l + "/link-other", kBase);
  link("b", t.r + "/link-other", kBase);
  link("nowhere", t.l + "/nested/dangling", kBase);
  return t;
}

QMap<QByteArray, Kind> kinds(const Result &r) {
  QMap<QByteArray, Kind> m;
  for (const Row &row : r.rows) m.insert(row.rel, row.kind);
  return m;
}

QByteArray run(const QString &program, const QStringList &args, int *exitCode = nullptr) {
  QProcess p;
  p.start(program, args);
  EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
  if (exitCode) *exitCode = p.exitCode();
  return p.readAllStandardOutput();
}

// rsync's itemized paths, names unescaped (it writes a newline as \#012).
QList<QPair<bool, QByteArray>> rsyncItems(const Trees &t) {
  const QByteArray out = run("rsync", {"-rlcn8", "--delete", "--out-format=%i|%n", t.l + "/", t.r + "/"});
  QList<QPair<bool, QByteArray>> items;
  for (const QByteArray &line : out.split('\n')) {
    const int bar = line.indexOf('|');
    if (bar < 0) continue;
    QByteArray name = line.mid(bar + 1);
    name.replace("\\#012", "\n");
    if (name.endsWith('/')) name.chop(1);
    if (name.isEmpty() || name == ".") continue;
    items << qMakePair(line.startsWith("*deleting"), name);
  }
  return items;
}

const Row *rowAt(const Result &r, const QByteArray &path) {
  for (const Row &row : r.rows)
    if (path == row.rel || path.startsWith(row.rel + '/')) return &row;
  return nullptr;
}

QMap<QString, QByteArray> snapshot(const QString &root) {
  QMap<QString, QByteArray> m;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString p = it.next();
    const QFileInfo fi = it.fileInfo();
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(p).constData(), target, sizeof target);
    m.insert(p.mid(root.size() + 1), n >= 0       ? "->" + QByteArray(target, int(n))
                                     : fi.isDir() ? QByteArray("<dir>")
                                                  : testenv::readFile(p));
  }
  return m;
}

SyncResult runPlan(const QVector<Step> &steps, const Trees &t, platform::TransferQuestions *ui = nullptr) {
  TSyncRun run(steps, platform::toNative(t.l), platform::toNative(t.r), ui);
  bool done = false;
  SyncResult result;
  QObject::connect(&run, &TSyncRun::finished, [&](const SyncResult &r) {
    result = r;
    done = true;
  });
  run.start();
  EXPECT_TRUE(testenv::waitFor([&] { return done; }, 60000));
  return result;
}

}  // namespace

TEST(CompareFolders, KindsAgreeWithRsyncAndDiff) {
  const Trees t = nastyTrees();
  const Result bytes = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {true, ContentMode::Bytes});
  const Result hash = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {true, ContentMode::Hash});
  ASSERT_TRUE(bytes.rootProblem.isEmpty()) << bytes.rootProblem.toStdString();
  EXPECT_EQ(kinds(bytes), kinds(hash));

  // Every path rsync would transfer or delete is under a row that differs, on the side rsync names; every
  // row that differs is one rsync names, and no equal one is.
  const auto items = rsyncItems(t);
  ASSERT_FALSE(items.isEmpty());
  QSet<QByteArray> named;
  for (const auto &[deleting, path] : items) {
    named << path;
    const Row *row = rowAt(bytes, path);
    ASSERT_TRUE(row) << path.constData();
    EXPECT_NE(row->kind, Kind::Equal) << path.constData();
    EXPECT_TRUE(deleting ? row->right.exists() : row->left.exists()) << path.constData();
  }
  for (const Row &row : bytes.rows) EXPECT_EQ(named.contains(row.rel), row.kind != Kind::Equal) << row.rel.constData();

  // diff names each one-sided entry and each pair that differs; nothing under the link to outside.
  int rc = 0;
  const QByteArray diff = run("diff", {"-rq", "--no-dereference", t.l, t.r}, &rc);
  EXPECT_EQ(rc, 1);
  for (const Row &row : bytes.rows) {
    const QByteArray l = QFile::encodeName(t.l) + '/' + row.rel, r = QFile::encodeName(t.r) + '/' + row.rel;
    const int slash = row.rel.lastIndexOf('/');
    const QByteArray sub = slash < 0 ? QByteArray() : '/' + row.rel.left(slash);
    const QByteArray name = row.rel.mid(slash + 1);
    const bool reported =
        diff.contains("Only in " + QFile::encodeName(row.left.exists() ? t.l : t.r) + sub + ": " + name + '\n') ||
        diff.contains(l + " and " + r) || diff.contains(l + " is a ") || diff.contains(l + " -> ");
    EXPECT_EQ(reported, row.kind != Kind::Equal) << row.rel.constData() << "\n" << diff.constData();
  }
  EXPECT_FALSE(diff.contains("never listed")) << "the link to a folder outside was followed";
}

TEST(CompareFolders, KindsBySizeAndTime) {
  const Trees t = nastyTrees();
  const auto quick = kinds(compareTrees(platform::toNative(t.l), platform::toNative(t.r), {}));
  const auto content = kinds(compareTrees(platform::toNative(t.l), platform::toNative(t.r), {true, ContentMode::Hash}));
  struct Case {
    const char *path;
    Kind quick, content;
  } cases[] = {
      {"same.txt", Kind::Equal, Kind::Equal},
      {"日本語/файл.txt", Kind::Equal, Kind::Equal},
      {"nested/deep/ünïcødé ñame.txt", Kind::LeftNewer, Kind::LeftNewer},
      {"nested/with space and\nnewline.txt", Kind::RightNewer, Kind::RightNewer},
      {"samesize.bin", Kind::Equal, Kind::Different},  // only reading tells these apart
      {"othersize.txt", Kind::Different, Kind::Different},
      {"content same, time not.txt", Kind::LeftNewer, Kind::Equal},
      {"leftonly dir", Kind::LeftOnly, Kind::LeftOnly},
      {"right only.txt", Kind::RightOnly, Kind::RightOnly},
      {"clash", Kind::TypeDiffers, Kind::TypeDiffers},
      {"link-same", Kind::Equal, Kind::Equal},
      {"link-other", Kind::Different, Kind::Different},
      {"outside", Kind::Equal, Kind::Equal},
      {"nested/dangling", Kind::LeftOnly, Kind::LeftOnly},
  };
  for (const Case &c : cases) {
    const QByteArray p = QByteArray(c.path);
    ASSERT_TRUE(quick.contains(p)) << c.path;
    EXPECT_EQ(quick.value(p), c.quick) << c.path;
    EXPECT_EQ(content.value(p), c.content) << c.path;
  }
  // One row for a one-sided folder, none for a folder on both sides or for what a link points at.
  EXPECT_EQ(quick.size(), int(std::size(cases)));
  // Without subfolders, a folder on both sides is one equal row and nothing below it is looked at.
  const auto flat = kinds(compareTrees(platform::toNative(t.l), platform::toNative(t.r), {false}));
  EXPECT_EQ(flat.value("nested"), Kind::Equal);
  EXPECT_FALSE(flat.contains("nested/dangling"));
  EXPECT_FALSE(compareTrees("/nonexistent/left", platform::toNative(t.r), {}).rootProblem.isEmpty());
  // A copy that went through FAT is off by up to two seconds: the same time with the tolerance, not beyond.
  const QString fat = testenv::makeDir("fat");
  put(fat + "/l/copied.txt", "same bytes", kBase + 2);
  put(fat + "/r/copied.txt", "same bytes", kBase);
  put(fat + "/l/later.txt", "same bytes", kBase + 3);
  put(fat + "/r/later.txt", "same bytes", kBase);
  Options tolerant;
  tolerant.timeToleranceNs = 2'000'000'000;
  const auto exact = kinds(compareTrees(platform::toNative(fat + "/l"), platform::toNative(fat + "/r"), {}));
  const auto loose = kinds(compareTrees(platform::toNative(fat + "/l"), platform::toNative(fat + "/r"), tolerant));
  EXPECT_EQ(exact.value("copied.txt"), Kind::LeftNewer);
  EXPECT_EQ(loose.value("copied.txt"), Kind::Equal);
  EXPECT_EQ(loose.value("later.txt"), Kind::LeftNewer);
}

TEST(CompareFolders, SyncMakesTreesEqualForTheDirectionsChosenAndTouchesNothingElse) {
  {  // Mirror left onto right: copies over everything and deletes what only the right has.
    const Trees t = nastyTrees();
    const Result r = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {true, ContentMode::Bytes});
    QVector<Action> actions;
    for (const Row &row : r.rows)
      actions << (row.kind == Kind::Equal       ? Action::Skip
                  : row.kind == Kind::RightOnly ? Action::DeleteRight
                                                : Action::CopyToRight);
    const QVector<Step> steps = planSteps(r.rows, actions);
    EXPECT_EQ(describe(steps, platform::toNative(t.l), platform::toNative(t.r)).size(), steps.size());
    const SyncResult s = runPlan(steps, t);
    EXPECT_FALSE(s.cancelled);
    EXPECT_EQ(s.failed, 0) << s.errors.join('\n').toStdString();
    EXPECT_EQ(s.done, steps.size());
    int rc = -1;
    const QByteArray diff = run("diff", {"-r", "--no-dereference", t.l, t.r}, &rc);
    EXPECT_EQ(rc, 0) << diff.constData();
    // What was deleted is in the Trash, not gone.
    EXPECT_TRUE(QDir(QDir::homePath() + "/.local/share/Trash/files").entryList().filter("right only").size() > 0 ||
                QDir(qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files").entryList().filter("right only").size() >
                    0);
  }
  {  // The default plan: newer wins, one-sided entries are copied, nothing is deleted or replaced otherwise.
    const Trees t = nastyTrees();
    const auto beforeL = snapshot(t.l), beforeR = snapshot(t.r);
    const Result r = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {});
    QVector<Action> actions;
    for (const Row &row : r.rows) actions << defaultAction(row);
    const QVector<Step> steps = planSteps(r.rows, actions);
    QSet<QString> toRight, toLeft;
    for (const Step &s : steps) (s.action == Action::CopyToRight ? toRight : toLeft) << QString::fromUtf8(s.row.rel);
    EXPECT_EQ(runPlan(steps, t).failed, 0);
    const auto afterL = snapshot(t.l), afterR = snapshot(t.r);
    const auto planned = [](const QSet<QString> &roots, const QString &p) {
      for (const QString &root : roots)
        if (p == root || p.startsWith(root + '/')) return true;
      return false;
    };
    for (auto [before, after, other, into] :
         {std::tuple{&beforeL, &afterL, &beforeR, &toLeft}, std::tuple{&beforeR, &afterR, &beforeL, &toRight}}) {
      for (auto it = before->begin(); it != before->end(); ++it)
        if (!planned(*into, it.key())) {
          EXPECT_EQ(after->value(it.key()), it.value()) << it.key().toStdString();
        }
      for (auto it = after->begin(); it != after->end(); ++it)
        if (planned(*into, it.key())) {
          EXPECT_EQ(it.value(), other->value(it.key())) << it.key().toStdString();
        } else {
          EXPECT_TRUE(before->contains(it.key())) << "unplanned " << it.key().toStdString();
        }
    }
    // Compared again, only what the default leaves to the user remains.
    for (const Row &row : compareTrees(platform::toNative(t.l), platform::toNative(t.r), {}).rows)
      EXPECT_TRUE(row.kind == Kind::Equal || row.kind == Kind::Different || row.kind == Kind::TypeDiffers)
          << row.rel.constData() << " " << kindText(row.kind).toStdString();
  }
}

TEST(CompareFolders, TargetChangedSinceTheComparisonIsNotOverwritten) {
  const Trees t = nastyTrees();
  const Result r = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {});
  QVector<Action> actions;
  for (const Row &row : r.rows)
    actions << (row.rel == "nested/deep/ünïcødé ñame.txt" ? Action::CopyToRight : Action::Skip);
  const QString target = t.r + "/nested/deep/ünïcødé ñame.txt";
  put(target, "changed by someone else", kBase + 50);
  const SyncResult s = runPlan(planSteps(r.rows, actions), t);  // no one to ask: skipped
  EXPECT_EQ(s.done, 0);
  EXPECT_EQ(s.skipped, 1);
  EXPECT_EQ(testenv::readFile(target), "changed by someone else");
  // Nor is a left-only entry copied over one that appeared on the right meanwhile.
  actions.fill(Action::Skip);
  for (int i = 0; i < r.rows.size(); ++i)
    if (r.rows[i].rel == "leftonly dir") actions[i] = Action::CopyToRight;
  put(t.r + "/leftonly dir/inner/file", "made meanwhile", kBase);
  runPlan(planSteps(r.rows, actions), t);
  EXPECT_EQ(testenv::readFile(t.r + "/leftonly dir/inner/file"), "made meanwhile");
}

TEST(CompareFolders, UnreadableEntriesAreRowsNotFailures) {
  // Outside the private test root, which only its owner may enter.
  QByteArray tmpl = "/tmp/tarnwick-compare-XXXXXX";
  ASSERT_TRUE(::mkdtemp(tmpl.data()));
  ::chmod(tmpl.constData(), 0755);
  const QString base = QFile::decodeName(tmpl);
  const auto cleanUp = qScopeGuard([&] { QDir(base).removeRecursively(); });
  const Trees t = nastyTrees(base);
  put(t.l + "/locked/secret.txt", "x", kBase);
  put(t.r + "/locked/secret.txt", "y", kBase);
  put(t.l + "/sealed.txt", "abcd", kBase);
  put(t.r + "/sealed.txt", "abce", kBase);
  ::chmod(QFile::encodeName(t.r + "/locked").constData(), 0);
  ::chmod(QFile::encodeName(t.l + "/sealed.txt").constData(), 0);
  // Root reads everything: the comparison runs as "nobody" in a child, which reports the kinds it found.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    if (::geteuid() == 0) {
      const passwd *nobody = ::getpwnam("nobody");
      if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(3);
    }
    const Result r = compareTrees(platform::toNative(t.l), platform::toNative(t.r), {true, ContentMode::Bytes});
    QByteArray out;
    for (const Row &row : r.rows)
      out += row.rel + '\t' + QByteArray::number(int(row.kind)) + '\t' + row.problem.toUtf8() + '\n';
    if (!r.rootProblem.isEmpty()) out = "root\t" + r.rootProblem.toUtf8();
    (void)!::write(pipeFds[1], out.constData(), size_t(out.size()));
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  QByteArray out;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) out.append(buf, int(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::chmod(QFile::encodeName(t.r + "/locked").constData(), 0755);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out.constData();
  ASSERT_FALSE(out.startsWith("root\t")) << out.constData() << " (the test folder must be open to nobody)";
  const QString unreadable = QString::number(int(Kind::Unreadable));
  EXPECT_TRUE(out.contains("locked\t" + unreadable.toUtf8() + "\tCannot open")) << out.constData();
  EXPECT_TRUE(out.contains("sealed.txt\t" + unreadable.toUtf8() + "\tCannot read")) << out.constData();
  // The rest was still compared.
  EXPECT_TRUE(out.contains("samesize.bin\t" + QByteArray::number(int(Kind::Different)))) << out.constData();
}

namespace {
class TestHost : public TCompareHost {
 public:
  QStringList shownSteps;
  bool run = true;
  int changes = 0;
  bool confirmPlan(const QStringList &steps) override {
    shownSteps = steps;
    return run;
  }
  platform::TransferQuestions *transferQuestions() override { return nullptr; }
  QString chooseFolder(const QString &) override { return {}; }
  void filesChanged() override { ++changes; }
};
}  // namespace

TEST(CompareFolders, WindowFiltersChoosesAndRunsExactlyTheListedSteps) {
  const Trees t = nastyTrees();
  TestHost host;
  TCompareForm form(host, t.l, t.r);
  form.show();
  form.startCompare();
  ASSERT_TRUE(testenv::waitFor([&] { return !form.isComparing(); }, 30000));
  const int all = form.rows().size();
  ASSERT_GT(all, 0);
  // Equal rows are hidden at first; each filter shows or hides its kind.
  int equal = 0, leftOnly = 0;
  for (const Row &r : form.rows()) equal += r.kind == Kind::Equal, leftOnly += r.kind == Kind::LeftOnly;
  EXPECT_EQ(form.table()->model()->rowCount(), all - equal);
  form.filterBox(Kind::LeftOnly)->setChecked(false);
  EXPECT_EQ(form.table()->model()->rowCount(), all - equal - leftOnly);
  form.filterBox(Kind::Equal)->setChecked(true);
  form.filterBox(Kind::LeftOnly)->setChecked(true);
  EXPECT_EQ(form.table()->model()->rowCount(), all);

  // Select every row and skip them, then choose one row to copy right to left (over an older... no: over
  // the newer left file, the user's choice) and one to delete; a disallowed choice is refused.
  form.table()->selectAll();
  form.setSelectedAction(Action::Skip);
  for (Action a : form.actions()) EXPECT_EQ(a, Action::Skip);
  int over = -1, gone = -1, rightOnly = -1;
  for (int i = 0; i < form.rows().size(); ++i) {
    if (form.rows()[i].rel == "nested/deep/ünïcødé ñame.txt") over = i;
    if (form.rows()[i].rel == "leftonly dir") gone = i;
    if (form.rows()[i].rel == "right only.txt") rightOnly = i;
  }
  ASSERT_TRUE(over >= 0 && gone >= 0 && rightOnly >= 0);
  form.setAction(over, Action::CopyToLeft);
  form.setAction(gone, Action::DeleteLeft);
  form.setAction(rightOnly, Action::CopyToRight);  // nothing on the left to copy
  EXPECT_EQ(form.actions()[rightOnly], Action::Skip);

  host.run = false;  // the list is shown and declined: nothing runs
  form.synchronize();
  ASSERT_EQ(host.shownSteps.size(), 2);
  EXPECT_TRUE(host.shownSteps[0].contains("leftonly dir") && host.shownSteps[0].contains("Trash"));
  EXPECT_TRUE(host.shownSteps[1].startsWith("Copy " + t.r + "/nested/deep")) << host.shownSteps[1].toStdString();
  EXPECT_TRUE(QFileInfo::exists(t.l + "/leftonly dir"));

  host.run = true;
  form.synchronize();
  ASSERT_TRUE(
      testenv::waitFor([&] { return host.changes == 1 && !form.isSynchronizing() && !form.isComparing(); }, 30000));
  EXPECT_FALSE(QFileInfo::exists(t.l + "/leftonly dir"));
  EXPECT_EQ(testenv::readFile(t.l + "/nested/deep/ünïcødé ñame.txt"), "older");
  // The table is the new comparison: the copied file is equal now, the deleted folder no row.
  bool sawOver = false;
  for (const Row &r : form.rows()) {
    EXPECT_NE(r.rel, QByteArray("leftonly dir"));
    if (r.rel == "nested/deep/ünïcødé ñame.txt") {
      sawOver = true;
      EXPECT_EQ(r.kind, Kind::Equal);
    }
  }
  EXPECT_TRUE(sawOver);
}
