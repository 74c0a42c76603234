#pragma once

#include "update/flashlog.h"

#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QStackedWidget;
class QUrl;
class QVBoxLayout;
class bootloader;
class QTimer;
class tessaro;
class tessaroDeviceState;
class view_about;
class view_dialogupdate;
class view_legacy;
class view_tessaro;
class view_update;

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
    // Opens a file or page with the desktop's program for it (QDesktopServices::openUrl);
    // tests put a recorder here.
    static std::function<bool(const QUrl& url)> openUrl;
    // Asks where to save the support report (QFileDialog::getSaveFileName); an empty path
    // when cancelled. Tests answer it instead of a modal dialog.
    static std::function<QString(QWidget* parent, const QString& caption, const QString& suggested)> askReportPath;

    // The size of a first window, with nothing stored: room for the sensor view.
    static QSize defaultSize();
    // What is kept free for the window manager's frame around the window.
    static QSize frameAllowance();
    // The window's place (frame position, client size) when it asks for size at pos on a
    // screen whose available area is available: whole within that area.
    static QRect fittedGeometry(const QRect& available, const QPoint& pos, const QSize& size);
    // Where the window opens with nothing stored, on a screen with this available area:
    // large enough for the page shown now, as far as the area allows.
    QRect defaultGeometry(const QRect& available) const;

    // The name with a mnemonic on its first letter not in taken, which gets that letter.
    static QString withMnemonic(const QString& name, QString* taken);

    tessaro* device = nullptr;

    // The one update dialog: a top-level window of its own, hidden until asked for.
    view_dialogupdate* updateDialog() const { return dialogUpdate.get(); }

    // How long the window counts down for a sensor that restarts from its bootloader
    // (default ReturnWaitMs) before it says that the sensor has not come back.
    static constexpr int ReturnWaitMs = 30000;
    void setReturnWaitMs(int ms) { returnWaitMs = ms; }

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
    void openUpdateLog();
    // Info → Save support report…: one JSON file for the technician (support/supportreport.h).
    void saveSupportReport();
    void updateFirmware();
    // File → Exit: closes the window and with it the program, whatever other window is open.
    void exitProgram();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void buildLanguageEntries(QMenu* languageMenu);
    void enableSettingsActions(bool sensorShown);
    void restoreGeometryFromSettings();
    QSize firstSize() const;
    void growToShowPage();
    void saveGeometryToSettings();
    void watchFlashing(bootloader* loader);
    bool flashing() const;
    void followFlashing();
    void followPhase(int phase);
    void awaitReturn(const char* waitingKey);
    void showReturnWait();
    void endReturnWait();
    void showFlashReportWithPage();
    void showDeviceView(QWidget* view);
    QWidget* buildFlashReport();
    void showFlashReport(const QString& phase, const QStringList& lines);
    void showDeviceState();
    // The connect page's text for what is on the bus.
    static QString promptFor(const tessaroDeviceState& state);
    void flashRunEnded(const view_update* view, bool ok, bool cancelled);
    void sensorShown(const QString& id, const QString& hardware, const QString& firmware);
    void recordRun(const FlashLog::Run& run);
    void recordPendingRun();
    void detachFromDevice(QWidget* view);
    void openServicePage(const char* pathAndQuery);
    QString serviceQuery() const;
    QString aboutStatus() const;

    QVBoxLayout* connectLayout = nullptr;
    QLabel* prompt = nullptr;
    // The last flashing run's lines, kept on the connect page once its view has gone.
    QWidget* flashReportArea = nullptr;
    QGroupBox* flashReport = nullptr;
    QLabel* flashReportPhase = nullptr;
    QListWidget* flashReportList = nullptr;
    // Below every page, shown with the connect and flashing pages until dismissed.
    bool flashReportPending = false;
    // The status bar's line: what is on the bus, or what the window waits for.
    QLabel* deviceState = nullptr;
    QString stateOverride;
    // The countdown for a sensor restarting from its bootloader.
    QTimer* returnTimer = nullptr;
    QDeadlineTimer returnDeadline;
    const char* returnKey = nullptr;
    int returnWaitMs = ReturnWaitMs;
    QList<QPointer<view_about>> aboutWindows;
    QPointer<view_tessaro> sensorView;
    QPointer<view_update> flashingView;
    QPointer<view_legacy> legacyView;
    // Without a parent (a window of its own), so owned here; released before the device.
    std::unique_ptr<view_dialogupdate> dialogUpdate;
    QFrame* connectPage = nullptr;
    QStackedWidget* viewStack = nullptr;
    QActionGroup* languageGroup = nullptr;
    QAction* updateAction = nullptr;
    QAction* exitAction = nullptr;
    // File → save and load the sensor's settings: only while a sensor is shown.
    QAction* saveSettingsAction = nullptr;
    QAction* loadSettingsAction = nullptr;
    // The sequence of the last flashing view; it may run on after that view has gone.
    QPointer<bootloader> flashLoader;
    bool deviceViewPresent = false;
    // Nothing was stored: the first showing fits the window to its page.
    bool growOnFirstShow = false;
    // The view that connected() put into the stack; it need not be the current page yet.
    QPointer<QWidget> deviceView;
    // The sensor shown last, while no other device has connected since: the unit that a
    // bootloader connecting now most likely is.
    std::optional<FlashLog::Run> sensorLastShown;
    // Who the unit on the flashing page was, as far as this window knows.
    FlashLog::Run flashingUnit;
    // A verified run, recorded once its sensor is back with the new firmware.
    std::optional<FlashLog::Run> pendingRun;
};
