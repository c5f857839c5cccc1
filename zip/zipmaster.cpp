#include "zip/zipmaster.h"

#include "engines/engineapi.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QTemporaryFile>
#include <cstring>
#include <list>

using namespace zipapi;

namespace {

// Engine library file names on this platform; the messages keep the engines' historic names.
const char *const kZipLibrary = "libzipdll.so";
const char *const kUnzLibrary = "libunzdll.so";

int32_t boolField(bool v) { return v ? kTrue : 0; }

// One parameter record with the texts it points to; everything lives until the record is destroyed.
class RecordBuffer {
 public:
  template <class T>
  T *make() {
    storage_.assign((sizeof(T) + 7) / 8, 0);
    size_ = sizeof(T);
    return reinterpret_cast<T *>(storage_.data());
  }
  const char *text(const QByteArray &bytes) {
    texts_.push_back(bytes);
    return texts_.back().constData();
  }
  char *passwordBuffer(const QByteArray &pw) {
    password_.assign(kPasswordBuffer, 0);
    std::memcpy(password_.data(), pw.constData(), size_t(qMin<qsizetype>(pw.size(), kPasswordBuffer - 1)));
    return password_.data();
  }
  template <class S>
  S *specArray(size_t n) {
    specs_.assign((n * sizeof(S) + 7) / 8 + 1, 0);
    return reinterpret_cast<S *>(specs_.data());
  }
  void *data() { return storage_.data(); }
  size_t size() const { return size_; }
  ~RecordBuffer() {
    // Passwords do not linger in freed memory.
    std::fill(password_.begin(), password_.end(), 0);
  }

 private:
  std::vector<uint64_t> storage_, specs_;
  std::vector<char> password_;
  std::list<QByteArray> texts_;
  size_t size_ = 0;
};

}  // namespace

struct TZipMasterCallback {
  static int32_t call(CallbackRecord *rec) {
    auto *zm = static_cast<TZipMaster *>(rec->caller);
    return zm ? zm->callback(rec) : 0;
  }
};

TZipMaster::TZipMaster(QObject *owner) : QObject(owner), sfxCaption_(QStringLiteral("Self-extracting Archive")) {}

TZipMaster::~TZipMaster() = default;

// Both parameter records share one shape: the flat layout carries the file specs inline, the compact one
// points to an array of spec records. Returns the record's head; *compact is set for the compact layout.
template <class Flat, class Compact, class Spec>
auto *makeParams(RecordBuffer &buf, const QStringList &specs, bool flat, Compact **compact) {
  if (flat) {
    auto *r = buf.make<Flat>();
    r->trailer = kTrailer;
    const int n = qMin<int>(specs.size(), kSpecSlots - 1);
    for (int i = 0; i < n; ++i) r->specs[i] = buf.text(specs[i].toUtf8());
    r->head.specCount = n;
    return &r->head;
  }
  auto *r = buf.make<Compact>();
  r->trailer = kTrailer;
  if (!specs.isEmpty()) {
    Spec *arr = buf.specArray<Spec>(size_t(specs.size()));
    for (int i = 0; i < specs.size(); ++i) arr[i].text = buf.text(specs[i].toUtf8());
    r->specs = arr;
  }
  r->head.specCount = int32_t(specs.size());
  *compact = r;
  return &r->head;
}


void TZipMaster::setZipFilename(const QString &v) {
  zipFilename_ = v;
  List();
}

void TZipMaster::setDLLDirectory(const QString &v) {
  dllDirectory_ = v;
  if (dllDirectory_.size() > 1 && (dllDirectory_.endsWith('/') || dllDirectory_.endsWith('\\')))
    dllDirectory_.chop(1);
}

void TZipMaster::ReportMessage(int id, const QString &appended) {
  errorCode_ = id;
  reportText(zipmsg::format(id) + appended);
}

void TZipMaster::reportText(const QString &text) {
  lastMessage_ = text;
  if (!unattended_) emit MessageBoxRequested(text);
  emit OnMessage(0, text);
}

std::function<bool(qint64)> TZipMaster::copyProgress() {
  return [this](qint64 n) {
    emit OnProgress(ProgressBytes, QString(), n);
    QCoreApplication::processEvents();
    return !cancelRequested_;
  };
}

void TZipMaster::HandleException(const EZipMaster &e) {
  if (e.DisplayMessage && !unattended_) emit MessageBoxRequested(e.Message);
  emit OnMessage(0, e.Message);
  errorCode_ = e.MessageId;
  lastMessage_ = e.Message;
}

// ---- Engine loading

QString TZipMaster::libraryPath(bool zip) const {
  const QString name = QLatin1String(zip ? kZipLibrary : kUnzLibrary);
  if (!dllDirectory_.isEmpty()) {
    const QString p = dllDirectory_ + "/" + name;
    if (QFileInfo::exists(p)) return p;
  }
  return platform::libraryFolder() + "/" + name;
}

bool TZipMaster::loadEngine(bool zip) {
  auto &lib = zip ? zipLib_ : unzLib_;
  if (lib && lib->isLoaded()) return true;
  lib = std::make_unique<QLibrary>(libraryPath(zip));
  if (!lib->load()) {
    lib.reset();
    ReportMessage(zip ? zipmsg::LD_NoZipDll : zipmsg::LD_NoUnzDll);
    return false;
  }
  if (trace_) ReportMessage(zip ? zipmsg::LD_ZipDllLoaded : zipmsg::LD_UnzDllLoaded);
  void *exec = reinterpret_cast<void *>(lib->resolve(zip ? "ZipDllExec" : "UnzDllExec"));
  void *version = reinterpret_cast<void *>(lib->resolve(zip ? "GetZipDllVersion" : "GetUnzDllVersion"));
  if (!exec) ReportMessage(zip ? zipmsg::LD_NoZipExec : zipmsg::LD_NoUnzExec);
  if (!version) ReportMessage(zip ? zipmsg::LD_NoZipVersion : zipmsg::LD_NoUnzVersion);
  (zip ? zipExec_ : unzExec_) = exec;
  (zip ? zipVersion_ : unzVersion_) = version;
  return true;
}

void TZipMaster::unloadEngine(bool zip) {
  auto &lib = zip ? zipLib_ : unzLib_;
  if (lib) lib->unload();
  lib.reset();
  (zip ? zipExec_ : unzExec_) = nullptr;
  (zip ? zipVersion_ : unzVersion_) = nullptr;
}

bool TZipMaster::LoadZipEngine() { return loadEngine(true); }
bool TZipMaster::LoadUnzipEngine() { return loadEngine(false); }
void TZipMaster::UnloadZipEngine() { unloadEngine(true); }
void TZipMaster::UnloadUnzipEngine() { unloadEngine(false); }
bool TZipMaster::ZipEngineLoaded() const { return zipLib_ && zipLib_->isLoaded(); }
bool TZipMaster::UnzipEngineLoaded() const { return unzLib_ && unzLib_->isLoaded(); }

int TZipMaster::ZipEngineVersion() {
  const bool was = ZipEngineLoaded();
  if (!was && !loadEngine(true)) return 0;
  const int v = zipVersion_ ? reinterpret_cast<GetVersionFn>(zipVersion_)() : 0;
  if (!was) unloadEngine(true);
  return v;
}

int TZipMaster::UnzipEngineVersion() {
  const bool was = UnzipEngineLoaded();
  if (!was && !loadEngine(false)) return 0;
  const int v = unzVersion_ ? reinterpret_cast<GetVersionFn>(unzVersion_)() : 0;
  if (!was) unloadEngine(false);
  return v;
}

// ---- Callback

int TZipMaster::callback(CallbackRecord *rec) {
  const QString text = QString::fromUtf8(rec->text, int(strnlen(rec->text, sizeof rec->text)));
  const qint64 size = rec->size64 ? rec->size64 : qint64(rec->size);
  switch (rec->action) {
    case ActNewMember:
      emit OnProgress(ProgressNewMember, text, size);
      break;
    case ActBytes:
      emit OnProgress(ProgressBytes, QString(), size);
      break;
    case ActBatchEnd:
      emit OnProgress(ProgressBatchEnd, QString(), 0);
      break;
    case ActMessage: {
      QString t = text;
      while (!t.isEmpty() && t.back().isSpace()) t.chop(1);
      lastMessage_ = t;
      if (rec->error != 0) {
        errorCode_ = rec->error & 0xFF;
        fullErrorCode_ = rec->error;
      }
      emit OnMessage(rec->error, t);
      break;
    }
    case ActTotalMembers:
      emit OnProgress(ProgressTotalMembers, QString(), size);
      break;
    case ActTotalBytes:
      totalToProcess_ = size;
      emit OnProgress(ProgressTotalBytes, QString(), size);
      break;
    default:
      break;
  }
  const bool cancel = cancelRequested_;
  // Pending events are pumped at most every 15 ms: often enough for a responsive Cancel button and
  // repainting, rarely enough not to cost more than the work itself on archives of small members.
  if (!pumpTimer_.isValid() || pumpTimer_.elapsed() >= 15 || rec->action == ActMessage) {
    QCoreApplication::processEvents();
    pumpTimer_.start();
  }
  return cancel ? kTrue : 0;
}

// ---- Operations

QString TZipMaster::tempFolder() const {
  return tempDir_.isEmpty() ? QDir::tempPath() : tempDir_;
}

QByteArray TZipMaster::passwordBytes() const {
  QByteArray pw = password_.toUtf8();
  // The buffer holds 80 bytes: cut at a character boundary.
  while (pw.size() > kPasswordBuffer - 1) {
    pw.chop(1);
    while (!pw.isEmpty() && (uchar(pw.back()) & 0xC0) == 0x80) pw.chop(1);
    if (!pw.isEmpty() && uchar(pw.back()) >= 0xC0) pw.chop(1);
  }
  return pw;
}

// The fields both heads share, in the same places.
template <class Head>
void fillCommonHead(Head *h, RecordBuffer &buf, TZipMaster *caller, bool trace, const QByteArray &password) {
  h->window = nullptr;  // the engines show no dialogs of their own here
  h->caller = caller;
  h->version = kInterfaceVersion;
  h->callback = &TZipMasterCallback::call;
  h->trace = boolField(trace);
  h->password = buf.passwordBuffer(password);
}

void TZipMaster::runZipEngine(bool deleting, const QString &target) {
  const int version = zipVersion_ ? reinterpret_cast<GetVersionFn>(zipVersion_)() : kInterfaceVersion;
  RecordBuffer buf;
  ZipParams *compact = nullptr;
  ZipParamsHead *h = makeParams<ZipParamsFlat, ZipParams, ZipSpec>(buf, fspecArgs_, version <= 150, &compact);
  if (compact && !tempDir_.isEmpty()) compact->tempDir = buf.text(tempDir_.toUtf8());
  fillCommonHead(h, buf, this, trace_, passwordBytes());
  h->encrypt = boolField(addOptions_ & AddEncrypt);
  h->hidden = boolField(addOptions_ & AddHiddenFiles);
  h->storeFolderEntries = boolField(!(addOptions_ & AddSeparateDirs));
  h->verbose = boolField(verbose_ || trace_);
  h->true80 = kTrue;
  h->level = addCompLevel_;
  h->dropFolderNames = boolField(!(addOptions_ & AddDirNames));
  h->recurse = (addOptions_ & AddRecurseDirs) ? int16_t(-1) : 0;
  h->true104 = kTrue;
  h->dosNames = boolField(addOptions_ & AddForceDOS);
  h->move = boolField(addOptions_ & AddMove);
  h->deleteMembers = 0;
  h->update = boolField(addOptions_ & AddUpdate);
  h->freshen = boolField((addOptions_ & AddFreshen) && !(addOptions_ & AddUpdate));
  h->zipTime = boolField(addOptions_ & AddZipTime);
  h->archive = buf.text(target.toUtf8());
  if (deleting) {
    h->deleteMembers = kTrue;
    h->true104 = 0;
    h->dropFolderNames = 0;
    h->move = 0;
    h->freshen = 0;
    h->update = 0;
    h->encrypt = 0;
    h->recurse = 0;
  }
  try {
    successCount_ = zipExec_ ? reinterpret_cast<ZipExecFn>(zipExec_)(reinterpret_cast<ZipParams *>(buf.data())) : 0;
  } catch (...) {
    ReportMessage(zipmsg::GE_FatalZip);
  }
}

void TZipMaster::AddFiles() {
  successCount_ = 0;
  if (fspecArgs_.isEmpty()) return ReportMessage(zipmsg::AD_NothingToZip);
  if (zipFilename_.isEmpty()) return ReportMessage(zipmsg::GE_NoZipSpecified);
  if (unattended_ && (addOptions_ & AddEncrypt) && password_.isEmpty())
    return ReportMessage(zipmsg::AD_UnattPassword);
  const bool spanning = addOptions_ & (AddDiskSpan | AddDiskSpanErase);
  QString target = zipFilename_;
  if (spanning) {
    if (addOptions_ & (AddFreshen | AddUpdate)) return ReportMessage(zipmsg::AD_NoFreshenUpdate);
    if (zipFilename_.toUpper().endsWith(".EXE")) return ReportMessage(zipmsg::DS_NoSFXSpan);
  }
  if (addBusy_) return;
  addBusy_ = true;
  cancelRequested_ = false;
  if (spanning) {
    QTemporaryFile tmp(QDir(tempFolder()).filePath("zipXXXXXX"));
    if (tmp.open()) target = tmp.fileName();
    tmp.close();
    tmp.remove();
    if (verbose_) emit OnMessage(0, "Temporary zipfile: " + target);
  }
  const bool loadedHere = !ZipEngineLoaded();
  if (loadedHere && !loadEngine(true)) {
    addBusy_ = false;
    fspecArgs_.clear();
    return;
  }
  // A new self-extracting archive starts as the stub, its header and an empty directory.
  const bool newSfx = !spanning && zipFilename_.toUpper().endsWith(QLatin1String(".EXE")) && !QFileInfo::exists(zipFilename_);
  if (!newSfx || convertToSfx(true) == 0) runZipEngine(false, target);
  lastSpanPart_.clear();
  if (spanning) {
    // The engine wrote the whole archive to a temporary file; the set is cut from it.
    if (successCount_ > 0 && WriteSpan(target, zipFilename_) != 0) successCount_ = 0;
    QFile::remove(target);
  }
  if (loadedHere) unloadEngine(true);
  fspecArgs_.clear();
  cancelRequested_ = false;
  addBusy_ = false;
  // A set is shown by its last part, which holds the directory.
  if (successCount_ > 0 && !lastSpanPart_.isEmpty()) zipFilename_ = lastSpanPart_;
  if (successCount_ > 0) List();
}

void TZipMaster::DeleteFiles() {
  successCount_ = 0;
  if (fspecArgs_.isEmpty()) return ReportMessage(zipmsg::DL_NothingToDel);
  if (!QFileInfo(zipFilename_).isFile()) return ReportMessage(zipmsg::GE_NoZipSpecified);
  if (addBusy_) return;
  addBusy_ = true;
  cancelRequested_ = false;
  const bool loadedHere = !ZipEngineLoaded();
  if (loadedHere && !loadEngine(true)) {
    addBusy_ = false;
    fspecArgs_.clear();
    return;
  }
  runZipEngine(true, zipFilename_);
  if (loadedHere) unloadEngine(true);
  fspecArgs_.clear();
  cancelRequested_ = false;
  addBusy_ = false;
  if (successCount_ > 0) List();
}

void TZipMaster::ExtractFiles() {
  successCount_ = 0;
  if (!QFileInfo(zipFilename_).isFile()) return ReportMessage(zipmsg::GE_NoZipSpecified);
  if (extractBusy_) return;
  if (unattended_ && (addOptions_ & AddEncrypt) && password_.isEmpty()) {
    // A placeholder the engine takes as "no question to ask"; members it cannot decrypt are reported.
    password_ = QString(79, QChar(char16_t(0x7E)));
    ReportMessage(zipmsg::EX_UnAttPassword);
  }
  extractBusy_ = true;
  cancelRequested_ = false;
  const bool loadedHere = !UnzipEngineLoaded();
  if (loadedHere && !loadEngine(false)) {
    extractBusy_ = false;
    fspecArgs_.clear();
    return;
  }
  // A spanned set is joined into one temporary archive first, extracted from, and removed.
  QString archive = zipFilename_, joined;
  if (lastDiskNumber_ != 0) {
    joined = QDir(tempFolder()).absolutePath() + QLatin1Char('/');
    const int r = ReadSpan(zipFilename_, joined);
    if (r != 0) {
      if (loadedHere) unloadEngine(false);
      fspecArgs_.clear();
      extractBusy_ = false;
      cancelRequested_ = false;
      return;
    }
    archive = joined;
  }
  const QString previousFolder = QDir::currentPath();
  if (!extrBaseDir_.isEmpty() && QFileInfo(extrBaseDir_).isDir()) QDir::setCurrent(extrBaseDir_);
  const int version = unzVersion_ ? reinterpret_cast<GetVersionFn>(unzVersion_)() : kInterfaceVersion;
  RecordBuffer buf;
  UnzParams *compact = nullptr;
  UnzParamsHead *h = makeParams<UnzParamsFlat, UnzParams, UnzSpec>(buf, fspecArgs_, version <= 151, &compact);
  fillCommonHead(h, buf, this, trace_, passwordBytes());
  h->test = boolField(extrOptions_ & ExtrTest);
  h->true60 = kTrue;
  h->verbose = boolField(verbose_ || trace_);
  h->update = boolField(extrOptions_ & ExtrUpdate);
  h->freshen = boolField((extrOptions_ & ExtrFreshen) && !(extrOptions_ & ExtrUpdate));
  h->dirNames = boolField(extrOptions_ & ExtrDirNames);
  h->overwrite = boolField(extrOptions_ & ExtrOverWrite);
  h->archive = buf.text(archive.toUtf8());
  try {
    successCount_ = unzExec_ ? reinterpret_cast<UnzExecFn>(unzExec_)(reinterpret_cast<UnzParams *>(buf.data())) : 0;
  } catch (...) {
    ReportMessage(zipmsg::EX_FatalUnZip);
  }
  QDir::setCurrent(previousFolder);
  if (!joined.isEmpty()) QFile::remove(joined);
  if (loadedHere) unloadEngine(false);
  fspecArgs_.clear();
  cancelRequested_ = false;
  extractBusy_ = false;
}
