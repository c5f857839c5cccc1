#pragma once
// Member name conversion shared by the directory reader and the engines: code page 437 to UTF-8,
// UTF-8 names (flag bit 11) and the rule that decides which names are DOS names.
#include <cstdint>
#include <string>
#include <string_view>

namespace zipnames {

// Unicode code points of code page 437 bytes 128-255.
inline constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

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
    else appendUtf8(out, kCp437High[c - 0x80]);
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
