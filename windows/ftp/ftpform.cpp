#include "windows/ftp/ftpform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "windows/ftp/ftpcli.h"
#include "windows/ftp/ftphost.h"
#include "windows/ftp/ftppanel.h"
#include "windows/ftp/ftpviewer.h"
#include "platform/paths.h"

namespace {

// The password box shows one "*" per character whatever the desktop style prefers.
class StarPasswordStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *ret) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

// A listing answered with 226 at once is asked for again, but not for ever.
constexpr int kMaxDirRetries = 3;

QString htmToHtml(const QString &name)
{
    QFileInfo fi(name);
    if (fi.suffix().compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0 && !fi.completeBaseName().isEmpty()
        && name.endsWith(fi.suffix()))
        return name.left(name.size() - 3) + QStringLiteral("html");
    return name;
}

} // namespace

TFtpForm::TFtpForm(TFtpHost &host, const QString &profileFile, TFtpPanel *panel, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint), m_host(host),
      m_panel(panel), m_ini(profileFile)
{
    setObjectName(QStringLiteral("FtpForm"));
    setWindowTitle(QStringLiteral("Tarnwick - FTP Client"));

    FtpClient1 = new TFtpClient(this);
    FtpClient1->setObjectName(QStringLiteral("FtpClient1"));
    FtpClient1->setShareMode(ftpShareDenyWrite);
    FtpClient1->setBinary(true);
    FtpClient1->setDisplayFileFlag(false);
    FtpClient1->setMultiThreaded(false);
    connect(FtpClient1, &TCustomFtpCli::OnDisplay, this, &TFtpForm::FtpClient1Display, Qt::DirectConnection);
    connect(FtpClient1, &TCustomFtpCli::OnProgress, this, &TFtpForm::FtpClient1Progress, Qt::DirectConnection);
    connect(FtpClient1, &TCustomFtpCli::OnCertificate, this, &TFtpForm::FtpClient1Certificate, Qt::DirectConnection);
    connect(FtpClient1, &TCustomFtpCli::OnRequestDone, this, &TFtpForm::FtpClient1RequestDone);
    connect(FtpClient1, &TCustomFtpCli::OnSessionConnected, this, [this](quint16) { log(QStringLiteral("Connected")); });
    connect(FtpClient1, &TCustomFtpCli::OnSessionClosed, this, [this](quint16) { log(QStringLiteral("Disconnected")); });

    auto edit = [this](QLineEdit *&e, const char *name) {
        e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
    };
    auto check = [this](QCheckBox *&c, const char *name, const QString &caption) {
        c = new QCheckBox(caption, this);
        c->setObjectName(QLatin1String(name));
    };
    Label1 = new QLabel(QStringLiteral("Profile &Name:"), this);
    SiteCB = new QComboBox(this);
    SiteCB->setObjectName(QStringLiteral("SiteCB"));
    SiteCB->setEditable(true);
    SiteCB->setInsertPolicy(QComboBox::NoInsert);
    Label1->setBuddy(SiteCB);
    NewSiteBut = new QPushButton(QStringLiteral("&New FTP Site"), this);
    NewSiteBut->setObjectName(QStringLiteral("NewSiteBut"));
    edit(HostNameEdit, "HostNameEdit");
    edit(InitialLocalDirEdit, "InitialLocalDirEdit");
    edit(InitialDirEdit, "InitialDirEdit");
    edit(UserNameEdit, "UserNameEdit");
    edit(PasswordEdit, "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto *stars = new StarPasswordStyle;
    stars->setParent(PasswordEdit);
    PasswordEdit->setStyle(stars);
    edit(PortEdit, "PortEdit");
    check(SaveProfileCB, "SaveProfileCB", QStringLiteral("Save Changes"));
    check(AutoDirCB, "AutoDirCB", QStringLiteral("Get Directory Listings"));
    check(ForceLowerCB, "ForceLowerCB", QStringLiteral("Force Lowercase Filenames"));
    check(ConvHtmlCB, "ConvHtmlCB", QStringLiteral("Convert .htm extensions to .html"));
    check(SlowHostCB, "SlowHostCB", QStringLiteral("Slow Host - Allow more time"));
    check(PassiveCB, "PassiveCB", QStringLiteral("Passive mode"));
    check(UseTlsCB, "UseTlsCB", QStringLiteral("Use TLS"));
    UseTlsCB->setToolTip(QStringLiteral("Encrypt the login and the transfers (explicit FTPS)"));
    PassiveCB->setToolTip(QStringLiteral("This program opens the data connections (EPSV or PASV): "
                                         "needed behind most routers and firewalls"));
    ProtocolCB = new QComboBox(this);
    ProtocolCB->setObjectName(QStringLiteral("ProtocolCB"));
    ProtocolCB->addItems({QStringLiteral("FTP"), QStringLiteral("FTP over TLS"), QStringLiteral("SFTP")});
    ProtocolCB->setToolTip(QStringLiteral("FTP, FTP with TLS (explicit FTPS), or SFTP over SSH"));
    ConnectBut = new QPushButton(QStringLiteral("&Connect"), this);
    ConnectBut->setObjectName(QStringLiteral("ConnectBut"));
    ExitBut = new QPushButton(QStringLiteral("&Exit"), this);
    ExitBut->setObjectName(QStringLiteral("ExitBut"));
    for (QPushButton *b : {ConnectBut, ExitBut}) {
        QFont f = b->font();
        f.setBold(true);
        b->setFont(f);
    }
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMaximumBlockCount(5000);

    auto *grid = new QGridLayout;
    auto label = [this](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(SiteCB, 0, 1);
    grid->addWidget(NewSiteBut, 0, 2);
    grid->addWidget(label(QStringLiteral("&Host Name:"), HostNameEdit), 1, 0);
    grid->addWidget(HostNameEdit, 1, 1);
    grid->addWidget(label(QStringLiteral("Initial &Local Directory:"), InitialLocalDirEdit), 2, 0);
    grid->addWidget(InitialLocalDirEdit, 2, 1);
    grid->addWidget(label(QStringLiteral("Initial &Remote Directory:"), InitialDirEdit), 3, 0);
    grid->addWidget(InitialDirEdit, 3, 1);
    grid->addWidget(label(QStringLiteral("&User Name:"), UserNameEdit), 4, 0);
    grid->addWidget(UserNameEdit, 4, 1);
    grid->addWidget(label(QStringLiteral("&Password:"), PasswordEdit), 5, 0);
    grid->addWidget(PasswordEdit, 5, 1);
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(label(QStringLiteral("Pro&tocol"), ProtocolCB));
    portRow->addWidget(ProtocolCB);
    portRow->addSpacing(8);
    portRow->addWidget(label(QStringLiteral("FTP Port"), PortEdit));
    portRow->addWidget(PortEdit);
    PortEdit->setMaximumWidth(70);
    PortEdit->setMinimumWidth(56);  // five digits stay readable beside the protocol box
    portRow->addStretch(1);
    grid->addLayout(portRow, 6, 1);
    auto *checks = new QVBoxLayout;
    for (QWidget *w : {(QWidget *)SaveProfileCB, (QWidget *)AutoDirCB, (QWidget *)ForceLowerCB, (QWidget *)ConvHtmlCB,
                       (QWidget *)SlowHostCB, (QWidget *)PassiveCB, (QWidget *)UseTlsCB})
        checks->addWidget(w);
    checks->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ConnectBut);
    buttons->addWidget(ExitBut);
    checks->addLayout(buttons);
    grid->addLayout(checks, 1, 2, 6, 1);
    grid->setColumnStretch(1, 1);
    auto *top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(Memo1, 1);
    resize(588, 420);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    connect(NewSiteBut, &QPushButton::clicked, this, &TFtpForm::NewSiteButClick);
    connect(ConnectBut, &QPushButton::clicked, this, &TFtpForm::ConnectButClick);
    connect(ExitBut, &QPushButton::clicked, this, &TFtpForm::ExitButClick);
    connect(SiteCB, &QComboBox::activated, this, [this](int) { SiteCBChange(); });
    connect(ProtocolCB, &QComboBox::currentIndexChanged, this, &TFtpForm::protocolChanged);
    // The TLS box and the protocol say the same for FTP; the box has no meaning for SFTP.
    connect(UseTlsCB, &QCheckBox::toggled, this, [this](bool on) {
      if (protocol() != TFtpProtocol::Sftp)
        ProtocolCB->setCurrentIndex(int(on ? TFtpProtocol::Ftps : TFtpProtocol::Ftp));
    });
    connect(SiteCB->lineEdit(), &QLineEdit::editingFinished, this, &TFtpForm::SiteCBChange);

    // FormCreate.
    PortEdit->setText(QStringLiteral("21"));
    SaveProfileCB->setChecked(false);
    ForceLowerCB->setChecked(true);
    ConvHtmlCB->setChecked(false);
    AutoDirCB->setChecked(true);
    SlowHostCB->setChecked(false);
    PassiveCB->setChecked(true);  // a site typed in from scratch starts passive, like a new profile
    UseTlsCB->setChecked(true);
    ProtocolCB->setCurrentIndex(int(TFtpProtocol::Ftps));
    if (!m_ini.load())
        log(QStringLiteral("! ") + m_ini.fileName() + QStringLiteral(": ") + m_ini.error());
    SiteCB->addItems(ReadProfileNames(m_ini));
    SiteCB->setEditText(QStringLiteral("SiteCB"));
    const int last = m_ini.readInteger(QStringLiteral("LastUsed"), QStringLiteral("Profile"), 0);
    if (last >= 0 && last < SiteCB->count())
        SiteCB->setCurrentIndex(last);
    if (!SiteCB->currentText().isEmpty())
        ReadProfile(SiteCB->currentText());
    if (m_panel)
        m_panel->setForm(this);
}

TFtpForm::~TFtpForm()
{
    // The client's reports must not reach a half-destroyed window. Nothing here reaches the main
    // window or asks the user: the profiles were saved when the program closed.
    disconnect(FtpClient1, nullptr, this, nullptr);
    if (m_sftp) disconnect(m_sftp, nullptr, this, nullptr);
    if (m_busyCursor)
        QApplication::restoreOverrideCursor();
}

void TFtpForm::programClosing()
{
    disconnectSession();
    if (SaveProfileCB->isChecked())
        SortProfiles();
}

void TFtpForm::closeEvent(QCloseEvent *e)
{
    // Closing by the title bar is the Exit button.
    e->ignore();
    ExitButClick();
}

void TFtpForm::setBusyCursor(bool on)
{
    if (on == m_busyCursor)
        return;
    m_busyCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TFtpForm::log(const QString &line)
{
    for (QPlainTextEdit *m : {Memo1, m_panel ? m_panel->Memo1 : nullptr}) {
        if (!m)
            continue;
        m->appendPlainText(line);
        m->verticalScrollBar()->setValue(m->verticalScrollBar()->maximum());
    }
}

bool TFtpForm::busy() const
{
    // Between the end of a request and its report (which may start the next one) the client is
    // idle but the chain is not: commands wait for the report too.
    if (m_sftpSession) return m_sftp && m_sftp->pending() > 0;
    return FtpClient1->State() != TFtpState::Ready || m_reportPending;
}

TFtpProtocol TFtpForm::protocol() const {
  const int i = ProtocolCB->currentIndex();
  return i == int(TFtpProtocol::Sftp)   ? TFtpProtocol::Sftp
         : i == int(TFtpProtocol::Ftps) ? TFtpProtocol::Ftps
                                        : TFtpProtocol::Ftp;
}

void TFtpForm::protocolChanged(int index) {
  const bool sftp = index == int(TFtpProtocol::Sftp);
  UseTlsCB->setEnabled(!sftp);
  PassiveCB->setEnabled(!sftp);
  if (!sftp) UseTlsCB->setChecked(index == int(TFtpProtocol::Ftps));
  // Only a port left at the other protocol's default follows the choice.
  const QString port = PortEdit->text().trimmed();
  if (sftp && port == QLatin1String("21"))
    PortEdit->setText(QStringLiteral("22"));
  else if (!sftp && port == QLatin1String("22"))
    PortEdit->setText(QStringLiteral("21"));
}

// ---------------------------------------------------------------------------------------------
// Profiles

void TFtpForm::applyProfile(const TFtpProfile &p)
{
    HostNameEdit->setText(p.hostName);
    InitialLocalDirEdit->setText(p.initialLocalDir);
    InitialDirEdit->setText(p.initialDir);
    UserNameEdit->setText(p.userName);
    PasswordEdit->setText(p.password);
    PortEdit->setText(QString::number(p.port));
    ForceLowerCB->setChecked(p.forceLower);
    ConvHtmlCB->setChecked(p.convertHtml);
    AutoDirCB->setChecked(p.autoDir);
    SlowHostCB->setChecked(p.slowHost);
    PassiveCB->setChecked(p.passive);
    UseTlsCB->setChecked(p.useTls);
    {
      // The stored port stays as it is.
      const QSignalBlocker block(ProtocolCB);
      ProtocolCB->setCurrentIndex(int(p.protocol));
    }
    UseTlsCB->setEnabled(p.protocol != TFtpProtocol::Sftp);
    PassiveCB->setEnabled(p.protocol != TFtpProtocol::Sftp);
    m_tlsFingerprint = p.tlsFingerprint;
}

void TFtpForm::FtpClient1Certificate(const QString &details, const QString &fingerprint, bool changed, bool &accept)
{
    const QString head = changed ? QStringLiteral("WARNING: the certificate of this site has CHANGED since you trusted it.\n"
                                                  "Someone may be intercepting the connection.\n\n")
                                 : QStringLiteral("The certificate of this site could not be verified.\n\n");
    accept = m_host.askYesNo(QStringLiteral("FTP Site Certificate"),
                             head + details + QStringLiteral("\n\nTrust this certificate for this site?"));
    log(accept ? QStringLiteral("! Certificate trusted by the user: ") + fingerprint
               : QStringLiteral("! Certificate refused by the user"));
    if (accept) {
        m_tlsFingerprint = fingerprint;
        rememberForSite(QStringLiteral("TlsFingerprint"), fingerprint);
    }
}

void TFtpForm::rememberForSite(const QString &key, const QString &value)
{
    const QString name = SiteCB->currentText().trimmed();
    if (name.isEmpty() || !m_ini.sectionExists(name))
        return;  // not a stored profile yet: saving it later takes the field values
    m_ini.writeString(name, key, value);
    if (!m_ini.save())
        log(QStringLiteral("! ") + m_ini.fileName() + QStringLiteral(": ") + m_ini.error());
}

void TFtpForm::ReadProfile(const QString &name)
{
    const QString hostName = m_ini.readString(name, QStringLiteral("HostName"));
    HostNameEdit->setText(hostName);
    if (hostName.isEmpty())
        return;
    int i = SiteCB->findText(name, Qt::MatchFixedString);  // without regard to case
    if (i < 0) {
        SiteCB->addItem(name);
        i = SiteCB->count() - 1;
    }
    SiteCB->setCurrentIndex(i);
    applyProfile(ReadFtpProfile(m_ini, name));
}

void TFtpForm::SiteCBChange() { ReadProfile(SiteCB->currentText()); }

void TFtpForm::NewSiteButClick()
{
    const QString answer = m_host.askText(QStringLiteral("New FTP Site"), QStringLiteral("Enter Site Profile Name")).trimmed();
    if (answer.isEmpty())
        return;
    const QString name = answer.toUpper();
    const int existing = SiteCB->findText(name, Qt::MatchFixedString);
    if (existing >= 0) {
        m_host.showMessage(answer + QStringLiteral(" already exists"));
        SiteCB->setCurrentIndex(existing);
        ReadProfile(SiteCB->itemText(existing));
        return;
    }
    SiteCB->addItem(name);
    SiteCB->setCurrentIndex(SiteCB->count() - 1);
    HostNameEdit->clear();
    InitialDirEdit->clear();
    UserNameEdit->clear();
    PasswordEdit->clear();
    // Paths keep their case here: file names are case-sensitive.
    InitialLocalDirEdit->setText(m_host.treeFolder());
    PortEdit->setText(QStringLiteral("21"));
    ForceLowerCB->setChecked(true);
    ConvHtmlCB->setChecked(true);
    AutoDirCB->setChecked(true);
    SlowHostCB->setChecked(false);
    PassiveCB->setChecked(true);
    UseTlsCB->setChecked(true);
    ProtocolCB->setCurrentIndex(int(TFtpProtocol::Ftps));
    m_tlsFingerprint.clear();
    if (SaveProfileCB->isChecked())
        UpdateProfile();
}

TFtpProfile TFtpForm::profileFromFields() const
{
    TFtpProfile p;
    p.hostName = HostNameEdit->text().trimmed();
    p.initialLocalDir = InitialLocalDirEdit->text();
    p.initialDir = InitialDirEdit->text();
    p.userName = UserNameEdit->text();
    p.password = PasswordEdit->text();
    p.port = PortEdit->text().trimmed().toInt();
    p.forceLower = ForceLowerCB->isChecked();
    p.convertHtml = ConvHtmlCB->isChecked();
    p.autoDir = AutoDirCB->isChecked();
    p.slowHost = SlowHostCB->isChecked();
    p.passive = PassiveCB->isChecked();
    p.protocol = protocol();
    p.useTls = p.protocol == TFtpProtocol::Ftps;
    p.tlsFingerprint = m_tlsFingerprint;
    return p;
}

bool TFtpForm::UpdateProfile()
{
    if (SiteCB->currentText().trimmed().isEmpty()) {
        QString answer = m_host.askText(QStringLiteral("New FTP Site"), QStringLiteral("Enter Site Profile Name")).trimmed();
        if (answer.isEmpty())
            answer = QStringLiteral("UNTITLED");
        answer = answer.toUpper();
        if (SiteCB->findText(answer, Qt::MatchFixedString) < 0)
            SiteCB->addItem(answer);
        SiteCB->setCurrentIndex(SiteCB->findText(answer, Qt::MatchFixedString));
    }
    const QString name = SiteCB->currentText().trimmed();
    bool portOk = false;
    const int port = PortEdit->text().trimmed().toInt(&portOk);
    if (!portOk || port < 1 || port > 65535) {
        m_host.showMessage(QStringLiteral("'") + PortEdit->text() + QStringLiteral("' is not a valid port number"));
        return false;
    }
    int n = SiteCB->findText(name, Qt::MatchFixedString);
    if (n < 0) {
        // A typed name joins the list, so a second typed name cannot take the same index.
        SiteCB->addItem(name);
        n = SiteCB->count() - 1;
        SiteCB->setCurrentIndex(n);
    }
    m_ini.writeString(QStringLiteral("Profiles"), QStringLiteral("Name") + QString::number(n), name);
    TFtpProfile p = profileFromFields();
    p.port = port;
    WriteFtpProfile(m_ini, name, p);
    m_ini.writeInteger(QStringLiteral("LastUsed"), QStringLiteral("Profile"), n);
    if (!m_ini.save()) {
        m_host.showMessage(QStringLiteral("Error: ") + m_ini.fileName() + QStringLiteral(": ") + m_ini.error());
        return false;
    }
    return true;
}

void TFtpForm::SortProfiles()
{
    // Runs at the program's end: with no name in the box there is nothing to save under, and no
    // question is asked then.
    if (!SiteCB->currentText().trimmed().isEmpty() && !UpdateProfile())
        return;
    const QString current = SiteCB->currentText().trimmed();
    QStringList names;
    for (int i = 0; i < SiteCB->count(); ++i)
        names << SiteCB->itemText(i);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    m_ini.eraseSection(QStringLiteral("Profiles"));
    for (int i = 0; i < names.size(); ++i)
        m_ini.writeString(QStringLiteral("Profiles"), QStringLiteral("Name") + QString::number(i), names[i]);
    int idx = -1;
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(current, Qt::CaseInsensitive) == 0)
            idx = i;
    if (idx < 0) {
        m_host.showMessage(QStringLiteral("Error: can not find the current site in sorted list"));
        idx = 0;
    }
    m_ini.writeInteger(QStringLiteral("LastUsed"), QStringLiteral("Profile"), idx);
    SiteCB->clear();
    SiteCB->addItems(names);
    SiteCB->setCurrentIndex(idx);
    if (!m_ini.save())
        m_host.showMessage(QStringLiteral("Error: ") + m_ini.fileName() + QStringLiteral(": ") + m_ini.error());
}

// ---------------------------------------------------------------------------------------------
// Session

bool TFtpForm::start(const std::function<void()> &request)
{
    try {
        request();
        m_reportPending = true;
        return true;
    } catch (const FtpException &e) {
        log(QStringLiteral("! ") + e.message());
    } catch (const std::exception &e) {
        log(QStringLiteral("! ") + QString::fromLocal8Bit(e.what()));
    }
    setBusyCursor(false);
    return false;
}

void TFtpForm::ConnectButClick()
{
    if (m_panel) {
        m_panel->RemoteDirList->clear();
        m_panel->clearListing();
    }
    FtpClient1->setTimeout(SlowHostCB->isChecked() ? 180 : 45);
    if (!InitialLocalDirEdit->text().isEmpty()) {
        if (QFileInfo(InitialLocalDirEdit->text()).isDir()) {
            m_host.setLocalFolder(InitialLocalDirEdit->text());
        } else {
            InitialLocalDirEdit->setText(m_host.localFolder());
        }
    }
    if (SaveProfileCB->isChecked() && !UpdateProfile())
        return;
    if (FtpClient1->Connected() || busy() || m_sftp)  // an SFTP session ends too when FTP is chosen next
      disconnectSession();
    m_ended = false;
    Memo1->clear();
    if (m_panel)
        m_panel->Memo1->clear();
    log(QStringLiteral("Connecting to ") + HostNameEdit->text() + QStringLiteral(" ..."));
    setBusyCursor(true);
    MaskedPassword = QString(PasswordEdit->text().size(), QLatin1Char('*'));
    m_sftpSession = protocol() == TFtpProtocol::Sftp;
    if (m_sftpSession) {
      sftpConnect();
      return;
    }
    FtpClient1->setBinary(true);
    FtpClient1->setPassive(PassiveCB->isChecked());
    FtpClient1->setUseTls(UseTlsCB->isChecked());
    FtpClient1->setTrustedFingerprint(m_tlsFingerprint);
    FtpClient1->setHostDirName(InitialDirEdit->text());
    FtpClient1->setHostName(HostNameEdit->text().trimmed());
    FtpClient1->setUserName(UserNameEdit->text());
    FtpClient1->setPassWord(PasswordEdit->text());
    // The profile's port is honoured (a server on another port could not be reached otherwise).
    bool ok = false;
    const int port = PortEdit->text().trimmed().toInt(&ok);
    FtpClient1->setPort(ok && port > 0 && port < 65536 ? QString::number(port) : QStringLiteral("ftp"));
    m_connecting = true;
    m_dirRetries = 0;
    UploadIdle = DownloadIdle = true;
    QueueCount = 0;
    if (!start([this] { FtpClient1->ConnectAsync(); }))
        m_connecting = false;
}

void TFtpForm::disconnectSession()
{
    m_connecting = false;
    m_afterType = nullptr;
    TransferQueue.clear();
    QueueCount = 0;
    UploadIdle = DownloadIdle = true;
    ViewMode = false;
    // Reports of the ended session are delivered now and only logged, so none of them starts a
    // follow-up request or shows a message after the user has left.
    m_ended = true;
    if (m_sftpSession) {
      sftpEnd();
      finishBatch();
      return;
    }
    if (FtpClient1->State() != TFtpState::Ready)
        FtpClient1->Abort();
    else if (FtpClient1->Connected())
        FtpClient1->Quit();
    QCoreApplication::sendPostedEvents(FtpClient1, QEvent::MetaCall);
    m_reportPending = false;
    finishBatch();
}

void TFtpForm::ExitButClick()
{
    disconnectSession();
    if (SaveProfileCB->isChecked())
        UpdateProfile();
    m_host.restoreMenus();
    hide();
}

void TFtpForm::FtpClient1Display(QString &msg)
{
    if (msg.contains(QLatin1String("PASS ")))
        msg = QStringLiteral("> PASS ") + MaskedPassword;
    log(msg);
}

void TFtpForm::FtpClient1Progress(qint64 count, bool &abort)
{
    const int rq = FtpClient1->RequestType();
    // A few updates a second are enough for the eye.
    if ((rq == ftpGetAsync || rq == ftpPutAsync) && m_panel && (!m_progressClock.isValid() || m_progressClock.elapsed() > 100)) {
        m_panel->lblProgress->setText(QString::number(count));
        m_progressClock.start();
    }
    if (m_abort)
        abort = true;
}

void TFtpForm::showFinalCount()
{
    if (m_panel)
        m_panel->lblProgress->setText(QString::number(FtpClient1->ByteCount() + qMax<qint64>(0, FtpClient1->ResumeAt())));
    m_progressClock.invalidate();
}

void TFtpForm::abortTransfer()
{
  if (m_sftpSession) {
    if (!busy()) return;
    m_abort = true;
    TransferQueue.clear();
    QueueCount = 0;
    log(QStringLiteral("! Transfer cancelled"));
    m_sftp->cancel();
    return;
  }
    if (FtpClient1->State() == TFtpState::Ready)
        return;
    m_abort = true;
    TransferQueue.clear();
    QueueCount = 0;
    log(QStringLiteral("! Transfer cancelled"));
    // The next progress report closes the data connection and keeps the session; a transfer that
    // has gone silent is stopped harder.
    QTimer::singleShot(3000, this, [this] {
        if (m_abort && FtpClient1->State() != TFtpState::Ready)
            FtpClient1->Abort();
    });
}

void TFtpForm::withType(bool binary, std::function<void()> then)
{
    if (FtpClient1->Binary() == binary && !m_forceType) {
        then();
        return;
    }
    m_forceType = false;
    FtpClient1->setBinary(binary);
    m_afterType = std::move(then);
    if (!start([this] { FtpClient1->TypeSetAsync(); })) {
        m_afterType = nullptr;
        finishBatch();
    }
}

void TFtpForm::FtpClient1RequestDone(int rq, quint16 error)
{
    m_reportPending = false;
    log(QStringLiteral("Done (request=") + FtpRequestName(rq) + QStringLiteral("  error code=") + QString::number(error)
        + QStringLiteral(")"));
    emit requestDone(rq, error);
    if (m_ended)
        return;
    if (error != 0) {
        setBusyCursor(false);
        if (m_panel)
            m_panel->CloseBut->setEnabled(true);
        const bool cancelled = m_abort;
        const bool noTls = rq == ftpConnectAsync && FtpClient1->TlsRefused();
        if (noTls) {
            // Plain FTP only when the user agrees, once per site.
            m_connecting = false;
            if (m_host.askYesNo(QStringLiteral("FTP without TLS"),
                                FtpClient1->ErrorMessage()
                                    + QStringLiteral("\n\nConnect without TLS? Your password and files would cross "
                                                     "the network unencrypted."))) {
                UseTlsCB->setChecked(false);
                rememberForSite(QStringLiteral("UseTls"), QStringLiteral("0"));
                QTimer::singleShot(0, this, &TFtpForm::ConnectButClick);
            }
            return;
        }
        // A cancelled transfer is not an error to report.
        if (!cancelled)
            m_host.showMessage((error == 226 ? QStringLiteral("Message: ") : QStringLiteral("Error: ")) + FtpClient1->ErrorMessage());
    }
    switch (rq) {
    case ftpConnectAsync:
        if (error == 0) {
            start([this] { FtpClient1->SystAsync(); });
        } else {
            m_connecting = false;
        }
        break;
    case ftpSystAsync: {
        // The reply line itself, not the log: later lines may have been logged in between.
        if (m_panel)
            m_panel->UnixListing = !FtpClient1->LastReply().contains(QLatin1String("Windows_NT"));
        if (m_connecting) {
            m_connecting = false;
            if (!InitialDirEdit->text().isEmpty()) {
                FtpClient1->setHostDirName(InitialDirEdit->text());
                start([this] { FtpClient1->CwdAsync(); });
            } else {
                start([this] { FtpClient1->PwdAsync(); });
            }
        }
        break;
    }
    case ftpCwdAsync:
    case ftpMkdAsync:
    case ftpRmdAsync:
    case ftpCDupAsync:
        start([this] { FtpClient1->PwdAsync(); });
        break;
    case ftpPwdAsync:
        setBusyCursor(false);
        if (m_panel && error == 0)
            m_panel->RemoteDirEdit->setText(FtpClient1->ReplyDir());
        if (AutoDirCB->isChecked()) {
            RefreshListing();
        } else {
            m_host.showPanel();
            hide();
        }
        break;
    case ftpTypeSetAsync:
        if (m_afterType) {
            auto then = std::move(m_afterType);
            m_afterType = nullptr;
            then();
        }
        break;
    case ftpDirAsync:
        if (error == 226 && m_dirRetries < kMaxDirRetries) {
            ++m_dirRetries;
            start([this] { FtpClient1->DirAsync(); });
        } else if (error == 0) {
            m_dirRetries = 0;
            if (m_panel)
                m_panel->ParseDir(FtpClient1->LocalFileName());
            m_host.showPanel();
            hide();
            emit listingShown();
        } else {
            m_dirRetries = 0;
            QFile::remove(FtpClient1->LocalFileName());
        }
        break;
    case ftpPutAsync:
        showFinalCount();
        if (QueueCount > 0) {
            UploadNext();
        } else {
            finishBatch();
            m_host.showMainWindow();
            RefreshListing();
        }
        break;
    case ftpGetAsync:
        showFinalCount();
        if (ViewMode) {
            ViewMode = false;
            if (error == 0 && !m_abort)
              ViewTheFile(FtpClient1->LocalFileName());
            else
                QFile::remove(FtpClient1->LocalFileName());
            finishBatch();
        } else if (QueueCount > 0) {
            DownloadNext();
        } else {
            finishBatch();
            m_host.refreshLocal();
            m_host.showMainWindow();
        }
        break;
    case ftpRenAsync: RefreshListing(); break;
    case ftpDeleAsync:
        if (QueueCount > 0)
            RemoteDelete();
        else
            RefreshListing();
        break;
    default:
        break;
    }
}

void TFtpForm::finishBatch()
{
    m_abort = false;
    ViewMode = false;
    UploadIdle = DownloadIdle = true;
    QueueCount = 0;
    setBusyCursor(false);
    if (m_panel) {
        m_panel->setButtonsEnabled(true);
        m_panel->AbortBut->setVisible(false);
    }
}

void TFtpForm::RefreshListing()
{
    if (!AutoDirCB->isChecked()) {
        m_host.showMainWindow();
        return;
    }
    if (m_sftpSession) {
      if (m_sftp) m_sftp->list();
      return;
    }
    FtpClient1->setHostFileName(QString());
    FtpClient1->setLocalFileName(tempPath(QStringLiteral("ftpdir.txt")));
    withType(false, [this] { start([this] { FtpClient1->DirAsync(); }); });
}

QString TFtpForm::tempPath(const QString &name) const
{
    if (!m_temp) {
        auto *self = const_cast<TFtpForm *>(this);
        self->m_temp = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnwick-ftp-XXXXXX"));
    }
    if (!m_temp->isValid())  // no private folder could be made: the plain temporary folder
        return QDir::tempPath() + QStringLiteral("/tarnwick-ftp-") + name;
    return m_temp->filePath(name);
}

QString TFtpForm::remoteNameFor(const QString &localPath) const
{
    QString name = QFileInfo(localPath).fileName();
    if (ForceLowerCB->isChecked())
        name = name.toLower();
    if (ConvHtmlCB->isChecked())
        name = htmToHtml(name);
    return name;
}

QString TFtpForm::localPathFor(const QString &remoteName) const
{
    // Only the last part of a remote name: "../x" or "a/b" must not write outside the folder.
    QString name = QFileInfo(remoteName).fileName();
    if (name == QLatin1String("..") || name == QLatin1String("."))
        name.clear();
    if (ForceLowerCB->isChecked())
        name = name.toLower();
    if (ConvHtmlCB->isChecked())
        name = htmToHtml(name);
    const QString folder = m_host.localFolder();
    return platform::AppendSlash(folder) + name;
}

void TFtpForm::UploadAll()
{
    if (TransferQueue.isEmpty())
        return;
    if (m_sftpSession) {  // SFTP moves bytes as they are: there is no text mode
      QueueCount = int(TransferQueue.size());
      sftpUploadNext();
      return;
    }
    const bool binary = !m_panel || m_panel->binarySelected();
    m_forceType = true;  // the type is set for every batch, as the server may have forgotten it
    withType(binary, [this] {
        QueueCount = int(TransferQueue.size());
        UploadNext();
    });
}

void TFtpForm::UploadNext()
{
    if (UploadIdle && m_panel) {
        m_panel->setButtonsEnabled(false);
        m_panel->AbortBut->setVisible(true);
    }
    --QueueCount;
    if (QueueCount >= 0) {
        const QString local = TransferQueue.value(QueueCount);
        const QString remote = remoteNameFor(local);
        if (m_panel)
            FtpClient1->setHostDirName(m_panel->RemoteDirEdit->text());
        FtpClient1->setHostFileName(remote);
        FtpClient1->setLocalFileName(local);
        log(QStringLiteral("put ") + local + QStringLiteral(" ") + remote);
        UploadIdle = QueueCount == 0;
        if (!start([this] { FtpClient1->PutAsync(); }))
            finishBatch();
        return;
    }
    finishBatch();
}

void TFtpForm::DownloadAll()
{
    if (TransferQueue.isEmpty())
        return;
    if (m_sftpSession) {
      QueueCount = int(TransferQueue.size());
      sftpDownloadNext();
      return;
    }
    const bool binary = !m_panel || m_panel->binarySelected();
    m_forceType = true;
    withType(binary, [this] {
        QueueCount = int(TransferQueue.size());
        DownloadNext();
    });
}

void TFtpForm::DownloadNext()
{
    if (DownloadIdle && m_panel) {
        m_panel->setButtonsEnabled(false);
        m_panel->AbortBut->setVisible(true);
    }
    --QueueCount;
    if (QueueCount >= 0) {
        const QString remote = TransferQueue.value(QueueCount);
        const QString local = localPathFor(remote);
        if (m_panel)
            FtpClient1->setHostDirName(m_panel->RemoteDirEdit->text());
        FtpClient1->setHostFileName(remote);
        FtpClient1->setLocalFileName(local);
        log(QStringLiteral("get ") + remote + QStringLiteral(" ") + local);
        DownloadIdle = QueueCount == 0;
        if (!start([this] { FtpClient1->GetAsync(); }))
            finishBatch();
        return;
    }
    finishBatch();
}

void TFtpForm::RemoteDelete()
{
  if (m_sftpSession) {
    sftpDeleteNext();
    return;
  }
    --QueueCount;
    if (QueueCount < 0) {
        QueueCount = 0;
        return;
    }
    const QString name = TransferQueue.value(QueueCount);
    if (m_panel)
        FtpClient1->setHostDirName(m_panel->RemoteDirEdit->text());
    FtpClient1->setHostFileName(name);
    log(QStringLiteral("Del ") + name);
    start([this] { FtpClient1->DeleAsync(); });
}

void TFtpForm::View()
{
    if (TransferQueue.isEmpty()) {
        ViewMode = false;
        return;
    }
    if (m_sftpSession) {
      sftpView();
      return;
    }
    withType(false, [this] {
        QueueCount = int(TransferQueue.size());
        if (m_panel)
            FtpClient1->setHostDirName(m_panel->RemoteDirEdit->text());
        ViewName = TransferQueue.first();
        QString safe = QFileInfo(ViewName).fileName();
        if (safe.isEmpty() || safe == QLatin1String("..") || safe == QLatin1String("."))
            safe = QStringLiteral("view.txt");
        const QString local = tempPath(safe);
        FtpClient1->setLocalFileName(local);
        FtpClient1->setHostFileName(ViewName);
        log(QStringLiteral("get ") + ViewName + QStringLiteral(" ") + local);
        ViewMode = true;
        if (m_panel) {
            m_panel->setButtonsEnabled(false);
            m_panel->AbortBut->setVisible(true);
        }
        if (!start([this] { FtpClient1->GetAsync(); })) {
            ViewMode = false;
            finishBatch();
        }
    });
}

void TFtpForm::ViewTheFile(const QString &file) {
  if (!QFileInfo::exists(file)) return;
  QStringList cmd = viewerCommand.isEmpty() ? ftpviewer::textEditorCommand() : viewerCommand;
  if (cmd.isEmpty()) {
    // No text editor on the desktop: our own editor tab shows it (the file stays in our
    // temporary folder until the program ends).
    m_host.viewInEditor(file);
    return;
  }
  const QString program = cmd.takeFirst();
  auto *proc = new QProcess(this);
  auto *clock = new QElapsedTimer;
  clock->start();
  connect(
      proc, &QProcess::finished, this, [proc, file, clock] {
        // Some editors hand the file to a running instance and return at once; the file then
        // stays until the program ends (our temporary folder goes with it).
        if (clock->elapsed() > 3000)
            QFile::remove(file);
        delete clock;
        proc->deleteLater();
      });
  connect(proc, &QProcess::errorOccurred, this, [this, proc, file, program, clock](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    m_host.showMessage(QStringLiteral("Error: can not find:") + program);
    QFile::remove(file);
    delete clock;
    proc->deleteLater();
  });
  proc->start(program, cmd << file);
}

void TFtpForm::changeDir(const QString &dir) {
  setBusyCursor(true);
  if (m_sftpSession) {
    if (m_sftp) m_sftp->changeDir(rawName(dir));
    return;
  }
  FtpClient1->setHostDirName(dir);
  start([this] { FtpClient1->CwdAsync(); });
}

void TFtpForm::upOneDir()
{
    setBusyCursor(true);
    if (m_sftpSession) {
      if (m_sftp) m_sftp->changeDir("..");
      return;
    }
    start([this] { FtpClient1->CDupAsync(); });
}

void TFtpForm::makeDir(const QString &name)
{
  if (m_sftpSession) {
    if (m_sftp) m_sftp->makeDir(name.toUtf8());
    return;
  }
    FtpClient1->setHostFileName(name);
    start([this] { FtpClient1->MkdAsync(); });
}

void TFtpForm::removeDir(const QString &name)
{
  if (m_sftpSession) {
    if (m_sftp) m_sftp->removeDir(rawName(name));
    return;
  }
    FtpClient1->setHostFileName(name);
    start([this] { FtpClient1->RmdAsync(); });
}

void TFtpForm::renameRemote(const QString &from, const QString &to) {
  log(QStringLiteral("rename ") + from + QStringLiteral(" ") + to);
  if (m_sftpSession) {
    if (m_sftp) m_sftp->rename(rawName(from), to.toUtf8());
    return;
  }
  FtpClient1->setHostFileName(from);
  FtpClient1->setLocalFileName(to);
  start([this] { FtpClient1->RenAsync(); });
}
