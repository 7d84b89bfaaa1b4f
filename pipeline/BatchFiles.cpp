#include "cli/BatchFiles.h"

#include "image/PathText.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace pelo {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

enum class Kind { File, Folder, Other };

// Kind of an entry; a link counts as what it points to, except that a link
// to a folder is not a folder for the walk.
Kind KindOf(const std::string& path, bool followFolderLinks) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Kind::Other;
    if (S_ISLNK(st.st_mode)) {
        struct stat target {};
        if (::stat(path.c_str(), &target) != 0) return Kind::Other;
        if (S_ISDIR(target.st_mode)) return followFolderLinks ? Kind::Folder : Kind::Other;
        return S_ISREG(target.st_mode) ? Kind::File : Kind::Other;
    }
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    return S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

void Collect(const std::string& folder, const std::string& upperExtension, std::size_t rootLength,
             std::vector<std::string>& list) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = (folder == "/" ? folder : folder + "/") + name;
        switch (KindOf(path, false)) {
        case Kind::Folder:
            Collect(path, upperExtension, rootLength, list);
            break;
        case Kind::File: {
            const std::string upper = UpperPath(name);
            if (upper.size() >= upperExtension.size() &&
                upper.compare(upper.size() - upperExtension.size(), upperExtension.size(),
                              upperExtension) == 0)
                list.push_back(path.substr(rootLength));
            break;
        }
        case Kind::Other:
            break;
        }
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
    return "*." + UpperPath(fmt);
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
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
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
                std::vector<std::string>& list) {
    const std::string top = folder.empty() ? "." : folder;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(top.c_str()));
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !WildcardMatch(pattern, name)) continue;
        switch (KindOf(FormInputPath(top, name), true)) {
        case Kind::Folder:
            list.push_back("[" + name + "]");
            break;
        case Kind::File:
            list.push_back(name);
            break;
        case Kind::Other:
            break;
        }
    }
    return true;
}

void CollectFilesRecursive(const std::string& folder, const std::string& extension,
                           std::vector<std::string>& list) {
    std::string top = folder.empty() ? "." : folder;
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    Collect(top, UpperPath(extension), top == "/" ? 1 : top.size() + 1, list);
}

void SortFileList(std::vector<std::string>& list) {
    std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
        const auto less =
            std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                         [](char x, char y) { return Lower(x) < Lower(y); });
        const auto more =
            std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                         [](char x, char y) { return Lower(x) < Lower(y); });
        if (less != more) return less;
        return a < b;
    });
}

bool IsLayeredPsdPair(const std::string& inputPath, const std::string& outputPath) {
    return ContainsAfterFirst(UpperPath(inputPath), ".PSD") &&
           ContainsAfterFirst(UpperPath(outputPath), ".PSD");
}

} // namespace pelo
