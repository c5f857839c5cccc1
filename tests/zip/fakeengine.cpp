// A stand-in engine library that reports the version given in TARNWICK_FAKE_VERSION, keeps a copy of
// the record it is handed, sends one callback of every kind and returns 7. Built twice, as the zip and
// as the unzip engine, into a folder of its own.
#include "engines/engineapi.h"
#include "tests/zip/fakeengine.h"

#include <cstdlib>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace zipapi;

namespace {
FakeCapture capture;

int32_t version() {
  const char *v = std::getenv("TARNWICK_FAKE_VERSION");
  return v ? std::atoi(v) : 152;
}

void grab(const void *rec, size_t size, const char *password, const char *archive) {
  capture = FakeCapture{};
  capture.calls = 1;
  const auto *b = static_cast<const unsigned char *>(rec);
  capture.record.assign(b, b + size);
  if (password) {
    capture.password = password;
    capture.passwordBuffer.assign(password, password + kPasswordBuffer);
  }
  if (archive) capture.archive = archive;
}

int32_t talk(Callback cb, void *caller) {
  CallbackRecord r{};
  r.caller = caller;
  auto send = [&](int32_t action, int32_t error, uint32_t size, int64_t size64, const char *text) {
    r.action = action;
    r.error = error;
    r.size = size;
    r.size64 = size64;
    std::memset(r.text, 0, sizeof r.text);
    std::strncpy(r.text, text, sizeof r.text - 1);
    return cb(&r);
  };
  send(ActTotalMembers, 0, 2, 2, "");
  send(ActTotalBytes, 0, 0xFFFFFFFFu, 5000000000LL, "");
  send(ActNewMember, 0, 10, 10, "dir/name.txt");
  send(ActBytes, 0, 10, 10, "");
  send(ActMessage, 0x1234, 0, 0, "engine says   ");
  const int32_t stop = send(ActBatchEnd, 0, 0, 0, "");
  return stop ? 0 : 7;
}
}  // namespace

EXPORT const FakeCapture *FakeLastCall() { return &capture; }

#ifdef FAKE_ZIP
EXPORT int32_t GetZipDllVersion() { return version(); }
#ifndef FAKE_BROKEN
EXPORT int32_t ZipDllExec(ZipParams *p) {
  const bool flat = version() <= 150;
  grab(p, flat ? sizeof(ZipParamsFlat) : sizeof(ZipParams), p->head.password, p->head.archive);
  if (flat) {
    auto *f = reinterpret_cast<ZipParamsFlat *>(p);
    for (int i = 0; i < p->head.specCount; ++i) capture.specs.emplace_back(f->specs[i]);
  } else {
    if (p->tempDir) capture.tempDir = p->tempDir;
    for (int i = 0; i < p->head.specCount; ++i) {
      const auto *b = reinterpret_cast<const unsigned char *>(&p->specs[i]);
      capture.specRecords.emplace_back(b, b + sizeof(ZipSpec));
      capture.specs.emplace_back(p->specs[i].text);
    }
  }
  return talk(p->head.callback, p->head.caller);
}
#endif
#else
EXPORT int32_t GetUnzDllVersion() { return version(); }
EXPORT int32_t UnzDllExec(UnzParams *p) {
  const bool flat = version() <= 151;
  grab(p, flat ? sizeof(UnzParamsFlat) : sizeof(UnzParams), p->head.password, p->head.archive);
  if (flat) {
    auto *f = reinterpret_cast<UnzParamsFlat *>(p);
    for (int i = 0; i < p->head.specCount; ++i) capture.specs.emplace_back(f->specs[i]);
  } else {
    for (int i = 0; i < p->head.specCount; ++i) {
      const auto *b = reinterpret_cast<const unsigned char *>(&p->specs[i]);
      capture.specRecords.emplace_back(b, b + sizeof(UnzSpec));
      capture.specs.emplace_back(p->specs[i].text);
    }
  }
  return talk(p->head.callback, p->head.caller);
}
#endif
