#pragma once
// The 256-byte header that lies between the self-extracting program and its zip data: "MPU", one byte of
// option bits, the lengths of the caption, default folder and command line, then those three texts
// (UTF-8) one after the other. Plain C++, shared by the stub and whoever builds self-extracting files.
#include <cstdint>
#include <string>

namespace sfx {

constexpr size_t kHeaderSize = 256;
constexpr size_t kTextsAt = 7;

enum Option : uint8_t {
  AskCommandLine = 0x01,   // the user may avoid running the command line
  AskFiles = 0x02,         // the user may take members out of the list
  HideOverwrite = 0x04,    // the overwrite mode is not offered for change
  OverwriteAlways = 0x08,
  OverwriteNever = 0x10,   // neither bit: ask for each existing file
  NoSizeCheck = 0x20,
  AutoRun = 0x40,          // no questions at all
};

// The extract folder text that stands for a new temporary folder; in the command line, the folder itself.
inline constexpr const char *kFolderToken = "><";

struct Header {
  uint8_t options = 0;
  std::string caption, folder, command;
};

// Reads a header; false with the reason when it is not one or its texts would run past its end.
inline bool parseHeader(const unsigned char *p, size_t n, Header &h, std::string &why) {
  if (n < kHeaderSize || p[0] != 'M' || p[1] != 'P' || p[2] != 'U') {
    why = "no self-extracting header before the zip data";
    return false;
  }
  const size_t a = p[4], b = p[5], c = p[6];
  if (kTextsAt + a + b + c > kHeaderSize) {
    why = "the header's text lengths run past its end";
    return false;
  }
  const char *t = reinterpret_cast<const char *>(p + kTextsAt);
  h.options = p[3];
  h.caption.assign(t, a);
  h.folder.assign(t + a, b);
  h.command.assign(t + a + b, c);
  return true;
}

// Builds a header; false when the texts do not fit (each up to 255 bytes and all three in 249).
inline bool buildHeader(const Header &h, std::string &out) {
  if (h.caption.size() > 255 || h.folder.size() > 255 || h.command.size() > 255 ||
      kTextsAt + h.caption.size() + h.folder.size() + h.command.size() > kHeaderSize)
    return false;
  out.assign(kHeaderSize, '\0');
  out[0] = 'M';
  out[1] = 'P';
  out[2] = 'U';
  out[3] = char(h.options);
  out[4] = char(h.caption.size());
  out[5] = char(h.folder.size());
  out[6] = char(h.command.size());
  out.replace(kTextsAt, h.caption.size() + h.folder.size() + h.command.size(), h.caption + h.folder + h.command);
  return true;
}

}  // namespace sfx
