// The "Markdown" tab: where a clicked Markdown file goes. Like the Pdf tab it joins the viewer tabs with the
// first such file, so a session without one keeps the tabs it always had.
#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/tarn.h"
#include "viewers/dispatch.h"
#include "viewers/markdownhost.h"
#include "viewers/markdowntab.h"

namespace {

class TarnMarkdownHost final : public TMarkdownHost {
 public:
  explicit TarnMarkdownHost(TTarn &w) : w(w) {}
  void showMarkdownSource(const QString &path) override {
    w.Pc1->setCurrentWidget(w.EditorCmd);
    if (QAction *a = w.item(QStringLiteral("ViewHtml"))) a->setEnabled(false);
    w.LoadEditorFile(path);
  }
  void openMarkdownLink(const QUrl &url) override {
    if (url.isLocalFile()) {
      // Another local file is shown by its own viewer, as a click on it in the list would; nothing runs.
      const QString path = url.toLocalFile();
      if (!QFileInfo(path).isFile()) return;
      w.state.CurrentFile = path;
      w.state.CurrentName = QFileInfo(path).fileName();
      w.state.CurrentFolder = QFileInfo(path).absolutePath();
      w.state.CurrentExt = viewers::extensionOf(w.state.CurrentName);
      w.GetTheFile();
      return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
      QDesktopServices::openUrl(url);
  }

 private:
  TTarn &w;
};

}  // namespace

void TTarn::ShowMarkdown() {
  if (!MarkdownTab) {
    markdownHost_ = std::make_unique<TarnMarkdownHost>(*this);
    MarkdownCmd = new QWidget(Pc1);
    MarkdownCmd->setObjectName(QStringLiteral("MarkdownCmd"));
    auto *lay = new QVBoxLayout(MarkdownCmd);
    lay->setContentsMargins(0, 0, 0, 0);
    MarkdownTab = new TMarkdownTab(*markdownHost_, MarkdownCmd);
    MarkdownTab->setObjectName(QStringLiteral("MarkdownTab"));
    lay->addWidget(MarkdownTab);
    Pc1->addTab(MarkdownCmd, QStringLiteral("Markdown"));
  }
  Pc1->setCurrentWidget(MarkdownCmd);
  if (QAction *a = item(QStringLiteral("ViewHtml"))) a->setEnabled(false);
  MarkdownTab->ShowMarkdown(state.CurrentFile);
}
