// Spreads the colour of non-transparent pixels into fully transparent
// neighbours, first along rows, then along columns, through spread cells
// that are finally added to the image with saturation.
//
// The picture is streamed: the spread cells of a few rows live in a ring,
// each row is spread along itself as it enters the ring, the column step of
// every column runs row by row, and a row leaves the ring (added to the
// image) once no column step can reach it any more. Spread cells are only
// ever set on transparent pixels, and the image is only read for alpha and
// for the colour of pixels that are not transparent, so adding a row early
// changes nothing that is read later.
//
// Columns never touch each other's cells, so the picture is split into
// stripes of columns, one per thread. The row spread of a stripe starts at
// a point left of it where the row's scan state is known whatever came
// before (see RowStart), and runs past its right end as far as a write into
// the stripe can come from.
#include "image/Allocation.h"
#include "image/ImageBuffer.h"
#include "image/ParallelBands.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian");

namespace pelo {

namespace {

constexpr std::uint32_t kColourMask = 0x00FFFFFFu;

inline bool IsTransparent(const std::uint8_t* pixel) {
    return pixel[3] == 0;
}

inline std::uint32_t ColourOf(const std::uint8_t* pixel) {
    std::uint32_t word;
    std::memcpy(&word, pixel, 4);
    return word & kColourMask;
}

// A bit per pixel of [x, x + 4): set when the pixel is transparent.
inline unsigned TransparentMask4(const std::uint8_t* p) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i alpha = _mm_and_si128(v, _mm_set1_epi32(static_cast<int>(0xFF000000u)));
    return static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(alpha, _mm_setzero_si128()))));
#else
    return unsigned{p[3] == 0} | unsigned{p[7] == 0} << 1 | unsigned{p[11] == 0} << 2 |
           unsigned{p[15] == 0} << 3;
#endif
}

// Where the row's scan can start for a stripe beginning at column `from`,
// and the state it starts in. The scan examines x = 0 first, after
// transparency. Two pixels at r - 2 and r - 1 that are not transparent put
// any scan at r examining it, not after transparency, with nothing written
// at r or beyond; reach + 1 transparent pixels at r - reach - 1 .. r - 1 put
// it at r, after transparency, likewise (a stretch from their left end
// stops one short of r and skips the pixel before r).
struct RowStart {
    int x = 0;
    bool afterTransparent = true;
};

RowStart FindRowStart(const std::uint8_t* row, int from, int reach) {
    for (int r = from; r > 0; --r) {
        if (r >= 2 && !IsTransparent(row + 4 * (r - 2)) && !IsTransparent(row + 4 * (r - 1)))
            return RowStart{r, false};
        if (r >= reach + 1) {
            int k = 1;
            while (k <= reach + 1 && IsTransparent(row + 4 * (r - k)))
                ++k;
            if (k > reach + 1) return RowStart{r, true};
        }
    }
    return RowStart{};
}

// The row spread of one row for the columns [x0, x1), into cells[x - x0].
// reach is at least 1 (a stretch always holds one cell).
void SpreadRow(const std::uint8_t* row, std::uint32_t* cells, int width, int reach, int x0,
               int x1) {
    const RowStart start = FindRowStart(row, x0, reach);
    bool afterTransparent = start.afterTransparent;
    // Beyond this, a pixel's step can only write cells right of the stripe.
    const int last = x1 + reach < width ? x1 + reach : width;
    auto put = [&](int x, std::uint32_t colour) {
        if (x >= x0 && x < x1) cells[x - x0] = colour;
    };
    int x = start.x;
    while (x < last) {
        // Runs of pixels that leave the state as it is, four at a time, as
        // long as they lie in the stripe's own columns.
        if (x >= x0) {
            const unsigned quiet = afterTransparent ? 0xFu : 0x0u;
            while (x + 4 <= x1 && TransparentMask4(row + 4 * x) == quiet)
                x += 4;
            if (x >= last) break;
        }
        const std::uint8_t* p = row + 4 * x;
        if (!IsTransparent(p)) {
            if (afterTransparent) {
                const std::uint32_t colour = ColourOf(p);
                for (int i = 1; i <= reach - 1 && x - i >= 0; ++i) {
                    if (!IsTransparent(row + 4 * (x - i))) break;
                    put(x - i, colour);
                }
            }
            afterTransparent = false;
            ++x;
        } else if (!afterTransparent) {
            const std::uint32_t colour = ColourOf(row + 4 * (x - 1));
            put(x, colour);
            int k = 1;
            while (k < reach && x + k < width && IsTransparent(row + 4 * (x + k))) {
                put(x + k, colour);
                ++k;
            }
            x += k + 1; // the pixel after the stretch is not examined
            afterTransparent = true;
        } else {
            ++x;
        }
    }
}

// Byte-wise a + b, each byte limited to 255.
inline std::uint32_t AddSaturated(std::uint32_t a, std::uint32_t b) {
    constexpr std::uint32_t kHigh = 0x80808080u;
    const std::uint32_t low = (a & ~kHigh) + (b & ~kHigh); // no carry between bytes
    const std::uint32_t sum = low ^ ((a ^ b) & kHigh);
    const std::uint32_t carry = ((a & b) | ((a | b) & ~sum)) & kHigh; // byte overflowed
    return sum | ((carry >> 7) * 0xFFu);
}

// How far each stripe has spread its rows along themselves: the other
// stripes only read a row of the picture while doing that.
using StripeProgress = std::vector<std::atomic<int>>;

// One stripe of columns [x0, x1) of the whole picture.
class StripeSpread {
public:
    StripeSpread(ImageBuffer& image, int reach, int x0, int x1, StripeProgress& progress,
                 std::size_t index)
        : pixels_(image.imageData), width_(image.width), height_(image.height), reach_(reach),
          x0_(x0), n_(x1 - x0), progress_(progress), index_(index) {
        // Rows y - reach - 1 .. y + reach - 1 are in the ring at row y.
        const std::int64_t rows = 2 * std::int64_t{reach} + 2;
        ringRows_ = static_cast<int>(std::min<std::int64_t>(rows, height_));
        ringMask_ = std::has_single_bit(static_cast<unsigned>(ringRows_)) ? ringRows_ - 1 : -1;
        const std::size_t n = static_cast<std::size_t>(n_);
        ring_.reset(new std::uint32_t[n * static_cast<std::size_t>(ringRows_)]);
        nextRow_.reset(new int[n]);
        afterTransparent_.reset(new std::uint32_t[n]);
    }

    void Run() {
        for (int i = 0; i < n_; ++i) {
            nextRow_[i] = 0;
            afterTransparent_[i] = ~0u;
        }
        int loaded = -1, added = -1;
        for (int y = 0; y < height_; ++y) {
            const int need = static_cast<int>(
                std::min<std::int64_t>(std::int64_t{y} + reach_ - 1, std::int64_t{height_} - 1));
            while (added < static_cast<std::int64_t>(y) - reach_ - 1)
                AddRow(++added);
            while (loaded < need)
                LoadRow(++loaded);
            ColumnStep(y);
        }
        while (added < height_ - 1)
            AddRow(++added);
    }

private:
    std::uint8_t* Pixel(int x, int y) const {
        return pixels_ + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                              static_cast<std::size_t>(x));
    }
    std::uint32_t* Cells(int y) const {
        const int slot = ringMask_ >= 0 ? (y & ringMask_) : y % ringRows_;
        return ring_.get() + static_cast<std::size_t>(slot) * static_cast<std::size_t>(n_);
    }

    void LoadRow(int y) {
        std::uint32_t* cells = Cells(y);
        std::memset(cells, 0, sizeof(std::uint32_t) * static_cast<std::size_t>(n_));
        SpreadRow(Pixel(0, y), cells, width_, reach_, x0_, x0_ + n_);
        progress_[index_].store(y, std::memory_order_release);
    }

    // Whether no other stripe will read row y any more.
    bool OthersPast(int y) const {
        for (std::size_t s = 0; s < progress_.size(); ++s)
            if (s != index_ && progress_[s].load(std::memory_order_acquire) < y) return false;
        return true;
    }

    // While other stripes may still read the row (alpha, and the colours of
    // pixels that are not transparent), only colour bytes of transparent
    // pixels are written.
    void AddRow(int y) {
        const std::uint32_t* cells = Cells(y);
        std::uint8_t* row = Pixel(x0_, y);
        int i = 0;
#if defined(__SSE2__)
        // Once the other stripes are done reading the row, whole pixels may
        // be rewritten: spread cells hold no alpha, so adding them leaves
        // alpha and unspread pixels as they were.
        if (OthersPast(y)) {
            for (; i + 4 <= n_; i += 4) {
                __m128i* p = reinterpret_cast<__m128i*>(row + 4 * i);
                const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i));
                _mm_storeu_si128(p, _mm_adds_epu8(_mm_loadu_si128(p), c));
            }
        }
#endif
        while (i < n_) {
            if (i + 4 <= n_ && NoneSpread4(cells + i)) {
                i += 4;
                continue;
            }
            const int end = i + 4 < n_ ? i + 4 : n_;
            for (; i < end; ++i) {
                const std::uint32_t s = cells[i];
                if (s == 0) continue;
                std::uint8_t* p = row + 4 * i;
                std::uint32_t pixel;
                std::memcpy(&pixel, p, 4);
                const std::uint32_t sum = AddSaturated(pixel, s);
                std::memcpy(p, &sum, 3); // the colour bytes only
            }
        }
    }

    static bool NoneSpread4(const std::uint32_t* cells) {
#if defined(__SSE2__)
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells));
        return _mm_movemask_epi8(_mm_cmpeq_epi32(c, _mm_setzero_si128())) == 0xFFFF;
#else
        return (cells[0] | cells[1] | cells[2] | cells[3]) == 0;
#endif
    }

    // Whether the step of the four columns from i changes nothing: each is
    // inside a stretch written from above, or not transparent where the scan
    // is not after transparency, or transparent (no spread either) where it
    // is.
    bool QuietFour(int i, int y, const std::uint8_t* row, const std::uint32_t* cells) const {
#if defined(__SSE2__)
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * i));
        const __m128i zero = _mm_setzero_si128();
        const __m128i clear =
            _mm_cmpeq_epi32(_mm_and_si128(v, _mm_set1_epi32(static_cast<int>(0xFF000000u))), zero);
        const __m128i unspread =
            _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + i)), zero);
        const __m128i empty = _mm_and_si128(clear, unspread);
        const __m128i after =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(afterTransparent_.get() + i));
        const __m128i late =
            _mm_cmpgt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(nextRow_.get() + i)),
                            _mm_set1_epi32(y));
        const __m128i quiet = _mm_or_si128(late, _mm_cmpeq_epi32(empty, after));
        return _mm_movemask_ps(_mm_castsi128_ps(quiet)) == 0xF;
#else
        for (int k = i; k < i + 4; ++k) {
            const bool empty = IsTransparent(row + 4 * k) && cells[k] == 0;
            if (nextRow_[k] <= y && empty != (afterTransparent_[k] != 0)) return false;
        }
        return true;
#endif
    }

    // The column step of row y for every column of the stripe. A column is
    // examined when its next row is due (rows inside a stretch written from
    // above are skipped).
    void ColumnStep(int y) {
        const std::uint8_t* row = Pixel(x0_, y);
        std::uint32_t* cells = Cells(y);
        int i = 0;
        while (i < n_) {
            if (i + 4 <= n_ && QuietFour(i, y, row, cells)) {
                i += 4;
                continue;
            }
            const int end = i + 4 < n_ ? i + 4 : n_;
            for (; i < end; ++i)
                if (nextRow_[i] <= y) Column(i, y, row + 4 * i, cells);
        }
    }

    void Column(int i, int y, const std::uint8_t* pixel, std::uint32_t* cells) {
        const int x = x0_ + i;
        auto cell = [&](int r) -> std::uint32_t& { return Cells(r)[i]; };
        const bool opaque = !IsTransparent(pixel);
        if (opaque || cells[i] != 0) {
            if (afterTransparent_[i]) {
                const std::uint32_t colour = opaque ? ColourOf(pixel) : cells[i];
                for (int k = 1; k <= reach_ - 1 && y - k >= 0; ++k) {
                    if (cell(y - k) != 0 || !IsTransparent(Pixel(x, y - k))) break;
                    cell(y - k) = colour;
                }
            }
            afterTransparent_[i] = 0;
        } else if (!afterTransparent_[i] && y > 0) {
            const std::uint32_t above = cell(y - 1);
            const std::uint32_t colour = above != 0 ? above : ColourOf(Pixel(x, y - 1));
            cells[i] = colour;
            int k = 1;
            while (k < reach_ && y + k < height_ && cell(y + k) == 0 &&
                   IsTransparent(Pixel(x, y + k))) {
                cell(y + k) = colour;
                ++k;
            }
            nextRow_[i] = y + k + 1; // the pixel after the stretch is not examined
            afterTransparent_[i] = ~0u;
        } else {
            afterTransparent_[i] = ~0u;
        }
    }

    std::uint8_t* pixels_;
    int width_;
    int height_;
    int reach_;
    int x0_;
    int n_;
    StripeProgress& progress_; // rows spread along themselves, per stripe
    std::size_t index_;        // this stripe's
    int ringRows_ = 0;
    int ringMask_ = -1; // ringRows_ - 1 when a power of two
    std::unique_ptr<std::uint32_t[]> ring_;
    std::unique_ptr<int[]> nextRow_;                    // first row due, per column
    std::unique_ptr<std::uint32_t[]> afterTransparent_; // all ones or 0, per column
};

} // namespace

int ExtendEdgeColours(ImageBuffer& image, int reach, unsigned threads) {
    if (const int status = CheckRgbaBgra(image); status != kImageOk) return status;
    const int width = image.width;
    const int height = image.height;
    // Refused past the memory limit, as when the spread cells of the whole
    // picture were kept.
    if (!CheckedImageBytes(width, height, 4)) return kImageNoWorkArea;
    // A stretch holds at least one cell; beyond the picture's size a reach
    // changes nothing.
    const int r = static_cast<int>(
        std::clamp<std::int64_t>(reach, 1, std::int64_t{std::max(width, height)} + 1));

    // Stripes of at least 64 columns, one per thread: running side by side,
    // each finds the others past the rows it adds (see AddRow).
    const unsigned stripes =
        std::clamp<unsigned>(static_cast<unsigned>(width / 64), 1u, std::max(threads, 1u));
    try {
        StripeProgress progress(stripes);
        for (std::atomic<int>& p : progress)
            p.store(-1, std::memory_order_relaxed);
        std::vector<std::unique_ptr<StripeSpread>> parts;
        for (unsigned s = 0; s < stripes; ++s) {
            const int x0 = static_cast<int>(std::int64_t{width} * s / stripes);
            const int x1 = static_cast<int>(std::int64_t{width} * (s + 1) / stripes);
            parts.push_back(std::make_unique<StripeSpread>(image, r, x0, x1, progress, s));
        }
        RunTasks(threads, parts.size(), [&](std::size_t s) { parts[s]->Run(); });
    } catch (const std::bad_alloc&) {
        return kImageNoWorkArea;
    }
    return kImageOk;
}

} // namespace pelo
