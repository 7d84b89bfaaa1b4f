#include "eri/EriByteStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelo {

EriFileStream::~EriFileStream() {
    Close();
}

bool EriFileStream::Open(const std::string& path, EriLoadStatus* status) {
    Close();
    EriLoadStatus ignored;
    EriLoadStatus& st = status ? *status : ignored;
    auto refuse = [&](EriLoadResult result, int error) {
        Close();
        return st.Fail(result, error ? EriSystemErrorText(error) : std::string());
    };
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return refuse(EriLoadResult::CannotOpen, errno);
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return refuse(EriLoadResult::CannotOpen, errno);
    if (!S_ISREG(info.st_mode)) return refuse(EriLoadResult::NotRegularFile, 0);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return refuse(EriLoadResult::CannotOpen, errno);
    return true;
}

void EriFileStream::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    error_ = 0;
}

std::size_t EriFileStream::Read(void* buffer, std::size_t count) {
    if (fd_ < 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && error_ == 0) error_ = errno;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::uint64_t EriFileStream::Length() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::uint64_t EriFileStream::Position() {
    if (fd_ < 0) return 0;
    const off_t p = ::lseek(fd_, 0, SEEK_CUR);
    return p < 0 ? 0 : static_cast<std::uint64_t>(p);
}

void EriFileStream::Seek(std::uint64_t position) {
    if (fd_ >= 0) ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
}

std::size_t EriMemoryStream::Read(void* buffer, std::size_t count) {
    const std::size_t left = size_ - position_;
    const std::size_t n = count < left ? count : left;
    if (n != 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

} // namespace pelo
