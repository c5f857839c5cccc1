// The "MultiMedia" tab: where a clicked sound or video file goes, "Close M&ultiMedia", and the host the tab
// reaches this window through.
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>

#include "app/tarn.h"
#include "platform/ask.h"
#include "viewers/imagestab.h"
#include "viewers/mediatab.h"
#include "controls/htmlview.h"

namespace {

class TarnMediaHost final : public TMediaHost {
 public:
  explicit TarnMediaHost(TTarn &w) : w(w) {}
  void showMediaTab() override {
    if (w.Pc1->currentWidget() != w.MediaCmd) before_ = w.Pc1->currentWidget();
    w.Pc1->setTabVisible(w.Pc1->indexOf(w.MediaCmd), true);
    w.Pc1->setCurrentWidget(w.MediaCmd);
  }
  // The tab the user came from comes back, not whichever neighbour the tab bar would pick.
  void hideMediaTab() override {
    const int back = before_ ? w.Pc1->indexOf(before_) : -1;
    if (w.Pc1->currentWidget() == w.MediaCmd && back >= 0 && w.Pc1->isTabVisible(back)) w.Pc1->setCurrentIndex(back);
    w.Pc1->setTabVisible(w.Pc1->indexOf(w.MediaCmd), false);
  }
  void setCloseMultimediaVisible(bool on) override {
    if (QAction *a = w.item(QStringLiteral("CloseMultimedia1"))) a->setVisible(on);
  }
  void hideAnimatedImage() override {
    if (w.ImagesTab && w.ImagesTab->Image1) w.ImagesTab->Image1->hide();
  }
  void showFileError(const QString &text) override {
    ask::information(&w, QStringLiteral("Tarnwick File Error"), text);
  }

 private:
  TTarn &w;
  QPointer<QWidget> before_;
};

}  // namespace

void TTarn::buildMediaTab() {
  mediaHost_ = std::make_unique<TarnMediaHost>(*this);
  MediaTab = new TMediaTab(*mediaHost_, MediaCmd);
  MediaTab->setObjectName(QStringLiteral("MediaTab"));
  MediaCmd->layout()->addWidget(MediaTab);
  if (QAction *a = item(QStringLiteral("CloseMultimedia1"))) {
    connect(a, &QAction::triggered, this, [this] { CloseMMediaClick(); });
  }
}

void TTarn::ShowMultiMedia() { MediaTab->ShowMultiMedia(state.CurrentFile); }

void TTarn::CloseMMediaClick() { MediaTab->CloseMMediaClick(TMediaTab::CloseSender::Menu); }
