#pragma once
// The FTP window: site profiles, connect and exit, the session log, and the request chain and
// transfer queues that the FTP panel of the main window starts. It owns the program's one client.
#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

#include "windows/ftp/ftpprofiles.h"
#include "windows/ftp/sftpclient.h"

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
class TSftpClient;

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
    // How the site is reached: FTP, FTP over TLS or SFTP (the order of TFtpProtocol).
    QComboBox *ProtocolCB = nullptr;
    QPushButton *ConnectBut = nullptr, *ExitBut = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    TFtpClient *FtpClient1 = nullptr;
    // The SFTP session's engine: made for each SFTP connection, null otherwise.
    TSftpClient *sftp() const { return m_sftp; }
    // The running (or last) session is SFTP: the panel's commands go to TSftpClient.
    bool sftpSession() const { return m_sftpSession; }
    TFtpProtocol protocol() const;
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
    void renameRemote(const QString &from, const QString &to);
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
    void ViewTheFile(const QString &file);
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
    void protocolChanged(int index);

    // SFTP (ftpformsftp.cpp): the same commands over TSftpClient.
    void sftpConnect();
    void sftpEnd();
    void sftpFinished(const TSftpResult &r);
    void sftpConnected(const TSftpResult &r);
    void sftpTransferDone(const TSftpResult &r);
    void sftpShowDir(const QByteArray &path);
    void sftpUploadNext();
    void sftpDownloadNext();
    void sftpDeleteNext();
    void sftpView();
    void sftpListing(const QList<TSftpEntry> &entries);
    // The bytes of a name shown in the panel (names that are not UTF-8 round-trip unchanged).
    QByteArray rawName(const QString &shown) const;
    TSftpClient *m_sftp = nullptr;
    bool m_sftpSession = false;
    bool m_keyWarned = false;      // the changed-key warning stands for the failed connection
    bool m_passwordAsked = false;  // asked once per connection when keys alone were refused
    QString m_sessionPassword;
    QHash<QString, QByteArray> m_sftpNames;
    QString m_sftpGetName;  // the remote name of the running download, as shown
    // A download lands here (a private folder inside the local one), then is renamed into place.
    std::unique_ptr<QTemporaryDir> m_sftpPart;
};
