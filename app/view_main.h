#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QStackedWidget;
class QVBoxLayout;
class tessaro;
class view_tessaro;

// The program's only main window: follows the device and shows the connect prompt or
// the view that fits the connected device; menus for language, update, web pages, About.
class viewMain : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int RestartExitCode = 12;

    explicit viewMain(QWidget* parent = nullptr);
    ~viewMain() override;

    // Starts the program's own executable again, detached and without arguments.
    // Tests put a recorder here instead of starting a process.
    static std::function<bool(const QString& program)> restartProgram;

    tessaro* device = nullptr;

signals:
    void doHotPlugEvent();

public slots:
    void connected();
    void disconnected();
    void changeLang(QAction* action);
    void openHelp();
    void openWebsite();
    void openAbout();
    void openSupport();
    void openRegistration();
    void updateFirmware();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildLanguageEntries(QMenu* languageMenu);
    void restoreGeometryFromSettings();
    void showDeviceView(QWidget* view);
    void openServicePage(const char* pathAndQuery);
    QString serviceQuery() const;
    QString aboutStatus() const;

    QVBoxLayout* connectLayout = nullptr;
    QLabel* prompt = nullptr;
    QPointer<view_tessaro> sensorView;
    QPointer<QWidget> flashingView;
    QPointer<QWidget> legacyView;
    QFrame* connectPage = nullptr;
    QStackedWidget* viewStack = nullptr;
    QActionGroup* languageGroup = nullptr;
    QAction* updateAction = nullptr;
    bool deviceViewPresent = false;
};
