// The step detection and spreading shared by the colour and the alpha pass.
//
// The scan looks at every 2 x 2 block (A B / C D) of the area. A diagonal
// whose two pixels match while the block is not uniform is a stair corner:
// the straight stretches of the edge are measured up, down, left and right
// from it, and the matched pixel is faded into the cells across the edge
// over half of each stretch. All reads see the picture as it was before the
// pass; all writes go to the work area, so only the order of the writes
// matters (blocks in scan order, falling diagonal before rising, directions
// up, down, left, right, each from the block outwards).
//
// A pass supplies its class key and its blend:
//   struct Pass {
//     std::uint32_t Key(const std::uint8_t* pixel) const;   // equal keys = match
//     void KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const;
//     // Writes the whole blended pixel into dst and returns true, or
//     // returns false and leaves dst alone.
//     bool Blend(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w);
//   };
// Blend is only called for cells whose key differs from the source's. The
// work area is not filled beforehand: only the cells a blend wrote hold
// anything, and their indices are listed (with repeats) in the order of the
// writes, so copying them back gives the picture as if the whole work area
// had started as a copy of it.
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
#include "image/WorkMemory.h"

namespace pelo {

inline constexpr int kBaseWeight = 128;

struct StepArea {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

template <class Pass> class StepSmoother {
public:
    // keysA and keysB hold width entries each (the class keys of two rows).
    StepSmoother(Pass& pass, const std::uint8_t* source, std::uint8_t* destination, int width,
                 const StepArea& area, std::uint32_t* keysA, std::uint32_t* keysB,
                 std::vector<std::size_t>& written)
        : pass_(pass), src_(source), dst_(destination), stride_(static_cast<std::size_t>(width)),
          area_(area), top_(keysA), bottom_(keysB), written_(written) {}

    void Run() {
        const int x0 = area_.x0, x1 = area_.x1;
        if (area_.y1 <= area_.y0 || x1 <= x0) return;
        const int count = x1 - x0 + 1;
        pass_.KeyRow(Pixel(x0, area_.y0), top_ + x0, count);
        for (int y = area_.y0; y < area_.y1; ++y) {
            pass_.KeyRow(Pixel(x0, y + 1), bottom_ + x0, count);
            y_ = y;
            for (int x = NextStep(top_, bottom_, x0, x1); x < x1;
                 x = NextStep(top_, bottom_, x + 1, x1))
                Block(x);
            std::swap(top_, bottom_);
        }
    }

private:
    // First x in [x, x1) whose block is not uniform, or x1. Most blocks of a
    // picture are uniform; they are passed four at a time.
    static int NextStep(const std::uint32_t* top, const std::uint32_t* bottom, int x, int x1) {
#if defined(__SSE2__)
        for (; x + 4 <= x1; x += 4) {
            const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x));
            const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x + 1));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x + 1));
            const __m128i same =
                _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi32(t0, t1), _mm_cmpeq_epi32(b0, b1)),
                              _mm_cmpeq_epi32(t0, b0));
            const int mask = _mm_movemask_ps(_mm_castsi128_ps(same));
            if (mask != 0xF) return x + std::countr_one(static_cast<unsigned>(mask));
        }
#endif
        for (; x < x1; ++x)
            if (top[x] != top[x + 1] || bottom[x] != bottom[x + 1] || top[x] != bottom[x]) return x;
        return x1;
    }

    // A block that is not uniform: treat whichever diagonals match.
    [[gnu::noinline]] void Block(int x) {
        const std::uint32_t a = top_[x], b = top_[x + 1], c = bottom_[x], d = bottom_[x + 1];
        if (a == d) {
            Falling(x);
            if (b == c) Rising(x); // checkerboard: both diagonals
        } else if (b == c) {
            Rising(x);
        }
    }

    const std::uint8_t* Pixel(int x, int y) const {
        return src_ + 4 * (static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x));
    }
    void BlendInto(const std::uint8_t* m, int x, int y, int w) {
        const std::size_t i = static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x);
        if (pass_.Blend(m, src_ + 4 * i, dst_ + 4 * i, w)) written_.push_back(i);
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
            if (pass_.Key(Pixel(mx, r)) != km || pass_.Key(Pixel(px, r)) == km) break;
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
            if (pass_.Key(Pixel(mx, r)) != km || pass_.Key(Pixel(px, r)) == km) break;
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
    std::uint8_t* dst_;
    std::size_t stride_;
    StepArea area_;
    std::uint32_t* top_;    // keys of row y_
    std::uint32_t* bottom_; // keys of row y_ + 1
    std::vector<std::size_t>& written_;
    int y_ = 0;
};

// What both passes share around the scan: the work area holding the result
// until it is copied back, the two row-key tables and the list of written
// cells.
class StepWorkArea {
public:
    // A work area of the view's size, contents undefined. False (with the
    // diagnostic on stderr) when it cannot be allocated.
    bool Allocate(const ImageView& view) {
        const auto bytes = CheckedImageBytes(view.width, view.height, 4);
        if (bytes) buffer_ = AllocateWorkMemory(*bytes);
        if (!buffer_) return Fail();
        bytes_ = *bytes;
        width_ = view.width;
        height_ = view.height;
        return true;
    }

    // Row-key tables for the scan; only needed when the area has a block.
    bool AllocateKeys() {
        if (!CheckedImageBytes(width_, 2, 4)) return Fail();
        const std::size_t n = static_cast<std::size_t>(width_);
        keys_.reset(new (std::nothrow) std::uint32_t[2 * n]);
        if (!keys_) return Fail();
        try {
            written.reserve(std::size_t{1} << 16);
        } catch (const std::bad_alloc&) {
            return Fail();
        }
        return true;
    }

    // The scan with the list of written cells growing as it goes; false
    // (diagnostic written, picture untouched) when the list cannot grow.
    template <class Pass> bool Scan(Pass& pass, const ImageView& view, const StepArea& area) {
        try {
            StepSmoother<Pass> scan(pass, view.pixels, buffer_.get(), view.width, area, keysA(),
                                    keysB(), written);
            scan.Run();
        } catch (const std::bad_alloc&) {
            return Fail();
        }
        return true;
    }

    // -1 and a diagnostic when nothing was allocated.
    int Free() {
        if (!buffer_) {
            std::fputs("確保されていないVGRAM領域を解放しようとした\n", stderr);
            return -1;
        }
        buffer_.reset();
        keys_.reset();
        written = std::vector<std::size_t>();
        return 0;
    }

    // The written cells back into the picture. Unwritten cells would have
    // held the picture's own pixels, so they need no copy.
    void CopyBack(std::uint8_t* picture) const {
        const std::uint8_t* from = buffer_.get();
        for (const std::size_t i : written)
            std::memcpy(picture + 4 * i, from + 4 * i, 4);
    }

    std::uint8_t* pixels() const { return buffer_.get(); }
    std::size_t bytes() const { return bytes_; }
    std::uint32_t* keysA() const { return keys_.get(); }
    std::uint32_t* keysB() const { return keys_.get() + static_cast<std::size_t>(width_); }

    // The scan area of the parameters; false when it holds no 2 x 2 block.
    static bool AreaOf(const ImageView& view, const AntiAliasParams& p, StepArea& area) {
        area = StepArea{p.x0, p.y0, p.x1, p.y1};
        if (area.x0 < 0 || area.y0 < 0 || area.x1 >= view.width || area.y1 >= view.height)
            return false;
        return area.x1 > area.x0 && area.y1 > area.y0;
    }

private:
    bool Fail() {
        buffer_.reset();
        keys_.reset();
        written = std::vector<std::size_t>();
        std::fputs("作業領域の確保に失敗しました\n", stderr);
        return false;
    }

public:
    std::vector<std::size_t> written; // cells in the order of their writes

private:
    WorkMemory buffer_;
    std::unique_ptr<std::uint32_t[]> keys_;
    std::size_t bytes_ = 0;
    int width_ = 0;
    int height_ = 0;
};

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
