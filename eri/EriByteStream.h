// The byte-stream interface the ERI codec reads through, with a stream over a
// file and one over bytes in memory (tests and fuzzing).
#pragma once

#include "eri/EriLoadStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelo {

class EriByteStream {
public:
    virtual ~EriByteStream() = default;
    // Bytes actually read: 0 at the end or on error.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::uint64_t Length() = 0;
    virtual std::uint64_t Position() = 0;
    // Absolute position from the beginning.
    virtual void Seek(std::uint64_t position) = 0;
    // The errno of the first failed read, or 0; it stays set.
    virtual int Error() const { return 0; }
};

class EriFileStream final : public EriByteStream {
public:
    EriFileStream() = default;
    ~EriFileStream() override;
    EriFileStream(const EriFileStream&) = delete;
    EriFileStream& operator=(const EriFileStream&) = delete;

    // Closes any file held, then opens an existing regular file for reading;
    // anything else (a FIFO, a device) is refused without blocking. Why it
    // failed goes to status.
    bool Open(const std::string& path, EriLoadStatus* status = nullptr);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Length() override;
    std::uint64_t Position() override;
    void Seek(std::uint64_t position) override;
    int Error() const override { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Reads from a borrowed buffer; the bytes must outlive the stream.
class EriMemoryStream final : public EriByteStream {
public:
    EriMemoryStream(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Length() override { return size_; }
    std::uint64_t Position() override { return position_; }
    void Seek(std::uint64_t position) override { position_ = position < size_ ? position : size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

} // namespace pelo
