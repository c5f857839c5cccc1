// Site profiles: the profile-file format, the scrambled passwords, and the FTP window's profile
// commands (new site, save, reload, sorting at the end) on a real file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <sys/stat.h>

#include "windows/ftp/ftpform.h"
#include "windows/ftp/ftpprofiles.h"
#include "tests/common/testenv.h"
#include "tests/windows/ftp/ftptesthost.h"

TEST(Passwords, ScrambleAndBase64RoundTrip)
{
    // Three bytes make four Base64 characters without padding; four make eight ending in "==".
    EXPECT_EQ(EncodePassword(QStringLiteral("abc")).size(), 4);
    EXPECT_FALSE(EncodePassword(QStringLiteral("abc")).contains(QLatin1Char('=')));
    const QString four = EncodePassword(QStringLiteral("abcd"));
    EXPECT_EQ(four.size(), 8);
    EXPECT_TRUE(four.endsWith(QStringLiteral("==")));
    for (const QString &pw : {QStringLiteral("abc"), QStringLiteral("abcd"), QStringLiteral("s3cr\u00e9t pass"),
                              QStringLiteral("x"), QString(200, QLatin1Char('z'))})
        EXPECT_EQ(DecodePassword(EncodePassword(pw)), pw);
    // The stored text is not the password in Base64 (it is scrambled first), and the scrambling
    // depends on what came before: equal letters do not give equal bytes.
    EXPECT_NE(EncodePassword(QStringLiteral("abcd")), QString::fromLatin1(QByteArray("abcd").toBase64()));
    const QByteArray s = StrEncrypt("aaaa");
    EXPECT_EQ(s.size(), 4);
    EXPECT_FALSE(s[0] == s[1] && s[1] == s[2]);
    EXPECT_EQ(StrDecrypt(s), QByteArray("aaaa"));
    // A damaged stored value reads as empty, not as garbage.
    bool ok = true;
    EXPECT_TRUE(Base64Decode(QStringLiteral("ab$%"), &ok).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(DecodePassword(QStringLiteral("!!!!")), QString());
    EXPECT_EQ(DecodePassword(QString()), QString());
}

TEST(IniFile, HandEditedAndDamagedFilesLoadWhatTheyCan)
{
    const QString dir = testenv::makeDir(QStringLiteral("ini"));
    const QString path = testenv::writeFile(dir + QStringLiteral("/Tarnwick.Ftp"),
                                            "; my sites\r\n"
                                            "[profiles]\r\n"
                                            "Name0=HOME\n"
                                            "garbage line without equals\n"
                                            "Name1 = WORK \n"
                                            "[HOME\n"                // broken header: ignored
                                            "\x01\x02\xff\xfe=\n"    // junk key
                                            "[Home]\n"
                                            "HostName=home.example\n"
                                            "Port=notanumber\n"
                                            "ForceLower=0\n"
                                            "AutoDir=7\n"
                                            "[WORK]\n"
                                            "HostName=work.example\n"
                                            "Password=%%%\n");
    TIniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ReadProfileNames(ini), QStringList({QStringLiteral("HOME"), QStringLiteral("WORK")}));
    const TFtpProfile home = ReadFtpProfile(ini, QStringLiteral("HOME"));
    EXPECT_EQ(home.hostName, QStringLiteral("home.example"));
    EXPECT_EQ(home.port, 21);  // not a number: the default
    EXPECT_FALSE(home.forceLower);
    EXPECT_TRUE(home.autoDir);  // any non-zero number is true
    EXPECT_TRUE(home.convertHtml);  // missing: the default
    EXPECT_EQ(home.initialLocalDir, QStringLiteral("/"));
    EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("WORK")).password, QString());

    // Writing back keeps the comment and the lines it did not understand.
    ini.writeString(QStringLiteral("WORK"), QStringLiteral("UserName"), QStringLiteral("me\nInjected=1"));
    ASSERT_TRUE(ini.save());
    const QByteArray text = testenv::readFile(path);
    EXPECT_TRUE(text.contains("; my sites"));
    EXPECT_TRUE(text.contains("garbage line without equals"));
    TIniFile again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.readString(QStringLiteral("work"), QStringLiteral("username")), QStringLiteral("me Injected=1"));
    EXPECT_EQ(again.readString(QStringLiteral("WORK"), QStringLiteral("Injected")), QString());

    // A save into a folder that cannot be written fails and says so.
    TIniFile bad(dir + QStringLiteral("/no/such/folder/x.ftp"));
    bad.writeString(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
    EXPECT_FALSE(bad.save());
    EXPECT_FALSE(bad.error().isEmpty());
}

TEST(Profiles, ProtocolChoiceKeepsOldProfilesAndTheOtherKeys)
{
    const QString dir = testenv::makeDir(QStringLiteral("proto"));
    const QByteArray old = "[Profiles]\r\nName0=PLAIN\r\nName1=TLS\r\n"
                           "[PLAIN]\r\nHostName=plain.example\r\nPort=2121\r\nUserName=me\r\nPassive=1\r\n"
                           "[TLS]\r\nHostName=tls.example\r\nUseTls=1\r\nTlsFingerprint=ab:cd\r\n"
                           "[S1]\r\nHostName=s1\r\nProtocol=sftp\r\nPort=21\r\n"
                           "[S2]\r\nHostName=s2\r\nProtocol= SFTP \r\n"
                           "[S3]\r\nHostName=s3\r\nProtocol=sftp\r\nPort=2222\r\n"
                           "[F1]\r\nProtocol=ftps\r\nUseTls=0\r\n"
                           "[F2]\r\nProtocol=ftp\r\nUseTls=1\r\n"
                           "[ODD]\r\nProtocol=gopher\r\nUseTls=1\r\nPort=990\r\n";
    const QString path = testenv::writeFile(dir + QStringLiteral("/Tarnwick.Ftp"), old);
    TIniFile ini(path);
    ASSERT_TRUE(ini.load());
    // Without the key: what the TLS flag says, everything else as before.
    const TFtpProfile plain = ReadFtpProfile(ini, QStringLiteral("PLAIN"));
    EXPECT_EQ(plain.protocol, TFtpProtocol::Ftp);
    EXPECT_FALSE(plain.useTls);
    EXPECT_EQ(plain.port, 2121);
    EXPECT_TRUE(plain.passive);
    const TFtpProfile tls = ReadFtpProfile(ini, QStringLiteral("TLS"));
    EXPECT_EQ(tls.protocol, TFtpProtocol::Ftps);
    EXPECT_TRUE(tls.useTls);
    EXPECT_EQ(tls.port, 21);
    EXPECT_EQ(tls.tlsFingerprint, QStringLiteral("ab:cd"));
    // SFTP: FTP's port 21, stored or by default, means 22; another port stays.
    for (const char *n : {"S1", "S2"}) {
        const TFtpProfile s = ReadFtpProfile(ini, QString::fromLatin1(n));
        EXPECT_EQ(s.protocol, TFtpProtocol::Sftp) << n;
        EXPECT_EQ(s.port, 22) << n;
    }
    EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("S3")).port, 2222);
    // The key, when understood, wins over the flag; a value it does not know leaves the flag to decide.
    EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("F1")).protocol, TFtpProtocol::Ftps);
    EXPECT_TRUE(ReadFtpProfile(ini, QStringLiteral("F1")).useTls);
    EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("F2")).protocol, TFtpProtocol::Ftp);
    EXPECT_FALSE(ReadFtpProfile(ini, QStringLiteral("F2")).useTls);
    const TFtpProfile odd = ReadFtpProfile(ini, QStringLiteral("ODD"));
    EXPECT_EQ(odd.protocol, TFtpProtocol::Ftps);
    EXPECT_EQ(odd.port, 990);

    // Written back: the protocol round-trips, "UseTls" matches it for older readers, and the other
    // keys keep their values.
    TFtpProfile s = plain;
    s.protocol = TFtpProtocol::Sftp;
    s.port = DefaultFtpPort(TFtpProtocol::Sftp);
    WriteFtpProfile(ini, QStringLiteral("PLAIN"), s);
    TFtpProfile onlyFlag = tls;  // a caller that knows only the TLS flag
    onlyFlag.protocol = TFtpProtocol::Ftp;
    WriteFtpProfile(ini, QStringLiteral("TLS"), onlyFlag);
    ASSERT_TRUE(ini.save());
    TIniFile again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.readString(QStringLiteral("PLAIN"), QStringLiteral("Protocol")), QStringLiteral("sftp"));
    EXPECT_EQ(again.readString(QStringLiteral("PLAIN"), QStringLiteral("UseTls")), QStringLiteral("0"));
    EXPECT_EQ(again.readString(QStringLiteral("TLS"), QStringLiteral("Protocol")), QStringLiteral("ftps"));
    EXPECT_EQ(again.readString(QStringLiteral("TLS"), QStringLiteral("UseTls")), QStringLiteral("1"));
    const TFtpProfile back = ReadFtpProfile(again, QStringLiteral("PLAIN"));
    EXPECT_EQ(back.protocol, TFtpProtocol::Sftp);
    EXPECT_EQ(back.port, 22);
    EXPECT_EQ(back.hostName, plain.hostName);
    EXPECT_EQ(back.userName, plain.userName);
    EXPECT_EQ(back.passive, plain.passive);
    EXPECT_EQ(again.readString(QStringLiteral("PLAIN"), QStringLiteral("Port")), QStringLiteral("22"));
    EXPECT_EQ(ReadFtpProfile(again, QStringLiteral("TLS")).tlsFingerprint, QStringLiteral("ab:cd"));
    EXPECT_EQ(ReadProfileNames(again), QStringList({QStringLiteral("PLAIN"), QStringLiteral("TLS")}));
    EXPECT_EQ(ReadFtpProfile(again, QStringLiteral("S3")).port, 2222);  // sections not written stay as they were
}

namespace {

struct FormFixture : ::testing::Test {
    void SetUp() override
    {
        path = testenv::makeDir(QStringLiteral("prof")) + QStringLiteral("/Tarnwick.Ftp");
        host.tree = QStringLiteral("/Some/Mixed/Case");
    }
    std::unique_ptr<TFtpForm> makeForm() { return std::make_unique<TFtpForm>(host, path, nullptr); }
    QString path;
    ftptest::RecordingHost host;  // before any window that uses it
    QStringList &answers = host.answers, &asked = host.asked, &messages = host.messages;
};

} // namespace

TEST_F(FormFixture, NewSiteSaveReloadAndSortedAtTheEnd)
{
    QByteArray atProgramEnd;
    {
        auto f = makeForm();
        EXPECT_EQ(f->SiteCB->count(), 0);
        f->SaveProfileCB->setChecked(true);
        answers << QStringLiteral("zeta site");
        f->NewSiteButClick();
        EXPECT_EQ(asked, QStringList{QStringLiteral("New FTP Site")});
        EXPECT_EQ(f->SiteCB->currentText(), QStringLiteral("ZETA SITE"));
        EXPECT_EQ(f->InitialLocalDirEdit->text(), QStringLiteral("/Some/Mixed/Case"));
        EXPECT_TRUE(f->ConvHtmlCB->isChecked());
        EXPECT_TRUE(f->PassiveCB->isChecked()) << "a new site starts in passive mode";
        f->HostNameEdit->setText(QStringLiteral("zeta.example"));
        f->UserNameEdit->setText(QStringLiteral("zed"));
        f->PasswordEdit->setText(QStringLiteral("pw1"));
        f->PortEdit->setText(QStringLiteral("2121"));
        f->SlowHostCB->setChecked(true);
        ASSERT_TRUE(f->UpdateProfile());

        answers << QStringLiteral("Alpha");
        f->NewSiteButClick();
        f->HostNameEdit->setText(QStringLiteral("alpha.example"));
        f->PasswordEdit->setText(QStringLiteral("secret"));
        f->PassiveCB->setChecked(false);
        ASSERT_TRUE(f->UpdateProfile());

        // The same name again, in another case: shown as typed, and the stored profile is loaded.
        answers << QStringLiteral("zEtA sItE");
        f->NewSiteButClick();
        EXPECT_EQ(messages, QStringList{QStringLiteral("zEtA sItE already exists")});
        EXPECT_EQ(f->SiteCB->currentText(), QStringLiteral("ZETA SITE"));
        EXPECT_EQ(f->HostNameEdit->text(), QStringLiteral("zeta.example"));
        EXPECT_EQ(f->PasswordEdit->text(), QStringLiteral("pw1"));
        EXPECT_EQ(f->PortEdit->text(), QStringLiteral("2121"));
        EXPECT_TRUE(f->SlowHostCB->isChecked());
        EXPECT_EQ(f->SiteCB->count(), 2);
        // The program's end sorts the names; the window's own end then writes nothing more.
        f->programClosing();
        atProgramEnd = testenv::readFile(path);
        f->PortEdit->setText(QStringLiteral("2222"));
    }
    EXPECT_EQ(testenv::readFile(path), atProgramEnd);

    const QByteArray text = testenv::readFile(path);
    EXPECT_FALSE(text.contains("pw1"));
    EXPECT_FALSE(text.contains("secret"));
    TIniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ReadProfileNames(ini), QStringList({QStringLiteral("ALPHA"), QStringLiteral("ZETA SITE")}));
    EXPECT_EQ(ini.readInteger(QStringLiteral("LastUsed"), QStringLiteral("Profile"), -1), 1);

    auto f = makeForm();
    EXPECT_EQ(f->SiteCB->currentText(), QStringLiteral("ZETA SITE"));
    EXPECT_EQ(f->HostNameEdit->text(), QStringLiteral("zeta.example"));
    EXPECT_EQ(f->UserNameEdit->text(), QStringLiteral("zed"));
    EXPECT_EQ(f->PasswordEdit->text(), QStringLiteral("pw1"));
    EXPECT_TRUE(f->PassiveCB->isChecked());
    f->SiteCB->setCurrentIndex(0);
    f->SiteCBChange();
    EXPECT_EQ(f->HostNameEdit->text(), QStringLiteral("alpha.example"));
    EXPECT_EQ(f->PasswordEdit->text(), QStringLiteral("secret"));
    EXPECT_FALSE(f->PassiveCB->isChecked());
}

TEST_F(FormFixture, MissingLastUsedHostlessSectionAndBadPort)
{
    testenv::writeFile(path, "[Profiles]\nName0=ONE\nName1=TWO\nName3=SKIPPED\n"
                             "[ONE]\nHostName=one.example\nUserName=uone\n"
                             "[TWO]\nUserName=nohost\n");
    auto f = makeForm();
    // No "LastUsed": the first profile; reading stops at the first missing index.
    EXPECT_EQ(f->SiteCB->count(), 2);
    EXPECT_EQ(f->SiteCB->currentText(), QStringLiteral("ONE"));
    EXPECT_EQ(f->UserNameEdit->text(), QStringLiteral("uone"));
    // Written before passive mode existed: the profile keeps working in active mode.
    EXPECT_FALSE(f->PassiveCB->isChecked());
    // A section without a host name changes nothing but the host field.
    f->ReadProfile(QStringLiteral("TWO"));
    EXPECT_EQ(f->UserNameEdit->text(), QStringLiteral("uone"));
    EXPECT_EQ(f->HostNameEdit->text(), QString());

    // A port that is not a number stops the save with a message; the file is unchanged.
    const QByteArray before = testenv::readFile(path);
    f->ReadProfile(QStringLiteral("ONE"));
    f->PortEdit->setText(QStringLiteral("abc"));
    EXPECT_FALSE(f->UpdateProfile());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().contains(QStringLiteral("abc")));
    EXPECT_EQ(testenv::readFile(path), before);

    // A typed, unlisted name joins the list, so a second one does not take its index.
    f->PortEdit->setText(QStringLiteral("21"));
    f->SiteCB->setEditText(QStringLiteral("TYPED1"));
    ASSERT_TRUE(f->UpdateProfile());
    f->SiteCB->setEditText(QStringLiteral("TYPED2"));
    ASSERT_TRUE(f->UpdateProfile());
    TIniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ReadProfileNames(ini),
              QStringList({QStringLiteral("ONE"), QStringLiteral("TWO"), QStringLiteral("TYPED1"), QStringLiteral("TYPED2")}));
}

TEST_F(FormFixture, EndWithoutANameAsksNothing)
{
    {
        auto f = makeForm();
        f->SaveProfileCB->setChecked(true);
        f->SiteCB->setEditText(QString());
        f->HostNameEdit->setText(QStringLiteral("nameless.example"));
        f->programClosing();
    }
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(testenv::readFile(path).contains("nameless"));
}

// The profiles hold the scrambled passwords and the trusted certificates: the file is its owner's alone when
// it is made, and an older file that others could read is narrowed by the next save.
TEST_F(FormFixture, ProfilesFileIsReadableByItsOwnerOnly)
{
    const auto mode = [](const QString &p) {
        struct stat st{};
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? QString::number(st.st_mode & 07777, 8) : QStringLiteral("missing");
    };
    const mode_t oldMask = ::umask(022);
    {
        auto f = makeForm();
        answers << QStringLiteral("home");
        f->NewSiteButClick();
        f->PasswordEdit->setText(QStringLiteral("pw1"));
        ASSERT_TRUE(f->UpdateProfile());
    }
    EXPECT_EQ(mode(path), "600");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    {
        auto f = makeForm();
        f->PasswordEdit->setText(QStringLiteral("pw2"));
        ASSERT_TRUE(f->UpdateProfile());
    }
    ::umask(oldMask);
    EXPECT_EQ(mode(path), "600") << "a file others could read stays so after a save";
    TIniFile ini(path);
    ASSERT_TRUE(ini.load());
    EXPECT_EQ(ReadFtpProfile(ini, QStringLiteral("HOME")).password, QStringLiteral("pw2"));
}
