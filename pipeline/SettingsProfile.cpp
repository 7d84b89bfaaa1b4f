#include "pipeline/SettingsProfile.h"

#include "base/AtomicFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace pelo {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// The file as lines without their line ends, with what is needed to write it
// back the way it was.
struct ProfileText {
    std::vector<std::string> lines;
    bool bom = false;
    bool crlf = false;
};

ProfileText ReadProfile(const std::string& path) {
    ProfileText text;
    std::ifstream in(path, std::ios::binary);
    if (!in) return text;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string_view rest(all);
    if (rest.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.bom = true;
        rest.remove_prefix(kUtf8Bom.size());
    }
    bool firstEnd = true;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        const bool hasEnd = nl != std::string_view::npos;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            if (hasEnd && firstEnd) text.crlf = true;
        }
        if (hasEnd) firstEnd = false;
        text.lines.emplace_back(line);
        rest = hasEnd ? rest.substr(nl + 1) : std::string_view();
    }
    return text;
}

// The section name when the line is a section header.
bool SectionHeader(std::string_view line, std::string_view& name) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return false;
    line.remove_prefix(1);
    const auto close = line.find(']');
    name = Trim(line.substr(0, close));
    return true;
}

// The key and value when the line is a key line.
bool KeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') return false;
    const auto eq = trimmed.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return true;
}

struct KeyPosition {
    std::ptrdiff_t keyLine = -1;     // line of the key, -1 when absent
    std::ptrdiff_t insertAfter = -1; // last line of the first matching section
};

KeyPosition FindKey(const ProfileText& text, std::string_view section, std::string_view key) {
    KeyPosition pos;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        const std::string& line = text.lines[i];
        std::string_view name;
        if (SectionHeader(line, name)) {
            inSection = EqualsIgnoringCase(name, section);
            inFirstSection = inSection && pos.insertAfter < 0;
            if (inFirstSection) pos.insertAfter = static_cast<std::ptrdiff_t>(i);
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (KeyLine(line, k, v) && EqualsIgnoringCase(k, key)) {
            pos.keyLine = static_cast<std::ptrdiff_t>(i);
            return pos;
        }
        // New keys go after the last non-blank line of the first such section.
        if (inFirstSection && !Trim(line).empty()) pos.insertAfter = static_cast<std::ptrdiff_t>(i);
    }
    return pos;
}

bool LookUp(const std::string& path, std::string_view section, std::string_view key,
            std::string& value) {
    const ProfileText text = ReadProfile(path);
    const KeyPosition pos = FindKey(text, section, key);
    if (pos.keyLine < 0) return false;
    std::string_view k, v;
    KeyLine(text.lines[static_cast<std::size_t>(pos.keyLine)], k, v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    value.assign(v);
    return true;
}

std::string KeyValueLine(std::string_view key, std::string_view value) {
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append(1, '=').append(value);
    return line;
}

// Writes the whole file beside the target and renames it into place.
bool ReplaceFile(const std::string& path, const std::string& data) {
    std::error_code ec;
    fs::path target(path);
    // A linked profile stays a link: its target is replaced.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    const fs::path folder = target.parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);
    AtomicFile file;
    return file.Open(target.string()) && file.Write(data.data(), data.size()) && file.Commit();
}

} // namespace

std::int32_t ProfileFile::GetInt(std::string_view section, std::string_view key,
                                 std::int32_t defaultValue) const {
    std::string value;
    if (!LookUp(path_, section, key, value) || value.empty()) return defaultValue;
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    std::uint32_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        n = n * 10u + static_cast<std::uint32_t>(value[i] - '0');
    if (negative) n = 0u - n;
    return static_cast<std::int32_t>(n);
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view defaultText) const {
    std::string value;
    if (!LookUp(path_, section, key, value)) return std::string(defaultText);
    return value;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view text) {
    // A line break inside a value would split it into lines of its own.
    if (text.find_first_of("\r\n") != std::string_view::npos) return false;
    if (Trim(section).empty() || Trim(key).empty()) return false;

    ProfileText profile = ReadProfile(path_);
    const KeyPosition pos = FindKey(profile, section, key);
    if (pos.keyLine >= 0) {
        std::string& line = profile.lines[static_cast<std::size_t>(pos.keyLine)];
        std::string_view storedKey, oldValue;
        KeyLine(line, storedKey, oldValue);
        line = KeyValueLine(storedKey, text);
    } else if (pos.insertAfter >= 0) {
        profile.lines.insert(profile.lines.begin() + pos.insertAfter + 1, KeyValueLine(key, text));
    } else {
        std::string header;
        header.append(1, '[').append(section).append(1, ']');
        profile.lines.push_back(std::move(header));
        profile.lines.push_back(KeyValueLine(key, text));
    }

    std::string data;
    if (profile.bom) data += kUtf8Bom;
    const char* eol = profile.crlf ? "\r\n" : "\n";
    for (const std::string& line : profile.lines) {
        data += line;
        data += eol;
    }
    return ReplaceFile(path_, data);
}

bool ProfileFile::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

std::string ExecutableBaseName() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "pelo";
    std::string name = exe.filename().string();
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? std::string("pelo") : name;
}

std::string ProfileDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && h[0] != '\0') {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return (fs::path(home) / ".config").string();
}

std::string ProfilePathFor(std::string_view baseName) {
    return (fs::path(ProfileDirectory()) / (std::string(baseName) + ".INI")).string();
}

std::string DefaultProfilePath() {
    return ProfilePathFor(ExecutableBaseName());
}

} // namespace pelo
