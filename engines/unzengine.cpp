// The unzip engine: extracts (overwrite, freshen, update, folder names kept or dropped) and tests
// members. Each file is written to a temporary name and renamed only after its CRC has checked;
// names that are absolute, climb out with "..", or links that point outside the target are refused.
#include "engines/engineapi.h"
#include "engines/pipeline.h"
#include "engines/zipcore.h"
#include "engines/zipnames.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

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
  if (zipnames::isAbsoluteName(name)) {
    why = "absolute path";
    return {};
  }
  if (zipnames::climbsOut(name)) {
    why = "path climbs out of the target folder";
    return {};
  }
  std::string out;
  size_t i = 0;
  while (i <= name.size()) {
    size_t j = name.find('/', i);
    if (j == std::string::npos) j = name.size();
    const std::string part = name.substr(i, j - i);
    if (!part.empty() && part != ".") {
      if (part.find('\0') != std::string::npos) {
        why = "bad name";
        return {};
      }
      if (!out.empty()) out += '/';
      out += zipnames::withoutControls(part);  // a newline or escape has no place in a file name
    }
    i = j + 1;
  }
  if (out.empty()) why = "empty name";
  return out;
}

// An open folder below the target and its path relative to the target. Folders are created and entered
// one level at a time through these handles, never by whole paths: a name may be longer than the system
// takes in one call, and re-resolving every prefix for every level would cost the square of its depth
// (the cube with a folder entry per level). Successive members mostly share their folder, so a cursor
// keeps the last one open and only walks the part that differs.
struct FolderCursor {
  std::string rel;
  int fd = -1;
  FolderCursor() = default;
  FolderCursor(const FolderCursor &) = delete;
  FolderCursor &operator=(const FolderCursor &) = delete;
  ~FolderCursor() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    rel.clear();
  }
};

// Makes cur the folder rel below the target (whose handle is baseFd), creating what is missing. A part
// that is a link or not a folder is refused, so nothing is ever written outside the target through a
// link, whether it was there before or made by this archive.
bool enterFolder(int baseFd, const std::string &base, const std::string &rel, FolderCursor &cur, std::string &why) {
  if (cur.fd >= 0 && cur.rel == rel) return true;
  size_t i = 0;
  int fd = -1;
  if (cur.fd >= 0 && !cur.rel.empty() && rel.size() > cur.rel.size() && rel[cur.rel.size()] == '/' &&
      rel.compare(0, cur.rel.size(), cur.rel) == 0) {
    fd = cur.fd;  // below the open folder: walk on from there
    cur.fd = -1;
    i = cur.rel.size() + 1;
  } else {
    cur.reset();
    fd = ::fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      why = "cannot open " + base + ": " + errnoText();
      return false;
    }
  }
  cur.rel.clear();
  while (i < rel.size()) {
    size_t j = rel.find('/', i);
    if (j == std::string::npos) j = rel.size();
    const std::string part = rel.substr(i, j - i);
    if (::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
      why = "cannot create folder " + base + "/" + rel.substr(0, j) + ": " + errnoText();
      ::close(fd);
      return false;
    }
    const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      why = (errno == ELOOP || errno == ENOTDIR ? base + "/" + rel.substr(0, j) + " is a link or not a folder"
                                                : "cannot open folder " + base + "/" + rel.substr(0, j) + ": " + errnoText());
      ::close(fd);
      return false;
    }
    ::close(fd);
    fd = next;
    i = j + 1;
  }
  cur.fd = fd;
  cur.rel = rel;
  return true;
}

// Creates a new temporary file in a folder; its name goes to name.
int makeTempAt(int dirFd, std::string &name) {
  static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char r[6];
    if (getrandom(r, sizeof r, 0) != ssize_t(sizeof r))
      for (auto &c : r) c = static_cast<unsigned char>(rand());
    name = ".tarnwick-unz-";
    for (unsigned char c : r) name += chars[c % 62];
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
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

// An outcome that ends the member with an error.
Outcome failure(int error, std::string message) {
  Outcome o;
  o.error = error;
  o.message = std::move(message);
  return o;
}

template <class Sink>
Outcome Decoder::run(Sink sink) {
  Outcome o;
  unsigned char lh[30];
  if (m_.localOffset + 30 > a_.fileSize || !preadAll(fd_, lh, 30, m_.localOffset)) {
    return failure(zipapi::ErrTruncated, "Truncated data: " + m_.name);
  }
  if (rd32(lh) != kSigLocal) {
    return failure(zipapi::ErrFormat, "Bad local header: " + m_.name);
  }
  const uint64_t dataAt = m_.localOffset + 30 + rd16(lh + 26) + rd16(lh + 28);
  if (dataAt > a_.fileSize || m_.csize > a_.fileSize - dataAt) {
    return failure(zipapi::ErrTruncated, "Truncated data: " + m_.name);
  }
  if (m_.method != 0 && m_.method != 8) {
    return failure(zipapi::ErrUnsupported, "Unsupported compression method " + std::to_string(m_.method) + ": " + m_.name);
  }
  uint64_t at = dataAt, left = m_.csize;
  std::unique_ptr<ZipCrypto> crypto;
  if (m_.flags & kFlagEncrypted) {
    if (m_.flags & 0x0040) {
      return failure(zipapi::ErrUnsupported, "Strong encryption is not supported: " + m_.name);
    }
    if (password_.empty()) {
      return failure(zipapi::ErrPassword, "Password required: " + m_.name);
    }
    unsigned char head[12];
    if (left < 12 || !preadAll(fd_, head, 12, at)) {
      return failure(zipapi::ErrTruncated, "Truncated data: " + m_.name);
    }
    crypto = std::make_unique<ZipCrypto>(password_);
    crypto->decrypt(head, 12);
    const uint8_t check = (m_.flags & kFlagDescriptor) ? uint8_t(m_.time >> 8) : uint8_t(m_.crc >> 24);
    if (head[11] != check) {
      return failure(zipapi::ErrPassword, "Wrong password: " + m_.name);
    }
    at += 12;
    left -= 12;
  }
  // Data that does not decode: for an encrypted entry the check byte lets one wrong password in 256 through,
  // and garbage then follows, so it is reported as the wrong password it almost surely is.
  const auto undecodable = [&](int error, const char *what) {
    return failure(crypto ? zipapi::ErrPassword : error, (crypto ? std::string("Wrong password: ") : std::string(what)) + m_.name);
  };
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
      return failure(zipapi::ErrTruncated, "Truncated data: " + m_.name);
    }
    if (crypto) crypto->decrypt(in, size_t(left));
    if (m_.method == 0) {
      if (left != m_.usize) {
        return failure(zipapi::ErrFormat, "Stored size does not match: " + m_.name);
      }
      if (!emit(in, size_t(left))) {
        return failure(zipapi::ErrWrite, "Write error: " + m_.name + ": " + errnoText());
      }
    } else {
      unsigned char *outBuf = scratch(1, size_t(m_.usize) + 1);
      const auto r = inflateBuffer(in, size_t(left), outBuf, size_t(m_.usize));
      if (r != InflateResult::Ok)
        return r == InflateResult::Short ? undecodable(zipapi::ErrTruncated, "Truncated data: ")
                                         : undecodable(zipapi::ErrCrc, "Bad compressed data: ");
      if (!emit(outBuf, size_t(m_.usize))) {
        return failure(zipapi::ErrWrite, "Write error: " + m_.name + ": " + errnoText());
      }
    }
  } else {
    std::vector<unsigned char> in(1 << 20), outBuf(1 << 20);
    z_stream z{};
    if (m_.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      return failure(zipapi::ErrMemory, "Out of memory: " + m_.name);
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
          return undecodable(zipapi::ErrCrc, "Bad compressed data: ");
        }
        const size_t got = outBuf.size() - z.avail_out;
        if (got && !emit(outBuf.data(), got)) fail = true;
        if (r == Z_STREAM_END) end = true;
        if (r == Z_BUF_ERROR && got == 0) break;
      }
    }
    if (m_.method == 8) inflateEnd(&z);
    if (fail) {
      return failure(zipapi::ErrWrite, "Read or write error: " + m_.name + ": " + errnoText());
    }
    if (!end || produced != m_.usize) return undecodable(zipapi::ErrTruncated, "Truncated data: ");
  }
  if (produced != m_.usize || crc != m_.crc) return undecodable(zipapi::ErrCrc, "CRC error: ");
  o.kind = Outcome::Done;
  return o;
}

class UnzJob {
 public:
  UnzJob(const Options &o, Reporter &r) : o_(o), rep_(r) {}
  ~UnzJob() {
    if (fd_ >= 0) ::close(fd_);
    if (baseFd_ >= 0) ::close(baseFd_);
  }
  int32_t run();

 private:
  Outcome testMember(const Member &m);
  Outcome extractMember(const Member &m, FolderCursor &cur);
  Outcome extractLink(const Member &m, FolderCursor &cur);
  std::string targetOf(const Member &m, std::string &rel, std::string &why) const;
  // Enters the folder that holds rel; leaf gets rel's last part.
  bool enterParent(const std::string &rel, FolderCursor &cur, std::string &leaf, std::string &why);

  const Options &o_;
  Reporter &rep_;
  Archive a_;
  int fd_ = -1;
  std::string base_;
  int baseFd_ = -1;
  mode_t defaultMode_ = 0644;
  std::atomic<bool> cancel_{false};  // set on this thread when the callback asks to stop
  // For the workers: a stop asked for by a callback or from outside. A member being written is given up
  // at its next block, its temporary file removed.
  bool halted() const { return cancel_ || stopRequested(); }
  // For the calling thread, which alone reads the reporter.
  bool stopping() const { return rep_.stopped() || stopRequested(); }
};

bool UnzJob::enterParent(const std::string &rel, FolderCursor &cur, std::string &leaf, std::string &why) {
  const size_t slash = rel.rfind('/');
  leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
  return enterFolder(baseFd_, base_, slash == std::string::npos ? std::string() : rel.substr(0, slash), cur, why);
}

Outcome UnzJob::testMember(const Member &m) {
  Decoder d(fd_, a_, m, o_.password);
  Outcome o = d.run([this](const unsigned char *, size_t) { return !halted(); });
  if (o.kind != Outcome::Done && halted()) return Outcome{Outcome::Skipped, 0, {}};
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

Outcome UnzJob::extractMember(const Member &m, FolderCursor &cur) {
  Outcome o;
  std::string rel, why, leaf;
  const std::string target = targetOf(m, rel, why);
  if (target.empty() || !enterParent(rel, cur, leaf, why)) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  const int dir = cur.fd;
  struct stat st {};
  if (::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
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
  std::string temp;
  const int out = makeTempAt(dir, temp);
  if (out < 0) {
    o.error = zipapi::ErrWrite;
    o.message = "Cannot write in the folder of " + target + ": " + errnoText();
    return o;
  }
  Decoder d(fd_, a_, m, o_.password);
  o = d.run([out, this](const unsigned char *p, size_t n) {
    // In blocks, so that a stop ends even a member decoded as one buffer soon.
    while (n > 0) {
      if (halted()) return false;
      const size_t step = std::min<size_t>(n, size_t(4) << 20);
      if (!writeAll(out, p, step)) return false;
      p += step;
      n -= step;
    }
    return true;
  });
  if (o.kind != Outcome::Done) {
    ::close(out);
    ::unlinkat(dir, temp.c_str(), 0);
    if (halted()) return Outcome{Outcome::Skipped, 0, {}};
    return o;
  }
  const mode_t mode = m.mode() & 0777;
  fchmod(out, mode ? mode : defaultMode_);
  const int64_t mt = unixTime(m.date, m.time);
  struct timespec ts[2] = {{mt, 0}, {mt, 0}};
  futimens(out, ts);
  if (::close(out) != 0 || ::renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) {
    o.kind = Outcome::Failed;
    o.error = zipapi::ErrWrite;
    o.message = "Cannot write " + target + ": " + errnoText();
    ::unlinkat(dir, temp.c_str(), 0);
    return o;
  }
  if (o_.verbose) o.message = "inflating: " + target;
  return o;
}

// A link is made only when its target, read relative to the link's folder, stays inside the base.
Outcome UnzJob::extractLink(const Member &m, FolderCursor &cur) {
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
  std::string leaf;
  if (!enterParent(rel, cur, leaf, why)) {
    o.error = zipapi::ErrBadName;
    o.message = "Refused " + m.name + ": " + why;
    return o;
  }
  struct stat st {};
  if (::fstatat(cur.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!o_.overwrite || S_ISDIR(st.st_mode)) {
      o.kind = Outcome::Skipped;
      o.error = zipapi::ErrWarning;
      o.message = "File exists, not overwritten: " + target;
      return o;
    }
    ::unlinkat(cur.fd, leaf.c_str(), 0);
  }
  if (::symlinkat(linkTarget.c_str(), cur.fd, leaf.c_str()) != 0) {
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
  std::vector<std::pair<size_t, std::string>> warnings;
  if (!checkLocalRecords(fd_, a_, error, warnings)) {
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
    baseFd_ = ::open(real, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd_ < 0) {
      rep_.message(zipapi::ErrOpen, "Cannot open the current folder " + base_ + ": " + errnoText());
      return 0;
    }
    const mode_t mask = umask(0);
    umask(mask);
    defaultMode_ = 0666 & ~mask;
  }
  std::vector<const Member *> chosen;
  std::vector<bool> taken(a_.members.size(), false);
  std::vector<std::string> specs;
  for (const auto &s : o_.specs) specs.push_back(normalizeSpec(s));
  uint64_t total = 0;
  for (const auto &m : a_.members) {
    bool take = specs.empty();
    std::string bare = m.name;
    if (m.isDir()) bare.pop_back();
    for (size_t i = 0; !take && i < specs.size(); ++i) take = wildMatch(specs[i], m.name) || wildMatch(specs[i], bare);
    if (!take) continue;
    taken[size_t(&m - a_.members.data())] = true;
    chosen.push_back(&m);
    total += m.usize;
  }
  if (chosen.empty()) {
    rep_.message(zipapi::ErrNoMatch, "No member matches");
    return 0;
  }
  // Every callback may ask to stop; nothing is written once one has.
  auto stopped = [&] {
    if (!stopping()) return false;
    rep_.message(zipapi::ErrCancelled, "Operation cancelled");
    return true;
  };
  for (const auto &w : warnings) {
    if (!taken[w.first]) continue;
    rep_.message(zipapi::ErrWarning, w.second);
    if (stopped()) return 0;
  }
  rep_.send(zipapi::ActTotalMembers, 0, chosen.size(), {});
  if (stopped()) return 0;
  rep_.send(zipapi::ActTotalBytes, 0, total, {});
  if (stopped()) return 0;
  int32_t ok = 0;
  std::vector<const Member *> links;
  WorkerPool pool(workerCount());
  OrderedPipeline<std::vector<Outcome>> pipe(pool, pool.size() * 32, 384u << 20);
  auto deliver = [&](const Member &m, Outcome &o) {
    if (stopping()) return;
    if (!rep_.newMember(m.name, m.usize)) {
      cancel_ = true;
      return;
    }
    if (o.kind == Outcome::Done) {
      ++ok;
      if (!rep_.bytes(m.usize)) cancel_ = true;
    }
    if (!o.message.empty() && !rep_.message(o.kind == Outcome::Done ? 0 : o.error, o.message)) cancel_ = true;
  };
  // Folder entries and files travel in batches of small members, in archive order; each batch keeps
  // its last folder open for the next member.
  auto work = [this](const Member &m, FolderCursor &cur) {
    if (halted()) return Outcome{Outcome::Skipped, 0, {}};
    if (!m.isDir()) return o_.test ? testMember(m) : extractMember(m, cur);
    Outcome o;
    std::string rel, why;
    if (o_.test || !o_.dirNames) {
      o.kind = Outcome::Done;
    } else if (targetOf(m, rel, why).empty() || !enterFolder(baseFd_, base_, rel, cur, why)) {
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
          FolderCursor cur;
          for (const Member *m : members) r.push_back(work(*m, cur));
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
    if (stopping()) break;
    if (m->isSymlink() && !o_.test) {
      links.push_back(m);
      continue;
    }
    batch.push_back(m);
    batchBytes += m->csize + m->usize;
    if (batch.size() >= 64 || batchBytes >= (1u << 20)) flush();
  }
  if (!stopping()) flush();
  if (stopping()) pipe.drainQuietly();
  else pipe.drain();
  // Links last, so that no file of this archive is written through a link it made.
  FolderCursor linkFolder;
  for (const Member *m : links) {
    if (stopping()) break;
    Outcome o = extractLink(*m, linkFolder);
    deliver(*m, o);
  }
  if (stopping()) {
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
