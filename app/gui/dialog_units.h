// Dialog units: control places are given in units of the dialog font, a quarter of its average
// character width across and an eighth of its height down.
#pragma once

#include <QFont>
#include <QRect>

namespace zuz::gui {

struct DialogUnits {
    int baseX = 8;   // average character width, pixels
    int baseY = 16;  // character cell height, pixels

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int left, int top, int width, int height) const;
};

// The dialog font of the templates: "MS Shell Dlg" at `points`, with the faces that stand in
// for it here.
QFont DialogFont(int points);
DialogUnits UnitsOf(const QFont& font);

}  // namespace zuz::gui
