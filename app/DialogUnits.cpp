#include "app/DialogUnits.h"

#include <QFontMetrics>

namespace pelo {

namespace {

// Multiply then divide, rounding half away from zero.
int MulDiv(int number, int numerator, int denominator) {
    const long long product = static_cast<long long>(number) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

} // namespace

DialogBaseUnits BaseUnitsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.x = (letters / 26 + 1) / 2;
    units.y = metrics.height();
    return units;
}

int DialogUnitsToPixelsX(const DialogBaseUnits& units, int dluX) {
    return MulDiv(dluX, units.x, 4);
}

int DialogUnitsToPixelsY(const DialogBaseUnits& units, int dluY) {
    return MulDiv(dluY, units.y, 8);
}

QRect DialogRect(const DialogBaseUnits& units, int left, int top, int width, int height) {
    // Each of the four numbers is converted on its own, as the templates are.
    return QRect(DialogUnitsToPixelsX(units, left), DialogUnitsToPixelsY(units, top),
                 DialogUnitsToPixelsX(units, width), DialogUnitsToPixelsY(units, height));
}

QSize DialogSize(const DialogBaseUnits& units, int width, int height) {
    return QSize(DialogUnitsToPixelsX(units, width), DialogUnitsToPixelsY(units, height));
}

QFont MainDialogFont() {
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont DetailDialogFont() {
    QFont font(QStringLiteral("sans-serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace pelo
