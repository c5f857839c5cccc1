#include "controls/tleditfind.h"
#include "controls/tledit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TLEditFindDialog::TLEditFindDialog(TLEdit *editor)
    : QDialog(editor), m_editor(editor)
{
    setWindowTitle(tr("Find"));
    auto *grid = new QGridLayout(this);
    auto *findLabel = new QLabel(tr("Find &what:"));
    grid->addWidget(findLabel, 0, 0);
    m_find = new QLineEdit;
    findLabel->setBuddy(m_find);
    grid->addWidget(m_find, 0, 1);
    m_replaceLabel = new QLabel(tr("Re&place with:"));
    grid->addWidget(m_replaceLabel, 1, 0);
    m_replace = new QLineEdit;
    m_replaceLabel->setBuddy(m_replace);
    grid->addWidget(m_replace, 1, 1);
    m_case = new QCheckBox(tr("Match &case"));
    m_word = new QCheckBox(tr("Whole words &only"));
    m_backward = new QCheckBox(tr("Search &backwards"));
    grid->addWidget(m_case, 2, 0, 1, 2);
    grid->addWidget(m_word, 3, 0, 1, 2);
    grid->addWidget(m_backward, 4, 0, 1, 2);
    m_status = new QLabel;
    grid->addWidget(m_status, 5, 0, 1, 2);

    auto *buttons = new QDialogButtonBox(Qt::Vertical);
    m_findBtn = buttons->addButton(tr("&Find Next"), QDialogButtonBox::ActionRole);
    m_replaceBtn = buttons->addButton(tr("&Replace"), QDialogButtonBox::ActionRole);
    m_replaceAllBtn = buttons->addButton(tr("Replace &All"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    grid->addWidget(buttons, 0, 2, 6, 1);
    m_findBtn->setDefault(true);

    connect(m_findBtn, &QPushButton::clicked, this, &TLEditFindDialog::findNext);
    connect(m_replaceBtn, &QPushButton::clicked, this, &TLEditFindDialog::replaceOne);
    connect(m_replaceAllBtn, &QPushButton::clicked, this, &TLEditFindDialog::replaceAll);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
}

void TLEditFindDialog::showFor(bool replace, const QString &initial)
{
    setWindowTitle(replace ? tr("Replace") : tr("Find"));
    m_replaceLabel->setVisible(replace);
    m_replace->setVisible(replace);
    m_replaceBtn->setVisible(replace);
    m_replaceAllBtn->setVisible(replace);
    m_status->clear();
    if (!initial.isEmpty())
        m_find->setText(initial);
    m_find->selectAll();
    show();
    raise();
    activateWindow();
    m_find->setFocus();
}

void TLEditFindDialog::findNext()
{
    if (m_find->text().isEmpty())
        return;
    const bool found = m_editor->FindText(m_find->text(), m_case->isChecked(), m_word->isChecked(),
                                          !m_backward->isChecked());
    m_status->setText(found ? QString() : tr("\"%1\" not found").arg(m_find->text()));
}

void TLEditFindDialog::replaceOne()
{
    if (m_find->text().isEmpty() || m_editor->isReadOnly())
        return;
    // Replace the current match (when the selection is one), then move on to the next.
    const QString sel = m_editor->selectedText();
    const bool matches = m_case->isChecked() ? sel == m_find->text()
                                             : sel.compare(m_find->text(), Qt::CaseInsensitive) == 0;
    if (matches)
        m_editor->replaceSelectedText(m_replace->text());
    findNext();
}

void TLEditFindDialog::replaceAll()
{
    if (m_find->text().isEmpty() || m_editor->isReadOnly())
        return;
    const int n = m_editor->ReplaceAll(m_find->text(), m_replace->text(), m_case->isChecked(),
                                       m_word->isChecked());
    m_status->setText(tr("%n replacement(s) made", nullptr, n));
}
