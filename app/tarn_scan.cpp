// The main window's side of the scanner window: Tools "Sca&n Image", the device kept between runs, and
// the saved scan shown in the image viewer.
#include "app/tarn.h"
#include "windows/scan/scandialogs.h"
#include "windows/scan/tarnscan.h"

namespace {
class TarnScanHost final : public TScanDialogHost {
 public:
  explicit TarnScanHost(TTarn &w) : w(w) {}
  QString defaultDevice() const override { return w.Reg.ReadString(QStringLiteral("Settings"), QStringLiteral("ScanDevice"), QString()); }
  void setDefaultDevice(const QString &name) override {
    w.Reg.WriteString(QStringLiteral("Settings"), QStringLiteral("ScanDevice"), name);
  }
  void setCurrentFile(const QString &path) override { w.state.CurrentFile = path; }

 private:
  TTarn &w;
};
}  // namespace

void TTarn::ScanImage1Click() {
  if (!scanHost_) scanHost_ = std::make_unique<TarnScanHost>(*this);
  {
    TTarnScan scanner(*scanHost_, this);
    scanner.exec();
  }
  if (!state.CurrentFile.isEmpty()) ShowImages();
}
