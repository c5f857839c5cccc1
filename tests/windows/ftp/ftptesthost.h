#pragma once
// The main window's side of the FTP window and panel, for tests: it records what they ask of it
// and answers their questions from a list.
#include <QStringList>

#include "windows/ftp/ftphost.h"

namespace ftptest {

class RecordingHost final : public TFtpHost {
public:
    QString local;     // the local list's folder
    QString tree;      // the folder tree's selection
    QString current;   // the file last picked in the local list
    QStringList answers;  // taken one per question; none left: the question is cancelled
    QStringList asked;    // captions of the questions asked
    QStringList messages;
    QStringList calls;    // the other requests, in order
    int panelShown = 0;

    QString localFolder() const override { return local; }
    void setLocalFolder(const QString &path) override
    {
        calls << QStringLiteral("setLocalFolder ") + path;
        local = path;
    }
    QString treeFolder() const override { return tree; }
    QString currentFile() const override { return current; }
    void refreshLocal() override { calls << QStringLiteral("refreshLocal"); }
    void showMainWindow() override { calls << QStringLiteral("showMainWindow"); }
    void showPanel() override
    {
        calls << QStringLiteral("showPanel");
        ++panelShown;
    }
    void restoreMenus() override { calls << QStringLiteral("restoreMenus"); }
    void openFtpWindow() override { calls << QStringLiteral("openFtpWindow"); }
    void viewInEditor(const QString &path) override { calls << QStringLiteral("viewInEditor ") + path; }
    QString askText(const QString &caption, const QString &) override
    {
        asked << caption;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    void showMessage(const QString &text) override { messages << text; }
    QStringList questions;  // texts of the yes/no questions
    bool askYesNo(const QString &caption, const QString &text) override
    {
        asked << caption;
        questions << text;
        return !answers.isEmpty() && answers.takeFirst() == QLatin1String("yes");
    }
    QStringList hostKeys;  // "site keytype fingerprint" of each unknown key shown
    QStringList keyWarnings;
    bool trustHostKey(const QString &site, const QString &keyType, const QString &fingerprint) override {
      asked << QStringLiteral("host key");
      hostKeys << site + QLatin1Char(' ') + keyType + QLatin1Char(' ') + fingerprint;
      return !answers.isEmpty() && answers.takeFirst() == QLatin1String("yes");
    }
    void warnHostKeyChanged(const QString &, const QString &warning) override { keyWarnings << warning; }
    bool askSecret(const QString &caption, const QString &, QString &secret) override {
      asked << caption;
      if (answers.isEmpty()) return false;
      secret = answers.takeFirst();
      return true;
    }
};

} // namespace ftptest
