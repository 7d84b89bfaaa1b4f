// The step detection and spreading shared by the colour and the alpha pass.
//
// The scan looks at every 2 x 2 block (A B / C D) of the area. A diagonal
// whose two pixels match while the block is not uniform is a stair corner:
// the straight stretches of the edge are measured up, down, left and right
// from it, and the matched pixel is faded into the cells across the edge
// over half of each stretch. All reads see the picture as it was before the
// pass; all writes are logged and stored after the scan, so only the order
// of the writes matters (blocks in scan order, falling diagonal before
// rising, directions up, down, left, right, each from the block outwards).
//
// A pass supplies its class key and its blend:
//   struct Pass {
//     std::uint32_t Key(const std::uint8_t* pixel) const;   // equal keys = match
//     void KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const;
//     // Sets pixel to the whole blended pixel and returns true, or returns
//     // false and leaves pixel alone.
//     bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint32_t& pixel, int w);
//   };
// Blend is only called for cells whose key differs from the source's. The
// blended pixels are logged with their cells in the order of the writes;
// storing them in that order once the scan is over gives the picture as if
// every write had gone to a copy of it.
//
// A picture may be scanned in bands of block rows, one thread per band: the
// scan of a band reads rows of other bands but writes only its own log. Each
// band's log keeps the cells of the band's own rows apart from the others;
// the cells of band k then take, in order, the other-row writes of bands
// before k, band k's own writes, the other-row writes of bands after k: the
// order a scan of the whole picture would have written them in.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/Allocation.h"
#include "image/ImageBuffer.h"
#include "image/ImageView.h"
#include "image/ParallelBands.h"
#include "image/WriteLog.h"

namespace pelo {

inline constexpr int kBaseWeight = 128;

struct StepArea {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// A blended pixel for a cell of the band's own rows, as an offset from the
// band's first pixel, and for a cell of any other row.
struct NearWrite {
    std::uint32_t offset;
    std::uint32_t pixel;
};
struct FarWrite {
    std::size_t index;
    std::uint32_t pixel;
};

// The writes of one band's scan, each list in the order of the writes.
struct BandWrites {
    RowBand rows; // the band's own rows
    WriteLog<NearWrite> near;
    std::vector<FarWrite> far;
};

template <class Pass> class StepSmoother {
public:
    // The class keys of the last kKeyRows rows read, kKeyRows * width entries.
    static constexpr int kKeyRows = 8;

    StepSmoother(Pass& pass, const std::uint8_t* source, int width, const StepArea& area,
                 std::uint32_t* keyRows, BandWrites& writes)
        : pass_(pass), src_(source), stride_(static_cast<std::size_t>(width)), area_(area),
          keyRows_(keyRows), writes_(writes),
          nearFirst_(static_cast<std::size_t>(writes.rows.y0) * stride_) {}

    // The blocks whose top row is in [yBegin, yEnd), a part of [y0, y1).
    // Keys are taken a few rows ahead of the blocks, so that the rows the
    // downward runs and blends read are already in the cache.
    void Run(int yBegin, int yEnd) {
        const int x0 = area_.x0, x1 = area_.x1;
        if (yEnd <= yBegin || x1 <= x0) return;
        keysFrom_ = yBegin;
        keysTo_ = yBegin - 1;
        for (int y = yBegin; y < yEnd; ++y) {
            const int ahead = y + kAhead < area_.y1 ? y + kAhead : area_.y1;
            while (keysTo_ < ahead) {
                ++keysTo_;
                pass_.KeyRow(Pixel(x0, keysTo_), KeysOf(keysTo_) + x0, x1 - x0 + 1);
            }
            if (keysTo_ - keysFrom_ >= kKeyRows) keysFrom_ = keysTo_ - kKeyRows + 1;
            y_ = y;
            top_ = KeysOf(y);
            bottom_ = KeysOf(y + 1);
            for (int x = NextStep(top_, bottom_, x0, x1); x < x1;
                 x = NextStep(top_, bottom_, x + 1, x1))
                Block(x);
        }
    }

private:
    // First x in [x, x1) whose block has a matching diagonal without being
    // uniform, or x1; no other block is treated. Most blocks of a picture are
    // passed over four at a time. A block whose two diagonals match and
    // whose top row matches is uniform.
    static int NextStep(const std::uint32_t* top, const std::uint32_t* bottom, int x, int x1) {
#if defined(__SSE2__)
        for (; x + 4 <= x1; x += 4) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x + 1));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x + 1));
            const __m128i ad = _mm_cmpeq_epi32(a, d);
            const __m128i bc = _mm_cmpeq_epi32(b, c);
            const __m128i uniform = _mm_and_si128(_mm_and_si128(ad, bc), _mm_cmpeq_epi32(a, b));
            const __m128i step = _mm_andnot_si128(uniform, _mm_or_si128(ad, bc));
            const int mask = _mm_movemask_ps(_mm_castsi128_ps(step));
            if (mask != 0) return x + std::countr_zero(static_cast<unsigned>(mask));
        }
#endif
        for (; x < x1; ++x) {
            const std::uint32_t a = top[x], b = top[x + 1], c = bottom[x], d = bottom[x + 1];
            if ((a == d || b == c) && !(a == d && b == c && a == b)) return x;
        }
        return x1;
    }

    // A block that is not uniform with a matching diagonal: treat whichever
    // diagonals match.
    void Block(int x) {
        const std::uint32_t a = top_[x], b = top_[x + 1], c = bottom_[x], d = bottom_[x + 1];
        if (a == d) {
            Falling(x);
            if (b == c) Rising(x); // checkerboard: both diagonals
        } else if (b == c) {
            Rising(x);
        }
    }

    static constexpr int kAhead = 4; // rows below the block's top row with keys ready
    static_assert(kAhead + 2 < kKeyRows);

    std::uint32_t* KeysOf(int y) const {
        return keyRows_ + static_cast<std::size_t>(y & (kKeyRows - 1)) * stride_;
    }
    // The key of any cell: from the key rows when they hold its row.
    std::uint32_t KeyAt(int x, int y) const {
        if (y >= keysFrom_ && y <= keysTo_) return KeysOf(y)[x];
        return pass_.Key(Pixel(x, y));
    }

    const std::uint8_t* Pixel(int x, int y) const {
        return src_ + 4 * (static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x));
    }
    void BlendInto(const std::uint8_t* m, int x, int y, int w) {
        const std::size_t i = static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x);
        std::uint32_t pixel;
        if (!pass_.Blend(m, src_ + 4 * i, pixel, w)) return;
        if (y >= writes_.rows.y0 && y < writes_.rows.y1)
            writes_.near.push_back(NearWrite{static_cast<std::uint32_t>(i - nearFirst_), pixel});
        else
            writes_.far.push_back(FarWrite{i, pixel});
    }
    // Keys of the block's two rows come from the row tables.
    std::uint32_t RowKey(int x, int y) const {
        return y == y_ ? top_[x] : bottom_[x];
    }

    // Falling diagonal A-D: U = left = A, L = right = D.
    void Falling(int x) {
        const int y = y_;
        Up(x, x + 1, y);
        Down(x + 1, x, y);
        Left(x, y, y + 1);
        Right(x, y + 1, y);
    }
    // Rising diagonal B-C: U = right = B, L = left = C.
    void Rising(int x) {
        const int y = y_;
        Up(x + 1, x, y);
        Down(x, x + 1, y);
        Left(x, y + 1, y);
        Right(x, y, y + 1);
    }

    // The stretch cells beyond P were all counted in the run, so each of
    // them (and P itself) differs from M: every blend below is a real one.
    void Spread(const std::uint8_t* m, int n, int limit, int px, int py, int dx, int dy) {
        int h = (n + 1) / 2;
        if (h > limit) h = limit;
        const int base = h >= 4 ? kBaseWeight : kBaseWeight - 16;
        for (int k = 0; k < h; ++k) {
            const int cx = px + k * dx, cy = py + k * dy;
            BlendInto(m, cx, cy, base - (k * base) / h);
        }
    }

    // M at (mx, y), its row partner P at (px, y); cells above the block.
    [[gnu::always_inline]] void Up(int mx, int px, int y) {
        const std::uint32_t km = RowKey(mx, y);
        if (km == RowKey(px, y)) return;
        int n = 0;
        for (int r = y - 1; r >= area_.y0; --r) {
            if (KeyAt(mx, r) != km || KeyAt(px, r) == km) break;
            ++n;
        }
        const std::uint8_t* m = Pixel(mx, y);
        if (n == 0) {
            BlendInto(m, px, y, kBaseWeight / 2);
            return;
        }
        Spread(m, n, y - area_.y0 + 1, px, y, 0, -1);
    }

    // M at (mx, y + 1), its row partner P at (px, y + 1); cells below.
    [[gnu::always_inline]] void Down(int mx, int px, int y) {
        const std::uint32_t km = RowKey(mx, y + 1);
        if (km == RowKey(px, y + 1)) return;
        int n = 0;
        for (int r = y + 2; r <= area_.y1; ++r) {
            if (KeyAt(mx, r) != km || KeyAt(px, r) == km) break;
            ++n;
        }
        const std::uint8_t* m = Pixel(mx, y + 1);
        if (n == 0) {
            BlendInto(m, px, y + 1, kBaseWeight / 2);
            return;
        }
        Spread(m, n, area_.y1 - y, px, y + 1, 0, 1);
    }

    // M at (x, my), its column partner P at (x, py); cells to the left.
    void Left(int x, int my, int py) {
        const std::uint32_t* mk = my == y_ ? top_ : bottom_;
        const std::uint32_t* pk = py == y_ ? top_ : bottom_;
        const std::uint32_t km = mk[x];
        if (km == pk[x]) return;
        int n = 0;
        for (int c = x - 1; c >= area_.x0 && mk[c] == km && pk[c] != km; --c)
            ++n;
        if (n == 0) return;
        Spread(Pixel(x, my), n, x - area_.x0 + 1, x, py, -1, 0);
    }

    // M at (x + 1, my), its column partner P at (x + 1, py); cells to the right.
    void Right(int x, int my, int py) {
        const std::uint32_t* mk = my == y_ ? top_ : bottom_;
        const std::uint32_t* pk = py == y_ ? top_ : bottom_;
        const std::uint32_t km = mk[x + 1];
        if (km == pk[x + 1]) return;
        int n = 0;
        for (int c = x + 2; c <= area_.x1 && mk[c] == km && pk[c] != km; ++c)
            ++n;
        if (n == 0) return;
        Spread(Pixel(x + 1, my), n, area_.x1 - x, x + 1, py, 1, 0);
    }

    Pass& pass_;
    const std::uint8_t* src_;
    std::size_t stride_;
    StepArea area_;
    std::uint32_t* keyRows_;
    std::uint32_t* top_ = nullptr;    // keys of row y_
    std::uint32_t* bottom_ = nullptr; // keys of row y_ + 1
    int keysFrom_ = 0;                // rows with keys ready
    int keysTo_ = -1;
    BandWrites& writes_;
    std::size_t nearFirst_; // index of the band's first pixel
    int y_ = 0;
};

// The band's writes stored into the picture: the cells of its own rows in
// the order the whole scan would have written them.
inline void StoreBandWrites(std::uint8_t* pixels, std::size_t width,
                            const std::vector<BandWrites>& all, std::size_t band) {
    const BandWrites& own = all[band];
    const std::size_t first = static_cast<std::size_t>(own.rows.y0) * width;
    const std::size_t end = static_cast<std::size_t>(own.rows.y1) * width;
    auto storeFar = [&](const BandWrites& from) {
        for (const FarWrite& w : from.far)
            if (w.index >= first && w.index < end) std::memcpy(pixels + 4 * w.index, &w.pixel, 4);
    };
    for (std::size_t j = 0; j < band; ++j)
        storeFar(all[j]);
    std::uint8_t* base = pixels + 4 * first;
    own.near.ForEach(
        [base](const NearWrite& w) { std::memcpy(base + 4 * std::size_t{w.offset}, &w.pixel, 4); });
    for (std::size_t j = band + 1; j < all.size(); ++j)
        storeFar(all[j]);
}

// Scans the area in bands on up to `threads` threads, each band with its own
// Pass from makePass(), then stores every write. The same bytes whatever the
// thread count. False, with the picture untouched, when memory ran out.
template <class Pass, class MakePass>
bool ScanInBands(const ImageView& view, const StepArea& area, unsigned threads, MakePass makePass) {
    constexpr int kKeyRows = StepSmoother<Pass>::kKeyRows;
    if (!CheckedImageBytes(view.width, kKeyRows, 4)) return false;
    std::vector<RowBand> bands;
    std::vector<BandWrites> writes;
    try {
        bands = SplitIntoBands(view.width, area.y1 - area.y0 + 1, threads);
        for (RowBand& b : bands) {
            b.y0 += area.y0;
            b.y1 += area.y0;
        }
        writes.resize(bands.size());
        for (std::size_t i = 0; i < bands.size(); ++i)
            writes[i].rows = bands[i];
        RunTasks(threads, bands.size(), [&](std::size_t i) {
            const std::size_t width = static_cast<std::size_t>(view.width);
            const std::unique_ptr<std::uint32_t[]> keys(new std::uint32_t[kKeyRows * width]);
            Pass pass = makePass();
            StepSmoother<Pass> scan(pass, view.pixels, view.width, area, keys.get(), writes[i]);
            scan.Run(bands[i].y0, bands[i].y1 < area.y1 ? bands[i].y1 : area.y1);
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    RunTasks(threads, bands.size(), [&](std::size_t i) {
        StoreBandWrites(view.pixels, static_cast<std::size_t>(view.width), writes, i);
    });
    return true;
}

// The scan area of the parameters; false when it holds no 2 x 2 block.
inline bool StepAreaOf(const ImageView& view, const AntiAliasParams& p, StepArea& area) {
    area = StepArea{p.x0, p.y0, p.x1, p.y1};
    if (area.x0 < 0 || area.y0 < 0 || area.x1 >= view.width || area.y1 >= view.height) return false;
    return area.x1 > area.x0 && area.y1 > area.y0;
}

// The diagnostic of a pass that could not have its work memory.
inline void ReportNoWorkArea() {
    std::fputs("作業領域の確保に失敗しました\n", stderr);
}

// log2 f for a power of two from 1 to 128, else -1.
inline int PowerOfTwoShift(int f) {
    for (int s = 0; s < 8; ++s)
        if (f == 1 << s) return s;
    return -1;
}

// Class of every byte value for a threshold F >= 1, shifted into place.
inline void FillClassTable(std::uint32_t table[256], int f, int shift) {
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<std::uint32_t>(v / f) << shift;
}

} // namespace pelo
