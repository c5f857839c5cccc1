#pragma once
// Format code shared by the zip and unzip engines: little-endian fields, CRC, traditional PKWARE
// encryption, DOS times, the central directory reader (Zip64 included), spec matching, the callback
// reporter and a small worker pool. Plain C++ and POSIX; nothing here knows about Qt.
#include "engines/engineapi.h"
#include "engines/zipformat.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zipcore {

using namespace zipformat;

// A member whose data fits this bound is handled as one buffer (libdeflate, worker threads); larger
// ones stream (zlib, in parallel chunks when adding).
constexpr uint64_t kWholeBufferLimit = 128u << 20;

inline void put16(std::string &s, uint16_t v) {
  s += char(v & 0xFF);
  s += char(v >> 8);
}
inline void put32(std::string &s, uint32_t v) {
  put16(s, uint16_t(v));
  put16(s, uint16_t(v >> 16));
}
inline void put64(std::string &s, uint64_t v) {
  put32(s, uint32_t(v));
  put32(s, uint32_t(v >> 32));
}

uint32_t crcUpdate(uint32_t crc, const void *data, size_t len);

// Traditional PKWARE encryption.
class ZipCrypto {
 public:
  explicit ZipCrypto(std::string_view password);
  unsigned char decryptByte(unsigned char c) {
    c ^= streamByte();
    update(c);
    return c;
  }
  unsigned char encryptByte(unsigned char c) {
    const unsigned char t = streamByte();
    update(c);
    return c ^ t;
  }
  void decrypt(unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = decryptByte(p[i]);
  }
  void encrypt(unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = encryptByte(p[i]);
  }

 private:
  unsigned char streamByte() const {
    const uint32_t t = uint16_t(k2_ | 2);  // unsigned: the product does not fit an int
    return uint8_t((t * (t ^ 1u)) >> 8);
  }
  void update(unsigned char c);
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// DOS date (high 16 bits) and time (low 16 bits) of a Unix time, in local time.
uint32_t dosDateTime(int64_t unixTime);
int64_t unixTime(uint16_t dosDate, uint16_t dosTime);

struct Member {
  std::string raw;         // stored name bytes
  std::string name;        // UTF-8, "/" separators
  uint8_t madeBy = 0, host = 0;
  uint16_t needed = 0, flags = 0, method = 0, time = 0, date = 0, internal = 0, disk = 0;
  uint32_t crc = 0, external = 0;
  uint64_t csize = 0, usize = 0;
  uint64_t localOffset = 0;  // where the local header lies in the file (preamble counted)
  std::string extra;         // central extra field, without the Zip64 block
  std::string comment;       // raw comment bytes
  bool isDir() const { return !name.empty() && name.back() == '/'; }
  bool isSymlink() const { return host == 3 && ((external >> 16) & 0170000) == 0120000; }
  uint32_t mode() const { return host == 3 ? (external >> 16) & 07777 : 0; }
};

struct Archive {
  std::vector<Member> members;
  std::string comment;
  uint64_t fileSize = 0;
  uint64_t preamble = 0;    // bytes before the zip data whose offsets count from the data's start
  uint64_t dataStart = 0;   // first byte of zip data (preamble or self-extracting program ends here)
  uint64_t directoryStart = 0;  // where the central directory lies in the file
};

// Reads the directory of an open file. Never reads beyond the bytes the file has; returns false with
// an explanation on damaged or unsupported structures.
bool readArchive(int fd, Archive &out, std::string &error);

// Reads each member's local header. Records that share bytes (one payload standing for many members, as
// zip bombs do) or that run into the central directory make the archive damaged: false with the reason.
// A local name or method other than the central entry's adds a warning for that member (index, text);
// the central entry stays what counts.
bool checkLocalRecords(int fd, const Archive &a, std::string &error,
                       std::vector<std::pair<size_t, std::string>> &warnings);

// Reads exactly n bytes at an offset; false on a short read.
bool preadAll(int fd, void *buf, size_t n, uint64_t offset);
bool writeAll(int fd, const void *buf, size_t n);

// Spec matching: "*" and "?" wildcards, "\" taken as "/", "*.*" and "*" match everything.
bool wildMatch(std::string_view pattern, std::string_view text);
std::string normalizeSpec(std::string spec);

// Sends callback records on the calling thread and remembers a stop request. Texts are sent with their
// control characters escaped: every one of them is shown to the user.
class Reporter {
 public:
  Reporter(zipapi::Callback cb, void *caller) : cb_(cb), caller_(caller) {}
  bool send(int32_t action, int32_t error, uint64_t size, std::string_view text);
  bool newMember(std::string_view name, uint64_t size) { return send(zipapi::ActNewMember, 0, size, name); }
  bool bytes(uint64_t n) { return send(zipapi::ActBytes, 0, n, {}); }
  bool message(int32_t error, std::string_view text) { return send(zipapi::ActMessage, error, 0, text); }
  bool stopped() const { return stop_; }

 private:
  zipapi::Callback cb_;
  void *caller_;
  bool stop_ = false;
};

// A stop asked for from outside the callbacks, by a program that owns its process (the self-extracting
// program's signal handler). Async-signal-safe. The unzip engine sees it between blocks of a member.
void requestStop() noexcept;
bool stopRequested() noexcept;

// Fixed set of worker threads running posted jobs.
class WorkerPool {
 public:
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  void post(std::function<void()> job);
  unsigned size() const { return unsigned(threads_.size()); }

 private:
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool quit_ = false;
};

unsigned workerCount();

// Whole-buffer deflate and inflate (libdeflate when present, else zlib). compress returns false when
// the output would not be smaller than the input. inflate returns false on bad or short data.
bool deflateBuffer(const unsigned char *in, size_t n, int level, std::string &out);
enum class InflateResult { Ok, BadData, Short };
InflateResult inflateBuffer(const unsigned char *in, size_t n, unsigned char *out, size_t outSize);

bool isTrue(int32_t v);

// A per-thread scratch buffer of at least n bytes, not cleared, kept between members so that its pages
// are touched once per operation rather than once per member. Slots 0-2 are independent buffers.
unsigned char *scratch(int slot, size_t n);

}  // namespace zipcore
