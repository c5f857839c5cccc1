// The unzip engine: extracts (overwrite, freshen, update, folder names kept or dropped) and tests
// members. Each file is written to a temporary name and renamed only after its CRC has checked;
// names that are absolute, climb out with "..", or links that point outside the target are refused.
#include "engines/engineapi.h"
#include "engines/pipeline.h"
#include "engines/zipcore.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#define ENGINE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zipcore;

namespace {

constexpr int32_t kVersion = 152;

struct Options {
  bool test = false, verbose = false, update = false, freshen = false, dirNames = false, overwrite = false;
  std::string password, archive;
  std::vector<std::string> specs;
};

struct Outcome {
  enum Kind { Done, Skipped, Failed } kind = Failed;
  int32_t error = 0;
  std::string message;
};

std::string errnoText() { return std::strerror(errno); }

// Safe relative path of a member name, or an empty string with the reason when it must be refused.
std::string safeRelative(const std::string &name, std::string &why) {
  if (name.empty()) {
    why = "empty name";
    return {};
  }
  if (name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':')) {
    why = "absolute path";
    return {};
  }
  std::string out;
  size_t i = 0;
  while (i <= name.size()) {
    size_t j = name.find('/', i);
    if (j == std::string::npos) j = name.size();
    const std::string part = name.substr(i, j - i);
    if (part == "..") {
      why = "path climbs out of the target folder";
      return {};
    }
    if (!part.empty() && part != ".") {
      if (part.find('\0') != std::string::npos) {
        why = "bad name";
        return {};
      }
      if (!out.empty()) out += '/';
      out += part;
    }
    i = j + 1;
  }
  if (out.empty()) why = "empty name";
  return out;
}

bool insideBase(const std::string &base, const std::string &path) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return false;
  const std::string r = buf;
  return r == base || (r.size() > base.size() && r.compare(0, base.size(), base) == 0 &&
                       (base == "/" || r[base.size()] == '/'));
}

// Creates the folders of a relative path below the base, refusing to pass through anything that
// resolves outside it (a link planted in the target folder).
bool makeFolders(const std::string &base, const std::string &rel, std::string &why) {
  std::string cur = base;
  size_t i = 0;
  while (i < rel.size()) {
    size_t j = rel.find('/', i);
    if (j == std::string::npos) j = rel.size();
    cur += "/" + rel.substr(i, j - i);
    if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) {
      why = "cannot create folder " + cur + ": " + errnoText();
      return false;
    }
    if (!insideBase(base, cur)) {
      why = "folder " + cur + " leads outside the target folder";
      return false;
    }
    struct stat st {};
    if (::stat(cur.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      why = cur + " is not a folder";
      return false;
    }
    i = j + 1;
  }
  return true;
}

class Decoder {
 public:
  Decoder(int fd, const Archive &a, const Member &m, const std::string &password)
      : fd_(fd), a_(a), m_(m), password_(password) {}

  // Decodes the member into sink(data, n); returns Done, or Failed with a message of its own kind.
  template <class Sink>
  Outcome run(Sink sink);

 private:
  int fd_;
  const Archive &a_;
  const Member &m_;
  const std::string &password_;
};

template <class Sink>
Outcome Decoder::run(Sink sink) {
  Outcome o;
  unsigned char lh[30];
  if (m_.localOffset + 30 > a_.fileSize || !preadAll(fd_, lh, 30, m_.localOffset)) {
    o.error = zipapi::ErrTruncated;
    o.message = "Truncated data: " + m_.name;
    return o;
  }
  if (rd32(lh) != kSigLocal) {
    o.error = zipapi::ErrFormat;
    o.message = "Bad local header: " + m_.name;
    return o;
  }
  const uint64_t dataAt = m_.localOffset + 30 + rd16(lh + 26) + rd16(lh + 28);
  if (dataAt > a_.fileSize || m_.csize > a_.fileSize - dataAt) {
    o.error = zipapi::ErrTruncated;
    o.message = "Truncated data: " + m_.name;
    return o;
  }
  if (m_.method != 0 && m_.method != 8) {
    o.error = zipapi::ErrUnsupported;
    o.message = "Unsupported compression method " + std::to_string(m_.method) + ": " + m_.name;
    return o;
  }
  uint64_t at = dataAt, left = m_.csize;
  std::unique_ptr<ZipCrypto> crypto;
  if (m_.flags & kFlagEncrypted) {
    if (m_.flags & 0x0040) {
      o.error = zipapi::ErrUnsupported;
      o.message = "Strong encryption is not supported: " + m_.name;
      return o;
    }
    if (password_.empty()) {
      o.error = zipapi::ErrPassword;
      o.message = "Password required: " + m_.name;
      return o;
    }
    unsigned char head[12];
    if (left < 12 || !preadAll(fd_, head, 12, at)) {
      o.error = zipapi::ErrTruncated;
      o.message = "Truncated data: " + m_.name;
      return o;
    }
    crypto = std::make_unique<ZipCrypto>(password_);
    crypto->decrypt(head, 12);
    const uint8_t check = (m_.flags & kFlagDescriptor) ? uint8_t(m_.time >> 8) : uint8_t(m_.crc >> 24);
    if (head[11] != check) {
      o.error = zipapi::ErrPassword;
      o.message = "Wrong password: " + m_.name;
      return o;
    }
    at += 12;
    left -= 12;
  }
  uint32_t crc = 0;
  uint64_t produced = 0;
  auto emit = [&](const unsigned char *p, size_t n) {
    crc = crcUpdate(crc, p, n);
    produced += n;
    return sink(p, n);
  };
  const bool whole = left <= kWholeBufferLimit && m_.usize <= kWholeBufferLimit;
  if (whole) {
    unsigned char *in = scratch(0, size_t(left) + 1);
    if (left && !preadAll(fd_, in, size_t(left), at)) {
      o.error = zipapi::ErrTruncated;
      o.message = "Truncated data: " + m_.name;
      return o;
    }
    if (crypto) crypto->decrypt(in, size_t(left));
    if (m_.method == 0) {
      if (left != m_.usize) {
        o.error = zipapi::ErrFormat;
        o.message = "Stored size does not match: " + m_.name;
        return o;
      }
      if (!emit(in, size_t(left))) {
        o.error = zipapi::ErrWrite;
        o.message = "Write error: " + m_.name + ": " + errnoText();
        return o;
      }
    } else {
      unsigned char *outBuf = scratch(1, size_t(m_.usize) + 1);
      const auto r = inflateBuffer(in, size_t(left), outBuf, size_t(m_.usize));
      if (r != InflateResult::Ok) {
        o.error = r == InflateResult::Short ? zipapi::ErrTruncated : zipapi::ErrCrc;
        o.message = (r == InflateResult::Short ? "Truncated data: " : "Bad compressed data: ") + m_.name;
        return o;
      }
      if (!emit(outBuf, size_t(m_.usize))) {
        o.error = zipapi::ErrWrite;
        o.message = "Write error: " + m_.name + ": " + errnoText();
        return o;
      }
    }
  } else {
    std::vector<unsigned char> in(1 << 20), outBuf(1 << 20);
    z_stream z{};
    if (m_.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      o.error = zipapi::ErrMemory;
      o.message = "Out of memory: " + m_.name;
      return o;
    }
    bool end = m_.method == 0 && left == 0;
    bool fail = false;
    while (!fail && !end) {
      const size_t n = size_t(std::min<uint64_t>(in.size(), left));
      if (n == 0) break;
      if (!preadAll(fd_, in.data(), n, at)) {
        fail = true;
        break;
      }
      at += n;
      left -= n;
      if (crypto) crypto->decrypt(in.data(), n);
      if (m_.method == 0) {
        if (!emit(in.data(), n)) fail = true;
        end = left == 0;
        continue;
      }
      z.next_in = in.data();
      z.avail_in = uInt(n);
      while (!fail && !end && (z.avail_in > 0 || z.avail_out == 0)) {
        z.next_out = outBuf.data();
        z.avail_out = uInt(outBuf.size());
        const int r = inflate(&z, Z_NO_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
          inflateEnd(&z);
          o.error = zipapi::ErrCrc;
          o.message = "Bad compressed data: " + m_.name;
          return o;
        }
        const size_t got = outBuf.size() - z.avail_out;
        if (got && !emit(outBuf.data(), got)) fail = true;
        if (r == Z_STREAM_END) end = true;
        if (r == Z_BUF_ERROR && got == 0) break;
      }
    }
    if (m_.method == 8) inflateEnd(&z);
    if (fail) {
      o.error = zipapi::ErrWrite;
      o.message = "Read or write error: " + m_.name + ": " + errnoText();
      return o;
    }
    if (!end || produced != m_.usize) {
      o.error = zipapi::ErrTruncated;
      o.message = "Truncated data: " + m_.name;
      return o;
    }
  }
  if (produced != m_.usize || crc != m_.crc) {
    o.error = zipapi::ErrCrc;
    o.message = "CRC error: " + m_.name;
    return o;
  }
  o.kind = Outcome::Done;
  return o;
}

class UnzJob {
 public:
  UnzJob(const Options &o, Reporter &r) : o_(o), rep_(r) {}
  ~UnzJob() {
    if (fd_ >= 0) ::close(fd_);
  }
  int32_t run();

 private:
  Outcome testMember(const Member &m);
  Outcome extractMember(const Member &m);
  Outcome extractLink(const Member &m);
  std::string targetOf(const Member &m, std::string &rel, std::string &why) const;
  bool ensureFolders(const std::string &rel, std::string &why);

  const Options &o_;
  Reporter &rep_;
  Archive a_;
  int fd_ = -1;
  std::string base_;
  mode_t defaultMode_ = 0644;
  std::mutex dirMutex_;
  std::set<std::string> verifiedDirs_;  // folders below the base already made and checked
  std::atomic<bool> cancel_{false};     // set on this thread when the callback asks to stop
};

bool UnzJob::ensureFolders(const std::string &rel, std::string &why) {
  if (rel.empty()) return true;
  {
    std::lock_guard lock(dirMutex_);
    if (verifiedDirs_.count(rel)) return true;
  }
  if (!makeFolders(base_, rel, why)) return false;
  std::lock_guard lock(dirMutex_);
  verifiedDirs_.insert(rel);
  return true;
}

Outcome UnzJob::testMember(const Member &m) {
  Decoder d(fd_, a_, m, o_.password);
  Outcome o = d.run([](const unsigned char *, size_t) { return true; });
  if (o.kind == Outcome::Done && o_.verbose) o.message = "testing: " + m.name + "  OK";
  return o;
}

std::string UnzJob::targetOf(const Member &m, std::string &rel, std::string &why) const {
  rel = safeRelative(m.name, why);
  if (rel.empty()) return {};
  if (!o_.dirNames) {
    const size_t s = rel.rfind('/');
    if (s != std::string::npos) rel = rel.substr(s + 1);
  }
  return base_ + "/" + rel;
}

Outcome UnzJob::extractMember(const Member &m) {
  Outcome o;
  std::string rel, why;
  const std::string target = targetOf(m, rel, why);
  if (target.empty()) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  const size_t slash = rel.rfind('/');
  const std::string parentRel = slash == std::string::npos ? std::string() : rel.substr(0, slash);
  if (!ensureFolders(parentRel, why)) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  const std::string parent = parentRel.empty() ? base_ : base_ + "/" + parentRel;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      o.error = zipapi::ErrWrite;
      o.message = "A folder of that name exists: " + target;
      return o;
    }
    const int64_t mt = unixTime(m.date, m.time);
    if (o_.freshen || o_.update) {
      if (mt <= int64_t(st.st_mtime)) {
        o.kind = Outcome::Skipped;
        if (o_.verbose) o.message = "not newer, skipped: " + m.name;
        return o;
      }
    } else if (!o_.overwrite) {
      o.kind = Outcome::Skipped;
      o.error = zipapi::ErrWarning;
      o.message = "File exists, not overwritten: " + target;
      return o;
    }
  } else if (o_.freshen) {
    o.kind = Outcome::Skipped;
    return o;
  }
  std::string temp = parent + "/.tarnwick-unz-XXXXXX";
  const int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    o.error = zipapi::ErrWrite;
    o.message = "Cannot write in " + parent + ": " + errnoText();
    return o;
  }
  Decoder d(fd_, a_, m, o_.password);
  o = d.run([out](const unsigned char *p, size_t n) { return writeAll(out, p, n); });
  if (o.kind != Outcome::Done) {
    ::close(out);
    ::unlink(temp.c_str());
    return o;
  }
  const mode_t mode = m.mode() & 0777;
  fchmod(out, mode ? mode : defaultMode_);
  const int64_t mt = unixTime(m.date, m.time);
  struct timespec ts[2] = {{mt, 0}, {mt, 0}};
  futimens(out, ts);
  if (::close(out) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    o.kind = Outcome::Failed;
    o.error = zipapi::ErrWrite;
    o.message = "Cannot write " + target + ": " + errnoText();
    ::unlink(temp.c_str());
    return o;
  }
  if (o_.verbose) o.message = "inflating: " + target;
  return o;
}

// A link is made only when its target, read relative to the link's folder, stays inside the base.
Outcome UnzJob::extractLink(const Member &m) {
  Outcome o;
  std::string linkTarget;
  if (m.usize > 4096) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused link " + m.name + ": target too long";
    return o;
  }
  Decoder d(fd_, a_, m, o_.password);
  o = d.run([&](const unsigned char *p, size_t n) {
    linkTarget.append(reinterpret_cast<const char *>(p), n);
    return true;
  });
  if (o.kind != Outcome::Done) return o;
  o.kind = Outcome::Failed;
  std::string rel, why;
  const std::string target = targetOf(m, rel, why);
  if (target.empty()) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  // Lexical check of where the link points, from the link's folder.
  std::vector<std::string> parts;
  const size_t slash = rel.rfind('/');
  std::string walk = slash == std::string::npos ? std::string() : rel.substr(0, slash + 1);
  walk += linkTarget;
  bool outside = linkTarget.empty() || linkTarget[0] == '/' || linkTarget.find('\0') != std::string::npos;
  size_t i = 0;
  while (!outside && i <= walk.size()) {
    size_t j = walk.find('/', i);
    if (j == std::string::npos) j = walk.size();
    const std::string part = walk.substr(i, j - i);
    if (part == "..") {
      if (parts.empty()) outside = true;
      else parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  if (outside) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused link " + m.name + ": it points outside the target folder (" + linkTarget + ")";
    return o;
  }
  const std::string parentRel = slash == std::string::npos ? std::string() : rel.substr(0, slash);
  if (!ensureFolders(parentRel, why)) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (!o_.overwrite || S_ISDIR(st.st_mode)) {
      o.kind = Outcome::Skipped;
      o.error = zipapi::ErrWarning;
      o.message = "File exists, not overwritten: " + target;
      return o;
    }
    ::unlink(target.c_str());
  }
  if (::symlink(linkTarget.c_str(), target.c_str()) != 0) {
    o.error = zipapi::ErrWrite;
    o.message = "Cannot create link " + target + ": " + errnoText();
    return o;
  }
  o.kind = Outcome::Done;
  return o;
}

int32_t UnzJob::run() {
  fd_ = ::open(o_.archive.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    rep_.message(zipapi::ErrOpen, "Cannot open " + o_.archive + ": " + errnoText());
    return 0;
  }
  std::string error;
  if (!readArchive(fd_, a_, error)) {
    rep_.message(zipapi::ErrFormat, o_.archive + ": " + error);
    return 0;
  }
  if (!o_.test) {
    char buf[PATH_MAX], real[PATH_MAX];
    if (!getcwd(buf, sizeof buf) || !realpath(buf, real)) {
      rep_.message(zipapi::ErrOpen, "Cannot find the current folder");
      return 0;
    }
    base_ = real;
    const mode_t mask = umask(0);
    umask(mask);
    defaultMode_ = 0666 & ~mask;
  }
  std::vector<const Member *> chosen;
  std::vector<std::string> specs;
  for (const auto &s : o_.specs) specs.push_back(normalizeSpec(s));
  uint64_t total = 0;
  for (const auto &m : a_.members) {
    bool take = specs.empty();
    std::string bare = m.name;
    if (m.isDir()) bare.pop_back();
    for (size_t i = 0; !take && i < specs.size(); ++i) take = wildMatch(specs[i], m.name) || wildMatch(specs[i], bare);
    if (!take) continue;
    chosen.push_back(&m);
    total += m.usize;
  }
  if (chosen.empty()) {
    rep_.message(zipapi::ErrNoMatch, "No member matches");
    return 0;
  }
  rep_.send(zipapi::ActTotalMembers, 0, chosen.size(), {});
  rep_.send(zipapi::ActTotalBytes, 0, total, {});
  int32_t ok = 0;
  std::vector<const Member *> links;
  WorkerPool pool(workerCount());
  OrderedPipeline<std::vector<Outcome>> pipe(pool, pool.size() * 32, 384u << 20);
  auto deliver = [&](const Member &m, Outcome &o) {
    if (rep_.stopped()) return;
    if (!rep_.newMember(m.name, m.usize)) {
      cancel_ = true;
      return;
    }
    if (o.kind == Outcome::Done) {
      ++ok;
      if (!rep_.bytes(m.usize)) cancel_ = true;
    }
    if (!o.message.empty()) rep_.message(o.kind == Outcome::Done ? 0 : o.error, o.message);
  };
  // Folder entries and files travel in batches of small members, in archive order.
  auto work = [this](const Member &m) {
    if (cancel_) return Outcome{Outcome::Skipped, 0, {}};
    if (!m.isDir()) return o_.test ? testMember(m) : extractMember(m);
    Outcome o;
    std::string rel, why;
    if (o_.test || !o_.dirNames) {
      o.kind = Outcome::Done;
    } else if (targetOf(m, rel, why).empty() || !ensureFolders(rel, why)) {
      o.error = zipapi::ErrBadName;
      o.message = "Refused " + m.name + ": " + why;
    } else {
      o.kind = Outcome::Done;
    }
    return o;
  };
  std::vector<const Member *> batch;
  uint64_t batchBytes = 0;
  auto flush = [&] {
    if (batch.empty()) return;
    pipe.push(
        [members = batch, &work] {
          std::vector<Outcome> r;
          r.reserve(members.size());
          for (const Member *m : members) r.push_back(work(*m));
          return r;
        },
        batchBytes + 4096 * batch.size(),
        [&, members = batch](std::vector<Outcome> &r) {
          for (size_t i = 0; i < members.size(); ++i) deliver(*members[i], r[i]);
        });
    batch.clear();
    batchBytes = 0;
  };
  for (const Member *m : chosen) {
    if (rep_.stopped()) break;
    if (m->isSymlink() && !o_.test) {
      links.push_back(m);
      continue;
    }
    batch.push_back(m);
    batchBytes += m->csize + m->usize;
    if (batch.size() >= 64 || batchBytes >= (1u << 20)) flush();
  }
  if (!rep_.stopped()) flush();
  if (rep_.stopped()) pipe.drainQuietly();
  else pipe.drain();
  // Links last, so that no file of this archive is written through a link it made.
  for (const Member *m : links) {
    if (rep_.stopped()) break;
    Outcome o = extractLink(*m);
    deliver(*m, o);
  }
  if (rep_.stopped()) {
    rep_.message(zipapi::ErrCancelled, "Operation cancelled");
    return ok;
  }
  rep_.send(zipapi::ActBatchEnd, 0, 0, {});
  return ok;
}

}  // namespace

ENGINE_EXPORT int32_t GetUnzDllVersion() { return kVersion; }

ENGINE_EXPORT int32_t UnzDllExec(zipapi::UnzParams *p) {
  if (!p) return 0;
  const auto &h = p->head;
  Reporter rep(h.callback, h.caller);
  try {
    Options o;
    o.test = isTrue(h.test);
    o.verbose = isTrue(h.verbose) || isTrue(h.trace);
    o.update = isTrue(h.update);
    o.freshen = isTrue(h.freshen) && !o.update;
    o.dirNames = isTrue(h.dirNames);
    o.overwrite = isTrue(h.overwrite);
    if (h.password) o.password.assign(h.password, strnlen(h.password, zipapi::kPasswordBuffer - 1));
    if (h.archive) o.archive = h.archive;
    for (int i = 0; i < h.specCount && p->specs; ++i)
      if (p->specs[i].text) o.specs.emplace_back(p->specs[i].text);
    UnzJob job(o, rep);
    return job.run();
  } catch (const std::bad_alloc &) {
    rep.message(zipapi::ErrMemory, "Out of memory");
  } catch (const std::exception &e) {
    rep.message(zipapi::ErrFormat, std::string("Internal error: ") + e.what());
  }
  return 0;
}
