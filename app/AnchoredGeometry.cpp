#include "app/AnchoredGeometry.h"

#include <QWidget>
#include <algorithm>

namespace pelo {

void AnchoredGeometry::Add(QWidget* widget, unsigned anchors) {
    entries_.push_back({widget, widget->geometry(), anchors});
}

void AnchoredGeometry::Apply(QSize base, QSize size) const {
    const int dx = std::max(0, size.width() - base.width());
    const int dy = std::max(0, size.height() - base.height());
    for (const Entry& e : entries_) {
        QRect r = e.base;
        if (e.anchors & kMoveRight) r.translate(dx, 0);
        if (e.anchors & kMoveDown) r.translate(0, dy);
        if (e.anchors & kGrowWidth) r.setWidth(r.width() + dx);
        if (e.anchors & kGrowHeight) r.setHeight(r.height() + dy);
        e.widget->setGeometry(r);
    }
}

} // namespace pelo
