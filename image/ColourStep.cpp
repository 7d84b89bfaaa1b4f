#include "image/ColourStep.h"

namespace pelo {

namespace {

inline std::size_t Slot(std::uint64_t tag, int bits) {
    return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

} // namespace

ColourStep::ColourStep(const ColourBlendSettings& settings)
    : settings_(settings), mixes_(new MixEntry[std::size_t{1} << kMixBits]),
      terms_(new TermsEntry[std::size_t{1} << kTermsBits]) {
    const int f = settings.detectThreshold;
    shift_ = PowerOfTwoShift(f);
    mask_ = shift_ >= 0 ? 0x010101u * (0xFFu >> shift_) : 0;
    FillClassTable(classes_[0], f, 0);
    FillClassTable(classes_[1], f, 8);
    FillClassTable(classes_[2], f, 16);
}

void ColourStep::KeyRow(const std::uint8_t* row, std::uint32_t* keys, int n) const {
    if (shift_ >= 0) {
        const int shift = shift_;
        const std::uint32_t mask = mask_;
        for (int i = 0; i < n; ++i) {
            std::uint32_t word;
            std::memcpy(&word, row + 4 * i, 4);
            keys[i] = (word >> shift) & mask;
        }
        return;
    }
    const std::uint32_t* c0 = classes_[0];
    const std::uint32_t* c1 = classes_[1];
    const std::uint32_t* c2 = classes_[2];
    for (int i = 0; i < n; ++i, row += 4)
        keys[i] = c0[row[0]] | c1[row[1]] | c2[row[2]];
}

const ColourTerms& ColourStep::Terms(std::uint32_t colour) {
    const std::uint32_t tag = colour | 1u << 24;
    TermsEntry& e = terms_[Slot(tag, kTermsBits)];
    if (e.tag != tag) {
        e.tag = tag;
        e.terms =
            MakeColourTerms(static_cast<int>(colour >> 16), static_cast<int>((colour >> 8) & 255),
                            static_cast<int>(colour & 255), settings_);
    }
    return e.terms;
}

bool ColourStep::BlendOutsideWeights(const std::uint8_t* s, const std::uint8_t* t,
                                     std::uint32_t& pixel, int w) {
    std::uint8_t out[4] = {t[0], t[1], t[2], t[3]};
    if (!BlendColour(s, t, out, w, settings_)) return false;
    std::memcpy(&pixel, out, 4);
    return true;
}

std::uint32_t ColourStep::Mix(MixEntry& e, std::uint64_t tag, std::uint32_t sc, std::uint32_t tc,
                              int w) {
    // Copy the source terms: the second lookup may evict the first.
    const ColourTerms st = Terms(sc);
    const ColourTerms& tt = Terms(tc);
    std::uint8_t out[3];
    MixColour(st, tt, w, settings_.gamma, out);
    e.tag = tag;
    e.bgr = std::uint32_t{out[0]} | std::uint32_t{out[1]} << 8 | std::uint32_t{out[2]} << 16;
    return e.bgr;
}

} // namespace pelo
