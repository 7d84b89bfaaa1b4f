// Hand-assembled PSD documents for reader tests: every byte placed from the
// published layout, so the reader is checked against the format, not
// against our writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace psdtest {

using Bytes = std::vector<std::uint8_t>;

inline void Put8(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void Put16(Bytes& b, unsigned v) {
    Put8(b, v >> 8);
    Put8(b, v);
}
inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
inline void Put64(Bytes& b, std::uint64_t v) {
    Put32(b, static_cast<std::uint32_t>(v >> 32));
    Put32(b, static_cast<std::uint32_t>(v));
}
inline void PutText(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
inline void Append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes Header(int version, int channels, std::uint32_t h, std::uint32_t w, int depth,
                    int mode) {
    Bytes b;
    PutText(b, "8BPS");
    Put16(b, static_cast<unsigned>(version));
    b.insert(b.end(), 6, 0);
    Put16(b, static_cast<unsigned>(channels));
    Put32(b, h);
    Put32(b, w);
    Put16(b, static_cast<unsigned>(depth));
    Put16(b, static_cast<unsigned>(mode));
    Put32(b, 0); // colour mode data
    Put32(b, 0); // resources
    return b;
}

inline Bytes Zip(const Bytes& raw) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(n);
    compress(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
    out.resize(n);
    return out;
}

// Row-wise differences, the "prediction" of zip-compressed channels.
inline Bytes Predict(const Bytes& raw, std::size_t rowBytes, int sampleBytes) {
    Bytes out = raw;
    for (std::size_t row = 0; row + rowBytes <= raw.size(); row += rowBytes) {
        if (sampleBytes == 1) {
            for (std::size_t i = rowBytes - 1; i > 0; --i)
                out[row + i] = static_cast<std::uint8_t>(raw[row + i] - raw[row + i - 1]);
        } else {
            for (long i = static_cast<long>(rowBytes) - 2; i >= 2; i -= 2) {
                const std::size_t at = row + static_cast<std::size_t>(i);
                const unsigned cur = (raw[at] << 8) | raw[at + 1];
                const unsigned prev = (raw[at - 2] << 8) | raw[at - 1];
                const unsigned d = (cur - prev) & 0xFFFF;
                out[at] = static_cast<std::uint8_t>(d >> 8);
                out[at + 1] = static_cast<std::uint8_t>(d);
            }
        }
    }
    return out;
}

struct LayerSpec {
    std::int32_t top = 0, left = 0, bottom = 0, right = 0;
    // channel id and its data from the compression field on
    std::vector<std::pair<std::int16_t, Bytes>> channels;
    std::string key = "norm";
    unsigned opacity = 255;
    bool hidden = false;
    std::string pascalName;
    std::u16string unicodeName; // empty: no luni block
    int section = 0;            // lsct type, 0 none
    std::string sectionKey;     // blend key stored with the type, empty none
};

// A raw (uncompressed) channel of constant value.
inline Bytes FlatChannel(std::size_t samples, std::uint8_t value) {
    Bytes b;
    Put16(b, 0);
    b.insert(b.end(), samples, value);
    return b;
}

inline Bytes LayerInfo(const std::vector<LayerSpec>& layers, bool mergedAlpha, bool psb = false) {
    Bytes b;
    const int count = static_cast<int>(layers.size());
    Put16(b, static_cast<std::uint16_t>(mergedAlpha ? -count : count));
    for (const LayerSpec& l : layers) {
        Put32(b, static_cast<std::uint32_t>(l.top));
        Put32(b, static_cast<std::uint32_t>(l.left));
        Put32(b, static_cast<std::uint32_t>(l.bottom));
        Put32(b, static_cast<std::uint32_t>(l.right));
        Put16(b, static_cast<unsigned>(l.channels.size()));
        for (const auto& [id, data] : l.channels) {
            Put16(b, static_cast<std::uint16_t>(id));
            if (psb)
                Put64(b, data.size());
            else
                Put32(b, static_cast<std::uint32_t>(data.size()));
        }
        PutText(b, "8BIM");
        PutText(b, l.key);
        Put8(b, l.opacity);
        Put8(b, 0);
        Put8(b, l.hidden ? 0x0A : 0x08);
        Put8(b, 0);
        Bytes extra;
        Put32(extra, 0);
        Put32(extra, 0);
        Put8(extra, static_cast<unsigned>(l.pascalName.size()));
        PutText(extra, l.pascalName);
        while (extra.size() % 4 != 0)
            Put8(extra, 0);
        if (!l.unicodeName.empty()) {
            PutText(extra, "8BIMluni");
            Put32(extra, static_cast<std::uint32_t>(4 + 2 * l.unicodeName.size()));
            Put32(extra, static_cast<std::uint32_t>(l.unicodeName.size()));
            for (char16_t c : l.unicodeName)
                Put16(extra, c);
        }
        if (l.section != 0) {
            PutText(extra, "8BIMlsct");
            Put32(extra, l.sectionKey.empty() ? 4 : 12);
            Put32(extra, static_cast<std::uint32_t>(l.section));
            if (!l.sectionKey.empty()) PutText(extra, "8BIM" + l.sectionKey);
        }
        Put32(b, static_cast<std::uint32_t>(extra.size()));
        Append(b, extra);
    }
    for (const LayerSpec& l : layers)
        for (const auto& ch : l.channels)
            Append(b, ch.second);
    if (b.size() % 2) Put8(b, 0);
    return b;
}

// Header + layer and mask section + merged data (compression field on).
inline Bytes Document(const Bytes& header, const Bytes& layerInfo, const Bytes& merged,
                      bool psb = false) {
    Bytes b = header;
    Bytes section;
    if (!layerInfo.empty()) {
        if (psb)
            Put64(section, layerInfo.size());
        else
            Put32(section, static_cast<std::uint32_t>(layerInfo.size()));
        Append(section, layerInfo);
        Put32(section, 0); // global mask
    }
    if (psb)
        Put64(b, section.size());
    else
        Put32(b, static_cast<std::uint32_t>(section.size()));
    Append(b, section);
    Append(b, merged);
    return b;
}

} // namespace psdtest
