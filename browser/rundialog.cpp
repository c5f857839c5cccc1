#include "browser/rundialog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

const QString TRunDialog::kTitle = QStringLiteral("Tarnwick - Run Program");
const QString TRunDialog::kPrompt =
    QStringLiteral("Type the name of a program, folder or document, and Tarnwick will open it for you.");

TRunDialog::TRunDialog(const QStringList &history, bool showLast, QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Run1"));
  setWindowTitle(kTitle);
  auto *v = new QVBoxLayout(this);
  auto *prompt = new QLabel(kPrompt, this);
  prompt->setWordWrap(true);
  v->addWidget(prompt);
  box_ = new QComboBox(this);
  box_->setObjectName(QStringLiteral("CommandBox"));
  box_->setEditable(true);
  box_->setInsertPolicy(QComboBox::NoInsert);
  box_->addItems(history);
  box_->setCurrentText(showLast && !history.isEmpty() ? history.first() : QString());
  box_->setMinimumContentsLength(40);
  prompt->setBuddy(box_);
  v->addWidget(box_);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton *browse = buttons->addButton(QStringLiteral("&Browse..."), QDialogButtonBox::ActionRole);
  v->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString f = QFileDialog::getOpenFileName(this, QStringLiteral("Browse"), QDir::currentPath());
    // A name with blanks or shell characters is quoted, so that it runs as the one file it is.
    if (!f.isEmpty()) box_->setCurrentText(QLatin1Char('\'') + QString(f).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\''));
  });
}

QString TRunDialog::commandLine() const { return box_->currentText().trimmed(); }

namespace runcmd {

namespace {
QString expandHome(const QString &s) {
  if (s == QLatin1String("~")) return QDir::homePath();
  if (s.startsWith(QLatin1String("~/"))) return QDir::homePath() + s.mid(1);
  return s;
}
}  // namespace

bool run(const QString &typed, const QString &folder, QString *message) {
  const QString text = typed.trimmed();
  if (text.isEmpty()) {
    if (message) *message = QStringLiteral("Nothing to run: type the name of a program, folder or document.");
    return false;
  }
  const QString dir = QFileInfo(folder).isDir() ? folder : QDir::homePath();
  // The whole line as one name (quotes taken off): a folder, a document or a program file.
  const QStringList words = QProcess::splitCommand(text);
  const QString whole = expandHome(words.size() == 1 ? words.first() : text);
  const QFileInfo named(QDir(dir), whole);
  if (named.exists()) {
    if (named.isFile() && named.isExecutable()) {
      if (QProcess::startDetached(named.absoluteFilePath(), {}, dir)) return true;
    } else if (QDesktopServices::openUrl(QUrl::fromLocalFile(named.absoluteFilePath()))) {
      return true;
    }
    if (message) *message = QStringLiteral("Tarnwick cannot open %1.").arg(named.absoluteFilePath());
    return false;
  }
  if (QUrl url(text); url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1 && text.contains(QLatin1String(":/"))) {
    if (QDesktopServices::openUrl(url)) return true;
  }
  // A command line: its program must exist (or be one the shell knows itself) before the shell runs it.
  static const QStringList builtins = {"cd", "echo", "export", "exit", "set", "true", "false", "test", "[", ":", "."};
  const QString program = expandHome(words.value(0));
  const bool known = builtins.contains(program) || (program.contains(QLatin1Char('/')) ? QFileInfo(QDir(dir), program).isExecutable()
                                                                                        : !QStandardPaths::findExecutable(program).isEmpty());
  if (!known) {
    if (message) *message = QStringLiteral("\"%1\" was not found. Check the name and try again.").arg(program);
    return false;
  }
  if (!QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), text}, dir)) {
    if (message) *message = QStringLiteral("The command could not be started.");
    return false;
  }
  return true;
}

QStringList remember(QStringList history, const QString &text, int max) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return history;
  history.removeAll(t);
  history.prepend(t);
  while (history.size() > max) history.removeLast();
  return history;
}

}  // namespace runcmd
