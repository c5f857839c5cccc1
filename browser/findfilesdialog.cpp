#include "browser/findfilesdialog.h"
#include <QByteArrayMatcher>
#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "platform/fileops.h"
#include "platform/shellverbs.h"
#include "platform/ask.h"

namespace browser {

namespace {
QList<QRegularExpression> compileMasks(const QString &masks) {
  QList<QRegularExpression> out;
  for (QString m : masks.split(QRegularExpression("[;,]"), Qt::SkipEmptyParts)) {
    m = m.trimmed();
    if (m.isEmpty()) continue;
    if (!m.contains('*') && !m.contains('?')) m = '*' + m + '*';
    out << QRegularExpression(QRegularExpression::wildcardToRegularExpression(m),
                              QRegularExpression::CaseInsensitiveOption);
  }
  if (out.isEmpty()) out << QRegularExpression(".*");
  return out;
}

bool matchesAny(const QList<QRegularExpression> &res, const QString &name) {
  for (const QRegularExpression &re : res)
    if (re.match(name).hasMatch()) return true;
  return false;
}
}  // namespace

bool nameMatchesMasks(const QString &name, const QString &masks) { return matchesAny(compileMasks(masks), name); }

bool fileContainsText(const QByteArray &path, const QByteArray &needleIn, const std::atomic<bool> *stop) {
  if (needleIn.isEmpty()) return true;
  const QByteArray needle = needleIn.toLower();
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const QByteArrayMatcher matcher(needle);
  const qsizetype keep = needle.size() - 1;  // bytes carried over so a match across chunks is found
  QByteArray window;
  QByteArray chunk(256 * 1024, Qt::Uninitialized);
  bool hit = false;
  for (;;) {
    if (stop && stop->load()) break;
    const ssize_t n = ::read(fd, chunk.data(), size_t(chunk.size()));
    if (n <= 0) break;
    window.append(chunk.constData(), n);
    if (matcher.indexIn(window.toLower()) >= 0) {
      hit = true;
      break;
    }
    window = window.right(keep);
  }
  ::close(fd);
  return hit;
}

TFileSearch::TFileSearch(QObject *parent) : QObject(parent) {}

TFileSearch::~TFileSearch() {
  stop_.store(true);
  if (thread_) {
    thread_->wait();
    delete thread_;
  }
}

void TFileSearch::start(const FindCriteria &c) {
  if (thread_) {
    stop_.store(true);
    thread_->wait();
    delete thread_;
  }
  stop_.store(false);
  running_ = true;
  thread_ = QThread::create([this, c] {
    const QList<QRegularExpression> masks = compileMasks(c.masks);
    const QByteArray needle = c.text.toUtf8();
    QStringList batch;
    int count = 0;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    auto flush = [&] {
      if (batch.isEmpty()) return;
      QMetaObject::invokeMethod(
          this, [this, batch] { emit found(batch); }, Qt::QueuedConnection);
      batch.clear();
      sinceBatch.restart();
    };
    // Breadth-first without following links, so link loops cannot trap the search.
    QList<QByteArray> folders{platform::toNative(c.folder)};
    while (!folders.isEmpty() && !stop_.load()) {
      const QByteArray folder = folders.takeFirst();
      const QString shown = platform::fromNative(folder);
      QMetaObject::invokeMethod(
          this, [this, shown] { emit searching(shown); }, Qt::QueuedConnection);
      DIR *d = ::opendir(folder.constData());
      if (!d) continue;
      QList<QByteArray> names;
      while (dirent *e = ::readdir(d)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..") names << n;
      }
      ::closedir(d);
      std::sort(names.begin(), names.end());
      for (const QByteArray &n : names) {
        if (stop_.load()) break;
        const QByteArray path = platform::joinPath(folder, n);
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) continue;
        const bool isDir = S_ISDIR(st.st_mode);
        if (isDir && c.subfolders) folders << path;
        if (!matchesAny(masks, platform::fromNative(n))) continue;
        if (!needle.isEmpty() && (!S_ISREG(st.st_mode) || !fileContainsText(path, needle, &stop_))) continue;
        batch << platform::fromNative(path);
        ++count;
        if (sinceBatch.elapsed() > 150) flush();
      }
    }
    flush();
    const bool stopped = stop_.load();
    QMetaObject::invokeMethod(
        this,
        [this, count, stopped] {
          running_ = false;
          emit finished(count, stopped);
        },
        Qt::QueuedConnection);
  });
  thread_->start();
}

TFindFilesDialog::TFindFilesDialog(const QString &startFolder, QWidget *parent) : QDialog(parent) {
  setWindowTitle(tr("Find Files"));
  resize(640, 420);
  auto *layout = new QVBoxLayout(this);
  auto *form = new QFormLayout;
  named_ = new QLineEdit("*", this);
  containing_ = new QLineEdit(this);
  lookIn_ = new QLineEdit(startFolder, this);
  auto *browse = new QPushButton(tr("&Browse..."), this);
  auto *lookRow = new QHBoxLayout;
  lookRow->addWidget(lookIn_);
  lookRow->addWidget(browse);
  subfolders_ = new QCheckBox(tr("Include &subfolders"), this);
  subfolders_->setChecked(true);
  form->addRow(tr("&Named:"), named_);
  form->addRow(tr("&Containing text:"), containing_);
  auto *lookLabel = new QLabel(tr("&Look in:"), this);
  lookLabel->setBuddy(lookIn_);
  form->addRow(lookLabel, lookRow);
  form->addRow(QString(), subfolders_);
  layout->addLayout(form);

  auto *buttons = new QHBoxLayout;
  find_ = new QPushButton(tr("F&ind Now"), this);
  stop_ = new QPushButton(tr("S&top"), this);
  open_ = new QPushButton(tr("&Open"), this);
  reveal_ = new QPushButton(tr("Open Containing &Folder"), this);
  stop_->setEnabled(false);
  find_->setDefault(true);
  for (QPushButton *b : {find_, stop_, open_, reveal_}) buttons->addWidget(b);
  buttons->addStretch();
  layout->addLayout(buttons);

  list_ = new QTreeWidget(this);
  list_->setHeaderLabels({tr("Name"), tr("In Folder"), tr("Size"), tr("Modified")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->header()->setSectionResizeMode(QHeaderView::Interactive);
  layout->addWidget(list_, 1);
  status_ = new QLabel(this);
  layout->addWidget(status_);

  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Look in"), lookIn_->text());
    if (!dir.isEmpty()) lookIn_->setText(dir);
  });
  connect(find_, &QPushButton::clicked, this, &TFindFilesDialog::findNow);
  connect(stop_, &QPushButton::clicked, this, &TFindFilesDialog::stopSearch);
  connect(open_, &QPushButton::clicked, this, [this] { openResult(currentRow()); });
  connect(reveal_, &QPushButton::clicked, this, [this] { revealResult(currentRow()); });
  open_->setEnabled(false);
  reveal_->setEnabled(false);
  connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
    open_->setEnabled(item != nullptr);
    reveal_->setEnabled(item != nullptr);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem *item) { openResult(list_->indexOfTopLevelItem(item)); });
}

TFindFilesDialog::~TFindFilesDialog() = default;

void TFindFilesDialog::setCriteria(const FindCriteria &c) {
  lookIn_->setText(c.folder);
  named_->setText(c.masks);
  containing_->setText(c.text);
  subfolders_->setChecked(c.subfolders);
}

FindCriteria TFindFilesDialog::criteria() const {
  return {lookIn_->text(), named_->text(), containing_->text(), subfolders_->isChecked()};
}

void TFindFilesDialog::findNow() {
  const FindCriteria c = criteria();
  struct stat st;
  if (::stat(platform::toNative(c.folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    status_->setText(tr("The folder \"%1\" does not exist.").arg(c.folder));
    return;
  }
  delete search_;  // stops a running search and waits for it
  list_->clear();
  search_ = new TFileSearch(this);
  connect(search_, &TFileSearch::found, this, &TFindFilesDialog::addResults);
  connect(search_, &TFileSearch::searching, this,
          [this](const QString &folder) { status_->setText(tr("Searching %1").arg(folder)); });
  connect(search_, &TFileSearch::finished, this, [this](int count, bool stopped) {
    status_->setText(stopped ? tr("Stopped: %1 file(s) found").arg(count) : tr("%1 file(s) found").arg(count));
    find_->setEnabled(true);
    stop_->setEnabled(false);
  });
  find_->setEnabled(false);
  stop_->setEnabled(true);
  search_->start(c);
}

void TFindFilesDialog::stopSearch() {
  if (search_) search_->stop();
}

bool TFindFilesDialog::isSearching() const { return search_ && search_->isRunning(); }
QString TFindFilesDialog::statusText() const { return status_->text(); }

void TFindFilesDialog::addResults(const QStringList &paths) {
  const QLocale locale;
  QList<QTreeWidgetItem *> items;
  for (const QString &p : paths) {
    const platform::NativePath n = platform::toNative(p);
    struct stat st {};
    ::lstat(n.constData(), &st);
    auto *item = new QTreeWidgetItem(
        QStringList{platform::displayPath(platform::fileNameOf(n)), platform::displayPath(platform::folderOf(n)),
                    S_ISDIR(st.st_mode) ? QString() : locale.formattedDataSize(st.st_size),
                    locale.toString(QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec), QLocale::ShortFormat)});
    item->setData(0, Qt::UserRole, p);
    items << item;
  }
  list_->addTopLevelItems(items);
}

QStringList TFindFilesDialog::results() const {
  QStringList out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) out << list_->topLevelItem(i)->data(0, Qt::UserRole).toString();
  return out;
}

int TFindFilesDialog::currentRow() const {
  QTreeWidgetItem *item = list_->currentItem();
  return item ? list_->indexOfTopLevelItem(item) : -1;
}

void TFindFilesDialog::openResult(int row) {
  if (row < 0 || row >= list_->topLevelItemCount()) return;
  QString error;
  if (!platform::openItem(platform::toNative(list_->topLevelItem(row)->data(0, Qt::UserRole).toString()), &error))
    ask::warning(this, tr("Open"), error);
}

void TFindFilesDialog::revealResult(int row) {
  if (row < 0 || row >= list_->topLevelItemCount() || !onReveal) return;
  onReveal(list_->topLevelItem(row)->data(0, Qt::UserRole).toString());
}

}  // namespace browser
