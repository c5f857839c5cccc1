// The zip engine: adds files to an archive (with freshen, update, move, folder entries, hidden files,
// levels 0-9 and traditional encryption) and deletes members. It always writes a new archive beside
// the old one and renames it over only when everything has succeeded.
#include "engines/engineapi.h"
#include "engines/pipeline.h"
#include "engines/zipcore.h"
#include "engines/zipnames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zipcore;

namespace {

constexpr int32_t kVersion = 152;

struct Options {
  bool encrypt = false, hidden = false, folderEntries = false, verbose = false, dropNames = false;
  bool recurse = false, move = false, deleteMembers = false, update = false, freshen = false;
  bool zipTime = false, dosNames = false;
  int level = 9;
  std::string password, archive;
  std::vector<std::string> specs;
};

struct Source {
  std::string path;  // file system path
  std::string name;  // name in the archive (UTF-8, "/" separators, folders end in "/")
  bool dir = false;
  uint64_t size = 0;
  int64_t mtime = 0;
  uint32_t mode = 0;
};

struct CentralEntry {
  std::string name;
  uint8_t madeBy = 30, host = 3;
  uint16_t needed = 20, flags = 0, method = 0, time = 0, date = 0, internal = 0;
  uint32_t crc = 0, external = 0;
  uint64_t csize = 0, usize = 0, offset = 0;
  std::string extra, comment;
};

std::string errnoText() { return std::strerror(errno); }

bool hasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

// Stored name of a path: no root, no "." or ".." parts, so that our archives never carry unsafe names.
std::string storedName(const std::string &path, bool drop, bool dos) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (!part.empty() && part != "." && part != "..") parts.push_back(part);
    i = j + 1;
  }
  if (drop && !parts.empty()) parts.erase(parts.begin(), parts.end() - 1);
  std::string out;
  for (auto &p : parts) {
    if (dos) {
      // 8.3 upper-case form of each part.
      std::string base = p, ext;
      const size_t dot = p.rfind('.');
      if (dot != std::string::npos && dot > 0) {
        base = p.substr(0, dot);
        ext = p.substr(dot + 1);
      }
      auto clean = [](std::string s, size_t n) {
        std::string r;
        for (unsigned char c : s) {
          if (r.size() == n) break;
          if (c == '.' || c == ' ' || c >= 0x80) continue;
          r += char(std::toupper(c));
        }
        return r;
      };
      p = clean(base, 8);
      if (p.empty()) p = "_";
      const std::string e = clean(ext, 3);
      if (!e.empty()) p += "." + e;
    }
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

class ZipJob {
 public:
  ZipJob(const Options &o, Reporter &r) : o_(o), rep_(r) {}
  int32_t run();
  // A stop asked by a callback: the archive is left as it was.
  bool stoppedNow();
  // Delete mode: the archive again without the members the specs match.
  int32_t runDelete(std::vector<bool> &dropOld);
  // What each source does (add, replace or nothing, by the freshen and update rules); replaced members are
  // marked in dropOld.
  std::vector<Source> planAdds(const std::map<std::string, size_t> &byName, std::vector<bool> &dropOld,
                               uint64_t &totalBytes);
  // After the new archive is in place: its time (zip time option) and the moved sources removed.
  void afterWrite();
  // The end of an add: the archive put in place, or left as it was after a stop or a failure.
  int32_t endAdds(bool failed, int32_t done);

 private:
  bool openExisting();
  void collect();
  void collectPath(const std::string &path, bool explicitName, const std::string &pattern, bool top);
  void addSource(const std::string &path, const struct stat &st);
  bool beginOutput();
  bool copyMember(const Member &m);
  bool addMember(const Source &s);
  int addStreamed(const Source &s, CentralEntry &ce);  // 1 added, 0 skipped, -1 failed
  bool finishOutput();
  void abandonOutput();
  bool out(const std::string &s) { return out(s.data(), s.size()); }
  bool out(const void *p, size_t n);
  std::string localHeader(const CentralEntry &e, bool zip64);
  uint16_t memberFlags(const std::string &name) const;

  const Options &o_;
  Reporter &rep_;
  Archive old_;
  int oldFd_ = -1;
  bool oldExists_ = false;
  struct stat oldSt_ {};
  std::vector<Source> sources_;
  std::set<std::string> seenNames_;
  std::string temp_;
  int fd_ = -1;
  uint64_t pos_ = 0;
  bool writeFailed_ = false;
  std::vector<CentralEntry> central_;
  std::vector<std::string> movedFiles_, movedDirs_;
  int64_t newest_ = 0;
  std::unique_ptr<WorkerPool> pool_;
};

bool ZipJob::out(const void *p, size_t n) {
  if (writeFailed_) return false;
  if (!writeAll(fd_, p, n)) {
    writeFailed_ = true;
    rep_.message(zipapi::ErrWrite, "Error writing the new archive: " + errnoText());
    return false;
  }
  pos_ += n;
  return true;
}

bool ZipJob::openExisting() {
  oldFd_ = ::open(o_.archive.c_str(), O_RDONLY | O_CLOEXEC);
  if (oldFd_ < 0) {
    if (errno == ENOENT) return true;
    rep_.message(zipapi::ErrOpen, "Cannot open " + o_.archive + ": " + errnoText());
    return false;
  }
  fstat(oldFd_, &oldSt_);
  oldExists_ = true;
  std::string error;
  if (!readArchive(oldFd_, old_, error)) {
    rep_.message(zipapi::ErrFormat, o_.archive + ": " + error);
    return false;
  }
  return true;
}

void ZipJob::addSource(const std::string &path, const struct stat &st) {
  if (oldExists_ && st.st_dev == oldSt_.st_dev && st.st_ino == oldSt_.st_ino) return;  // the archive itself
  Source s;
  s.path = path;
  s.dir = S_ISDIR(st.st_mode);
  s.name = storedName(path, o_.dropNames, o_.dosNames);
  if (s.name.empty()) return;
  if (s.dir) {
    if (o_.dropNames || !o_.folderEntries) return;
    s.name += '/';
  }
  if (!seenNames_.insert(s.name).second) return;
  s.size = s.dir ? 0 : uint64_t(st.st_size);
  s.mtime = st.st_mtime;
  s.mode = st.st_mode;
  sources_.push_back(std::move(s));
}

// Adds one path: a folder with its contents when recursing, or the files in it that match a pattern.
void ZipJob::collectPath(const std::string &path, bool explicitName, const std::string &pattern, bool top) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (explicitName) rep_.message(zipapi::ErrWarning, "File not found: " + path);
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (S_ISREG(st.st_mode)) addSource(path, st);
    return;
  }
  if (pattern.empty()) addSource(path, st);
  if (!top && !o_.recurse) return;
  DIR *d = opendir(path.c_str());
  if (!d) {
    rep_.message(zipapi::ErrOpen, "Cannot read folder " + path + ": " + errnoText());
    return;
  }
  std::vector<std::string> names;
  while (dirent *e = readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (n[0] == '.' && !o_.hidden) continue;
    names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  const std::string prefix = path == "/" ? "/" : path + "/";
  for (const auto &n : names) {
    const std::string child = prefix + n;
    struct stat cs {};
    if (::stat(child.c_str(), &cs) != 0) continue;
    if (S_ISDIR(cs.st_mode)) {
      struct stat ls {};
      const bool link = ::lstat(child.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode);
      if (!o_.recurse || link) continue;  // linked folders are not followed: they may loop
      if (pattern.empty() || wildMatch(pattern, n)) collectPath(child, false, {}, false);
      else collectPath(child, false, pattern, false);
    } else if (S_ISREG(cs.st_mode)) {
      if (pattern.empty() || wildMatch(pattern, n)) addSource(child, cs);
    }
  }
}

void ZipJob::collect() {
  for (std::string spec : o_.specs) {
    std::replace(spec.begin(), spec.end(), '\\', '/');
    while (spec.size() > 1 && spec.back() == '/') spec.pop_back();
    if (spec.empty()) continue;
    const size_t slash = spec.rfind('/');
    const std::string last = slash == std::string::npos ? spec : spec.substr(slash + 1);
    if (hasWildcard(last)) {
      std::string dir = slash == std::string::npos ? "." : spec.substr(0, slash);
      if (dir.empty()) dir = "/";
      const std::string pattern = last == "*.*" ? "*" : last;
      const size_t before = sources_.size();
      collectPath(dir, false, pattern, true);
      // The folder the wildcard lives in is not itself a member.
      if (sources_.size() > before && sources_[before].path == dir) sources_.erase(sources_.begin() + long(before));
    } else {
      collectPath(spec, true, {}, o_.recurse);
    }
  }
}

uint16_t ZipJob::memberFlags(const std::string &name) const {
  uint16_t f = zipnames::isAscii(name) ? 0 : kFlagUtf8;
  if (o_.encrypt && !o_.password.empty()) f |= kFlagEncrypted;
  return f;
}

std::string ZipJob::localHeader(const CentralEntry &e, bool zip64) {
  std::string h;
  put32(h, kSigLocal);
  put16(h, zip64 ? 45 : e.needed);
  put16(h, e.flags);
  put16(h, e.method);
  put16(h, e.time);
  put16(h, e.date);
  put32(h, e.crc);
  put32(h, zip64 ? 0xFFFFFFFFu : uint32_t(e.csize));
  put32(h, zip64 ? 0xFFFFFFFFu : uint32_t(e.usize));
  put16(h, uint16_t(e.name.size()));
  put16(h, zip64 ? 20 : 0);
  h += e.name;
  if (zip64) {
    put16(h, 1);
    put16(h, 16);
    put64(h, e.usize);
    put64(h, e.csize);
  }
  return h;
}

bool ZipJob::beginOutput() {
  const size_t slash = o_.archive.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : o_.archive.substr(0, slash == 0 ? 1 : slash);
  temp_ = (dir == "/" ? std::string("/") : dir + "/") + ".tarnwick-zip-XXXXXX";
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    rep_.message(zipapi::ErrWrite, "Cannot create a temporary file beside " + o_.archive + ": " + errnoText());
    temp_.clear();
    return false;
  }
  // Keep any program in front of the zip data (a self-extracting archive).
  if (oldExists_ && old_.dataStart > 0) {
    std::string buf(size_t(std::min<uint64_t>(old_.dataStart, 1 << 20)), '\0');
    uint64_t at = 0;
    while (at < old_.dataStart) {
      const size_t n = size_t(std::min<uint64_t>(buf.size(), old_.dataStart - at));
      if (!preadAll(oldFd_, buf.data(), n, at)) {
        rep_.message(zipapi::ErrTruncated, "Cannot read " + o_.archive);
        return false;
      }
      if (!out(buf.data(), n)) return false;
      at += n;
    }
  }
  return true;
}

bool ZipJob::copyMember(const Member &m) {
  unsigned char lh[30];
  if (m.localOffset + 30 > old_.fileSize || !preadAll(oldFd_, lh, 30, m.localOffset) || rd32(lh) != kSigLocal) {
    rep_.message(zipapi::ErrFormat, "Damaged local header of " + m.name + " in " + o_.archive);
    return false;
  }
  uint64_t len = 30 + rd16(lh + 26) + rd16(lh + 28) + m.csize;
  if (m.flags & kFlagDescriptor) {
    const bool z64 = m.csize >= 0xFFFFFFFFu || m.usize >= 0xFFFFFFFFu;
    unsigned char sig[4];
    uint64_t d = z64 ? 20 : 12;
    if (m.localOffset + len + 4 <= old_.fileSize && preadAll(oldFd_, sig, 4, m.localOffset + len) &&
        rd32(sig) == kSigDescriptor)
      d += 4;
    len += d;
  }
  if (m.localOffset + len > old_.fileSize) {
    rep_.message(zipapi::ErrTruncated, "Data of " + m.name + " is cut short in " + o_.archive);
    return false;
  }
  CentralEntry e;
  e.name = m.raw;
  e.madeBy = m.madeBy;
  e.host = m.host;
  e.needed = m.needed;
  e.flags = m.flags;
  e.method = m.method;
  e.time = m.time;
  e.date = m.date;
  e.internal = m.internal;
  e.crc = m.crc;
  e.external = m.external;
  e.csize = m.csize;
  e.usize = m.usize;
  e.offset = pos_;
  e.extra = m.extra;
  e.comment = m.comment;
  std::string buf(size_t(std::min<uint64_t>(len, 1 << 20)), '\0');
  uint64_t at = m.localOffset, left = len;
  while (left > 0) {
    const size_t n = size_t(std::min<uint64_t>(buf.size(), left));
    if (!preadAll(oldFd_, buf.data(), n, at)) {
      rep_.message(zipapi::ErrTruncated, "Cannot read " + o_.archive);
      return false;
    }
    if (!out(buf.data(), n)) return false;
    at += n;
    left -= n;
  }
  central_.push_back(std::move(e));
  return true;
}

struct Packed {
  bool ok = false;
  bool tooBig = false;  // grew beyond the whole-buffer bound since it was listed: stream it
  std::string error;
  uint32_t crc = 0;
  uint16_t method = 0;
  uint64_t usize = 0;
  std::string data;  // compressed and encrypted data, encryption header included
};

// The 12-byte encryption header: 11 random bytes and the CRC's high byte, encrypted with z, which
// is then ready for the member's data.
std::string encryptionHeader(ZipCrypto &z, uint32_t crc) {
  unsigned char head[12];
  if (getrandom(head, 11, 0) != 11)
    for (auto &c : head) c = static_cast<unsigned char>(rand());
  head[11] = uint8_t(crc >> 24);
  z.encrypt(head, 12);
  return std::string(reinterpret_cast<const char *>(head), 12);
}

void encryptInto(std::string &data, const std::string &password, uint32_t crc) {
  ZipCrypto z(password);
  data.insert(0, encryptionHeader(z, crc));
  z.encrypt(reinterpret_cast<unsigned char *>(data.data()) + 12, data.size() - 12);
}

// Already-compressed data (media, archives) is stored without spending a full deflate on it: three
// 32 KiB samples that do not shrink by 2% at the fastest level decide it.
bool looksIncompressible(const unsigned char *raw, size_t n) {
  constexpr size_t kSample = 32 << 10;
  if (n < 8 * kSample) return false;
  std::string out;
  for (size_t at : {size_t(0), n / 2, n - kSample}) {
    const unsigned char *p = raw + at;
    if (deflateBuffer(p, kSample, 1, out) && out.size() < kSample * 98 / 100) return false;
  }
  return true;
}

// Largest member deflated as one buffer at a level. At the high levels libdeflate is barely faster
// than zlib, so large members go to the chunked path, which keeps both cores busy on one file.
uint64_t wholeLimit(int level) { return level >= 7 ? (16u << 20) : kWholeBufferLimit; }

Packed packWhole(const std::string &path, int level, const std::string *password) {
  Packed p;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    p.error = "Cannot read " + path + ": " + errnoText();
    return p;
  }
  struct stat st {};
  fstat(fd, &st);
  if (uint64_t(st.st_size) > wholeLimit(level)) {
    ::close(fd);
    p.tooBig = true;
    return p;
  }
  const size_t want = size_t(st.st_size);
  unsigned char *raw = scratch(0, want + 1);
  size_t got = 0;
  while (got < want) {
    const ssize_t r = ::read(fd, raw + got, want - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += size_t(r);
  }
  ::close(fd);
  p.usize = got;
  p.crc = crcUpdate(0, raw, got);
  if (level > 0 && !looksIncompressible(raw, got) && deflateBuffer(raw, got, level, p.data)) {
    p.method = 8;
  } else {
    p.method = 0;
    p.data.assign(reinterpret_cast<const char *>(raw), got);
  }
  if (password) encryptInto(p.data, *password, p.crc);
  p.ok = true;
  return p;
}

int ZipJob::addStreamed(const Source &s, CentralEntry &e) {
  const int fd = ::open(s.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    rep_.message(zipapi::ErrOpen, "Cannot read " + s.path + ": " + errnoText());
    return 0;  // the member is skipped, the archive goes on
  }
  struct stat st {};
  fstat(fd, &st);
  const bool encrypt = e.flags & kFlagEncrypted;
  const bool zip64 = uint64_t(st.st_size) >= 0xF0000000u;
  std::vector<unsigned char> in(1 << 20);
  // Encryption needs the CRC in its header before the data: read the file once for it.
  if (encrypt) {
    uint32_t crc = 0;
    ssize_t r;
    while ((r = ::read(fd, in.data(), in.size())) > 0) crc = crcUpdate(crc, in.data(), size_t(r));
    e.crc = crc;
    lseek(fd, 0, SEEK_SET);
  }
  e.method = o_.level > 0 ? 8 : 0;
  e.needed = zip64 ? 45 : 20;
  const uint64_t headerAt = pos_;
  if (!out(localHeader(e, zip64))) {
    ::close(fd);
    return -1;
  }
  ZipCrypto crypto(o_.password);
  uint64_t csize = 0;
  if (encrypt) {
    if (!out(encryptionHeader(crypto, e.crc))) {
      ::close(fd);
      return -1;
    }
    csize += 12;
  }
  uint32_t crc = 0;
  uint64_t usize = 0;
  bool ok = true;
  auto emit = [&](unsigned char *p, size_t n) {
    if (encrypt) crypto.encrypt(p, n);
    csize += n;
    return out(p, n);
  };
  if (e.method == 0) {
    for (;;) {
      const ssize_t r = ::read(fd, in.data(), in.size());
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        rep_.message(zipapi::ErrOpen, "Error reading " + s.path + ": " + errnoText());
        ok = false;
      }
      if (r <= 0) break;
      crc = crcUpdate(crc, in.data(), size_t(r));
      usize += uint64_t(r);
      if (!emit(in.data(), size_t(r)) || !rep_.bytes(uint64_t(r))) {
        ok = false;
        break;
      }
    }
  } else {
    // Chunks deflated in parallel, each primed with the 32 KiB before it and ended with a sync flush,
    // so that their concatenation is one deflate stream as good as a sequential one.
    struct Chunk {
      bool ok = false;
      uint32_t crc = 0;
      uint64_t len = 0;
      std::string data;
    };
    constexpr uint64_t kChunk = 4u << 20;
    const uint64_t total = uint64_t(st.st_size);
    const int level = o_.level;
    OrderedPipeline<Chunk> chunks(*pool_, pool_->size() * 2, 256u << 20);
    const std::string path = s.path;
    for (uint64_t at = 0; ok && (at < total || at == 0); at += kChunk) {
      const uint64_t len = std::min(kChunk, total - at);
      const bool last = at + len >= total;
      chunks.push(
          [fd, at, len, last, level] {
            Chunk c;
            const uint64_t dict = std::min<uint64_t>(at, 32768);
            std::string buf(size_t(dict + len), '\0');
            if (!preadAll(fd, buf.data(), buf.size(), at - dict)) return c;
            const auto *p = reinterpret_cast<const unsigned char *>(buf.data());
            c.crc = crcUpdate(0, p + dict, size_t(len));
            c.len = len;
            z_stream z{};
            if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return c;
            if (dict) deflateSetDictionary(&z, p, uInt(dict));
            c.data.resize(deflateBound(&z, uLong(len)) + 64);
            z.next_in = const_cast<Bytef *>(p + dict);
            z.avail_in = uInt(len);
            z.next_out = reinterpret_cast<Bytef *>(c.data.data());
            z.avail_out = uInt(c.data.size());
            const int r = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
            c.ok = last ? r == Z_STREAM_END : (r == Z_OK && z.avail_in == 0);
            c.data.resize(c.data.size() - z.avail_out);
            deflateEnd(&z);
            return c;
          },
          len * 2 + 65536,
          [&](Chunk &c) {
            if (!ok) return;
            if (!c.ok) {
              rep_.message(zipapi::ErrOpen, "Error reading " + path + ": it changed or cannot be read");
              ok = false;
              return;
            }
            crc = usize ? uint32_t(crc32_combine(crc, c.crc, z_off_t(c.len))) : c.crc;
            usize += c.len;
            if (!emit(reinterpret_cast<unsigned char *>(c.data.data()), c.data.size()) || !rep_.bytes(c.len)) ok = false;
          });
      if (rep_.stopped()) ok = false;
      if (last) break;
    }
    if (ok) chunks.drain();
    else chunks.drainQuietly();
  }
  ::close(fd);
  if (!ok) return -1;
  if (encrypt && crc != e.crc) {
    rep_.message(zipapi::ErrOpen, s.path + " changed while it was being added");
    return -1;
  }
  e.crc = crc;
  e.usize = usize;
  e.csize = csize;
  if (!zip64 && (usize >= 0xFFFFFFFFu || csize >= 0xFFFFFFFFu)) {
    rep_.message(zipapi::ErrOpen, s.path + " grew beyond 4 GiB while it was being added");
    return -1;
  }
  const std::string h = localHeader(e, zip64);
  if (::pwrite(fd_, h.data(), h.size(), off_t(headerAt)) != ssize_t(h.size())) {
    writeFailed_ = true;
    rep_.message(zipapi::ErrWrite, "Error writing the new archive: " + errnoText());
    return -1;
  }
  return 1;
}

bool ZipJob::finishOutput() {
  const uint64_t cdStart = pos_;
  std::string cd;
  for (const auto &e : central_) {
    const bool z64 = e.csize >= 0xFFFFFFFFu || e.usize >= 0xFFFFFFFFu || e.offset >= 0xFFFFFFFFu;
    std::string extra = e.extra;
    if (z64) {
      std::string z;
      put16(z, 1);
      put16(z, 24);
      put64(z, e.usize);
      put64(z, e.csize);
      put64(z, e.offset);
      extra = z + extra;
    }
    put32(cd, kSigCentral);
    cd += char(z64 ? std::max<uint8_t>(e.madeBy, 45) : e.madeBy);
    cd += char(e.host);
    put16(cd, z64 ? std::max<uint16_t>(e.needed, 45) : e.needed);
    put16(cd, e.flags);
    put16(cd, e.method);
    put16(cd, e.time);
    put16(cd, e.date);
    put32(cd, e.crc);
    put32(cd, z64 ? 0xFFFFFFFFu : uint32_t(e.csize));
    put32(cd, z64 ? 0xFFFFFFFFu : uint32_t(e.usize));
    put16(cd, uint16_t(e.name.size()));
    put16(cd, uint16_t(std::min<size_t>(extra.size(), 0xFFFF)));
    put16(cd, uint16_t(e.comment.size()));
    put16(cd, 0);
    put16(cd, e.internal);
    put32(cd, e.external);
    put32(cd, z64 ? 0xFFFFFFFFu : uint32_t(e.offset));
    cd += e.name;
    cd += extra.substr(0, 0xFFFF);
    cd += e.comment;
    if (cd.size() >= (1 << 20)) {
      if (!out(cd)) return false;
      cd.clear();
    }
  }
  if (!out(cd)) return false;
  const uint64_t cdSize = pos_ - cdStart, count = central_.size();
  const bool z64 = count >= 0xFFFF || cdSize >= 0xFFFFFFFFu || cdStart >= 0xFFFFFFFFu;
  std::string end;
  if (z64) {
    const uint64_t at = pos_;
    put32(end, kSigEnd64);
    put64(end, 44);
    put16(end, 45 | (3 << 8));
    put16(end, 45);
    put32(end, 0);
    put32(end, 0);
    put64(end, count);
    put64(end, count);
    put64(end, cdSize);
    put64(end, cdStart);
    put32(end, kSigLocator64);
    put32(end, 0);
    put64(end, at);
    put32(end, 1);
  }
  put32(end, kSigEnd);
  put16(end, 0);
  put16(end, 0);
  put16(end, uint16_t(std::min<uint64_t>(count, 0xFFFF)));
  put16(end, uint16_t(std::min<uint64_t>(count, 0xFFFF)));
  put32(end, uint32_t(std::min<uint64_t>(cdSize, 0xFFFFFFFFu)));
  put32(end, uint32_t(std::min<uint64_t>(cdStart, 0xFFFFFFFFu)));
  const std::string comment = old_.comment.substr(0, 0xFFFF);
  put16(end, uint16_t(comment.size()));
  end += comment;
  if (!out(end)) return false;
  if (::fdatasync(fd_) != 0 && errno != EINVAL) {
    rep_.message(zipapi::ErrWrite, "Error writing the new archive: " + errnoText());
    return false;
  }
  mode_t mode = oldExists_ ? (oldSt_.st_mode & 07777) : 0;
  if (!oldExists_) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd_, mode);
  ::close(fd_);
  fd_ = -1;
  if (::rename(temp_.c_str(), o_.archive.c_str()) != 0) {
    rep_.message(zipapi::ErrWrite, "Cannot replace " + o_.archive + ": " + errnoText());
    return false;
  }
  temp_.clear();
  return true;
}

void ZipJob::abandonOutput() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool ZipJob::stoppedNow() {
  if (!rep_.stopped()) return false;
  rep_.message(zipapi::ErrCancelled, "Operation cancelled: the archive was not changed");
  abandonOutput();
  return true;
}

int32_t ZipJob::runDelete(std::vector<bool> &dropOld) {
  auto stopped = [this] { return stoppedNow(); };
  int32_t matched = 0;
  for (size_t i = 0; i < old_.members.size(); ++i) {
    const Member &m = old_.members[i];
    std::string bare = m.name;
    if (m.isDir()) bare.pop_back();
    for (const auto &sp : o_.specs) {
      std::string spec = normalizeSpec(sp);
      if (wildMatch(spec, m.name) || wildMatch(spec, bare)) {
        dropOld[i] = true;
        ++matched;
        if (o_.verbose) rep_.message(0, "deleting: " + m.name);
        break;
      }
    }
    if (stopped()) return 0;
  }
  if (matched == 0) {
    rep_.message(zipapi::ErrNoMatch, "Nothing to delete: no member matches");
    return 0;
  }
  rep_.send(zipapi::ActTotalMembers, 0, uint64_t(matched), {});
  if (stopped()) return 0;
  if (!beginOutput()) {
    abandonOutput();
    return 0;
  }
  for (size_t i = 0; i < old_.members.size(); ++i) {
    if (dropOld[i]) continue;
    if (!copyMember(old_.members[i])) {
      abandonOutput();
      return 0;
    }
    if ((i & 255) == 0) rep_.bytes(0);
    if (stopped()) return 0;
  }
  if (!finishOutput()) {
    abandonOutput();
    return 0;
  }
  rep_.send(zipapi::ActBatchEnd, 0, 0, {});
  return matched;
}

std::vector<Source> ZipJob::planAdds(const std::map<std::string, size_t> &byName, std::vector<bool> &dropOld,
                                     uint64_t &totalBytes) {
  std::vector<Source> todo;
  for (auto &s : sources_) {
    const auto it = byName.find(s.name);
    const bool exists = it != byName.end();
    if (exists && s.dir) continue;
    if (exists && (o_.freshen || o_.update)) {
      const Member &m = old_.members[it->second];
      const uint32_t dt = dosDateTime(s.mtime);
      const uint32_t mt = (uint32_t(m.date) << 16) | m.time;
      if (dt <= mt) continue;
    } else if (!exists && o_.freshen) {
      continue;
    }
    if (exists) dropOld[it->second] = true;
    totalBytes += s.size;
    todo.push_back(s);
  }
  return todo;
}

void ZipJob::afterWrite() {
  if (o_.zipTime) {
    for (const auto &e : central_) newest_ = std::max(newest_, unixTime(e.date, e.time));
  }
  if (o_.zipTime && newest_ > 0) {
    struct timeval tv[2] = {{newest_, 0}, {newest_, 0}};
    ::utimes(o_.archive.c_str(), tv);
  }
  // Move: the sources go only after the new archive is in place; folders only when left empty.
  for (const auto &f : movedFiles_) ::unlink(f.c_str());
  std::sort(movedDirs_.begin(), movedDirs_.end(), [](const std::string &a, const std::string &b) { return a > b; });
  for (const auto &d : movedDirs_) ::rmdir(d.c_str());
}

int32_t ZipJob::endAdds(bool failed, int32_t done) {
  if (rep_.stopped() && !failed) {
    rep_.message(zipapi::ErrCancelled, "Operation cancelled: the archive was not changed");
    abandonOutput();
    return 0;
  }
  if (failed || writeFailed_) {
    if (rep_.stopped()) rep_.message(zipapi::ErrCancelled, "Operation cancelled: the archive was not changed");
    else rep_.message(zipapi::ErrWrite, "The archive was not changed");
    abandonOutput();
    return 0;
  }
  if (done == 0) {
    abandonOutput();
    return 0;
  }
  if (!finishOutput()) {
    abandonOutput();
    return 0;
  }
  afterWrite();
  rep_.send(zipapi::ActBatchEnd, 0, 0, {});
  return done;
}

int32_t ZipJob::run() {
  if (o_.archive.empty()) {
    rep_.message(zipapi::ErrOpen, "No archive name given");
    return 0;
  }
  if (!openExisting()) return 0;
  std::map<std::string, size_t> byName;
  for (size_t i = 0; i < old_.members.size(); ++i) byName[old_.members[i].name] = i;
  std::vector<bool> dropOld(old_.members.size(), false);
  int32_t done = 0;

  auto stopped = [this] { return stoppedNow(); };
  if (o_.deleteMembers) return runDelete(dropOld);

  collect();
  if (stopped()) return 0;
  uint64_t totalBytes = 0;
  std::vector<Source> todo = planAdds(byName, dropOld, totalBytes);
  if (todo.empty()) {
    rep_.message(zipapi::ErrNoMatch, "Nothing to do: no files to add");
    return 0;
  }
  if (o_.encrypt && o_.password.empty()) rep_.message(zipapi::ErrWarning, "No password given: files added unencrypted");
  if (stopped()) return 0;
  rep_.send(zipapi::ActTotalMembers, 0, todo.size(), {});
  if (stopped()) return 0;
  rep_.send(zipapi::ActTotalBytes, 0, totalBytes, {});
  if (stopped()) return 0;
  if (!beginOutput()) {
    abandonOutput();
    return 0;
  }
  bool failed = false;
  for (size_t i = 0; i < old_.members.size() && !failed; ++i)
    if (!dropOld[i] && !copyMember(old_.members[i])) failed = true;

  pool_ = std::make_unique<WorkerPool>(workerCount());
  OrderedPipeline<std::vector<Packed>> pipe(*pool_, pool_->size() * 32, 384u << 20);
  const std::string *pw = (o_.encrypt && !o_.password.empty()) ? &o_.password : nullptr;
  auto makeEntry = [&](const Source &s) {
    CentralEntry e;
    e.name = s.name;
    e.flags = memberFlags(s.name);
    if (s.dir) e.flags &= uint16_t(~kFlagEncrypted);
    const uint32_t dt = dosDateTime(s.mtime);
    e.date = uint16_t(dt >> 16);
    e.time = uint16_t(dt);
    e.external = (uint32_t(s.mode & 0xFFFF) << 16) | (s.dir ? 0x10u : 0u);
    e.needed = s.dir ? 20 : 20;
    return e;
  };
  auto finishMember = [&](const Source &s, CentralEntry &e) {
    central_.push_back(e);
    ++done;
    newest_ = std::max(newest_, s.mtime);
    if (o_.move) (s.dir ? movedDirs_ : movedFiles_).push_back(s.path);
  };
  auto streamed = [&](const Source &src) {
    pipe.drain();
    if (failed || rep_.stopped() || !rep_.newMember(src.name, src.size)) return;
    CentralEntry e = makeEntry(src);
    e.offset = pos_;
    const int r = addStreamed(src, e);
    if (r < 0) failed = true;
    if (r <= 0) return;
    if (o_.verbose) rep_.message(0, "  adding: " + src.name);
    finishMember(src, e);
  };
  // Writes one packed member (or a folder entry) in order, on this thread.
  auto deliver = [&](const Source &src, Packed &p) {
    if (failed || rep_.stopped() || writeFailed_) return;
    if (src.dir) {
      if (!rep_.newMember(src.name, 0)) return;
      CentralEntry e = makeEntry(src);
      e.method = 0;
      e.offset = pos_;
      if (!out(localHeader(e, false))) {
        failed = true;
        return;
      }
      finishMember(src, e);
      return;
    }
    if (p.tooBig) {
      streamed(src);
      return;
    }
    if (!rep_.newMember(src.name, p.usize)) return;
    if (!p.ok) {
      rep_.message(zipapi::ErrOpen, p.error);
      return;
    }
    CentralEntry e = makeEntry(src);
    e.method = p.method;
    e.crc = p.crc;
    e.usize = p.usize;
    e.csize = p.data.size();
    e.needed = p.method == 8 || pw ? 20 : 10;
    e.offset = pos_;
    if (!out(localHeader(e, false)) || !out(p.data)) {
      failed = true;
      return;
    }
    if (o_.verbose) {
      const int pct = p.usize ? int(100 - (e.csize * 100) / p.usize) : 0;
      rep_.message(0, "  adding: " + src.name + (p.method == 8 ? " (deflated " : " (stored ") +
                          std::to_string(std::max(0, pct)) + "%)");
    }
    finishMember(src, e);
    rep_.bytes(p.usize);
  };
  // Small members travel in batches, so that a tree of tiny files does not cost a thread hand-over each.
  std::vector<const Source *> batch;
  uint64_t batchBytes = 0;
  auto flush = [&] {
    if (batch.empty()) return;
    const int level = o_.level;
    pipe.push(
        [members = batch, level, pw] {
          std::vector<Packed> r;
          r.reserve(members.size());
          for (const Source *m : members) r.push_back(m->dir ? Packed{} : packWhole(m->path, level, pw));
          return r;
        },
        batchBytes * 2 + 4096 * batch.size(),
        [&, members = batch](std::vector<Packed> &r) {
          for (size_t i = 0; i < members.size(); ++i) deliver(*members[i], r[i]);
        });
    batch.clear();
    batchBytes = 0;
  };
  for (const auto &s : todo) {
    if (failed || rep_.stopped() || writeFailed_) break;
    if (!s.dir && s.size > wholeLimit(o_.level)) {
      flush();
      streamed(s);
      continue;
    }
    batch.push_back(&s);
    batchBytes += s.size;
    if (batch.size() >= 64 || batchBytes >= (1u << 20)) flush();
  }
  if (!(failed || rep_.stopped() || writeFailed_)) flush();
  if (failed || rep_.stopped() || writeFailed_) pipe.drainQuietly();
  else pipe.drain();
  return endAdds(failed, done);
}

}  // namespace

ENGINE_EXPORT int32_t GetZipDllVersion() { return kVersion; }

ENGINE_EXPORT int32_t ZipDllExec(zipapi::ZipParams *p) {
  if (!p) return 0;
  const auto &h = p->head;
  Reporter rep(h.callback, h.caller);
  try {
    Options o;
    o.encrypt = isTrue(h.encrypt);
    o.hidden = isTrue(h.hidden);
    o.folderEntries = isTrue(h.storeFolderEntries);
    o.verbose = isTrue(h.verbose) || isTrue(h.trace);
    o.dropNames = isTrue(h.dropFolderNames);
    o.recurse = h.recurse != 0;
    o.move = isTrue(h.move);
    o.deleteMembers = isTrue(h.deleteMembers);
    o.update = isTrue(h.update);
    o.freshen = isTrue(h.freshen) && !o.update;
    o.zipTime = isTrue(h.zipTime);
    o.dosNames = isTrue(h.dosNames);
    o.level = std::clamp(int(h.level), 0, 9);
    if (h.password) o.password.assign(h.password, strnlen(h.password, zipapi::kPasswordBuffer - 1));
    if (h.archive) o.archive = h.archive;
    for (int i = 0; i < h.specCount && p->specs; ++i)
      if (p->specs[i].text) o.specs.emplace_back(p->specs[i].text);
    ZipJob job(o, rep);
    return job.run();
  } catch (const std::bad_alloc &) {
    rep.message(zipapi::ErrMemory, "Out of memory: the archive was not changed");
  } catch (const std::exception &e) {
    rep.message(zipapi::ErrFormat, std::string("Internal error: ") + e.what());
  }
  return 0;
}
