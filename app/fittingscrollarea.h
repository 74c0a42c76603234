#pragma once

#include <QScrollArea>

// A scroll area that asks for room to show its page whole: a window sized to its hint
// never scrolls, while on a small screen the page scrolls instead of forcing the window
// past the screen's edge. (QScrollArea caps its hint at 36 x 24 lines of text.)
class FittingScrollArea : public QScrollArea
{
    Q_OBJECT
public:
    explicit FittingScrollArea(QWidget* page, QWidget* parent = nullptr);

    QSize sizeHint() const override;
};
