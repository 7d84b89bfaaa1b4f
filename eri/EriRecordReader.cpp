#include "eri/EriRecordReader.h"

#include "base/ByteOrder.h"
#include "base/Utf.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

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

} // namespace

std::string DecodeEriText(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        const std::size_t units = (size - 2) / 2;
        std::vector<std::uint16_t> codes(units);
        for (std::size_t i = 0; i < units; ++i)
            codes[i] = LoadLe16(bytes + 2 + 2 * i);
        text = Utf16ToUtf8(codes);
    } else {
        text.assign(reinterpret_cast<const char*>(bytes), size);
        // Counted and NUL-terminated: the text ends at an embedded NUL.
        const auto nul = text.find('\0');
        if (nul != std::string::npos) text.resize(nul);
    }
    return text;
}

EriRecordReader::~EriRecordReader() {
    Close();
}

void EriRecordReader::Close() {
    frames_.clear();
}

bool EriRecordReader::Fail(EriLoadResult result, std::string detail) {
    if (const int e = Error()) status_.Fail(EriLoadResult::ReadError, EriSystemErrorText(e));
    return status_.Fail(result, std::move(detail));
}

bool EriRecordReader::Open(EriByteStream& stream, int depth) {
    Close();
    flags_ = 0;
    status_.Reset();
    stream_ = &stream;
    std::uint8_t preamble[kEriPreambleSize];
    const std::size_t n = stream.Read(preamble, sizeof preamble);
    // A file that is too short still shows whether it starts like an ERI file.
    if (std::memcmp(preamble, kEriMagic, std::min(n, sizeof kEriMagic)) != 0)
        return Fail(EriLoadResult::NotEri);
    if (n != sizeof preamble) return Fail(EriLoadResult::TruncatedHeader);
    if (LoadLe32(preamble + 8) != kEriFileKind)
        return Fail(EriLoadResult::UnsupportedFormat,
                    "file kind " + EriHexWord(LoadLe32(preamble + 8)));

    EriRecordFrame root;
    root.start = stream.Position();
    root.end = std::max(root.start, stream.Length());
    root.declaredLength = root.end - root.start;
    frames_.push_back(root);
    if (depth <= kPreamble) return true;

    if (!ReadHeaderRecords()) return false;
    if (depth == kHeaders) return true;

    if (!Descend(kStreamId)) return Fail(EriLoadResult::NoImageFrame);
    if (depth == kStream) return true;

    for (;;) {
        if (!Descend()) return Fail(EriLoadResult::NoImageFrame);
        const EriRecordId& id = frames_.back().id;
        if (id == kImageFrameId) return true;
        if (id == kPaletteId) {
            std::memset(colourTable_, 0, sizeof colourTable_);
            Read(colourTable_, sizeof colourTable_);
            flags_ |= kEriHasPalette;
        }
        Ascend();
    }
}

bool EriRecordReader::ReadHeaderRecords() {
    if (!Descend(kHeaderId) || !Descend(kFileHeaderId)) return Fail(EriLoadResult::TruncatedHeader);
    std::uint8_t header[sizeof(EriFileHeader)];
    if (Read(header, sizeof header) != sizeof header) return Fail(EriLoadResult::TruncatedHeader);
    Ascend();
    fileHeader_.version = LoadLe32(header);
    for (int i = 0; i < 4; ++i)
        fileHeader_.fields[i] = LoadLe32(header + 4 + 4 * i);
    flags_ |= kEriHasFileHeader;
    if (fileHeader_.version > kEriMaxFileVersion)
        return Fail(EriLoadResult::UnsupportedFormat,
                    "file version " + EriHexWord(fileHeader_.version));

    bool cutShort = false; // an image information record ended early
    while (Descend()) {
        const EriRecordId id = frames_.back().id;
        std::uint8_t info[sizeof(EriImageInfo)];
        if (id == kPreviewId) {
            const std::size_t n = Read(info, sizeof info);
            std::memcpy(&previewInfo_, info, n);
            if (n == sizeof info) flags_ |= kEriHasPreviewInfo;
        } else if (id == kImageInfoId) {
            const std::size_t n = Read(info, sizeof info);
            std::memcpy(&imageInfo_, info, n);
            if (n == sizeof info) flags_ |= kEriHasImageInfo;
            cutShort |= n != sizeof info;
        } else if (id == kSoundInfoId) {
            if (Read(soundInfo_, sizeof soundInfo_) == sizeof soundInfo_)
                flags_ |= kEriHasSoundInfo;
        } else if (id == kCopyrightId) {
            if (ReadText(copyright_)) flags_ |= kEriHasCopyright;
        } else if (id == kDescriptionId) {
            if (ReadText(description_)) flags_ |= kEriHasDescription;
        }
        Ascend();
    }
    Ascend();
    if ((flags_ & (kEriHasImageInfo | kEriHasSoundInfo)) == 0)
        return Fail(cutShort ? EriLoadResult::TruncatedHeader : EriLoadResult::NoImageInfo);
    return true;
}

bool EriRecordReader::ReadText(std::string& text) {
    const EriRecordFrame& frame = frames_.back();
    // The declared length may be open or run past the parent; what the
    // record really holds bounds the buffer.
    const std::uint64_t declared = frame.declaredLength & 0xFFFFFFFFu;
    const std::uint64_t held = frame.end - frame.start;
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>({declared, held, kMaxTextBytes}));
    std::vector<std::uint8_t> buffer(size + 2, 0);
    const std::size_t n = Read(buffer.data(), size);
    text = DecodeEriText(buffer.data(), n);
    return true;
}

bool EriRecordReader::Descend(const EriRecordId* id) {
    if (frames_.empty()) return false;
    for (;;) {
        std::uint8_t header[kEriRecordHeaderSize];
        if (Read(header, sizeof header) != sizeof header) return false;
        const std::uint64_t parentEnd = frames_.back().end;
        EriRecordFrame frame;
        std::memcpy(frame.id.data(), header, 8);
        const std::uint32_t low = LoadLe32(header + 8);
        const std::uint32_t high = LoadLe32(header + 12);
        frame.declaredLength = (std::uint64_t{high} << 32) | low;
        frame.start = stream_->Position();
        if (low == 0xFFFFFFFFu && high == 0xFFFFFFFFu) {
            frame.end = parentEnd;
        } else {
            frame.end = std::min<std::uint64_t>(frame.start + low, parentEnd);
        }
        if (frame.start > frame.end) frame.start = frame.end;
        frames_.push_back(frame);
        if (!id || frame.id == *id) return true;
        Ascend();
    }
}

void EriRecordReader::Ascend() {
    if (frames_.size() <= 1) return; // the root stays
    stream_->Seek(frames_.back().end);
    frames_.pop_back();
}

std::size_t EriRecordReader::Read(void* buffer, std::size_t count) {
    if (frames_.empty() || !stream_) return 0;
    const std::uint64_t pos = stream_->Position();
    const std::uint64_t end = frames_.back().end;
    if (pos >= end) return 0;
    const std::uint64_t left = end - pos;
    if (count > left) count = static_cast<std::size_t>(left);
    return stream_->Read(buffer, count);
}

std::uint64_t EriRecordReader::Length() {
    if (frames_.empty()) return 0;
    return frames_.back().end - frames_.back().start;
}

std::uint64_t EriRecordReader::Position() {
    if (frames_.empty() || !stream_) return 0;
    const std::uint64_t pos = stream_->Position();
    const std::uint64_t start = frames_.back().start;
    return pos > start ? pos - start : 0;
}

void EriRecordReader::Seek(std::uint64_t position) {
    if (frames_.empty() || !stream_) return;
    const EriRecordFrame& frame = frames_.back();
    const std::uint64_t left = frame.end - frame.start;
    stream_->Seek(frame.start + std::min(position, left));
}

} // namespace pelo
