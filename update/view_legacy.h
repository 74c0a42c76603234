#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QPushButton;

// The page for a device of the "update" type: no configuration, one text and one button
// that leads to the online update dialog (connected by the main window).
class view_legacy : public QWidget
{
    Q_OBJECT
public:
    explicit view_legacy(QWidget* parent = nullptr);

    QGridLayout* grid = nullptr;
    QLabel* textLabel = nullptr;
    QPushButton* updateButton = nullptr;
};
