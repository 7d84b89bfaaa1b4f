// Dialog templates give positions in dialog units: a quarter of the font's
// average character width horizontally, an eighth of its height vertically.
// Converting with the dialog's own font keeps the layout of the templates.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace pelo {

struct DialogBaseUnits {
    int x = 0; // average character width in pixels
    int y = 0; // character height in pixels
};

// Average width of the 52 Latin letters, rounded, and the font's height.
DialogBaseUnits BaseUnitsFor(const QFont& font);

int DialogUnitsToPixelsX(const DialogBaseUnits& units, int dluX);
int DialogUnitsToPixelsY(const DialogBaseUnits& units, int dluY);

QRect DialogRect(const DialogBaseUnits& units, int left, int top, int width, int height);
QSize DialogSize(const DialogBaseUnits& units, int width, int height);

// The fonts the two dialog templates name, as found here.
QFont MainDialogFont();   // a Japanese proportional Gothic, 9 pt
QFont DetailDialogFont(); // the shell's sans-serif, 8 pt

} // namespace pelo
