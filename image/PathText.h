// Text tests on paths: file kinds are recognised by searching the path for
// an extension text anywhere after its first character, not by parsing it.
#pragma once

#include <string>
#include <string_view>

namespace pelo {

// Upper-cases ASCII letters only; bytes of multibyte UTF-8 sequences are
// left alone, so positions in the copy match positions in the original.
inline std::string UpperPath(std::string_view path) {
    std::string upper(path);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// True when the first occurrence of text lies after the first character.
inline bool ContainsAfterFirst(std::string_view path, std::string_view text) {
    const auto pos = path.find(text);
    return pos != std::string_view::npos && pos > 0;
}

} // namespace pelo
