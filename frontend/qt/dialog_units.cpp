#include "dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <cmath>

namespace {

// value * scale / divisor, rounded to nearest, halves away from zero.
int ScaleRounded(int value, double scale, int divisor) {
    return static_cast<int>(std::lround(value * scale / divisor));
}

}  // namespace

DialogBaseUnits MeasureDialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.width = (letters / 26 + 1) / 2;
    units.height = metrics.height();
    return units;
}

QRect DialogRectToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
    const int left = ScaleRounded(x, units.width, 4);
    const int top = ScaleRounded(y, units.height, 8);
    const int right = ScaleRounded(x + width, units.width, 4);
    const int bottom = ScaleRounded(y + height, units.height, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogSizeToPixels(const DialogBaseUnits& units, int width, int height) {
    return QSize(ScaleRounded(width, units.width, 4), ScaleRounded(height, units.height, 8));
}
