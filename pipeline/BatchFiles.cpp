#include "pipeline/BatchFiles.h"

#include "base/TextCase.h"
#include "pipeline/FileSystem.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pelo {

namespace fs = std::filesystem;

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

struct Walk {
    std::string upperExtension;
    std::optional<FileId> skip;
    std::vector<std::string>& list;
    std::vector<std::string>* unreadable;
};

// Lists the folder open at fd (taken over) whose path relative to the top is
// prefix ("" or "sub/"). Each folder is opened relative to its parent, so
// depth is not limited by PATH_MAX; a sub-folder that cannot be opened is
// named and the walk goes on; the output folder is known by its identity.
void Collect(int fd, const std::string& prefix, Walk& walk) {
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        if (walk.unreadable) walk.unreadable->push_back(prefix);
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (walk.skip && *walk.skip == FileId{static_cast<std::uint64_t>(st.st_dev),
                                                  static_cast<std::uint64_t>(st.st_ino)})
                continue;
            const int sub =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                if (walk.unreadable) walk.unreadable->push_back(prefix + name);
                continue;
            }
            Collect(sub, prefix + name + "/", walk);
            continue;
        }
        // A link counts as the file it points to; a link to a folder is not
        // walked.
        if (S_ISLNK(st.st_mode) && ::fstatat(fd, name.c_str(), &st, 0) != 0) continue;
        if (!S_ISREG(st.st_mode)) continue;
        const std::string upper = UpperAscii(name);
        const std::string& ext = walk.upperExtension;
        if (upper.size() >= ext.size() &&
            upper.compare(upper.size() - ext.size(), ext.size(), ext) == 0)
            walk.list.push_back(prefix + name);
    }
}

} // namespace

std::string NormalisePattern(std::string_view fmt) {
    if (fmt.starts_with("*")) fmt.remove_prefix(1);
    if (fmt.starts_with(".")) fmt.remove_prefix(1);
    if (fmt.empty() || fmt.size() > 16) return {};
    for (char c : fmt)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return {};
    return "*." + UpperAscii(fmt);
}

std::string FormInputPath(const std::string& folder, const std::string& entry) {
    if (folder.empty()) return "./" + entry;
    if (folder.back() == '/') return folder + entry;
    return folder + "/" + entry;
}

std::string FormOutputPath(const std::string& outputFolder, const std::string& entry,
                           const std::string& pattern) {
    const std::string extension = pattern.starts_with("*") ? pattern.substr(1) : pattern;
    const auto slash = entry.rfind('/');
    const auto dot = entry.rfind('.');
    const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return FormInputPath(outputFolder, (hasDot ? entry.substr(0, dot) : entry) + extension);
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Iterative match with backtracking to the last star.
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<std::string>& list, bool withFolders) {
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? "." : folder, ec);
    if (ec) return false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!WildcardMatch(pattern, name)) continue;
        // Links count as what they point to.
        const fs::file_status status = it->status(ec);
        if (fs::is_directory(status)) {
            if (withFolders) list.push_back("[" + name + "]");
        } else if (fs::is_regular_file(status)) {
            list.push_back(name);
        }
    }
    return true;
}

void CollectFilesRecursive(const std::string& folder, const std::string& extension,
                           std::vector<std::string>& list, const std::string& skip,
                           std::vector<std::string>* unreadable) {
    const std::string top = folder.empty() ? "." : folder;
    Walk walk{UpperAscii(extension), skip.empty() ? std::nullopt : IdOf(skip), list, unreadable};
    const int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) Collect(fd, "", walk);
}

bool IsFolderEntry(const std::string& folder, const std::string& entry) {
    if (entry.size() < 2 || entry.front() != '[' || entry.back() != ']') return false;
    std::error_code ec;
    return fs::is_directory(FormInputPath(folder, entry.substr(1, entry.size() - 2)), ec);
}

void SortFileList(std::vector<std::string>& list) {
    std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        if (LessIgnoringCase(a, b) != LessIgnoringCase(b, a)) return LessIgnoringCase(a, b);
        return a < b;
    });
}

} // namespace pelo
