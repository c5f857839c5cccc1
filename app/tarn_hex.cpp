// The main window's side of the hex editor: the Tools menu command and the host its window reaches this
// window through.
#include "app/tarn.h"
#include "windows/hex/hexdialogs.h"
#include "windows/hex/hexform.h"

namespace {
class TarnHexHost final : public THexDialogHost {
 public:
  explicit TarnHexHost(TTarn &w) : w(w) {}
  QString currentFile() const override { return w.state.CurrentFile; }
  void clearCurrentFile() override { w.state.CurrentFile.clear(); }

 private:
  TTarn &w;
};
}  // namespace

void TTarn::HexEditor1Click() {
  if (!hexHost) hexHost = std::make_unique<TarnHexHost>(*this);
  THexForm::open(this, *hexHost, item(QStringLiteral("HexEditor1")));
}
