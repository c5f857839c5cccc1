#include "app/myregistry.h"

platform::RegRoot TMyRegistry::root() const {
  return RootKey == kHKEY_CURRENT_USER ? platform::RegRoot::CurrentUser : platform::RegRoot::LocalMachine;
}

QString TMyRegistry::key(const QString &section) const {
  QString path = RegPath;
  if (!path.endsWith('\\')) path += '\\';
  return path + section;
}

void TMyRegistry::Close() {
  store_.setDeferred(false);
  if (!store_.flush()) writeFailed_ = true;
}

bool TMyRegistry::Open(QString *error) {
  if (RegPath.trimmed().isEmpty()) {
    if (error) *error = QStringLiteral("You must insert a registry string !!");
    return false;
  }
  return true;
}

void TMyRegistry::WriteString(const QString &section, const QString &name, const QString &text) {
  if (!store_.writeString(root(), key(section), name, text)) writeFailed_ = true;
}

void TMyRegistry::WriteInteger(const QString &section, const QString &name, int number) {
  if (!store_.writeInteger(root(), key(section), name, number)) writeFailed_ = true;
}

void TMyRegistry::WriteBool(const QString &section, const QString &name, bool flag) { WriteInteger(section, name, flag ? 1 : 0); }

QString TMyRegistry::ReadString(const QString &section, const QString &name, const QString &def) const {
  const auto v = store_.readString(root(), key(section), name);
  return v && !v->isEmpty() ? *v : def;
}

int TMyRegistry::ReadInteger(const QString &section, const QString &name, int def) const {
  return store_.readInteger(root(), key(section), name).value_or(def);
}

bool TMyRegistry::ReadBool(const QString &section, const QString &name, bool def) const {
  const auto v = store_.readInteger(root(), key(section), name);
  return v ? *v != 0 : def;
}

bool TMyRegistry::DeleteValue(const QString &section, const QString &name) {
  return store_.deleteValue(root(), key(section), name);
}
