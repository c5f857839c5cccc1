#include "viewers/markdowntab.h"

#include "formats/raster/imageio.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// A picture in a document is drawn no larger than this: enough for a screen, bounded for a hostile one.
const QSize kPictureRoom(2048, 2048);
}  // namespace

TMarkdownView::TMarkdownView(QWidget *parent) : QTextBrowser(parent) {
  setReadOnly(true);
  setOpenLinks(false);  // a click on a link does nothing; "Open Link" follows it
  setOpenExternalLinks(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

QVariant TMarkdownView::loadResource(int type, const QUrl &name) {
  const QUrl url = document()->baseUrl().resolved(name);
  QString path;
  if (type == QTextDocument::ImageResource && !folder_.isEmpty() && url.isLocalFile())
    path = QFileInfo(url.toLocalFile()).canonicalFilePath();  // links resolved: a link out is out
  const QString root = QDir(folder_).canonicalPath();
  // A refusal is an empty value, never an invalid one: for an invalid answer QTextDocument goes on to read
  // the file itself, outside the folder and past every check here.
  const QVariant refused = type == QTextDocument::ImageResource ? QVariant(QImage()) : QVariant(QByteArray());
  if (path.isEmpty() || root.isEmpty() || !(path.startsWith(root + '/') || (root == "/" && path.startsWith(root)))) {
    ++refused_;
    return refused;
  }
  // Through our guarded reader: Qt's own decoding of the bytes would go around its limits.
  imageio::ReadOptions options;
  options.room = kPictureRoom;
  QString error;
  const QImage image = imageio::read(path, &error, options);
  if (image.isNull()) {
    ++refused_;
    return refused;
  }
  return image;
}

QString TMarkdownView::linkAt(const QPoint &pos) const { return anchorAt(pos); }

TMarkdownTab::TMarkdownTab(TMarkdownHost &host, QWidget *parent) : QWidget(parent), host_(host) {
  auto *v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);
  auto *bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 2);
  EditSourceBut = new QToolButton(this);
  EditSourceBut->setObjectName(QStringLiteral("EditSourceBut"));
  EditSourceBut->setText(QStringLiteral("Edit &Source"));
  EditSourceBut->setToolTip(QStringLiteral("Edit the Markdown text in the Editor tab"));
  EditSourceBut->setEnabled(false);
  LinkLabel = new QLabel(this);
  LinkLabel->setObjectName(QStringLiteral("LinkLabel"));
  LinkLabel->setTextFormat(Qt::PlainText);
  bar->addWidget(EditSourceBut);
  bar->addWidget(LinkLabel, 1);
  v->addLayout(bar);

  auto *stack = new QStackedWidget(this);
  stack->setObjectName(QStringLiteral("MarkdownStack"));
  View = new TMarkdownView(stack);
  View->setObjectName(QStringLiteral("MarkdownView"));
  MessageLabel = new QLabel(stack);
  MessageLabel->setObjectName(QStringLiteral("MarkdownMessage"));
  MessageLabel->setAlignment(Qt::AlignCenter);
  MessageLabel->setWordWrap(true);
  MessageLabel->setTextFormat(Qt::PlainText);
  stack->addWidget(View);
  stack->addWidget(MessageLabel);
  v->addWidget(stack, 1);

  connect(EditSourceBut, &QToolButton::clicked, this, &TMarkdownTab::EditSourceClick);
  connect(View, &QTextBrowser::highlighted, this,
          [this](const QUrl &url) { LinkLabel->setText(url.isEmpty() ? QString() : url.toString()); });
  connect(View, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
    QMenu *menu = View->createStandardContextMenu(pos);
    const QString href = View->linkAt(pos);
    if (!href.isEmpty()) {
      menu->insertSeparator(menu->actions().value(0));
      QAction *open = new QAction(QStringLiteral("&Open Link"), menu);
      open->setObjectName(QStringLiteral("OpenLink"));
      connect(open, &QAction::triggered, this, [this, href] { openLink(href); });
      menu->insertAction(menu->actions().value(0), open);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(View->viewport()->mapToGlobal(pos));
  });
}

void TMarkdownTab::showMessage(const QString &text) {
  View->clear();
  MessageLabel->setText(text);
  static_cast<QStackedWidget *>(MessageLabel->parentWidget())->setCurrentWidget(MessageLabel);
}

QString TMarkdownTab::message() const {
  const auto *stack = static_cast<const QStackedWidget *>(MessageLabel->parentWidget());
  return stack->currentWidget() == MessageLabel ? MessageLabel->text() : QString();
}

bool TMarkdownTab::ShowMarkdown(const QString &file) {
  file_ = file;
  LinkLabel->clear();
  EditSourceBut->setEnabled(true);  // even a file too large to show can be edited
  const QFileInfo fi(file);
  if (fi.size() > MaxFileSize) {
    showMessage(QStringLiteral("%1 is too large to show rendered (%2 MB at most); \"Edit Source\" shows its text.")
                    .arg(fi.fileName())
                    .arg(MaxFileSize >> 20));
    return false;
  }
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) {
    showMessage(QStringLiteral("Cannot open %1: %2").arg(fi.fileName(), f.errorString()));
    return false;
  }
  const QByteArray bytes = f.read(MaxFileSize + 1);
  View->resetRefused();
  View->setImageFolder(fi.absolutePath());
  View->document()->setBaseUrl(QUrl::fromLocalFile(fi.absolutePath() + '/'));
  View->document()->setMarkdown(QString::fromUtf8(bytes));
  static_cast<QStackedWidget *>(MessageLabel->parentWidget())->setCurrentWidget(View);
  return true;
}

void TMarkdownTab::ClearViewer() {
  file_.clear();
  View->clear();
  View->setImageFolder(QString());
  LinkLabel->clear();
  MessageLabel->clear();
  EditSourceBut->setEnabled(false);
  static_cast<QStackedWidget *>(MessageLabel->parentWidget())->setCurrentWidget(View);
}

void TMarkdownTab::EditSourceClick() {
  if (!file_.isEmpty()) host_.showMarkdownSource(file_);
}

void TMarkdownTab::openLink(const QString &href) {
  if (href.isEmpty()) return;
  const QUrl url = View->document()->baseUrl().resolved(QUrl(href));
  // An anchor in the same document only moves the view.
  if (href.startsWith('#')) {
    View->scrollToAnchor(href.mid(1));
    return;
  }
  host_.openMarkdownLink(url);
}
