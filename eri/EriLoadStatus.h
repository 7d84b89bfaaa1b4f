// Why an ERI file could not be loaded: a result code, the detail its text
// names, and the short English text shown for it.
#pragma once

#include <cstdint>
#include <string>

namespace pelo {

enum class EriLoadResult {
    Ok,
    CannotOpen,        // detail: the system's error text
    NotRegularFile,    // a folder, FIFO, device or socket
    ReadError,         // detail: the system's error text
    NotEri,            // no ERI signature
    TruncatedHeader,   // the preamble or the header records end early
    NoImageInfo,       // the header has no whole image information
    NoImageFrame,      // no image frame after the header
    UnsupportedFormat, // detail: the failing header field and its value
    InvalidSize,       // detail: the declared width x height
    TooLarge,          // detail: the whole text
    OutOfMemory,
    DamagedData,
};

// The first failure recorded is kept; later ones are dropped.
class EriLoadStatus {
public:
    // Records a failure unless one is held already. Always false, so that a
    // failing step can return it.
    bool Fail(EriLoadResult result, std::string detail = {});
    void Reset() { *this = EriLoadStatus(); }

    bool Ok() const { return result_ == EriLoadResult::Ok; }
    EriLoadResult Result() const { return result_; }
    const std::string& Detail() const { return detail_; }

private:
    EriLoadResult result_ = EriLoadResult::Ok;
    std::string detail_;
};

std::string EriLoadStatusText(const EriLoadStatus& status);

// Detail texts: a header word as 0x and eight hex digits; the system's text
// for an errno value.
std::string EriHexWord(std::uint32_t value);
std::string EriSystemErrorText(int error);

} // namespace pelo
