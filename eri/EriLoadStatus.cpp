#include "eri/EriLoadStatus.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace pelo {

bool EriLoadStatus::Fail(EriLoadResult result, std::string detail) {
    if (result_ == EriLoadResult::Ok && result != EriLoadResult::Ok) {
        result_ = result;
        detail_ = std::move(detail);
    }
    return false;
}

std::string EriHexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string EriSystemErrorText(int error) {
    return std::strerror(error);
}

std::string EriLoadStatusText(const EriLoadStatus& status) {
    const std::string& detail = status.Detail();
    switch (status.Result()) {
    case EriLoadResult::Ok:
        return "ok";
    case EriLoadResult::CannotOpen:
        return "cannot open: " + detail;
    case EriLoadResult::NotRegularFile:
        return "not a regular file";
    case EriLoadResult::ReadError:
        return "read error: " + detail;
    case EriLoadResult::NotEri:
        return "not an ERI file";
    case EriLoadResult::TruncatedHeader:
        return "truncated ERI header";
    case EriLoadResult::NoImageInfo:
        return "ERI header: no image information";
    case EriLoadResult::NoImageFrame:
        return "no ERI image frame";
    case EriLoadResult::UnsupportedFormat:
        return "ERI header: unsupported format (" + detail + ")";
    case EriLoadResult::InvalidSize:
        return "ERI header: invalid size " + detail;
    case EriLoadResult::TooLarge:
        return detail;
    case EriLoadResult::OutOfMemory:
        return "out of memory";
    case EriLoadResult::DamagedData:
        return "damaged ERI image data";
    }
    return "cannot decode the ERI file";
}

} // namespace pelo
