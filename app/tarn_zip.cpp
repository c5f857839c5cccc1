// The Zip tab: the zip manager page, its messages window and what they need from the main window.
#include <QAction>
#include <QTabWidget>
#include <QToolBar>
#include <QSplitter>
#include "app/tarn.h"
#include "browser/panerules.h"
#include "controls/dirlabel.h"
#include "controls/shelllist.h"
#include "controls/shelltree.h"
#include "zip/msgform.h"
#include "zip/ziptab.h"

void TTarn::buildZipTab() {
  Msgform = new TMsgform(this);
  ZipTab = new TZipTab(Msgform, ZipManCmd);
  ZipManCmd->layout()->addWidget(ZipTab);
  StringGrid1 = ZipTab->StringGrid1;
  ZipMaster1 = ZipTab->ZipMaster1;
  ZipTab->adoptDirLabel(DirLabel1);
  ZipTab->bindColumnWidths(zipColumnWidths);
  ZipTab->currentFolder = [this] { return state.CurrentFolder; };
  ZipTab->setZipAddMode = [this](bool on) { state.ZipAddMode = on; };
  ZipTab->setCurrentName = [this](const QString &name) { state.CurrentName = name; };
  ZipTab->setTitle = [this](const QString &text) { setTitle(text); };
  ZipTab->setListHint = [this](const QString &hint) {
    listHint_ = hint;
    PTShellList1->setStatusTip(hint);
  };
  ZipTab->showBrowserPanes = [this] {
    if (QAction *full = item(QStringLiteral("FullScreen1"))) full->setChecked(false);
    PTSplitter1->show();
    PTGroup1->show();
  };
  ZipTab->activateZipTab = [this] { Pc1->setCurrentWidget(ZipManCmd); };
  ZipTab->setTabCaption = [this](const QString &caption) { Pc1->setTabText(Pc1->indexOf(ZipManCmd), caption); };
  ZipTab->setViewHtmlEnabled = [this](bool on) {
    if (QAction *a = item(QStringLiteral("ViewHtml"))) a->setEnabled(on);
  };
  ZipTab->listItemNames = [this] {
    QStringList names;
    for (int r = 0, n = PTShellList1->itemCount(); r < n; ++r) names << PTShellList1->ItemFileName(r);
    return names;
  };
  ZipTab->selectedListItemName = [this] {
    const int row = PTShellList1->Selected();
    return row < 0 ? QString() : PTShellList1->ItemFileName(row);
  };
  ZipTab->viewFile = [this](const QString &file, const QString &ext) {
    state.CurrentFile = file;
    state.CurrentExt = ext;
    GetTheFile();
  };
  // File > New > Zip File runs the same command as the grid's menu.
  if (QAction *a = item(QStringLiteral("ZipFile1"))) {
    disconnect(a, nullptr, this, nullptr);
    a->setStatusTip(QStringLiteral("Create a new zip file"));
    connect(a, &QAction::triggered, this, &TTarn::NewZipClick);
  }
}

void TTarn::NewZipClick() { ZipTab->NewZipClick(); }

void TTarn::ShowZip() { ZipTab->ShowZip(state.CurrentFile); }
