// The main window's side of the calculator: the Tools "Calcula&tor" item and the tool bar's Calculator
// button (both disabled while it is open), and the host its print dialog and messages go through.
#include "app/tarn.h"
#include "windows/calc/calchost.h"
#include "windows/calc/calculator.h"

#include <QMessageBox>
#include <QPrintDialog>
#include <QToolButton>
#include "platform/ask.h"

namespace {
class TarnCalcHost final : public TCalcHost {
 public:
  bool choosePrinter(QWidget *owner, QPrinter &printer) override {
    QPrintDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
  }
  void showError(QWidget *owner, const QString &text) override { ask::error(owner, QStringLiteral("Tarnwick"), text); }
};
}  // namespace

void TTarn::CalculatorClick() {
  if (!calcHost) calcHost = std::make_unique<TarnCalcHost>();
  TTheCalculator::open(this, *calcHost, item(QStringLiteral("Calculator1")), Calculator);
}
