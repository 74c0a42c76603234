#pragma once

#include <QProxyStyle>

// The desktop's style, with room for a group's whole title: the style measures the title in
// whole pixels per letter while the text is drawn in fractions of a pixel, so that at 144 dpi
// a long title ("Lichtomstandigheden") lost part of its last letter.
class GroupTitleStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // Puts this style over the application's own.
    static void install();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override;
};
