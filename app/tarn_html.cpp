// The "Html" tab and what it needs from the main window.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QLabel>
#include "app/tarn.h"
#include "controls/tledit.h"
#include "viewers/htmlhost.h"
#include "viewers/htmltab.h"
#include "platform/ask.h"

class TarnHtmlHost final : public THtmlHost {
 public:
  explicit TarnHtmlHost(TTarn &w) : w(w) {}
  void setViewHtmlEnabled(bool on) override {
    if (QAction *a = w.item(QStringLiteral("ViewHtml"))) a->setEnabled(on);
  }
  void showStatusText(const QString &text) override {
    if (w.StatusBar1Panel) w.StatusBar1Panel->setText(text);
  }
  QString currentFolder() const override { return w.state.CurrentFolder; }
  void activateHtmlTab() override { w.Pc1->setCurrentWidget(w.HtmlCmd); }
  void showFile(const QString &path, const QString &ext) override {
    w.state.CurrentFile = path;
    w.state.CurrentExt = ext;
    w.GetTheFile();
  }
  void openExternally(const QString &url) override { QDesktopServices::openUrl(QUrl(url)); }
  void showMessage(const QString &text) override {
    // A lone carriage return is a line break to the user.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ask::information(&w, QApplication::applicationName(), shown);
  }
  bool askOkCancel(const QString &text) override {
    return ask::warning(&w, QApplication::applicationName(), text, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
  }
  bool askSaveChanges(const QString &question) override { return w.askSaveChanges(question); }
  bool askOverwriteChangedFile(const QString &path) override { return w.askOverwriteChangedFile(path); }
  QString askOpenFile(const QString &title, const QString &filter, const QString &folder) override {
    return QFileDialog::getOpenFileName(&w, title, folder, filter);
  }
  bool askPrint(QPrinter &printer, int maxPage) override { return w.askPrintRange(printer, maxPage); }

 private:
  TTarn &w;
};

bool TTarn::askPrintRange(QPrinter &printer, int maxPage) {
  QPrintDialog dialog(&printer, this);
  dialog.setMinMax(1, maxPage);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (dialog.printRange() != QAbstractPrintDialog::PageRange) printer.setFromTo(0, 0);
  return true;
}

void TTarn::buildHtmlTab() {
  htmlHost_ = std::make_unique<TarnHtmlHost>(*this);
  HtmlTab = new THtmlTab(*htmlHost_, HtmlCmd);
  HtmlTab->setObjectName(QStringLiteral("HtmlTab"));
  HtmlCmd->layout()->addWidget(HtmlTab);
}
