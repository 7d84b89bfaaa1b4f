#include "formats/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace pelo {

namespace {

std::atomic<unsigned> gTempCounter{0};

std::string TempNameFor(const std::string& target) {
    const auto slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(getpid()),
                  gTempCounter.fetch_add(1));
    return folder + "." + name + suffix;
}

} // namespace

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

void AtomicFile::Fail(int err) {
    errno_ = err;
    if (error_ == 0) error_ = FileErrorFromErrno(err);
}

bool AtomicFile::Open(const std::string& targetPath) {
    Abandon();
    error_ = 0;
    target_ = targetPath;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temp_ = TempNameFor(targetPath);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    errno_ = errno;
    error_ = kFileNotFound; // a file that cannot be created is -100 whatever the reason
    temp_.clear();
    return false;
}

bool AtomicFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (fd_ < 0) return false;
    if (::close(fd_) != 0) {
        fd_ = -1;
        Fail(errno);
        Abandon();
        return false;
    }
    fd_ = -1;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail(errno);
        Abandon();
        return false;
    }
    temp_.clear();
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
}

} // namespace pelo
