#include "engines/zipcore.h"
#include "engines/zipnames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>

#ifdef TARNWICK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace zipcore {

uint32_t crcUpdate(uint32_t crc, const void *data, size_t len) {
#ifdef TARNWICK_HAVE_LIBDEFLATE
  return libdeflate_crc32(crc, data, len);
#else
  const auto *p = static_cast<const unsigned char *>(data);
  while (len > 0) {
    const uInt chunk = uInt(std::min<size_t>(len, 1u << 30));
    crc = uint32_t(::crc32(crc, p, chunk));
    p += chunk;
    len -= chunk;
  }
  return crc;
#endif
}

namespace {
const uint32_t *crcTable() {
  static const auto *table = [] {
    static uint32_t t[256];
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}
}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) {
  for (unsigned char c : password) update(c);
}

void ZipCrypto::update(unsigned char c) {
  const uint32_t *t = crcTable();
  k0_ = t[(k0_ ^ c) & 0xFF] ^ (k0_ >> 8);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
  k2_ = t[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
}

uint32_t dosDateTime(int64_t t) {
  const time_t tt = time_t(t);
  struct tm tm {};
  if (!localtime_r(&tt, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01
  if (tm.tm_year > 207) tm.tm_year = 207;
  const uint32_t date = uint32_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const uint32_t time = uint32_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

int64_t unixTime(uint16_t date, uint16_t time) {
  struct tm tm {};
  tm.tm_year = ((date >> 9) & 0x7F) + 80;
  tm.tm_mon = std::max(0, ((date >> 5) & 0x0F) - 1);
  tm.tm_mday = std::max(1, date & 0x1F);
  tm.tm_hour = (time >> 11) & 0x1F;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return int64_t(mktime(&tm));
}

bool preadAll(int fd, void *buf, size_t n, uint64_t offset) {
  auto *p = static_cast<char *>(buf);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, off_t(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
    offset += uint64_t(r);
  }
  return true;
}

namespace {
std::atomic<bool> stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
}  // namespace

void requestStop() noexcept { stopAsked.store(true, std::memory_order_relaxed); }
bool stopRequested() noexcept { return stopAsked.load(std::memory_order_relaxed); }

bool writeAll(int fd, const void *buf, size_t n) {
  const auto *p = static_cast<const char *>(buf);
  while (n > 0) {
    const ssize_t r = ::write(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

namespace {

// Applies the Zip64 extra block to the fields that hold their 0xFFFF... marker and returns the extra
// field without that block.
bool applyZip64(std::string_view extra, Member &m, bool needU, bool needC, bool needO, bool needD,
                std::string &rest) {
  size_t i = 0;
  rest.clear();
  bool ok = !(needU || needC || needO || needD);
  while (i + 4 <= extra.size()) {
    const auto *p = reinterpret_cast<const unsigned char *>(extra.data() + i);
    const uint16_t id = rd16(p), len = rd16(p + 2);
    if (i + 4 + len > extra.size()) break;
    if (id == 0x0001) {
      const unsigned char *q = p + 4, *e = p + 4 + len;
      auto take = [&](bool need, uint64_t &field) {
        if (!need) return true;
        if (q + 8 > e) return false;
        field = rd64(q);
        q += 8;
        return true;
      };
      uint64_t off = m.localOffset, disk = m.disk;
      ok = take(needU, m.usize) && take(needC, m.csize) && take(needO, off);
      if (ok && needD) {
        if (q + 4 > e) ok = false;
        else disk = rd32(q);
      }
      m.localOffset = off;
      m.disk = uint16_t(disk);
    } else {
      rest.append(extra.substr(i, 4 + len));
    }
    i += 4 + len;
  }
  return ok;
}

}  // namespace

bool readArchive(int fd, Archive &out, std::string &error) {
  out = Archive{};
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = "cannot read the archive";
    return false;
  }
  const uint64_t size = uint64_t(st.st_size);
  out.fileSize = size;
  if (size < 22) {
    error = "not a zip archive (no end of central directory)";
    return false;
  }
  const uint64_t tailLen = std::min<uint64_t>(size, 65557 + 20 + 56);
  const uint64_t tailStart = size - tailLen;
  std::string tail(size_t(tailLen), '\0');
  if (!preadAll(fd, tail.data(), tail.size(), tailStart)) {
    error = "cannot read the end of the archive";
    return false;
  }
  const auto *t = reinterpret_cast<const unsigned char *>(tail.data());
  int64_t pos = -1;
  for (int64_t i = int64_t(tailLen) - 22; i >= 0; --i) {
    if (t[i] == 'P' && t[i + 1] == 'K' && t[i + 2] == 5 && t[i + 3] == 6 &&
        uint64_t(i) + 22 + rd16(t + i + 20) <= tailLen) {
      pos = i;
      break;
    }
  }
  if (pos < 0) {
    error = "not a zip archive (no end of central directory)";
    return false;
  }
  const unsigned char *e = t + pos;
  uint64_t eocd = tailStart + uint64_t(pos);
  out.comment.assign(reinterpret_cast<const char *>(e + 22), rd16(e + 20));
  uint64_t total = rd16(e + 10), cdSize = rd32(e + 12), cdOff = rd32(e + 16);
  uint32_t thisDisk = rd16(e + 4), cdDisk = rd16(e + 6);
  uint64_t cdEnd = eocd;
  if (eocd >= 20) {
    unsigned char loc[20];
    if (preadAll(fd, loc, 20, eocd - 20) && rd32(loc) == kSigLocator64) {
      const uint64_t stated = rd64(loc + 8);
      unsigned char z[56];
      uint64_t at = 0;
      bool found = false;
      if (stated + 56 <= eocd - 20 && preadAll(fd, z, 56, stated) && rd32(z) == kSigEnd64) {
        at = stated;
        found = true;
      } else if (eocd >= 76 && preadAll(fd, z, 56, eocd - 76) && rd32(z) == kSigEnd64) {
        at = eocd - 76;
        found = true;
      }
      if (!found) {
        error = "damaged Zip64 end record";
        return false;
      }
      thisDisk = rd32(z + 16);
      cdDisk = rd32(z + 20);
      total = rd64(z + 32);
      cdSize = rd64(z + 40);
      cdOff = rd64(z + 48);
      cdEnd = at;
    }
  }
  if (thisDisk != 0 || cdDisk != 0) {
    error = "the archive is part of a spanned set";
    return false;
  }
  if (cdSize > cdEnd) {
    error = "damaged central directory (size beyond the file)";
    return false;
  }
  const uint64_t cdPos = cdEnd - cdSize;
  if (cdOff > cdPos) {
    error = "damaged central directory (offset beyond the file)";
    return false;
  }
  out.preamble = cdPos - cdOff;
  if (total > cdSize / 46) {
    error = "damaged central directory (more entries than it can hold)";
    return false;
  }
  std::string cd(size_t(cdSize), '\0');
  if (cdSize && !preadAll(fd, cd.data(), cd.size(), cdPos)) {
    error = "cannot read the central directory";
    return false;
  }
  const auto *c = reinterpret_cast<const unsigned char *>(cd.data());
  size_t i = 0;
  out.members.reserve(size_t(total));
  uint64_t start = cdPos;
  std::string rest;
  for (uint64_t n = 0; n < total; ++n) {
    if (i + 46 > cd.size() || rd32(c + i) != kSigCentral) {
      error = "damaged central directory (entry " + std::to_string(n + 1) + ")";
      return false;
    }
    const unsigned char *h = c + i;
    const size_t nl = rd16(h + 28), xl = rd16(h + 30), cl = rd16(h + 32);
    if (i + 46 + nl + xl + cl > cd.size()) {
      error = "damaged central directory (entry " + std::to_string(n + 1) + " too long)";
      return false;
    }
    Member m;
    m.madeBy = h[4];
    m.host = h[5];
    m.needed = rd16(h + 6);
    m.flags = rd16(h + 8);
    m.method = rd16(h + 10);
    m.time = rd16(h + 12);
    m.date = rd16(h + 14);
    m.crc = rd32(h + 16);
    m.csize = rd32(h + 20);
    m.usize = rd32(h + 24);
    m.disk = rd16(h + 34);
    m.internal = rd16(h + 36);
    m.external = rd32(h + 38);
    m.localOffset = rd32(h + 42);
    m.raw.assign(reinterpret_cast<const char *>(h + 46), nl);
    std::string_view extra(reinterpret_cast<const char *>(h + 46 + nl), xl);
    m.comment.assign(reinterpret_cast<const char *>(h + 46 + nl + xl), cl);
    if (!applyZip64(extra, m, m.usize == 0xFFFFFFFFu, m.csize == 0xFFFFFFFFu,
                    m.localOffset == 0xFFFFFFFFu, m.disk == 0xFFFF, rest)) {
      error = "damaged Zip64 field of " + m.raw;
      return false;
    }
    m.extra = rest;
    m.name = zipnames::toUtf8(m.raw, m.flags, m.host, m.madeBy);
    if (m.host == 0 || m.host == 6 || m.host == 11) std::replace(m.name.begin(), m.name.end(), '\\', '/');
    if (m.localOffset > cdOff) {
      error = "damaged central directory (member " + m.name + " lies beyond the directory)";
      return false;
    }
    m.localOffset += out.preamble;
    start = std::min(start, m.localOffset);
    out.members.push_back(std::move(m));
    i += 46 + nl + xl + cl;
  }
  out.dataStart = start;
  out.directoryStart = cdPos;
  return true;
}

bool checkLocalRecords(int fd, const Archive &a, std::string &error,
                       std::vector<std::pair<size_t, std::string>> &warnings) {
  struct Span {
    uint64_t start, end;
    size_t index;
  };
  std::vector<Span> spans;
  spans.reserve(a.members.size());
  std::string head;
  for (size_t i = 0; i < a.members.size(); ++i) {
    const Member &m = a.members[i];
    // The header and, in the same read, as many name bytes as the central entry has.
    const uint64_t want = std::min<uint64_t>(30 + m.raw.size(), a.fileSize > m.localOffset ? a.fileSize - m.localOffset : 0);
    head.assign(size_t(want), '\0');
    const auto *h = reinterpret_cast<const unsigned char *>(head.data());
    if (want < 30 || !preadAll(fd, head.data(), head.size(), m.localOffset) || rd32(h) != kSigLocal) {
      // Unreadable: the member's own decoding reports it. It still holds its header's place.
      spans.push_back({m.localOffset, m.localOffset + 30, i});
      continue;
    }
    const uint16_t nl = rd16(h + 26), xl = rd16(h + 28), method = rd16(h + 8);
    uint64_t end = m.localOffset + 30 + nl + xl + m.csize;
    if (m.flags & kFlagDescriptor) end += 12;  // the shortest descriptor
    // Data claimed beyond the end of the file is cut short, which the member's decoding reports: only
    // its header takes space then.
    if (end > a.fileSize || m.csize > a.fileSize) end = m.localOffset + 30 + nl + xl;
    spans.push_back({m.localOffset, end, i});
    const bool nameDiffers = nl != m.raw.size() || head.compare(30, nl, m.raw) != 0;
    if (nameDiffers || method != m.method) {
      std::string w = "Warning - the local header of " + m.name + " differs from its central entry in";
      if (nameDiffers) {
        std::string local = nl == m.raw.size() ? head.substr(30, nl) : std::string();
        w += " name" + (local.empty() ? std::string() : " (\"" + zipnames::toUtf8(local, m.flags, m.host, m.madeBy) + "\")");
      }
      if (nameDiffers && method != m.method) w += " and";
      if (method != m.method) w += " method (" + std::to_string(method) + ", not " + std::to_string(m.method) + ")";
      w += "; the central entry is used";
      warnings.emplace_back(i, std::move(w));
    }
  }
  std::sort(spans.begin(), spans.end(), [](const Span &x, const Span &y) { return x.start < y.start; });
  const Span *reach = nullptr;  // the record that reaches furthest so far
  for (const Span &s : spans) {
    if (reach && s.start < reach->end) {
      error = "This archive is not a valid Zip archive: the records of " + a.members[reach->index].name + " and " +
              a.members[s.index].name + " overlap";
      return false;
    }
    if (!reach || s.end > reach->end) reach = &s;
  }
  if (reach && reach->end > a.directoryStart) {
    error = "This archive is not a valid Zip archive: the record of " + a.members[reach->index].name +
            " overlaps the central directory";
    return false;
  }
  return true;
}

bool wildMatch(std::string_view p, std::string_view s) {
  size_t pi = 0, si = 0, starP = std::string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == s[si])) {
      ++pi;
      ++si;
    } else if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
    } else if (starP != std::string_view::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::string normalizeSpec(std::string spec) {
  std::replace(spec.begin(), spec.end(), '\\', '/');
  if (spec == "*.*") spec = "*";
  return spec;
}

bool Reporter::send(int32_t action, int32_t error, uint64_t size, std::string_view text) {
  if (!cb_) return !stop_;
  zipapi::CallbackRecord r;
  std::memset(&r, 0, sizeof r);
  r.caller = caller_;
  r.action = action;
  r.error = error;
  r.size = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
  r.size64 = int64_t(size);
  const std::string shown = zipnames::printable(text);
  text = shown;
  size_t n = std::min(text.size(), sizeof r.text - 1);
  // Never cut a UTF-8 sequence in half.
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  if (n) std::memcpy(r.text, text.data(), n);  // an empty text may have no data pointer
  if (cb_(&r) != 0) stop_ = true;
  return !stop_;
}

WorkerPool::WorkerPool(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i)
    threads_.emplace_back([this] {
      for (;;) {
        std::function<void()> job;
        {
          std::unique_lock lock(mutex_);
          cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
          if (jobs_.empty()) return;
          job = std::move(jobs_.front());
          jobs_.pop_front();
        }
        job();
      }
    });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  for (auto &t : threads_) t.join();
}

void WorkerPool::post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  cv_.notify_one();
}

unsigned workerCount() {
  if (const char *env = getenv("TARNWICK_ZIP_THREADS")) {
    const int n = atoi(env);
    if (n >= 1 && n <= 64) return unsigned(n);
  }
  return std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
}

#ifdef TARNWICK_HAVE_LIBDEFLATE
namespace {
struct Codecs {
  libdeflate_compressor *comp[13] = {};
  libdeflate_decompressor *decomp = nullptr;
  ~Codecs() {
    for (auto *c : comp)
      if (c) libdeflate_free_compressor(c);
    if (decomp) libdeflate_free_decompressor(decomp);
  }
};
thread_local Codecs codecs;
}  // namespace
#endif

bool deflateBuffer(const unsigned char *in, size_t n, int level, std::string &out) {
  level = std::clamp(level, 1, 9);
#ifdef TARNWICK_HAVE_LIBDEFLATE
  auto *&c = codecs.comp[level];
  if (!c) c = libdeflate_alloc_compressor(level);
  if (!c || n < 2) return false;
  unsigned char *buf = scratch(2, n);
  const size_t got = libdeflate_deflate_compress(c, in, n, buf, n - 1);
  if (got == 0) return false;
  out.assign(reinterpret_cast<const char *>(buf), got);
  return true;
#else
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&z, uLong(n)));
  z.next_in = const_cast<Bytef *>(in);
  z.avail_in = uInt(n);
  z.next_out = reinterpret_cast<Bytef *>(out.data());
  z.avail_out = uInt(out.size());
  const int r = deflate(&z, Z_FINISH);
  const size_t got = z.total_out;
  deflateEnd(&z);
  if (r != Z_STREAM_END || got >= n) return false;
  out.resize(got);
  return true;
#endif
}

InflateResult inflateBuffer(const unsigned char *in, size_t n, unsigned char *out, size_t outSize) {
#ifdef TARNWICK_HAVE_LIBDEFLATE
  if (!codecs.decomp) codecs.decomp = libdeflate_alloc_decompressor();
  if (!codecs.decomp) return InflateResult::BadData;
  size_t got = 0;
  const auto r = libdeflate_deflate_decompress(codecs.decomp, in, n, out, outSize, &got);
  if (r == LIBDEFLATE_SUCCESS) return got == outSize ? InflateResult::Ok : InflateResult::Short;
  return InflateResult::BadData;
#else
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return InflateResult::BadData;
  z.next_in = const_cast<Bytef *>(in);
  z.avail_in = uInt(n);
  z.next_out = out;
  z.avail_out = uInt(outSize);
  const int r = inflate(&z, Z_FINISH);
  const size_t got = z.total_out;
  inflateEnd(&z);
  if (r == Z_STREAM_END) return got == outSize ? InflateResult::Ok : InflateResult::Short;
  return r == Z_BUF_ERROR && got < outSize ? InflateResult::Short : InflateResult::BadData;
#endif
}

bool isTrue(int32_t v) { return v != 0; }

unsigned char *scratch(int slot, size_t n) {
  struct Buffers {
    std::unique_ptr<unsigned char[]> data[3];
    size_t size[3] = {};
  };
  thread_local Buffers b;
  if (b.size[slot] < n) {
    b.data[slot].reset();
    const size_t grown = std::max(n, b.size[slot] * 2);
    b.data[slot].reset(new unsigned char[grown]);
    b.size[slot] = grown;
  }
  return b.data[slot].get();
}

}  // namespace zipcore
