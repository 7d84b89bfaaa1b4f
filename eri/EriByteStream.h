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
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    virtual std::uint64_t length() = 0;
    virtual std::uint64_t position() = 0;
    // Absolute position from the beginning.
    virtual void seek(std::uint64_t position) = 0;
    // The errno of the first failed read, or 0; it stays set.
    virtual int error() const { return 0; }
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
    bool open(const std::string& path, EriLoadStatus* status = nullptr);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    std::size_t read(void* buffer, std::size_t count) override;
    std::uint64_t length() override;
    std::uint64_t position() override;
    void seek(std::uint64_t position) override;
    int error() const override { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Reads from a borrowed buffer; the bytes must outlive the stream.
class EriMemoryStream final : public EriByteStream {
public:
    EriMemoryStream(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

    std::size_t read(void* buffer, std::size_t count) override;
    std::uint64_t length() override { return size_; }
    std::uint64_t position() override { return position_; }
    void seek(std::uint64_t position) override { position_ = position < size_ ? position : size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

} // namespace pelo
