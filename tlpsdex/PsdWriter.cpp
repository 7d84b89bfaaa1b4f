// Writing an 8-bit RGB PSD: merged image, layers with transparency,
// Pascal and Unicode names, run-length channels. The file is written beside
// its target and renamed into place when complete.
#include "tlpsdex/PsdFormat.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace tlpsd {
namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}
void Patch32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 24);
    out[at + 1] = static_cast<std::uint8_t>(v >> 16);
    out[at + 2] = static_cast<std::uint8_t>(v >> 8);
    out[at + 3] = static_cast<std::uint8_t>(v);
}

// Run-length (pack-bits) encoding of one row.
void PackRow(const std::uint8_t* row, std::size_t n, std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1]))
            ++lit;
        out.push_back(static_cast<std::uint8_t>(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

// One channel (compression field onwards) from byte `byte` of each BGRA
// pixel; `matte` composites colours on white by the pixel's alpha.
std::vector<std::uint8_t> EncodePlane(const std::uint8_t* pixels, std::size_t w, std::size_t h,
                                      int byte, bool matte, int compression) {
    std::vector<std::uint8_t> out;
    Put16(out, w == 0 || h == 0 ? 0 : static_cast<unsigned>(compression));
    if (w == 0 || h == 0) return out;
    std::vector<std::uint8_t> row(w);
    std::vector<std::uint8_t> packed;
    const std::size_t countsAt = out.size();
    if (compression == 1) out.resize(out.size() + 2 * h);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = pixels + 4 * y * w;
        for (std::size_t x = 0; x < w; ++x) {
            int v = src[4 * x + byte];
            if (matte) {
                const int a = src[4 * x + 3];
                v = 255 - ((255 - v) * a + 127) / 255;
            }
            row[x] = static_cast<std::uint8_t>(v);
        }
        if (compression == 1) {
            packed.clear();
            PackRow(row.data(), w, packed);
            out[countsAt + 2 * y] = static_cast<std::uint8_t>(packed.size() >> 8);
            out[countsAt + 2 * y + 1] = static_cast<std::uint8_t>(packed.size());
            out.insert(out.end(), packed.begin(), packed.end());
        } else {
            out.insert(out.end(), row.begin(), row.end());
        }
    }
    return out;
}

std::vector<std::uint16_t> Utf8ToUtf16(const std::string& s) {
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (c < 0x80)
            cp = c;
        else if ((c & 0xE0) == 0xC0)
            n = 2, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            n = 3, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            n = 4, cp = c & 0x07;
        if (n > 1) {
            bool ok = i + n <= s.size();
            for (std::size_t k = 1; ok && k < n; ++k) {
                const auto d = static_cast<unsigned char>(s[i + k]);
                ok = (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
            if (!ok || cp > 0x10FFFF) cp = 0xFFFD, n = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
        i += n;
    }
    return out;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = ENOSPC; // a regular file takes nothing only when the device is full
        if (put <= 0) return false;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

int Writer::Begin(const char* path, const std::int32_t* options) {
    if (!path || !*path) return TLPSD_E_ARGUMENT;
    static const std::int32_t kDefaults[TLPSD_SAVE_OPTION_COUNT] = {0, 32769, 0, 1, 0, 2, 0};
    const std::int32_t* opt = options ? options : kDefaults;
    if (opt[3] != 0 && opt[3] != 1) return TLPSD_E_ARGUMENT;
    if (opt[5] != 0 && opt[5] != 2) return TLPSD_E_ARGUMENT;
    unicodeNames_ = (opt[1] & 0x8000) == 0 || (opt[1] & 1) != 0;
    compression_ = opt[3];
    matteMerged_ = opt[5] == 2;

    target_ = path;
    // A short unique name in the target's folder, whatever the length of the
    // target's name, created with the ordinary permissions.
    static std::atomic<unsigned> serial{0};
    const std::size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof(name), ".pelo-%ld-p%u.tmp", static_cast<long>(::getpid()),
                      serial.fetch_add(1));
        temp_ = folder + name;
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) return TLPSD_E_OPEN;
    haveImage_ = false;
    merged_.clear();
    layers_.clear();
    return TLPSD_OK;
}

int Writer::SetImage(const std::uint8_t* pixels, std::int32_t width, std::int32_t height) {
    if (!pixels || width < 1 || height < 1) return TLPSD_E_ARGUMENT;
    if (width > TLPSD_MAX_SIDE || height > TLPSD_MAX_SIDE) return TLPSD_E_TOO_LARGE;
    try {
        const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
        mergedAlpha_ = false;
        for (std::size_t i = 0; i < w * h && !mergedAlpha_; ++i)
            mergedAlpha_ = pixels[4 * i + 3] != 255;
        const bool matte = mergedAlpha_ && matteMerged_;
        std::vector<std::vector<std::uint8_t>> planes;
        for (int byte : {2, 1, 0})
            planes.push_back(EncodePlane(pixels, w, h, byte, matte, compression_));
        if (mergedAlpha_) planes.push_back(EncodePlane(pixels, w, h, 3, false, compression_));
        // One compression field, then every plane's counts, then every plane's rows.
        merged_.clear();
        Put16(merged_, static_cast<unsigned>(compression_));
        const std::size_t countBytes = compression_ == 1 ? 2 * h : 0;
        for (const auto& p : planes)
            merged_.insert(merged_.end(), p.begin() + 2, p.begin() + 2 + countBytes);
        for (const auto& p : planes)
            merged_.insert(merged_.end(), p.begin() + 2 + countBytes, p.end());
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
    width_ = width;
    height_ = height;
    haveImage_ = true;
    return TLPSD_OK;
}

int Writer::SetLayer(const std::uint8_t* pixels, const TlPsdLayerInfo& info) {
    const std::int64_t w = static_cast<std::int64_t>(info.rect.right) - info.rect.left;
    const std::int64_t h = static_cast<std::int64_t>(info.rect.bottom) - info.rect.top;
    if (w < 0 || h < 0 || (w * h > 0 && !pixels)) return TLPSD_E_ARGUMENT;
    if (w > TLPSD_MAX_SIDE || h > TLPSD_MAX_SIDE) return TLPSD_E_TOO_LARGE;
    if (layers_.size() >= TLPSD_MAX_LAYERS) return TLPSD_E_TOO_MANY;
    try {
        EncodedLayer layer;
        layer.info = info;
        layer.info.name[sizeof(layer.info.name) - 1] = '\0';
        layer.info.blendMode[4] = '\0';
        for (int byte : {3, 2, 1, 0})
            layer.channels.push_back(EncodePlane(pixels, static_cast<std::size_t>(w),
                                                 static_cast<std::size_t>(h), byte, false,
                                                 compression_));
        layers_.push_back(std::move(layer));
    } catch (const std::bad_alloc&) {
        return TLPSD_E_MEMORY;
    }
    return TLPSD_OK;
}

int Writer::Finish() {
    if (fd_ < 0) return TLPSD_E_NOT_OPEN;
    if (!haveImage_) {
        Abandon();
        return TLPSD_E_ARGUMENT;
    }
    std::vector<std::uint8_t> out;
    try {
        PutTag(out, "8BPS");
        Put16(out, 1);
        out.insert(out.end(), 6, 0);
        Put16(out, mergedAlpha_ ? 4 : 3);
        Put32(out, static_cast<std::uint32_t>(height_));
        Put32(out, static_cast<std::uint32_t>(width_));
        Put16(out, 8);
        Put16(out, 3);
        Put32(out, 0); // colour mode data
        Put32(out, 0); // image resources

        const std::size_t sectionAt = out.size();
        Put32(out, 0);
        const std::size_t infoAt = out.size();
        Put32(out, 0);
        if (!layers_.empty()) {
            const int count = static_cast<int>(layers_.size());
            // A negative count says the merged image's extra channel is transparency.
            Put16(out,
                  static_cast<unsigned>(static_cast<std::uint16_t>(mergedAlpha_ ? -count : count)));
            static const std::int16_t kIds[] = {-1, 0, 1, 2};
            for (const EncodedLayer& layer : layers_) {
                const TlPsdRect& r = layer.info.rect;
                Put32(out, static_cast<std::uint32_t>(r.top));
                Put32(out, static_cast<std::uint32_t>(r.left));
                Put32(out, static_cast<std::uint32_t>(r.bottom));
                Put32(out, static_cast<std::uint32_t>(r.right));
                Put16(out, 4);
                for (int k = 0; k < 4; ++k) {
                    Put16(out, static_cast<std::uint16_t>(kIds[k]));
                    Put32(out, static_cast<std::uint32_t>(
                                   layer.channels[static_cast<std::size_t>(k)].size()));
                }
                PutTag(out, "8BIM");
                char key[4] = {'n', 'o', 'r', 'm'};
                if (std::strlen(layer.info.blendMode) == 4)
                    std::memcpy(key, layer.info.blendMode, 4);
                if (std::memcmp(key, "NORM", 4) == 0) std::memcpy(key, "norm", 4);
                PutTag(out, key);
                out.push_back(static_cast<std::uint8_t>(layer.info.opacity < 0 ? 0
                                                        : layer.info.opacity > 255
                                                            ? 255
                                                            : layer.info.opacity));
                out.push_back(0);                                     // clipping: base
                out.push_back(layer.info.visible == 1 ? 0x08 : 0x0A); // bit 1: hidden
                out.push_back(0);
                const std::size_t extraAt = out.size();
                Put32(out, 0);
                Put32(out, 0); // no mask
                Put32(out, 0); // no blending ranges
                const std::string name = CutUtf8(layer.info.name, 255);
                out.push_back(static_cast<std::uint8_t>(name.size()));
                out.insert(out.end(), name.begin(), name.end());
                out.insert(out.end(), (4 - (name.size() + 1) % 4) % 4, 0); // name padded to 4
                if (unicodeNames_) {
                    const std::vector<std::uint16_t> units = Utf8ToUtf16(name);
                    PutTag(out, "8BIM");
                    PutTag(out, "luni");
                    std::uint32_t len = 4 + 2 * static_cast<std::uint32_t>(units.size());
                    const std::uint32_t padded = (len + 3) & ~3u;
                    Put32(out, padded);
                    Put32(out, static_cast<std::uint32_t>(units.size()));
                    for (std::uint16_t u : units)
                        Put16(out, u);
                    out.insert(out.end(), padded - len, 0);
                }
                Patch32(out, extraAt, static_cast<std::uint32_t>(out.size() - extraAt - 4));
            }
            for (const EncodedLayer& layer : layers_)
                for (const auto& ch : layer.channels)
                    out.insert(out.end(), ch.begin(), ch.end());
            while ((out.size() - infoAt - 4) % 4 != 0)
                out.push_back(0);
            Patch32(out, infoAt, static_cast<std::uint32_t>(out.size() - infoAt - 4));
        }
        Put32(out, 0); // global layer mask
        Patch32(out, sectionAt, static_cast<std::uint32_t>(out.size() - sectionAt - 4));
        if (out.size() > 0xFFFFFFF0u) {
            Abandon();
            return TLPSD_E_TOO_LARGE;
        }
        out.insert(out.end(), merged_.begin(), merged_.end());
    } catch (const std::bad_alloc&) {
        Abandon();
        return TLPSD_E_MEMORY;
    }
    // err keeps the failing call's errno for the caller.
    int err = 0;
    if (!WriteAll(fd_, out) || ::fsync(fd_) != 0) err = errno;
    if (::close(fd_) != 0 && err == 0 && errno != EINTR) err = errno;
    fd_ = -1;
    if (err == 0 && std::rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(temp_.c_str());
    std::vector<std::uint8_t>().swap(out);
    layers_.clear();
    merged_.clear();
    if (err == 0) return TLPSD_OK;
    errno = err;
    return TLPSD_E_READ;
}

void Writer::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
    }
    fd_ = -1;
    layers_.clear();
    merged_.clear();
    haveImage_ = false;
}

} // namespace tlpsd
