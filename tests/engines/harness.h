#pragma once
// Calls the engine libraries directly through their C interface, as TZipMaster does, and records
// every callback.
#include "engines/engineapi.h"

#include <QLibrary>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

struct EngineCall {
  int32_t result = 0;
  std::vector<std::pair<int32_t, std::string>> messages;  // error code, text
  std::vector<std::string> members;                       // action 1 names in order
  uint64_t bytes = 0, totalBytes = 0, totalMembers = 0;
  bool batchEnd = false;
  int stopAfterMembers = -1;  // ask the engine to stop once this many members were announced
  int stopAtCallback = -1;    // ask the engine to stop at this callback (1 = the first), whatever it reports
  int callbacks = 0;          // callbacks received
  bool hasMessage(int32_t code) const;
  std::string allMessages() const;
};

struct AddOptions {
  bool recurse = true, dirNames = true, folderEntries = true, hidden = false, freshen = false, update = false;
  bool move = false, zipTime = false, encrypt = false, dosNames = false, verbose = false;
  int stopAtCallback = -1;
  int level = 6;
  std::string password;
};

struct ExtractOptions {
  bool test = false, dirNames = true, overwrite = false, freshen = false, update = false, verbose = false;
  int stopAtCallback = -1;
  std::string password;
};

class Engines {
 public:
  Engines();
  bool loaded() const { return zipExec_ && unzExec_; }
  EngineCall add(const QString &archive, const QStringList &specs, const AddOptions &o = {}, int stopAfter = -1);
  // Deletes members; of the options only verbose and stopAtCallback count.
  EngineCall remove(const QString &archive, const QStringList &specs, const AddOptions &o = {});
  // Extracts into the current folder (the caller changes it), or tests.
  EngineCall extract(const QString &archive, const QStringList &specs, const ExtractOptions &o = {},
                     int stopAfter = -1);
  EngineCall extractInto(const QString &folder, const QString &archive, const QStringList &specs,
                         const ExtractOptions &o = {}, int stopAfter = -1);

 private:
  QLibrary zip_, unz_;
  zipapi::ZipExecFn zipExec_ = nullptr;
  zipapi::UnzExecFn unzExec_ = nullptr;
};
