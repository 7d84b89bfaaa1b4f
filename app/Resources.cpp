#include "app/Resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitPeloResource() {
    Q_INIT_RESOURCE(pelo);
}

namespace pelo {

void LoadResources() {
    static const bool loaded = (InitPeloResource(), true);
    (void)loaded;
}

} // namespace pelo
