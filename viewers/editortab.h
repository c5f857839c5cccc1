#pragma once
// The "Editor" tab of the viewers: the text editor LEdit1, its status bar SBar and the tab-size panel.
// It knows nothing of the main window: what the window owns (menu check marks, title, favourites combo)
// comes in as parameters and goes out through its host.
#include <QStatusBar>
#include <QWidget>
#include "viewers/editorhost.h"

class QFrame;
class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class THexEditor;
class TLEdit;

// Status bar with fixed panels; a double click anywhere on it raises doubleClicked().
class TEditorStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TEditorStatusBar(const QList<int> &widths, const QStringList &texts, QWidget *parent = nullptr);
    int panelCount() const { return m_panels.size(); }
    QString panelText(int index) const;
    void setPanelText(int index, const QString &text);
    // Makes the panel wide enough for the text in this desktop's font.
    void widenPanelFor(int index, const QString &text);
signals:
    void doubleClicked();
protected:
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;
private:
    QList<QLabel *> m_panels;
};

class TEditorTab : public QWidget {
    Q_OBJECT
public:
    using LineEndStyle = TLineEndStyle;

    explicit TEditorTab(TEditorHost &host, QWidget *parent = nullptr);

    TLEdit *LEdit1;
    // A binary file shows on this page instead of LEdit1: a note, "Show as Text" and its bytes in the hex
    // editor's grid, read-only.
    QWidget *BinaryPage;
    QLabel *BinaryNote;
    QPushButton *ShowAsTextBut;
    THexEditor *BinaryView;
    TEditorStatusBar *SBar;
    QFrame *TabPanel;
    QSpinBox *EditTab;  // the box and its up-down control UpDown4 in one
    QPushButton *TabBut;

    // Start-up: word wrap from the stored option (editor and panel 0), tab size from the stored value.
    void SetWordWrap(bool on);
    void SetTabSize(int size);
    // The number in the tab-size box: what the settings store as the editor's tab size.
    int TabSize() const;
    LineEndStyle lineEndStyle() const { return m_style; }

    // Loads a file (viewer dispatch, command line, list files); the status panels follow. A binary file
    // (filesniff's rule) is shown as bytes on BinaryPage; the text editor is then emptied.
    bool LoadFile(const QString &path);
    // True while BinaryPage shows a file; which one.
    bool showsBinary() const;
    QString binaryFile() const { return m_binaryFile; }
    // The binary file shown goes into the text editor as it is ("Show as Text").
    bool ShowAsTextClick();
    // "Clear All Internal Viewers": empty the editor, forget its file name, reset panels 1 to 4.
    // The window sets its own title afterwards.
    void ClearViewer();

    // At exit: asks about unsaved text and saves on Yes. True when closing may go on; false when the
    // user said Yes but nothing was saved (cancelled name dialog or a failed save), so nothing is lost.
    bool QueryClose();

    static const QString ModifiedQuestion;  // "The text has been modified in the Editor,  Save changes?"
    static const QString FavouritesFileName;  // "Tarnwick.Fav"
    // The status panels' texts before anything is loaded: their labels alone.
    static QStringList InitialPanelTexts();

public slots:
    void LEdit1Change();
    void LEdit1Click();
    // Toggles word wrap. checkMark is the menu item's current mark; the new state is its opposite and is
    // returned and shown by the host.
    bool WordWrapClick(bool checkMark);
    void MsDosWin1Click();
    void Mac1Click();
    void Unix1Click();
    void SetTabValue1Click();
    void TabButClick();
    // Ctrl+S: saves only while the editor has the input focus; true when it saved.
    bool SaveFile1Click();
    void SBarDblClick();

private:
    void setLineEndStyle(LineEndStyle style);
    void resetPanels();
    void showBinary(const QString &path);
    void showText();

    TEditorHost &m_host;
    LineEndStyle m_style = LineEndStyle::MsDosWin;
    QStackedWidget *m_pages;
    QString m_binaryFile;
};
