// Dialog units: the window is laid out in the units of a dialog template,
// a quarter of the font's average character width across and an eighth of
// its height down, so that it keeps its proportions with any font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

struct DialogBaseUnits {
    double width = 0;  // average character width in pixels
    int height = 0;    // character cell height in pixels
};

// The base units of a font, measured as a dialog manager does: the width of
// the 52 Latin letters averaged and rounded, and the line height.
DialogBaseUnits MeasureDialogBaseUnits(const QFont& font);

// A rectangle in dialog units converted to pixels, rounded to nearest.
QRect DialogRectToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);
QSize DialogSizeToPixels(const DialogBaseUnits& units, int width, int height);
