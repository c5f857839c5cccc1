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

}  // namespace zipnames
