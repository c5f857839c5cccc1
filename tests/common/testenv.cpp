#include "tests/common/testenv.h"
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <csignal>
#include <sys/resource.h>

namespace testenv {

QString root() { return QString::fromLocal8Bit(qgetenv("TARNWICK_TEST_ROOT")); }

QString makeDir(const QString &hint) {
  static std::atomic<int> n{0};
  QString path = root() + "/tmp/" + hint + QString::number(++n);
  QDir().mkpath(path);
  return path;
}

QString writeFile(const QString &path, const QByteArray &bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
  f.write(bytes);
  return path;
}

QByteArray readFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

bool mountedAt(const QString &root) {
  QFile f(QStringLiteral("/proc/self/mountinfo"));
  if (!f.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray &line : f.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() > 4 && QString::fromUtf8(fields[4]) == root) return true;
  }
  return false;
}

bool waitFor(const std::function<bool()> &pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

ModalWatcher::ModalWatcher(std::function<void(QWidget *)> act, int intervalMs) {
  timer_.setInterval(intervalMs);
  QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act)] {
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == last_) return;
    last_ = modal;
    act(modal);
  });
  timer_.start();
}

QString binDir() { return QString::fromLocal8Bit(qgetenv("TARNWICK_BINARY_DIR")) + "/bin"; }
QString sourceDir() { return QString::fromLocal8Bit(qgetenv("TARNWICK_SOURCE_DIR")); }

}  // namespace testenv

namespace testenv {
DiskFullAbove::DiskFullAbove(long long bytes) {
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing the process
  rlimit r{};
  if (getrlimit(RLIMIT_FSIZE, &r) != 0) return;
  savedCur_ = static_cast<long long>(r.rlim_cur);
  r.rlim_cur = static_cast<rlim_t>(bytes);
  ok_ = setrlimit(RLIMIT_FSIZE, &r) == 0;
}

DiskFullAbove::~DiskFullAbove() {
  if (!ok_) return;
  rlimit r{};
  getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = static_cast<rlim_t>(savedCur_);
  setrlimit(RLIMIT_FSIZE, &r);
}
}  // namespace testenv
