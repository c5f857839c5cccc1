#include "windows/scan/tarnscan.h"

#include "controls/filedialogs.h"
#include "formats/raster/imageio.h"
#include "controls/imageview.h"
#include "windows/scan/scanhost.h"
#include "windows/scan/scansession.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QTextEdit>
#include <QTimer>
#include <QtConcurrent>

#include <atomic>

const QString TTarnScan::kSaveFilter = QStringLiteral(
    "BMP - Bitmap (Windows, OS/2)|*.bmp|PBM - Portable Bitmap|*.pbm|PGM - Portable Graymap|*.pgm|"
    "PNG - Portable Network Graphics|*.png|PPM - Portable Pixelmap|*.ppm|JPG - JPEG (JFIF compliant)|*.jpg");
const QStringList TTarnScan::kWarningLines = {QStringLiteral("WARNING"),
                                              QString(),
                                              QStringLiteral("If you do not have a scanner "),
                                              QStringLiteral("attatched to your PC, do not select "),
                                              QStringLiteral("aquire from the menu as this will "),
                                              QStringLiteral("result in a program crash"),
                                              QString(),
                                              QStringLiteral("Click here to Exit the Image Scanner")};

TTarnScan::TTarnScan(TScanHost &h, QWidget *parent) : QDialog(parent), host(h) {
  setObjectName(QStringLiteral("TarnScan"));
  setWindowTitle(QStringLiteral("Tarnwick - Image Scanner"));
  resize(409, 394);
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  auto *bar = new QMenuBar(this);
  bar->setObjectName(QStringLiteral("MainMenu1"));
  grid->setMenuBar(bar);
  QMenu *file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  auto add = [&](const char *name, const QString &caption, void (TTarnScan::*slot)()) {
    QAction *a = file->addAction(caption, this, slot);
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  Saveas1 = add("Saveas1", QStringLiteral("Save &As"), &TTarnScan::Saveas1Click);
  file->addSeparator()->setObjectName(QStringLiteral("N1"));
  Select1 = add("Select1", QStringLiteral("&Select"), &TTarnScan::Select1Click);
  Acquire1 = add("Acquire1", QStringLiteral("A&cquire"), &TTarnScan::Acquire1Click);
  file->addSeparator()->setObjectName(QStringLiteral("N2"));
  Exit1 = add("Exit1", QStringLiteral("&Exit"), &TTarnScan::Exit1Click);

  PGImage1 = new TImageView(this);
  PGImage1->setObjectName(QStringLiteral("PGImage1"));
  PGImage1->setStretchMode(TImageView::ZoomKAR);
  PGImage1->setZoomFactor(1.0);
  PGImage1->setCenter(true);
  grid->addWidget(PGImage1, 0, 0);
  Memo1 = new QTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(13);
  f.setBold(true);
  Memo1->setFont(f);
  Memo1->setPlainText(kWarningLines.join(QLatin1Char('\n')));
  Memo1->selectAll();
  Memo1->setAlignment(Qt::AlignCenter);
  Memo1->moveCursor(QTextCursor::Start);
  Memo1->viewport()->installEventFilter(this);
  Memo1->viewport()->setCursor(Qt::PointingHandCursor);
  grid->addWidget(Memo1, 0, 0);  // over the picture until the first acquisition
  Memo1->raise();

  // Without the scanner library the two commands stay off and the warning tells the user to leave.
  const scan::Session session;
  Select1->setEnabled(session.available());
  Acquire1->setEnabled(session.available());
}

TTarnScan::~TTarnScan() = default;

QAction *TTarnScan::item(const QString &name) const {
  for (QAction *a : {Saveas1, Select1, Acquire1, Exit1})
    if (a->objectName() == name) return a;
  return nullptr;
}

bool TTarnScan::eventFilter(QObject *o, QEvent *e) {
  if (o == Memo1->viewport() && e->type() == QEvent::MouseButtonRelease
      && static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) {
    Exit1Click();
    return true;
  }
  return QDialog::eventFilter(o, e);
}

void TTarnScan::scanError(const QString &message, int status) {
  host.showScanError(message + QStringLiteral("\n\nRC:   ") + scan::statusName(status) + QStringLiteral("\nCC:   ")
                     + scan::statusText(status));
}

void TTarnScan::Select1Click() {
  scan::Session session;
  int status = 0;
  const QList<scan::Device> devices = session.devices(&status);
  if (devices.isEmpty()) {
    scanError(QStringLiteral("No scanner was found."), status ? status : 4 /* SANE_STATUS_INVAL */);
    return;
  }
  int current = 0;
  for (int i = 0; i < devices.size(); ++i)
    if (devices[i].name == host.defaultDevice()) current = i;
  const int chosen = host.chooseDevice(this, devices, current);
  if (chosen >= 0 && chosen < devices.size()) host.setDefaultDevice(devices[chosen].name);
}

void TTarnScan::Acquire1Click() {
  Memo1->hide();
  scan::Session session;
  if (!session.available()) {
    host.showScanError(QStringLiteral("Unable to load Source Manager (TWAIN_32.DLL)"));
    return;
  }
  int status = 0;
  bool opened = session.open(host.defaultDevice(), &status);
  // The device chosen before may be gone (unplugged): the first one there is takes its place.
  if (!opened && !host.defaultDevice().isEmpty()) opened = session.open(QString(), &status);
  if (!opened) {
    scanError(QStringLiteral("Unable to open default Data Source."), status);
    return;
  }
  scan::Settings settings;
  const scan::Options options = session.options();
  settings.mode = options.mode;
  settings.resolution = options.resolution;
  if (!host.acquireSettings(this, options, settings)) return;  // the user's cancel: no picture, no message
  QString error;
  if (!session.apply(settings, &error)) {
    host.showScanError(QStringLiteral("Failed to enable Data Source.\n\n") + error);
    return;
  }

  // The scan runs on a worker thread; this window waits with its progress and Cancel.
  std::atomic_bool cancel{false};
  std::atomic<qint64> done{0}, total{-1};
  QProgressDialog progress(QStringLiteral("Scanning..."), QStringLiteral("Cancel"), 0, 100, this);
  progress.setObjectName(QStringLiteral("ScanProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  QFutureWatcher<scan::Result> watcher;
  QEventLoop loop;
  connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
  connect(&progress, &QProgressDialog::canceled, &loop, [&cancel] { cancel = true; });
  connect(&progress, &QDialog::rejected, &loop, [&cancel] { cancel = true; });  // Escape
  QTimer tick;
  connect(&tick, &QTimer::timeout, &progress, [&] {
    if (progress.wasCanceled()) cancel = true;  // Escape and the close box cancel without the signal
    const qint64 t = total.load();
    if (t > 0) progress.setValue(int(qMin<qint64>(100, done.load() * 100 / t)));
    else progress.setRange(0, 0);  // a scanner that does not know the length: a busy bar
  });
  tick.start(100);
  scan::Session *s = &session;
  watcher.setFuture(QtConcurrent::run([s, &cancel, &done, &total] {
    return s->scan([&done, &total](qint64 d, qint64 t) {
      done = d;
      total = t;
    }, cancel);
  }));
  progress.show();
  if (!watcher.isFinished()) loop.exec();
  tick.stop();
  progress.hide();
  const scan::Result r = watcher.result();
  raise();
  activateWindow();
  repaint();
  if (r.cancelled) return;
  if (r.image.isNull()) {
    if (r.status) scanError(r.error, r.status);
    else host.showMessage(this, QStringLiteral("Unable to aquire image"));
    return;
  }
  PGImage1->setImage(r.image);
}

void TTarnScan::Saveas1Click() {
  if (!PGImage1->isEmpty()) {
    const QString path = host.saveFileName(this, filedlg::qtFilter(kSaveFilter));
    if (!path.isEmpty()) {
      QString error;
      if (!imageio::write(PGImage1->image(), path, &error)) {
        host.showMessage(this, error);  // nothing was saved: the window stays for another try
        return;
      }
      savedName_ = path;
    }
  }
  host.setCurrentFile(savedName_);
  accept();
}

void TTarnScan::Exit1Click() {
  if (savedName_.isEmpty()) host.setCurrentFile(QString());
  reject();
}
