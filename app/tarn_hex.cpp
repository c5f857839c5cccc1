// The main window's side of the hex editor: the Tools menu command and the host its window reaches this
// window through.
#include "app/tarn.h"
#include "hexedit/hexdialogs.h"
#include "hexedit/hexform.h"

namespace {
class TarnHexHost final : public THexHost {
 public:
  explicit TarnHexHost(TTarn &w) : w(w) {}
  QString currentFile() const override { return w.state.CurrentFile; }
  void clearCurrentFile() override { w.state.CurrentFile.clear(); }
  QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) override {
    return hexdlg::ask(owner, text, buttons);
  }
  void showError(QWidget *owner, const QString &text) override { hexdlg::showError(owner, text); }
  void showMessage(QWidget *owner, const QString &text) override { hexdlg::showMessage(owner, text); }
  bool inputText(QWidget *owner, const QString &caption, const QString &prompt, QString &value) override {
    return hexdlg::inputText(owner, caption, prompt, value);
  }
  QString openFileName(QWidget *owner, bool &readOnly) override { return hexdlg::openFileName(owner, readOnly); }
  QString saveFileName(QWidget *owner) override { return hexdlg::saveFileName(owner); }

 private:
  TTarn &w;
};
}  // namespace

void TTarn::HexEditor1Click() {
  if (!hexHost) hexHost = std::make_unique<TarnHexHost>(*this);
  THexForm::open(this, *hexHost, item(QStringLiteral("HexEditor1")));
}
