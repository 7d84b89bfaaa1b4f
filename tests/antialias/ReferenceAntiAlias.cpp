#include "ReferenceAntiAlias.h"

#include <cmath>
#include <cstdlib>

namespace pelo::reference {

namespace {

struct Point {
    int x, y;
};

enum class Direction { Up, Down, Left, Right };

class Pass {
public:
    Pass(Picture& picture, int f, bool alpha) : picture_(picture), f_(f), alpha_(alpha) {
        before_ = picture.bytes;
        work_ = picture.bytes;
    }

    double gamma = 0.7, redLift = 0, purpleLift = 0;
    std::uint32_t redThreshold = 0, purpleThreshold = 0;

    void Scan() {
        const int x0 = 0, y0 = 0, x1 = picture_.width - 1, y1 = picture_.height - 1;
        for (int y = y0; y <= y1 - 1; ++y) {
            for (int x = x0; x <= x1 - 1; ++x) {
                const Point a{x, y}, b{x + 1, y}, c{x, y + 1}, d{x + 1, y + 1};
                if (Match(a, d) && Match(b, c) && Match(a, c)) continue;
                if (Match(a, d)) Treat(x, y, true);
                if (Match(b, c)) Treat(x, y, false);
            }
        }
        if (alpha_) {
            for (std::size_t i = 0; i < work_.size(); i += 4)
                picture_.bytes[i + 3] = work_[i + 3];
        } else {
            picture_.bytes = work_;
        }
    }

private:
    int Sample(Point p, int channel) const {
        return before_[4 * (static_cast<std::size_t>(p.y) * picture_.width + p.x) + channel];
    }
    std::uint8_t* Out(Point p) {
        return &work_[4 * (static_cast<std::size_t>(p.y) * picture_.width + p.x)];
    }

    bool Match(Point p, Point q) const {
        if (alpha_) return Sample(p, 3) / f_ == Sample(q, 3) / f_;
        for (int ch = 0; ch < 3; ++ch)
            if (Sample(p, ch) / f_ != Sample(q, ch) / f_) return false;
        return true;
    }

    void Treat(int x, int y, bool falling) {
        const Point a{x, y}, b{x + 1, y}, c{x, y + 1}, d{x + 1, y + 1};
        const Point u = falling ? a : b;
        const Point l = falling ? d : c;
        const Point mLeft = falling ? a : c;
        const Point mRight = falling ? d : b;
        // The other pixel of the same block row, and of the same block column.
        auto rowPartner = [&](Point p) { return Point{p.x == x ? x + 1 : x, p.y}; };
        auto columnPartner = [&](Point p) { return Point{p.x, p.y == y ? y + 1 : y}; };

        Direction order[4] = {Direction::Up, Direction::Down, Direction::Left, Direction::Right};
        for (Direction dir : order) {
            Point m{}, p{};
            switch (dir) {
            case Direction::Up:
                m = u, p = rowPartner(u);
                break;
            case Direction::Down:
                m = l, p = rowPartner(l);
                break;
            case Direction::Left:
                m = mLeft, p = columnPartner(mLeft);
                break;
            case Direction::Right:
                m = mRight, p = columnPartner(mRight);
                break;
            }
            int n = 0;
            if (!Match(m, p)) {
                for (int step = 1;; ++step) {
                    Point cm = m, cp = p;
                    bool inside = true;
                    switch (dir) {
                    case Direction::Up:
                        cm.y = y - step, cp.y = y - step, inside = cm.y >= 0;
                        break;
                    case Direction::Down:
                        cm.y = y + 1 + step, cp.y = y + 1 + step;
                        inside = cm.y <= picture_.height - 1;
                        break;
                    case Direction::Left:
                        cm.x = x - step, cp.x = x - step, inside = cm.x >= 0;
                        break;
                    case Direction::Right:
                        cm.x = x + 1 + step, cp.x = x + 1 + step;
                        inside = cm.x <= picture_.width - 1;
                        break;
                    }
                    if (!inside) break;
                    if (Match(cm, m) && !Match(cp, m))
                        ++n;
                    else
                        break;
                }
            }
            if (n == 0) {
                if (dir == Direction::Up || dir == Direction::Down) Blend(m, p, 128 / 2);
                continue;
            }
            int h = (n + 1) / 2;
            int limit = 0;
            switch (dir) {
            case Direction::Up:
                limit = y - 0 + 1;
                break;
            case Direction::Down:
                limit = (picture_.height - 1) - y;
                break;
            case Direction::Left:
                limit = x - 0 + 1;
                break;
            case Direction::Right:
                limit = (picture_.width - 1) - x;
                break;
            }
            if (h > limit) h = limit;
            const int base = h >= 4 ? 128 : 128 - 16;
            for (int k = 0; k < h; ++k) {
                Point t = p;
                switch (dir) {
                case Direction::Up:
                    t.y = p.y - k;
                    break;
                case Direction::Down:
                    t.y = p.y + k;
                    break;
                case Direction::Left:
                    t.x = p.x - k;
                    break;
                case Direction::Right:
                    t.x = p.x + k;
                    break;
                }
                Blend(m, t, base - (k * base) / h);
            }
        }
    }

    void Blend(Point s, Point t, int w) {
        if (Match(s, t)) return;
        if (alpha_)
            BlendAlpha(s, t, w);
        else
            BlendColour(s, t, w);
    }

    void BlendAlpha(Point s, Point t, int w) {
        const int as = Sample(s, 3), at = Sample(t, 3);
        if (as / f_ == at / f_) return;
        if (w >= 256) {
            Out(t)[3] = static_cast<std::uint8_t>(as);
            return;
        }
        if (w <= 0) return;
        Out(t)[3] = static_cast<std::uint8_t>((at * (256 - w) + as * w + 128) >> 8);
    }

    static void HueSat(int r, int g, int b, double y, double& hue, double& sat) {
        int mx = r, mn = r;
        if (g > mx) mx = g;
        if (b > mx) mx = b;
        if (g < mn) mn = g;
        if (b < mn) mn = b;
        if (mx == mn) {
            hue = 0;
            sat = 0;
            return;
        }
        const double t = mx - mn, s = mx + mn;
        if (y <= 127)
            sat = (s * 0.5 + t * 255) / s;
        else
            sat = (t * 255 + (510 - s) * 0.5) / (512 - s);
        const double hr = ((mx - r) * 42 + t / 2) / t;
        const double hg = ((mx - g) * 42 + t / 2) / t;
        const double hb = ((mx - b) * 42 + t / 2) / t;
        if (r == mx)
            hue = hb - hg;
        else if (g == mx)
            hue = 85 + hr - hb;
        else
            hue = 170 + hg - hr;
        if (hue < 0) hue = hue + 255;
        if (hue > 255) hue = hue - 255;
    }

    double Lift(double lum, double hue, double sat) const {
        if (sat > 250) {
            if (hue < redThreshold || 256 - hue < redThreshold)
                return lum * redLift;
            else if (std::fabs(213 - hue) < purpleThreshold)
                return lum * purpleLift;
        }
        return lum;
    }

    void BlendColour(Point s, Point t, int w) {
        const int rs = Sample(s, 2), gs = Sample(s, 1), bs = Sample(s, 0);
        const int rt = Sample(t, 2), gt = Sample(t, 1), bt = Sample(t, 0);
        if (rs / f_ == rt / f_ && gs / f_ == gt / f_ && bs / f_ == bt / f_) return;
        std::uint8_t* out = Out(t);
        if (w >= 256) {
            out[2] = static_cast<std::uint8_t>(rs);
            out[1] = static_cast<std::uint8_t>(gs);
            out[0] = static_cast<std::uint8_t>(bs);
            return;
        }
        if (w <= 0) return;
        const double ys = 0.29891 * rs + 0.58661 * gs + 0.11448 * bs;
        const double yt = 0.29891 * rt + 0.58661 * gt + 0.11448 * bt;
        const double dR = ((rt - yt) * (256 - w) + (rs - ys) * w + 128) / 256;
        const double dB = ((bt - yt) * (256 - w) + (bs - ys) * w + 128) / 256;
        double hueS, satS, hueT, satT;
        HueSat(rs, gs, bs, ys, hueS, satS);
        HueSat(rt, gt, bt, yt, hueT, satT);
        double ls = std::pow(ys, gamma);
        double lt = std::pow(yt, gamma);
        ls = Lift(ls, hueS, satS);
        lt = Lift(lt, hueT, satT);
        double weight = w;
        if (ys < 20 || yt < 20) {
            if (ys - yt > 127)
                weight = weight + (ys - yt) / 10;
            else if (yt - ys > 127)
                weight = weight - (yt - ys) / 10;
        }
        if (weight < 0) weight = 0;
        if (weight > 255) weight = 255;
        const double e = std::pow((lt * (256 - weight) + ls * weight + 128) / 256, 1 / gamma);
        long long r = static_cast<long long>(e + dR);
        if (r >= 255) r = 255;
        long long b = static_cast<long long>(e + dB);
        if (b >= 255) b = 255;
        long long g = static_cast<long long>((e - 0.114 * b - 0.299 * r) / 0.587);
        if (g >= 255) g = 255;
        if (r <= 0) r = 0;
        if (g <= 0) g = 0;
        if (b <= 0) b = 0;
        out[2] = static_cast<std::uint8_t>(r);
        out[1] = static_cast<std::uint8_t>(g);
        out[0] = static_cast<std::uint8_t>(b);
    }

    Picture& picture_;
    int f_;
    bool alpha_;
    std::vector<std::uint8_t> before_;
    std::vector<std::uint8_t> work_;
};

int ThresholdOf(const ConversionSettings& settings) {
    return static_cast<std::int16_t>(settings.detectThreshold & 0xFFFF);
}

} // namespace

void ColourPass(Picture& picture, const ConversionSettings& settings) {
    const int f = ThresholdOf(settings);
    if (f <= 0) return;
    Pass pass(picture, f, false);
    pass.gamma = settings.gamma;
    if (pass.gamma < 0 || pass.gamma == 0) pass.gamma = 0.7;
    pass.redLift = settings.redLift;
    pass.purpleLift = settings.purpleLift;
    pass.redThreshold = settings.redThreshold;
    pass.purpleThreshold = settings.purpleThreshold;
    pass.Scan();
}

void AlphaPass(Picture& picture, const ConversionSettings& settings) {
    const int f = ThresholdOf(settings);
    if (f <= 0) return;
    Pass pass(picture, f, true);
    pass.Scan();
}

void AntiAlias(Picture& picture, const ConversionSettings& settings, bool alphaPass) {
    ColourPass(picture, settings);
    if (alphaPass) AlphaPass(picture, settings);
}

} // namespace pelo::reference
