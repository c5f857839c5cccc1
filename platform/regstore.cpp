#include "platform/regstore.h"
#include "platform/paths.h"
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace platform {

// Values are kept as text so the file stays readable by a person: integers as "dword:NNNNNNNN",
// binary data as "hex:..", strings as they are, with "sz:" put in front of a string that would look like
// one of the other two.
namespace {
const QString kDword = QStringLiteral("dword:");
const QString kHex = QStringLiteral("hex:");
const QString kSz = QStringLiteral("sz:");

QString encodeString(const QString &s) {
  if (s.startsWith(kDword) || s.startsWith(kHex) || s.startsWith(kSz)) return kSz + s;
  return s;
}
}  // namespace

QString regGroup(RegRoot root, const QString &key) {
  QString path = key;
  path.replace('\\', '/');
  while (path.startsWith('/')) path.remove(0, 1);
  while (path.endsWith('/')) path.chop(1);
  const QString rootName = root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER") : QStringLiteral("HKEY_LOCAL_MACHINE");
  return path.isEmpty() ? rootName : rootName + '/' + path;
}

RegStore::RegStore(const QString &file) : file_(file.isEmpty() ? userFile(QStringLiteral("registry.ini")) : file) {}
RegStore::~RegStore() { flush(); }

QSettings &RegStore::settings() const {
  if (!settings_) settings_ = std::make_unique<QSettings>(file_, QSettings::IniFormat);
  return *settings_;
}

void RegStore::setDeferred(bool on) {
  deferred_ = on;
  if (!on) flush();
}

bool RegStore::flush() {
  if (!dirty_ || !settings_) return true;
  dirty_ = false;
  settings_->sync();  // QSettings writes through a temporary file and a rename
  return settings_->status() != QSettings::AccessError;  // FormatError only describes the old, damaged content
}

bool RegStore::keyExists(RegRoot root, const QString &key) const {
  QSettings &s = settings();
  const QString group = regGroup(root, key);
  // A key exists when it holds values or subkeys, or was created empty (marked by an empty "@" entry).
  for (const QString &k : s.allKeys())
    if (k.startsWith(group + '/')) return true;
  return false;
}

bool RegStore::createKey(RegRoot root, const QString &key) {
  if (keyExists(root, key)) return true;
  return write(root, key, QStringLiteral("@"), QString());
}

QStringList RegStore::subKeys(RegRoot root, const QString &key) const {
  QSettings &s = settings();
  s.beginGroup(regGroup(root, key));
  const QStringList groups = s.childGroups();
  s.endGroup();  // later reads and writes name full paths
  return groups;
}

QStringList RegStore::valueNames(RegRoot root, const QString &key) const {
  QSettings &s = settings();
  s.beginGroup(regGroup(root, key));
  QStringList names = s.childKeys();
  s.endGroup();
  names.removeAll(QStringLiteral("@"));
  return names;
}

std::optional<QString> RegStore::raw(RegRoot root, const QString &key, const QString &name) const {
  QSettings &s = settings();
  const QVariant v = s.value(regGroup(root, key) + '/' + name);
  if (!v.isValid()) return std::nullopt;
  return v.toString();
}

RegType RegStore::valueType(RegRoot root, const QString &key, const QString &name) const {
  const auto v = raw(root, key, name);
  if (!v) return RegType::None;
  if (v->startsWith(kDword)) return RegType::Integer;
  if (v->startsWith(kHex)) return RegType::Binary;
  return RegType::String;
}

std::optional<QString> RegStore::readString(RegRoot root, const QString &key, const QString &name) const {
  const auto v = raw(root, key, name);
  if (!v || v->startsWith(kDword) || v->startsWith(kHex)) return std::nullopt;
  return v->startsWith(kSz) ? v->mid(kSz.size()) : *v;
}

std::optional<qint32> RegStore::readInteger(RegRoot root, const QString &key, const QString &name) const {
  const auto v = raw(root, key, name);
  if (!v || !v->startsWith(kDword)) return std::nullopt;
  bool ok = false;
  const quint32 n = v->mid(kDword.size()).toUInt(&ok, 16);
  if (!ok) return std::nullopt;
  return static_cast<qint32>(n);
}

std::optional<QByteArray> RegStore::readBinary(RegRoot root, const QString &key, const QString &name) const {
  const auto v = raw(root, key, name);
  if (!v || !v->startsWith(kHex)) return std::nullopt;
  const QString hex = v->mid(kHex.size());
  QByteArray out;
  for (const QString &part : hex.split(',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const uint b = part.trimmed().toUInt(&ok, 16);
    if (!ok || b > 255) return std::nullopt;
    out.append(static_cast<char>(b));
  }
  return out;
}

bool RegStore::write(RegRoot root, const QString &key, const QString &name, const QString &encoded) {
  QSettings &s = settings();
  if (!s.isWritable()) return false;
  s.setValue(regGroup(root, key) + '/' + name, encoded);
  dirty_ = true;
  return deferred_ ? true : flush();
}

bool RegStore::writeString(RegRoot root, const QString &key, const QString &name, const QString &value) {
  return write(root, key, name, encodeString(value));
}

bool RegStore::writeInteger(RegRoot root, const QString &key, const QString &name, qint32 value) {
  return write(root, key, name, kDword + QString::number(static_cast<quint32>(value), 16).rightJustified(8, '0'));
}

bool RegStore::writeBinary(RegRoot root, const QString &key, const QString &name, const QByteArray &value) {
  QStringList parts;
  for (unsigned char c : value) parts << QString::number(c, 16).rightJustified(2, '0');
  return write(root, key, name, kHex + parts.join(','));
}

bool RegStore::deleteValue(RegRoot root, const QString &key, const QString &name) {
  QSettings &s = settings();
  if (!s.isWritable()) return false;
  s.remove(regGroup(root, key) + '/' + name);
  dirty_ = true;
  return deferred_ ? true : flush();
}

}  // namespace platform
