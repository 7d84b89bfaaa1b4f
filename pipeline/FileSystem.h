// File-system steps of a run that the readers and writers below need not
// know about: which inputs are plain files, which paths name the same file,
// and paths too long for the system calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelo {

// The reason an existing path cannot be read as a picture ("cannot open:
// not a regular file"): a folder, FIFO or device is refused without being
// opened. Empty for a regular file (links followed) and for a path that
// cannot be examined, which the loader then reports.
std::string RegularFileProblem(const std::string& path);

// Device and inode: the same file, whatever path reaches it.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
    friend auto operator<=>(const FileId&, const FileId&) = default;
};
std::optional<FileId> IdOf(const std::string& path);

// Where an output will be: the file itself when it exists, otherwise the
// nearest existing folder above it and the path left below that folder.
// Two paths with the same place name the same file.
struct FilePlace {
    FileId id;
    std::string rest; // "" when the file exists
    friend bool operator==(const FilePlace&, const FilePlace&) = default;
    friend auto operator<=>(const FilePlace&, const FilePlace&) = default;
};
std::optional<FilePlace> PlaceOf(const std::string& path);

// A path of any length made usable by calls that take at most PATH_MAX
// bytes: beyond that, the folder part is opened one component at a time
// (made when asked and missing) and the path goes through
// /proc/self/fd. Shorter paths are used as they are.
class ReachablePath {
public:
    ReachablePath(const std::string& path, bool makeFolders);
    ~ReachablePath();
    ReachablePath(const ReachablePath&) = delete;
    ReachablePath& operator=(const ReachablePath&) = delete;

    // Empty when the folder part could not be reached; problem() says why.
    const std::string& path() const { return usable_; }
    const std::string& problem() const { return problem_; }
    // text with the usable path's folder part put back to the original's.
    std::string Restore(std::string text) const;

private:
    std::string original_;
    std::string usable_;
    std::string problem_;
    int folder_ = -1;
};

} // namespace pelo
