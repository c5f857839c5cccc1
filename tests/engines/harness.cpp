#include "tests/engines/harness.h"

#include "platform/paths.h"

#include <QDir>
#include <cstring>
#include <list>

using namespace zipapi;

bool EngineCall::hasMessage(int32_t code) const {
  for (const auto &m : messages)
    if (m.first == code) return true;
  return false;
}

std::string EngineCall::allMessages() const {
  std::string s;
  for (const auto &m : messages) s += std::to_string(m.first) + ": " + m.second + "\n";
  return s;
}

namespace {
int32_t record(CallbackRecord *r) {
  auto *c = static_cast<EngineCall *>(r->caller);
  ++c->callbacks;
  switch (r->action) {
    case ActNewMember:
      c->members.emplace_back(r->text);
      break;
    case ActBytes:
      c->bytes += uint64_t(r->size64);
      break;
    case ActBatchEnd:
      c->batchEnd = true;
      break;
    case ActMessage:
      c->messages.emplace_back(r->error, r->text);
      break;
    case ActTotalMembers:
      c->totalMembers = uint64_t(r->size64);
      break;
    case ActTotalBytes:
      c->totalBytes = uint64_t(r->size64);
      break;
  }
  if (c->stopAfterMembers >= 0 && int(c->members.size()) >= c->stopAfterMembers) return kTrue;
  if (c->stopAtCallback >= 1 && c->callbacks >= c->stopAtCallback) return kTrue;
  return 0;
}

int32_t truth(bool v) { return v ? kTrue : 0; }
}  // namespace

Engines::Engines() {
  zip_.setFileName(platform::libraryFolder() + "/libzipdll.so");
  unz_.setFileName(platform::libraryFolder() + "/libunzdll.so");
  if (zip_.load()) zipExec_ = reinterpret_cast<ZipExecFn>(zip_.resolve("ZipDllExec"));
  if (unz_.load()) unzExec_ = reinterpret_cast<UnzExecFn>(unz_.resolve("UnzDllExec"));
}

static EngineCall runZip(ZipExecFn fn, const QString &archive, const QStringList &specs, const AddOptions &o,
                         bool del, int stopAfter) {
  EngineCall call;
  call.stopAfterMembers = stopAfter;
  call.stopAtCallback = o.stopAtCallback;
  ZipParams p{};
  std::list<QByteArray> texts;
  std::vector<ZipSpec> arr(size_t(specs.size()) + 1);
  for (int i = 0; i < specs.size(); ++i) {
    texts.push_back(specs[i].toUtf8());
    arr[size_t(i)] = ZipSpec{};
    arr[size_t(i)].text = texts.back().constData();
  }
  char pw[kPasswordBuffer] = {};
  std::strncpy(pw, o.password.c_str(), kPasswordBuffer - 1);
  texts.push_back(archive.toUtf8());
  auto &h = p.head;
  h.caller = &call;
  h.version = kInterfaceVersion;
  h.callback = &record;
  h.password = pw;
  h.encrypt = truth(o.encrypt);
  h.hidden = truth(o.hidden);
  h.storeFolderEntries = truth(o.folderEntries);
  h.level = o.level;
  h.dropFolderNames = truth(!o.dirNames);
  h.recurse = o.recurse ? int16_t(-1) : 0;
  h.dosNames = truth(o.dosNames);
  h.move = truth(o.move);
  h.deleteMembers = truth(del);
  h.update = truth(o.update);
  h.freshen = truth(o.freshen);
  h.zipTime = truth(o.zipTime);
  h.verbose = truth(o.verbose);
  h.specCount = int32_t(specs.size());
  h.archive = texts.back().constData();
  p.specs = arr.data();
  p.trailer = kTrailer;
  call.result = fn(&p);
  return call;
}

EngineCall Engines::add(const QString &archive, const QStringList &specs, const AddOptions &o, int stopAfter) {
  return runZip(zipExec_, archive, specs, o, false, stopAfter);
}

EngineCall Engines::remove(const QString &archive, const QStringList &specs, const AddOptions &o) {
  return runZip(zipExec_, archive, specs, o, true, -1);
}

EngineCall Engines::extract(const QString &archive, const QStringList &specs, const ExtractOptions &o,
                            int stopAfter) {
  EngineCall call;
  call.stopAfterMembers = stopAfter;
  call.stopAtCallback = o.stopAtCallback;
  UnzParams p{};
  std::list<QByteArray> texts;
  std::vector<UnzSpec> arr(size_t(specs.size()) + 1);
  for (int i = 0; i < specs.size(); ++i) {
    texts.push_back(specs[i].toUtf8());
    arr[size_t(i)] = UnzSpec{};
    arr[size_t(i)].text = texts.back().constData();
  }
  char pw[kPasswordBuffer] = {};
  std::strncpy(pw, o.password.c_str(), kPasswordBuffer - 1);
  texts.push_back(archive.toUtf8());
  auto &h = p.head;
  h.caller = &call;
  h.version = kInterfaceVersion;
  h.callback = &record;
  h.password = pw;
  h.test = truth(o.test);
  h.true60 = kTrue;
  h.update = truth(o.update);
  h.freshen = truth(o.freshen);
  h.dirNames = truth(o.dirNames);
  h.overwrite = truth(o.overwrite);
  h.verbose = truth(o.verbose);
  h.specCount = int32_t(specs.size());
  h.archive = texts.back().constData();
  p.specs = arr.data();
  p.trailer = kTrailer;
  call.result = unzExec_(&p);
  return call;
}

EngineCall Engines::extractInto(const QString &folder, const QString &archive, const QStringList &specs,
                                const ExtractOptions &o, int stopAfter) {
  const QString before = QDir::currentPath();
  QDir::setCurrent(folder);
  EngineCall c = extract(archive, specs, o, stopAfter);
  QDir::setCurrent(before);
  return c;
}
