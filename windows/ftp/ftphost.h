#pragma once
// What the FTP window and the FTP panel need of the main window. The main window implements it
// with a small adapter; tests with a recording class.
#include <QString>

class TFtpHost {
public:
    virtual ~TFtpHost() = default;
    // The folder the local file list shows.
    virtual QString localFolder() const = 0;
    // Switches the local folder tree and file list to a folder.
    virtual void setLocalFolder(const QString &path) = 0;
    // The folder selected in the local folder tree.
    virtual QString treeFolder() const = 0;
    // The file last picked in the local file list (empty when none).
    virtual QString currentFile() const = 0;
    // Refills the local file list (after a download).
    virtual void refreshLocal() = 0;
    // Brings the main window to the front.
    virtual void showMainWindow() = 0;
    // Shows the FTP panel in place of the viewers.
    virtual void showPanel() = 0;
    // The session is over: the normal menus come back.
    virtual void restoreMenus() = 0;
    // Opens (or brings back) the FTP window, as the Ftp Client command does.
    virtual void openFtpWindow() = 0;
    // Shows a text file in a window of our own (when the desktop has no text editor).
    virtual void viewInEditor(const QString &path) = 0;
    // Asks the user for one line of text; empty on Cancel.
    virtual QString askText(const QString &caption, const QString &prompt) = 0;
    // Asks the user a yes/no question about a risk (default no); true for yes.
    virtual bool askYesNo(const QString &caption, const QString &text) = 0;
    // Tells the user something and waits until it is read.
    virtual void showMessage(const QString &text) = 0;
    // An SFTP server's key is not in known_hosts: shows the site, the key's type and its SHA-256
    // fingerprint; true stores the key and goes on (default no).
    virtual bool trustHostKey(const QString &site, const QString &keyType, const QString &fingerprint) = 0;
    // An SFTP server's key differs from the stored one: the connection is refused; warns loudly.
    virtual void warnHostKeyChanged(const QString &site, const QString &warning) = 0;
    // Asks for a password or key passphrase (typed as stars); false on Cancel.
    virtual bool askSecret(const QString &caption, const QString &prompt, QString &secret) = 0;
};
