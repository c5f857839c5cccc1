// The Zip tab: the zip manager page, its messages window and what they need from the main window.
#include <QAction>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolBar>
#include <QSplitter>
#include "app/layouts.h"
#include "app/tarn.h"
#include "browser/panerules.h"
#include "controls/dirlabel.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "zip/msgform.h"
#include "zip/zipquestions.h"
#include "zip/ziptab.h"
#include "platform/ask.h"

// The main window as the Zip tab's host.
class TarnZipHost final : public TZipHost {
 public:
  explicit TarnZipHost(TTarn &w) : w(w) {}
  QString currentFolder() const override { return w.state.CurrentFolder; }
  void setZipAddMode(bool on) override { w.state.ZipAddMode = on; }
  void setCurrentName(const QString &name) override { w.state.CurrentName = name; }
  void setTitle(const QString &text) override { w.setTitle(text); }
  void setListHint(const QString &hint) override {
    w.listHint_ = hint;
    w.PTShellList1->setStatusTip(hint);
  }
  void showBrowserPanes() override {
    if (w.layouts().fullScreen()) w.layouts().FullScreen1Click();
    w.PTSplitter1->show();
    w.PTGroup1->show();
  }
  void activateZipTab() override { w.Pc1->setCurrentWidget(w.ZipManCmd); }
  void setTabCaption(const QString &caption) override { w.Pc1->setTabText(w.Pc1->indexOf(w.ZipManCmd), caption); }
  void setViewHtmlEnabled(bool on) override {
    if (QAction *a = w.item(QStringLiteral("ViewHtml"))) a->setEnabled(on);
  }
  QStringList listItemNames() const override {
    QStringList names;
    for (int r = 0, n = w.PTShellList1->itemCount(); r < n; ++r) names << w.PTShellList1->ItemFileName(r);
    return names;
  }
  QString selectedListItemName() const override {
    const int row = w.PTShellList1->Selected();
    return row < 0 ? QString() : w.PTShellList1->ItemFileName(row);
  }
  void viewFile(const QString &file, const QString &ext) override {
    w.state.CurrentFile = file;
    w.state.CurrentExt = ext;
    w.GetTheFile();
  }
  QString askFolder(const QString &title, const QString &start) override {
    return QFileDialog::getExistingDirectory(&w, title, start);
  }
  int askButtons(const QString &caption, const QString &text, int buttons, int icon, int defaultButton) override {
    return zipQuestion(&w, caption, text, buttons, icon, defaultButton);
  }
  bool askForDisk(const QString &text, int icon, QString *root) override {
    return zipDiskQuestion(&w, text, icon, root);
  }
  void showMessage(const QString &text) override { ask::information(&w, QStringLiteral("Tarnwick"), text); }
  bool confirm(const QString &text) override {
    return ask::question(&w, QStringLiteral("Tarnwick"), text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  QString askOpenFile(const QString &title, const QString &filter, const QString &folder) override {
    return QFileDialog::getOpenFileName(&w, title, folder, filter);
  }
  QString askSaveFile(const QString &title, const QString &filter, const QString &folder) override {
    return QFileDialog::getSaveFileName(&w, title, folder, filter, nullptr, QFileDialog::DontConfirmOverwrite);
  }
  QString inputBox(const QString &title, const QString &prompt, const QString &value) override {
    return QInputDialog::getText(&w, title, prompt, QLineEdit::Normal, value);
  }
  QString askPassword(const QString &title, const QString &prompt) override {
    return QInputDialog::getText(&w, title, prompt, QLineEdit::Password);
  }

 private:
  TTarn &w;
};

void TTarn::buildZipTab() {
  Msgform = new TMsgform(this);
  zipHost_ = std::make_unique<TarnZipHost>(*this);
  ZipTab = new TZipTab(*zipHost_, Msgform, ZipManCmd);
  ZipManCmd->layout()->addWidget(ZipTab);
  StringGrid1 = ZipTab->StringGrid1;
  ZipMaster1 = ZipTab->ZipMaster1;
  ZipTab->adoptDirLabel(DirLabel1);
  ZipTab->bindColumnWidths(zipColumnWidths);
  // File > New > Zip File runs the same command as the grid's menu.
  if (QAction *a = item(QStringLiteral("ZipFile1"))) {
    a->setStatusTip(QStringLiteral("Create a new zip file"));
    connect(a, &QAction::triggered, this, &TTarn::NewZipClick);
  }
}

void TTarn::NewZipClick() { ZipTab->NewZipClick(); }

void TTarn::ShowZip() { ZipTab->ShowZip(state.CurrentFile); }
