#include "tests/common/testenv.h"
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>

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
