#pragma once
// A small registry-like store: keys with typed values (string, 4-byte integer, binary), subkey listing and
// value deletion. On Linux it is an INI file in the per-user folder; the root key and key path become the
// group path ("HKEY_CURRENT_USER/Software/Tarnwick2/Settings").
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

namespace platform {

enum class RegRoot { CurrentUser, LocalMachine };
enum class RegType { None, String, Integer, Binary };

class RegStore {
 public:
  // The default store lives in the per-user folder as "registry.ini"; tests may pass another file.
  explicit RegStore(const QString &file = QString());
  ~RegStore();
  RegStore(const RegStore &) = delete;
  RegStore &operator=(const RegStore &) = delete;

  QString file() const { return file_; }

  bool keyExists(RegRoot root, const QString &key) const;
  bool createKey(RegRoot root, const QString &key);
  QStringList subKeys(RegRoot root, const QString &key) const;
  QStringList valueNames(RegRoot root, const QString &key) const;

  RegType valueType(RegRoot root, const QString &key, const QString &name) const;
  std::optional<QString> readString(RegRoot root, const QString &key, const QString &name) const;
  std::optional<qint32> readInteger(RegRoot root, const QString &key, const QString &name) const;
  std::optional<QByteArray> readBinary(RegRoot root, const QString &key, const QString &name) const;

  // Writes return false when the store cannot be written (read-only file or folder).
  bool writeString(RegRoot root, const QString &key, const QString &name, const QString &value);
  bool writeInteger(RegRoot root, const QString &key, const QString &name, qint32 value);
  bool writeBinary(RegRoot root, const QString &key, const QString &name, const QByteArray &value);
  bool deleteValue(RegRoot root, const QString &key, const QString &name);

  // While deferred, writes collect in memory and reach the file with flush(); a burst of settings is then
  // one atomic file write instead of one per value.
  void setDeferred(bool on);
  bool flush();

 private:
  bool write(RegRoot root, const QString &key, const QString &name, const QString &encoded);
  std::optional<QString> raw(RegRoot root, const QString &key, const QString &name) const;
  QSettings &settings() const;
  QString file_;
  mutable std::unique_ptr<QSettings> settings_;
  bool deferred_ = false;
  bool dirty_ = false;
};

// Joins root and a backslash-separated key path into the store's group path.
QString regGroup(RegRoot root, const QString &key);

}  // namespace platform
