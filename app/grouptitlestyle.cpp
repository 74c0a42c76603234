#include "grouptitlestyle.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QStyleOptionGroupBox>
#include <QWidget>
#include <QtMath>

void GroupTitleStyle::install()
{
    // Installed once; the application owns and deletes it.
    if (!qobject_cast<GroupTitleStyle*>(QApplication::style()))
        QApplication::setStyle(new GroupTitleStyle);
}

QRect GroupTitleStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                                      const QWidget* widget) const
{
    QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || part != SC_GroupBoxLabel || !box || !widget || box->text.isEmpty())
        return rect;
    const int drawn = qCeil(QFontMetricsF(widget->font()).horizontalAdvance(box->text));
    if (rect.width() < drawn)
        rect.setWidth(drawn);
    return rect;
}
