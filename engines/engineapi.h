#pragma once
// Interface between TZipMaster and the zip / unzip engine libraries: entry points, parameter records,
// callback record and action codes. One definition for both sides.
//
// The records keep the field order, number sizes and constants of the original 32-bit interface;
// every pointer or handle takes 8 bytes at its natural alignment. Booleans are 32-bit, true = all bits
// set (the engines take any non-zero value as true). Little-endian. Resulting 64-bit layout:
//
// Zip parameter record (ZipParams)             Unzip parameter record (UnzParams)
//  off size field                                off size field
//    0  8  window handle                           0  8  window handle
//    8  8  caller value                            8  8  caller value
//   16  4  interface version (152)                16  4  interface version (152)
//   24  8  callback address                       24  8  callback address
//   32  4  trace                                  32  4  trace
//   40  8  password buffer (81 bytes)             36  4  0
//   48  4  0                                      40  8  password buffer (81 bytes)
//   52  4  encrypt                                48  4  test only
//   56  4  hidden and system files                52  8  0
//   60  8  0                                      60  4  true
//   68  4  store folder entries                   64  4  verbose
//   72  4  0                                      68  4  update
//   76  4  verbose                                72  4  freshen
//   80  4  true                                   76  4  keep folder names
//   84  4  compression level                      80  4  overwrite
//   88  8  0                                      84  4  number of file specs
//   96  4  drop folder names                      88  8  archive name
//  100  2  recurse (0xFFFF/0), 2 bytes 0        flat (version <= 151), 32,880 bytes:
//  104  4  true                                   96  4  constant 7
//  108  4  DOS 8.3 names                         104  8  4,097 spec text slots
//  112  4  move                                 compact (version > 151), 176 bytes:
//  116  4  delete members                         96  8  spec record array (UnzSpec, 80 bytes each:
//  120  4  update                                        text at 0, 68 bytes 0)
//  124  4  freshen                               104 68  0
//  128  4  0                                     172  4  constant 7
//  132  4  archive time from newest member
//  136  8  0                                    Callback record (CallbackRecord), 560 bytes:
//  144  4  number of file specs                    0  4  not read
//  152  8  archive name                            8  8  caller value
// flat (version <= 150), 32,944 bytes:            16  8  not read
//  160  4  constant 7                             24  4  action code 1-6
//  168  8  4,097 spec text slots                  28  4  error code, 0 = none
// compact (version > 150), 256 bytes:             32  4  a size or count (32-bit, saturated)
//  160  8  TempDir text                           36 512 zero-terminated name or message (UTF-8)
//  168  8  0                                     552  8  the same size or count in 64 bits (ours: sizes
//  176  8  spec record array (ZipSpec, 112 bytes        above 4 GiB would not fit the 32-bit field)
//          each: text at 0, 100 bytes 0)
//  184 68  0
//  252  4  constant 7
//
// Texts are UTF-8. The callback returns a 32-bit boolean; all bits set asks the engine to stop.
#include <cstddef>
#include <cstdint>

namespace zipapi {

constexpr int32_t kInterfaceVersion = 152;
constexpr int32_t kTrailer = 7;
constexpr int32_t kTrue = -1;  // all bits set
constexpr int kSpecSlots = 4097;
constexpr int kPasswordBuffer = 81;

// Action codes of the callback record.
enum Action : int32_t {
  ActNewMember = 1,   // name, size of the member
  ActBytes = 2,       // bytes just processed
  ActBatchEnd = 3,
  ActMessage = 4,     // message text and error code
  ActTotalMembers = 5,
  ActTotalBytes = 6,
};

// Engine error codes carried with action 4 (the low byte is what the component keeps as ErrorCode).
enum EngineError : int32_t {
  ErrNone = 0,
  ErrWarning = 1,
  ErrFormat = 3,       // damaged archive structure
  ErrMemory = 4,
  ErrBadName = 9,      // unsafe member name (absolute, "..", outside link)
  ErrNoMatch = 11,     // nothing matched the specs
  ErrTruncated = 12,   // data ends early
  ErrCrc = 13,
  ErrOpen = 14,        // file could not be read or written
  ErrWrite = 15,
  ErrPassword = 82,
  ErrCancelled = 80,
  ErrUnsupported = 81,
};

struct CallbackRecord {
  int32_t unused0;
  int32_t pad0;
  void *caller;
  int64_t unused16;
  int32_t action;
  int32_t error;
  uint32_t size;
  char text[512];
  uint32_t pad1;
  int64_t size64;
};

using Callback = int32_t (*)(CallbackRecord *);

struct ZipSpec {
  const char *text;
  int32_t zero[25];
  int32_t pad;
};

struct UnzSpec {
  const char *text;
  int32_t zero[17];
  int32_t pad;
};

// Fields shared by the flat and compact zip records (the records begin with it).
struct ZipParamsHead {
  void *window;
  void *caller;
  int32_t version;
  int32_t pad20;
  Callback callback;
  int32_t trace;
  int32_t pad36;
  char *password;
  int32_t zero48;
  int32_t encrypt;
  int32_t hidden;
  int32_t zero60[2];
  int32_t storeFolderEntries;
  int32_t zero72;
  int32_t verbose;
  int32_t true80;
  int32_t level;
  int32_t zero88[2];
  int32_t dropFolderNames;
  int16_t recurse;
  int16_t pad102;
  int32_t true104;
  int32_t dosNames;
  int32_t move;
  int32_t deleteMembers;
  int32_t update;
  int32_t freshen;
  int32_t zero128;
  int32_t zipTime;
  int32_t zero136[2];
  int32_t specCount;
  int32_t pad148;
  const char *archive;
};

struct ZipParamsFlat {
  ZipParamsHead head;
  int32_t trailer;
  int32_t pad164;
  const char *specs[kSpecSlots];
};

struct ZipParams {
  ZipParamsHead head;
  const char *tempDir;
  int32_t zero168[2];
  ZipSpec *specs;
  int32_t zero184[17];
  int32_t trailer;
};

struct UnzParamsHead {
  void *window;
  void *caller;
  int32_t version;
  int32_t pad20;
  Callback callback;
  int32_t trace;
  int32_t zero36;
  char *password;
  int32_t test;
  int32_t zero52[2];
  int32_t true60;
  int32_t verbose;
  int32_t update;
  int32_t freshen;
  int32_t dirNames;
  int32_t overwrite;
  int32_t specCount;
  const char *archive;
};

struct UnzParamsFlat {
  UnzParamsHead head;
  int32_t trailer;
  int32_t pad100;
  const char *specs[kSpecSlots];
};

struct UnzParams {
  UnzParamsHead head;
  UnzSpec *specs;
  int32_t zero104[17];
  int32_t trailer;
};

static_assert(sizeof(void *) == 8, "the record tables are written for 64-bit builds");

static_assert(offsetof(CallbackRecord, caller) == 8);
static_assert(offsetof(CallbackRecord, unused16) == 16);
static_assert(offsetof(CallbackRecord, action) == 24);
static_assert(offsetof(CallbackRecord, error) == 28);
static_assert(offsetof(CallbackRecord, size) == 32);
static_assert(offsetof(CallbackRecord, text) == 36);
static_assert(offsetof(CallbackRecord, size64) == 552);
static_assert(sizeof(CallbackRecord) == 560);

static_assert(sizeof(ZipSpec) == 112);
static_assert(sizeof(UnzSpec) == 80);

static_assert(offsetof(ZipParamsHead, window) == 0);
static_assert(offsetof(ZipParamsHead, caller) == 8);
static_assert(offsetof(ZipParamsHead, version) == 16);
static_assert(offsetof(ZipParamsHead, callback) == 24);
static_assert(offsetof(ZipParamsHead, trace) == 32);
static_assert(offsetof(ZipParamsHead, password) == 40);
static_assert(offsetof(ZipParamsHead, zero48) == 48);
static_assert(offsetof(ZipParamsHead, encrypt) == 52);
static_assert(offsetof(ZipParamsHead, hidden) == 56);
static_assert(offsetof(ZipParamsHead, zero60) == 60);
static_assert(offsetof(ZipParamsHead, storeFolderEntries) == 68);
static_assert(offsetof(ZipParamsHead, zero72) == 72);
static_assert(offsetof(ZipParamsHead, verbose) == 76);
static_assert(offsetof(ZipParamsHead, true80) == 80);
static_assert(offsetof(ZipParamsHead, level) == 84);
static_assert(offsetof(ZipParamsHead, zero88) == 88);
static_assert(offsetof(ZipParamsHead, dropFolderNames) == 96);
static_assert(offsetof(ZipParamsHead, recurse) == 100);
static_assert(offsetof(ZipParamsHead, true104) == 104);
static_assert(offsetof(ZipParamsHead, dosNames) == 108);
static_assert(offsetof(ZipParamsHead, move) == 112);
static_assert(offsetof(ZipParamsHead, deleteMembers) == 116);
static_assert(offsetof(ZipParamsHead, update) == 120);
static_assert(offsetof(ZipParamsHead, freshen) == 124);
static_assert(offsetof(ZipParamsHead, zero128) == 128);
static_assert(offsetof(ZipParamsHead, zipTime) == 132);
static_assert(offsetof(ZipParamsHead, zero136) == 136);
static_assert(offsetof(ZipParamsHead, specCount) == 144);
static_assert(offsetof(ZipParamsHead, archive) == 152);
static_assert(sizeof(ZipParamsHead) == 160);
static_assert(offsetof(ZipParamsFlat, trailer) == 160);
static_assert(offsetof(ZipParamsFlat, specs) == 168);
static_assert(sizeof(ZipParamsFlat) == 32944);
static_assert(offsetof(ZipParams, tempDir) == 160);
static_assert(offsetof(ZipParams, zero168) == 168);
static_assert(offsetof(ZipParams, specs) == 176);
static_assert(offsetof(ZipParams, zero184) == 184);
static_assert(offsetof(ZipParams, trailer) == 252);
static_assert(sizeof(ZipParams) == 256);

static_assert(offsetof(UnzParamsHead, window) == 0);
static_assert(offsetof(UnzParamsHead, caller) == 8);
static_assert(offsetof(UnzParamsHead, version) == 16);
static_assert(offsetof(UnzParamsHead, callback) == 24);
static_assert(offsetof(UnzParamsHead, trace) == 32);
static_assert(offsetof(UnzParamsHead, zero36) == 36);
static_assert(offsetof(UnzParamsHead, password) == 40);
static_assert(offsetof(UnzParamsHead, test) == 48);
static_assert(offsetof(UnzParamsHead, zero52) == 52);
static_assert(offsetof(UnzParamsHead, true60) == 60);
static_assert(offsetof(UnzParamsHead, verbose) == 64);
static_assert(offsetof(UnzParamsHead, update) == 68);
static_assert(offsetof(UnzParamsHead, freshen) == 72);
static_assert(offsetof(UnzParamsHead, dirNames) == 76);
static_assert(offsetof(UnzParamsHead, overwrite) == 80);
static_assert(offsetof(UnzParamsHead, specCount) == 84);
static_assert(offsetof(UnzParamsHead, archive) == 88);
static_assert(sizeof(UnzParamsHead) == 96);
static_assert(offsetof(UnzParamsFlat, trailer) == 96);
static_assert(offsetof(UnzParamsFlat, specs) == 104);
static_assert(sizeof(UnzParamsFlat) == 32880);
static_assert(offsetof(UnzParams, specs) == 96);
static_assert(offsetof(UnzParams, zero104) == 104);
static_assert(offsetof(UnzParams, trailer) == 172);
static_assert(sizeof(UnzParams) == 176);

// Entry points, exported with C linkage by the engine libraries.
using GetVersionFn = int32_t (*)();
using ZipExecFn = int32_t (*)(ZipParams *);
using UnzExecFn = int32_t (*)(UnzParams *);

}  // namespace zipapi
