#include "windows/ftp/ftpprofiles.h"
#include "platform/savefile.h"

#include <QFile>

namespace {

// The three constants of the password scrambling; writing and reading must use the same ones.
constexpr quint16 kStartKey = 40237;
constexpr quint16 kMultKey = 52845;
constexpr quint16 kAddKey = 22719;

QString decodeText(const QByteArray &raw)
{
    QString s = QString::fromUtf8(raw);
    if (s.contains(QChar::ReplacementCharacter))
        s = QString::fromLatin1(raw);
    return s;
}

} // namespace

TIniFile::TIniFile(const QString &path) : m_path(path) {}

bool TIniFile::load()
{
    m_sections.clear();
    m_error.clear();
    m_sections.push_back(Section{});
    QFile f(m_path);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly)) {
        m_error = f.errorString();
        return false;
    }
    const QByteArray all = f.readAll();
    for (QByteArray raw : all.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString text = decodeText(raw);
        const QString t = text.trimmed();
        if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')) && t.size() > 2) {
            Section s;
            s.name = t.mid(1, t.size() - 2).trimmed();
            m_sections.push_back(std::move(s));
            continue;
        }
        Line line;
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        if (eq > 0 && !t.startsWith(QLatin1Char(';')) && !text.left(eq).trimmed().isEmpty()) {
            line.key = text.left(eq).trimmed();
            line.value = text.mid(eq + 1).trimmed();
        } else {
            line.raw = text;
        }
        m_sections.back().lines.push_back(std::move(line));
    }
    // A trailing empty line comes from the file's last line end, not from the user.
    auto &last = m_sections.back().lines;
    if (!last.empty() && last.back().key.isEmpty() && last.back().raw.isEmpty())
        last.pop_back();
    return true;
}

bool TIniFile::save()
{
    m_error.clear();
    QByteArray out;
    for (const Section &s : m_sections) {
        if (!s.name.isEmpty())
            out += '[' + s.name.toUtf8() + "]\r\n";
        for (const Line &l : s.lines) {
            if (l.key.isEmpty())
                out += l.raw.toUtf8();
            else
                out += l.key.toUtf8() + '=' + l.value.toUtf8();
            out += "\r\n";
        }
    }
    // Scrambled passwords and trusted certificates: the file is its owner's alone, like other clients'.
    return platform::saveFileAtomically(m_path, out, &m_error, platform::SaveAccess::OwnerOnly);
}

TIniFile::Section *TIniFile::find(const QString &section)
{
    for (Section &s : m_sections)
        if (!s.name.isEmpty() && s.name.compare(section, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const TIniFile::Section *TIniFile::find(const QString &section) const
{
    return const_cast<TIniFile *>(this)->find(section);
}

bool TIniFile::sectionExists(const QString &section) const { return find(section) != nullptr; }

QString TIniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    if (const Section *s = find(section))
        for (const Line &l : s->lines)
            if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0)
                return l.value;
    return def;
}

int TIniFile::readInteger(const QString &section, const QString &key, int def) const
{
    bool ok = false;
    const int v = readString(section, key).toInt(&ok);
    return ok ? v : def;
}

bool TIniFile::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    if (m_sections.empty())
        m_sections.push_back(Section{});
    Section *s = find(section);
    if (!s) {
        Section n;
        n.name = section;
        m_sections.push_back(std::move(n));
        s = &m_sections.back();
    }
    // Line breaks would split the entry on the next read.
    QString v = value;
    v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    for (Line &l : s->lines)
        if (!l.key.isEmpty() && l.key.compare(key, Qt::CaseInsensitive) == 0) {
            l.value = v;
            return;
        }
    s->lines.push_back(Line{key, v, {}});
}

void TIniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void TIniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::eraseSection(const QString &section)
{
    for (auto it = m_sections.begin(); it != m_sections.end(); ++it)
        if (!it->name.isEmpty() && it->name.compare(section, Qt::CaseInsensitive) == 0) {
            m_sections.erase(it);
            return;
        }
}

QByteArray StrEncrypt(const QByteArray &plain)
{
    QByteArray out(plain.size(), '\0');
    quint16 key = kStartKey;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const quint8 c = quint8(plain[i]) ^ quint8(key >> 8);
        out[i] = char(c);
        key = quint16((c + key) * kMultKey + kAddKey);
    }
    return out;
}

QByteArray StrDecrypt(const QByteArray &scrambled)
{
    QByteArray out(scrambled.size(), '\0');
    quint16 key = kStartKey;
    for (qsizetype i = 0; i < scrambled.size(); ++i) {
        const quint8 c = quint8(scrambled[i]);
        out[i] = char(c ^ quint8(key >> 8));
        key = quint16((c + key) * kMultKey + kAddKey);
    }
    return out;
}

QString Base64Encode(const QByteArray &data) { return QString::fromLatin1(data.toBase64()); }

QByteArray Base64Decode(const QString &text, bool *ok)
{
    const auto r = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (ok)
        *ok = bool(r);
    return r ? r.decoded : QByteArray();
}

QString EncodePassword(const QString &password) { return Base64Encode(StrEncrypt(password.toUtf8())); }

QString DecodePassword(const QString &stored)
{
    if (stored.isEmpty())
        return {};
    return QString::fromUtf8(StrDecrypt(Base64Decode(stored)));
}

QString FtpProtocolKey(TFtpProtocol protocol)
{
    switch (protocol) {
    case TFtpProtocol::Ftps: return QStringLiteral("ftps");
    case TFtpProtocol::Sftp: return QStringLiteral("sftp");
    default: return QStringLiteral("ftp");
    }
}

int DefaultFtpPort(TFtpProtocol protocol) { return protocol == TFtpProtocol::Sftp ? 22 : 21; }

TFtpProfile ReadFtpProfile(const TIniFile &ini, const QString &name)
{
    TFtpProfile p;
    p.hostName = ini.readString(name, QStringLiteral("HostName"));
    p.initialLocalDir = ini.readString(name, QStringLiteral("InitialLocalDir"), p.initialLocalDir);
    p.initialDir = ini.readString(name, QStringLiteral("InitialDir"));
    p.userName = ini.readString(name, QStringLiteral("UserName"));
    p.password = DecodePassword(ini.readString(name, QStringLiteral("Password")));
    p.port = ini.readInteger(name, QStringLiteral("Port"), 21);
    if (p.port < 1 || p.port > 65535)
        p.port = 21;
    p.forceLower = ini.readBool(name, QStringLiteral("ForceLower"), true);
    p.convertHtml = ini.readBool(name, QStringLiteral("ConvertHtml"), true);
    p.autoDir = ini.readBool(name, QStringLiteral("AutoDir"), true);
    p.slowHost = ini.readBool(name, QStringLiteral("SlowHost"), true);
    p.passive = ini.readBool(name, QStringLiteral("Passive"), false);
    p.useTls = ini.readBool(name, QStringLiteral("UseTls"), false);
    p.tlsFingerprint = ini.readString(name, QStringLiteral("TlsFingerprint"));
    const QString protocol = ini.readString(name, QStringLiteral("Protocol")).trimmed().toLower();
    if (protocol == QLatin1String("sftp")) {
        p.protocol = TFtpProtocol::Sftp;
        if (p.port == 21)
            p.port = 22;
    } else if (protocol == QLatin1String("ftps")) {
        p.protocol = TFtpProtocol::Ftps;
        p.useTls = true;
    } else if (protocol == QLatin1String("ftp")) {
        p.protocol = TFtpProtocol::Ftp;
        p.useTls = false;
    } else {
        // Missing (an older profile) or not understood: today's TLS flag decides, as before.
        p.protocol = p.useTls ? TFtpProtocol::Ftps : TFtpProtocol::Ftp;
    }
    return p;
}

void WriteFtpProfile(TIniFile &ini, const QString &name, const TFtpProfile &p)
{
    ini.writeString(name, QStringLiteral("HostName"), p.hostName);
    ini.writeString(name, QStringLiteral("InitialLocalDir"), p.initialLocalDir);
    ini.writeString(name, QStringLiteral("InitialDir"), p.initialDir);
    ini.writeString(name, QStringLiteral("UserName"), p.userName);
    ini.writeString(name, QStringLiteral("Password"), EncodePassword(p.password));
    ini.writeInteger(name, QStringLiteral("Port"), p.port);
    ini.writeBool(name, QStringLiteral("ForceLower"), p.forceLower);
    ini.writeBool(name, QStringLiteral("ConvertHtml"), p.convertHtml);
    ini.writeBool(name, QStringLiteral("AutoDir"), p.autoDir);
    ini.writeBool(name, QStringLiteral("SlowHost"), p.slowHost);
    ini.writeBool(name, QStringLiteral("Passive"), p.passive);
    const TFtpProtocol protocol = p.protocol == TFtpProtocol::Sftp ? TFtpProtocol::Sftp
                                  : (p.protocol == TFtpProtocol::Ftps || p.useTls) ? TFtpProtocol::Ftps
                                                                                  : TFtpProtocol::Ftp;
    ini.writeBool(name, QStringLiteral("UseTls"), protocol == TFtpProtocol::Ftps);
    ini.writeString(name, QStringLiteral("TlsFingerprint"), p.tlsFingerprint);
    ini.writeString(name, QStringLiteral("Protocol"), FtpProtocolKey(protocol));
}

QStringList ReadProfileNames(const TIniFile &ini)
{
    QStringList names;
    for (int i = 0;; ++i) {
        const QString n = ini.readString(QStringLiteral("Profiles"), QStringLiteral("Name") + QString::number(i));
        if (n.isEmpty())
            break;
        names << n;
    }
    return names;
}
