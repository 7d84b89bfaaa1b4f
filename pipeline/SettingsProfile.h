// The settings profile: an INI file read and written key by key, the way the
// desktop program has always kept its settings. Sections and keys match
// ignoring ASCII case; every line that is not the key being written is kept
// as it stands; a missing file reads as the defaults. Each write rewrites the
// whole file through a temporary file and a rename, so a failed write leaves
// the previous file intact.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelo {

class ProfileFile {
public:
    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // The key's value as an integer: optional blanks, an optional sign and
    // decimal digits, wrapping modulo 2^32; text without leading digits gives
    // 0. A missing file, section or key, or an empty value, gives the default.
    std::int32_t GetInt(std::string_view section, std::string_view key,
                        std::int32_t defaultValue) const;

    // The key's text with surrounding blanks removed and one pair of matching
    // quotes stripped, or the default text.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultText) const;

    // Creates or replaces the key (creating the section at the end of the file
    // when it is missing, and the profile's folder when that is missing).
    // False when the file could not be written; the old file is then unchanged.
    bool WriteString(std::string_view section, std::string_view key, std::string_view text);

    // Decimal text of the value as a signed 32-bit integer.
    bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);

private:
    std::string path_;
};

// Base name of the running executable (no folder, no extension).
std::string ExecutableBaseName();

// Folder of the profile: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config.
std::string ProfileDirectory();

// Profile folder + "/" + baseName + ".INI".
std::string ProfilePathFor(std::string_view baseName);

// The profile of the running executable.
std::string DefaultProfilePath();

} // namespace pelo
