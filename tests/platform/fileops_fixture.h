#pragma once
// Shared helpers of the file-operation tests: byte-exact file names, scripted answers, a small tmpfs,
// and running the engine in a child process as an unprivileged user.
#include <QByteArray>
#include <QStringList>
#include <functional>
#include <set>
#include <vector>
#include "platform/fileops.h"

namespace fotest {
using platform::NativePath;

NativePath newDir(const char *hint = "d");
void writeBytes(const NativePath &path, const QByteArray &bytes);  // creates parent folders
QByteArray readBytes(const NativePath &path);
bool exists(const NativePath &path);
bool isLink(const NativePath &path);
std::set<QByteArray> names(const NativePath &folder);
// True when any ".tarnwick-*" temporary is left anywhere under the folder.
bool hasTemporaries(const NativePath &folder);
QByteArray pattern(qint64 size, int seed);

// Answers the engine from lists and records what it asked.
struct Script : platform::TransferQuestions {
  std::vector<platform::ConflictReply> conflictReplies;  // used in order; then the last one again
  platform::ErrorAnswer onError = platform::ErrorAnswer::Skip;
  std::vector<platform::ConflictQuestion> conflicts;
  std::vector<platform::ErrorQuestion> errors;
  std::function<void(const platform::TransferProgress &)> onProgress;
  platform::ConflictReply askConflict(const platform::ConflictQuestion &q) override;
  platform::ErrorAnswer askError(const platform::ErrorQuestion &q) override;
  void progress(const platform::TransferProgress &p) override;
};

// A tmpfs of the given size, mounted for the test's lifetime (needs root and mount rights).
class Tmpfs {
 public:
  explicit Tmpfs(qint64 bytes);
  ~Tmpfs();
  bool ok() const { return !path_.isEmpty(); }
  const NativePath &path() const { return path_; }
  const QString &why() const { return why_; }
 private:
  NativePath path_;
  QString why_;
};

// A folder outside the private test root that an unprivileged user can enter; removed at the end.
class SharedDir {
 public:
  SharedDir();
  ~SharedDir();
  const NativePath &path() const { return path_; }
 private:
  NativePath path_;
};

bool runningAsRoot();
// Makes a path belong to the unprivileged user the probe runs as (only when running as root).
void giveToProbeUser(const NativePath &path);
// Runs fileops_probe (as "nobody" when root) and returns its standard output; exit code in *rc.
QString runProbe(const QStringList &args, int *rc, bool unprivileged = true);
}  // namespace fotest
