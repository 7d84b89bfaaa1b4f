// The program's embedded pictures (the icon), registered once; the dialogs
// live in a static library, where the registration would otherwise be lost.
#pragma once

namespace pelo {

void LoadResources();

} // namespace pelo
