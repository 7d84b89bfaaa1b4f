#include "pipeline/FileSystem.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace pelo {

namespace {

std::string ErrnoText(int err) {
    return std::generic_category().message(err);
}

bool TooLong(const std::string& path) {
    return path.size() >= PATH_MAX;
}

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

bool StatFollowing(const std::string& path, struct stat& st) {
    if (!TooLong(path)) return ::stat(path.c_str(), &st) == 0;
    ReachablePath reach(path, false);
    return !reach.path().empty() && ::stat(reach.path().c_str(), &st) == 0;
}

FileId IdFrom(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace

std::string RegularFileProblem(const std::string& path) {
    struct stat st {};
    // What cannot be examined is left to the loader, which says why in its
    // own words.
    if (!StatFollowing(path, st)) return {};
    if (S_ISDIR(st.st_mode)) return "cannot open: is a folder";
    if (!S_ISREG(st.st_mode)) return "cannot open: not a regular file";
    return {};
}

std::optional<FileId> IdOf(const std::string& path) {
    struct stat st {};
    if (!StatFollowing(path, st)) return std::nullopt;
    return IdFrom(st);
}

std::optional<FilePlace> PlaceOf(const std::string& path) {
    if (const auto id = IdOf(path)) return FilePlace{*id, {}};
    // Climb to the nearest folder that exists; what lies below it is the rest.
    const std::vector<std::string> parts = Components(path);
    const bool absolute = !path.empty() && path[0] == '/';
    for (std::size_t keep = parts.size(); keep-- > 0;) {
        std::string folder(absolute ? 1 : 0, '/');
        for (std::size_t i = 0; i < keep; ++i) {
            if (i > 0) folder.push_back('/');
            folder.append(parts[i]);
        }
        if (folder.empty()) folder.push_back('.');
        const auto id = IdOf(folder);
        if (!id) continue;
        std::string rest;
        for (std::size_t i = keep; i < parts.size(); ++i) {
            if (i > keep) rest += '/';
            rest += parts[i];
        }
        return FilePlace{*id, rest};
    }
    return std::nullopt;
}

ReachablePath::ReachablePath(const std::string& path, bool makeFolders) : original_(path) {
    if (!TooLong(path)) {
        usable_ = path;
        return;
    }
    const auto slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    std::vector<std::string> parts = Components(path.substr(0, slash));
    folder_ = ::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& part : parts) {
        if (folder_ < 0) break;
        int next = ::openat(folder_, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && makeFolders &&
            (::mkdirat(folder_, part.c_str(), 0777) == 0 || errno == EEXIST))
            next = ::openat(folder_, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int err = errno;
        ::close(folder_);
        folder_ = next;
        errno = err;
    }
    if (folder_ < 0) {
        problem_ = "cannot reach the folder of " + path + ": " + ErrnoText(errno);
        return;
    }
    usable_ = "/proc/self/fd/" + std::to_string(folder_) + "/" + name;
}

ReachablePath::~ReachablePath() {
    if (folder_ >= 0) ::close(folder_);
}

std::string ReachablePath::Restore(std::string text) const {
    if (usable_.empty() || usable_ == original_) return text;
    const std::string from = usable_.substr(0, usable_.rfind('/'));
    const std::string to = original_.substr(0, original_.rfind('/'));
    for (auto pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

} // namespace pelo
