// The FTP window's commands over SFTP: the same queue, panel and questions as the FTP path, with
// TSftpClient doing the work. Its answers come back as finished() signals, handled in sftpFinished.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftphost.h"
#include "windows/ftp/ftplistparser.h"
#include "windows/ftp/ftppanel.h"
#include "windows/ftp/sftpclient.h"

namespace {

QString opName(TSftpOp op) {
  switch (op) {
    case TSftpOp::Connect: return QStringLiteral("connect");
    case TSftpOp::List: return QStringLiteral("list");
    case TSftpOp::ChangeDir: return QStringLiteral("cd");
    case TSftpOp::Upload: return QStringLiteral("put");
    case TSftpOp::Download: return QStringLiteral("get");
    case TSftpOp::Delete: return QStringLiteral("delete");
    case TSftpOp::MakeDir: return QStringLiteral("mkdir");
    case TSftpOp::RemoveDir: return QStringLiteral("rmdir");
    case TSftpOp::Rename: return QStringLiteral("rename");
    case TSftpOp::Disconnect: return QStringLiteral("disconnect");
  }
  return QString();
}

// A remote name or path for showing: UTF-8 when valid, else byte for byte.
QString shown(const QByteArray &bytes) {
  const QString s = QString::fromUtf8(bytes);
  return s.toUtf8() == bytes ? s : QString::fromLatin1(bytes);
}

// The listing date the way a Unix server's LIST shows it, so both protocols look alike.
QString listingDate(const QDateTime &utc) {
  if (!utc.isValid()) return QString();
  const QDateTime t = utc.toLocalTime();
  const QLocale c = QLocale::c();
  const bool recent = qAbs(t.daysTo(QDateTime::currentDateTime())) < 180;
  return c.toString(t, recent ? QStringLiteral("MMM d HH:mm") : QStringLiteral("MMM d yyyy"));
}

}  // namespace

QByteArray TFtpForm::rawName(const QString &name) const { return m_sftpNames.value(name, name.toUtf8()); }

void TFtpForm::sftpConnect() {
  sftpEnd();
  m_ended = false;
  m_keyWarned = false;
  m_passwordAsked = false;
  m_sessionPassword = PasswordEdit->text();
  m_connecting = true;
  UploadIdle = DownloadIdle = true;
  QueueCount = 0;
  m_sftp = new TSftpClient(this);
  m_sftp->setObjectName(QStringLiteral("Sftp"));
  bool ok = false;
  const int port = PortEdit->text().trimmed().toInt(&ok);
  m_sftp->setHost(HostNameEdit->text().trimmed());
  m_sftp->setPort(ok && port > 0 && port < 65536 ? port : 22);
  m_sftp->setUser(UserNameEdit->text());
  m_sftp->setPassword(m_sessionPassword);
  m_sftp->setTimeout(SlowHostCB->isChecked() ? 180 : 45);
  const QString site = m_sftp->host() + QLatin1Char(':') + QString::number(m_sftp->port());
  connect(m_sftp, &TSftpClient::finished, this, &TFtpForm::sftpFinished);
  connect(m_sftp, &TSftpClient::log, this, &TFtpForm::log);
  connect(m_sftp, &TSftpClient::hostKeyUnknown, this, [this, site](const TSftpHostKey &k) {
    const bool trust = m_host.trustHostKey(site, k.keyType, k.fingerprint);
    log(trust ? QStringLiteral("! Host key trusted by the user: ") + k.fingerprint
              : QStringLiteral("! Host key refused by the user"));
    if (m_sftp) m_sftp->answerHostKey(trust);
  });
  connect(m_sftp, &TSftpClient::hostKeyChanged, this, [this, site](const TSftpHostKey &, const QString &warning) {
    m_keyWarned = true;
    log(QStringLiteral("! ") + warning);
    m_host.warnHostKeyChanged(site, warning);
  });
  connect(m_sftp, &TSftpClient::passphraseRequested, this, [this](const QString &keyFile, int attempt) {
    QString secret;
    const QString prompt = (attempt > 1 ? QStringLiteral("Wrong passphrase. ") : QString()) +
                           QStringLiteral("Passphrase for the key ") + keyFile + QStringLiteral(":");
    const bool given = m_host.askSecret(QStringLiteral("SSH Key Passphrase"), prompt, secret);
    if (m_sftp) m_sftp->answerPassphrase(secret, given);
  });
  connect(m_sftp, &TSftpClient::progress, this, [this](qint64 done, qint64) {
    if (m_panel && (!m_progressClock.isValid() || m_progressClock.elapsed() > 100)) {
      m_panel->lblProgress->setText(QString::number(done));
      m_progressClock.start();
    }
  });
  connect(m_sftp, &TSftpClient::disconnected, this, [this](const QString &reason) {
    log(reason.isEmpty() ? QStringLiteral("Disconnected") : QStringLiteral("Disconnected: ") + reason);
  });
  m_sftp->connectToHost();
}

void TFtpForm::sftpEnd() {
  m_sftpPart.reset();
  if (!m_sftp) return;
  // A fresh engine for every session: late answers of this one can never reach the next.
  disconnect(m_sftp, nullptr, this, nullptr);
  m_sftp->cancel();
  if (m_sftp->isConnected()) m_sftp->disconnectFromHost();
  m_sftp->deleteLater();
  m_sftp = nullptr;
  log(QStringLiteral("Disconnected"));
}

void TFtpForm::sftpFinished(const TSftpResult &r) {
  log(QStringLiteral("Done (") + opName(r.op) +
      (r.ok          ? QString()
       : r.cancelled ? QStringLiteral(": cancelled")
                     : QStringLiteral(": ") + r.error) +
      QStringLiteral(")"));
  emit requestDone(-1, r.ok ? 0 : 1);
  if (m_ended || !m_sftp) return;
  const bool failed = !r.ok && !r.cancelled;
  switch (r.op) {
    case TSftpOp::Connect: sftpConnected(r); return;
    case TSftpOp::ChangeDir:
      if (failed) m_host.showMessage(QStringLiteral("Error: ") + r.error);
      // A folder that could not be entered still shows where the session is.
      sftpShowDir(r.ok ? r.path : m_sftp->currentDir());
      return;
    case TSftpOp::List:
      setBusyCursor(false);
      if (failed) {
        m_host.showMessage(QStringLiteral("Error: ") + r.error);
        return;
      }
      sftpListing(r.entries);
      m_host.showPanel();
      hide();
      emit listingShown();
      return;
    case TSftpOp::Upload:
    case TSftpOp::Download: sftpTransferDone(r); return;
    case TSftpOp::Delete:
      if (failed) m_host.showMessage(QStringLiteral("Error: ") + r.error);
      if (QueueCount > 0)
        sftpDeleteNext();
      else
        RefreshListing();
      return;
    case TSftpOp::MakeDir:
    case TSftpOp::RemoveDir:
    case TSftpOp::Rename:
      if (failed) m_host.showMessage(QStringLiteral("Error: ") + r.error);
      RefreshListing();
      return;
    case TSftpOp::Disconnect: return;
  }
}

void TFtpForm::sftpConnected(const TSftpResult &r) {
  if (r.ok) {
    m_connecting = false;
    log(QStringLiteral("Connected"));
    if (!InitialDirEdit->text().isEmpty())
      m_sftp->changeDir(InitialDirEdit->text().toUtf8());
    else
      sftpShowDir(r.path);
    return;
  }
  // Keys alone were refused and no password is stored: ask for one, once.
  if (!m_keyWarned && !m_passwordAsked && m_sessionPassword.isEmpty() &&
      r.error.contains(QLatin1String("Login refused"))) {
    m_passwordAsked = true;
    QString password;
    if (m_host.askSecret(
            QStringLiteral("SFTP Password"),
            QStringLiteral("Password for ") + m_sftp->user() + QLatin1Char('@') + m_sftp->host() + QLatin1Char(':'),
            password) &&
        !password.isEmpty()) {
      m_sessionPassword = password;
      m_sftp->setPassword(password);
      m_sftp->connectToHost();
      return;
    }
  }
  m_connecting = false;
  setBusyCursor(false);
  // The changed-key warning has been shown already, louder than this would be.
  if (!m_keyWarned) m_host.showMessage(QStringLiteral("Error: ") + r.error);
}

void TFtpForm::sftpShowDir(const QByteArray &path) {
  setBusyCursor(false);
  if (m_panel) m_panel->RemoteDirEdit->setText(shown(path));
  if (AutoDirCB->isChecked()) {
    RefreshListing();
  } else {
    m_host.showPanel();
    hide();
  }
}

void TFtpForm::sftpListing(const QList<TSftpEntry> &entries) {
  m_sftpNames.clear();
  std::vector<TFtpDirEntry> rows;
  rows.reserve(size_t(entries.size()));
  for (const TSftpEntry &e : entries) {
    TFtpDirEntry d;
    d.directory = e.type == TSftpEntry::Folder || (e.type == TSftpEntry::Link && e.linkToFolder);
    d.name = e.displayName;
    d.size = QString::number(e.size);
    d.date = listingDate(e.modified);
    if (e.name != e.displayName.toUtf8()) m_sftpNames.insert(e.displayName, e.name);
    rows.push_back(d);
  }
  if (m_panel) m_panel->showEntries(rows);
}

void TFtpForm::sftpUploadNext() {
  if (UploadIdle && m_panel) {
    m_panel->setButtonsEnabled(false);
    m_panel->AbortBut->setVisible(true);
  }
  --QueueCount;
  if (QueueCount < 0 || !m_sftp) {
    finishBatch();
    return;
  }
  const QString local = TransferQueue.value(QueueCount);
  const QString remote = remoteNameFor(local);
  log(QStringLiteral("put ") + local + QStringLiteral(" ") + remote);
  UploadIdle = QueueCount == 0;
  m_sftp->upload(local, remote.toUtf8());
}

void TFtpForm::sftpDownloadNext() {
  if (DownloadIdle && m_panel) {
    m_panel->setButtonsEnabled(false);
    m_panel->AbortBut->setVisible(true);
  }
  --QueueCount;
  if (QueueCount < 0 || !m_sftp) {
    finishBatch();
    return;
  }
  const QString remote = TransferQueue.value(QueueCount);
  // Into a private folder inside the local one first: a cut or cancelled file never stands
  // under the real name, and the final rename stays on one file system.
  m_sftpPart =
      std::make_unique<QTemporaryDir>(QDir(m_host.localFolder()).filePath(QStringLiteral(".tarnwick-part-XXXXXX")));
  if (!m_sftpPart->isValid()) {
    m_host.showMessage(QStringLiteral("Error: can not write in ") + m_host.localFolder());
    m_sftpPart.reset();
    finishBatch();
    return;
  }
  log(QStringLiteral("get ") + remote + QStringLiteral(" ") + localPathFor(remote));
  DownloadIdle = QueueCount == 0;
  m_sftpGetName = remote;
  m_sftp->download(rawName(remote), m_sftpPart->path());
}

void TFtpForm::sftpTransferDone(const TSftpResult &r) {
  if (m_panel) m_panel->lblProgress->setText(QString::number(r.resumedFrom + r.bytes));
  m_progressClock.invalidate();
  const bool failed = !r.ok && !r.cancelled;
  if (failed) m_host.showMessage(QStringLiteral("Error: ") + r.error);
  if (r.op == TSftpOp::Upload) {
    if (QueueCount > 0 && !m_abort) {
      sftpUploadNext();
      return;
    }
    finishBatch();
    m_host.showMainWindow();
    RefreshListing();
    return;
  }
  if (ViewMode) {
    ViewMode = false;
    if (r.ok && !m_abort)
      ViewTheFile(r.localFile);
    else if (!r.localFile.isEmpty())
      QFile::remove(r.localFile);
    finishBatch();
    return;
  }
  if (r.ok && m_sftpPart) {
    // The same name rules as an FTP download; the name never leaves the local folder.
    const QString target = localPathFor(m_sftpGetName);
    if (QFileInfo(target).fileName().isEmpty() ||
        std::rename(QFile::encodeName(r.localFile).constData(), QFile::encodeName(target).constData()) != 0)
      m_host.showMessage(QStringLiteral("Error: can not write ") + target);
  }
  m_sftpPart.reset();
  if (QueueCount > 0 && !m_abort) {
    sftpDownloadNext();
    return;
  }
  finishBatch();
  m_host.refreshLocal();
  m_host.showMainWindow();
}

void TFtpForm::sftpDeleteNext() {
  --QueueCount;
  if (QueueCount < 0 || !m_sftp) {
    QueueCount = 0;
    return;
  }
  const QString name = TransferQueue.value(QueueCount);
  log(QStringLiteral("Del ") + name);
  m_sftp->remove(rawName(name));
}

void TFtpForm::sftpView() {
  if (!m_sftp) {
    ViewMode = false;
    return;
  }
  ViewName = TransferQueue.first();
  QueueCount = 0;
  const QString folder = QFileInfo(tempPath(QStringLiteral("view"))).path();
  log(QStringLiteral("get ") + ViewName + QStringLiteral(" ") + folder);
  ViewMode = true;
  if (m_panel) {
    m_panel->setButtonsEnabled(false);
    m_panel->AbortBut->setVisible(true);
  }
  m_sftp->download(rawName(ViewName), folder);
}
