#pragma once
// The zip format's record signatures, flag bits and little-endian readers, shared by the engines and the
// component's directory reader. Header-only and plain C++.
#include <cstdint>

namespace zipformat {

constexpr uint32_t kSigLocal = 0x04034B50;
constexpr uint32_t kSigCentral = 0x02014B50;
constexpr uint32_t kSigEnd = 0x06054B50;
constexpr uint32_t kSigEnd64 = 0x06064B50;
constexpr uint32_t kSigLocator64 = 0x07064B50;
constexpr uint32_t kSigDescriptor = 0x08074B50;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;

inline uint16_t rd16(const unsigned char *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t rd32(const unsigned char *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t rd64(const unsigned char *p) { return rd32(p) | (uint64_t(rd32(p + 4)) << 32); }
inline void wr16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void wr32(unsigned char *p, uint32_t v) {
  wr16(p, static_cast<uint16_t>(v));
  wr16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void wr64(unsigned char *p, uint64_t v) {
  wr32(p, static_cast<uint32_t>(v));
  wr32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace zipformat
