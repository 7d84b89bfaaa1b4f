// UTF-8 and UTF-16 conversions for the text that file formats carry (layer
// names, record text). Broken input never fails: it becomes U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelo {

void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Pairs surrogates; an unpaired one becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const std::uint16_t> units);

// A broken sequence becomes U+FFFD and costs one byte.
std::vector<std::uint16_t> Utf8ToUtf16(std::string_view text);

// Bytes of the valid, shortest-form UTF-8 sequence at text[i], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);

// At most maxBytes of text, never ending inside a valid sequence (a stray
// byte counts alone).
std::string CutUtf8(std::string_view text, std::size_t maxBytes);

} // namespace pelo
