// Little- and big-endian loads and stores of 16- and 32-bit values, for the
// file formats' headers and records.
#pragma once

#include <cstdint>
#include <vector>

namespace pelo {

inline std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
inline std::uint32_t LoadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

inline void StoreLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    StoreLe16(p, v & 0xFFFF);
    StoreLe16(p + 2, v >> 16);
}
inline void StoreBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void StoreBe32(std::uint8_t* p, std::uint32_t v) {
    StoreBe16(p, v >> 16);
    StoreBe16(p + 2, v & 0xFFFF);
}

inline void AppendBe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
inline void AppendBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    AppendBe16(out, v >> 16);
    AppendBe16(out, v & 0xFFFF);
}

} // namespace pelo
