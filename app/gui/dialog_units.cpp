#include "app/gui/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

#include <cmath>

namespace zuz::gui {
namespace {

// a * b / c rounded to the nearest integer.
int MulDiv(int a, int b, int c) { return int(std::lround(double(a) * b / c)); }

}  // namespace

int DialogUnits::X(int units) const { return MulDiv(units, baseX, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, baseY, 8); }
QRect DialogUnits::Rect(int left, int top, int width, int height) const {
    return QRect(X(left), Y(top), X(width), Y(height));
}

QFont DialogFont(int points) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Shell Dlg"), QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSize(points);
    return font;
}

DialogUnits UnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 Latin letters, as dialog managers measure it.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    DialogUnits units;
    units.baseX = std::max(1, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
    units.baseY = std::max(1, metrics.height());
    return units;
}

}  // namespace zuz::gui
