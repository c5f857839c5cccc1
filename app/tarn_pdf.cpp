// The "Pdf" tab: where a clicked PDF goes. The tab joins the viewer tabs with the first PDF, so a session
// that never opens one keeps the six tabs it always had.
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/tarn.h"
#include "viewers/pdftab.h"

void TTarn::ShowPdf() {
  if (!PdfTab) {
    PdfCmd = new QWidget(Pc1);
    PdfCmd->setObjectName(QStringLiteral("PdfCmd"));
    auto *lay = new QVBoxLayout(PdfCmd);
    lay->setContentsMargins(0, 0, 0, 0);
    PdfTab = new TPdfTab(PdfCmd);
    PdfTab->setObjectName(QStringLiteral("PdfTab"));
    lay->addWidget(PdfTab);
    Pc1->addTab(PdfCmd, QStringLiteral("Pdf"));
  }
  Pc1->setCurrentWidget(PdfCmd);
  PdfTab->ShowPdf(state.CurrentFile);
}
