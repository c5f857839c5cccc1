#pragma once
// The FTP panel shown in the main window's viewer area during a session: command buttons, the
// remote directory, its subdirectories, a grid of its files and the session log. Every remote
// operation goes through the FTP window (TFtpForm) and its client.
#include <QWidget>

#include <vector>

#include "controls/sortgrid.h"
#include "windows/ftp/ftplistparser.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class TFtpForm;
class TFtpHost;

class TFtpPanel : public QWidget {
    Q_OBJECT
public:
    // host: the main window's side (kept, never called from the destructor).
    explicit TFtpPanel(TFtpHost &host, QWidget *parent = nullptr);

    void setForm(TFtpForm *form) { m_form = form; }
    TFtpForm *form() const { return m_form; }

    // Controls.
    QWidget *OptionPanel = nullptr;
    QRadioButton *BinaryRadio = nullptr, *TextRadio = nullptr;  // the "BinText" group
    QPushButton *ChgDirBut = nullptr, *MkDirBut = nullptr, *RmDirBut = nullptr, *UploadBut = nullptr,
                *DownloadBut = nullptr, *DelRemFileBut = nullptr, *ViewBut = nullptr, *ConnectBut = nullptr,
                *CloseBut = nullptr, *AbortBut = nullptr, *RenameBut = nullptr;
    QCheckBox *AdvMenuCB = nullptr;
    QLabel *RcLabel = nullptr, *lblProgress = nullptr, *BytesLabel = nullptr, *CdLabel = nullptr;
    QLineEdit *RemoteDirEdit = nullptr;
    QListWidget *RemoteDirList = nullptr;
    // The remote files: row 0 is the heading, rows 1.. the files ("File Name", "File Size", "Date/Time").
    TSortGrid *StringGrid2 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;

    // The listing style of the server (set after SYST and by the parser).
    bool UnixListing = false;
    bool binarySelected() const;

    // Handlers.
    void ChgDirButClick();
    void MkDirButClick();
    void RmDirButClick();
    void UploadButClick();
    void DownloadButClick();
    void DelRemFileButClick();
    void ViewButClick();
    // Renames the selected remote file (or one typed in) to a name asked for.
    void RenameButClick();
    void CloseButClick();
    void AdvMenuCBClick();
    void RemoteDirListClick();
    // A double click on a file row downloads the selected rows.
    void StringGrid2DblClick();
    // Files dropped on the main window while the panel shows: the files among them are uploaded.
    void uploadDropped(const QStringList &paths);
    // Fills the directory list and the grid from a saved listing file, then deletes the file.
    void ParseDir(const QString &listingFile);
    // Fills the directory list and the grid from entries read some other way (SFTP).
    void showEntries(const std::vector<TFtpDirEntry> &entries);
    // The grid's rows, for a listing that has none: one empty row under the heading.
    void clearListing();

    // Enables or disables the commands that must not run during a transfer batch.
    void setButtonsEnabled(bool on);

signals:
    // The session ended from the panel: the main window restores its menus and viewers.
    void sessionClosed();

private:
 enum class Collect { Download, Delete, View, Rename };
 bool collectNames(Collect what);

 TFtpHost &m_host;
 TFtpForm *m_form = nullptr;
 // The last heading click: a new listing is sorted the same way (-1: server order).
 int m_sortCol = -1;
 TSortOptions m_sortOptions;
};
