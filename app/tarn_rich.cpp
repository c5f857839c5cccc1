// The main window's side of the rich text window: a clicked ".rtf", the "&Rtf File" items, and the host
// its windows reach this one through.
#include "app/tarn.h"
#include "windows/rich/richdialogs.h"
#include "windows/rich/richform.h"

namespace {
class TarnRichHost final : public TRichDialogHost {
 public:
  explicit TarnRichHost(TTarn &w) : w(w) {}
  QString currentFile() const override { return w.state.CurrentFile; }
  QString currentFolder() const override { return w.state.CurrentFolder; }

 private:
  TTarn &w;
};
}  // namespace

TRichForm *TTarn::openRichForm(bool handOver) {
  if (!richHost_) richHost_ = std::make_unique<TarnRichHost>(*this);
  auto *form = new TRichForm(*richHost_, handOver, this);
  form->show();
  form->raise();
  form->activateWindow();
  return form;
}

void TTarn::ShowRtf() { openRichForm(true); }
