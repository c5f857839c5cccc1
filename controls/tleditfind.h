#pragma once
// Find and replace dialog of TLEdit: modeless, one per editor.
#include <QDialog>

class QLineEdit;
class QCheckBox;
class QPushButton;
class QLabel;
class TLEdit;

class TLEditFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit TLEditFindDialog(TLEdit *editor);
    // Shows the dialog for finding only, or for finding and replacing.
    void showFor(bool replace, const QString &initial);

    QLineEdit *findEdit() const { return m_find; }
    QLineEdit *replaceEdit() const { return m_replace; }
    QCheckBox *caseBox() const { return m_case; }
    QCheckBox *wordBox() const { return m_word; }
    QCheckBox *backwardBox() const { return m_backward; }
    QLabel *statusLabel() const { return m_status; }

public slots:
    void findNext();
    void replaceOne();
    void replaceAll();

private:
    TLEdit *m_editor;
    QLineEdit *m_find, *m_replace;
    QLabel *m_replaceLabel, *m_status;
    QCheckBox *m_case, *m_word, *m_backward;
    QPushButton *m_findBtn, *m_replaceBtn, *m_replaceAllBtn;
};
