#include "viewers/editortab.h"
#include "controls/tledit.h"
#include "windows/hex/hexeditor.h"
#include "viewers/filesniff.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

const QString TEditorTab::ModifiedQuestion = QStringLiteral("The text has been modified in the Editor,  Save changes?");
const QString TEditorTab::FavouritesFileName = QStringLiteral("Tarnwick.Fav");

// ---------------------------------------------------------------------------------------------------

TEditorStatusBar::TEditorStatusBar(const QList<int> &widths, const QStringList &texts, QWidget *parent)
    : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (int i = 0; i < widths.size(); ++i) {
    auto *label = new QLabel(texts.value(i), this);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    // The given widths, widened where this desktop's font would cut the panel's text.
    const int width = qMax(widths[i], label->fontMetrics().horizontalAdvance(texts.value(i)) + 12);
    label->setMinimumWidth(width);
    label->setMaximumWidth(i + 1 == widths.size() ? QWIDGETSIZE_MAX : width);
    label->installEventFilter(this);
    addWidget(label, i + 1 == widths.size() ? 1 : 0);
    m_panels << label;
  }
}

QString TEditorStatusBar::panelText(int index) const {
  return index >= 0 && index < m_panels.size() ? m_panels[index]->text() : QString();
}

void TEditorStatusBar::setPanelText(int index, const QString &text) {
  if (index >= 0 && index < m_panels.size()) m_panels[index]->setText(text);
}

void TEditorStatusBar::widenPanelFor(int index, const QString &text) {
  if (index < 0 || index >= m_panels.size()) return;
  QLabel *label = m_panels[index];
  const int width = qMax(label->minimumWidth(), label->fontMetrics().horizontalAdvance(text) + 12);
  label->setMinimumWidth(width);
  if (index + 1 < m_panels.size()) label->setMaximumWidth(width);
}

void TEditorStatusBar::mouseDoubleClickEvent(QMouseEvent *e) {
  QStatusBar::mouseDoubleClickEvent(e);
  emit doubleClicked();
}

bool TEditorStatusBar::eventFilter(QObject *o, QEvent *e) {
  if (e->type() == QEvent::MouseButtonDblClick) {
    emit doubleClicked();
    return true;
  }
  return QStatusBar::eventFilter(o, e);
}

// ---------------------------------------------------------------------------------------------------

QStringList TEditorTab::InitialPanelTexts() {
  return {QStringLiteral("WR="), QStringLiteral("Filename:"), QStringLiteral("Line Count:"), QStringLiteral("Column:"),
          QStringLiteral("Line Number:")};
}

TEditorTab::TEditorTab(TEditorHost &host, QWidget *parent) : QWidget(parent), m_host(host) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  m_pages = new QStackedWidget(this);
  layout->addWidget(m_pages, 1);
  LEdit1 = new TLEdit(m_pages);
  LEdit1->setObjectName(QStringLiteral("LEdit1"));
  m_pages->addWidget(LEdit1);

  BinaryPage = new QWidget(m_pages);
  BinaryPage->setObjectName(QStringLiteral("BinaryPage"));
  auto *binaryLayout = new QVBoxLayout(BinaryPage);
  binaryLayout->setContentsMargins(0, 0, 0, 0);
  binaryLayout->setSpacing(0);
  auto *noteRow = new QHBoxLayout;
  noteRow->setContentsMargins(4, 2, 4, 2);
  BinaryNote = new QLabel(BinaryPage);
  BinaryNote->setObjectName(QStringLiteral("BinaryNote"));
  BinaryNote->setWordWrap(true);
  noteRow->addWidget(BinaryNote, 1);
  ShowAsTextBut = new QPushButton(tr("Show as Text"), BinaryPage);
  ShowAsTextBut->setObjectName(QStringLiteral("ShowAsTextBut"));
  noteRow->addWidget(ShowAsTextBut);
  binaryLayout->addLayout(noteRow);
  BinaryView = new THexEditor(BinaryPage);
  BinaryView->setObjectName(QStringLiteral("BinaryView"));
  BinaryView->setViewOnly(true);
  BinaryView->setFont(LEdit1->Font());
  binaryLayout->addWidget(BinaryView, 1);
  m_pages->addWidget(BinaryPage);

  SBar = new TEditorStatusBar({50, 195, 110, 75, 100}, InitialPanelTexts(), this);
  SBar->setObjectName(QStringLiteral("SBar"));
  SBar->widenPanelFor(0, QStringLiteral("WR=Off"));
  const QString sbarHint = QStringLiteral("Double click to clear file / contents");
  SBar->setToolTip(sbarHint);
  SBar->setStatusTip(sbarHint);
  layout->addWidget(SBar);

  // The tab-size panel floats over the editor until "Ok".
  TabPanel = new QFrame(this);
  TabPanel->setObjectName(QStringLiteral("TabPanel"));
  TabPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  TabPanel->setLineWidth(1);
  TabPanel->setAutoFillBackground(true);
  auto *label = new QLabel(QStringLiteral("Set Editor TAB Size"), TabPanel);
  EditTab = new QSpinBox(TabPanel);
  EditTab->setObjectName(QStringLiteral("EditTab"));
  EditTab->setRange(0, 20);
  EditTab->setValue(6);
  EditTab->setWrapping(false);
  EditTab->setGroupSeparatorShown(false);
  EditTab->findChild<QLineEdit *>()->setReadOnly(true);  // only the arrows change it
  TabBut = new QPushButton(QStringLiteral("Ok"), TabPanel);
  TabBut->setObjectName(QStringLiteral("TabBut"));
  auto *grid = new QGridLayout(TabPanel);
  grid->setContentsMargins(4, 3, 4, 4);
  grid->setSpacing(4);
  grid->addWidget(label, 0, 0, 1, 2);
  grid->addWidget(EditTab, 1, 0);
  grid->addWidget(TabBut, 1, 1);
  // 113 by 62 pixels, or more where this desktop's font needs it.
  TabPanel->setFixedSize(TabPanel->sizeHint().expandedTo(QSize(113, 62)));
  TabPanel->hide();

  connect(LEdit1, &TLEdit::OnChange, this, &TEditorTab::LEdit1Change);
  connect(LEdit1, &TLEdit::OnClick, this, &TEditorTab::LEdit1Click);
  // Word wrap from the editor's own pop-up menu: the panel and the menu's check mark follow.
  connect(LEdit1, &TLEdit::wordWrapToggled, this, [this](bool on) {
    SetWordWrap(on);
    m_host.showWordWrap(on);
  });
  LEdit1->OnFileChangedOnDisk = [this](const QString &path) { return m_host.askOverwriteChangedFile(path); };
  connect(SBar, &TEditorStatusBar::doubleClicked, this, &TEditorTab::SBarDblClick);
  connect(TabBut, &QPushButton::clicked, this, &TEditorTab::TabButClick);
  connect(ShowAsTextBut, &QPushButton::clicked, this, &TEditorTab::ShowAsTextClick);
  // The shown file was rewritten by another program: the view lets go of it, and shows it anew.
  connect(BinaryView->buffer(), &THexBuffer::sourceChanged, this, [this](const QString &name) {
    if (showsBinary() && name == m_binaryFile) showBinary(name);
  });

  SetTabSize(6);
  LEdit1->SetMacStyleSave(false);  // every start saves MsDos / Win line ends
  LEdit1->SetUnixStyleSave(false);
}

void TEditorTab::SetWordWrap(bool on) {
  LEdit1->SetWordWrap(on);
  SBar->setPanelText(0, on ? QStringLiteral("WR=On") : QStringLiteral("WR=Off"));
}

void TEditorTab::SetTabSize(int size) {
  LEdit1->SetTabStopSize(size);
  EditTab->setValue(size);
}

int TEditorTab::TabSize() const { return EditTab->value(); }

bool TEditorTab::LoadFile(const QString &path) {
  // The first block decides, as grep and diff decide; a file that cannot be read goes to the editor,
  // which says why.
  QFile file(path);
  if (!QFileInfo(path).isDir() && file.open(QIODevice::ReadOnly) &&
      viewers::looksBinary(file.read(viewers::kSniffBlockSize))) {
    file.close();
    showBinary(path);
    return true;
  }
  file.close();
  showText();
  if (!LEdit1->LoadFile(path)) return false;
  LEdit1->SetSyntaxFor(path);
  return true;
}

bool TEditorTab::showsBinary() const { return m_pages->currentWidget() == BinaryPage; }

void TEditorTab::showBinary(const QString &path) {
  // What the editor held goes, as when another text is loaded into it.
  LEdit1->NewText();
  LEdit1->SetFileName(QString());
  m_binaryFile = path;
  const QString name = QFileInfo(path).fileName();
  if (BinaryView->ViewFile(path)) {
    BinaryNote->setText(tr("%1 is a binary file (%2 bytes): its bytes are shown, read-only. "
                           "The Hex Editor (Tools menu) changes them; \"Show as Text\" opens it in the editor.")
                            .arg(name)
                            .arg(BinaryView->buffer()->DataSize()));
  } else {
    BinaryNote->setText(
        tr("%1 is a binary file, and it cannot be shown: %2").arg(name, BinaryView->buffer()->lastError()));
  }
  m_pages->setCurrentWidget(BinaryPage);
  resetPanels();
  SBar->setPanelText(1, QStringLiteral("Filename: ") + name);
}

void TEditorTab::showText() {
  if (!showsBinary()) return;
  m_pages->setCurrentWidget(LEdit1);
  m_binaryFile.clear();
  BinaryView->NewFile(QStringLiteral("Untitled"));  // lets go of the file
  BinaryNote->clear();
}

bool TEditorTab::ShowAsTextClick() {
  const QString path = m_binaryFile;
  if (path.isEmpty()) return false;
  showText();
  const bool loaded = LEdit1->LoadFile(path);
  if (loaded) LEdit1->SetSyntaxFor(path);
  LEdit1->setFocus();
  return loaded;
}

void TEditorTab::LEdit1Change() {
  // An empty editor without a file shows only the panels' labels (its name "<<untitled>>" is not shown).
  const bool named = LEdit1->HasFileName();
  if (!named && LEdit1->length() == 0) {
    const QStringList labels = InitialPanelTexts();
    for (int i = 1; i < labels.size(); ++i) SBar->setPanelText(i, labels[i]);
    return;
  }
  SBar->setPanelText(
      1, named ? QStringLiteral("Filename: ") + QFileInfo(LEdit1->FileName()).fileName() : QStringLiteral("Filename:"));
  SBar->setPanelText(2, QStringLiteral("Line Count: ") + QString::number(LEdit1->LineCount()));
  LEdit1->UpdatePosition();
  SBar->setPanelText(3, QStringLiteral("Column: ") + QString::number(LEdit1->EndPos()));
  SBar->setPanelText(4, QStringLiteral("Line Number: ") + QString::number(LEdit1->EndLine()));
}

void TEditorTab::LEdit1Click() {
  if (!LEdit1->FileName().isEmpty()) m_host.setEditorTitle(QStringLiteral("Editor Filename - ") + LEdit1->FileName());
}

bool TEditorTab::WordWrapClick(bool checkMark) {
  const bool on = !checkMark;
  SetWordWrap(on);
  m_host.showWordWrap(on);
  return on;
}

void TEditorTab::setLineEndStyle(LineEndStyle style) {
  m_style = style;
  LEdit1->SetMacStyleSave(style == LineEndStyle::Mac);
  LEdit1->SetUnixStyleSave(style == LineEndStyle::Unix);
  m_host.showLineEndStyle(style);
}

void TEditorTab::MsDosWin1Click() { setLineEndStyle(LineEndStyle::MsDosWin); }

void TEditorTab::Mac1Click() { setLineEndStyle(LineEndStyle::Mac); }

void TEditorTab::Unix1Click() { setLineEndStyle(LineEndStyle::Unix); }

void TEditorTab::SetTabValue1Click() {
  TabPanel->move(m_pages->geometry().topLeft() + QPoint(20, 20));
  TabPanel->raise();
  TabPanel->show();
  EditTab->setFocus();
}

void TEditorTab::TabButClick() {
  LEdit1->SetTabStopSize(EditTab->value());
  TabPanel->hide();
  LEdit1->setFocus();
}

bool TEditorTab::SaveFile1Click() {
  if (!LEdit1->Focused()) return false;
  return LEdit1->SaveText();
}

void TEditorTab::resetPanels() {
  SBar->setPanelText(1, QStringLiteral("Filename:"));
  SBar->setPanelText(2, QStringLiteral("Line Count:"));
  SBar->setPanelText(3, QStringLiteral("Column: "));
  SBar->setPanelText(4, QStringLiteral("Line Number:"));
}

void TEditorTab::ClearViewer() {
  showText();
  LEdit1->NewText();
  LEdit1->SetFileName(QString());
  resetPanels();
}

void TEditorTab::SBarDblClick() {
  const bool wasFavourites =
      QFileInfo(LEdit1->FileName()).fileName().compare(FavouritesFileName, Qt::CaseInsensitive) == 0;
  showText();
  LEdit1->NewText();
  LEdit1->SetFileName(QString());
  m_host.resetTitle();
  resetPanels();
  if (wasFavourites) m_host.reloadFavourites();
}

bool TEditorTab::QueryClose() {
  if (!LEdit1->IsModified()) return true;
  if (!m_host.askSaveChanges(ModifiedQuestion)) return true;
  return LEdit1->HasFileName() ? LEdit1->SaveText() : LEdit1->SaveTextAs();
}
