// The "Office97" tab: where a clicked Word, Excel or Lotus document goes, and the host the tab reaches this
// window through. Our converter libraries are recorded in the store when the tab is built (first start).
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include "app/tarn.h"
#include "platform/paths.h"
#include "platform/regstore.h"
#include "viewers/officetab.h"
#include "platform/ask.h"

namespace {

class TarnOfficeHost final : public TOfficeHost {
 public:
  explicit TarnOfficeHost(TTarn &w) : w(w) {}
  platform::RegStore &converterStore() override { return *w.converterStore_; }
  QString currentFolder() const override { return w.state.CurrentFolder; }
  QString askOpenDocument(const QString &folder, const QString &filter, int *filterIndex) override {
    // "description|patterns|..." becomes Qt's "description (patterns);;...".
    const QStringList parts = filter.split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
      QString patterns = parts[i + 1];
      patterns.replace(';', ' ');
      entries << parts[i] + QStringLiteral(" (") + patterns + ')';
    }
    QString chosen;
    const QString file =
        QFileDialog::getOpenFileName(&w, QStringLiteral("Open"), folder, entries.join(QStringLiteral(";;")), &chosen,
                                     QFileDialog::DontUseNativeDialog);
    *filterIndex = static_cast<int>(entries.indexOf(chosen)) + 1;
    return file;
  }
  void showConverterMessage(const QString &text) override {
    ask::information(&w, QApplication::applicationName(), text);
  }

 private:
  TTarn &w;
};

}  // namespace

void TTarn::buildOfficeTab() {
  converterStore_ = std::make_unique<platform::RegStore>(Reg.store().file());
  officeHost_ = std::make_unique<TarnOfficeHost>(*this);
  OfficeTab = new TOfficeTab(*officeHost_, ExcelCmd);
  OfficeTab->setObjectName(QStringLiteral("OfficeTab"));
  ExcelCmd->layout()->addWidget(OfficeTab);
  OfficeTab->registerConverters(platform::libraryFolder());
  converterStore_->flush();
  // The stored Word97/Word95 choice is these two items of the tab's pop-up menu.
  Word971 = OfficeTab->Word971;
  Word951 = OfficeTab->Word951;
}

void TTarn::GetExcel() {
  Pc1->setCurrentWidget(ExcelCmd);
  OfficeTab->showDocument(state.CurrentFile, state.CurrentExt);
  state.CurrentExt.clear();
}

bool TTarn::officeLetsClose() {
  // The conversion lets events through from inside the click that started it, so a close can arrive
  // while the converter library and this window's click handler are still on the stack below it.
  if (OfficeTab->isConverting()) {
    if (!closeAfterConversion_) {
      closeAfterConversion_ = true;
      connect(
          OfficeTab, &TOfficeTab::conversionEnded, this,
          [this] {
            QTimer::singleShot(0, this, [this] {
              closeAfterConversion_ = false;
              close();
            });
          },
          Qt::SingleShotConnection);
    }
    OfficeTab->abortConversion();
    return false;
  }
  OfficeTab->abortConversion();  // a document clicked meanwhile is not started any more
  return true;
}
