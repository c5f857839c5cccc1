// The "Images" tab and the image windows: where a clicked picture goes, and the hosts they reach this
// window through.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/layouts.h"
#include "app/tarn.h"
#include "windows/image/imghost.h"
#include "controls/imagefiledialog.h"
#include "controls/shelllist.h"
#include "windows/image/imgform.h"
#include "viewers/imagestab.h"
#include "platform/ask.h"

namespace {

class TarnImagesHost final : public TImagesHost {
 public:
  explicit TarnImagesHost(TTarn &w) : w(w) {}
  void openImageWindow(const QString &path) override { w.openImageWindowOn(path); }
  void showStatusText(const QString &text) override {
    if (w.StatusBar1Panel) w.StatusBar1Panel->setText(text);
  }
  void clearStatusText(const QString &text) override {
    if (w.StatusBar1Panel && w.StatusBar1Panel->text() == text) w.StatusBar1Panel->clear();
  }
  bool askPrint(QPrinter &printer, int maxPage) override { return w.askPrintRange(printer, maxPage); }

 private:
  TTarn &w;
};

class TarnImgHost final : public TImgHost {
 public:
  explicit TarnImgHost(TTarn &w) : w(w) {}
  QString currentFile() const override { return w.state.CurrentFile; }
  QString currentFolder() const override { return w.state.CurrentFolder; }
  QString openImageFile(QWidget *owner, const QString &title, const QString &folder, const QString &filter) override {
    return imagedlg::openImage(owner, title, folder, filter);
  }
  QString saveImageFile(QWidget *owner, const QString &title, const QString &startName,
                        const QString &filter) override {
    return QFileDialog::getSaveFileName(owner, title, startName, filter, nullptr, QFileDialog::DontUseNativeDialog);
  }
  void showError(QWidget *owner, const QString &text) override {
    ask::error(owner, QApplication::applicationName(), text);
  }

 private:
  TTarn &w;
};

}  // namespace

void TTarn::buildImagesTab() {
  imagesHost_ = std::make_unique<TarnImagesHost>(*this);
  imgHost_ = std::make_unique<TarnImgHost>(*this);
  ImagesTab = new TImagesTab(*imagesHost_, ImageCmd);
  ImagesTab->setObjectName(QStringLiteral("ImagesTab"));
  ImageCmd->layout()->addWidget(ImagesTab);
}

imageio::Info TTarn::CheckIfAnimated() {
  imageInfo_ = imageio::info(state.CurrentFile);
  if (!imageInfo_.ok) QApplication::processEvents();  // as the image window does: let pending work run, go on
  return imageInfo_;
}

TImgForm *TTarn::newImageWindow(bool thumbnails) {
  auto *form = new TImgForm(*imgHost_, imageInfo_, thumbnails, this);
  form->show();
  return form;
}

void TTarn::ShowImages() {
  const imageio::Info info = CheckIfAnimated();
  // Animations go to the page view; the pages of a TIFF and the sizes of an icon, which it cannot show, stay
  // with the picture control.
  if (info.animated) {
    Pc1->setCurrentWidget(ImageCmd);
    if (QAction *a = item(QStringLiteral("ViewHtml"))) a->setEnabled(false);
    ImagesTab->showAnimated(state.CurrentFile);
    return;
  }
  if (checked(QStringLiteral("ImageWindow"))) {
    newImageWindow(false);
    activeList()->setFocus();
    return;
  }
  Pc1->setCurrentWidget(ImageCmd);
  ImagesTab->showStill(state.CurrentFile);
}

void TTarn::openImageWindowOn(const QString &path) {
  if (layouts_->fullScreen()) layouts_->FullScreen1Click();
  state.CurrentFile = path;
  imageInfo_ = imageio::info(path);
  newImageWindow(false);
  activeList()->setFocus();
}

void TTarn::Thumbnails1Click() { newImageWindow(true); }
