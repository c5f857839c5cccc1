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

#include "browser/systemtools.h"

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

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'); }
bool isOperator(QChar c) { return QStringView(u";&|<>()").contains(c); }
}  // namespace

ShellLine readShellLine(const QString &line) {
  ShellLine out;
  QString word;
  bool inWord = false;
  const auto endWord = [&] {
    if (inWord) out.words << word;
    word.clear();
    inWord = false;
  };
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line.at(i);
    if (isBlank(c)) {
      endWord();
    } else if (isOperator(c)) {
      endWord();
      out.complete = false;
      return out;
    } else if (c == QLatin1Char('\'')) {
      inWord = true;
      const qsizetype end = line.indexOf(QLatin1Char('\''), i + 1);
      if (end < 0) {
        out.closed = false;
        word += line.mid(i + 1);
        break;
      }
      word += line.mid(i + 1, end - i - 1);
      i = end;
    } else if (c == QLatin1Char('"')) {
      inWord = true;
      qsizetype j = i + 1;
      for (; j < line.size() && line.at(j) != QLatin1Char('"'); ++j) {
        if (line.at(j) == QLatin1Char('\\') && j + 1 < line.size() && QStringView(u"\"\\$`\n").contains(line.at(j + 1))) {
          if (line.at(j + 1) != QLatin1Char('\n')) word += line.at(j + 1);
          ++j;
          continue;
        }
        if ((line.at(j) == QLatin1Char('$') || line.at(j) == QLatin1Char('`')) && out.words.isEmpty()) out.firstWordExpands = true;
        word += line.at(j);
      }
      if (j >= line.size()) {
        out.closed = false;
        break;
      }
      i = j;
    } else if (c == QLatin1Char('\\')) {
      inWord = true;
      if (i + 1 < line.size()) {
        if (line.at(i + 1) != QLatin1Char('\n')) word += line.at(i + 1);
        ++i;
      }
    } else {
      if ((c == QLatin1Char('$') || c == QLatin1Char('`')) && out.words.isEmpty()) out.firstWordExpands = true;
      inWord = true;
      word += c;
    }
  }
  endWord();
  return out;
}

bool run(const QString &typed, const QString &folder, QString *message, QString *folderWithoutFileManager) {
  const QString text = typed.trimmed();
  if (text.isEmpty()) {
    if (message) *message = QStringLiteral("Nothing to run: type the name of a program, folder or document.");
    return false;
  }
  const QString dir = QFileInfo(folder).isDir() ? folder : QDir::homePath();
  // The line is read as the shell that runs it reads it, so that the program checked is the one it runs.
  const ShellLine line = readShellLine(text);
  if (!line.closed) {
    if (message) *message = QStringLiteral("A quote in the command line is not closed. Check the line and try again.");
    return false;
  }
  // The whole line as one name (quotes taken off): a folder, a document or a program file.
  const bool oneWord = line.words.size() == 1 && line.complete && !line.firstWordExpands;
  const QString whole = expandHome(oneWord ? line.words.first() : text);
  const QFileInfo named(QDir(dir), whole);
  if (named.exists()) {
    if (named.isDir()) {
      QString manager;
      switch (systools::folderOpener(&manager)) {
        case systools::FolderOpener::Association:
          if (QDesktopServices::openUrl(QUrl::fromLocalFile(named.absoluteFilePath()))) return true;
          break;
        case systools::FolderOpener::Program:
          if (QProcess::startDetached(manager, {named.absoluteFilePath()}, dir)) return true;
          break;
        case systools::FolderOpener::None:
          if (message) *message = QStringLiteral("No file manager was found to open the folder %1.").arg(named.absoluteFilePath());
          if (folderWithoutFileManager) *folderWithoutFileManager = named.absoluteFilePath();
          return false;
      }
    } else if (named.isFile() && named.isExecutable()) {
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
  const QString program = expandHome(line.words.value(0));
  const bool known = line.firstWordExpands || line.words.isEmpty() || builtins.contains(program) ||
                     (program.contains(QLatin1Char('/')) ? QFileInfo(QDir(dir), program).isExecutable()
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
