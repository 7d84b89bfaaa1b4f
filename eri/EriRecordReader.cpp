#include "eri/EriRecordReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pelo {

namespace {

constexpr EriRecordId kHeaderId = MakeEriRecordId("Header  ");
constexpr EriRecordId kFileHeaderId = MakeEriRecordId("FileHdr ");
constexpr EriRecordId kPreviewId = MakeEriRecordId("PrevwInf");
constexpr EriRecordId kImageInfoId = MakeEriRecordId("ImageInf");
constexpr EriRecordId kSoundInfoId = MakeEriRecordId("SoundInf");
constexpr EriRecordId kCopyrightId = MakeEriRecordId("cpyright");
constexpr EriRecordId kDescriptionId = MakeEriRecordId("descript");
constexpr EriRecordId kStreamId = MakeEriRecordId("Stream  ");
constexpr EriRecordId kPaletteId = MakeEriRecordId("Palette ");
constexpr EriRecordId kImageFrameId = MakeEriRecordId("ImageFrm");

// Text records larger than this are cut: they are never shown, and a record
// of open length must not become an allocation of the whole file.
constexpr std::size_t kMaxTextBytes = std::size_t{1} << 20;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string DecodeEriText(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        const std::size_t units = (size - 2) / 2;
        const std::uint8_t* p = bytes + 2;
        for (std::size_t i = 0; i < units; ++i) {
            std::uint32_t c = p[2 * i] | (std::uint32_t{p[2 * i + 1]} << 8);
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
                const std::uint32_t low = p[2 * i + 2] | (std::uint32_t{p[2 * i + 3]} << 8);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                } else {
                    c = 0xFFFD;
                }
            } else if (c >= 0xD800 && c < 0xE000) {
                c = 0xFFFD; // unpaired surrogate
            }
            AppendUtf8(text, c);
        }
    } else {
        text.assign(reinterpret_cast<const char*>(bytes), size);
        // Counted and NUL-terminated: the text ends at an embedded NUL.
        const auto nul = text.find('\0');
        if (nul != std::string::npos) text.resize(nul);
    }
    return text;
}

EriRecordReader::~EriRecordReader() {
    close();
}

void EriRecordReader::close() {
    frames_.clear();
}

bool EriRecordReader::fail(EriLoadResult result, std::string detail) {
    if (const int e = error()) status_.fail(EriLoadResult::ReadError, EriSystemErrorText(e));
    return status_.fail(result, std::move(detail));
}

bool EriRecordReader::open(EriByteStream& stream, int depth) {
    close();
    flags_ = 0;
    status_.reset();
    stream_ = &stream;
    std::uint8_t preamble[kEriPreambleSize];
    const std::size_t n = stream.read(preamble, sizeof preamble);
    // A file that is too short still shows whether it starts like an ERI file.
    if (std::memcmp(preamble, kEriMagic, std::min(n, sizeof kEriMagic)) != 0)
        return fail(EriLoadResult::NotEri);
    if (n != sizeof preamble) return fail(EriLoadResult::TruncatedHeader);
    if (Le32(preamble + 8) != kEriFileKind)
        return fail(EriLoadResult::UnsupportedFormat,
                    "file kind " + EriHexWord(Le32(preamble + 8)));

    EriRecordFrame root;
    root.start = stream.position();
    root.end = std::max(root.start, stream.length());
    root.declaredLength = root.end - root.start;
    frames_.push_back(root);
    if (depth <= kPreamble) return true;

    if (!readHeaderRecords()) return false;
    if (depth == kHeaders) return true;

    if (!descend(kStreamId)) return fail(EriLoadResult::NoImageFrame);
    if (depth == kStream) return true;

    for (;;) {
        if (!descend()) return fail(EriLoadResult::NoImageFrame);
        const EriRecordId& id = frames_.back().id;
        if (id == kImageFrameId) return true;
        if (id == kPaletteId) {
            std::memset(colourTable_, 0, sizeof colourTable_);
            read(colourTable_, sizeof colourTable_);
            flags_ |= kEriHasPalette;
        }
        ascend();
    }
}

bool EriRecordReader::readHeaderRecords() {
    if (!descend(kHeaderId) || !descend(kFileHeaderId)) return fail(EriLoadResult::TruncatedHeader);
    std::uint8_t header[sizeof(EriFileHeader)];
    if (read(header, sizeof header) != sizeof header) return fail(EriLoadResult::TruncatedHeader);
    ascend();
    fileHeader_.version = Le32(header);
    for (int i = 0; i < 4; ++i)
        fileHeader_.fields[i] = Le32(header + 4 + 4 * i);
    flags_ |= kEriHasFileHeader;
    if (fileHeader_.version > kEriMaxFileVersion)
        return fail(EriLoadResult::UnsupportedFormat,
                    "file version " + EriHexWord(fileHeader_.version));

    bool cutShort = false; // an image information record ended early
    while (descend()) {
        const EriRecordId id = frames_.back().id;
        std::uint8_t info[sizeof(EriImageInfo)];
        if (id == kPreviewId) {
            const std::size_t n = read(info, sizeof info);
            std::memcpy(&previewInfo_, info, n);
            if (n == sizeof info) flags_ |= kEriHasPreviewInfo;
        } else if (id == kImageInfoId) {
            const std::size_t n = read(info, sizeof info);
            std::memcpy(&imageInfo_, info, n);
            if (n == sizeof info) flags_ |= kEriHasImageInfo;
            cutShort |= n != sizeof info;
        } else if (id == kSoundInfoId) {
            if (read(soundInfo_, sizeof soundInfo_) == sizeof soundInfo_)
                flags_ |= kEriHasSoundInfo;
        } else if (id == kCopyrightId) {
            if (readText(copyright_)) flags_ |= kEriHasCopyright;
        } else if (id == kDescriptionId) {
            if (readText(description_)) flags_ |= kEriHasDescription;
        }
        ascend();
    }
    ascend();
    if ((flags_ & (kEriHasImageInfo | kEriHasSoundInfo)) == 0)
        return fail(cutShort ? EriLoadResult::TruncatedHeader : EriLoadResult::NoImageInfo);
    return true;
}

bool EriRecordReader::readText(std::string& text) {
    const EriRecordFrame& frame = frames_.back();
    // The declared length may be open or run past the parent; what the
    // record really holds bounds the buffer.
    const std::uint64_t declared = frame.declaredLength & 0xFFFFFFFFu;
    const std::uint64_t held = frame.end - frame.start;
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>({declared, held, kMaxTextBytes}));
    std::vector<std::uint8_t> buffer(size + 2, 0);
    const std::size_t n = read(buffer.data(), size);
    text = DecodeEriText(buffer.data(), n);
    return true;
}

bool EriRecordReader::descend(const EriRecordId* id) {
    if (frames_.empty()) return false;
    for (;;) {
        std::uint8_t header[kEriRecordHeaderSize];
        if (read(header, sizeof header) != sizeof header) return false;
        const std::uint64_t parentEnd = frames_.back().end;
        EriRecordFrame frame;
        std::memcpy(frame.id.data(), header, 8);
        const std::uint32_t low = Le32(header + 8);
        const std::uint32_t high = Le32(header + 12);
        frame.declaredLength = (std::uint64_t{high} << 32) | low;
        frame.start = stream_->position();
        if (low == 0xFFFFFFFFu && high == 0xFFFFFFFFu) {
            frame.end = parentEnd;
        } else {
            frame.end = std::min<std::uint64_t>(frame.start + low, parentEnd);
        }
        if (frame.start > frame.end) frame.start = frame.end;
        frames_.push_back(frame);
        if (!id || frame.id == *id) return true;
        ascend();
    }
}

void EriRecordReader::ascend() {
    if (frames_.size() <= 1) return; // the root stays
    stream_->seek(frames_.back().end);
    frames_.pop_back();
}

std::size_t EriRecordReader::read(void* buffer, std::size_t count) {
    if (frames_.empty() || !stream_) return 0;
    const std::uint64_t pos = stream_->position();
    const std::uint64_t end = frames_.back().end;
    if (pos >= end) return 0;
    const std::uint64_t left = end - pos;
    if (count > left) count = static_cast<std::size_t>(left);
    return stream_->read(buffer, count);
}

std::uint64_t EriRecordReader::length() {
    if (frames_.empty()) return 0;
    return frames_.back().end - frames_.back().start;
}

std::uint64_t EriRecordReader::position() {
    if (frames_.empty() || !stream_) return 0;
    const std::uint64_t pos = stream_->position();
    const std::uint64_t start = frames_.back().start;
    return pos > start ? pos - start : 0;
}

void EriRecordReader::seek(std::uint64_t position) {
    if (frames_.empty() || !stream_) return;
    const EriRecordFrame& frame = frames_.back();
    const std::uint64_t left = frame.end - frame.start;
    stream_->seek(frame.start + std::min(position, left));
}

} // namespace pelo
