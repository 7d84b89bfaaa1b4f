// Writes a file beside its target and renames it into place only when
// complete, so a failed write never replaces a good file with a broken one.
#pragma once

#include <cstddef>
#include <string>

namespace pelo {

// File error classes, the writers' negative result codes.
enum FileError : int {
    kFileNotFound = -100,
    kFileBadPath = -101,
    kFileHardwareError = -102,
    kFileOtherError = -103,
};

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile(); // removes the temporary file unless committed

    // Creates the temporary file in the target's folder. False on failure;
    // errorCode() then tells the class.
    bool Open(const std::string& targetPath);
    bool Write(const void* data, std::size_t size);
    // Flushes, closes and renames over the target.
    bool Commit();
    void Abandon();

    int errorCode() const { return error_; }
    int lastErrno() const { return errno_; }

private:
    void Fail(int err);

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int error_ = 0;
    int errno_ = 0;
};

// Maps an errno value onto the writers' file error classes.
int FileErrorFromErrno(int err);

} // namespace pelo
