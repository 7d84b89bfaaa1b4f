#include "app/FormatLists.h"

#include "formats/Codec.h"

#include <algorithm>

namespace pelo {

namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

std::vector<std::string> SplitPatterns(const std::string& list) {
    std::vector<std::string> pieces;
    std::string rest = list;
    for (auto semi = rest.find(';'); semi != std::string::npos; semi = rest.find(';')) {
        pieces.push_back(rest.substr(0, semi));
        rest.erase(0, semi + 1);
    }
    pieces.push_back(rest);
    return pieces;
}

void AddSorted(std::vector<std::string>& list, const std::string& text) {
    if (text.empty()) return;
    for (const std::string& entry : list)
        if (SameText(entry, text)) return;
    const auto pos = std::upper_bound(list.begin(), list.end(), text, ListTextLess);
    list.insert(pos, text);
}

} // namespace

bool ListTextLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
    });
}

CodecFormats QueryCodecFormats() {
    CodecFormats formats;
    formats.decoders = CodecDecoderPatterns();
    formats.encoders = CodecEncoderPatterns();
    formats.started = !formats.decoders.empty();
    return formats;
}

FormatLists BuildFormatLists(const CodecFormats& codec) {
    FormatLists lists;
    AddSorted(lists.input, "*.ERI");
    AddSorted(lists.input, "*.PSD");
    AddSorted(lists.output, "*.TGA");
    AddSorted(lists.output, "*.PSD");
    if (!codec.started) return lists;
    for (const std::string& decoder : codec.decoders)
        for (const std::string& piece : SplitPatterns(decoder))
            AddSorted(lists.input, piece);
    for (const std::string& encoder : codec.encoders)
        for (const std::string& piece : SplitPatterns(encoder))
            if (piece.find("MF") == std::string::npos && piece.find("ICO") == std::string::npos)
                AddSorted(lists.output, piece);
    return lists;
}

} // namespace pelo
