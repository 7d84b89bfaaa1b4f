#include "eri/EriLossyDecoder.h"

namespace pelo {

struct EriLossyState {};

void EriLossyStateDeleter::operator()(EriLossyState* state) const {
    delete state;
}

int SetupEriLossy(const EriImageInfo&, EriLossyStatePtr& state) {
    state.reset();
    return 0;
}

// Lossy frames are not decoded yet.
int DecodeEriLossy(EriImageDecoder&, EriLossyState*, const EriImageInfo&, const EriDecodeTarget&,
                   EriBitReader&) {
    return 1;
}

} // namespace pelo
