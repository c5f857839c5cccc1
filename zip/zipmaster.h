#pragma once
// TZipMaster: one open zip archive. Reads its directory itself and drives the zip and unzip engine
// libraries (loaded at run time) to add, delete, extract and test members. No widgets: message boxes
// are asked for through MessageBoxRequested, and events arrive as Qt signals.
#include "zip/ezipmaster.h"
#include "zip/zipdirentry.h"
#include "zip/zipmessages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFlags>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QLibrary;
namespace zipcopy {
class OutputFile;
class SpliceFile;
}
namespace zipapi {
struct CallbackRecord;
}

// The 22-byte end-of-central-directory record, with the Zip64 values beside it.
struct ZipEndOfCentral {
  uint32_t HeaderSig = 0;
  uint16_t ThisDiskNo = 0;
  uint16_t CentralDiskNo = 0;
  uint16_t CentralEntries = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralSize = 0;
  uint32_t CentralOffset = 0;
  uint16_t ZipCommentLen = 0;
  // Zip64 (equal to the fields above when the archive has no Zip64 end record).
  bool Zip64 = false;
  uint64_t TotalEntries64 = 0;
  uint64_t CentralSize64 = 0;
  uint64_t CentralOffset64 = 0;
  uint32_t ThisDiskNo64 = 0;
  uint32_t CentralDiskNo64 = 0;
};

class TZipMaster : public QObject {
  Q_OBJECT

 public:
  enum AddOpts : unsigned {
    AddDirNames = 1u << 0,
    AddRecurseDirs = 1u << 1,
    AddMove = 1u << 2,
    AddFreshen = 1u << 3,
    AddUpdate = 1u << 4,
    AddZipTime = 1u << 5,
    AddForceDOS = 1u << 6,
    AddHiddenFiles = 1u << 7,
    AddEncrypt = 1u << 8,
    AddSeparateDirs = 1u << 9,
    AddDiskSpan = 1u << 10,
    AddDiskSpanErase = 1u << 11,
  };
  Q_DECLARE_FLAGS(AddOptionSet, AddOpts)
  enum ExtrOpts : unsigned {
    ExtrDirNames = 1u << 0,
    ExtrOverWrite = 1u << 1,
    ExtrFreshen = 1u << 2,
    ExtrUpdate = 1u << 3,
    ExtrTest = 1u << 4,
  };
  Q_DECLARE_FLAGS(ExtrOptionSet, ExtrOpts)
  enum SFXOpts : unsigned {
    SFXAskCmdLine = 1u << 0,
    SFXAskFiles = 1u << 1,
    SFXAutoRun = 1u << 2,
    SFXHideOverWriteBox = 1u << 3,
    SFXCheckSize = 1u << 4,
  };
  Q_DECLARE_FLAGS(SFXOptionSet, SFXOpts)
  enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };
  enum CodePageOpts { cpAuto, cpNone, cpOEM };
  enum DeleteOpts { htdFinal, htdAllowUndo };
  enum ProgressType {
    ProgressNewMember,
    ProgressBytes,
    ProgressBatchEnd,
    ProgressTotalMembers,
    ProgressTotalBytes
  };
  Q_ENUM(ProgressType)
  // Buttons and icons of the questions the component asks (QuestionRequested).
  enum MsgButton : int { BtnOk = 1, BtnCancel = 2, BtnYes = 4, BtnNo = 8, BtnRetry = 16 };
  enum MsgIcon : int { IconNone, IconWarning, IconError, IconStop, IconQuestion };

  explicit TZipMaster(QObject *owner = nullptr);
  ~TZipMaster() override;

  // Published properties.
  bool Verbose() const { return verbose_; }
  void setVerbose(bool v) { verbose_ = v; }
  bool Trace() const { return trace_; }
  void setTrace(bool v) { trace_ = v; }
  int AddCompLevel() const { return addCompLevel_; }
  void setAddCompLevel(int v) { addCompLevel_ = qBound(0, v, 9); }
  AddOptionSet AddOptions() const { return addOptions_; }
  void setAddOptions(AddOptionSet v) { addOptions_ = v; }
  QString ExtrBaseDir() const { return extrBaseDir_; }
  void setExtrBaseDir(const QString &v) { extrBaseDir_ = v; }
  ExtrOptionSet ExtrOptions() const { return extrOptions_; }
  void setExtrOptions(ExtrOptionSet v) { extrOptions_ = v; }
  SFXOptionSet SFXOptions() const { return sfxOptions_; }
  void setSFXOptions(SFXOptionSet v) { sfxOptions_ = v; }
  QStringList FSpecArgs() const { return fspecArgs_; }
  void setFSpecArgs(const QStringList &v) { fspecArgs_ = v; }
  QStringList &FSpecArgsRef() { return fspecArgs_; }
  bool Unattended() const { return unattended_; }
  void setUnattended(bool v) { unattended_ = v; }
  QString ZipFilename() const { return zipFilename_; }
  void setZipFilename(const QString &v);  // runs List
  QString Password() const { return password_; }
  void setPassword(const QString &v) { password_ = v.left(255); }
  QString SFXPath() const { return sfxPath_; }
  void setSFXPath(const QString &v) { sfxPath_ = v; }
  QString DLLDirectory() const { return dllDirectory_; }
  void setDLLDirectory(const QString &v);
  OvrOpts SFXOverWriteMode() const { return sfxOverWriteMode_; }
  void setSFXOverWriteMode(OvrOpts v) { sfxOverWriteMode_ = v; }
  QString SFXCaption() const { return sfxCaption_; }
  void setSFXCaption(const QString &v) { sfxCaption_ = v; }
  QString SFXDefaultDir() const { return sfxDefaultDir_; }
  void setSFXDefaultDir(const QString &v) { sfxDefaultDir_ = v; }
  QString SFXCommandLine() const { return sfxCommandLine_; }
  void setSFXCommandLine(const QString &v) { sfxCommandLine_ = v; }
  QString TempDir() const { return tempDir_; }
  void setTempDir(const QString &v) { tempDir_ = v; }
  qint64 KeepFreeOnDisk1() const { return keepFreeOnDisk1_; }
  void setKeepFreeOnDisk1(qint64 v) { keepFreeOnDisk1_ = v; }
  qint64 MaxVolumeSize() const { return maxVolumeSize_; }
  void setMaxVolumeSize(qint64 v) { maxVolumeSize_ = v; }
  qint64 MinFreeVolumeSize() const { return minFreeVolumeSize_; }
  void setMinFreeVolumeSize(qint64 v) { minFreeVolumeSize_ = v; }
  bool ConfirmErase() const { return confirmErase_; }
  void setConfirmErase(bool v) { confirmErase_ = v; }
  CodePageOpts CodePage() const { return codePage_; }
  void setCodePage(CodePageOpts v) { codePage_ = v; }
  DeleteOpts HowToDelete() const { return howToDelete_; }
  void setHowToDelete(DeleteOpts v) { howToDelete_ = v; }

  // Run-time state.
  const std::vector<ZipDirEntry> &Entries() const { return entries_; }
  int EntryCount() const { return zipFilename_.isEmpty() ? 0 : int(entries_.size()); }
  int SuccessCount() const { return successCount_; }
  int ErrorCode() const { return errorCode_; }
  int FullErrorCode() const { return fullErrorCode_; }  // the engine's whole code of the last message
  QString LastMessage() const { return lastMessage_; }
  bool CancelRequested() const { return cancelRequested_; }
  void setCancelRequested(bool v) { cancelRequested_ = v; }
  bool AddBusy() const { return addBusy_; }
  bool ExtractBusy() const { return extractBusy_; }
  // Directory facts.
  qint64 ArchiveStart() const { return archiveStart_; }
  bool SpannedArchive() const { return spannedArchive_; }
  int LastDiskNumber() const { return lastDiskNumber_; }
  QString ArchiveComment() const { return archiveComment_; }
  bool StructureWarning() const { return structureWarning_; }
  qint64 EndRecordPosition() const { return endRecordPos_; }
  qint64 EndOfZipData() const { return endOfZipData_; }
  qint64 ArchiveFileSize() const { return fileSize_; }
  qint64 CentralDirPosition() const { return centralDirPos_; }
  QString DriveRoot() const { return driveRoot_; }
  QString VolumeLabel() const { return volumeLabel_; }
  qint64 DiskFreeSpace() const { return diskFree_; }
  qint64 DiskSize() const { return diskSize_; }
  qint64 TotalToProcess() const { return totalToProcess_; }

  // Operations.
  void List();
  void AddFiles();
  void DeleteFiles();
  void ExtractFiles();
  int ZipEngineVersion();
  int UnzipEngineVersion();
  // Self-extracting archives: 0 on success, else the negative result of the failed step.
  int ConvertToSfx();
  int ConvertToZip();
  // Spanned sets: cuts InFile into the parts of a set named OutName, or joins the set whose last part is
  // InFile into OutFile (a folder ending in "/" gets a new temporary name). 0 on success; -7 after a
  // reported component error, -8 out of memory, -9 any other failure.
  int WriteSpan(const QString &inFile, const QString &outName);
  int ReadSpan(const QString &inFile, QString &outFile);
  bool LoadZipEngine();
  bool LoadUnzipEngine();
  void UnloadZipEngine();
  void UnloadUnzipEngine();
  bool ZipEngineLoaded() const;
  bool UnzipEngineLoaded() const;

  // Directory reader pieces, also used by the conversions and span operations.
  bool ReadEndRecord(const QString &archive, ZipEndOfCentral &record, bool raise);
  bool CheckDrive(const QString &root);

  // Reports a message by id (string-table text + appended text): LastMessage, ErrorCode, a message box
  // unless Unattended, then OnMessage with ErrCode 0.
  void ReportMessage(int id, const QString &appended = {});
  void HandleException(const EZipMaster &e);

 signals:
  void OnDirUpdate();
  void OnProgress(TZipMaster::ProgressType type, const QString &filename, qint64 fileSize);
  void OnMessage(int errCode, const QString &message);
  // A text meant for a plain message box (only when not Unattended). The window that owns the
  // component shows it; the component itself never touches widgets.
  void MessageBoxRequested(const QString &text);
  // A question with buttons (MsgButton bits); the receiver, connected directly, stores the button chosen in
  // *answer. Left unanswered, it counts as Cancel.
  void QuestionRequested(const QString &caption, const QString &text, int buttons, int icon, int defaultButton,
                         int *answer);
  // Asks for another removable disk (OK and Cancel). The receiver sets *ok, and may move *root to the root of
  // a volume mounted meanwhile, where the disk now is.
  void DiskRequested(const QString &text, int icon, QString *root, bool *ok);

 private:
  friend struct TZipMasterCallback;
  friend struct SpanWriter;
  friend struct SpanReader;
  int convertToSfx(bool newArchive);
  QString findSfxStub();
  QByteArray sfxHeader() const;
  int readMovedDirectory(const QString &archive, int64_t delta, qint64 &dirPos, QByteArray &dir, QByteArray &end,
                         QByteArray &comment);
  int finishOutput(zipcopy::OutputFile &out);
  bool deleteByHowToDelete(const QString &path, QString *error);
  void replaceSource(const QString &output);
  // A text of our own, reported as ReportMessage reports a table text (without an id).
  void reportText(const QString &text);
  // Progress after each block of a copy: the bytes, pending events (the messages window's Cancel), and false
  // once a cancel was asked for.
  std::function<bool(qint64)> copyProgress();
  // Marks the component busy for the length of a scope, as it was before afterwards.
  struct BusyFlag {
    bool &flag, was;
    explicit BusyFlag(bool &f) : flag(f), was(f) { flag = true; }
    ~BusyFlag() { flag = was; }
  };
  int askQuestion(const QString &caption, const QString &text, int buttons, int icon, int defaultButton);
  int spanResult(const std::function<void()> &work);
  QByteArray readDirectoryAcrossParts(const ZipEndOfCentral &rec);
  void clearDirectory();
  void listArchive();
  void closeArchiveFile();
  bool loadEngine(bool zip);
  void unloadEngine(bool zip);
  int callback(zipapi::CallbackRecord *rec);
  void runZipEngine(bool deleting, const QString &target);
  QString libraryPath(bool zip) const;
  QString tempFolder() const;
  QByteArray passwordBytes() const;

  bool verbose_ = false, trace_ = false, unattended_ = false, confirmErase_ = true;
  int addCompLevel_ = 9;
  AddOptionSet addOptions_;
  ExtrOptionSet extrOptions_;
  SFXOptionSet sfxOptions_ = SFXCheckSize;
  QString extrBaseDir_, zipFilename_, password_, sfxPath_, dllDirectory_, sfxCaption_, sfxDefaultDir_,
      sfxCommandLine_, tempDir_;
  QStringList fspecArgs_;
  OvrOpts sfxOverWriteMode_ = OvrConfirm;
  qint64 keepFreeOnDisk1_ = 0, maxVolumeSize_ = 0, minFreeVolumeSize_ = 65536;
  CodePageOpts codePage_ = cpAuto;
  DeleteOpts howToDelete_ = htdAllowUndo;

  std::vector<ZipDirEntry> entries_;
  int successCount_ = 0, errorCode_ = 0, fullErrorCode_ = 0;
  QString lastMessage_;
  bool cancelRequested_ = false, addBusy_ = false, extractBusy_ = false;
  qint64 archiveStart_ = 0, endRecordPos_ = 0, endOfZipData_ = 0, fileSize_ = 0, centralDirPos_ = 0;
  bool spannedArchive_ = false, structureWarning_ = false, firstPartMarker_ = false;
  int lastDiskNumber_ = 0, labelDiskNumber_ = 0;
  QString archiveComment_, driveRoot_, volumeLabel_, lastSpanPart_;
  qint64 diskFree_ = -1, diskSize_ = -1, totalToProcess_ = 0;
  QFile file_;
  QElapsedTimer pumpTimer_;

  std::unique_ptr<QLibrary> zipLib_, unzLib_;
  void *zipExec_ = nullptr, *zipVersion_ = nullptr, *unzExec_ = nullptr, *unzVersion_ = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TZipMaster::AddOptionSet)
Q_DECLARE_OPERATORS_FOR_FLAGS(TZipMaster::ExtrOptionSet)
Q_DECLARE_OPERATORS_FOR_FLAGS(TZipMaster::SFXOptionSet)
