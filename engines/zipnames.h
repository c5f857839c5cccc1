#pragma once
// Member name conversion shared by the directory reader and the engines: code page 437 to UTF-8,
// UTF-8 names (flag bit 11) and the rule that decides which names are DOS names.
#include <cstdint>
#include <string>
#include <string_view>
#include "platform/cp437.h"

namespace zipnames {


inline void appendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

inline std::string cp437ToUtf8(std::string_view raw) {
  std::string out;
  out.reserve(raw.size() + raw.size() / 2);
  for (unsigned char c : raw) {
    if (c < 0x80) out += char(c);
    else appendUtf8(out, cp437::kHigh[c - 0x80]);
  }
  return out;
}

inline bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

inline bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    const int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (n < 0 || i + n >= s.size() + (n == 0)) return false;
    for (int k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

enum class CodePage { Auto, None, Oem };

// True when a name of this maker is stored in the DOS (OEM) code page.
inline bool isOemName(uint8_t host, uint8_t madeBy, CodePage cp) {
  if (cp == CodePage::Oem) return true;
  return (cp == CodePage::Auto && host == 0) || host == 6 || (host == 11 && madeBy == 50);
}

// The UTF-8 form of a stored name or comment. Bit 11 of the flags marks UTF-8 text. Texts of other
// makers are taken as UTF-8 when they are valid UTF-8, else byte by byte as code page 437, so that
// no name ever turns into invalid text.
inline std::string toUtf8(std::string_view raw, uint16_t flags, uint8_t host, uint8_t madeBy,
                          CodePage cp = CodePage::Auto) {
  if (flags & 0x0800) return std::string(raw);
  if (isAscii(raw)) return std::string(raw);
  if (isOemName(host, madeBy, cp)) return cp437ToUtf8(raw);
  if (isValidUtf8(raw)) return std::string(raw);
  return cp437ToUtf8(raw);
}

// True for the C0 controls, DEL, and (at p, in UTF-8) the C1 controls U+0080-U+009F; n is the
// length of the character at p.
inline bool isControlAt(std::string_view s, size_t p, size_t &n) {
  const unsigned char c = static_cast<unsigned char>(s[p]);
  n = 1;
  if (c < 0x20 || c == 0x7F) return true;
  if (c == 0xC2 && p + 1 < s.size()) {
    const unsigned char d = static_cast<unsigned char>(s[p + 1]);
    if (d >= 0x80 && d <= 0x9F) {
      n = 2;
      return true;
    }
  }
  return false;
}

// A name or message as it is shown: control characters written as escapes (\n, \t, \r, \x1b,
// \u0085), so that a name cannot break a log line or send a terminal sequence.
inline std::string printable(std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t n = 1;
    if (!isControlAt(s, i, n)) {
      out += s[i++];
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(n == 2 ? s[i + 1] : s[i]);
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else {
      out += n == 2 ? "\\u00" : "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
    i += n;
  }
  return out;
}

// A name part as it is written to disk: each control character becomes "_".
inline std::string withoutControls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t n = 1;
    if (isControlAt(s, i, n)) out += '_';
    else out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

// Member names that would leave the folder they are extracted into: absolute (a root or a drive letter), or
// with a ".." part. The unzip engine refuses such members, and the self-extracting program the whole archive.
inline bool isAbsoluteName(std::string_view name) {
  return (!name.empty() && (name[0] == '/' || name[0] == '\\')) || (name.size() > 1 && name[1] == ':');
}
inline bool climbsOut(std::string_view name) {
  for (size_t i = 0; i <= name.size();) {
    size_t j = name.find('/', i);
    if (j == std::string_view::npos) j = name.size();
    if (name.substr(i, j - i) == "..") return true;
    i = j + 1;
  }
  return false;
}
inline bool leavesFolder(std::string_view name) { return isAbsoluteName(name) || climbsOut(name); }

}  // namespace zipnames
