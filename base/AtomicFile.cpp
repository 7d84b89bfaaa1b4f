#include "base/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelo {

namespace {

constexpr const char* kCreateFailed = "cannot create the output file";
constexpr const char* kWriteFailed = "cannot write the output file";
constexpr const char* kReplaceFailed = "cannot replace the output file";

std::atomic<unsigned> gTempCounter{0};

// Makes the rename itself durable. A folder that cannot be synced (some
// file systems refuse) leaves the file in place all the same.
void SyncFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string TempNameFor(const std::string& target) {
    const auto slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    char name[48];
    std::snprintf(name, sizeof name, ".pelo-%ld-%u.tmp", static_cast<long>(getpid()),
                  gTempCounter.fetch_add(1));
    return folder + name;
}

// The table of pending temporaries. A slot's state holds its phase in the
// low two bits and a generation above them, so that a reader copying a path
// without locks can tell whether the slot changed meanwhile (a sequence
// lock). Paths are copied char by char through relaxed atomics.
enum : unsigned { kSlotFree = 0, kSlotFilling = 1, kSlotLive = 2, kPhaseMask = 3 };
constexpr int kSlotCount = 256;

struct Slot {
    std::atomic<unsigned> state{kSlotFree};
    char path[PATH_MAX + 1];
};
static_assert(std::atomic<unsigned>::is_always_lock_free);
static_assert(std::atomic_ref<char>::is_always_lock_free);

Slot gSlots[kSlotCount];

// The slot now listing path, or -1 when the path is too long or the table
// is full (the file is then written unlisted).
int ListTemporary(const std::string& path) {
    if (path.size() > PATH_MAX) return -1;
    for (int i = 0; i < kSlotCount; ++i) {
        Slot& slot = gSlots[i];
        unsigned state = slot.state.load(std::memory_order_relaxed);
        if ((state & kPhaseMask) != kSlotFree) continue;
        if (!slot.state.compare_exchange_strong(state, state | kSlotFilling,
                                                std::memory_order_relaxed))
            continue;
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t k = 0; k <= path.size(); ++k)
            std::atomic_ref<char>(slot.path[k])
                .store(k < path.size() ? path[k] : '\0', std::memory_order_relaxed);
        slot.state.store((state & ~kPhaseMask) | kSlotLive, std::memory_order_release);
        return i;
    }
    return -1;
}

void UnlistTemporary(int index) {
    if (index < 0) return;
    Slot& slot = gSlots[index];
    const unsigned state = slot.state.load(std::memory_order_relaxed);
    slot.state.store((state & ~kPhaseMask) + (kPhaseMask + 1), std::memory_order_release);
}

// strerror_r comes in two forms; both leave the text in or beside buffer.
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorTextOf(const char* text, const char*) {
    return text;
}

std::string SystemErrorText(int err) {
    char buffer[256] = {};
    const char* text = ErrorTextOf(strerror_r(err, buffer, sizeof buffer), buffer);
    if (!text || !*text) return "error " + std::to_string(err);
    return text;
}

} // namespace

void RemovePendingTemporaries() noexcept {
    const int savedErrno = errno;
    char path[PATH_MAX + 1];
    for (Slot& slot : gSlots) {
        const unsigned before = slot.state.load(std::memory_order_acquire);
        if ((before & kPhaseMask) != kSlotLive) continue;
        std::size_t k = 0;
        for (; k < PATH_MAX; ++k) {
            path[k] = std::atomic_ref<char>(slot.path[k]).load(std::memory_order_relaxed);
            if (path[k] == '\0') break;
        }
        path[k] = '\0';
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.state.load(std::memory_order_relaxed) != before) continue; // reused meanwhile
        ::unlink(path);
    }
    errno = savedErrno;
}

int FileErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return kFileNotFound;
    case ENAMETOOLONG:
    case ENOTDIR:
    case EISDIR:
    case EINVAL:
    case ELOOP:
        return kFileBadPath;
    case EIO:
        return kFileHardwareError;
    default:
        return kFileOtherError;
    }
}

AtomicFile::~AtomicFile() {
    Abandon();
}

void AtomicFile::Fail(const char* action, int err) {
    if (error_ != 0) return;
    errno_ = err;
    action_ = action;
    error_ = FileErrorFromErrno(err);
}

std::string AtomicFile::reason() const {
    if (!action_) return {};
    return std::string(action_) + ": " + SystemErrorText(errno_);
}

bool AtomicFile::Open(const std::string& targetPath) {
    Abandon();
    error_ = 0;
    errno_ = 0;
    action_ = nullptr;
    target_ = targetPath;
    int err = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp_ = TempNameFor(targetPath);
        // Listed before it exists, so that no moment passes with the file unlisted.
        slot_ = ListTemporary(temp_);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            // A replaced file keeps its permissions.
            struct stat st {};
            if (::stat(target_.c_str(), &st) == 0) ::fchmod(fd_, st.st_mode & 07777);
            return true;
        }
        err = errno;
        UnlistTemporary(slot_);
        slot_ = -1;
        if (err != EEXIST) break;
    }
    temp_.clear();
    Fail(kCreateFailed, err);
    error_ = kFileNotFound; // a file that cannot be created is -100 whatever the reason
    return false;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A regular file takes nothing only when the device is full.
            Fail(kWriteFailed, n < 0 ? errno : ENOSPC);
            Abandon();
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (fd_ < 0) return false;
    const int fd = fd_;
    fd_ = -1;
    // The data reaches the disk before the name points at it; close reports
    // write-back failures (full disk, quota); on Linux EINTR still releases
    // the descriptor and loses no data on local files.
    const bool synced = ::fsync(fd) == 0;
    const int syncErrno = errno;
    if (!synced && syncErrno != EINVAL) {
        ::close(fd);
        Fail(kWriteFailed, syncErrno);
        Abandon();
        return false;
    }
    if (::close(fd) != 0 && errno != EINTR) {
        Fail(kWriteFailed, errno);
        Abandon();
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail(kReplaceFailed, errno);
        Abandon();
        return false;
    }
    UnlistTemporary(slot_);
    slot_ = -1;
    temp_.clear();
    SyncFolderOf(target_);
    return true;
}

void AtomicFile::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    UnlistTemporary(slot_);
    slot_ = -1;
}

} // namespace pelo
