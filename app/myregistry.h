#pragma once
// The settings component: one key with sections of typed values; every read falls back to its default.
#include <QString>
#include "platform/regstore.h"

class TMyRegistry {
 public:
  enum TRootKey { kHKEY_CLASSES_ROOT, kHKEY_CURRENT_USER, kHKEY_LOCAL_MACHINE, kHKEY_USERS, kHKEY_CURRENT_CONFIG, kHKEY_DYN_DATA };

  explicit TMyRegistry(const QString &storeFile = QString()) : store_(storeFile) {}

  TRootKey RootKey = kHKEY_LOCAL_MACHINE;
  QString RegPath;
  bool CanCreate = true;
  const QString Version = QStringLiteral("v1.0b");

  // Fails with "You must insert a registry string !!" when RegPath is blank.
  bool Open(QString *error = nullptr);
  // Writes what is pending to the store's file.
  void Close();
  // Until Close, writes are gathered and reach the file together.
  void BeginUpdate() { store_.setDeferred(true); }

  void WriteString(const QString &section, const QString &name, const QString &text);
  void WriteInteger(const QString &section, const QString &name, int number);
  void WriteBool(const QString &section, const QString &name, bool flag);
  QString ReadString(const QString &section, const QString &name, const QString &def) const;
  int ReadInteger(const QString &section, const QString &name, int def) const;
  bool ReadBool(const QString &section, const QString &name, bool def) const;
  bool DeleteValue(const QString &section, const QString &name);

  // True once a write has failed (the store could not be written); cleared by the caller after telling the user.
  bool writeFailed() const { return writeFailed_; }
  void clearWriteFailed() { writeFailed_ = false; }
  const platform::RegStore &store() const { return store_; }

 private:
  platform::RegRoot root() const;
  QString key(const QString &section) const;
  platform::RegStore store_;
  bool writeFailed_ = false;
};
