#include "viewers/htmltab.h"
#include "controls/htmlview.h"
#include "controls/tledit.h"
#include "platform/paths.h"
#include "viewers/dispatch.h"
#include "viewers/editortab.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

const QString THtmlTab::ViewHint =
    QStringLiteral("Use right hand mouse button for pop up menu / Alt+F2 to edit or create new file");
const QString THtmlTab::EditorHint = QStringLiteral("Use right hand mouse button for pop up menu / Alt+F2 - View html");
const QString THtmlTab::HistoryHint = QStringLiteral("Click for drop down list, right mouse key for pop up menu");
const QString THtmlTab::NothingToDisplay = QStringLiteral("There is nothing to display or\ryou have not saved the file");
const QString THtmlTab::TooLargeWarning = QStringLiteral("Selection exceeds buffer size and may be truncated");
const QString THtmlTab::ModifiedQuestion =
    QStringLiteral("The text has been modified in the Html Editor,  Save changes?");
const QString THtmlTab::HistoryFileName = QStringLiteral("Tarnwick.Web");

QString THtmlTab::historyFile()
{
    return platform::userFile(HistoryFileName);
}

QStringList THtmlTab::InitialPanelTexts()
{
    return {QStringLiteral("Html Filename:"), QStringLiteral("Line Count:"), QStringLiteral("Column:"),
            QStringLiteral("Line Number")};
}

QAction *THtmlTab::addMenuItem(QMenu *menu, const char *name, const QString &caption, bool enabled,
                               void (THtmlTab::*handler)(), const QString &key)
{
    QAction *a = menu->addAction(key.isEmpty() ? caption : caption + QLatin1Char('\t') + key);
    a->setObjectName(QLatin1String(name));
    a->setEnabled(enabled);
    if (handler)
        connect(a, &QAction::triggered, this, handler);
    return a;
}

THtmlTab::THtmlTab(THtmlHost &host, QWidget *parent) : QWidget(parent), m_host(host)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    HistoryPanel = new QWidget(this);
    HistoryPanel->setObjectName(QStringLiteral("HistoryPanel"));
    auto *panelLayout = new QHBoxLayout(HistoryPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    // The box always fills the panel, so it follows the panel's width when the splitter moves.
    HistoryBox = new QComboBox(HistoryPanel);
    HistoryBox->setObjectName(QStringLiteral("HistoryBox"));
    HistoryBox->setEditable(false);
    HistoryBox->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    HistoryBox->setToolTip(HistoryHint);
    HistoryBox->setStatusTip(HistoryHint);
    HistoryBox->setContextMenuPolicy(Qt::CustomContextMenu);
    panelLayout->addWidget(HistoryBox);
    HistoryPanel->hide();
    layout->addWidget(HistoryPanel);

    HtmlView = new THtmlView(this);
    HtmlView->setObjectName(QStringLiteral("HtmlView"));
    HtmlView->setToolTip(ViewHint);
    HtmlView->setStatusTip(ViewHint);
    HtmlView->setCursor(Qt::PointingHandCursor);
    HtmlView->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(HtmlView, 1);

    LEdit2 = new TLEdit(this);
    LEdit2->setObjectName(QStringLiteral("LEdit2"));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(10);  // 13 pixels at 96 dpi; the editor's styles take point sizes only
    LEdit2->SetFont(font);
    LEdit2->SetHtmlHighlighting(true);
    LEdit2->setPaper(Qt::white);
    LEdit2->SetDefaultExt(QStringLiteral("HTM"));
    LEdit2->SetFileMask(QStringLiteral("Htm(*.htm)|*.htm|Html(*.html)|*.html"));
    LEdit2->SetWordWrap(false);  // both scroll bars: long lines scroll sideways
    LEdit2->setToolTip(EditorHint);
    LEdit2->setStatusTip(EditorHint);
    LEdit2->hide();
    layout->addWidget(LEdit2, 1);

    SBar2 = new TEditorStatusBar({225, 110, 75, 100}, InitialPanelTexts(), this);
    SBar2->setObjectName(QStringLiteral("SBar2"));
    SBar2->hide();
    layout->addWidget(SBar2);

    // --- the view's pop-up ---
    HtmlMenu = new QMenu(this);
    HtmlMenu->setObjectName(QStringLiteral("HtmlMenu"));
    EditHtml = addMenuItem(HtmlMenu, "EditHtml", QStringLiteral("&Edit / New       Alt+F2"), true, &THtmlTab::EditHtmlClick);
    HtmlMenu->addSeparator();
    OpenHistory1 = addMenuItem(HtmlMenu, "OpenHistory1", QStringLiteral("&Open History"), false, &THtmlTab::HistoryMenuPopup);
    HtmlMenu->addSeparator();
    Copy2 = addMenuItem(HtmlMenu, "Copy2", QStringLiteral("&Copy"), false, &THtmlTab::Copy2Click, QStringLiteral("Ctrl+C"));
    Find1 = addMenuItem(HtmlMenu, "Find1", QStringLiteral("&Find"), false, &THtmlTab::Find1Click);
    SelectAll2 = addMenuItem(HtmlMenu, "SelectAll2", QStringLiteral("&Select All"), false, &THtmlTab::SelectAll2Click);
    HtmlMenu->addSeparator();
    Print1 = addMenuItem(HtmlMenu, "Print1", QStringLiteral("&Print"), false, &THtmlTab::Print1Click);
    ShowImages1 = addMenuItem(HtmlMenu, "ShowImages1", QStringLiteral("Show &Images"), false, &THtmlTab::ShowImages1Click);
    ShowImages1->setCheckable(true);
    ShowImages1->setChecked(true);
    AllowScripts1 = addMenuItem(HtmlMenu, "AllowScripts1", QStringLiteral("Allow Scrip&ts"), false,
                                &THtmlTab::AllowScripts1Click);
    AllowScripts1->setCheckable(true);
    AllowScripts1->setStatusTip(QStringLiteral("Runs the scripts of this page until another page is shown "
                                               "(a page's scripts can read your files: allow only pages you trust)"));
    HtmlMenu->addSeparator();
    Back1 = addMenuItem(HtmlMenu, "Back1", QStringLiteral("&Back"), true, &THtmlTab::Back1Click);
    Forward1 = addMenuItem(HtmlMenu, "Forward1", QStringLiteral("For&ward"), true, &THtmlTab::Forward1Click);
    HtmlMenu->addSeparator();
    FollowLink1 = addMenuItem(HtmlMenu, "FollowLink1", QStringLiteral("Follow Lin&k"), true, &THtmlTab::FollowLink1Click);
    FollowLink1->setStatusTip(QStringLiteral("Opens your default browser or mail client and follows the link"));
    HtmlMenu->addSeparator();
    MenuItem1 = addMenuItem(HtmlMenu, "MenuItem1", QStringLiteral("C&lear"), false, &THtmlTab::MenuItem1Click);
    connect(HtmlMenu, &QMenu::aboutToShow, this, &THtmlTab::HtmlMenuPopup);

    // --- the history box's pop-up ---
    HistoryMenu = new QMenu(this);
    HistoryMenu->setObjectName(QStringLiteral("HistoryMenu"));
    OpenHist = addMenuItem(HistoryMenu, "OpenHist", QStringLiteral("Open History"), false, &THtmlTab::OpenHistClick);
    SaveHistory = addMenuItem(HistoryMenu, "SaveHistory", QStringLiteral("Save History"), true, &THtmlTab::SaveHistoryClick);
    connect(HistoryMenu, &QMenu::aboutToShow, this, &THtmlTab::HistoryMenuPopup);

    // --- the editor's pop-up ---
    HtmlEditor = new QMenu(this);
    HtmlEditor->setObjectName(QStringLiteral("HtmlEditor"));
    ViewHtml1 = addMenuItem(HtmlEditor, "ViewHtml1", QStringLiteral("View &Html"), false, &THtmlTab::ViewHtmlClick,
                            QStringLiteral("Alt+F2"));
    QMenu *file = HtmlEditor->addMenu(QStringLiteral("&File"));
    New1 = addMenuItem(file, "New1", QStringLiteral("&New"), true, &THtmlTab::New1Click);
    Open4 = addMenuItem(file, "Open4", QStringLiteral("&Open ..."), true, &THtmlTab::Open4Click);
    Reset1 = addMenuItem(file, "Reset1", QStringLiteral("&Reset"), false, &THtmlTab::Reset1Click);
    Save1 = addMenuItem(file, "Save1", QStringLiteral("&Save"), false, nullptr);
    connect(Save1, &QAction::triggered, this, [this] { LEdit2->SaveText(); });
    SaveAs1 = addMenuItem(file, "SaveAs1", QStringLiteral("Save &As"), false, &THtmlTab::SaveAs1Click);
    Print3 = addMenuItem(file, "Print3", QStringLiteral("&Print ..."), false, nullptr);
    connect(Print3, &QAction::triggered, LEdit2, &TLEdit::PrintDialog);
    PrinterSetup1 = addMenuItem(file, "PrinterSetup1", QStringLiteral("Printer Se&tup ..."), true, nullptr);
    connect(PrinterSetup1, &QAction::triggered, LEdit2, &TLEdit::PrinterSetupDialog);
    QMenu *edit = HtmlEditor->addMenu(QStringLiteral("&Edit"));
    Undo1 = addMenuItem(edit, "Undo1", QStringLiteral("&Undo"), false, nullptr, QStringLiteral("Ctrl+Z"));
    connect(Undo1, &QAction::triggered, this, [this] {
        LEdit2->undo();
        updateUndoItems();
    });
    Redo1 = addMenuItem(edit, "Redo1", QStringLiteral("&Redo"), false, nullptr);
    connect(Redo1, &QAction::triggered, this, [this] {
        LEdit2->redo();
        updateUndoItems();
    });
    LEdit2Cut = addMenuItem(edit, "LEdit2Cut", QStringLiteral("Cu&t"), false, nullptr, QStringLiteral("Ctrl+X"));
    connect(LEdit2Cut, &QAction::triggered, LEdit2, &QsciScintilla::cut);
    Copy3 = addMenuItem(edit, "Copy3", QStringLiteral("&Copy"), false, nullptr, QStringLiteral("Ctrl+C"));
    connect(Copy3, &QAction::triggered, LEdit2, &QsciScintilla::copy);
    Paste2 = addMenuItem(edit, "Paste2", QStringLiteral("&Paste"), true, nullptr, QStringLiteral("Ctrl+V"));
    connect(Paste2, &QAction::triggered, LEdit2, &QsciScintilla::paste);
    Duplicate1 = addMenuItem(edit, "Duplicate1", QStringLiteral("&Duplicate"), false, nullptr);
    Clear3 = addMenuItem(edit, "Clear3", QStringLiteral("C&lear"), false, nullptr, QStringLiteral("Ctrl+Del"));
    connect(Clear3, &QAction::triggered, LEdit2, &QsciScintilla::removeSelectedText);
    SelectAll3 = addMenuItem(edit, "SelectAll3", QStringLiteral("Select &All"), true, nullptr, QStringLiteral("Ctrl+A"));
    connect(SelectAll3, &QAction::triggered, this, [this] { LEdit2->selectAll(); });
    QMenu *search = HtmlEditor->addMenu(QStringLiteral("&Search"));
    Find3 = addMenuItem(search, "Find3", QStringLiteral("&Find"), false, nullptr, QStringLiteral("Ctrl+F"));
    connect(Find3, &QAction::triggered, LEdit2, &TLEdit::FindDialog);
    FindNext1 = addMenuItem(search, "FindNext1", QStringLiteral("Find &Next"), false, nullptr, QStringLiteral("F3"));
    connect(FindNext1, &QAction::triggered, LEdit2, &TLEdit::FindNextClick);
    Replace1 = addMenuItem(search, "Replace1", QStringLiteral("&Replace ..."), false, nullptr, QStringLiteral("Ctrl+H"));
    connect(Replace1, &QAction::triggered, LEdit2, &TLEdit::ReplaceDialog);
    GoToLine1 = addMenuItem(search, "GoToLine1", QStringLiteral("Go To &Line"), false, nullptr, QStringLiteral("Ctrl+G"));
    connect(GoToLine1, &QAction::triggered, LEdit2, &TLEdit::GoToLineDialog);
    QMenu *tools = HtmlEditor->addMenu(QStringLiteral("&Tools"));
    ChangeFont1 = addMenuItem(tools, "ChangeFont1", QStringLiteral("Change &Font"), true, nullptr);
    connect(ChangeFont1, &QAction::triggered, LEdit2, &TLEdit::FontDialog);
    ClearUndoBuffer1 = addMenuItem(tools, "ClearUndoBuffer1", QStringLiteral("Clear &Undo Buffer"), true, nullptr);
    connect(ClearUndoBuffer1, &QAction::triggered, this, [this] {
        LEdit2->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
        updateUndoItems();
    });
    Clear4 = addMenuItem(tools, "Clear4", QStringLiteral("Clear &All (without undo)"), false, nullptr);
    connect(Clear4, &QAction::triggered, this, [this] {
        LEdit2->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL);
        LEdit2->SendScintilla(QsciScintillaBase::SCI_CLEARALL);
        LEdit2->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
        LEdit2->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 1UL);
        updateUndoItems();
    });
    WordWrap1 = addMenuItem(HtmlEditor, "WordWrap1", QStringLiteral("&Word Wrap"), true, nullptr);
    WordWrap1->setCheckable(true);
    WordWrap1->setChecked(LEdit2->WordWrap());
    connect(WordWrap1, &QAction::triggered, this, [this] {
        LEdit2->SetWordWrap(!LEdit2->WordWrap());
        WordWrap1->setChecked(LEdit2->WordWrap());
    });
    Clear5 = addMenuItem(HtmlEditor, "Clear5", QStringLiteral("&Clear"), false, &THtmlTab::Clear5Click);
    Clear5->setStatusTip(QStringLiteral("Unload the current file from the editor"));
    LEdit2->SetPopupMenu(HtmlEditor);

    connect(LEdit2, &TLEdit::OnChange, this, &THtmlTab::LEdit2Change);
    LEdit2->OnFileChangedOnDisk = [this](const QString &path) { return m_host.askOverwriteChangedFile(path); };
    connect(HtmlView, &THtmlView::OnHotSpotTargetCovered, this, &THtmlTab::HtmlViewHotSpotTargetCovered);
    connect(HtmlView, &THtmlView::OnHotSpotTargetClick, this, &THtmlTab::HtmlViewHotSpotTargetClick);
    connect(HtmlView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { HtmlMenu->popup(HtmlView->mapToGlobal(pos)); });
    connect(HistoryBox, &QComboBox::activated, this, &THtmlTab::HistoryBoxClick);
    connect(HistoryBox, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { HistoryMenu->popup(HistoryBox->mapToGlobal(pos)); });
}

THtmlTab::~THtmlTab()
{
    // A print in progress uses the printer until the view has gone.
    delete HtmlView;
    HtmlView = nullptr;
    delete m_printer;
}

void THtmlTab::hookEngine()
{
    // The engine comes with the first page; its right click then opens the view's pop-up menu.
    QWidget *engine = HtmlView->engineWidget();
    if (!engine || engine == m_hookedEngine)
        return;
    m_hookedEngine = engine;
    engine->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(engine, &QWidget::customContextMenuRequested, this,
            [this, engine](const QPoint &pos) { HtmlMenu->popup(engine->mapToGlobal(pos)); });
}

bool THtmlTab::editing() const
{
    return !LEdit2->isHidden();
}

QStringList THtmlTab::historyEntries() const
{
    return browser::entryTexts(m_history);
}

// ---------------------------------------------------------------------------------------------------
// Page and source

void THtmlTab::showView()
{
    LEdit2->hide();
    SBar2->hide();
    HtmlView->show();
}

void THtmlTab::showEditor()
{
    HtmlView->hide();
    LEdit2->show();
    SBar2->show();
    LEdit2->setFocus();
}

bool THtmlTab::mayDropSource()
{
    if (!LEdit2->IsModified())
        return true;
    if (!m_host.askSaveChanges(ModifiedQuestion))
        return true;
    return LEdit2->HasFileName() ? LEdit2->SaveText() : LEdit2->SaveTextAs();
}

void THtmlTab::ShowHtml(const QString &file)
{
    m_host.activateHtmlTab();
    // A changed source is asked about now, while the user still knows what it was; kept when the
    // wanted save did not happen, and then the editor stays in front.
    if (LEdit2->IsModified()) {
        if (!mayDropSource()) {
            showEditor();
            m_host.setViewHtmlEnabled(true);
            return;
        }
        if (LEdit2->IsModified()) {  // "No": the changes go now, not unseen later
            LEdit2->NewText();
            LEdit2->SetFileName(QString());
        }
    }
    showView();
    m_host.setViewHtmlEnabled(false);
    HtmlFile = file;
    HtmlView->ShowFile(HtmlFile);
    hookEngine();
    ActivateHtmlMenu();
}

void THtmlTab::GoToHtml()
{
    if (!editing()) {
        GoToEditHtml();
        return;
    }
    if (!LEdit2->HasFileName()) {
        m_host.showMessage(NothingToDisplay);
        return;
    }
    showView();
    m_host.setViewHtmlEnabled(false);
    HtmlFile = LEdit2->FileName();
    ActivateHtmlMenu();
    HtmlView->ShowFile(HtmlFile);  // as saved on disk
    hookEngine();
}

void THtmlTab::ViewHtmlClick()
{
    GoToHtml();
}

void THtmlTab::EditHtmlClick()
{
    GoToEditHtml();
}

void THtmlTab::GoToEditHtml()
{
    m_host.setViewHtmlEnabled(true);
    DeActivateHtmlMenu();
    showEditor();
    // The page's file is read again from disk; a changed source left in the editor is asked about first
    // and stays when the wanted save did not happen.
    if (!HtmlFile.isEmpty() && mayDropSource())
        LEdit2->LoadFile(HtmlFile);
}

void THtmlTab::ActivateHtmlMenu()
{
    for (QAction *a : {Copy2, Find1, SelectAll2, Print1, ShowImages1, AllowScripts1, MenuItem1})
        a->setEnabled(true);
    HistoryPanel->show();
    if (!HtmlFile.isEmpty() && !historyEntries().contains(HtmlFile)) {
        m_history << browser::entryFromText(HtmlFile);
        m_fillingHistory = true;
        HistoryBox->addItem(HtmlFile);
        m_fillingHistory = false;
    }
}

void THtmlTab::DeActivateHtmlMenu()
{
    for (QAction *a : {Copy2, Find1, SelectAll2, Print1, ShowImages1, AllowScripts1, MenuItem1})
        a->setEnabled(false);
    HistoryPanel->hide();
}

void THtmlTab::UpdateMenuItems(bool value)
{
    for (QAction *a : {Save1, SaveAs1, Reset1, LEdit2Cut, Copy3, Paste2, SelectAll3, Clear3, Clear4, Clear5, Find3,
                       Print3, FindNext1, Replace1, GoToLine1, ViewHtml1})
        a->setEnabled(value);
    updateUndoItems();
}

void THtmlTab::updateUndoItems()
{
    Undo1->setEnabled(LEdit2->isUndoAvailable());
    Redo1->setEnabled(LEdit2->isRedoAvailable());
}

void THtmlTab::LEdit2Change()
{
    // A new empty text has nothing to report and leaves the commands as they are.
    const bool named = LEdit2->HasFileName();
    if (!named && LEdit2->length() == 0)
        return;
    SBar2->setPanelText(0, QStringLiteral("Html Filename: ") + (named ? QFileInfo(LEdit2->FileName()).fileName() : QString()));
    SBar2->setPanelText(1, QStringLiteral("Line Count: ") + QString::number(LEdit2->LineCount()));
    LEdit2->UpdatePosition();
    SBar2->setPanelText(2, QStringLiteral("Column: ") + QString::number(LEdit2->EndPos()));
    SBar2->setPanelText(3, QStringLiteral("Line Number: ") + QString::number(LEdit2->EndLine()));
    UpdateMenuItems(true);
}

void THtmlTab::Open4Click()
{
    const QString path = m_host.askOpenFile(QStringLiteral("Tarnwick - Open an Html File for editing"),
                                            QStringLiteral("Html Files (*.htm *.html)"), m_host.currentFolder());
    if (path.isEmpty() || !mayDropSource())
        return;
    if (LEdit2->LoadFile(path))
        LEdit2->SetFileName(path);
    m_host.activateHtmlTab();
}

void THtmlTab::New1Click()
{
    if (!mayDropSource())
        return;
    LEdit2->NewText();
    LEdit2->SetFileName(QString());
    UpdateMenuItems(false);
}

void THtmlTab::Reset1Click()
{
    // Back to the file as it is on disk (a new text when there is none): the user asked to drop the edits.
    if (LEdit2->HasFileName())
        LEdit2->LoadFile(LEdit2->FileName());
    else
        LEdit2->NewText();
    updateUndoItems();
}

void THtmlTab::SaveAs1Click()
{
    if (!LEdit2->SaveTextAs())
        return;
    HtmlFile = LEdit2->FileName();
    LEdit2Change();
}

void THtmlTab::resetPanels()
{
    SBar2->setPanelText(0, QStringLiteral("Editor Filename:"));
    SBar2->setPanelText(1, QStringLiteral("Line Count:"));
    SBar2->setPanelText(2, QStringLiteral("Column: "));
    SBar2->setPanelText(3, QStringLiteral("Line Number:"));
}

void THtmlTab::Clear5Click()
{
    if (!mayDropSource())
        return;
    LEdit2->NewText();
    LEdit2->SetFileName(QString());
    HtmlFile.clear();
    resetPanels();
    UpdateMenuItems(false);
}

void THtmlTab::MenuItem1Click()
{
    if (!mayDropSource())
        return;
    HtmlView->ClearPage();
    HtmlFile.clear();
    LEdit2->NewText();
    LEdit2->SetFileName(QString());
    DeActivateHtmlMenu();
    UpdateMenuItems(false);
}

void THtmlTab::ClearViewer()
{
    // The source goes too unless the user wanted it saved and that did not happen.
    if (mayDropSource()) {
        LEdit2->NewText();
        LEdit2->SetFileName(QString());
    }
    HtmlView->ClearPage();
    HtmlFile.clear();
    for (QAction *a : {Copy2, Find1, SelectAll2, Print1, ShowImages1, AllowScripts1, MenuItem1})
        a->setEnabled(false);
}

bool THtmlTab::QueryClose()
{
    if (!LEdit2->IsModified())
        return true;
    if (!m_host.askSaveChanges(ModifiedQuestion))
        return true;
    return LEdit2->HasFileName() ? LEdit2->SaveText() : LEdit2->SaveTextAs();
}

// ---------------------------------------------------------------------------------------------------
// The page's commands

void THtmlTab::Copy2Click()
{
    if (HtmlView->SelLength() < CopyLimit || m_host.askOkCancel(TooLargeWarning))
        HtmlView->CopySelection();
}

void THtmlTab::SelectAll2Click()
{
    HtmlView->SelectEverything();
}

void THtmlTab::Print1Click()
{
    if (!m_printer) {
        m_printer = new QPrinter(QPrinter::HighResolution);
        m_printer->setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    }
    if (m_printing)  // one print at a time: the printer is busy until the view is done with it
        return;
    m_printer->setFromTo(0, 0);
    if (!m_host.askPrint(*m_printer, MaxPrintPage))
        return;
    int from = m_printer->fromPage(), to = m_printer->toPage();
    if (from <= 0 || to <= 0) {
        from = 1;
        to = MaxPrintPage;
    }
    QPointer<THtmlTab> self(this);
    m_printing = true;
    HtmlView->PrintPages(m_printer, from, to, [self](bool ok) {
        if (!self)
            return;
        self->m_printing = false;
        if (!ok)
            self->m_host.showMessage(QStringLiteral("Printing failed."));
    });
}

void THtmlTab::Find1Click()
{
    if (!m_findDialog) {
        m_findDialog = new QDialog(this);
        m_findDialog->setObjectName(QStringLiteral("FindDialog"));
        m_findDialog->setWindowTitle(QStringLiteral("Find"));
        auto *grid = new QGridLayout(m_findDialog);
        auto *label = new QLabel(QStringLiteral("Fi&nd what:"), m_findDialog);
        grid->addWidget(label, 0, 0);
        m_findEdit = new QLineEdit(m_findDialog);
        label->setBuddy(m_findEdit);  // without a buddy the label shows its "&" instead of Alt+N
        grid->addWidget(m_findEdit, 0, 1);
        auto *next = new QPushButton(QStringLiteral("&Find Next"), m_findDialog);
        next->setDefault(true);
        grid->addWidget(next, 0, 2);
        m_findCase = new QCheckBox(QStringLiteral("Match &case"), m_findDialog);
        grid->addWidget(m_findCase, 1, 0, 1, 2);
        auto *cancel = new QPushButton(QStringLiteral("Cancel"), m_findDialog);
        grid->addWidget(cancel, 1, 2);
        connect(next, &QPushButton::clicked, this, [this] { FindDialogFind(m_findEdit->text(), m_findCase->isChecked()); });
        connect(cancel, &QPushButton::clicked, m_findDialog, &QDialog::hide);
    }
    m_findDialog->show();
    m_findDialog->raise();
    m_findEdit->setFocus();
}

void THtmlTab::FindDialogFind(const QString &text, bool matchCase)
{
    if (text.isEmpty())
        return;
    QPointer<THtmlTab> self(this);
    const int serial = ++m_findSerial;
    HtmlView->FindText(text, matchCase, [self, text, serial](bool found) {
        // A search overtaken by the next Find Next was cut short by it: it did not find "nothing".
        if (!self || serial != self->m_findSerial)
            return;
        if (!found)
            self->m_host.showMessage(QStringLiteral("No further occurances of \"") + text + QLatin1Char('"'));
        emit self->findFinished(found);
    });
}

void THtmlTab::ShowImages1Click()
{
    HtmlView->setViewImages(!HtmlView->ViewImages());
    ShowImages1->setChecked(HtmlView->ViewImages());
}

void THtmlTab::AllowScripts1Click()
{
    HtmlView->AllowScripts(!HtmlView->ScriptsAllowed());
    AllowScripts1->setChecked(HtmlView->ScriptsAllowed());
}

void THtmlTab::Back1Click()
{
    HtmlView->GoBack();
}

void THtmlTab::Forward1Click()
{
    HtmlView->GoForward();
}

// ---------------------------------------------------------------------------------------------------
// Links

void THtmlTab::HtmlViewHotSpotTargetCovered(const QString &, const QString &url)
{
    if (url.isEmpty()) {
        m_host.showStatusText(ViewHint);
        return;
    }
    LastLink = url;
    m_host.showStatusText(url);
}

void THtmlTab::HtmlViewHotSpotTargetClick(const QString &, const QString &url, bool &handled)
{
    // Web and mail links leave the program only through Follow Link.
    const QString head = url.left(4);
    if (head.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        || head.compare(QLatin1String("mail"), Qt::CaseInsensitive) == 0)
        handled = true;
}

void THtmlTab::FollowLink1Click()
{
    // The engine reports links with their scheme normalised, so the test is made without regard to case,
    // as for clicks: a web link written in capitals opens too.
    if (LastLink.startsWith(QLatin1String("http"), Qt::CaseInsensitive) ||
        LastLink.startsWith(QLatin1String("mail"), Qt::CaseInsensitive))
        m_host.openExternally(LastLink);
}

// ---------------------------------------------------------------------------------------------------
// History

bool THtmlTab::readHistory(QList<browser::ListEntry> &entries)
{
    QString error;
    if (browser::readListFile(historyFile(), entries, &error))
        return true;
    m_host.showMessage(error);
    return false;
}

void THtmlTab::setHistory(const QList<browser::ListEntry> &entries)
{
    m_history = entries;
    m_fillingHistory = true;
    HistoryBox->clear();
    HistoryBox->addItems(browser::entryTexts(entries));
    HistoryBox->setCurrentIndex(-1);
    m_fillingHistory = false;
}

void THtmlTab::HtmlMenuPopup()
{
    // The page's scripts stop when another page shows, in the view or by a link.
    AllowScripts1->setChecked(HtmlView->ScriptsAllowed());
    const bool exists = QFileInfo::exists(historyFile());
    OpenHistory1->setEnabled(exists);
    if (!exists)
        return;
    HistoryPanel->show();
    QList<browser::ListEntry> entries;
    if (!readHistory(entries))
        return;
    // The file's entries, then the pages shown since that are not in it yet: opening a menu must not
    // throw away the pages of this run.
    QStringList texts = browser::entryTexts(entries);
    for (const browser::ListEntry &e : std::as_const(m_history)) {
        if (!texts.contains(e.text)) {
            entries << e;
            texts << e.text;
        }
    }
    setHistory(entries);
}

void THtmlTab::HistoryMenuPopup()
{
    OpenHist->setEnabled(QFileInfo::exists(historyFile()));
}

void THtmlTab::OpenHistClick()
{
    QList<browser::ListEntry> entries;
    if (readHistory(entries))
        setHistory(entries);
}

void THtmlTab::SaveHistoryClick()
{
    QString error;
    if (!browser::writeListFile(historyFile(), m_history, &error))
        m_host.showMessage(error);
}

void THtmlTab::HistoryBoxClick(int index)
{
    if (m_fillingHistory)
        return;
    const QString choice = HistoryBox->itemText(index);
    if (choice.isEmpty())
        return;
    if (!QFileInfo::exists(choice)) {
        m_host.showMessage(choice + QStringLiteral(" no longer exists"));
        return;
    }
    // Lower-cased as a click in the file list has it, so that "PAGE.HTM" is shown as a page again.
    m_host.showFile(choice, viewers::extensionOf(QFileInfo(choice).fileName()));
}
