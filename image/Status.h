// The outcome of one file's work: a code that a program can act on and the
// reason a person reads. Made where the failure happens, passed up unchanged
// and shown once.
#pragma once

#include <string>
#include <utility>

namespace pelo {

enum class StatusCode {
    Ok,
    CannotRead,   // the input cannot be opened or read, or is not a regular file
    Damaged,      // the input is truncated or malformed
    Unsupported,  // a layout or format this build does not read
    TooLarge,     // the picture exceeds a size limit
    OutOfMemory,  // a buffer could not be had
    NotSmoothed,  // the passes could not run: nothing was written
    CannotWrite,  // the output could not be written
    WouldReplace, // the output would replace an input of the run
    Collision,    // another entry of the run writes the same output
    Aborted,      // an error in this file's conversion ended the run
    Stopped,      // the run was stopped before this file
};

struct Status {
    StatusCode code = StatusCode::Ok;
    std::string reason;

    bool ok() const { return code == StatusCode::Ok; }
    static Status Fail(StatusCode code, std::string reason) {
        return Status{code, std::move(reason)};
    }
};

} // namespace pelo
