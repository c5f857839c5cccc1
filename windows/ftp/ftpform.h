#pragma once
// The FTP window: site profiles, connect and exit, the session log, and the request chain and
// transfer queues that the FTP panel of the main window starts. It owns the program's one client.
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "windows/ftp/ftpprofiles.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTemporaryDir;
class TFtpClient;
class TFtpHost;
class TFtpPanel;

class TFtpForm : public QWidget {
    Q_OBJECT
public:
    // host: the main window's side (kept, never called from the destructor); profileFile: path of
    // the site profiles file; panel: the main window's FTP panel (may be null).
    TFtpForm(TFtpHost &host, const QString &profileFile, TFtpPanel *panel, QWidget *parent = nullptr);
    ~TFtpForm() override;

    // The program that views a remote file (the path is appended as the last argument); empty
    // means: look for the desktop's text editor.
    QStringList viewerCommand;

    // Controls.
    QLabel *Label1 = nullptr;
    QComboBox *SiteCB = nullptr;
    QPushButton *NewSiteBut = nullptr;
    QLineEdit *HostNameEdit = nullptr, *InitialLocalDirEdit = nullptr, *InitialDirEdit = nullptr,
              *UserNameEdit = nullptr, *PasswordEdit = nullptr, *PortEdit = nullptr;
    QCheckBox *SaveProfileCB = nullptr, *AutoDirCB = nullptr, *ForceLowerCB = nullptr, *ConvHtmlCB = nullptr,
              *SlowHostCB = nullptr, *PassiveCB = nullptr, *UseTlsCB = nullptr;
    QPushButton *ConnectBut = nullptr, *ExitBut = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    TFtpClient *FtpClient1 = nullptr;
    TFtpPanel *panel() const { return m_panel; }

    // Queue shared with the panel.
    QStringList TransferQueue;
    int QueueCount = 0;
    bool ViewMode = false;
    QString ViewName;
    bool UploadIdle = true, DownloadIdle = true;

    QString profileFile() const { return m_ini.fileName(); }

    void ReadProfile(const QString &name);
    void SiteCBChange();
    void NewSiteButClick();
    // Returns false when the profile could not be saved (the reason is shown).
    bool UpdateProfile();
    void SortProfiles();
    // The program is closing (called by the main window while it still stands): the session
    // ends and, with "Save Changes" on, the profile is saved and the names are sorted.
    void programClosing();
    void ConnectButClick();
    void ExitButClick();

    void UploadAll();
    void DownloadAll();
    void RemoteDelete();
    void View();
    void RefreshListing();
    // Change, make or remove a remote directory (the panel's commands).
    void changeDir(const QString &dir);
    void upOneDir();
    void makeDir(const QString &name);
    void removeDir(const QString &name);
    // Ends the session: QUIT when connected, abort when a transfer is under way.
    void disconnectSession();
    // Cancels the running transfer and drops the rest of its queue.
    void abortTransfer();
    // Both logs get the line.
    void log(const QString &line);
    bool busy() const;

    // The remote name an upload gets, and the local path a download writes (the case and ".htm"
    // options applied; a remote name never leaves the local folder).
    QString remoteNameFor(const QString &localPath) const;
    QString localPathFor(const QString &remoteName) const;

signals:
    void listingShown();
    void requestDone(int rq, int error);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void FtpClient1Display(QString &msg);
    void FtpClient1RequestDone(int rq, quint16 error);
    void FtpClient1Progress(qint64 count, bool &abort);
    void UploadNext();
    void DownloadNext();
    void ViewTheFile();
    void finishBatch();
    void applyProfile(const TFtpProfile &p);
    TFtpProfile profileFromFields() const;
    QString tempPath(const QString &name) const;
    // Starts a request; a refused start (busy, not connected) is logged and returns false.
    bool start(const std::function<void()> &request);
    // Runs `then` after switching the transfer type, or at once when it already matches.
    void withType(bool binary, std::function<void()> then);

    TFtpHost &m_host;
    TFtpPanel *m_panel;
    TIniFile m_ini;
    QString MaskedPassword;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::function<void()> m_afterType;
    void setBusyCursor(bool on);
    void showFinalCount();
    QElapsedTimer m_progressClock;
    bool m_busyCursor = false;
    bool m_forceType = false;
    bool m_connecting = false;
    bool m_reportPending = false;  // a request started here has not reported yet
    bool m_ended = true;  // no session, or the user ended it
    bool m_abort = false;
    QString m_tlsFingerprint;  // the trusted certificate of the profile shown
    void FtpClient1Certificate(const QString &details, const QString &fingerprint, bool changed, bool &accept);
    // Writes one key of the current profile at once (answers the user gave about the site).
    void rememberForSite(const QString &key, const QString &value);
    int m_dirRetries = 0;
};
