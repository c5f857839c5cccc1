#include "windows/checksums/checksumform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/savefile.h"

using checksums::Algo;

namespace {
constexpr Algo kAlgos[] = {Algo::Sha256, Algo::Sha512, Algo::Sha1, Algo::Md5};

QString shownName(const QByteArray &name) { return QFile::decodeName(name); }
}  // namespace

TChecksumForm::TChecksumForm(QWidget *parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("ChecksumForm"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(640, 420);
  auto *v = new QVBoxLayout(this);
  createRow_ = new QWidget(this);
  auto *h = new QHBoxLayout(createRow_);
  h->setContentsMargins(0, 0, 0, 0);
  algo_ = new QComboBox(createRow_);
  for (Algo a : kAlgos) algo_->addItem(checksums::algoName(a));
  name_ = new QLineEdit(createRow_);
  name_->setObjectName(QStringLiteral("SumsName"));
  auto *nameLabel = new QLabel(tr("&Save as:"), createRow_);
  nameLabel->setBuddy(name_);
  auto *algoLabel = new QLabel(tr("&Algorithm:"), createRow_);
  algoLabel->setBuddy(algo_);
  create_ = new QPushButton(tr("C&reate"), createRow_);
  h->addWidget(algoLabel);
  h->addWidget(algo_);
  h->addWidget(nameLabel);
  h->addWidget(name_, 1);
  h->addWidget(create_);
  v->addWidget(createRow_);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({tr("File"), tr("Result")});
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->header()->setStretchLastSection(false);
  v->addWidget(list_, 1);
  summary_ = new QLabel(this);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  v->addWidget(summary_);
  auto *b = new QHBoxLayout;
  bar_ = new QProgressBar(this);
  cancelButton_ = new QPushButton(tr("Cancel"), this);
  close_ = new QPushButton(tr("&Close"), this);
  cancelButton_->setEnabled(false);
  b->addWidget(bar_, 1);
  b->addWidget(cancelButton_);
  b->addWidget(close_);
  v->addLayout(b);
  connect(create_, &QPushButton::clicked, this, &TChecksumForm::startCreate);
  connect(cancelButton_, &QPushButton::clicked, this, &TChecksumForm::cancel);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  connect(algo_, &QComboBox::currentIndexChanged, this, [this] {
    // A name that is still one of the defaults follows the algorithm.
    for (Algo a : kAlgos)
      if (name_->text() == checksums::defaultFileName(a))
        name_->setText(checksums::defaultFileName(kAlgos[algo_->currentIndex()]));
  });
  connect(name_, &QLineEdit::textChanged, this, &TChecksumForm::updateNameHint);
}

TChecksumForm::~TChecksumForm() {
  cancel_ = true;
  if (worker_) {
    worker_->wait();
    delete worker_;
  }
}

void TChecksumForm::prepareCreate(const QString &folder, const QStringList &paths) {
  verifying_ = false;
  folder_ = QDir(folder).absolutePath();
  items_.clear();
  const QDir base(folder_);
  for (const QString &p : paths) {
    const QFileInfo fi(p);
    if (fi.isDir() && !fi.isSymLink()) {
      QDirIterator it(p, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
      QStringList inside;
      while (it.hasNext()) inside << it.next();
      inside.sort();
      for (const QString &f : inside)
        if (QFileInfo(f).isFile()) items_.push_back({QFile::encodeName(base.relativeFilePath(f)), {}});
    } else if (fi.isFile()) {
      items_.push_back({QFile::encodeName(base.relativeFilePath(fi.absoluteFilePath())), {}});
    }
  }
  setWindowTitle(tr("Checksums - %1").arg(folder_));
  createRow_->show();
  if (name_->text().isEmpty()) name_->setText(checksums::defaultFileName(kAlgos[algo_->currentIndex()]));
  setRows();
  updateNameHint();
  create_->setEnabled(!items_.isEmpty());
  if (items_.isEmpty()) summary_->setText(tr("No files chosen."));
}

void TChecksumForm::updateNameHint() {
  if (verifying_ || busy()) return;
  const QString target = QDir(folder_).filePath(name_->text());
  summary_->setText((items_.size() == 1 ? tr("1 file to read.") : tr("%1 files to read.").arg(items_.size())) +
                    (QFileInfo::exists(target)
                         ? QLatin1Char(' ') + tr("%1 exists and will be replaced.").arg(name_->text())
                         : QString()));
}

void TChecksumForm::setRows() {
  list_->clear();
  for (const Item &it : items_) list_->addTopLevelItem(new QTreeWidgetItem({shownName(it.name), QString()}));
}

void TChecksumForm::startVerify(const QString &sumsFile) {
  verifying_ = true;
  sumsFile_ = QFileInfo(sumsFile).absoluteFilePath();
  folder_ = QFileInfo(sumsFile_).absolutePath();
  createRow_->hide();
  setWindowTitle(tr("Checksums - %1").arg(sumsFile_));
  QFile f(sumsFile_);
  if (!f.open(QIODevice::ReadOnly)) {
    summary_->setText(tr("%1 cannot be read: %2").arg(sumsFile_, f.errorString()));
    return;
  }
  // A checksum file is text of a line per file; one this large is not one.
  if (f.size() > (256 << 20)) {
    summary_->setText(tr("%1 is too large to be a checksum file.").arg(sumsFile_));
    return;
  }
  const checksums::Parsed p = checksums::parse(f.readAll(), checksums::algoForName(sumsFile_));
  items_.clear();
  for (const checksums::Entry &e : p.entries) items_.push_back({e.name, e.hex});
  setRows();
  if (!p.algo || items_.isEmpty()) {
    summary_->setText(tr("%1 names no files in a form this program reads (%n line(s) not understood).", "", p.badLines)
                          .arg(sumsFile_));
    return;
  }
  algoInUse_ = *p.algo;
  run(true);
  if (p.badLines > 0) summary_->setProperty("badLines", p.badLines);
}

void TChecksumForm::startCreate() {
  if (busy() || items_.isEmpty()) return;
  const QString name = name_->text().trimmed();
  if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
    summary_->setText(tr("Give the checksum file a name without a folder."));
    return;
  }
  sumsFile_ = QDir(folder_).filePath(name);
  algoInUse_ = kAlgos[algo_->currentIndex()];
  for (Item &it : items_) it.hex.clear();
  setRows();
  run(false);
}

void TChecksumForm::run(bool verify) {
  ok_ = failed_ = missing_ = unreadable_ = 0;
  cancel_ = false;
  create_->setEnabled(false);
  cancelButton_->setEnabled(true);
  bar_->setRange(0, int(items_.size()));
  bar_->setValue(0);
  summary_->setText(verify ? tr("Checking...") : tr("Reading..."));
  const QByteArray folder = QFile::encodeName(folder_);
  const QVector<Item> items = items_;
  const Algo algo = algoInUse_;
  worker_ = QThread::create([this, folder, items, algo, verify] {
    for (int i = 0; i < items.size() && !cancel_; ++i) {
      const QByteArray &name = items[i].name;
      const QByteArray path = name.startsWith('/') ? name : folder + '/' + name;
      const checksums::Hash h = checksums::hashFile(path, algo, {}, cancel_);
      if (h.cancelled) break;
      QString result;
      if (h.hex.isEmpty())
        result = QFile::exists(QFile::decodeName(path)) ? tr("unreadable: %1").arg(h.error) : tr("missing");
      else if (verify)
        result = h.hex == items[i].hex ? tr("OK") : tr("FAILED");
      else
        result = tr("read");
      QMetaObject::invokeMethod(
          this, [this, i, result, hex = h.hex] { itemDone(i, result, hex); }, Qt::QueuedConnection);
    }
  });
  connect(
      worker_, &QThread::finished, this, [this] { workEnded(cancel_); }, Qt::QueuedConnection);
  worker_->start();
}

void TChecksumForm::itemDone(int row, const QString &result, const QByteArray &hex) {
  if (row >= items_.size()) return;
  if (!verifying_) items_[row].hex = hex;
  if (result == tr("OK") || result == tr("read"))
    ++ok_;
  else if (result == tr("FAILED"))
    ++failed_;
  else if (result == tr("missing"))
    ++missing_;
  else
    ++unreadable_;
  if (QTreeWidgetItem *it = list_->topLevelItem(row)) it->setText(1, result);
  bar_->setValue(bar_->value() + 1);
}

void TChecksumForm::workEnded(bool cancelled) {
  if (!worker_) return;
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  cancelButton_->setEnabled(false);
  create_->setEnabled(!verifying_ && !items_.isEmpty());
  if (cancelled) {
    summary_->setText(verifying_ ? tr("Cancelled.") : tr("Cancelled: no checksum file was written."));
  } else if (verifying_) {
    QString text = tr("%1 OK, %2 FAILED, %3 missing").arg(ok_).arg(failed_).arg(missing_);
    if (unreadable_) text += tr(", %1 unreadable").arg(unreadable_);
    summary_->setText(text + QLatin1Char('.'));
  } else if (ok_ != items_.size()) {
    summary_->setText(tr("Not every file could be read: no checksum file was written."));
  } else {
    QByteArray out;
    for (const Item &it : items_) out += checksums::line(it.hex, it.name);
    QString error;
    if (platform::saveFileAtomically(sumsFile_, out, &error))
      summary_->setText((items_.size() == 1 ? tr("%1 written: 1 file.").arg(sumsFile_)
                                            : tr("%1 written: %2 files.").arg(sumsFile_).arg(items_.size())));
    else
      summary_->setText(tr("%1 could not be written: %2").arg(sumsFile_, error));
  }
  emit finished();
}

void TChecksumForm::cancel() { cancel_ = true; }

void TChecksumForm::closeEvent(QCloseEvent *e) {
  cancel_ = true;
  if (worker_) worker_->wait();
  QWidget::closeEvent(e);
}
