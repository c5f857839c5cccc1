// The main window's side of the database viewer: the viewer dispatch's GetDBase and the host its windows
// reach this window through.
#include "app/tarn.h"
#include "windows/dbview/dbfhost.h"
#include "windows/dbview/tarndbf.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include "platform/ask.h"

namespace {
class TarnDbfHost final : public TDbfHost {
 public:
  explicit TarnDbfHost(TTarn &w) : w(w) {}
  QString currentFile() const override { return w.state.CurrentFile; }
  QString currentFolder() const override { return w.state.CurrentFolder; }
  QMessageBox::StandardButton ask(QWidget *owner, const QString &text, QMessageBox::StandardButtons buttons) override {
    const auto b = ask::question(owner, QCoreApplication::applicationName(), text, buttons);
    return b == QMessageBox::NoButton ? QMessageBox::Cancel : b;
  }
  void showMessage(QWidget *owner, const QString &text) override {
    ask::information(owner, QCoreApplication::applicationName(), text);
  }
  QString saveFileName(QWidget *owner, const QString &folder, const QString &name, const QStringList &filters,
                       int selected) override {
    QString chosenFilter = filters.value(selected);
    return QFileDialog::getSaveFileName(owner, QStringLiteral("Save As"), QDir(folder).filePath(name),
                                        filters.join(QStringLiteral(";;")), &chosenFilter);
  }
  PrintChoice printDialog(QWidget *owner, QPrinter &printer, int &fromPage, int &toPage) override {
    QPrintDialog dlg(&printer, owner);
    dlg.setMinMax(1, 1000);
    dlg.setFromTo(1, 1000);
    dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
    dlg.setOption(QAbstractPrintDialog::PrintPageRange, true);
    if (dlg.exec() != QDialog::Accepted) return PrintChoice::Cancel;
    if (dlg.printRange() == QAbstractPrintDialog::PageRange) {
      fromPage = dlg.fromPage();
      toPage = dlg.toPage();
    }
    // The dialog's own print-to-file writes a PDF: that is printing here. The text file has its own
    // menu command.
    return PrintChoice::Print;
  }

 private:
  TTarn &w;
};
}  // namespace

void TTarn::GetDBase() {
  if (!dbfHost) dbfHost = std::make_unique<TarnDbfHost>(*this);
  (new TTarnDbf(*dbfHost, this))->show();
}

bool TTarn::closeDbfWindows() {
  for (TTarnDbf *d : findChildren<TTarnDbf *>(Qt::FindDirectChildrenOnly))
    if (d->isVisible() && !d->close()) return false;
  return true;
}

void TTarn::deleteDbfWindows() {
  for (TTarnDbf *d : findChildren<TTarnDbf *>(Qt::FindDirectChildrenOnly)) delete d;
}
