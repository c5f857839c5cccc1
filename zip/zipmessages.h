#pragma once
// Message ids of the zip component and the one string table that holds their texts.
#include <QString>
#include <QVariantList>

namespace zipmsg {

enum Id {
  GE_FatalZip = 10101,
  GE_NoZipSpecified = 10102,
  GE_NoMem = 10103,
  GE_Copying = 10105,
  LI_ReadZipError = 10201,
  LI_ErrorUnknown = 10202,
  LI_WrongZipStruct = 10203,
  LI_GarbageAtEOF = 10204,
  AD_NothingToZip = 10301,
  AD_UnattPassword = 10302,
  AD_NoFreshenUpdate = 10303,
  DL_NothingToDel = 10401,
  EX_FatalUnZip = 10501,
  EX_UnAttPassword = 10502,
  LD_ZipDllLoaded = 10601,
  LD_NoZipExec = 10602,
  LD_NoZipVersion = 10603,
  LD_NoZipDll = 10604,
  LD_UnzDllLoaded = 10701,
  LD_NoUnzExec = 10702,
  LD_NoUnzVersion = 10703,
  LD_NoUnzDll = 10704,
  SF_StringTooLong = 10801,
  SF_NoZipSFXBin = 10802,
  SF_InputIsNoZip = 10803,
  CZ_NoExeSpecified = 10901,
  CZ_InputNotExe = 10902,
  CZ_SFXTypeUnknown = 10903,
  DS_NoInFile = 11001,
  DS_FileOpen = 11002,
  DS_NotaDrive = 11003,
  DS_DriveNoMount = 11004,
  DS_NoVolume = 11005,
  DS_NoMem = 11006,
  DS_Canceled = 11007,
  DS_FailedSeek = 11008,
  DS_NoOutFile = 11009,
  DS_NoWrite = 11010,
  DS_EOCBadRead = 11011,
  DS_LOHBadRead = 11012,
  DS_CEHBadRead = 11013,
  DS_LOHWrongSig = 11014,
  DS_CEHWrongSig = 11015,
  DS_LONameLen = 11016,
  DS_CENameLen = 11017,
  DS_LOExtraLen = 11018,
  DS_CEExtraLen = 11019,
  DS_DataDesc = 11020,
  DS_ZipData = 11021,
  DS_CECommentLen = 11022,
  DS_EOArchComLen = 11023,
  DS_ErrorUnknown = 11024,
  DS_NoUnattSpan = 11025,
  DS_EntryLost = 11026,
  DS_NoTempFile = 11027,
  DS_LOHBadWrite = 11028,
  DS_CEHBadWrite = 11029,
  DS_EOCBadWrite = 11030,
  DS_ExtWrongSig = 11031,
  DS_NoDiskSpace = 11032,
  DS_InsertDisk = 11033,
  DS_InsertVolume = 11034,
  DS_InDrive = 11035,
  DS_NoValidZip = 11036,
  DS_FirstInSet = 11037,
  DS_NotLastInSet = 11038,
  DS_AskDeleteFile = 11039,
  DS_AskPrevFile = 11040,
  DS_NoSFXSpan = 11041,
  DS_FirstFileOnHD = 11045,
  DS_InsertAVolume = 11046,
};

// The table text of an id, or an empty string when the id has none.
QString text(int id);
// The text of an id with its %d / %s / %.1d directives filled from args in order; the
// "not bound" text naming the id when the table has none.
QString format(int id, const QVariantList &args = {});

}  // namespace zipmsg
