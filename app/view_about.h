#pragma once

#include <QWidget>

class QLabel;

// Small window naming the program, its version and whether a newer version exists.
class view_about : public QWidget
{
    Q_OBJECT
public:
    explicit view_about(QWidget* parent = nullptr);

    // Filled by the main window after construction.
    QLabel* statusLabel = nullptr;
};
