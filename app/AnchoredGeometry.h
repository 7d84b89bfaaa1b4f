// Child widgets placed in dialog units at the dialog's smallest size; when
// the dialog grows, each child moves or stretches by the growth as its
// anchors say.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace pelo {

enum Anchor : unsigned {
    kAnchorFixed = 0,
    kGrowWidth = 1,
    kGrowHeight = 2,
    kMoveRight = 4,
    kMoveDown = 8,
};

class AnchoredGeometry {
public:
    // Records the widget's present geometry as its place at the base size.
    void Add(QWidget* widget, unsigned anchors);
    // Places every widget for a dialog of `size`, given the base size.
    void Apply(QSize base, QSize size) const;

private:
    struct Entry {
        QWidget* widget;
        QRect base;
        unsigned anchors;
    };
    std::vector<Entry> entries_;
};

} // namespace pelo
