#include "image/PixelBlend.h"

#include <cmath>

namespace pelo {

namespace {

// trunc toward zero, then the upper limit; the lower limit comes later
// because green is rebuilt from red and blue before it. Kept in double so
// values far outside the int range behave like the unbounded integers
// (no wrap-around).
inline double TruncUpper(double v) {
    const double t = std::trunc(v);
    return t >= 255.0 ? 255.0 : t;
}

// Lower limit; a value that is not a number (only from unusable settings
// such as a negative lift) also ends as 0.
inline std::uint8_t ToByte(double v) {
    return v > 0.0 ? static_cast<std::uint8_t>(v) : 0;
}

inline double LiftedLuminance(int red, int green, int blue, double luminance,
                              const ColourBlendSettings& p) {
    double l = std::pow(luminance, p.gamma);
    const HueSaturation hs = ToHueSaturation(red, green, blue, luminance);
    if (hs.saturation > 250.0) {
        const double redThreshold = static_cast<double>(p.redThreshold);
        if (hs.hue < redThreshold || 256.0 - hs.hue < redThreshold)
            l = l * p.redLift;
        else if (std::fabs(213.0 - hs.hue) < static_cast<double>(p.purpleThreshold))
            l = l * p.purpleLift;
    }
    return l;
}

} // namespace

double Luminance(int red, int green, int blue) {
    return 0.29891 * red + 0.58661 * green + 0.11448 * blue;
}

HueSaturation ToHueSaturation(int red, int green, int blue, double luminance) {
    const int mx = red > green ? (red > blue ? red : blue) : (green > blue ? green : blue);
    const int mn = red < green ? (red < blue ? red : blue) : (green < blue ? green : blue);
    HueSaturation hs;
    if (mx == mn) return hs;
    const double t = mx - mn;
    const double s = mx + mn;
    if (luminance <= 127.0)
        hs.saturation = (s * 0.5 + t * 255.0) / s;
    else
        hs.saturation = (t * 255.0 + (510.0 - s) * 0.5) / (512.0 - s);
    const double hr = ((mx - red) * 42.0 + t / 2.0) / t;
    const double hg = ((mx - green) * 42.0 + t / 2.0) / t;
    const double hb = ((mx - blue) * 42.0 + t / 2.0) / t;
    double hue;
    if (red == mx)
        hue = hb - hg;
    else if (green == mx)
        hue = 85.0 + hr - hb;
    else
        hue = 170.0 + hg - hr;
    if (hue < 0.0) hue += 255.0;
    if (hue > 255.0) hue -= 255.0;
    hs.hue = hue;
    return hs;
}

ColourTerms MakeColourTerms(int red, int green, int blue, const ColourBlendSettings& settings) {
    ColourTerms c;
    c.red = red;
    c.green = green;
    c.blue = blue;
    c.luminance = Luminance(red, green, blue);
    c.lifted = LiftedLuminance(red, green, blue, c.luminance, settings);
    return c;
}

void MixColour(const ColourTerms& s, const ColourTerms& t, int w, double gamma,
               std::uint8_t out[3]) {
    const double ys = s.luminance;
    const double yt = t.luminance;
    const double dR = ((t.red - yt) * (256 - w) + (s.red - ys) * w + 128) / 256;
    const double dB = ((t.blue - yt) * (256 - w) + (s.blue - ys) * w + 128) / 256;

    // The brighter pixel gains share when the other one is nearly black.
    double W = w;
    if (ys < 20.0 || yt < 20.0) {
        if (ys - yt > 127.0)
            W = W + (ys - yt) / 10.0;
        else if (yt - ys > 127.0)
            W = W - (yt - ys) / 10.0;
    }
    if (W < 0.0) W = 0.0;
    if (W > 255.0) W = 255.0;

    const double e = std::pow((t.lifted * (256.0 - W) + s.lifted * W + 128.0) / 256.0, 1.0 / gamma);
    const double r = TruncUpper(e + dR);
    const double b = TruncUpper(e + dB);
    const double g = TruncUpper((e - 0.114 * b - 0.299 * r) / 0.587);
    out[0] = ToByte(b);
    out[1] = ToByte(g);
    out[2] = ToByte(r);
}

bool BlendColour(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w,
                 const ColourBlendSettings& settings) {
    const int f = settings.detectThreshold;
    if (s[0] / f == t[0] / f && s[1] / f == t[1] / f && s[2] / f == t[2] / f) return false;
    if (w >= 256) {
        dst[0] = s[0];
        dst[1] = s[1];
        dst[2] = s[2];
        return true;
    }
    if (w <= 0) return false;
    const ColourTerms cs = MakeColourTerms(s[2], s[1], s[0], settings);
    const ColourTerms ct = MakeColourTerms(t[2], t[1], t[0], settings);
    MixColour(cs, ct, w, settings.gamma, dst);
    return true;
}

bool BlendAlpha(const std::uint8_t* s, const std::uint8_t* t, std::uint8_t* dst, int w,
                int detectThreshold) {
    const int sa = s[3];
    const int ta = t[3];
    if (sa / detectThreshold == ta / detectThreshold) return false;
    if (w >= 256) {
        dst[3] = static_cast<std::uint8_t>(sa);
        return true;
    }
    if (w <= 0) return false;
    dst[3] = static_cast<std::uint8_t>((ta * (256 - w) + sa * w + 128) >> 8);
    return true;
}

} // namespace pelo
