#pragma once
// Helpers for tests: each test process runs in its own temporary HOME with its own XDG folders.
#include <QString>
#include <QByteArray>
#include <QPointer>
#include <QTimer>
#include <functional>

class QWidget;

namespace testenv {
// The process's private root folder (holds home/, config/, data/, runtime/, tmp/).
QString root();
// A new empty folder under the process's temporary root.
QString makeDir(const QString &hint = QStringLiteral("d"));
// Writes bytes to a file, creating folders as needed; returns the path.
QString writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Pumps the event loop until pred() holds or the timeout passes; returns pred(). The default is generous:
// it only costs time when the test fails, and a CI machine running two suites on two cores is slow.
bool waitFor(const std::function<bool()> &pred, int timeoutMs = 30000);
// True when a file system is mounted at root, read from the kernel's mount table (not through the code
// under test).
bool mountedAt(const QString &root);
// Build tree folder of the executables (bin/).
QString binDir();
QString sourceDir();

// Acts once on each modal dialog the program shows, as soon as it is up: it polls, so it waits however
// long the program takes to show a dialog, and it stops when it goes out of scope, so it never acts on a
// later test's dialog. The action answers or closes the dialog.
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QWidget *)> act, int intervalMs = 5);

 private:
  QTimer timer_;
  QPointer<QWidget> last_;
};

// While it lives, writes that would make a file larger than `bytes` fail in this process, as on a full
// disk, whoever runs the test (root included). ok() tells whether the limit could be set.
class DiskFullAbove {
 public:
  explicit DiskFullAbove(long long bytes);
  ~DiskFullAbove();
  bool ok() const { return ok_; }

 private:
  long long savedCur_ = 0;
  bool ok_ = false;
};
}  // namespace testenv
