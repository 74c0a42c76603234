#include "largetext.h"

#include <QFont>
#include <QWidget>

#include <cmath>

namespace LargeText {

void enlarge(QWidget* widget, double scale)
{
    QFont font = widget->font();
    // An application font given in pixels has no point size.
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale);
    else if (font.pixelSize() > 0)
        font.setPixelSize(static_cast<int>(std::lround(font.pixelSize() * scale)));
    widget->setFont(font);
}

} // namespace LargeText
