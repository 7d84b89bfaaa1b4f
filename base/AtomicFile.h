// Writes a file beside its target and renames it into place only when
// complete, so a failed write never replaces a good file with a broken one:
// write, sync the file, rename, sync the folder. A replaced file keeps its
// permissions.
// The temporary is ".pelo-<pid>-<n>.tmp" in the target's folder, whatever
// the length of the target's name.
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
    // errorCode() and reason() then tell why.
    bool Open(const std::string& targetPath);
    // A failed write removes the temporary; Commit then fails too.
    bool Write(const void* data, std::size_t size);
    // Syncs, closes and renames over the target, then syncs the folder.
    bool Commit();
    void Abandon();

    int errorCode() const { return error_; }
    int lastErrno() const { return errno_; }
    // The failure with the system's text for its error, e.g. "cannot write
    // the output file: No space left on device"; empty when nothing failed.
    std::string reason() const;

private:
    void Fail(const char* action, int err);

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int slot_ = -1; // in the table of pending temporaries, -1 when not listed
    int error_ = 0;
    int errno_ = 0;
    const char* action_ = nullptr;
};

// Removes every temporary file still open in this process. Async-signal-safe
// (reads the table of pending temporaries and calls unlink only), for a
// signal handler that then ends the process with _exit.
void RemovePendingTemporaries() noexcept;

// Maps an errno value onto the writers' file error classes.
int FileErrorFromErrno(int err);

} // namespace pelo
