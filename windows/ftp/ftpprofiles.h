#pragma once
// Site profiles: a Windows-style profile (INI) file and the scrambled, Base64-encoded passwords.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// A small profile-file reader and writer: "[Section]" headers and "Key=Value" entries; sections and
// keys compare without regard to case, as on Windows. Lines it does not understand (comments,
// damaged lines) are kept as they were when the file is written back.
class TIniFile {
public:
    explicit TIniFile(const QString &path);

    QString fileName() const { return m_path; }
    // Reads the file; a missing file is an empty profile. False (with error()) when it exists but
    // cannot be read.
    bool load();
    // Writes through a temporary file and a rename, readable by its owner only (mode 0600, an existing
    // wider file narrowed). False with error() on failure.
    bool save();
    QString error() const { return m_error; }

    QString readString(const QString &section, const QString &key, const QString &def = {}) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool readBool(const QString &section, const QString &key, bool def) const;
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void eraseSection(const QString &section);
    bool sectionExists(const QString &section) const;

private:
    struct Line {
        QString key;    // empty for a line that is not an entry
        QString value;
        QString raw;    // the text of a line that is not an entry
    };
    struct Section {
        QString name;  // empty for lines before the first header
        std::vector<Line> lines;
    };
    Section *find(const QString &section);
    const Section *find(const QString &section) const;

    QString m_path;
    QString m_error;
    std::vector<Section> m_sections;
};

// Password storage: scramble with a running 16-bit key, then Base64.
QByteArray StrEncrypt(const QByteArray &plain);
QByteArray StrDecrypt(const QByteArray &scrambled);
QString Base64Encode(const QByteArray &data);
// Empty on a malformed input (a damaged password reads as empty rather than as garbage).
QByteArray Base64Decode(const QString &text, bool *ok = nullptr);
QString EncodePassword(const QString &password);
QString DecodePassword(const QString &stored);

// How a site is reached. Stored as "Protocol" = "ftp", "ftps" or "sftp".
enum class TFtpProtocol { Ftp, Ftps, Sftp };
QString FtpProtocolKey(TFtpProtocol protocol);
// 21 for FTP and FTP over TLS, 22 for SFTP.
int DefaultFtpPort(TFtpProtocol protocol);

struct TFtpProfile {
    QString hostName;
    QString initialLocalDir = QStringLiteral("/");
    QString initialDir;
    QString userName;
    QString password;
    int port = 21;
    bool forceLower = true;
    bool convertHtml = true;
    bool autoDir = true;
    bool slowHost = true;
    // Stored as "Passive"; a profile written before the key existed reads as active mode.
    bool passive = false;
    // "UseTls" and "TlsFingerprint": explicit TLS, and the certificate the user trusts for the site
    // although it does not verify. Missing: plain, as before.
    bool useTls = false;
    QString tlsFingerprint;
    // "Protocol". A profile written before the key existed reads as FTP over TLS when "UseTls" is
    // set, else as FTP. Written as "ftps" when this says so or when useTls is set for FTP (callers
    // that only know the TLS flag keep working); "UseTls" is written to match, for older readers.
    // With SFTP, a port of 21 (FTP's) reads as 22.
    TFtpProtocol protocol = TFtpProtocol::Ftp;
};

// The profile section of `name` (defaults for what is missing).
TFtpProfile ReadFtpProfile(const TIniFile &ini, const QString &name);
void WriteFtpProfile(TIniFile &ini, const QString &name, const TFtpProfile &p);
// "Profiles"/"Name0", "Name1", ... up to the first empty or missing one.
QStringList ReadProfileNames(const TIniFile &ini);
