// The two format lists of the main dialog: the program's own formats plus
// what the platform codec decodes (input) and encodes (output), each sorted
// ignoring case, the way the dialog's sorted lists order their entries.
#pragma once

#include <string>
#include <vector>

namespace pelo {

struct CodecFormats {
    bool started = false;              // false: the codec could not start
    std::vector<std::string> decoders; // "*.BMP", or "*.BMP;*.DIB" lists
    std::vector<std::string> encoders;
};

// What the codec of this build offers.
CodecFormats QueryCodecFormats();

struct FormatLists {
    std::vector<std::string> input;
    std::vector<std::string> output;
};

// "*.ERI" and "*.PSD" are always inputs, "*.TGA" and "*.PSD" always outputs.
// Pattern lists are split at ";". Output patterns naming metafiles ("MF")
// or icons ("ICO") are left out. A pattern already in a list is not added
// twice.
FormatLists BuildFormatLists(const CodecFormats& codec);

// Case-insensitive order of the sorted lists.
bool ListTextLess(const std::string& a, const std::string& b);

} // namespace pelo
