// The self-extracting program ("ZIPSFX.BIN"). A self-extracting file is this program copied whole, a 256-byte
// header (sfxheader.h) and zip data. Run, it finds its own zip data, reads the header, asks what the header
// allows (folder, overwrite mode, members, running the command), extracts through the unzip engine's own
// entry point (compiled in, so extraction is exactly as careful as the engine: nothing outside the chosen
// folder, links checked) and runs the command line. Questions go to the terminal, else to the desktop's
// dialog programs, else the defaults are taken. No Qt: the file travels alone.
#include "engines/engineapi.h"
#include "engines/sfxheader.h"
#include "engines/zipcore.h"
#include "engines/zipnames.h"

#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" int32_t UnzDllExec(zipapi::UnzParams *p);  // the unzip engine, linked in

namespace {

using zipcore::Archive;
using zipcore::Member;

enum Exit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitRefused = 3, ExitCommand = 4, ExitCancelled = 5 };
enum class Overwrite { Ask, Always, Never };

struct Cancelled {};  // the user closed a question, or a signal asked the program to stop

// Ctrl+C, SIGTERM and SIGHUP stop the program as a cancelled question does: the member being written is
// given up and its temporary file removed (the engine sees the stop between blocks), nothing more is
// extracted or run, and the exit code is the cancel code. The handler only stores.
volatile sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int sig) {
  stopSignal = sig;
  zipcore::requestStop();
}

void catchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a question waiting for the terminal returns at once
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

bool stopAsked() { return stopSignal != 0; }
void checkStop() {
  if (stopAsked()) throw Cancelled{};
}

const char *kSelf = "/proc/self/exe";

std::string shown(const std::string &s) { return zipnames::printable(s); }

void say(const std::string &s) { std::fprintf(stderr, "%s\n", s.c_str()); }

struct Choice {
  std::string key, label;
};
const std::vector<Choice> kModes{{"1", "ask"}, {"2", "always"}, {"3", "never"}};
const std::vector<Choice> kEach{{"y", "yes"}, {"n", "no"}, {"a", "all"}, {"o", "none"}};
const std::vector<Choice> kYesNo{{"y", "yes"}, {"n", "no"}};

// ---- Asking the user ----

class Ui {
 public:
  virtual ~Ui() = default;
  std::string caption;
  // The answer, or the default when the user just confirms. Throws Cancelled.
  virtual std::string askText(const std::string &question, const std::string &def) { return def; }
  virtual size_t choose(const std::string &question, const std::vector<Choice> &choices, size_t def) { return def; }
  // Indices (into names) the user takes out; empty keeps all.
  virtual std::vector<size_t> skipList(const std::vector<std::string> &names) { return {}; }
  virtual std::string password(const std::string &question) { throw Cancelled{}; }
  virtual void tell(const std::string &text, bool error) { say(text); }
  virtual bool asks() const { return false; }
};

std::string lower(std::string s) {
  for (auto &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string &s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

class TerminalUi : public Ui {
 public:
  bool asks() const override { return true; }
  std::string line(const std::string &prompt) {
    checkStop();
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
    std::string s;
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') s += char(c);
    if (stopAsked()) {
      std::fprintf(stderr, "\n");
      throw Cancelled{};
    }
    if (c == EOF && s.empty()) {
      std::fprintf(stderr, "\n");
      throw Cancelled{};
    }
    return s;
  }
  std::string askText(const std::string &question, const std::string &def) override {
    const std::string s = line(question + " [" + def + "]: ");
    return s.empty() ? def : s;
  }
  size_t choose(const std::string &question, const std::vector<Choice> &choices, size_t def) override {
    std::string menu;
    for (const auto &c : choices) menu += (menu.empty() ? "" : ", ") + c.key + " = " + c.label;
    for (;;) {
      const std::string s = lower(trim(line(question + " (" + menu + ") [" + choices[def].key + "]: ")));
      if (s.empty()) return def;
      for (size_t i = 0; i < choices.size(); ++i)
        if (s == lower(choices[i].key) || s == lower(choices[i].label)) return i;
      say("Please answer with one of: " + menu);
    }
  }
  std::vector<size_t> skipList(const std::vector<std::string> &names) override {
    for (size_t i = 0; i < names.size(); ++i) std::fprintf(stderr, "%5zu  %s\n", i + 1, shown(names[i]).c_str());
    for (;;) {
      std::string s = line("Numbers of the files to leave out (e.g. 2 4-6), Enter for all: ");
      std::replace(s.begin(), s.end(), ',', ' ');
      std::vector<size_t> out;
      bool ok = true;
      size_t i = 0;
      while (ok && i < s.size()) {
        if (s[i] == ' ' || s[i] == '\t') {
          ++i;
          continue;
        }
        char *end = nullptr;
        const unsigned long a = std::strtoul(s.c_str() + i, &end, 10);
        unsigned long b = a;
        if (end == s.c_str() + i) ok = false;
        else if (*end == '-') {
          const char *from = end + 1;
          b = std::strtoul(from, &end, 10);
          if (end == from) ok = false;
        }
        if (ok && (a < 1 || b < a || b > names.size())) ok = false;
        for (unsigned long k = a; ok && k <= b; ++k) out.push_back(k - 1);
        i = size_t(end - s.c_str());
      }
      if (ok) return out;
      say("Please give numbers between 1 and " + std::to_string(names.size()) + ".");
    }
  }
  std::string password(const std::string &question) override {
    termios old{};
    const bool tty = tcgetattr(0, &old) == 0;
    if (tty) {
      termios quiet = old;
      quiet.c_lflag &= ~tcflag_t(ECHO);
      tcsetattr(0, TCSAFLUSH, &quiet);
    }
    std::string s;
    try {
      s = line(question + ": ");
    } catch (const Cancelled &) {
      if (tty) tcsetattr(0, TCSAFLUSH, &old);
      throw;
    }
    if (tty) tcsetattr(0, TCSAFLUSH, &old);
    std::fprintf(stderr, "\n");
    return s;
  }
};

// The path of an executable program found on PATH, or empty.
std::string onPath(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find(':', i);
    if (j == std::string::npos) j = p.size();
    const std::string dir = p.substr(i, j - i);
    const std::string full = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(full.c_str(), X_OK) == 0) return full;
    i = j + 1;
  }
  return {};
}

// Runs a program (no shell) and returns its exit status (-1 when it did not run) and its standard output.
int capture(const std::string &program, const std::vector<std::string> &args, std::string &out) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  char buf[4096];
  ssize_t n;
  bool ended = false;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) out.append(buf, size_t(n));
    if (stopAsked() && !ended) {
      ::kill(pid, SIGTERM);  // the dialog of a stopped program closes with it
      ended = true;
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Questions through kdialog or zenity, for a program started from the desktop without a terminal.
class DialogUi : public Ui {
 public:
  DialogUi(std::string program, bool kde) : program_(std::move(program)), kde_(kde) {}
  bool asks() const override { return true; }
  std::string askText(const std::string &question, const std::string &def) override {
    const std::string s = run(kde_ ? std::vector<std::string>{"--inputbox", question, def}
                                   : std::vector<std::string>{"--entry", "--text=" + markup(question), "--entry-text=" + def});
    return s.empty() ? def : s;
  }
  size_t choose(const std::string &question, const std::vector<Choice> &choices, size_t def) override {
    std::vector<std::string> a;
    if (kde_) a = {"--radiolist", question};
    else a = {"--list", "--radiolist", "--text=" + markup(question), "--column=", "--column=Key", "--column=Choice",
              "--print-column=2", "--hide-column=2"};
    for (size_t i = 0; i < choices.size(); ++i) {
      if (kde_) a.insert(a.end(), {choices[i].key, choices[i].label, i == def ? "on" : "off"});
      else a.insert(a.end(), {i == def ? "TRUE" : "FALSE", choices[i].key, choices[i].label});
    }
    const std::string s = run(a);
    for (size_t i = 0; i < choices.size(); ++i)
      if (s == choices[i].key) return i;
    return def;
  }
  std::vector<size_t> skipList(const std::vector<std::string> &names) override {
    std::vector<std::string> a;
    if (kde_) a = {"--separate-output", "--checklist", "Files to extract"};
    else a = {"--list", "--checklist", "--text=Files to extract", "--column=", "--column=No", "--column=Name",
              "--print-column=2", "--separator=\n"};
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string n = std::to_string(i + 1), name = shown(names[i]);
      if (kde_) a.insert(a.end(), {n, name, "on"});
      else a.insert(a.end(), {"TRUE", n, name});
    }
    const std::string s = run(a) + "\n";
    std::vector<bool> kept(names.size(), false);
    for (size_t i = 0, j; (j = s.find('\n', i)) != std::string::npos; i = j + 1) {
      const unsigned long k = std::strtoul(trim(s.substr(i, j - i)).c_str(), nullptr, 10);
      if (k >= 1 && k <= names.size()) kept[k - 1] = true;
    }
    std::vector<size_t> skip;
    for (size_t i = 0; i < names.size(); ++i)
      if (!kept[i]) skip.push_back(i);
    return skip;
  }
  std::string password(const std::string &question) override {
    return run(kde_ ? std::vector<std::string>{"--password", question}
                    : std::vector<std::string>{"--password", "--title=" + question});
  }
  void tell(const std::string &text, bool error) override {
    say(text);
    std::string out;
    capture(program_, withTitle(kde_ ? std::vector<std::string>{error ? "--error" : "--msgbox", text}
                                     : std::vector<std::string>{error ? "--error" : "--info", "--text=" + markup(text)}),
            out);
  }

 private:
  std::vector<std::string> withTitle(std::vector<std::string> a) const {
    std::vector<std::string> t = kde_ ? std::vector<std::string>{"--title", caption}
                                      : std::vector<std::string>{"--title=" + caption};
    t.insert(t.end(), a.begin(), a.end());
    return t;
  }
  // The chosen text; Cancelled when the dialog was closed.
  std::string run(const std::vector<std::string> &args) {
    checkStop();
    std::string out;
    if (capture(program_, withTitle(args), out) != 0 || stopAsked()) throw Cancelled{};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  static std::string markup(const std::string &s) {
    std::string r;
    for (char c : s) r += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return r;
  }
  std::string program_;
  bool kde_;
};

// ---- Reading this program's archive ----

// Where this program's own bytes end: the furthest of its ELF headers, segments and sections.
uint64_t programEnd(int fd) {
  Elf64_Ehdr e{};
  if (!zipcore::preadAll(fd, &e, sizeof e, 0) || std::memcmp(e.e_ident, ELFMAG, SELFMAG) != 0) return 0;
  uint64_t end = sizeof e;
  end = std::max<uint64_t>(end, e.e_phoff + uint64_t(e.e_phnum) * e.e_phentsize);
  end = std::max<uint64_t>(end, e.e_shoff + uint64_t(e.e_shnum) * e.e_shentsize);
  for (unsigned i = 0; i < e.e_phnum; ++i) {
    Elf64_Phdr ph{};
    if (zipcore::preadAll(fd, &ph, sizeof ph, e.e_phoff + uint64_t(i) * e.e_phentsize))
      end = std::max<uint64_t>(end, ph.p_offset + ph.p_filesz);
  }
  for (unsigned i = 0; i < e.e_shnum; ++i) {
    Elf64_Shdr sh{};
    if (zipcore::preadAll(fd, &sh, sizeof sh, e.e_shoff + uint64_t(i) * e.e_shentsize) && sh.sh_type != SHT_NOBITS)
      end = std::max<uint64_t>(end, sh.sh_offset + sh.sh_size);
  }
  return end;
}

// Names the engine would refuse; the program refuses the whole archive for one of them, before writing anything.
bool unsafeName(const std::string &name) { return name.empty() || zipnames::leavesFolder(name); }

struct Loaded {
  int fd = -1;
  Archive a;
  sfx::Header h;
};

bool load(Loaded &l, std::string &why) {
  l.fd = ::open(kSelf, O_RDONLY | O_CLOEXEC);
  if (l.fd < 0) {
    why = std::string("cannot read this program: ") + std::strerror(errno);
    return false;
  }
  std::string error;
  if (!zipcore::readArchive(l.fd, l.a, error)) {
    why = "its archive is damaged or missing: " + error;
    return false;
  }
  const uint64_t ownEnd = programEnd(l.fd);
  if (ownEnd == 0 || l.a.dataStart < ownEnd + sfx::kHeaderSize) {
    why = "no self-extracting header between the program and its zip data";
    return false;
  }
  unsigned char head[sfx::kHeaderSize];
  if (!zipcore::preadAll(l.fd, head, sizeof head, l.a.dataStart - sfx::kHeaderSize) ||
      !sfx::parseHeader(head, sizeof head, l.h, error)) {
    why = error.empty() ? "cannot read the self-extracting header" : error;
    return false;
  }
  std::vector<std::pair<size_t, std::string>> warnings;
  if (!zipcore::checkLocalRecords(l.fd, l.a, error, warnings)) {
    why = "its archive is damaged: " + error;
    return false;
  }
  if (!(l.h.options & sfx::NoSizeCheck)) {
    // The end record and its comment must close the file: a cut or padded file fails here.
    unsigned char e[22];
    const uint64_t tail = 22 + l.a.comment.size();
    if (l.a.fileSize < tail || !zipcore::preadAll(l.fd, e, sizeof e, l.a.fileSize - tail) ||
        zipformat::rd32(e) != zipformat::kSigEnd || zipformat::rd16(e + 20) != l.a.comment.size()) {
      why = "its size is wrong: the file is incomplete or has bytes after its archive";
      return false;
    }
  }
  return true;
}

// ---- Extraction through the engine ----

struct EngineRun {
  bool quietExisting = false;  // the user already answered for existing files
  bool failed = false;
  bool progress = true;
  std::string current;
};

int32_t onEngine(zipapi::CallbackRecord *r) {
  auto *run = static_cast<EngineRun *>(r->caller);
  const std::string text(r->text, strnlen(r->text, sizeof r->text));
  if (r->action == zipapi::ActNewMember) {
    run->current = text;
  } else if (r->action == zipapi::ActBytes && run->progress) {
    std::printf("  %s\n", run->current.c_str());  // only members that were written
    std::fflush(stdout);
  } else if (r->action == zipapi::ActMessage && r->error != 0) {
    if (r->error == zipapi::ErrWarning) {
      if (!run->quietExisting || text.rfind("File exists", 0) != 0) say("Warning: " + text);
    } else {
      run->failed = true;
      say("Error: " + text);
    }
  }
  return stopAsked() ? 1 : 0;
}

// Runs the engine on the members named in specs (all members when specs is empty). False on any failure.
bool runEngine(const std::vector<std::string> &specs, bool test, bool overwrite, const std::string &password,
               EngineRun &run) {
  std::vector<zipapi::UnzSpec> recs(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) {
    std::memset(&recs[i], 0, sizeof recs[i]);
    recs[i].text = specs[i].c_str();
  }
  char pass[zipapi::kPasswordBuffer] = {};
  std::strncpy(pass, password.c_str(), sizeof pass - 1);
  zipapi::UnzParams p;
  std::memset(&p, 0, sizeof p);
  p.head.caller = &run;
  p.head.version = zipapi::kInterfaceVersion;
  p.head.callback = onEngine;
  p.head.password = pass;
  p.head.test = test ? zipapi::kTrue : 0;
  p.head.true60 = zipapi::kTrue;
  p.head.dirNames = zipapi::kTrue;
  p.head.overwrite = overwrite ? zipapi::kTrue : 0;
  p.head.specCount = int32_t(specs.size());
  p.head.archive = kSelf;
  p.specs = recs.empty() ? nullptr : recs.data();
  p.trailer = zipapi::kTrailer;
  UnzDllExec(&p);
  std::memset(pass, 0, sizeof pass);
  return !run.failed;
}

// Spec texts that pick exactly the members of want. The engine takes specs as wildcards: a member whose
// name would also pick others, or that its own name cannot pick, is left out and reported.
std::vector<std::string> specsFor(const Archive &a, const std::vector<bool> &want, bool &lost) {
  std::vector<std::string> specs;
  auto picks = [](const std::string &spec, const Member &m) {
    std::string bare = m.name;
    if (m.isDir()) bare.pop_back();
    return zipcore::wildMatch(spec, m.name) || zipcore::wildMatch(spec, bare);
  };
  for (size_t i = 0; i < a.members.size(); ++i) {
    if (!want[i]) continue;
    const Member &m = a.members[i];
    const std::string spec = zipcore::normalizeSpec(m.name);
    bool ok = picks(spec, m);
    if (ok && spec.find_first_of("*?") != std::string::npos)
      for (size_t k = 0; ok && k < a.members.size(); ++k) ok = want[k] || !picks(spec, a.members[k]);
    if (ok) specs.push_back(spec);
    else {
      lost = true;
      say("Not extracted: " + shown(m.name) + " (its name cannot be picked alone)");
    }
  }
  return specs;
}

std::string dateText(const Member &m) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d", 1980 + (m.date >> 9), (m.date >> 5) & 15, m.date & 31,
                m.time >> 11, (m.time >> 5) & 63);
  return b;
}

// ---- The command line ----

// Program and arguments of a command text: "|" ends the program name; the arguments are split on spaces,
// quoted parts kept whole; "><" becomes the extract folder with a trailing "/".
std::vector<std::string> commandWords(const std::string &text, const std::string &folder) {
  auto place = [&](std::string s) {
    for (size_t at = 0; (at = s.find(sfx::kFolderToken, at)) != std::string::npos; at += folder.size() + 1)
      s.replace(at, 2, folder + "/");
    return s;
  };
  const size_t bar = text.find('|');
  std::vector<std::string> words{place(trim(text.substr(0, bar)))};
  if (bar == std::string::npos) return words;
  const std::string rest = text.substr(bar + 1);
  std::string cur;
  bool have = false;
  char quote = 0;
  for (char c : rest) {
    if (quote) {
      if (c == quote) quote = 0;
      else cur += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) words.push_back(place(cur));
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) words.push_back(place(cur));
  return words;
}

int runCommand(const std::vector<std::string> &words) {
  int fds[2];
  if (words[0].empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
    say("Cannot run the command: no program named");
    return ExitCommand;
  }
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char *> argv;
    for (const auto &w : words) argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    const int e = errno;
    (void)!::write(fds[1], &e, sizeof e);
    ::_exit(127);
  }
  ::close(fds[1]);
  int e = 0;
  const bool notStarted = pid < 0 || ::read(fds[0], &e, sizeof e) == ssize_t(sizeof e);
  ::close(fds[0]);
  int status = 0;
  // A stop while the command runs is passed on to it, and the program waits until it has ended.
  bool forwarded = false;
  const auto forward = [&] {
    if (pid > 0 && stopAsked() && !forwarded) {
      ::kill(pid, stopSignal);
      forwarded = true;
    }
  };
  forward();
  if (pid > 0)
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) forward();
  if (stopAsked()) {
    say("Cancelled.");
    return ExitCancelled;
  }
  if (notStarted) {
    say("Cannot run " + shown(words[0]) + ": " + std::strerror(pid < 0 ? errno : e));
    return ExitCommand;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    say("The command " + shown(words[0]) + " ended with " +
        (WIFEXITED(status) ? "code " + std::to_string(WEXITSTATUS(status)) : std::string("a signal")));
    return ExitCommand;
  }
  return ExitOk;
}

// ---- The folder ----

bool makeFolders(const std::string &path) {
  std::string part;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    part = path.substr(0, j);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    i = j + 1;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder text made real: "><" first is a new temporary folder, "~/" the home folder, empty the current
// folder. The absolute path of the existing folder, or empty with the reason.
std::string realFolder(std::string text, std::string &why) {
  if (text.rfind(sfx::kFolderToken, 0) == 0) {
    const char *tmp = std::getenv("TMPDIR");
    std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/sfx-XXXXXX";
    if (!::mkdtemp(t.data())) {
      why = "cannot make a temporary folder in " + t.substr(0, t.size() - 11) + ": " + std::strerror(errno);
      return {};
    }
    text = t + "/" + text.substr(2);
  } else if (text.rfind("~/", 0) == 0 && std::getenv("HOME")) {
    text = std::getenv("HOME") + text.substr(1);
  }
  if (text.empty()) text = ".";
  if (!makeFolders(text)) {
    why = "cannot create the folder " + shown(text) + ": " + std::strerror(errno);
    return {};
  }
  char real[PATH_MAX];
  if (!::realpath(text.c_str(), real)) {
    why = "cannot open the folder " + shown(text) + ": " + std::strerror(errno);
    return {};
  }
  return real;
}

void usage() {
  say("Usage: PROGRAM [-d FOLDER] [-y] [-o | -n] [-l | -t]\n"
      "  -d FOLDER  extract into FOLDER\n"
      "  -y         take every default, ask nothing\n"
      "  -o / -n    overwrite existing files always / never\n"
      "  -l         list the files only\n"
      "  -t         test the files only\n"
      "Exit codes: 0 done, 1 extraction failed, 2 wrong options, 3 archive refused, 4 the command failed, "
      "5 cancelled.");
}

// The command line: -d folder, -y, -o or -n, -l, -t.
struct Args {
  std::string folder;
  bool haveFolder = false;
  Overwrite mode = Overwrite::Ask;
  bool haveMode = false;
  bool yes = false, list = false, test = false;
};

// The exit code when the program ends here (help, a usage error), else -1.
int parseArgs(int argc, char **argv, Args &out) {
  bool always = false, never = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-d" && i + 1 < argc) {
      out.folder = argv[++i];
      out.haveFolder = true;
    } else if (a == "-y") out.yes = true;
    else if (a == "-o" || a == "-n") {
      out.mode = a == "-o" ? Overwrite::Always : Overwrite::Never;
      (a == "-o" ? always : never) = true;
      out.haveMode = true;
    }
    else if (a == "-l") out.list = true;
    else if (a == "-t") out.test = true;
    else {
      usage();
      return a == "-h" || a == "--help" ? ExitOk : ExitUsage;
    }
  }
  // Options that contradict each other: no guess at which one was meant.
  if ((always && never) || (out.list && out.test)) {
    say(always && never ? "The options -o and -n cannot be used together." : "The options -l and -t cannot be used together.");
    usage();
    return ExitUsage;
  }
  return -1;
}

// Who answers the questions: nobody (-y, auto-run), the terminal, or the desktop's dialogs, which also
// show a refusal to a user who started the file from a file manager.
std::unique_ptr<Ui> pickUi(bool quiet) {
  if (!quiet) {
    if (::isatty(0)) return std::make_unique<TerminalUi>();
    if ((std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
        (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"))) {
      std::string p = onPath("kdialog");
      if (!p.empty()) return std::make_unique<DialogUi>(p, true);
      if (!(p = onPath("zenity")).empty()) return std::make_unique<DialogUi>(p, false);
    }
  }
  return std::make_unique<Ui>();
}

// -l: the members, their sizes and dates.
int listMembers(const sfx::Header &h, const Archive &a) {
  std::printf("%s\n", shown(h.caption).c_str());
  uint64_t total = 0;
  for (const auto &m : a.members) {
    std::printf("%14llu  %s  %s\n", static_cast<unsigned long long>(m.usize), dateText(m).c_str(),
                shown(m.name).c_str());
    total += m.usize;
  }
  std::printf("%14llu  %zu files\n", static_cast<unsigned long long>(total), a.members.size());
  return ExitOk;
}

// -t: every member read and checked, nothing written.
int testMembers(const Archive &a) {
  EngineRun r;
  r.progress = false;
  const bool ok = a.members.empty() || runEngine({}, true, false, {}, r);
  if (stopAsked()) {
    say("Cancelled.");
    return ExitCancelled;
  }
  say(ok ? "All " + std::to_string(a.members.size()) + " files are sound." : "The archive has errors.");
  return ok ? ExitOk : ExitFailed;
}

int run(int argc, char **argv) {
  Args args;
  if (const int code = parseArgs(argc, argv, args); code >= 0) return code;
  const std::string &folderArg = args.folder;
  const bool haveFolder = args.haveFolder, haveMode = args.haveMode;
  const Overwrite modeArg = args.mode;
  const bool yes = args.yes, list = args.list, test = args.test;
  catchStopSignals();
  std::unique_ptr<Ui> ui = pickUi(yes || list || test);
  Loaded l;
  std::string why;
  if (!load(l, why)) {
    ui->tell("This self-extracting archive cannot be used: " + why + ".", true);
    return ExitRefused;
  }
  const sfx::Header &h = l.h;
  const Archive &a = l.a;
  if (list) return listMembers(h, a);
  if (test) return testMembers(a);
  std::vector<std::string> bad;
  for (const auto &m : a.members)
    if (unsafeName(m.name)) bad.push_back(shown(m.name));
  if (!bad.empty()) {
    std::string list;
    for (const auto &b : bad) list += "\n  " + b;
    ui->tell("This self-extracting archive is refused: these names would be written outside the extract folder:" +
                 list, true);
    return ExitRefused;
  }

  const bool autoRun = h.options & sfx::AutoRun;
  const bool asking = ui->asks() && !autoRun;  // an auto-run archive asks nothing
  if (!asking && !autoRun && !yes) say("No terminal to ask on: the defaults are taken.");
  ui->caption = h.caption.empty() ? "Self-extracting archive" : shown(h.caption);
  if (dynamic_cast<TerminalUi *>(ui.get())) std::fprintf(stderr, "%s\n\n", ui->caption.c_str());

  std::string folder, madeTemp;
  try {
    // Folder.
    std::string folderText = h.folder;
    if (haveFolder) {
      folderText = folderArg;
    } else if (asking) {
      const std::string def = h.folder == sfx::kFolderToken ? "a new temporary folder"
                              : h.folder.empty()            ? "the current folder"
                                                            : h.folder;
      const std::string answer = ui->askText("Extract to", def);
      if (answer != def) folderText = answer;
    }
    // Overwrite mode.
    Overwrite mode = h.options & sfx::OverwriteAlways ? Overwrite::Always
                     : h.options & sfx::OverwriteNever ? Overwrite::Never
                                                       : Overwrite::Ask;
    if (haveMode) mode = modeArg;
    else if (asking && !(h.options & sfx::HideOverwrite))
      mode = Overwrite(ui->choose("Existing files", kModes, size_t(mode)));
    if (mode == Overwrite::Ask && !asking) mode = Overwrite::Never;

    // Members.
    std::vector<bool> want(a.members.size(), true);
    if ((h.options & sfx::AskFiles) && asking && !a.members.empty()) {
      std::vector<std::string> names;
      for (const auto &m : a.members) names.push_back(m.name);
      for (size_t i : ui->skipList(names)) want[i] = false;
    }
    bool encrypted = false;
    for (size_t i = 0; i < a.members.size(); ++i) encrypted |= want[i] && (a.members[i].flags & zipformat::kFlagEncrypted);
    std::string password;
    if (encrypted && asking) password = ui->password("Password");

    // The folder is made only now, so that an answer cancelled before leaves nothing behind.
    checkStop();
    folder = realFolder(folderText, why);
    if (folder.empty()) {
      ui->tell("Nothing was extracted: " + why + ".", true);
      return ExitFailed;
    }
    if (folderText.rfind(sfx::kFolderToken, 0) == 0) madeTemp = folder;

    // Existing files: the user's answer for each.
    std::vector<bool> replace(a.members.size(), false);
    bool answeredExisting = false;
    if (mode == Overwrite::Ask) {
      int all = 0;  // 1 overwrite the rest, -1 keep the rest
      for (size_t i = 0; i < a.members.size(); ++i) {
        const Member &m = a.members[i];
        struct stat st {};
        if (!want[i] || m.isDir() || ::lstat((folder + "/" + m.name).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
          continue;
        answeredExisting = true;
        if (all == 0) {
          switch (ui->choose("Overwrite " + shown(m.name) + "?",
                             kEach, 1)) {
            case 0: replace[i] = true; break;
            case 2: all = 1; break;
            case 3: all = -1; break;
            default: break;
          }
        }
        if (all == 1) replace[i] = true;
      }
    }

    if (::chdir(folder.c_str()) != 0) {
      ui->tell("Nothing was extracted: cannot enter " + shown(folder) + ": " + std::strerror(errno) + ".", true);
      return ExitFailed;
    }
    std::printf("Extracting to %s\n", shown(folder).c_str());
    const bool everything = std::find(want.begin(), want.end(), false) == want.end();
    bool lost = false, ok = true;
    EngineRun first;
    first.quietExisting = answeredExisting;
    if (a.members.empty()) {
      // an archive started empty: nothing to extract, the command line still runs
    } else if (everything) {
      ok = runEngine({}, false, mode == Overwrite::Always, password, first);
    } else {
      const auto specs = specsFor(a, want, lost);
      if (!specs.empty()) ok = runEngine(specs, false, mode == Overwrite::Always, password, first);
    }
    checkStop();
    if (std::find(replace.begin(), replace.end(), true) != replace.end()) {
      // The files the user chose to replace, now with overwriting on.
      EngineRun second;
      const auto specs = specsFor(a, replace, lost);
      if (!specs.empty()) ok = runEngine(specs, false, true, password, second) && ok;
    }
    checkStop();
    if (!ok || lost) {
      ui->tell("Extraction to " + shown(folder) + " failed; the command line was not run.", true);
      return ExitFailed;
    }

    // The command line.
    if (!trim(h.command).empty()) {
      const auto words = commandWords(h.command, folder);
      std::string text;
      for (const auto &w : words) text += (text.empty() ? "" : " ") + w;
      if (!(h.options & sfx::AskCommandLine) || !asking ||
          ui->choose("Run " + shown(text) + "?", kYesNo, 0) == 0)
        return runCommand(words);
    }
    if (asking && !dynamic_cast<TerminalUi *>(ui.get())) ui->tell("The files are in " + folder + ".", false);
    return ExitOk;
  } catch (const Cancelled &) {
    if (!madeTemp.empty()) ::rmdir(madeTemp.c_str());  // only while it is still empty
    say("Cancelled.");
    return ExitCancelled;
  }
}

}  // namespace

int main(int argc, char **argv) { return run(argc, argv); }
