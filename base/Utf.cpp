#include "base/Utf.h"

namespace pelo {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::span<const std::uint16_t> units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::vector<std::uint16_t> Utf8ToUtf16(std::string_view s) {
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (c < 0x80)
            cp = c;
        else if ((c & 0xE0) == 0xC0)
            n = 2, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            n = 3, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            n = 4, cp = c & 0x07;
        if (n > 1) {
            bool ok = i + n <= s.size();
            for (std::size_t k = 1; ok && k < n; ++k) {
                const auto d = static_cast<unsigned char>(s[i + k]);
                ok = (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
            if (!ok || cp > 0x10FFFF) cp = 0xFFFD, n = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0)
        n = 2, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        n = 3, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
    return n;
}

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t n = Utf8SequenceLength(text, end);
        if (n == 0) n = 1; // stray byte: kept byte-wise
        if (end + n > maxBytes) break;
        end += n;
    }
    return std::string(text.substr(0, end));
}

} // namespace pelo
