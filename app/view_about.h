#pragma once

#include <QWidget>

class QKeyEvent;
class QLabel;

// Small window naming the program, its version and whether a newer version exists.
// Closing it (its button, Esc, the window's own close) deletes it.
class view_about : public QWidget
{
    Q_OBJECT
public:
    explicit view_about(QWidget* parent = nullptr);

    // Filled by the main window after construction.
    QLabel* statusLabel = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
