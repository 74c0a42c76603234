#pragma once

#include <QMainWindow>

class QFrame;
class QLabel;
class QStackedWidget;
class QVBoxLayout;
class tessaro;

// The program's only main window: follows the device and shows the connect prompt or
// the view that fits the connected device.
class viewMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit viewMain(QWidget* parent = nullptr);
    ~viewMain() override;

    tessaro* device = nullptr;

signals:
    void doHotPlugEvent();

public slots:
    void connected();
    void disconnected();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void restoreGeometryFromSettings();

    QVBoxLayout* connectLayout = nullptr;
    QLabel* prompt = nullptr;
    QFrame* connectPage = nullptr;
    QStackedWidget* viewStack = nullptr;
    bool deviceViewPresent = false;
};
