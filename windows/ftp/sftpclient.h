#pragma once
// SFTP engine (libssh): one SSH session with its SFTP channel, owned by a worker thread so that no
// blocking network call ever runs on the caller's thread. Every operation returns at once and ends
// with exactly one finished() signal, delivered on the caller's thread from its event loop (never
// inside the call). Operations run one after another in the order they were asked for.
//
// Remote names are bytes: a server may hold names that are not UTF-8, and they must round-trip
// unchanged (list, download, delete, rename). displayName is for showing only.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

struct TSftpEntry {
    enum Type { File, Folder, Link, Other };
    QByteArray name;      // as the server sent it
    QString displayName;  // UTF-8 when valid, else Latin-1 byte for byte
    qint64 size = 0;
    QDateTime modified;   // UTC; invalid when the server sent no time
    Type type = Other;
    bool linkToFolder = false;  // a link whose target is a folder (the panel may open it)
    quint32 permissions = 0;    // POSIX mode bits as the server sent them
    // "drwxr-xr-x" style text of type and permissions.
    QString permissionText() const;
};

struct TSftpHostKey {
    QString host;
    int port = 22;
    QString keyType;      // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa", ...
    QString fingerprint;  // OpenSSH's form: "SHA256:" + unpadded Base64
};

enum class TSftpOp { Connect, List, ChangeDir, Upload, Download, Delete, MakeDir, RemoveDir, Rename, Disconnect };

struct TSftpResult {
    TSftpOp op = TSftpOp::Connect;
    bool ok = false;
    bool cancelled = false;        // a transfer stopped by cancel() (ok is false)
    QString error;                 // for the user; empty when ok
    QByteArray path;               // remote folder (List, ChangeDir, Connect) or remote file of the operation
    QList<TSftpEntry> entries;     // List: the folder's entries without "." and ".."
    qint64 bytes = 0;              // Upload, Download: bytes moved in this run (not counting a resumed part)
    qint64 resumedFrom = 0;        // Upload, Download: where the transfer started
    QString localFile;             // Upload, Download: the local file
};

Q_DECLARE_METATYPE(TSftpEntry)
Q_DECLARE_METATYPE(TSftpHostKey)
Q_DECLARE_METATYPE(TSftpResult)

class TSftpWorker;

class TSftpClient : public QObject {
    Q_OBJECT
public:
    explicit TSftpClient(QObject *parent = nullptr);
    // Ends the session; waits at most for the current network call to notice (its socket is shut).
    ~TSftpClient() override;

    // --- Settings, read when connectToHost() runs ---------------------------------------------
    // Host name, IPv4 or IPv6 literal (brackets allowed).
    void setHost(const QString &host) { m_host = host; }
    QString host() const { return m_host; }
    void setPort(int port) { m_port = port; }  // 22 by default
    int port() const { return m_port; }
    void setUser(const QString &user) { m_user = user; }
    QString user() const { return m_user; }
    // Empty: keys and the agent only.
    void setPassword(const QString &password) { m_password = password; }
    // Folder of the user's keys, config and known_hosts: ~/.ssh by default.
    void setSshDir(const QString &dir) { m_sshDir = dir; }
    QString sshDir() const;
    // Default: known_hosts in sshDir().
    void setKnownHostsFile(const QString &file) { m_knownHosts = file; }
    QString knownHostsFile() const;
    // Seconds a network call may wait for the server before the operation fails (0: no limit).
    void setTimeout(int seconds) { m_timeout = seconds; }

    // --- Operations ---------------------------------------------------------------------------
    // Connects, checks the host key, logs in, opens SFTP; result.path is the start folder.
    void connectToHost();
    // Lists a folder (relative to the current one; empty: the current one).
    void list(const QByteArray &folder = {});
    // Changes the current folder; result.path is the new folder, made absolute by the server.
    void changeDir(const QByteArray &folder);
    // Uploads a local file to remoteName (relative to the current folder). With resume, appends
    // from the remote file's size; otherwise the remote file is replaced.
    void upload(const QString &localFile, const QByteArray &remoteName, bool resume = false);
    // Downloads remoteName of the current folder into localFolder under the same name. The name
    // must be a plain name: empty, ".", "..", or with '/' or NUL is refused and nothing is written
    // (see isSafeLocalName). With resume, appends from the local file's size.
    void download(const QByteArray &remoteName, const QString &localFolder, bool resume = false);
    void remove(const QByteArray &name);
    void makeDir(const QByteArray &name);
    void removeDir(const QByteArray &name);
    void rename(const QByteArray &from, const QByteArray &to);
    void disconnectFromHost();
    // Stops the running transfer and any asked for before this call; they end with cancelled set.
    void cancel();

    // --- Answers to the engine's questions --------------------------------------------------------
    // After hostKeyUnknown: true stores the key in known_hosts and goes on, false ends the connection.
    void answerHostKey(bool trust);
    // After passphraseRequested: given false skips that key.
    void answerPassphrase(const QString &passphrase, bool given);

    // --- State (as of the last finished operation) ----------------------------------------------
    bool isConnected() const { return m_connected; }
    QByteArray currentDir() const { return m_cwd; }
    // Operations asked for and not yet finished.
    int pending() const { return m_pending; }

    // A remote name that may become a local file name in the chosen folder as it is.
    static bool isSafeLocalName(const QByteArray &name);
    // A remote path made of `folder` and `name` (absolute names stay as they are).
    static QByteArray joinPath(const QByteArray &folder, const QByteArray &name);

signals:
    // The server's key is not in known_hosts: answer with answerHostKey().
    void hostKeyUnknown(const TSftpHostKey &key);
    // The server's key differs from the one in known_hosts: the connection is refused (its
    // finished() follows); warning is the text to show, loudly.
    void hostKeyChanged(const TSftpHostKey &key, const QString &warning);
    // A key in sshDir() is protected: answer with answerPassphrase(). attempt counts from 1.
    void passphraseRequested(const QString &keyFile, int attempt);
    // Bytes of the running transfer, counting a resumed part; total is the file's size (-1 unknown).
    void progress(qint64 done, qint64 total);
    void finished(const TSftpResult &result);
    // The session has ended: asked for, or lost (reason then says why).
    void disconnected(const QString &reason);
    // A line of the session log ("> list /home", "! ...").
    void log(const QString &line);

private:
    friend class TSftpWorker;
    friend struct TSftpJobs;
    void post(std::function<void(TSftpWorker &, quint64 seq)> job);
    // On this thread, once an operation has ended: the session's state after it, then finished().
    void applyResult(const TSftpResult &r, bool connected, const QByteArray &cwd);

    QString m_host;
    int m_port = 22;
    QString m_user;
    QString m_password;
    QString m_sshDir;
    QString m_knownHosts;
    int m_timeout = 30;

    bool m_connected = false;
    QByteArray m_cwd;
    int m_pending = 0;
    quint64 m_seq = 0;
    std::shared_ptr<TSftpWorker> m_worker;
};
